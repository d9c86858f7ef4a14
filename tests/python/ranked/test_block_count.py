"""get_topn_sc: the block-count likelihood search."""

import itertools
import math

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import brute_force_covers, pool_of, thread_settings

P = [[0, 1], [0], [1]]
W = [1.0, 0.4, 0.4]


def test_documented_results():
    assert xcover.get_topn_sc(P, W, [1, 0, 0], 3, [7, 7, 8], 2, 2) == [[0], [1, 2]]
    assert xcover.get_topn_sc(P, W, [0, 0, 0], 3, [7, 7, 8], 2, 2) == [[1, 2], [0]]
    assert xcover.get_topn_sc(P, W, [0, 0, 0], 3, [7, 7, 8], 2, 1) == [[1, 2]]
    assert xcover.get_topn_sc([], [], [], 0, [], 0, 2) == [[]]
    assert xcover.get_topn_sc(P, W, [1, 0, 0], 3, [7, 7, 8], 2, 2, max_iter=0) == []
    assert xcover.get_topn_sc(P, W, [1, 0, 0], 3, [7, 7, 8], 2, 2, max_heap=0) == []
    kwargs = dict(
        partitions=P, weights=W, edge_counts=[1, 0, 0], edge_total=3, labels=[7, 7, 8],
        vertex_total=2, n=2,
    )
    assert xcover.get_topn_sc(**kwargs) == [[0], [1, 2]]


def test_short_lists_fail_only_when_read():
    # n = 0 scores only the root, which reads no list.
    assert xcover.get_topn_sc(P, [], [], 3, [], 2, 0) == []
    for weights, edges, labels in [(W, [1, 0, 0], [7]), ([1.0], [1, 0, 0], [7, 7, 8])]:
        with pytest.raises(BaseException) as info:
            xcover.get_topn_sc(P, weights, edges, 3, labels, 2, 2)
        assert type(info.value).__name__ == "PanicException"
    # edge_counts is read only by complete scores, which a large vertex_total prevents.
    with pytest.raises(BaseException):
        xcover.get_topn_sc(P, W, [], 3, [7, 7, 8], 2, 2)
    assert len(xcover.get_topn_sc(P, W, [], 3, [7, 7, 8], 100, 2)) == 2
    # max_heap discards the children before they are scored.
    assert xcover.get_topn_sc(P, W, [], 3, [], 2, 2, max_heap=0) == []


def test_wrapping_arithmetic_and_extreme_totals():
    # Edge counts above edge_total wrap R to near 2**64: an enormous edge term.
    assert xcover.get_topn_sc(P, W, [5, 0, 0], 3, [7, 7, 8], 2, 2) == [[1, 2], [0]]
    # vertex_total 2**64 - 1: T + 1 must not wrap; every score stays partial.
    result = xcover.get_topn_sc(P, W, [], 0, [7, 7, 8], 2**64 - 1, 2)
    assert sorted(map(sorted, result)) == [[0], [1, 2]]
    # vertex_total 0: every score complete, the root included.
    assert len(xcover.get_topn_sc(P, W, [1, 0, 0], 3, [7, 7, 8], 0, 5)) == 2
    # NaN weight: its entries pop after every numeric score.
    assert xcover.get_topn_sc(P, [float("nan"), 0.4, 0.4], [0, 0, 0], 0, [1, 1, 1], 2, 2) == [
        [1, 2],
        [0],
    ]


def ln_gamma_int(k):
    return math.lgamma(k)


def complete_score(cover, weights, edge_counts, edge_total, labels):
    counts = {}
    for b in cover:
        counts[labels[b]] = counts.get(labels[b], 0) + 1
    w = sum(weights[b] for b in cover)
    label = sum(math.lgamma(c + 1) for c in counts.values()) - math.lgamma(len(cover) + 1)
    r = (edge_total - sum(edge_counts[b] for b in cover)) % 2**64
    edge = 0.0 if r < 2 else math.lgamma(2 * r + 1) - r * math.log(2) - math.lgamma(r + 1)
    return w + label + edge


instances = st.lists(
    st.lists(st.integers(0, 5), min_size=1, max_size=3, unique=True), max_size=9
).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        st.lists(st.floats(0, 5), min_size=len(blocks), max_size=len(blocks)),
        st.lists(st.integers(0, 2), min_size=len(blocks), max_size=len(blocks)),
        st.lists(st.integers(0, 2), min_size=len(blocks), max_size=len(blocks)),
        st.integers(0, 4),
    )
)


@settings(max_examples=300, deadline=None)
@given(instances)
def test_covers_come_out_in_nondecreasing_complete_score(instance):
    blocks, weights, edges, labels, extra_edges = instance
    edge_total = sum(edges) + extra_edges  # no cover holds more edges than there are
    vertex_total = len({e for b in blocks for e in b})
    result = xcover.get_topn_sc(blocks, weights, edges, edge_total, labels, vertex_total, 1000)
    assert sorted(tuple(sorted(c)) for c in result) == sorted(brute_force_covers(blocks))
    scores = [complete_score(c, weights, edges, edge_total, labels) for c in result]
    assert all(a <= b + 1e-9 for a, b in zip(scores, scores[1:]))
    for n in (0, 1, 2):
        assert xcover.get_topn_sc(blocks, weights, edges, edge_total, labels, vertex_total, n) == result[:n]


# ---------------------------------------------------------------- pruning by candidates
# Without caps, get_topn_sc keeps only the children that some cover scoring at most the n-th
# score (plus a margin) extends; with a step cap too large to matter, the plain search runs.
# The two must list the same covers in the same order.

NO_CAP = 2**62

tied_instances = st.lists(
    st.lists(st.integers(0, 6), min_size=1, max_size=3, unique=True), max_size=12
).flatmap(
    lambda blocks: st.tuples(
        st.just(blocks),
        st.lists(st.sampled_from([0.0, 0.5, 1.0, 1.5]), min_size=len(blocks), max_size=len(blocks)),
        st.lists(st.integers(0, 2), min_size=len(blocks), max_size=len(blocks)),
        st.lists(st.integers(0, 1), min_size=len(blocks), max_size=len(blocks)),
        st.integers(0, 3),
    )
)


def plain_and_pruned(blocks, weights, edges, edge_total, labels, vertex_total, n):
    args = (blocks, weights, edges, edge_total, labels, vertex_total, n)
    return xcover.get_topn_sc(*args, max_iter=NO_CAP), xcover.get_topn_sc(*args)


@settings(max_examples=300, deadline=None)
@given(tied_instances, st.integers(1, 8))
def test_pruned_search_lists_the_plain_search_with_ties(instance, n):
    blocks, weights, edges, labels, extra_edges = instance
    vertex_total = len({e for b in blocks for e in b})
    plain, pruned = plain_and_pruned(blocks, weights, edges, sum(edges) + extra_edges, labels, vertex_total, n)
    assert pruned == plain


@pytest.mark.parametrize("case", ["more-edges-than-total", "vertex-total-off", "nan-weight", "edges-near-2**64"])
def test_inputs_outside_the_exact_order_run_the_plain_search(case):
    # The order argument needs finite weights, vertex_total equal to the element count and no
    # cover holding more edges than edge_total: otherwise nothing is left out.
    blocks = [[0, 1], [0], [1], [2], [1, 2]]
    weights, edges, labels = [1.0, 0.4, 0.4, 0.2, 0.9], [1, 0, 0, 0, 1], [7, 7, 8, 8, 7]
    edge_total, vertex_total = 2, 3
    if case == "more-edges-than-total":
        edge_total = 1
    elif case == "vertex-total-off":
        vertex_total = 5
    elif case == "nan-weight":
        weights[3] = math.nan
    else:
        # Slopes of every magnitude in the stream's bound (its cutting planes once failed an
        # internal check here); a cover with more edges than edge_total stops the stream.
        top = 2**64 - 1
        blocks = [[top, 2**63], [2**63 - 1], [2**32], [2**32, 2**33, 2**63, top], [2**33]]
        weights, edges, labels = [-0.0, -2.5, -2.5, -2.5, -2.5], [top, 4, 4, 0, 0], [3, 0, 1, 0, 1]
        edge_total, vertex_total = 1, 5
        with pytest.raises(ValueError, match="more than edge_total"):
            list(xcover.iter_top_sc(blocks, weights, edges, edge_total, labels, vertex_total))
    for n in (1, 2, 3):
        plain, pruned = plain_and_pruned(blocks, weights, edges, edge_total, labels, vertex_total, n)
        assert pruned == plain


@pytest.mark.concurrency
@thread_settings(2)
@pytest.mark.parametrize("seed", range(3))
def test_pruned_search_on_graphs_ties_included(threads, seed):
    from test_ranked_streams import sbm_like

    problem = sbm_like(9, seed)
    plain = xcover.get_topn_sc(*problem, 40, max_iter=NO_CAP)
    with pool_of(threads):
        for n in (1, 2, 5, 13, 40):
            assert xcover.get_topn_sc(*problem, n) == plain[:n]
    # Every pairing of six vertices ties (same weight, label and inside edges): the order
    # among them is the plain search's, for every n.
    pairs = [list(p) for p in itertools.combinations(range(6), 2)]
    tie = (pairs, [1.0] * 15, [1] * 15, 20, [3] * 15, 6)
    plain = xcover.get_topn_sc(*tie, 20, max_iter=NO_CAP)
    assert len(plain) == 15
    with pool_of(threads):
        for n in range(1, 17):
            assert xcover.get_topn_sc(*tie, n) == plain[:n]
