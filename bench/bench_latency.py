"""Latency from Ctrl-C to KeyboardInterrupt in every phase of a long call.

Each case runs in a fresh interpreter: the call starts, SIGINT is sent 0.3 s into it, and the
time from the signal to the KeyboardInterrupt is printed (aim: under 100 ms everywhere).
The inputs are built before the clock starts. Prints measured figures only.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_latency.py [--only get_all]
"""

import argparse
import os
import subprocess
import sys

# Every vertex set of up to 4 of a 30-vertex graph (31,930 blocks) as iter_top_sc's `args`.
SC_GRAPH = (
    "import itertools, random\n"
    "rng = random.Random(1); n = 30\n"
    "edges = {(a, b) for a in range(n) for b in range(a + 1, n)"
    " if rng.random() < (0.5 if a % 4 == b % 4 else 0.1)}\n"
    "blocks = [list(c) for k in range(1, 5) for c in itertools.combinations(range(n), k)]\n"
    "inside = [sum((a, b) in edges for a, b in itertools.combinations(c, 2)) for c in blocks]\n"
    "weights = [1.0 + 0.3 * len(c) - 0.5 * i for c, i in zip(blocks, inside)]\n"
    "args = (blocks, weights, inside, len(edges), [len(c) for c in blocks], n)"
)

CASES = {
    # name: (set-up code building `args`, the call)
    "get_topn_sc 1e5 singletons, max_iter=1": (
        "n = 100_000; args = ([[i] for i in range(n)], [1.0] * n, [0] * n, 0, [0] * n, n, 1)",
        "xcover.get_topn_sc(*args, max_iter=1)",
    ),
    "get_all 2e7 singletons": ("args = ([[i] for i in range(20_000_000)],)", "xcover.get_all(*args)"),
    "count_all 2e7 singletons": ("args = ([[i] for i in range(20_000_000)],)", "xcover.count_all(*args)"),
    "iter_all 2e7 singletons": ("args = ([[i] for i in range(20_000_000)],)", "xcover.iter_all(*args)"),
    "count_all one block of 2e7": ("args = ([list(range(20_000_000))],)", "xcover.count_all(*args)"),
    "get_topn n=0, 5e6 singletons": (
        "n = 5_000_000; args = ([[i] for i in range(n)], [1.0] * n, 0)",
        "xcover.get_topn(*args)",
    ),
    "split 1e7 singletons": ("args = ([[i] for i in range(10_000_000)], 4)", "xcover.split(*args)"),
    # The ranked stream's set-up: the call bounds the root over every block, the first next
    # bounds each of the root's children.
    "iter_top_sc call, 30 vertices": (SC_GRAPH, "xcover.iter_top_sc(*args)"),
    "iter_top_sc first next, 30 vertices": (SC_GRAPH + "\nstream = xcover.iter_top_sc(*args)", "next(stream)"),
    "blocks_from_matrix 3000x3000 lists": (
        "args = ([[0] * 3000 for _ in range(3000)],)",
        "xcover.blocks_from_matrix(*args)",
    ),
}

SCRIPT = """
import os, signal, threading, time
import xcover
signal.signal(signal.SIGINT, signal.default_int_handler)
{setup}
sent = []
def send():
    sent.append(time.monotonic())
    os.kill(os.getpid(), signal.SIGINT)
threading.Timer(0.3, send).start()
start = time.monotonic()
try:
    {call}
    print("finished", time.monotonic() - start)
except KeyboardInterrupt:
    print("latency", time.monotonic() - sent[0])
"""


def measure(setup, call):
    code = SCRIPT.format(setup=setup, call=call)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                         timeout=600)
    words = out.stdout.split()
    if len(words) == 2:
        return words[0], float(words[1])
    return "error", out.stderr.strip().splitlines()[-1:] 


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", default="")
    options = parser.parse_args()
    print("SIGINT 0.3 s into the call; latency from the signal to KeyboardInterrupt")
    for name, (setup, call) in CASES.items():
        if options.only not in name:
            continue
        kind, value = measure(setup, call)
        if kind == "latency":
            print(f"  {name:40s} {value * 1000:8.1f} ms")
        elif kind == "finished":
            print(f"  {name:40s} finished in {value:.2f} s before the signal")
        else:
            print(f"  {name:40s} ERROR {value}")


if __name__ == "__main__":
    main()
