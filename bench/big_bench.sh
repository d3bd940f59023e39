#!/usr/bin/env bash
# Sarvik on a large collection: 500,000 distinct compounds, each two NCI
# compounds joined by one bond, and its first 50,000 (bench/make_big_data.py,
# made once in the work folder; about 1.4 GB and 0.14 GB of SD). For each set,
# on 1 and 2 threads: a normal run, the load alone (-lmin 8 -lmax 7: every
# compound read, no length swept) and a run in the 50,000 slice's descriptor
# space (-dspace): wall time, peak RSS and bytes of the outputs. Then the
# figures the large runs are held to: memory per compound of a normal run
# beyond the load (peak RSS of the run less that of the load, over the
# compounds), the peak of a run in a space at 500,000 over that at 50,000, and
# the time of the normal run at 500,000 over that at 50,000.
# Not a test: about 15 minutes on two cores, and 8 GB of free disk for the
# outputs (removed as it goes).
# Usage: bench/big_bench.sh [work folder]   (default: build/big_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
work="${1:-build/big_bench}"

data_maker=make_big_data.py data_files="joined500k.sdf joined50k.sdf"
. bench/bench_setup.sh
# The space: the 50,000 slice's own fragment file.
[ -s space_frag.sdf ] || "$sarvik" -ofile space joined50k.sdf > /dev/null

: > big.txt
# run NAME THREADS ARGS...: one run; its line in big.txt: name threads seconds KiB bytes
run() {
  local name="$1" threads="$2"
  shift 2
  sync
  /usr/bin/time -f '%e %M' -o one.txt "$sarvik" -threads "$threads" -ofile out "$@" > out.txt
  local bytes=0 f
  for f in out.out out_frag.sdf; do [ -f "$f" ] && bytes=$((bytes + $(stat -c %s "$f"))); done
  echo "$name $threads $(tail -n 1 one.txt) $bytes" >> big.txt
  rm -f out.out out_frag.sdf
}
for n in 50k 500k; do
  for t in 1 2; do
    run "load$n" "$t" -lmin 8 -lmax 7 "joined$n.sdf"
    run "normal$n" "$t" "joined$n.sdf"
    run "space$n" "$t" -dspace space_frag.sdf "joined$n.sdf"
  done
done

field() { awk -v n="$1" -v t="$2" -v f="$3" '$1 == n && $2 == t { print $f }' big.txt; }
echo
echo "$(nproc) cores ($(lscpu | sed -n 's/^Model name: *//p' | head -n 1))"
echo
printf '| %-10s | %7s | %8s | %9s | %12s |\n' "run" "threads" "seconds" "peak MiB" "output bytes"
printf '|%s|%s|%s|%s|%s|\n' "------------" "---------" "----------" "-----------" "--------------"
while read -r name t secs kib bytes; do
  printf '| %-10s | %7s | %8s | %9s | %12s |\n' "$name" "$t" "$secs" \
    "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')" "$bytes"
done < big.txt
echo
for t in 1 2; do
  awk -v run="$(field normal500k "$t" 4)" -v load="$(field load500k "$t" 4)" -v t="$t" \
    'BEGIN { printf "normal run beyond the load, 500,000 compounds, %d thread(s): %.2f KB per compound (target <= 1.5)\n", t, (run - load) * 1024 / 500000 / 1000 }'
  awk -v big="$(field space500k "$t" 4)" -v small="$(field space50k "$t" 4)" -v t="$t" \
    'BEGIN { printf "-dspace peak, 500,000 over 50,000, %d thread(s): %.2f (target <= 1.1)\n", t, big / small }'
  awk -v big="$(field normal500k "$t" 3)" -v small="$(field normal50k "$t" 3)" -v t="$t" \
    'BEGIN { printf "normal run time, 500,000 over 50,000, %d thread(s): %.1f (target <= 10.5)\n", t, big / small }'
done
