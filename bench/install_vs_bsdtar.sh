#!/usr/bin/env bash
# Times `kestrel install` against `bsdtar -xjf` of one .tar.bz2 of the same
# tree, as whole commands measured in the same run, and reports each one's
# peak memory.
#
# Three payloads (bench/payloads.sh): large (about 100 MB of shared
# libraries), small (/usr/include) and tiny (100,000 files of a few dozen
# bytes).
# The archive for kestrel is built with tictool (the product key, so install
# validates and decrypts as it does in the field); the tarball with
# bsdtar -cjf. kestrel runs with KESTREL_JOBS=1 and with every processor,
# and with every processor again on the archive signed with minisign and
# its key trusted (KESTREL_TRUSTED_KEYS), so that the cost of the signature
# check is the ratio of those two; with BEFORE=<kestrel binary> an earlier
# kestrel is timed beside them, unsigned, with one job and with every
# processor.
#
# Usage: bench/install_vs_bsdtar.sh [runs] [payload ...]   (default 5, all)
# BENCH_DIR=<dir> puts the trees and installs there (default build/bench-install;
# /dev/shm measures without the disk).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
runs=${1:-5}
shift || true
payloads=("$@")
[ ${#payloads[@]} -gt 0 ] || payloads=(large small tiny)

# Each timed install starts without a record, as a first install does.
bench_setup bench-install libarchive-tools hyperfine time minisign
mkdir -p "$work/keys"
minisign -G -W -p "$work/keys/bench.pub" -s "$work/bench.key" >/dev/null

# Peak resident memory of a command, in KiB.
peak() {
  /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1
  cat "$work/peak"
}

report() {
  python3 - "$@" <<'PY'
import json, sys
name, path, memory = sys.argv[1], sys.argv[2], sys.argv[3:]
r = {x["command"]: x for x in json.load(open(path))["results"]}
base = r["bsdtar -xjf"]["mean"]
mem = dict(m.split("=") for m in memory)
for command, x in r.items():
    print(f"{name:6} {command:32} {x['mean']:7.3f} s ± {x['stddev']:.3f}  ratio {x['mean'] / base:5.2f}  "
          f"peak {int(mem[command]) // 1024} MiB")
signed = [c for c in r if c.endswith(", signed")]
for command in signed:
    plain = r[command[:-len(", signed")]]
    print(f"{name:6} {'signed / unsigned':32} {r[command]['mean'] / plain['mean']:7.3f}")
PY
}

summary=()
for payload in "${payloads[@]}"; do
  dir=$work/$payload
  mkdir -p "$dir/tree"
  "make_$payload" "$dir/tree"
  list_tree "$dir/tree" "$dir/tree.list"
  echo "== $payload: $(wc -l < "$dir/tree.list") files, $(du -sb "$dir/tree" | cut -f1) bytes"
  "$tictool" build -C "$dir/tree" "$dir/tree.list" "$dir/payload.tic" .
  minisign -S -s "$work/bench.key" -m "$dir/payload.tic" >/dev/null
  bsdtar -cjf "$dir/payload.tar.bz2" -C "$dir/tree" .
  ls -l "$dir/payload.tic" "$dir/payload.tar.bz2"

  cd "$dir"
  commands=(-n "bsdtar -xjf" "bsdtar -xjf payload.tar.bz2 -C out"
            -n "kestrel install, 1 job" "env KESTREL_JOBS=1 $kestrel install -d out -o all ../payload.tic"
            -n "kestrel install, $cpus jobs" "env KESTREL_JOBS=$cpus $kestrel install -d out -o all ../payload.tic"
            -n "kestrel install, $cpus jobs, signed"
            "env KESTREL_JOBS=$cpus KESTREL_TRUSTED_KEYS=$work/keys $kestrel install -d out -o all ../payload.tic")
  [ -z "${BEFORE:-}" ] ||
    commands+=(-n "before, 1 job" "env KESTREL_JOBS=1 $BEFORE install -d out -o all ../payload.tic"
               -n "before, $cpus jobs" "env KESTREL_JOBS=$cpus $BEFORE install -d out -o all ../payload.tic")
  hyperfine -N --warmup 1 --runs "$runs" --export-json result.json \
    --prepare "sh -c 'rm -rf out $KESTREL_STATE_DIR && mkdir out'" "${commands[@]}"

  memory=()
  rm -rf out "$KESTREL_STATE_DIR" && mkdir out
  memory+=("bsdtar -xjf=$(peak bsdtar -xjf payload.tar.bz2 -C out)")
  for jobs in 1 "$cpus"; do
    rm -rf out "$KESTREL_STATE_DIR" && mkdir out
    name="kestrel install, $jobs job"; [ "$jobs" = 1 ] || name+=s
    memory+=("$name=$(peak env KESTREL_JOBS=$jobs "$kestrel" install -d out -o all ../payload.tic)")
  done
  rm -rf out "$KESTREL_STATE_DIR" && mkdir out
  memory+=("kestrel install, $cpus jobs, signed=$(peak env KESTREL_JOBS=$cpus KESTREL_TRUSTED_KEYS="$work/keys" \
    "$kestrel" install -d out -o all ../payload.tic)")
  diff -r --no-dereference tree out >/dev/null && echo "installed tree equals the source"
  if [ -n "${BEFORE:-}" ]; then
    for jobs in 1 "$cpus"; do
      rm -rf out "$KESTREL_STATE_DIR" && mkdir out
      name="before, $jobs job"; [ "$jobs" = 1 ] || name+=s
      memory+=("$name=$(peak env KESTREL_JOBS=$jobs "$BEFORE" install -d out -o all ../payload.tic)")
    done
  fi
  summary+=("$(report "$payload" result.json "${memory[@]}")")
  rm -rf out
  cd - >/dev/null
done

echo
printf '%s\n' "${summary[@]}"
