"""End-to-end benchmark of xcover.get_all from Python.

Prints measured figures only; nothing here fails on speed.

1. get_all on the 6x10 pentomino board and on Langford pairs n=11, Python lists in and
   lists out, best of a few runs.
2. The C++ floor (a minimal recursive dancing-links counter in build/engine_bench) timed
   in the same run, and the ratio get_all / floor per instance (aim: within 1.5x).
3. Two threads each running get_all on Langford n=11 against one thread doing the same
   total work serially (aim: a throughput ratio of at least 1.8x on two free cores).

Run with the module on the path, e.g. PYTHONPATH=build python bench/bench_python.py
"""

import json
import os
import subprocess
import sys
import threading
import time

import xcover

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "examples"))

from pentomino import pentomino_blocks  # noqa: E402

ENGINE_BENCH = os.path.join(ROOT, "build", "engine_bench")
TO_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def langford_blocks(n):
    """Langford pairs: number k sits at positions i and i + k + 1."""
    return [[k - 1, n + i, n + i + k + 1] for k in range(1, n + 1) for i in range(2 * n - k - 1)]


def best_time(fn, runs):
    """The fastest of `runs` calls, and the last result."""
    best, result = float("inf"), None
    for _ in range(runs):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


def floor_times():
    """Seconds per search of the C++ floor, by instance name, or {} when it can't run."""
    if not os.access(ENGINE_BENCH, os.X_OK):
        print(f"  (no {ENGINE_BENCH}: floor not measured)")
        return {}
    out = subprocess.run(
        [ENGINE_BENCH, "--benchmark_filter=Floor", "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    times = {}
    for bench in json.loads(out)["benchmarks"]:
        instance = bench["name"].removeprefix("BM_Floor_")
        times[instance] = bench["real_time"] * TO_SECONDS[bench["time_unit"]]
    return times


def end_to_end(instances):
    print("get_all end to end (Python lists in, lists out), best of runs:")
    measured = {}
    for name, blocks, runs in instances:
        seconds, covers = best_time(lambda: xcover.get_all(blocks), runs)
        measured[name] = seconds
        print(f"  {name:<16} {len(covers):>7} covers  {seconds * 1e3:9.1f} ms"
              f"  {len(covers) / seconds:>12,.0f} covers/s  (best of {runs})")
    return measured


def against_floor(measured):
    print("C++ floor (engine_bench, same run) and get_all / floor:")
    floors = floor_times()
    for name, seconds in measured.items():
        floor = floors.get(name)
        if floor is None:
            print(f"  {name:<16} no floor figure")
            continue
        print(f"  {name:<16} floor {floor * 1e3:9.1f} ms  get_all {seconds * 1e3:9.1f} ms"
              f"  ratio {seconds / floor:5.2f}x  (aim <= 1.5x)")


def threads(blocks, seconds_of_work=2.0):
    one, _ = best_time(lambda: xcover.get_all(blocks), 3)
    reps = max(1, round(seconds_of_work / one))

    def work():
        for _ in range(reps):
            xcover.get_all(blocks)

    start = time.perf_counter()
    work()
    work()
    serial = time.perf_counter() - start

    pool = [threading.Thread(target=work) for _ in range(2)]
    start = time.perf_counter()
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    parallel = time.perf_counter() - start

    print(f"Two threads x {reps} get_all(Langford11) against one thread doing {2 * reps}:")
    print(f"  serial {serial:6.2f} s  two threads {parallel:6.2f} s"
          f"  throughput ratio {serial / parallel:4.2f}x  (aim >= 1.8x)")


def main():
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    print(f"Python {sys.version.split()[0]}, GIL {'enabled' if gil else 'disabled'},"
          f" {os.cpu_count()} CPUs")
    pentomino, _ = pentomino_blocks(6, 10)
    langford = langford_blocks(11)
    measured = end_to_end([("Pentomino6x10", pentomino, 2), ("Langford11", langford, 5)])
    against_floor(measured)
    threads(langford)


if __name__ == "__main__":
    main()
