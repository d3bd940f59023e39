#!/usr/bin/env bash
# Runs two Sarvik binaries on the same configurations and compares, byte for byte,
# their standard output, exit status and every file each run leaves in its own
# folder (the .out and the _frag file, and anything else, e.g. a left-over temporary).
#
# Usage: compare_builds.sh OLD_SARVIK NEW_SARVIK DATA_DIR WORK_DIR
#   DATA_DIR holds nci5k.sdf and nci50k.sdf (bench/make_data.py makes them) and
#   cdk2.sdf and cdk2.mol2 (tests/data).
#   WORK_DIR is created if missing; each configuration's folder in it
#   (WORK_DIR/<name>/) is removed and made afresh.
#   Environment: RUN_TIMEOUT seconds per run (default 900).
#
# Prints one line per configuration, "<name>: same" or "<name>: DIFFERS: ...",
# with notes in brackets (non-empty standard error, non-zero exit status, missing
# outputs), then "N same, M differ". Exit status 0 only when all are the same,
# 1 when any differs, 2 on a usage error.
set -u

usage() { echo "usage: $0 OLD_SARVIK NEW_SARVIK DATA_DIR WORK_DIR" >&2; exit 2; }
[ "$#" -eq 4 ] || usage

abs() { (cd "$(dirname -- "$1")" && printf '%s/%s\n' "$(pwd -P)" "$(basename -- "$1")"); }

OLD="$(abs "$1")" || usage
NEW="$(abs "$2")" || usage
DATA="$(cd -- "$3" && pwd -P)" || usage
mkdir -p -- "$4" || usage
WORK="$(cd -- "$4" && pwd -P)" || usage
TMO="${RUN_TIMEOUT:-900}"

for b in "$OLD" "$NEW"; do
  if [ ! -f "$b" ] || [ ! -x "$b" ]; then
    echo "not an executable file: $b" >&2
    exit 2
  fi
done
for f in nci5k.sdf nci50k.sdf cdk2.sdf cdk2.mol2; do
  [ -f "$DATA/$f" ] || { echo "missing data file: $DATA/$f" >&2; exit 2; }
done

nsame=0
ndiff=0

# run BIN DIR ARGS...: runs BIN in DIR (made afresh), stdout/stderr/status beside DIR.
run() {
  local bin="$1" dir="$2"
  shift 2
  rm -rf -- "$dir" "$dir.stdout" "$dir.stderr" "$dir.status"
  mkdir -p -- "$dir"
  (cd -- "$dir" && exec timeout -k 10 "$TMO" "$bin" "$@") >"$dir.stdout" 2>"$dir.stderr" </dev/null
  echo "$?" >"$dir.status"
}

# files DIR: the names of the regular files and other entries in DIR, sorted.
files() { (cd -- "$1" && find . -mindepth 1 | LC_ALL=C sort); }

# compare NAME ARGS...: runs both binaries with ARGS in WORK/NAME/{old,new}.
compare() {
  local name="$1"
  shift
  local base="$WORK/$name"
  rm -rf -- "$base"
  mkdir -p -- "$base"
  run "$OLD" "$base/old" "$@"
  run "$NEW" "$base/new" "$@"

  local what=() notes=() so sn f c
  so="$(cat "$base/old.status")"
  sn="$(cat "$base/new.status")"
  [ "$so" = "$sn" ] || what+=("exit status $so vs $sn")
  [ "$so" = 0 ] || notes+=("old exit status $so")
  [ "$sn" = 0 ] || [ "$sn" = "$so" ] || notes+=("new exit status $sn")
  if ! c="$(cmp -- "$base/old.stdout" "$base/new.stdout" 2>&1)"; then
    what+=("stdout (${c#"$base/"})")
  fi
  [ -s "$base/old.stderr" ] && notes+=("old stderr: $(head -c 200 "$base/old.stderr" | tr '\n' ' ')")
  [ -s "$base/new.stderr" ] && notes+=("new stderr: $(head -c 200 "$base/new.stderr" | tr '\n' ' ')")

  local lo ln
  lo="$(files "$base/old")"
  ln="$(files "$base/new")"
  if [ "$lo" != "$ln" ]; then
    what+=("file set: old [$(printf '%s' "$lo" | tr '\n' ' ')] vs new [$(printf '%s' "$ln" | tr '\n' ' ')]")
  fi
  while IFS= read -r f; do
    [ -n "$f" ] || continue
    f="${f#./}"
    if [ -f "$base/new/$f" ] && [ -f "$base/old/$f" ]; then
      if ! c="$(cmp -- "$base/old/$f" "$base/new/$f" 2>&1)"; then
        what+=("$f (${c##*differ: })")
      fi
    fi
  done <<<"$lo"
  [ -n "$lo" ] || notes+=("no output files")
  [ -f "$base/old/x.out" ] || notes+=("old wrote no x.out")

  local line
  if [ "${#what[@]}" -eq 0 ]; then
    line="$name: same"
    nsame=$((nsame + 1))
  else
    local IFS=';'
    line="$name: DIFFERS: ${what[*]}"
    ndiff=$((ndiff + 1))
  fi
  if [ "${#notes[@]}" -gt 0 ]; then
    local IFS=';'
    line="$line  [${notes[*]}]"
  fi
  echo "$line"
}

# Descriptor spaces, made once with the OLD binary.
make_space() {  # NAME ARGS...
  local name="$1"
  shift
  run "$OLD" "$WORK/$name" "$@"
  if [ "$(cat "$WORK/$name.status")" != 0 ]; then
    echo "$name: making the descriptor space with the old binary failed (status $(cat "$WORK/$name.status")): $(head -c 300 "$WORK/$name.stderr")" >&2
    return 1
  fi
}
space_ok_sdf=1
space_ok_mol2=1
make_space space_sdf -lmax 6 -fmin 5 -ofile space "$DATA/nci5k.sdf" || space_ok_sdf=0
make_space space_mol2 -lmax 5 -fmin 2 -ofile space "$DATA/cdk2.mol2" || space_ok_mol2=0

for t in 1 3; do
  compare "nci5k_default_t$t" -threads "$t" -ofile x "$DATA/nci5k.sdf"
  compare "nci5k_TF_fmin3_lmax8_t$t" -threads "$t" -ds TF -fmin 3 -lmax 8 -ofile x "$DATA/nci5k.sdf"
  compare "nci5k_PF_NoBndLabels_t$t" -threads "$t" -ds PF -NoBndLabels -ofile x "$DATA/nci5k.sdf"
  compare "nci50k_default_t$t" -threads "$t" -ofile x "$DATA/nci50k.sdf"
  compare "cdk2_sdf_default_t$t" -threads "$t" -ofile x "$DATA/cdk2.sdf"
  compare "cdk2_mol2_default_t$t" -threads "$t" -ofile x "$DATA/cdk2.mol2"
  compare "cdk2_mol2_NoAtmLabels_TF_lmax6_t$t" -threads "$t" -NoAtmLabels -ds TF -lmax 6 -ofile x "$DATA/cdk2.mol2"
  if [ "$space_ok_sdf" = 1 ]; then
    compare "dspace_nci5k_on_nci50k_t$t" -threads "$t" -lmax 6 -dspace "$WORK/space_sdf/space_frag.sdf" -ofile x "$DATA/nci50k.sdf"
  else
    echo "dspace_nci5k_on_nci50k_t$t: DIFFERS: no space (the old binary failed to make it)"
    ndiff=$((ndiff + 1))
  fi
  if [ "$space_ok_mol2" = 1 ]; then
    compare "dspace_cdk2mol2_on_cdk2mol2_t$t" -threads "$t" -lmax 5 -dspace "$WORK/space_mol2/space_frag.mol2" -ofile x "$DATA/cdk2.mol2"
  else
    echo "dspace_cdk2mol2_on_cdk2mol2_t$t: DIFFERS: no space (the old binary failed to make it)"
    ndiff=$((ndiff + 1))
  fi
done

echo "$nsame same, $ndiff differ"
[ "$ndiff" -eq 0 ]
