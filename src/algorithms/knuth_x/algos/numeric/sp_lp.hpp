// The linear relaxation of set partitioning, for the block-count bound:
//     min c . x  subject to  sum of x_j over the columns j holding row r = 1 (every row r),
//     x >= 0,
// solved by a revised primal simplex with a dense basis inverse (rows are few: the elements a
// partial cover leaves). The costs may change between solves and the next solve starts from
// the last basis, which stays feasible since the rows do not change.
//
// The start is the basis of artificial columns (one per row, cost M, larger than any
// partition costs), so no feasible basis is needed up front. Nothing that uses the result
// depends on its accuracy: the caller turns any row prices into a valid bound (see
// ScBound), so a solve cut short by its pivot cap, or numerical drift, only weakens it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../interrupt.hpp"

namespace xcover {

class SetPartitionLp {
public:
    // `start`/`rows`: for each column j, its rows rows[start[j] .. start[j+1]) (below `row_count`).
    void load(std::uint64_t row_count, std::span<const std::uint64_t> start, std::span<const std::uint32_t> rows);
    // New costs, one per column; the basis is kept.
    void set_costs(std::span<const double> costs);
    // Pivots until no column prices out or `max_pivots`; returns the pivots made. `stop`,
    // when given, is asked before each pivot after the first and may end the solve there
    // (cut_short() then tells so): a pivot prices every column, a long wait on a large view.
    std::uint64_t solve(std::uint64_t max_pivots, StopCheck* stop = nullptr);
    bool cut_short() const noexcept { return cut_short_; }

    // Row prices c_B B^-1 of the current basis.
    const std::vector<double>& prices() const noexcept { return pi_; }
    // The current basic solution, one value per column (artificials left out).
    void primal(std::vector<double>& x) const;
    // Pivots and column pricings since construction (a measure of work).
    std::uint64_t pivots() const noexcept { return pivots_; }
    std::uint64_t pricings() const noexcept { return pricings_; }

private:
    void reset_basis();
    void refactor();
    void compute_prices();
    std::uint64_t choose_entering(bool bland);
    double column_cost(std::uint64_t j) const { return j < n_ ? costs_[j] : big_; }

    std::uint64_t m_ = 0, n_ = 0;
    std::vector<std::uint64_t> start_;
    std::vector<std::uint32_t> rows_;
    std::vector<double> costs_;
    double big_ = 0.0;
    std::vector<std::uint64_t> basis_;  // per row: a column, n_ + r for artificial r
    std::vector<double> binv_, xb_, pi_, w_, scratch_;
    std::vector<char> in_basis_;
    std::uint64_t since_refactor_ = 0;
    std::uint64_t pivots_ = 0, pricings_ = 0;
    bool cut_short_ = false;
};

}  // namespace xcover
