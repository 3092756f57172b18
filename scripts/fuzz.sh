#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz/fuzz_*.cpp) with clang and libFuzzer in
# build/fuzz and runs each for the given number of seconds (default 60),
# printing its executions, executions per second and coverage. Usage:
#   scripts/fuzz.sh [seconds] [fuzz_target ...]
# The working corpora grow in build/fuzz/corpus/<target>, seeded from the
# kept corpus tests/fuzz/corpus/<target> and from the sample product built
# with tictool. A finding lands in build/fuzz/findings/<target>, is copied
# into the kept corpus (which the test suite replays) and makes the script
# fail.
# clang and its libFuzzer runtime are installed with the other packages;
# where they cannot be had, the script says so in one line and exits with
# 77 (skipped).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

seconds=${1:-60}
shift || true

scripts/deps.sh
scripts/deps.sh clang libclang-rt-dev || true
cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)

# Whether $cxx links a fuzz target with the sanitizers the targets use.
links_fuzzer() {
  local probe ok=1
  probe=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$probe/t.cpp"
  if "$cxx" -fsanitize=fuzzer,address,undefined "$probe/t.cpp" -o "$probe/t" >/dev/null 2>&1; then ok=0; fi
  rm -rf "$probe"
  return $ok
}
if [ -z "$cxx" ] || [ -z "$cc" ] || ! links_fuzzer; then
  echo "fuzz.sh: skipped: no clang that links libFuzzer (apt-get install clang libclang-rt-dev)" >&2
  exit 77
fi
dir=$top/build/fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_FUZZ=ON -DKESTREL_TESTS=OFF \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

# Seeds: the sample product as the set of two archives scripts/demo.sh
# builds, its list files, and a few option expressions.
seeds=$dir/seeds
rm -rf "$seeds"
mkdir -p "$seeds/archives" "$seeds/lists" "$seeds/expressions" "$seeds/pairs"
tictool=$dir/tools/tictool/tictool
(
  cd "$seeds/archives"
  "$tictool" build -C "$top/sample/tree" "$top/sample/server.list" server.tic \
    '#server.ctl' bin/tarnserve etc lib share/doc/README share/doc/server.txt >/dev/null
  "$tictool" build -a -C "$top/sample/tree" "$top/sample/client.list" client.tic \
    '#client.ctl' bin/tarnsql share/doc/client.txt >/dev/null
  "$tictool" build -a --no-key -C "$top/sample/tree" "$top/sample/client.list" unkeyed.tic \
    '#client.ctl' bin/tarnsql share/doc/client.txt >/dev/null
  "$tictool" build -a --no-key --compression zstd -C "$top/sample/tree" "$top/sample/client.list" zstd.tic \
    '#client.ctl' bin/tarnsql share/doc/client.txt >/dev/null
)
cp sample/*.list "$seeds/lists/"
printf 'server|client|docs\nserver\nclient|docs' >"$seeds/expressions/sample"
printf 'a|b||c|\n*\n|a' >"$seeds/expressions/star"
printf 'c|a|b|a\nb|zz\n' >"$seeds/expressions/order"
# A merge input: two bytes giving the first archive's length, then both.
pair() {
  local first=$1 second=$2 size
  size=$(stat -c %s "$first")
  [ "$size" -le 65535 ] || size=65535
  { printf "\\x$(printf %02x $((size >> 8)))\\x$(printf %02x $((size & 255)))"; cat "$first" "$second"; }
}
pair "$seeds/archives/server.tic" "$seeds/archives/client.tic" >"$seeds/pairs/server-client"
pair "$seeds/archives/client.tic" "$seeds/archives/unkeyed.tic" >"$seeds/pairs/client-unkeyed"

# Extraction inputs: a switch byte, then files as their names and streams
# (see tests/fuzz/extract_harness.h): one seed per file of the unkeyed
# sample archive, of its zstd build and of an archive whose names lead into
# the links the target's install directory holds, and two seeds of each
# whole archive.
mkdir -p "$seeds/extract" "$seeds/escape/abs" "$seeds/escape/up/outside" "$seeds/escape/d"
printf 'x' >"$seeds/escape/abs/precious"
printf 'x' >"$seeds/escape/up/outside/precious"
printf 'x' >"$seeds/escape/precious"
ln -sf ../../outside/precious "$seeds/escape/d/link"
(cd "$seeds/escape" && find . ! -type d | sed 's|^\./||;s|$|;o;;0;0;0|') >"$seeds/escape.list"
"$tictool" build --no-key -C "$seeds/escape" "$seeds/escape.list" "$seeds/archives/escape.tic" . >/dev/null
for archive in unkeyed zstd escape; do
  command -v python3 >/dev/null || break  # without it, fuzz_extract starts from its corpus
  python3 - "$seeds/archives/$archive.tic" "$seeds/extract/$archive" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
toc, count, _, _, strings_at, string_count = struct.unpack_from("<6Q", data, 32)
names, at = [], strings_at
for _ in range(string_count):
    (length,) = struct.unpack_from("<I", data, at)
    names.append(data[at + 4:at + 4 + length])
    at += 4 + length
files = []
for i in range(count):
    offset, _, stored = struct.unpack_from("<3Q", data, toc + i * 104 + 32)
    (name,) = struct.unpack_from("<Q", data, toc + i * 104 + 96)
    stream = data[offset:offset + stored][:65535]
    files.append(bytes([len(names[name])]) + names[name] + struct.pack(">H", len(stream)) + stream)
for i, f in enumerate(files):
    open(f"{sys.argv[2]}-file{i}", "wb").write(bytes([i % 8]) + f)
open(f"{sys.argv[2]}-all", "wb").write(bytes([2]) + b"".join(files[:4]))
open(f"{sys.argv[2]}-keyed", "wb").write(bytes([3]) + b"".join(files[:4]))
PY
done

# A minisign key and signatures in both forms, for fuzz_minisign.
mkdir -p "$seeds/minisign"
if command -v minisign >/dev/null; then
  (
    cd "$seeds/minisign"
    minisign -G -W -p key.pub -s "$seeds/seed.key" >/dev/null
    cp "$seeds/archives/client.tic" client.tic
    minisign -S -s "$seeds/seed.key" -t 'client 17.0.11' -m client.tic >/dev/null
    mv client.tic.minisig prehashed.minisig
    minisign -S -l -s "$seeds/seed.key" -m client.tic >/dev/null
    mv client.tic.minisig legacy.minisig
    rm client.tic
  )
fi

# The seed directories of each target; a target not named here starts from
# its corpus alone.
seeds_of() {
  case $1 in
    fuzz_toc | fuzz_version_block) echo "$seeds/archives" ;;
    fuzz_merge) echo "$seeds/pairs" ;;
    fuzz_list_file) echo "$seeds/lists" ;;
    fuzz_option_text) echo "$seeds/expressions" ;;
    fuzz_extract | fuzz_extract_pieces) echo "$seeds/extract" ;;
    fuzz_minisign) echo "$seeds/minisign" ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  corpus=$dir/corpus/$target
  findings=$dir/findings/$target
  kept=$top/tests/fuzz/corpus/$target
  log=$dir/logs/$target.log
  mkdir -p "$corpus" "$findings" "$kept" "$(dirname "$log")"
  read -r -a seed_dirs <<<"$(seeds_of "$target")"
  result=ok
  # New inputs go to the first directory, the working corpus.
  "$dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$kept" "${seed_dirs[@]}" >"$log" 2>&1 || result="FAILED (see $log)"
  [ "$result" = ok ] || status=1
  # Every finding is kept, under the name libFuzzer gave it.
  for finding in "$findings"/*; do
    [ -f "$finding" ] && [ ! -e "$kept/$(basename "$finding")" ] && cp "$finding" "$kept/"
  done
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(grep -o 'exec/s: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  printf '%-20s %12s executions %8s/s  coverage %s edges, %s features  corpus %s  %s\n' \
    "$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$(ls "$corpus" | wc -l)" "$result"
done
exit $status
