"""read_dlx on long texts: the time per item as the items line and the options grow.

Prints measured figures only; nothing here fails on speed. For each size n, the best of a
few runs of xcover.read_dlx on
- an items line of n primary items followed by n one-item options,
- the same with the items secondary,
- an items line of n '|' tokens (a fault at its second token),
and the time per item: flat when reading is linear in the text.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_dlx.py [--sizes 10000 100000 1000000]
"""

import argparse
import time

import xcover


def best_of(fn, runs):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def faulty(text):
    def read():
        try:
            xcover.read_dlx(text)
        except ValueError:
            return
        raise AssertionError("the fault was not reported")
    return read


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[10_000, 100_000, 1_000_000])
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    print(f"{'text':<28} {'n':>9} {'bytes':>10} {'best ms':>9} {'ns/item':>8}")
    for n in args.sizes:
        names = [f"i{k}" for k in range(n)]
        texts = {
            "primary items + options": " ".join(names) + "\n" + "\n".join(names) + "\n",
            "secondary items + options": "x | " + " ".join(names) + "\nx\n" + "\n".join(names) + "\n",
            "'|' tokens (fault)": "a " + "| " * n + "\n",
        }
        for label, text in texts.items():
            read = faulty(text) if "fault" in label else (lambda t=text: xcover.read_dlx(t))
            t = best_of(read, args.runs)
            print(f"{label:<28} {n:>9} {len(text):>10} {t * 1e3:9.1f} {t / n * 1e9:8.1f}")


if __name__ == "__main__":
    main()
