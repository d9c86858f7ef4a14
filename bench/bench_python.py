"""End-to-end benchmark of xcover.get_all from Python on the instances of bench/instances.

Prints measured figures only; nothing here fails on speed.

For each instance (Python lists in, lists out):
1. the first call in a fresh process: one subprocess per instance imports xcover, loads the
   JSON, times one get_all call and reports its peak RSS (ru_maxrss) before and after;
2. the best of repeated calls in this process;
3. the C++ floor (Floor/<instance> of build/engine_bench, a minimal recursive
   dancing-links counter walking the same search tree) measured in the same run, and the
   ratios get_all / floor (aim: best-of within 1.5x).
Then two threads each running get_all on one instance against one thread doing the same
total work serially (aim: a throughput ratio of at least 1.8x on two free cores).

Then the extra functions, in the same run:
4. count_all (best of repeated calls) against the same floor, which also counts only;
5. iter_all against get_all end to end on langford12: `sum(1 for _ in iter_all(...))` and
   `list(iter_all(...))`, each as a ratio to get_all, and `list(iter_all(..., seed=1))` (the
   seeded branch order) as a ratio to the unseeded list;
6. one whole enumeration on two threads through split (iter_all over the prefixes on a
   ThreadPoolExecutor of 2, concatenated in order) against get_all on one thread, wall time,
   on pent6x10 and langford12;
7. iter_all on the process-wide pool (`set_threads`) with two threads against one, wall
   clock, `sum(1 for _ in iter_all(...))` on the same instances.

Every cover count is checked against the instance's `expected`; a wrong one prints a
MISMATCH line.

Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_python.py [--only sudoku16] [--runs 5]
"""

import argparse
import json
import os
import resource
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTANCES = os.path.join(ROOT, "bench", "instances")
ENGINE_BENCH = os.path.join(ROOT, "build", "engine_bench")
ITER_INSTANCE = "langford12"
SPLIT_INSTANCES = ["pent6x10", "langford12"]
SPLIT_PARTS_PER_THREAD = 16
TO_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
# From the smallest search to the largest.
NAMES = ["sudoku16", "langford12", "x3c270", "queens13", "pent5x12", "pent6x10"]
THREADS_INSTANCE = "sudoku16"


def load(name):
    with open(os.path.join(INSTANCES, name + ".json")) as f:
        return json.load(f)


def check(name, what, covers, expected):
    if len(covers) != expected:
        print(f"  !!! MISMATCH !!! {what} on {name}: {len(covers)} covers, expected {expected}")


def peak_rss_kib():
    """Peak RSS of this process in KiB. ru_maxrss survives execve on Linux, so a child
    spawned by a big parent would report the parent's peak; VmHWM belongs to this process
    image only, and is used where it exists."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def child(name):
    """Fresh-process run: one timed call, printed as JSON on stdout."""
    import xcover

    inst = load(name)
    blocks = inst["partitions"]
    rss_before = peak_rss_kib()
    start, cpu = time.perf_counter(), time.thread_time()
    covers = xcover.get_all(blocks)
    seconds, cpu = time.perf_counter() - start, time.thread_time() - cpu
    rss_after = peak_rss_kib()
    print(json.dumps({"seconds": seconds, "cpu": cpu, "covers": len(covers),
                      "rss_before_kib": rss_before, "rss_after_kib": rss_after}))


def first_call(name):
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", name],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def best_of(fn, runs):
    """The fastest of `runs` calls in wall-clock and in thread CPU seconds, and the last
    result."""
    best, best_cpu, result = float("inf"), float("inf"), None
    for _ in range(runs):
        result = None
        start, cpu = time.perf_counter(), time.thread_time()
        result = fn()
        best = min(best, time.perf_counter() - start)
        best_cpu = min(best_cpu, time.thread_time() - cpu)
    return (best, best_cpu), result


def floor_times(names, repetitions, engine_bench=ENGINE_BENCH):
    """Seconds per search of the C++ floor (fastest repetition), by instance."""
    if not os.access(engine_bench, os.X_OK):
        print(f"  (no {engine_bench}: floor not measured)")
        return {}
    out = subprocess.run(
        [engine_bench, f"--benchmark_filter=^Floor/({'|'.join(names)})$",
         f"--benchmark_repetitions={repetitions}", "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    times = {}
    for bench in json.loads(out)["benchmarks"]:
        if bench.get("run_type") == "aggregate":
            continue
        instance = bench["run_name"].removeprefix("Floor/")
        unit = TO_SECONDS[bench["time_unit"]]
        wall, cpu = times.get(instance, (float("inf"), float("inf")))
        times[instance] = (min(wall, bench["real_time"] * unit), min(cpu, bench["cpu_time"] * unit))
    return times


def threads(blocks, name, seconds_of_work=2.0):
    import xcover

    (one, _), _ = best_of(lambda: xcover.get_all(blocks), 3)
    reps = max(1, round(seconds_of_work / one))

    def work():
        for _ in range(reps):
            xcover.get_all(blocks)

    start, cpu = time.perf_counter(), time.process_time()
    work()
    work()
    serial, serial_cpu = time.perf_counter() - start, time.process_time() - cpu

    pool = [threading.Thread(target=work) for _ in range(2)]
    start, cpu = time.perf_counter(), time.process_time()
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    parallel, parallel_cpu = time.perf_counter() - start, time.process_time() - cpu

    print(f"Two threads x {reps} get_all({name}) against one thread doing {2 * reps}:")
    print(f"  serial {serial:6.2f} s  two threads {parallel:6.2f} s"
          f"  throughput ratio {serial / parallel:4.2f}x  (aim >= 1.8x)")
    # Cores this process got: below 2 in the two-thread phase means the machine was busy.
    print(f"  cores used: serial {serial_cpu / serial:4.2f}, two threads {parallel_cpu / parallel:4.2f};"
          f" CPU seconds: serial {serial_cpu:6.2f}, two threads {parallel_cpu:6.2f}")


def count_all_rows(names, runs_of, floors):
    """count_all best-of against the floor (both count only), by instance."""
    import xcover

    print("count_all against the floor (both count covers without building them), ms")
    print(f"{'instance':<11} {'covers':>7} {'floor':>9} {'count_all':>9} {'count/fl':>8}"
          f" {'cpu/fl':>8}")
    for name in names:
        inst = load(name)
        blocks = inst["partitions"]
        (wall, cpu), count = best_of(lambda: xcover.count_all(blocks), runs_of[name])
        if count != inst["expected"]:
            print(f"  !!! MISMATCH !!! count_all on {name}: {count}, expected {inst['expected']}")
        floor_wall, floor_cpu = floors.get(name, (None, None))
        print(f"{name:<11} {count:>7} {ms(floor_wall)} {ms(wall)} {ratio(wall, floor_wall):>8}"
              f" {ratio(cpu, floor_cpu):>8}")


def iter_all_rows(name, runs):
    """iter_all end to end against get_all on one instance."""
    import xcover

    inst = load(name)
    blocks = inst["partitions"]
    (get_all_s, _), covers = best_of(lambda: xcover.get_all(blocks), runs)
    check(name, "get_all", covers, inst["expected"])
    del covers
    (counted_s, _), counted = best_of(lambda: sum(1 for _ in xcover.iter_all(blocks)), runs)
    if counted != inst["expected"]:
        print(f"  !!! MISMATCH !!! iter_all on {name}: {counted}, expected {inst['expected']}")
    (listed_s, _), covers = best_of(lambda: list(xcover.iter_all(blocks)), runs)
    check(name, "list(iter_all)", covers, inst["expected"])
    del covers
    (seeded_s, _), covers = best_of(lambda: list(xcover.iter_all(blocks, seed=1)), runs)
    check(name, "list(iter_all(seed=1))", covers, inst["expected"])
    del covers
    print(f"iter_all against get_all on {name} ({inst['expected']} covers), best of {runs}, ms")
    print(f"  get_all {ms(get_all_s)}   sum(1 for _ in iter_all) {ms(counted_s)}"
          f" ({ratio(counted_s, get_all_s).strip()})   list(iter_all) {ms(listed_s)}"
          f" ({ratio(listed_s, get_all_s).strip()})")
    print(f"  list(iter_all(seed=1)) {ms(seeded_s)} ({ratio(seeded_s, listed_s).strip()} of list(iter_all))")


def split_get_all(blocks, workers, parts):
    """get_all through split: iter_all over each prefix on `workers` threads, in order."""
    from concurrent.futures import ThreadPoolExecutor

    import xcover

    prefixes = xcover.split(blocks, parts)
    with ThreadPoolExecutor(workers) as executor:
        pieces = executor.map(lambda p: list(xcover.iter_all(blocks, include=p)), prefixes)
        return [cover for piece in pieces for cover in piece]


def split_threads_rows(names, runs):
    """One whole enumeration: get_all on one thread against split on two threads."""
    import xcover

    print(f"one enumeration on two threads through split ({SPLIT_PARTS_PER_THREAD} parts per"
          f" thread) against get_all on one thread, wall clock, best of {runs}, ms")
    for name in names:
        inst = load(name)
        blocks = inst["partitions"]
        start = time.perf_counter()
        prefixes = xcover.split(blocks, 2 * SPLIT_PARTS_PER_THREAD)
        split_s = time.perf_counter() - start
        (one, _), covers = best_of(lambda: xcover.get_all(blocks), runs)
        expected = covers
        start, start_cpu = time.perf_counter(), time.process_time()
        (two, _), covers = best_of(
            lambda: split_get_all(blocks, 2, 2 * SPLIT_PARTS_PER_THREAD), runs)
        cores = (time.process_time() - start_cpu) / (time.perf_counter() - start)
        if covers != expected:
            print(f"  !!! MISMATCH !!! split on two threads on {name}: not get_all's list")
        del covers, expected
        print(f"  {name:<11} 1 thread {ms(one)}  2 threads {ms(two)}  speed-up"
              f" {ratio(one, two)}  (split into {len(prefixes)} parts in {ms(split_s).strip()} ms;"
              f" about {cores:.2f} cores busy over the two-thread runs)")


def iter_all_threads_rows(names, runs):
    """iter_all on the pool: set_threads(2) against set_threads(1), in the same run."""
    import xcover

    print(f"iter_all with set_threads(2) against set_threads(1), sum(1 for _ in iter_all),"
          f" wall clock, best of {runs}, ms")
    before = xcover.get_threads()
    try:
        for name in names:
            inst = load(name)
            blocks = inst["partitions"]
            seconds = {}
            for threads in (1, 2):
                xcover.set_threads(threads)
                start, start_cpu = time.perf_counter(), time.process_time()
                (seconds[threads], _), counted = best_of(
                    lambda: sum(1 for _ in xcover.iter_all(blocks)), runs)
                cores = (time.process_time() - start_cpu) / (time.perf_counter() - start)
                if counted != inst["expected"]:
                    print(f"  !!! MISMATCH !!! iter_all on {threads} threads on {name}: {counted},"
                          f" expected {inst['expected']}")
            print(f"  {name:<11} 1 thread {ms(seconds[1])}  2 threads {ms(seconds[2])}  speed-up"
                  f" {ratio(seconds[1], seconds[2])}  (about {cores:.2f} cores busy over the"
                  f" two-thread runs)")
    finally:
        xcover.set_threads(before)


def ms(seconds):
    return f"{seconds * 1e3:9.1f}" if seconds is not None else f"{'-':>9}"


def ratio(a, b):
    return f"{a / b:6.2f}x" if a is not None and b else f"{'-':>7}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", action="append", default=[],
                        help="run only instances whose name contains this (repeatable)")
    parser.add_argument("--runs", type=int, default=0,
                        help="calls for the best-of figure (default: 5, 3 above 1 s, 2 above 3 s)")
    parser.add_argument("--floor-repetitions", type=int, default=3)
    parser.add_argument("--no-floor", action="store_true")
    parser.add_argument("--no-threads", action="store_true")
    parser.add_argument("--no-extra", action="store_true",
                        help="skip count_all, iter_all and the split speed-up")
    parser.add_argument("--engine-bench", default=ENGINE_BENCH,
                        help="the engine_bench binary giving the floor (default: build/)")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child)
        return

    import xcover

    names = [n for n in NAMES if not args.only or any(o in n for o in args.only)]
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    print(f"Python {sys.version.split()[0]}, GIL {'enabled' if gil else 'disabled'},"
          f" {os.cpu_count()} CPUs; times are wall clock, ms")

    rows = {}
    for name in names:
        inst = load(name)
        fresh = first_call(name)
        if fresh["covers"] != inst["expected"]:
            print(f"  !!! MISMATCH !!! first call on {name}: {fresh['covers']} covers,"
                  f" expected {inst['expected']}")
        blocks = inst["partitions"]
        runs = args.runs or (5 if fresh["seconds"] < 1 else 3 if fresh["seconds"] < 3 else 2)
        best, covers = best_of(lambda: xcover.get_all(blocks), runs)
        check(name, "get_all", covers, inst["expected"])
        del covers
        rows[name] = (inst["expected"], fresh, best, runs)

    floors = {} if args.no_floor else floor_times(names, args.floor_repetitions,
                                                  args.engine_bench)

    print("wall clock, ms (the machine may be shared: compare the CPU table too)")
    print(f"{'instance':<11} {'covers':>7} {'floor':>9} {'first':>9} {'best-of':>9}"
          f" {'first/fl':>8} {'best/fl':>8} {'peak RSS':>9} {'(+call)':>8}")
    for name, (covers, fresh, best, runs) in rows.items():
        floor = floors.get(name, (None, None))[0]
        first = fresh["seconds"]
        rss = fresh["rss_after_kib"] / 1024
        grow = (fresh["rss_after_kib"] - fresh["rss_before_kib"]) / 1024
        print(f"{name:<11} {covers:>7} {ms(floor)} {ms(first)} {ms(best[0])}"
              f" {ratio(first, floor):>8} {ratio(best[0], floor):>8} {rss:6.1f} MiB {grow:4.1f} MiB")
    print("thread CPU time, ms")
    print(f"{'instance':<11} {'covers':>7} {'floor':>9} {'first':>9} {'best-of':>9}"
          f" {'first/fl':>8} {'best/fl':>8}")
    for name, (covers, fresh, best, runs) in rows.items():
        floor = floors.get(name, (None, None))[1]
        print(f"{name:<11} {covers:>7} {ms(floor)} {ms(fresh['cpu'])} {ms(best[1])}"
              f" {ratio(fresh['cpu'], floor):>8} {ratio(best[1], floor):>8}")
    print(f"floor: Floor/<instance> of engine_bench, fastest of {args.floor_repetitions};"
          " first: the first get_all in a fresh process; best-of: fastest of repeated calls"
          " in this process (aim best/fl <= 1.5x); peak RSS: VmHWM of the fresh process after"
          " its call, (+call): what the call added to it")

    if not args.no_threads:
        threads(load(THREADS_INSTANCE)["partitions"], THREADS_INSTANCE)

    if not args.no_extra:
        runs_of = {name: row[3] for name, row in rows.items()}
        count_all_rows(names, runs_of, floors)
        if ITER_INSTANCE in names:
            iter_all_rows(ITER_INSTANCE, runs_of[ITER_INSTANCE])
        split_names = [n for n in SPLIT_INSTANCES if n in names]
        if split_names:
            split_threads_rows(split_names, min(runs_of[n] for n in split_names))
            iter_all_threads_rows(split_names, min(runs_of[n] for n in split_names))


if __name__ == "__main__":
    main()
