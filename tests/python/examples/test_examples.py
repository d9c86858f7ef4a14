"""The examples run and give consistent answers."""

import pytest

import communities
import pentomino
import xcover


def test_ranked_pentomino_tilings_are_cheapest_first_and_valid():
    blocks, _ = pentomino.pentomino_blocks(3, 20)
    costs = pentomino.placement_costs(blocks, 20)
    best = xcover.get_topn(blocks, costs, 5)
    totals = [sum(costs[b] for b in cover) for cover in best]
    assert totals == sorted(totals)
    all_tilings = xcover.get_all(blocks)
    assert len(all_tilings) == 8
    assert min(sum(costs[b] for b in c) for c in all_tilings) == totals[0]
    for cover in best:
        cells = sorted(cell for b in cover for cell in blocks[b][1:])
        assert cells == list(range(12, 72))


def test_communities_example(capsys):
    assert communities.main() == 0
    out = capsys.readouterr().out
    assert "get_topn_sc" in out
    blocks, weights, inside, labels = communities.community_model()
    best = xcover.get_topn_sc(blocks, weights, inside, len(communities.EDGES), labels, 10, 3)
    for cover in best:
        assert sorted(v for b in cover for v in blocks[b]) == list(range(10))
        # Printed as vertex groups, not block indices.
        groups = sorted(sorted(blocks[b]) for b in cover)
        assert "  " + " | ".join(",".join(map(str, g)) for g in groups) in out
        # Drawn with one colour per group.
        colour = communities.group_of_each_vertex(blocks, cover)
        for g in groups:
            assert {colour[v] for v in g} == {colour[g[0]]}
        assert len(set(colour)) == len(groups)


def test_communities_draws_a_png_with_matplotlib(tmp_path, capsys):
    path = tmp_path / "best.png"
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        with pytest.raises(SystemExit) as refused:
            communities.main(["--png", str(path)])
        assert refused.value.code == 2
        assert "--png needs matplotlib" in capsys.readouterr().err
        return
    assert communities.main(["--png", str(path)]) == 0
    assert path.read_bytes().startswith(b"\x89PNG\r\n\x1a\n")
    assert f"drew them to {path}" in capsys.readouterr().out
