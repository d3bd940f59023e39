"""FragmentDescriptors against the command line on real compounds, and inside
scikit-learn: clone, Pipeline, cross-validation, grid search, pickling, threads."""
import os
import pickle
import threading

import numpy as np
import pytest
from sklearn.base import clone
from sklearn.linear_model import Ridge
from sklearn.model_selection import GridSearchCV, KFold, cross_val_score
from sklearn.pipeline import make_pipeline

import sarvik
from conftest import DATA, cli, records, same


@pytest.mark.parametrize("fmt", ["sd", "mol2"])
def test_fit_transform_and_space_are_the_command_lines(reference, fmt, tmp_path):
    path, out, frag = reference[fmt]
    names, expected = sarvik.read_descriptors(out, frag)
    fd = sarvik.FragmentDescriptors()
    got = fd.fit_transform(path)
    assert got.dtype == np.int64 and same(got, expected)
    assert fd.n_features_out_ == expected.shape[1]
    saved = tmp_path / ("saved." + ("mol2" if fmt == "mol2" else "sdf"))
    fd.save_space(saved)
    assert saved.read_bytes() == open(frag, "rb").read()
    # A fragment file the command line wrote counts as the fitted space does.
    loaded = sarvik.FragmentDescriptors.from_space(frag)
    assert same(loaded.transform(path), got)
    # Names: unique, every label kept (Mol2 atom types), stable.
    feature_names = fd.get_feature_names_out()
    assert len(set(feature_names)) == len(feature_names) == fd.n_features_out_
    assert list(feature_names) == list(loaded.get_feature_names_out())
    if fmt == "mol2":
        assert sum(".ar" in n for n in feature_names) > 1000
    # Fragments as molecules, on demand: as the reader makes them from the file.
    for j in (0, fd.n_features_out_ // 2, fd.n_features_out_ - 1):
        m = fd.fragment(j)
        [r] = sarvik.read_fragments(frag, [j])
        assert m.GetNumConformers() == 1 and m.GetProp("_Name") == r.GetProp("_Name")
        assert [a.GetSymbol() for a in m.GetAtoms()] == [a.GetSymbol() for a in r.GetAtoms()]


def test_held_out_part_is_the_command_lines_dspace_run(tmp_path):
    recs = records(os.path.join(DATA, "cdk2.sdf"))
    (tmp_path / "train.sdf").write_text("".join(recs[:30]))
    (tmp_path / "test.sdf").write_text("".join(recs[30:]))
    cli(tmp_path, "-lmax", 5, "-ds", "TF", "train.sdf")
    cli(tmp_path, "-lmax", 5, "-ds", "TF", "-dspace", "train_frag.sdf", "-ofile", "held", "test.sdf")
    _, expected = sarvik.read_descriptors(tmp_path / "held.out", tmp_path / "train_frag.sdf")
    fd = sarvik.FragmentDescriptors(lmax=5, ds="TF").fit(str(tmp_path / "train.sdf"))
    assert same(fd.transform(tmp_path / "test.sdf"), expected)
    # Pickled: the space as bytes, far smaller than its fragment file; the same counts.
    blob = pickle.dumps(fd)
    assert len(blob) < os.path.getsize(tmp_path / "train_frag.sdf") / 4
    assert same(pickle.loads(blob).transform(tmp_path / "test.sdf"), expected)


def bzr():
    from rdkit import Chem

    mols = [m for m in Chem.SDMolSupplier(os.path.join(DATA, "..", "..", "examples", "bzr.sdf"))]
    return mols, np.array([float(m.GetProp("ACTIVITY")) for m in mols])


def test_pipelines_cross_validation_and_grid_search():
    mols, y = bzr()
    fd = sarvik.FragmentDescriptors(lmax=6, fmin=2)
    copy = clone(fd)
    assert copy.get_params() == fd.get_params() and not hasattr(copy, "space_")
    model = make_pipeline(fd, Ridge(alpha=10.0))
    scores = cross_val_score(model, mols, y, cv=KFold(5, shuffle=True, random_state=0))
    assert np.mean(scores) > 0.3
    model.fit(mols, y)
    names = model[:-1].get_feature_names_out()
    assert len(names) == len(model[-1].coef_)
    search = GridSearchCV(make_pipeline(sarvik.FragmentDescriptors(), Ridge()),
                          {"fragmentdescriptors__lmax": [3, 5]}, cv=3).fit(mols, y)
    assert search.best_params_["fragmentdescriptors__lmax"] in (3, 5)


def test_threads_give_one_result(capsys):
    path = os.path.join(DATA, "cdk2.mol2")
    one = sarvik.FragmentDescriptors(lmax=6, verbose=True).fit_transform(path)
    assert "length 6" in capsys.readouterr().err
    assert same(sarvik.FragmentDescriptors(lmax=6, n_jobs=-1).fit_transform(path), one)
    # Two transformers from two Python threads at once, the GIL released.
    got = [None, None]

    def work(k):
        got[k] = sarvik.FragmentDescriptors(lmax=6, n_jobs=2).fit_transform(path)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert same(got[0], one) and same(got[1], one)
