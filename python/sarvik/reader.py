"""Reads Sarvik's outputs into Python.

    import sarvik_reader as sr
    names, X = sr.read_descriptors("mols.out", "mols_frag.sdf")
    fragments = sr.read_fragments("mols_frag.sdf")   # or "mols_frag.mol2"

read_descriptors gives the compound names in input order and a scipy.sparse CSR
matrix with one row per compound and one column per descriptor: column j holds
the occurrences of descriptor j + 1. Its width is the number of records of the
fragment file (every descriptor of the run), or the largest id in the descriptor
file when no fragment file is given.

read_fragments gives one RDKit molecule per record of a fragment file, record n
being descriptor n: atoms by their label, bonds by their type, not sanitised
(fragments are pieces of molecules). Each molecule's "_Name" is the fragment id;
for Mol2 records each atom keeps its Tripos type as the atom property
"tripos_type". Labels that are no element become dummy atoms with the label as
the atom property "label".

Needs the Python standard library, scipy (read_descriptors) and RDKit
(read_fragments), from Debian's python3-scipy and python3-rdkit.
"""
import csv


def read_descriptors(out_path, frag_path=None):
    """(names, matrix) of a descriptor file; see the module text."""
    import scipy.sparse

    names, rows, cols, vals = [], [], [], []
    width = 0
    with open(out_path, newline="") as f:
        for row, fields in enumerate(csv.reader(f)):
            names.append(fields[0])
            n = int(fields[1])
            pairs = fields[2:]
            if len(pairs) != 2 * n:
                raise ValueError("%s line %d: %d pairs announced, %d given"
                                 % (out_path, row + 1, n, len(pairs) // 2))
            for k in range(n):
                d, count = int(pairs[2 * k]), int(pairs[2 * k + 1])
                rows.append(row)
                cols.append(d - 1)
                vals.append(count)
                width = max(width, d)
    if frag_path is not None:
        records = count_fragments(frag_path)
        if records < width:
            raise ValueError("%s holds %d records, but %s lists descriptor %d"
                             % (frag_path, records, out_path, width))
        width = records
    return names, scipy.sparse.csr_matrix((vals, (rows, cols)), shape=(len(names), width))


def _is_mol2(path):
    return path.lower().endswith(".mol2")


def count_fragments(frag_path):
    """Number of records (descriptors) in a fragment file."""
    marker = "@<TRIPOS>MOLECULE" if _is_mol2(frag_path) else "$$$$"
    with open(frag_path) as f:
        return sum(1 for line in f if line.rstrip("\r\n") == marker)


def _sd_records(text):
    """(title, [(label)], [(a, b, type)]) per SD record, atoms 0-based."""
    lines = text.split("\n")
    i = 0
    while i + 3 < len(lines):
        title = lines[i]
        counts = lines[i + 3]
        natoms, nbonds = int(counts[0:3]), int(counts[3:6])
        atoms = [lines[i + 4 + k][31:34].strip() for k in range(natoms)]
        bonds = []
        for k in range(nbonds):
            line = lines[i + 4 + natoms + k]
            bonds.append((int(line[0:3]) - 1, int(line[3:6]) - 1, line[6:9].strip()))
        i += 4 + natoms + nbonds
        while lines[i] != "$$$$":
            i += 1
        i += 1
        yield title, [(a, None) for a in atoms], bonds


def _mol2_records(text):
    """(title, [(element, type)], [(a, b, type)]) per Mol2 molecule."""
    for block in text.split("@<TRIPOS>MOLECULE\n")[1:]:
        lines = block.split("\n")
        title = lines[0]
        atoms, bonds, section = [], [], None
        for line in lines[1:]:
            if line.startswith("@<TRIPOS>"):
                section = line
                continue
            fields = line.split()
            if section == "@<TRIPOS>ATOM" and len(fields) >= 6:
                atoms.append((fields[1], fields[5]))
            elif section == "@<TRIPOS>BOND" and len(fields) >= 3:
                bonds.append((int(fields[1]) - 1, int(fields[2]) - 1,
                              fields[3] if len(fields) > 3 else ""))
        yield title, atoms, bonds


def read_fragments(frag_path):
    """One RDKit molecule per record of a fragment file; see the module text."""
    from rdkit import Chem

    order = {"1": Chem.BondType.SINGLE, "2": Chem.BondType.DOUBLE,
             "3": Chem.BondType.TRIPLE, "4": Chem.BondType.AROMATIC,
             "ar": Chem.BondType.AROMATIC, "am": Chem.BondType.SINGLE}
    table = Chem.GetPeriodicTable()
    with open(frag_path) as f:
        text = f.read().replace("\r\n", "\n")
    records = _mol2_records(text) if _is_mol2(frag_path) else _sd_records(text)
    mols = []
    for title, atoms, bonds in records:
        mol = Chem.RWMol()
        for label, tripos in atoms:
            try:
                number = table.GetAtomicNumber(label)
            except RuntimeError:
                number = 0
            atom = Chem.Atom(number)
            atom.SetNoImplicit(True)
            if number == 0:
                atom.SetProp("label", label)
            if tripos is not None:
                atom.SetProp("tripos_type", tripos)
            mol.AddAtom(atom)
        for a, b, kind in bonds:
            mol.AddBond(a, b, order.get(kind, Chem.BondType.UNSPECIFIED))
            if kind in ("4", "ar"):
                mol.GetBondBetweenAtoms(a, b).SetIsAromatic(True)
                mol.GetAtomWithIdx(a).SetIsAromatic(True)
                mol.GetAtomWithIdx(b).SetIsAromatic(True)
        result = mol.GetMol()
        result.SetProp("_Name", title)
        mols.append(result)
    return mols
