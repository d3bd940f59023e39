#!/usr/bin/python3
"""Makes the peer benchmark's two SD files from Debian's rdkit-data.

nci5k.sdf: every SMILES of /usr/share/RDKit/Data/NCI/first_5K.smi that RDKit
parses, without hydrogens, Kekule bonds, as V2000 records titled by the SMILES
file's id.

nci50k.sdf: 50,000 distinct compounds made from the first set, with its sizes:
each joins a part of one compound drawn at random (fixed seed) to a part of
another, both cut at an acyclic single bond, the two cut ends bonded by a single
bond. A part is either side of its cut, so compounds keep the first set's size
on average and each holds about as many fragments as one of the first set. A
product met before, or equal to a compound of the first set, is drawn again.

Usage: bench/make_data.py OUTDIR
"""
import os
import random
import sys

from rdkit import Chem, RDLogger

SMILES = "/usr/share/RDKit/Data/NCI/first_5K.smi"
SEED = 20261207
LARGE = 50000


def read_nci():
    mols = []
    for line in open(SMILES):
        fields = line.split()
        if len(fields) < 2:
            continue
        mol = Chem.MolFromSmiles(fields[0])
        if mol is None:
            continue
        mol.SetProp("_Name", fields[1])
        mols.append(mol)
    return mols


def write_sd(path, mols):
    w = Chem.SDWriter(path)
    w.SetKekulize(True)
    w.SetForceV3000(False)
    for mol in mols:
        w.write(mol)
    w.close()


def part(mol, rng):
    """A random side of a random acyclic single bond of mol, as (RWMol, atom at
    the cut), or None when mol has no such bond."""
    cuts = [b for b in mol.GetBonds()
            if b.GetBondType() == Chem.BondType.SINGLE and not b.IsInRing()]
    if not cuts:
        return None
    bond = rng.choice(cuts)
    ends = [bond.GetBeginAtomIdx(), bond.GetEndAtomIdx()]
    keep_at = ends[rng.randrange(2)]
    rw = Chem.RWMol(mol)
    rw.RemoveBond(ends[0], ends[1])
    side = next(f for f in Chem.GetMolFrags(rw, sanitizeFrags=False) if keep_at in f)
    rw.GetAtomWithIdx(keep_at).SetIntProp("cut", 1)
    for idx in sorted(set(range(rw.GetNumAtoms())) - set(side), reverse=True):
        rw.RemoveAtom(idx)
    at = next(a.GetIdx() for a in rw.GetAtoms() if a.HasProp("cut"))
    return rw, at


def recombine(a, b, rng):
    pa, pb = part(a, rng), part(b, rng)
    if pa is None or pb is None:
        return None
    (ma, ia), (mb, ib) = pa, pb
    combo = Chem.RWMol(Chem.CombineMols(ma, mb))
    combo.AddBond(ia, ma.GetNumAtoms() + ib, Chem.BondType.SINGLE)
    for atom in combo.GetAtoms():
        atom.ClearProp("cut")
    try:
        mol = combo.GetMol()
        Chem.SanitizeMol(mol)
    except Exception:
        return None
    return mol


def main():
    RDLogger.DisableLog("rdApp.*")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    mols = read_nci()
    write_sd(os.path.join(out, "nci5k.sdf"), mols)

    rng = random.Random(SEED)
    seen = {Chem.MolToSmiles(m) for m in mols}
    large = []
    while len(large) < LARGE:
        i, j = rng.randrange(len(mols)), rng.randrange(len(mols))
        mol = recombine(mols[i], mols[j], rng)
        if mol is None:
            continue
        smi = Chem.MolToSmiles(mol)
        if smi in seen:
            continue
        seen.add(smi)
        mol.SetProp("_Name", "r%d" % (len(large) + 1))
        large.append(mol)
    write_sd(os.path.join(out, "nci50k.sdf"), large)


if __name__ == "__main__":
    main()
