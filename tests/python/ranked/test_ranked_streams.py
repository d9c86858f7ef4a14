"""The ranked streams iter_top and iter_top_sc against get_top, get_topn_sc and brute force;
include, merged split streams, the probability stop, bad input, threads and Ctrl-C. With helper
threads: the same (score, cover) pairs in the same order, to the bit, as on one thread; streams
dropped midway, shared between threads, interrupted and resumed, or carried into a forked
child."""

import functools
import gc
import heapq
import itertools
import math
import operator
import os
import random
import struct
import textwrap

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import (SEND_LATER, SIGNAL_LATENCY_BOUND, colored_ordered_model, fork_with_helpers, pool_of,
                      run_in_threads, run_script_words, thread_settings)
from test_block_count import complete_score
from test_helper_threads import langford_blocks

pytestmark = pytest.mark.usefixtures("one_thread_afterwards")

problems = st.lists(
    st.lists(st.integers(0, 6), min_size=1, max_size=3, unique=True), max_size=10
).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        st.lists(st.floats(0, 4, allow_subnormal=False), min_size=len(blocks), max_size=len(blocks)),
    )
)


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


@thread_settings(2, 4)
@settings(max_examples=200, deadline=None)
@given(problem=problems.map(lambda p: (*p, [], None, None)) | top_problems)
def test_iter_top_is_get_top_with_each_cost(threads, problem):
    blocks, weights, include, max_iter, max_heap = problem
    caps = {"max_iter": max_iter, "max_heap": max_heap}

    def make():
        return xcover.iter_top(blocks, weights, include=include, **caps)

    pairs = with_threads(1, make)
    assert with_threads(threads, make) == pairs  # helpers give one thread's pairs, to the bit
    covers = [c for _, c in pairs]
    if not include:
        assert covers == xcover.get_top(blocks, weights, **caps)
    elif max_iter is None and max_heap is None:
        assert covers == [c for c in xcover.get_top(blocks, weights) if set(include) <= set(c)]
    # Summed from -0.0 in order of choice (sum() compensates, so a plain fold).
    assert pairs == exact((fold(weights, cover), cover) for cover in covers)
    capped = with_threads(threads, lambda: xcover.iter_top(blocks, weights, max_iter=5, max_heap=3))
    assert [c for _, c in capped] == xcover.get_top(blocks, weights, max_iter=5, max_heap=3)


@settings(max_examples=200, deadline=None)
@given(problems, st.data())
def test_include_and_merged_split_streams_give_the_whole_stream(problem, data):
    blocks, weights = problem
    whole = list(xcover.iter_top(blocks, weights))
    if blocks:
        # The covers of the whole stream holding the blocks, in its order, with its lists
        # and its costs to the bit.
        chosen = data.draw(st.lists(st.integers(0, len(blocks) - 1), max_size=3))
        held = list(xcover.iter_top(blocks, weights, include=chosen))
        assert held == [p for p in whole if set(chosen) <= set(p[1])]
    prefixes = xcover.split(blocks, data.draw(st.integers(1, 6)))
    merged = list(heapq.merge(*(xcover.iter_top(blocks, weights, include=p) for p in prefixes),
                              key=lambda pair: pair[0]))
    # Each pair as in the whole stream: only pairs of equal cost may change places.
    assert sorted(merged) == sorted(whole)
    assert [c for c, _ in merged] == [c for c, _ in whole]


# Blocks may list an element twice (it counts once).
problems_with_repeats = st.lists(
    st.lists(st.integers(0, 5), min_size=1, max_size=4), max_size=8
).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        st.lists(st.floats(0, 4, allow_subnormal=False), min_size=len(blocks), max_size=len(blocks)),
    )
)


def test_an_element_listed_twice_in_an_included_block_counts_once():
    blocks, weights = [[0, 0], [1], [0], [0, 1]], [1.0, 1.0, 1.0, 5.0]
    assert [c for _, c in xcover.iter_top(blocks, weights, include=[0])] == [
        c for c in xcover.get_top(blocks, weights) if 0 in c]


@settings(max_examples=200, deadline=None)
@given(problems_with_repeats, st.data())
def test_include_with_repeated_elements_keeps_the_covers_holding_the_blocks(problem, data):
    blocks, weights = problem
    if not blocks:
        return
    chosen = data.draw(st.lists(st.integers(0, len(blocks) - 1), max_size=2))
    held = [c for _, c in xcover.iter_top(blocks, weights, include=chosen)]
    assert held == [c for c in xcover.get_top(blocks, weights) if set(chosen) <= set(c)]


graphs = st.integers(3, 6).flatmap(
    lambda n: st.tuples(
        st.just(n),
        st.sets(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1)).filter(lambda e: e[0] < e[1])),
        st.lists(st.floats(0, 3), min_size=2 ** n, max_size=2 ** n),
        st.lists(st.integers(0, 2), min_size=2 ** n, max_size=2 ** n),
    )
)


def set_partitions(items):
    """Every partition of a list into nonempty parts (a model independent of the search)."""
    if not items:
        yield []
        return
    first, rest = items[0], items[1:]
    for partition in set_partitions(rest):
        yield [[first]] + partition
        for i in range(len(partition)):
            yield partition[:i] + [[first] + partition[i]] + partition[i + 1:]


def planted(n, edges, weight_table, label_table):
    """Every nonempty vertex set of a small graph as a block, with its inside edges."""
    blocks, weights, inside, labels = [], [], [], []
    for mask in range(1, 2 ** n):
        block = [v for v in range(n) if mask >> v & 1]
        blocks.append(block)
        weights.append(weight_table[mask])
        inside.append(sum(1 for a, b in edges if mask >> a & 1 and mask >> b & 1))
        labels.append(label_table[mask])
    return blocks, weights, inside, len(edges), labels, n


@thread_settings(2, 4)
@settings(max_examples=60, deadline=None)
@given(graph=graphs, data=st.data())
def test_iter_top_sc_yields_every_partition_in_score_order_with_its_score(threads, graph, data):
    blocks, weights, inside, edge_total, labels, n = planted(*graph)
    with pool_of(threads):
        stream = xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n)
        pairs, bounds = [], [stream.progress[0]]
        for pair in stream:
            pairs.append(pair)
            bounds.append(stream.progress[0])
    # The bound before each pair (its search's least pending key) is at most the pair's score.
    assert all(b <= s for b, (s, _) in zip(bounds, pairs)) and bounds[-1] == math.inf
    # Block of a vertex set: its mask minus one.
    expected = [tuple(sorted(sum(1 << v for v in part) - 1 for part in p))
                for p in set_partitions(list(range(n)))]
    assert sorted(tuple(sorted(c)) for _, c in pairs) == sorted(expected)
    scores = [s for s, _ in pairs]
    assert scores == sorted(scores)
    for score, cover in pairs:
        assert math.isclose(score, complete_score(cover, weights, inside, edge_total, labels),
                            rel_tol=1e-9, abs_tol=1e-9)
    best = xcover.get_topn_sc(blocks, weights, inside, edge_total, labels, n, 1)
    assert math.isclose(scores[0], complete_score(best[0], weights, inside, edge_total, labels),
                        rel_tol=1e-12, abs_tol=1e-12)
    # With include and caps, helpers give one thread's pairs, to the bit.
    include = data.draw(st.lists(st.integers(0, len(blocks) - 1), max_size=2))
    caps = {"max_iter": data.draw(st.none() | st.integers(0, 60)),
            "max_heap": data.draw(st.none() | st.integers(0, 80))}

    def make():
        return xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n,
                                  include=include, **caps)

    assert outcome(threads, make) == outcome(1, make)


def test_bad_input_is_refused_when_the_call_is_made():
    blocks = [[0, 1], [0], [1]]
    with pytest.raises(ValueError, match="weights has 2 entries for 3 partitions"):
        xcover.iter_top(blocks, [1.0, 2.0])
    with pytest.raises(ValueError, match="include: block index 3"):
        xcover.iter_top(blocks, [1.0] * 3, include=[3])
    sc = dict(edge_counts=[0, 0, 0], edge_total=1, labels=[0, 0, 0], vertex_total=2)
    with pytest.raises(ValueError, match="labels has 1 entries for 3 partitions"):
        xcover.iter_top_sc(blocks, [1.0] * 3, **{**sc, "labels": [0]})
    with pytest.raises(ValueError, match="cannot rank this input exactly"):
        xcover.iter_top_sc(blocks, [1.0, math.nan, 1.0], **sc)
    with pytest.raises(ValueError, match="cannot rank this input exactly"):
        xcover.iter_top_sc(blocks, [1.0] * 3, **{**sc, "vertex_total": 5})
    with pytest.raises(TypeError):
        xcover.RankedIterator()


@pytest.mark.parametrize("stream", ["iter_top", "iter_top_sc"])
@pytest.mark.parametrize("length", [2, 4])
def test_a_weights_list_of_another_length_is_refused_naming_both_lengths(stream, length):
    blocks = [[0], [1], [0, 1]]
    sc = dict(edge_counts=[0, 0, 1], edge_total=1, labels=[0, 0, 0], vertex_total=2)
    args = (blocks, [1.0] * length) + ((sc,) if stream == "iter_top_sc" else ({},))
    with pytest.raises(ValueError, match=f"weights has {length} entries for 3 partitions"):
        getattr(xcover, stream)(*args[:2], **args[2])


def test_iter_top_sc_refuses_a_partition_holding_more_edges_than_edge_total():
    # A triangle: the whole vertex set holds 3 edges, but edge_total says 2. Partitions
    # holding at most 2 edges come first, in order; the whole set is refused when reached.
    blocks, weights, inside, _, labels, n = planted(3, {(0, 1), (0, 2), (1, 2)}, [0.0] * 8, [0] * 8)
    stream = xcover.iter_top_sc(blocks, weights, inside, 2, labels, n)
    given = []
    with pytest.raises(ValueError, match=r"cannot rank this input exactly: the partition \[6\] "
                                         r"holds 3 edges inside its blocks, more than edge_total \(2\)"):
        given.extend(stream)
    assert sorted(sorted(c) for _, c in given) == sorted(
        sorted(c) for c in ([0, 1, 3], [0, 5], [1, 4], [2, 3]))
    assert [s for s, _ in given] == sorted(s for s, _ in given)
    assert all(s < 1e6 for s, _ in given)
    assert list(stream) == []  # the stream has ended


@settings(max_examples=150, deadline=None)
@given(problems, st.sampled_from([0.0, 0.01, 0.2, 0.5, 0.99, 1.0]))
def test_take_until_stops_once_the_share_left_is_provably_small(problem, alpha):
    blocks, weights = problem
    whole = list(xcover.iter_top(blocks, weights))
    stream = xcover.iter_top(blocks, weights)
    taken = stream.take_until(alpha, len(whole))
    assert taken == whole[:len(taken)]
    assert list(stream) == whole[len(taken):]  # nothing lost
    total = sum(math.exp(-c) for c, _ in whole)
    left = sum(math.exp(-c) for c, _ in whole[len(taken):])
    assert left <= alpha * total * (1 + 1e-9) + 1e-300
    if taken and alpha < 1:  # it stops at the first k where the bound holds
        k = len(taken) - 1
        seen = sum(math.exp(-c) for c, _ in whole[:k])
        bound = (len(whole) - k) * math.exp(-whole[k - 1][0]) if k else math.inf
        assert k == 0 or bound > alpha * (seen + bound) * (1 - 1e-9)


@pytest.mark.parametrize("count, error", [
    (2 ** 64, OverflowError), (2 ** 64 + 3, OverflowError), (10 ** 400, OverflowError),
    (-1, OverflowError), (1.5, TypeError), ("8", TypeError),
])
def test_take_until_refuses_a_count_out_of_range(count, error):
    stream = xcover.iter_top([[0], [1], [0, 1]], [1.0, 1.0, 1.5])
    with pytest.raises(error):
        stream.take_until(0.0, count)
    assert len(list(stream)) == 2  # nothing was taken


@settings(max_examples=100, deadline=None)
@given(problems, st.integers(0, 4), st.sampled_from([0.0, 0.1, 0.5]))
def test_take_until_counts_the_pairs_given_before(problem, before, alpha):
    blocks, weights = problem
    whole = list(xcover.iter_top(blocks, weights))
    stream = xcover.iter_top(blocks, weights)
    given = list(itertools.islice(stream, before))
    if len(given) > 0:
        with pytest.raises(ValueError, match=f"count is {len(given) - 1}, but the stream has "
                                             f"already given {len(given)} covers"):
            stream.take_until(alpha, len(given) - 1)
    taken = stream.take_until(alpha, len(whole))
    assert given + taken == whole[:len(given) + len(taken)]
    # The bound covers every pair given: it stops at the first k where it holds.
    k = len(given) + len(taken)
    seen = sum(math.exp(-c) for c, _ in whole[:k])
    left = sum(math.exp(-c) for c, _ in whole[k:])
    assert left <= alpha * (seen + left) * (1 + 1e-9) + 1e-300
    if taken and alpha > 0:
        k -= 1
        bound = (len(whole) - k) * math.exp(-whole[k - 1][0])
        assert k == 0 or bound > alpha * (sum(math.exp(-c) for c, _ in whole[:k]) + bound) * (1 - 1e-9)


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


def pentomino_stream():
    from pentomino import pentomino_blocks

    blocks, _ = pentomino_blocks(3, 5)
    weights = [1.0 + (i % 5) / 7 for i in range(len(blocks))]
    return xcover.iter_top(blocks, weights)


def langford_stream():
    blocks = langford_blocks(8)
    return xcover.iter_top(blocks, tied_weights(blocks, 2), max_iter=30_000)


def block_count_stream():
    return xcover.iter_top_sc(*sbm_like(8, 4), max_iter=3_000)


@pytest.mark.concurrency
@thread_settings(2)
@pytest.mark.parametrize("make", [pentomino_stream, langford_stream, block_count_stream])
def test_threads_sharing_a_stream_split_it_without_loss(make, threads):
    whole = with_threads(1, make)
    xcover.set_threads(threads)
    shared = make()
    got = [[] for _ in range(3)]
    run_in_threads(lambda k: got[k].extend(exact(shared)), 3)
    assert sorted(itertools.chain(*got)) == sorted(whole)
    for part in got:  # each thread's share in the stream's order
        positions = [whole.index(pair) for pair in part]
        assert positions == sorted(positions)


@thread_settings(2, 3)
@pytest.mark.parametrize("seed", range(3))
def test_larger_iter_top_streams_are_get_topn(seed, threads):
    # Many ties: the streams' order of equal costs is get_topn's, with helpers or not.
    for blocks in (langford_blocks(8), sbm_like(11, seed)[0]):
        weights = tied_weights(blocks, seed)
        caps = {"max_heap": 50_000} if seed == 2 else {}

        def make():
            return xcover.iter_top(blocks, weights, **caps)

        one = with_threads(1, make, 300)
        assert [c for _, c in one] == xcover.get_topn(blocks, weights, 300, **caps)
        assert with_threads(threads, make, 300) == one


@thread_settings(2)
@pytest.mark.parametrize("seed", range(2))
def test_larger_iter_top_sc_streams_are_get_topn_sc(seed, threads):
    problem = sbm_like(9, seed)

    def make():
        return xcover.iter_top_sc(*problem)

    one = with_threads(1, make, 60)
    # Ties may come in another order than get_topn_sc's: the scores agree, one by one.
    _, weights, inside, edge_total, labels, _ = problem
    best = [complete_score(c, weights, inside, edge_total, labels)
            for c in xcover.get_topn_sc(*problem, 60)]
    scores = [struct.unpack("<d", score)[0] for score, _ in one]
    assert len(scores) == 60
    assert all(math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-9) for a, b in zip(scores, best))
    assert with_threads(threads, make, 60) == one


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


@thread_settings(2)
@pytest.mark.parametrize("mode, wanted", [("", 300), (", max_iter=2**62", 3)], ids=["rounds", "plain"])
def test_sigint_stops_a_stream_that_resumes_with_nothing_lost(threads, mode, wanted):
    # Without caps the stream runs rounds of searches with a cutoff; with a step cap, the plain
    # search. Either way, a Ctrl-C 0.3 s in (while the stream is still on its way to `wanted`
    # pairs) stops one next(), and the stream goes on with nothing lost or repeated; with
    # helpers, as one thread's would. Rounds hand out 300 pairs in about a second on two
    # threads (past 256 they search for 1,024); 40 came in under 0.3 s there.
    out = run_script_words(SEND_LATER + textwrap.dedent(
        f"""
        import itertools
        import xcover
        from pentomino import pentomino_blocks
        blocks, _ = pentomino_blocks(6, 10)
        weights = [1.0 / (1 + i % 7) for i in range(len(blocks))]
        expected = list(itertools.islice(xcover.iter_top(blocks, weights{mode}), {wanted}))
        xcover.set_threads({threads})
        stream = xcover.iter_top(blocks, weights{mode})
        sent = send_later(signal.SIGINT, 0.3)
        got, latency = [], None
        while len(got) < {wanted}:
            try:
                got.append(next(stream))
            except KeyboardInterrupt:
                latency = time.monotonic() - sent[0]
        print("completed" if latency is None else "interrupted", latency or 0)
        print(got == expected, got[0][1] == xcover.get_topn(blocks, weights, 1)[0])
        """))
    assert out[0] == "interrupted"
    assert float(out[1]) < SIGNAL_LATENCY_BOUND
    assert out[2:] == ["True", "True"]


@thread_settings(2)
def test_sigint_stops_take_until_and_the_pairs_it_took_come_next(threads):
    # take_until(0.0, n) takes pairs until n were given; a Ctrl-C 0.3 s in stops it, and the
    # pairs it had taken come first from the following calls, next() or take_until. 300 pairs,
    # so that the Ctrl-C comes while it takes them (40 took under 0.3 s on two threads).
    out = run_script_words(SEND_LATER + textwrap.dedent(
        f"""
        import itertools
        import xcover
        from pentomino import pentomino_blocks
        blocks, _ = pentomino_blocks(6, 10)
        weights = [1.0 / (1 + i % 7) for i in range(len(blocks))]
        expected = list(itertools.islice(xcover.iter_top(blocks, weights), 300))
        xcover.set_threads({threads})
        stream = xcover.iter_top(blocks, weights)
        sent = send_later(signal.SIGINT, 0.3)
        try:
            got = stream.take_until(0.0, 300)
            interrupted = False
        except KeyboardInterrupt:
            interrupted = True
            got = [next(stream)] + stream.take_until(0.0, 300)
        print(interrupted, got == expected, stream.progress[2])
        """))
    assert out == ["True", "True", "300"]


def test_a_ctrl_c_as_next_returns_keeps_the_pair_for_the_next_call():
    # A signal that comes after the search's last check is handled as next() returns: the pair
    # must not be dropped on its way (it comes with the next call). Signals are sent at many
    # moments of the first round's set-up and search, one per fresh stream.
    out = run_script_words(SEND_LATER + textwrap.dedent(
        """
        import itertools
        import xcover
        from pentomino import pentomino_blocks
        blocks, _ = pentomino_blocks(6, 10)
        weights = [1.0 / (1 + i % 7) for i in range(len(blocks))]
        expected = list(itertools.islice(xcover.iter_top(blocks, weights), 5))
        start = time.monotonic()
        list(itertools.islice(xcover.iter_top(blocks, weights), 1))
        first = time.monotonic() - start  # the time to the first pair
        lost = 0
        for k in range(30):
            stream = xcover.iter_top(blocks, weights)
            sent = send_later(signal.SIGINT, first * (0.5 + k / 30))
            got = []
            while len(got) < 5:
                try:
                    got.append(next(stream))
                except KeyboardInterrupt:
                    pass
            while not sent:
                time.sleep(0.01)
            lost += got != expected
        print(lost)
        """), timeout=600)
    assert out == ["0"]


# Optional elements (`secondary=`) in the ranked streams, against the brute-force model of
# the depth-first searches, with and without helper threads.
from test_secondary import dlx2_model  # noqa: E402

ELEMENTS = list(range(7))
optional_problems = st.lists(
    st.lists(st.sampled_from(ELEMENTS), min_size=1, max_size=3, unique=True), max_size=9
).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        # Negative weights too: the bound must hold whatever their signs.
        st.lists(st.floats(-3, 4, allow_subnormal=False), min_size=len(blocks), max_size=len(blocks)),
        st.lists(st.sampled_from(ELEMENTS + [99]), max_size=4),
        st.lists(st.integers(0, max(len(blocks) - 1, 0)), max_size=2 if blocks else 0),
    )
)


def fold(weights, cover):
    """A cover's cost as the stream sums it: from -0.0, in the cover's order."""
    return functools.reduce(operator.add, (weights[b] for b in cover), -0.0)


tied_graphs = st.integers(3, 5).flatmap(
    lambda n: st.tuples(
        st.just(n),
        st.sets(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1)).filter(lambda e: e[0] < e[1])),
        st.lists(st.sampled_from([0.0, 0.5, 1.0]), min_size=2 ** n, max_size=2 ** n),
        st.lists(st.integers(0, 1), min_size=2 ** n, max_size=2 ** n),
    )
)


def partitions_of_model(n, secondary, include):
    """Every cover of the planted blocks, as sorted block tuples: partitions of the primary
    vertices and some secondary ones, each part holding a primary vertex, holding `include`."""
    primary = [v for v in range(n) if v not in secondary]
    covers = {
        tuple(sorted(sum(1 << v for v in part) - 1 for part in p))
        for r in range(len(secondary) + 1)
        for covered in itertools.combinations(secondary, r)
        for p in set_partitions(primary + list(covered))
        if all(set(part) - set(secondary) for part in p)
    }
    return sorted(c for c in covers if set(include) <= set(c))


# Keys are refined lazily (a cheap key when pushed, the full one when first popped), so ties
# come out in an order of the search's own; what is fixed is the multiset per score, the
# scores to the bit, and one order whatever the thread setting.
@settings(max_examples=60, deadline=None)
@given(graph=tied_graphs, data=st.data())
def test_iter_top_sc_ties_are_the_brute_force_partitions_and_alike_on_any_thread_setting(graph, data):
    blocks, weights, inside, edge_total, labels, n = planted(*graph)
    secondary = data.draw(st.lists(st.integers(0, n - 1), max_size=2, unique=True))
    include = data.draw(st.lists(st.integers(0, len(blocks) - 1), max_size=1))
    args = (blocks, weights, inside, edge_total, labels, n)

    def make():
        return xcover.iter_top_sc(*args, include=include, secondary=secondary)

    pairs = with_threads(1, make)
    assert with_threads(2, make) == pairs == with_threads(1, make)
    assert sorted(tuple(sorted(c)) for _, c in pairs) == partitions_of_model(n, secondary, include)
    scores = [struct.unpack("<d", bits)[0] for bits, _ in pairs]
    assert scores == sorted(scores)
    # Brute force: every cover scored alone, sorted by score, gives the stream's covers per
    # score; a cover's score does not depend on the search that reached it.
    brute = sorted((next(xcover.iter_top_sc(*args, include=c, secondary=secondary))[0], sorted(c))
                   for _, c in pairs)
    per_score = lambda ps: sorted((s, sorted(c)) for s, c in ps)
    assert per_score(zip(scores, (c for _, c in pairs))) == brute
    for score, (_, cover) in zip(scores, pairs):
        assert math.isclose(score, complete_score(cover, weights, inside, edge_total, labels),
                            rel_tol=1e-9, abs_tol=1e-9)


@pytest.mark.concurrency
@pytest.mark.parametrize("seed", range(3))
def test_iter_top_sc_ties_come_alike_with_helpers_on_larger_graphs(seed):
    # Larger searches, where helpers expand many entries ahead and entries handed to them
    # are refined and taken back: the same pairs, in the same order, to the bit.
    blocks, weights, inside, edge_total, labels, n = sbm_like(10, seed)
    weights = [round(w) for w in weights]  # 0, 1 and 2 only: many ties

    def make():
        return xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n)

    one = with_threads(1, make, 150)
    assert with_threads(2, make, 150) == one == with_threads(3, make, 150)


@thread_settings(3)
@settings(max_examples=150, deadline=None)
@given(problem=optional_problems)
def test_iter_top_with_secondary_ranks_the_covers_of_the_model(threads, problem):
    with pool_of(threads):
        check_iter_top_with_secondary(*problem)


def check_iter_top_with_secondary(blocks, weights, secondary, chosen):
    pairs = list(xcover.iter_top(blocks, weights, secondary=secondary))
    assert sorted(tuple(sorted(c)) for _, c in pairs) == dlx2_model(blocks, secondary)
    costs = [cost for cost, _ in pairs]
    assert costs == sorted(costs)
    assert all(cost == fold(weights, cover) for cost, cover in pairs)
    held = list(xcover.iter_top(blocks, weights, include=chosen, secondary=secondary))
    key = lambda pair: (round(pair[0], 9), sorted(pair[1]))
    assert sorted(map(key, held)) == sorted(key(p) for p in pairs if set(chosen) <= set(p[1]))
    assert all(a <= b + 1e-9 for (a, _), (b, _) in zip(held, held[1:]))
    # Absent values change nothing, and no secondary is the plain stream, to the bit.
    absent = [e for e in secondary if all(e not in b for b in blocks)]
    assert list(xcover.iter_top(blocks, weights, secondary=absent)) == list(
        xcover.iter_top(blocks, weights))


@thread_settings(3)
@settings(max_examples=40, deadline=None)
@given(graph=graphs, data=st.data())
def test_iter_top_sc_with_secondary_ranks_the_covers_of_the_model(threads, graph, data):
    blocks, weights, inside, edge_total, labels, n = planted(*graph)
    secondary = data.draw(st.lists(st.integers(0, n - 1), max_size=n, unique=True))
    with pool_of(threads):
        check_iter_top_sc_with_secondary(blocks, weights, inside, edge_total, labels, n, secondary)


def check_iter_top_sc_with_secondary(blocks, weights, inside, edge_total, labels, n, secondary):
    pairs = list(xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n,
                                    secondary=secondary))
    # Every partition of the primary vertices and some of the secondary ones whose parts
    # each hold a primary vertex (a block of secondary vertices only is never chosen).
    primary = [v for v in range(n) if v not in secondary]
    expected = [
        tuple(sorted(sum(1 << v for v in part) - 1 for part in p))
        for r in range(len(secondary) + 1)
        for covered in itertools.combinations(secondary, r)
        for p in set_partitions(primary + list(covered))
        if all(set(part) - set(secondary) for part in p)
    ]
    assert sorted(tuple(sorted(c)) for _, c in pairs) == sorted(expected)
    scores = [s for s, _ in pairs]
    assert scores == sorted(scores)
    for score, cover in pairs:
        assert math.isclose(score, complete_score(cover, weights, inside, edge_total, labels),
                            rel_tol=1e-9, abs_tol=1e-9)
    chosen = next((c[0] for _, c in pairs if c), None)
    if chosen is not None:
        held = list(xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n,
                                       include=[chosen], secondary=secondary))
        assert sorted(tuple(sorted(c)) for _, c in held) == sorted(
            tuple(sorted(c)) for _, c in pairs if chosen in c)
        assert [s for s, _ in held] == sorted(s for s, _ in held)
    if not secondary:
        assert pairs == list(xcover.iter_top_sc(blocks, weights, inside, edge_total, labels, n))


@thread_settings(3)
def test_a_negative_weight_on_a_secondary_element_keeps_the_order(threads):
    # Block 3 spreads its weight over a primary and a secondary element: a bound that spread
    # it over both would put [2, 3] (cost -3) after [0, 1] (cost -2).
    blocks, weights = [[0], [4, 5, 3], [3, 0, 5], [4, 6]], [-3.0, 1.0, 0.0, -3.0]
    with pool_of(threads):
        pairs = list(xcover.iter_top(blocks, weights, secondary=[6]))
    assert pairs == [(-3.0, [2, 3]), (-2.0, [0, 1])]


@thread_settings(3)
def test_ranking_a_timetable_with_optional_slots(threads):
    with pool_of(threads):
        check_timetable()


def check_timetable():
    # Three lessons must each get one of four slots; slots may stay free (secondary).
    lessons, slots = ["maths", "art", "music"], range(4)
    blocks = [[lesson, 10 + slot] for lesson in range(3) for slot in slots]
    weights = [abs(lesson - slot) + 0.5 * slot for lesson in range(3) for slot in slots]
    secondary = [10 + slot for slot in slots]
    ranked = list(xcover.iter_top(blocks, weights, secondary=secondary))
    assert len(ranked) == xcover.count_all(blocks, secondary=secondary) == 4 * 3 * 2
    best_cost, best = ranked[0]
    assert sorted((lessons[b // 4], b % 4) for b in best) == [("art", 1), ("maths", 0), ("music", 2)]
    assert best_cost == min(fold(weights, c) for _, c in ranked)
    # Without optional slots, three lessons cannot fill four slots exactly.
    assert list(xcover.iter_top(blocks, weights)) == []


@pytest.mark.parametrize("name", ["iter_top", "iter_top_sc"])
def test_bad_secondary_in_the_streams(name):
    blocks = [[0, 1], [0], [1]]
    sc = dict(edge_counts=[0, 0, 0], edge_total=1, labels=[0, 0, 0], vertex_total=2)
    call = functools.partial(getattr(xcover, name), blocks, [1.0] * 3,
                             **(sc if name == "iter_top_sc" else {}))
    with pytest.raises(TypeError, match="argument 'secondary'"):
        call(secondary=5)
    with pytest.raises(OverflowError):
        call(secondary=[-1])
    # A block of secondary elements only is never chosen, even when included.
    assert list(call(secondary=[0, 1], include=[1])) == []
    assert [c for _, c in call(secondary=[0, 1])] == [[]]


def small_block_count_stream():
    return xcover.iter_top_sc(*sbm_like(6, 1))


def langford7_stream(max_iter=None):
    blocks = langford_blocks(7)  # 52 covers
    return xcover.iter_top(blocks, tied_weights(blocks, 2), max_iter=max_iter)


def capped_langford7_stream():
    return langford7_stream(max_iter=300)  # 14 of them


@pytest.mark.concurrency
@thread_settings(2)
@pytest.mark.parametrize("make", [langford7_stream, small_block_count_stream, capped_langford7_stream])
def test_progress_bounds_what_is_left_and_keeps_the_best(threads, make):
    searched = make is small_block_count_stream  # its bound also comes from its search
    with pool_of(threads):
        stream = make()
        seen = [stream.progress]  # before each cover (or run of covers), and at the end
        assert seen[0][1:] == (None, 0)
        assert (seen[0][0] > -math.inf) if searched else (seen[0][0] == -math.inf)
        costs = []
        for cost, _ in itertools.islice(stream, 3):
            costs.append(cost)
            seen.append(stream.progress)
        costs += [cost for cost, _ in stream.take_until(0.5, 10**6)]  # counted as next() counts
        seen.append(stream.progress)
        for cost, _ in stream:
            costs.append(cost)
            seen.append(stream.progress)
    assert costs == sorted(costs)
    assert [p[0] for p in seen] == sorted(p[0] for p in seen)  # never goes back
    for bound, best, count in seen:
        assert best == (costs[0] if count else None)
        if count:
            # At least the last cost taken (exactly it without a search's bound) ...
            assert bound >= costs[count - 1] if searched or bound == math.inf else bound == costs[count - 1]
        # ... and at most every cost still to come.
        assert all(bound <= c for c in costs[count:])
    # A stream ended by its step cap may have covers left: its bound stays the last cost.
    assert seen[-1] == ((costs[-1] if make is capped_langford7_stream else math.inf), costs[0], len(costs))


# Colors (`colors=`) in iter_top: the search of the model, to the bit, with and without helper
# threads; include keeps the stream's pairs that hold the included blocks.
from test_colors import colored_problems  # noqa: E402
from test_secondary import xcc_brute_force  # noqa: E402

TIED_WEIGHTS = [-1.0, 0.0, 0.5, 1.0, 2.0, 1 / 3]


def check_colored_stream(blocks, weights, include, secondary, colors, threads):
    pairs = colored_ordered_model(blocks, weights, secondary, colors)
    with pool_of(threads):
        assert list(xcover.iter_top(blocks, weights, secondary=secondary, colors=colors)) == pairs
        held = list(xcover.iter_top(blocks, weights, include=include, secondary=secondary, colors=colors))
    assert held == [p for p in pairs if set(include) <= set(p[1])]
    return pairs


@thread_settings(3)
@settings(max_examples=200, deadline=None)
@given(problem=colored_problems(), data=st.data())
def test_iter_top_with_colors_is_the_colored_search_of_the_model(threads, problem, data):
    blocks, include, secondary, colors = problem
    weights = data.draw(st.lists(st.sampled_from(TIED_WEIGHTS), min_size=len(blocks), max_size=len(blocks)))
    pairs = check_colored_stream(blocks, weights, include, secondary, colors, threads)
    assert sorted(tuple(sorted(c)) for _, c in pairs) == xcc_brute_force(blocks, secondary, colors)


@thread_settings(2, 4)
@pytest.mark.parametrize("seed", range(4))
def test_larger_colored_streams_are_the_model_search(threads, seed):
    # Up to 30 blocks over 10 elements, two colors: many children keep blocks agreeing with
    # their colors, and helpers expand entries ahead of the stream.
    r = random.Random(seed)
    for _ in range(40):
        blocks = [r.sample(range(10), r.randint(1, 4)) for _ in range(r.randint(12, 30))]
        weights = [float(r.choice([-1, 0, 0.5, 1, 2, 3])) for _ in blocks]
        secondary = r.sample(range(10), r.randint(1, 5))
        colors = [{e: r.randint(0, 1) for e in b if e in secondary and r.random() < 0.7} or None for b in blocks]
        include = r.sample(range(len(blocks)), 1)
        check_colored_stream(blocks, weights, include, secondary, colors, threads)


# Colors in iter_top_sc: every colored cover of small planted graphs (blocks may now share a
# secondary vertex they color alike), scores nondecreasing and each the cover's own, alike on
# any thread setting; include keeps the covers holding the included block.
colored_graphs = st.integers(3, 4).flatmap(
    lambda n: st.tuples(
        st.just(n),
        st.sets(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1)).filter(lambda e: e[0] < e[1])),
        st.lists(st.sampled_from([0.0, 0.5, 1.0, 3.0]), min_size=2 ** n, max_size=2 ** n),
        st.lists(st.integers(0, 1), min_size=2 ** n, max_size=2 ** n),
    )
)


@settings(max_examples=80, deadline=None)
@given(graph=colored_graphs, data=st.data())
def test_iter_top_sc_with_colors_ranks_every_colored_cover(graph, data):
    blocks, weights, inside, edge_total, labels, n = planted(*graph)
    edge_total *= n  # blocks sharing a vertex may count an edge more than once
    secondary = data.draw(st.lists(st.integers(0, n - 1), min_size=1, max_size=2, unique=True))
    colors = []
    for b in blocks:
        drawn = {v: data.draw(st.sampled_from([None, 0, 1])) for v in b if v in secondary}
        colors.append({v: c for v, c in drawn.items() if c is not None} or None)
    include = data.draw(st.lists(st.integers(0, len(blocks) - 1), max_size=1))
    args = (blocks, weights, inside, edge_total, labels, n)

    def make():
        return xcover.iter_top_sc(*args, include=include, secondary=secondary, colors=colors)

    pairs = with_threads(1, make)
    assert with_threads(2, make) == pairs
    expected = [c for c in xcc_brute_force(blocks, secondary, colors) if set(include) <= set(c)]
    assert sorted(tuple(sorted(c)) for _, c in pairs) == expected
    scores = [struct.unpack("<d", bits)[0] for bits, _ in pairs]
    assert scores == sorted(scores)
    for score, (_, cover) in zip(scores, pairs):
        assert math.isclose(score, complete_score(cover, weights, inside, edge_total, labels),
                            rel_tol=1e-9, abs_tol=1e-9)


@pytest.mark.parametrize("seed", range(3))
def test_iter_top_sc_with_colors_stays_in_order_on_five_vertices(seed):
    # 31 blocks, up to three secondary vertices colored two ways: the bound of a child must
    # keep the blocks agreeing with its colors, or it overshoots and the order breaks.
    r = random.Random(seed)
    for _ in range(40):
        edges = {(a, b) for a in range(5) for b in range(a + 1, 5) if r.random() < 0.5}
        blocks, weights, inside, edge_total, labels, n = planted(
            5, edges, [r.choice([0.0, 0.5, 1.0, 3.0]) for _ in range(32)], [r.randint(0, 1) for _ in range(32)])
        secondary = r.sample(range(5), r.randint(1, 3))
        colors = [{v: r.randint(0, 1) for v in b if v in secondary and r.random() < 0.8} or None for b in blocks]
        pairs = list(xcover.iter_top_sc(blocks, weights, inside, 5 * edge_total, labels, n,
                                        secondary=secondary, colors=colors))
        scores = [score for score, _ in pairs]
        assert scores == sorted(scores)
        assert len(pairs) == xcover.count_all(blocks, secondary=secondary, colors=colors)
