// A cutoff for get_topn's search: a cost U that the first n covers do not exceed, and a lower
// bound on the cost of any completion of a partial cover, stronger than the averaging
// estimator's, to leave out of the search every entry that cannot lead to one of them.
//
// Net costs. Prices z (one per column) that no block's elements outprice (z(b) <= weight of
// b, up to rounding) split every cover's cost into Z = the sum of all prices, the same for
// every cover, plus the net costs w_b - z(b) of its blocks, which are nearly nonnegative. The
// averaging estimator applied to the net costs (shares over a block's distinct columns) then
// bounds what a partial cover's completion adds, whatever the signs of the net costs. The
// prices are the linear relaxation's (approached by subgradient steps): the bound at the root
// is the relaxation's optimum, where the averaging estimator on the plain weights is far
// below it on boards and grids.
//
// The incumbent U. A depth-first branch and bound over the same matrix, each column's blocks
// in ascending net cost, branching on the column with the fewest blocks under the cutoff,
// keeps the n cheapest covers it has seen; U is the largest of their costs. Any n distinct
// covers give a valid U: the search's quality only decides how much is left out.
//
// Rounding. The bound and the costs are sums in a different order from the weight sums the
// search reports; `margin` exceeds every difference that rounding can make between them (see
// docs/architecture.md), and an entry is left out only when its bound exceeds U + margin.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "../../interrupt.hpp"
#include "../../links/block_list.hpp"
#include "../../search/covers.hpp"

namespace xcover {

struct NetCosts {
    std::vector<double> net;  // per block: its weight less its columns' prices
    double total_price = 0.0;  // Z
    double margin = 0.0;       // rounding allowance of every comparison against U
};

// Whether leaving entries out is sound for these inputs: one finite weight per block, none so
// large that a sum could overflow, no negative-weight block listing an element twice (the
// averaging estimator then stops being a bound), and no block beyond the weights.
bool cutoff_applies(const BlockList& blocks, const std::vector<double>& weights);

// Prices and net costs of the blocks, given relabeled over `columns` columns (1..columns).
NetCosts net_costs(const BlockList& relabeled, std::uint64_t columns, const std::vector<double>& weights,
                   Interrupt* interrupt);

// Every cover costing at most U + 4 margins, U being the largest cost among the n cheapest
// covers the branch and bound finds (weights summed from -0.0 in its order of choice; all
// covers when there are fewer than n), each as its blocks in that order. Nothing when more
// than `max_kept` covers cost that little.
std::optional<CoverList> cheapest_covers(const BlockList& relabeled, std::uint64_t columns,
                                         const std::vector<double>& weights, const NetCosts& costs,
                                         std::uint64_t n, std::uint64_t max_kept, Interrupt* interrupt);

}  // namespace xcover
