"""Seeing the fragments: occurrences on the compounds' own atoms and bonds,
drawings, the reader of the command line's files, and the example."""
import csv
import os
import shutil
import subprocess
import sys

import pytest
from rdkit import Chem

import sarvik
from conftest import ROOT, cli


def test_occurrences_are_the_counts_and_trees_of_the_compounds(reference):
    path = reference["sd"][0]
    fd = sarvik.FragmentDescriptors(lmax=5).fit(path)
    counts = fd.transform(path)
    found = fd.occurrences(path)
    mols = list(Chem.SDMolSupplier(path, sanitize=False, removeHs=False))
    assert len(found) == counts.shape[0] == len(mols)
    shapes = {}
    for i, (mol, per_column) in enumerate(zip(mols, found)):
        row = counts[i]
        assert {j: len(v) for j, v in per_column.items()} == dict(zip(row.indices, row.data))
        for j, places in per_column.items():
            if j not in shapes:
                f = fd.fragment(j)
                shapes[j] = (f.GetNumBonds(), sorted(a.GetSymbol() for a in f.GetAtoms()))
            length, symbols = shapes[j]
            for atoms, bond_ids in places:
                bonds = [mol.GetBondWithIdx(b) for b in bond_ids]
                ends = {x for b in bonds for x in (b.GetBeginAtomIdx(), b.GetEndAtomIdx())}
                # length bonds over length + 1 atoms, all of them reached: a tree.
                assert len(set(bond_ids)) == length and ends == set(atoms)
                assert len(atoms) == length + 1 and connected(atoms, bonds)
                assert sorted(mol.GetAtomWithIdx(a).GetSymbol() for a in atoms) == symbols


def connected(atoms, bonds):
    reached, grew = {atoms[0]}, True
    while grew:
        grew = False
        for b in bonds:
            x, y = b.GetBeginAtomIdx(), b.GetEndAtomIdx()
            if (x in reached) != (y in reached):
                reached |= {x, y}
                grew = True
    return reached == set(atoms)


def test_drawing_highlights_occurrences_of_a_smiles():
    fd = sarvik.FragmentDescriptors(lmax=3).fit(["c1ccccc1O", "CC(=O)N"])
    svg = fd.draw("Oc1ccccc1C(=O)N", [0, 2], size=(300, 200))
    assert svg.startswith("<?xml") and "width='300px'" in svg
    assert svg != fd.draw("Oc1ccccc1C(=O)N", [], size=(300, 200))


def test_reader_reads_what_the_command_line_wrote(reference, tmp_path):
    for fmt in ("sd", "mol2"):
        _, out, frag = reference[fmt]
        names, x = sarvik.read_descriptors(out, frag)
        with open(out, newline="") as f:
            rows = list(csv.reader(f))
        assert names == [r[0] for r in rows]
        for i, r in enumerate(rows):  # parsed here without the reader
            pairs = {int(r[k]) - 1: int(r[k + 1]) for k in range(2, len(r), 2)}
            assert dict(zip(x[i].indices, x[i].data)) == pairs
        chosen = [x.shape[1] - 1, 0, 17]
        some = sarvik.read_fragments(frag, chosen)
        fd = sarvik.FragmentDescriptors.from_space(frag)
        assert [m.GetNumAtoms() for m in some] == [fd.fragment(j).GetNumAtoms() for j in chosen]
        with pytest.raises(IndexError):
            sarvik.read_fragments(frag, [x.shape[1]])
    assert sarvik.count_fragments(frag) == x.shape[1]
    assert all(a.GetSymbol() == a.GetProp("tripos_type").split(".")[0]
               for m in some for a in m.GetAtoms())
    # Names with quotes and commas come back as written.
    (tmp_path / "q.sdf").write_text(
        'He said "hi", ok\n\n\n  2  1  0  0  0  0  0  0  0  0999 V2000\n'
        "    0.0000    0.0000    0.0000 C   0  0\n    0.0000    0.0000    0.0000 O   0  0\n"
        "  1  2  2  0\nM  END\n$$$$\n")
    cli(tmp_path, "q.sdf")
    names, x = sarvik.read_descriptors(tmp_path / "q.out")
    assert names == ['He said "hi", ok'] and x.toarray().tolist() == [[1]]


@pytest.mark.skipif(shutil.which("rsvg-convert") is None, reason="rsvg-convert (librsvg2-bin) missing")
def test_the_example_models_and_draws(tmp_path):
    r = subprocess.run([sys.executable, os.path.join(ROOT, "examples", "bzr_model.py"),
                        str(tmp_path / "m.svg")], capture_output=True, text=True, check=True)
    r2 = float(r.stdout.split("R^2: ")[1].split()[0])
    assert r2 > 0.3
    subprocess.run(["rsvg-convert", str(tmp_path / "m.svg"), "-o", str(tmp_path / "m.png")],
                   check=True)
    assert os.path.getsize(tmp_path / "m.png") > 5000
