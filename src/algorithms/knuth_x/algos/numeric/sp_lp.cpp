#include "sp_lp.hpp"

#include "dense_inverse.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../../failure.hpp"

namespace xcover {

namespace {

constexpr double kPivotEps = 1e-9;
constexpr std::uint64_t kRefactorEvery = 64;

}  // namespace

void SetPartitionLp::load(std::uint64_t row_count, std::span<const std::uint64_t> start,
                          std::span<const std::uint32_t> rows) {
    m_ = row_count;
    n_ = start.empty() ? 0 : start.size() - 1;
    start_.assign(start.begin(), start.end());
    rows_.assign(rows.begin(), rows.end());
    for (std::uint32_t r : rows_) checked(r, m_);
    costs_.assign(n_, 0.0);
    build_pricing_groups();
    reset_basis();
}

void SetPartitionLp::build_pricing_groups() {
    if (n_ > std::numeric_limits<std::uint32_t>::max()) fail("SetPartitionLp: too many columns");
    long_columns_.clear();
    for (PricingGroup& group : groups_) group.column.clear();
    for (std::uint64_t j = 0; j < n_; ++j) {
        const std::uint64_t size = start_[j + 1] - start_[j];
        if (size >= 1 && size <= kGroupedSizes) groups_[size - 1].column.push_back(static_cast<std::uint32_t>(j));
        else long_columns_.push_back(static_cast<std::uint32_t>(j));
    }
    for (std::uint64_t s = 0; s < kGroupedSizes; ++s) {
        PricingGroup& group = groups_[s];
        const std::uint64_t count = group.column.size();
        group.rows.resize((s + 1) * count);
        for (std::uint64_t k = 0; k < count; ++k)
            for (std::uint64_t t = 0; t <= s; ++t) group.rows[t * count + k] = rows_[start_[group.column[k]] + t];
        group.cost.assign(count, 0.0);
        group.threshold.assign(count, 0.0);
    }
}

void SetPartitionLp::reset_basis() {
    basis_.resize(m_);
    in_basis_.assign(n_, 0);
    for (std::uint64_t r = 0; r < m_; ++r) basis_[r] = n_ + r;
    // A column of one row is that row's unit vector, like its artificial: it takes the
    // artificial's place, so the start is already partly a solution (B stays the identity).
    for (std::uint64_t j = 0; j < n_; ++j) {
        if (start_[j + 1] - start_[j] != 1) continue;
        const std::uint64_t r = rows_[start_[j]];
        if (basis_[r] < n_) continue;
        basis_[r] = j;
        in_basis_[j] = 1;
    }
    binv_.assign(m_ * m_, 0.0);
    for (std::uint64_t r = 0; r < m_; ++r) binv_[r * m_ + r] = 1.0;
    xb_.assign(m_, 1.0);
    since_refactor_ = 0;
}

void SetPartitionLp::set_costs(std::span<const double> costs) {
    if (costs.size() != n_) fail("SetPartitionLp: one cost per column");
    costs_.assign(costs.begin(), costs.end());
    for (PricingGroup& group : groups_)
        for (std::uint64_t k = 0; k < group.column.size(); ++k) {
            const double c = costs_[group.column[k]];
            group.cost[k] = c;
            group.threshold[k] = -kPivotEps * (1.0 + std::fabs(c));
        }
    // Any partition costs at most m times the largest cost: an artificial above that leaves.
    double largest = 0.0;
    for (double c : costs_) largest = std::max(largest, std::fabs(c));
    big_ = static_cast<double>(m_ + 1) * (largest + 1.0);
}

void SetPartitionLp::compute_prices() {
    pi_.assign(m_, 0.0);
    for (std::uint64_t r = 0; r < m_; ++r) {
        const double c = column_cost(basis_[r]);
        if (c == 0.0) continue;
        const double* row = binv_.data() + r * m_;
        for (std::uint64_t k = 0; k < m_; ++k) pi_[k] += c * row[k];
    }
}

// B^-1 by Gauss-Jordan with partial pivoting; a singular basis starts over from the
// artificials.
void SetPartitionLp::refactor() {
    since_refactor_ = 0;
    scratch_.assign(m_ * m_, 0.0);  // B, row major: scratch_[k * m + r] = entry of row k in basis column r
    for (std::uint64_t r = 0; r < m_; ++r) {
        const std::uint64_t j = basis_[r];
        if (j >= n_) {
            scratch_[(j - n_) * m_ + r] = 1.0;
        } else {
            for (std::uint64_t p = start_[j]; p < start_[j + 1]; ++p) scratch_[rows_[p] * m_ + r] = 1.0;
        }
    }
    // Invert B (m x m): solve B X = I, with X = B^-1 row major (X[r][k]).
    if (!invert_dense(scratch_, binv_, m_)) {
        reset_basis();
        return;
    }
    // Gauss-Jordan on B's rows yields B^-1 with rows indexed by basis position: row r of
    // B^-1 pairs with basis_[r] because column r of B is basis_[r].
    for (std::uint64_t r = 0; r < m_; ++r) {
        double v = 0.0;
        for (std::uint64_t k = 0; k < m_; ++k) v += binv_[r * m_ + k];
        xb_[r] = std::max(0.0, v);
    }
}

// Dantzig's rule over every structural column (partial pricing was tried: it took more
// pivots than it saved on the relaxations met here), on the reduced cost per row: the column
// of least reduced cost divided by its row count (one for a column of none) among those whose
// reduced cost is below -kPivotEps (1 + |cost|), the lowest index among equals; with `bland`,
// the lowest index among them, so that degenerate cycles end. n_ when no column prices out:
// the basis is optimal. Per row, because a column's reduced cost grows with its rows: by the
// reduced cost alone the large blocks entered first and were often pivoted out again (the
// planted-partition graphs: 13% fewer pivots on 100 vertices, 22% on 60). Either choice
// depends only on which columns price out and at what reduced cost, not on the order the
// columns are visited in, and each reduced cost is the column's cost less its row prices in
// the column's own order, then times the inverse of its row count: so pricing by groups
// chooses, pivot for pivot, the column a scan by index chooses (price_by_index, which tests
// compare).
std::uint64_t SetPartitionLp::choose_entering(bool bland) {
    pricings_ += n_;
    if (by_index_) return price_by_index(bland);
    if (bland) return lowest_improving();
    std::uint64_t enter = n_;
    double most = 0.0;
    price_group<1>(groups_[0], enter, most);
    price_group<2>(groups_[1], enter, most);
    price_group<3>(groups_[2], enter, most);
    price_group<4>(groups_[3], enter, most);
    for (std::uint32_t j : long_columns_) {
        double d = costs_[j];
        for (std::uint64_t p = start_[j]; p < start_[j + 1]; ++p) d -= pi_[rows_[p]];
        const double per_row = d * inverse_rows(start_[j + 1] - start_[j]);
        if (per_row <= most) consider(j, d, per_row, -kPivotEps * (1.0 + std::fabs(costs_[j])), enter, most);
    }
    return enter;
}

// Bland's choice by groups: each group lists its columns by ascending index, so its first
// column that prices out is its lowest; the lowest of those is the scan by index's.
std::uint64_t SetPartitionLp::lowest_improving() const {
    std::uint64_t enter = n_;
    for (std::uint64_t s = 0; s < kGroupedSizes; ++s) {
        const PricingGroup& group = groups_[s];
        const std::uint64_t count = group.column.size();
        for (std::uint64_t k = 0; k < count && group.column[k] < enter; ++k) {
            const std::uint32_t j = group.column[k];
            double d = group.cost[k];
            for (std::uint64_t t = 0; t <= s; ++t) d -= pi_[group.rows[t * count + k]];
            if (d < group.threshold[k] && !in_basis_[j]) {
                enter = j;
                break;
            }
        }
    }
    for (std::uint32_t j : long_columns_) {
        if (j >= enter) break;
        double d = costs_[j];
        for (std::uint64_t p = start_[j]; p < start_[j + 1]; ++p) d -= pi_[rows_[p]];
        if (d < -kPivotEps * (1.0 + std::fabs(costs_[j])) && !in_basis_[j]) return j;
    }
    return enter;
}

// The same choices by a plain scan of the columns by index, for tests.
std::uint64_t SetPartitionLp::price_by_index(bool bland) const {
    std::uint64_t enter = n_;
    double most = 0.0;
    for (std::uint64_t j = 0; j < n_; ++j) {
        if (in_basis_[j]) continue;
        double d = costs_[j];
        for (std::uint64_t p = start_[j]; p < start_[j + 1]; ++p) d -= pi_[rows_[p]];
        const double per_row = d * inverse_rows(start_[j + 1] - start_[j]);
        if (d < -kPivotEps * (1.0 + std::fabs(costs_[j])) && per_row < most) {
            most = per_row;
            enter = j;
            if (bland) break;
        }
    }
    return enter;
}

// The test per_row <= least comes first: after the first few columns it fails for nearly all.
template <std::uint64_t Size>
void SetPartitionLp::price_group(const PricingGroup& group, std::uint64_t& enter, double& most) const {
    static_assert(Size >= 1 && Size <= kGroupedSizes);
    constexpr double kInverse = 1.0 / static_cast<double>(Size);
    const std::uint64_t count = group.column.size();
    const std::uint32_t* rows = group.rows.data();
    const double* cost = group.cost.data();
    const double* pi = pi_.data();
    double least = most;
    std::uint64_t chosen = enter;
    for (std::uint64_t k = 0; k < count; ++k) {
        double d = cost[k] - pi[rows[k]];
        if constexpr (Size >= 2) d -= pi[rows[count + k]];
        if constexpr (Size >= 3) d -= pi[rows[2 * count + k]];
        if constexpr (Size >= 4) d -= pi[rows[3 * count + k]];
        const double per_row = d * kInverse;
        if (per_row <= least) [[unlikely]]
            consider(group.column[k], d, per_row, group.threshold[k], chosen, least);
    }
    enter = chosen;
    most = least;
}

// A column priced per row at or below the best so far: it enters if its reduced cost `d` is
// below its threshold, it is not in the basis, and its `per_row` is below the best or equal
// to it with a lower index.
void SetPartitionLp::consider(std::uint64_t j, double d, double per_row, double threshold, std::uint64_t& enter,
                              double& most) const {
    if (!(d < threshold) || in_basis_[j]) return;
    if (per_row < most || j < enter) {
        enter = j;
        most = per_row;
    }
}

std::uint64_t SetPartitionLp::solve(std::uint64_t max_pivots, StopCheck* stop) {
    std::uint64_t pivots = 0;
    // Consecutive pivots that left the objective where it was. A cycle of bases is made of
    // such pivots only, so Bland's rule, slow on these relaxations (the first column that
    // prices out, however little), chooses only in a long run of them: it ends the run, since
    // it cannot cycle, and the next pivot that lowers the objective gives Dantzig's rule back.
    std::uint64_t degenerate_run = 0;
    w_.resize(m_);
    cut_short_ = false;
    while (pivots < max_pivots) {
        if (pivots > 0 && stop != nullptr && stop->stop_now(1 + n_ / 16)) {
            cut_short_ = true;
            break;
        }
        if (since_refactor_ >= kRefactorEvery) refactor();
        compute_prices();
        const bool bland = bland_after_ ? pivots > *bland_after_ : degenerate_run > 4 * m_ + 20;
        const std::uint64_t enter = choose_entering(bland);
        if (enter == n_) break;
        std::fill(w_.begin(), w_.end(), 0.0);
        for (std::uint64_t r = 0; r < m_; ++r) {
            const double* row = binv_.data() + r * m_;
            double v = 0.0;
            for (std::uint64_t p = start_[enter]; p < start_[enter + 1]; ++p) v += row[rows_[p]];
            w_[r] = v;
        }
        std::uint64_t leave = m_;
        double ratio = std::numeric_limits<double>::infinity();
        for (std::uint64_t r = 0; r < m_; ++r) {
            if (w_[r] <= kPivotEps) continue;
            const double t = xb_[r] / w_[r];
            const bool better = t < ratio - 1e-12 ||
                                (t <= ratio + 1e-12 && leave < m_ && basis_[r] >= n_ && basis_[leave] < n_);
            if (better) {
                ratio = t;
                leave = r;
            }
        }
        if (leave == m_) break;  // unbounded: cannot happen with x bounded by the rows
        degenerate_run = ratio > 1e-12 ? 0 : degenerate_run + 1;
        const double inv = 1.0 / w_[leave];
        double* lrow = binv_.data() + leave * m_;
        for (std::uint64_t k = 0; k < m_; ++k) lrow[k] *= inv;
        xb_[leave] *= inv;
        for (std::uint64_t r = 0; r < m_; ++r) {
            if (r == leave || w_[r] == 0.0) continue;
            double* row = binv_.data() + r * m_;
            const double f = w_[r];
            for (std::uint64_t k = 0; k < m_; ++k) row[k] -= f * lrow[k];
            xb_[r] = std::max(0.0, xb_[r] - f * xb_[leave]);
        }
        if (basis_[leave] < n_) in_basis_[basis_[leave]] = 0;
        basis_[leave] = enter;
        in_basis_[enter] = 1;
        ++pivots;
        ++pivots_;
        ++since_refactor_;
    }
    compute_prices();
    return pivots;
}

void SetPartitionLp::primal(std::vector<double>& x) const {
    x.assign(n_, 0.0);
    for (std::uint64_t r = 0; r < m_; ++r)
        if (basis_[r] < n_) x[basis_[r]] = xb_[r];
}

}  // namespace xcover
