#!/usr/bin/env bash
# Times `kestrel install` against `bsdtar -xjf` of one .tar.bz2 of the same
# tree, as whole commands, and reports each one's peak memory.
#
# Two payloads, copied under build/ so both tools read and write the same
# disk:
#   large  about 100 MB of the machine's shared libraries (big files)
#   small  /usr/include (about 8,000 small files)
# The archive for kestrel is built with tictool (the product key, so install
# validates and decrypts as it does in the field); the tarball with
# bsdtar -cjf. Both decompress bzip2 through libarchive; kestrel also
# decrypts every stream, checks every stream's HMAC and starts a fresh
# decompressor per file.
#
# Usage: bench/install_vs_bsdtar.sh [runs]      (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

scripts/deps.sh libarchive-tools hyperfine time
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target kestrel tictool >/dev/null
kestrel=$PWD/build/release/src/kestrel
tictool=$PWD/build/release/tools/tictool/tictool
work=$PWD/build/bench-install
rm -rf "$work"
mkdir -p "$work"

# Copies regular files of the machine's shared libraries of at most 20 MB,
# largest first, until about 100 MB.
make_large() {
  mkdir -p "$1/lib"
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size -20M -printf '%s %p\n' | sort -rn |
    awk '{ total += $1; if (total > 100 * 1024 * 1024) exit; print $2 }' >"$1.files" || true
  xargs -a "$1.files" cp -t "$1/lib/"
  rm -f "$1.files"
}

make_small() {
  cp -a /usr/include "$1/include"
  # List-file fields cannot hold ";" or a line break.
  find "$1" -name '*;*' -exec rm -rf {} + 2>/dev/null || true
}

report() {
  python3 - "$@" <<'PY'
import json, sys
name, path, kestrel_rss, bsdtar_rss = sys.argv[1:5]
r = {x["command"]: x for x in json.load(open(path))["results"]}
k, b = r["kestrel install"], r["bsdtar -xjf"]
print(f"{name}: kestrel install {k['mean']:.3f} s ± {k['stddev']:.3f}, "
      f"bsdtar -xjf {b['mean']:.3f} s ± {b['stddev']:.3f}: ratio {k['mean'] / b['mean']:.2f}; "
      f"peak memory kestrel {int(kestrel_rss) // 1024} MiB, bsdtar {int(bsdtar_rss) // 1024} MiB")
PY
}

summary=()
for payload in large small; do
  dir=$work/$payload
  mkdir -p "$dir/tree"
  "make_$payload" "$dir/tree"
  (cd "$dir/tree" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort) |
    awk '{ print $0 ";all;;0;0;0" }' > "$dir/tree.list"
  echo "== $payload: $(wc -l < "$dir/tree.list") files, $(du -sb "$dir/tree" | cut -f1) bytes"
  "$tictool" build -C "$dir/tree" "$dir/tree.list" "$dir/payload.tic" .
  bsdtar -cjf "$dir/payload.tar.bz2" -C "$dir/tree" .
  ls -l "$dir/payload.tic" "$dir/payload.tar.bz2"

  cd "$dir"
  hyperfine -N --warmup 1 --runs "$runs" --export-json result.json \
    --prepare "sh -c 'rm -rf out && mkdir out'" \
    -n "kestrel install" "$kestrel install -d out -o all ../payload.tic" \
    -n "bsdtar -xjf" "bsdtar -xjf payload.tar.bz2 -C out"
  rm -rf out && mkdir out
  kestrel_rss=$( { /usr/bin/time -f %M "$kestrel" install -d out -o all ../payload.tic >/dev/null; } 2>&1 )
  rm -rf out && mkdir out
  bsdtar_rss=$( { /usr/bin/time -f %M bsdtar -xjf payload.tar.bz2 -C out; } 2>&1 )
  diff -r --no-dereference tree out >/dev/null && echo "installed tree equals the source"
  summary+=("$(report "$payload" result.json "$kestrel_rss" "$bsdtar_rss")")
  rm -rf out
  cd - >/dev/null
done

echo
printf '%s\n' "${summary[@]}"
