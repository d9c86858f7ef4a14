"""get_top, get_topn and get_topp from Python, and internal failures."""

import math
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import brute_force_covers, run_in_threads, panic_type, run_python

P = [[0, 1], [0], [1]]
W = [2.0, 0.9, 0.9]
NAN = float("nan")


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        (([], []), {}, [[]]),
        (([[]], [1.0]), {}, [[]]),
        (([[0], [1]], [1.0, 1.0]), {}, [[0, 1]]),
        (([[0], [0]], [1.0, 1.0]), {}, [[1], [0]]),
        ((P, W), {}, [[1, 2], [0]]),
        ((P, W), {"max_iter": 3}, [[1, 2]]),
        ((P, W), {"max_iter": 2}, []),
        ((P, W), {"max_iter": 0}, []),
        ((P, W), {"max_heap": 0}, []),
        ((P, W), {"max_heap": 1}, []),
        ((P, W), {"max_heap": 2}, [[1, 2], [0]]),
        (([[0, 1], [0], [2], [1, 2]], [2.0, 3.0, 4.0, 3.0]), {}, [[1, 3], [0, 2]]),
        (([[0, 1], [1, 2], [0, 2]], [1.0, 1.0, 1.0]), {}, []),
        (([[0], [1], [0, 1]], [NAN, 1.0, 5.0]), {}, [[2], [0, 1]]),
        (([[5, 7], [5], [7]], [1.0, 1.0, 1.0]), {}, [[0], [1, 2]]),
        (([[0]], []), {"max_iter": 0}, []),
        (([[0]], []), {"max_heap": 0}, []),
        (([[0]], [1.0, 2.0]), {}, [[0]]),
        (([[2**64 - 1], [2**64 - 2, 2**64 - 1], [2**64 - 2]], [1.0, 5.0, 1.0]), {}, [[2, 0], [1]]),
    ],
)
def test_get_top_documented_results(args, kwargs, expected):
    assert xcover.get_top(*args, **kwargs) == expected


def test_get_topn():
    assert xcover.get_topn(P, W, 0) == []
    assert xcover.get_topn(P, W, 1) == [[1, 2]]
    assert xcover.get_topn(P, W, 5) == [[1, 2], [0]]
    assert xcover.get_topn(P, W, 1, max_iter=3) == [[1, 2]]
    assert xcover.get_topn(P, W, 1, max_iter=2) == []
    assert xcover.get_topn([], [], 3) == [[]]
    # n = 0 never steps, so a short weight list cannot fail.
    assert xcover.get_topn([[0]], [], 0) == []


def cost(cover, weights):
    total = -0.0
    for b in cover:
        total += weights[b]
    return total


weighted = st.lists(st.lists(st.integers(0, 5), max_size=4), max_size=9).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        st.lists(
            st.floats(0, 10, allow_nan=False, allow_infinity=False),
            min_size=len(blocks),
            max_size=len(blocks),
        ),
    )
)


@settings(max_examples=300, deadline=None)
@given(weighted)
def test_get_top_matches_brute_force(instance):
    blocks, weights = instance
    result = xcover.get_top(blocks, weights)
    assert sorted(tuple(sorted(c)) for c in result) == sorted(brute_force_covers(blocks))
    costs = [cost(c, weights) for c in result]
    assert all(a <= b + 1e-9 for a, b in zip(costs, costs[1:]))
    for n in range(len(result) + 2):
        assert xcover.get_topn(blocks, weights, n) == result[:n]


def test_get_topp_thresholds():
    for alpha in (1.0, 1.5, -0.5, -0.0, NAN, math.inf, -math.inf):
        assert xcover.get_topp(P, W, alpha) == []
    assert xcover.get_topp([], [], 0.5) == [[]]
    # Two elements: a second partition only when alpha < 0.51896...
    assert xcover.get_topp(P, W, 0.52) == [[1, 2]]
    assert xcover.get_topp(P, W, 0.518) == [[1, 2], [0]]
    assert xcover.get_topp(P, W, 0.0) == [[1, 2], [0]]
    # ... and after a second cover weighing 1.0 more, the unseen share is about 0.020764.
    p2 = [[0, 1], [0], [1]]
    w2 = [2.8, 0.9, 0.9]
    assert xcover.get_topp(p2, w2, 0.0208) == [[1, 2], [0]]
    assert xcover.get_topp(p2, w2, 1) == []
    # One element: a second partition only when alpha < 0.12481...
    assert xcover.get_topp([[0], [0]], [1.0, 2.0], 0.125) == [[0]]
    assert xcover.get_topp([[0], [0]], [1.0, 2.0], 0.1248) == [[0], [1]]


def test_internal_failure_raises_panic_exception_and_module_stays_usable(capfd):
    with pytest.raises(BaseException) as info:
        xcover.get_top([[0]], [])
    error = info.value
    assert not isinstance(error, Exception)
    assert type(error).__name__ == "PanicException"
    assert type(error).__module__ == "pyo3_runtime"
    assert len(error.args) == 1 and isinstance(error.args[0], str)
    assert "index out of bounds" in str(error)
    assert "internal check" in capfd.readouterr().err
    assert xcover.get_top([[0]], [1.0]) == [[0]]
    assert type(error) is panic_type()


def test_panic_exception_from_a_len_is_resumed(capfd):
    panic = panic_type()

    class PanicLen(list):
        def __len__(self):
            raise panic("from python")

    with pytest.raises(BaseException) as info:
        xcover.get_all(PanicLen([[0]]))
    assert type(info.value) is panic
    assert str(info.value) == "from python"
    err = capfd.readouterr().err
    assert "Python stack trace below:" in err


@pytest.mark.concurrency
def test_threads_calling_ranked_functions_match_serial_results():
    import random
    import threading

    rng = random.Random(4)
    inputs = []
    for _ in range(6):
        blocks = [[rng.randrange(12) for _ in range(rng.randrange(1, 4))] for _ in range(40)]
        weights = [rng.uniform(0.1, 3.0) for _ in blocks]
        inputs.append((blocks, weights))
    calls = [
        lambda b, w: xcover.get_top(b, w, max_iter=2000),
        lambda b, w: xcover.get_topn(b, w, 5),
        lambda b, w: xcover.get_topp(b, w, 0.01, max_iter=2000),
        lambda b, w: xcover.get_all(b),
    ]
    expected = [[call(b, w) for b, w in inputs] for call in calls]
    errors = []

    def worker(k):
        for r in range(8):
            c = (k + r) % len(calls)
            i = (k * 3 + r) % len(inputs)
            if calls[c](*inputs[i]) != expected[c][i]:
                errors.append((k, c, i))

    run_in_threads(worker, 8)
    assert errors == []
