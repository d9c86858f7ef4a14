#include "min_est.hpp"

#include <cmath>
#include <limits>
#include <unordered_map>
#include <utility>

#include "get_top.hpp"
#include "ln_gamma.hpp"

namespace xcover {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Label counts in order of first appearance.
std::vector<std::uint64_t> label_counts(std::span<const std::uint64_t> labels,
                                        std::span<const std::uint64_t> rows) {
    std::vector<std::uint64_t> counts;
    std::unordered_map<std::uint64_t, std::size_t> position;
    position.reserve(rows.size());
    for (std::uint64_t b : rows) {
        auto [it, inserted] = position.try_emplace(at(labels, b), counts.size());
        if (inserted) counts.push_back(0);
        ++counts[it->second];
    }
    return counts;
}

}  // namespace

std::vector<double> build_min_est(std::span<const std::uint64_t> sizes,
                                  std::span<const double> weights, std::uint64_t element_count) {
    std::vector<double> by_size;
    const std::size_t pairs = std::min(sizes.size(), weights.size());
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint64_t s = sizes[i];
        if (s == 0) continue;
        if (by_size.size() < s) by_size.resize(s, kInf);
        if (by_size[s - 1] > weights[i]) by_size[s - 1] = weights[i];
    }
    std::vector<double> min_est;
    min_est.reserve(element_count);
    for (std::uint64_t k = 0; k < element_count; ++k) {
        double v = k < by_size.size() ? by_size[k] : kInf;
        if (k > 0) {
            for (std::uint64_t j = 0; j <= (k - 1) / 2; ++j) {
                const double t = min_est[j] + min_est[k - 1 - j];
                if (t < v) v = t;
            }
        }
        min_est.push_back(v);
    }
    return min_est;
}

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

double edge_term(std::uint64_t r) {
    if (r < 2) return 0.0;
    const double x = static_cast<double>(r);
    return ln_gamma(x + 0.5) + (x * 0.6931471805599453 + (-0.5723649429247001));
}

BlockCountModel::BlockCountModel(const BlockList& partitions, BlockCountInputs inputs)
    : inputs_(std::move(inputs)) {
    sizes_.resize(partitions.size());
    for (std::uint64_t i = 0; i < partitions.size(); ++i) sizes_[i] = partitions.block_size(i);
    element_count_ = count_distinct_elements(partitions);
    min_est_ = build_min_est(sizes_, inputs_.weights, element_count_);
}

double BlockCountModel::score(std::span<const std::uint64_t> rows) const {
    std::uint64_t covered = 0;  // wraps, like the sizes' sum it stands for
    for (std::uint64_t b : rows) covered += at(sizes_, b);
    const std::vector<std::uint64_t> counts = label_counts(inputs_.labels, rows);

    double bound = 0.0;
    if (covered != element_count_ && element_count_ != 0)
        bound = covered < element_count_ ? min_est_[element_count_ - covered - 1]
                                         : min_est_[element_count_ - 1];
    double w = -0.0;
    for (std::uint64_t b : rows) w += at(inputs_.weights, b);

    if (covered < inputs_.vertex_total)
        return bound + (w + label_term(counts, inputs_.vertex_total - covered));
    std::uint64_t inside = 0;
    for (std::uint64_t b : rows) inside += at(inputs_.edge_counts, b);
    const std::uint64_t r = inputs_.edge_total - inside;
    return (w + label_term(counts, 0)) + edge_term(r);
}

double BlockCountModel::child_score(DancingLinks&, const BlockList&, const ChildContext& child) {
    scratch_rows_.assign(child.parent_rows.begin(), child.parent_rows.end());
    scratch_rows_.push_back(child.block);
    return score(scratch_rows_);
}

double block_count_score(const BlockCountModel& model, std::span<const std::uint64_t> rows) {
    return model.score(rows);
}

BlockCountSearch build_block_count_search(const BlockList& partitions, BlockCountInputs inputs,
                                          SearchCaps caps) {
    BlockCountModel model(partitions, std::move(inputs));
    return BlockCountSearch(partitions, caps,
                            [&](const ElementIndex&) { return std::move(model); });
}

Covers get_topn_sc(const BlockList& partitions, BlockCountInputs inputs, std::uint64_t n,
                   SearchCaps caps) {
    BlockCountSearch search = build_block_count_search(partitions, std::move(inputs), caps);
    if (n == 0) return {};
    return collect_complete(search, n);
}

}  // namespace xcover
