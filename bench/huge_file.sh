#!/usr/bin/env bash
# One huge file (about 450 MB of the machine's shared libraries, one after
# another, as a database product ships its server binaries and data files):
# `tictool build` against `bsdtar -cjf`, `kestrel install` against
# `bsdtar -xjf`, each with one job and with every processor, as whole
# commands measured in the same run (ratios to bsdtar), with each one's
# peak memory. The machine is shared: run several rounds and read the
# spread.
#
# Usage: bench/huge_file.sh [runs]   (default 3)
# BENCH_DIR=<dir> puts the file and the installs there (default
# build/bench-huge; /dev/shm measures without the disk). SIZE=<bytes>
# changes the file's size.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
runs=${1:-3}

# Each timed install starts without a record, as a first install does.
bench_setup bench-huge libarchive-tools hyperfine time
mkdir -p "$work/tree"
cd "$work"
make_huge tree
echo "server.bin;all;;0;0;0" > tree.list
echo "== one file of $(stat -c %s tree/server.bin) bytes, $cpus processors"

export SOURCE_DATE_EPOCH=1700000000
hyperfine -N --runs "$runs" --export-json build.json \
  -n "bsdtar -cjf" "bsdtar -cjf payload.tar.bz2 -C tree server.bin" \
  -n "tictool build, 1 job" "$tictool build -j 1 -C tree tree.list payload.tic server.bin" \
  -n "tictool build, $cpus jobs" "$tictool build -j $cpus -C tree tree.list payload.tic server.bin"
ls -l payload.tic payload.tar.bz2

hyperfine -N --runs "$runs" --export-json install.json --prepare "sh -c 'rm -rf out $KESTREL_STATE_DIR && mkdir out'" \
  -n "bsdtar -xjf" "bsdtar -xjf payload.tar.bz2 -C out" \
  -n "kestrel install, 1 job" "env KESTREL_JOBS=1 $kestrel install -d out -o all $work/payload.tic" \
  -n "kestrel install, $cpus jobs" "env KESTREL_JOBS=$cpus $kestrel install -d out -o all $work/payload.tic"
cmp out/server.bin tree/server.bin && echo "installed file equals the source"

# Peak resident memory of a command, in KiB.
peak() {
  rm -rf out "$KESTREL_STATE_DIR" && mkdir out
  /usr/bin/time -f %M -o peak "$@" >/dev/null 2>&1
  cat peak
}
memory=(
  "bsdtar -cjf=$(peak bsdtar -cjf payload.tar.bz2 -C tree server.bin)"
  "tictool build, 1 job=$(peak "$tictool" build -j 1 -C tree tree.list payload.tic server.bin)"
  "tictool build, $cpus jobs=$(peak "$tictool" build -j "$cpus" -C tree tree.list payload.tic server.bin)"
  "bsdtar -xjf=$(peak bsdtar -xjf payload.tar.bz2 -C out)"
  "kestrel install, 1 job=$(peak env KESTREL_JOBS=1 "$kestrel" install -d out -o all "$work/payload.tic")"
  "kestrel install, $cpus jobs=$(peak env KESTREL_JOBS="$cpus" "$kestrel" install -d out -o all "$work/payload.tic")"
)
rm -rf out

python3 - "${memory[@]}" <<'PY'
import json, sys
mem = dict(m.split("=") for m in sys.argv[1:])
for what, base in (("build", "bsdtar -cjf"), ("install", "bsdtar -xjf")):
    r = {x["command"]: x for x in json.load(open(f"{what}.json"))["results"]}
    for command, x in r.items():
        print(f"{command:26} {x['mean']:7.2f} s ± {x['stddev']:.2f} (min {x['min']:.2f})  "
              f"ratio {x['mean'] / r[base]['mean']:4.2f}  peak {int(mem[command]) // 1024} MiB")
PY
