"""The examples in examples/ on small sizes: their answers are checked independently of the
solver (validity of every cover, known counts, brute force where it is cheap)."""

import itertools
import math
import os
import random
import sys

import pytest

import communities
import langford
import matrix
import pentomino
import polyomino
import queens
import sudoku
import xcover
from conftest import ROOT, brute_force_covers, markdown_python_blocks, run_documented_example


def assert_exact_cover(blocks, cover, elements):
    """The cover's blocks hold every element of `elements` exactly once."""
    held = [e for b in cover for e in blocks[b]]
    assert sorted(held) == sorted(elements), cover


# ---------------------------------------------------------------- matrix


def check_matrix_cover(rows, cover):
    cols = len(rows[0])
    for c in range(cols):
        assert sum(rows[r][c] for r in cover) == 1, (cover, c)


def test_knuth_matrix_has_exactly_rows_0_3_4():
    covers = matrix.exact_covers(matrix.KNUTH)
    assert covers == [[0, 3, 4]]
    check_matrix_cover(matrix.KNUTH, covers[0])
    # And no other subset of rows is a cover (64 subsets).
    subsets = [
        list(s) for k in range(7) for s in itertools.combinations(range(6), k)
        if all(sum(matrix.KNUTH[r][c] for r in s) == 1 for c in range(7))
    ]
    assert subsets == [[0, 3, 4]]


def test_knuth_matrix_as_numpy_array():
    np = pytest.importorskip("numpy")
    array = np.array(matrix.KNUTH, dtype=np.uint8)
    assert xcover.blocks_from_matrix(array) == xcover.blocks_from_matrix(matrix.KNUTH)
    assert matrix.exact_covers(array) == [[0, 3, 4]]
    assert matrix.exact_covers(array.astype(bool)) == [[0, 3, 4]]


def test_a_column_of_zeros_means_no_cover():
    rows = [[1, 0, 0], [0, 1, 0], [1, 1, 0]]
    assert matrix.blocks_covering_every_column(rows) is None
    assert matrix.blocks_covering_every_column([r[:2] for r in rows]) == [[0], [1], [0, 1]]
    # The solver alone would drop the empty column and report covers of the other two.
    assert sorted(map(sorted, xcover.get_all(xcover.blocks_from_matrix(rows)))) == [[0, 1], [2]]
    assert matrix.exact_covers(rows) == []
    assert matrix.cheapest_covers(rows, [1.0, 1.0, 1.0], 5) == []


def test_random_matrices_agree_with_brute_force():
    rng = random.Random(20240601)
    np = None
    try:
        import numpy as np
    except ImportError:
        pass
    for _ in range(150):
        n_rows, n_cols = rng.randint(1, 8), rng.randint(1, 6)
        rows = [[int(rng.random() < 0.35) for _ in range(n_cols)] for _ in range(n_rows)]
        expected = []
        if all(any(row[c] for row in rows) for c in range(n_cols)):
            expected = sorted(list(c) for c in brute_force_covers(xcover.blocks_from_matrix(rows)))
        got = matrix.exact_covers(rows)
        assert sorted(got) == expected, rows
        for cover in got:
            check_matrix_cover(rows, cover)
        if np is not None:
            assert sorted(matrix.exact_covers(np.array(rows, dtype=np.int8))) == expected


def test_cheapest_covers_are_the_cheapest():
    rows = [
        [1, 1, 0, 0], [0, 0, 1, 1], [1, 0, 1, 0], [0, 1, 0, 1],
        [1, 0, 0, 0], [0, 1, 1, 1], [1, 1, 1, 1], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1],
    ]
    costs = [1.0, 1.5, 1.2, 1.2, 0.5, 2.5, 3.1, 0.25, 2.0, 0.75]
    every = matrix.exact_covers(rows)
    all_costs = sorted(sum(costs[r] for r in c) for c in every)
    best = matrix.cheapest_covers(rows, costs, 4)
    got_costs = [sum(costs[r] for r in c) for c in best]
    assert got_costs == pytest.approx(all_costs[:4])
    for cover in best:
        check_matrix_cover(rows, cover)
        assert cover in every


def test_matrix_main_prints_the_cover(capsys):
    matrix.main()
    out = capsys.readouterr().out
    assert "exact covers: [[0, 3, 4]]" in out


# ---------------------------------------------------------------- queens


def non_attacking(columns):
    n = len(columns)
    if sorted(columns) != list(range(n)):
        return False
    return all(
        abs(columns[a] - columns[b]) != b - a for a in range(n) for b in range(a + 1, n)
    )


def test_queens_counts_for_n_1_to_8():
    counts = []
    for n in range(1, 9):
        found = queens.solutions(n)
        assert len(set(found)) == len(found)
        assert all(non_attacking(cols) for cols in found)
        counts.append(len(found))
    assert counts == [1, 0, 0, 2, 10, 4, 40, 92]


def test_queens_with_secondary_diagonals_match_the_slack_model(monkeypatch, capsys):
    for n in range(1, 9):
        assert sorted(queens.solutions_secondary(n)) == sorted(queens.solutions(n))
    monkeypatch.setattr(sys, "argv", ["queens.py", "6", "--secondary"])
    queens.main()
    out = capsys.readouterr().out
    assert "n = 6: 4 solutions (diagonals secondary)" in out


def test_queens_match_brute_force_up_to_7():
    for n in range(1, 8):
        brute = {p for p in itertools.permutations(range(n)) if non_attacking(p)}
        assert set(queens.solutions(n)) == brute


def test_queens_model_is_pure_exact_cover():
    n = 6
    blocks, squares = queens.queens_blocks(n)
    diagonals = queens.diagonal_elements(n)
    assert len(diagonals) == 2 * (2 * n - 1)
    slack = [b for b, sq in zip(blocks, squares) if sq is None]
    # One slack block per diagonal, holding that diagonal alone.
    assert sorted(slack) == [[d] for d in diagonals]
    for block, sq in zip(blocks, squares):
        if sq is not None:
            assert len(set(block)) == 4
            assert block[2] in diagonals and block[3] in diagonals
    # Every cover covers each row, column and diagonal exactly once.
    elements = sorted({e for b in blocks for e in b})
    assert elements == list(range(2 * n)) + diagonals
    for cover in xcover.get_all(blocks):
        assert_exact_cover(blocks, cover, elements)


def test_queens_central_solutions_are_the_cheapest():
    n = 6
    middle = (n - 1) / 2
    cost = lambda cols: sum((r - middle) ** 2 + (c - middle) ** 2 for r, c in enumerate(cols))
    every = sorted(cost(cols) for cols in queens.solutions(n))
    best = queens.central_solutions(n, 3)
    assert [c for c, _ in best] == pytest.approx(every[:3])
    for c, cols in best:
        assert non_attacking(cols)
        assert cost(cols) == pytest.approx(c)


def test_queens_main(capsys, monkeypatch):
    monkeypatch.setattr("sys.argv", ["queens.py", "6"])
    queens.main()
    out = capsys.readouterr().out
    assert "n = 6: 4 solutions" in out
    assert out.count("Q") == 2 * 6


# ---------------------------------------------------------------- langford


def is_langford(row):
    n = len(row) // 2
    for k in range(1, n + 1):
        places = [i for i, v in enumerate(row) if v == k]
        if len(places) != 2 or places[1] - places[0] != k + 1:
            return False
    return True


def langford_count_by_backtracking(n):
    """Counts arrangements by placing the largest number first, without the solver."""
    row = [0] * (2 * n)

    def place(k):
        if k == 0:
            return 1
        total = 0
        for i in range(2 * n - k - 1):
            if row[i] == 0 and row[i + k + 1] == 0:
                row[i] = row[i + k + 1] = k
                total += place(k - 1)
                row[i] = row[i + k + 1] = 0
        return total

    return place(n)


@pytest.mark.parametrize("n, count", [(1, 0), (2, 0), (3, 2), (4, 2), (5, 0), (6, 0), (7, 52), (8, 300)])
def test_langford_counts(n, count):
    rows = langford.langford(n)
    assert len(rows) == count
    assert all(is_langford(row) for row in rows)
    assert len({tuple(r) for r in rows}) == count
    # Mirror images are counted separately: each arrangement's mirror is there too.
    assert {tuple(reversed(r)) for r in rows} == {tuple(r) for r in rows}
    if n <= 7:
        assert langford_count_by_backtracking(n) == count


def test_langford_main(capsys, monkeypatch):
    monkeypatch.setattr("sys.argv", ["langford.py", "3", "4"])
    langford.main()
    out = capsys.readouterr().out
    assert "n = 3: 2 arrangements" in out and "n = 4: 2 arrangements" in out


# ---------------------------------------------------------------- sudoku


def valid_grid(grid, box):
    n = box * box
    want = list(range(1, n + 1))
    groups = [row for row in grid]
    groups += [[grid[r][c] for r in range(n)] for c in range(n)]
    groups += [
        [grid[br + r][bc + c] for r in range(box) for c in range(box)]
        for br in range(0, n, box) for bc in range(0, n, box)
    ]
    return all(sorted(g) == want for g in groups)


def keeps_clues(grid, puzzle):
    return all(p in (0, g) for prow, grow in zip(puzzle, grid) for p, g in zip(prow, grow))


def test_sudoku_puzzle_has_one_solution():
    puzzle = sudoku.parse(sudoku.PUZZLE)
    found = sudoku.solve(puzzle)
    assert len(found) == 1
    assert valid_grid(found[0], 3) and keeps_clues(found[0], puzzle)
    assert sudoku.is_solution(found[0], puzzle)
    assert sudoku.all_solutions(puzzle) == found


def deadly_rectangle(grid):
    """Rows r1, r2 in one band and columns c1, c2 in different stacks with grid values
    a b / b a: blanking those four cells leaves exactly two solutions (a and b swap)."""
    for r1, r2 in itertools.combinations(range(9), 2):
        for c1, c2 in itertools.combinations(range(9), 2):
            if r1 // 3 == r2 // 3 and c1 // 3 != c2 // 3:
                if grid[r1][c1] == grid[r2][c2] and grid[r1][c2] == grid[r2][c1]:
                    return [(r1, c1), (r1, c2), (r2, c1), (r2, c2)]
    return None


def test_sudoku_with_a_blanked_rectangle_has_two_solutions():
    solved = sudoku.solve(sudoku.parse(sudoku.PUZZLE))[0]
    cells = deadly_rectangle(solved)
    assert cells is not None
    puzzle = [row[:] for row in solved]
    for r, c in cells:
        puzzle[r][c] = 0
    found = sudoku.solve(puzzle)
    assert len(found) == 2 and found[0] != found[1]
    for grid in found:
        assert valid_grid(grid, 3) and keeps_clues(grid, puzzle)
    assert solved in found
    assert sorted(sudoku.all_solutions(puzzle)) == sorted(found)


def test_sudoku_with_few_clues_finds_two_solutions():
    solved = sudoku.solve(sudoku.parse(sudoku.PUZZLE))[0]
    # Keep the first seven rows: the last two rows can swap digits within columns freely.
    puzzle = [row[:] if r < 7 else [0] * 9 for r, row in enumerate(solved)]
    found = sudoku.solve(puzzle)
    assert len(found) == 2 and found[0] != found[1]
    for grid in found:
        assert valid_grid(grid, 3) and keeps_clues(grid, puzzle)


def test_sudoku_is_solution_rejects_bad_grids():
    puzzle = sudoku.parse(sudoku.PUZZLE)
    good = sudoku.solve(puzzle)[0]
    swapped = [row[:] for row in good]
    swapped[0][0], swapped[0][1] = swapped[0][1], swapped[0][0]
    assert not sudoku.is_solution(swapped, puzzle)
    assert not valid_grid(swapped, 3)


def test_sudoku_contradictory_clues_have_no_solution():
    puzzle = [[0] * 9 for _ in range(9)]
    puzzle[0][0] = puzzle[0][8] = 5
    assert sudoku.solve(puzzle) == []


def test_all_4x4_grids():
    grids = sudoku.all_solutions([[0] * 4 for _ in range(4)], box=2)
    assert len(grids) == 288
    assert len({tuple(map(tuple, g)) for g in grids}) == 288
    assert all(valid_grid(g, 2) for g in grids)


def test_sudoku_main(capsys):
    sudoku.main()
    out = capsys.readouterr().out
    assert "unique" in out and "not unique" not in out
    assert "534678912" in out


# ---------------------------------------------------------------- polyomino


def normal(cells):
    r0 = min(r for r, _ in cells)
    c0 = min(c for _, c in cells)
    return tuple(sorted((r - r0, c - c0) for r, c in cells))


def check_tiling(board, pieces, tiling, each_once):
    cells = sorted(c for _, placed in tiling for c in placed)
    assert cells == sorted(polyomino.board_cells(board))
    for name, placed in tiling:
        assert normal(placed) in set(pentomino.orientations(pieces[name]))
    if each_once:
        assert sorted(name for name, _ in tiling) == sorted(pieces)


def count_tilings_by_backtracking(board, pieces):
    """Counts tilings (pieces reusable) by covering the first empty cell, without the solver."""
    free = set(polyomino.board_cells(board))
    forms = [f for shape in pieces.values() for f in pentomino.orientations(shape)]

    def fill():
        if not free:
            return 1
        first = min(free)
        total = 0
        for form in forms:
            ar, ac = form[0]
            placed = [(first[0] + r - ar, first[1] + c - ac) for r, c in form]
            if all(cell in free for cell in placed):
                free.difference_update(placed)
                total += fill()
                free.update(placed)
        return total

    return fill()


def test_five_tetrominoes_tile_no_rectangle():
    for rows, cols in [(4, 5), (5, 4), (2, 10)]:
        assert polyomino.tilings(polyomino.rectangle(rows, cols), polyomino.TETROMINOES) == []


def test_domino_tilings_known_counts():
    fib = [1, 2]
    while len(fib) < 10:
        fib.append(fib[-1] + fib[-2])
    for n in range(1, 11):
        found = polyomino.tilings(polyomino.rectangle(2, n), polyomino.DOMINO, each_once=False)
        assert len(found) == fib[n - 1]
    assert len(polyomino.tilings(polyomino.rectangle(3, 4), polyomino.DOMINO, False)) == 11
    assert len(polyomino.tilings(polyomino.rectangle(4, 4), polyomino.DOMINO, False)) == 36
    assert polyomino.tilings(polyomino.rectangle(3, 3), polyomino.DOMINO, False) == []


@pytest.mark.parametrize("board", [
    polyomino.rectangle(4, 4),
    polyomino.rectangle(2, 8),
    ["##...", "####.", "#####", ".####", "...#."],
    [".####.", "######", "######", ".####."],
])
def test_tetromino_tilings_match_backtracking(board):
    found = polyomino.tilings(board, polyomino.TETROMINOES, each_once=False)
    assert len(found) == count_tilings_by_backtracking(board, polyomino.TETROMINOES)
    for tiling in found:
        check_tiling(board, polyomino.TETROMINOES, tiling, each_once=False)
    assert len({frozenset(frozenset(p) for _, p in t) for t in found}) == len(found)


def test_pentomino_3x20_agrees_with_the_pentomino_example():
    board = polyomino.rectangle(3, 20)
    found = polyomino.tilings(board, pentomino.SHAPES)
    blocks, _ = pentomino.pentomino_blocks(3, 20)
    assert len(found) == len(xcover.get_all(blocks)) == 8
    for tiling in found:
        check_tiling(board, pentomino.SHAPES, tiling, each_once=True)


def test_draw_shows_walls_exactly_between_placements():
    board = ["##...", "####.", "#####", ".####", "...#."]
    tiling = polyomino.tilings(board, polyomino.TETROMINOES, each_once=False)[0]
    lines = polyomino.draw(board, tiling)
    assert len(lines) == 2 * len(board) + 1
    owner = {cell: k for k, (_, placed) in enumerate(tiling) for cell in placed}
    name = {cell: tiling[k][0] for cell, k in owner.items()}
    char = lambda line, col: lines[line][col] if col < len(lines[line]) else " "
    for (r, c), k in owner.items():
        assert char(2 * r + 1, 4 * c + 2) == name[(r, c)]
        left, up = owner.get((r, c - 1)), owner.get((r - 1, c))
        assert (char(2 * r + 1, 4 * c) == "|") == (left != k)
        assert (char(2 * r, 4 * c + 2) == "-") == (up != k)
    # The holes are blank inside.
    assert char(1, 4 * 2 + 2) == " " and char(7, 2) == " " and char(9, 4 * 4 + 2) == " "


def test_polyomino_main(capsys, monkeypatch):
    monkeypatch.setattr("sys.argv", ["polyomino.py", "--quick"])
    polyomino.main()
    out = capsys.readouterr().out
    assert "4x5 rectangle: 0 tilings" in out
    assert "dominoes on a 4x4 square: 36" in out


# ---------------------------------------------------------------- communities


def block_count_score(cover, weights, edge_counts, edge_total, labels):
    """The block-count cost of a full cover, written out in Python."""
    score = sum(weights[b] for b in cover)
    counts = {}
    for b in cover:
        counts[labels[b]] = counts.get(labels[b], 0) + 1
    score += sum(math.lgamma(c + 1) for c in counts.values()) - math.lgamma(len(cover) + 1)
    r = edge_total - sum(edge_counts[b] for b in cover)
    # ln((2r - 1)!!) = ln((2r)!) - r ln 2 - ln(r!)
    score += math.lgamma(2 * r + 1) - r * math.log(2) - math.lgamma(r + 1)
    return score


@pytest.fixture(scope="module")
def community():
    blocks, weights, inside, labels = communities.community_model()
    return blocks, weights, inside, labels, xcover.get_all(blocks)


def test_community_partitions_are_partitions(community):
    blocks, _, _, _, every = community
    assert len(every) > 100
    for cover in every:
        assert_exact_cover(blocks, cover, range(communities.VERTICES))
    assert len({frozenset(c) for c in every}) == len(every)


def test_community_block_count_ranking_is_the_cheapest(community):
    blocks, weights, inside, labels, every = community
    edges = len(communities.EDGES)
    n = 25
    best = xcover.get_topn_sc(blocks, weights, inside, edges, labels, communities.VERTICES, n)
    assert len(best) == n
    scores = [block_count_score(c, weights, inside, edges, labels) for c in best]
    assert all(a <= b + 1e-9 for a, b in zip(scores, scores[1:]))
    everything = sorted(block_count_score(c, weights, inside, edges, labels) for c in every)
    assert scores == pytest.approx(everything[:n], abs=1e-9)
    for cover in best:
        assert_exact_cover(blocks, cover, range(communities.VERTICES))


def test_community_weight_ranking_is_the_cheapest(community):
    blocks, weights, _, _, every = community
    cost = lambda c: sum(weights[b] for b in c)
    best = xcover.get_topn(blocks, weights, 10)
    assert [cost(c) for c in best] == pytest.approx(sorted(map(cost, every))[:10], abs=1e-9)


def topp_bound_share(costs_so_far, elements):
    """The bound on the unseen probability share after returning covers of these costs."""
    log_bell = elements * math.log(0.792 * elements / math.log(elements + 1))
    k, last = len(costs_so_far), costs_so_far[-1]
    seen = sum(math.exp(last - c) for c in costs_so_far)  # scaled by exp(last)
    unseen = math.exp(log_bell) - k
    return unseen / (seen + unseen)


@pytest.mark.parametrize("scale, alpha", [(1, 0.5), (10, 0.5), (10, 0.1), (10, 0.01)])
def test_community_topp_stops_as_the_bound_allows(community, scale, alpha):
    blocks, weights, _, _, every = community
    weights = [w * scale for w in weights]
    cost = lambda c: sum(weights[b] for b in c)
    got = xcover.get_topp(blocks, weights, alpha)
    costs = [cost(c) for c in got]
    assert costs == pytest.approx(sorted(map(cost, every))[:len(got)], abs=1e-9)
    elements = communities.VERTICES
    if len(got) < len(every):
        assert topp_bound_share(costs, elements) <= alpha
        assert topp_bound_share(costs[:-1], elements) > alpha
    else:
        # With unscaled weights the bound never drops below alpha: every partition comes out.
        assert scale == 1
        assert {frozenset(c) for c in got} == {frozenset(c) for c in every}
    # Whatever the bound says, the true unseen share is at most alpha.
    total = sum(math.exp(-cost(c)) for c in every)
    assert 1 - sum(math.exp(-c) for c in costs) / total <= alpha + 1e-12


def test_communities_main_runs(capsys):
    communities.main()
    out = capsys.readouterr().out
    assert out.count("weight sum") >= 9


# ---------------------------------------------------------------- the guide

GUIDE = os.path.join(ROOT, "docs", "guide.md")


def guide_examples():
    return markdown_python_blocks(GUIDE)


def test_the_guide_has_its_examples():
    if not os.path.exists(GUIDE):
        pytest.skip("no docs/ next to the tests")
    examples = guide_examples()
    assert len(examples) >= 12
    # Each example checks itself: it has to assert something.
    assert all("assert" in code for code in examples)


@pytest.mark.parametrize("index", range(len(guide_examples())))
def test_guide_example_runs(index):
    run_documented_example(guide_examples()[index], f"guide example {index}")
