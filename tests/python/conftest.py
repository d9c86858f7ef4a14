import contextlib
import functools
import itertools
import operator
import os
import subprocess
import sys
import textwrap

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "examples"))
# The tests live in folders by concern and share helpers across them (`from test_ranked_streams
# import graphs`): every folder is importable whichever file pytest collects first.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE] + sorted(
    os.path.join(HERE, name) for name in os.listdir(HERE)
    if os.path.isdir(os.path.join(HERE, name)) and not name.startswith((".", "_")))


def brute_force_covers(blocks):
    """Every exact cover, as a sorted tuple of block indices (empty blocks never chosen)."""
    ground = set().union(*map(set, blocks)) if blocks else set()
    usable = [i for i, b in enumerate(blocks) if b]
    covers = []
    for r in range(len(usable) + 1):
        for combo in itertools.combinations(usable, r):
            seen = []
            for i in combo:
                seen.extend(set(blocks[i]))
            if len(seen) == len(set(seen)) and set(seen) == ground:
                covers.append(combo)
    return covers



def ordered_search_model(blocks, weights, max_iter=None, max_heap=None):
    """get_top written the long way: the best-first search over partial covers keyed by the
    averaging estimator (weights summed in order of choice plus, per uncovered element in
    increasing value, the least weight / entry count among the blocks meeting no chosen one),
    ties to the entry pushed first, NaN keys last. Every cover, in the order found. The caps:
    `max_iter` steps (pops) at most; the search ends at the first child it would push onto a
    frontier already holding `max_heap` entries."""
    import heapq
    import math

    n = min(len(blocks), len(weights))
    counts = {}
    for b in blocks:
        for e in set(b):
            counts[e] = counts.get(e, 0) + 1
    columns = sorted(counts, key=lambda e: (counts[e], e))

    def score(chosen):
        part = -0.0
        taken = set()
        for b in chosen:
            part += weights[b]
            taken.update(blocks[b])
        least = {}
        for i in range(n):
            if taken and taken.intersection(blocks[i]):
                continue
            share = weights[i] / len(blocks[i]) if blocks[i] else math.nan
            for e in blocks[i]:
                if e not in least or least[e] > share:
                    least[e] = share
        rest = -0.0
        for e in sorted(least):
            rest += least[e]
        return part + rest

    def key(chosen, seq):
        s = score(chosen)
        return ((1, 0.0) if math.isnan(s) else (0, s), seq)

    frontier = [(key([], 0), [])]
    seq = 1
    covers = []
    steps = max_iter
    full = False
    while frontier and not full and steps != 0:
        if steps is not None:
            steps -= 1
        _, chosen = heapq.heappop(frontier)
        covered = set().union(*(set(blocks[b]) for b in chosen)) if chosen else set()
        remaining = [i for i, b in enumerate(blocks) if b and not covered.intersection(b)]
        active = [e for e in columns if e not in covered]
        if not active:
            covers.append(chosen)
            continue
        sizes = [sum(1 for i in remaining if e in blocks[i]) for e in active]
        if min(sizes) == 0:
            continue
        column = active[sizes.index(min(sizes))]
        for b in reversed([i for i in remaining if column in blocks[i]]):
            if max_heap is not None and len(frontier) >= max_heap:
                full = True
                break
            child = chosen + [b]
            heapq.heappush(frontier, (key(child, seq), child))
            seq += 1
    return covers


MASK64 = 2**64 - 1


def mix64(z):
    """splitmix64's finaliser, on Python ints."""
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
    return z ^ (z >> 31)


def seeded_branch_key(parent, block):
    """The key of `block` below the position hashed `parent` in a seeded search, which is also
    the hash of the position that choosing it reaches."""
    return mix64((parent + 0x9E3779B97F4A7C15 * (block + 1)) & MASK64)


def seeded_root_hash(seed):
    return mix64(seed ^ 0x5EED5EED5EED5EED)


def depth_first_model(blocks, include=(), secondary=(), seed=None, shares=None):
    """The covers of iter_all, in its order, from a plain model of its search: columns by
    (secondary, count, value), branching on the leftmost primary column of fewest live blocks
    (blocks ruled out by `include` still count as live), its blocks tried by index, or with a
    seed by ascending seeded_branch_key. A list passed as `shares` gets, per cover, the share
    of the tree searched once the search stands at it (each position's share split evenly
    among the blocks it tries, the cover's own share included)."""
    from collections import Counter

    sets = [set(b) for b in blocks]
    secondary = set(secondary)
    counts = Counter(e for s in sets for e in s)
    primary = [e for e in sorted(counts, key=lambda e: (e in secondary, counts[e], e)) if e not in secondary]
    owner = {}
    for b in set(include):
        if not sets[b] - secondary:
            return []
        for e in sets[b]:
            if owner.setdefault(e, b) != b:
                return []
    excluded = {b for b, s in enumerate(sets) if b not in set(include) and any(e in owner for e in s)}
    covers = []

    def walk(covered, path, position, behind=0.0, share=1.0):
        open_columns = [e for e in primary if e not in covered]
        if not open_columns:
            covers.append(list(path))
            if shares is not None:
                shares.append(behind + share)
            return
        live = [b for b, s in enumerate(sets) if s and not s & covered]
        column = min(open_columns, key=lambda e: sum(1 for b in live if e in sets[b]))
        candidates = [b for b in live if column in sets[b] and b not in excluded]
        if seed is not None:
            candidates.sort(key=lambda b: seeded_branch_key(position, b))
        for k, b in enumerate(candidates):
            child = seeded_branch_key(position, b) if seed is not None else None
            part = share / len(candidates)
            walk(covered | sets[b], path + [b], child, behind + k * part, part)

    walk(frozenset(), [], seeded_root_hash(seed) if seed is not None else None)
    return covers


class ColoredProblem:
    """Blocks with secondary elements and colors, the long way. Columns by (secondary, count,
    value); a block is live while its primary elements are uncovered and each secondary
    element it holds is free, or taken in the color the block gives it."""

    owned = object()  # a secondary element taken without a color

    def __init__(self, blocks, secondary=(), colors=None):
        from collections import Counter

        self.sets = [set(b) for b in blocks]
        self.colored = [dict(c or {}) for c in colors] if colors is not None else [{} for _ in blocks]
        self.secondary = set(secondary)
        counts = Counter(e for s in self.sets for e in s)
        self.primary = [e for e in sorted(counts, key=lambda e: (e in self.secondary, counts[e], e))
                        if e not in self.secondary]

    def shares(self, b, e, color):
        return self.colored[b].get(e) is not None and self.colored[b].get(e) == color

    def live(self, b, covered, taken):
        return self.sets[b] and all(
            e not in covered if e not in self.secondary
            else (e not in taken or (taken[e] is not self.owned and self.shares(b, e, taken[e])))
            for e in self.sets[b])

    def choose(self, b, covered, taken):
        """(covered, taken) once block b is chosen."""
        now = dict(taken)
        for e in self.sets[b] & self.secondary:
            now[e] = self.colored[b][e] if self.colored[b].get(e) is not None else self.owned
        return covered | (self.sets[b] - self.secondary), now


def colored_search_model(blocks, include=(), secondary=(), colors=None):
    """(covers in iter_all's order, positions of the search tree) of the search with colors:
    branching on the leftmost primary column of fewest live blocks (ColoredProblem), its blocks
    tried by index. Blocks meeting an included block in an element they cannot share with it
    (the same color on both sides) are never tried; they still count as live."""
    p = ColoredProblem(blocks, secondary, colors)
    sets, colored, secondary = p.sets, p.colored, p.secondary

    owner = {}  # element -> (first included block holding it, its color there)
    for b in dict.fromkeys(include):
        if not sets[b] - secondary:
            return [], 1
        for e in sets[b]:
            first, color = owner.setdefault(e, (b, colored[b].get(e)))
            if first != b and (colored[b].get(e) is None or colored[b].get(e) != color):
                return [], 1

    excluded = {b for b, s in enumerate(sets) if b not in set(include)
                and any(e in owner and not p.shares(b, e, owner[e][1]) for e in s)}

    covers = []

    def walk(covered, taken, path):
        open_columns = [e for e in p.primary if e not in covered]
        if not open_columns:
            covers.append(list(path))
            return 1
        alive = [b for b in range(len(sets)) if p.live(b, covered, taken)]
        column = min(open_columns, key=lambda e: sum(1 for b in alive if e in sets[b]))
        positions = 1
        for b in (b for b in alive if column in sets[b] and b not in excluded):
            positions += walk(*p.choose(b, covered, taken), path + [b])
        return positions

    positions = walk(frozenset(), {}, [])
    return covers, positions


def colored_ordered_model(blocks, weights, secondary=(), colors=None):
    """iter_top with secondary elements and colors, the long way: ordered_search_model's search
    over ColoredProblem's live blocks. A key is the weight sum plus, per uncovered primary
    element in increasing value, the least share (weight / primary entries, repeats counted)
    among the live blocks holding it; ties to the entry pushed first. (cost, cover) pairs."""
    import heapq
    import math

    p = ColoredProblem(blocks, secondary, colors)
    n = min(len(blocks), len(weights))
    share = [weights[i] / max(1, sum(1 for e in blocks[i] if e not in p.secondary)) for i in range(n)]

    def key(chosen, covered, taken, seq):
        part = -0.0
        for b in chosen:
            part += weights[b]
        least = {}
        for i in range(n):
            if p.live(i, covered, taken):
                for e in p.sets[i] - p.secondary:
                    if e not in least or least[e] > share[i]:
                        least[e] = share[i]
        rest = -0.0
        for e in sorted(least):
            rest += least[e]
        s = part + rest
        return ((1, 0.0) if math.isnan(s) else (0, s), seq)

    frontier = [(key([], frozenset(), {}, 0), [], frozenset(), {})]
    seq = 1
    pairs = []
    while frontier:
        _, chosen, covered, taken = heapq.heappop(frontier)
        active = [e for e in p.primary if e not in covered]
        if not active:
            pairs.append((functools.reduce(operator.add, (weights[b] for b in chosen), -0.0), chosen))
            continue
        alive = [b for b in range(len(blocks)) if p.live(b, covered, taken)]
        sizes = [sum(1 for b in alive if e in p.sets[b]) for e in active]
        if min(sizes) == 0:
            continue
        column = active[sizes.index(min(sizes))]
        for b in reversed([b for b in alive if column in p.sets[b]]):
            now = p.choose(b, covered, taken)
            heapq.heappush(frontier, (key(chosen + [b], *now, seq), chosen + [b], *now))
            seq += 1
    return pairs


def run_in_threads(worker, count):
    """Runs worker(0), ..., worker(count - 1) on their own threads and waits for all."""
    import threading

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def thread_settings(*helpers, helper_marks=()):
    """Parametrizes a test's `threads` argument over one thread and each helper setting in
    `helpers`; the helper cases carry the concurrency marker (by which the ThreadSanitizer part
    selects its tests) and `helper_marks`. The test runs its queries under `pool_of(threads)`
    and computes its references outside, on one thread."""
    return pytest.mark.parametrize("threads", [pytest.param(1, id="one-thread")] + [
        pytest.param(n, id=f"{n}-threads", marks=[pytest.mark.concurrency, *helper_marks])
        for n in helpers])


@contextlib.contextmanager
def pool_of(threads):
    """The pool set to `threads` for the block, then back to one thread (the tests' setting)."""
    import xcover

    xcover.set_threads(threads)
    try:
        yield
    finally:
        xcover.set_threads(1)


@pytest.fixture
def one_thread_afterwards():
    """For tests that change the setting as they go: one thread again after the test."""
    import xcover

    yield
    xcover.set_threads(1)


def panic_type():
    """The PanicException type, reached through a call that fails an internal check."""
    import xcover

    try:
        xcover.get_top([[0]], [])
    except BaseException as e:  # noqa: BLE001 - the point is to catch it
        return type(e)
    raise AssertionError("expected an internal failure")


def run_python(code, *, limit_as=None, limit_as_at_start=None, timeout=120):
    """Runs code in a fresh interpreter with the module importable; returns CompletedProcess.
    `limit_as` limits the address space once the module is loaded, to that many bytes more
    than is mapped then; `limit_as_at_start` limits it to that many bytes in all, before the
    interpreter starts (as `ulimit -v` would)."""
    import resource

    def limit_at_start():
        resource.setrlimit(resource.RLIMIT_AS, (limit_as_at_start, limit_as_at_start))

    prelude = ""
    if limit_as is not None:
        # The limit is set after the interpreter and the module are loaded, `limit_as` bytes
        # above what the process has mapped by then.
        prelude = textwrap.dedent(
            f"""
            import resource, xcover
            with open("/proc/self/status") as status:
                mapped = next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmSize:"))
            resource.setrlimit(resource.RLIMIT_AS, (mapped + {limit_as}, mapped + {limit_as}))
            """
        )
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run(
        [sys.executable, "-c", prelude + textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=env,
        preexec_fn=limit_at_start if limit_as_at_start is not None else None,
    )


def default_sigint():
    """`preexec_fn` of a child process a test interrupts with SIGINT: the signal's default
    disposition, unblocked. A runner started in the background of a script (`cmd &`) hands its
    children SIGINT ignored, and an interpreter that starts so never raises KeyboardInterrupt."""
    import signal

    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, [signal.SIGINT])


# Source for a test script: `send_later(signum, delay)` sends a signal to the process from a
# timer thread and returns a list that receives the time it was sent. SIGINT is made to raise
# KeyboardInterrupt first.
SEND_LATER = """
import os, signal, sys, threading, time

# A child inherits ignored signals and the signal mask of the thread that started it: make
# SIGINT raise KeyboardInterrupt here whatever the test runner's state.
signal.signal(signal.SIGINT, signal.default_int_handler)
signal.pthread_sigmask(signal.SIG_UNBLOCK, [signal.SIGINT])

def send_later(signum, delay=1.0):
    sent = []
    def send():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signum)
    threading.Timer(delay, send).start()
    return sent
"""

# Source for a test script: `peak()`, the peak resident size of the process in KiB.
PEAK_RSS = """
def peak():
    with open("/proc/self/status") as status:
        return next(int(l.split()[1]) for l in status if l.startswith("VmHWM:"))
"""

# Source for a test script, after SEND_LATER: `garbage_then_signal()` (for a timer thread)
# appends the time to the global list `sent`, leaves cyclic garbage with Python finalizers
# and weakref callbacks, then sends SIGINT. A collection is then due when the signal is
# handled: a signal check that collects before it runs the handlers runs the handler inside
# a finalizer, where the KeyboardInterrupt is discarded ("Exception ignored in").
GARBAGE_THEN_SIGNAL = """
import gc, weakref
gc.set_threshold(10)

class Finalized:
    def __del__(self):
        pass

def garbage_then_signal():
    sent.append(time.monotonic())
    for _ in range(50):
        cycle = Finalized()
        cycle.me = cycle
        weakref.ref(cycle, lambda r: None)
    del cycle
    os.kill(os.getpid(), signal.SIGINT)
"""

# Source for a test script that runs a Dask cluster: `end_without_finalizing_on_313()`, called
# last in its main block. CPython 3.13 can crash while it finalizes with daemon threads still
# running (distributed leaves some; the interpreter frees their thread states under them, a
# race of its own fixed in 3.14), so on 3.13 the script ends there once its output is out.
END_WITHOUT_FINALIZING_ON_313 = """
import os as _os, sys as _sys

def end_without_finalizing_on_313():
    _sys.stdout.flush()
    _sys.stderr.flush()
    if _sys.version_info < (3, 14):
        _os._exit(0)
"""

# Generous: a search polls for signals every few tens of milliseconds.
SIGNAL_LATENCY_BOUND = 1.5


# A fork while the pool's helpers run is beyond what the sanitizer runtimes support:
# ThreadSanitizer refuses threads started after a fork of a threaded process, and
# AddressSanitizer's allocator has no fork handlers, so a child forked while a helper held its
# lock waits for it forever (seen once in a CI run).
fork_with_helpers = pytest.mark.skipif(
    os.environ.get("XCOVER_SANITIZER") in ("thread", "address"),
    reason="the sanitizer runtimes do not support a fork while helper threads run")


def run_script_words(code, timeout=300):
    """Runs a script in a fresh interpreter, requires success, returns its output's words."""
    result = run_python(code, timeout=timeout)
    print(result.stdout, result.stderr)
    assert result.returncode == 0, result.stderr
    return result.stdout.split()


def markdown_python_blocks(path):
    """The ```python blocks of a Markdown file, in order; none when the file is absent."""
    import re

    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return re.findall(r"^```python\n(.*?)^```", f.read(), re.S | re.M)


def run_documented_example(code, where):
    """Runs one documentation example in a fresh interpreter and requires success; skipped
    when it imports numpy and numpy is missing."""
    import re

    if re.search(r"^import numpy", code, re.M):
        pytest.importorskip("numpy")
    result = run_python(code, timeout=60)
    assert result.returncode == 0, f"{where}:\n{code}\n{result.stderr}"


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "cluster: starts a Dask cluster of worker processes (left out under sanitizers)")
    config.addinivalue_line(
        "markers", "concurrency: runs searches on several threads at once (the ThreadSanitizer part's tests)")


def require_distributed():
    """dask.distributed, for the cluster tests: a skip when it is missing, but a failure when
    XCOVER_REQUIRE_DASK=1, as in the test parts whose interpreter has it installed, so that
    those tests cannot go quietly unrun."""
    if os.environ.get("XCOVER_REQUIRE_DASK") == "1":
        import distributed

        return distributed
    return pytest.importorskip("distributed")
