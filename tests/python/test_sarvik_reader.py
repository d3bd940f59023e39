"""Tests of python/sarvik_reader.py on real runs of Sarvik.

Usage: test_sarvik_reader.py <Sarvik binary> <tests/data folder>
Exits with 77 (skipped) where scipy or RDKit is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))

try:
    import scipy.sparse  # noqa: F401
    from rdkit import Chem, RDLogger  # noqa: F401
except ImportError as missing:
    print("skipped: %s" % missing)
    sys.exit(77)

import sarvik_reader as sr  # noqa: E402

SARVIK, DATA = sys.argv[1], sys.argv[2]


def run(work, input_name, *options):
    subprocess.run([SARVIK, *options, input_name], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)


def pairs_of(out_path):
    """Per line: {descriptor id: occurrences}, parsed without the reader."""
    rows = []
    for line in open(out_path):
        fields = line.rstrip("\n").rsplit('"', 1)[1].split(",")[1:]
        n = int(fields[0])
        rows.append({int(fields[1 + 2 * k]): int(fields[2 + 2 * k]) for k in range(n)})
    return rows


class Reader(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.work)

    def check_run(self, input_name, frag_name, titles):
        shutil.copy(os.path.join(DATA, input_name), self.work)
        run(self.work, input_name, "-lmax", "3")
        stem = os.path.join(self.work, input_name.split(".")[0])
        names, x = sr.read_descriptors(stem + ".out", stem + frag_name)
        self.assertEqual(names, titles)
        frags = sr.read_fragments(stem + frag_name)
        self.assertEqual(x.shape, (len(titles), len(frags)))
        for row, pairs in enumerate(pairs_of(stem + ".out")):
            got = {j + 1: int(x[row, j]) for j in x[row].nonzero()[1]}
            self.assertEqual(got, pairs)
        return frags

    def test_sd_run(self):
        titles = [line.rstrip("\n") for line, prev in self.titles("cdk2.sdf")]
        frags = self.check_run("cdk2.sdf", "_frag.sdf", titles)
        self.assertEqual(frags[0].GetAtomWithIdx(0).GetSymbol(), "C")

    def test_mol2_run(self):
        text = open(os.path.join(DATA, "cdk2.mol2")).read().split("\n")
        titles = [text[i + 1] for i, line in enumerate(text) if line == "@<TRIPOS>MOLECULE"]
        frags = self.check_run("cdk2.mol2", "_frag.mol2", titles)
        for m in frags:
            for atom in m.GetAtoms():
                self.assertEqual(atom.GetSymbol(), atom.GetProp("tripos_type").split(".")[0])

    def test_names_with_quotes_and_commas(self):
        record = ('He said "hi", ok\n\n\n  2  1  0  0  0  0  0  0  0  0999 V2000\n'
                  "    0.0000    0.0000    0.0000 C   0  0\n"
                  "    0.0000    0.0000    0.0000 O   0  0\n"
                  "  1  2  2  0\nM  END\n$$$$\n")
        with open(os.path.join(self.work, "q.sdf"), "w") as f:
            f.write(record)
        run(self.work, "q.sdf")
        names, x = sr.read_descriptors(os.path.join(self.work, "q.out"))
        self.assertEqual(names, ['He said "hi", ok'])
        self.assertEqual(x.toarray().tolist(), [[1]])

    def titles(self, name):
        lines = open(os.path.join(DATA, name)).readlines()
        prev = "$$$$\n"
        for line in lines:
            if prev == "$$$$\n":
                yield line, prev
            prev = line


if __name__ == "__main__":
    RDLogger.DisableLog("rdApp.*")
    unittest.main(argv=sys.argv[:1])
