// Depth-first searches run from Python a batch at a time, through the engine's CoverSource:
// get_all turns each batch into lists as it comes, and the iterator of iter_all hands a batch
// out one cover at a time.
#pragma once

#include "python_ref.hpp"

#include <optional>

#include "../algorithms/knuth_x/algos/depth_first/cover_source.hpp"
#include "../algorithms/knuth_x/search/covers.hpp"
#include "call.hpp"

namespace xcover::py {

// Advances `source` detached, polling `check` for signals, until `batch` holds `max_covers`
// covers or `max_items` block indices, or the covers run out. Returns whether covers may
// remain, or nullopt with the exception of a signal handler pending (the source can resume).
std::optional<bool> fill_batch(CoverSource& source, CoverList& batch, std::uint64_t max_covers,
                               std::uint64_t max_items, SignalCheck& check);

// get_all's result list, built batch by batch; nullptr with an exception set on failure.
PyObject* all_covers_to_python(Call& call, CoverSource& source);

}  // namespace xcover::py
