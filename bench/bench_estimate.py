"""Benchmark of estimate_all and of secondary elements, from Python, on bench/instances.

Prints measured figures only; nothing here fails on speed.

1. estimate_all with 1000 probes (best of --runs calls) against one count_all of the same
   instance measured in the same run: the time ratio, and the estimates with their standard
   errors next to the exact count.
2. n-queens with the diagonals secondary (no slack blocks) against the slack-block model of
   bench/instances/queens13.json: count_all time of each, and their ratio.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_estimate.py [--only pent6x10] [--runs 5]
"""

import argparse
import json
import os
import time

import xcover

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTANCES = os.path.join(ROOT, "bench", "instances")
COUNTED = ["pent6x10", "pent5x12", "langford12", "queens13", "sudoku16", "x3c270"]


def load(name):
    with open(os.path.join(INSTANCES, name + ".json")) as f:
        return json.load(f)


def best_of(runs, work):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        result = work()
        best = min(best, time.perf_counter() - start)
    return best, result


def estimates(names, runs):
    print("estimate_all, 1000 probes, against one count_all")
    print(f"{'instance':<12} {'probes s':>9} {'count s':>9} {'ratio':>8} "
          f"{'covers':>10} {'est covers':>22} {'est nodes':>22}")
    for name in names:
        instance = load(name)
        blocks = instance["partitions"]
        probe_time, e = best_of(runs, lambda: xcover.estimate_all(blocks, seed=1))
        count_time, count = best_of(1, lambda: xcover.count_all(blocks))
        mark = "" if count == instance["expected"] else "  MISMATCH"
        print(f"{name:<12} {probe_time:9.4f} {count_time:9.3f} {probe_time / count_time:8.4f} "
              f"{count:>10} {e.covers:>12.4g} ± {e.covers_stderr:<8.2g}"
              f"{e.nodes:>12.4g} ± {e.nodes_stderr:<8.2g}{mark}")


def queens_secondary(runs):
    instance = load("queens13")
    n = 13
    slack_model = instance["partitions"]
    queens = slack_model[: n * n]
    diagonals = sorted({e for b in slack_model[n * n:] for e in b})
    slack_time, slack_count = best_of(runs, lambda: xcover.count_all(slack_model))
    secondary_time, secondary_count = best_of(
        runs, lambda: xcover.count_all(queens, secondary=diagonals))
    mark = "" if slack_count == secondary_count == instance["expected"] else "  MISMATCH"
    print("\nqueens13 count_all: diagonals secondary against slack blocks")
    print(f"slack {slack_time:.3f} s, secondary {secondary_time:.3f} s, "
          f"ratio secondary/slack {secondary_time / slack_time:.3f}{mark}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", action="append")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    estimates(args.only or COUNTED, args.runs)
    if not args.only or "queens13" in args.only:
        queens_secondary(args.runs)


if __name__ == "__main__":
    main()
