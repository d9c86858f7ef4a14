"""iter_top and iter_top_sc with helper threads: the same (score, cover) pairs in the same order,
to the bit, as on one thread; streams dropped midway, shared between threads, interrupted and
resumed, or carried into a forked child."""

import gc
import itertools
import os
import random
import struct
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import xcover
from conftest import SEND_LATER, fork_with_helpers, SIGNAL_LATENCY_BOUND, run_in_threads, run_script_words
from test_helper_threads import langford_blocks
from test_ranked_streams import graphs, planted


@pytest.fixture(autouse=True)
def one_thread_afterwards():
    yield
    xcover.set_threads(1)


def exact(pairs):
    """Pairs with each score as its bits, so NaN, -0.0 and +0.0 compare by what they are."""
    return [(struct.pack("<d", score), cover) for score, cover in pairs]


def with_threads(threads, make_stream, take=None):
    """The pairs of a stream made with the pool set to `threads` (the first `take` of them)."""
    xcover.set_threads(threads)
    try:
        return exact(itertools.islice(make_stream(), take))
    finally:
        xcover.set_threads(1)


def outcome(threads, make_stream, take=None):
    """with_threads' pairs, or the type of what the stream raised."""
    try:
        return with_threads(threads, make_stream, take)
    except BaseException as e:  # noqa: BLE001 - internal failures are compared too
        return type(e)


# Small costs with many ties, both zeros, NaN and infinity: every path of the ordering.
weight_choices = st.sampled_from([0.0, -0.0, 0.5, 1.0, 1.0, 2.0, float("nan"), float("inf")])

top_problems = st.lists(
    st.lists(st.integers(0, 7), min_size=1, max_size=3, unique=True), max_size=24
).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        st.lists(weight_choices, min_size=len(blocks), max_size=len(blocks)),
        st.lists(st.integers(0, max(len(blocks) - 1, 0)), max_size=2 if blocks else 0),
        st.none() | st.integers(0, 40),
        st.none() | st.integers(0, 30),
    )
)


@pytest.mark.concurrency
@settings(max_examples=150, deadline=None)
@given(top_problems)
def test_iter_top_with_helpers_is_iter_top_on_one_thread(problem):
    blocks, weights, include, max_iter, max_heap = problem
    caps = {"max_iter": max_iter, "max_heap": max_heap}

    def make():
        return xcover.iter_top(blocks, weights, include=include, **caps)

    one = outcome(1, make)
    for threads in (2, 4):
        assert outcome(threads, make) == one


def sbm_like(n, seed):
    """Every vertex set of up to three vertices of a random graph as a block, with its inside
    edges; weights with ties, a few labels."""
    rng = random.Random(seed)
    edges = {(a, b) for a in range(n) for b in range(a + 1, n) if rng.random() < 0.3}
    blocks = [list(c) for size in (1, 2, 3) for c in itertools.combinations(range(n), size)]
    inside = [sum(1 for a, b in itertools.combinations(c, 2) if (a, b) in edges) for c in blocks]
    weights = [rng.choice([0.5, 1.0, 1.5]) for _ in blocks]
    labels = [rng.randrange(3) for _ in blocks]
    return blocks, weights, inside, len(edges), labels, n


def tied_weights(blocks, seed):
    rng = random.Random(seed)
    return [rng.choice([0.25, 0.5, 0.75, 1.0]) for _ in blocks]


@pytest.mark.concurrency
@pytest.mark.parametrize("seed", range(3))
def test_larger_iter_top_streams_match_one_thread(seed):
    problems = [langford_blocks(8), sbm_like(11, seed)[0]]
    for blocks in problems:
        weights = tied_weights(blocks, seed)
        caps = {"max_heap": 50_000} if seed == 2 else {}

        def make():
            return xcover.iter_top(blocks, weights, **caps)

        one = with_threads(1, make, 300)
        assert len(one) > 0
        assert with_threads(2, make, 300) == one
        assert with_threads(3, make, 300) == one


@pytest.mark.concurrency
@settings(max_examples=40, deadline=None)
@given(graphs, st.data())
def test_iter_top_sc_with_helpers_is_iter_top_sc_on_one_thread(graph, data):
    blocks, weights, inside, edge_total, labels, n = planted(*graph)
    include = data.draw(st.lists(st.integers(0, len(blocks) - 1), max_size=2))
    caps = {"max_iter": data.draw(st.none() | st.integers(0, 60)),
            "max_heap": data.draw(st.none() | st.integers(0, 80))}

    def make():
        return xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n,
                                  include=include, **caps)

    one = outcome(1, make)
    assert outcome(2, make) == one
    assert outcome(4, make) == one


@pytest.mark.concurrency
@pytest.mark.parametrize("seed", range(2))
def test_larger_iter_top_sc_streams_match_one_thread(seed):
    problem = sbm_like(9, seed)

    def make():
        return xcover.iter_top_sc(*problem)

    one = with_threads(1, make, 60)
    assert len(one) == 60
    assert with_threads(2, make, 60) == one


@pytest.mark.concurrency
def test_streams_dropped_midway_leave_the_helpers_to_other_calls():
    blocks = langford_blocks(8)
    weights = tied_weights(blocks, 1)
    sc = sbm_like(9, 3)
    expected = with_threads(1, lambda: xcover.iter_top(blocks, weights), 40)
    expected_sc = with_threads(1, lambda: xcover.iter_top_sc(*sc), 5)
    xcover.set_threads(3)
    for k in range(20):
        stream = xcover.iter_top(blocks, weights)
        assert exact(itertools.islice(stream, k)) == expected[:k]
        sc_stream = xcover.iter_top_sc(*sc)
        assert exact(itertools.islice(sc_stream, k % 3)) == expected_sc[:k % 3]
        del stream, sc_stream  # helpers may be busy with entries handed out ahead
        gc.collect()
    assert exact(itertools.islice(xcover.iter_top(blocks, weights), 40)) == expected
    assert exact(itertools.islice(xcover.iter_top_sc(*sc), 5)) == expected_sc


@pytest.mark.concurrency
def test_a_stream_goes_on_alike_when_the_setting_changes_under_it():
    blocks = sbm_like(10, 7)[0]
    weights = tied_weights(blocks, 7)
    sc = sbm_like(9, 8)
    for make, take in ((lambda: xcover.iter_top(blocks, weights), 200),
                       (lambda: xcover.iter_top_sc(*sc), 12)):
        expected = with_threads(1, make, take)
        for first, then in ((2, 1), (1, 3), (3, 2)):
            xcover.set_threads(first)
            stream = make()
            got = exact(itertools.islice(stream, take // 2))
            xcover.set_threads(then)  # helpers come and go; the stream keeps its own slots
            got += exact(itertools.islice(stream, take - take // 2))
            assert got == expected, (first, then)


@pytest.mark.concurrency
def test_threads_sharing_a_stream_with_helpers_split_it_without_loss():
    blocks = langford_blocks(8)
    weights = tied_weights(blocks, 2)
    sc = sbm_like(8, 4)
    for make in (lambda: xcover.iter_top(blocks, weights, max_iter=30_000),
                 lambda: xcover.iter_top_sc(*sc, max_iter=3_000)):
        whole = with_threads(1, make)
        xcover.set_threads(2)
        shared = make()
        got = [[] for _ in range(3)]
        run_in_threads(lambda k: got[k].extend(exact(shared)), 3)
        assert sorted(itertools.chain(*got)) == sorted(whole)
        for part in got:  # each thread's share in the stream's order
            positions = [whole.index(pair) for pair in part]
            assert positions == sorted(positions)


@pytest.mark.concurrency
def test_an_interrupted_stream_with_helpers_resumes_as_one_thread_would_go_on():
    out = run_script_words(SEND_LATER + textwrap.dedent(
        """
        import itertools, struct
        import xcover
        from pentomino import pentomino_blocks
        blocks, _ = pentomino_blocks(6, 10)
        weights = [1.0 / (1 + i % 7) for i in range(len(blocks))]
        expected = list(itertools.islice(xcover.iter_top(blocks, weights), 3))
        xcover.set_threads(2)
        stream = xcover.iter_top(blocks, weights)
        sent = send_later(signal.SIGINT, 0.3)
        try:
            next(stream)
            print("completed", 0)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - sent[0])
        print(list(itertools.islice(stream, 3)) == expected)
        """))
    assert out[0] == "interrupted"
    assert float(out[1]) < SIGNAL_LATENCY_BOUND
    assert out[2] == "True"


@pytest.mark.concurrency
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@fork_with_helpers
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_a_stream_with_helpers_goes_on_in_a_forked_child():
    blocks = langford_blocks(8)
    weights = tied_weights(blocks, 0)
    sc = sbm_like(10, 6)
    expected = with_threads(1, lambda: xcover.iter_top(blocks, weights), 60)
    expected_sc = with_threads(1, lambda: xcover.iter_top_sc(*sc), 12)
    xcover.set_threads(2)
    stream = xcover.iter_top(blocks, weights)
    sc_stream = xcover.iter_top_sc(*sc)
    assert exact(itertools.islice(stream, 20)) == expected[:20]
    assert exact(itertools.islice(sc_stream, 4)) == expected_sc[:4]
    pid = os.fork()  # helpers may still be expanding entries handed out ahead
    if pid == 0:
        ok = (exact(itertools.islice(stream, 40)) == expected[20:]
              and exact(itertools.islice(sc_stream, 8)) == expected_sc[4:])
        del stream, sc_stream
        ok = ok and exact(itertools.islice(xcover.iter_top(blocks, weights), 60)) == expected
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    assert exact(itertools.islice(stream, 40)) == expected[20:]
