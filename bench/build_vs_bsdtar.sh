#!/usr/bin/env bash
# Times `tictool build` against `bsdtar -cjf` on the same tree.
#
# Both compress with bzip2 through libarchive; tictool also starts a fresh
# compressor per file, encrypts every stream and hashes it twice (the
# stream's own code and the archive's). The tree is a copy of a system header
# directory under build/, so that both read the same files from the same
# disk; the list file for tictool names every file of it in one option.
#
# Usage: bench/build_vs_bsdtar.sh [tree]     (default /usr/include/c++)
# Environment: TICTOOL (default build/release/tools/tictool/tictool),
#              RUNS (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh libarchive-tools hyperfine

source_tree=${1:-/usr/include/c++}
tictool=${TICTOOL:-build/release/tools/tictool/tictool}
runs=${RUNS:-3}
work=build/bench-build

if [ ! -x "$tictool" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
  cmake --build build/release -j 2 --target tictool
fi
tictool=$(realpath "$tictool")

rm -rf "$work"
mkdir -p "$work"
cp -a "$source_tree" "$work/tree"
# List-file fields cannot hold ";" or a line break: leave such files out.
find "$work/tree" -name '*;*' -exec rm -rf {} + 2>/dev/null || true
(cd "$work/tree" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort) |
  awk '{ print $0 ";all;;0;0;0" }' > "$work/tree.list"

files=$(wc -l < "$work/tree.list")
bytes=$(du -sb "$work/tree" | cut -f1)
echo "Tree: $source_tree, $files files, $bytes bytes"

cd "$work"
hyperfine --warmup 1 --runs "$runs" --export-json result.json \
  -n "tictool build" "'$tictool' build -C tree tree.list out.tic ." \
  -n "bsdtar -cjf" "bsdtar -cjf out.tar.bz2 -C tree ."

python3 - <<'PY'
import json, os
r = {x["command"]: x["mean"] for x in json.load(open("result.json"))["results"]}
t, b = r["tictool build"], r["bsdtar -cjf"]
print(f"tictool build {t:.3f} s, bsdtar -cjf {b:.3f} s: ratio {t / b:.2f}")
print(f"sizes: out.tic {os.path.getsize('out.tic')} bytes, out.tar.bz2 {os.path.getsize('out.tar.bz2')} bytes")
PY
