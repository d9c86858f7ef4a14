"""The guide's table of errors: every message it lists is what the module raises, with the
exception type it names, for the cause it gives."""

import builtins
import os
import re

import pytest

import xcover
from conftest import ROOT, panic_type

GUIDE = os.path.join(ROOT, "docs", "guide.md")

BLOCKS = [[0, 1], [2, 3], [0, 2], [1, 3], [0, 1, 2, 3]]
WEIGHTS = [1.0, 1.0, 2.0, 2.0, 3.0]
ONES = [1] * len(BLOCKS)


def numpy():
    return pytest.importorskip("numpy")


# A call that raises each message of the table, for the cause the table gives. A message may
# have several causes; each is checked.
CAUSES = {
    "index out of bounds: the len is 2 but the index is 4": [
        lambda: xcover.get_top(BLOCKS, WEIGHTS[:2]),
        lambda: xcover.get_topn(BLOCKS, WEIGHTS[:2], 3),
        lambda: xcover.get_topp(BLOCKS, WEIGHTS[:2], 0.1),
        lambda: xcover.get_topn_sc(BLOCKS, WEIGHTS, edge_counts=[1, 1], edge_total=5,
                                   labels=ONES, vertex_total=4, n=2),
        lambda: xcover.get_topn_sc(BLOCKS, WEIGHTS, edge_counts=ONES, edge_total=5,
                                   labels=[1, 1], vertex_total=4, n=2),
    ],
    "argument 'edge_total': 'list' object cannot be interpreted as an integer": [
        lambda: xcover.get_topn_sc(BLOCKS, WEIGHTS, ONES, ONES, 5, 4, 2),  # labels, total swapped
    ],
    "argument 'partitions': 'numpy.bool' object cannot be interpreted as an integer": [
        lambda: xcover.get_all(numpy().array([[True, False], [False, True]])),
    ],
    "argument 'n': 'float' object cannot be interpreted as an integer": [
        lambda: xcover.get_topn(BLOCKS, WEIGHTS, 3.0),
    ],
    "argument 'partitions': 'set' object is not an instance of 'Sequence'": [
        lambda: xcover.get_all({(0, 1)}),
    ],
    "argument 'partitions': Can't extract `str` to `Vec`": [
        lambda: xcover.get_all(["012"]),
    ],
    "argument 'weights': must be real number, not str": [
        lambda: xcover.get_top(BLOCKS, ["1"] * 5),
    ],
    "get_topn() missing 1 required positional argument: 'n'": [
        lambda: xcover.get_topn(BLOCKS, WEIGHTS),
    ],
    "can't convert negative int to unsigned": [
        lambda: xcover.get_all([[0, -1]]),
        lambda: xcover.get_topn(BLOCKS, WEIGHTS, -1),
        lambda: xcover.get_top(BLOCKS, WEIGHTS, max_heap=-5),
    ],
    "int too big to convert": [
        lambda: xcover.get_all([[2**64]]),
    ],
    "include: block index 9 is out of range for 5 partitions": [
        lambda: xcover.count_all(BLOCKS, include=[9]),
    ],
    "parts must be at least 1": [
        lambda: xcover.split(BLOCKS, 0),
    ],
    "matrix entries must be 0 or 1: row 1, column 0 holds 2": [
        lambda: xcover.blocks_from_matrix([[0, 1], [2, 0]]),
    ],
    "matrix rows must have the same length: row 0 has 2 entries, row 2 has 1": [
        lambda: xcover.blocks_from_matrix([[0, 1], [1, 0], [1]]),
    ],
    "matrix must be 2-D, not 1-D": [
        lambda: xcover.blocks_from_matrix(numpy().array([0, 1, 1])),
    ],
}


def code_span(cell):
    """The text of a cell that is one code span (`x` or `` x ``), else None."""
    match = re.fullmatch(r"``\s(.*)\s``|`([^`]*)`", cell)
    if match is None:
        return None
    return match.group(1) if match.group(1) is not None else match.group(2)


def table_rows():
    if not os.path.exists(GUIDE):
        pytest.skip("no docs/ next to the tests")
    with open(GUIDE, encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("## 7. Errors"):]
    section = section[:section.index("\n## ")]
    rows = []
    for line in section.splitlines():
        if not line.startswith("| ") or line.startswith("| ---") or line.startswith("| you see"):
            continue
        cells = [c.strip() for c in line.strip("|").split(" | ")]
        rows.append((code_span(cells[0]), code_span(cells[1]), cells[2]))
    return rows


def test_every_message_of_the_table_is_checked():
    documented = {message for message, _, _ in table_rows() if message is not None}
    assert documented == set(CAUSES)
    # The rows without a message: the silent misreading of a matrix, and MemoryError.
    silent = [row for row in table_rows() if row[0] is None]
    assert len(silent) == 2
    assert any("blocks_from_matrix" in fix for _, _, fix in silent)


@pytest.mark.parametrize("message", sorted(CAUSES))
def test_each_listed_message_is_what_the_module_raises(message, capfd):
    (exception,) = [e for m, e, _ in table_rows() if m == message]
    expected_type = panic_type() if exception == "PanicException" else getattr(builtins,
                                                                                exception)
    for cause in CAUSES[message]:
        with pytest.raises(BaseException) as info:
            cause()
        assert type(info.value) is expected_type, (message, info.value)
        assert str(info.value) == message
    capfd.readouterr()  # a PanicException also reports itself on standard error


def test_the_silent_case_of_the_table_happens_as_described():
    np = numpy()
    matrix = np.array([[1, 0, 1], [0, 1, 0], [1, 1, 0], [0, 0, 1]])
    # Four rows read as blocks of the values 0 and 1: each is a cover by itself.
    assert xcover.get_all(matrix) == [[0], [1], [2], [3]]
    blocks = xcover.blocks_from_matrix(matrix)
    assert sorted(map(sorted, xcover.get_all(blocks))) == [[0, 1], [2, 3]]
