// ScBound's element prices from the linear relaxation of set partitioning.
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
    const std::uint64_t cap = 8 * u + 64;
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

// The same split of the adjusted costs over the elements, for the caller's prices: each
// block's reduced cost from its entries in the view (a block of the view has all its
// elements there, which the entry count checks), then each element's least share.
double ScBound::fixed_shares(std::span<const double> y, std::span<double> grad, double& magnitude) {
    const View& view = *fixed_view_;
    const double g = y[0];
    const double* nu = y.data() + 1;
    const std::uint64_t u = view.columns();
    if (lp_seen_.size() != weights_.size()) {
        lp_seen_.assign(weights_.size(), 0);
        lp_compact_.assign(weights_.size(), 0);
    }
    price_sum_.resize(weights_.size());
    price_count_.resize(weights_.size());
    ++lp_stamp_;
    const bool priced = !fixed_prices_.empty();
    double value = 0.0;
    for (std::uint64_t r = 0; r < u; ++r) {
        const double pi = priced ? fixed_prices_[r] : 0.0;
        value += pi;
        magnitude += std::fabs(pi);
        for (std::uint64_t i = view.start[r]; i < view.start[r + 1]; ++i) {
            const std::uint64_t b = view.blocks[i];
            if (lp_seen_[b] != lp_stamp_) {
                lp_seen_[b] = lp_stamp_;
                price_sum_[b] = 0.0;
                price_count_[b] = 0;
            }
            price_sum_[b] += pi;
            ++price_count_[b];
        }
    }
    for (std::uint64_t r = 0; r < u; ++r) {
        double least = kInf;
        std::uint64_t arg = 0;
        for (std::uint64_t i = view.start[r]; i < view.start[r + 1]; ++i) {
            const std::uint64_t b = view.blocks[i];
            if (price_count_[b] != lp_size_[b]) fail("ScBound: a block of the view lies partly outside it");
            const double share = (weights_[b] - g * edge_up_[b] + nu[slot_[b]] - price_sum_[b]) * inverse_size_[b];
            if (share < least) {
                least = share;
                arg = b;
            }
        }
        value += least;
        magnitude += std::fabs(least);
        grad[0] -= edge_share_[arg];
        grad[1 + slot_[arg]] += inverse_size_[arg];
    }
    entries_scanned_ += 2 * view.blocks.size();
    return value;
}

}  // namespace xcover
