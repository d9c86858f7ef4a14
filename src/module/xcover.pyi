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
# blocks_from_matrix, also extra, turns a 0/1 matrix into blocks.
#
# Errors: TypeError for arguments of the wrong shape or type, OverflowError for an integer
# outside 0..2**64 - 1, MemoryError when memory runs out, and an internal PanicException
# (a BaseException, not exported) when an internal check fails, for example when `weights`
# is shorter than a block index that the search reaches.

from collections.abc import Iterator, Sequence
from typing import Any, Protocol, SupportsFloat, SupportsIndex, final

__all__ = ["get_all", "get_top", "get_topn", "get_topn_sc", "get_topp"]

__version__: str

# Where a sequence is expected, any sequence works (lists, tuples, ranges), and so does an
# array: numpy arrays match _Array structurally, so numpy is not needed to type-check. Integers
# may be any object with __index__ (numpy integers included), numbers any real number.
class _Array(Protocol):
    @property
    def shape(self) -> tuple[int, ...]: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Any: ...

_Integers = Sequence[SupportsIndex] | _Array
_Numbers = Sequence[SupportsFloat | SupportsIndex] | _Array
# The blocks of a problem: element values, one sequence (or 1-D array) per block.
_Blocks = Sequence[_Integers] | _Array
# A 0/1 matrix: booleans, or numbers equal to 0 or 1.
_Matrix = Sequence[_Numbers] | _Array

def get_all(partitions: _Blocks) -> list[list[int]]:
    """Get all partitions given a set of covers"""

def get_top(
    partitions: _Blocks,
    weights: _Numbers,
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
) -> list[list[int]]:
    """Get partitions in order of decreasing likelihood, given partition weights"""

def get_topn(
    partitions: _Blocks,
    weights: _Numbers,
    n: SupportsIndex,
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
) -> list[list[int]]:
    """Get top `n` partitions in order of decreasing likelihood, given partition weights"""

def get_topn_sc(
    partitions: _Blocks,
    weights: _Numbers,
    edge_counts: _Integers,
    edge_total: SupportsIndex,
    labels: _Integers,
    vertex_total: SupportsIndex,
    n: SupportsIndex,
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
) -> list[list[int]]:
    """Get top `n` partitions in order of decreasing likelihood, given partition weights"""

def get_topp(
    partitions: _Blocks,
    weights: _Numbers,
    alpha: SupportsFloat | SupportsIndex,
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
) -> list[list[int]]:
    """Get top partitions in order of decreasing likelihood, with total
    probability coverage greater than `1 - alpha`"""

def count_all(partitions: _Blocks, include: _Integers = ()) -> int:
    """Count the partitions that get_all would return, without building them.

    `include` lists block indices that every counted partition must contain."""

@final
class CoverIterator(Iterator[list[int]]):
    """Iterator over the covers of iter_all, in the order of get_all."""
    def __iter__(self) -> CoverIterator: ...
    def __next__(self) -> list[int]: ...

def iter_all(
    partitions: _Blocks, include: _Integers = ()
) -> Iterator[list[int]]:
    """Iterate over the partitions of get_all, in the same order, one list at a time.

    The iterator owns a copy of the problem and finds partitions as they are asked for.
    `include` lists block indices that every partition returned must contain."""

@final
class RankedIterator(Iterator[tuple[float, list[int]]]):
    """Iterator over (cost, cover) pairs of a ranked stream, in nondecreasing cost."""
    def __iter__(self) -> RankedIterator: ...
    def __next__(self) -> tuple[float, list[int]]: ...
    def take_until(
        self, alpha: SupportsFloat, count: SupportsIndex
    ) -> list[tuple[float, list[int]]]: ...

def iter_top(
    partitions: _Blocks,
    weights: _Numbers,
    include: _Integers = (),
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
) -> RankedIterator:
    """Iterate over the partitions of get_top, in the same order, as (cost, partition) pairs.

    The cost is the sum of the partition's weights. The iterator owns a copy of the problem
    and searches as pairs are asked for. `include` lists block indices that every partition
    returned must contain. `weights` needs one weight per block."""

def iter_top_sc(
    partitions: _Blocks,
    weights: _Numbers,
    edge_counts: _Integers,
    edge_total: SupportsIndex,
    labels: _Integers,
    vertex_total: SupportsIndex,
    include: _Integers = (),
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
) -> RankedIterator:
    """Iterate over partitions in nondecreasing block-count score (the score get_topn_sc ranks
    by), as (score, partition) pairs.

    A stronger bound than get_topn_sc's lets the search reach far larger graphs. The order is
    exact for finite weights, no element listed twice in a block, and `vertex_total` equal
    to the number of elements; other input raises ValueError. `weights`, `edge_counts` and
    `labels` need one entry per block. `include` lists block indices that every partition
    returned must contain."""

def split(
    partitions: _Blocks, parts: SupportsIndex, include: _Integers = ()
) -> list[list[int]]:
    """Split the search of get_all into at least `parts` independent subtrees, when it
    branches that much. Returns a list of prefixes (lists of block indices) in search
    order: concatenating iter_all(partitions, include=prefix) over them gives
    get_all(partitions), restricted to the partitions containing `include`."""

def blocks_from_matrix(matrix: _Matrix) -> list[list[int]]:
    """Turn a 0/1 matrix into blocks: one block per row, listing the columns that hold a 1.

    `matrix` is a 2-D array (numpy bool, integer or float values 0 and 1) or a sequence of
    equally long rows. Pass the result, not the matrix, to the solvers: they read each
    inner list as element values. Every column should hold a 1 somewhere; a column without
    one is absent from the blocks, so the solvers do not require it to be covered."""
