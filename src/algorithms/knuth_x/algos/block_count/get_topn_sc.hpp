// The first n covers in best-first order of the block-count model's score.
#pragma once

#include <cstdint>

#include "../../links/block_list.hpp"
#include "../../search/covers.hpp"
#include "../../search/ordered_search.hpp"
#include "block_count.hpp"

namespace xcover {

using BlockCountSearch = OrderedSearch<BlockCountModel>;

// The ordered search of get_topn_sc; building it scores the root.
BlockCountSearch build_block_count_search(const BlockList& blocks, BlockCountInputs inputs,
                                          SearchCaps caps, Interrupt* interrupt = nullptr,
                                          ThreadPool* pool = nullptr);

CoverList get_topn_sc(const BlockList& blocks, BlockCountInputs inputs, std::uint64_t n,
                      SearchCaps caps, Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

}  // namespace xcover
