// Reading Knuth's DLX text format into Python values: read_dlx and read_dlx_file.
#pragma once

#include "python_ref.hpp"

#include "call.hpp"

namespace xcover::py {

// The problem written in `text` (a str) as a DlxProblem named tuple (blocks, secondary,
// names); nullptr with an exception set: TypeError for a non-str, ValueError naming the line
// and column for a malformed text.
PyObject* dlx_text_to_python(Call& call, PyObject* text);

// The same for the file at `path` (str, bytes or os.PathLike), read a piece at a time:
// OSError when it cannot be read, ValueError at the first fault, malformed UTF-8 included,
// without reading further (an endless device stops there too).
PyObject* dlx_file_to_python(Call& call, PyObject* path);

// The same for a file object (standard input): its read(n) called until it returns an
// empty bytes or str; a str piece is read as its UTF-8.
PyObject* dlx_stream_to_python(Call& call, PyObject* stream);

}  // namespace xcover::py
