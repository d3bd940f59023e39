"""Shared by the tests of the sarvik package: the command line as the reference.

The package under test is the one on sys.path (ctest puts the build tree's
first); SARVIK_BINARY names the command line (by default build/release/Sarvik).
"""
import os
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
DATA = os.path.join(ROOT, "tests", "data")
SARVIK = os.environ.get("SARVIK_BINARY", os.path.join(ROOT, "build", "release", "Sarvik"))


def cli(work, *args, status=0):
    """Runs the command line in folder work; its standard output."""
    r = subprocess.run([SARVIK, *map(str, args)], cwd=work, capture_output=True, text=True)
    assert r.returncode == status, (args, r.returncode, r.stdout[-800:], r.stderr[-800:])
    return r.stdout


def records(path):
    """The SD records of a file, each with its "$$$$" line."""
    with open(path) as f:
        return [r + "$$$$\n" for r in f.read().split("$$$$\n")[:-1]]


def same(a, b):
    """Two sparse count matrices are equal, shape and every entry."""
    return a.shape == b.shape and (a != b).nnz == 0


@pytest.fixture(scope="session")
def reference(tmp_path_factory):
    """The command line's default runs over cdk2 (SD and Mol2): {format: (input,
    descriptor file, fragment file)}, in a folder of their own."""
    work = tmp_path_factory.mktemp("reference")
    out = {}
    for fmt, name in (("sd", "cdk2.sdf"), ("mol2", "cdk2.mol2")):
        cli(work, "-ofile", fmt, os.path.join(DATA, name))
        out[fmt] = (os.path.join(DATA, name), str(work / (fmt + ".out")),
                    str(work / (fmt + "_frag." + ("sdf" if fmt == "sd" else "mol2"))))
    return out
