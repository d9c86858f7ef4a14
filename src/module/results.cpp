#include "results.hpp"

#include <vector>

#include "failure_boundary.hpp"

namespace xcover::py {

namespace {

// Called when the interpreter returned no object. It normally has set MemoryError; an
// allocation failure with nothing pending is an internal failure.
PyObject* null_object() {
    if (!PyErr_Occurred()) fail("PyObject pointer is null");
    return nullptr;
}

// Indices this large are rare enough that caching them would only cost memory.
constexpr std::uint64_t kMaxSharedIndex = std::uint64_t{1} << 24;

PyObject* build_cover(std::span<const std::uint64_t> cover, IndexInts* ints) {
    Ref list = own(PyList_New(static_cast<Py_ssize_t>(cover.size())));
    if (!list) return null_object();
    for (std::size_t j = 0; j < cover.size(); ++j) {
        PyObject* index = ints != nullptr ? ints->get(cover[j]) : PyLong_FromUnsignedLongLong(cover[j]);
        if (index == nullptr) return null_object();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), index);
    }
    return list.release();
}

}  // namespace

PyObject* cover_to_python(std::span<const std::uint64_t> cover) { return build_cover(cover, nullptr); }

PyObject* index_list(std::span<const std::uint64_t> indices, IndexInts& ints) {
    return build_cover(indices, &ints);
}

IndexInts::~IndexInts() {
    // As for Ref: a thread ended by the interpreter during finalization unwinds through here
    // without a thread state, and must leave the objects alone.
    if (PyThreadState_GetUnchecked() == nullptr) return;
    for (PyObject* object : ints_) Py_XDECREF(object);
}

PyObject* IndexInts::get(std::uint64_t index) {
    if (index >= kMaxSharedIndex) return PyLong_FromUnsignedLongLong(index);
    if (index >= ints_.size()) ints_.resize(index + 1, nullptr);
    PyObject*& slot = ints_[index];
    if (slot == nullptr) {
        slot = PyLong_FromUnsignedLongLong(index);
        if (slot == nullptr) return nullptr;
    }
    return Py_NewRef(slot);
}

bool PythonCovers::start() {
    list_ = own(PyList_New(0));
    if (!list_) null_object();
    return static_cast<bool>(list_);
}

bool PythonCovers::append(const CoverList& covers) {
    for (std::uint64_t i = 0; i < covers.size(); ++i) {
        Ref cover = own(build_cover(covers[i], &ints_));
        if (!cover || PyList_Append(list_.get(), cover.get()) < 0) return false;
    }
    return true;
}

PyObject* covers_to_python(const CoverList& covers) {
    Ref outer = own(PyList_New(static_cast<Py_ssize_t>(covers.size())));
    if (!outer) return null_object();
    IndexInts ints;
    for (std::uint64_t i = 0; i < covers.size(); ++i) {
        PyObject* inner = build_cover(covers[i], &ints);
        if (inner == nullptr) return nullptr;
        PyList_SET_ITEM(outer.get(), static_cast<Py_ssize_t>(i), inner);
    }
    return outer.release();
}

}  // namespace xcover::py
