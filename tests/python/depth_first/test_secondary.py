"""Secondary elements (`secondary=` on count_all, iter_all and split) against brute-force
models: every cover covers each primary element once and each secondary at most once, none is
missing, the covers are those of the slack-singleton model, `include` and split still hold, and
the option changes nothing when empty; the same covers in the same order with helper threads."""

import itertools

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import pool_of, thread_settings

VALUES = [0, 1, 2, 3, 4, 5, 2**64 - 1]
FUNCTIONS = ["count_all", "iter_all", "split"]


def xcc_brute_force(blocks, secondary, colors):
    """Every set of blocks holding a primary element that covers each primary element once and
    each secondary element at most once or only by blocks giving it one same color (`colors`:
    per block None or a dict of element to color): sorted tuples of block indices."""
    secondary = set(secondary)
    primary = set().union(*map(set, blocks)) - secondary if blocks else set()
    usable = [i for i, b in enumerate(blocks) if set(b) - secondary]
    covers = []
    for r in range(len(usable) + 1):
        for combo in itertools.combinations(usable, r):
            holders = {}
            for i in combo:
                for e in set(blocks[i]):
                    holders.setdefault(e, []).append(i)
            if set(holders) & primary != primary:
                continue
            if any(len(holders[e]) > 1 for e in primary):
                continue
            shared = [[(colors[i] or {}).get(e) for i in holders[e]] for e in secondary & set(holders)]
            if all(len(hs) == 1 or (hs[0] is not None and len(set(hs)) == 1) for hs in shared):
                covers.append(combo)
    return sorted(covers)


def dlx2_model(blocks, secondary):
    """Every set of blocks that covers each primary element exactly once and each secondary
    one at most once, using only blocks that hold a primary element (the search never branches
    on a secondary column, so other blocks are never chosen): sorted tuples of indices."""
    return xcc_brute_force(blocks, secondary, [None] * len(blocks))


def slack_model(blocks, secondary):
    """The usual reduction: each secondary element gets a singleton slack block, the problem
    becomes an exact cover, and the slack blocks are dropped from each cover; covers that then
    hold a block without a primary element are left out, as the search never chooses one."""
    present = set().union(*map(set, blocks)) if blocks else set()
    slack = [[e] for e in sorted(set(secondary) & present)]
    extended = blocks + slack
    result = set()
    for cover in xcover.get_all(extended):
        real = tuple(sorted(i for i in cover if i < len(blocks)))
        if all(set(blocks[i]) - set(secondary) for i in real):
            result.add(real)
    return sorted(result)


blocks_strategy = st.lists(st.lists(st.sampled_from(VALUES), max_size=4), max_size=9)
secondary_strategy = st.lists(st.sampled_from(VALUES + [6, 2**40]), max_size=4)


@settings(max_examples=400, deadline=None)
@given(blocks_strategy, secondary_strategy)
def test_covers_are_exactly_the_dlx2_covers(blocks, secondary):
    covers = list(xcover.iter_all(blocks, secondary=secondary))
    primary = set().union(*map(set, blocks)) - set(secondary) if blocks else set()
    for cover in covers:
        seen = [e for i in cover for e in set(blocks[i])]
        assert len(seen) == len(set(seen)), (blocks, secondary, cover)
        assert primary <= set(seen), (blocks, secondary, cover)
    as_sets = sorted(tuple(sorted(c)) for c in covers)
    assert len(set(as_sets)) == len(as_sets)
    assert as_sets == dlx2_model(blocks, secondary)
    assert as_sets == slack_model(blocks, secondary)
    assert xcover.count_all(blocks, secondary=secondary) == len(covers)


@settings(max_examples=200, deadline=None)
@given(blocks_strategy)
def test_empty_secondary_changes_nothing(blocks):
    every = xcover.get_all(blocks)
    assert list(xcover.iter_all(blocks, secondary=())) == every
    assert list(xcover.iter_all(blocks, (), [])) == every
    assert xcover.count_all(blocks, secondary=[]) == len(every)
    assert xcover.split(blocks, 4, secondary=()) == xcover.split(blocks, 4)


@settings(max_examples=200, deadline=None)
@given(blocks_strategy, secondary_strategy)
def test_absent_secondary_values_are_ignored(blocks, secondary):
    present = set().union(*map(set, blocks)) if blocks else set()
    kept = [v for v in secondary if v in present]
    assert list(xcover.iter_all(blocks, secondary=secondary + [6, 7, 2**63])) == list(
        xcover.iter_all(blocks, secondary=kept)
    )


@st.composite
def with_include(draw):
    blocks = draw(blocks_strategy)
    include = draw(st.lists(st.integers(0, len(blocks) - 1), max_size=3)) if blocks else []
    return blocks, include, draw(secondary_strategy)


@st.composite
def wide_problems(draw):
    """Up to 22 blocks over 8 elements, an include and secondary values: trees that branch
    enough for helper threads to share them."""
    blocks = draw(st.lists(st.lists(st.integers(0, 7), min_size=1, max_size=3), max_size=22))
    include = draw(st.lists(st.integers(0, len(blocks) - 1), max_size=2)) if blocks else []
    secondary = draw(st.lists(st.integers(0, 7), max_size=3))
    return blocks, include, secondary


@thread_settings(2, 3, 4)
@settings(max_examples=300, deadline=None)
@given(case=with_include() | wide_problems())
def test_include_filters_the_secondary_search_keeping_its_order(threads, case):
    blocks, include, secondary = case
    every = list(xcover.iter_all(blocks, secondary=secondary))  # on one thread
    expected = [c for c in every if set(include) <= set(c)]
    with pool_of(threads):
        assert list(xcover.iter_all(blocks, include, secondary)) == expected
        assert xcover.count_all(blocks, include, secondary) == len(expected)
    if len(blocks) <= 12:  # the model tries every subset of the blocks
        model = [c for c in dlx2_model(blocks, secondary) if set(include) <= set(c)]
        assert sorted(tuple(sorted(c)) for c in expected) == model


@settings(max_examples=200, deadline=None)
@given(with_include(), st.sampled_from([1, 2, 3, 5, 64]))
def test_split_with_secondary_concatenates_to_the_search(case, parts):
    blocks, include, secondary = case
    expected = [c for c in xcover.iter_all(blocks, secondary=secondary) if set(include) <= set(c)]
    prefixes = xcover.split(blocks, parts, include, secondary=secondary)
    pieces = [c for p in prefixes for c in xcover.iter_all(blocks, include=p, secondary=secondary)]
    assert pieces == expected, (blocks, include, secondary, prefixes)
    assert sum(xcover.count_all(blocks, p, secondary) for p in prefixes) == len(expected)


def test_queens_diagonals_as_secondary():
    # n queens: rows and columns primary, the diagonals secondary.
    def count(n):
        blocks = [[("r", r), ("c", c), ("d", r + c), ("a", r - c + n)] for r in range(n) for c in range(n)]
        names = {}
        numbered = [[names.setdefault(e, len(names)) for e in b] for b in blocks]
        diagonals = [v for e, v in names.items() if e[0] in "da"]
        return xcover.count_all(numbered, secondary=diagonals)

    # Counted by the brute force of permutations.
    for n in range(1, 8):
        by_permutations = sum(
            len({p[r] + r for r in range(n)}) == n and len({p[r] - r for r in range(n)}) == n
            for p in itertools.permutations(range(n))
        )
        assert count(n) == by_permutations


def test_all_secondary_gives_the_empty_cover():
    assert list(xcover.iter_all([[0, 1], [1]], secondary=[0, 1])) == [[]]
    assert xcover.count_all([[0, 1], [1]], include=[1], secondary=[0, 1]) == 0


@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize(
    "secondary, error, message",
    [
        (5, TypeError, r"^argument 'secondary': 'int' object is not an instance of 'Sequence'$"),
        (None, TypeError, r"^argument 'secondary': .*Sequence"),
        (["a"], TypeError, r"^argument 'secondary': 'str' object cannot be interpreted"),
        ([1.5], TypeError, r"^argument 'secondary': 'float' object cannot be interpreted"),
        ([-1], OverflowError, r"negative"),
        ([2**64], OverflowError, r"too big"),
    ],
)
def test_bad_secondary(name, secondary, error, message):
    f = getattr(xcover, name)
    args = ([[0], [1]], 2) if name == "split" else ([[0], [1]],)
    with pytest.raises(error, match=message):
        f(*args, secondary=secondary)
