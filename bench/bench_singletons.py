"""Ranked queries on blocks that no other block meets: the scaling with their number.

Prints measured figures only; nothing here fails on speed.

For n = 10^4, 10^5 and 10^6 (`--sizes` to change), each call is timed once on n singleton
blocks [[0], [1], ..., [n - 1]] (one cover), then on the same blocks with a few blocks
across them (a handful of covers, and entries pending beside the deep one):
    get_topn(..., 1)            the search with a cutoff
    get_topn(..., 1, max_iter)  the plain search (caps)
    get_top, get_topp(..., 0.5) with a cutoff
    iter_top                    the plain search, as a stream
Weights are 1.0, and 1/3 (shares that round) for the second shape. Time per call should
grow about tenfold from one size to the next; a hundredfold means a scan per level.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_singletons.py [--sizes 10000,100000]
"""

import argparse
import time

import xcover


def calls(blocks, weights):
    n = len(blocks)
    return {
        "get_topn": lambda: xcover.get_topn(blocks, weights, 1),
        "get_topn capped": lambda: xcover.get_topn(blocks, weights, 1, max_iter=4 * n),
        "get_top": lambda: xcover.get_top(blocks, weights),
        "get_topp": lambda: xcover.get_topp(blocks, weights, 0.5),
        "iter_top": lambda: [cover for _, cover in xcover.iter_top(blocks, weights)],
    }


def shapes(n):
    singletons = [[i] for i in range(n)]
    yield "singletons", singletons, [1.0] * n
    across = singletons + [[0, 1], [2, 3, 4], [n // 2, n - 1]]
    yield "singletons + 3 across", across, [1 / 3] * len(across)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="10000,100000,1000000")
    sizes = [int(s) for s in parser.parse_args().sizes.split(",")]
    print(f"{'shape':<24}{'call':<18}" + "".join(f"{n:>12}" for n in sizes))
    rows = {}
    for n in sizes:
        for shape, blocks, weights in shapes(n):
            for name, call in calls(blocks, weights).items():
                start = time.perf_counter()
                covers = call()
                elapsed = time.perf_counter() - start
                rows.setdefault((shape, name), []).append(f"{elapsed:>10.3f} s")
                assert covers, (shape, name, n)
    for (shape, name), cells in rows.items():
        print(f"{shape:<24}{name:<18}" + "".join(f"{c:>12}" for c in cells))


if __name__ == "__main__":
    main()
