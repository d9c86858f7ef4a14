// A lower bound on the block-count score of every cover that extends a partial cover.
//
// The score of a cover C (block-count model, see block_count.hpp) is
//     W(C) + Lab(C) + ET(R),   W = sum of weights, R = edge_total - sum of edge counts,
//     Lab = sum_l ln(c_l!) - ln(|C|!) over the label counts c_l,  ET(R) = ln((2R - 1)!!).
// A partial cover P leaves the uncovered elements U and the available blocks (those disjoint
// from P). A completion Q is a set of available blocks partitioning U; each element v of U
// lies in exactly one block b(v) of Q, so with s_b the size of block b,
//     W(Q) = sum_v w_b(v) / s_b(v),  I(Q) = sum_v e_b(v) / s_b(v),  q_l = sum_v [l(b(v)) = l] / s_b(v)
// (edges and label counts of Q, exactly). For any multipliers g >= 0 and nu_l, with
// k = sum_l q_l blocks and R0 = edge_total - I(P):
//     score(P + Q) >= W(P) + S + PhiE(g) + PhiL(nu)
//     S     = sum_v min over available b containing v of (w_b - g e_b + nu_l(b)) / s_b
//     PhiE  = min over I in [0, min(R0, Imax)] of ET(R0 - I) + g I
//     PhiL  = min over integer q, 0 <= q_l <= Q_l, kmin <= sum q <= kmax of
//             sum_l ln((c_l + q_l)!) - ln((|P| + sum q)!) - nu . q
// where Imax, Q_l, kmin, kmax bound I(Q), q_l, k from the same per-element sums (the largest,
// resp. smallest, share over the element's available blocks). At g = nu = 0 these are the
// plain bounds: the cheapest weight share per element, the edge floor ET(R0 - Imax) (ET
// increases with R) and the least label term over the possible block counts. The multipliers
// couple them: g prices the edges the remaining blocks hold against the weight they cost, nu
// prices each label against the label term, so a bound in which every element sits in its
// densest block and the label term counts many blocks at once is no longer possible. The
// best multipliers are found by Kelley's cutting planes (the bound is concave in them), and
// any point gives a valid bound, so the search's accuracy never affects admissibility.
//
// Element prices. The weights part S is the case pi = 0 of a bound that holds for any prices
// pi_v on the elements: with the reduced costs r_b = a_b - sum_{v in b} pi_v of the adjusted
// block costs a_b = w_b - g e_b + nu_l(b), every partition Q of U has
//     sum_{b in Q} a_b = sum_v pi_v + sum_v r_b(v) / s_b(v) >= sum_v pi_v + sum_v min_b r_b / s_b.
// With the prices of the linear relaxation of set partitioning (SetPartitionLp, for views of
// at most kMaxLpRows elements) this is the relaxation's optimum, far above the shares alone
// when dense blocks overlap; any prices, however rough, keep the bound valid.
//
// The edge part holds even when edge counts exceed edge_total (R wraps in 64 bits): for
// I > R0 the true term is at least 0 + g R0, the value at I = R0. It needs g >= 0.
//
// Negative weights need no care: W(Q) splits exactly over the elements, so the least share
// bounds it whatever the signs. Validity of the whole bound needs: finite weights; no block listing an element twice (so
// s_b is the block's element count and W(Q) splits exactly over elements); vertex_total equal
// to the number of distinct elements (so a cover is complete exactly when it is scored as
// complete). top_sc_input_error (top_sc_stream.hpp) checks these. Floating-point rounding is
// covered by a slack subtracted from the bound, relative to the magnitude of its terms.
//
// Labels: with at most kMaxLabelMultipliers distinct labels each has its own multiplier;
// beyond, one multiplier is shared by every label.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "../../links/block_list.hpp"
#include "block_count.hpp"
#include "../numeric/kelley.hpp"
#include "../numeric/sp_lp.hpp"

namespace xcover {

class ScBound {
public:
    static constexpr std::uint64_t kMaxLabelMultipliers = 8;

    // Views of at most this many elements also price the elements by the linear relaxation
    // of set partitioning (see below); larger ones use the shares alone.
    static constexpr std::uint64_t kMaxLpRows = 160;

    // `blocks` and `inputs` as given to the stream; every list as long as the blocks.
    // `use_lp`: price elements by the linear relaxation when the view is small enough.
    // `secondary` (ascending, distinct): elements a cover may leave uncovered. Views then
    // hold primary elements only, and s_b counts a block's primary elements: every block of a
    // completion holds a primary element (the search never branches on the others), so the
    // sums over the view's elements above stay exact. `interrupt`, when given, is polled while
    // the tables are built (SearchInterrupted).
    ScBound(const BlockList& blocks, const BlockCountInputs& inputs, bool use_lp = true,
            std::span<const std::uint64_t> secondary = {}, Interrupt* interrupt = nullptr);

    // The blocks chosen so far, summarized.
    struct Prefix {
        double weight_sum = -0.0;
        std::uint64_t inside = 0;  // edges inside, summed in 64 bits (wrapping)
        std::uint64_t blocks = 0;
        std::vector<std::uint64_t> label_counts;  // by dense label index
    };
    Prefix empty_prefix() const;
    void add_block(Prefix& prefix, std::uint64_t block) const;

    // What a partial cover leaves: one list of available blocks per uncovered element.
    struct View {
        std::vector<std::uint64_t> start{0};
        std::vector<std::uint64_t> blocks;
        void clear() {
            start.assign(1, 0);
            blocks.clear();
        }
        void close_column() { start.push_back(blocks.size()); }
        std::uint64_t columns() const { return start.size() - 1; }
    };

    // Whether bound() prices the elements of `view` by the linear relaxation.
    bool prices_by_relaxation(const View& view) const noexcept { return use_lp_ && view.columns() <= kMaxLpRows; }

    // The multipliers: g, then one per label slot.
    std::uint64_t dimension() const noexcept { return 1 + slots_; }

    // A lower bound on the score of every cover that extends `prefix` by a partition of the
    // view's elements into its blocks; +inf when there is none. The view must have at least
    // one column. `multipliers` is the starting point and receives the best one found.
    // `stop`, when given, may cut the search for multipliers and the relaxation short: the
    // bound stays valid (any multipliers and prices give one), only weaker.
    double bound(const Prefix& prefix, const View& view, std::vector<double>& multipliers,
                 const KelleyOptions& options, StopCheck* stop = nullptr);

    // The row prices of the relaxation at the best multipliers the last bound() found, one per
    // view column; empty when that bound priced by the shares alone (prices of zero).
    const std::vector<double>& best_prices() const noexcept { return best_prices_; }

    // One evaluation of the same bound for a child of a view, at the parent's multipliers and
    // element prices, with no search and no simplex. Any prices and any multipliers with
    // g >= 0 give a valid bound (see above).
    //
    // fix_prices takes the parent's view, multipliers (none count as zeros) and prices (one
    // per view column, or none for zeros). It prices each block once (its reduced share), and
    // puts each column's blocks of least share first. bound_child then bounds the child that keeps the
    // view's columns `kept` (indices, ascending) and removes the blocks b with
    // removed[b] == stamp: every kept block lies wholly in the kept columns, so its reduced
    // share is the parent's, and a column's least share is among its first blocks not removed. The
    // counts the bound needs (most edges, fewest and most blocks, room per label) are the
    // parent's column sums over the kept columns: the child's blocks are among the parent's,
    // so these stay on the safe side. The cost is the kept columns plus the removed blocks
    // skipped, not the child's view.
    void fix_prices(const View& view, std::span<const double> multipliers, std::span<const double> prices);
    double bound_child(const Prefix& prefix, std::span<const std::uint64_t> kept,
                       std::span<const std::uint64_t> removed, std::uint64_t stamp);

    // The view the chosen blocks of `blocks` leave, its columns by ascending element, which
    // `elements` receives when given (for tests).
    static View view_after(const BlockList& blocks, std::span<const std::uint64_t> chosen,
                           std::vector<std::uint64_t>* elements = nullptr);

    // The same, from scratch: the chosen blocks of the caller's list (for tests).
    double bound_of(const BlockList& blocks, std::span<const std::uint64_t> chosen,
                    const KelleyOptions& options);

    // Oracle evaluations since construction (a measure of work).
    std::uint64_t evaluations() const noexcept { return evaluations_; }
    std::uint64_t entries_scanned() const noexcept { return entries_scanned_; }
    std::uint64_t lp_pivots() const noexcept { return lp_.pivots(); }

private:
    // How an evaluation prices the elements: the shares alone, the relaxation solved at each
    // evaluation, or prices fixed by the caller.
    enum class Pricing { shares, relaxation, fixed };
    // Sets up the bound of `prefix` and `view` in passes; false when no completion exists.
    bool prepare(const Prefix& prefix, const View& view);
    // prepare's passes, in order.
    struct ColumnSums {  // over the view's columns, rounded outward
        double edges_up = 0.0;     // >= Imax
        double blocks_down = 0.0;  // <= kmin
        double blocks_up = 0.0;    // >= kmax
    };
    struct ColumnExtremes {
        double most_edges = 0.0, least_inverse = std::numeric_limits<double>::infinity(), most_inverse = 0.0;
    };
    // prepare's passes after the column sums; false when no completion exists.
    bool prepare_counts(std::uint64_t columns, const ColumnSums& sums);
    // The bound's value from the best evaluation: the prefix's weight less the rounding slack.
    double finish(const Prefix& prefix, std::uint64_t columns, double best) const;
    void start_prefix(const Prefix& prefix);
    // The column sums, each label's room sum and (without the relaxation) the undominated
    // entries; false at an element no block can cover.
    bool scan_columns(const View& view, bool lp_wanted, ColumnSums& sums);
    ColumnExtremes scan_column(const View& view, std::uint64_t begin, std::uint64_t end);
    void add_label_room(const View& view, std::uint64_t begin, std::uint64_t end);
    // kmin and kmax; false when no block count fits between them.
    bool set_block_count_range(std::uint64_t columns, const ColumnSums& sums);
    // Q_l and the live labels; returns sum Q_l.
    std::uint64_t set_label_room(std::uint64_t columns);
    // The least R a completion can leave, from Imax.
    void set_edge_floor(double edges_up);
    // sum ln(c_l!) over the prefix's label counts.
    double prefix_label_term() const;
    void tabulate_shared_label_steps();
    void keep_undominated(const std::uint64_t* blocks, std::uint64_t count);
    double evaluate(std::span<const double> y, std::span<double> grad);
    void prepare_lp(const View& view);
    // S for the element prices of the linear relaxation at y (see sc_bound_lp.cpp).
    double plain_shares(std::span<const double> y, std::span<double> grad, double& magnitude);
    double lp_shares(std::span<const double> y, std::span<double> grad, double& magnitude);
    // S of bound_child: each kept column's price and least share (see sc_bound_lp.cpp).
    double fixed_shares(std::span<const double> y, std::span<double> grad, double& magnitude);
    double phi_edges(double g, std::uint64_t& inside);
    double phi_labels(std::span<const double> y, std::span<double> grad);
    double ln_factorial(std::uint64_t n) const;
    double edge(std::uint64_t r) const;

    // Per block.
    std::vector<double> weights_, weight_share_, edge_share_, inverse_size_;
    std::vector<std::uint32_t> label_, slot_;
    std::vector<std::uint64_t> edge_counts_;
    std::uint64_t label_count_ = 0;
    std::uint64_t slots_ = 0;
    std::uint64_t edge_total_ = 0;
    std::vector<double> ln_factorial_;  // ln(n!) for n up to the element count + 1
    std::vector<double> edge_table_;    // ET(r) for small r

    // The partial cover being bounded (set by prepare).
    std::vector<double> e_weight_, e_edge_, e_inverse_;
    std::vector<std::uint32_t> e_slot_;
    std::vector<std::uint64_t> column_start_;
    std::uint64_t r0_ = 0, r_low_ = 0, last_r_ = 0;
    std::uint64_t chosen_ = 0, k_min_ = 0, k_max_ = 0;
    std::vector<std::uint64_t> counts_;      // label counts of the prefix
    std::vector<std::uint64_t> room_;        // Q_l
    std::vector<std::uint32_t> touched_labels_;
    std::vector<std::uint32_t> live_labels_;  // labels with Q_l > 0
    std::vector<double> shared_steps_;       // shared slot: least sum ln((c+q)!) - base, by k
    double base_ = 0.0;                      // sum ln(c_l!)
    double magnitude_ = 0.0;                 // largest term magnitude seen, for the slack
    std::vector<std::uint64_t> q_, best_q_;
    std::vector<double> lo_, hi_, scratch_;
    std::vector<std::uint64_t> order_;
    double most_edge_in_group_ = 0.0;
    std::vector<std::uint64_t> label_stamp_;
    std::vector<double> label_column_max_;
    std::vector<double> room_sum_;
    std::uint64_t stamp_ = 0;
    Kelley kelley_;
    // How the elements are priced: by the relaxation when wanted and the view is small enough.
    bool use_lp_ = true;
    Pricing pricing_ = Pricing::shares;
    // The best evaluation of the current bound() and its row prices.
    double best_value_ = 0.0;
    std::uint64_t bound_evaluations_ = 0;
    std::vector<double> best_prices_;
    // fix_prices's point, block shares and per-column data; bound_child's columns.
    std::vector<double> fixed_point_;
    std::vector<double> block_share_;          // per block of the fixed view
    std::vector<std::uint64_t> share_stamp_;   // per block: the fix that priced it
    std::uint64_t fix_stamp_ = 0;
    struct FixedColumn {
        double price = 0.0;
        ColumnExtremes extremes;
        std::uint64_t labels_begin = 0, labels_end = 0;  // into fixed_labels_
    };
    std::vector<FixedColumn> fixed_columns_;
    std::vector<std::pair<std::uint32_t, double>> fixed_labels_;  // (label, largest 1 / s_b)
    std::vector<std::uint64_t> fixed_start_{0}, fixed_order_;   // per column: blocks by share
    std::vector<std::pair<double, std::uint64_t>> share_pairs_;
    static constexpr std::uint64_t kSortedShares = 6;
    void sort_by_share(std::uint64_t begin, std::uint64_t end);
    std::pair<double, std::uint64_t> least_kept_share(std::uint64_t r, std::span<const std::uint64_t> removed,
                                                      std::uint64_t stamp, std::uint64_t& scanned) const;
    std::vector<double> column_price_, column_least_;
    std::vector<std::uint64_t> column_least_block_;
    std::vector<double> price_sum_;            // per block: its elements' prices (stamped)
    std::vector<std::uint64_t> price_count_;   // per block: its entries in the view
    // Linear-relaxation pricing: the view's distinct blocks (compact index j), their rows.
    SetPartitionLp lp_;
    std::vector<std::uint64_t> lp_block_, lp_start_, lp_fill_, lp_compact_, lp_seen_;
    std::vector<std::uint64_t> lp_size_;  // per block: its element count
    std::vector<double> edge_up_;          // per block: its edge count, rounded up
    std::uint64_t lp_stamp_ = 0;
    std::vector<std::uint32_t> lp_rows_;
    std::vector<std::uint64_t> lp_row_start_;   // per view column, into lp_row_blocks_
    std::vector<std::uint64_t> lp_row_blocks_;  // compact blocks of each column
    std::vector<double> lp_cost_, lp_reduced_, lp_x_;
    std::uint64_t evaluations_ = 0;
    std::uint64_t entries_scanned_ = 0;
    StopCheck* stop_ = nullptr;  // during bound() only
};

}  // namespace xcover
