"""Fragments as RDKit molecules, and molecules drawn with fragments highlighted."""

# One colour per highlighted descriptor, in the order given (RGB, 0 to 1).
PALETTE = (
    (0.90, 0.38, 0.00), (0.20, 0.55, 0.90), (0.30, 0.70, 0.25), (0.85, 0.25, 0.55),
    (0.60, 0.45, 0.85), (0.95, 0.75, 0.10), (0.40, 0.75, 0.75), (0.65, 0.50, 0.35),
)


def fragment_molecule(title, atoms, bonds, mol2):
    """An RDKit molecule of one descriptor fragment, ready to draw.

    atoms: labels (SD atom symbols, or Mol2 Tripos atom types whose element part
    gives the element); bonds: (a, b, type) with 0-based atoms and the type as
    the fragment file writes it (SD 1 to 4; Mol2 1, 2, 3, ar, am). Atoms are
    their labels' elements, with no implicit hydrogens; a label that is no
    element gives a dummy atom with the label as its "label" property; Mol2
    atoms keep their type as "tripos_type". Aromatic bonds and their atoms are
    flagged aromatic. The molecule is not sanitised (fragments are pieces of
    molecules), but its property cache is updated and it has 2-D coordinates.
    "_Name" is the record's title (the fragment id).
    """
    from rdkit import Chem, rdBase
    from rdkit.Chem import rdDepictor

    order = {"1": Chem.BondType.SINGLE, "2": Chem.BondType.DOUBLE,
             "3": Chem.BondType.TRIPLE, "4": Chem.BondType.AROMATIC,
             "ar": Chem.BondType.AROMATIC, "am": Chem.BondType.SINGLE}
    table = Chem.GetPeriodicTable()
    mol = Chem.RWMol()
    with rdBase.BlockLogs():
        for label in atoms:
            element = label.split(".")[0] if mol2 else label
            try:
                number = table.GetAtomicNumber(element)
            except RuntimeError:
                number = 0
            atom = Chem.Atom(number)
            atom.SetNoImplicit(True)
            if number == 0:
                atom.SetProp("label", label)
            if mol2:
                atom.SetProp("tripos_type", label)
            mol.AddAtom(atom)
    for a, b, kind in bonds:
        mol.AddBond(a, b, order.get(kind, Chem.BondType.UNSPECIFIED))
        if kind in ("4", "ar"):
            mol.GetBondBetweenAtoms(a, b).SetIsAromatic(True)
            mol.GetAtomWithIdx(a).SetIsAromatic(True)
            mol.GetAtomWithIdx(b).SetIsAromatic(True)
    result = mol.GetMol()
    result.SetProp("_Name", str(title))
    result.UpdatePropertyCache(strict=False)
    Chem.FastFindRings(result)
    rdDepictor.Compute2DCoords(result)
    return result


def draw_highlighted(mol, occurrences, features, size, legend=""):
    """SVG of mol with each feature's occurrences (a list of (atoms, bonds) per
    column, as FragmentDescriptors.occurrences gives them) in its own colour;
    where occurrences of several features share an atom or bond, the first
    feature's colour shows."""
    from rdkit.Chem.Draw import rdMolDraw2D

    atoms, bonds = {}, {}
    for k, j in enumerate(features):
        colour = PALETTE[k % len(PALETTE)]
        for atom_ids, bond_ids in occurrences.get(j, ()):
            for a in atom_ids:
                atoms.setdefault(a, colour)
            for b in bond_ids:
                bonds.setdefault(b, colour)
    drawer = rdMolDraw2D.MolDraw2DSVG(int(size[0]), int(size[1]))
    drawer.drawOptions().fillHighlights = True
    rdMolDraw2D.PrepareAndDrawMolecule(drawer, mol, legend=legend,
                                       highlightAtoms=list(atoms), highlightAtomColors=atoms,
                                       highlightBonds=list(bonds), highlightBondColors=bonds)
    drawer.FinishDrawing()
    return drawer.GetDrawingText()
