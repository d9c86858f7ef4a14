# Type stubs for the xcover extension module.
#
# A problem is a list of blocks, each a list of element ids (unsigned 64-bit integers); a cover
# is returned as the list of the indices of its blocks. Weights are costs (for example -log p):
# the ranked functions return the cheapest covers first. `max_iter` caps the number of search
# steps and `max_heap` the number of pending partial covers; reaching either ends the search
# with the covers found so far.
#
# count_all, iter_all and split are extra functions, not listed in __all__: they count, stream
# and split the search of get_all, restricted to the covers holding every block of `include`.
#
# Errors: TypeError for arguments of the wrong shape or type, OverflowError for an integer
# outside 0..2**64 - 1, MemoryError when memory runs out, and an internal PanicException
# (a BaseException, not exported) when an internal check fails, for example when `weights`
# is shorter than a block index that the search reaches.

from collections.abc import Iterator, Sequence

__all__ = ["get_all", "get_top", "get_topn", "get_topn_sc", "get_topp"]

def get_all(partitions: Sequence[Sequence[int]]) -> list[list[int]]:
    """Get all partitions given a set of covers"""

def get_top(
    partitions: Sequence[Sequence[int]],
    weights: Sequence[float],
    max_iter: int | None = None,
    max_heap: int | None = None,
) -> list[list[int]]:
    """Get partitions in order of decreasing likelihood, given partition weights"""

def get_topn(
    partitions: Sequence[Sequence[int]],
    weights: Sequence[float],
    n: int,
    max_iter: int | None = None,
    max_heap: int | None = None,
) -> list[list[int]]:
    """Get top `n` partitions in order of decreasing likelihood, given partition weights"""

def get_topn_sc(
    partitions: Sequence[Sequence[int]],
    weights: Sequence[float],
    edge_counts: Sequence[int],
    edge_total: int,
    labels: Sequence[int],
    vertex_total: int,
    n: int,
    max_iter: int | None = None,
    max_heap: int | None = None,
) -> list[list[int]]:
    """Get top `n` partitions in order of decreasing likelihood, given partition weights"""

def get_topp(
    partitions: Sequence[Sequence[int]],
    weights: Sequence[float],
    alpha: float,
    max_iter: int | None = None,
    max_heap: int | None = None,
) -> list[list[int]]:
    """Get top partitions in order of decreasing likelihood, with total
    probability coverage greater than `1 - alpha`"""

def count_all(partitions: Sequence[Sequence[int]], include: Sequence[int] = ()) -> int:
    """Count the partitions that get_all would return, without building them.

    `include` lists block indices that every counted partition must contain."""

def iter_all(
    partitions: Sequence[Sequence[int]], include: Sequence[int] = ()
) -> Iterator[list[int]]:
    """Iterate over the partitions of get_all, in the same order, one list at a time.

    The iterator owns a copy of the problem and finds partitions as they are asked for.
    `include` lists block indices that every partition returned must contain."""

def split(
    partitions: Sequence[Sequence[int]], parts: int, include: Sequence[int] = ()
) -> list[list[int]]:
    """Split the search of get_all into at least `parts` independent subtrees, when it
    branches that much. Returns a list of prefixes (lists of block indices) in search
    order: concatenating iter_all(partitions, include=prefix) over them gives
    get_all(partitions), restricted to the partitions containing `include`."""
