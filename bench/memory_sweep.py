"""Every call under an address-space limit set before the interpreter starts (`ulimit -v`).

For each thread setting, limit and call, a fresh interpreter runs the call on an instance
under RLIMIT_AS; the sweep tallies how each child ended: a result, MemoryError, or anything
else (an abort, a signal, another exception), which it prints in full. The aim is no row in
the last column. Prints measured figures only.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/memory_sweep.py [--threads 2 16 64] [--limits 60 150 250]
"""

import argparse
import collections
import os
import resource
import subprocess
import sys

# name: the call, with `b` (pent6x10-like boards of singles and pairs) and `w` defined.
CALLS = {
    "get_topn": "xcover.get_topn(b, w, 5000)",
    "get_top": "xcover.get_top(b, w)",
    "iter_top": "list(itertools.islice(xcover.iter_top(b, w), 5000))",
    "get_all": "xcover.get_all(b)",
    "count_all": "xcover.count_all(b)",
    "iter_all": "sum(1 for _ in xcover.iter_all(b))",
}

# A 5x6 board tiled by dominoes and monominoes: 1.3 million covers, and ranked searches
# with real frontiers.
SETUP = (
    "import itertools, xcover\n"
    "rows, cols = 5, 6\n"
    "cells = [(r, c) for r in range(rows) for c in range(cols)]\n"
    "b = [[r * cols + c] for r, c in cells]\n"
    "b += [[r * cols + c, r * cols + c + 1] for r, c in cells if c + 1 < cols]\n"
    "b += [[r * cols + c, (r + 1) * cols + c] for r, c in cells if r + 1 < rows]\n"
    "w = [1.0 + ((i * 7919) % 13) / 13.0 for i in range(len(b))]\n"
)


def run(call, threads, limit_mib, timeout):
    code = f"{SETUP}xcover.set_threads({threads})\ntry:\n    {CALLS[call]}\n    print('result')\n"
    code += "except MemoryError:\n    print('MemoryError')\n"
    limit = limit_mib << 20

    def limit_at_start():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    try:
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              timeout=timeout, preexec_fn=limit_at_start, env=dict(os.environ))
    except subprocess.TimeoutExpired:
        return "timeout", ""
    out = done.stdout.strip().splitlines()
    if done.returncode == 0 and out and out[-1] in ("result", "MemoryError"):
        return out[-1], ""
    # The interpreter itself may not start under a tiny limit: that is not the module's doing.
    if "runtime state: preinitialized" in done.stderr:
        return "no interpreter", ""
    return f"exit {done.returncode}", done.stderr.strip()[-400:]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, nargs="+", default=[2, 4, 16, 64])
    parser.add_argument("--limits", type=int, nargs="+", default=[60, 100, 150, 250], help="MiB")
    parser.add_argument("--calls", nargs="+", default=list(CALLS), choices=list(CALLS))
    parser.add_argument("--timeout", type=float, default=120.0)
    args = parser.parse_args()
    tally = collections.Counter()
    print(f"{'call':<10} {'threads':>7} {'MiB':>5}  outcome")
    for call in args.calls:
        for threads in args.threads:
            for limit in args.limits:
                outcome, detail = run(call, threads, limit, args.timeout)
                tally[outcome] += 1
                print(f"{call:<10} {threads:>7} {limit:>5}  {outcome}", flush=True)
                if detail:
                    print("    " + detail.replace("\n", "\n    "))
    print("totals: " + ", ".join(f"{k} {v}" for k, v in sorted(tally.items())))
    bad = sum(v for k, v in tally.items() if k not in ("result", "MemoryError", "no interpreter"))
    print(f"children that ended otherwise: {bad}")


if __name__ == "__main__":
    main()
