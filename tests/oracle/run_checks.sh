#!/bin/bash
# Runs a Sarvik binary on a battery of real inputs and checks every run with
# the oracle. Usage: tests/oracle/run_checks.sh <Sarvik binary> [scratch dir]
# Scratch defaults to out/oracle (ignored by git). Prints one verdict per case
# and exits 1 when any case differs.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=${2:-$repo/out/oracle}
py=/usr/bin/python3
oracle="$here/fragment_oracle.py"
mkdir -p "$work/inputs"

cp "$repo/tests/data/cdk2.sdf" "$work/inputs/cdk2.sdf"
cp "$repo/tests/data/cdk2.mol2" "$work/inputs/cdk2.mol2"
cp /usr/share/RDKit/Projects/DbCLI/testData/bzr.sdf "$work/inputs/bzr.sdf"
# Aromatic bonds as SD bond type 4: RDKit without kekulisation.
$py - "$work/inputs/cdk2.sdf" "$work/inputs/cdk2arom.sdf" <<'EOF'
import sys
from rdkit import Chem, RDLogger
RDLogger.DisableLog("rdApp.*")
w = open(sys.argv[2], "w")
for m in Chem.SDMolSupplier(sys.argv[1], removeHs=False):
    w.write(Chem.MolToMolBlock(m, kekulize=False) + "$$$$\n")
EOF
# The Mol2 file without its UNITY_ATOM_ATTR sections.
awk '/^@<TRIPOS>UNITY_ATOM_ATTR/{skip=1; next} /^@<TRIPOS>/{skip=0} !skip' \
    "$work/inputs/cdk2.mol2" > "$work/inputs/cdk2plain.mol2"

fail=0
run_case() {
    local name=$1 input=$2
    shift 2
    if $py "$oracle" --sarvik "$bin" --workdir "$work/$name" --input "$work/inputs/$input" "$@" \
        > "$work/$name.report" 2>&1; then
        echo "PASS $name"
    else
        echo "FAIL $name (see $work/$name.report)"
        sed 's/^/    /' "$work/$name.report" | head -40
        fail=1
    fi
}

run_case cdk2_qz cdk2.sdf
run_case cdk2_tf cdk2.sdf -ds TF
run_case cdk2_pf cdk2.sdf -ds PF
run_case cdk2_fmin3 cdk2.sdf -fmin 3
run_case cdk2_nobnd cdk2.sdf -NoBndLabels
run_case cdk2_l3to5_fmin10 cdk2.sdf -lmin 3 -lmax 5 -fmin 10
run_case cdk2_none cdk2.sdf -lmin 5 -lmax 3
run_case cdk2_fmin100 cdk2.sdf -lmax 3 -fmin 100
run_case cdk2arom_qz cdk2arom.sdf
run_case cdk2arom_pf_fmin2 cdk2arom.sdf -ds PF -fmin 2
run_case mol2_qz cdk2.mol2
run_case mol2_noatm cdk2.mol2 -NoAtmLabels
run_case mol2_nobnd_tf cdk2.mol2 -NoBndLabels -ds TF
run_case mol2plain_qz cdk2plain.mol2 -lmax 5
run_case bzr_l5 bzr.sdf -lmax 5
run_case bzr_fmin5 bzr.sdf -lmin 2 -lmax 6 -fmin 5 -ds TF
exit $fail
