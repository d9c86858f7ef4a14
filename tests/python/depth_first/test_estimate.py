"""estimate_all against the exact size of the search tree: a model of the tree DepthFirstSearch
walks (its column order and choice, include and secondary) gives the true numbers of covers and
positions, and the estimates over many small problems fall within a few standard errors of them;
seeds reproduce; bad arguments."""

import math
import random
from collections import Counter

import pytest

import xcover
from langford import langford_blocks


def tree_size(blocks, include=(), secondary=()):
    """(covers, positions) of the search tree: columns by (secondary, count, value), branching
    on the leftmost primary column of fewest live blocks, blocks meeting an included block
    without being one never tried."""
    sets = [set(b) for b in blocks]
    counts = Counter(e for s in sets for e in s)
    order = sorted(counts, key=lambda e: (e in set(secondary), counts[e], e))
    primary = [e for e in order if e not in set(secondary)]
    included = set(include)
    owner = {}
    for b in included:
        if not sets[b] or not sets[b] - set(secondary):
            return 0, 1
        for e in sets[b]:
            if owner.setdefault(e, b) != b:
                return 0, 1
    excluded = {b for b, s in enumerate(sets) if b not in included and any(e in owner for e in s)}

    def walk(covered):
        open_columns = [e for e in primary if e not in covered]
        if not open_columns:
            return 1, 1
        live = [b for b, s in enumerate(sets) if s and not s & covered]
        best, best_size = None, None
        for e in open_columns:
            size = sum(1 for b in live if e in sets[b])
            if best_size is None or size < best_size:
                best, best_size = e, size
        candidates = [b for b in live if best in sets[b] and b not in excluded]
        covers, positions = 0, 1
        for b in candidates:
            c, p = walk(covered | sets[b])
            covers += c
            positions += p
        return covers, positions

    return walk(frozenset())


def random_problem(rng):
    elements = rng.randint(1, 7)
    blocks = [
        rng.sample(range(elements), rng.randint(1, min(3, elements)))
        for _ in range(rng.randint(0, 12))
    ]
    secondary = rng.sample(range(elements), rng.randint(0, min(2, elements))) if rng.random() < 0.4 else []
    include = [rng.randrange(len(blocks))] if blocks and rng.random() < 0.2 else []
    return blocks, include, secondary


def test_the_model_counts_what_count_all_counts():
    rng = random.Random(1)
    for _ in range(300):
        blocks, include, secondary = random_problem(rng)
        assert tree_size(blocks, include, secondary)[0] == xcover.count_all(blocks, include, secondary)


def test_estimates_fall_within_a_few_standard_errors():
    rng = random.Random(2)
    far = 0
    for k in range(300):
        blocks, include, secondary = random_problem(rng)
        covers, positions = tree_size(blocks, include, secondary)
        e = xcover.estimate_all(blocks, include, secondary, samples=2000, seed=k)
        for estimate, error, truth in ((e.covers, e.covers_stderr, covers),
                                       (e.nodes, e.nodes_stderr, positions)):
            if error == 0:
                # Every probe gave the same value: on these small trees that means a tree
                # whose probes all agree, so the value is exact.
                assert estimate == truth, (blocks, include, secondary, e, covers, positions)
            elif abs(estimate - truth) > 4 * error:
                far += 1
    # Beyond 4 standard errors: rare for a mean of 2000 probes.
    assert far <= 6


def test_a_real_instance_and_its_unbiasedness_over_seeds():
    blocks = langford_blocks(7)[0]
    covers, positions = tree_size(blocks)
    assert covers == xcover.count_all(blocks)
    runs = [xcover.estimate_all(blocks, samples=500, seed=s) for s in range(40)]
    mean_covers = sum(r.covers for r in runs) / len(runs)
    mean_nodes = sum(r.nodes for r in runs) / len(runs)
    spread_covers = (sum(r.covers_stderr ** 2 for r in runs) ** 0.5) / len(runs)
    spread_nodes = (sum(r.nodes_stderr ** 2 for r in runs) ** 0.5) / len(runs)
    assert abs(mean_covers - covers) <= 4 * spread_covers
    assert abs(mean_nodes - positions) <= 4 * spread_nodes


def test_seeds_defaults_and_shape():
    blocks = langford_blocks(6)[0]
    a = xcover.estimate_all(blocks, seed=5)
    assert a == xcover.estimate_all(blocks, (), (), 1000, 5)
    assert (a.covers, a.nodes, a.covers_stderr, a.nodes_stderr) == tuple(a)
    assert type(a).__name__ == "TreeEstimate"
    assert all(isinstance(x, float) for x in a)
    assert xcover.estimate_all([], seed=1) == (1.0, 1.0, 0.0, 0.0)  # the empty cover
    assert xcover.estimate_all([[0], [0]], include=[0, 1], seed=1) == (0.0, 1.0, 0.0, 0.0)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"samples": 0}, ValueError, "samples must be at least 1"),
        ({"samples": -1}, OverflowError, "negative"),
        ({"samples": None}, TypeError, "argument 'samples'"),
        ({"samples": True}, TypeError, "argument 'samples': expected an int, not 'bool'"),
        ({"samples": 2 ** 64}, OverflowError, "too big"),
        ({"seed": "x"}, TypeError, "argument 'seed'"),
        ({"include": [9]}, ValueError, "include: block index 9 is out of range"),
        ({"secondary": [-1]}, OverflowError, "negative"),
    ],
)
def test_bad_arguments(kwargs, error, message):
    with pytest.raises(error, match=message):
        xcover.estimate_all([[0], [1]], **kwargs)


@pytest.mark.parametrize("groups, samples", [(309, 1), (309, 50), (400, 3)])
def test_a_tree_beyond_the_range_of_a_float_is_estimated_as_infinite(groups, samples):
    # `groups` elements with 10 singletons each: 10**groups covers, every probe finds one.
    blocks = [[e] for e in range(groups) for _ in range(10)]
    e = xcover.estimate_all(blocks, samples=samples, seed=3)
    assert e == (math.inf, math.inf, math.inf, math.inf)
    budget = 10 ** 6
    assert e.nodes > budget and e.nodes + 3 * e.nodes_stderr > budget


def test_one_probe_has_an_unknown_spread():
    blocks = langford_blocks(5)[0]
    one = xcover.estimate_all(blocks, samples=1, seed=2)
    assert one.covers_stderr == one.nodes_stderr == math.inf
    assert one.nodes == xcover.estimate_all(blocks, samples=1, seed=2).nodes >= 1
    two = xcover.estimate_all(blocks, samples=2, seed=2)
    assert math.isfinite(two.covers_stderr) and math.isfinite(two.nodes_stderr)
