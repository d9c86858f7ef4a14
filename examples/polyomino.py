"""Tile any board with polyominoes, and draw the tilings.

A board is a list of strings, '#' for a cell and anything else for a hole; a piece set maps a
name to a shape in the same notation. Rotations and reflections of each piece are allowed.
Cells are elements 0..C-1 (in reading order). With ``each_once=True`` each piece must be used
exactly once, so piece p also gets the element C + p, which every placement of p covers; with
``each_once=False`` pieces may be used any number of times (or not at all).

    python polyomino.py            # the examples below
"""

import sys

import xcover
from pentomino import SHAPES as PENTOMINOES
from pentomino import orientations

TETROMINOES = {
    "I": ["####"],
    "O": ["##", "##"],
    "T": ["###", ".#."],
    "S": [".##", "##."],
    "L": ["#..", "###"],
}
DOMINO = {"D": ["##"]}


def rectangle(rows, cols):
    return ["#" * cols] * rows


def board_cells(board):
    """The board's cells, as (row, column) pairs in reading order."""
    return [(r, c) for r, line in enumerate(board) for c, ch in enumerate(line) if ch == "#"]


def tiling_problem(board, pieces, each_once=True):
    """Blocks for tiling `board` with `pieces`, and for each block its (name, cells)."""
    cells = board_cells(board)
    index = {cell: i for i, cell in enumerate(cells)}
    blocks, placements = [], []
    for p, (name, shape) in enumerate(pieces.items()):
        for form in orientations(shape):
            for r0, c0 in cells:
                # Anchor the form's first cell (in reading order) on each board cell.
                ar, ac = form[0]
                placed = [(r0 + r - ar, c0 + c - ac) for r, c in form]
                if all(cell in index for cell in placed):
                    block = [index[cell] for cell in placed]
                    if each_once:
                        block.append(len(cells) + p)
                    blocks.append(block)
                    placements.append((name, placed))
    return blocks, placements


def tilings(board, pieces, each_once=True):
    """Every tiling, each a list of (name, cells) placements."""
    blocks, placements = tiling_problem(board, pieces, each_once)
    if not blocks:
        return []
    if len({e for block in blocks for e in block}) < len(board_cells(board)) + (
        len(pieces) if each_once else 0
    ):
        return []  # some cell or piece has no placement at all
    return [[placements[b] for b in cover] for cover in xcover.get_all(blocks)]


def draw(board, tiling):
    """The tiling as text: walls between different placements, each cell showing its piece."""
    owner, label = {}, {}
    for k, (name, cells) in enumerate(tiling):
        for cell in cells:
            owner[cell] = k
            label[cell] = name
    rows = len(board)
    cols = max((len(line) for line in board), default=0)
    at = owner.get
    lines = []
    for r in range(rows + 1):
        top = []
        for c in range(cols + 1):
            around = {at((r - 1, c - 1)), at((r - 1, c)), at((r, c - 1)), at((r, c))}
            top.append("+" if len(around) > 1 else " ")
            if c < cols:
                top.append("---" if at((r - 1, c)) != at((r, c)) else "   ")
        lines.append("".join(top).rstrip())
        if r == rows:
            break
        middle = []
        for c in range(cols + 1):
            middle.append("|" if at((r, c - 1)) != at((r, c)) else " ")
            if c < cols:
                middle.append(f" {label.get((r, c), ' ')} ")
        lines.append("".join(middle).rstrip())
    return lines


def main():
    print("the five tetrominoes, each once, on a 4x5 rectangle:",
          len(tilings(rectangle(4, 5), TETROMINOES)), "tilings")
    square = tilings(rectangle(4, 4), TETROMINOES, each_once=False)
    print(f"4x4 square with tetrominoes, any number of each: {len(square)} tilings; one:")
    for line in draw(rectangle(4, 4), square[len(square) // 2]):
        print("  " + line)
    print("dominoes on a 4x4 square:", len(tilings(rectangle(4, 4), DOMINO, each_once=False)))

    holed = ["########"] * 3 + ["###..###"] * 2 + ["########"] * 3
    if "--quick" not in sys.argv:
        found = tilings(holed, PENTOMINOES)
        print(f"8x8 board without its centre, 12 pentominoes: {len(found)} tilings; one:")
        for line in draw(holed, found[0]):
            print("  " + line)


if __name__ == "__main__":
    main()
