#!/usr/bin/python3
"""sarvik.dask beside the command line: one SD file cut into shards, run on a
LocalCluster of two worker processes (one thread each), against the command
line over the whole file with -threads 2. Prints wall time, peak RSS of every
process (the command line; the calling process, which also holds the
LocalCluster's scheduler; each worker) and the bytes moved between processes,
and checks that both write the same bytes.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/dask_bench.py \\
        build/release/Sarvik joined50k.sdf [SHARDS] [WORK]

SHARDS: 10 by default; WORK: the folder for the shards and outputs (default
build/dask_bench); --dask-only leaves the command line (and the comparison)
out. The large sets come from bench/make_big_data.py.
"""
import filecmp
import os
import resource
import subprocess
import sys
import time


def cut(path, shards, work):
    """The file's SD records in `shards` runs of nearly equal count, each a
    file; read as a stream, so that this process's peak stays its own."""
    with open(path, "rb") as f:
        records = sum(1 for line in f if line.startswith(b"$$$$"))
    paths = [os.path.join(work, "shard%02d.sdf" % k) for k in range(shards)]
    with open(path, "rb") as f:
        k, done, out = 0, 0, open(paths[0], "wb")
        for line in f:
            out.write(line)
            if line.startswith(b"$$$$"):
                done += 1
                if k + 1 < shards and done == (k + 1) * records // shards:
                    out.close()
                    k += 1
                    out = open(paths[k], "wb")
        out.close()
    return paths, records


def peak_kib():
    """This process's peak resident memory (VmHWM: of its own image, not what
    a process it was forked from had, as getrusage's maximum would be)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def main():
    args = [a for a in sys.argv[1:] if a != "--dask-only"]
    with_cli = len(args) == len(sys.argv) - 1
    sarvik_binary, data = os.path.abspath(args[0]), os.path.abspath(args[1])
    shards = int(args[2]) if len(args) > 2 else 10
    work = os.path.abspath(args[3] if len(args) > 3 else "build/dask_bench")
    os.makedirs(work, exist_ok=True)
    paths, compounds = cut(data, shards, work)
    print("%s: %d compounds in %d shards" % (os.path.basename(data), compounds, shards))

    if with_cli:
        t = time.time()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", os.path.join(work, "time.txt"),
                        sarvik_binary, "-threads", "2", "-ofile", "cli", data],
                       cwd=work, stdout=subprocess.DEVNULL, check=True)
        cli_seconds = time.time() - t
        cli_kib = int(open(os.path.join(work, "time.txt")).read().split()[-1])
        print("command line, -threads 2: %.1f s, peak %.0f MiB" % (cli_seconds, cli_kib / 1024))

    import sarvik.dask
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        start_kib = peak_kib()
        t = time.time()
        summary = sarvik.dask.run(paths, os.path.join(work, "dask"), client=client)
        seconds = time.time() - t
        workers = client.run(peak_kib)
    print("sarvik.dask, %d shards on 2 workers: %.1f s" % (shards, seconds))
    print("  calling process (and scheduler): peak %.0f MiB (%.0f MiB before the run)"
          % (peak_kib() / 1024, start_kib / 1024))
    for k, (_, kib) in enumerate(sorted(workers.items())):
        print("  worker %d: peak %.0f MiB" % (k + 1, kib / 1024))
    moved = summary["moved"]
    print("  bytes moved: labels %d B and fragment facts %.1f MB (task arguments and "
          "results); on the shared storage, written and read: the shards' descriptor ids "
          "%.1f MB, the descriptor file's parts %.1f MB"
          % (moved["labels"], moved["facts"] / 1e6, moved["ids"] / 1e6, moved["parts"] / 1e6))
    print("  fragments %d, descriptors %d" % (summary["fragments"], summary["descriptors"]))
    same = True
    if with_cli:
        same = all(filecmp.cmp(os.path.join(work, "cli" + s), os.path.join(work, "dask" + s),
                               shallow=False) for s in (".out", "_frag.sdf"))
        print("outputs " + ("the same bytes" if same else "DIFFER"))
        print("time ratio (sarvik.dask / command line): %.2f" % (seconds / cli_seconds))
    for name in os.listdir(work):
        if name.startswith(("cli", "dask", "shard")):
            os.remove(os.path.join(work, name))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
