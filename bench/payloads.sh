# The benchmark payloads and set-up, sourced by the bench scripts. Each make_<name>
# fills the directory it is given:
#   large  about 100 MB of the machine's shared libraries (big files)
#   small  /usr/include (several thousand small files)
#   tiny   100,000 files of a few dozen bytes in 1,000 directories
#   huge   one file of 450 MB (SIZE=<bytes> changes it): the shared
#          libraries one after another, as a server binary or data file

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

make_tiny() {
  python3 - "$1" <<'PY'
import os, random, sys
random.seed(1)
root = sys.argv[1]
for d in range(1000):
    os.makedirs(f"{root}/d{d:03d}", exist_ok=True)
    for f in range(100):
        with open(f"{root}/d{d:03d}/f{f:02d}.txt", "w") as out:
            out.write(f"line {f} of d{d:03d}\n" * random.randint(0, 3))
PY
}

make_huge() {
  local size=${SIZE:-450000000}
  while [ "$(stat -c %s "$1/server.bin" 2>/dev/null || echo 0)" -lt "$size" ]; do
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' | LC_ALL=C sort | xargs cat >>"$1/server.bin"
  done
  truncate -s "$size" "$1/server.bin"
}

# Writes the list file of every file and link under directory $1, all in
# option "all", to $2.
list_tree() {
  (cd "$1" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort) |
    awk '{ print $0 ";all;;0;0;0" }' >"$2"
}

# What every whole-command benchmark does first: installs what is missing
# (the packages given after $1), builds kestrel and tictool optimised, and
# sets kestrel, tictool, cpus and work: the directory $BENCH_DIR, or $1
# below build/, emptied. The records of the benchmark's installs stay in
# $work/state, not in the machine's state directory.
# The kestrels a benchmark measures, in |names| and |programs|: the one
# given ("after"), and with BEFORE=<kestrel> an earlier one ("before").
bench_programs() {
  names=(after)
  programs=("$1")
  if [ -n "${BEFORE:-}" ]; then
    names+=(before)
    programs+=("$(realpath "$BEFORE")")
  fi
}

bench_setup() {
  local default=$1
  shift
  scripts/deps.sh "$@"
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKESTREL_FAIL_POINTS=OFF >/dev/null
  cmake --build build/release -j "$(nproc)" --target kestrel tictool >/dev/null
  kestrel=$PWD/build/release/src/kestrel
  tictool=$PWD/build/release/tools/tictool/tictool
  cpus=$(nproc)
  work=${BENCH_DIR:-$PWD/build/$default}
  export KESTREL_STATE_DIR=$work/state
  rm -rf "$work"
}
