// Covers that must hold given blocks: the search on what those blocks leave.
//
// The ranked streams take `include`, a list of blocks every cover they give must hold.
// iter_top's search keeps every block but never chooses one that meets an included block
// without being one (blocks_meeting); iter_top_sc's makes the included blocks a fixed prefix
// of every cover and runs on the blocks that meet none of them, the others emptied (an empty
// block is never chosen), so block indices stay those of the caller (blocks_beside).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../interrupt.hpp"
#include "../links/block_list.hpp"
#include "../links/colors.hpp"

namespace xcover {

// The distinct blocks of `include`, in order of first mention. Every index must be below the
// block count (InternalFailure otherwise: the caller checks).
std::vector<std::uint64_t> distinct_included(const BlockList& blocks,
                                             std::span<const std::uint64_t> include);

// Per block, 1 when it meets one of `prefix` (distinct indices; those blocks included), or
// nullopt when no cover can hold all of `prefix`: a block among them without a primary element
// (an empty one, say: such a block is never chosen), two that overlap, or a primary element
// that only blocks meeting them hold. Elements listed in `secondary` are not primary: a cover
// may leave them uncovered. Polls `poll` as it goes.
std::optional<std::vector<char>> blocks_meeting(const BlockList& blocks,
                                                std::span<const std::uint64_t> prefix,
                                                InterruptPoll& poll, const SecondaryItems& secondary = {});

// `blocks` with every block that meets one of `prefix` (distinct indices) emptied, or nullopt
// when no cover can hold all of `prefix` (as for blocks_meeting).
std::optional<BlockList> blocks_beside(const BlockList& blocks, std::span<const std::uint64_t> prefix,
                                       InterruptPoll& poll, const SecondaryItems& secondary = {});

}  // namespace xcover
