#include "cost_cutoff.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <queue>
#include <span>
#include <utility>

#include "../../numbers.hpp"

namespace xcover {

namespace {

// Beyond this magnitude a weight could make a sum of a few thousand terms overflow.
constexpr double kLargestWeight = 1e250;
// Subgradient steps: at most this many, and at most this much work (block entries visited).
constexpr unsigned kMaxPriceRounds = 300;
constexpr std::uint64_t kPriceWork = 60'000'000;
constexpr unsigned kPatience = 10;  // rounds without progress before the step halves

bool lists_an_element_twice(std::span<const std::uint64_t> block, std::vector<std::uint64_t>& scratch) {
    scratch.clear();
    for (std::uint64_t e : block) scratch.push_back(e);
    sort_unique(scratch);
    return scratch.size() != block.size();
}

// Per column, the blocks holding it (CSR over the relabeled blocks), leaving out the blocks
// flagged in `removed` when given.
struct ColumnBlocks {
    std::vector<std::uint64_t> start;  // columns 0..m, start[m + 1] the end
    std::vector<std::uint64_t> blocks;

    ColumnBlocks(const BlockList& relabeled, std::uint64_t columns, const std::vector<char>* removed = nullptr)
        : start(columns + 2, 0) {
        auto kept = [&](std::uint64_t b) { return removed == nullptr || !(*removed)[b]; };
        for (std::uint64_t b = 0; b < relabeled.size(); ++b)
            if (kept(b))
                for (std::uint64_t c : relabeled[b]) ++start[checked(c, columns + 1) + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<std::uint64_t> fill(start.begin(), start.end() - 1);
        blocks.resize(start.back());
        for (std::uint64_t b = 0; b < relabeled.size(); ++b)
            if (kept(b))
                for (std::uint64_t c : relabeled[b]) blocks[fill[c]++] = b;
    }
};

// One evaluation of the bound sum_c (y_c + min over blocks b holding c of (w_b - y(b)) / |b|),
// with the block that gives each column its least share.
struct PriceRound {
    double value = -0.0;
    std::vector<std::uint64_t> argmin;  // per column
    std::vector<double> least;          // per column
};

// `by_column` leaves out the removed blocks, and the columns the forced blocks cover count
// nothing.
// `share` is scratch: each block's net cost over its length, once per block.
PriceRound evaluate(const BlockList& relabeled, const ColumnBlocks& by_column, const Reduction& reduction,
                    const std::vector<double>& weights, const std::vector<double>& price,
                    std::vector<double>& net, std::vector<double>& share) {
    share.resize(relabeled.size());
    for (std::uint64_t b = 0; b < relabeled.size(); ++b) {
        double z = -0.0;
        for (std::uint64_t c : relabeled[b]) z += price[c];
        net[b] = weights[b] - z;
        share[b] = net[b] / static_cast<double>(relabeled.list_size(b));
    }
    const std::uint64_t m = price.size() - 1;
    PriceRound round;
    round.argmin.assign(m + 1, 0);
    round.least.assign(m + 1, 0.0);
    for (std::uint64_t c = 1; c <= m; ++c) {
        if (reduction.covered[c]) continue;
        double least = kInf;
        for (std::uint64_t i = by_column.start[c]; i < by_column.start[c + 1]; ++i) {
            const std::uint64_t b = by_column.blocks[i];
            if (share[b] < least) {
                least = share[b];
                round.argmin[c] = b;
            }
        }
        round.least[c] = least;
        round.value += price[c] + least;
    }
    return round;
}

// Subgradient ascent on the prices from zero (where the bound is the averaging estimator's).
std::vector<double> ascend_prices(const BlockList& relabeled, std::uint64_t m, const ColumnBlocks& by_column,
                                  const Reduction& reduction, const std::vector<double>& weights, double scale,
                                  double box, Interrupt* interrupt) {
    InterruptPoll poll(interrupt);
    std::vector<double> price(m + 1, 0.0), best = price, net(relabeled.size()), share, step(m + 1);
    const std::uint64_t work = relabeled.total_items() * 2 + m + 1;
    const unsigned rounds = static_cast<unsigned>(std::min<std::uint64_t>(kMaxPriceRounds, kPriceWork / work));
    double best_value = -kInf, lambda = 1.0;
    unsigned since_progress = 0;
    for (unsigned r = 0; r < rounds && lambda > 1e-3; ++r) {
        poll.tick(work);
        const PriceRound round = evaluate(relabeled, by_column, reduction, weights, price, net, share);
        if (round.value > best_value + 1e-12 * scale) {
            best_value = round.value;
            best = price;
            since_progress = 0;
        } else if (++since_progress >= kPatience) {
            lambda /= 2;
            since_progress = 0;
            price = best;
            continue;
        }
        for (std::uint64_t c = 0; c <= m; ++c) step[c] = c == 0 || reduction.covered[c] ? 0.0 : 1.0;
        for (std::uint64_t c = 1; c <= m; ++c) {
            if (reduction.covered[c]) continue;
            const std::uint64_t b = round.argmin[c];
            const double part = 1.0 / static_cast<double>(relabeled.list_size(b));
            for (std::uint64_t j : relabeled[b]) step[j] -= part;
        }
        double norm = 0.0;
        for (double g : step) norm += g * g;
        if (norm == 0.0) break;  // the relaxation's optimum
        const double gap = 0.05 * std::max(std::fabs(best_value), scale);
        const double t = lambda * gap / norm;
        if (!(t > 0x1p-900)) break;  // all weights (nearly) zero: nothing to gain
        // Within a box: the bound has flat directions along which prices could drift without
        // end, and the rounding of the net costs grows with the prices.
        for (std::uint64_t c = 1; c <= m; ++c) price[c] = std::clamp(price[c] + t * step[c], -box, box);
    }
    return best;
}

// The largest weight magnitude and the longest block.
struct Extent {
    double weight = 0.0;
    std::uint64_t length = 0;
};

Extent extent_of(const BlockList& relabeled, const std::vector<double>& weights) {
    Extent e;
    for (std::uint64_t b = 0; b < relabeled.size(); ++b) {
        e.weight = std::max(e.weight, std::fabs(weights[b]));
        e.length = std::max(e.length, relabeled.list_size(b));
    }
    return e;
}

// The reduction, by propagation. A column that only one block can still cover forces that
// block, and a forced block removes every other block meeting it. A block that meets every
// block of a column it does not hold is removed too (choosing it would leave that column
// empty): on boards these are the placements that wall off a corner, and the branch and bound
// would try them again below every path. Each removal can leave other columns with one block
// or other blocks with a column they empty, so both rules run until neither removes anything,
// or until kReductionWork entries were read by the second (it only saves time). Blocks that no
// other block meets (singletons of their own elements, disjoint blocks) are all forced here,
// at a cost in proportion to the entries, where branching on them one level at a time would
// scan every column at every level.
constexpr std::uint64_t kReductionWork = 40'000'000;

class Reducer {
public:
    Reducer(const BlockList& relabeled, std::uint64_t columns, Interrupt* interrupt)
        : blocks_(relabeled), by_column_(relabeled, columns), columns_(columns), poll_(interrupt),
          size_(columns + 1, 0), mark_(columns + 1, 0), shrunk_(columns + 1, 1), witness_(columns + 1, kNone) {
        if (columns < 64 * kMaskWords) {
            masks_.assign(relabeled.size() * kMaskWords, 0);
            for (std::uint64_t b = 0; b < relabeled.size(); ++b)
                for (std::uint64_t c : relabeled[b]) masks_[b * kMaskWords + c / 64] |= std::uint64_t{1} << (c % 64);
        }
        r_.removed.assign(relabeled.size(), 0);
        r_.covered.assign(columns + 1, 0);
        for (std::uint64_t c = 1; c <= columns; ++c) {
            size_[c] = by_column_.start[c + 1] - by_column_.start[c];
            if (size_[c] == 1) single_.push_back(c);
        }
    }

    Reduction run() && {
        do force_singles();
        while (!r_.infeasible && remove_column_emptiers());
        return std::move(r_);
    }

private:
    void remove(std::uint64_t block) {
        r_.removed[block] = 1;
        for (std::uint64_t c : blocks_[block]) {
            if (r_.covered[c]) continue;
            shrunk_[c] = 1;
            if (--size_[c] == 1) single_.push_back(c);
            if (size_[c] == 0) r_.infeasible = true;
        }
    }

    void force_singles() {
        while (!single_.empty() && !r_.infeasible) {
            const std::uint64_t column = single_.back();
            single_.pop_back();
            if (r_.covered[column] || size_[column] != 1) continue;
            std::uint64_t block = 0;
            for (std::uint64_t i = by_column_.start[column]; i < by_column_.start[column + 1]; ++i)
                if (!r_.removed[by_column_.blocks[i]]) block = by_column_.blocks[i];
            r_.forced.push_back(block);
            r_.removed[block] = 1;
            for (std::uint64_t c : blocks_[block]) r_.covered[c] = 1;
            for (std::uint64_t c : blocks_[block])
                for (std::uint64_t i = by_column_.start[c]; i < by_column_.start[c + 1]; ++i)
                    if (!r_.removed[by_column_.blocks[i]]) remove(by_column_.blocks[i]);
        }
    }

    // Removes the blocks that meet every block of some column they do not hold; whether any was.
    // A column that lost no block since the last pass can be emptied by no block it could not
    // before: only the others are looked at.
    bool remove_column_emptiers() {
        look_.assign(shrunk_.begin(), shrunk_.end());
        std::fill(shrunk_.begin(), shrunk_.end(), 0);
        bool any = false;
        for (std::uint64_t b = 0; b < blocks_.size() && work_ < kReductionWork; ++b) {
            if (r_.removed[b]) continue;
            if (empties_a_column(b)) {
                remove(b);
                any = true;
            }
        }
        return any;
    }

    // Whether every remaining block of some uncovered column that `block` does not hold meets
    // it. A column's first block disjoint from it settles the column: the one that settled it
    // for the block before (neighbours in the list are often alike) is tried first.
    bool empties_a_column(std::uint64_t block) {
        for (std::uint64_t c : blocks_[block]) mark_[c] = 1;
        auto disjoint = [&](std::uint64_t other) {
            if (r_.removed[other]) return false;
            if (!masks_.empty()) {
                ++work_;
                const std::uint64_t* a = &masks_[block * kMaskWords];
                const std::uint64_t* b = &masks_[other * kMaskWords];
                return ((a[0] & b[0]) | (a[1] & b[1]) | (a[2] & b[2]) | (a[3] & b[3])) == 0;
            }
            work_ += blocks_.list_size(other);
            return std::ranges::none_of(blocks_[other], [&](std::uint64_t d) { return mark_[d] != 0; });
        };
        bool empties = false;
        for (std::uint64_t c = 1; c <= columns_ && !empties; ++c) {
            if (!look_[c] || mark_[c] || r_.covered[c]) continue;
            if (witness_[c] != kNone && disjoint(witness_[c])) continue;
            empties = true;
            for (std::uint64_t i = by_column_.start[c]; i < by_column_.start[c + 1] && empties; ++i) {
                if (!disjoint(by_column_.blocks[i])) continue;
                witness_[c] = by_column_.blocks[i];
                empties = false;
            }
        }
        for (std::uint64_t c : blocks_[block]) mark_[c] = 0;
        poll_.tick(columns_);
        work_ += columns_;
        return empties;
    }

    const BlockList& blocks_;
    const ColumnBlocks by_column_;
    std::uint64_t columns_;
    InterruptPoll poll_;
    Reduction r_;
    std::vector<std::uint64_t> size_;    // per column, its blocks not removed
    std::vector<std::uint64_t> single_;  // columns down to one block
    // Below 256 columns, each block's columns as bits: a test of two blocks is a few ANDs.
    static constexpr std::uint64_t kMaskWords = 4;
    std::vector<std::uint64_t> masks_;   // kMaskWords per block, or none
    std::vector<char> mark_;             // the columns of the block looked at
    std::vector<char> shrunk_;           // per column, whether it lost a block since the last pass
    std::vector<char> look_;             // per column, whether this pass looks at it
    static constexpr std::uint64_t kNone = UINT64_MAX;
    std::vector<std::uint64_t> witness_;  // per column, the last block found disjoint from one looked at
    std::uint64_t work_ = 0;
};

}  // namespace

bool cutoff_applies(const BlockList& blocks, const std::vector<double>& weights) {
    if (weights.size() < blocks.size()) return false;
    // The branch and bound's nodes are 32-bit: one per entry and at most one per column, and
    // there are no more columns than entries.
    if (blocks.total_items() >= UINT32_MAX / 2) return false;
    std::vector<std::uint64_t> scratch;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const double w = weights[b];
        if (!std::isfinite(w) || std::fabs(w) > kLargestWeight) return false;
        if (w < 0.0 && lists_an_element_twice(blocks[b], scratch)) return false;
    }
    return true;
}

NetCosts net_costs(const BlockList& relabeled, std::uint64_t columns, const std::vector<double>& weights,
                   Interrupt* interrupt) {
    NetCosts costs;
    costs.reduction = Reducer(relabeled, columns, interrupt).run();
    const Reduction& reduction = costs.reduction;
    const ColumnBlocks by_column(relabeled, columns, &reduction.removed);
    const Extent extent = extent_of(relabeled, weights);
    costs.net.resize(relabeled.size());
    if (reduction.infeasible) return costs;  // no cover: nothing is searched
    const std::vector<double> y = ascend_prices(relabeled, columns, by_column, reduction, weights, extent.weight,
                                                extent.weight * static_cast<double>(extent.length), interrupt);

    // Prices that no block outprices: each column's price raised by its least net share.
    std::vector<double> share;
    const PriceRound round = evaluate(relabeled, by_column, reduction, weights, y, costs.net, share);
    std::vector<double> price(columns + 1, 0.0);
    double magnitude = 0.0;
    for (std::uint64_t c = 1; c <= columns; ++c) {
        if (reduction.covered[c]) continue;
        price[c] = y[c] + round.least[c];
        costs.total_price += price[c];
        magnitude += std::fabs(price[c]) + std::fabs(y[c]) + std::fabs(round.least[c]);
    }
    evaluate(relabeled, by_column, reduction, weights, price, costs.net, share);

    // Every quantity compared is a sum of at most `terms` numbers of magnitude at most
    // `magnitude` (weights, prices, the subgradient's prices and least shares they come
    // from); each sum is off by at most terms * u * terms * magnitude (u = 2^-53), and a
    // handful of them meet in one comparison.
    magnitude += extent.weight;
    const double terms = 2.0 * static_cast<double>(columns) + static_cast<double>(extent.length) + 4.0;
    // Results near zero round to a multiple of the least subnormal instead: an absolute error.
    costs.margin = 64.0 * terms * terms * (0x1p-53 * magnitude + 0x1p-1074);
    if (!std::isfinite(costs.total_price) || !std::isfinite(costs.margin)) {
        costs.net.assign(weights.begin(), weights.begin() + static_cast<std::ptrdiff_t>(relabeled.size()));
        costs.total_price = 0.0;
        costs.margin = 64.0 * terms * terms * (0x1p-53 * extent.weight + 0x1p-1074);
    }
    return costs;
}

namespace {

// The n cheapest costs seen so far; the cutoff is the largest once there are n.
class CheapestCosts {
public:
    explicit CheapestCosts(std::uint64_t n) : n_(n) {}
    void offer(double cost) {
        if (heap_.size() < n_) {
            heap_.push(cost);
        } else if (cost < heap_.top()) {
            heap_.pop();
            heap_.push(cost);
        }
    }
    double cutoff() const { return full() && !heap_.empty() ? heap_.top() : kInf; }
    bool full() const { return heap_.size() >= n_; }
    std::uint64_t size() const { return heap_.size(); }
    double largest() const { return heap_.empty() ? kInf : heap_.top(); }

private:
    std::uint64_t n_;
    std::priority_queue<double> heap_;
};

// The branch and bound's own matrix: rows are the blocks by ascending net cost, so each column
// lists its blocks cheapest first. Covering a column hides only the blocks cheap enough to
// matter (net cost at most `threshold`, as in Knuth's DLX5): a dearer block left in other
// columns costs more than the cutoff wherever the search meets it again, since costs so far
// only grow and the cutoff only drops. Uncovering restores the rows covering hid.
class CostMatrix {
public:
    // Whether a matrix of these dimensions fits its 32-bit node indices.
    static bool fits(std::uint64_t columns, std::uint64_t entries) {
        return columns < kMaxNodes && entries < kMaxNodes - columns - 1;
    }

    CostMatrix(const BlockList& rows, std::uint64_t columns, const std::vector<double>& net)
        : next_(columns + 1), prev_(columns + 1) {
        if (!fits(columns, rows.total_items())) fail("cost matrix beyond 32-bit nodes");
        const std::uint64_t nodes = columns + 1 + rows.total_items();
        nodes_.resize(nodes);
        left_.resize(nodes);
        right_.resize(nodes);
        column_.resize(nodes);
        row_.resize(nodes);
        net_.resize(nodes);
        for (std::uint32_t c = 0; c <= columns; ++c) {
            nodes_[c] = Node{c, c};
            left_[c] = right_[c] = c;
            column_[c] = c;
            next_[c] = c == columns ? 0 : c + 1;
            prev_[c] = static_cast<std::uint32_t>(c == 0 ? columns : c - 1);
        }
        std::uint64_t row_start = columns + 1;  // the row's first node
        for (std::uint64_t r = 0; r < rows.size(); ++r) {
            const auto row = rows[r];
            for (std::uint64_t i = 0; i < row.size(); ++i) {
                const auto c = static_cast<std::uint32_t>(checked(row[i], columns + 1));
                const auto x = static_cast<std::uint32_t>(row_start + i);
                const auto left = static_cast<std::uint32_t>(i == 0 ? x + row.size() - 1 : x - 1);
                const auto right = static_cast<std::uint32_t>(i + 1 == row.size() ? row_start : x + 1);
                nodes_[x] = Node{nodes_[c].up, c};
                left_[x] = left;
                right_[x] = right;
                column_[x] = c;
                row_[x] = static_cast<std::uint32_t>(r);
                net_[x] = net[r];
                nodes_[nodes_[c].up].down = x;
                nodes_[c].up = x;
            }
            row_start += row.size();
        }
    }

    // Takes column `c` out of the ring of active columns for good (a column the forced
    // blocks cover; no row of this matrix holds it).
    void drop_column(std::uint64_t c) {
        next_[prev_[c]] = next_[c];
        prev_[next_[c]] = prev_[c];
    }

    std::uint64_t first_active() const { return next_[0]; }
    std::uint64_t next_active(std::uint64_t c) const { return next_[c]; }
    std::uint64_t down(std::uint64_t x) const { return nodes_[x].down; }
    std::uint64_t row_of(std::uint64_t x) const { return row_[x]; }
    double net_of(std::uint64_t x) const { return net_[x]; }

    // Covering hides the rows down to the last one within the threshold and remembers that
    // row, so that uncovering (always in the opposite order) restores the same rows.
    void cover(std::uint64_t c, double threshold) {
        next_[prev_[c]] = next_[c];
        prev_[next_[c]] = prev_[c];
        std::uint32_t last = static_cast<std::uint32_t>(c);
        for (std::uint32_t r = nodes_[c].down; r != c && net_[r] <= threshold; r = nodes_[r].down) {
            for_rest_of_row(r, [&](std::uint32_t x) {
                const Node& n = nodes_[x];
                nodes_[n.up].down = n.down;
                nodes_[n.down].up = n.up;
            });
            last = r;
        }
        hidden_down_to_.push_back(last);
    }
    void uncover(std::uint64_t c) {
        const std::uint32_t last = hidden_down_to_.back();
        hidden_down_to_.pop_back();
        for (std::uint32_t r = last; r != c; r = nodes_[r].up)
            for_rest_of_row_backwards(r, [&](std::uint32_t x) {
                const Node& n = nodes_[x];
                nodes_[n.up].down = x;
                nodes_[n.down].up = x;
            });
        next_[prev_[c]] = static_cast<std::uint32_t>(c);
        prev_[next_[c]] = static_cast<std::uint32_t>(c);
    }
    // Covers (uncovers) the other columns of the row of node `x`.
    void cover_rest(std::uint64_t x, double threshold) {
        for_rest_of_row(static_cast<std::uint32_t>(x), [&](std::uint32_t y) { cover(column_[y], threshold); });
    }
    void uncover_rest(std::uint64_t x) {
        for_rest_of_row_backwards(static_cast<std::uint32_t>(x), [&](std::uint32_t y) { uncover(column_[y]); });
    }

private:
    static constexpr std::uint64_t kMaxNodes = UINT32_MAX;

    // One node's neighbours in its column, side by side: hiding a row reads and writes these
    // alone (and walks the row's ring, whose nodes lie side by side in their own arrays).
    struct Node {
        std::uint32_t up, down;
    };

    template <class F>
    void for_rest_of_row(std::uint32_t x, F&& f) const {
        for (std::uint32_t y = right_[x]; y != x; y = right_[y]) f(y);
    }
    template <class F>
    void for_rest_of_row_backwards(std::uint32_t x, F&& f) const {
        for (std::uint32_t y = left_[x]; y != x; y = left_[y]) f(y);
    }

    std::vector<Node> nodes_;  // the column heads 0..m, then each row's nodes in turn
    std::vector<std::uint32_t> left_, right_;  // per node: its row's ring
    std::vector<std::uint32_t> column_, row_;  // per node
    std::vector<double> net_;                  // per node, its row's net cost
    std::vector<std::uint32_t> next_, prev_;  // the ring of active columns through 0
    std::vector<std::uint32_t> hidden_down_to_;  // per covered column, innermost last
};

// What the threads of one branch and bound share: the problem as it searches it (blocks by
// ascending net cost, the forced blocks, the margins) and the n cheapest costs seen by any
// of them, whose largest is everyone's cutoff. A cutoff from covers another thread found is
// as good as one's own: any n distinct covers bound the n-th cheapest cost.
class CutoffProblem {
public:
    CutoffProblem(const BlockList& relabeled, std::uint64_t columns, const std::vector<double>& weights,
                  const NetCosts& costs, std::uint64_t n, std::uint64_t max_kept)
        : weights(weights), base(costs.total_price), keep_margin(4 * costs.margin),
          prune_margin(6 * costs.margin), max_kept(max_kept), best_(n) {
        // The forced blocks open every path, as if chosen first: their net costs (their
        // weights: their columns have no price) join the base, and their columns leave the
        // matrix. Removed blocks are none of its rows.
        const Reduction& reduction = costs.reduction;
        infeasible = reduction.infeasible;
        forced_blocks = reduction.forced;
        for (std::uint64_t b : forced_blocks) base += costs.net[b];
        for (std::uint64_t b = 0; b < relabeled.size(); ++b)
            if (!reduction.removed[b]) order.push_back(b);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint64_t a, std::uint64_t b) { return costs.net[a] < costs.net[b]; });
        BlockList sorted;
        std::vector<double> net;
        for (std::uint64_t b : order) {
            sorted.push_list(relabeled[b]);
            net.push_back(std::max(costs.net[b], 0.0));
            length = std::max(length, relabeled.list_size(b));
        }
        links.emplace(sorted, columns, net);
        for (std::uint64_t c = 1; c <= columns; ++c)
            if (reduction.covered[c]) links->drop_column(c);
    }

    double cutoff() const noexcept { return cutoff_.load(std::memory_order_relaxed); }
    // Covers kept by every thread together, and whether that is more than they may hold.
    void count_kept(std::int64_t change) noexcept { kept_.fetch_add(change, std::memory_order_relaxed); }
    bool too_many_kept() const noexcept {
        return kept_.load(std::memory_order_relaxed) > static_cast<std::int64_t>(2 * max_kept);
    }
    void offer(double cost) {
        if (!(cost < cutoff())) return;  // CheapestCosts would not take it either
        std::lock_guard lock(mutex_);
        best_.offer(cost);
        cutoff_.store(std::min(cap_, best_.cutoff()), std::memory_order_relaxed);
    }
    // Starts a search for the n cheapest costs below `cap`: the cutoff is `cap` until n covers
    // cheaper than it are seen. Every cover costing up to the final cutoff + 4 margins is
    // still kept; the final cutoff bounds the n-th cheapest cost only when n were seen (reached_n).
    void start(std::uint64_t n, double cap) {
        best_ = CheapestCosts(n);
        cap_ = cap;
        cutoff_.store(cap, std::memory_order_relaxed);
        kept_.store(0, std::memory_order_relaxed);
    }
    // Whether n covers were seen (at the end of a search, all threads done).
    bool reached_n() const { return best_.full(); }
    std::uint64_t seen_count() const { return best_.size(); }
    double largest_seen() const { return best_.largest(); }

    const std::vector<double>& weights;
    double base;
    double keep_margin;
    double prune_margin;
    std::uint64_t max_kept;
    std::vector<std::uint64_t> order;          // row (sorted position) -> block
    std::vector<std::uint64_t> forced_blocks;  // blocks every cover holds, before every path
    bool infeasible = false;                   // a column no block can cover: no cover at all
    std::uint64_t length = 1;
    std::optional<CostMatrix> links;           // at the root: each thread searches a copy

private:
    std::mutex mutex_;
    CheapestCosts best_;
    double cap_ = kInf;
    std::atomic<double> cutoff_{kInf};
    std::atomic<std::int64_t> kept_{0};
};

// One choice on a path of the branch and bound: the column branched on and the node chosen.
struct CutoffChoice {
    std::uint64_t column;
    std::uint64_t node;
};

// Depth-first branch and bound over a copy of the problem's CostMatrix, with net costs raised
// to at least zero (a rounding's worth; the margins cover it), below a given path (a subtree
// of the tree, one piece of a threaded run) or from the root. It never leaves out a position
// whose bound is within 6 margins of the cutoff, so every cover costing up to the final
// cutoff + 4 margins is seen and kept.
class CutoffSearch {
public:
    CutoffSearch(CutoffProblem& problem, Interrupt* interrupt)
        : problem_(problem), links_(*problem.links), poll_(interrupt) {}

    // Searches the subtree below `top` (from the root when empty), keeping its covers; false
    // when more than twice max_kept of them cost up to the cutoff.
    bool search_below(std::span<const CutoffChoice> top) {
        for (const CutoffChoice& choice : top) descend(choice.column, choice.node);
        const bool within = search(top.size());
        while (!path_.empty()) ascend();
        return within;
    }

    // The position below `top`: a cover (kept, no children), a dead end, or the choices of its
    // branch column worth trying, appended to `children` after `top`.
    void expand(std::span<const CutoffChoice> top, std::vector<std::vector<CutoffChoice>>& children) {
        for (const CutoffChoice& choice : top) descend(choice.column, choice.node);
        if (links_.first_active() == 0) {
            record_cover();
        } else if (const std::uint64_t c = branch_column(net_sum_); c != 0) {
            for (std::uint64_t x = links_.down(c); x != c && !too_costly(net_sum_ + links_.net_of(x)); x = links_.down(x)) {
                children.emplace_back(top.begin(), top.end());
                children.back().push_back(CutoffChoice{c, x});
            }
        }
        while (!path_.empty()) ascend();
    }

    void set_interrupt(Interrupt* interrupt) noexcept { poll_.set(interrupt); }

    // Drops the kept covers beyond the cutoff + 4 margins.
    void purge() {
        const double limit = problem_.cutoff() + problem_.keep_margin;
        CoverList kept;
        std::vector<double> costs;
        for (std::uint64_t i = 0; i < kept_.size(); ++i) {
            if (kept_costs_[i] > limit) continue;
            kept.push_list(kept_[i]);
            costs.push_back(kept_costs_[i]);
        }
        problem_.count_kept(static_cast<std::int64_t>(kept.size()) - static_cast<std::int64_t>(kept_.size()));
        kept_ = std::move(kept);
        kept_costs_ = std::move(costs);
    }
    // The covers kept since the last take, with their costs (still counted as kept).
    CoverList take_kept(std::vector<double>& costs) {
        costs = std::move(kept_costs_);
        kept_costs_.clear();
        return std::exchange(kept_, CoverList{});
    }

private:
    struct Level {
        std::uint64_t column;
        std::uint64_t node;
        double net_sum;          // before this level's choice
    };

    // The net cost, beyond `net_sum`, up to which a block can still matter.
    double headroom(double net_sum) const {
        return problem_.cutoff() + problem_.prune_margin - problem_.base - net_sum;
    }
    // A bound on the net cost of every completion of a position, compared with the cutoff.
    bool too_costly(double net_bound) const {
        return problem_.base + net_bound > problem_.cutoff() + problem_.prune_margin;
    }

    // The column to branch on, or 0 when the position cannot reach the cutoff: fewest blocks
    // under the cutoff, ties to the column whose cheapest block costs most. A column's
    // cheapest block, and all of them spread over the longest block's columns, bound the rest.
    std::uint64_t branch_column(double net_sum) const {
        const CostMatrix& links = links_;
        const double limit = headroom(net_sum);
        const double length = static_cast<double>(problem_.length);
        std::uint64_t best = 0, best_count = UINT64_MAX;
        double best_least = -kInf, spread = 0.0;
        // Dead ends first (most positions are): every column's cheapest block, then counts.
        for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) {
            const std::uint64_t first = links.down(c);
            if (first == c) return 0;
            const double least = links.net_of(first);
            if (least > limit) return 0;
            spread += least / length;
        }
        if (spread > limit) return 0;
        for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) {
            const std::uint64_t first = links.down(c);
            const double least = links.net_of(first);
            std::uint64_t count = 0;
            for (std::uint64_t i = first; i != c && count <= best_count && links.net_of(i) <= limit; i = links.down(i))
                ++count;
            if (count > best_count) continue;
            if (count < best_count || least > best_least) {
                best = c;
                best_count = count;
                best_least = least;
            }
        }
        return best;
    }

    // Records the cover the matrix shows; false when too many are kept.
    bool record_cover() {
        double cost = -0.0;
        for (std::uint64_t block : problem_.forced_blocks) {
            cost += problem_.weights[block];
            kept_.push_item(block);
        }
        for (const Level& level : path_) {
            const std::uint64_t block = problem_.order[links_.row_of(level.node)];
            cost += problem_.weights[block];
            kept_.push_item(block);
        }
        kept_.close_list();
        kept_costs_.push_back(cost);
        problem_.count_kept(1);
        problem_.offer(cost);
        if (problem_.too_many_kept()) purge();
        return !problem_.too_many_kept();
    }

    // Chooses `node` of `column` at a new level, whatever its cost.
    void descend(std::uint64_t column, std::uint64_t node) {
        links_.cover(column, headroom(net_sum_));
        path_.push_back(Level{column, node, net_sum_});
        net_sum_ += links_.net_of(node);
        links_.cover_rest(node, headroom(net_sum_));
    }
    // Undoes the deepest level.
    void ascend() {
        const Level& level = path_.back();
        links_.uncover_rest(level.node);
        links_.uncover(level.column);
        net_sum_ = level.net_sum;
        path_.pop_back();
    }

    // The branch and bound below the first `floor` levels, which it leaves as they are.
    bool search(std::size_t floor) {
        CostMatrix& links = links_;
        for (;;) {
            poll_.tick();
            bool descended = false;
            if (links.first_active() == 0) {
                if (!record_cover()) return false;
            } else if (const std::uint64_t c = branch_column(net_sum_); c != 0) {
                links.cover(c, headroom(net_sum_));
                path_.push_back(Level{c, links.down(c), net_sum_});
                descended = try_block();
            }
            if (descended) continue;
            // Back up to the next block worth trying.
            for (;;) {
                if (path_.size() == floor) {
                    purge();
                    return !problem_.too_many_kept();
                }
                Level& level = path_.back();
                links.uncover_rest(level.node);
                level.node = links.down(level.node);
                net_sum_ = level.net_sum;
                if (try_block()) break;
            }
        }
    }

    // Chooses the current block of the deepest level if it is worth trying (and moves
    // net_sum_ below it); otherwise pops the level.
    bool try_block() {
        Level& level = path_.back();
        if (level.node == level.column || links_.net_of(level.node) > headroom(level.net_sum)) {
            links_.uncover(level.column);
            net_sum_ = level.net_sum;
            path_.pop_back();
            return false;
        }
        net_sum_ = level.net_sum + links_.net_of(level.node);
        links_.cover_rest(level.node, headroom(net_sum_));
        return true;
    }

    CutoffProblem& problem_;
    CostMatrix links_;
    std::vector<Level> path_;
    double net_sum_ = 0.0;
    CoverList kept_;                  // covers seen within the cutoff, in order of choice
    std::vector<double> kept_costs_;  // their costs
    InterruptPoll poll_;
};

// Subtrees of the branch and bound for the threads: the tree cut level by level, in depth-
// first order, until it has kPiecesPerThread pieces per thread (or kMaxCutDepth levels).
// Covers above the cut are kept by `cutter`. A level whose positions branch very widely
// stops being expanded once it has 4 times the pieces wanted: the positions not yet expanded
// stay pieces themselves, after the children of those before them, so the order holds.
constexpr std::uint64_t kPiecesPerThread = 32;
constexpr std::size_t kMaxCutDepth = 12;

std::vector<std::vector<CutoffChoice>> cut_tree(CutoffSearch& cutter, std::uint64_t pieces) {
    std::vector<std::vector<CutoffChoice>> level{{}};
    for (std::size_t depth = 0; depth < kMaxCutDepth && !level.empty() && level.size() < pieces; ++depth) {
        std::vector<std::vector<CutoffChoice>> next;
        std::size_t i = 0;
        for (; i < level.size() && next.size() < 4 * pieces; ++i) cutter.expand(level[i], next);
        for (; i < level.size(); ++i) next.push_back(std::move(level[i]));
        level = std::move(next);
    }
    return level;
}

// The pieces searched by the caller's thread and the pool's helpers, each taking the next
// piece not yet taken. Every piece's covers are kept with the piece, so the candidates come
// out in the order of the pieces whichever thread searched them.
class ThreadedCutoff final : public TaskSource {
public:
    ThreadedCutoff(CutoffProblem& problem, std::vector<std::vector<CutoffChoice>> pieces, ThreadPool& pool)
        : problem_(problem), pieces_(std::move(pieces)), kept_(pieces_.size()), costs_(pieces_.size()) {
        membership_ = std::make_unique<ThreadPool::Membership>(pool, *this);
        membership_->wake();
    }
    ~ThreadedCutoff() {
        cancel_.requested_flag.store(true, std::memory_order_relaxed);
        membership_.reset();
    }

    // Searches pieces on the caller's thread with `search` (at the root) until none is left (or too many covers are
    // kept), then waits for the pieces the helpers took (polling `interrupt`). False when too
    // many covers were kept; rethrows a helper's failure.
    bool run(CutoffSearch& search, Interrupt* interrupt) {
        while (run_next(search)) {
        }
        InterruptPoll poll(interrupt);
        std::unique_lock lock(mutex_);
        while (finished_ < taken() && !error_) {
            done_.wait_for(lock, std::chrono::milliseconds(2));
            lock.unlock();
            poll.tick(InterruptPoll::kInterval);
            lock.lock();
        }
        if (error_) std::rethrow_exception(error_);
        return !overflow_.load(std::memory_order_relaxed);
    }

    // Every piece's covers, in the order of the pieces, with their costs.
    void gather(CoverList& covers, std::vector<double>& costs) {
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            covers.append_lists(kept_[i], 0, kept_[i].size());
            costs.insert(costs.end(), costs_[i].begin(), costs_[i].end());
        }
    }

    bool run_one() noexcept override {
        try {
            std::unique_ptr<CutoffSearch> search = take_helper_search();
            const bool ran = run_next(*search);
            give_back(std::move(search));
            return ran;
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!error_) error_ = std::current_exception();
            done_.notify_all();
            return false;
        }
    }

private:
    struct Cancel final : Interrupt {
        std::atomic<bool> requested_flag{false};
        bool requested() override { return requested_flag.load(std::memory_order_relaxed); }
    };

    // The pieces taken so far (next_ also counts the takes that found none left).
    std::uint64_t taken() const noexcept {
        return std::min<std::uint64_t>(next_.load(std::memory_order_relaxed), pieces_.size());
    }

    // Takes the next piece and searches it; false when none is left (or the run is over).
    bool run_next(CutoffSearch& search) {
        if (overflow_.load(std::memory_order_relaxed)) return false;
        const std::uint64_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= pieces_.size()) return false;
        const bool within = search.search_below(pieces_[i]);
        if (!within) overflow_.store(true, std::memory_order_relaxed);
        kept_[i] = search.take_kept(costs_[i]);
        std::lock_guard lock(mutex_);
        ++finished_;
        done_.notify_all();
        return within;
    }

    std::unique_ptr<CutoffSearch> take_helper_search() {
        {
            std::lock_guard lock(mutex_);
            if (!spare_.empty()) {
                std::unique_ptr<CutoffSearch> search = std::move(spare_.back());
                spare_.pop_back();
                return search;
            }
        }
        return std::make_unique<CutoffSearch>(problem_, &cancel_);
    }
    void give_back(std::unique_ptr<CutoffSearch> search) {
        std::lock_guard lock(mutex_);
        spare_.push_back(std::move(search));
    }

    CutoffProblem& problem_;
    const std::vector<std::vector<CutoffChoice>> pieces_;
    std::vector<CoverList> kept_;            // per piece, written by the thread that searched it
    std::vector<std::vector<double>> costs_;
    std::atomic<std::uint64_t> next_{0};
    std::atomic<bool> overflow_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    std::uint64_t finished_ = 0;
    std::exception_ptr error_;
    std::vector<std::unique_ptr<CutoffSearch>> spare_;
    Cancel cancel_;
    // Last: destroyed first, it waits for every helper inside run_one.
    std::unique_ptr<ThreadPool::Membership> membership_;
};

// One search of the branch and bound for the n cheapest costs below `cap` (see
// CutoffProblem::start), on the caller's thread or on the pool.
struct Round {
    std::optional<CoverList> covers;  // nothing when too many were kept
    bool reached_n = false;
    double cutoff = kInf;
    std::uint64_t count = 0;  // covers seen below the cap, up to n
    double largest = kInf;    // the largest of their costs
};

Round search_round(CutoffProblem& problem, std::uint64_t n, double cap, Interrupt* interrupt, ThreadPool* pool) {
    problem.start(n, cap);
    CutoffSearch search(problem, interrupt);
    CoverList covers;
    std::vector<double> cover_costs;
    if (pool == nullptr || pool->threads() <= 1) {
        if (!search.search_below({})) return {};
        covers = search.take_kept(cover_costs);
    } else {
        std::vector<std::vector<CutoffChoice>> pieces = cut_tree(search, kPiecesPerThread * pool->threads());
        search.purge();
        covers = search.take_kept(cover_costs);
        ThreadedCutoff threaded(problem, std::move(pieces), *pool);
        if (!threaded.run(search, interrupt)) return {};
        threaded.gather(covers, cover_costs);
    }
    // The cutoff is final: keep what costs up to it + 4 margins.
    const double limit = problem.cutoff() + problem.keep_margin;
    CoverList kept;
    for (std::uint64_t i = 0; i < covers.size(); ++i)
        if (cover_costs[i] <= limit) kept.push_list(covers[i]);
    if (kept.size() > problem.max_kept) return {};
    return Round{std::move(kept), problem.reached_n(), problem.cutoff(), problem.seen_count(), problem.largest_seen()};
}

// Rounds for at most this many covers run without a cap.
constexpr std::uint64_t kUncappedRound = 128;
// Each round looks for kRoundGrowth times the covers of the one before.
constexpr std::uint64_t kRoundGrowth = 8;

// How far beyond the line through the last two costs a cap lies: the costs grow faster than
// linearly in log n on boards, and a stream's rounds, 4 times apart, see fewer points.
constexpr double kStretch = 1.5;
constexpr double kStretchFromKnown = 2.0;

// Capped searches of one round before it runs without a cap.
constexpr int kCappedAttempts = 4;

// A cap for a round that looks for `n` covers, from two (count, count-th cheapest cost)
// pairs `a` and `b` with a.first < b.first < n: the n-th cheapest cost grows about linearly in
// log n, so the costs seen are extrapolated, half as far again.
double extrapolated_cap(CostAt a, CostAt b, std::uint64_t n, double stretch) {
    const double per_log = (b.cost - a.cost) / std::log(static_cast<double>(b.m) / static_cast<double>(a.m));
    if (!(per_log > 0.0) || !std::isfinite(per_log)) return kInf;
    const double cap = b.cost + stretch * per_log * std::log(static_cast<double>(n) / static_cast<double>(b.m));
    return std::isfinite(cap) ? cap : kInf;
}

// The rounds of a search for n covers, smallest first: n / 8^k, ..., n / 8, n, down to the
// first of at most kUncappedRound, and 1 before them when there are two or more (the first
// cap needs two costs); n alone when n covers would be more than the search may keep.
std::vector<std::uint64_t> round_sizes(std::uint64_t n, std::uint64_t max_kept) {
    std::vector<std::uint64_t> sizes;
    for (std::uint64_t size = n;; size /= kRoundGrowth) {
        sizes.push_back(size);
        if (size <= kUncappedRound || n >= max_kept) break;
    }
    if (sizes.size() > 1 && sizes.back() > 1) sizes.push_back(1);
    std::reverse(sizes.begin(), sizes.end());
    return sizes;
}

}  // namespace

std::optional<CoverList> cheapest_covers(const BlockList& relabeled, std::uint64_t columns,
                                         const std::vector<double>& weights, const NetCosts& costs,
                                         std::uint64_t n, std::uint64_t max_kept, Interrupt* interrupt,
                                         ThreadPool* pool, std::span<const CostAt> known) {
    CutoffProblem problem(relabeled, columns, weights, costs, n, max_kept);
    if (problem.infeasible) return CoverList{};
    // Until n covers are seen the cutoff is infinite, and a search for many covers spends most
    // of its time there. Rounds for n / 8^k covers, k = ..., 2, 1, each capped by what the two
    // before it predict, give the search for n a cutoff from the start. A round that sees
    // fewer covers than it looks for below its cap is run again with a cap at least twice as
    // far above the round before, then without one after kCappedAttempts; a cap changes what
    // a round costs, never what it keeps (see CutoffProblem::start). Two known costs stand for
    // the rounds before the search for n, at any n.
    // Only a round with two costs before it is capped: of the rounds of round_sizes, the
    // first two (at most kUncappedRound covers) never are.
    std::vector<CostAt> seen;  // (size, its n-th cost) of each round
    for (const CostAt& point : known)
        if (point.m > 0 && point.m < n && (seen.empty() || point.m > seen.back().m)) seen.push_back(point);
    const bool capped_from_known = seen.size() >= 2 && n < max_kept;
    std::vector<std::uint64_t> sizes{n};
    if (!capped_from_known) {
        seen.clear();
        sizes = round_sizes(n, max_kept);
    }
    for (const std::uint64_t size : sizes) {
        Round round;
        const double floor = seen.empty() ? kInf : seen.back().cost;  // the last round's n-th cost
        double cap = kInf;
        for (int attempt = 0;; ++attempt) {
            // A cap at least twice as far above the last round's cost as the one that fell short.
            const double last = cap;
            cap = seen.size() >= 2 && attempt < kCappedAttempts
                      ? extrapolated_cap(seen[seen.size() - 2], seen.back(), size,
                                         capped_from_known ? kStretchFromKnown : kStretch)
                      : kInf;
            if (attempt > 0 && cap != kInf) cap = std::max(cap, last + (last - floor));
            round = search_round(problem, size, cap, interrupt, pool);
            if (!round.covers) return std::nullopt;
            if (round.reached_n || cap == kInf) break;
            // Every cover below the cap was seen: the largest seen is the count-th cheapest, a
            // closer point to extrapolate from.
            if (round.count > seen.back().m) seen.push_back(CostAt{round.count, round.largest});
        }
        // A round without a cap that sees fewer covers than it looks for keeps them all.
        if (size == n || !round.reached_n) return std::move(round.covers);
        seen.push_back(CostAt{size, round.cutoff});
    }
    return std::nullopt;  // not reached: the last size is n
}

}  // namespace xcover
