#!/usr/bin/python3
"""Runs compared by the structure of their fragments, not by ids.

Renumbering the atoms of every compound changes the order in which fragments are
met, and with it every growth sequence the enumeration looks fragments up by, but
no descriptor: the same fragment records with the same counts per compound, the
same progress lines. Long enough to reach the individualisation search.

Counting new compounds in an earlier run's descriptor space (-dspace): a real
compound file is split into parts A and B. A is run as usual; B is run with
-dspace on A's fragment file. Every count of B's descriptor file is checked
against a run over A and B together: each of its descriptors is matched to A's by
structure (an own canonical string of labelled trees, not Sarvik's ids or forms),
and B's lines there, kept to A's descriptors, must equal B's lines in A's space,
pair for pair and in order. Then a collection counted in its own space must give
its own descriptor file byte for byte, and the refusals must hold.

Usage: test_by_structure.py SARVIK DATA_DIR   (standard library only)
"""
import csv
import io
import os
import random
import shutil
import subprocess
import sys
import tempfile

SARVIK, DATA = sys.argv[1], sys.argv[2]
WORK = tempfile.mkdtemp(prefix="sarvik_dspace_")


def run(*args, status=0):
    r = subprocess.run([SARVIK, *args], cwd=WORK, capture_output=True, text=True)
    assert r.returncode == status, (args, r.returncode, r.stdout[-500:])
    return r.stdout


def records(path):
    """Each fragment record as (atom labels, bonds (a, b, type)), in file order."""
    text = open(os.path.join(WORK, path)).read()
    out = []
    if path.endswith(".mol2"):
        for mol in text.split("@<TRIPOS>MOLECULE\n")[1:]:
            atoms = mol.split("@<TRIPOS>ATOM\n")[1].split("@<TRIPOS>BOND\n")[0]
            bonds = mol.split("@<TRIPOS>BOND\n")[1]
            labels = [l.split()[5] for l in atoms.splitlines() if l.strip()]
            out.append((labels, [(int(f[1]) - 1, int(f[2]) - 1, f[3])
                                 for f in (l.split() for l in bonds.splitlines()) if f]))
    else:
        for rec in text.split("$$$$\n")[:-1]:
            lines = rec.split("\n")
            na, nb = int(lines[3][0:3]), int(lines[3][3:6])
            labels = [lines[4 + i][31:34].strip() for i in range(na)]
            out.append((labels, [(int(l[0:3]) - 1, int(l[3:6]) - 1, l[6:9].strip())
                                 for l in lines[4 + na:4 + na + nb]]))
    return out


def canon(labels, bonds):
    """A string naming the labelled tree: the same for every numbering."""
    adj = {i: [] for i in range(len(labels))}
    for a, b, t in bonds:
        adj[a].append((b, t))
        adj[b].append((a, t))
    left, layer = set(adj), [v for v in adj if len(adj[v]) <= 1]
    while len(left) > 2:  # peel leaves down to the centre or central bond
        left -= set(layer)
        layer = [v for v in left if sum(u in left for u, _ in adj[v]) <= 1]

    def rooted(v, parent):
        kids = sorted(t + rooted(u, v) for u, t in adj[v] if u != parent)
        return labels[v] + "(" + ",".join(kids) + ")"

    c = sorted(left)
    if len(c) == 1:
        return rooted(c[0], -1)
    t = next(t for u, t in adj[c[0]] if u == c[1])
    return t.join(sorted([rooted(c[0], c[1]), rooted(c[1], c[0])]))


def lines(path):
    """Descriptor file: per compound, its (descriptor id, count) pairs in order."""
    rows = csv.reader(io.StringIO(open(os.path.join(WORK, path)).read()))
    return [[(int(r[k]), int(r[k + 1])) for k in range(2, len(r), 2)] for r in rows]


def check_renumbering():
    rng = random.Random(20261207)
    shuffled = []
    for rec in open(os.path.join(DATA, "cdk2.sdf")).read().split("$$$$\n")[:-1]:
        l = rec.split("\n")
        na, nb = int(l[3][0:3]), int(l[3][3:6])
        to = list(range(na))  # old atom index -> new
        rng.shuffle(to)
        atoms = [None] * na
        for i in range(na):
            atoms[to[i]] = l[4 + i]
        bonds = []
        for b in l[4 + na:4 + na + nb]:
            x, y = to[int(b[0:3]) - 1] + 1, to[int(b[3:6]) - 1] + 1
            if rng.random() < 0.5:
                x, y = y, x
            bonds.append("%3d%3d" % (x, y) + b[6:])
        rng.shuffle(bonds)
        shuffled.append("\n".join(l[:4] + atoms + bonds + l[4 + na + nb:]) + "$$$$\n")
    open(os.path.join(WORK, "r.sdf"), "w").write("".join(shuffled))
    shutil.copy(os.path.join(DATA, "cdk2.sdf"), os.path.join(WORK, "o.sdf"))
    said = [run("-lmax", "8", stem + ".sdf") for stem in ("o", "r")]
    assert said[0] == said[1]
    held = []
    for stem in ("o", "r"):  # per compound: (fragment record without its title, count)
        bodies = [r.split("\n", 1)[1] for r in open(os.path.join(WORK, stem + "_frag.sdf")).read().split("$$$$\n")[:-1]]
        held.append([sorted((bodies[d - 1], c) for d, c in pairs) for pairs in lines(stem + ".out")])
    assert len(held[0]) == 47 and held[0] == held[1]


def split(source, ext, first):
    text = open(os.path.join(DATA, source)).read()
    if ext == ".mol2":
        mols = ["@<TRIPOS>MOLECULE" + m for m in text.split("@<TRIPOS>MOLECULE")[1:]]
    else:
        mols = [r + "$$$$\n" for r in text.split("$$$$\n")[:-1]]
    for name, part in (("a", mols[:first]), ("b", mols[first:]), ("ab", mols)):
        open(os.path.join(WORK, name + ext), "w").write("".join(part))


def check_space(source, ext, opts):
    split(source, ext, 30)
    frag = "_frag" + ext
    run(*opts, "a" + ext)
    said = run(*opts, "-dspace", "a" + frag, "b" + ext)
    run(*opts, "ab" + ext)
    a_ids = {canon(*r): n + 1 for n, r in enumerate(records("a" + frag))}
    ab_forms = [canon(*r) for r in records("ab" + frag)]
    got, outside = lines("b.out"), 0
    for i, pairs in enumerate(lines("ab.out")[30:]):
        want = [(a_ids[ab_forms[m - 1]], c) for m, c in pairs if ab_forms[m - 1] in a_ids]
        outside += sum(c for m, c in pairs if ab_forms[m - 1] not in a_ids)
        assert got[i] == want, (source, opts, i)
    assert said.endswith("occurrences outside the descriptor space = %d\n" % outside), said


def check_own_space(source, opts):
    shutil.copy(os.path.join(DATA, source), os.path.join(WORK, source))
    stem = source.split(".")[0]
    ext = source[len(stem):]
    run(*opts, "-fmin", "3", source)
    run(*opts, "-dspace", stem + "_frag" + ext, "-ofile", "own", source)
    assert open(os.path.join(WORK, "own.out")).read() == open(os.path.join(WORK, stem + ".out")).read()


def check_refusals():
    split("cdk2.sdf", ".sdf", 30)
    shutil.copy(os.path.join(DATA, "cdk2.mol2"), os.path.join(WORK, "m.mol2"))
    run("-lmax", "3", "a.sdf")
    run("-lmax", "3", "-ds", "PF", "-ofile", "p", "a.sdf")
    run("-lmax", "4", "-ds", "TF", "-ofile", "t", "a.sdf")
    run("-lmax", "2", "-ofile", "mm", "m.mol2")
    open(os.path.join(WORK, "twice_frag.sdf"), "w").write(open(os.path.join(WORK, "a_frag.sdf")).read() * 2)
    ring = "ring\n\n\n  3  3\n" + "    0.0000    0.0000    0.0000 C   0\n" * 3 + "  1  2  1\n  2  3  1\n  3  1  1\n$$$$\n"
    open(os.path.join(WORK, "ring.sdf"), "w").write(ring)
    open(os.path.join(WORK, "cut_frag.sdf"), "w").write("cut\n\n\n  3  2\n")
    open(os.path.join(WORK, "gz_frag.sdf"), "wb").write(b"\x1f\x8b\x08\x00")
    shutil.copy(os.path.join(WORK, "a.out"), os.path.join(WORK, "as_frag.sdf"))
    cases = [
        (["-fmin", "2", "-dspace", "a_frag.sdf", "b.sdf"], 2, "Error: -fmin has no meaning with -dspace"),
        (["-dspace", "missing_frag.sdf", "b.sdf"], 1, "can't open the descriptor space 'missing_frag.sdf'"),
        (["-lmax", "3", "-dspace", "a_frag.sdf", "m.mol2"], 1, "it holds no Mol2 molecule, but the input is a Mol2 file"),
        (["-lmax", "2", "-dspace", "a_frag.sdf", "b.sdf"], 1, "record 72 ('146') has 3 bonds, outside the lengths 1 to 2"),
        (["-lmax", "3", "-ds", "PF", "-dspace", "a_frag.sdf", "b.sdf"], 1, "is branched, but -ds PF keeps only paths"),
        (["-lmax", "3", "-ds", "TF", "-dspace", "p_frag.sdf", "b.sdf"], 1, "is a path, but -ds TF keeps only branched"),
        (["-lmax", "3", "-NoBndLabels", "-dspace", "a_frag.sdf", "b.sdf"], 1, "has a bond that is not single"),
        (["-dspace", "ring.sdf", "b.sdf"], 1, "record 1 ('ring') is no fragment: it has a cycle\n"),
        (["-lmax", "2", "-dspace", "mm_frag.mol2", "b.sdf"], 1, "it holds Mol2 molecules, but the input is an SD file"),
        (["-lmax", "2", "-NoAtmLabels", "-dspace", "mm_frag.mol2", "m.mol2"], 1, "but -NoAtmLabels keeps only elements"),
        (["-lmax", "3", "-dspace", "twice_frag.sdf", "b.sdf"], 1, "is the same fragment as record 1\n"),
        # The space is named as the descriptor space in every message about it.
        (["-dspace", "cut_frag.sdf", "b.sdf"], 1, "  in compound 1 'cut' at line 4 of the descriptor space 'cut_frag.sdf'\n"),
        (["-dspace", "gz_frag.sdf", "b.sdf"], 1, "the descriptor space 'gz_frag.sdf' is compressed (gzip)"),
        (["-dspace", "as_frag.sdf", "b.sdf"], 1, "descriptor space 'as_frag.sdf': it is a descriptor file (a line per compound), not a fragment file"),
        (["-lmax", "4", "-ds", "TF", "-dspace", "t_frag.sdf", "-ofile", "t", "b.sdf"], 0, "occurrences outside"),
    ]
    for args, status, said in cases:
        out = run(*args, status=status)
        # A text ending a line ends the output: nothing follows a refusal.
        assert out.endswith(said) if said.endswith("\n") else said in out, (args, out[-400:])
    # The space is no output: a stem that would overwrite it is refused.
    out = run("-lmax", "3", "-dspace", "a.out", "-ofile", "a", "b.sdf", status=1)
    assert "it is the descriptor space 'a.out'" in out, out


# The work folder holds some hundred megabytes: removed however the checks end.
try:
    check_renumbering()
    check_space("cdk2.sdf", ".sdf", [])
    check_space("cdk2.mol2", ".mol2", [])
    check_space("cdk2_heavy.sdf", ".sdf", ["-ds", "TF", "-lmax", "8"])
    check_space("cdk2.sdf", ".sdf", ["-NoBndLabels"])
    check_space("cdk2.mol2", ".mol2", ["-NoAtmLabels", "-ds", "PF", "-lmin", "2"])
    check_own_space("cdk2.sdf", [])
    check_own_space("cdk2.mol2", ["-ds", "TF", "-lmax", "8"])
    check_refusals()
finally:
    shutil.rmtree(WORK, ignore_errors=True)
