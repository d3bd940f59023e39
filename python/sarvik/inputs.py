"""What a fit or transform reads: a file as the library reads it, or SMILES and
RDKit molecules written as SD text.

Molecules become exactly the SD text Chem.MolToMolBlock(m, kekulize=not
aromatic) writes, records joined by "$$$$" lines (without stereo, which the
descriptors do not see, so that no coordinates need computing); SMILES are
parsed by RDKit first. An item that cannot be used is refused by its 0-based
position, or, with on_error="ignore", written as an empty record (an all-zero
row) and listed in `failed`.
"""
import os

MOL2 = "mol2"
SD = "sd"


def format_of(path):
    """The format the library reads a file in: Mol2 when its name ends in .mol2."""
    last = os.path.basename(path)
    return MOL2 if "." in last and last.rsplit(".", 1)[1].lower() == MOL2 else SD


class Collection:
    """A collection of compounds as the library reads it.

    data: a path, or SD text as bytes; format: "sd" or "mol2"; name: what
    messages call it; molecules: whether it was made from SMILES or molecules;
    failed: 0-based positions written as empty records.
    """

    def __init__(self, data, format, name, items=None, on_error="raise"):
        self.data = data
        self.format = format
        self.name = name
        self.molecules = items is not None
        self._items = items
        self._blocks = None if items is None else [None] * len(items)
        self._on_error = on_error
        self.failed = []

    def __len__(self):
        return len(self._blocks)

    def refuse(self, position, why):
        """Item `position` cannot be used: ValueError, or an empty record."""
        if self._on_error == "raise":
            raise ValueError("item %d (%s) cannot be used: %s"
                             % (position, _describe(self._items[position]), why))
        self._blocks[position] = _empty_block()
        self.failed.append(position)

    def seal(self):
        """Makes data the SD text of the blocks."""
        self.failed.sort()
        self.data = "".join(b + "$$$$\n" for b in self._blocks).encode("utf-8", "surrogateescape")


def _empty_block():
    from rdkit import Chem

    return Chem.MolToMolBlock(Chem.Mol())


def _describe(item):
    """An item as messages show it: its SMILES, or a short repr."""
    from rdkit import Chem

    if isinstance(item, str):
        return repr(item if len(item) <= 200 else item[:200] + "...")
    if isinstance(item, Chem.Mol):
        name = item.GetProp("_Name") if item.HasProp("_Name") else ""
        try:
            smiles = Chem.MolToSmiles(item)
        except Exception:  # an unsanitised molecule may not write
            smiles = "?"
        return "molecule %r%s" % (smiles, " named %r" % name if name else "")
    text = repr(item)
    return text if len(text) <= 200 else text[:200] + "..."


def collect(X, aromatic=True, on_error="raise"):
    """The Collection of X: a path (str or os.PathLike) to an SD or Mol2 file,
    or a sequence (list, tuple, pandas Series or one-column DataFrame, numpy
    array) of SMILES strings and RDKit molecules."""
    if isinstance(X, (str, os.PathLike)):
        path = os.fsdecode(os.fspath(X))
        return Collection(path, format_of(path), path)
    if isinstance(X, (bytes, bytearray)):
        raise TypeError("give a path (str or os.PathLike), or a sequence of SMILES strings or "
                        "RDKit molecules; bytes are none of these")
    columns = getattr(X, "columns", None)
    if columns is not None:
        if len(columns) != 1:
            raise ValueError("a DataFrame of %d columns: give the one column that holds the "
                             "SMILES or molecules" % len(columns))
        X = X.iloc[:, 0]
    try:
        items = list(X)
    except TypeError:
        raise TypeError("give a path (str or os.PathLike), or a sequence of SMILES strings or "
                        "RDKit molecules, not %s" % type(X).__name__) from None
    from rdkit import Chem, rdBase

    out = Collection(None, SD, "molecules", items, on_error)
    blocks = out._blocks
    with rdBase.BlockLogs():
        for i, item in enumerate(items):
            if isinstance(item, str):
                mol = Chem.MolFromSmiles(item)
                if mol is None:
                    out.refuse(i, "RDKit cannot parse it as SMILES")
                    continue
            elif isinstance(item, Chem.Mol):
                mol = item
            else:
                out.refuse(i, "neither a SMILES string nor an RDKit molecule")
                continue
            if mol.GetNumAtoms() > 999 or mol.GetNumBonds() > 499:
                out.refuse(i, "more than 999 atoms or 499 bonds, more than an SD record holds")
                continue
            try:
                blocks[i] = Chem.MolToMolBlock(mol, includeStereo=False, kekulize=not aromatic)
            except Exception as e:  # RDKit's own errors (kekulisation) are of several types
                out.refuse(i, "RDKit cannot write it%s: %s"
                           % (" with Kekule bonds" if not aromatic else "", e))
    out.seal()
    return out
