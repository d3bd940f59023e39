#!/usr/bin/python3
"""Independent checker for Sarvik runs.

Re-derives from the input file alone, with its own reader, its own enumeration
of connected acyclic bond sets and its own tree canonical form, what a run must
print and write, and compares that with a run's standard output, descriptor
file (.out) and, optionally, fragment file (_frag.sdf, or _frag.mol2 for Mol2 input).

Shares no code with Sarvik. SD input is read through RDKit (sanitize off, so
bond type 4 stays aromatic and nothing is kekulised); Mol2 input is read here in
plain Python. Run with /usr/bin/python3 (Debian's, which has python3-rdkit).

Exit status: 0 everything matches, 1 a difference was found, 2 usage error.
"""

import argparse
import collections
import os
import random
import shutil
import subprocess
import sys

sys.setrecursionlimit(100000)

SD_BOND_LABEL = {1: "-", 2: "=", 3: "#", 4: "~"}
MOL2_BOND_LABEL = {"1": "-", "2": "=", "3": "#", "ar": "~", "am": "*"}
MOL2_DROPPED = {"nc", "du", "un"}


class InputError(Exception):
    pass


# --------------------------------------------------------------------------
# Compounds
# --------------------------------------------------------------------------

class Compound:
    """name, labels[i] (vertex label string), bonds: sorted list of (a, b, label) with a < b."""

    def __init__(self, name, labels, bonds):
        self.name = name
        self.labels = labels
        seen = set()
        norm = []
        for a, b, lab in bonds:
            if a == b:
                raise InputError("compound %s: bond from atom %d to itself" % (name, a + 1))
            if a > b:
                a, b = b, a
            if (a, b) in seen:
                raise InputError("compound %s: atoms %d and %d bonded twice" % (name, a + 1, b + 1))
            if not (0 <= a and b < len(labels)):
                raise InputError("compound %s: bond atom number out of range" % name)
            seen.add((a, b))
            norm.append((a, b, lab))
        # Slot order of the enumeration: by lower end, then higher end.
        norm.sort(key=lambda t: (t[0], t[1]))
        self.bonds = norm


def split_sd_records(path):
    """Yields the records of an SD file as lists of lines (newline removed),
    split on lines whose first space-separated token is $$$$."""
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    rec = []
    for line in lines:
        toks = line.split(" ")
        toks = [t for t in toks if t != ""]
        if toks and toks[0] == "$$$$":
            yield rec
            rec = []
        else:
            rec.append(line)
    if any(l.strip() for l in rec):
        yield rec


def sd_int_field(line, start, end):
    digits = "".join(c for c in line[start:end] if c.isdigit())
    return int(digits) if digits else 0


def read_sd(path, no_bnd_labels, use_rdkit=True):
    if use_rdkit:
        from rdkit import Chem, RDLogger
        RDLogger.DisableLog("rdApp.*")
        bt = Chem.BondType
        rd_map = {bt.SINGLE: "-", bt.DOUBLE: "=", bt.TRIPLE: "#", bt.AROMATIC: "~"}
    comps = []
    for pos, rec in enumerate(split_sd_records(path), start=1):
        if len(rec) < 4:
            raise InputError("record %d: too short" % pos)
        title = rec[0]
        name = title if title != "" else str(pos)
        natoms = sd_int_field(rec[3], 0, 3)
        nbonds = sd_int_field(rec[3], 3, 6)
        # Own column reading: symbol from columns 32-34, bonds from 1-9.
        col_labels = []
        for k in range(natoms):
            line = rec[4 + k]
            col_labels.append("".join(c for c in line[31:34] if not c.isspace()))
        col_bonds = []
        for k in range(nbonds):
            line = rec[4 + natoms + k]
            a = sd_int_field(line, 0, 3) - 1
            b = sd_int_field(line, 3, 6) - 1
            t = sd_int_field(line, 6, 9)
            if no_bnd_labels:
                lab = "-"
            else:
                if t not in SD_BOND_LABEL:
                    raise InputError("record %d: bond type %d" % (pos, t))
                lab = SD_BOND_LABEL[t]
            col_bonds.append((a, b, lab))
        if use_rdkit:
            block = "\n".join(rec) + "\n"
            m = Chem.MolFromMolBlock(block, sanitize=False, removeHs=False, strictParsing=False)
            if m is None:
                raise InputError("record %d (%s): RDKit could not parse it" % (pos, name))
            labels = [a.GetSymbol() for a in m.GetAtoms()]
            bonds = []
            for bd in m.GetBonds():
                a, b = bd.GetBeginAtomIdx(), bd.GetEndAtomIdx()
                if no_bnd_labels:
                    lab = "-"
                else:
                    if bd.GetBondType() not in rd_map:
                        raise InputError("record %d: bond type %s" % (pos, bd.GetBondType()))
                    lab = rd_map[bd.GetBondType()]
                bonds.append((a, b, lab))
            # RDKit and the column reading must agree (guards the RDKit side:
            # no kekulisation, no symbol rewriting).
            if labels != col_labels:
                raise InputError("record %d (%s): RDKit symbols %s differ from columns %s"
                                 % (pos, name, labels, col_labels))
            if sorted((min(a, b), max(a, b), l) for a, b, l in bonds) != \
                    sorted((min(a, b), max(a, b), l) for a, b, l in col_bonds):
                raise InputError("record %d (%s): RDKit bonds differ from the bond block" % (pos, name))
        else:
            labels, bonds = col_labels, col_bonds
        comps.append(Compound(name, labels, bonds))
    return comps


def mol2_tokens(line):
    return [t for t in line.split(" ") if t != ""]


def read_mol2(path, no_atm_labels, no_bnd_labels):
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    comps = []
    i = 0
    n = len(lines)
    # Molecules start at header lines.
    starts = [k for k in range(n) if lines[k].startswith("@<TRIPOS>MOLECULE")]
    for pos, s in enumerate(starts, start=1):
        name_line = lines[s + 1] if s + 1 < n else ""
        name = str(pos) if (name_line == "" or name_line.startswith("*")) else name_line
        k = s + 2
        while k < n and not lines[k].startswith("@<TRIPOS>ATOM"):
            k += 1
        k += 1
        labels = []
        in_atoms = True
        while k < n and not lines[k].startswith("@<TRIPOS>BOND"):
            # Another section between the atoms and the bonds (Open Babel
            # writes @<TRIPOS>UNITY_ATOM_ATTR there for charged atoms) holds
            # no atoms: skip it up to the bond section.
            if lines[k].startswith("@<TRIPOS>"):
                in_atoms = False
            if not in_atoms:
                k += 1
                continue
            toks = mol2_tokens(lines[k])
            if len(toks) < 6:
                raise InputError("molecule %s: short atom line %r" % (name, lines[k]))
            t = toks[5]
            if no_atm_labels:
                t = t.split(".", 1)[0]
            labels.append(t)
            k += 1
        k += 1
        bonds = []
        while k < n and not lines[k].startswith("@<TRIPOS>") and lines[k] != "":
            toks = mol2_tokens(lines[k])
            if len(toks) < 4:
                raise InputError("molecule %s: short bond line %r" % (name, lines[k]))
            a, b, t = int(toks[1]) - 1, int(toks[2]) - 1, toks[3]
            k += 1
            if t in MOL2_DROPPED:
                continue
            if t not in MOL2_BOND_LABEL:
                raise InputError("molecule %s: bond type %r" % (name, t))
            bonds.append((a, b, "-" if no_bnd_labels else MOL2_BOND_LABEL[t]))
        comps.append(Compound(name, labels, bonds))
    return comps


def read_input(path, no_atm, no_bnd, use_rdkit=True, fmt=None):
    """fmt None: chosen as the program chooses it for the file name alone
    (the character after the first '.' of the base name is 'm': Mol2)."""
    if fmt is None:
        base = os.path.basename(path)
        dot = base.find(".")
        if dot < 0:
            raise InputError("input name has no extension")
        fmt = "mol2" if base[dot + 1:dot + 2] == "m" else "sd"
    if fmt == "mol2":
        return read_mol2(path, no_atm, no_bnd), "mol2"
    return read_sd(path, no_bnd, use_rdkit), "sd"


# --------------------------------------------------------------------------
# Enumeration of connected acyclic bond sets, in the program's emission order
# --------------------------------------------------------------------------

def enumerate_bond_sets(nv, bonds, L, emit):
    """Calls emit(list_of_bond_indices) once for every connected acyclic set of
    exactly L bonds. Order: depth first over the bond slots; at every step the
    lowest-index bond not yet ruled out that leaves the set connected and
    acyclic is taken first in, then ruled out."""
    m = len(bonds)
    if L < 1 or m < L:
        return
    ea = [b[0] for b in bonds]
    eb = [b[1] for b in bonds]
    inc = [0] * nv
    for i in range(m):
        inc[ea[i]] |= 1 << i
        inc[eb[i]] |= 1 << i

    def grow(frag, vmask, touch, out):
        while True:
            cand = touch & ~out
            if not cand:
                return
            low = cand & -cand
            e = low.bit_length() - 1
            ina = (vmask >> ea[e]) & 1
            inb = (vmask >> eb[e]) & 1
            if ina and inb:
                # closes a ring (or is already in): never usable on this path
                out |= low
                continue
            w = eb[e] if ina else ea[e]
            frag.append(e)
            if len(frag) == L:
                emit(frag)
            else:
                grow(frag, vmask | (1 << w), touch | inc[w], out | low)
            frag.pop()
            out |= low

    for e in range(m):
        a, b = ea[e], eb[e]
        frag = [e]
        if L == 1:
            emit(frag)
        else:
            grow(frag, (1 << a) | (1 << b), inc[a] | inc[b], ((1 << e) - 1) | (1 << e))


def brute_force_bond_sets(nv, bonds, L):
    """Set of frozensets: every connected acyclic L-bond set, by plain BFS growth."""
    m = len(bonds)
    level = set()
    for e in range(m):
        level.add(frozenset([e]))
    for _ in range(L - 1):
        nxt = set()
        for s in level:
            verts = set()
            for e in s:
                verts.add(bonds[e][0])
                verts.add(bonds[e][1])
            for e in range(m):
                if e in s:
                    continue
                a, b = bonds[e][0], bonds[e][1]
                if (a in verts) != (b in verts):
                    nxt.add(s | {e})
        level = nxt
    return level if m >= L else set()


# --------------------------------------------------------------------------
# Canonical form of a labelled tree
# --------------------------------------------------------------------------

def canon_tree(vlabels, edges):
    """vlabels: dict vertex -> label; edges: list of (a, b, edge_label) forming a tree.
    Returns a hashable canonical key: equal keys <=> isomorphic labelled trees."""
    adj = {v: [] for v in vlabels}
    for a, b, lab in edges:
        adj[a].append((b, lab))
        adj[b].append((a, lab))
    # centre(s) by stripping leaves
    deg = {v: len(adj[v]) for v in adj}
    remaining = len(adj)
    layer = [v for v in adj if deg[v] <= 1]
    removed = set()
    while remaining > 2:
        nxt = []
        for v in layer:
            removed.add(v)
            remaining -= 1
            for u, _ in adj[v]:
                if u not in removed:
                    deg[u] -= 1
                    if deg[u] == 1:
                        nxt.append(u)
        layer = nxt
    centres = [v for v in adj if v not in removed]

    def enc(v, parent):
        return (vlabels[v], tuple(sorted((lab, enc(u, v)) for u, lab in adj[v] if u != parent)))

    if len(centres) == 1:
        return (0, enc(centres[0], None))
    c1, c2 = centres
    lab = next(l for u, l in adj[c1] if u == c2)
    e1, e2 = enc(c1, c2), enc(c2, c1)
    if e2 < e1:
        e1, e2 = e2, e1
    return (1, lab, e1, e2)


def key_text(key):
    """Readable rendering of a canonical key, e.g. C(-C(-O))."""
    def r(node):
        lab, kids = node
        if not kids:
            return lab
        return lab + "(" + ",".join(el + r(k) for el, k in kids) + ")"
    if key[0] == 0:
        return r(key[1])
    return r(key[2]) + " " + key[1] + " " + r(key[3])


def key_bonds(key):
    def cnt(node):
        return sum(1 + cnt(k) for _, k in node[1])
    if key[0] == 0:
        return cnt(key[1])
    return 1 + cnt(key[2]) + cnt(key[3])


def is_branched(edges):
    deg = collections.Counter()
    for a, b, _ in edges:
        deg[a] += 1
        deg[b] += 1
    return any(d >= 3 for d in deg.values())


# --------------------------------------------------------------------------
# The expected results
# --------------------------------------------------------------------------

class Expected:
    pass


def compute(comps, lmin, lmax, fmin, ds):
    """Runs the whole length sweep. Result fields:
    per_length[L] = dict key -> set of compound indices
    occ[c] = list of (L, key, freq) in first-production order
    frag_id[key] = fragment id (order of first entry over the run)
    length_rows[L] = (cumulative distinct count, cumulative descriptors)
    desc[L] = set of keys that are descriptors"""
    ex = Expected()
    ex.n = len(comps)
    ex.per_length = {}
    ex.occ = [[] for _ in comps]
    ex.frag_id = {}
    ex.length_rows = []
    ex.desc = {}
    count = 0
    k = 0
    for L in range(lmin, lmax + 1):
        table = {}
        for ci, c in enumerate(comps):
            freq = collections.OrderedDict()
            labels = c.labels
            bonds = c.bonds

            def emit(frag):
                edges = [bonds[e] for e in frag]
                if ds != "QZ":
                    br = is_branched(edges)
                    if (ds == "TF") != br:
                        return
                vl = {}
                for a, b, _ in edges:
                    vl[a] = labels[a]
                    vl[b] = labels[b]
                key = canon_tree(vl, edges)
                freq[key] = freq.get(key, 0) + 1

            enumerate_bond_sets(len(labels), bonds, L, emit)
            for key, f in freq.items():
                if key not in table:
                    table[key] = set()
                    count += 1
                    ex.frag_id[key] = count
                table[key].add(ci)
                ex.occ[ci].append((L, key, f))
        ex.per_length[L] = table
        d = set(key for key, cs in table.items() if len(cs) >= fmin)
        ex.desc[L] = d
        k += len(d)
        ex.length_rows.append((L, count, k))
    ex.k = k
    return ex


def expected_stdout(ex):
    out = ["total compounds = %d" % ex.n]
    for L, c, k in ex.length_rows:
        out.append("threshold = %d" % L)
        out.append("total upto this threshold = %d,value of k = %d" % (c, k))
    out.append("total features stored after freq elimination = %d" % ex.k)
    out.append("Descriptors generated : writing id and frequency files")
    return out


# --------------------------------------------------------------------------
# Reading a run's outputs
# --------------------------------------------------------------------------

def parse_out_line(line, want_name):
    """Returns (name, n, [(id, freq)]) or raises ValueError."""
    if not line.startswith('"'):
        raise ValueError("line does not start with a double quote")
    prefix = '"' + want_name + '",'
    if line.startswith(prefix):
        name, rest = want_name, line[len(prefix):]
    else:
        q = line.rfind('",')
        if q < 1:
            raise ValueError("no closing quote")
        name, rest = line[1:q], line[q + 2:]
    nums = rest.split(",")
    vals = [int(x) for x in nums]
    n = vals[0]
    pairs = vals[1:]
    if len(pairs) != 2 * n:
        raise ValueError("count %d but %d numbers follow" % (n, len(pairs)))
    return name, n, [(pairs[2 * i], pairs[2 * i + 1]) for i in range(n)]


def parse_frag_sd(path, problems):
    """Returns list of (title, key, nbonds); records format-checked on the way."""
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    if data and not data.endswith("\n"):
        problems.append("fragment file does not end with a newline")
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    recs = []
    i = 0
    while i < len(lines):
        rno = len(recs) + 1
        try:
            title = int(lines[i])
            if str(title) != lines[i]:
                raise ValueError("title %r" % lines[i])
            if lines[i + 1] != "  QZ                2D" or lines[i + 2] != "":
                raise ValueError("program/comment lines %r %r" % (lines[i + 1], lines[i + 2]))
            cl = lines[i + 3]
            if len(cl) != 33:
                raise ValueError("counts line %r" % cl)
            fields = [int(cl[3 * j:3 * j + 3]) for j in range(11)]
            if "%3d" * 11 % tuple(fields) != cl or any(fields[2:]):
                raise ValueError("counts line %r" % cl)
            na, nb = fields[0], fields[1]
            vl = {}
            for a in range(na):
                al = lines[i + 4 + a]
                head = "    0.0000    0.0000    0.0000 "
                tail = " 0  0  0  0  0  0  0"
                if not al.startswith(head) or not al.endswith(tail) or len(al) != len(head) + 3 + len(tail):
                    raise ValueError("atom line %r" % al)
                sym = al[len(head):len(head) + 3]
                lab = sym.rstrip(" ")
                if lab == "" or " " in lab:
                    raise ValueError("atom symbol %r" % sym)
                vl[a] = lab
            edges = []
            prev = None
            for b in range(nb):
                bl = lines[i + 4 + na + b]
                if len(bl) != 21 or not bl.endswith("  0  0  0  0"):
                    raise ValueError("bond line %r" % bl)
                x, y, t = int(bl[0:3]), int(bl[3:6]), int(bl[6:9])
                if "%3d%3d%3d  0  0  0  0" % (x, y, t) != bl:
                    raise ValueError("bond line %r" % bl)
                if not (1 <= x < y <= na) or t not in SD_BOND_LABEL:
                    raise ValueError("bond line %r" % bl)
                if prev is not None and (x, y) <= prev:
                    raise ValueError("bond lines not in order of lower atom, then higher: %r" % bl)
                prev = (x, y)
                edges.append((x - 1, y - 1, SD_BOND_LABEL[t]))
            j = i + 4 + na + nb
            if lines[j] != "M  END" or lines[j + 1] != "$$$$":
                raise ValueError("record end %r %r" % (lines[j], lines[j + 1]))
            if nb != na - 1 or len(set(vl)) != na:
                raise ValueError("not a tree: %d atoms, %d bonds" % (na, nb))
            recs.append((title, canon_tree(vl, edges), nb))
            i = j + 2
        except (ValueError, IndexError) as exc:
            problems.append("fragment file record %d (line %d): %s" % (rno, i + 1, exc))
            return recs
    return recs


def parse_frag_mol2(path, problems):
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    recs = []
    i = 0
    mol2_type = {"  1": "-", "  2": "=", "  3": "#", " ar": "~", " am": "*"}
    while i < len(lines):
        rno = len(recs) + 1
        try:
            if lines[i] != "@<TRIPOS>MOLECULE":
                raise ValueError("header %r" % lines[i])
            title = int(lines[i + 1])
            if str(title) != lines[i + 1]:
                raise ValueError("name %r" % lines[i + 1])
            cl = lines[i + 2]
            fields = [int(cl[3 * j:3 * j + 3]) for j in range(5)]
            if "%3d" * 5 % tuple(fields) != cl or any(fields[2:]):
                raise ValueError("counts line %r" % cl)
            na, nb = fields[0], fields[1]
            if lines[i + 3:i + 7] != ["SMALL", "QZ FRAGMENT", "", ""] or lines[i + 7] != "@<TRIPOS>ATOM":
                raise ValueError("type lines %r" % lines[i + 3:i + 8])
            vl = {}
            for a in range(na):
                al = lines[i + 8 + a]
                parts = al.split("\t")
                # "", "%4d basicL", "0.0000", "0.0000", "0.0000 label", "0  UNK", "0.000"
                if len(parts) != 7 or parts[0] != "" or parts[2] != "0.0000" or parts[3] != "0.0000" \
                        or parts[5] != "0  UNK" or parts[6] != "0.000":
                    raise ValueError("atom line %r" % al)
                num, basic = parts[1][:4], parts[1][5:]
                if int(num) != a + 1 or "%4d " % (a + 1) != parts[1][:5]:
                    raise ValueError("atom number in %r" % al)
                if not parts[4].startswith("0.0000 "):
                    raise ValueError("atom line %r" % al)
                lab = parts[4][7:]
                if basic != lab.split(".", 1)[0]:
                    raise ValueError("atom name %r does not match type %r" % (basic, lab))
                vl[a] = lab
            j = i + 8 + na
            if lines[j] != "@<TRIPOS>BOND":
                raise ValueError("bond header %r" % lines[j])
            edges = []
            prev = None
            for b in range(nb):
                bl = lines[j + 1 + b]
                parts = bl.split("\t")
                if len(parts) != 4 or parts[0] != "" or len(parts[3]) != 6:
                    raise ValueError("bond line %r" % bl)
                bn, x, y = int(parts[1]), int(parts[2]), int(parts[3][:3])
                t = parts[3][3:]
                if "%3d" % bn != parts[1] or "%3d" % x != parts[2] or "%3d" % y != parts[3][:3] \
                        or bn != b + 1 or t not in mol2_type or not (1 <= x < y <= na):
                    raise ValueError("bond line %r" % bl)
                if prev is not None and (x, y) <= prev:
                    raise ValueError("bond lines not in order of lower atom, then higher: %r" % bl)
                prev = (x, y)
                edges.append((x - 1, y - 1, mol2_type[t]))
            j = j + 1 + nb
            if lines[j] != "":
                raise ValueError("record end %r" % lines[j])
            if nb != na - 1:
                raise ValueError("not a tree")
            recs.append((title, canon_tree(vl, edges), nb))
            i = j + 1
        except (ValueError, IndexError) as exc:
            problems.append("fragment file record %d (line %d): %s" % (rno, i + 1, exc))
            return recs
    return recs


# --------------------------------------------------------------------------
# Comparison
# --------------------------------------------------------------------------

class Report:
    def __init__(self, limit):
        self.limit = limit
        self.sections = collections.OrderedDict()

    def add(self, section, msg):
        self.sections.setdefault(section, []).append(msg)

    def ok(self):
        return not self.sections

    def show(self):
        for sec, msgs in self.sections.items():
            print("MISMATCH [%s]: %d difference(s)" % (sec, len(msgs)))
            for m in msgs[:self.limit]:
                print("  " + m)
            if len(msgs) > self.limit:
                print("  ... %d more" % (len(msgs) - self.limit))


def compare(comps, ex, stdout_lines, out_lines, frag_recs, frag_problems, rep, fmt):
    names = [c.name for c in comps]
    # 1. standard output
    if stdout_lines is not None:
        want = expected_stdout(ex)
        got = stdout_lines
        for i in range(max(len(want), len(got))):
            w = want[i] if i < len(want) else "<nothing>"
            g = got[i] if i < len(got) else "<nothing>"
            if w != g:
                rep.add("stdout", "line %d: expected %r, got %r" % (i + 1, w, g))

    # descriptor id ranges per length
    ranges = {}
    prev = 0
    for L, c, k in ex.length_rows:
        ranges[L] = (prev + 1, k)
        prev = k

    def length_of(d):
        for L, (lo, hi) in ranges.items():
            if lo <= d <= hi:
                return L
        return None

    # 2. descriptor file
    sarvik_rows = None
    if out_lines is not None:
        if len(out_lines) != len(comps):
            rep.add("out-lines", "expected %d lines, got %d" % (len(comps), len(out_lines)))
        sarvik_rows = []
        for ci in range(min(len(out_lines), len(comps))):
            try:
                name, n, pairs = parse_out_line(out_lines[ci], names[ci])
            except ValueError as exc:
                rep.add("out-format", "line %d: %s: %r" % (ci + 1, exc, out_lines[ci][:120]))
                sarvik_rows.append([])
                continue
            if name != names[ci]:
                rep.add("out-names", "line %d: expected name %r, got %r" % (ci + 1, names[ci], name))
            ids = [d for d, _ in pairs]
            if len(set(ids)) != len(ids):
                rep.add("out-format", "line %d: a descriptor id repeats" % (ci + 1))
            for d, f in pairs:
                if not (1 <= d <= ex.k) or f < 1:
                    rep.add("out-format", "line %d: pair %d,%d out of range (K=%d)" % (ci + 1, d, f, ex.k))
            want_pairs = [(L, key, f) for L, key, f in ex.occ[ci] if key in ex.desc[L]]
            if n != len(want_pairs):
                rep.add("out-count", "compound %d %r: expected %d descriptors, got %d"
                        % (ci + 1, names[ci], len(want_pairs), n))
            sarvik_rows.append(pairs)

        # 2a. order-free check: per length, the multiset of column vectors
        for L in ranges:
            lo, hi = ranges[L]
            scol = collections.defaultdict(list)
            for ci, pairs in enumerate(sarvik_rows):
                for d, f in pairs:
                    if lo <= d <= hi:
                        scol[d].append((ci, f))
            ocol = collections.defaultdict(list)
            for ci in range(len(comps)):
                for L2, key, f in ex.occ[ci]:
                    if L2 == L and key in ex.desc[L]:
                        ocol[key].append((ci, f))
            sv = collections.Counter(tuple(v) for v in scol.values())
            ov = collections.Counter(tuple(v) for v in ocol.values())
            if sv != ov:
                extra = sv - ov
                missing = ov - sv
                rep.add("columns", "length %d: %d descriptor columns expected (%d distinct vectors), got %d;"
                        " %d expected vectors unmatched, %d unexpected" %
                        (L, len(ocol), len(ov), len(scol), sum(missing.values()), sum(extra.values())))
                inv = collections.defaultdict(list)
                for key, v in ocol.items():
                    inv[tuple(v)].append(key)
                for v in list(missing)[:3]:
                    rep.add("columns", "  length %d: expected fragment %s in compounds {%s} not found" %
                            (L, key_text(inv[v][0]), ", ".join("%s:%d" % (names[c], f) for c, f in v[:8])))
                sinv = collections.defaultdict(list)
                for d, v in scol.items():
                    sinv[tuple(v)].append(d)
                for v in list(extra)[:3]:
                    rep.add("columns", "  length %d: descriptor %d has unexpected compounds {%s}" %
                            (L, sinv[v][0], ", ".join("%s:%d" % (names[c], f) for c, f in v[:8])))

    # 3. fragment file pins descriptor id -> fragment
    desc_key = {}
    if frag_recs is not None:
        for p in frag_problems:
            rep.add("frag-format", p)
        if len(frag_recs) != ex.k and not frag_problems:
            rep.add("frag-records", "expected %d records, got %d" % (ex.k, len(frag_recs)))
        for d, (title, key, nb) in enumerate(frag_recs, start=1):
            desc_key[d] = key
            L = length_of(d)
            if L is None:
                continue
            if nb != L:
                rep.add("frag-content", "record %d: %d bonds, but descriptor ids %d..%d are length %d"
                        % (d, nb, ranges[L][0], ranges[L][1], L))
            elif key not in ex.desc[L]:
                rep.add("frag-content", "record %d (title %d): fragment %s is no expected descriptor of length %d"
                        % (d, title, key_text(key), L))
            elif ex.frag_id[key] != title:
                rep.add("frag-ids", "record %d: fragment %s: expected fragment id %d, title says %d"
                        % (d, key_text(key), ex.frag_id[key], title))
        keys = list(desc_key.values())
        if len(set(keys)) != len(keys):
            rep.add("frag-content", "the same fragment is written in two records")
        for L in ranges:
            lo, hi = ranges[L]
            got = set(desc_key[d] for d in range(lo, hi + 1) if d in desc_key)
            for key in sorted(ex.desc[L] - got, key=lambda x: ex.frag_id[x])[:5]:
                rep.add("frag-content", "length %d: descriptor %s (fragment id %d, %d compounds) has no record"
                        % (L, key_text(key), ex.frag_id[key], len(ex.per_length[L][key])))

    # 4. exact per-compound check
    if sarvik_rows is not None:
        if not desc_key:
            # Without the fragment file, the position of each pair on the line
            # pins the id: the oracle lists a compound's fragments in the order
            # they are first met.
            votes = collections.defaultdict(collections.Counter)
            for ci, pairs in enumerate(sarvik_rows):
                want_pairs = [(L, key, f) for L, key, f in ex.occ[ci] if key in ex.desc[L]]
                for (d, f), (L, key, wf) in zip(pairs, want_pairs):
                    votes[d][key] += 1
            for d, cnt in votes.items():
                desc_key[d] = cnt.most_common(1)[0][0]
            src = "line position"
        else:
            src = "fragment file"
        for ci, pairs in enumerate(sarvik_rows):
            want = [(key, f) for L, key, f in ex.occ[ci] if key in ex.desc[L]]
            got = [(desc_key.get(d), f) for d, f in pairs]
            if got == want:
                continue
            if collections.Counter(got) == collections.Counter(want):
                for j, (g, w) in enumerate(zip(got, want)):
                    if g != w:
                        rep.add("out-order", "compound %d %r: pair %d: expected %s x%d, got %s x%d (descriptor %d)"
                                " (same pairs, other order; ids via %s)"
                                % (ci + 1, names[ci], j + 1, key_text(w[0]), w[1],
                                   key_text(g[0]) if g[0] else "?", g[1], pairs[j][0], src))
                        break
                continue
            wc, gc = collections.Counter(want), collections.Counter(got)
            for key, f in list((wc - gc).elements())[:4]:
                gf = [gf for gk, gf in got if gk == key]
                rep.add("out-pairs", "compound %d %r: length %d fragment %s: expected freq %d, got %s (ids via %s)"
                        % (ci + 1, names[ci], key_bonds(key), key_text(key), f,
                           gf[0] if gf else "nothing", src))
            for key, f in list((gc - wc).elements())[:4]:
                if not any(wk == key for wk, _ in want):
                    rep.add("out-pairs", "compound %d %r: unexpected %s x%d (ids via %s)"
                            % (ci + 1, names[ci], key_text(key) if key else "unknown descriptor", f, src))


def read_lines(path):
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


# --------------------------------------------------------------------------
# Modes
# --------------------------------------------------------------------------

def summary(comps, ex, show_fragments):
    print("compounds: %d" % len(comps))
    for L, c, k in ex.length_rows:
        table = ex.per_length[L]
        occ = sum(f for row in ex.occ for L2, _, f in row if L2 == L)
        print("length %d: %d distinct fragments, %d descriptors, %d bond sets; cumulative %d / %d"
              % (L, len(table), len(ex.desc[L]), occ, c, k))
        if show_fragments:
            for key in sorted(table, key=lambda x: ex.frag_id[x]):
                print("   id %d  compounds %d  %s" % (ex.frag_id[key], len(table[key]), key_text(key)))
    for ci, c in enumerate(comps):
        per = collections.Counter()
        dist = collections.Counter()
        for L, key, f in ex.occ[ci]:
            per[L] += f
            dist[L] += 1
        print("%d %r: %d atoms, %d bonds; bond sets per length %s; distinct %s"
              % (ci + 1, c.name, len(c.labels), len(c.bonds),
                 ",".join(str(per[L]) for L, _, _ in ex.length_rows),
                 ",".join(str(dist[L]) for L, _, _ in ex.length_rows)))


def mock_run(comps, ex, fmt, rng):
    """Writes what a correct run could write (descriptor ids shuffled within
    each length, fragment vertices in random order): (stdout, out lines, frag text).
    Used to test the comparison itself."""
    desc_id = {}
    order = []
    for L, _, _ in ex.length_rows:
        keys = sorted(ex.desc[L], key=lambda x: ex.frag_id[x])
        rng.shuffle(keys)
        for key in keys:
            order.append(key)
            desc_id[key] = len(order)
    out = []
    for ci, c in enumerate(comps):
        pairs = [(desc_id[key], f) for L, key, f in ex.occ[ci] if key in ex.desc[L]]
        out.append('"%s",%d' % (c.name, len(pairs)) + "".join(",%d,%d" % p for p in pairs))
    text = []
    sd_type = {"-": 1, "=": 2, "#": 3, "~": 4}
    m2_type = {"-": "  1", "=": "  2", "#": "  3", "~": " ar", "*": " am"}
    for key in order:
        verts, edges = [], []

        def build(node, parent, el):
            v = len(verts)
            verts.append(node[0])
            if parent is not None:
                edges.append((parent, v, el))
            for cel, kid in node[1]:
                build(kid, v, cel)
        if key[0] == 0:
            build(key[1], None, None)
        else:
            build(key[2], None, None)
            first = len(verts)
            build(key[3], None, None)
            edges.append((0, first, key[1]))
        perm = list(range(len(verts)))
        rng.shuffle(perm)
        vl = [None] * len(verts)
        for v, lab in enumerate(verts):
            vl[perm[v]] = lab
        es = sorted((min(perm[a], perm[b]), max(perm[a], perm[b]), l) for a, b, l in edges)
        if fmt == "sd":
            text.append("%d\n  QZ                2D\n\n" % ex.frag_id[key])
            text.append("%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d\n" % ((len(vl), len(es)) + (0,) * 9))
            for lab in vl:
                text.append("    0.0000    0.0000    0.0000 " + lab.ljust(3) + " 0  0  0  0  0  0  0\n")
            for a, b, l in es:
                text.append("%3d%3d%3d  0  0  0  0\n" % (a + 1, b + 1, sd_type[l]))
            text.append("M  END\n$$$$\n")
        else:
            text.append("@<TRIPOS>MOLECULE\n%d\n" % ex.frag_id[key])
            text.append("%3d%3d%3d%3d%3d\n" % (len(vl), len(es), 0, 0, 0))
            text.append("SMALL\nQZ FRAGMENT\n\n\n@<TRIPOS>ATOM\n")
            for v, lab in enumerate(vl):
                text.append("\t%4d %s\t0.0000\t0.0000\t0.0000 %s\t0  UNK\t0.000\n"
                            % (v + 1, lab.split(".", 1)[0], lab))
            text.append("@<TRIPOS>BOND\n")
            for n, (a, b, l) in enumerate(es, start=1):
                text.append("\t%3d\t%3d\t%3d%s\n" % (n, a + 1, b + 1, m2_type[l]))
            text.append("\n")
    return expected_stdout(ex), out, "".join(text)


def compare_mock(comps, ex, fmt, stdout, out, frag_text):
    import tempfile
    fd, path = tempfile.mkstemp(suffix="_frag.sdf")
    with os.fdopen(fd, "w") as f:
        f.write(frag_text)
    problems = []
    recs = parse_frag_sd(path, problems) if fmt == "sd" else parse_frag_mol2(path, problems)
    os.remove(path)
    rep = Report(5)
    compare(comps, ex, stdout, out, recs, problems, rep, fmt)
    rep_nofrag = Report(5)
    compare(comps, ex, stdout, out, None, [], rep_nofrag, fmt)
    return rep, rep_nofrag


def self_test():
    fails = []

    def check(cond, what):
        if not cond:
            fails.append(what)

    # ethanol C-C-O and methanol C-O, no hydrogens
    comps = [Compound("ethanol", ["C", "C", "O"], [(0, 1, "-"), (1, 2, "-")]),
             Compound("methanol", ["C", "O"], [(0, 1, "-")])]
    ex = compute(comps, 1, 7, 1, "QZ")
    cc = canon_tree({0: "C", 1: "C"}, [(0, 1, "-")])
    co = canon_tree({0: "O", 1: "C"}, [(1, 0, "-")])
    cco = canon_tree({0: "O", 1: "C", 2: "C"}, [(2, 1, "-"), (0, 1, "-")])
    check(ex.per_length[1] == {cc: {0}, co: {0, 1}}, "ethanol/methanol length 1")
    check(ex.per_length[2] == {cco: {0}}, "ethanol/methanol length 2")
    check(all(not ex.per_length[L] for L in range(3, 8)), "ethanol/methanol lengths 3-7 empty")
    check(ex.length_rows[0][1:] == (2, 2) and ex.length_rows[1][1:] == (3, 3)
          and ex.length_rows[-1][1:] == (3, 3), "ethanol/methanol cumulative counts")
    check(ex.occ[0] == [(1, cc, 1), (1, co, 1), (2, cco, 1)] and ex.occ[1] == [(1, co, 1)],
          "ethanol/methanol occurrence lists")
    check(ex.frag_id == {cc: 1, co: 2, cco: 3}, "ethanol/methanol fragment ids")
    check(expected_stdout(ex)[:3] == ["total compounds = 2", "threshold = 1",
                                      "total upto this threshold = 2,value of k = 2"], "stdout text")
    ex3 = compute(comps, 1, 2, 2, "QZ")
    check(ex3.k == 1 and ex3.desc[1] == {co}, "fmin 2 keeps only C-O")

    # six-ring of carbons
    ring = Compound("ring", ["C"] * 6, [(i, (i + 1) % 6, "-") for i in range(6)])
    ex = compute([ring], 5, 6, 1, "QZ")
    check(len(ex.per_length[5]) == 1 and ex.occ[0] == [(5, next(iter(ex.per_length[5])), 6)],
          "ring: one path of 5 with freq 6")
    check(not ex.per_length[6], "ring: nothing at 6")
    sets = []
    enumerate_bond_sets(6, ring.bonds, 5, lambda f: sets.append(tuple(f)))
    check(len(sets) == 6 and len(set(frozenset(s) for s in sets)) == 6, "ring: six distinct sets at 5")

    # star: centre 0, leaves 1..3; plus a path of 3 for the type filter
    star = Compound("star", ["C", "N", "O", "C"], [(0, 1, "-"), (0, 2, "="), (0, 3, "-")])
    path = Compound("path", ["C", "C", "C", "C"], [(0, 1, "-"), (1, 2, "-"), (2, 3, "-")])
    for ds, want in (("QZ", 2), ("TF", 1), ("PF", 1)):
        ex = compute([star, path], 3, 3, 1, ds)
        check(len(ex.per_length[3]) == want, "star/path type %s" % ds)
    ex = compute([star, path], 3, 3, 1, "TF")
    check([c for c in ex.per_length[3].values()] == [{0}], "TF keeps the star")
    ex = compute([star, path], 3, 3, 1, "PF")
    check([c for c in ex.per_length[3].values()] == [{1}], "PF keeps the path")
    ex = compute([star], 1, 2, 1, "QZ")
    # C-N, C=O, C-C at length 1; N-C=O, N-C-C, O=C-C at length 2
    check(len(ex.per_length[1]) == 3 and len(ex.per_length[2]) == 3, "star lengths 1,2")

    # emission order on the five-bond example graph
    bonds = [(0, 1, "-"), (0, 3, "-"), (1, 2, "-"), (2, 3, "-"), (2, 4, "-")]
    sets = []
    enumerate_bond_sets(5, bonds, 2, lambda f: sets.append(tuple(f)))
    check(sets == [(0, 1), (0, 2), (1, 3), (2, 3), (2, 4), (3, 4)], "emission order: %s" % sets)
    # disconnected parts
    bonds = [(0, 1, "-"), (1, 2, "-"), (3, 4, "-")]
    sets = []
    enumerate_bond_sets(5, bonds, 2, lambda f: sets.append(tuple(f)))
    check(sets == [(0, 1)], "disconnected: only the two-bond path")

    # canonical form: isomorphic trees equal, label/shape changes differ
    t1 = canon_tree({0: "C", 1: "C", 2: "O", 3: "N"}, [(0, 1, "-"), (1, 2, "="), (1, 3, "-")])
    t2 = canon_tree({5: "N", 6: "C", 7: "O", 8: "C"}, [(6, 7, "="), (6, 5, "-"), (8, 6, "-")])
    t3 = canon_tree({0: "C", 1: "C", 2: "O", 3: "N"}, [(0, 1, "="), (1, 2, "-"), (1, 3, "-")])
    t4 = canon_tree({0: "C", 1: "C", 2: "O", 3: "N"}, [(0, 1, "-"), (1, 2, "="), (2, 3, "-")])
    check(t1 == t2 and t1 != t3 and t1 != t4, "canonical form basics")
    # bicentred trees: C-C-N-C vs N-C-C-C
    a = canon_tree({0: "C", 1: "C", 2: "N", 3: "C"}, [(0, 1, "-"), (1, 2, "-"), (2, 3, "-")])
    b = canon_tree({0: "N", 1: "C", 2: "C", 3: "C"}, [(0, 1, "-"), (1, 2, "-"), (2, 3, "-")])
    c = canon_tree({0: "C", 1: "N", 2: "C", 3: "C"}, [(0, 1, "-"), (1, 2, "-"), (2, 3, "-")])
    check(a != b and a == c, "bicentred paths")

    # random graphs: ordered enumeration == brute force; canonical form stable
    rng = random.Random(12345)
    for trial in range(60):
        nv = rng.randint(2, 9)
        pairs = [(i, j) for i in range(nv) for j in range(i + 1, nv)]
        rng.shuffle(pairs)
        m = rng.randint(1, min(len(pairs), 12))
        labs = ["-", "=", "~"]
        bonds = sorted((a, b, rng.choice(labs)) for a, b in pairs[:m])
        vlab = [rng.choice(["C", "N", "O"]) for _ in range(nv)]
        for L in range(1, 6):
            got = []
            enumerate_bond_sets(nv, bonds, L, lambda f: got.append(frozenset(f)))
            bf = brute_force_bond_sets(nv, bonds, L)
            if len(got) != len(set(got)) or set(got) != bf:
                fails.append("random graph %d length %d: %d sets vs brute force %d" % (trial, L, len(got), len(bf)))
                break
            for s in got[:20]:
                edges = [bonds[e] for e in s]
                vl = {}
                for x, y, _ in edges:
                    vl[x] = vlab[x]
                    vl[y] = vlab[y]
                k1 = canon_tree(vl, edges)
                perm = list(range(nv))
                rng.shuffle(perm)
                k2 = canon_tree({perm[v]: l for v, l in vl.items()},
                                [(perm[y], perm[x], l) for x, y, l in reversed(edges)])
                if k1 != k2 or key_bonds(k1) != L:
                    fails.append("canonical form not invariant on trial %d" % trial)
    # canonical form separates non-isomorphic trees: count free trees on n vertices
    known = {4: 2, 5: 3, 6: 6, 7: 11}
    for nv in range(4, 8):
        keys = set()
        # all labelled trees via Pruefer sequences
        import itertools
        for seq in itertools.product(range(nv), repeat=nv - 2):
            degree = [1] * nv
            for x in seq:
                degree[x] += 1
            edges = []
            for x in seq:
                leaf = min(i for i in range(nv) if degree[i] == 1)
                edges.append((leaf, x, "-"))
                degree[leaf] -= 1
                degree[x] -= 1
            u, w = [i for i in range(nv) if degree[i] == 1]
            edges.append((u, w, "-"))
            keys.add(canon_tree({i: "C" for i in range(nv)}, edges))
        check(len(keys) == known[nv], "free trees on %d vertices: %d, expected %d" % (nv, len(keys), known[nv]))

    # readers on a small SD text with an aromatic bond and an empty title
    import tempfile
    d = tempfile.mkdtemp()
    try:
        sd = os.path.join(d, "t.sdf")
        with open(sd, "w") as f:
            f.write("\n  test\n\n  3  2  0  0  0  0  0  0  0  0999 V2000\n"
                    "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
                    "    0.0000    0.0000    0.0000 Cl  0  0  0  0  0  0  0  0  0  0  0  0\n"
                    "    0.0000    0.0000    0.0000 N   0  0  0  0  0  0  0  0  0  0  0  0\n"
                    "  1  2  4  0\n  3  1  2  0\nM  END\n$$$$\n"
                    "named\n\n\n  2  1  0  0  0  0  0  0  0  0999 V2000\n"
                    "    0.0000    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
                    "    0.0000    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
                    "  1  2  1  0\nM  END\n$$$$\n")
        comps = read_sd(sd, False)
        check([c.name for c in comps] == ["1", "named"], "SD names")
        check(comps[0].labels == ["C", "Cl", "N"] and comps[0].bonds == [(0, 1, "~"), (0, 2, "=")],
              "SD atoms and bonds: %s %s" % (comps[0].labels, comps[0].bonds))
        comps = read_sd(sd, True)
        check(comps[0].bonds == [(0, 1, "-"), (0, 2, "-")], "SD -NoBndLabels")
        m2 = os.path.join(d, "t.mol2")
        with open(m2, "w") as f:
            f.write("@<TRIPOS>MOLECULE\n*****\n 3 3 0 0 0\nSMALL\nGASTEIGER\n\n\n@<TRIPOS>ATOM\n"
                    "      1 C  0.0 0.0 0.0 C.ar 1 UNL1 0.0\n"
                    "      2 N  0.0 0.0 0.0 N.am 1 UNL1 0.0\n"
                    "      3 Cl 0.0 0.0 0.0 Cl 1 UNL1 0.0\n"
                    "@<TRIPOS>BOND\n     1 1 2 am\n     2 3 1 1\n     3 2 3 du\n"
                    "@<TRIPOS>MOLECULE\nsecond\n 2 1 0 0 0\nSMALL\nGASTEIGER\n\n\n@<TRIPOS>ATOM\n"
                    "      1 C  0.0 0.0 0.0 C.3 1 UNL1 0.0\n"
                    "      2 C  0.0 0.0 0.0 C.ar 1 UNL1 0.0\n"
                    "@<TRIPOS>BOND\n     1 1 2 ar\n")
        comps = read_mol2(m2, False, False)
        check([c.name for c in comps] == ["1", "second"], "Mol2 names")
        check(comps[0].labels == ["C.ar", "N.am", "Cl"] and comps[0].bonds == [(0, 1, "*"), (0, 2, "-")],
              "Mol2 atoms and bonds %s %s" % (comps[0].labels, comps[0].bonds))
        check(comps[1].bonds == [(0, 1, "~")], "Mol2 ar bond")
        comps = read_mol2(m2, True, True)
        check(comps[0].labels == ["C", "N", "Cl"] and comps[0].bonds == [(0, 1, "-"), (0, 2, "-")],
              "Mol2 -NoAtmLabels -NoBndLabels")
    finally:
        shutil.rmtree(d)

    # the comparison accepts a correct run and catches a wrong one
    rng = random.Random(7)
    vlab = ["C", "C.ar", "N", "O", "Cl"]
    comps = []
    for ci in range(6):
        nv = rng.randint(3, 9)
        bonds = set()
        for v in range(1, nv):
            u = rng.randrange(v)
            bonds.add((u, v, rng.choice(["-", "=", "~", "*"])))
        for _ in range(2):
            u, v = rng.sample(range(nv), 2)
            if not any({a, b} == {u, v} for a, b, _ in bonds):
                bonds.add((min(u, v), max(u, v), "-"))
        comps.append(Compound("m%d" % ci, [rng.choice(vlab) for _ in range(nv)], sorted(bonds)))
    for fmt in ("sd", "mol2"):
        use = comps if fmt == "mol2" else [Compound(c.name, [l.split(".")[0] for l in c.labels],
                                                    [(a, b, "~" if l == "*" else l) for a, b, l in c.bonds])
                                           for c in comps]
        ex = compute(use, 1, 5, 2, "QZ")
        stdout, out, frag = mock_run(use, ex, fmt, rng)
        rep, rep2 = compare_mock(use, ex, fmt, stdout, out, frag)
        check(rep.ok() and rep2.ok(), "%s mock run accepted: %s %s" % (fmt, dict(rep.sections), dict(rep2.sections)))
        # a frequency off by one
        bad = list(out)
        li = next(i for i, l in enumerate(bad) if l.count(",") > 2)
        parts = bad[li].split(",")
        parts[-1] = str(int(parts[-1]) + 1)
        bad[li] = ",".join(parts)
        rep, rep2 = compare_mock(use, ex, fmt, stdout, bad, frag)
        check("out-pairs" in rep.sections and "columns" in rep.sections and not rep2.ok(),
              "%s wrong frequency caught: %s" % (fmt, list(rep.sections)))
        # two pairs of one line swapped
        bad = list(out)
        li = next(i for i, l in enumerate(bad) if l.count(",") > 4)
        parts = bad[li].split(",")
        parts[2:4], parts[4:6] = parts[4:6], parts[2:4]
        bad[li] = ",".join(parts)
        rep, rep2 = compare_mock(use, ex, fmt, stdout, bad, frag)
        check(list(rep.sections) == ["out-order"], "%s swapped pairs caught: %s" % (fmt, list(rep.sections)))
        # a wrong count on the standard output
        bad = list(stdout)
        bad[2] = bad[2].replace("value of k = ", "value of k = 1")
        rep, _ = compare_mock(use, ex, fmt, bad, out, frag)
        check(list(rep.sections) == ["stdout"], "%s stdout difference caught" % fmt)
        # a wrong fragment id in a title
        if fmt == "sd":
            first, rest = frag.split("\n", 1)
            bad = str(int(first) + 1000) + "\n" + rest
            rep, _ = compare_mock(use, ex, fmt, stdout, out, bad)
            check("frag-ids" in rep.sections, "%s wrong title caught: %s" % (fmt, list(rep.sections)))

    if fails:
        print("self-test FAILED:")
        for f in fails:
            print("  " + f)
        return 1
    print("self-test passed")
    return 0


def main(argv):
    ap = argparse.ArgumentParser(description="Independent checker for Sarvik outputs")
    ap.add_argument("--input", help="input .sdf or .mol2 file")
    ap.add_argument("--out", help="descriptor file (.out) of the run")
    ap.add_argument("--stdout", help="captured standard output of the run")
    ap.add_argument("--frag", help="fragment file (<stem>_frag.sdf or _frag.mol2) of the run")
    ap.add_argument("--sarvik", help="run this Sarvik binary first (on a copy of the input in --workdir)")
    ap.add_argument("--workdir", help="scratch directory for --sarvik (default: a temporary one)")
    ap.add_argument("--expect-exit", type=int, default=0,
                    help="exit status of a complete run, for --sarvik (default 0)")
    ap.add_argument("--summary", action="store_true", help="print the oracle's own counts only")
    ap.add_argument("--fragments", action="store_true", help="with --summary, list every fragment")
    ap.add_argument("--self-test", action="store_true", help="run the built-in hand-checked cases")
    ap.add_argument("--format", choices=["sd", "mol2"],
                    help="input format (default: from the base name, as the program decides)")
    ap.add_argument("--own-sd-reader", action="store_true", help="read SD by columns instead of RDKit")
    ap.add_argument("--limit", type=int, default=8, help="differences shown per section")
    ap.add_argument("-lmin", type=int, default=1)
    ap.add_argument("-lmax", type=int, default=7)
    ap.add_argument("-fmin", type=int, default=1)
    ap.add_argument("-ds", default="QZ", choices=["QZ", "TF", "PF"])
    ap.add_argument("-NoAtmLabels", action="store_true")
    ap.add_argument("-NoBndLabels", action="store_true")
    args = ap.parse_args(argv)

    if args.self_test:
        return self_test()
    if not args.input:
        ap.error("--input is required")
    try:
        comps, fmt = read_input(args.input, args.NoAtmLabels, args.NoBndLabels, not args.own_sd_reader,
                                args.format)
    except InputError as exc:
        print("oracle: cannot read input: %s" % exc)
        return 2
    ex = compute(comps, args.lmin, args.lmax, args.fmin, args.ds)
    if args.summary:
        summary(comps, ex, args.fragments)
        return 0

    rep = Report(args.limit)
    stdout_path, out_path, frag_path = args.stdout, args.out, args.frag
    stdout_lines = None
    if args.sarvik:
        work = args.workdir or __import__("tempfile").mkdtemp(prefix="oracle_")
        os.makedirs(work, exist_ok=True)
        base = os.path.basename(args.input)
        shutil.copy(args.input, os.path.join(work, base))
        cmd = [os.path.abspath(args.sarvik)]
        if args.ds != "QZ":
            cmd += ["-ds", args.ds]
        cmd += ["-lmin", str(args.lmin), "-lmax", str(args.lmax), "-fmin", str(args.fmin)]
        if args.NoAtmLabels:
            cmd.append("-NoAtmLabels")
        if args.NoBndLabels:
            cmd.append("-NoBndLabels")
        cmd.append(base)
        stem = base[:base.find(".")]
        frag_name = stem + ("_frag.mol2" if base.lower().endswith(".mol2") else "_frag.sdf")
        for p in (stem + ".out", frag_name):
            if os.path.exists(os.path.join(work, p)):
                os.remove(os.path.join(work, p))
        proc = subprocess.run(cmd, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        with open(os.path.join(work, stem + ".stdout.txt"), "wb") as f:
            f.write(proc.stdout)
        print("ran: %s (in %s), exit status %d" % (" ".join(cmd), work, proc.returncode))
        if proc.returncode != args.expect_exit:
            rep.add("exit", "expected exit status %d after a complete run, got %d"
                    % (args.expect_exit, proc.returncode))
        if proc.stderr:
            rep.add("stderr", "unexpected standard error: %r" % proc.stderr[:300])
        if os.path.exists(os.path.join(work, base + ".dict")):
            rep.add("dict", "dictionary file %s.dict left behind" % base)
        stdout_path = os.path.join(work, stem + ".stdout.txt")
        out_path = os.path.join(work, stem + ".out")
        frag_path = os.path.join(work, frag_name)
    if stdout_path:
        stdout_lines = read_lines(stdout_path)
    out_lines = None
    if out_path:
        if os.path.exists(out_path):
            out_lines = read_lines(out_path)
        else:
            rep.add("out-lines", "descriptor file %s missing" % out_path)
    frag_recs, frag_problems = None, []
    if frag_path:
        if not os.path.exists(frag_path):
            rep.add("frag-records", "fragment file %s missing" % frag_path)
        elif fmt == "sd":
            frag_recs = parse_frag_sd(frag_path, frag_problems)
        else:
            frag_recs = parse_frag_mol2(frag_path, frag_problems)
    compare(comps, ex, stdout_lines, out_lines, frag_recs, frag_problems, rep, fmt)

    print("oracle: %d compounds, lengths %d..%d, -fmin %d, -ds %s%s%s: %d fragments, %d descriptors"
          % (len(comps), args.lmin, args.lmax, args.fmin, args.ds,
             " -NoAtmLabels" if args.NoAtmLabels else "", " -NoBndLabels" if args.NoBndLabels else "",
             ex.length_rows[-1][1] if ex.length_rows else 0, ex.k))
    checked = [n for n, v in (("stdout", stdout_lines), ("descriptor file", out_lines),
                              ("fragment file", frag_recs)) if v is not None]
    if rep.ok():
        print("MATCH: %s agree with the oracle" % ", ".join(checked))
        return 0
    rep.show()
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
