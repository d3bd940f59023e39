#!/usr/bin/python3
"""A ridge model of measured activities on Sarvik's fragment descriptors.

The 163 benzodiazepine-receptor ligands of bzr.sdf (beside this script; SD field
ACTIVITY, see bzr.LICENSE) are described by their fragments of 1 to 7 bonds,
and a ridge regression is cross-validated on them (5 folds; each fold's
descriptor space made from its training compounds only). Then the model is fitted
on all compounds, and the most active compound is drawn with the three
fragments it holds that weigh most in the model highlighted.

    /usr/bin/python3 examples/bzr_model.py [picture.svg]

Prints the cross-validated R^2 and the highlighted fragments; writes the picture
(default: bzr_model.svg in the current folder).
"""
import os
import sys

import numpy as np
from rdkit import Chem
from sklearn.linear_model import Ridge
from sklearn.model_selection import KFold, cross_val_score
from sklearn.pipeline import make_pipeline

import sarvik

here = os.path.dirname(os.path.abspath(__file__))
picture = sys.argv[1] if len(sys.argv) > 1 else "bzr_model.svg"

mols = list(Chem.SDMolSupplier(os.path.join(here, "bzr.sdf")))
y = np.array([float(m.GetProp("ACTIVITY")) for m in mols])

model = make_pipeline(sarvik.FragmentDescriptors(), Ridge(alpha=100.0))
r2 = cross_val_score(model, mols, y, cv=KFold(5, shuffle=True, random_state=0))
print("cross-validated R^2: %.2f (folds %s)" % (r2.mean(), " ".join("%.2f" % r for r in r2)))

model.fit(mols, y)
fd, weights = model[0], model[-1].coef_
best = mols[int(np.argmax(y))]
held = fd.transform([best]).indices                     # the columns it holds
top = held[np.argsort(-weights[held])][:3]              # heaviest weights first
names = fd.get_feature_names_out()
for j in top:
    print("%+.4f  %s" % (weights[j], names[j]))
with open(picture, "w") as f:
    f.write(fd.draw(best, top, size=(500, 350), legend=best.GetProp("_Name")))
print("wrote", picture)
