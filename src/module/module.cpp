// The module object `xcover`: its definition, the exec slot that creates the declared
// functions one by one, `__all__`, and `__version__` (the version in pyproject.toml, which the
// build passes in as XCOVER_VERSION).
#include "python_ref.hpp"

#include <array>
#include <string>
#include <utility>

#include "arguments.hpp"
#include "failure_boundary.hpp"
#include "functions.hpp"

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

OnceObject name_string;
OnceObject all_string;

PyObject* interned(OnceObject& once, const char* text) {
    return once.get([text] { return PyUnicode_InternFromString(text); });
}

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
bool register_function(PyObject* module, PyMethodDef* entry, bool exported) {
    PyObject* name_key = interned(name_string, "__name__");
    PyObject* all_key = interned(all_string, "__all__");
    if (name_key == nullptr || all_key == nullptr) return false;

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
        Ref error = own(PyErr_GetRaisedException());
        Ref text = error ? own(PyObject_Str(error.get())) : nullptr;
        const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
        PyErr_Clear();
        fail(std::string("could not append __name__ to __all__: ") +
             (utf8 != nullptr ? utf8 : "unknown error"));
    }
    return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

int module_exec(PyObject* module) {
    PyObject* result = guarded([&]() -> PyObject* {
        if (module == nullptr) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
            return nullptr;
        }
        if (!PyModule_Check(module)) {
            raise_type_mismatch(module, "module");
            return nullptr;
        }
        for (std::size_t i = 0; i < kFunctionCount; ++i)
            if (!register_function(module, &methods[i], kFunctions[i]->exported)) return nullptr;
        if (PyModule_AddStringConstant(module, "__version__", XCOVER_VERSION) < 0) return nullptr;
        return Py_None;  // borrowed; only compared with nullptr
    });
    return result == nullptr ? -1 : 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "xcover",  // m_name
    "",        // m_doc
    0,         // m_size
    nullptr,   // m_methods
    slots,     // m_slots
    nullptr,   // m_traverse
    nullptr,   // m_clear
    nullptr,   // m_free
};

}  // namespace

}  // namespace xcover::py

PyMODINIT_FUNC PyInit_xcover(void) { return PyModuleDef_Init(&xcover::py::definition); }
