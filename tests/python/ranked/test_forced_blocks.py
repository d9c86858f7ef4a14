"""Problems made mostly of blocks that no other block meets (singletons, disjoint blocks): the
ranked queries keep the model's covers, order and weight sums to the bit, whether the search
goes deep alone on the frontier or beside other pending entries, with and without caps, and
whether the branch and bound of the cutoff takes such blocks before branching."""

import math
import random
import struct

import pytest

import xcover
from conftest import ordered_search_model, run_python
from test_topn_cutoff import NO_CAP, threads  # noqa: F401  (the fixture)

# Shares that round (thirds, tenths), ties, zeros of both signs, negative weights.
WEIGHTS = [0.1, 1 / 3, 0.7, 1.0, 1.0, 2.0, 0.0, -0.0, -0.5, 0.3]


def bits(x):
    return struct.pack("<d", x)


def weight_sum(cover, weights):
    total = -0.0
    for b in cover:
        total += weights[b]
    return total


def mostly_apart(rng, elements):
    """Singletons of most elements, a few disjoint wider blocks, and a few blocks across
    them (which make other covers, and entries pending beside a deep one); shuffled."""
    blocks = [[e] for e in range(elements) if rng.random() < 0.8]
    start = 0
    while start < elements:
        width = rng.randint(1, 4)
        if rng.random() < 0.5:
            blocks.append(list(range(start, min(start + width, elements))))
        start += width
    for _ in range(rng.randint(0, 3)):
        blocks.append(sorted(rng.sample(range(elements), min(elements, rng.randint(2, 3)))))
    covered = {e for b in blocks for e in b}
    blocks += [[e] for e in range(elements) if e not in covered]
    rng.shuffle(blocks)
    weights = [rng.choice(WEIGHTS) if rng.random() < 0.7 else rng.uniform(0.0, 3.0) for _ in blocks]
    return blocks, weights


@pytest.mark.parametrize("seed", range(40))
def test_ranked_queries_on_blocks_mostly_apart_are_the_model(threads, seed):
    rng = random.Random(seed)
    blocks, weights = mostly_apart(rng, rng.randint(1, 14) if seed % 4 else rng.randint(30, 60))
    model = ordered_search_model(blocks, weights)
    n = rng.randint(1, 4)
    assert xcover.get_topn(blocks, weights, n) == model[:n]
    assert xcover.get_topn(blocks, weights, n, max_iter=NO_CAP) == model[:n]
    assert xcover.get_top(blocks, weights) == model
    for alpha in (0.0, 0.3):
        # Its bound may stop it early: a prefix of the model, the same with or without cutoff.
        covers = xcover.get_topp(blocks, weights, alpha)
        assert covers == model[: len(covers)]
        assert covers == xcover.get_topp(blocks, weights, alpha, max_iter=NO_CAP)
    pairs = list(xcover.iter_top(blocks, weights))
    assert [cover for _, cover in pairs] == model
    assert [bits(cost) for cost, _ in pairs] == [bits(weight_sum(c, weights)) for c in model]


@pytest.mark.parametrize("seed", range(20))
def test_caps_on_blocks_mostly_apart_stop_where_the_model_stops(threads, seed):
    rng = random.Random(1000 + seed)
    blocks, weights = mostly_apart(rng, rng.randint(1, 25))
    for max_iter, max_heap in [(rng.randint(0, 30), None), (None, rng.randint(1, 4)), (40, 2)]:
        model = ordered_search_model(blocks, weights, max_iter=max_iter, max_heap=max_heap)
        caps = dict(max_iter=max_iter, max_heap=max_heap)
        assert xcover.get_top(blocks, weights, **caps) == model
        assert xcover.get_topn(blocks, weights, 2, **caps) == model[:2]


def test_blocks_that_cannot_all_fit_give_no_cover(threads):
    # Elements 0 and 2 each have one block, and those blocks share element 1.
    blocks, weights = [[0, 1], [1, 2], [3]], [1.0, 1.0, 0.5]
    assert ordered_search_model(blocks, weights) == []
    assert xcover.get_top(blocks, weights) == []
    assert xcover.get_topn(blocks, weights, 3) == []
    assert xcover.get_topp(blocks, weights, 0.1) == []


def test_a_million_singletons_rank_without_a_quadratic_scan():
    # Every level used to sum over every uncovered element and the branch and bound scanned
    # every column: minutes at this size.
    result = run_python(
        """
        import xcover
        n = 10**6
        blocks = [[i] for i in range(n)]
        weights = [1.0] * n
        one = [list(range(n))]
        assert xcover.get_topn(blocks, weights, 1) == one
        assert xcover.get_topn(blocks, weights, 1, max_iter=2 * n) == one
        assert xcover.get_top(blocks, weights) == one
        assert xcover.get_topp(blocks, weights, 0.5) == one
        assert [c for _, c in xcover.iter_top(blocks, weights)] == one
        print("ok")
        """,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["ok"]
