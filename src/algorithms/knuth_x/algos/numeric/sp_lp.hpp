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
#include <optional>
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
    // For tests: choose every entering column by a plain scan of the columns by index, the
    // rule the grouped pricing reproduces pivot for pivot.
    void price_by_index_only(bool on) noexcept { by_index_ = on; }
    // For tests: the pivots of a solve after which Bland's rule chooses. Unless set, it
    // chooses only after more than 4 m + 20 pivots in a row that leave the objective as it was
    // (see solve).
    void bland_after(std::uint64_t pivots) noexcept { bland_after_ = pivots; }

private:
    // Pricing scans every column at every pivot: it is most of a solve. The columns of each
    // row count up to kGroupedSizes are kept apart, their rows in arrays by position (row t
    // of the group's k-th column at rows[t * column.size() + k]), so that pricing one is a
    // fixed run of loads with no loop of its own; longer columns are priced from start_/rows_.
    struct PricingGroup {
        std::vector<std::uint32_t> column;    // the columns, ascending
        std::vector<std::uint32_t> rows;
        std::vector<double> cost, threshold;  // per column, set by set_costs
    };
    static constexpr std::uint64_t kGroupedSizes = 4;

    void reset_basis();
    void build_pricing_groups();
    template <std::uint64_t Size>
    void price_group(const PricingGroup& group, std::uint64_t& enter, double& most) const;
    void consider(std::uint64_t j, double d, double per_row, double threshold, std::uint64_t& enter,
                  double& most) const;
    // 1 / rows, the factor of a column's reduced cost per row (1 for a column of no row).
    static double inverse_rows(std::uint64_t rows) { return 1.0 / static_cast<double>(rows == 0 ? 1 : rows); }
    std::uint64_t price_by_index(bool bland) const;
    std::uint64_t lowest_improving() const;
    void refactor();
    void compute_prices();
    std::uint64_t choose_entering(bool bland);
    double column_cost(std::uint64_t j) const { return j < n_ ? costs_[j] : big_; }

    std::uint64_t m_ = 0, n_ = 0;
    std::vector<std::uint64_t> start_;
    std::vector<std::uint32_t> rows_;
    std::vector<double> costs_;
    PricingGroup groups_[kGroupedSizes];        // columns of 1..kGroupedSizes rows
    std::vector<std::uint32_t> long_columns_;   // the others (no row, or more), ascending
    double big_ = 0.0;
    std::vector<std::uint64_t> basis_;  // per row: a column, n_ + r for artificial r
    std::vector<double> binv_, xb_, pi_, w_, scratch_;
    std::vector<char> in_basis_;
    std::uint64_t since_refactor_ = 0;
    std::uint64_t pivots_ = 0, pricings_ = 0;
    bool cut_short_ = false;
    bool by_index_ = false;
    std::optional<std::uint64_t> bland_after_;
};

}  // namespace xcover
