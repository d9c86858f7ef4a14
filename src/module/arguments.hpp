// Binding a call's arguments to the parameters of a module function, and converting each
// argument object into a plain value owned by the call.
//
// Every function here returns false (or nullopt) with a Python exception set on a caller
// error, and throws InternalFailure for a PanicException raised by the caller's objects.
#pragma once

#include "python_ref.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "../algorithms/knuth_x/links/block_list.hpp"
#include "signature.hpp"

namespace xcover::py {

// Borrowed references to the argument objects, one per parameter; nullptr when not given.
using Slots = std::array<PyObject*, kMaxParameters>;

bool bind_arguments(const FunctionDeclaration& function, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, Slots& slots);

bool convert_u64(PyObject* object, std::uint64_t& out);
bool convert_f64(PyObject* object, double& out);
bool convert_u64_list(PyObject* object, std::vector<std::uint64_t>& out);
bool convert_f64_list(PyObject* object, std::vector<double>& out);
bool convert_block_list(PyObject* object, BlockList& out);
bool convert_optional_u64(PyObject* slot, std::optional<std::uint64_t>& out);

// Replaces the pending exception of a failed conversion of parameter `name` by the one the
// caller sees: a plain TypeError gains the prefix "argument '{name}': ".
void label_argument_error(const char* name);

// Converts the argument bound to `parameter` with `convert`; on failure labels the error
// with the parameter's name.
template <class T, class Convert>
bool convert_argument(const Slots& slots, ParameterSlot parameter, Convert convert, T& out) {
    if (convert(slots[parameter.index], out)) return true;
    label_argument_error(parameter.name);
    return false;
}

// Discards the pending exception of a step that may fail without failing the call (a length
// hint, an optional fast path). Returns false, with the exception pending again, when it asks
// the program to stop (KeyboardInterrupt, SystemExit); a PanicException is continued as an
// internal failure (see fetch_python_error).
bool discard_optional_error();

// Sets TypeError "'{type}' object is not an instance of '{target}'".
void raise_type_mismatch(PyObject* object, const char* target);

}  // namespace xcover::py
