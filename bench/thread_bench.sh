#!/usr/bin/env bash
# Sarvik's thread scaling on the 50,000-compound benchmark set: the default run
# with -threads 1, 2 and 4, ROUNDS times (default 3) alternating; medians of wall
# time and peak RSS, each thread count's wall time over one thread's, and the
# parallel fraction p that Amdahl's law gives for 2 threads
# (T2 / T1 = 1 - p + p / 2). Also checks that every thread count wrote the same
# bytes as one thread.
# Data as bench/peer_bench.sh makes it (bench/make_data.py; needs python3-rdkit
# and rdkit-data).
# Usage: bench/thread_bench.sh [work folder]   (default: build/peer_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
work="${1:-build/peer_bench}"
rounds="${ROUNDS:-3}"
counts=(1 2 4)

. bench/bench_setup.sh

: > threads.txt
for ((r = 1; r <= rounds; ++r)); do
  for n in "${counts[@]}"; do
    # The outputs of the run before are written back first, so that writing them
    # back (kernel threads, on the same cores) does not fall into this run.
    sync
    /usr/bin/time -f '%e %M' -o one.txt "$sarvik" -threads "$n" -ofile "t$n" nci50k.sdf > "t$n.txt"
    echo "$n $(tail -n 1 one.txt)" >> threads.txt
  done
done
for n in "${counts[@]}"; do
  cmp -s t1.out "t$n.out" && cmp -s t1_frag.sdf "t${n}_frag.sdf" && cmp -s t1.txt "t$n.txt" || {
    echo "-threads $n wrote other bytes than -threads 1" >&2
    exit 1
  }
done

median() {  # THREADS FIELD(2 wall, 3 KiB)
  awk -v n="$1" -v f="$2" '$1 == n { print $f }' threads.txt | sort -g |
    awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
t1="$(median 1 2)"
echo
echo "$(nproc) cores ($(lscpu | sed -n 's/^Model name: *//p' | head -n 1)), nci50k, medians of $rounds alternating rounds"
echo
printf '| %-8s | %8s | %9s | %10s |\n' "threads" "seconds" "peak MiB" "vs 1"
printf '|%s|%s|%s|%s|\n' "----------" "----------" "-----------" "------------"
for n in "${counts[@]}"; do
  printf '| %-8s | %8s | %9s | %10s |\n' "$n" "$(median "$n" 2)" \
    "$(awk -v k="$(median "$n" 3)" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$(awk -v a="$(median "$n" 2)" -v b="$t1" 'BEGIN { printf "%.2f", a / b }')"
done
echo
awk -v a="$(median 2 2)" -v b="$t1" \
  'BEGIN { printf "parallel fraction at 2 threads: %.2f (target: 2 threads <= 0.60 of 1)\n", 2 * (1 - a / b) }'
