"""Random covers: a seeded first cover, and a uniform sample.

``next(xcover.iter_all(blocks, seed=s))`` is quick and random, but not uniform: at every branch
the seeded search picks a block with equal odds, however many covers lie below it. A puzzle
generator that wants every cover equally likely draws a rank below ``count_all`` and finds
the cover of that rank: ``split`` cuts the search into prefixes, ``count_all(include=prefix)``
counts each one's covers, and the prefix holding the rank is cut again, until few enough
covers are left to walk with ``iter_all(include=prefix)``.

Run it: ``python examples/random_cover.py`` prints how often each kind of cover comes first
under both methods, on a problem where they differ.
"""

import itertools
import random
import sys
from collections import Counter

import xcover


def cover_at_rank(blocks, rank, *, include=(), secondary=(), parts=16, walk_below=256):
    """The cover of index `rank` in ``get_all(blocks)`` restricted to those holding `include`.

    Cuts the search with ``split`` and keeps the prefix whose covers hold `rank`, subtracting
    the counts of the prefixes before it, until the prefix has at most `walk_below` covers,
    which ``iter_all`` walks. Raises IndexError when `rank` is not below the number of covers.
    """
    if parts < 2 or walk_below < 1:
        raise ValueError("parts must be at least 2 and walk_below at least 1")
    prefix = list(include)
    count = xcover.count_all(blocks, include=prefix, secondary=secondary)
    if not 0 <= rank < count:
        raise IndexError(f"rank {rank} is not below the {count} covers")
    while count > walk_below:
        # A subtree with two covers or more branches, so split gives at least two prefixes,
        # each with fewer covers (subtrees without any are left out): the loop ends.
        for piece in xcover.split(blocks, parts, include=prefix, secondary=secondary):
            piece_count = xcover.count_all(blocks, include=piece, secondary=secondary)
            if rank < piece_count:
                prefix, count = piece, piece_count
                break
            rank -= piece_count
        else:
            raise AssertionError("the prefixes' counts add up to less than their subtree's")
    covers = xcover.iter_all(blocks, include=prefix, secondary=secondary)
    return next(itertools.islice(covers, rank, None))


def uniform_cover(blocks, rng=random, *, secondary=(), parts=16, walk_below=256):
    """A cover of `blocks` drawn uniformly among all of them, or None when there is none."""
    total = xcover.count_all(blocks, secondary=secondary)
    if total == 0:
        return None
    rank = rng.randrange(total)
    return cover_at_rank(blocks, rank, secondary=secondary, parts=parts, walk_below=walk_below)


def seeded_first_cover(blocks, seed, *, secondary=()):
    """The first cover of a seeded search: random, not uniform; None when there is none."""
    return next(xcover.iter_all(blocks, secondary=secondary, seed=seed), None)


def lopsided_blocks(k):
    """Element 0 in two blocks: one holding every element (one cover below it), and [0],
    below which the elements 1..k are covered by singletons and neighbouring pairs (the
    Fibonacci number F(k + 1) covers)."""
    blocks = [list(range(k + 1)), [0]]
    blocks += [[e] for e in range(1, k + 1)]
    blocks += [[e, e + 1] for e in range(1, k)]
    return blocks


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    draws = int(argv[0]) if argv else 2000
    blocks = lopsided_blocks(10)
    whole = [0]
    total = xcover.count_all(blocks)
    rng = random.Random(2024)
    seeded = Counter(seeded_first_cover(blocks, s) == whole for s in range(draws))
    uniform = Counter(uniform_cover(blocks, rng, parts=4, walk_below=8) == whole for _ in range(draws))
    print(f"{total} covers; the cover [0] (one block for everything) should come 1/{total} of the time")
    print(f"seeded first cover: [0] in {seeded[True]} of {draws} draws ({seeded[True] / draws:.1%})")
    print(f"uniform sample:     [0] in {uniform[True]} of {draws} draws ({uniform[True] / draws:.1%})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
