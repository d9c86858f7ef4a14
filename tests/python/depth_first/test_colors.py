"""Colors on secondary elements (`colors=` on count_all, iter_all, split and estimate_all)
against brute-force models, with and without helper threads: the covers are exactly those in
which every primary element is covered once and every secondary one at most once or only by
blocks agreeing on its color, in the order of a model of the search; split's parts concatenate
to the search; the estimates are those of the same tree; no colors changes nothing; bad
colors raise clear errors."""

import itertools
import random

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import xcover
from conftest import colored_search_model
from test_secondary import xcc_brute_force

THREADS = [1, 2]
# The thread setting holds for every example of a test: nothing to reset between them.
THREADED = {"deadline": None, "suppress_health_check": [HealthCheck.function_scoped_fixture]}


@pytest.fixture(params=THREADS, ids=lambda n: f"threads{n}")
def threads(request):
    xcover.set_threads(request.param)
    yield request.param
    xcover.set_threads(1)


@st.composite
def colored_problems(draw, max_blocks=9):
    """Blocks over elements 0..6, some secondary, many secondary entries colored from a small
    palette (so blocks often agree), some include."""
    blocks = draw(st.lists(st.lists(st.integers(0, 6), min_size=1, max_size=4), max_size=max_blocks))
    secondary = draw(st.lists(st.integers(0, 6), max_size=4))
    colors = []
    for block in blocks:
        entry = {e: draw(st.integers(0, 2)) for e in block if e in secondary and draw(st.booleans())}
        colors.append(entry if entry or draw(st.booleans()) else None)
    include = draw(st.lists(st.integers(0, len(blocks) - 1), max_size=2)) if blocks else []
    return blocks, include, secondary, colors


def kwargs(secondary, colors):
    return {"secondary": secondary, "colors": colors}


@settings(max_examples=300, **THREADED)
@given(colored_problems())
def test_covers_are_the_colored_covers_in_search_order(threads, problem):
    blocks, _, secondary, colors = problem
    covers = list(xcover.iter_all(blocks, **kwargs(secondary, colors)))
    ordered, _ = colored_search_model(blocks, (), secondary, colors)
    assert covers == ordered, problem
    as_sets = sorted(tuple(sorted(c)) for c in covers)
    assert as_sets == xcc_brute_force(blocks, secondary, colors), problem
    assert xcover.count_all(blocks, **kwargs(secondary, colors)) == len(covers)


@settings(max_examples=200, **THREADED)
@given(colored_problems(), st.sampled_from([1, 2, 3, 5, 64]))
def test_include_and_split_keep_the_colored_search(threads, problem, parts):
    blocks, include, secondary, colors = problem
    every = colored_search_model(blocks, (), secondary, colors)[0]
    expected = [c for c in every if set(include) <= set(c)]
    assert colored_search_model(blocks, include, secondary, colors)[0] == expected
    assert list(xcover.iter_all(blocks, include, **kwargs(secondary, colors))) == expected
    assert xcover.count_all(blocks, include, **kwargs(secondary, colors)) == len(expected)
    prefixes = xcover.split(blocks, parts, include, **kwargs(secondary, colors))
    pieces = [c for p in prefixes for c in xcover.iter_all(blocks, p, **kwargs(secondary, colors))]
    assert pieces == expected, (problem, prefixes)


@settings(max_examples=150, deadline=None)
@given(colored_problems(), st.integers(0, 2**64 - 1))
def test_a_seeded_colored_search_finds_the_same_covers(problem, seed):
    blocks, include, secondary, colors = problem
    plain = list(xcover.iter_all(blocks, include, **kwargs(secondary, colors)))
    seeded = list(xcover.iter_all(blocks, include, seed=seed, **kwargs(secondary, colors)))
    assert sorted(plain) == sorted(seeded)


def test_estimates_are_those_of_the_colored_tree():
    rng = random.Random(3)
    far = 0
    for k in range(200):
        blocks, include, secondary, colors = random_colored_problem(rng)
        covers, positions = colored_search_model(blocks, include, secondary, colors)
        e = xcover.estimate_all(blocks, include, samples=2000, seed=k, **kwargs(secondary, colors))
        for estimate, error, truth in ((e.covers, e.covers_stderr, len(covers)), (e.nodes, e.nodes_stderr, positions)):
            if error == 0:
                # All probes agreed: on trees this small, the value is exact.
                assert estimate == truth, (blocks, include, secondary, colors, e)
            elif abs(estimate - truth) > 4 * error:
                far += 1
    assert far <= 5


def random_colored_problem(rng):
    elements = rng.randint(1, 7)
    blocks = [rng.sample(range(elements), rng.randint(1, min(4, elements))) for _ in range(rng.randint(0, 10))]
    secondary = rng.sample(range(elements), rng.randint(0, min(3, elements)))
    colors = [{e: rng.randint(0, 2) for e in b if e in secondary and rng.random() < 0.7} for b in blocks]
    include = [rng.randrange(len(blocks))] if blocks and rng.random() < 0.2 else []
    return blocks, include, secondary, colors


@settings(max_examples=200, deadline=None)
@given(colored_problems())
def test_no_colors_and_distinct_colors_change_nothing(problem):
    blocks, include, secondary, _ = problem
    plain = list(xcover.iter_all(blocks, include, secondary))
    assert list(xcover.iter_all(blocks, include, secondary, colors=None)) == plain
    assert list(xcover.iter_all(blocks, include, secondary, colors=[None] * len(blocks))) == plain
    assert list(xcover.iter_all(blocks, include, secondary, colors=[{}] * len(blocks))) == plain
    # A color no other block gives is as good as none: nothing can share it.
    numbers = itertools.count()
    distinct = [{e: next(numbers) for e in b if e in secondary} for b in blocks]
    assert list(xcover.iter_all(blocks, include, secondary, colors=distinct)) == plain
    assert xcover.split(blocks, 3, include, secondary, distinct) == xcover.split(blocks, 3, include, secondary)


def test_word_square_by_colors():
    # 2x2 word squares over a tiny word list: the rows are chosen words, the columns must be
    # words too; each cell is a secondary element colored by its letter.
    words = ["ab", "ba", "aa", "bb", "ca"]
    blocks, colors = [], []
    for line in range(4):  # rows 0, 1 and columns 0, 1, each a primary element
        for w in words:
            cells = [(line, i) if line < 2 else (i, line - 2) for i in range(2)]
            blocks.append([100 + line] + [r * 2 + c for r, c in cells])
            colors.append({r * 2 + c: ord(w[k]) for k, (r, c) in enumerate(cells)})
    squares = sum(1 for a in words for b in words if a[0] + b[0] in words and a[1] + b[1] in words)
    assert xcover.count_all(blocks, secondary=range(4), colors=colors) == squares
    assert len(list(xcover.iter_all(blocks, secondary=range(4), colors=colors))) == squares


@pytest.mark.parametrize("name", ["count_all", "iter_all", "split", "estimate_all", "iter_top", "iter_top_sc"])
@pytest.mark.parametrize(
    "colors, error, message",
    [
        ([{0: 1}, None], ValueError, r"^colors: block 0 gives a color to element 0, a primary element"),
        ([None, {0: 1}], ValueError, r"^colors: block 1 gives a color to element 0, which it does not hold"),
        ([None], ValueError, r"^colors has 1 entries for 2 partitions: give one per block$"),
        ([None, None, None], ValueError, r"^colors has 3 entries for 2 partitions"),
        ([[2, 1], None], TypeError, r"^argument 'colors': 'list' object is not an instance of 'Mapping'$"),
        ([{2: -1}, None], OverflowError, r"negative"),
        ([{2: "red"}, None], TypeError, r"^argument 'colors': 'str' object cannot be interpreted"),
        (5, TypeError, r"^argument 'colors': 'int' object is not an instance of 'Sequence'$"),
    ],
)
def test_bad_colors(name, colors, error, message):
    f = getattr(xcover, name)
    blocks = [[0, 2], [1, 2]]
    args = {"split": (blocks, 2), "iter_top": (blocks, [1.0, 2.0]),
            "iter_top_sc": (blocks, [1.0, 2.0], [0, 0], 0, [0, 0], 3)}.get(name, (blocks,))
    with pytest.raises(error, match=message):
        f(*args, secondary=[2], colors=colors)


def test_the_five_functions_take_no_colors():
    for name in ["get_all", "get_top", "get_topn", "get_topp", "get_topn_sc"]:
        with pytest.raises(TypeError, match="unexpected keyword argument 'colors'"):
            getattr(xcover, name)([[0]], colors=[None])
