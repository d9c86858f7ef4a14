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

// One int object per distinct block index, shared by every cover that holds the block: a
// long enumeration repeats the same few thousand indices millions of times.
class IndexInts {
public:
    ~IndexInts() {
        for (PyObject* object : ints_) Py_XDECREF(object);
    }
    // A new reference to int(index), or nullptr with an exception set.
    PyObject* get(std::uint64_t index) {
        if (index >= kMaxShared) return PyLong_FromUnsignedLongLong(index);
        if (index >= ints_.size()) ints_.resize(index + 1, nullptr);
        PyObject*& slot = ints_[index];
        if (slot == nullptr) {
            slot = PyLong_FromUnsignedLongLong(index);
            if (slot == nullptr) return nullptr;
        }
        return Py_NewRef(slot);
    }

private:
    static constexpr std::uint64_t kMaxShared = std::uint64_t{1} << 24;
    std::vector<PyObject*> ints_;
};

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
