// ScBound's element prices from the linear relaxation of set partitioning.
#include <algorithm>
#include <cmath>
#include <limits>

#include "sc_bound.hpp"

namespace xcover {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

// The view's distinct blocks as the relaxation's columns, each with its rows (the view's
// columns that list it), and each row's blocks by compact index.
void ScBound::prepare_lp(const View& view) {
    const std::uint64_t u = view.columns();
    if (lp_seen_.size() != weights_.size()) {
        lp_seen_.assign(weights_.size(), 0);
        lp_compact_.assign(weights_.size(), 0);
    }
    ++lp_stamp_;
    lp_block_.clear();
    lp_row_start_.assign(1, 0);
    lp_row_blocks_.clear();
    for (std::uint64_t c = 0; c < u; ++c) {
        for (std::uint64_t i = view.start[c]; i < view.start[c + 1]; ++i) {
            const std::uint64_t b = view.blocks[i];
            if (lp_seen_[b] != lp_stamp_) {
                lp_seen_[b] = lp_stamp_;
                lp_compact_[b] = lp_block_.size();
                lp_block_.push_back(b);
            }
            lp_row_blocks_.push_back(lp_compact_[b]);
        }
        lp_row_start_.push_back(lp_row_blocks_.size());
    }
    const std::uint64_t blocks = lp_block_.size();
    lp_start_.assign(blocks + 1, 0);
    for (std::uint64_t j : lp_row_blocks_) ++lp_start_[j + 1];
    for (std::uint64_t j = 0; j < blocks; ++j) {
        // Every block of a view has all its elements in it: the reduced cost splits exactly.
        if (lp_start_[j + 1] != lp_size_[lp_block_[j]]) fail("ScBound: a block of the view lies partly outside it");
        lp_start_[j + 1] += lp_start_[j];
    }
    lp_rows_.resize(lp_row_blocks_.size());
    lp_fill_ = lp_start_;
    for (std::uint64_t c = 0; c < u; ++c)
        for (std::uint64_t i = lp_row_start_[c]; i < lp_row_start_[c + 1]; ++i)
            lp_rows_[lp_fill_[lp_row_blocks_[i]]++] = static_cast<std::uint32_t>(c);
    lp_.load(u, lp_start_, lp_rows_);
    lp_cost_.resize(blocks);
    lp_reduced_.resize(blocks);
}

double ScBound::lp_shares(std::span<const double> y, std::span<double> grad, double& magnitude) {
    const double g = y[0];
    const double* nu = y.data() + 1;
    const std::uint64_t blocks = lp_block_.size();
    const std::uint64_t u = lp_row_start_.size() - 1;
    for (std::uint64_t j = 0; j < blocks; ++j) {
        const std::uint64_t b = lp_block_[j];
        lp_cost_[j] = weights_[b] - g * edge_up_[b] + nu[slot_[b]];
    }
    lp_.set_costs(lp_cost_);
    // A safety valve, not a budget: the bound of the whole search rests on these solves
    // reaching the optimum (a cut-short solve's prices give a valid bound, but a weak one,
    // and each weak bound costs the search more entries than the pivots saved). On the
    // planted-partition graphs of 40 to 100 vertices, solves take 2-4 u pivots, at most 16 u.
    const std::uint64_t cap = 64 * u + 256;
    const bool converged = lp_.solve(cap, stop_) < cap && !lp_.cut_short();
    const std::vector<double>& pi = lp_.prices();
    double value = 0.0;
    for (std::uint64_t r = 0; r < u; ++r) {
        value += pi[r];
        magnitude += std::fabs(pi[r]);
    }
    for (std::uint64_t j = 0; j < blocks; ++j) {
        double rc = lp_cost_[j];
        for (std::uint64_t p = lp_start_[j]; p < lp_start_[j + 1]; ++p) rc -= pi[lp_rows_[p]];
        lp_reduced_[j] = rc;
    }
    // The supergradient: the relaxation's solution when it covers every row (no artificial
    // left), else each element's least block.
    lp_.primal(lp_x_);
    double covered = 0.0;
    for (std::uint64_t j = 0; j < blocks; ++j) covered += lp_x_[j] * static_cast<double>(lp_start_[j + 1] - lp_start_[j]);
    const bool use_x = converged && std::fabs(covered - static_cast<double>(u)) < 1e-6;
    if (use_x)
        for (std::uint64_t j = 0; j < blocks; ++j) {
            if (lp_x_[j] == 0.0) continue;
            const std::uint64_t b = lp_block_[j];
            grad[0] -= lp_x_[j] * edge_up_[b];
            grad[1 + slot_[b]] += lp_x_[j];
        }
    for (std::uint64_t r = 0; r < u; ++r) {
        double least = kInf;
        std::uint64_t arg = 0;
        for (std::uint64_t i = lp_row_start_[r]; i < lp_row_start_[r + 1]; ++i) {
            const std::uint64_t j = lp_row_blocks_[i];
            const double share = lp_reduced_[j] * inverse_size_[lp_block_[j]];
            if (share < least) {
                least = share;
                arg = lp_block_[j];
            }
        }
        value += least;
        magnitude += std::fabs(least);
        if (!use_x) {
            grad[0] -= edge_share_[arg];
            grad[1 + slot_[arg]] += inverse_size_[arg];
        }
    }
    entries_scanned_ += 3 * lp_rows_.size();
    return value;
}

// The same split of the adjusted costs over the elements, for prices fixed once for a view
// and its children: each block's reduced share, from its entries in the view (a block of the
// view has all its elements there, which the entry count checks); each column's extremes,
// room per label, and blocks by ascending share.
void ScBound::fix_prices(const View& view, std::span<const double> multipliers, std::span<const double> prices) {
    if (!prices.empty() && prices.size() != view.columns()) fail("ScBound::fix_prices: one price per column");
    if (!multipliers.empty() && multipliers.size() != dimension()) fail("ScBound::fix_prices: one value per multiplier");
    if (!multipliers.empty() && !(multipliers[0] >= 0.0)) fail("ScBound::fix_prices: the edge multiplier is negative");
    if (multipliers.empty()) fixed_point_.assign(dimension(), 0.0);
    else fixed_point_.assign(multipliers.begin(), multipliers.end());
    const double g = fixed_point_[0];
    const double* nu = fixed_point_.data() + 1;
    const std::uint64_t n = weights_.size();
    if (share_stamp_.size() != n) {
        share_stamp_.assign(n, 0);
        block_share_.assign(n, 0.0);
        price_sum_.assign(n, 0.0);
        price_count_.assign(n, 0);
    }
    if (lp_seen_.size() != n) {
        lp_seen_.assign(n, 0);
        lp_compact_.assign(n, 0);
    }
    ++fix_stamp_;
    ++lp_stamp_;
    const std::uint64_t u = view.columns();
    for (std::uint64_t r = 0; r < u; ++r) {
        const double pi = prices.empty() ? 0.0 : prices[r];
        for (std::uint64_t i = view.start[r]; i < view.start[r + 1]; ++i) {
            const std::uint64_t b = checked(view.blocks[i], n);
            if (lp_seen_[b] != lp_stamp_) {
                lp_seen_[b] = lp_stamp_;
                price_sum_[b] = 0.0;
                price_count_[b] = 0;
            }
            price_sum_[b] += pi;
            ++price_count_[b];
        }
    }
    for (std::uint64_t b : view.blocks) {
        if (share_stamp_[b] == fix_stamp_) continue;
        if (price_count_[b] != lp_size_[b]) fail("ScBound: a block of the view lies partly outside it");
        share_stamp_[b] = fix_stamp_;
        block_share_[b] = (weights_[b] - g * edge_up_[b] + nu[slot_[b]] - price_sum_[b]) * inverse_size_[b];
    }
    fixed_columns_.resize(u);
    fixed_labels_.clear();
    fixed_order_.assign(view.blocks.begin(), view.blocks.end());
    fixed_start_.assign(view.start.begin(), view.start.end());
    for (std::uint64_t r = 0; r < u; ++r) {
        FixedColumn& column = fixed_columns_[r];
        column.price = prices.empty() ? 0.0 : prices[r];
        // scan_column's per-label maxima, read back from the column's own entries.
        column.extremes = scan_column(view, view.start[r], view.start[r + 1]);
        column.labels_begin = fixed_labels_.size();
        for (std::uint64_t i = view.start[r]; i < view.start[r + 1]; ++i) {
            const std::uint32_t l = label_[view.blocks[i]];
            if (label_stamp_[l] != stamp_) continue;
            fixed_labels_.emplace_back(l, label_column_max_[l]);
            label_stamp_[l] = stamp_ - 1;
        }
        column.labels_end = fixed_labels_.size();
        sort_by_share(view.start[r], view.start[r + 1]);
    }
    // scan_column noted the labels it met for a bound's room sums; none is under way.
    for (std::uint32_t l : touched_labels_) room_sum_[l] = 0.0;
    touched_labels_.clear();
    entries_scanned_ += 3 * view.blocks.size();
}

// Puts the kSortedShares blocks of least share (then least index) first in
// fixed_order_[begin, end), in order; the rest follow in no order. A child rarely removes
// them all (bound_child scans the rest when it does), and a full sort was most of a parent's
// pricing.
void ScBound::sort_by_share(std::uint64_t begin, std::uint64_t end) {
    share_pairs_.clear();
    for (std::uint64_t i = begin; i < end; ++i) share_pairs_.emplace_back(block_share_[fixed_order_[i]], fixed_order_[i]);
    const auto sorted = share_pairs_.begin() + static_cast<std::ptrdiff_t>(std::min(kSortedShares, end - begin));
    std::partial_sort(share_pairs_.begin(), sorted, share_pairs_.end());
    for (std::uint64_t i = begin; i < end; ++i) fixed_order_[i] = share_pairs_[i - begin].second;
}

// The least share among the blocks of column r of the fixed view not removed, and its block;
// +inf when every block is removed.
std::pair<double, std::uint64_t> ScBound::least_kept_share(std::uint64_t r, std::span<const std::uint64_t> removed,
                                                           std::uint64_t stamp, std::uint64_t& scanned) const {
    const std::uint64_t begin = fixed_start_[r], end = fixed_start_[r + 1];
    const std::uint64_t sorted_end = begin + std::min(kSortedShares, end - begin);
    for (std::uint64_t i = begin; i < sorted_end; ++i) {
        const std::uint64_t b = fixed_order_[i];
        if (at(removed, b) != stamp) {
            scanned += i - begin + 1;
            return {block_share_[b], b};
        }
    }
    std::pair<double, std::uint64_t> least{std::numeric_limits<double>::infinity(), 0};
    for (std::uint64_t i = sorted_end; i < end; ++i) {
        const std::uint64_t b = fixed_order_[i];
        if (at(removed, b) == stamp) continue;
        least = std::min(least, std::pair<double, std::uint64_t>{block_share_[b], b});
    }
    scanned += end - begin;
    return least;
}

// S of bound_child: each kept column's price and least share.
double ScBound::fixed_shares(std::span<const double>, std::span<double> grad, double& magnitude) {
    double value = 0.0;
    for (std::uint64_t r = 0; r < column_least_.size(); ++r) {
        const std::uint64_t b = column_least_block_[r];
        value += column_price_[r] + column_least_[r];
        magnitude += std::fabs(column_price_[r]) + std::fabs(column_least_[r]);
        grad[0] -= edge_share_[b];
        grad[1 + slot_[b]] += inverse_size_[b];
    }
    return value;
}

}  // namespace xcover
