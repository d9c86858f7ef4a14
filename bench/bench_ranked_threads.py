"""The ranked queries without caps on one thread and on two: get_topn's branch and bound cut
into pieces for the helpers, and get_topn_sc leaving out what no candidate from iter_top_sc
extends.

Prints measured figures only; nothing here fails on speed. Each case runs in a process of its
own, once with set_threads(1) and once with set_threads(2) (best of `--repeat` wall-clock
runs each, after one run to warm up), checks that both give the same covers, and prints the
seconds, their ratio (one thread / two) and the process's peak resident memory (interpreter
and instance included). Cases: get_topn top 1 of pent6x10w, grid8w and grid10w with the
integer costs of the DLX copies (round(10000 * weight)); get_topn_sc top 1 and 10 of sbm16,
sbm24 and sbm40, and for sbm16 also the plain search (a step cap too large to matter) and
whether it lists the same covers.

The instances are looked up in $XCOVER_RANKED_INSTANCES, else ../shared/bench-instances/ranked
beside the checkout (sbm40 in bench/instances). Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_ranked_threads.py [--repeat 3]
"""

import argparse
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RANKED = os.environ.get("XCOVER_RANKED_INSTANCES",
                        os.path.join(ROOT, "..", "shared", "bench-instances", "ranked"))
LOCAL = os.path.join(ROOT, "bench", "instances")

CHILD = r"""
import json, sys, time
import xcover
path, query, n, repeat, plain = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] == "1"
d = json.load(open(path))
if query == "topn":
    weights = [float(round(10000 * w)) for w in d["weights"]]
    call = lambda **caps: xcover.get_topn(d["partitions"], weights, n, **caps)
else:
    keys = ("partitions", "weights", "edge_counts", "edge_total", "labels", "vertex_total")
    call = lambda **caps: xcover.get_topn_sc(*(d[k] for k in keys), n, **caps)
times, results = [], []
for threads in (1, 2):
    xcover.set_threads(threads)
    results.append(call())
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    times.append(best)
xcover.set_threads(1)
same_plain = "-"
if plain:
    start = time.perf_counter()
    same_plain = "%s in %.2f s" % (call(max_iter=2**62) == results[0], time.perf_counter() - start)
with open("/proc/self/status") as status:
    peak = next(int(l.split()[1]) for l in status if l.startswith("VmHWM:")) // 1024
print(times[0], times[1], results[0] == results[1], peak, same_plain)
"""


def instance(name):
    for folder in (RANKED, LOCAL):
        path = os.path.join(folder, name + ".json")
        if os.path.exists(path):
            return path
    return None


CASES = [("pent6x10w", "topn", 1, False), ("grid8w", "topn", 1, False), ("grid10w", "topn", 1, False),
         ("sbm16", "topn_sc", 1, True), ("sbm16", "topn_sc", 10, True),
         ("sbm24", "topn_sc", 1, False), ("sbm24", "topn_sc", 10, False),
         ("sbm40", "topn_sc", 1, False), ("sbm40", "topn_sc", 10, False)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    print(f"{'instance':<10}{'query':<12}{'n':>4}{'1 thread':>10}{'2 threads':>11}{'ratio':>7}"
          f"{'same':>6}{'peak MiB':>10}  plain search")
    for name, query, n, plain in CASES:
        path = instance(name)
        if path is None:
            print(f"{name:<10}(instance not found)")
            continue
        out = subprocess.run([sys.executable, "-c", CHILD, path, query, str(n), str(args.repeat),
                              "1" if plain else "0"], capture_output=True, text=True, timeout=1800)
        if out.returncode != 0:
            print(f"{name:<10}{query:<12}{n:>4}  failed: {out.stderr.strip().splitlines()[-1:]}")
            continue
        one, two, same, peak, *plain_result = out.stdout.strip().split(maxsplit=4)
        one, two = float(one), float(two)
        print(f"{name:<10}{'get_' + query:<12}{n:>4}{one:>9.3f}s{two:>10.3f}s{one / two:>7.2f}"
              f"{same:>6}{peak:>10}  {' '.join(plain_result)}")


if __name__ == "__main__":
    main()
