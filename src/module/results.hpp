// Conversion of the engine's covers into a new Python list of lists of ints.
#pragma once

#include "python_ref.hpp"

#include "../algorithms/knuth_x/algos/get_all.hpp"

namespace xcover::py {

// Consumes `covers` (each cover is released once converted). Returns a new list, or nullptr
// with MemoryError set when the interpreter cannot allocate it; what was built is released.
PyObject* covers_to_python(Covers&& covers);

}  // namespace xcover::py
