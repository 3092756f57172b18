#!/usr/bin/env bash
# Builds the Debian package from the source tree given as $1 (a copy of it,
# with debian/ and dpkg-buildpackage), checks it with lintian (no error, no
# warning) and for what the package promises (hardening, computed
# dependencies, compressed manual pages, changelog and copyright, no test
# build), installs it with dpkg into a scratch root and runs both tools from
# there. Exits 77 (skipped) where the packaging tools are missing;
# scripts/deps.sh installs them.
set -euo pipefail
source_dir=$1
for tool in dpkg dpkg-deb dpkg-buildpackage dh lintian readelf; do
  command -v "$tool" >/dev/null || { echo "no $tool: install it (scripts/deps.sh does)" >&2; exit 77; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# dpkg-buildpackage writes the package beside the tree it builds: a copy of
# the sources, without build directories or version control, in scratch.
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
tree=$scratch/kestrel-$version
mkdir -p "$tree"
tar -C "$source_dir" --exclude=./build --exclude='./build-*' --exclude=./.git --exclude='./obj-*' -cf - . | tar -C "$tree" -xf -
(cd "$tree" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc 2>/dev/null || echo 2)" \
   dpkg-buildpackage -b -us -uc >"$scratch/build.log" 2>&1) ||
  { tail -n 50 "$scratch/build.log" >&2; fail "dpkg-buildpackage"; }
deb=$(ls "$scratch"/kestrel_"$version"_*.deb)
grep -q 'kestrel_tests\|gtest' "$scratch/build.log" && fail "the package build built the tests"

# lintian's verdict: nothing it calls an error or a warning.
lintian --fail-on error,warning --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>&1 ||
  { cat "$scratch/lintian.log" >&2; fail "lintian"; }
if grep -E '^[EW]: ' "$scratch/lintian.log" >&2; then fail "lintian reports errors or warnings"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for library in libarchive13 libsodium23 libc6 libstdc++6; do
  [[ $depends == *"$library"* ]] || fail "Depends does not name $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
contents=$(dpkg-deb -c "$deb")
for file in usr/share/man/man1/kestrel.1.gz usr/share/man/man1/tictool.1.gz usr/share/doc/kestrel/changelog.gz \
            usr/share/doc/kestrel/copyright; do
  [[ $contents == *" ./$file"* ]] || fail "the package lacks $file"
done

# An empty package database of its own; the dependencies are the host's.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log" >&2; fail "dpkg -i"; }
dpkg --root="$root" -s kestrel | grep -q '^Status: install ok installed' || fail "not installed"

for file in usr/bin/kestrel usr/bin/tictool usr/share/bash-completion/completions/kestrel \
            usr/share/bash-completion/completions/tictool; do
  [ -e "$root/$file" ] || fail "missing $file"
done
# Hardened as dpkg-buildflags asks: bound at load time, read-only
# relocations, fortified calls, a stack protector, position independent.
for program in kestrel tictool; do
  binary=$root/usr/bin/$program
  readelf -d "$binary" | grep -q 'FLAGS.*BIND_NOW\|FLAGS_1.*NOW' || fail "$program: not linked with -z now"
  readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program: no RELRO"
  readelf -hW "$binary" | grep -q 'DYN (' || fail "$program: not position independent"
  symbols=$(readelf --dyn-syms -W "$binary")
  [[ $symbols == *_chk@* ]] || fail "$program: no fortified calls"
  [[ $symbols == *__stack_chk_fail* ]] || fail "$program: no stack protector"
done
[ "$("$root/usr/bin/kestrel" --version)" = "kestrel 17.0.11 build 7254" ] || fail "kestrel --version"
[ "$("$root/usr/bin/tictool" --version)" = "tictool 17.0.11 build 7254" ] || fail "tictool --version"
bash -n "$root/usr/share/bash-completion/completions/kestrel" || fail "kestrel completion"
bash -n "$root/usr/share/bash-completion/completions/tictool" || fail "tictool completion"
echo "built $(basename "$deb"), lintian clean, installed into a scratch root"
