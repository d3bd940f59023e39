#!/usr/bin/python3
"""The Python package beside the command line on the same input.

    /usr/bin/python3 bench/python_bench.py SARVIK INPUT.sdf [ROUNDS]

Runs, ROUNDS times (default 5) and alternating, each in a process of its own:
  cli       the command line on INPUT (defaults, outputs in a scratch folder);
  path      FragmentDescriptors().fit_transform(INPUT) (the path);
  cli-mols  the command line on the SD text the package writes for INPUT's
            molecules as RDKit parsed them;
  mols      fit_transform of those molecules (parsed before timing); the
            conversion to SD text (sarvik.inputs.collect) is timed apart
            too, and the core's share is the call's time without it.
Prints per run the medians of wall seconds and peak memory (MiB; for the
Python runs also the peak above what the process held once its modules were
imported, which is what the call added), the ratios the package is held to,
and the sizes of the matrix and of the space as held. The package imported is
the one on sys.path (PYTHONPATH=build/release/python for the build tree's).
"""
import atexit
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

CHILD = r"""
import json, sys, time
def hwm():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024
from rdkit import Chem
import sarvik, sarvik.inputs
kind, path = sys.argv[1], sys.argv[2]
out = {}
if kind == "mols":
    mols = [m for m in Chem.SDMolSupplier(path) if m is not None]
    t = time.perf_counter()
    sarvik.inputs.collect(mols)
    out["conversion"] = time.perf_counter() - t
    x = mols
else:
    x = path
base = hwm()
t = time.perf_counter()
fd = sarvik.FragmentDescriptors()
m = fd.fit_transform(x)
out["seconds"] = time.perf_counter() - t
out["core"] = out["seconds"] - out.get("conversion", 0.0)
out["peak"], out["added"] = hwm(), hwm() - base
out["matrix"] = (m.data.nbytes + m.indices.nbytes + m.indptr.nbytes) / 2**20
out["space"] = len(fd.space_.to_bytes()) / 2**20
out["shape"] = list(m.shape)
print(json.dumps(out))
"""


def timed(argv, cwd=None):
    """(wall seconds, peak MiB, standard output) of a child process."""
    t = time.perf_counter()
    p = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = p.stdout.read()
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t
    assert status == 0, argv
    return wall, usage.ru_maxrss / 1024, out


def main():
    sarvik_bin, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp(prefix="sarvik_pybench_")
    atexit.register(shutil.rmtree, work, True)  # however the rounds end
    # The SD text of the molecules, as the package writes it.
    prep = subprocess.run([sys.executable, "-c", (
        "import sys; from rdkit import Chem; import sarvik.inputs\n"
        "mols = [m for m in Chem.SDMolSupplier(sys.argv[1]) if m is not None]\n"
        "open(sys.argv[2], 'wb').write(sarvik.inputs.collect(mols).data)"),
        source, os.path.join(work, "mols.sdf")], check=True)
    assert prep.returncode == 0
    runs = {"cli": [], "path": [], "cli-mols": [], "mols": []}
    for _ in range(rounds):
        wall, peak, _ = timed([sarvik_bin, "-ofile", "a", source], cwd=work)
        runs["cli"].append({"seconds": wall, "peak": peak})
        wall, peak, out = timed([sys.executable, "-c", CHILD, "path", source])
        runs["path"].append(dict(json.loads(out), process=wall))
        wall, peak, _ = timed([sarvik_bin, "-ofile", "b", "mols.sdf"], cwd=work)
        runs["cli-mols"].append({"seconds": wall, "peak": peak})
        wall, peak, out = timed([sys.executable, "-c", CHILD, "mols", source])
        runs["mols"].append(dict(json.loads(out), process=wall))

    def med(run, key):
        return statistics.median(r[key] for r in runs[run])

    print("medians of %d rounds on %s" % (rounds, source))
    for run in runs:
        extra = ""
        if run in ("path", "mols"):
            extra = "  added %.1f MiB" % med(run, "added")
        if run == "mols":
            extra += "  conversion %.3f s, core %.3f s" % (med(run, "conversion"),
                                                         med(run, "core"))
        print("%-9s %7.3f s  peak %7.1f MiB%s" % (run, med(run, "seconds"), med(run, "peak"), extra))
    matrix, space = med("path", "matrix"), med("path", "space")
    print("matrix %.1f MiB, space as held %.1f MiB, shape %s"
          % (matrix, space, runs["path"][0]["shape"]))
    print("path / cli seconds: %.2f" % (med("path", "seconds") / med("cli", "seconds")))
    print("mols core (without the conversion) / cli-mols seconds: %.2f"
          % (med("mols", "core") / med("cli-mols", "seconds")))
    print("path added memory / (cli peak + matrix + space): %.2f"
          % (med("path", "added") / (med("cli", "peak") + matrix + space)))


if __name__ == "__main__":
    main()
