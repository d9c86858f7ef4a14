"""number_blocks: blocks of arbitrary hashable items numbered for the solvers, checked against
a dict-based model; the numbered problem solves like the original; bad input."""

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import run_python

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


CHANGES_UNDER_IT = """
import threading, xcover

class Meddler:
    # An item that empties a list when it is hashed or compared.
    def __init__(self, target, on_eq=False):
        self.target, self.on_eq = target, on_eq
    def __hash__(self):
        if not self.on_eq:
            self.target.clear()
        return 1
    def __eq__(self, other):
        self.target.clear()
        return self is other

outer = []
outer.extend([[Meddler(outer), 1, 2], [3, 4]] + [[i] for i in range(100)])
numbered, items = xcover.number_blocks(outer)
assert len(numbered) == 102 and items[1:5] == [1, 2, 3, 4], (numbered[:3], items[:5])

block = [1, 2]
block.insert(0, Meddler(block))
block += [object() for _ in range(50)]
assert xcover.number_blocks([block])[0] == [list(range(53))]

block = [1, 2]
block[:0] = [Meddler(block, on_eq=True), Meddler(block, on_eq=True)]
assert len(xcover.number_blocks([block])[0][0]) == 4

class Slow:
    def __init__(self, k): self.k = k
    def __hash__(self):
        for _ in range(200): pass
        return self.k
    def __eq__(self, other): return isinstance(other, Slow) and other.k == self.k

shared = [[Slow(k), Slow(k + 1)] for k in range(300)]
stop = False
def meddle():
    while not stop:
        shared.insert(0, [Slow(1)]); shared.append([Slow(2), Slow(3)])
        shared.pop(); shared.pop(0)
        if shared and shared[-1]:
            shared[-1].pop()
thread = threading.Thread(target=meddle)
thread.start()
try:
    for _ in range(100):
        numbered, items = xcover.number_blocks(shared)
        assert all(0 <= k < len(items) for row in numbered for k in row)
finally:
    stop = True
    thread.join()
print("held")
"""


def test_blocks_changed_under_the_numbering_are_read_as_they_were():
    # An item's __hash__ or __eq__ that empties the outer list or its block, and another
    # thread editing the list meanwhile: numbered from the lists as first read, no crash.
    result = run_python(CHANGES_UNDER_IT, timeout=300)
    assert (result.returncode, result.stdout, result.stderr) == (0, "held\n", "")
