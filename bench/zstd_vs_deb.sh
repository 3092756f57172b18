#!/usr/bin/env bash
# zstd archives against bzip2 ones and against .deb packages of the same
# files, as whole commands measured in the same run:
#   build    tictool build --compression zstd (default level) against the
#            bzip2 build (both on every processor), and dpkg-deb -Zzstd;
#   size     of the zstd archive, the bzip2 archive and the .deb;
#   install  kestrel install of the zstd archive (every processor) against
#            dpkg-deb -x of the .deb, with the bzip2 archive's install;
# each with its peak memory.
#
# Usage: bench/zstd_vs_deb.sh [runs] [payload ...]   (default 3; large small huge)
# BENCH_DIR=<dir> puts the trees and installs there (default build/bench-zstd).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
runs=${1:-3}
shift || true
payloads=("$@")
[ ${#payloads[@]} -gt 0 ] || payloads=(large small huge)

# Each timed install starts without a record, as a first install does.
bench_setup bench-zstd libarchive-tools hyperfine time dpkg
mkdir -p "$work"
export SOURCE_DATE_EPOCH=1700000000

# Peak resident memory of a command, in KiB.
peak() {
  rm -rf out "$KESTREL_STATE_DIR" && mkdir out
  /usr/bin/time -f %M -o peak "$@" >/dev/null 2>&1
  cat peak
}

summary=()
for payload in "${payloads[@]}"; do
  dir=$work/$payload
  mkdir -p "$dir/tree" "$dir/pkg/DEBIAN"
  "make_$payload" "$dir/tree"
  list_tree "$dir/tree" "$dir/tree.list"
  printf 'Package: payload\nVersion: 1\nArchitecture: all\nMaintainer: bench <bench@invalid>\nDescription: payload\n' \
    >"$dir/pkg/DEBIAN/control"
  cp -a "$dir/tree/." "$dir/pkg/"
  cd "$dir"
  echo "== $payload: $(wc -l < tree.list) files, $(du -sb tree | cut -f1) bytes, $cpus processors"

  hyperfine -N --runs "$runs" --export-json build.json \
    -n "tictool build bzip2" "$tictool build -C tree tree.list bzip2.tic ." \
    -n "tictool build zstd" "$tictool build --compression zstd -C tree tree.list zstd.tic ." \
    -n "dpkg-deb -Zzstd --build" "dpkg-deb --root-owner-group -Zzstd --build pkg payload.deb"
  hyperfine -N --runs "$runs" --export-json install.json --prepare "sh -c 'rm -rf out $KESTREL_STATE_DIR && mkdir out'" \
    -n "dpkg-deb -x" "dpkg-deb -x payload.deb out" \
    -n "kestrel install zstd" "$kestrel install -d out -o all $dir/zstd.tic" \
    -n "kestrel install bzip2" "$kestrel install -d out -o all $dir/bzip2.tic"
  diff -r --no-dereference tree out >/dev/null && echo "installed tree equals the source"

  memory=(
    "tictool build bzip2=$(peak "$tictool" build -C tree tree.list bzip2.tic .)"
    "tictool build zstd=$(peak "$tictool" build --compression zstd -C tree tree.list zstd.tic .)"
    "dpkg-deb -Zzstd --build=$(peak dpkg-deb --root-owner-group -Zzstd --build pkg payload.deb)"
    "dpkg-deb -x=$(peak dpkg-deb -x payload.deb out)"
    "kestrel install zstd=$(peak "$kestrel" install -d out -o all "$dir/zstd.tic")"
    "kestrel install bzip2=$(peak "$kestrel" install -d out -o all "$dir/bzip2.tic")"
  )
  rm -rf out
  summary+=("$(python3 - "$payload" "$(stat -c %s bzip2.tic)" "$(stat -c %s zstd.tic)" "$(stat -c %s payload.deb)" \
    "${memory[@]}" <<'PY'
import json, sys
name, bz, zs, deb = sys.argv[1], *map(int, sys.argv[2:5])
mem = dict(m.split("=") for m in sys.argv[5:])
print(f"{name}: size bzip2 {bz / 1e6:.1f} MB, zstd {zs / 1e6:.1f} MB ({zs / bz:.2f} of bzip2), .deb {deb / 1e6:.1f} MB")
for what, base in (("build", "tictool build bzip2"), ("install", "dpkg-deb -x")):
    r = {x["command"]: x for x in json.load(open(f"{what}.json"))["results"]}
    for command, x in r.items():
        print(f"  {command:26} {x['mean']:7.2f} s ± {x['stddev']:.2f} (min {x['min']:.2f})  "
              f"ratio to {base}: {x['mean'] / r[base]['mean']:4.2f}  peak {int(mem[command]) // 1024} MiB")
PY
)")
  cd - >/dev/null
done

echo
printf '%s\n' "${summary[@]}"
