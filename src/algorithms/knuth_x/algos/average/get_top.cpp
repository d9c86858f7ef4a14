#include "get_top.hpp"

namespace xcover {

AvgSearch build_avg_search(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                           Interrupt* interrupt, ThreadPool* pool) {
    return AvgSearch(blocks, caps, interrupt, [&](const ElementIndex& index) {
        return AvgScorer(blocks, std::move(weights), index);
    }, pool);
}

CoverList get_top(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                  Interrupt* interrupt, ThreadPool* pool) {
    AvgSearch search = build_avg_search(blocks, std::move(weights), caps, interrupt, pool);
    return search.take_complete(UINT64_MAX);
}

CoverList get_topn(const BlockList& blocks, std::vector<double> weights, std::uint64_t n,
                   SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    // The search is built, and its root scored, before n is looked at: a root that fails its
    // scoring fails the call even for n == 0, and callers depend on that order.
    AvgSearch search = build_avg_search(blocks, std::move(weights), caps, interrupt, pool);
    if (n == 0) return {};
    return search.take_complete(n);
}

}  // namespace xcover
