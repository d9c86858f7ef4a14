// Covers in best-first order until a bound shows that those not yet returned hold at most the
// share `alpha` of the total probability, a cover's probability being proportional to
// exp(-weight sum).
#pragma once

#include <vector>

#include "../../links/block_list.hpp"
#include "../../search/covers.hpp"
#include "../../search/ordered_search.hpp"

namespace xcover {

CoverList get_topp(const BlockList& blocks, std::vector<double> weights, double alpha,
                   SearchCaps caps, Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

}  // namespace xcover
