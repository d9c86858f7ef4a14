// The module object `xcover`: its definition, the exec slot that creates the five functions
// one by one, and `__all__`.
#include "python_ref.hpp"

#include <string>

#include "entry_points.hpp"
#include "failure_boundary.hpp"
#include "arguments.hpp"

namespace xcover::py {

namespace {

template <auto Function>
PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(Function));
}

// Table order; registration below is alphabetical.
PyMethodDef functions[] = {
    {"get_topn_sc", fastcall<get_topn_sc_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "get_topn_sc(partitions, weights, edge_counts, edge_total, labels, vertex_total, n, "
     "max_iter=None, max_heap=None)\n--\n\nGet top `n` partitions in order of decreasing "
     "likelihood, given partition weights"},
    {"get_top", fastcall<get_top_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "get_top(partitions, weights, max_iter=None, max_heap=None)\n--\n\nGet partitions in order "
     "of decreasing likelihood, given partition weights"},
    {"get_all", fastcall<get_all_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "get_all(partitions)\n--\n\nGet all partitions given a set of covers"},
    {"get_topp", fastcall<get_topp_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "get_topp(partitions, weights, alpha, max_iter=None, max_heap=None)\n--\n\nGet top "
     "partitions in order of decreasing likelihood, with total\nprobability coverage greater "
     "than `1 - alpha`"},
    {"get_topn", fastcall<get_topn_entry>(), METH_FASTCALL | METH_KEYWORDS,
     "get_topn(partitions, weights, n, max_iter=None, max_heap=None)\n--\n\nGet top `n` "
     "partitions in order of decreasing likelihood, given partition weights"},
    {nullptr, nullptr, 0, nullptr},
};

constexpr int kRegistrationOrder[] = {2, 1, 4, 0, 3};  // get_all, get_top, get_topn, get_topn_sc, get_topp

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

// Creates the function object for `entry`, appends its name to __all__ and binds it.
bool register_function(PyObject* module, PyMethodDef* entry) {
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
        for (int index : kRegistrationOrder)
            if (!register_function(module, &functions[index])) return nullptr;
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
