#!/usr/bin/python3
"""Makes the large-collection benchmark's SD files from Debian's rdkit-data.

joined500k.sdf: 500,000 distinct compounds, each two compounds of
/usr/share/RDKit/Data/NCI/first_5K.smi (those RDKit parses, without hydrogens,
Kekule bonds) joined by one single bond between a carbon of the first that
carries a hydrogen and a carbon of the second that carries one. Pairs are drawn
at random with a fixed seed; a product with more than 499 bonds, or equal (by
RDKit's canonical SMILES) to one drawn before, is drawn again. Records are
titled j1, j2, ...; the second part's atoms follow the first's, its 2D
coordinates moved to the right of the first part.

joined50k.sdf: the first 50,000 records of joined500k.sdf.

Usage: bench/make_big_data.py OUTDIR [COUNT]   (COUNT default 500000)
Takes about two minutes on two cores; the canonical SMILES are computed by one
worker process per core, the outcome is the same on any number of cores.
"""
import multiprocessing
import os
import random
import sys

from rdkit import Chem, RDLogger

SMILES = "/usr/share/RDKit/Data/NCI/first_5K.smi"
SEED = 20261224
COUNT = 500000
SLICE = 50000
MAX_BONDS = 499   # Sarvik's limit per compound
BATCH = 20000     # candidate pairs checked at a time

mols = []  # the parsed NCI compounds, in each process


def read_nci():
    out = []
    for line in open(SMILES):
        fields = line.split()
        if len(fields) < 2:
            continue
        mol = Chem.MolFromSmiles(fields[0])
        if mol is not None:
            out.append(mol)
    return out


def init_worker():
    RDLogger.DisableLog("rdApp.*")
    global mols
    mols = read_nci()


def product_smiles(pair):
    i, a, j, b = pair
    rw = Chem.RWMol(Chem.CombineMols(mols[i], mols[j]))
    rw.AddBond(a, mols[i].GetNumAtoms() + b, Chem.BondType.SINGLE)
    mol = rw.GetMol()
    # The joined carbons each lose a hydrogen.
    for k in (a, mols[i].GetNumAtoms() + b):
        atom = mol.GetAtomWithIdx(k)
        if atom.GetNumExplicitHs() > 0:
            atom.SetNumExplicitHs(atom.GetNumExplicitHs() - 1)
    mol.UpdatePropertyCache(strict=False)
    return Chem.MolToSmiles(mol)


class Block:
    """A compound's molblock cut into its parts."""

    def __init__(self, mol):
        lines = Chem.MolToMolBlock(mol, kekulize=True).split("\n")
        natoms, nbonds = int(lines[3][0:3]), int(lines[3][3:6])
        self.atoms = lines[4:4 + natoms]
        self.bonds = lines[4 + natoms:4 + natoms + nbonds]
        self.props = [l for l in lines[4 + natoms + nbonds:] if l.startswith("M  ") and l != "M  END"]
        xs = [float(l[0:10]) for l in self.atoms]
        self.xmin, self.xmax = min(xs), max(xs)


def shifted_atom(line, dx):
    return "%10.4f" % (float(line[0:10]) + dx) + line[10:]


def shifted_bond(line, n):
    return "%3d%3d" % (int(line[0:3]) + n, int(line[3:6]) + n) + line[6:]


def shifted_prop(line, n):
    # "M  CHG  k" then k pairs (atom, value), four columns each.
    k = int(line[6:9])
    out = line[0:9]
    for p in range(k):
        at = 9 + 8 * p
        out += "%4d%s" % (int(line[at:at + 4]) + n, line[at + 4:at + 8])
    return out


def record(title, first, second, a, b):
    n = len(first.atoms)
    dx = first.xmax - second.xmin + 1.5
    lines = [title, "     RDKit          2D", "",
             "%3d%3d  0  0  0  0  0  0  0  0999 V2000" % (n + len(second.atoms),
                                                         len(first.bonds) + len(second.bonds) + 1)]
    lines += first.atoms
    lines += [shifted_atom(l, dx) for l in second.atoms]
    lines += first.bonds
    lines += [shifted_bond(l, n) for l in second.bonds]
    lines.append("%3d%3d  1  0" % (a + 1, n + b + 1))
    lines += first.props
    lines += [shifted_prop(l, n) for l in second.props]
    lines += ["M  END", "$$$$"]
    return "\n".join(lines) + "\n"


def main():
    RDLogger.DisableLog("rdApp.*")
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else COUNT
    os.makedirs(out, exist_ok=True)
    init_worker()
    blocks = [Block(m) for m in mols]
    carbons = [[x.GetIdx() for x in m.GetAtoms() if x.GetSymbol() == "C" and x.GetTotalNumHs() > 0]
               for m in mols]
    usable = [i for i, c in enumerate(carbons) if c]
    rng = random.Random(SEED)
    seen = set()
    drawn = set()
    chosen = []
    with multiprocessing.Pool(os.cpu_count(), initializer=init_worker) as pool:
        while len(chosen) < count:
            batch = []
            while len(batch) < BATCH:
                i, j = rng.choice(usable), rng.choice(usable)
                pair = (i, rng.choice(carbons[i]), j, rng.choice(carbons[j]))
                if mols[i].GetNumBonds() + mols[j].GetNumBonds() + 1 > MAX_BONDS or pair in drawn:
                    continue
                drawn.add(pair)
                batch.append(pair)
            for pair, smi in zip(batch, pool.map(product_smiles, batch, chunksize=500)):
                if smi not in seen and len(chosen) < count:
                    seen.add(smi)
                    chosen.append(pair)
    big = os.path.join(out, "joined%dk.sdf" % (count // 1000))
    with open(big, "w") as f, open(os.path.join(out, "joined%dk.sdf" % (SLICE // 1000)), "w") as s:
        for k, (i, a, j, b) in enumerate(chosen):
            text = record("j%d" % (k + 1), blocks[i], blocks[j], a, b)
            f.write(text)
            if k < SLICE:
                s.write(text)


if __name__ == "__main__":
    main()
