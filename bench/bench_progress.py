"""The cost of a progress callable: count_all with progress= against count_all without.

Prints measured figures only; nothing here fails on speed.

On one thread and with the pool's setting at 2 (`--threads` to change), each instance is
counted alternately without and with a progress callable (that does nothing but count its
calls), `--repeat` times each, and the best times are compared: the callable is called about
ten times a second, and the search pays one clock read per poll either way, so the ratio
should stay within noise (the goal is at most 3% slower).

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_progress.py [--repeat 3]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))

import xcover  # noqa: E402
from langford import langford_blocks  # noqa: E402
from pentomino import pentomino_blocks  # noqa: E402


def instances():
    yield "pent6x10", pentomino_blocks(6, 10)[0]
    yield "langford12", langford_blocks(12)[0]


def best_time(call, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--threads", default="1,2")
    args = parser.parse_args()
    print(f"{'instance':<12}{'threads':>8}{'plain':>10}{'progress':>10}{'ratio':>8}{'reports':>9}")
    for name, blocks in instances():
        for threads in [int(t) for t in args.threads.split(",")]:
            xcover.set_threads(threads)
            calls = []
            expected = xcover.count_all(blocks)
            assert xcover.count_all(blocks, progress=lambda f, c: calls.append(c)) == expected
            plain = with_progress = float("inf")
            for _ in range(args.repeat):  # alternated, so that drift hits both alike
                plain = min(plain, best_time(lambda: xcover.count_all(blocks), 1))
                with_progress = min(with_progress, best_time(
                    lambda: xcover.count_all(blocks, progress=lambda f, c: None), 1))
            print(f"{name:<12}{threads:>8}{plain:>9.3f}s{with_progress:>9.3f}s"
                  f"{with_progress / plain:>8.3f}{len(calls):>9}")
    xcover.set_threads(1)


if __name__ == "__main__":
    main()
