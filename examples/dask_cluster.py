"""Count and enumerate the covers of a large instance on a dask.distributed cluster.

The problem is sent to every worker once (``client.scatter(..., broadcast=True)``); the search
is cut by ``xcover.split`` into disjoint subtrees, each named by a prefix of block indices, and
every prefix becomes one task: ``count_all(partitions, include=prefix)`` to count, or
``list(iter_all(partitions, include=prefix))`` to enumerate. ``client.gather`` returns the
results in the order of the prefixes, so the concatenated covers are exactly
``get_all(partitions)``, in its order.

Subtrees differ a lot in size, so ask for many more parts than workers (the default here is
16 per worker thread); split itself only walks the top of the tree and is cheap.

    python dask_cluster.py                          # a local cluster of 2 worker processes
    python dask_cluster.py --scheduler tcp://host:8786 --instance pent6x10 --enumerate

Every worker needs xcover installed (and this file importable, or it is sent by value).
"""

import argparse
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


def count_part(prefix, partitions):
    return xcover.count_all(partitions, include=prefix)


def covers_part(prefix, partitions):
    return list(xcover.iter_all(partitions, include=prefix))


def worker_threads(client):
    """The number of task slots of the cluster (worker threads over all workers)."""
    return sum(w["nthreads"] for w in client.scheduler_info()["workers"].values()) or 1


def scatter(client, partitions):
    """One future for the whole problem, held by every worker. A bare list would be scattered
    element by element, hence the wrapping list."""
    [remote] = client.scatter([partitions], broadcast=True)
    return remote


def cluster_map(client, function, partitions, parts=None, remote=None):
    """function(prefix, partitions) for every split prefix, on the cluster, in prefix order."""
    parts = parts or PARTS_PER_WORKER * worker_threads(client)
    prefixes = xcover.split(partitions, parts)
    remote = remote if remote is not None else scatter(client, partitions)
    futures = client.map(function, prefixes, partitions=remote)
    return client.gather(futures)


def dask_count(client, partitions, parts=None, remote=None):
    """count_all(partitions), counted on the cluster."""
    return sum(cluster_map(client, count_part, partitions, parts, remote))


def dask_get_all(client, partitions, parts=None, remote=None):
    """get_all(partitions), the same covers in the same order, found on the cluster."""
    pieces = cluster_map(client, covers_part, partitions, parts, remote)
    return [cover for piece in pieces for cover in piece]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of a running scheduler (default: a local cluster)")
    parser.add_argument("--instance", choices=sorted(INSTANCES), default="pent6x10")
    parser.add_argument("--parts", type=int, help="split parts (default: 16 per worker thread)")
    parser.add_argument("--enumerate", action="store_true",
                        help="also gather every cover, not only the count")
    parser.add_argument("--check", action="store_true",
                        help="compare with count_all / get_all run here")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    partitions = INSTANCES[args.instance]()
    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=2, processes=True, threads_per_worker=1)
        client = Client(cluster)
    try:
        print(f"{args.instance}: {len(partitions)} blocks, {worker_threads(client)} worker threads")
        remote = scatter(client, partitions)

        start = time.perf_counter()
        count = dask_count(client, partitions, args.parts, remote)
        print(f"count {count} in {time.perf_counter() - start:.2f} s")
        if args.check:
            print("count matches count_all:", count == xcover.count_all(partitions))

        if args.enumerate:
            start = time.perf_counter()
            covers = dask_get_all(client, partitions, args.parts, remote)
            print(f"enumerated {len(covers)} covers in {time.perf_counter() - start:.2f} s")
            if args.check:
                print("covers match get_all:", covers == xcover.get_all(partitions))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    main()
