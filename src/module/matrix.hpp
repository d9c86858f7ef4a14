// Reading a 0/1 matrix as blocks: one block per row, listing the columns that hold a 1.
#pragma once

#include "python_ref.hpp"

#include "call.hpp"

namespace xcover::py {

// The blocks of `matrix` (a new list of lists of column indices), or nullptr with an exception
// set: TypeError when `matrix` is not a matrix at all or holds a non-number, ValueError when it
// is not 2-D, its rows differ in length, or an entry is a number other than 0 and 1.
//
// A 2-D buffer of booleans, integers or floats (a numpy array, a memoryview) is read straight
// from memory; anything else is read row by row as a sequence of sequences, and each row may
// itself be such a buffer.
PyObject* matrix_to_blocks(Call& call, PyObject* matrix);

}  // namespace xcover::py
