#include "results.hpp"

#include "failure_boundary.hpp"

namespace xcover::py {

namespace {

// Called when the interpreter returned no object. It normally has set MemoryError; an
// allocation failure with nothing pending is an internal failure.
PyObject* null_object() {
    if (!PyErr_Occurred()) fail("PyObject pointer is null");
    return nullptr;
}

}  // namespace

PyObject* covers_to_python(Covers&& covers) {
    Ref outer = own(PyList_New(static_cast<Py_ssize_t>(covers.size())));
    if (!outer) return null_object();
    for (std::size_t i = 0; i < covers.size(); ++i) {
        Cover cover = std::move(covers[i]);
        Ref inner = own(PyList_New(static_cast<Py_ssize_t>(cover.size())));
        if (!inner) return null_object();
        for (std::size_t j = 0; j < cover.size(); ++j) {
            PyObject* index = PyLong_FromUnsignedLongLong(cover[j]);
            if (index == nullptr) return null_object();
            PyList_SET_ITEM(inner.get(), static_cast<Py_ssize_t>(j), index);
        }
        PyList_SET_ITEM(outer.get(), static_cast<Py_ssize_t>(i), inner.release());
    }
    covers = {};
    return outer.release();
}

}  // namespace xcover::py
