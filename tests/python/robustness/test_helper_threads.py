"""set_threads and get_threads: the same results with helper threads as without, from one
caller and from several threads at once, the setting from the environment, a forked child."""

import os
import random
import warnings

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import xcover
from conftest import fork_with_helpers, panic_type, run_in_threads, run_python


@pytest.fixture(autouse=True)
def one_thread_afterwards():
    yield
    xcover.set_threads(1)


def langford_blocks(n):
    return [[k - 1, n + i, n + i + k + 1] for k in range(1, n + 1) for i in range(2 * n - k - 1)]


def every_query(blocks, weights, n, max_iter, max_heap):
    """Each query's result, or the type of what it raised."""
    caps = {"max_iter": max_iter, "max_heap": max_heap}
    sizes = [len(b) for b in blocks]
    calls = {
        "get_all": lambda: xcover.get_all(blocks),
        "count_all": lambda: xcover.count_all(blocks),
        "get_top": lambda: xcover.get_top(blocks, weights, **caps),
        "get_topn": lambda: xcover.get_topn(blocks, weights, n, **caps),
        "get_topp": lambda: xcover.get_topp(blocks, weights, 0.5, **caps),
        "get_topn_sc": lambda: xcover.get_topn_sc(
            blocks, weights, sizes, 9, sizes, 6, n, **caps
        ),
    }
    results = {}
    for name, call in calls.items():
        try:
            results[name] = call()
        except BaseException as e:  # noqa: BLE001 - internal failures are compared too
            results[name] = type(e)
    return results


CORES = len(os.sched_getaffinity(0))
MOST_THREADS = 4 * CORES  # the documented limit: four per processor


@pytest.mark.concurrency
def test_setting_round_trips_and_rejects_nonsense():
    assert xcover.get_threads() == 1
    xcover.set_threads(3)
    assert xcover.get_threads() == 3
    xcover.set_threads(n=2)
    assert xcover.get_threads() == 2
    with pytest.raises(OverflowError):
        xcover.set_threads(-1)
    with pytest.raises(OverflowError):
        xcover.set_threads(2**64)
    with pytest.raises(TypeError):
        xcover.set_threads("2")
    assert "set_threads" not in xcover.__all__ and "get_threads" not in xcover.__all__


@pytest.mark.filterwarnings("error::RuntimeWarning")
def test_zero_asks_for_every_processor():
    xcover.set_threads(0)
    assert xcover.get_threads() == CORES


@pytest.mark.parametrize("asked", [MOST_THREADS + 1, 10**6, 2**64 - 1])
def test_more_than_the_limit_gets_the_limit_with_a_warning(asked):
    with pytest.warns(RuntimeWarning, match=f"4 per processor .*: {MOST_THREADS} threads are used"):
        xcover.set_threads(asked)
    assert xcover.get_threads() == MOST_THREADS
    xcover.set_threads(1)
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        with pytest.raises(RuntimeWarning):
            xcover.set_threads(asked)
        assert xcover.get_threads() == 1  # refused, not applied
        xcover.set_threads(MOST_THREADS)  # the limit itself says nothing
    assert xcover.get_threads() == MOST_THREADS


blocks_strategy = st.lists(
    st.lists(st.integers(0, 7), min_size=1, max_size=3), min_size=0, max_size=24
)
weight_strategy = st.sampled_from([0.0, -0.0, 0.5, 1.0, 1.0, 2.0, float("nan"), float("inf")])


@pytest.mark.concurrency
@settings(max_examples=150, deadline=None)
@given(
    blocks=blocks_strategy,
    weights=st.lists(weight_strategy, max_size=24),
    n=st.integers(0, 6),
    max_iter=st.none() | st.integers(0, 40),
    max_heap=st.none() | st.integers(0, 30),
)
def test_helpers_change_no_result(blocks, weights, n, max_iter, max_heap):
    xcover.set_threads(1)
    one = every_query(blocks, weights, n, max_iter, max_heap)
    for threads in (2, 4):
        xcover.set_threads(threads)
        assert every_query(blocks, weights, n, max_iter, max_heap) == one


@pytest.mark.concurrency
def test_larger_searches_match_one_thread():
    rng = random.Random(7)
    blocks = langford_blocks(8)
    weights = [rng.choice([0.25, 0.5, 0.75, 1.0]) for _ in blocks]
    one = every_query(blocks, weights, 25, 20_000, None)
    xcover.set_threads(2)
    assert every_query(blocks, weights, 25, 20_000, None) == one


@pytest.mark.concurrency
def test_concurrent_callers_share_the_helpers():
    xcover.set_threads(3)
    problems = [langford_blocks(7 + k % 2) for k in range(6)]
    weights = [[0.5 + (i % 5) / 4 for i in range(len(p))] for p in problems]
    xcover.set_threads(1)
    expected = [
        (xcover.get_all(p), xcover.get_topn(p, w, 30, max_iter=5000)) for p, w in zip(problems, weights)
    ]
    xcover.set_threads(3)
    failures = []

    def worker(k):
        for _ in range(3):
            got = (xcover.get_all(problems[k]), xcover.get_topn(problems[k], weights[k], 30, max_iter=5000))
            if got != expected[k]:
                failures.append(k)

    run_in_threads(worker, len(problems))
    assert failures == []


@pytest.mark.concurrency
def test_internal_failure_with_helpers_is_the_same_panic():
    xcover.set_threads(2)
    with pytest.raises(panic_type()):
        xcover.get_topn(langford_blocks(6), [1.0] * 3, 5)


# Imports the module with XCOVER_THREADS set, then again in a subinterpreter when there are
# any; prints the setting and the RuntimeWarnings the imports gave.
IMPORT_WITH_THE_VARIABLE = """
import warnings
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import xcover
    try:
        import _interpreters
    except ImportError:
        pass
    else:
        interp = _interpreters.create()
        _interpreters.run_string(interp, "import xcover")
        _interpreters.destroy(interp)
print(xcover.get_threads(), [str(w.message) for w in caught if w.category is RuntimeWarning])
"""


@pytest.mark.concurrency
@pytest.mark.parametrize(
    "value, threads, warning",
    [("3", 3, None), ("1", 1, None), ("", 1, None), ("0", CORES, None),
     ("1000000", MOST_THREADS, "4 per processor"), ("9" * 30, MOST_THREADS, "4 per processor")]
    + [(v, 1, "is not a number of threads") for v in ("x", "abc", "-1", "-2", "2x", " 2", "1e20")],
)
def test_setting_from_the_environment(monkeypatch, value, threads, warning):
    monkeypatch.setenv("XCOVER_THREADS", value)
    result = run_python(IMPORT_WITH_THE_VARIABLE)
    assert result.returncode == 0, result.stderr
    setting, warnings_given = result.stdout.split(maxsplit=1)
    assert int(setting) == threads
    warnings_given = eval(warnings_given)  # noqa: S307 - our own child's printed list
    # Warned once per process, by the first import only.
    if warning is None:
        assert warnings_given == []
    else:
        assert len(warnings_given) == 1 and warning in warnings_given[0], warnings_given
        assert warnings_given[0].startswith(f"XCOVER_THREADS={value} ")


@pytest.mark.concurrency
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@fork_with_helpers
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_helpers_in_a_forked_child():
    blocks = langford_blocks(8)
    expected = xcover.get_all(blocks)
    xcover.set_threads(2)
    assert xcover.get_all(blocks) == expected  # helpers running in the parent
    pid = os.fork()
    if pid == 0:
        ok = xcover.get_all(blocks) == expected and xcover.count_all(blocks) == len(expected)
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
