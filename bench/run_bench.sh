#!/usr/bin/env bash
# Runs Sarvik on real compound files and prints wall time and peak memory per run.
# Needs Debian's rdkit-data (the files), openbabel (one Mol2 conversion) and time.
# Usage: bench/run_bench.sh [path/to/Sarvik]   (default: build/release/Sarvik)
set -euo pipefail
cd "$(dirname "$0")/.."
sarvik="$(realpath "${1:-build/release/Sarvik}")"
data=/usr/share/RDKit
files=(
  "$data/Contrib/Fastcluster/testdata/cdk2.sdf"
  "$data/Projects/DbCLI/testData/bzr.sdf"
  "$data/Data/NCI/first_200.props.sdf"
  "$data/Contrib/PBF/testData/egfr.sdf"
)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for f in "${files[@]}"; do cp "$f" "$work/"; done
if command -v obabel >/dev/null; then
  obabel "$work/cdk2.sdf" -O "$work/cdk2_mol.mol2" 2>/dev/null
fi

printf '%-24s %-10s %10s %12s %10s %12s\n' file options seconds "peak KiB" descriptors "out bytes"
cd "$work"
for input in cdk2.sdf bzr.sdf first_200.props.sdf egfr.sdf cdk2_mol.mol2; do
  [ -f "$input" ] || continue
  for opts in "" "-lmax 10"; do
    # shellcheck disable=SC2086
    /usr/bin/time -f '%e %M' -o time.txt "$sarvik" $opts "$input" > stdout.txt
    read -r secs kib < time.txt
    stem="${input%%.*}"
    k=$(sed -n 's/^total features stored after freq elimination = //p' stdout.txt)
    printf '%-24s %-10s %10s %12s %10s %12s\n' "$input" "${opts:-default}" "$secs" "$kib" "$k" \
      "$(stat -c %s "$stem.out")"
  done
done
