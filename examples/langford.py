"""Langford pairings: arrange two copies of each of 1..n in a row of 2n places so that the
two copies of k have exactly k numbers between them.

Elements: ``k - 1`` says "number k is placed" (0..n-1) and ``n + i`` says "place i is filled"
(0..2n-1). Putting the copies of k at places i and i + k + 1 is the block
[k - 1, n + i, n + i + k + 1]. Every arrangement and its mirror image are both found.
"""

import sys

import xcover


def langford_blocks(n):
    """Blocks for order n, and for each block its (k, first place)."""
    blocks, moves = [], []
    for k in range(1, n + 1):
        for i in range(2 * n - k - 1):
            blocks.append([k - 1, n + i, n + i + k + 1])
            moves.append((k, i))
    return blocks, moves


def arrangement(n, cover, moves):
    """The row of 2n numbers that a cover describes."""
    row = [0] * (2 * n)
    for b in cover:
        k, i = moves[b]
        row[i] = row[i + k + 1] = k
    return row


def langford(n):
    """Every Langford arrangement of order n (mirror images counted separately)."""
    blocks, moves = langford_blocks(n)
    # For n = 1 the number 1 fits nowhere, so its element is in no block; xcover only sees
    # elements that some block holds and would report the empty cover. No block, no answer.
    if len({e for block in blocks for e in block}) < 3 * n:
        return []
    return [arrangement(n, cover, moves) for cover in xcover.get_all(blocks)]


def main():
    orders = [int(a) for a in sys.argv[1:]] or [3, 4, 7, 8]
    for n in orders:
        rows = langford(n)
        example = " ".join(map(str, rows[0])) if rows else "-"
        print(f"n = {n}: {len(rows)} arrangements, e.g. {example}")


if __name__ == "__main__":
    main()
