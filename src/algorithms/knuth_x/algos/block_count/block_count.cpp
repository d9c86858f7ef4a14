#include "block_count.hpp"

#include <unordered_map>
#include <utility>

#include "../../links/element_index.hpp"
#include "../../seeded_hash.hpp"
#include "../numeric/ln_gamma.hpp"
#include "min_est.hpp"

namespace xcover {

namespace {

// Dense numbers for the labels of the first min(labels, blocks) blocks (the only ones a
// score reads), in order of first appearance.
std::vector<std::uint32_t> number_labels(std::span<const std::uint64_t> labels,
                                         std::uint64_t block_count, std::uint64_t& distinct) {
    const std::uint64_t n = std::min<std::uint64_t>(labels.size(), block_count);
    std::vector<std::uint32_t> ids(n);
    std::unordered_map<std::uint64_t, std::uint32_t, SeededHash> number;
    number.reserve(n);
    for (std::uint64_t b = 0; b < n; ++b)
        ids[b] = number.try_emplace(labels[b], static_cast<std::uint32_t>(number.size())).first->second;
    distinct = number.size();
    return ids;
}

}  // namespace

double label_term(std::span<const std::uint64_t> counts, std::uint64_t extra) {
    std::uint64_t d = 0;
    double s = -0.0;
    for (std::uint64_t c : counts) {
        d += c;
        s += ln_gamma(static_cast<double>(c + 1));
    }
    // D + a + 1 can exceed 2^64 - 1: computed in 128 bits and rounded once.
    const unsigned __int128 t = static_cast<unsigned __int128>(d) + extra;
    const double f = t != 0 ? ln_gamma(static_cast<double>(t + 1)) : 0.0;
    return s - f;
}

// (2R - 1)!! = Gamma(R + 1/2) 2^R / sqrt(pi).
double edge_term(std::uint64_t r) {
    constexpr double kLn2 = 0.6931471805599453;
    constexpr double kMinusHalfLnPi = -0.5723649429247001;
    if (r < 2) return 0.0;
    const double x = static_cast<double>(r);
    return ln_gamma(x + 0.5) + (x * kLn2 + kMinusHalfLnPi);
}

BlockCountModel::BlockCountModel(const BlockList& blocks, BlockCountInputs inputs,
                                 Interrupt* interrupt)
    : inputs_(std::move(inputs)) {
    sizes_.resize(blocks.size());
    for (std::uint64_t i = 0; i < blocks.size(); ++i) sizes_[i] = blocks.list_size(i);
    element_count_ = count_distinct_elements(blocks, interrupt);
    min_est_ = build_min_est(sizes_, inputs_.weights, element_count_, interrupt);
    if (blocks.size() > UINT32_MAX) fail("too many blocks to number their labels");
    std::uint64_t distinct = 0;
    label_id_ = number_labels(inputs_.labels, blocks.size(), distinct);
    label_seen_.assign(distinct, 0);
    label_slot_.assign(distinct, 0);
}

void BlockCountModel::count_labels(std::span<const std::uint64_t> chosen) {
    ++count_call_;
    counts_.clear();
    for (std::uint64_t b : chosen) {
        const std::uint32_t id = at(label_id_, b);
        if (label_seen_[id] != count_call_) {
            label_seen_[id] = count_call_;
            label_slot_[id] = static_cast<std::uint32_t>(counts_.size());
            counts_.push_back(0);
        }
        ++counts_[label_slot_[id]];
    }
}

double BlockCountModel::score(std::span<const std::uint64_t> chosen) {
    std::uint64_t covered = 0;  // wraps, like the sizes' sum it stands for
    for (std::uint64_t b : chosen) covered += at(sizes_, b);
    if (covered >= inputs_.vertex_total) return cover_score(chosen);
    count_labels(chosen);
    double bound = 0.0;
    if (covered != element_count_ && element_count_ != 0)
        bound = covered < element_count_ ? min_est_[element_count_ - covered - 1]
                                         : min_est_[element_count_ - 1];
    double w = -0.0;
    for (std::uint64_t b : chosen) w += at(inputs_.weights, b);
    return bound + (w + label_term(counts_, inputs_.vertex_total - covered));
}

double BlockCountModel::cover_score(std::span<const std::uint64_t> chosen) {
    count_labels(chosen);
    double w = -0.0;
    for (std::uint64_t b : chosen) w += at(inputs_.weights, b);
    std::uint64_t inside = 0;
    for (std::uint64_t b : chosen) inside += at(inputs_.edge_counts, b);
    const std::uint64_t r = inputs_.edge_total - inside;
    return (w + label_term(counts_, 0)) + edge_term(r);
}

double BlockCountModel::child_score(const DancingLinks&, const BlockList&, const ChildContext& child) {
    scratch_blocks_.assign(child.parent_blocks.begin(), child.parent_blocks.end());
    scratch_blocks_.push_back(child.block);
    return score(scratch_blocks_);
}

}  // namespace xcover
