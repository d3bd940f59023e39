"""SMILES and RDKit molecules: the command line's results on the SD text
MolToMolBlock writes; one vector per compound however it is spelled; items
that cannot be used refused by position or given all-zero rows."""
import os
import re
import warnings

import numpy as np
import pandas
import pytest
from rdkit import Chem

import sarvik
from conftest import ROOT, cli, same


def bzr_molecules():
    return [m for m in Chem.SDMolSupplier(os.path.join(ROOT, "examples", "bzr.sdf"))]


@pytest.mark.parametrize("aromatic", [True, False])
def test_smiles_and_molecules_are_the_command_line_on_their_mol_blocks(aromatic, tmp_path):
    mols = bzr_molecules()[:80]
    smiles = [Chem.MolToSmiles(m) for m in mols]
    parsed = [Chem.MolFromSmiles(s) for s in smiles]
    text = "".join(Chem.MolToMolBlock(m, kekulize=not aromatic) + "$$$$\n" for m in parsed)
    (tmp_path / "m.sdf").write_text(text)
    cli(tmp_path, "-lmax", 6, "m.sdf")
    _, expected = sarvik.read_descriptors(tmp_path / "m.out", tmp_path / "m_frag.sdf")
    fd = sarvik.FragmentDescriptors(lmax=6, aromatic=aromatic)
    assert same(fd.fit_transform(smiles), expected)
    assert same(fd.transform(parsed), expected)
    assert same(fd.fit(parsed).transform(smiles), expected)
    assert same(fd.transform(pandas.Series(smiles)), expected)
    assert same(fd.transform(pandas.DataFrame({"smiles": smiles})), expected)


def test_twenty_spellings_of_a_compound_give_one_vector():
    mol = bzr_molecules()[5]
    spellings = list(Chem.MolToRandomSmilesVect(mol, 20, randomSeed=7))
    assert len(set(spellings)) == 20
    rows = sarvik.FragmentDescriptors().fit_transform(spellings).toarray()
    assert (rows == rows[0]).all() and rows[0].sum() > 0
    # Kekule bonds are placed by atom order: the reason aromatic=True is the default.
    kekule = sarvik.FragmentDescriptors(aromatic=False).fit_transform(spellings).toarray()
    assert len({r.tobytes() for r in kekule}) > 1


# Items RDKit refuses, that are no molecule, and that the library refuses
# (a dative bond makes RDKit write a V3000 record; "~" an SD bond type 8).
BAD = {1: "C1CC", 3: 42, 4: "[NH3]->[Fe]", 6: "C~C"}


def test_items_that_cannot_be_used():
    items = ["CCO", BAD[1], "c1ccccc1O", BAD[3], BAD[4], Chem.MolFromSmiles("CCN"), BAD[6]]
    for bad in BAD.values():
        with pytest.raises(ValueError, match=r"item 2 \(.*%s" % re.escape(str(bad))):
            sarvik.FragmentDescriptors().fit(["CCO", "CCN", bad])
    fd = sarvik.FragmentDescriptors(on_error="ignore")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = fd.fit_transform(items)
    assert fd.error_positions_ == sorted(BAD)
    assert "positions 1, 3, 4, 6" in str(caught[0].message)
    assert caught[0].filename == __file__
    good = sarvik.FragmentDescriptors().fit_transform([items[k] for k in (0, 2, 5)])
    assert got[sorted(BAD)].nnz == 0 and same(got[[0, 2, 5]], good)


def test_inputs_of_the_wrong_kind(reference):
    sd, mol2 = reference["sd"][0], reference["mol2"][0]
    on_mol2 = sarvik.FragmentDescriptors(lmax=2).fit(mol2)
    for x in (sd, ["CCO"]):
        with pytest.raises(ValueError, match="Mol2 files only"):
            on_mol2.transform(x)
    with pytest.raises(ValueError, match="not Mol2 files"):
        sarvik.FragmentDescriptors(lmax=2).fit(sd).transform(mol2)
    for x in (b"CCO", 3.5):
        with pytest.raises(TypeError):
            sarvik.FragmentDescriptors().fit(x)
    with pytest.raises(ValueError, match="lmax must be an int"):
        sarvik.FragmentDescriptors(lmax="7").fit(["CCO"])
    with pytest.raises(ValueError, match="no compound"):
        sarvik.FragmentDescriptors().fit([])
    fd = sarvik.FragmentDescriptors().fit(["CCO"])
    empty = fd.transform([])
    assert empty.shape == (0, fd.n_features_out_) and np.issubdtype(empty.dtype, np.integer)
