// number_blocks: blocks of arbitrary hashable items numbered as the solvers' element ints.
#pragma once

#include "python_ref.hpp"

#include "call.hpp"

namespace xcover::py {

// (numbered, items): `blocks` (a sequence of sequences of hashable items) with each distinct
// item replaced by its number, items numbered 0.. in order of first appearance, and the list
// of the items by number. nullptr with an exception set (TypeError for a non-sequence or an
// unhashable item).
PyObject* number_blocks(Call& call, PyObject* blocks);

}  // namespace xcover::py
