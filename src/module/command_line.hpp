// xcover's command line, `xcover FILE` (the console script calls the module's main):
// reads a problem in Knuth's DLX format and prints the number of its covers or the covers.
//
// An extension module cannot run as `python -m xcover`: runpy asks a module that is not a
// package for its code object, and an extension module has none; only a package directory
// with a __main__ would do. So the command is the console script `xcover` (pyproject's
// [project.scripts]), which calls main(); `python -c "import xcover; xcover.main()"` works too.
#pragma once

#include "python_ref.hpp"

#include "call.hpp"

namespace xcover::py {

// Runs the command with `argv` (a sequence of str, or None for sys.argv[1:]); returns the
// exit status as an int, or nullptr with an exception set for what is not the input's fault.
PyObject* run_command_line(Call& call, PyObject* module, PyObject* argv);

}  // namespace xcover::py
