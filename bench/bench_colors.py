"""count_all with colors against Knuth's DLX2 on the colored instances of bench/instances (the
same DLX text, read by read_dlx_file and by DLX2): prints the counts, which must agree, the
CPU seconds of each (the best of a few runs: the machine may be shared) and xcover/DLX2.

DLX2 is built from the CWEB sources by ../shared/peers/knuth/build.sh (needs ctangle, from
Debian's texlive-binaries), or taken from $XCOVER_DLX2. xcover counts on one thread; DLX2's
time includes reading its input, which is a few milliseconds here.

    PYTHONPATH=build python bench/bench_colors.py [--runs N]
"""

import argparse
import os
import re
import resource
import subprocess
import sys
import time

import xcover

HERE = os.path.dirname(os.path.abspath(__file__))
INSTANCES = ["wordrect4x5", "sudoku6c"]


def dlx2_program():
    given = os.environ.get("XCOVER_DLX2")
    if given:
        return given
    build = os.path.join(HERE, "..", "..", "shared", "peers", "knuth", "build.sh")
    if not os.path.exists(build):
        return None
    out = subprocess.run(["bash", build], capture_output=True, text=True)
    if out.returncode != 0:
        print(out.stderr.strip(), file=sys.stderr)
        return None
    return os.path.join(out.stdout.strip().splitlines()[-1], "dlx2")


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def time_dlx2(program, path, runs):
    best, count = float("inf"), None
    for _ in range(runs):
        with open(path) as text:
            before = children_cpu()
            out = subprocess.run([program], stdin=text, capture_output=True, text=True, check=True)
            best = min(best, children_cpu() - before)
        count = int(re.search(r"Altogether (\d+) solution", out.stderr)[1])
    return count, best


def time_xcover(path, runs):
    problem = xcover.read_dlx_file(path)
    best, count = float("inf"), None
    for _ in range(runs):
        before = time.process_time()
        count = xcover.count_all(problem.blocks, secondary=problem.secondary, colors=problem.colors)
        best = min(best, time.process_time() - before)
    return count, best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    program = dlx2_program()
    if program is None:
        print("bench_colors: DLX2 unavailable (no build.sh or no ctangle): skipped")
        return
    xcover.set_threads(1)
    print(f"{'instance':<12} {'covers':>8} {'xcover s':>9} {'DLX2 s':>8} {'xcover/DLX2':>12}")
    for name in INSTANCES:
        path = os.path.join(HERE, "instances", name + ".dlx")
        ours, ours_time = time_xcover(path, args.runs)
        theirs, theirs_time = time_dlx2(program, path, args.runs)
        if ours != theirs:
            sys.exit(f"{name}: xcover counts {ours} covers, DLX2 {theirs}")
        print(f"{name:<12} {ours:>8} {ours_time:>9.3f} {theirs_time:>8.3f} {ours_time / theirs_time:>12.2f}")


if __name__ == "__main__":
    main()
