// Covers in best-first order of their weight sums, scored by the averaging estimator:
// get_top returns all of them, get_topn the first n.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../search/covers.hpp"
#include "../../search/ordered_search.hpp"
#include "avg_est.hpp"
#include "cost_cutoff.hpp"
#include "cutoff_scorer.hpp"

namespace xcover {

using AvgSearch = OrderedSearch<AvgScorer>;

// The ordered search of get_top, get_topn and get_topp; building it scores the root. With a
// pool set above one thread, its helpers expand entries ahead (the results are the same).
AvgSearch build_avg_search(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                           Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

// The ordered search with a cutoff (cutoff_scorer.hpp): without caps, it reports the same
// covers in the same order as the plain search up to the n-th, and all of them in that order
// when n is UINT64_MAX.
using CutoffAvgSearch = OrderedSearch<CutoffAvgScorer>;

// The candidates of a search with a cutoff for the first n covers: every cover that can be
// among them (all covers for n = UINT64_MAX). Nothing when a cutoff is not sound for these
// inputs (cost_cutoff.hpp) or when more than kMaxCandidates covers qualify. With a pool set
// above one thread, its helpers search beside the caller's thread. `known`: costs of earlier
// searches of the same blocks and weights (see cheapest_covers), for speed alone.
std::shared_ptr<const CoverCandidates> cutoff_candidates(const BlockList& blocks, const std::vector<double>& weights,
                                                         std::uint64_t n, Interrupt* interrupt = nullptr,
                                                         ThreadPool* pool = nullptr,
                                                         std::span<const CostAt> known = {});

CutoffAvgSearch build_cutoff_search(const BlockList& blocks, std::vector<double> weights,
                                    std::shared_ptr<const CoverCandidates> candidates,
                                    Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

// The first n covers of the search with a cutoff (all of them for n = UINT64_MAX), from a
// replay of it on the tree of its entries (candidate_replay.hpp), with their weight sums in
// `sums` when given; nothing when that tree is too large.
std::optional<CoverList> replay_cutoff_search(const BlockList& blocks, std::vector<double> weights,
                                              std::shared_ptr<const CoverCandidates> candidates, std::uint64_t n,
                                              Interrupt* interrupt = nullptr, std::vector<double>* sums = nullptr);

// Candidate covers kept at most (the branch and bound holds up to twice as many while it
// runs); past that, the plain search runs.
inline constexpr std::uint64_t kMaxCandidates = std::uint64_t{1} << 20;

CoverList get_top(const BlockList& blocks, std::vector<double> weights, SearchCaps caps,
                  Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

CoverList get_topn(const BlockList& blocks, std::vector<double> weights, std::uint64_t n,
                   SearchCaps caps, Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

}  // namespace xcover
