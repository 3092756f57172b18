#!/usr/bin/env bash
# Times `tictool build` against `bsdtar -cjf` on the same trees.
#
# Both compress with bzip2 through libarchive; tictool also starts a fresh
# compressor per file, encrypts every stream and hashes it twice (the
# stream's own code and the archive's), and compresses several files at
# once. Two trees, copied under build/ so that every command reads the same
# files from the same disk:
#   include  a copy of a system header directory (default /usr/include)
#   tiny     100,000 files of a few bytes in 1,000 directories
# The list file for tictool names every file of a tree in one option.
# Each tree is built with `tictool build -j 1`, `-j <processors>` and
# `bsdtar -cjf`; hyperfine times several runs, GNU time gives the peak
# memory of one run each, and the ratios to bsdtar are printed.
#
# Usage: bench/build_vs_bsdtar.sh [header-tree]     (default /usr/include)
# Environment: TICTOOL (default build/release/tools/tictool/tictool),
#              RUNS (default 5), TINY_FILES (default 100000).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh libarchive-tools hyperfine time

source_tree=${1:-/usr/include}
tictool=${TICTOOL:-build/release/tools/tictool/tictool}
runs=${RUNS:-5}
tiny_files=${TINY_FILES:-100000}
jobs=$(nproc 2>/dev/null || echo 2)
work=build/bench-build

if [ ! -x "$tictool" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
  cmake --build build/release -j "$jobs" --target tictool
fi
tictool=$(realpath "$tictool")

rm -rf "$work"
mkdir -p "$work"
cp -a "$source_tree" "$work/include"
# List-file fields cannot hold ";" or a line break: leave such files out.
find "$work/include" -name '*;*' -exec rm -rf {} + 2>/dev/null || true
python3 - "$work/tiny" "$tiny_files" <<'PY'
import os, sys
top, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    d = os.path.join(top, "d%03d" % (i // 100))
    if i % 100 == 0:
        os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d" % i), "w") as f:
        f.write("tiny file %d\n" % i)
PY

# A fixed stamp time, so that the archives of -j 1 and -j <processors> can
# be compared byte for byte.
export SOURCE_DATE_EPOCH=1700000000

cd "$work"
for tree in include tiny; do
  (cd "$tree" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort) |
    awk '{ print $0 ";all;;0;0;0" }' > "$tree.list"
done

for tree in include tiny; do
  files=$(wc -l < "$tree.list")
  bytes=$(du -sb "$tree" | cut -f1)
  echo
  echo "== $tree: $files files, $bytes bytes =="
  one="'$tictool' build -j 1 -C $tree $tree.list $tree-1.tic ."
  all="'$tictool' build -j $jobs -C $tree $tree.list $tree-$jobs.tic ."
  tar="bsdtar -cjf $tree.tar.bz2 -C $tree ."
  hyperfine --warmup 1 --runs "$runs" --export-json "$tree.json" \
    -n "tictool build -j 1" "$one" -n "tictool build -j $jobs" "$all" -n "bsdtar -cjf" "$tar"
  for command in "$one" "$all" "$tar"; do
    eval "/usr/bin/time -f %M -o $tree.rss $command" >/dev/null
    printf '%s: peak memory %s KiB\n' "${command%% -C *}" "$(cat "$tree.rss")" | sed "s|'$tictool'|tictool|"
  done
  if cmp -s "$tree-1.tic" "$tree-$jobs.tic"; then
    echo "the archives of -j 1 and -j $jobs are identical"
  else
    echo "the archives of -j 1 and -j $jobs DIFFER"
  fi
  python3 - "$tree" "$jobs" <<'PY'
import json, os, sys
tree, jobs = sys.argv[1], sys.argv[2]
r = {x["command"]: x for x in json.load(open(tree + ".json"))["results"]}
b = r["bsdtar -cjf"]["mean"]
for name in ("tictool build -j 1", "tictool build -j " + jobs):
    t = r[name]["mean"]
    print(f"{name}: {t:.3f} s (+- {r[name]['stddev']:.3f}), bsdtar -cjf {b:.3f} s: ratio {t / b:.2f}")
print(f"sizes: {tree}-1.tic {os.path.getsize(tree + '-1.tic')} bytes, "
      f"{tree}.tar.bz2 {os.path.getsize(tree + '.tar.bz2')} bytes")
PY
done
