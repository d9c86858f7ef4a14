"""Rank the partitions of a small graph into communities.

Candidate blocks are the connected vertex sets of up to 4 vertices. A block's weight is a
cost, -log p, where p grows with the share of possible edges the block holds inside; its label
is its size, and its edge count the number of edges inside it. get_topn and get_topp rank
partitions by the sum of weights; get_topn_sc adds the block-count terms: how many blocks of
each size, and how many edges the partition leaves between blocks.

Each partition is printed as its vertex groups. With matplotlib installed,
`--png FILE` also draws the best partitions under the block-count model, the
graph's vertices coloured by group, to a PNG file:

    python examples/communities.py --png communities.png
"""

import argparse
import itertools
import math
import sys

import xcover

# Two dense groups (0-4 and 5-9) joined by two edges.
EDGES = [
    (0, 1), (0, 2), (1, 2), (1, 3), (2, 3), (3, 4), (2, 4),
    (5, 6), (5, 7), (6, 7), (7, 8), (8, 9), (6, 9), (7, 9),
    (4, 5), (3, 8),
]
VERTICES = 10


def connected_sets(edges, vertices, max_size):
    neighbours = {v: set() for v in range(vertices)}
    for a, b in edges:
        neighbours[a].add(b)
        neighbours[b].add(a)
    found = {frozenset([v]) for v in range(vertices)}
    frontier = set(found)
    for _ in range(max_size - 1):
        grown = set()
        for group in frontier:
            for v in group:
                for u in neighbours[v] - group:
                    grown.add(group | {u})
        found |= grown
        frontier = grown
    return sorted(sorted(g) for g in found)


def community_model(edges=EDGES, vertices=VERTICES, max_size=4):
    blocks = connected_sets(edges, vertices, max_size)
    edge_set = {frozenset(e) for e in edges}
    inside = [sum(frozenset(p) in edge_set for p in itertools.combinations(b, 2)) for b in blocks]
    weights = []
    for block, k in zip(blocks, inside):
        possible = len(block) * (len(block) - 1) // 2
        density = (k + 1) / (possible + 2)
        weights.append(-math.log(density) * len(block))
    labels = [len(b) for b in blocks]
    return blocks, weights, inside, labels


def vertex_groups(blocks, cover):
    """The partition `cover` (block indices) as its groups of vertices, in vertex order."""
    return sorted(sorted(blocks[b]) for b in cover)


def group_of_each_vertex(blocks, cover, vertices=VERTICES):
    """Per vertex, the number of its group in vertex_groups (the colour it is drawn in)."""
    group = [None] * vertices
    for number, members in enumerate(vertex_groups(blocks, cover)):
        for v in members:
            group[v] = number
    return group


def show(title, blocks, covers, score=None):
    print(title)
    for cover in covers:
        groups = " | ".join(",".join(map(str, g)) for g in vertex_groups(blocks, cover))
        suffix = f"   weight sum {score(cover):.3f}" if score else ""
        print(f"  {groups}{suffix}")


def circle_layout(vertices):
    """Vertices evenly on a circle, the first at the top, going clockwise."""
    return [(math.sin(2 * math.pi * v / vertices), math.cos(2 * math.pi * v / vertices))
            for v in range(vertices)]


def draw_partitions(path, blocks, covers, titles, edges=EDGES, vertices=VERTICES):
    """Draw each partition of `covers` as the graph with its vertices coloured by group, side
    by side, into the PNG file `path`. Needs matplotlib."""
    import matplotlib

    matplotlib.use("Agg")  # files only: no display needed
    import matplotlib.pyplot as plt

    at = circle_layout(vertices)
    figure, axes = plt.subplots(1, len(covers), figsize=(3.6 * len(covers), 3.9), squeeze=False)
    palette = plt.get_cmap("tab10")
    for ax, cover, title in zip(axes[0], covers, titles):
        group = group_of_each_vertex(blocks, cover, vertices)
        for a, b in edges:
            between = group[a] != group[b]
            ax.plot([at[a][0], at[b][0]], [at[a][1], at[b][1]], color="0.7" if between else "0.2",
                    linestyle="--" if between else "-", linewidth=1, zorder=1)
        ax.scatter([x for x, _ in at], [y for _, y in at], s=420, zorder=2, edgecolors="black",
                   color=[palette(g % 10) for g in group])
        for v, (x, y) in enumerate(at):
            ax.annotate(str(v), (x, y), ha="center", va="center", fontsize=10, zorder=3)
        ax.set_title(title, fontsize=10)
        ax.set_xlim(-1.25, 1.25)
        ax.set_ylim(-1.25, 1.25)
        ax.set_aspect("equal")
        ax.axis("off")
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    plt.close(figure)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--png", metavar="FILE",
                        help="draw the best partitions under the block-count model to FILE "
                             "(needs matplotlib)")
    arguments = parser.parse_args(argv)
    if arguments.png:
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            parser.error("--png needs matplotlib: pip install matplotlib")
    return arguments


def main(argv=()):
    arguments = parse_arguments(argv)
    blocks, weights, inside, labels = community_model()
    cost = lambda cover: sum(weights[b] for b in cover)
    print(f"graph: {VERTICES} vertices, {len(EDGES)} edges; {len(blocks)} candidate blocks")
    show("best 3 partitions by weight (get_topn):", blocks, xcover.get_topn(blocks, weights, 3), cost)
    top_p = xcover.get_topp(blocks, weights, 0.5)
    show(f"partitions holding all but alpha = 0.5 of the probability (get_topp): {len(top_p)}",
         blocks, top_p[:3], cost)
    # Seven required arguments: by keyword, they cannot be swapped unnoticed.
    best_sc = xcover.get_topn_sc(blocks, weights, edge_counts=inside, edge_total=len(EDGES),
                                 labels=labels, vertex_total=VERTICES, n=3)
    show("best 3 partitions under the block-count model (get_topn_sc):", blocks, best_sc, cost)
    if arguments.png:
        titles = [f"block-count model: #{rank}" for rank in range(1, len(best_sc) + 1)]
        draw_partitions(arguments.png, blocks, best_sc, titles)
        print(f"drew them to {arguments.png}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
