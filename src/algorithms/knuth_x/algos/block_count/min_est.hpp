// The lower-bound table of the block-count model: min_est[k] bounds from below the total
// weight of any set of blocks holding k + 1 elements in all.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../interrupt.hpp"

namespace xcover {

// From the least weight of a block of each size (sizes[i] is block i's entry count), folded
// as min_est[k] = min(least weight of size k + 1, min over j of min_est[j] + min_est[k-1-j]),
// j ascending, the first of equal values kept. When every such sum is exact (weights on a
// common binary grid, far from overflow) the same values come from a knapsack over the sizes
// that occur; otherwise the pairs are folded, skipping the entries whose own weight no pair
// can undercut. The Interrupt, when given, is polled throughout (SearchInterrupted).
std::vector<double> build_min_est(std::span<const std::uint64_t> sizes,
                                  std::span<const double> weights, std::uint64_t element_count,
                                  Interrupt* interrupt = nullptr);

}  // namespace xcover
