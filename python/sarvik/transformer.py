"""FragmentDescriptors: Sarvik's fragment descriptors as a scikit-learn transformer."""
import numbers
import os
import sys
import warnings

import numpy as np
import scipy.sparse
from sklearn.base import BaseEstimator, TransformerMixin
from sklearn.utils.validation import check_is_fitted

from . import _core
from . import fragments as _fragments
from . import inputs as _inputs

_TYPES = ("QZ", "TF", "PF")


class FragmentDescriptors(TransformerMixin, BaseEstimator):
    """Exact fragment descriptors: one column per labelled fragment, counts per compound.

    Every connected acyclic fragment of lmin to lmax bonds of every compound is
    found; equal fragments (same atom labels and bond types, up to numbering)
    are one descriptor, and the fragments met in at least fmin compounds of
    the collection `fit` sees become its columns. Column j holds how often
    descriptor j + 1 occurs in each compound, exactly as the command line's
    descriptor file has it (`fit_transform` equals its .out, `transform` its
    -dspace run in the fitted space).

    Parameters (the command line's options):
      lmin, lmax: smallest and largest fragment length, in bonds.
      ds: "QZ" every fragment, "TF" branched ones only, "PF" paths only.
      fmin: a fragment becomes a column when it occurs in at least fmin compounds.
      atom_labels: False compares Mol2 atoms by element only (-NoAtmLabels).
      bond_labels: False gives every bond one type (-NoBndLabels).
      aromatic: for SMILES and molecules: aromatic bonds stay aromatic (SD bond
        type 4), so that every spelling of a compound gives one vector. False
        writes Kekule bonds, whose places RDKit chooses by atom order: two
        spellings of one compound may then give different vectors.
      n_jobs: threads (0 or -1: every core; -2: all but one, ...); the same
        result for every value.
      on_error: for SMILES and molecules: "raise" refuses one that cannot be
        used (ValueError naming its 0-based position); "ignore" gives it an
        all-zero row, warns, and lists it in error_positions_. Files are read
        by the library: a malformed file always raises sarvik.Error.
      verbose: a progress bar (tqdm, where installed) over lengths and compounds.

    X: a path (str or os.PathLike) to an SD file or a Mol2 file (.mol2), or a
    sequence of SMILES strings or RDKit molecules. A molecule counts as the SD
    text Chem.MolToMolBlock(m, kekulize=not aromatic) writes: its atoms and
    hydrogens as present, charges and stereo not seen; a space fitted on Mol2
    input (Tripos atom types) transforms only Mol2 files.

    Fitted attributes: space_ (the descriptor space, held compactly: canonical
    forms over their labels), n_features_out_, fit_options_ (the options the
    space was made with, which transform uses), error_positions_ (items of the
    fit's input given all-zero rows).
    """

    def __init__(self, lmin=1, lmax=7, ds="QZ", fmin=1, atom_labels=True, bond_labels=True,
                 aromatic=True, n_jobs=1, on_error="raise", verbose=False):
        self.lmin = lmin
        self.lmax = lmax
        self.ds = ds
        self.fmin = fmin
        self.atom_labels = atom_labels
        self.bond_labels = bond_labels
        self.aromatic = aromatic
        self.n_jobs = n_jobs
        self.on_error = on_error
        self.verbose = verbose

    # ---- parameters ----

    def _options(self):
        """The space's options from the parameters, checked."""

        def whole(name, least):
            value = getattr(self, name)
            if not isinstance(value, numbers.Integral) or isinstance(value, bool) or value < least:
                raise ValueError("%s must be an int of at least %d, not %r" % (name, least, value))
            if value > 2**31 - 1:
                raise ValueError("%s must fit a C int, not %r" % (name, value))
            return int(value)

        options = {"lmin": whole("lmin", 1), "lmax": whole("lmax", 1), "fmin": whole("fmin", 1)}
        if self.ds not in _TYPES:
            raise ValueError("ds must be one of %s, not %r" % (", ".join(_TYPES), self.ds))
        options["ds"] = self.ds
        for name in ("atom_labels", "bond_labels"):
            if not isinstance(getattr(self, name), (bool, np.bool_)):
                raise ValueError("%s must be True or False, not %r" % (name, getattr(self, name)))
            options[name] = bool(getattr(self, name))
        self._threads()
        self._reading()
        return options

    def _threads(self):
        n = 1 if self.n_jobs is None else self.n_jobs
        if not isinstance(n, numbers.Integral) or isinstance(n, bool):
            raise ValueError("n_jobs must be an int or None, not %r" % (n,))
        if n in (0, -1):
            return 0
        if n < -1:
            return max(1, (os.cpu_count() or 1) + 1 + int(n))
        return min(int(n), 1024)

    def _reading(self):
        if self.on_error not in ("raise", "ignore"):
            raise ValueError("on_error must be 'raise' or 'ignore', not %r" % (self.on_error,))
        if not isinstance(self.aromatic, (bool, np.bool_)):
            raise ValueError("aromatic must be True or False, not %r" % (self.aromatic,))
        return {"aromatic": bool(self.aromatic), "on_error": self.on_error}

    # ---- runs ----

    def _collect(self, X, space=None):
        """X as the library reads it; refused when `space` cannot count it."""
        source = _inputs.collect(X, **self._reading())
        if space is not None and space.format == _inputs.MOL2 and source.format != _inputs.MOL2:
            raise ValueError("this space was fitted on Mol2 input (Tripos atom types): it "
                             "transforms Mol2 files only, not %s"
                             % ("SMILES or molecules" if source.molecules else "SD files"))
        if space is not None and space.format == _inputs.SD and source.format == _inputs.MOL2:
            raise ValueError("this space was fitted on SD input (atom symbols): it transforms "
                             "SD files, SMILES and molecules, not Mol2 files")
        return source

    def _run(self, source, options, space=None, matrix=True, make_space=False,
             occurrences=False):
        """One library run over source; molecules the library refuses are refused
        as on_error says, and the run made again without them."""
        bar = _Progress(self.verbose, options["lmin"], options["lmax"])
        try:
            while True:
                try:
                    result = _core.run(
                        source.data, source.format, source.name, options["ds"], options["lmin"],
                        options["lmax"], 1 if space is not None else options["fmin"],
                        options["atom_labels"], options["bond_labels"], self._threads(), space,
                        matrix, make_space, occurrences, bar.tick if bar.on else None)
                    break
                except _core.Error as e:
                    if not source.molecules or e.compound is None or e.kind != "input":
                        raise
                    source.refuse(e.compound - 1, "the library refuses the SD record RDKit "
                                  "writes for it: " + e.message)
                    source.seal()
        finally:
            bar.close()
        if source.failed:
            _warn("%d of %d items could not be used and give all-zero rows: positions %s"
                  % (len(source.failed), len(source), _positions(source.failed)))
        return result

    @staticmethod
    def _matrix(result, width):
        indptr, indices, data = result["matrix"]
        return scipy.sparse.csr_matrix((data, indices, indptr),
                                       shape=(result["compounds"], width), copy=False)

    def fit(self, X, y=None):
        """Makes the descriptor space of X; returns self."""
        self._fit(X, matrix=False)
        return self

    def fit_transform(self, X, y=None):
        """The descriptors of X in its own space, from one run: fit(X).transform(X)."""
        return self._fit(X, matrix=True)

    def _fit(self, X, matrix):
        options = self._options()
        source = self._collect(X)
        if source.molecules and len(source) == 0:
            raise ValueError("no compound to fit: X is empty")
        result = self._run(source, options, matrix=matrix, make_space=True)
        self.space_ = result["space"]
        self.n_features_out_ = len(self.space_)
        self.fit_options_ = options
        self.error_positions_ = list(source.failed)
        return self._matrix(result, self.n_features_out_) if matrix else None

    def transform(self, X):
        """The descriptors of X in the fitted space (the command line's -dspace)."""
        check_is_fitted(self, "space_")
        source = self._collect(X, self.space_)
        return self._matrix(self._run(source, self.fit_options_, self.space_),
                            self.n_features_out_)

    # ---- the space ----

    @classmethod
    def from_space(cls, path, **params):
        """A fitted transformer over the descriptor space of a fragment file
        (written by the command line, save_space or a cluster run), with the
        parameters the run that made it had (lmin, lmax, ds, atom_labels,
        bond_labels); sarvik.Error when its records do not fit them."""
        self = cls(**params)
        options = self._options()
        path = os.fsdecode(os.fspath(path))
        space = _core.Space.read(path, _inputs.format_of(path), path)
        # Counting nothing in the space checks every record against the options.
        self._run(_inputs.Collection(b"", space.format, path), options, space, matrix=False)
        self.space_ = space
        self.n_features_out_ = len(space)
        self.fit_options_ = options
        self.error_positions_ = []
        return self

    def save_space(self, path):
        """Writes the fitted space as its fragment file, byte for byte as the
        command line writes it (so that -dspace reads it)."""
        check_is_fitted(self, "space_")
        self.space_.save(os.fsdecode(os.fspath(path)), max(self._threads(), 1))

    def get_feature_names_out(self, input_features=None):
        """One name per column: the descriptor id, ':', then the fragment with
        every label, branches in parentheses, bonds - = # : (aromatic) ~ (Mol2
        amide); e.g. "17:C.3-C.2(=O.2)-N.am"."""
        check_is_fitted(self, "space_")
        return np.asarray(self.space_.names(), dtype=object)

    def fragment(self, j):
        """Column j's fragment as an RDKit molecule, ready to draw (see
        sarvik.fragments.fragment_molecule)."""
        check_is_fitted(self, "space_")
        if not isinstance(j, numbers.Integral) or not 0 <= j < self.n_features_out_:
            raise IndexError("no column %r: columns are 0 to %d" % (j, self.n_features_out_ - 1))
        title, atoms, bonds = self.space_.fragment(int(j) + 1)
        return _fragments.fragment_molecule(title, atoms, bonds,
                                            self.space_.format == _inputs.MOL2)

    def occurrences(self, X):
        """Where each column's fragments lie: one dict per compound of X, mapping
        each column j it holds to a list with one (atom indices, bond indices)
        pair per occurrence (of the molecule, or of the file's atom and bond
        lines, 0-based); its length is the count in transform(X)."""
        check_is_fitted(self, "space_")
        source = self._collect(X, self.space_)
        result = self._run(source, self.fit_options_, self.space_, matrix=False, occurrences=True)
        return result["occurrences"]

    def draw(self, mol, features, size=(400, 300), legend=""):
        """SVG text of mol (an RDKit molecule or a SMILES string) with the
        occurrences of the columns in `features` highlighted, one colour per
        column in the order given (sarvik.fragments.PALETTE)."""
        from rdkit import Chem

        if isinstance(mol, str):
            smiles, mol = mol, Chem.MolFromSmiles(mol)
            if mol is None:
                raise ValueError("RDKit cannot parse %r as SMILES" % smiles)
        found = self.occurrences([mol])[0]
        return _fragments.draw_highlighted(mol, found, [int(j) for j in features], size, legend)

    def _more_tags(self):
        return {"X_types": ["string"], "requires_y": False}


def _warn(message):
    """A warning shown as from the first caller outside this package and
    scikit-learn (which wraps transform and fit_transform)."""
    inside = tuple(os.path.dirname(os.path.abspath(f)) + os.sep
                   for f in (__file__, sys.modules["sklearn"].__file__))
    depth, frame = 2, sys._getframe(1)
    while frame is not None and os.path.abspath(frame.f_code.co_filename).startswith(inside):
        depth += 1
        frame = frame.f_back
    warnings.warn(message, stacklevel=depth)


def _positions(positions, shown=20):
    text = ", ".join(str(p) for p in positions[:shown])
    return text + (", ..." if len(positions) > shown else "")


class _Progress:
    """A tqdm bar over lengths and compounds, where tqdm is installed."""

    def __init__(self, verbose, lmin, lmax):
        self.on = bool(verbose)
        self.first = lmin
        self.lengths = max(lmax - lmin + 1, 1)
        self.bar = None
        if self.on:
            try:
                import tqdm  # noqa: F401
            except ImportError:
                self.on = False

    def tick(self, length, done, total):
        if total <= 0:
            return
        if self.bar is None:
            from tqdm import tqdm

            self.bar = tqdm(total=self.lengths * total, unit="compound")
        self.bar.set_description("length %d" % length)
        self.bar.n = min(self.bar.total, (length - self.first) * total + done)
        self.bar.refresh()

    def close(self):
        if self.bar is not None:
            self.bar.close()
