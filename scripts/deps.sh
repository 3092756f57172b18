#!/usr/bin/env bash
# Installs the Debian packages kestrel needs, when any is missing.
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail

# nlohmann-json3-dev writes the JSON documents, python3 reads them in the
# tests; bash-completion runs the completion test; debhelper and lintian
# build and check the Debian package; ansible-core runs the collection in
# ansible/ over local hosts (tests, demo) and ansible-lint checks it.
# scripts/fuzz.sh adds clang and libclang-rt-dev (libFuzzer and the
# sanitizer runtimes).
packages=(cmake g++ make libarchive-dev libbz2-dev libzstd-dev libgtest-dev libsodium-dev minisign bzip2 zstd libarchive-tools
          python3 nlohmann-json3-dev bash-completion debhelper lintian ansible-core ansible-lint "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
