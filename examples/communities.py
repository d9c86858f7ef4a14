"""Rank the partitions of a small graph into communities.

Candidate blocks are the connected vertex sets of up to 4 vertices. A block's weight is a
cost, -log p, where p grows with the share of possible edges the block holds inside; its label
is its size, and its edge count the number of edges inside it. get_topn and get_topp rank
partitions by the sum of weights; get_topn_sc adds the block-count terms: how many blocks of
each size, and how many edges the partition leaves between blocks.
"""

import itertools
import math

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


def show(title, blocks, covers, score=None):
    print(title)
    for cover in covers:
        groups = " | ".join(",".join(map(str, blocks[b])) for b in sorted(cover, key=lambda b: blocks[b]))
        suffix = f"   weight sum {score(cover):.3f}" if score else ""
        print(f"  {groups}{suffix}")


def main():
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


if __name__ == "__main__":
    main()
