"""The n-queens puzzle as a pure exact-cover problem.

Elements: row r is ``r``, column c is ``n + c``, diagonal r + c is ``2n + (r + c)`` and
anti-diagonal r - c is ``4n - 1 + (r - c + n - 1)``. Placing a queen on (r, c) is the block
[row, column, diagonal, anti-diagonal]. Every row and column must hold exactly one queen, but
a diagonal may hold none: so each diagonal also gets a slack block holding only that
diagonal's element, chosen exactly when no queen sits on it. A cover is then a queen
placement plus the slack blocks of the empty diagonals, and the slack part is fixed by the
queens, so covers and solutions correspond one to one.

The other way (``solutions_secondary``) declares the diagonals secondary: elements a cover may
leave uncovered but never covers twice. No slack block is needed, and the search never
branches on a diagonal. ``python queens.py 8 --secondary`` counts that way.
"""

import sys

import xcover


def diagonal_elements(n):
    """The element ids of the 2n - 1 diagonals followed by the 2n - 1 anti-diagonals."""
    return list(range(2 * n, 2 * n + 2 * (2 * n - 1)))


def queens_blocks(n):
    """Blocks for the n x n board, and for each block its square (r, c), or None for slack."""
    blocks, squares = [], []
    for r in range(n):
        for c in range(n):
            blocks.append([r, n + c, 2 * n + r + c, 4 * n - 1 + r - c + n - 1])
            squares.append((r, c))
    for d in diagonal_elements(n):
        blocks.append([d])
        squares.append(None)
    return blocks, squares


def solutions(n):
    """Every solution, as a tuple giving the queen's column in each row."""
    blocks, squares = queens_blocks(n)
    found = []
    for cover in xcover.get_all(blocks):
        columns = [None] * n
        for b in cover:
            if squares[b] is not None:
                r, c = squares[b]
                columns[r] = c
        found.append(tuple(columns))
    return found


def queen_blocks_only(n):
    """The blocks of the queens alone (no slack), block r * n + c for the square (r, c)."""
    blocks, squares = queens_blocks(n)
    return [b for b, sq in zip(blocks, squares) if sq is not None]


def solutions_secondary(n):
    """Every solution, with the diagonals secondary elements instead of slack blocks."""
    blocks = queen_blocks_only(n)
    found = []
    for cover in xcover.iter_all(blocks, secondary=diagonal_elements(n)):
        columns = [None] * n
        for b in cover:
            columns[b // n] = b % n
        found.append(tuple(columns))
    return found


def central_solutions(n, count):
    """The `count` solutions whose queens sit closest to the centre (squared distance)."""
    blocks, squares = queens_blocks(n)
    middle = (n - 1) / 2
    costs = [
        0.0 if sq is None else (sq[0] - middle) ** 2 + (sq[1] - middle) ** 2 for sq in squares
    ]
    best = []
    for cover in xcover.get_topn(blocks, costs, count):
        columns = [None] * n
        for b in cover:
            if squares[b] is not None:
                columns[squares[b][0]] = squares[b][1]
        best.append((sum(costs[b] for b in cover), tuple(columns)))
    return best


def draw(columns):
    n = len(columns)
    return [" ".join("Q" if columns[r] == c else "." for c in range(n)) for r in range(n)]


def main():
    args = [a for a in sys.argv[1:] if a != "--secondary"]
    secondary = len(args) < len(sys.argv) - 1
    top = int(args[0]) if args else 8
    for n in range(1, top + 1):
        if secondary:
            count = xcover.count_all(queen_blocks_only(n), secondary=diagonal_elements(n))
            print(f"n = {n}: {count} solutions (diagonals secondary)")
        else:
            print(f"n = {n}: {len(solutions(n))} solutions")
    print(f"the {top}x{top} solutions with queens closest to the centre:")
    for cost, columns in central_solutions(top, 2):
        print(f"  cost {cost:.1f}")
        for line in draw(columns):
            print("    " + line)


if __name__ == "__main__":
    main()
