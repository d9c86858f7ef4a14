// Covers that must hold given blocks: the search on what those blocks leave.
//
// The ranked streams take `include`, a list of blocks every cover they give must hold. The
// included blocks form a fixed prefix of every cover, and the search runs on the blocks that
// meet none of them, the others emptied (an empty block is never chosen), so block indices
// stay those of the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../interrupt.hpp"
#include "../links/block_list.hpp"

namespace xcover {

// The distinct blocks of `include`, in order of first mention. Every index must be below the
// block count (InternalFailure otherwise: the caller checks).
std::vector<std::uint64_t> distinct_included(const BlockList& blocks,
                                             std::span<const std::uint64_t> include);

// `blocks` with every block that meets one of `prefix` (distinct indices) emptied, or nullopt
// when no cover can hold all of `prefix`: an empty block among them, two that overlap, or an
// element that only blocks meeting them hold. Polls `poll` as it goes.
std::optional<BlockList> blocks_beside(const BlockList& blocks, std::span<const std::uint64_t> prefix,
                                       InterruptPoll& poll);

}  // namespace xcover
