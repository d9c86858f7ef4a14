"""Free-threaded stress: many threads calling every function on shared inputs at once.

Some shared lists are only read; their results must equal the serial ones exactly. Other
shared lists are mutated by their own threads while being passed to calls; those calls may
see any state of the lists, and must return covers or raise a caller error. Every round is
bounded in time, and every join has a timeout so that a deadlock fails instead of hanging.
"""

import copy
import os
import gc
import random
import threading
import time

import pytest

import xcover

ROUND_SECONDS = 1.2
JOIN_TIMEOUT = 120.0  # only reached by a stall: a round takes ROUND_SECONDS plus one call


def langford(n):
    return [[k - 1, n + i, n + i + k + 1] for k in range(1, n + 1) for i in range(2 * n - k - 1)]


def random_instance(seed, blocks=40, elements=12):
    rng = random.Random(seed)
    partitions = [[rng.randrange(elements) for _ in range(rng.randrange(1, 4))] for _ in range(blocks)]
    return partitions


def make_instance(partitions, seed):
    rng = random.Random(seed)
    weights = [rng.uniform(0.1, 3.0) for _ in partitions]
    edges = [rng.randrange(3) for _ in partitions]
    labels = [rng.randrange(3) for _ in partitions]
    vertex_total = len({e for b in partitions for e in b})
    return {
        "partitions": partitions,
        "weights": weights,
        "edges": edges,
        "edge_total": sum(edges) + 2,
        "labels": labels,
        "vertex_total": vertex_total,
    }


# Every function, with caps that keep a call in the millisecond range.
CALLS = [
    ("get_all", lambda d: xcover.get_all(d["partitions"])),
    ("get_top", lambda d: xcover.get_top(d["partitions"], d["weights"], max_iter=2000)),
    ("get_topn", lambda d: xcover.get_topn(d["partitions"], d["weights"], 5)),
    ("get_topp", lambda d: xcover.get_topp(d["partitions"], d["weights"], 0.01, max_iter=2000)),
    (
        "get_topn_sc",
        lambda d: xcover.get_topn_sc(
            d["partitions"], d["weights"], d["edges"], d["edge_total"], d["labels"],
            d["vertex_total"], 4, max_iter=2000, max_heap=5000,
        ),
    ),
]


def check_shape(result, max_blocks):
    assert type(result) is list
    for cover in result:
        assert type(cover) is list
        assert len(set(cover)) == len(cover), cover
        for i in cover:
            assert type(i) is int and 0 <= i < max_blocks, (i, max_blocks)


class Mutated:
    """Shared lists that one thread keeps changing while others pass them to calls.

    The block list swings between M and M + 1 blocks, and every per-block list keeps at
    least M + 1 entries, so no state is too short for the blocks it comes with: a call sees
    a valid problem, or a bad item (a string, -1 or 2**64) that it must refuse with a
    TypeError or an OverflowError."""

    def __init__(self, seed):
        base = make_instance(random_instance(seed, blocks=24, elements=10), seed)
        self.blocks = len(base["partitions"])
        self.data = dict(base)
        self.data["partitions"] = [list(b) for b in base["partitions"]]
        for key in ("weights", "edges", "labels"):
            self.data[key] = list(base[key]) + list(base[key][:1])
        self.rng = random.Random(seed + 1)

    def mutate_once(self):
        """One change that leaves the lists valid, or a bad item held over several changes."""
        d, rng = self.data, self.rng
        op = rng.randrange(12)
        k = rng.randrange(self.blocks)
        if op == 0:
            self.hold(d["partitions"], k, "not a block")
        elif op == 1:
            block = d["partitions"][k]
            if block:
                self.hold(block, 0, -1)
        elif op == 2:
            self.hold(d["weights"], k, "x")
        elif op == 3:
            self.hold(d[rng.choice(("edges", "labels"))], k, 2**64)
        else:
            self.benign()

    def hold(self, target, index, bad):
        old = target[index]
        target[index] = bad
        for _ in range(20):
            self.benign()
        target[index] = old

    def benign(self):
        d, rng = self.data, self.rng
        p = d["partitions"]
        op = rng.randrange(7)
        k = rng.randrange(self.blocks)
        if op == 0:
            p.append([rng.randrange(10)])
            p.pop()
        elif op == 1:
            p[k] = [rng.randrange(10) for _ in range(rng.randrange(1, 4))]
        elif op == 2 and type(p[k]) is list:
            p[k].append(rng.randrange(10))
            if len(p[k]) > 1 and p[k][0] != -1:
                p[k].pop(0)
        elif op == 3 and type(p[k]) is list:
            p[k] = tuple(p[k])
            p[k] = list(p[k])
        elif op == 4:
            key = rng.choice(("weights", "edges", "labels"))
            d[key].append(1)
            d[key].pop()
        elif op == 5 and type(d["weights"][k]) is float:
            d["weights"][k] = rng.choice([rng.uniform(0, 3), float("nan"), 0.0])
        elif op == 6:
            key = rng.choice(("edges", "labels"))
            if type(d[key][k]) is int and d[key][k] < 3:
                d[key][k] = rng.randrange(3)


# Under ThreadSanitizer the mutating threads are left out: a list being iterated by one
# thread while another changes it races inside the interpreter's own list code, by design.
MUTATE = os.environ.get("XCOVER_SANITIZER") != "thread"


@pytest.mark.concurrency
@pytest.mark.parametrize("thread_count", [2, 4, 8, 16])
def test_threads_on_shared_and_mutated_inputs(thread_count):
    stable = [
        make_instance(langford(7), 1),
        make_instance(langford(6), 2),
        make_instance(random_instance(3), 3),
        make_instance(random_instance(4), 4),
        make_instance([[0], [1], [0, 1], [], [2**64 - 1]], 5),
    ]
    expected = [[call(d) for _, call in CALLS] for d in stable]
    snapshot = copy.deepcopy(stable)
    mutators = max(1, thread_count // 4) if MUTATE else 0
    mutated = [Mutated(100 + m) for m in range(mutators)]

    errors = []
    calls_made = [0] * thread_count
    mutated_calls = [0] * thread_count
    stop = threading.Event()
    barrier = threading.Barrier(thread_count + mutators)

    def caller(k):
        try:
            barrier.wait(JOIN_TIMEOUT)
            rng = random.Random(k)
            deadline = time.monotonic() + ROUND_SECONDS
            while time.monotonic() < deadline:
                c = rng.randrange(len(CALLS))
                name, call = CALLS[c]
                if mutators and rng.random() < 0.3:
                    target = mutated[rng.randrange(mutators)]
                    try:
                        result = call(target.data)
                    except (TypeError, OverflowError):
                        pass  # a bad item was in place at the time
                    else:
                        check_shape(result, target.blocks + 1)
                    mutated_calls[k] += 1
                else:
                    i = rng.randrange(len(stable))
                    result = call(stable[i])
                    if result != expected[i][c]:
                        errors.append(f"thread {k}: {name} on input {i} differs from the serial result")
                calls_made[k] += 1
        except BaseException as error:  # noqa: BLE001 - reported to the main thread
            errors.append(f"thread {k}: {type(error).__name__}: {error!r}")

    def mutator(m):
        try:
            barrier.wait(JOIN_TIMEOUT)
            while not stop.is_set():
                for _ in range(50):
                    mutated[m].mutate_once()
                time.sleep(0)
        except BaseException as error:  # noqa: BLE001
            errors.append(f"mutator {m}: {type(error).__name__}: {error!r}")

    threads = [threading.Thread(target=caller, args=(k,), daemon=True) for k in range(thread_count)]
    threads += [threading.Thread(target=mutator, args=(m,), daemon=True) for m in range(mutators)]
    for t in threads:
        t.start()
    deadline = time.monotonic() + JOIN_TIMEOUT
    for t in threads[:thread_count]:
        t.join(max(0.0, deadline - time.monotonic()))
    stop.set()
    for t in threads[thread_count:]:
        t.join(max(0.0, deadline - time.monotonic()))
    stuck = [t.name for t in threads if t.is_alive()]
    assert stuck == [], f"threads still running after {JOIN_TIMEOUT} s: {stuck}"
    assert errors == [], errors[:10]
    assert all(n > 0 for n in calls_made), calls_made
    assert sum(mutated_calls) > 0 or not MUTATE
    # The shared inputs are unchanged, and the serial results still hold after the storm.
    assert stable == snapshot
    assert [[call(d) for _, call in CALLS] for d in stable] == expected


def median_gc_seconds(times=3):
    spans = []
    for _ in range(times):
        begin = time.perf_counter()
        gc.collect()
        spans.append(time.perf_counter() - begin)
    return sorted(spans)[times // 2]


@pytest.mark.concurrency
def test_long_ranked_search_does_not_stall_garbage_collection_in_other_threads():
    # Langford pairings for n = 13 do not exist, so a ranked search never finishes early;
    # max_iter sets its length. It is calibrated to last about SEARCH_SECONDS here, so that a
    # collection waiting for the search would take far longer than the bound below.
    blocks = langford(13)
    rng = random.Random(7)
    weights = [rng.uniform(0.1, 3.0) for _ in blocks]
    probe = 20_000
    begin = time.perf_counter()
    assert xcover.get_topn(blocks, weights, 5, max_iter=probe) == []
    per_step = (time.perf_counter() - begin) / probe

    # A slow build (sanitizers) also collects slowly: the bound follows what a collection
    # costs here with no search running, and is 1 s on an ordinary build.
    bound = max(1.0, 4 * median_gc_seconds())
    search_seconds = max(2.5, 2.5 * bound)
    steps = max(probe, min(3_000_000, int(search_seconds / per_step)))

    searching = threading.Event()
    done = threading.Event()
    outcome = []

    def search():
        try:
            searching.set()
            outcome.append(xcover.get_topn(blocks, weights, 5, max_iter=steps))
        except BaseException as error:  # noqa: BLE001
            outcome.append(error)
        finally:
            done.set()

    thread = threading.Thread(target=search, daemon=True)
    thread.start()
    searching.wait(JOIN_TIMEOUT)
    time.sleep(0.1)  # the search is inside the engine by now
    worst = 0.0
    during = 0
    while not done.is_set():
        begin = time.perf_counter()
        gc.collect()
        worst = max(worst, time.perf_counter() - begin)
        during += 1
        time.sleep(0.05)
    thread.join(JOIN_TIMEOUT)
    assert not thread.is_alive(), "the search never returned"
    assert outcome == [[]], outcome
    assert worst < bound, f"gc.collect() took {worst:.2f} s while a search ran (bound {bound:.2f} s)"
    assert during >= 3, f"only {during} collections ran during the search"
