"""Many thousands of calls leave memory and reference counts where they were.

Three kinds of calls are repeated: successful ones, caller errors (bad types, overflow,
binding errors, exceptions from the caller's own objects) and internal failures
(PanicException). Python-level allocations are compared with tracemalloc snapshots, process
memory with the resident set size, and the reference counts of the argument objects must not
move.
"""

import contextlib
import ctypes
import gc
import os
import sys
import tracemalloc

import pytest

import xcover
from conftest import panic_type

PANIC = panic_type()
PAGE = os.sysconf("SC_PAGE_SIZE")


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def _sanitizer_purge():
    """Under AddressSanitizer freed memory sits in a quarantine and would look like growth;
    draining it first keeps the resident size meaningful. None without a sanitizer."""
    try:
        purge = ctypes.CDLL(None)["__sanitizer_purge_allocator"]
    except AttributeError:
        return None
    purge.restype = None
    purge.argtypes = []
    return purge


PURGE = _sanitizer_purge()
RSS_SLACK = 4 << 20


def settled_rss():
    gc.collect()
    if PURGE:
        PURGE()
    return rss()


def rss_growth(work, slack, attempts=3):
    """Resident-size growth over work(), run up to `attempts` times until one run stays
    within `slack`. An allocator may keep growing for a while before it reuses memory (the
    sanitizer's does, for many thousands of calls); a leak grows on every run."""
    growths = []
    for _ in range(attempts):
        before = settled_rss()
        work()
        growths.append(settled_rss() - before)
        if growths[-1] < slack:
            break
    return growths


@contextlib.contextmanager
def stderr_silenced():
    """Sends file descriptor 2, and sys.stderr, to /dev/null: every internal failure writes a
    report there (and a traceback through sys.stderr when it came from Python code)."""
    sys.stderr.flush()
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    saved_stream = sys.stderr
    try:
        with open(os.devnull, "w") as null_stream:
            os.dup2(devnull, 2)
            sys.stderr = null_stream
            try:
                yield
            finally:
                sys.stderr = saved_stream
                os.dup2(saved, 2)
    finally:
        os.close(saved)
        os.close(devnull)


# ---------------------------------------------------------------------------------------------
# Argument objects whose reference counts are watched. None of them is immortal.


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Float:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


BIG = int("1" + "0" * 15)  # an element value built at run time: not a cached constant
TOO_BIG = 2**64 + int("5")
INDEX = Index(7)
FLOAT = Float(float("0.75"))
CAUSE = ValueError("root")
MIDWAY_ERROR = LookupError("midway")
NOT_A_SEQUENCE = type("NotA" + "Sequence" * 2, (), {})  # its qualified name is a fresh string


class RaisesTypeErrorWithCause:
    def __index__(self):
        raise TypeError("outer") from CAUSE


class Midway:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        if i == 2:
            raise MIDWAY_ERROR
        return self.items[i]


class LenRaises(list):
    def __len__(self):
        raise RuntimeError("no len")


class FloatRaises:
    def __float__(self):
        raise ZeroDivisionError("float")


class PanicLen(list):
    def __len__(self):
        raise PANIC("from a length")


class PanicIndex:
    def __index__(self):
        raise PANIC("from an index")


# A 0/1 matrix whose middle row differs, and its blocks.
MATRIX_ROW = [0, 1, 0, 1]
MATRIX_BLOCKS = [[1, 3], [0, 2], [1, 3]]


def matrix_arrays():
    """The matrix as numpy arrays read straight from memory, when numpy is installed."""
    try:
        import numpy as np
    except ImportError:
        return ()
    rows = [MATRIX_ROW, [1, 0, 1, 0], MATRIX_ROW]
    return (np.array(rows, dtype=bool), np.array(rows, dtype=">f4"))


def blocks_of_matrix(matrix):
    blocks = xcover.blocks_from_matrix(matrix)
    assert blocks == MATRIX_BLOCKS
    return blocks


def make_inputs():
    # Four independent pairs {2k, 2k+1}, each covered by two singletons or one pair, plus
    # blocks on a large element and one whose element is given by __index__.
    partitions = []
    for k in range(4):
        partitions += [[2 * k], [2 * k + 1], [2 * k, 2 * k + 1]]
    partitions += [[BIG], [BIG, 100], [100], [INDEX]]
    weights = [float(1 + (i % 3)) / 2 for i in range(len(partitions) - 1)] + [FLOAT]
    edges = [i % 2 for i in range(len(partitions))]
    labels = [i % 3 for i in range(len(partitions))]
    return {
        "partitions": partitions,
        "weights": weights,
        "edges": edges,
        "labels": labels,
        "midway": Midway([[0], [1], [2], [3]]),
        "len_raises": LenRaises(partitions),
        "panic_len": PanicLen(partitions),
        "not_a_sequence": NOT_A_SEQUENCE(),
        "float_raises": FloatRaises(),
        "type_error_with_cause": RaisesTypeErrorWithCause(),
        "panic_index": PanicIndex(),
        "matrix_row": MATRIX_ROW,
        "matrix_rows": [MATRIX_ROW, [1, 0, 1, 0], MATRIX_ROW],
        "matrix_bad": [MATRIX_ROW, [0, 2, 0, 0]],
        "matrix_arrays": matrix_arrays(),
    }


def make_calls(kind, a):
    """Zero-argument callables, each with the outcome it must have (None: a list)."""
    P, W, E, L = a["partitions"], a["weights"], a["edges"], a["labels"]
    total = sum(E) + 1
    if kind == "success":
        return [
            (lambda: xcover.get_all(P), None),
            (lambda: xcover.get_top(P, W), None),
            (lambda: xcover.get_topn(P, W, INDEX), None),
            (lambda: xcover.get_topp(P, W, 0.05, max_iter=500), None),
            (lambda: xcover.get_topn_sc(P, W, E, total, L, 9, 3), None),
            (lambda: xcover.get_top(P, W, max_heap=3), None),
            (lambda: xcover.get_all(a["len_raises"]), None),  # the error of __len__ is dropped
            (lambda: xcover.get_all(partitions=tuple(map(bytes, [[0], [1], [0, 1]]))), None),
            (lambda: blocks_of_matrix(a["matrix_rows"]), None),
        ] + [(lambda array=array: blocks_of_matrix(array), None) for array in a["matrix_arrays"]]
    if kind == "error":
        return [
            (lambda: xcover.get_all("ab"), TypeError),
            (lambda: xcover.get_all([[0], "ab"]), TypeError),
            (lambda: xcover.get_all(a["not_a_sequence"]), TypeError),
            (lambda: xcover.get_all([[0], [a["type_error_with_cause"]]]), TypeError),
            (lambda: xcover.get_all([[0], [1, -1]]), OverflowError),
            (lambda: xcover.get_all([[BIG], [TOO_BIG]]), OverflowError),
            (lambda: xcover.get_all(a["midway"]), LookupError),
            (lambda: xcover.get_top(P, [1.0, "x"]), TypeError),
            (lambda: xcover.get_top([[0]], [a["float_raises"]]), ZeroDivisionError),
            (lambda: xcover.get_top(P, W, max_iter=-1), OverflowError),
            (lambda: xcover.get_topn(P, W, 2.0), TypeError),
            (lambda: xcover.get_topp(P, W, "a"), TypeError),
            (lambda: xcover.get_topn_sc(P, W, E, -1, L, 9, 3), OverflowError),
            (lambda: xcover.get_topn_sc(P, W, E, total, {1: 2}, 9, 3), TypeError),
            (lambda: xcover.get_all(), TypeError),
            (lambda: xcover.get_top(P, W, 1, 2, 3), TypeError),
            (lambda: xcover.get_all(P, foo=1), TypeError),
            (lambda: xcover.get_all(P, partitions=P), TypeError),
            (lambda: xcover.blocks_from_matrix(a["matrix_bad"]), ValueError),
        ]
    if kind == "panic":
        return [
            (lambda: xcover.get_top([[0]], []), PANIC),
            (lambda: xcover.get_topn(P, W[:3], 2), PANIC),
            (lambda: xcover.get_topn_sc(P, W, E, total, L[:1], 9, 3), PANIC),
            (lambda: xcover.get_all(a["panic_len"]), PANIC),
            (lambda: xcover.get_all([[0], [a["panic_index"]]]), PANIC),
        ]
    raise ValueError(kind)


def run(calls, rounds, expected_results):
    for _ in range(rounds):
        for k, (call, outcome) in enumerate(calls):
            try:
                result = call()
            except BaseException as error:  # noqa: BLE001
                if outcome is None or type(error) is not outcome:
                    raise
                if error is MIDWAY_ERROR:
                    # Drop the traceback that the raise attached to the shared instance.
                    error.__traceback__ = None
                del error
            else:
                assert outcome is None, f"call {k} returned {result!r}"
                assert result == expected_results[k], f"call {k} changed its result"


def refcounts(a):
    watched = {
        "partitions": a["partitions"],
        "weights": a["weights"],
        "edges": a["edges"],
        "labels": a["labels"],
        "big": BIG,
        "too_big": TOO_BIG,
        "index": INDEX,
        "float": FLOAT,
        "cause": CAUSE,
        "midway_error": MIDWAY_ERROR,
        "qualname": NOT_A_SEQUENCE.__qualname__,
    }
    for i, block in enumerate(a["partitions"]):
        watched[f"block {i}"] = block
    for i, array in enumerate(a["matrix_arrays"]):
        watched[f"matrix array {i}"] = array
    for name, value in a.items():
        watched.setdefault(name, value)
    return {name: sys.getrefcount(value) for name, value in watched.items()}


# Rounds per kind: about 20k calls each for the resident-size check.
ROUNDS = {"success": 2500, "error": 1200, "panic": 1500}


@pytest.mark.parametrize("kind", ["success", "error", "panic"])
def test_repeated_calls_leave_memory_and_reference_counts_flat(kind):
    a = make_inputs()
    calls = make_calls(kind, a)
    expected = []
    with stderr_silenced():
        for call, outcome in calls:
            if outcome is None:
                expected.append(call())
            else:
                expected.append(None)
                with pytest.raises(BaseException) as info:
                    call()
                assert type(info.value) is outcome
                del info

        rounds = ROUNDS[kind]
        run(calls, rounds // 10, expected)  # warm-up: caches, free lists, arenas
        gc.collect()  # no garbage cycle may hold an argument while counts are taken
        before_counts = refcounts(a)
        growths = rss_growth(lambda: run(calls, rounds, expected), RSS_SLACK)
        gc.collect()
        after_counts = refcounts(a)

        tracemalloc.start()
        try:
            run(calls, rounds // 20, expected)
            gc.collect()
            first = tracemalloc.take_snapshot()
            run(calls, rounds // 4, expected)
            gc.collect()
            second = tracemalloc.take_snapshot()
        finally:
            tracemalloc.stop()

    changed = {k: (before_counts[k], after_counts[k]) for k in before_counts
               if before_counts[k] != after_counts[k]}
    assert changed == {}, f"reference counts moved: {changed}"
    calls_made = rounds * len(calls)
    assert growths[-1] < RSS_SLACK, f"resident size grew on every run of {calls_made} calls: {growths}"
    ignore = [tracemalloc.Filter(False, tracemalloc.__file__)]
    diff = second.filter_traces(ignore).compare_to(first.filter_traces(ignore), "lineno")
    growth = sum(stat.size_diff for stat in diff)
    top = "\n".join(str(stat) for stat in diff[:5])
    assert growth < 64 << 10, f"traced memory grew by {growth} bytes:\n{top}"


def test_large_results_are_released():
    # Each call builds 2**12 covers of 12 blocks; keeping them would cost tens of megabytes.
    blocks = []
    for k in range(12):
        blocks += [[2 * k], [2 * k + 1], [2 * k, 2 * k + 1]]
    weights = [1.0] * len(blocks)

    def run(times):
        for _ in range(times):
            assert len(xcover.get_all(blocks)) == 4096
            assert len(xcover.get_topn(blocks, weights, 4096)) == 4096

    run(2)
    growths = rss_growth(lambda: run(30), 8 << 20)
    assert growths[-1] < 8 << 20, f"resident size grew on every run: {growths}"
