#include "get_top.hpp"

#include <algorithm>
#include <memory>

#include "../../links/element_index.hpp"
#include "../../numbers.hpp"
#include "../candidate_replay.hpp"
#include "cost_cutoff.hpp"
#include "cutoff_scorer.hpp"

namespace xcover {

namespace {

// Covers costing as little as the n-th that a search for the first n may keep beyond n (ties,
// and covers within rounding of the n-th cost).
constexpr std::uint64_t kExtraCandidates = 100'000;

}  // namespace

std::shared_ptr<const CoverCandidates> cutoff_candidates(const BlockList& blocks, const std::vector<double>& weights,
                                                         std::uint64_t n, Interrupt* interrupt, ThreadPool* pool,
                                                         std::span<const CostAt> known) {
    if (!cutoff_applies(blocks, weights)) return nullptr;
    const ElementIndex index = build_element_index(blocks, interrupt);
    const BlockList relabeled = relabel_all(index, blocks, interrupt);
    const NetCosts costs = net_costs(relabeled, index.column_count(), weights, interrupt);
    const std::uint64_t wanted = n < kMaxCandidates ? n + std::max(n, kExtraCandidates) : kMaxCandidates;
    const std::optional<CoverList> covers = cheapest_covers(relabeled, index.column_count(), weights, costs, n,
                                                            std::min(wanted, kMaxCandidates), interrupt, pool, known);
    if (!covers) return nullptr;
    return std::make_shared<const CoverCandidates>(*covers, blocks.size());
}

CutoffAvgSearch build_cutoff_search(const BlockList& blocks, std::vector<double> weights,
                                    std::shared_ptr<const CoverCandidates> candidates,
                                    Interrupt* interrupt, ThreadPool* pool) {
    return CutoffAvgSearch(blocks, SearchCaps{}, interrupt, [&](const ElementIndex& index) {
        return CutoffAvgScorer(AvgScorer(blocks, std::move(weights), index), std::move(candidates));
    }, pool);
}

std::optional<CoverList> replay_cutoff_search(const BlockList& blocks, std::vector<double> weights,
                                              std::shared_ptr<const CoverCandidates> candidates, std::uint64_t n,
                                              Interrupt* interrupt, std::vector<double>* sums) {
    const ElementIndex index = build_element_index(blocks, interrupt);
    const BlockList relabeled = relabel_all(index, blocks, interrupt);
    CutoffAvgScorer scorer(AvgScorer(blocks, std::move(weights), index), std::move(candidates));
    std::optional<CandidateTree> tree = CandidateTree::build(scorer, index, relabeled, interrupt);
    if (!tree) return std::nullopt;
    return tree->first_covers(scorer, relabeled, n, interrupt, sums);
}

AvgSearch build_avg_search(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                           Interrupt* interrupt, ThreadPool* pool) {
    return AvgSearch(blocks, caps, interrupt, [&](const ElementIndex& index) {
        return AvgScorer(blocks, std::move(weights), index);
    }, pool);
}

CoverList get_top(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                  Interrupt* interrupt, ThreadPool* pool) {
    // Without caps, a search with a cutoff lists the same covers in the same order, and
    // expands only entries that lead to a cover.
    if (!caps.max_iter && !caps.max_heap)
        if (auto candidates = cutoff_candidates(blocks, weights, UINT64_MAX, interrupt, pool)) {
            if (auto covers = replay_cutoff_search(blocks, weights, candidates, UINT64_MAX, interrupt))
                return std::move(*covers);
            CutoffAvgSearch search = build_cutoff_search(blocks, std::move(weights), std::move(candidates), interrupt, pool);
            return search.take_complete(UINT64_MAX);
        }
    AvgSearch search = build_avg_search(blocks, std::move(weights), caps, interrupt, pool);
    return search.take_complete(UINT64_MAX);
}

CoverList get_topn(const BlockList& blocks, std::vector<double> weights, std::uint64_t n,
                   SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    // Without caps, a search with a cutoff lists the same covers in the same order.
    if (n > 0 && !caps.max_iter && !caps.max_heap)
        if (auto candidates = cutoff_candidates(blocks, weights, n, interrupt, pool)) {
            if (auto covers = replay_cutoff_search(blocks, weights, candidates, n, interrupt)) return std::move(*covers);
            CutoffAvgSearch search = build_cutoff_search(blocks, std::move(weights), std::move(candidates), interrupt, pool);
            return search.take_complete(n);
        }
    // The search is built, and its root scored, before n is looked at: a root that fails its
    // scoring fails the call even for n == 0, and callers depend on that order.
    AvgSearch search = build_avg_search(blocks, std::move(weights), caps, interrupt, pool);
    if (n == 0) return {};
    return search.take_complete(n);
}

}  // namespace xcover
