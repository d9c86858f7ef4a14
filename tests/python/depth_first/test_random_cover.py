"""Random covers: iter_all(seed=) finds the same covers as the plain search, each once, in an
order that a model of the seeded search reproduces exactly (so it is the same everywhere,
helper threads or not); seeds spread the first cover; bad seeds; and the uniform sampler of
examples/random_cover.py, whose rank -> cover map is get_all's list itself."""

import random
from collections import Counter

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import brute_force_covers, depth_first_model, pool_of, thread_settings
from langford import langford_blocks
from random_cover import cover_at_rank, lopsided_blocks, main, seeded_first_cover, uniform_cover
from test_secondary import wide_problems

VALUES = [0, 1, 2, 3, 4, 5, 2**64 - 1]
blocks_strategy = st.lists(st.lists(st.sampled_from(VALUES), max_size=4), max_size=9)
seeds = st.integers(0, 2**64 - 1)


@st.composite
def problems(draw):
    """Blocks with duplicates, empty and overlapping blocks; an include and secondary values."""
    blocks = draw(blocks_strategy)
    include = draw(st.lists(st.integers(0, len(blocks) - 1), max_size=2)) if blocks else []
    secondary = draw(st.lists(st.sampled_from(VALUES + [6]), max_size=3))
    return blocks, include, secondary


def as_set(covers):
    return sorted(tuple(sorted(c)) for c in covers)


# ------------------------------------------------------------- the same covers, another order


@settings(max_examples=300, deadline=None)
@given(problems(), seeds)
def test_seeded_iteration_finds_the_plain_covers_each_once(problem, seed):
    blocks, include, secondary = problem
    plain = list(xcover.iter_all(blocks, include, secondary))
    seeded = list(xcover.iter_all(blocks, include, secondary, seed=seed))
    assert len(seeded) == len(set(map(tuple, seeded))) == len(plain)
    assert as_set(seeded) == as_set(plain)


@thread_settings(3)
@settings(max_examples=300, deadline=None)
@given(problem=problems() | wide_problems(), seed=seeds)
def test_seeded_order_is_the_models(threads, problem, seed):
    blocks, include, secondary = problem
    with pool_of(threads):
        seeded = list(xcover.iter_all(blocks, include, secondary, seed=seed))
    assert seeded == depth_first_model(blocks, include, secondary, seed)


@settings(max_examples=200, deadline=None)
@given(blocks_strategy)
def test_the_model_without_a_seed_is_get_all(blocks):
    # The model is checked against the plain search and the brute force too.
    assert depth_first_model(blocks) == xcover.get_all(blocks)
    assert as_set(depth_first_model(blocks, seed=3)) == sorted(brute_force_covers(blocks))


def test_seeded_order_of_real_instances():
    blocks, _ = langford_blocks(8)
    for seed in (0, 1, 2**64 - 1):
        seeded = list(xcover.iter_all(blocks, seed=seed))
        assert seeded == depth_first_model(blocks, seed=seed)
        assert seeded == list(xcover.iter_all(blocks, seed=seed))  # same seed, same order
        assert seeded != xcover.get_all(blocks)
        assert as_set(seeded) == as_set(xcover.get_all(blocks))


def test_seeded_iteration_across_batches_and_include_keeps_its_order():
    blocks, _ = langford_blocks(11)  # 35584 covers, many batches
    plain = xcover.get_all(blocks)
    seeded = list(xcover.iter_all(blocks, seed=99))
    assert len(set(map(tuple, seeded))) == len(seeded)
    assert as_set(seeded) == as_set(plain)
    assert seeded != plain
    # The order of a position's blocks does not depend on those include rules out.
    include = [seeded[-1][0]]
    kept = [c for c in seeded if set(include) <= set(c)]
    assert len(kept) > 256
    assert list(xcover.iter_all(blocks, include=include, seed=99)) == kept


def test_seeds_spread_the_first_cover():
    blocks, _ = langford_blocks(8)  # 300 covers
    firsts = {tuple(next(xcover.iter_all(blocks, seed=s))) for s in range(50)}
    assert len(firsts) > 10
    assert all(len(f) == 8 for f in firsts)


def test_no_cover_and_the_empty_cover():
    assert list(xcover.iter_all([[0, 1], [0, 2]], seed=1)) == []
    assert list(xcover.iter_all([], seed=1)) == [[]]
    assert list(xcover.iter_all([[0], [0]], include=[0, 1], seed=1)) == []


def test_seed_none_is_the_plain_order():
    blocks, _ = langford_blocks(7)
    assert list(xcover.iter_all(blocks, seed=None)) == xcover.get_all(blocks)


@pytest.mark.parametrize(
    "seed, error, message",
    [
        (-1, OverflowError, "negative"),
        (2**64, OverflowError, "too big"),
        ("1", TypeError, "argument 'seed'"),
        (1.0, TypeError, "argument 'seed'"),
    ],
)
def test_bad_seeds(seed, error, message):
    with pytest.raises(error, match=message):
        xcover.iter_all([[0], [1]], seed=seed)


def test_seed_takes_an_index_and_a_keyword_or_position():
    class Index:
        def __index__(self):
            return 5

    blocks = [[0], [1], [0, 1]]
    assert list(xcover.iter_all(blocks, (), (), Index())) == list(xcover.iter_all(blocks, seed=5))


# ------------------------------------------------------------------------ the uniform recipe


@settings(max_examples=150, deadline=None)
@given(problems(), st.sampled_from([2, 3, 16]), st.sampled_from([1, 2, 256]))
def test_every_rank_maps_to_the_cover_of_that_rank(problem, parts, walk_below):
    blocks, include, secondary = problem
    every = list(xcover.iter_all(blocks, include, secondary))
    ranked = [
        cover_at_rank(blocks, r, include=include, secondary=secondary, parts=parts, walk_below=walk_below)
        for r in range(len(every))
    ]
    assert ranked == every
    with pytest.raises(IndexError):
        cover_at_rank(blocks, len(every), include=include, secondary=secondary)


def test_ranks_of_a_real_instance_walk_the_covers():
    blocks, _ = langford_blocks(8)
    every = xcover.get_all(blocks)
    ranks = range(0, len(every), 7)
    assert [cover_at_rank(blocks, r, parts=3, walk_below=4) for r in ranks] == [every[r] for r in ranks]


def test_uniform_samples_are_covers_spread_over_all_of_them():
    blocks = lopsided_blocks(6)  # 1 + 13 covers
    valid = set(as_set(xcover.get_all(blocks)))
    rng = random.Random(7)
    draws = Counter(tuple(sorted(uniform_cover(blocks, rng, parts=2, walk_below=1))) for _ in range(1400))
    assert set(draws) <= valid
    assert set(draws) == valid
    # Each of the 14 covers expects 100 draws; a chi-square of 13 degrees of freedom above 40
    # has odds below 1e-4.
    assert sum((n - 100) ** 2 / 100 for n in draws.values()) < 40
    assert uniform_cover([[0, 1], [0, 2]], rng) is None


def test_seeded_first_cover_is_not_uniform():
    # The whole block is one cover out of 14 but half the tries of the branch on element 0.
    blocks = lopsided_blocks(6)
    whole = sum(seeded_first_cover(blocks, s) == [0] for s in range(400))
    assert 140 < whole < 260
    assert seeded_first_cover([[0, 1], [0, 2]], 1) is None


def test_example_runs(capsys):
    assert main(["200"]) == 0
    assert "uniform sample" in capsys.readouterr().out


def test_bad_recipe_arguments():
    with pytest.raises(ValueError):
        cover_at_rank([[0]], 0, parts=1)
    with pytest.raises(IndexError):
        cover_at_rank([[0]], -1)
