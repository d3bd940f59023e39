#!/usr/bin/python3
"""Makes the peer benchmark's two SD files from Debian's rdkit-data.

nci5k.sdf: every SMILES of /usr/share/RDKit/Data/NCI/first_5K.smi that RDKit
parses, without hydrogens, Kekule bonds, as V2000 records titled by the SMILES
file's id.

nci50k.sdf: 50,000 distinct compounds made from the first set, each like one of
it: a compound drawn at random (fixed seed) is cut at an acyclic single bond, and
the part cut off is replaced by a part of another compound, cut the same way,
with as many atoms; the two cut ends are bonded by a single bond. So every new
compound has the size of the one it was made from, the large set has the small
one's size distribution, and ten times its compounds hold about ten times its
fragments. A product met before, or equal to a compound of the first set, is
drawn again.

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


def cuts(mol):
    """Every (bond, kept atom, atoms on that side) of mol's acyclic single bonds."""
    out = []
    for b in mol.GetBonds():
        if b.GetBondType() != Chem.BondType.SINGLE or b.IsInRing():
            continue
        ends = (b.GetBeginAtomIdx(), b.GetEndAtomIdx())
        rw = Chem.RWMol(mol)
        rw.RemoveBond(*ends)
        frags = Chem.GetMolFrags(rw, sanitizeFrags=False)
        for keep in ends:
            side = next(f for f in frags if keep in f)
            out.append((ends, keep, len(side)))
    return out


def part(mol, cut):
    """mol's side of the cut that keeps cut[1], as (RWMol, index of the kept atom)."""
    ends, keep, _ = cut
    rw = Chem.RWMol(mol)
    rw.RemoveBond(*ends)
    side = next(f for f in Chem.GetMolFrags(rw, sanitizeFrags=False) if keep in f)
    rw.GetAtomWithIdx(keep).SetIntProp("cut", 1)
    for idx in sorted(set(range(rw.GetNumAtoms())) - set(side), reverse=True):
        rw.RemoveAtom(idx)
    at = next(a.GetIdx() for a in rw.GetAtoms() if a.HasProp("cut"))
    return rw, at


def recombine(a, cut_a, b, cut_b):
    (ma, ia), (mb, ib) = part(a, cut_a), part(b, cut_b)
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
    all_cuts = [cuts(m) for m in mols]
    usable = [i for i, c in enumerate(all_cuts) if c]
    # For each molecule and side size, the cuts that leave that many atoms.
    by_size = [{} for _ in mols]
    for i in usable:
        for cut in all_cuts[i]:
            by_size[i].setdefault(cut[2], []).append(cut)
    large = []
    while len(large) < LARGE:
        i = rng.choice(usable)
        keep = rng.choice(all_cuts[i])
        removed = mols[i].GetNumAtoms() - keep[2]
        j = rng.choice(usable)
        fitting = by_size[j].get(removed)
        if not fitting:
            continue
        mol = recombine(mols[i], keep, mols[j], rng.choice(fitting))
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
