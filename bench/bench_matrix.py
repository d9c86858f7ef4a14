"""blocks_from_matrix on large 0/1 matrices, against the conversions a user would write.

Prints measured figures only; nothing here fails on speed. For each matrix, the best of a few
runs of xcover.blocks_from_matrix and of the baseline measured in the same run, and their
ratio (baseline / blocks_from_matrix: how many times faster the module is):
- numpy arrays (bool, uint8, float64; C and Fortran order) against
  `[np.flatnonzero(row).tolist() for row in matrix]`, one numpy call per row;
- nested lists against `[[c for c, v in enumerate(row) if v] for row in rows]`.
Every result is checked against its baseline's; a difference prints a MISMATCH line.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_matrix.py [--size 4000] [--density 0.01]
"""

import argparse
import time

import numpy as np

import xcover


def best_of(fn, runs):
    best, result = float("inf"), None
    for _ in range(runs):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


def row(label, cells, mine, baseline, runs):
    t_mine, got = best_of(mine, runs)
    t_base, expected = best_of(baseline, runs)
    if got != expected:
        print(f"  !!! MISMATCH !!! {label}")
    print(f"{label:<34} {t_mine * 1e3:9.1f} {t_base * 1e3:10.1f} {t_base / t_mine:7.1f}x"
          f" {t_mine / cells * 1e9:8.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--size", type=int, default=4000, help="rows and columns of the arrays")
    parser.add_argument("--density", type=float, default=0.01, help="share of ones")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    rng = np.random.default_rng(12345)
    n = args.size
    ones = rng.random((n, n)) < args.density
    print(f"{n}x{n} matrices, {args.density:.0%} ones; best of {args.runs}, ms")
    print(f"{'matrix':<34} {'module':>9} {'baseline':>10} {'ratio':>8} {'ns/cell':>8}")
    for dtype in (bool, np.uint8, np.float64):
        array = ones.astype(dtype)
        name = np.dtype(dtype).name
        row(f"{name} array, C order", n * n, lambda: xcover.blocks_from_matrix(array),
            lambda: [np.flatnonzero(r).tolist() for r in array], args.runs)
    fortran = np.asfortranarray(ones.astype(np.uint8))
    row("uint8 array, Fortran order", n * n, lambda: xcover.blocks_from_matrix(fortran),
        lambda: [np.flatnonzero(r).tolist() for r in fortran], args.runs)
    small = n // 2
    rows = ones[:small, :small].astype(int).tolist()
    row(f"nested lists, {small}x{small}", small * small,
        lambda: xcover.blocks_from_matrix(rows),
        lambda: [[c for c, v in enumerate(r) if v] for r in rows], args.runs)
    print("ratio: baseline time / module time; baselines: np.flatnonzero per row for arrays,"
          " a list comprehension for nested lists")


if __name__ == "__main__":
    main()
