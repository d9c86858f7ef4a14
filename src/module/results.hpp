// Conversion of the engine's covers into a new Python list of lists of ints.
#pragma once

#include "python_ref.hpp"

#include "../algorithms/knuth_x/search/covers.hpp"

namespace xcover::py {

// Returns a new list, or nullptr with MemoryError set when the interpreter cannot allocate
// it; what was built is released.
PyObject* covers_to_python(const CoverList& covers);

// One cover as a new list of ints.
PyObject* cover_to_python(std::span<const std::uint64_t> cover);

}  // namespace xcover::py
