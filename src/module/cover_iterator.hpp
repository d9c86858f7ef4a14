// The iterator that iter_all returns: a depth-first search of its own, advanced a batch of
// covers at a time with the interpreter released, its covers handed out one by one as new
// lists.
#pragma once

#include "python_ref.hpp"

#include <memory>

#include "../algorithms/knuth_x/search/depth_first.hpp"

namespace xcover::py {

// A new iterator that owns `search`; nullptr with an exception set on failure.
PyObject* new_cover_iterator(std::unique_ptr<DepthFirstSearch> search);

}  // namespace xcover::py
