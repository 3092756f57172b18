#!/usr/bin/env bash
# The hash and the record transform in whole commands: times
# `kestrel install` with one job and `kestrel validate` on a keyed archive of
# the large payload (about 100 MB of shared libraries, bench/payloads.sh),
# then, where perf can sample, prints each command's flat profile with the
# shares of SHA-256, the record transform and bzip2 summed.
# With BEFORE=<kestrel binary> an earlier kestrel is timed and profiled
# beside it, so that the ratios come from the same run.
#
# Usage: bench/crypto_share.sh [runs]   (default 10)
# BENCH_DIR=<dir> puts the tree, the archive and the installs there (default
# build/bench-crypto; /dev/shm measures without the disk).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
runs=${1:-10}

bench_setup bench-crypto hyperfine
mkdir -p "$work/tree"

make_large "$work/tree"
list_tree "$work/tree" "$work/tree.list"
SOURCE_DATE_EPOCH=1 "$tictool" build -C "$work/tree" "$work/tree.list" "$work/payload.tic" .
echo "== $(wc -l <"$work/tree.list") files, $(du -sb "$work/tree" | cut -f1) bytes;" \
  "archive $(stat -c %s "$work/payload.tic") bytes"

binaries=("$kestrel")
[ -z "${BEFORE:-}" ] || binaries+=("$BEFORE")
install=()
validate=()
for k in "${binaries[@]}"; do
  name=after
  [ "$k" = "$kestrel" ] || name=before
  install+=(-n "install, 1 job ($name)" "env KESTREL_JOBS=1 $k install -d $work/out -o all $work/payload.tic")
  validate+=(-n "validate ($name)" "$k validate $work/payload.tic")
done
hyperfine -N --warmup 1 --runs "$runs" --prepare "sh -c 'rm -rf $work/out && mkdir $work/out'" "${install[@]}"
hyperfine -N --warmup 1 --runs "$runs" "${validate[@]}"

# The flat profile of one command: the symbols of at least 0.5 % of the
# samples, then the shares of the hash, the transform and bzip2 over all of
# them (an earlier kestrel's hash shows as "(anonymous namespace)::compress").
profile() {
  perf record -q -F 10000 -o "$work/perf.data" -- "$@" >/dev/null 2>&1
  perf report -i "$work/perf.data" --stdio --no-children --sort symbol 2>/dev/null |
    awk '/^ *[0-9.]+%/ {
           share = $1 + 0
           if (share >= 0.5) print
           if ($0 ~ /sha256|SHA256|namespace\)::compress /) hash += share
           else if ($0 ~ /Mangle|cast128|CAST/) transform += share
           else if ($0 ~ /BZ2|bz2|unRLE/) bzip2 += share
         }
         END { printf "   SHA-256 %.1f %%, record transform %.1f %%, bzip2 %.1f %%\n", hash, transform, bzip2 }'
}

if perf record -q -o "$work/perf.data" -- true >/dev/null 2>&1; then
  for k in "${binaries[@]}"; do
    echo "== profile of $k"
    rm -rf "$work/out" && mkdir "$work/out"
    echo "-- install, 1 job"
    profile env KESTREL_JOBS=1 "$k" install -d "$work/out" -o all "$work/payload.tic"
    echo "-- validate"
    profile "$k" validate "$work/payload.tic"
  done
else
  echo "perf cannot sample here: no profiles"
fi
rm -rf "$work/out" "$work/perf.data"
