"""number_blocks: blocks of arbitrary hashable items numbered for the solvers, checked against
a dict-based model; the numbered problem solves like the original; bad input."""

import pytest
from hypothesis import given, settings, strategies as st

import xcover

items = st.one_of(
    st.integers(-5, 5), st.text(max_size=2), st.tuples(st.integers(0, 2), st.text(max_size=1)),
    st.sampled_from([None, 1.0, 2.5, True, frozenset({1})]),
)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.lists(items, max_size=4), max_size=8), st.booleans())
def test_numbering_matches_a_dict_model(blocks, as_tuples):
    given_blocks = tuple(tuple(b) for b in blocks) if as_tuples else blocks
    numbered, names = xcover.number_blocks(given_blocks)
    model = {}
    expected = [[model.setdefault(x, len(model)) for x in b] for b in blocks]
    assert numbered == expected
    assert names == list(model)
    for block, row in zip(blocks, numbered):
        assert [names[k] == x for k, x in zip(row, block)] == [True] * len(block)
    assert all(type(k) is int for row in numbered for k in row)


def test_the_numbered_problem_solves_like_the_original():
    cells = [("r", 0), ("r", 1), ("c", "x")]
    blocks = [[cells[0], cells[2]], [cells[1]], [cells[0]], [cells[2]]]
    numbered, names = xcover.number_blocks(blocks)
    covers = xcover.get_all(numbered)
    assert sorted(map(sorted, covers)) == [[0, 1], [1, 2, 3]]
    assert {names[k] for b in covers[0] for k in numbered[b]} == set(cells)


@pytest.mark.parametrize(
    "blocks, message",
    [
        (5, "sequence of sequences"),
        ([5], "sequence of sequences"),
        ([[[1]]], "unhashable type: 'list'"),
        ([[{}]], "unhashable type: 'dict'"),
    ],
)
def test_bad_input(blocks, message):
    with pytest.raises(TypeError, match=message):
        xcover.number_blocks(blocks)
