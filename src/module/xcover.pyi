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
# Their `secondary`, and that of the ranked streams iter_top and iter_top_sc, lists elements a
# cover may leave uncovered (never covered twice), and `colors` lets blocks share a secondary
# element they give the same color (as estimate_all).
# blocks_from_matrix, also extra, turns a 0/1 matrix into blocks; read_dlx and read_dlx_file
# read a problem written in Knuth's DLX format; estimate_all estimates the search of count_all
# by random probes; main is the command line (the console script `xcover`); number_blocks
# numbers blocks of arbitrary hashable items as element ints.
# set_threads and get_threads, extra as well, set and read how many threads one search may use.
#
# Errors: TypeError for arguments of the wrong shape or type, OverflowError for an integer
# outside 0..2**64 - 1, MemoryError when memory runs out, and an internal PanicException
# (a BaseException, not exported) when an internal check fails, for example when `weights`
# is shorter than a block index that the search reaches.

from collections.abc import Callable, Hashable, Iterator, Mapping, Sequence
from os import PathLike
from typing import Any, NamedTuple, Protocol, SupportsFloat, SupportsIndex, final

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
# Colors of secondary elements: per block None or a mapping of element to color.
_Colors = Sequence[Mapping[SupportsIndex, SupportsIndex] | None]
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

def count_all(
    partitions: _Blocks,
    include: _Integers = (),
    secondary: _Integers = (),
    colors: _Colors | None = None,
    progress: Callable[[float, int], object] | None = None,
) -> int:
    """Count the partitions that get_all would return, without building them.

    `include` lists block indices that every counted partition must contain.
    `secondary` lists element values that a partition may leave uncovered but never covers
    twice; the search never branches on them, so a block holding only such elements is
    never chosen.
    `colors`, when given, has one entry per block: None or a dict mapping secondary elements
    of that block to colors (ints). Blocks may share a secondary element when each gives it
    the same color; a block holding it without a color owns it outright. A color on an
    element the block lacks or that is not in `secondary` raises ValueError.

    `progress`, when given, is called as progress(fraction, count) on the calling thread
    about ten times a second while the search runs, and once with fraction 1.0 and the
    total at the end: `fraction` is the share of the search tree already searched (each
    position's share split evenly among its branches), never decreasing; `count` the
    partitions counted so far (with helper threads, as of their last report). An exception
    it raises stops the count and propagates."""

@final
class CoverIterator(Iterator[list[int]]):
    """Iterator over the covers of iter_all, in the order of get_all."""
    def __iter__(self) -> CoverIterator: ...
    def __next__(self) -> list[int]: ...
    @property
    def progress(self) -> tuple[float, int]:
        """(fraction, count): the share of the search tree searched so far (as count_all's progress
        reports it; the search runs up to a batch of partitions ahead of the iterator, and the
        share is 1.0 once it is over) and the partitions returned so far."""

def iter_all(
    partitions: _Blocks,
    include: _Integers = (),
    secondary: _Integers = (),
    seed: SupportsIndex | None = None,
    colors: _Colors | None = None,
) -> CoverIterator:
    """Iterate over the partitions of get_all, in the same order, one list at a time.

    The iterator owns a copy of the problem and finds partitions as they are asked for.
    `include` lists block indices that every partition returned must contain.
    `secondary` lists element values that a partition may leave uncovered but never covers
    twice; the search never branches on them, so a block holding only such elements is
    never chosen.
    `colors`, when given, has one entry per block: None or a dict mapping secondary elements
    of that block to colors (ints). Blocks may share a secondary element when each gives it
    the same color; a block holding it without a color owns it outright. A color on an
    element the block lacks or that is not in `secondary` raises ValueError.

    With `seed` (an int in 0..2**64-1), the blocks of each branch are tried in a pseudo-random
    order fixed by the seed and the position: the same partitions, each once, in another
    order, the same for the same seed on every platform, so the first one is a random
    partition (not a uniform sample: see the guide). A seeded iterator searches on its
    caller's thread; an unseeded one, with set_threads above 1, has helper threads search
    a bounded window of the tree ahead of it."""

@final
class RankedIterator(Iterator[tuple[float, list[int]]]):
    """Iterator over (cost, cover) pairs of a ranked stream, in nondecreasing cost."""
    def __iter__(self) -> RankedIterator: ...
    def __next__(self) -> tuple[float, list[int]]: ...
    def take_until(
        self, alpha: SupportsFloat, count: SupportsIndex
    ) -> list[tuple[float, list[int]]]: ...
    @property
    def progress(self) -> tuple[float, float | None, int]:
        """(bound, best, count): a lower bound on the cost of every cover not yet returned (the
        last cost returned, since costs never decrease; -inf before the first, inf once the
        stream has ended with nothing left, not by a cap; iter_top_sc raises it to the least
        bound among the partial covers its search holds, and it never goes back), the cost of
        the best cover (the first returned; None before it) and the number of covers
        returned, by next() or take_until."""

def iter_top(
    partitions: _Blocks,
    weights: _Numbers,
    include: _Integers = (),
    max_iter: SupportsIndex | None = None,
    max_heap: SupportsIndex | None = None,
    secondary: _Integers = (),
    colors: _Colors | None = None,
) -> RankedIterator:
    """Iterate over the partitions of get_top, in the same order, as (cost, partition) pairs.

    The cost is the sum of the partition's weights. The iterator owns a copy of the problem
    and searches as pairs are asked for. `include` lists block indices that every partition
    returned must contain: the pairs are then those of the stream without `include` that
    hold them, in the same order, to the bit. `weights` needs one weight per block.
    `secondary` lists element values that a partition may leave uncovered but never covers
    twice; the search never branches on them, so a block holding only such elements is
    never chosen. The costs still come in nondecreasing order.
    `colors`, when given, has one entry per block: None or a dict mapping secondary elements
    of that block to colors (ints). Blocks may share a secondary element when each gives it
    the same color; a block holding it without a color owns it outright. A color on an
    element the block lacks or that is not in `secondary` raises ValueError.
    With colors, the pairs still come in nondecreasing cost."""

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
    secondary: _Integers = (),
    colors: _Colors | None = None,
) -> RankedIterator:
    """Iterate over partitions in nondecreasing block-count score (the score get_topn_sc ranks
    by), as (score, partition) pairs.

    A stronger bound than get_topn_sc's lets the search reach far larger graphs. The order is
    exact for finite weights, no element listed twice in a block, and `vertex_total` equal
    to the number of elements; other input raises ValueError, as does reaching a partition
    whose blocks hold more edges than `edge_total`. `weights`, `edge_counts` and `labels`
    need one entry per block. `include` lists block indices that every partition returned
    must contain.
    `secondary` lists element values that a partition may leave uncovered but never covers
    twice; the search never branches on them, so a block holding only such elements is
    never chosen. A score depends on the partition's blocks alone, whichever
    secondary elements they leave uncovered; `vertex_total` still counts every element.
    `colors`, when given, has one entry per block: None or a dict mapping secondary elements
    of that block to colors (ints). Blocks may share a secondary element when each gives it
    the same color; a block holding it without a color owns it outright. A color on an
    element the block lacks or that is not in `secondary` raises ValueError."""

def split(
    partitions: _Blocks,
    parts: SupportsIndex,
    include: _Integers = (),
    secondary: _Integers = (),
    colors: _Colors | None = None,
    progress: Callable[[float, int], object] | None = None,
) -> list[list[int]]:
    """Split the search of get_all into at least `parts` independent subtrees, when it
    branches that much. Returns a list of prefixes (lists of block indices) in search
    order: concatenating iter_all(partitions, include=prefix) over them gives
    get_all(partitions), restricted to the partitions containing `include`.
    With `secondary` and `colors`, pass the same to iter_all.
    `secondary` lists element values that a partition may leave uncovered but never covers
    twice; the search never branches on them, so a block holding only such elements is
    never chosen.
    `colors`, when given, has one entry per block: None or a dict mapping secondary elements
    of that block to colors (ints). Blocks may share a secondary element when each gives it
    the same color; a block holding it without a color owns it outright. A color on an
    element the block lacks or that is not in `secondary` raises ValueError.

    `progress`, when given, is called as progress(fraction, parts) on the calling thread
    about ten times a second while the split runs, and once with fraction 1.0 and the
    number of prefixes at the end: `parts` is the subtrees and partitions held so far (one
    found to be a dead end drops out), `fraction` their share of `parts` asked for, and once
    the split walks the tree to place its cut, the walk's share of the rest too (below 1.0
    until the end, never decreasing).
    An exception it raises stops the split and propagates."""

def set_threads(n: SupportsIndex) -> None:
    """Let every search use up to `n` threads, its caller's included (1: the caller's alone;
    0: one per processor the process may use).

    The helpers beyond the caller's thread are shared by all the searches of the process,
    however many threads call at once. Results are the same for every setting: the same
    partitions in the same order, the same caps and errors. At most 4 threads per processor
    are used: a larger `n` gets that many, with a RuntimeWarning. The environment variable
    XCOVER_THREADS, read once per process at the first import, gives the first setting
    (the same values; anything else is ignored with a RuntimeWarning)."""

def get_threads() -> int:
    """The number of threads a search may use, its caller's included (see set_threads)."""

def blocks_from_matrix(matrix: _Matrix) -> list[list[int]]:
    """Turn a 0/1 matrix into blocks: one block per row, listing the columns that hold a 1.

    `matrix` is a 2-D array (numpy bool, integer or float values 0 and 1) or a sequence of
    equally long rows. Pass the result, not the matrix, to the solvers: they read each
    inner list as element values. Every column should hold a 1 somewhere; a column without
    one is absent from the blocks, so the solvers do not require it to be covered."""

# The named tuple (a struct sequence) that read_dlx and read_dlx_file return.
class _DlxProblem(NamedTuple):
    blocks: list[list[int]]
    secondary: list[int]
    names: list[str]
    # Attributes only, not in the tuple.
    @property
    def unmet(self) -> list[int]: ...
    @property
    def colors(self) -> list[dict[int, int]] | None: ...
    @property
    def color_names(self) -> list[str]: ...

def read_dlx(text: str) -> _DlxProblem:
    """Read an exact-cover problem in Knuth's DLX format from a str.

    The first non-comment line names the items, primary ones, then `|` and the secondary
    ones; each later line is one option, the names of its items. Lines starting with `|`
    are comments, blank lines are skipped. Returns DlxProblem(blocks, secondary, names):
    the options as lists of item numbers (items numbered 0.. in the order of the items
    line), the secondary items' numbers and the item names. Pass blocks and secondary to
    count_all, iter_all or split. A primary item that no option holds leaves the problem
    without a cover: the attribute `unmet` lists such items, and the blocks then end with
    three that no exact cover can use, so that every function finds none. An option may
    give a secondary item a color (`x:red`): the result's attributes `colors` (None without
    colors; else per option a dict of item number to color number, for the colors= of
    count_all) and `color_names` hold them. A malformed text raises ValueError naming its
    line and column; multiplicities are not
    supported yet."""

def read_dlx_file(path: str | bytes | PathLike[str] | PathLike[bytes]) -> _DlxProblem:
    """Read an exact-cover problem in Knuth's DLX format from the UTF-8 file at `path`.

    As read_dlx(open(path).read()), read a piece at a time: the first fault, malformed
    UTF-8 or a NUL character included, raises ValueError naming its line and column
    without reading further; a byte-order mark at the start is skipped. OSError when the
    file cannot be read."""

# The named tuple (a struct sequence) that estimate_all returns.
class _TreeEstimate(NamedTuple):
    covers: float
    nodes: float
    covers_stderr: float
    nodes_stderr: float

def estimate_all(
    partitions: _Blocks,
    include: _Integers = (),
    secondary: _Integers = (),
    samples: SupportsIndex = 1000,
    seed: SupportsIndex | None = None,
    colors: _Colors | None = None,
) -> _TreeEstimate:
    """Estimate the size of the search of count_all by Knuth's random probes.

    Each of `samples` probes walks from the root of the search tree to a leaf, choosing a
    block of each branch column at random, and multiplies the branching degrees it meets.
    Returns TreeEstimate(covers, nodes, covers_stderr, nodes_stderr): unbiased estimates
    of the number of partitions count_all counts and of the positions of its search tree
    (the root included), with their standard errors (inf for one probe, whose spread is
    unknown). An estimate beyond the range of a float is inf, as is then its standard
    error. `samples` is an int of at least 1. `seed` fixes the random choices (a fresh seed
    each call when None); `include`, `secondary` and `colors` are those of count_all."""

def main(argv: Sequence[str] | None = None) -> int:
    """Run xcover's command line with `argv` (a list of str; sys.argv[1:] when None) and
    return its exit status: `xcover [--count | --all] [--help] FILE` reads a problem in
    Knuth's DLX format from FILE ('-' for standard input) and prints the number of its
    covers (--count, the default) or every cover, one per line, by item names (--all).
    The console script `xcover` calls it."""

def number_blocks(
    blocks: Sequence[Sequence[Hashable]],
) -> tuple[list[list[int]], list[Any]]:
    """Number the items of blocks of arbitrary hashable items, for the solvers.

    Returns (numbered, items): `blocks` with each item replaced by its number, the
    distinct items numbered 0, 1, ... in order of first appearance (items equal as dict
    keys get one number), and the list of the items by number, to map covers back."""
