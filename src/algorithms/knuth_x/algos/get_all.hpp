// Every exact cover of the candidate blocks, in depth-first discovery order: at each level
// the branch column is the leftmost column of smallest size, its rows tried in ascending
// block index; each cover lists its blocks in order of choice.
#pragma once

#include <cstdint>
#include <vector>

#include "../links/block_list.hpp"

namespace xcover {

using Cover = std::vector<std::uint64_t>;
using Covers = std::vector<Cover>;

// The production search: Algorithm X walking the matrix node by node, one level per chosen
// block, no per-entry copies.
Covers get_all(const BlockList& partitions);

// The same enumeration driven through the generic step machine with a stack frontier;
// slower, kept as an independent reference for tests.
Covers get_all_stepwise(const BlockList& partitions);

}  // namespace xcover
