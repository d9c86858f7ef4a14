// The iterator of iter_all: owns a depth-first CoverSource (a search on the caller's thread,
// or with helper threads a bounded CoverStream) and hands its covers out one at a time, a
// batch found per release of the interpreter.
#pragma once

#include "python_ref.hpp"

#include <memory>

#include "../algorithms/knuth_x/algos/depth_first/cover_source.hpp"
#include "module_state.hpp"

namespace xcover::py {

// The iterator type of one module object (new reference), or nullptr with an exception set.
PyObject* new_cover_iterator_type(PyObject* module);

// A new iterator that owns `source`; nullptr with an exception set on failure. Helpers that
// search ahead of the iterator stop when it goes.
PyObject* new_cover_iterator(ModuleState& state, std::unique_ptr<CoverSource> source);

}  // namespace xcover::py
