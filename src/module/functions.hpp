// The module's functions, each declared once. Registration follows the order of kFunctions;
// those marked exported are appended to __all__ in that order.
//
// To add a function: declare it here, write its entry point in entry_points.cpp, and append
// it to kFunctions at the place it should be registered.
#pragma once

#include "entry_points.hpp"
#include "signature.hpp"

namespace xcover::py {

using enum ArgumentKind;

inline constexpr Parameter kPartitions{"partitions", Blocks};
inline constexpr Parameter kWeights{"weights", Numbers};
inline constexpr Parameter kN{"n", Integer};
// The block-count model's inputs (get_topn_sc, iter_top_sc).
inline constexpr Parameter kEdgeCounts{"edge_counts", Integers};
inline constexpr Parameter kEdgeTotal{"edge_total", Integer};
inline constexpr Parameter kLabels{"labels", Integers};
inline constexpr Parameter kVertexTotal{"vertex_total", Integer};
inline constexpr Parameter kMaxIter{"max_iter", OptionalInteger, "None"};
inline constexpr Parameter kMaxHeap{"max_heap", OptionalInteger, "None"};

inline constexpr FunctionDeclaration kGetAll{
    "get_all",
    {{kPartitions}},
    "Get all partitions given a set of covers",
    true,
    get_all_entry,
};

inline constexpr FunctionDeclaration kGetTop{
    "get_top",
    {{kPartitions, kWeights, kMaxIter, kMaxHeap}},
    "Get partitions in order of decreasing likelihood, given partition weights",
    true,
    get_top_entry,
};

inline constexpr FunctionDeclaration kGetTopn{
    "get_topn",
    {{kPartitions, kWeights, kN, kMaxIter, kMaxHeap}},
    "Get top `n` partitions in order of decreasing likelihood, given partition weights",
    true,
    get_topn_entry,
};

inline constexpr FunctionDeclaration kGetTopnSc{
    "get_topn_sc",
    {{kPartitions,
      kWeights,
      kEdgeCounts,
      kEdgeTotal,
      kLabels,
      kVertexTotal,
      kN,
      kMaxIter,
      kMaxHeap}},
    "Get top `n` partitions in order of decreasing likelihood, given partition weights",
    true,
    get_topn_sc_entry,
};

inline constexpr FunctionDeclaration kGetTopp{
    "get_topp",
    {{kPartitions, kWeights, {"alpha", Number}, kMaxIter, kMaxHeap}},
    "Get top partitions in order of decreasing likelihood, with total\n"
    "probability coverage greater than `1 - alpha`",
    true,
    get_topp_entry,
};

// The depth-first companions of get_all: not in __all__, registered after the five.
inline constexpr Parameter kInclude{"include", BlockIndices, "()"};
inline constexpr Parameter kSecondary{"secondary", Integers, "()"};
#define XCOVER_SECONDARY_DOC                                                                     \
    "`secondary` lists element values that a partition may leave uncovered but never covers\n" \
    "twice; the search never branches on them, so a block holding only such elements is\n"     \
    "never chosen."

inline constexpr Parameter kColors{"colors", Colors, "None"};
#define XCOVER_COLORS_DOC                                                                        \
    "`colors`, when given, has one entry per block: None or a dict mapping secondary elements\n" \
    "of that block to colors (ints). Blocks may share a secondary element when each gives it\n"   \
    "the same color; a block holding it without a color owns it outright. A color on an\n"       \
    "element the block lacks or that is not in `secondary` raises ValueError."

inline constexpr FunctionDeclaration kCountAll{
    "count_all",
    {{kPartitions, kInclude, kSecondary, kColors, {"progress", Object, "None"}}},
    "Count the partitions that get_all would return, without building them.\n\n"
    "`include` lists block indices that every counted partition must contain.\n"
    XCOVER_SECONDARY_DOC "\n"
    XCOVER_COLORS_DOC "\n\n"
    "`progress`, when given, is called as progress(fraction, count) on the calling thread\n"
    "about ten times a second while the search runs, and once with fraction 1.0 and the\n"
    "total at the end: `fraction` is the share of the search tree already searched (each\n"
    "position's share split evenly among its branches), never decreasing; `count` the\n"
    "partitions counted so far (with helper threads, as of their last report). An exception\n"
    "it raises stops the count and propagates.",
    false,
    count_all_entry,
};

inline constexpr FunctionDeclaration kIterAll{
    "iter_all",
    {{kPartitions, kInclude, kSecondary, {"seed", OptionalInteger, "None"}, kColors}},
    "Iterate over the partitions of get_all, in the same order, one list at a time.\n\n"
    "The iterator owns a copy of the problem and finds partitions as they are asked for.\n"
    "`include` lists block indices that every partition returned must contain.\n"
    XCOVER_SECONDARY_DOC "\n"
    XCOVER_COLORS_DOC "\n\n"
    "With `seed` (an int in 0..2**64-1), the blocks of each branch are tried in a pseudo-random\n"
    "order fixed by the seed and the position: the same partitions, each once, in another\n"
    "order, the same for the same seed on every platform, so the first one is a random\n"
    "partition (not a uniform sample: see the guide). A seeded iterator searches on its\n"
    "caller's thread; an unseeded one, with set_threads above 1, has helper threads search\n"
    "a bounded window of the tree ahead of it.",
    false,
    iter_all_entry,
};

inline constexpr FunctionDeclaration kSplit{
    "split",
    {{kPartitions, {"parts", Count}, kInclude, kSecondary, kColors, {"progress", Object, "None"}}},
    "Split the search of get_all into at least `parts` independent subtrees, when it\n"
    "branches that much. Returns a list of prefixes (lists of block indices) in search\n"
    "order: concatenating iter_all(partitions, include=prefix) over them gives\n"
    "get_all(partitions), restricted to the partitions containing `include`.\n"
    "With `secondary` and `colors`, pass the same to iter_all.\n"
    XCOVER_SECONDARY_DOC "\n"
    XCOVER_COLORS_DOC "\n\n"
    "`progress`, when given, is called as progress(fraction, parts) on the calling thread\n"
    "about ten times a second while the split runs, and once with fraction 1.0 and the\n"
    "number of prefixes at the end: `parts` is the subtrees and partitions held so far (one\n"
    "found to be a dead end drops out), `fraction` their share of `parts` asked for, and once\n"
    "the split walks the tree to place its cut, the walk's share of the rest too (below 1.0\n"
    "until the end, never decreasing).\n"
    "An exception it raises stops the split and propagates.",
    false,
    split_entry,
};

// The ranked searches as streams: not in __all__.
inline constexpr FunctionDeclaration kIterTop{
    "iter_top",
    {{kPartitions, kWeights, kInclude, kMaxIter, kMaxHeap, kSecondary, kColors}},
    "Iterate over the partitions of get_top, in the same order, as (cost, partition) pairs.\n\n"
    "The cost is the sum of the partition's weights. The iterator owns a copy of the problem\n"
    "and searches as pairs are asked for. `include` lists block indices that every partition\n"
    "returned must contain: the pairs are then those of the stream without `include` that\n"
    "hold them, in the same order, to the bit. `weights` needs one weight per block.\n"
    XCOVER_SECONDARY_DOC " The costs still come in nondecreasing order.\n"
    XCOVER_COLORS_DOC "\nWith colors, the pairs still come in nondecreasing cost.",
    false,
    iter_top_entry,
};

inline constexpr FunctionDeclaration kIterTopSc{
    "iter_top_sc",
    {{kPartitions,
      kWeights,
      kEdgeCounts,
      kEdgeTotal,
      kLabels,
      kVertexTotal,
      kInclude,
      kMaxIter,
      kMaxHeap,
      kSecondary,
      kColors}},
    "Iterate over partitions in nondecreasing block-count score (the score get_topn_sc ranks\n"
    "by), as (score, partition) pairs.\n\n"
    "A stronger bound than get_topn_sc's lets the search reach far larger graphs. The order is\n"
    "exact for finite weights, no element listed twice in a block, and `vertex_total` equal\n"
    "to the number of elements; other input raises ValueError, as does reaching a partition\n"
    "whose blocks hold more edges than `edge_total`. `weights`, `edge_counts` and `labels`\n"
    "need one entry per block. `include` lists block indices that every partition returned\n"
    "must contain.\n"
    XCOVER_SECONDARY_DOC " A score depends on the partition's blocks alone, whichever\n"
    "secondary elements they leave uncovered; `vertex_total` still counts every element.\n"
    XCOVER_COLORS_DOC,
    false,
    iter_top_sc_entry,
};

// Turning a 0/1 matrix into the blocks the solvers take: not in __all__, registered last.
inline constexpr FunctionDeclaration kBlocksFromMatrix{
    "blocks_from_matrix",
    {{{"matrix", Object}}},
    "Turn a 0/1 matrix into blocks: one block per row, listing the columns that hold a 1.\n\n"
    "`matrix` is a 2-D array (numpy bool, integer or float values 0 and 1) or a sequence of\n"
    "equally long rows. Pass the result, not the matrix, to the solvers: they read each\n"
    "inner list as element values. Every column should hold a 1 somewhere; a column without\n"
    "one is absent from the blocks, so the solvers do not require it to be covered.",
    false,
    blocks_from_matrix_entry,
};

// Numbering arbitrary items as element ints: not in __all__.
inline constexpr FunctionDeclaration kNumberBlocks{
    "number_blocks",
    {{{"blocks", Object}}},
    "Number the items of blocks of arbitrary hashable items, for the solvers.\n\n"
    "Returns (numbered, items): `blocks` with each item replaced by its number, the\n"
    "distinct items numbered 0, 1, ... in order of first appearance (items equal as dict\n"
    "keys get one number), and the list of the items by number, to map covers back.",
    false,
    number_blocks_entry,
};

// Estimating the search of count_all by random probes: not in __all__.
inline constexpr FunctionDeclaration kEstimateAll{
    "estimate_all",
    {{kPartitions, kInclude, kSecondary, {"samples", Size, "1000"},
      {"seed", OptionalInteger, "None"}, kColors}},
    "Estimate the size of the search of count_all by Knuth's random probes.\n\n"
    "Each of `samples` probes walks from the root of the search tree to a leaf, choosing a\n"
    "block of each branch column at random, and multiplies the branching degrees it meets.\n"
    "Returns TreeEstimate(covers, nodes, covers_stderr, nodes_stderr): unbiased estimates\n"
    "of the number of partitions count_all counts and of the positions of its search tree\n"
    "(the root included), with their standard errors (inf for one probe, whose spread is\n"
    "unknown). An estimate beyond the range of a float is inf, as is then its standard\n"
    "error. `samples` is an int of at least 1. `seed` fixes the random choices (a fresh seed\n"
    "each call when None); `include`, `secondary` and `colors` are those of count_all.",
    false,
    estimate_all_entry,
};

// Reading Knuth's DLX text format: not in __all__.
inline constexpr FunctionDeclaration kReadDlx{
    "read_dlx",
    {{{"text", Object}}},
    "Read an exact-cover problem in Knuth's DLX format from a str.\n\n"
    "The first non-comment line names the items, primary ones, then `|` and the secondary\n"
    "ones; each later line is one option, the names of its items. Lines starting with `|`\n"
    "are comments, blank lines are skipped. Returns DlxProblem(blocks, secondary, names):\n"
    "the options as lists of item numbers (items numbered 0.. in the order of the items\n"
    "line), the secondary items' numbers and the item names. Pass blocks and secondary to\n"
    "count_all, iter_all or split. A primary item that no option holds leaves the problem\n"
    "without a cover: the attribute `unmet` lists such items, and the blocks then end with\n"
    "three that no exact cover can use, so that every function finds none. An option may\n"
    "give a secondary item a color (`x:red`): the result's attributes `colors` (None without\n"
    "colors; else per option a dict of item number to color number, for the colors= of\n"
    "count_all) and `color_names` hold them. A malformed text raises ValueError naming its\n"
    "line and column; multiplicities are not\n"
    "supported yet.",
    false,
    read_dlx_entry,
};

inline constexpr FunctionDeclaration kReadDlxFile{
    "read_dlx_file",
    {{{"path", Object}}},
    "Read an exact-cover problem in Knuth's DLX format from the UTF-8 file at `path`.\n\n"
    "As read_dlx(open(path).read()), read a piece at a time: the first fault, malformed\n"
    "UTF-8 or a NUL character included, raises ValueError naming its line and column\n"
    "without reading further; a byte-order mark at the start is skipped. OSError when the\n"
    "file cannot be read.",
    false,
    read_dlx_file_entry,
};

// The command line: not in __all__.
inline constexpr FunctionDeclaration kMain{
    "main",
    {{{"argv", Object, "None"}}},
    "Run xcover's command line with `argv` (a list of str; sys.argv[1:] when None) and\n"
    "return its exit status: `xcover [--count | --all] [--help] FILE` reads a problem in\n"
    "Knuth's DLX format from FILE ('-' for standard input) and prints the number of its\n"
    "covers (--count, the default) or every cover, one per line, by item names (--all).\n"
    "The console script `xcover` calls it.",
    false,
    main_entry,
};

// The helper threads of every search: not in __all__, registered last.
inline constexpr FunctionDeclaration kSetThreads{
    "set_threads",
    {{{"n", Integer}}},
    "Let every search use up to `n` threads, its caller's included (1: the caller's alone;\n"
    "0: one per processor the process may use).\n\n"
    "The helpers beyond the caller's thread are shared by all the searches of the process,\n"
    "however many threads call at once. Results are the same for every setting: the same\n"
    "partitions in the same order, the same caps and errors. At most 4 threads per processor\n"
    "are used: a larger `n` gets that many, with a RuntimeWarning. The environment variable\n"
    "XCOVER_THREADS, read once per process at the first import, gives the first setting\n"
    "(the same values; anything else is ignored with a RuntimeWarning).",
    false,
    set_threads_entry,
};

inline constexpr FunctionDeclaration kGetThreads{
    "get_threads",
    {{}},
    "The number of threads a search may use, its caller's included (see set_threads).",
    false,
    get_threads_entry,
};

// Registration order; the exported functions' order is the order of __all__: callers list
// the module and compare, so it stays alphabetical, with the rest after it.
inline constexpr const FunctionDeclaration* kFunctions[] = {
    &kGetAll,   &kGetTop,  &kGetTopn, &kGetTopnSc, &kGetTopp,
    &kCountAll, &kIterAll, &kSplit,   &kIterTop, &kIterTopSc, &kBlocksFromMatrix,
    &kNumberBlocks, &kEstimateAll, &kReadDlx,  &kReadDlxFile, &kMain,
    &kSetThreads, &kGetThreads,
};

inline constexpr std::size_t kFunctionCount = std::size(kFunctions);

constexpr bool all_well_formed() {
    for (const FunctionDeclaration* f : kFunctions)
        if (!f->well_formed()) return false;
    return true;
}
static_assert(all_well_formed(), "a declared function has a required parameter after a default");

}  // namespace xcover::py
