#include "get_top.hpp"

namespace xcover {

AvgSearch build_ordered_search(const BlockList& partitions, std::vector<double> weights,
                               SearchCaps caps) {
    return AvgSearch(partitions, caps, [&](const ElementIndex& index) {
        return AvgScorer(partitions, std::move(weights), index);
    });
}

Covers get_top(const BlockList& partitions, std::vector<double> weights, SearchCaps caps) {
    AvgSearch search = build_ordered_search(partitions, std::move(weights), caps);
    return collect_complete(search, UINT64_MAX);
}

Covers get_topn(const BlockList& partitions, std::vector<double> weights, std::uint64_t n,
                SearchCaps caps) {
    AvgSearch search = build_ordered_search(partitions, std::move(weights), caps);
    if (n == 0) return {};
    return collect_complete(search, n);
}

}  // namespace xcover
