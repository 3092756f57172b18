#!/usr/bin/env bash
# The peak memory of kestrel install on an archive whose streams are zstd
# frames that declare a 128 MiB window (8 files of 96 MiB of zeros in about
# 3 kB each, written by bench/make_archive_set --wide-zstd), with one job
# and with 8: a kestrel that bounds its decoders refuses the first frame
# with one line, one that does not decodes every file in a window as large
# as the frame declares. Peak memory is GNU time's maximum resident set
# size; with BEFORE=<kestrel> an earlier kestrel is measured beside.
#
# usage: bench/decoder_memory.sh
#   BENCH_DIR  where the archive and installations go (default build/bench-window)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh

bench_setup bench-window time
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DKESTREL_BENCH=ON >/dev/null
cmake --build build/bench -j "$cpus" --target make_archive_set >/dev/null
bench_programs "$kestrel"
mkdir -p "$work"
build/bench/bench/make_archive_set --wide-zstd "$work" 1 8 1
printf 'archive: %s bytes, 8 files of 96 MiB each\n' "$(stat -c %s "$work/set0.tic")"
printf '%-8s %5s %12s %7s  %s\n' kestrel jobs "peak (KiB)" status "standard error"
for i in "${!names[@]}"; do
  for jobs in 1 8; do
    target=$work/${names[$i]}-$jobs
    rm -rf "$target"
    mkdir -p "$target"
    status=0
    KESTREL_JOBS=$jobs /usr/bin/time -o "$work/time" -f %M "${programs[$i]}" install -q -d "$target" \
      -o '*' "$work/set0.tic" 2>"$work/err" || status=$?
    printf '%-8s %5s %12s %7s  %s\n' "${names[$i]}" "$jobs" "$(tail -n 1 "$work/time")" "$status" \
      "$(head -n 1 "$work/err")"
    rm -rf "$target"
  done
done
