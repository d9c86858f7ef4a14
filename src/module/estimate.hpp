// estimate_all's result: the TreeEstimate struct sequence (covers, nodes, covers_stderr,
// nodes_stderr), its type created per module state at first use.
#pragma once

#include "python_ref.hpp"

#include "../algorithms/knuth_x/algos/depth_first/estimate.hpp"
#include "call.hpp"

#include <optional>

namespace xcover::py {

// A new TreeEstimate, or nullptr with an exception set.
PyObject* estimate_to_python(Call& call, const TreeEstimate& estimate);

// The seed of a call: `seed` when given, else one drawn from the operating system's entropy.
std::uint64_t seed_or_random(std::optional<std::uint64_t> seed);

}  // namespace xcover::py
