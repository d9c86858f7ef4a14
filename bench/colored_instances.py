"""Writes the colored benchmark instances of bench/instances as DLX texts (Knuth's format, as
DLX2 reads it: item names of at most 8 characters, one-character colors).

  wordrect4x5  4x5 word rectangles: rows are words of a list of 300 5-letter words, columns
               words of a list of 100 4-letter words, both made up from a fixed seed over 6
               letters; the cells are secondary items colored by their letter.
  sudoku6c     6x6 Sudoku (2x3 boxes) with the rows, columns and boxes as permutations: one
               option per line and permutation agreeing with the givens; the 36 cells are
               secondary items colored by their digit, shared by their row, column and box.

Deterministic: running it again writes the same files.
    python bench/colored_instances.py [--check]   (--check: compare with the files instead)
"""

import itertools
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "instances")


def made_up_words(rng, length, count, letters):
    words = set()
    while len(words) < count:
        words.add("".join(rng.choice(letters) for _ in range(length)))
    return sorted(words)


def word_rectangle(rows, columns, row_words, column_words, letters, seed):
    rng = random.Random(seed)
    across = made_up_words(rng, columns, row_words, letters)
    down = made_up_words(rng, rows, column_words, letters)
    cell = lambda r, c: f"p{r}{c}"  # noqa: E731
    lines = [f"| {rows}x{columns} word rectangles over made-up words (seed {seed})"]
    lines.append(" ".join([f"r{r}" for r in range(rows)] + [f"c{c}" for c in range(columns)]) + " | "
                 + " ".join(cell(r, c) for r in range(rows) for c in range(columns)))
    for r in range(rows):
        for w in across:
            lines.append(f"r{r} " + " ".join(f"{cell(r, c)}:{w[c]}" for c in range(columns)))
    for c in range(columns):
        for w in down:
            lines.append(f"c{c} " + " ".join(f"{cell(r, c)}:{w[r]}" for r in range(rows)))
    return "\n".join(lines) + "\n"


def sudoku_by_lines(givens):
    """6x6 Sudoku, 2x3 boxes; `givens` maps (row, column) to a digit 1..6."""
    n = 6
    box = lambda r, c: (r // 2) * 2 + c // 3  # noqa: E731
    lines_of = {}
    for r in range(n):
        lines_of[f"R{r}"] = [(r, c) for c in range(n)]
    for c in range(n):
        lines_of[f"C{c}"] = [(r, c) for r in range(n)]
    for b in range(n):
        lines_of[f"B{b}"] = [(r, c) for r in range(n) for c in range(n) if box(r, c) == b]
    out = ["| 6x6 Sudoku by lines: each row, column and box a permutation, cells colored by digit"]
    out.append(" ".join(lines_of) + " | " + " ".join(f"x{r}{c}" for r in range(n) for c in range(n)))
    for name, cells in lines_of.items():
        for perm in itertools.permutations(range(1, n + 1)):
            if all(givens.get(cell, d) == d for cell, d in zip(cells, perm)):
                out.append(name + " " + " ".join(f"x{r}{c}:{d}" for (r, c), d in zip(cells, perm)))
    return "\n".join(out) + "\n"


INSTANCES = {
    "wordrect4x5.dlx": lambda: word_rectangle(4, 5, 300, 100, "abcdef", 7),
    "sudoku6c.dlx": lambda: sudoku_by_lines({(0, 0): 1, (1, 4): 2, (2, 2): 3, (3, 5): 4}),
}


def main():
    check = "--check" in sys.argv[1:]
    for name, make in INSTANCES.items():
        path = os.path.join(OUT, name)
        text = make()
        if check:
            with open(path) as f:
                if f.read() != text:
                    sys.exit(f"{path} differs from what {os.path.basename(__file__)} writes")
        else:
            with open(path, "w") as f:
                f.write(text)
        print(path, text.count("\n") - 2, "options")


if __name__ == "__main__":
    main()
