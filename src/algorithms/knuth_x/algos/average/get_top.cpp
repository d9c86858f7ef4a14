#include "get_top.hpp"

#include <algorithm>
#include <memory>

#include "../../links/element_index.hpp"
#include "../../numbers.hpp"
#include "cost_cutoff.hpp"
#include "cutoff_scorer.hpp"

namespace xcover {

namespace {

using CutoffAvgSearch = OrderedSearch<CutoffAvgScorer>;

// Covers costing as little as the n-th that the cutoff search may keep beyond n (ties, and
// covers within rounding of the n-th cost); past that, the plain search runs instead.
constexpr std::uint64_t kExtraCandidates = 100'000;

// get_topn without caps, where a cutoff is sound: the same covers in the same order as the
// plain search, from a search that leaves out every entry that no candidate cover extends.
// Nothing when there are too many candidates.
std::optional<CoverList> topn_with_cutoff(const BlockList& blocks, const std::vector<double>& weights,
                                          std::uint64_t n, Interrupt* interrupt, ThreadPool* pool) {
    const ElementIndex index = build_element_index(blocks, interrupt);
    const BlockList relabeled = relabel_all(index, blocks, interrupt);
    const NetCosts costs = net_costs(relabeled, index.column_count(), weights, interrupt);
    const std::uint64_t max_kept = n + std::min(std::max(n, kExtraCandidates), UINT64_MAX - n);
    std::optional<CoverList> candidates =
        cheapest_covers(relabeled, index.column_count(), weights, costs, n, max_kept, interrupt);
    if (!candidates) return std::nullopt;
    auto shared = std::make_shared<const CoverCandidates>(*candidates, blocks.size());
    CutoffAvgSearch search(blocks, SearchCaps{}, interrupt, [&](const ElementIndex& columns) {
        return CutoffAvgScorer(AvgScorer(blocks, weights, columns), shared);
    }, pool);
    return search.take_complete(n);
}

}  // namespace

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
    // Without caps, a search with a cutoff lists the same covers in the same order.
    if (n > 0 && !caps.max_iter && !caps.max_heap && cutoff_applies(blocks, weights))
        if (std::optional<CoverList> covers = topn_with_cutoff(blocks, weights, n, interrupt, pool))
            return std::move(*covers);
    // The search is built, and its root scored, before n is looked at: a root that fails its
    // scoring fails the call even for n == 0, and callers depend on that order.
    AvgSearch search = build_avg_search(blocks, std::move(weights), caps, interrupt, pool);
    if (n == 0) return {};
    return search.take_complete(n);
}

}  // namespace xcover
