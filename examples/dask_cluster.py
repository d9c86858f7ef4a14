"""Count and enumerate the covers of a large instance on a dask.distributed cluster.

The problem goes to the cluster once, as the result of a task that every search task takes
as its argument (workers fetch it from each other as they need it). The search is cut by
``xcover.split`` into disjoint subtrees, each named by a prefix of block indices, and every
prefix becomes one task: ``count_all(partitions, include=prefix)`` to count, or the covers of
``iter_all(partitions, include=prefix)`` to enumerate. ``client.gather`` returns the results
in the order of the prefixes, so the concatenated covers are exactly ``get_all(partitions)``,
in its order.

Subtrees differ a lot in size, so ask for many more parts than workers (the default here is
16 per worker thread); split itself only walks the top of the tree and is cheap.

While the tasks run it shows progress: the address of Dask's dashboard when the scheduler
serves one (it does when bokeh is installed), else a tqdm bar over completed tasks on stderr.
A worker lost mid-run costs time, not results: the scheduler runs its tasks again elsewhere
(or on the worker its nanny restarts), and a part searched again gives the same covers.

    python dask_cluster.py                          # a local cluster of 2 worker processes
    python dask_cluster.py --scheduler tcp://host:8786 --instance pent6x10 --enumerate
    python dask_cluster.py --bench --file pent6x10.json    # cluster against one process

Every worker needs xcover installed (and this file importable, or it is sent by value).
"""

import argparse
import json
import sys
import time

import xcover
from langford import langford_blocks
from pentomino import pentomino_blocks

INSTANCES = {
    "pent6x10": lambda: pentomino_blocks(6, 10)[0],
    "pent5x12": lambda: pentomino_blocks(5, 12)[0],
    "pent3x20": lambda: pentomino_blocks(3, 20)[0],
    "langford12": lambda: langford_blocks(12)[0],
    "langford11": lambda: langford_blocks(11)[0],
    "langford8": lambda: langford_blocks(8)[0],
}
PARTS_PER_WORKER = 16
# The overhead benchmark: a problem whose parts take microseconds, cut into this many tasks.
OVERHEAD_TASKS = 64


def count_part(prefix, partitions):
    return xcover.count_all(partitions, include=prefix)


class Covers(list):
    """One part's covers, as a task returns them. Dask sends a plain list (or tuple, set or
    dict) that a task returns item by item, one message frame per cover: gathering the 35,584
    covers of langford11 that way took seconds. A list of its own type goes whole, as one
    pickle, about ten times faster."""


def covers_part(prefix, partitions):
    return Covers(xcover.iter_all(partitions, include=prefix))


def worker_threads(client):
    """The number of task slots of the cluster (worker threads over all workers)."""
    return sum(w["nthreads"] for w in client.scheduler_info()["workers"].values()) or 1


def the_problem(partitions):
    return partitions


def share(client, partitions):
    """One future for the whole problem, for every task to take as its argument. It is the
    result of a task rather than scattered data (client.scatter) because the scheduler can
    compute a task again when every worker that held its result has died, while scattered data
    is then lost for good, and with it every task that needs it."""
    return client.submit(the_problem, partitions)


def has_dashboard(client):
    """Whether the scheduler serves Dask's dashboard: it always answers on its HTTP port, but
    draws the dashboard only with a recent enough bokeh installed where it runs."""
    from distributed.versions import BOKEH_REQUIREMENT
    from packaging.requirements import Requirement

    bokeh = client.get_versions(packages=["bokeh"])["scheduler"]["packages"].get("bokeh")
    return bokeh is not None and Requirement(str(BOKEH_REQUIREMENT)).specifier.contains(bokeh)


def show_progress(client, futures, file=None):
    """Returns once every future is done, showing progress meanwhile: the dashboard's address
    when there is one, else a tqdm bar over completed tasks (no bar without tqdm)."""
    from dask.distributed import as_completed, wait

    if has_dashboard(client):
        print(f"progress: {client.dashboard_link}", file=file or sys.stderr)
        wait(futures)
        return
    try:
        from tqdm import tqdm
    except ImportError:
        wait(futures)
        return
    with tqdm(total=len(futures), unit="task", file=file) as bar:
        for _ in as_completed(futures):
            bar.update(1)


def cluster_map(client, function, partitions, parts=None, remote=None, progress=False):
    """function(prefix, partitions) for every split prefix, on the cluster, in prefix order.
    Each call is a new task (pure=False): a search asked for twice runs twice."""
    parts = parts or PARTS_PER_WORKER * worker_threads(client)
    prefixes = xcover.split(partitions, parts)
    remote = remote if remote is not None else share(client, partitions)
    futures = client.map(function, prefixes, partitions=remote, pure=False)
    if progress:
        show_progress(client, futures)
    return client.gather(futures)


def dask_count(client, partitions, parts=None, remote=None, progress=False):
    """count_all(partitions), counted on the cluster."""
    return sum(cluster_map(client, count_part, partitions, parts, remote, progress))


def dask_get_all(client, partitions, parts=None, remote=None, progress=False):
    """get_all(partitions), the same covers in the same order, found on the cluster."""
    pieces = cluster_map(client, covers_part, partitions, parts, remote, progress)
    return [cover for piece in pieces for cover in piece]


# A ranked search on the cluster (--rank N: the N cheapest covers) belongs beside these two:
# each task would stream its part's covers in cost order and the client merge the streams.
# It waits for a module function that streams one part's covers by cost.


def best_time(repeat, function):
    """The shortest wall-clock time of `repeat` calls, and the last call's result."""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - start)
    return best, result


def workers_cpu_time(client):
    """The CPU time the worker processes have used so far, summed."""
    return sum(client.run(time.process_time).values())


def bench(client, name, partitions, parts, repeat):
    """Prints the count's time on the cluster against count_all in this process, and the
    cluster's overhead per task; the counts must agree. CPU times go with the wall-clock
    times: on a machine that other work keeps busy, they tell what the workers spent."""
    workers = len(client.scheduler_info()["workers"])
    remote = share(client, partitions)
    dask_count(client, [[0]], None, None)  # the workers import xcover before any timing
    cpu = time.process_time()
    alone, expected = best_time(repeat, lambda: xcover.count_all(partitions))
    cpu_alone = (time.process_time() - cpu) / repeat
    cpu = workers_cpu_time(client)
    spread, count = best_time(repeat, lambda: dask_count(client, partitions, parts, remote))
    cpu_spread = (workers_cpu_time(client) - cpu) / repeat
    assert count == expected, (count, expected)
    print(f"{name} count {count}: one process {alone:.2f} s, {workers} worker processes "
          f"{spread:.2f} s, speedup {alone / spread:.2f}x (best of {repeat}); CPU per run: "
          f"one process {cpu_alone:.2f} s, the workers {cpu_spread:.2f} s")

    small = langford_blocks(8)[0]
    prefixes = xcover.split(small, OVERHEAD_TASKS)[:OVERHEAD_TASKS]
    small_remote = share(client, small)

    def on_cluster():
        futures = client.map(count_part, prefixes, partitions=small_remote, pure=False)
        return sum(client.gather(futures))

    local, expected = best_time(repeat, lambda: sum(count_part(p, small) for p in prefixes))
    remote_time, count = best_time(repeat, on_cluster)
    assert count == expected, (count, expected)
    per_task = (remote_time - local) / len(prefixes)
    print(f"overhead: {len(prefixes)} tasks of langford8 in {remote_time * 1e3:.1f} ms on the "
          f"cluster, {local * 1e3:.2f} ms in one process: {per_task * 1e3:.2f} ms per task")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of a running scheduler (default: a local cluster)")
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--instance", choices=sorted(INSTANCES), default="pent6x10")
    source.add_argument("--file", metavar="JSON",
                        help="an instance file: a JSON object whose 'partitions' are the blocks")
    parser.add_argument("--parts", type=int, help="split parts (default: 16 per worker thread)")
    parser.add_argument("--enumerate", action="store_true",
                        help="also gather every cover, not only the count")
    parser.add_argument("--check", action="store_true",
                        help="compare with count_all / get_all run here")
    parser.add_argument("--no-progress", action="store_true",
                        help="neither the dashboard's address nor a progress bar")
    parser.add_argument("--bench", action="store_true",
                        help="time the count against one process, and the overhead per task")
    parser.add_argument("--repeat", type=int, default=3, help="timed runs of --bench (best kept)")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    if args.file:
        with open(args.file, encoding="utf-8") as f:
            instance = json.load(f)
        name, partitions = instance.get("name", args.file), instance["partitions"]
    else:
        name, partitions = args.instance, INSTANCES[args.instance]()
    progress = not args.no_progress
    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=2, processes=True, threads_per_worker=1)
        client = Client(cluster)
    try:
        print(f"{name}: {len(partitions)} blocks, {worker_threads(client)} worker threads")
        if args.bench:
            bench(client, name, partitions, args.parts, args.repeat)
            return
        remote = share(client, partitions)

        start = time.perf_counter()
        count = dask_count(client, partitions, args.parts, remote, progress)
        print(f"count {count} in {time.perf_counter() - start:.2f} s")
        if args.check:
            print("count matches count_all:", count == xcover.count_all(partitions))

        if args.enumerate:
            start = time.perf_counter()
            covers = dask_get_all(client, partitions, args.parts, remote, progress)
            print(f"enumerated {len(covers)} covers in {time.perf_counter() - start:.2f} s")
            if args.check:
                print("covers match get_all:", covers == xcover.get_all(partitions))
        # --rank N (the N cheapest covers, merged from the parts' ranked streams) goes here.
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    main()
