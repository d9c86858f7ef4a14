// The depth-first queries: every cover (get_all) and their number (count_all). They walk the
// tree of DepthFirstSearch, as split (split.hpp) does, so they agree cover for cover and in
// order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../pool/thread_pool.hpp"
#include "../../search/covers.hpp"
#include "../../search/depth_first.hpp"
#include "../../interrupt.hpp"

namespace xcover {

// Advances `search` until `batch` holds `max_covers` covers or `max_items` block indices, or
// the search ends, appending each cover found. Returns whether the search may have more.
// This is get_all's loop: the module runs it a batch at a time, turning each batch into
// Python lists before the next, so the covers never pile up in a buffer of their own.
bool collect_covers(DepthFirstSearch& search, CoverList& batch, std::uint64_t max_covers,
                    std::uint64_t max_items);

// Every cover holding all `include` blocks, in depth-first discovery order. With a pool set
// above one thread, its helpers search subtrees ahead (the results are the same).
CoverList get_all(const BlockList& blocks, std::span<const std::uint64_t> include = {},
                  Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

// The number of covers get_all would return, without building them. `secondary`, here and
// in split, lists elements a cover may leave uncovered (see DepthFirstSearch).
std::uint64_t count_all(const BlockList& blocks, std::span<const std::uint64_t> include = {},
                        Interrupt* interrupt = nullptr,
                        const SecondaryItems& secondary = {}, ThreadPool* pool = nullptr);

}  // namespace xcover
