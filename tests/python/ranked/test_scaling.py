"""Trivial inputs that must stay trivial: a hang here would show as a subprocess timeout."""

import random

import xcover

from conftest import run_python


def test_a_million_singletons_give_one_cover_without_a_quadratic_scan():
    # Every level used to scan all remaining columns: about 17 minutes at this size.
    result = run_python(
        """
        import xcover
        n = 10**6
        blocks = [[i] for i in range(n)]
        covers = xcover.get_all(blocks)
        assert covers == [list(range(n))], covers[:1]
        assert xcover.count_all(blocks) == 1
        print("ok")
        """,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["ok"]


def test_one_very_wide_block_builds_the_block_count_table_fast():
    # The lower-bound table paired every two entries: 10^10 steps for this block.
    result = run_python(
        """
        import xcover
        m = 200_000
        block = list(range(m))
        assert xcover.get_topn_sc([block], [2.0], [0], 0, [7], m, 0) == []
        assert xcover.get_topn_sc([block], [2.0], [0], 0, [7], m, 1) == [[0]]
        print("ok")
        """,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["ok"]


def test_label_values_only_matter_through_equality():
    # Labels that a modulo hash piles into one bucket give the same ranking as any other
    # labels with the same equalities.
    rng = random.Random(5)
    for _ in range(30):
        elements = rng.randint(2, 7)
        blocks = [[e] for e in range(elements)]
        blocks += [rng.sample(range(elements), rng.randint(2, elements)) for _ in range(6)]
        weights = [rng.uniform(0.1, 3.0) for _ in blocks]
        kinds = [rng.randrange(3) for _ in blocks]
        adversarial = [k * 1741 for k in kinds]
        ordinary = [[11, 5, 2**63][k] for k in kinds]
        edges = [len(b) for b in blocks]
        args = (weights, edges, sum(edges) + 3)
        assert xcover.get_topn_sc(blocks, *args, adversarial, elements, 5) == xcover.get_topn_sc(
            blocks, *args, ordinary, elements, 5
        )
