// What one module object owns: the objects each interpreter needs its own copy of.
//
// Every interpreter that imports the module gets its own module object and so its own state:
// a type or exception created in one interpreter is never used by another (a legacy
// subinterpreter shares the process with the main one; an isolated one also has its own
// allocator, and an object of another interpreter must not even be reference-counted there).
// Each function receives its module, the iterator reaches it through its type.
#pragma once

#include "python_ref.hpp"

namespace xcover::py {

struct ModuleState {
    // The type of the iterators of iter_all, created with the module (it is an attribute).
    PyObject* cover_iterator_type;
    // The type of the iterators of the ranked streams (iter_top, iter_top_sc), likewise.
    PyObject* ranked_iterator_type;
    // Created at first use, since most calls never need them.
    OnceObject panic_type;      // PanicException
    OnceObject sequence_class;  // collections.abc.Sequence, for the type-mismatch message
    OnceObject dlx_problem_type;  // the named tuple read_dlx returns
    OnceObject tree_estimate_type;  // the named tuple estimate_all returns
};

// The state of `module` (a module object of this definition).
ModuleState& module_state(PyObject* module);

}  // namespace xcover::py
