"""Many cores from Python threads: one search split into subtrees that run in parallel.

``xcover.split(partitions, parts)`` cuts the search tree of ``get_all`` into disjoint
subtrees, given as prefixes in search order. Each subtree is searched on its own with
``iter_all(partitions, include=prefix)`` (or counted with ``count_all``), and every call
releases the interpreter while it searches, so a ``ThreadPoolExecutor`` keeps several cores
busy on a free-threaded Python. ``executor.map`` returns results in the order of the
prefixes, so the concatenation is exactly ``get_all(partitions)``.

Subtrees are uneven, so ask for several parts per worker (here 8): a worker that drew a small
one just takes the next.

    python parallel.py [workers]     # pentomino 6x10: 1 thread against `workers` threads
"""

import os
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import xcover
from pentomino import pentomino_blocks

PARTS_PER_WORKER = 8


def prefixes_for(partitions, workers):
    return xcover.split(partitions, parts=PARTS_PER_WORKER * workers)


def parallel_get_all(partitions, workers):
    """get_all(partitions), same covers in the same order, searched on `workers` threads."""
    prefixes = prefixes_for(partitions, workers)
    with ThreadPoolExecutor(workers) as executor:
        parts = executor.map(lambda p: list(xcover.iter_all(partitions, include=p)), prefixes)
        return [cover for part in parts for cover in part]


def parallel_count(partitions, workers):
    """count_all(partitions), counted on `workers` threads."""
    prefixes = prefixes_for(partitions, workers)
    with ThreadPoolExecutor(workers) as executor:
        return sum(executor.map(lambda p: xcover.count_all(partitions, include=p), prefixes))


def count_with_progress(partitions, workers, file=None):
    """count_all with `workers` threads (the module's helpers, set_threads), with a tqdm bar
    in percent of the search tree searched and an estimate of the time left."""
    from tqdm import tqdm

    previous = xcover.get_threads()
    xcover.set_threads(workers)
    bar_format = "{l_bar}{bar}| {n:.0f}% [{elapsed}<{remaining}]{postfix}"
    try:
        with tqdm(total=100, unit="%", bar_format=bar_format, file=file) as bar:
            def show(fraction, count):
                bar.update(100 * fraction - bar.n)
                bar.set_postfix(covers=count, refresh=False)

            return xcover.count_all(partitions, progress=show)
    finally:
        xcover.set_threads(previous)


def iterate_with_progress(partitions, file=None):
    """Every cover of get_all through iter_all, with a tqdm bar counting covers. The total
    comes from count_all, which runs the search once more: fine for small instances."""
    from tqdm import tqdm

    total = xcover.count_all(partitions)
    return list(tqdm(xcover.iter_all(partitions), total=total, unit="cover", file=file))


def timed_pair(serial, threaded):
    """Runs both; returns (serial result, its seconds, threaded result, its seconds)."""
    start = time.perf_counter()
    first = serial()
    middle = time.perf_counter()
    second = threaded()
    return first, middle - start, second, time.perf_counter() - middle


def main():
    workers = int(sys.argv[1]) if len(sys.argv) > 1 else min(4, os.cpu_count() or 1)
    partitions, _ = pentomino_blocks(6, 10)
    print(f"pentomino 6x10, {len(partitions)} candidate blocks, {workers} worker threads")

    start = time.perf_counter()
    prefixes = prefixes_for(partitions, workers)
    print(f"split into {len(prefixes)} parts in {time.perf_counter() - start:.3f} s")

    single, one, many, n = timed_pair(lambda: xcover.count_all(partitions),
                                      lambda: parallel_count(partitions, workers))
    print(f"count:     1 thread {one:6.2f} s, {workers} threads {n:6.2f} s"
          f"  ({one / n:.2f}x), {many} covers")
    assert many == single

    every, one, threaded, n = timed_pair(lambda: xcover.get_all(partitions),
                                         lambda: parallel_get_all(partitions, workers))
    print(f"enumerate: 1 thread {one:6.2f} s, {workers} threads {n:6.2f} s"
          f"  ({one / n:.2f}x), same covers in the same order: {threaded == every}")
    assert threaded == every


if __name__ == "__main__":
    main()
