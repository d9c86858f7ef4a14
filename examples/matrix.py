"""Exact cover of a 0/1 matrix: pick rows so that every column has exactly one 1 among them.

`xcover.blocks_from_matrix` turns each row into a block listing the columns where it has a 1.
The matrix may be a numpy array (when numpy is installed) or nested lists; passed to the
solvers directly it would be read as blocks of the values 0 and 1, which is not the problem
meant. Two details of the translation matter:

- xcover only knows the elements that appear in some block, so a column with no 1 at all
  would silently drop out of the problem. Such a matrix has no exact cover, and
  `exact_covers` says so without calling the solver.
- A row of zeros is an empty block; xcover never puts an empty block into a cover.
"""

import xcover

try:
    import numpy as np
except ImportError:  # the example works on nested lists alone
    np = None

# Knuth's example from "Dancing Links": its one exact cover is rows 0, 3 and 4.
KNUTH = [
    [0, 0, 1, 0, 1, 1, 0],
    [1, 0, 0, 1, 0, 0, 1],
    [0, 1, 1, 0, 0, 1, 0],
    [1, 0, 0, 1, 0, 0, 0],
    [0, 1, 0, 0, 0, 0, 1],
    [0, 0, 0, 1, 1, 0, 1],
]


def as_matrix(rows):
    """The rows as a numpy array when numpy is available, else as given."""
    return np.array(rows, dtype=np.uint8) if np is not None else rows


def column_count(matrix):
    if np is not None and isinstance(matrix, np.ndarray):
        return matrix.shape[1]
    return len(matrix[0]) if len(matrix) else 0


def blocks_covering_every_column(matrix):
    """The matrix's blocks, or None when some column holds no 1 (then nothing covers it)."""
    blocks = xcover.blocks_from_matrix(matrix)
    covered = {c for block in blocks for c in block}
    return blocks if len(covered) == column_count(matrix) else None


def exact_covers(matrix):
    """Every exact cover, as a sorted list of row indices."""
    blocks = blocks_covering_every_column(matrix)
    if blocks is None:
        return []
    return [sorted(cover) for cover in xcover.get_all(blocks)]


def cheapest_covers(matrix, row_costs, n):
    """The n exact covers with the smallest total row cost, cheapest first."""
    blocks = blocks_covering_every_column(matrix)
    if blocks is None:
        return []
    return [sorted(cover) for cover in xcover.get_topn(blocks, row_costs, n)]


def main():
    matrix = as_matrix(KNUTH)
    kind = "numpy array" if np is not None else "nested lists"
    print(f"Knuth's 6x7 matrix ({kind}):")
    for row in KNUTH:
        print("  " + " ".join(map(str, row)))
    covers = exact_covers(matrix)
    print(f"exact covers: {covers}")

    # A matrix with several covers, ranked by row cost.
    rows = [
        [1, 1, 0, 0],
        [0, 0, 1, 1],
        [1, 0, 1, 0],
        [0, 1, 0, 1],
        [1, 0, 0, 0],
        [0, 1, 1, 1],
        [1, 1, 1, 1],
    ]
    costs = [1.0, 1.5, 1.2, 1.2, 0.5, 2.5, 3.1]
    print("a 7x4 matrix, covers by total row cost:")
    for cover in cheapest_covers(as_matrix(rows), costs, 10):
        print(f"  rows {cover}  cost {sum(costs[r] for r in cover):.1f}")


if __name__ == "__main__":
    main()
