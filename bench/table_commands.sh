#!/usr/bin/env bash
# The memory and time of every kestrel command that reads a set's tables
# (list, list -a, space, options, validate, install, verify with the
# archives and from the record, upgrade to the same release and to a
# changed one, its dry run as a document) and of those that walk the
# record alone (status --files --json, status --all, status of a record in
# the order an earlier kestrel wrote, restore after an upgrade into a
# backup directory, remove), on a set of three archives with many entries
# and 40 options, beside the peak of `space`, which holds the tables and
# nothing else.
#
# The sets are written by bench/make_archive_set (its own layout, real
# streams; not the builder). Time is hyperfine's mean, peak memory GNU
# time's maximum resident set size of one run. With BEFORE=<kestrel>, an
# earlier kestrel is measured in the same run on the same sets, with the
# ratios after/before.
#
# usage: bench/table_commands.sh [entries ...]     (default: 100000 1000000)
#   BENCH_DIR  where the sets and installations go (default build/bench/tables)
#   RUNS       hyperfine runs of the commands that only read (default 5)
#   INSTALL_RUNS  runs of install, each into an emptied directory (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/payloads.sh
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
runs=${RUNS:-5}
install_runs=${INSTALL_RUNS:-1}
work=${BENCH_DIR:-$PWD/build/bench/tables}

scripts/deps.sh hyperfine time python3
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DKESTREL_BENCH=ON >/dev/null
cmake --build build/bench -j "$(nproc)" --target kestrel make_archive_set >/dev/null

bench_programs "$PWD/build/bench/src/kestrel"

mkdir -p "$work"
# Each install starts without a record of its directory, as a first install
# does; the records stay with the benchmark, each kestrel's its own.
results=$work/results.tsv
: >"$results"
set -f  # the option text "*" is not a file pattern

# measure <size> <label> <command words...>: one line per kestrel into
# results.tsv: size, label, kestrel, mean seconds, peak KiB. @INST@ stands
# for the kestrel's own install directory, emptied before each install.
measure() {
  local size=$1 label=$2
  shift 2
  local i
  for i in "${!programs[@]}"; do
    local inst=$work/install-${names[$i]} state=$work/state-${names[$i]} json=$work/hyperfine.json
    local kestrel="env KESTREL_STATE_DIR=$state ${programs[$i]}"
    local line="$kestrel $*"
    line=${line//@INST@/$inst}
    local empty="bash -c 'rm -rf $inst $state && mkdir -p $inst'"
    if [ "$label" = install ]; then
      hyperfine -N --runs "$install_runs" --prepare "$empty" --export-json "$json" "$line" >/dev/null
      rm -rf "$inst" "$state" && mkdir -p "$inst"
    elif [ "$label" = "upgrade, changed release" ] || [ "$label" = "remove from the record" ]; then
      # Each run upgrades (or removes) the release installed first, put
      # back before it.
      local first="bash -c '$kestrel install -q -d $inst -o \\* $tics'"
      hyperfine -N --runs "$install_runs" --prepare "$first" --export-json "$json" "$line" >/dev/null
      bash -c "$kestrel install -q -d $inst -o '*' $tics" >/dev/null
    elif [ "$label" = "restore after upgrade -b" ]; then
      # Each run restores an upgrade to the changed release made into a
      # fresh backup directory.
      local upgrade="rm -rf $work/backup && $kestrel install -q -d $inst -o \\* $tics && $kestrel upgrade -q -d $inst -b $work/backup $next_tics"
      hyperfine -N --runs "$install_runs" --prepare "bash -c '$upgrade'" --export-json "$json" "$line" >/dev/null
      bash -c "$upgrade" >/dev/null
    elif [ "$label" = "status, record in install order" ]; then
      # The record as earlier kestrels wrote a first install's, its files
      # in the order they were put in place (shuffled here), in a state
      # directory of its own: read sorted, never rewritten by status.
      rm -rf "$state-old" && mkdir -p "$state-old"
      python3 - "$state" "$state-old" <<'PY'
import os, random, sys
for name in os.listdir(sys.argv[1]):
    if not name.endswith(".json"): continue
    lines = open(os.path.join(sys.argv[1], name), encoding="latin-1").read().split("\n")
    start = lines.index(' "files": [')
    end = next(i for i in range(start + 1, len(lines)) if lines[i].strip() == "]")
    files = [l.strip().rstrip(",") for l in lines[start + 1:end]]
    random.Random(3).shuffle(files)
    body = ["  " + f + ("," if i + 1 < len(files) else "") for i, f in enumerate(files)]
    with open(os.path.join(sys.argv[2], name), "w", encoding="latin-1") as out:
        out.write("\n".join(lines[:start + 1] + body + lines[end:]))
PY
      line=${line/KESTREL_STATE_DIR=$state /KESTREL_STATE_DIR=$state-old }
      hyperfine -N --warmup 1 --runs "$runs" --export-json "$json" "$line" >/dev/null
    else
      hyperfine -N --warmup 1 --runs "$runs" --export-json "$json" "$line" >/dev/null
    fi
    local peak mean
    # shellcheck disable=SC2086
    /usr/bin/time -o "$work/peak" -f %M $line >/dev/null 2>&1 || true
    peak=$(tail -1 "$work/peak")
    mean=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$json")
    printf '%s\t%s\t%s\t%s\t%s\n' "$size" "$label" "${names[$i]}" "$mean" "$peak" >>"$results"
  done
}

for size in "${sizes[@]}"; do
  set_dir=$work/set-$size
  if [ ! -f "$set_dir/set2.tic" ]; then
    rm -rf "$set_dir" && mkdir -p "$set_dir"
    build/bench/bench/make_archive_set --streams "$set_dir" 3 "$size" 40
  fi
  tics="$set_dir/set0.tic $set_dir/set1.tic $set_dir/set2.tic"
  measure "$size" "list" list -o "*" $tics
  measure "$size" "list -a" list -a -o "*" $tics
  measure "$size" "space" space -o "*" $tics
  measure "$size" "options" options $tics
  measure "$size" "validate" validate $tics
  measure "$size" "install" install -d @INST@ -o "*" $tics
  # verify compares with what the last install left.
  measure "$size" "verify" verify -d @INST@ -o "*" $tics
  measure "$size" "verify from the record" verify -d @INST@
  measure "$size" "upgrade, same release" upgrade -q -d @INST@ $tics
  next_dir=$work/set-$size-next
  if [ ! -f "$next_dir/set2.tic" ]; then
    rm -rf "$next_dir" && mkdir -p "$next_dir"
    MAKE_SET_RELEASE=2 build/bench/bench/make_archive_set --streams "$next_dir" 3 "$size" 40
  fi
  next_tics="$next_dir/set0.tic $next_dir/set1.tic $next_dir/set2.tic"
  measure "$size" "upgrade --dry-run --json, changed" upgrade --dry-run --json -d @INST@ $next_tics
  measure "$size" "upgrade, changed release" upgrade -q -d @INST@ $next_tics
  measure "$size" "status --files --json" status --files --json -d @INST@
  measure "$size" "status --all" status --all
  measure "$size" "status, record in install order" status -d @INST@
  measure "$size" "restore after upgrade -b" restore -d @INST@ -b "$work/backup"
  measure "$size" "remove from the record" remove -d @INST@
done

python3 - "$results" <<'EOF'
import sys, collections
rows = collections.OrderedDict()
for line in open(sys.argv[1]):
    size, label, name, mean, peak = line.rstrip("\n").split("\t")
    rows.setdefault((size, label), {})[name] = (float(mean), int(peak) / 1024)
names = ["before", "after"] if any("before" in r for r in rows.values()) else ["after"]
head = "| entries | command | " + " | ".join(f"{n} s | {n} MB" for n in names)
if len(names) == 2: head += " | time after/before | memory after/before"
head += " | over space MB |"
print(head)
print("|" + "---|" * (head.count("|") - 1))
for (size, label), r in rows.items():
    space = rows[(size, "space")]["after"][1]
    cells = [f"{int(size):,}", label]
    for n in names: cells += [f"{r[n][0]:.2f}", f"{r[n][1]:.0f}"]
    if len(names) == 2:
        cells += [f"{r['after'][0] / r['before'][0]:.2f}", f"{r['after'][1] / r['before'][1]:.2f}"]
    cells.append(f"{r['after'][1] - space:+.0f}")
    print("| " + " | ".join(cells) + " |")
EOF
