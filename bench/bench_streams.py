"""End-to-end benchmark of the ranked streams from Python, on the shared ranked instances.

Prints measured figures only; nothing here fails on speed. In one run, for each case:
1. iter_top against get_topn for the same number of covers (pent6x10w top 100, wgnp30 top
   1000), with the pool set to one thread and to two: wall seconds of both, and the ratio
   iter_top / get_topn (the stream builds a (cost, cover) tuple per cover and runs one step
   per engine call of its own);
2. iter_top_sc's first 10 covers on sbm16, one thread against two: wall seconds and the
   speedup.
Every stream's covers are checked against get_topn's (iter_top) or the one-thread stream's
(iter_top_sc); a difference prints a MISMATCH line. Wall times count the helpers' work only
through the caller's waiting: on a loaded machine, read ratios from one run.

The instances are looked up in $XCOVER_RANKED_INSTANCES, else ../shared/bench-instances/ranked
beside the checkout. Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_streams.py [--runs 3]
"""

import argparse
import itertools
import json
import os
import time

import xcover

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RANKED = os.environ.get("XCOVER_RANKED_INSTANCES",
                        os.path.join(ROOT, "..", "shared", "bench-instances", "ranked"))
TOP_CASES = [("pent6x10w", 100), ("wgnp30", 1000)]
SC_CASE = ("sbm16", 10)


def load(name):
    with open(os.path.join(RANKED, name + ".json")) as f:
        return json.load(f)


def best_of(runs, call):
    """The least wall time of `runs` calls, and the last call's result."""
    best, result = float("inf"), None
    for _ in range(runs):
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result


def with_threads(threads, call):
    xcover.set_threads(threads)
    try:
        return call()
    finally:
        xcover.set_threads(1)


def iter_top_against_get_topn(name, n, runs):
    inst = load(name)
    blocks, weights = inst["partitions"], inst["weights"]
    for threads in (1, 2):
        def topn():
            return xcover.get_topn(blocks, weights, n)

        def stream():
            return list(itertools.islice(xcover.iter_top(blocks, weights), n))

        topn_s, covers = with_threads(threads, lambda: best_of(runs, topn))
        stream_s, pairs = with_threads(threads, lambda: best_of(runs, stream))
        if [c for _, c in pairs] != covers:
            print(f"  !!! MISMATCH !!! iter_top on {name}, threads {threads}: not get_topn's covers")
        print(f"  {name:10s} top {n:5d} threads {threads}  get_topn {topn_s:8.3f} s  "
              f"iter_top {stream_s:8.3f} s  iter_top/get_topn {stream_s / topn_s:6.2f}")


def iter_top_sc_threads(name, n, runs):
    inst = load(name)
    args = (inst["partitions"], inst["weights"], inst["edge_counts"], inst["edge_total"],
            inst["labels"], inst["vertex_total"])

    def stream():
        return list(itertools.islice(xcover.iter_top_sc(*args), n))

    one_s, one = with_threads(1, lambda: best_of(runs, stream))
    two_s, two = with_threads(2, lambda: best_of(runs, stream))
    if one != two:
        print(f"  !!! MISMATCH !!! iter_top_sc on {name}: two threads differ from one")
    print(f"  {name:10s} top {n:5d}  threads 1 {one_s:8.3f} s  threads 2 {two_s:8.3f} s  "
          f"speedup {one_s / two_s:6.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=1)
    options = parser.parse_args()
    if not os.path.isdir(RANKED):
        print(f"ranked streams: no instances in {RANKED}; skipped")
        return
    print("iter_top against get_topn, the same covers (best of", options.runs, "runs)")
    for name, n in TOP_CASES:
        iter_top_against_get_topn(name, n, options.runs)
    print("iter_top_sc, one thread against two")
    iter_top_sc_threads(*SC_CASE, options.runs)


if __name__ == "__main__":
    main()
