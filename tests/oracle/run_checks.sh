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
# Symmetric molecules with hydrogens: many equal branches for the canonical
# labelling; every fifth title left empty.
$py - "$work/inputs/sym.sdf" <<'EOF2'
import sys
from rdkit import Chem
smis = ["CC(C)(C)C", "CC(C)(C)C(C)(C)C", "C12C3C4C1C5C2C3C45", "C1C2CC3CC1CC(C2)C3", "c1ccccc1",
        "c1ccc2ccccc2c1", "Cc1c(C)c(C)c(C)c(C)c1C", "C(CC(C)(C)C)(CC(C)(C)C)(CC(C)(C)C)CC(C)(C)C",
        "OC(=O)C(N)CS", "[NH4+]", "O", "C.C", "CCO.OCC", "FC(F)(F)C(F)(F)F", "C1CC1C1CC1", "N#CC#N",
        "ClC(Cl)(Cl)Cl", "[Si](C)(C)(C)C", "C1=CC=CC=C1C1=CC=CC=C1", "S(=O)(=O)(O)O"]
w = open(sys.argv[1], "w")
for i, s in enumerate(smis):
    m = Chem.AddHs(Chem.MolFromSmiles(s))
    m.SetProp("_Name", "" if i % 5 == 3 else "sym%d %s" % (i, s))
    w.write(Chem.MolToMolBlock(m) + "$$$$\n")
EOF2
cp "$here/data/edge.sdf" "$here/data/edge.mol2" "$work/inputs/"
cp /usr/share/RDKit/Projects/DbCLI/testData/pubchem.200.sdf "$work/inputs/pubchem.sdf"
cp /usr/share/RDKit/Data/NCI/first_200.props.sdf "$work/inputs/nci.sdf"
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
run_case sym_qz sym.sdf -lmax 9
run_case sym_tf sym.sdf -lmax 9 -ds TF
run_case sym_pf_nobnd sym.sdf -lmax 10 -ds PF -NoBndLabels
run_case sym_l10to12 sym.sdf -lmin 10 -lmax 12 -fmin 2
run_case edge_sd edge.sdf -lmax 4
run_case edge_sd_nobnd edge.sdf -lmax 3 -NoBndLabels
run_case edge_mol2 edge.mol2 -lmax 4
run_case edge_mol2_noatm edge.mol2 -lmax 4 -NoAtmLabels
run_case edge_mol2_pf edge.mol2 -lmax 5 -NoBndLabels -ds PF
run_case pubchem_l5 pubchem.sdf -lmax 5
run_case nci_fmin2 nci.sdf -lmax 5 -fmin 2
echo "binary: $bin"
exit $fail
