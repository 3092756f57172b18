#!/usr/bin/env bash
# The demo: builds kestrel and tictool, turns the sample product into a set
# of two archives, and runs every kestrel command on them, printing each
# command line before its output. Everything it writes stays in build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target kestrel tictool >/dev/null

kestrel=$top/build/release/src/kestrel
tictool=$top/build/release/tools/tictool/tictool
demo=$top/build/demo
rm -rf "$demo"
mkdir -p "$demo/install" "$demo/signed"
cd "$demo"
# The records of the demo's installations stay in build/demo too.
export KESTREL_STATE_DIR=$demo/state

# Prints the command line, runs it, and reports a non-zero exit status.
show() {
  printf '\n$'
  printf ' %q' "$@"
  printf '\n'
  local status=0
  "$@" || status=$?
  [ "$status" -eq 0 ] || echo "(exit status $status)"
}
k() { show kestrel "$@"; }
kestrel() { "$kestrel" "$@"; }
tictool() { "$tictool" "$@"; }

echo "== Building the sample product into a set of two archives =="
show tictool build -C "$top/sample/tree" "$top/sample/server.list" server.tic \
  '#server.ctl' bin/tarnserve etc lib share/doc/README share/doc/server.txt
show tictool build -a -C "$top/sample/tree" "$top/sample/client.list" client.tic \
  '#client.ctl' bin/tarnsql share/doc/client.txt
show ls -l server.tic client.tic
show tictool dump client.tic
show tictool --version
k --version

echo
echo "== Reading the archives =="
k validate server.tic client.tic
k options server.tic client.tic
k options client.tic
k options --json client.tic
k list -o 'server|docs' server.tic client.tic
k list -a -o client client.tic
k space -o '*' server.tic client.tic
k space -o client client.tic

echo
echo "== Installing into build/demo/install =="
k install -d install -l install.log -b backup -o '*' ../server.tic ../client.tic
show cat install/install.log
show find install -path install/backup -prune -o \( -type f -o -type l \) -print
show ls -l install/bin install/lib
show find install/backup -type f
show cat install/backup/bin/tarnserve

echo
echo "== Installing again over the first installation, keeping a backup =="
echo "local change" >> install/etc/tarnserve.conf
k install -d install -l install.log -b backup-2 -o 'server|docs' ../server.tic ../client.tic
show cat install/install.log
show find install/backup-2 \( -type f -o -type l \) -print
show tail -n 1 install/backup-2/etc/tarnserve.conf
show cat install/backup-2/share/doc/README

echo
echo "== Version stamps =="
k version BUILD_NUMBER server.tic
k version module server.tic
k version IDENT client.tic
k version MODULE install/lib/libtarn.so.1
k version MODULE "$kestrel"
k version VERSION_MAJOR "$kestrel"
show env TARNA_VERSION_INFO=1 "$kestrel" version BUILD_NUMBER "$kestrel"

echo
echo "== Checking, undoing and removing the installation =="
k verify -d install -o '*' ../server.tic ../client.tic
show sed -i 's/^/# /' install/share/doc/server.txt
show chmod 700 install/bin/tarnsql
show rm install/share/doc/client.txt
k verify -d install -o '*' ../server.tic ../client.tic
# Undoing the second installation brings back what it replaced: the docs
# as the first one left them, and the local change to the configuration.
k restore -d install -b backup-2
show tail -n 1 install/etc/tarnserve.conf
k verify -d install -o '*' ../server.tic ../client.tic
# The changed configuration stays; so do the log and the first backup.
k remove -d install -o '*' ../server.tic ../client.tic
show find install -path 'install/backup/*' -prune -o -print

echo
echo "== Records and an upgrade to the next release =="
# The next release, from a changed copy of the sample: a new admin tool, a
# longer README, a new setting in the configuration, and the client's
# document dropped. One SOURCE_DATE_EPOCH for both releases keeps the
# entries of unchanged files the same.
mkdir -p release1 release2
show env SOURCE_DATE_EPOCH=1700000000 "$tictool" build -C "$top/sample/tree" "$top/sample/server.list" \
  release1/server.tic '#server.ctl' bin/tarnserve etc lib share/doc/README share/doc/server.txt
show env SOURCE_DATE_EPOCH=1700000000 "$tictool" build -a -C "$top/sample/tree" "$top/sample/client.list" \
  release1/client.tic '#client.ctl' bin/tarnsql share/doc/client.txt
cp -a "$top/sample" next
printf '#!/bin/sh\necho "tarnadm 17.0.12 (sample product)"\n' > next/tree/bin/tarnadm
chmod 755 next/tree/bin/tarnadm
echo "Release 17.0.12 adds bin/tarnadm." >> next/tree/share/doc/README
echo "threads = 8" >> next/tree/etc/tarnserve.conf
rm next/tree/share/doc/client.txt
echo 'bin/tarnadm;server;;0;0;0' >> next/server.list
sed -i '/client.txt/d' next/client.list
show env SOURCE_DATE_EPOCH=1700000000 "$tictool" build -C next/tree next/server.list release2/server.tic \
  '#server.ctl' bin/tarnserve bin/tarnadm etc lib share/doc/README share/doc/server.txt
show env SOURCE_DATE_EPOCH=1700000000 "$tictool" build -a -C next/tree next/client.list release2/client.tic \
  '#client.ctl' bin/tarnsql
mkdir -p upgraded
k install -d upgraded -o '*' ../release1/server.tic ../release1/client.tic
k status -d upgraded
# The administrator tunes the configuration.
show sh -c 'echo "port = 7000" >> upgraded/etc/tarnserve.conf'
k verify -d upgraded
k upgrade -d upgraded --dry-run ../release2/server.tic ../release2/client.tic
# The same plan as one document, for configuration tools: "changes" says
# whether running it would write or remove a file.
k upgrade -d upgraded --dry-run --json ../release2/server.tic ../release2/client.tic
k upgrade -d upgraded -b ../upgrade-backup -l upgrade.log ../release2/server.tic ../release2/client.tic
show cat upgraded/upgrade.log
show tail -n 2 upgraded/etc/tarnserve.conf upgraded/etc/tarnserve.conf.kestrel-new
show find upgraded \( -type f -o -type l \) -print
k status -d upgraded
k status -d upgraded --json
# The inventory: every installation on the machine, an installation's
# files, and which installation holds a path.
k status --all
k status --files -d upgraded
k status --owner upgraded/etc/tarnserve.conf
k status --owner upgraded/etc/tarnserve.conf.kestrel-new
# Undoing the upgrade returns the tree and the record.
k restore -d upgraded -b ../upgrade-backup
k status -d upgraded
# The administrator's change is kept (status 1); a purge takes it too, into
# a backup tree that restore would bring back.
k remove -d upgraded
k verify -d upgraded
k remove -d upgraded --purge -b ../purged
show find upgraded purged
show ls state

echo
echo "== Many machines: the Ansible collection on two local hosts =="
# Two hosts reached by the local connection, each with its own install and
# state directory, and the release's archives in the inventory.
mkdir -p fleet
: >fleet/ansible.cfg
fleet_inventory() {
  cat >fleet/inventory.json <<JSON
{"tarnvale": {"hosts": {
   "alpha": {"product_dest": "$demo/fleet/alpha/opt/tarnvale", "product_state_dir": "$demo/fleet/alpha/state"},
   "beta": {"product_dest": "$demo/fleet/beta/opt/tarnvale", "product_state_dir": "$demo/fleet/beta/state"}},
 "vars": {"ansible_connection": "local", "ansible_python_interpreter": "/usr/bin/python3",
   "product_kestrel": "$kestrel", "product_options": "*",
   "product_archives": ["$demo/$1/server.tic", "$demo/$1/client.tic"]}}}
JSON
}
# The collection from the source tree; Ansible's own files stay in
# build/demo/fleet.
export ANSIBLE_COLLECTIONS_PATH=$top/ansible ANSIBLE_HOME=$demo/fleet/ansible ANSIBLE_LOCAL_TEMP=$demo/fleet/tmp \
  ANSIBLE_REMOTE_TEMP=$demo/fleet/tmp ANSIBLE_CONFIG=$demo/fleet/ansible.cfg ANSIBLE_NOCOLOR=1 LC_ALL=C.UTF-8
echo "ANSIBLE_COLLECTIONS_PATH=$ANSIBLE_COLLECTIONS_PATH"
play() { show ansible-playbook -i fleet/inventory.json "$@"; }
fleet_inventory release1
play tarnvale.kestrel.rollout
# The same play again changes nothing.
play tarnvale.kestrel.rollout
show sh -c 'echo "port = 7000" >> fleet/beta/opt/tarnvale/etc/tarnserve.conf'
fleet_inventory release2
play tarnvale.kestrel.rollout --check --diff
play tarnvale.kestrel.rollout -e rollout_batch=1
play tarnvale.kestrel.report
play tarnvale.kestrel.rollout -e product_state=absent -e product_purge=true
show find fleet/alpha fleet/beta -path '*/state' -prune -o -print

echo
echo "== Signed archives =="
# The release engineers' key pair (no password, for the demo), and a
# signature beside each archive. The administrator trusts the public key.
show minisign -G -W -p release.pub -s release.key
show minisign -S -s release.key -t 'tarnvale 17.0.11 build 7254' -m server.tic client.tic
show mkdir -p trusted-keys
show cp release.pub trusted-keys/
export KESTREL_TRUSTED_KEYS=$demo/trusted-keys
echo "KESTREL_TRUSTED_KEYS=$KESTREL_TRUSTED_KEYS"
k validate server.tic client.tic
k install -d signed -l install.log -o '*' ../server.tic ../client.tic
show tail -n 1 signed/install.log
show tictool dump client.tic
# An archive nobody signed is refused, and nothing is installed.
show cp client.tic unsigned.tic
k install -d signed -o '*' ../server.tic ../unsigned.tic
# Nor is one changed after it was signed: here a byte of the header that no
# integrity code covers (the writer's version).
show cp client.tic changed.tic
show cp client.tic.minisig changed.tic.minisig
show sh -c 'printf X | dd of=changed.tic bs=1 seek=101 conv=notrunc status=none'
k validate changed.tic
unset KESTREL_TRUSTED_KEYS

echo
echo "== What fails =="
k install
k validate server.tic missing.tic
k version MODULE "$top/README.md"
