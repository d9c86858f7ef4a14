// Covers in best-first order of their weight sums, scored by the averaging estimator:
// get_top returns all of them, get_topn the first n.
#pragma once

#include <cstdint>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../search/covers.hpp"
#include "../../search/ordered_search.hpp"
#include "avg_est.hpp"

namespace xcover {

using AvgSearch = OrderedSearch<AvgScorer>;

// The ordered search of get_top, get_topn and get_topp; building it scores the root. With a
// pool set above one thread, its helpers expand entries ahead (the results are the same).
AvgSearch build_avg_search(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                           Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

CoverList get_top(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                  Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

CoverList get_topn(const BlockList& blocks, std::vector<double> weights, std::uint64_t n,
                   SearchCaps caps, Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

}  // namespace xcover
