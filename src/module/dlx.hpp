// Reading Knuth's DLX text format into Python values: read_dlx and read_dlx_file.
#pragma once

#include "python_ref.hpp"

#include "call.hpp"

namespace xcover::py {

// The problem written in `text` (a str) as a DlxProblem named tuple (blocks, secondary,
// names); nullptr with an exception set: TypeError for a non-str, ValueError naming the line
// and column for a malformed text.
PyObject* dlx_text_to_python(Call& call, PyObject* text);

// The same for the file at `path` (str, bytes or os.PathLike), read as UTF-8; OSError when
// it cannot be read, UnicodeDecodeError when it is not UTF-8.
PyObject* dlx_file_to_python(Call& call, PyObject* path);

}  // namespace xcover::py
