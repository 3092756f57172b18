#!/usr/bin/env bash
# Times the table-reading commands (list -o "*", space, options) as whole
# commands on a set of three archives with 100,000 entries in all and 40
# options, and reports each one's peak memory.
#
# usage: bench/read_commands.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}

scripts/deps.sh libbenchmark-dev hyperfine time
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DKESTREL_BENCH=ON >/dev/null
cmake --build build/bench -j "$(nproc)" --target kestrel make_archive_set >/dev/null

work=build/bench/read-set
rm -rf "$work" && mkdir -p "$work"
build/bench/bench/make_archive_set "$work" 3 100000 40
ls -l "$work"

k=$PWD/build/bench/src/kestrel
set_files=("$work"/set0.tic "$work"/set1.tic "$work"/set2.tic)
hyperfine --warmup 2 --runs "$runs" -N \
  "$k list -o * ${set_files[*]}" \
  "$k space -o * ${set_files[*]}" \
  "$k options ${set_files[*]}"

set -f  # the option text "*" is not a file pattern
for cmd in "list -o *" "space -o *" "options"; do
  # shellcheck disable=SC2086
  rss=$( { /usr/bin/time -f %M "$k" $cmd "${set_files[@]}" >/dev/null; } 2>&1 )
  echo "peak memory of '$cmd': ${rss} KiB"
done
