#!/usr/bin/env bash
# Builds the Debian package of the build directory given as $1, installs it
# with dpkg into a scratch root, and runs both tools from there. Exits 77
# (skipped) where dpkg or cpack is missing.
set -euo pipefail
build_dir=$1
command -v dpkg >/dev/null && command -v dpkg-deb >/dev/null && command -v cpack >/dev/null || exit 77

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

cpack -G DEB -B "$scratch/out" --config "$build_dir/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/out/*.deb)

depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libarchive13* && $depends == *libbz2-1.0* && $depends == *libsodium23* ]] || fail "Depends: $depends"

# An empty package database of its own; the dependencies are the host's.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log" >&2; fail "dpkg -i"; }
dpkg --root="$root" -s kestrel | grep -q '^Status: install ok installed' || fail "not installed"

for file in usr/bin/kestrel usr/bin/tictool usr/share/man/man1/kestrel.1 usr/share/man/man1/tictool.1 \
            usr/share/bash-completion/completions/kestrel usr/share/bash-completion/completions/tictool; do
  [ -e "$root/$file" ] || fail "missing $file"
done
[ "$("$root/usr/bin/kestrel" --version)" = "kestrel 17.0.11 build 7254" ] || fail "kestrel --version"
[ "$("$root/usr/bin/tictool" --version)" = "tictool 17.0.11 build 7254" ] || fail "tictool --version"
bash -n "$root/usr/share/bash-completion/completions/kestrel" || fail "kestrel completion"
bash -n "$root/usr/share/bash-completion/completions/tictool" || fail "tictool completion"
echo "installed $(basename "$deb") into a scratch root"
