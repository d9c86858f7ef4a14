// Covers in best-first order of their weight sums: get_top returns all of them, get_topn the
// first n.
#pragma once

#include <cstdint>
#include <vector>

#include "../links/block_list.hpp"
#include "avg_est.hpp"
#include "get_all.hpp"
#include "ordered_search.hpp"

namespace xcover {

using AvgSearch = OrderedSearch<AvgScorer>;

AvgSearch build_ordered_search(const BlockList& partitions, std::vector<double> weights,
                               SearchCaps caps);

Covers get_top(const BlockList& partitions, std::vector<double> weights, SearchCaps caps);

Covers get_topn(const BlockList& partitions, std::vector<double> weights, std::uint64_t n,
                SearchCaps caps);

// Steps `search` and keeps the rows of every complete entry, until it has `n` of them or the
// search ends.
template <class Search>
Covers collect_complete(Search& search, std::uint64_t n) {
    Covers covers;
    while (covers.size() < n) {
        auto step = search.step();
        if (!step) break;
        if (step->status == StepStatus::Complete) covers.push_back(step->rows);
    }
    return covers;
}

}  // namespace xcover
