"""Reading the files the command line writes.

    names, X = sarvik.read_descriptors("mols.out", "mols_frag.sdf")
    fragments = sarvik.read_fragments("mols_frag.sdf", [0, 17])   # or "mols_frag.mol2"

read_descriptors gives the compound names in input order and a scipy.sparse CSR
matrix with one row per compound and one column per descriptor: column j holds
the occurrences of descriptor j + 1. Its width is the number of records of the
fragment file (every descriptor of the run), or the largest id in the descriptor
file when no fragment file is given.

read_fragments gives one RDKit molecule per chosen record of a fragment file
(all of them by default), record j + 1 being the fragment of column j; only the
chosen records are parsed. Molecules are made as FragmentDescriptors.fragment
makes them (see sarvik.fragments.fragment_molecule).
"""
import csv
import mmap

from . import fragments as _fragments


def read_descriptors(out_path, frag_path=None):
    """(names, matrix) of a descriptor file; see the module text."""
    import numpy as np
    import scipy.sparse

    names, indptr, cols, vals = [], [0], [], []
    width = 0
    with open(out_path, newline="") as f:
        for row, fields in enumerate(csv.reader(f)):
            names.append(fields[0])
            n = int(fields[1])
            pairs = fields[2:]
            if len(pairs) != 2 * n:
                raise ValueError("%s line %d: %d pairs announced, %d given"
                                 % (out_path, row + 1, n, len(pairs) // 2))
            ids = [int(d) for d in pairs[0::2]]
            cols.extend(d - 1 for d in ids)
            vals.extend(int(c) for c in pairs[1::2])
            indptr.append(len(cols))
            width = max([width] + ids)
    if frag_path is not None:
        records = count_fragments(frag_path)
        if records < width:
            raise ValueError("%s holds %d records, but %s lists descriptor %d"
                             % (frag_path, records, out_path, width))
        width = records
    matrix = scipy.sparse.csr_matrix(
        (np.array(vals, dtype=np.int64), np.array(cols, dtype=np.int64),
         np.array(indptr, dtype=np.int64)), shape=(len(names), width))
    matrix.sort_indices()
    return names, matrix


def _is_mol2(path):
    return str(path).lower().endswith(".mol2")


def _lines_starting(data, marker):
    """(start, end) of each line of data that is `marker` (before an optional
    carriage return), in order; end is behind the line's newline."""
    at, n = 0, len(data)
    while True:
        at = data.find(marker, at)
        if at < 0:
            return
        stop = data.find(b"\n", at)
        stop = n if stop < 0 else stop
        if (at == 0 or data[at - 1] == 10) and data[at + len(marker):stop] in (b"", b"\r"):
            yield at, min(stop + 1, n)
        at = stop


def count_fragments(frag_path):
    """Number of records (descriptors) in a fragment file."""
    with open(frag_path, "rb") as f:
        if f.seek(0, 2) == 0:
            return 0
        with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
            marker = b"@<TRIPOS>MOLECULE" if _is_mol2(frag_path) else b"$$$$"
            return sum(1 for _ in _lines_starting(data, marker))


def _record_texts(data, mol2, wanted):
    """({record index: its bytes} for the 0-based records in `wanted` (None:
    all), records seen). Stops reading behind the last record wanted."""
    last = None if wanted is None else max(wanted, default=-1)
    texts = {}
    k = 0
    if mol2:
        # A molecule runs from its header line to the next one.
        begun = None
        for start, _ in _lines_starting(data, b"@<TRIPOS>MOLECULE"):
            if begun is not None and (wanted is None or k - 1 in wanted):
                texts[k - 1] = data[begun:start]
            begun = start
            k += 1
            if last is not None and k - 1 > last:
                return texts, k
        if begun is not None and (wanted is None or k - 1 in wanted):
            texts[k - 1] = data[begun:]
        return texts, k
    start = 0
    for _, end in _lines_starting(data, b"$$$$"):
        if wanted is None or k in wanted:
            texts[k] = data[start:end]
        start = end
        k += 1
        if last is not None and k > last:
            break
    return texts, k


def _sd_record(text):
    """(title, atom labels, bonds (a, b, type)) of one SD record, atoms 0-based."""
    lines = text.split("\n")
    title, counts = lines[0], lines[3]
    natoms, nbonds = int(counts[0:3]), int(counts[3:6])
    atoms = [lines[4 + k][31:34].strip() for k in range(natoms)]
    bonds = []
    for k in range(nbonds):
        line = lines[4 + natoms + k]
        bonds.append((int(line[0:3]) - 1, int(line[3:6]) - 1, line[6:9].strip()))
    return title, atoms, bonds


def _mol2_record(text):
    """(title, atom types, bonds (a, b, type)) of one Mol2 molecule."""
    lines = text.split("\n")
    title = lines[1]
    atoms, bonds, section = [], [], None
    for line in lines[2:]:
        if line.startswith("@<TRIPOS>"):
            section = line.strip()
            continue
        fields = line.split()
        if section == "@<TRIPOS>ATOM" and len(fields) >= 6:
            atoms.append(fields[5])
        elif section == "@<TRIPOS>BOND" and len(fields) >= 3:
            bonds.append((int(fields[1]) - 1, int(fields[2]) - 1,
                          fields[3] if len(fields) > 3 else ""))
    return title, atoms, bonds


def read_fragments(frag_path, columns=None):
    """RDKit molecules of the chosen records of a fragment file; see the module text.

    columns: 0-based record indices (column j is record j + 1), in the order
    wanted; None reads every record. IndexError for a record the file lacks.
    """
    mol2 = _is_mol2(frag_path)
    wanted = None if columns is None else [int(c) for c in columns]
    with open(frag_path, "rb") as f:
        empty = f.seek(0, 2) == 0
        if empty:
            texts, count = {}, 0
        else:
            with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
                texts, count = _record_texts(data, mol2, None if wanted is None else set(wanted))
    order = range(count) if wanted is None else wanted
    mols = []
    for j in order:
        if j not in texts:
            raise IndexError("%s has no record %d (column %d)" % (frag_path, j + 1, j))
        text = texts[j].decode("utf-8", "replace").replace("\r\n", "\n")
        title, atoms, bonds = _mol2_record(text) if mol2 else _sd_record(text)
        mols.append(_fragments.fragment_molecule(title, atoms, bonds, mol2))
    return mols
