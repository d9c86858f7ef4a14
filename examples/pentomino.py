"""Tile a 6x10 board with the 12 pentominoes, every orientation allowed.

Each candidate block is one placement of one piece: the element ``p`` (0..11) says "piece p
is used", and the element ``12 + r * cols + c`` says "cell (r, c) is covered". An exact cover
uses every piece once and covers every cell once: a tiling. No symmetry is broken, so each
essentially different tiling is found in all 4 of its orientations (9356 = 4 x 2339).
"""

import sys
import time

import xcover

SHAPES = {
    "F": [".##", "##.", ".#."],
    "I": ["#####"],
    "L": ["#...", "####"],
    "N": ["##..", ".###"],
    "P": ["##", "##", "#."],
    "T": ["###", ".#.", ".#."],
    "U": ["#.#", "###"],
    "V": ["#..", "#..", "###"],
    "W": ["#..", "##.", ".##"],
    "X": [".#.", "###", ".#."],
    "Y": [".#..", "####"],
    "Z": ["##.", ".#.", ".##"],
}
NAMES = list(SHAPES)


def orientations(rows):
    """Every distinct rotation and reflection of a shape, as sorted (r, c) cells at origin."""
    cells = [(r, c) for r, line in enumerate(rows) for c, ch in enumerate(line) if ch == "#"]
    seen = set()
    for flip in (False, True):
        shape = [(r, -c) if flip else (r, c) for r, c in cells]
        for _ in range(4):
            shape = [(c, -r) for r, c in shape]
            r0 = min(r for r, _ in shape)
            c0 = min(c for _, c in shape)
            seen.add(tuple(sorted((r - r0, c - c0) for r, c in shape)))
    return sorted(seen)


def pentomino_blocks(rows=6, cols=10):
    """Candidate blocks for tiling a rows x cols board, and the piece of each block."""
    blocks, pieces = [], []
    for p, name in enumerate(NAMES):
        for shape in orientations(SHAPES[name]):
            height = 1 + max(r for r, _ in shape)
            width = 1 + max(c for _, c in shape)
            for dr in range(rows - height + 1):
                for dc in range(cols - width + 1):
                    blocks.append([p] + [12 + (r + dr) * cols + (c + dc) for r, c in shape])
                    pieces.append(name)
    return blocks, pieces


COLOURS = {name: 41 + i % 7 for i, name in enumerate(NAMES)}


def draw(blocks, cover, rows=6, cols=10, colour=True):
    """The tiling as lines of text: each cell shows its piece's letter, coloured per piece."""
    board = [["?"] * cols for _ in range(rows)]
    for b in cover:
        name = NAMES[blocks[b][0]]
        for cell in blocks[b][1:]:
            r, c = divmod(cell - 12, cols)
            board[r][c] = name
    lines = []
    for row in board:
        if colour:
            bright = lambda n: ";1" if NAMES.index(n) >= 7 else ""
            lines.append("".join(f"\x1b[{COLOURS[n]}{bright(n)}m {n}\x1b[0m" for n in row))
        else:
            lines.append(" ".join(row))
    return lines


def placement_costs(blocks, cols):
    """A cost per placement: pieces prefer the left end of the board, heavier pieces more."""
    return [
        (1 + block[0] % 3) * sum((cell - 12) % cols for cell in block[1:]) / (5 * cols)
        for block in blocks
    ]


def main():
    colour = sys.stdout.isatty()
    blocks, _ = pentomino_blocks()
    start = time.perf_counter()
    tilings = xcover.get_all(blocks)
    elapsed = time.perf_counter() - start
    print(f"6x10 pentomino tilings: {len(tilings)} ({len(blocks)} candidate placements)")
    print(f"time: {elapsed:.2f} s")
    print("one tiling:")
    for line in draw(blocks, tilings[0], colour=colour):
        print("  " + line)

    # Ranked: the cheapest tilings of a 3x20 board under per-placement costs.
    rows, cols = 3, 20
    blocks, _ = pentomino_blocks(rows, cols)
    costs = placement_costs(blocks, cols)
    start = time.perf_counter()
    best = xcover.get_topn(blocks, costs, 5)
    elapsed = time.perf_counter() - start
    print()
    print(f"the {len(best)} cheapest 3x20 tilings (get_topn, {elapsed:.2f} s):")
    for rank, cover in enumerate(best, 1):
        total = sum(costs[b] for b in cover)
        print(f"  #{rank}  cost {total:.4f}")
        for line in draw(blocks, cover, rows, cols, colour=colour):
            print("      " + line)


if __name__ == "__main__":
    main()
