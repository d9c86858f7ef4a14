// Depth-first searches run from Python a batch at a time, through the engine's get_all loop
// (collect_covers) or a CoverStream's next_batch: get_all turns each batch into lists as it
// comes, and the iterator of iter_all hands a batch out one cover at a time.
#pragma once

#include "python_ref.hpp"

#include <optional>

#include "../algorithms/knuth_x/search/cover_stream.hpp"
#include "../algorithms/knuth_x/search/covers.hpp"
#include "../algorithms/knuth_x/search/depth_first.hpp"
#include "call.hpp"

namespace xcover::py {

// Advances `search` detached, polling `check` for signals, until `batch` holds `max_covers`
// covers or `max_items` block indices, or the search ends. Returns whether the search may
// have more covers, or nullopt with the exception of a signal handler pending (the search
// can resume).
std::optional<bool> fill_batch(DepthFirstSearch& search, CoverList& batch,
                               std::uint64_t max_covers, std::uint64_t max_items,
                               SignalCheck& check);

// The same from a stream searched with helper threads: detached from the start, since the
// caller may wait for a helper's part.
std::optional<bool> fill_batch(CoverStream& stream, CoverList& batch, std::uint64_t max_covers,
                               std::uint64_t max_items, SignalCheck& check);

// get_all's result list, built batch by batch; nullptr with an exception set on failure.
PyObject* all_covers_to_python(Call& call, DepthFirstSearch& search);
// The same from a stream searched with helper threads.
PyObject* all_covers_to_python(Call& call, CoverStream& stream);

}  // namespace xcover::py
