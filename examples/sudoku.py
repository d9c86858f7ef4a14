"""Sudoku as exact cover, with a check that the solution is unique.

For a grid of side n = box * box, writing digit d (0-based) in cell (r, c) is the block
[cell(r, c), row r has d, column c has d, box b has d]; each of those four constraint
families gets its own range of element ids. A clue leaves only its own digit's block for
that cell. An exact cover picks one digit per cell with every digit once per row, column
and box: a solved grid.

Uniqueness is checked by asking for at most two covers (get_topn with n = 2 and zero costs):
the search stops as soon as a second solution turns up.
"""

import xcover

# A puzzle with a unique solution (a common test puzzle); "." marks an empty cell.
PUZZLE = [
    "53..7....",
    "6..195...",
    ".98....6.",
    "8...6...3",
    "4..8.3..1",
    "7...2...6",
    ".6....28.",
    "...419..5",
    "....8..79",
]


def parse(lines):
    """Rows of digits (0 for empty) from strings using '.' or '0' for empty cells."""
    return [[0 if ch in ".0" else int(ch) for ch in line] for line in lines]


def sudoku_blocks(grid, box=3):
    """Blocks for the puzzle and, for each block, its (row, column, digit) with digit 1-based."""
    n = box * box
    blocks, moves = [], []
    for r in range(n):
        for c in range(n):
            clue = grid[r][c]
            digits = [clue - 1] if clue else range(n)
            b = (r // box) * box + c // box
            for d in digits:
                blocks.append([
                    r * n + c,                  # the cell is filled
                    n * n + r * n + d,          # row r has digit d
                    2 * n * n + c * n + d,      # column c has digit d
                    3 * n * n + b * n + d,      # box b has digit d
                ])
                moves.append((r, c, d + 1))
    return blocks, moves


def to_grid(cover, moves, n):
    grid = [[0] * n for _ in range(n)]
    for b in cover:
        r, c, d = moves[b]
        grid[r][c] = d
    return grid


def solve(grid, box=3, limit=2, max_iter=None):
    """Up to `limit` solutions of the puzzle (two are enough to show it is not unique).

    All costs are equal, so the ranked search has nothing to prefer and widens breadth-first:
    fast on a proper puzzle, slow on one with very few clues. `max_iter` bounds the work; a
    search cut short may miss solutions.
    """
    blocks, moves = sudoku_blocks(grid, box)
    covers = xcover.get_topn(blocks, [0.0] * len(blocks), limit, max_iter=max_iter)
    return [to_grid(cover, moves, box * box) for cover in covers]


def all_solutions(grid, box=3):
    """Every solution; only sensible for small grids or nearly full puzzles."""
    blocks, moves = sudoku_blocks(grid, box)
    return [to_grid(cover, moves, box * box) for cover in xcover.get_all(blocks)]


def is_solution(grid, puzzle, box=3):
    """Whether `grid` is a valid filled grid agreeing with every clue of `puzzle`."""
    n = box * box
    digits = set(range(1, n + 1))
    rows = [set(row) for row in grid]
    cols = [{grid[r][c] for r in range(n)} for c in range(n)]
    boxes = [
        {grid[r][c] for r in range(br, br + box) for c in range(bc, bc + box)}
        for br in range(0, n, box)
        for bc in range(0, n, box)
    ]
    clues_kept = all(
        puzzle[r][c] in (0, grid[r][c]) for r in range(n) for c in range(n)
    )
    return clues_kept and all(group == digits for group in rows + cols + boxes)


def show(grid):
    return ["".join(str(d) if d else "." for d in row) for row in grid]


def main():
    puzzle = parse(PUZZLE)
    found = solve(puzzle)
    print("puzzle:")
    for line in show(puzzle):
        print("  " + line)
    if not found:
        print("no solution")
        return
    print("solution:" if len(found) == 1 else "one of several solutions:")
    for line in show(found[0]):
        print("  " + line)
    print("unique" if len(found) == 1 else "not unique")
    print(f"4x4 grids (box = 2), all of them: {len(all_solutions([[0] * 4] * 4, box=2))}")


if __name__ == "__main__":
    main()
