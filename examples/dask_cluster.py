"""Count and enumerate the covers of a large instance on a dask.distributed cluster.

The problem goes to the cluster once, as the result of a task that every search task takes
as its argument (workers fetch it from each other as they need it). The search is cut by
``xcover.split`` into disjoint subtrees, each named by a prefix of block indices, and every
prefix becomes one task: ``count_all(partitions, include=prefix)`` to count, or the covers of
``iter_all(partitions, include=prefix)`` to enumerate. ``client.gather`` returns the results
in the order of the prefixes, so the concatenated covers are exactly ``get_all(partitions)``,
in its order.

A ranked search splits the same way (``--rank N``): each task takes the N cheapest covers of
its part from ``iter_top(partitions, weights, include=prefix)`` (or, for a graph instance with
edge counts, ``iter_top_sc``, ranked by the block-count score), and the client merges the
parts' lists by cost with ``heapq.merge`` and keeps the first N. Each part's stream comes in
nondecreasing cost, so the merged list is the N cheapest covers of the whole problem.

Subtrees differ a lot in size, so ask for many more parts than workers (the default here is
16 per worker thread); split itself only walks the top of the tree and is cheap.

While the tasks run it shows progress: the address of Dask's dashboard when the scheduler
serves one (it does when bokeh is installed), else a tqdm bar over completed tasks on stderr.
A worker lost mid-run costs time, not results: the scheduler runs its tasks again elsewhere
(or on the worker its nanny restarts), and a part searched again gives the same covers.

    python dask_cluster.py                          # a local cluster of 2 worker processes
    python dask_cluster.py --scheduler tcp://host:8786 --instance pent6x10 --enumerate
    python dask_cluster.py --bench --file pent6x10.json    # cluster against one process
    python dask_cluster.py --instance communities --rank 5 --check   # block-count score
    python dask_cluster.py --file pent6x10w.json --rank 10           # the file's weights

Every worker needs xcover installed (and this file importable, or it is sent by value).
"""

import argparse
import heapq
import itertools
import json
import random
import sys
import time

import xcover
from communities import EDGES, VERTICES, community_model
from langford import langford_blocks
from pentomino import pentomino_blocks

INSTANCES = {
    "pent6x10": lambda: pentomino_blocks(6, 10)[0],
    "pent5x12": lambda: pentomino_blocks(5, 12)[0],
    "pent3x20": lambda: pentomino_blocks(3, 20)[0],
    "langford12": lambda: langford_blocks(12)[0],
    "langford11": lambda: langford_blocks(11)[0],
    "langford8": lambda: langford_blocks(8)[0],
    "communities": lambda: community_model()[0],
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


def part_sizes(partitions, prefixes, samples=100):
    """The estimated size of each part's search tree (estimate_all's positions, at least 1):
    parts are far from even, so a bar that counts finished parts alike crawls through the
    small ones and then stalls on the large."""
    sizes = []
    for prefix in prefixes:
        nodes = xcover.estimate_all(partitions, include=prefix, samples=samples, seed=0).nodes
        sizes.append(max(1, round(min(nodes, 1e15))))
    return sizes


def show_progress(client, futures, file=None, sizes=None):
    """Returns once every future is done, showing progress meanwhile: the dashboard's address
    when there is one, else a tqdm bar (no bar without tqdm) over the completed tasks, each
    weighed by its entry of `sizes` when given (part_sizes), else all alike."""
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
    weight = dict(zip(futures, sizes)) if sizes is not None else dict.fromkeys(futures, 1)
    unit = "node" if sizes is not None else "task"
    with tqdm(total=sum(weight.values()), unit=unit, unit_scale=sizes is not None, file=file) as bar:
        for future in as_completed(futures):
            bar.update(weight[future])


def cluster_map(client, function, partitions, parts=None, remote=None, progress=False):
    """function(prefix, partitions) for every split prefix, on the cluster, in prefix order.
    Each call is a new task (pure=False): a search asked for twice runs twice."""
    parts = parts or PARTS_PER_WORKER * worker_threads(client)
    prefixes = xcover.split(partitions, parts)
    remote = remote if remote is not None else share(client, partitions)
    futures = client.map(function, prefixes, partitions=remote, pure=False)
    if progress:
        show_progress(client, futures, sizes=part_sizes(partitions, prefixes))
    return client.gather(futures)


def dask_count(client, partitions, parts=None, remote=None, progress=False):
    """count_all(partitions), counted on the cluster."""
    return sum(cluster_map(client, count_part, partitions, parts, remote, progress))


def dask_get_all(client, partitions, parts=None, remote=None, progress=False):
    """get_all(partitions), the same covers in the same order, found on the cluster."""
    pieces = cluster_map(client, covers_part, partitions, parts, remote, progress)
    return [cover for piece in pieces for cover in piece]


class Ranked(list):
    """One part's (cost, cover) pairs, sent whole as one pickle (see Covers)."""


def ranked_stream(problem, include=()):
    """The covers of `problem` holding the blocks `include`, as (cost, cover) pairs in
    nondecreasing cost: by the block-count score when the problem has edge counts, else by
    the sum of its weights."""
    if "edge_counts" in problem:
        return xcover.iter_top_sc(
            problem["partitions"], problem["weights"], edge_counts=problem["edge_counts"],
            edge_total=problem["edge_total"], labels=problem["labels"],
            vertex_total=problem["vertex_total"], include=include)
    return xcover.iter_top(problem["partitions"], problem["weights"], include=include)


def top_part(prefix, problem, n):
    return Ranked(itertools.islice(ranked_stream(problem, prefix), n))


def dask_top(client, problem, n, parts=None, remote=None, progress=False):
    """The n cheapest covers of `problem` (a dict: partitions, weights, and for the
    block-count score edge_counts, edge_total, labels, vertex_total) as (cost, cover) pairs,
    found on the cluster: the n cheapest of each split part, merged by cost. Covers of equal
    cost come in the order of their parts."""
    parts = parts or PARTS_PER_WORKER * worker_threads(client)
    prefixes = xcover.split(problem["partitions"], parts)
    remote = remote if remote is not None else share(client, problem)
    futures = client.map(top_part, prefixes, problem=remote, n=n, pure=False)
    if progress:
        show_progress(client, futures, sizes=part_sizes(problem["partitions"], prefixes))
    pieces = client.gather(futures)
    return list(itertools.islice(heapq.merge(*pieces, key=lambda pair: pair[0]), n))


def ranked_problem(name, instance, seed=0):
    """The instance as a problem for dask_top: its own weights (and graph terms) when it has
    them; random weights in [0, 1) from `seed` otherwise. The demo graph of communities.py
    comes with its block-count terms."""
    if name == "communities":
        blocks, weights, inside, labels = community_model()
        return {"partitions": blocks, "weights": weights, "edge_counts": inside,
                "edge_total": len(EDGES), "labels": labels, "vertex_total": VERTICES}
    problem = {key: instance[key] for key in ("partitions", "weights", "edge_counts",
                                              "edge_total", "labels", "vertex_total")
               if key in instance}
    if "weights" not in problem:
        rng = random.Random(seed)
        problem["weights"] = [rng.random() for _ in problem["partitions"]]
    return problem


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


def cover_items(blocks, cover):
    """A cover as its blocks' items, blocks separated by " | " (as `xcover --all` prints)."""
    return " | ".join(" ".join(map(str, blocks[b])) for b in sorted(cover))


def rank(client, problem, args, progress):
    """Prints the --rank N cheapest covers found on the cluster, each as its blocks' items
    (and with --check, whether they are those of the single stream: the same costs, to
    rounding, and the same covers)."""
    start = time.perf_counter()
    top = dask_top(client, problem, args.rank, args.parts, None, progress)
    print(f"ranked {len(top)} covers in {time.perf_counter() - start:.2f} s")
    for cost, cover in top:
        print(f"  {cost:.6f}  {cover_items(problem['partitions'], cover)}")
    if args.check:
        single = list(itertools.islice(ranked_stream(problem), args.rank))
        print("ranked covers match the single stream:", same_ranking(top, single))


def same_ranking(merged, single):
    """Whether two ranked lists agree: the same costs (to 1e-9, since a part's stream sums
    its prefix's weights first) and the same covers, as sets, at every cost below the last
    (at the last cost, ties beyond the list may be cut differently)."""
    costs = [round(c, 9) for c, _ in merged]
    if costs != [round(c, 9) for c, _ in single]:
        return False
    below = lambda pairs: sorted((round(c, 9), sorted(cover)) for c, cover in pairs
                                 if costs and round(c, 9) < costs[-1])
    return below(merged) == below(single)


def count_argument(least):
    """An argparse type: an int of at least `least`."""
    def convert(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None
        if value < least:
            raise argparse.ArgumentTypeError(f"{value} is below {least}")
        return value
    return convert


def is_element(value):
    return type(value) is int and 0 <= value < 2**64


def load_instance(parser, path):
    """The instance in the JSON file at `path`, checked: a JSON object whose 'partitions' is
    a list of lists of elements (ints in 0..2**64-1), with 'weights', when given, one number
    per block. Anything else is an argument error (parser.error exits with status 2)."""
    try:
        with open(path, encoding="utf-8") as f:
            instance = json.load(f)
    except OSError as e:
        parser.error(f"--file {path}: {e.strerror or e}")
    except (ValueError, UnicodeDecodeError) as e:
        parser.error(f"--file {path}: not JSON: {e}")
    if not isinstance(instance, dict) or "partitions" not in instance:
        parser.error(f"--file {path}: a JSON object with a 'partitions' key is needed")
    partitions = instance["partitions"]
    if not isinstance(partitions, list) or not all(isinstance(b, list) for b in partitions):
        parser.error(f"--file {path}: 'partitions' must be a list of lists of elements")
    for index, block in enumerate(partitions):
        for value in block:
            if not is_element(value):
                parser.error(f"--file {path}: block {index} holds {value!r}, "
                             "not an element (an int from 0 to 2**64 - 1)")
    weights = instance.get("weights")
    if weights is not None and not (
            isinstance(weights, list) and len(weights) == len(partitions)
            and all(type(w) in (int, float) for w in weights)):
        parser.error(f"--file {path}: 'weights' must be a list of {len(partitions)} numbers, "
                     "one per block")
    return instance


def connect(parser, address, timeout):
    """A client of the scheduler at `address`; a clear error (status 1) when it cannot be
    reached within `timeout` seconds."""
    from dask.distributed import Client

    try:
        return Client(address, timeout=timeout)
    except (OSError, TimeoutError, ValueError) as e:
        parser.exit(1, f"{parser.prog}: error: cannot reach the scheduler at {address} "
                       f"within {timeout:g} s: {e}\n")


def quiet_shutdown():
    """After Ctrl-C: the gathers it cut short and the workers stopped mid-task would each log
    a traceback (asyncio's "Task exception was never retrieved", the nanny's warnings) while
    the cluster closes; the user asked for the stop, so they are not shown."""
    import logging

    for name in ("asyncio", "distributed", "tornado"):
        logging.getLogger(name).setLevel(logging.CRITICAL + 1)


def interrupt(signum, frame):
    """SIGINT: this process's logs are quieted at once, before KeyboardInterrupt unwinds the
    call that was waiting (which starts the shutdown on Dask's own thread)."""
    quiet_shutdown()
    raise KeyboardInterrupt


async def quiet_shutdown_there():
    quiet_shutdown()


def quiet_cluster(client):
    """quiet_shutdown on the workers and their nannies too, whose logs share this terminal;
    best effort, without waiting: the cluster is closed right after."""
    for nanny in (False, True):
        try:
            client.run(quiet_shutdown_there, nanny=nanny, wait=False)
        except Exception:  # noqa: BLE001 - a worker already gone needs no quieting
            pass


def local_cluster():
    """Two single-threaded worker processes here. They start with SIGINT ignored (and pass
    that on to the workers their nannies restart): Ctrl-C in a terminal signals every process
    of the group, and the workers are stopped by this process closing the cluster, not by
    their own tracebacks. Their statistical profiler is off: a task here is one long call
    into the module, which it cannot see into, and on free-threaded 3.13 its thread can fail
    reading another thread's frames and print a traceback."""
    import signal

    import dask
    from dask.distributed import LocalCluster

    dask.config.set({"distributed.worker.profile.enabled": False})
    handler = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        return LocalCluster(n_workers=2, processes=True, threads_per_worker=1)
    finally:
        signal.signal(signal.SIGINT, handler)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of a running scheduler (default: a local cluster)")
    parser.add_argument("--connect-timeout", type=float, default=10.0, metavar="SECONDS",
                        help="how long to try to reach --scheduler (default: 10)")
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--instance", choices=sorted(INSTANCES), default="pent6x10")
    source.add_argument("--file", metavar="JSON",
                        help="an instance file: a JSON object whose 'partitions' are the blocks")
    parser.add_argument("--parts", type=count_argument(1),
                        help="split parts (default: 16 per worker thread)")
    parser.add_argument("--enumerate", action="store_true",
                        help="also gather every cover, not only the count")
    parser.add_argument("--check", action="store_true",
                        help="compare with count_all / get_all run here")
    parser.add_argument("--no-progress", action="store_true",
                        help="neither the dashboard's address nor a progress bar")
    parser.add_argument("--rank", type=count_argument(0), metavar="N",
                        help="also find the N cheapest covers (the instance's weights, else "
                             "random ones), merged from the parts' ranked streams, and print "
                             "each as its blocks' items")
    parser.add_argument("--bench", action="store_true",
                        help="time the count against one process, and the overhead per task")
    parser.add_argument("--repeat", type=count_argument(1), default=3,
                        help="timed runs of --bench (best kept)")
    args = parser.parse_args(argv)

    if args.file:
        instance = load_instance(parser, args.file)
        name, partitions = instance.get("name", args.file), instance["partitions"]
    else:
        name, partitions = args.instance, INSTANCES[args.instance]()
        instance = {"partitions": partitions}

    from dask.distributed import Client

    progress = not args.no_progress
    cluster = None
    if args.scheduler:
        client = connect(parser, args.scheduler, args.connect_timeout)
    else:
        cluster = local_cluster()
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
        if args.rank is not None:
            rank(client, ranked_problem(name, instance), args, progress)
    except KeyboardInterrupt:
        quiet_cluster(client)
        raise
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    import signal

    signal.signal(signal.SIGINT, interrupt)
    try:
        main()
    except KeyboardInterrupt:
        # Ctrl-C: the cluster is closed on the way out (main's finally); no traceback.
        print("interrupted", file=sys.stderr)
        sys.exit(130)
