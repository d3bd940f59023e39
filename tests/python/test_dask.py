"""sarvik.dask on a LocalCluster of two worker processes: runs over shards write
the command line's bytes over the joined shards, also when a worker dies in
the middle, and a malformed shard fails as the command line fails on it.

nci5k comes from SARVIK_DATA (by default /work/data); without it those cases
are skipped."""
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import sarvik
import sarvik.dask
from conftest import DATA, cli, records

pytest.importorskip("distributed", reason="needs Debian's python3-distributed")

NCI = os.path.join(os.environ.get("SARVIK_DATA", "/work/data"), "nci5k.sdf")
needs_nci = pytest.mark.skipif(not os.path.exists(NCI), reason="no nci5k.sdf in SARVIK_DATA")


@pytest.fixture(scope="module")
def client():
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as c:
        yield c


def mol2_records(path):
    text = open(path).read()
    return ["@<TRIPOS>MOLECULE" + r for r in text.split("@<TRIPOS>MOLECULE")[1:]]


def shards(folder, name, recs, sizes, ext):
    """The records cut into shards of these sizes (the rest in a last one), and
    the file of all of them joined."""
    paths, at = [], 0
    for k, n in enumerate(list(sizes) + [len(recs) - sum(sizes)]):
        paths.append(str(folder / ("%s%d.%s" % (name, k, ext))))
        open(paths[-1], "w").write("".join(recs[at:at + n]))
        at += n
    joined = str(folder / ("%s.%s" % (name, ext)))
    open(joined, "w").write("".join(recs))
    return paths, joined


def nci_shards(folder):
    # Uneven, one of a single compound, one empty.
    return shards(folder, "nci", records(NCI), [1200, 1, 0, 900, 1500, 50], "sdf")


def untitled_mol2_shards(folder):
    recs = mol2_records(os.path.join(DATA, "cdk2.mol2"))
    # Some molecules without a name, in every shard: named by their place in
    # the whole collection.
    for k in (3, 20, 21, 40):
        head, name, rest = recs[k].split("\n", 2)
        recs[k] = "\n".join([head, "*" if k % 2 else "", rest])
    return shards(folder, "cdk2", recs, [17, 12], "mol2")


def outputs(folder, stem, ext):
    return [open(folder / (stem + suffix), "rb").read() for suffix in (".out", "_frag." + ext)]


@needs_nci
def test_nci5k_in_seven_uneven_shards_and_cdk2_mol2_in_three_as_the_command_line(client, tmp_path):
    paths, joined = nci_shards(tmp_path)
    cli(tmp_path, "-ofile", "cli", joined)
    summary = sarvik.dask.run(paths, str(tmp_path / "dask"), client=client)
    assert outputs(tmp_path, "dask", "sdf") == outputs(tmp_path, "cli", "sdf")
    assert summary["compounds"] == 4993

    # Mol2 with untitled molecules and other options, through the module's
    # command line on the same scheduler.
    paths, joined = untitled_mol2_shards(tmp_path)
    options = ["-lmin", "2", "-lmax", "6", "-fmin", "3", "-NoAtmLabels"]
    cli(tmp_path, *options, "-ofile", "mcli", joined)
    r = subprocess.run([sys.executable, "-m", "sarvik.dask", *options, "-ofile", "mdask",
                        "--scheduler", client.scheduler.address, *paths],
                       cwd=tmp_path, capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr
    assert outputs(tmp_path, "mdask", "mol2") == outputs(tmp_path, "mcli", "mol2")
    assert b'"21",' in open(tmp_path / "mdask.out", "rb").read()


@needs_nci
def test_counting_in_a_descriptor_space_as_dspace(client, tmp_path):
    # The space of cdk2's run: its labels are not nci's, and nci's shards hold
    # labels it lacks.
    cli(tmp_path, "-lmax", "5", "-ofile", "space", os.path.join(DATA, "cdk2.sdf"))
    space = str(tmp_path / "space_frag.sdf")
    paths, joined = nci_shards(tmp_path)
    cli(tmp_path, "-lmax", "5", "-dspace", space, "-ofile", "cli", joined)
    sarvik.dask.run(paths, str(tmp_path / "dask"), client=client, lmax=5, dspace=space)
    assert open(tmp_path / "dask.out", "rb").read() == open(tmp_path / "cli.out", "rb").read()
    assert not os.path.exists(tmp_path / "dask_frag.sdf")
    with pytest.raises(sarvik.Error, match="minimum frequency"):
        sarvik.dask.run(paths, str(tmp_path / "dask"), client=client, dspace=space, fmin=2)


@needs_nci
def test_workers_killed_in_the_middle_give_the_same_bytes(client, tmp_path):
    paths, joined = nci_shards(tmp_path)
    cli(tmp_path, "-ofile", "cli", joined)
    pids = client.run(os.getpid)
    done = {}
    running = threading.Thread(target=lambda: done.update(
        summary=sarvik.dask.run(paths, str(tmp_path / "dask"), client=client)))
    running.start()
    # One worker dies in a task whose result the calling process takes, the
    # other in one that writes a part of the descriptor file.
    killed = []
    deadline = time.time() + 60
    while len(killed) < 2 and running.is_alive() and time.time() < deadline:
        step = ("sarvik-fragments", "sarvik-count")[len(killed)]
        for worker, keys in client.processing().items():
            if worker in pids and worker not in killed and any(str(k).startswith(step) for k in keys):
                os.kill(pids[worker], signal.SIGKILL)
                killed.append(worker)
                break
        time.sleep(0.01)
    running.join()
    assert len(killed) == 2 and "summary" in done
    assert outputs(tmp_path, "dask", "sdf") == outputs(tmp_path, "cli", "sdf")
    # Nothing of the run's own is left beside the outputs, the dead tasks' included.
    assert not [name for name in os.listdir(tmp_path) if ".out." in name]
    client.wait_for_workers(2, timeout=60)


def test_a_malformed_or_unclosed_shard_fails_and_keeps_earlier_outputs(client, tmp_path):
    recs = records(os.path.join(DATA, "cdk2.sdf"))
    # A bond to an atom the record lacks, in the middle of the second shard.
    broken = ("bad\n\n\n  2  1\n    0.0000    0.0000    0.0000 C   0\n"
              "    0.0000    0.0000    0.0000 C   0\n  1  3  1\n$$$$\n")
    bad = recs[:10] + [broken] + recs[10:20]
    paths = [str(tmp_path / name) for name in ("a.sdf", "b.sdf", "c.sdf")]
    for path, part in zip(paths, (recs[:20], bad, recs[20:])):
        open(path, "w").write("".join(part))
    stem = tmp_path / "out"
    earlier = {stem.with_name("out.out"): b"earlier\n", stem.with_name("out_frag.sdf"): b"frag\n"}
    for path, content in earlier.items():
        path.write_bytes(content)
    said = cli(tmp_path, paths[1], status=1)
    with pytest.raises(sarvik.Error) as caught:
        sarvik.dask.run(paths, str(stem), client=client)
    assert said.endswith(str(caught.value) + "\n") and paths[1] in str(caught.value)
    assert caught.value.kind == "input"
    # A last record cut short of its "$$$$" line.
    open(paths[1], "w").write("".join(recs[20:30])[:-5])
    with pytest.raises(sarvik.Error, match="b.sdf' does not end with a whole record"):
        sarvik.dask.run(paths, str(stem), client=client)
    # Options out of range, before anything is read: the library's message.
    with pytest.raises(sarvik.Error, match="^invalid largest length 0: 1 or more$") as caught:
        sarvik.dask.run(paths, str(stem), client=client, lmax=0)
    assert caught.value.kind == "usage"
    assert all(path.read_bytes() == content for path, content in earlier.items())
    assert sorted(os.listdir(tmp_path)) == ["a.sdf", "b.sdf", "c.sdf", "out.out", "out_frag.sdf"]
