#!/usr/bin/env bash
# Times a run of the Ansible module tarnvale.kestrel.kestrel that finds
# nothing to change on an installed copy of /usr/include (bench/payloads.sh,
# "small") against `kestrel verify` of it, as whole commands in the same
# run, with hyperfine.
#
# The module asks kestrel for the record (status --json) and for the plan of
# an upgrade to the same archive (upgrade --dry-run --json), finds that it
# changes nothing and runs nothing that writes: the plan hashes every
# installed file, as verify does, and checks the archive's own MAC, but
# decodes no stream. The module runs as Ansible runs it on a managed host
# (its arguments in a file, on the host's python3), without the controller;
# one ansible-playbook run of it is timed too, for the controller's share.
#
# Usage: bench/module_vs_verify.sh [runs]   (default 10)
# BENCH_DIR=<dir> puts the tree and the install there (default
# build/bench-module).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
runs=${1:-10}
top=$PWD

bench_setup bench-module hyperfine ansible-core
mkdir -p "$work/tree"
make_small "$work/tree"
list_tree "$work/tree" "$work/tree.list"
echo "== $(wc -l <"$work/tree.list") files, $(du -sb "$work/tree" | cut -f1) bytes"
"$tictool" build -C "$work/tree" "$work/tree.list" "$work/payload.tic" .
cd "$work"
mkdir out
"$kestrel" install -q -d out -o all ../payload.tic

# The module's arguments as Ansible hands them to it.
cat >args.json <<JSON
{"ANSIBLE_MODULE_ARGS": {"dest": "$work/out", "archives": ["$work/payload.tic"], "options": "all",
 "state_dir": "$work/state", "executable": "$kestrel"}}
JSON
module="env PYTHONPATH=$top/ansible /usr/bin/python3 $top/ansible/ansible_collections/tarnvale/kestrel/plugins/modules/kestrel.py $work/args.json"
$module | python3 -c 'import json, sys; r = json.load(sys.stdin); print("module:", "changed" if r["changed"] else "no change", r["plan"])'

cat >inventory.json <<JSON
{"tarnvale": {"hosts": {"bench": {"ansible_connection": "local", "ansible_python_interpreter": "/usr/bin/python3",
 "product_dest": "$work/out", "product_archives": ["$work/payload.tic"], "product_options": "all",
 "product_state_dir": "$work/state", "product_kestrel": "$kestrel"}}}}
JSON
: >ansible.cfg
export ANSIBLE_COLLECTIONS_PATH=$top/ansible ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_HOME=$work/ansible \
  ANSIBLE_LOCAL_TEMP=$work/ansible/tmp ANSIBLE_REMOTE_TEMP=$work/ansible/tmp LC_ALL=C.UTF-8

hyperfine -N --warmup 1 --runs "$runs" --export-json module.json \
  -n "kestrel verify" "$kestrel verify -d out" \
  -n "module, no change" "$module" \
  -n "ansible-playbook, no change" "ansible-playbook -i inventory.json tarnvale.kestrel.rollout"

# Wall time, and processor time (user and system), which another load on
# the machine disturbs less.
python3 - module.json <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
verify = results["kestrel verify"]
verify_cpu = verify["user"] + verify["system"]
for name, r in results.items():
    cpu = r["user"] + r["system"]
    print(f"{name:30} {r['mean']:6.3f} s ± {r['stddev']:.3f} ({r['mean'] / verify['mean']:4.2f} x verify)"
          f"   processor {cpu:6.3f} s ({cpu / verify_cpu:4.2f} x verify)")
PY
