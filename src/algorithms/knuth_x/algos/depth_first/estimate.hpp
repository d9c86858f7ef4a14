// Knuth's estimate of a backtrack tree by random probes (Knuth 1975, "Estimating the
// efficiency of backtrack programs").
//
// One probe walks from the root of DepthFirstSearch's tree to a leaf, choosing a block of the
// branch column uniformly at random at every level. With d_1, d_2, ... the branching degrees
// met, D_k = d_1 * ... * d_k is an unbiased estimate of the number of positions at depth k,
// so 1 + D_1 + D_2 + ... estimates the positions of the tree (the root included) and, when
// the probe ends at a cover, D_depth estimates the covers (0 at a dead end). The estimates
// are the means over the probes, with their standard errors (sample standard deviation over
// the square root of the number of probes). A product beyond the range of a double is +inf,
// and so are the mean it enters and its standard error; with one probe the standard errors
// are +inf too (a spread needs two values).
#pragma once

#include <cstdint>
#include <span>

#include "../../interrupt.hpp"
#include "../../links/block_list.hpp"
#include "../../links/colors.hpp"

namespace xcover {

struct TreeEstimate {
    double covers = 0;
    double nodes = 0;
    double covers_stderr = 0;
    double nodes_stderr = 0;
};

// `samples` probes (at least 1) with a generator seeded by `seed`; `include` and `secondary`
// as for count_all, whose tree is the one estimated.
TreeEstimate estimate_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                          const SecondaryItems& secondary, std::uint64_t samples,
                          std::uint64_t seed, Interrupt* interrupt = nullptr);

}  // namespace xcover
