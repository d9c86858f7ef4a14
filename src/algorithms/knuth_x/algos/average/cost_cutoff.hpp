// The candidates of a search with a cutoff (cutoff_scorer.hpp): every cover that can be among
// the first n the ordered search reports.
//
// Net costs. Prices z (one per column) that no block's columns outprice (z(b) <= weight of b,
// up to rounding) split every cover's cost into Z = the sum of all prices, the same for every
// cover, plus the net costs w_b - z(b) of its blocks, which are nonnegative up to rounding.
// The prices come from subgradient steps on the linear relaxation's dual (the bound at the
// root approaches the relaxation's optimum), kept in a box, then lowered by each column's
// least net share so that no block is outpriced.
//
// The candidates. A depth-first branch and bound on the net costs, each column's blocks in
// ascending net cost, branching on the column with the fewest blocks under the cutoff (the
// n-th cheapest cost seen so far), covering a column by hiding only the blocks cheap enough
// to matter (as Knuth's DLX5), keeps every cover costing at most U + 4 margins, U being the
// final cutoff. Any n distinct covers bound the n-th cheapest cost, so U does.
//
// Rounding. Costs and bounds here are sums in other orders than the weight sums the search
// reports; `margin` exceeds every difference rounding can make between them, and nothing is
// left out within a few margins of U (docs/architecture.md gives the argument).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../../interrupt.hpp"
#include "../../links/block_list.hpp"
#include "../../pool/thread_pool.hpp"
#include "../../search/covers.hpp"

namespace xcover {

// The m-th cheapest cost of a problem's covers.
struct CostAt {
    std::uint64_t m;
    double cost;
};

// The problem made smaller before it is priced: the blocks every cover holds (`forced`: a
// column only one block can cover forces it), and the blocks no cover can hold (`removed`:
// those meeting a forced block, and those meeting every block of a column they do not hold),
// the forced blocks among them. `covered` flags the forced blocks' columns; `infeasible` says
// a column lost every block, so that there is no cover.
struct Reduction {
    std::vector<std::uint64_t> forced;  // in the order found
    std::vector<char> removed;          // per block
    std::vector<char> covered;          // per column
    bool infeasible = false;
};

// The blocks' net costs over the reduced problem: the columns the forced blocks cover have no
// price, so a forced block's net cost is its weight, and a removed block's net cost means
// nothing.
struct NetCosts {
    std::vector<double> net;  // per block: its weight less its columns' prices
    double total_price = 0.0;  // Z
    double margin = 0.0;       // rounding allowance of every comparison against U
    Reduction reduction;
};

// Whether leaving entries out is sound for these inputs: one finite weight per block, none so
// large that a sum could overflow, no negative-weight block listing an element twice (the
// averaging estimator then stops being a bound), no block beyond the weights, and fewer than
// 2^31 entries (the branch and bound's matrix has 32-bit node indices).
bool cutoff_applies(const BlockList& blocks, const std::vector<double>& weights);

// The reduction, then prices and net costs of the blocks, given relabeled over `columns`
// columns (1..columns).
NetCosts net_costs(const BlockList& relabeled, std::uint64_t columns, const std::vector<double>& weights,
                   Interrupt* interrupt);

// Every cover costing at most U + 4 margins, U being the largest cost among the n cheapest
// covers the branch and bound finds (weights summed from -0.0 in its order of choice; all
// covers when there are fewer than n), each as its blocks in that order. Nothing when more
// than `max_kept` covers cost that little. With a pool set above one thread, the tree is cut
// into pieces that its helpers and the caller's thread search side by side, sharing the
// cutoff: the covers kept are then those of a cutoff reached in another order, so the set may
// differ within the margins, never by a cover costing up to U + 4 margins (a candidate set
// only ever needs to hold those).
// `known` may give (m, the m-th cheapest cost) for sizes m below n from earlier searches of
// the same problem, m increasing (a stream's rounds): with two of them, the search for n is
// capped from the start by what they predict. They only change how long it takes.
std::optional<CoverList> cheapest_covers(const BlockList& relabeled, std::uint64_t columns,
                                         const std::vector<double>& weights, const NetCosts& costs,
                                         std::uint64_t n, std::uint64_t max_kept, Interrupt* interrupt,
                                         ThreadPool* pool = nullptr, std::span<const CostAt> known = {});

}  // namespace xcover
