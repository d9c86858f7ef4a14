#include "get_topn_sc.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include "../../numbers.hpp"
#include "../numeric/ln_gamma.hpp"
#include "top_sc_stream.hpp"

namespace xcover {

namespace {

// A bound on how far rounding can move a key or a score of this input, many times over: each
// is a sum of at most a few times element_count terms (weights of chosen blocks, a min_est
// bound, log-gamma values, the edge term), whose magnitudes add up to at most `magnitude`,
// so it is off by at most about (terms * 2^-53) * magnitude; 1e-9 * magnitude exceeds that
// for any element count below 10^6 with room to spare.
double score_margin(const BlockList& blocks, const BlockCountInputs& inputs, double score) {
    std::vector<double> magnitudes;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) magnitudes.push_back(std::fabs(inputs.weights[b]));
    const std::size_t chosen = std::min<std::size_t>(magnitudes.size(), inputs.vertex_total);
    std::nth_element(magnitudes.begin(), magnitudes.begin() + static_cast<std::ptrdiff_t>(chosen),
                     magnitudes.end(), std::greater<>());
    double magnitude = 1.0 + std::fabs(score) + edge_term(inputs.edge_total) +
                       2.0 * ln_gamma(static_cast<double>(inputs.vertex_total) + 1.0);
    for (std::size_t i = 0; i < chosen; ++i) magnitude += 2.0 * magnitudes[i];
    return 1e-9 * magnitude;
}

}  // namespace

BlockCountSearch build_block_count_search(const BlockList& blocks, BlockCountInputs inputs,
                                          SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    BlockCountModel model(blocks, std::move(inputs), interrupt);
    return BlockCountSearch(blocks, caps, interrupt,
                            [&](const ElementIndex&) { return std::move(model); }, pool);
}

std::shared_ptr<const CoverCandidates> block_count_candidates(const BlockList& blocks,
                                                              const BlockCountInputs& inputs, std::uint64_t n,
                                                              Interrupt* interrupt, ThreadPool* pool) {
    if (n == 0 || n > kMaxBlockCountCandidates / 2) return nullptr;
    if (!top_sc_input_error(blocks, inputs, interrupt).empty()) return nullptr;
    try {
        TopScStream stream(blocks, inputs, {}, SearchCaps{}, pool, {}, interrupt);
        CoverList covers;
        double limit = kInf;
        for (;;) {
            std::optional<RankedCover> cover = stream.next(interrupt);
            if (!cover || cover->score > limit) break;
            if (covers.size() == kMaxBlockCountCandidates) return nullptr;
            covers.push_list(cover->blocks);
            if (covers.size() == n) limit = cover->score + score_margin(blocks, inputs, cover->score);
        }
        return std::make_shared<const CoverCandidates>(covers, blocks.size());
    } catch (const UnrankableCover&) {
        return nullptr;  // edges beyond edge_total: the unpruned search ranks such covers
    }
}

CoverList get_topn_sc(const BlockList& blocks, BlockCountInputs inputs, std::uint64_t n,
                      SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    if (n > 0 && !caps.max_iter && !caps.max_heap)
        if (auto candidates = block_count_candidates(blocks, inputs, n, interrupt, pool)) {
            BlockCountModel model(blocks, std::move(inputs), interrupt);
            PrunedBlockCountSearch search(blocks, SearchCaps{}, interrupt, [&](const ElementIndex&) {
                return ByCandidates<BlockCountModel>(std::move(model), std::move(candidates));
            }, pool);
            return search.take_complete(n);
        }
    // Built (and the root scored) before n is looked at, as in get_topn: callers depend on
    // a root that fails its scoring failing the call even for n == 0.
    BlockCountSearch search = build_block_count_search(blocks, std::move(inputs), caps, interrupt, pool);
    if (n == 0) return {};
    return search.take_complete(n);
}

}  // namespace xcover
