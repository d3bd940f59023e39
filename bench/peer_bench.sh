#!/usr/bin/env bash
# Sarvik beside two hashed fingerprints on the same SD files, one thread each:
#   Sarvik (defaults)           vs RDKit's subgraph fingerprint (paths and branches
#                                  of 1..7 bonds, sparse counts), whole Python process;
#   Sarvik -ds PF -lmax 6       vs Open Babel's FP2 (obabel file -ofpt -xfFP2 -xh).
# Data: bench/make_data.py turns Debian's rdkit-data NCI SMILES into nci5k.sdf
# (4,993 compounds) and nci50k.sdf (50,000 distinct joined compounds); both are
# made once and kept in the work folder.
# Every command runs ROUNDS times (default 3), the commands of one comparison
# alternating; medians of wall time and peak RSS are printed with the ratios.
# Installs what it lacks from Debian's packages (needs root) and builds Sarvik.
# Usage: bench/peer_bench.sh [work folder]   (default: build/peer_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
work="${1:-build/peer_bench}"
rounds="${ROUNDS:-3}"

need=()
[ -d /usr/share/RDKit/Data/NCI ] || need+=(rdkit-data)
/usr/bin/python3 -c 'import rdkit' 2>/dev/null || need+=(python3-rdkit)
command -v obabel >/dev/null || need+=(openbabel)
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${need[@]}"
fi

. bench/bench_setup.sh
cat > rdkit_fp.py <<'EOF'
import sys
from rdkit import Chem, RDLogger
from rdkit.Chem import rdFingerprintGenerator
RDLogger.DisableLog("rdApp.*")
gen = rdFingerprintGenerator.GetRDKitFPGenerator(minPath=1, maxPath=7, branchedPaths=True)
n = 0
for mol in Chem.SDMolSupplier(sys.argv[1]):
    if mol is None:
        continue
    gen.GetSparseCountFingerprint(mol)
    n += 1
print(n)
EOF

# run NAME COMMAND...: one timed run, appended to times.txt as "NAME wall KiB".
run() {
  local name="$1"
  shift
  /usr/bin/time -f '%e %M' -o one.txt "$@" > /dev/null 2> err.txt || {
    echo "failed: $*" >&2
    cat err.txt >&2
    exit 1
  }
  echo "$name $(tail -n 1 one.txt)" >> times.txt
}

median() {  # NAME FIELD(2 wall, 3 KiB)
  awk -v n="$1" -v f="$2" '$1 == n { print $f }' times.txt | sort -g |
    awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

: > times.txt
for ((r = 1; r <= rounds; ++r)); do
  run sarvik_5k "$sarvik" -ofile s5k nci5k.sdf
  run rdkit_5k /usr/bin/python3 rdkit_fp.py nci5k.sdf
  run sarvik_pf_5k "$sarvik" -ds PF -lmax 6 -ofile p5k nci5k.sdf
  run fp2_5k obabel nci5k.sdf -ofpt -xfFP2 -xh -O /dev/null
  run sarvik_50k "$sarvik" -ofile s50k nci50k.sdf
done

row() {  # LABEL NAME
  printf '| %-44s | %8s | %9s |\n' "$1" "$(median "$2" 2)" "$(awk -v k="$(median "$2" 3)" 'BEGIN { printf "%.1f", k / 1024 }')"
}
ratio() {  # LABEL A B: median wall of A / median wall of B
  printf '| %-44s | %8s |\n' "$1" "$(awk -v a="$(median "$2" 2)" -v b="$(median "$3" 2)" 'BEGIN { printf "%.2f", a / b }')"
}

echo
echo "$(nproc) cores ($(lscpu | sed -n 's/^Model name: *//p' | head -n 1)), medians of $rounds alternating rounds"
echo
printf '| %-44s | %8s | %9s |\n' "run" "seconds" "peak MiB"
printf '|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..46})" "----------" "-----------"
row "Sarvik, nci5k (4,993 compounds)" sarvik_5k
row "RDKit subgraph FP 1..7, nci5k" rdkit_5k
row "Sarvik -ds PF -lmax 6, nci5k" sarvik_pf_5k
row "Open Babel FP2, nci5k" fp2_5k
row "Sarvik, nci50k (50,000 compounds)" sarvik_50k
echo
printf '| %-44s | %8s |\n' "ratio" "value"
printf '|%s|%s|\n' "$(printf -- '-%.0s' {1..46})" "----------"
ratio "Sarvik / RDKit FP (target <= 0.25)" sarvik_5k rdkit_5k
ratio "Sarvik PF 6 / Open Babel FP2 (target <= 0.25)" sarvik_pf_5k fp2_5k
ratio "Sarvik nci50k / nci5k (target <= 11)" sarvik_50k sarvik_5k

# Fragment occurrences (bond sets enumerated) per set, from the descriptor files:
# the work the two Sarvik runs share out.
occurrences() {
  /usr/bin/python3 -c '
import sys
total = 0
for line in open(sys.argv[1]):
    v = line.rsplit("\"", 1)[1].split(",")[2:]
    total += sum(int(x) for x in v[1::2])
print(total)' "$1"
}
o5=$(occurrences s5k.out)
o50=$(occurrences s50k.out)
echo
echo "fragment occurrences: nci5k $o5, nci50k $o50 ($(awk -v a="$o50" -v b="$o5" 'BEGIN { printf "%.1f", a / b }') times)"
