// The module object `xcover`: its definition and state, the exec slot that creates the
// declared functions one by one, `__all__`, the iterator type, and `__version__` (the version
// in pyproject.toml, which the build passes in as XCOVER_VERSION).
//
// Subinterpreters: every object the module uses lives in the state of one module object, so
// the module supports interpreters with their own GIL (isolated subinterpreters) as well as
// legacy ones, and may be imported in several at once.
#include "python_ref.hpp"

#include <array>
#include <new>
#include <string>
#include <utility>

#include "arguments.hpp"
#include "cover_iterator.hpp"
#include "failure_boundary.hpp"
#include "functions.hpp"
#include "module_state.hpp"
#include "ranked_iterator.hpp"

namespace xcover::py {

namespace {

// One method definition per declared function, in registration order, plus the terminator.
// The interpreter keeps pointers into this table for the life of the function objects.
template <std::size_t... I>
std::array<PyMethodDef, kFunctionCount + 1> method_table(std::index_sequence<I...>) {
    return {{
        PyMethodDef{kFunctions[I]->name,
                    reinterpret_cast<PyCFunction>(
                        reinterpret_cast<void (*)(void)>(kFunctions[I]->entry)),
                    METH_FASTCALL | METH_KEYWORDS, kDocstring<*kFunctions[I]>.data()}...,
        PyMethodDef{nullptr, nullptr, 0, nullptr},
    }};
}

std::array<PyMethodDef, kFunctionCount + 1> methods =
    method_table(std::make_index_sequence<kFunctionCount>());

// The module's __all__ list (new reference), created empty when missing.
Ref module_all(PyObject* module, PyObject* all_name) {
    Ref all = own(PyObject_GetAttr(module, all_name));
    if (all) {
        if (PyList_Check(all.get())) return all;
        raise_type_mismatch(all.get(), "list");
        return nullptr;
    }
    Ref error = own(PyErr_GetRaisedException());
    if (!PyErr_GivenExceptionMatches(error.get(), PyExc_AttributeError)) {
        PyErr_SetRaisedException(error.release());
        return nullptr;
    }
    all = own(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) return nullptr;
    return all;
}

// Creates the function object for `entry`, appends its name to __all__ when `exported`, and
// binds it.
bool register_function(PyObject* module, PyMethodDef* entry, bool exported, PyObject* name_key,
                       PyObject* all_key) {
    Ref module_name = own(PyModule_GetNameObject(module));
    if (!module_name) return false;
    Ref function = own(PyCMethod_New(entry, module, module_name.get(), nullptr));
    module_name.reset();
    if (!function) return false;

    Ref name = own(PyObject_GetAttr(function.get(), name_key));
    if (!name) return false;
    if (!PyUnicode_Check(name.get())) {
        raise_type_mismatch(name.get(), "str");
        return false;
    }
    if (!exported) return PyObject_SetAttr(module, name.get(), function.get()) == 0;
    Ref all = module_all(module, all_key);
    if (!all) return false;
    if (PyList_Append(all.get(), name.get()) < 0) {
        // Deliberate text, matched by callers.
        fail("could not append __name__ to __all__: " + take_exception_text("unknown error"));
    }
    return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

// Creates the iterator types and binds them as CoverIterator and RankedIterator.
bool add_iterator_types(PyObject* module, ModuleState& state) {
    state.cover_iterator_type = new_cover_iterator_type(module);
    if (state.cover_iterator_type == nullptr ||
        PyModule_AddObjectRef(module, "CoverIterator", state.cover_iterator_type) < 0)
        return false;
    state.ranked_iterator_type = new_ranked_iterator_type(module);
    return state.ranked_iterator_type != nullptr &&
           PyModule_AddObjectRef(module, "RankedIterator", state.ranked_iterator_type) == 0;
}

int module_exec(PyObject* module) {
    if (module == nullptr) {
        // The interpreter's own text for this state, kept as callers know it.
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return -1;
    }
    if (!PyModule_Check(module)) {
        raise_type_mismatch(module, "module");
        return -1;
    }
    // The interpreter hands the state over zeroed; it is built in place once.
    ModuleState& state = *new (PyModule_GetState(module)) ModuleState{};
    PyObject* result = guarded(state, [&]() -> PyObject* {
        Ref name_key = own(PyUnicode_InternFromString("__name__"));
        Ref all_key = own(PyUnicode_InternFromString("__all__"));
        if (!name_key || !all_key) return nullptr;
        for (std::size_t i = 0; i < kFunctionCount; ++i)
            if (!register_function(module, &methods[i], kFunctions[i]->exported, name_key.get(),
                                   all_key.get()))
                return nullptr;
        if (!add_iterator_types(module, state)) return nullptr;
        if (PyModule_AddStringConstant(module, "__version__", XCOVER_VERSION) < 0) return nullptr;
        if (!apply_thread_setting_from_environment()) return nullptr;
        return Py_None;  // borrowed; only compared with nullptr
    });
    return result == nullptr ? -1 : 0;
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState& state = module_state(module);
    Py_VISIT(state.cover_iterator_type);
    Py_VISIT(state.ranked_iterator_type);
    Py_VISIT(state.panic_type.peek());
    Py_VISIT(state.sequence_class.peek());
    Py_VISIT(state.dlx_problem_type.peek());
    Py_VISIT(state.tree_estimate_type.peek());
    return 0;
}

int module_clear(PyObject* module) {
    ModuleState& state = module_state(module);
    Py_CLEAR(state.cover_iterator_type);
    Py_CLEAR(state.ranked_iterator_type);
    state.panic_type.clear();
    state.sequence_class.clear();
    state.dlx_problem_type.clear();
    state.tree_estimate_type.clear();
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "xcover",             // m_name
    "",                   // m_doc
    sizeof(ModuleState),  // m_size: zeroed by the interpreter, a valid empty state
    nullptr,              // m_methods
    slots,                // m_slots
    module_traverse,      // m_traverse
    module_clear,         // m_clear
    module_free,          // m_free
};

}  // namespace

ModuleState& module_state(PyObject* module) {
    void* state = PyModule_GetState(module);
    if (state == nullptr) fail("the module has no state");
    return *static_cast<ModuleState*>(state);
}

}  // namespace xcover::py

PyMODINIT_FUNC PyInit_xcover(void) { return PyModuleDef_Init(&xcover::py::definition); }
