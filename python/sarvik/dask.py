"""One Sarvik run over a collection cut into shards, on a Dask cluster.

    import sarvik.dask
    sarvik.dask.run(["part1.sdf", "part2.sdf", "part3.sdf"], "out/nci", lmax=7)

writes out/nci.out and out/nci_frag.sdf, byte for byte what the command line
writes for `-ofile out/nci` over the file made by joining the shards in order.
The work runs in the library, in Dask tasks (no Python per fragment):

  1. per shard, its atom labels and compounds (label integers are ranks among
     the labels of the whole collection, so every later step needs all of
     them);
  2. per shard, its distinct fragments by length in the order it first met
     them, with their forms and the compounds that hold them;
  3. on the calling process, those facts merged in shard order (a fragment keeps
     its first meeting, its compounds are summed) and the run's fragment table
     replayed from them: fragment ids, slots, descriptor ids, the fragment file;
  4. per shard, its part of the descriptor file: the shard enumerated again,
     each of its fragments counted under the descriptor id the replay gave it;
     the parts are joined in order into the descriptor file, and both files
     are committed as the command line commits them.

Shards and outputs must be on storage that every worker and the calling
process share under the same paths. Tasks write only files of their own
(named by the run and the shard), so a task whose worker died is run again
by Dask with the same result. Also `python3 -m sarvik.dask -h`.
"""
import argparse
import contextlib
import glob
import os
import sys
import uuid

from . import _core
from ._core import Error, Space

__all__ = ["run", "main"]


def _usage_error(text):
    error = Error(text)
    error.kind = "usage"
    error.message = text
    return error


def _format_of(path):
    # As the library tells it: ".mol2" at the end of the last path component.
    return "mol2" if os.path.basename(path).lower().endswith(".mol2") else "sd"


# ---- the tasks, run on the workers ----

def _labels_task(path, fmt, settings):
    return _core.shard_labels(path, fmt, settings)


def _fragments_task(path, fmt, settings, labels):
    return _core.shard_fragments(path, fmt, settings, labels)


def _count_task(path, fmt, settings, ids_file, dspace, labels, before, part):
    """The shard's part of the descriptor file: with the descriptor ids of its
    fragments (a file the calling process wrote), or in an earlier run's
    descriptor space."""
    if dspace is not None:
        return _core.count_shard(path, fmt, settings, Space.read(dspace, fmt), b"", labels,
                                 before, part)
    with open(ids_file, "rb") as f:
        ids = f.read()
    return _core.count_shard(path, fmt, settings, None, ids, labels, before, part)


# ---- the calling process ----

@contextlib.contextmanager
def _client_for(client):
    """The client given; else the current one; else a LocalCluster of Dask's
    defaults, started here and closed at the end."""
    if client is not None:
        yield client
        return
    from distributed import Client, LocalCluster, get_client
    try:
        current = get_client()
    except ValueError:
        current = None
    if current is not None:
        yield current
        return
    with LocalCluster(dashboard_address=None) as cluster, Client(cluster) as own:
        yield own


def _results(client, futures, inputs, given):
    """The futures' results in shard order, once all are done; the failure of
    the first shard that failed, naming it, otherwise."""
    from distributed import wait
    wait(futures)
    for path, name, future in zip(inputs, given, futures):
        if future.status == "error":
            raise _naming(future.exception(), path, name)
    return client.gather(futures)


def _naming(error, path, name):
    """The failure of a task over the shard at `path` (absolute, as the workers
    read it), named as the caller named it."""
    if not isinstance(error, Error) or error.kind == "usage":
        return error
    text = str(error).replace("'%s'" % path, "'%s'" % name)
    # The command line's message names the file where it is about a compound;
    # any other names the shard here.
    if "'%s'" % name not in text:
        text += "\n  in the shard '%s'" % name
    named = Error(text)
    for attr in ("kind", "message", "compound", "line", "file"):
        setattr(named, attr, getattr(error, attr, None))
    if named.file == path:
        named.file = name
    if named.message:
        named.message = named.message.replace("'%s'" % path, "'%s'" % name)
    return named


def run(inputs, ofile, client=None, lmin=1, lmax=7, ds="QZ", fmin=1, atom_labels=True,
        bond_labels=True, dspace=None):
    """Writes over the shards `inputs` (SD or Mol2 files, all of one format, in
    order) what the command line writes over their joined content with
    `-ofile ofile` and these options (`-lmin`, `-lmax`, `-ds`, `-fmin`,
    `-NoAtmLabels`, `-NoBndLabels`, `-dspace`): `ofile.out`, and without
    `dspace` `ofile_frag.sdf` or `ofile_frag.mol2`.

    client: a distributed.Client; by default the current one, or else a
    LocalCluster (Dask's defaults) that the call starts and closes. Returns a
    dict: compounds, fragments, descriptors (in a space: outside, the
    occurrences outside it), and moved: bytes that crossed between processes
    (labels and fragment facts as task arguments and results; the shards'
    descriptor ids and the descriptor file's parts, written and read on the
    shared storage). Failures raise sarvik.Error with the command
    line's message (naming the shard) and leave earlier outputs as they were.
    """
    given = [os.fspath(p) for p in inputs]
    # The workers' folders are not this process's: they are given absolute
    # paths.
    inputs = [os.path.abspath(p) for p in given]
    ofile = os.fspath(ofile)
    if not inputs:
        raise _usage_error("no input file")
    fmt = _format_of(inputs[0])
    for path in inputs:
        if _format_of(path) != fmt:
            raise _usage_error("the shards '%s' and '%s' are of different formats"
                               % (inputs[0], path))
    given_space = None
    if dspace is not None:
        given_space = os.fspath(dspace)
        if fmin != 1:
            raise _usage_error("a minimum frequency has no meaning in a descriptor space: "
                               "every fragment of the space is counted")
    settings = dict(option=ds, mint=int(lmin), maxt=int(lmax), freqt=int(fmin),
                    atom_labels=bool(atom_labels), bond_labels=bool(bond_labels))
    # Settings out of range fail here, before anything is read, as the command
    # line refuses them (a merge checks them when made).
    _core.ShardMerge(settings, fmt, [], "")
    descriptors = ofile + ".out"
    fragments = "" if dspace is not None else ofile + ("_frag.mol2" if fmt == "mol2" else "_frag.sdf")
    token = uuid.uuid4().hex[:12]
    # Every file of this run's own beside the outputs: "<ofile>.out.<token>...".
    scratch = os.path.abspath(descriptors) + "." + token
    if dspace is not None:
        dspace = os.path.abspath(dspace)
    with _client_for(client) as c:
        # Made first, as the command line makes them: outputs that cannot be
        # written, or that would replace an input, fail before any work.
        pair = _core.OutputPair(fragments, descriptors, given, given_space or "")
        try:
            summary = _run(c, pair, inputs, given, fmt, settings, dspace, scratch, token)
            pair.commit()
            return summary
        finally:
            pair.close()
            for leftover in glob.glob(glob.escape(scratch) + "*"):
                with contextlib.suppress(OSError):
                    os.remove(leftover)


def _run(c, pair, inputs, given, fmt, settings, dspace, scratch, token):
    def keys(step):
        return ["sarvik-%s-%s-%d" % (step, token, i) for i in range(len(inputs))]

    first = [c.submit(_labels_task, path, fmt, settings, key=key)
             for path, key in zip(inputs, keys("labels"))]
    passes = _results(c, first, inputs, given)
    del first
    labels = sorted(set().union(*(set(l) for l, _ in passes)))
    before, compounds = [], 0
    for _, n in passes:
        before.append(compounds)
        compounds += n
    summary = {"compounds": compounds}
    # What crosses between processes: task results through Dask, and files on
    # the shared storage (written once, read by every counting task).
    # Each shard's labels back, the collection's out to both later tasks.
    moved = {"labels": sum(len(l) for found, _ in passes for l in found) +
                       2 * len(inputs) * sum(len(l) for l in labels),
             "facts": 0, "ids": 0, "parts": 0}
    summary["moved"] = moved

    ids = [scratch + ".ids%d" % i for i in range(len(inputs))]
    if dspace is None:
        facts = [c.submit(_fragments_task, path, fmt, settings, labels, key=key)
                 for path, key in zip(inputs, keys("fragments"))]
        merge = _core.ShardMerge(settings, fmt, labels, _joined_name(given))
        # In shard order, each shard's facts released once merged: the
        # calling process holds the distinct fragments, never a shard's
        # compounds. Where each shard's fragments stand among them waits on
        # the shared storage.
        places = [scratch + ".places%d" % i for i in range(len(inputs))]
        for path, name, future, where in zip(inputs, given, facts, places):
            try:
                facts_of_shard = future.result()
            except Exception as e:
                raise _naming(e, path, name) from None
            moved["facts"] += len(facts_of_shard)
            with open(where, "wb") as f:
                f.write(merge.add(facts_of_shard))
            del facts_of_shard
            future.release()
        del facts
        space, summary["fragments"], summary["descriptors"] = merge.finish()
        pair.write_space(space)
        del space
        for where, to in zip(places, ids):
            with open(where, "rb") as f:
                shard_ids = merge.shard_ids(f.read())
            with open(to, "wb") as f:
                moved["ids"] += 2 * f.write(shard_ids)
            os.remove(where)
        del merge

    parts = [scratch + ".part%d" % i for i in range(len(inputs))]
    # Counting in a space takes every fragment of it: no minimum frequency.
    counting = dict(settings, freqt=1)
    counts = [c.submit(_count_task, path, fmt, counting, i, dspace, labels, b, part, key=key)
              for path, i, b, part, key in zip(inputs, ids, before, parts, keys("count"))]
    counted = _results(c, counts, inputs, given)
    del counts
    if dspace is not None:
        summary["outside"] = sum(outside for _, outside in counted)
    for part in parts:
        moved["parts"] += 2 * os.path.getsize(part)
        pair.append_descriptors(part)
        os.remove(part)
    return summary


def _joined_name(inputs):
    """The name messages give the joined shards."""
    return inputs[0] if len(inputs) == 1 else "%s .. %s" % (inputs[0], inputs[-1])


# ---- the command line ----

def _parser():
    p = argparse.ArgumentParser(
        prog="python3 -m sarvik.dask", allow_abbrev=False,
        description="One Sarvik run over shards on a Dask cluster: the outputs of the command "
                    "line over the shards joined in order.")
    p.add_argument("inputs", nargs="+", metavar="SHARD", help="SD or Mol2 files, in order")
    p.add_argument("-ofile", required=True, metavar="STEM", help="output stem, as the command line's")
    p.add_argument("-ds", default="QZ", choices=["QZ", "TF", "PF"])
    p.add_argument("-lmin", type=int, default=1)
    p.add_argument("-lmax", type=int, default=7)
    p.add_argument("-fmin", type=int, default=None)
    p.add_argument("-NoAtmLabels", action="store_true")
    p.add_argument("-NoBndLabels", action="store_true")
    p.add_argument("-dspace", metavar="FRAGMENT_FILE")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="a Dask scheduler (tcp://host:8786); by default a LocalCluster")
    return p


def main(argv=None):
    args = _parser().parse_args(argv)
    if args.dspace is not None and args.fmin is not None:
        print("-fmin has no meaning with -dspace: every fragment of the descriptor space is counted")
        return 2
    client = None
    try:
        if args.scheduler:
            from distributed import Client
            client = Client(args.scheduler)
        summary = run(args.inputs, args.ofile, client=client, lmin=args.lmin, lmax=args.lmax,
                      ds=args.ds, fmin=1 if args.fmin is None else args.fmin,
                      atom_labels=not args.NoAtmLabels, bond_labels=not args.NoBndLabels,
                      dspace=args.dspace)
    except Error as e:
        print(str(e))
        return 2 if e.kind == "usage" else 1
    except OSError as e:
        print(str(e))
        return 1
    finally:
        if client is not None:
            client.close()
    print("total compounds = %d" % summary["compounds"])
    if args.dspace is None:
        print("total fragments = %d" % summary["fragments"])
        print("total features stored after freq elimination = %d" % summary["descriptors"])
    else:
        print("occurrences outside the descriptor space = %d" % summary["outside"])
    return 0


if __name__ == "__main__":
    # Run as the module sarvik.dask, so that the tasks it sends name functions
    # the workers can import.
    from sarvik.dask import main as _main
    sys.exit(_main())
