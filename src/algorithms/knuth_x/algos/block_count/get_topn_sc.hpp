// The first n covers in best-first order of the block-count model's score.
#pragma once

#include <cstdint>
#include <memory>

#include "../../links/block_list.hpp"
#include "../../search/covers.hpp"
#include "../../search/ordered_search.hpp"
#include "../candidates.hpp"
#include "block_count.hpp"

namespace xcover {

using BlockCountSearch = OrderedSearch<BlockCountModel>;
// The same search, leaving out the children that no candidate extends.
using PrunedBlockCountSearch = OrderedSearch<ByCandidates<BlockCountModel>>;

// The ordered search of get_topn_sc; building it scores the root.
BlockCountSearch build_block_count_search(const BlockList& blocks, BlockCountInputs inputs,
                                          SearchCaps caps, Interrupt* interrupt = nullptr,
                                          ThreadPool* pool = nullptr);

// Every cover that can be among the first n of get_topn_sc's search without caps, or nothing
// when that is not known for this input. The search's keys never exceed (up to rounding) the
// score of a cover below them when the input passes top_sc_input_error, so its first n covers
// score at most U, the n-th smallest score, plus a rounding allowance; iter_top_sc's stream
// lists the covers in exact nondecreasing score, and the candidates are those it lists up to
// U plus a margin well above that allowance (all of them when there are fewer than n).
// Nothing either when more than kMaxBlockCountCandidates qualify.
std::shared_ptr<const CoverCandidates> block_count_candidates(const BlockList& blocks,
                                                              const BlockCountInputs& inputs, std::uint64_t n,
                                                              Interrupt* interrupt = nullptr,
                                                              ThreadPool* pool = nullptr);
inline constexpr std::uint64_t kMaxBlockCountCandidates = std::uint64_t{1} << 16;

// Without caps, and when block_count_candidates knows them, the search leaves out every child
// no candidate extends: the same covers in the same order, found without popping the many
// partial covers whose keys lie below the n-th score (docs/architecture.md).
CoverList get_topn_sc(const BlockList& blocks, BlockCountInputs inputs, std::uint64_t n,
                      SearchCaps caps, Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

}  // namespace xcover
