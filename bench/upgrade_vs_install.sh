#!/usr/bin/env bash
# Times `kestrel upgrade` from a release to the same release against a
# fresh `kestrel install` of it, as whole commands in the same run: a copy
# of /usr/include (bench/payloads.sh, "small") built into one archive.
#
# The upgrade finds every file unchanged since it was recorded and every
# entry with the recorded MAC, so it writes no file: what it costs is the
# archive's integrity check, hashing the installed files and writing the
# record. The install decodes and writes every file. Both run with every
# processor (KESTREL_JOBS unset); the records go to a state directory of
# the benchmark.
#
# Usage: bench/upgrade_vs_install.sh [runs]   (default 5)
# BENCH_DIR=<dir> puts the tree and the install there (default
# build/bench-upgrade).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
runs=${1:-5}

bench_setup bench-upgrade hyperfine
mkdir -p "$work/tree"

make_small "$work/tree"
list_tree "$work/tree" "$work/tree.list"
echo "== $(wc -l < "$work/tree.list") files, $(du -sb "$work/tree" | cut -f1) bytes"
"$tictool" build -C "$work/tree" "$work/tree.list" "$work/payload.tic" .
ls -l "$work/payload.tic"
cd "$work"

hyperfine -N --warmup 1 --runs "$runs" --export-json install.json \
  --prepare "sh -c 'rm -rf out state && mkdir out'" \
  -n "install, fresh" "$kestrel install -d out -o all ../payload.tic"
rm -rf out state && mkdir out
"$kestrel" install -d out -o all ../payload.tic >/dev/null
hyperfine -N --warmup 1 --runs "$runs" --export-json upgrade.json \
  -n "upgrade, same release" "$kestrel upgrade -d out ../payload.tic"
"$kestrel" upgrade -d out --dry-run ../payload.tic | cut -d' ' -f1 | sort | uniq -c
diff -r --no-dereference tree out >/dev/null && echo "installed tree equals the source"

python3 - install.json upgrade.json <<'PY'
import json, sys
install, upgrade = (json.load(open(p))["results"][0] for p in sys.argv[1:3])
for r in (install, upgrade):
    print(f"{r['command']:24} {r['mean']:7.3f} s ± {r['stddev']:.3f}")
print(f"{'upgrade / install':24} {upgrade['mean'] / install['mean']:7.3f}")
PY
