// The depth-first queries: every cover (get_all), their number (count_all), and the split of
// the search tree into subtrees that can run apart (split). All walk the tree of
// DepthFirstSearch, so they agree cover for cover and in order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../links/block_list.hpp"
#include "../pool/thread_pool.hpp"
#include "../search/covers.hpp"
#include "../search/depth_first.hpp"
#include "../interrupt.hpp"

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
                        std::span<const std::uint64_t> secondary = {}, ThreadPool* pool = nullptr);

// Tops of disjoint subtrees of the search tree, in depth-first order, at least `parts` of
// them when the tree branches that much: each is a path of chosen blocks followed by the
// `include` blocks not on it. Running get_all with each as `include` and concatenating the
// results gives get_all(blocks, include). Subtrees found to be dead ends are left out.
std::vector<std::vector<std::uint64_t>> split(const BlockList& blocks, std::uint64_t parts,
                                              std::span<const std::uint64_t> include = {},
                                              Interrupt* interrupt = nullptr,
                                              std::span<const std::uint64_t> secondary = {});

// split's parts as bare paths: the blocks chosen from the root down to each part's top,
// without the `include` blocks after them. A DepthFirstSearch built with the same `include`
// and `secondary` searches one part with start_at(path); the parts in order give its covers
// in order. This is how CoverStream cuts the tree, with or without `include`.
std::vector<std::vector<std::uint64_t>> split_paths(const BlockList& blocks, std::uint64_t parts,
                                                    std::span<const std::uint64_t> include = {},
                                                    Interrupt* interrupt = nullptr,
                                                    std::span<const std::uint64_t> secondary = {});

}  // namespace xcover
