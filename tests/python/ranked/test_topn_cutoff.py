"""Without caps, get_topn leaves out the entries that no cover among the first n extends, and
get_top and get_topp those that lead to no cover; they must list the very covers, in the very
order, of the search without that cutoff: the model in conftest, and the same call with a step
cap too large to matter (which runs the plain search)."""

import itertools
import math
import random

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import xcover
from conftest import ordered_search_model, pool_of

NO_CAP = 2**62  # a step cap never reached: the plain search, as a second reference


@pytest.fixture(params=[1, 2, 4], ids=["one-thread", "two-threads", "four-threads"])
def threads(request):
    before = xcover.get_threads()
    xcover.set_threads(request.param)
    yield request.param
    xcover.set_threads(before)


# Few distinct weights, so that covers tie; zero of both signs, negative and NaN weights;
# blocks that list an element twice; the same block more than once.
WEIGHTS = [0.0, -0.0, 1.0, 1.0, 2.0, 0.5, 3.0, -1.0, math.nan]

problems = st.lists(
    st.lists(st.integers(0, 6), min_size=1, max_size=4), min_size=1, max_size=8
).flatmap(
    lambda blocks: st.tuples(
        st.lists(st.sampled_from(range(len(blocks))), max_size=3).map(
            lambda again: blocks + [list(blocks[i]) for i in again]
        ),
        st.lists(st.sampled_from(WEIGHTS), min_size=len(blocks) + 3, max_size=len(blocks) + 3),
    ).map(lambda t: (t[0], t[1][: len(t[0])]))
)


# The thread setting holds for every example: it is the point of the fixture.
@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(problems, st.integers(1, 12))
def test_ranked_queries_are_the_model(threads, problem, n):
    blocks, weights = problem
    model = ordered_search_model(blocks, weights)
    assert xcover.get_topn(blocks, weights, n) == model[:n]
    assert xcover.get_topn(blocks, weights, n, max_iter=NO_CAP) == model[:n]
    assert xcover.get_top(blocks, weights) == model
    for alpha in (0.0, 0.5):
        assert xcover.get_topp(blocks, weights, alpha) == xcover.get_topp(blocks, weights, alpha, max_iter=NO_CAP)


def random_problem(rng, elements, count, weights):
    """Blocks of 1..4 distinct elements, each element in at least one block, with weights
    drawn from `weights`."""
    blocks = [[e] for e in range(elements)]
    while len(blocks) < count:
        blocks.append(sorted(rng.sample(range(elements), rng.randint(2, 4))))
    rng.shuffle(blocks)
    return blocks, [float(rng.choice(weights)) for _ in blocks]


@pytest.mark.parametrize("seed", range(12))
def test_topn_on_larger_problems_with_ties(threads, seed):
    rng = random.Random(seed)
    integer = seed % 2 == 0
    blocks, weights = random_problem(
        rng, 12, 45, range(0, 4) if integer else [0.1, 0.2, 0.3, 0.7, 1.1, 0.0]
    )
    plain = xcover.get_topn(blocks, weights, 400, max_iter=NO_CAP)
    for n in (1, 2, 3, 5, 8, 20, 60, 400):
        assert xcover.get_topn(blocks, weights, n) == plain[:n]
    if len(plain) < 400:
        assert xcover.get_top(blocks, weights) == plain
        assert xcover.get_topp(blocks, weights, 0.0) == plain


def test_many_equal_costs_around_the_nth(threads):
    # Every pairing of 8 elements costs 4.0 (105 of them) except those with the cheap pair
    # (0, 1), which cost 3.5 (15 of them): the first 15 tie, the next 105 tie.
    pairs = [list(p) for p in itertools.combinations(range(8), 2)]
    weights = [0.5 if p == [0, 1] else 1.0 for p in pairs]
    model = ordered_search_model(pairs, weights)
    assert len(model) == 105
    assert sorted(sum(weights[b] for b in c) for c in model)[14:16] == [3.5, 4.0]
    for n in list(range(1, 20)) + [50, 104, 105, 200]:
        assert xcover.get_topn(pairs, weights, n) == model[:n]


def test_fewer_covers_than_n_lists_them_all(threads):
    blocks, weights = random_problem(random.Random(7), 8, 20, [1.0, 2.0, 0.25])
    assert xcover.get_topn(blocks, weights, 10**6) == xcover.get_top(blocks, weights)


@pytest.mark.parametrize("seed", range(8))
def test_iter_top_in_rounds_is_the_plain_stream(threads, seed):
    # Without caps iter_top runs rounds of searches with a cutoff (n = 1, 4, 16, ...); its
    # pairs must be those of the plain stream (a step cap never reached), bit for bit.
    rng = random.Random(100 + seed)
    blocks, weights = random_problem(rng, 10, 36, range(0, 3) if seed % 2 else [0.5, 1.25, 0.0, 2.0])
    plain = list(xcover.iter_top(blocks, weights, max_iter=NO_CAP))
    rounds = list(xcover.iter_top(blocks, weights))
    assert [(c.hex(), b) for c, b in rounds] == [(c.hex(), b) for c, b in plain]


def test_iter_top_taken_a_few_at_a_time_across_rounds(threads):
    blocks, weights = random_problem(random.Random(3), 11, 40, [1.0, 2.0, 3.0])
    plain = list(xcover.iter_top(blocks, weights, max_iter=NO_CAP))
    assert len(plain) > 100  # several rounds
    stream = xcover.iter_top(blocks, weights)
    taken = []
    for size in (1, 2, 3, 10, 50, 1000):  # across the rounds' ends
        taken += itertools.islice(stream, size)
    assert taken == plain
    assert xcover.get_topn(blocks, weights, len(plain)) == [c for _, c in plain]


def weighted_tiling(rng, rows, cols):
    """Dominoes and trominoes on a board, random costs: trees deep and bushy enough that the
    branch and bound is cut into pieces for the threads."""
    cell = lambda r, c: r * cols + c  # noqa: E731
    shapes = [[(0, 0), (0, 1)], [(0, 0), (1, 0)], [(0, 0), (0, 1), (0, 2)], [(0, 0), (1, 0), (2, 0)],
              [(0, 0), (0, 1), (1, 0)], [(0, 0), (1, 0), (1, 1)]]
    blocks = [[cell(r + dr, c + dc) for dr, dc in shape]
              for shape in shapes for r in range(rows) for c in range(cols)
              if all(r + dr < rows and c + dc < cols for dr, dc in shape)]
    return blocks, [float(rng.randint(1, 6)) for _ in blocks]


@pytest.mark.concurrency
@pytest.mark.parametrize("helpers", [2, 4])
@pytest.mark.parametrize("seed", range(3))
def test_branch_and_bound_in_pieces_on_helper_threads(helpers, seed):
    # The threads share the cutoff and search pieces of the tree in any order: the candidates
    # may differ within rounding, the covers listed never.
    blocks, weights = weighted_tiling(random.Random(seed), 4, 5)
    plain = xcover.get_topn(blocks, weights, 60, max_iter=NO_CAP)
    with pool_of(helpers):
        for n in (1, 7, 60):
            assert xcover.get_topn(blocks, weights, n) == plain[:n]
        assert [c for _, c in itertools.islice(xcover.iter_top(blocks, weights), 60)] == plain
