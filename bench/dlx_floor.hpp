// The floor the production get_all is measured against: a minimal recursive dancing-links
// counter in the style of Knuth's DLX, 32-bit links, no bounds checks, no result lists.
//
// It walks the same search tree as the engine: columns numbered by the number of blocks
// containing the element (ascending), then by value (ascending); the branch column is the
// leftmost column of smallest size; its rows are tried in ascending block index.
#pragma once

#include <cstdint>

#include "instances.hpp"

namespace xcover::bench {

// Both layouts are timed by engine_bench; the textbook one measured faster on all six
// instances here (1.2x to 1.8x), so it is the floor, and the default.
enum class FloorLayout {
    // Knuth's DLX1 layout: each block's nodes stored contiguously between spacer nodes (no
    // left/right links), item headers with llink/rlink, the column size in the header node.
    Dlx1,
    // The textbook layout: structure of arrays L, R, U, D, C and a size array S.
    Lrud,
};

struct FloorCount {
    std::uint64_t covers = 0;
    std::uint64_t nodes = 0;  // rows tried over the whole search (the root not counted)
};

// Counts the exact covers of `blocks`; the matrix is built inside, as get_all builds its own.
FloorCount dlx_floor_count(const Blocks& blocks, FloorLayout layout = FloorLayout::Lrud);

}  // namespace xcover::bench
