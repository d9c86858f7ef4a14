"""blocks_from_matrix against a slow reference, on every array layout and cell type it reads
from memory, on nested sequences, and on bad input; its blocks solve the matrix's exact cover."""

import itertools
import random
import textwrap
import threading
from fractions import Fraction

import pytest

import xcover
from conftest import SEND_LATER, SIGNAL_LATENCY_BOUND, brute_force_covers, run_script_words

try:
    import numpy as np
except ImportError:  # the sequence tests run without numpy
    np = None

needs_numpy = pytest.mark.skipif(np is None, reason="numpy is not installed")


def reference(rows):
    """One block per row: the columns whose entry is 1 (the slow, obvious way)."""
    return [[c for c, value in enumerate(row) if value == 1] for row in rows]


def random_rows(rng, rows, columns, density):
    return [[int(rng.random() < density) for _ in range(columns)] for _ in range(rows)]


def exact_covers_of_matrix(rows):
    """The exact covers of a 0/1 matrix, straight from its definition: sets of rows with one 1
    in every column. A row of zeros is never part of one, as xcover never chooses an empty
    block."""
    columns = len(rows[0]) if rows else 0
    nonzero = [i for i, row in enumerate(rows) if any(row)]
    found = []
    for r in range(len(nonzero) + 1):
        for chosen in itertools.combinations(nonzero, r):
            if all(sum(rows[i][c] for i in chosen) == 1 for c in range(columns)):
                found.append(chosen)
    return found


# ---------------------------------------------------------------- what it accepts


def test_the_function_is_an_extra_with_a_signature():
    assert "blocks_from_matrix" not in xcover.__all__
    assert xcover.blocks_from_matrix.__text_signature__ == "(matrix)"
    assert xcover.blocks_from_matrix.__doc__.startswith("Turn a 0/1 matrix into blocks")
    assert xcover.blocks_from_matrix(matrix=[[1, 0], [0, 1]]) == [[0], [1]]


def test_nested_sequences_of_any_kind_match_the_reference():
    rng = random.Random(7)
    for trial in range(200):
        rows = random_rows(rng, rng.randrange(0, 9), rng.randrange(1, 12), rng.random())
        expected = reference(rows)
        assert xcover.blocks_from_matrix(rows) == expected
        assert xcover.blocks_from_matrix(tuple(map(tuple, rows))) == expected
        assert xcover.blocks_from_matrix([[bool(v) for v in row] for row in rows]) == expected
        assert xcover.blocks_from_matrix([[float(v) for v in row] for row in rows]) == expected
        mixed = [[(Fraction(v), v, bool(v), float(v))[(r + c) % 4] for c, v in enumerate(row)]
                 for r, row in enumerate(rows)]
        assert xcover.blocks_from_matrix(mixed) == expected


def test_a_two_dimensional_memoryview_is_read_without_numpy():
    rows = [[0, 1, 1, 0], [1, 0, 0, 1], [0, 0, 0, 0]]
    flat = bytes(v for row in rows for v in row)
    view = memoryview(flat).cast("B", shape=[3, 4])
    assert xcover.blocks_from_matrix(view) == reference(rows)
    wide = memoryview(bytearray(8 * 12)).cast("q", shape=[3, 4])
    for r, row in enumerate(rows):
        for c, v in enumerate(row):
            wide[r, c] = v
    assert xcover.blocks_from_matrix(wide) == reference(rows)


CELL_TYPES = ["bool", "int8", "uint8", "int16", ">i2", "uint32", "<u4", ">i8", "int64",
              "uint64", "float16", ">f2", "float32", ">f4", "float64", ">f8", "longdouble",
              "object"]


@needs_numpy
@pytest.mark.parametrize("dtype", CELL_TYPES)
def test_arrays_of_every_cell_type_and_layout_match_the_reference(dtype):
    rng = np.random.default_rng(abs(hash(dtype)) % 2**32)
    for trial in range(30):
        shape = (int(rng.integers(0, 12)), int(rng.integers(0, 12)))
        ones = rng.random(shape) < rng.random()
        array = ones.astype(dtype)
        layouts = [array, np.asfortranarray(array), array[::-1, ::-1], array.T.copy().T,
                   np.repeat(array, 2, axis=1)[:, ::2]]
        if shape[1] > 0:
            layouts.append(np.broadcast_to(array[:, :1], shape))
        for layout in layouts:
            expected = reference(layout.astype(int).tolist())
            assert xcover.blocks_from_matrix(layout) == expected, (dtype, layout)
            # A list of 1-D arrays: each row is read on its own.
            assert xcover.blocks_from_matrix(list(layout)) == expected


@needs_numpy
@pytest.mark.parametrize("dtype", ["bool", "uint8", "int16", ">u4", "float32", ">f8", "float16"])
def test_long_sparse_rows_match_the_reference_and_report_the_first_bad_entry(dtype):
    # Rows long enough that runs of zeros are skipped whole, with ones, negative zeros and a
    # bad entry at every distance from a run's edges.
    rng = np.random.default_rng(99)
    for trial in range(40):
        columns = int(rng.integers(30, 300))
        ones = rng.random((6, columns)) < rng.choice([0.002, 0.02, 0.2])
        array = ones.astype(dtype)
        expected = reference(ones.astype(int).tolist())
        if array.dtype.kind == "f":
            array[(rng.random(array.shape) < 0.05) & ~ones] = -0.0
        assert xcover.blocks_from_matrix(array) == expected
        assert xcover.blocks_from_matrix(array[:, 1:]) == reference(ones[:, 1:].astype(int).tolist())
        if array.dtype.kind != "b":
            r, c = int(rng.integers(0, 6)), int(rng.integers(0, columns))
            array[r, c] = 3
            with pytest.raises(ValueError, match=f"row {r}, column {c} holds 3"):
                xcover.blocks_from_matrix(array)


@needs_numpy
def test_negative_zero_counts_as_zero_and_nan_is_refused():
    array = np.array([[-0.0, 1.0], [1.0, 0.0]])
    assert xcover.blocks_from_matrix(array) == [[1], [0]]
    with pytest.raises(ValueError, match="row 1, column 0 holds nan"):
        xcover.blocks_from_matrix(np.array([[0.0, 1.0], [np.nan, 0.0]]))


@needs_numpy
def test_an_object_with_array_conversion_is_read_through_it():
    class Frame:  # neither a buffer nor a sequence, like a pandas frame or a tensor
        def __init__(self, values):
            self.values = values

        def __array__(self, dtype=None, copy=None):
            return np.asarray(self.values)

    assert xcover.blocks_from_matrix(Frame([[1, 0], [0, 1]])) == [[0], [1]]


# ---------------------------------------------------------------- the blocks solve the matrix


def test_the_blocks_give_exactly_the_exact_covers_of_the_matrix():
    rng = random.Random(11)
    checked = 0
    for trial in range(300):
        rows = random_rows(rng, rng.randrange(1, 8), rng.randrange(1, 7), rng.uniform(0.2, 0.6))
        expected = exact_covers_of_matrix(rows)
        blocks = xcover.blocks_from_matrix(rows)
        every_column_used = all(any(row[c] for row in rows) for c in range(len(rows[0])))
        got = sorted(tuple(sorted(c)) for c in xcover.get_all(blocks))
        if every_column_used:
            assert got == sorted(expected), rows
            checked += bool(expected)
        else:
            # A column without a 1 cannot be covered: the matrix has no exact cover, while the
            # blocks no longer mention that column (the documented caveat).
            assert expected == []
            assert got == sorted(brute_force_covers(blocks))
    assert checked > 20


def test_knuths_example_has_its_one_cover():
    from matrix import KNUTH as knuth  # examples/matrix.py

    blocks = xcover.blocks_from_matrix(knuth)
    assert [sorted(c) for c in xcover.get_all(blocks)] == [[0, 3, 4]]
    if np is not None:
        for dtype in (bool, np.int64, np.uint8, float):
            assert xcover.blocks_from_matrix(np.array(knuth, dtype=dtype)) == blocks
        # The mistake the function exists for: a matrix passed straight in is read as blocks
        # of values, here each row as the block {0, 1}.
        assert xcover.get_all(np.array(knuth)) == [[0], [1], [2], [3], [4], [5]]


# ---------------------------------------------------------------- bad input

BAD_SEQUENCES = [
    ("a string", "01", TypeError, "not 'str'"),
    ("an int", 5, TypeError, "not 'int'"),
    ("None", None, TypeError, "not 'NoneType'"),
    ("a dict", {0: [1]}, TypeError, "not 'dict'"),
    ("a set", {(0, 1)}, TypeError, "not 'set'"),
    ("a 1-D list", [0, 1, 1], ValueError, "must be 2-D: row 0 ('int')"),
    ("a row of text", [[0, 1], "01"], TypeError, "row 1 ('str')"),
    ("a 3-D list", [[[0, 1]]], ValueError, "must be 2-D: row 0, column 0 is a sequence"),
    ("ragged rows", [[0, 1], [1, 0], [1]], ValueError, "row 0 has 2 entries, row 2 has 1"),
    ("a 2", [[0, 1], [2, 0]], ValueError, "row 1, column 0 holds 2"),
    ("a -1", [[0, -1]], ValueError, "row 0, column 1 holds -1"),
    ("a huge int", [[0, 2**80]], ValueError, "holds " + str(2**80)),
    ("a 0.5", [[0.5, 1]], ValueError, "holds 0.5"),
    ("a string entry", [[0, "1"]], TypeError, "row 0, column 1 holds a 'str' object"),
    ("None entry", [[None]], TypeError, "holds a 'NoneType' object"),
    ("a complex entry", [[1j]], TypeError, "not complex numbers"),
]


@pytest.mark.parametrize("case", BAD_SEQUENCES, ids=[c[0] for c in BAD_SEQUENCES])
def test_bad_sequences_raise_a_clear_error(case):
    _, matrix, error, fragment = case
    with pytest.raises(error) as info:
        xcover.blocks_from_matrix(matrix)
    assert fragment in str(info.value)
    assert str(info.value).startswith("matrix ")


@needs_numpy
def test_bad_arrays_raise_a_clear_error():
    cases = [
        (np.zeros(4), ValueError, "matrix must be 2-D, not 1-D"),
        (np.zeros((2, 2, 2)), ValueError, "matrix must be 2-D, not 3-D"),
        (np.array(3), ValueError, "matrix must be 2-D, not 0-D"),
        (np.array([[0, 3]], dtype=">u2"), ValueError, "row 0, column 1 holds 3"),
        (np.array([[0, 1], [-2, 0]], dtype=np.int8), ValueError, "row 1, column 0 holds -2"),
        (np.array([[1.0, 0.25]], dtype=np.float16), ValueError, "holds 0.25"),
        (np.array([[0, 1]], dtype=complex), TypeError, "not complex numbers"),
        (np.array([[0, "x"]], dtype=object), TypeError, "holds a 'str' object"),
        (np.array([["0", "1"]]), TypeError, "holds a 'numpy.str_' object"),
        ([np.zeros(2), np.zeros((2, 2))], ValueError, "row 1 is 2-D"),
        ([np.zeros(2), np.zeros(3)], ValueError, "row 0 has 2 entries, row 1 has 3"),
    ]
    for matrix, error, fragment in cases:
        with pytest.raises(error) as info:
            xcover.blocks_from_matrix(matrix)
        assert fragment in str(info.value), (matrix, str(info.value))


def test_errors_raised_by_the_rows_themselves_pass_through():
    class Failing:
        def __getitem__(self, i):
            if i == 1:
                raise KeyError("from the row")
            return 1

    with pytest.raises(KeyError, match="from the row"):
        xcover.blocks_from_matrix([Failing()])
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'matrix'"):
        xcover.blocks_from_matrix()


# ---------------------------------------------------------------- threads and signals


@pytest.mark.concurrency
@needs_numpy
def test_threads_reading_one_array_at_once_agree():
    rng = np.random.default_rng(3)
    array = rng.random((300, 200)) < 0.05
    expected = reference(array.astype(int).tolist())
    failures = []

    def worker(k):
        source = array if k % 2 else list(array)
        for _ in range(20):
            if xcover.blocks_from_matrix(source) != expected:
                failures.append(k)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


@needs_numpy
def test_sigint_stops_the_reading_of_an_endless_broadcast_row():
    # One row of 2**40 zeros backed by a single byte: reading it would take many minutes.
    out = run_script_words(SEND_LATER + textwrap.dedent(
        """
        import numpy as np
        import xcover
        row = np.broadcast_to(np.zeros(1, dtype=np.uint8), (1, 2**40))
        sent = send_later(signal.SIGINT)
        try:
            xcover.blocks_from_matrix(row)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - sent[0])
        else:
            print("completed", time.monotonic() - sent[0])
        print(xcover.blocks_from_matrix([[1]]))
        """))
    assert out[0] == "interrupted"
    assert float(out[1]) < SIGNAL_LATENCY_BOUND
    assert out[2] == "[[0]]"
