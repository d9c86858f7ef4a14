// The averaging estimator with a cutoff: scores exactly as AvgScorer does, and rules out every
// child that no candidate cover extends (cost_cutoff.hpp: the candidates are every cover that
// can be among the first n the search reports; candidates.hpp: the filter).
#pragma once

#include "../candidates.hpp"
#include "avg_est.hpp"

namespace xcover {

using CutoffAvgScorer = ByCandidates<AvgScorer>;

}  // namespace xcover
