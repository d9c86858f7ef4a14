"""How far iter_top_sc reaches on planted-partition graphs of growing size.

Prints measured figures only; nothing here fails on speed. For each graph, one stream (one
thread, in a process of its own) is asked for its first 10 partitions: the seconds to the
first and to the tenth (from the call, the search's set-up included), the process's peak
resident memory (the interpreter and the instance included), the first partition's score,
and the stream's lower bound (its `progress`) right after the call and at the end: the
root's bound, and where the bound got to. A case that does not get there within the time
limit prints "none in T s" (the stream is then stopped), and its bound then says how far it
got: the first partition scores at least that.

With --threads 1,2 each case also runs on two threads (set_threads), the same partitions.

The graphs: sbm24 and sbm40 (bench/instances), sbm60 and sbm100 (the shared ranked instances) and sbm50,
the subgraph of sbm60 induced by its vertices 0..49 (sbm60's blocks inside those vertices, with
their weights, edge counts and labels; edge_total = the edges among them). The shared
instances are looked up in $XCOVER_RANKED_INSTANCES, else ../shared/bench-instances/ranked
beside the checkout. Run with the module on the path, e.g.
    PYTHONPATH=build python bench/bench_top_sc_scale.py [--limit 60] [--cases sbm24,sbm50] [--threads 1,2]
"""

import argparse
import json
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RANKED = os.environ.get("XCOVER_RANKED_INSTANCES",
                        os.path.join(ROOT, "..", "shared", "bench-instances", "ranked"))
LOCAL = os.path.join(ROOT, "bench", "instances")
CASES = ["sbm24", "sbm40", "sbm50", "sbm60", "sbm100"]
TOP = 10


def load_json(path):
    with open(path) as f:
        return json.load(f)


def induced(inst, vertices):
    """The instance restricted to the blocks inside vertices 0..vertices-1."""
    keep = [b for b, block in enumerate(inst["partitions"]) if all(v < vertices for v in block)]
    edges = [e for e in inst["graph"]["edges"] if e[0] < vertices and e[1] < vertices]
    return {
        "partitions": [inst["partitions"][b] for b in keep],
        "weights": [inst["weights"][b] for b in keep],
        "edge_counts": [inst["edge_counts"][b] for b in keep],
        "edge_total": len(edges),
        "labels": [inst["labels"][b] for b in keep],
        "vertex_total": vertices,
    }


def load_case(name):
    if name == "sbm50":
        return induced(load_json(os.path.join(RANKED, "sbm60.json")), 50)
    local = os.path.join(LOCAL, name + ".json")
    return load_json(local if os.path.exists(local) else os.path.join(RANKED, name + ".json"))


def child(name, limit, threads):
    """Runs in the measured process: prints one line per partition as it comes, and ends
    itself `limit` seconds after the call (SIGALRM, whose handler the stream runs as it polls
    for signals)."""
    import signal

    import xcover

    def stop(*_):
        raise TimeoutError

    xcover.set_threads(threads)
    inst = load_case(name)
    args = (inst["partitions"], inst["weights"], inst["edge_counts"], inst["edge_total"],
            inst["labels"], inst["vertex_total"])
    print(f"blocks {len(inst['partitions'])}", flush=True)
    signal.signal(signal.SIGALRM, stop)
    signal.setitimer(signal.ITIMER_REAL, limit)
    start = time.perf_counter()
    stream = None
    try:
        stream = xcover.iter_top_sc(*args)
        print(f"root {stream.progress[0]!r}", flush=True)
        for i, (score, _) in enumerate(stream, 1):
            print(f"cover {i} {time.perf_counter() - start:.3f} {score!r}", flush=True)
            if i == TOP:
                break
    except TimeoutError:
        pass
    signal.setitimer(signal.ITIMER_REAL, 0)
    if stream is not None:
        print(f"bound {stream.progress[0]!r}", flush=True)


def run_case(name, limit, threads):
    """Runs one case in a process of its own; its peak memory is that process's."""
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--child", name,
                             "--limit", str(limit), "--threads", str(threads)],
                            stdout=subprocess.PIPE, text=True)
    lines = [line.split() for line in proc.stdout]
    _, _, usage = os.wait4(proc.pid, 0)
    proc.returncode = 0  # reaped by wait4
    blocks = next((int(w[1]) for w in lines if w[0] == "blocks"), 0)
    times = {int(w[1]): float(w[2]) for w in lines if w[0] == "cover"}
    first = next((w[3] for w in lines if w[0] == "cover" and w[1] == "1"), "-")
    root = next((float(w[1]) for w in lines if w[0] == "root"), float("nan"))
    bound = next((float(w[1]) for w in lines if w[0] == "bound"), float("nan"))

    def at(i):
        return f"{times[i]:8.2f} s" if i in times else f"none in {limit:g} s"

    print(f"  {name:6s} {blocks:6d} blocks  {threads} thread{'s' if threads > 1 else ' '}  top 1 {at(1):>14s}  top {TOP} {at(TOP):>14s}  "
          f"peak {usage.ru_maxrss / 1024:7.1f} MiB  first score {first}  bound: root {root:.2f}, end {bound:.2f}",
          flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=float, default=60.0, help="seconds per case")
    parser.add_argument("--cases", default=",".join(CASES))
    parser.add_argument("--threads", default="1", help="thread settings to run, e.g. 1,2")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    options = parser.parse_args()
    settings = [int(t) for t in options.threads.split(",")]
    if options.child:
        child(options.child, options.limit, settings[0])
        return
    print(f"iter_top_sc, first {TOP} partitions, at most {options.limit:g} s per case")
    for name in options.cases.split(","):
        for threads in settings:
            run_case(name, options.limit, threads)


if __name__ == "__main__":
    main()
