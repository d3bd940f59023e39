"""Sarvik: exact fragment descriptors of compound collections.

    import sarvik
    X = sarvik.FragmentDescriptors(lmax=6).fit_transform(["CCO", "c1ccccc1O"])

FragmentDescriptors is a scikit-learn transformer over SD and Mol2 files,
SMILES strings and RDKit molecules; read_descriptors and read_fragments read
the files the command line writes. Failures of a run raise sarvik.Error (a
ValueError) with the command line's message.
"""
from . import _core
from ._core import Error, Space
from .reader import count_fragments, read_descriptors, read_fragments
from .transformer import FragmentDescriptors

__version__ = _core.version()
__all__ = ["Error", "FragmentDescriptors", "Space", "count_fragments", "read_descriptors",
           "read_fragments"]
