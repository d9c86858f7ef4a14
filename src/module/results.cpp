#include "results.hpp"

#include <vector>

#include "failure_boundary.hpp"

namespace xcover::py {

namespace {

// Called when the interpreter returned no object. It normally has set MemoryError; an
// allocation failure with nothing pending is an internal failure.
PyObject* null_object() {
    // Deliberate text, matched by the tests of internal failures.
    if (!PyErr_Occurred()) fail("PyObject pointer is null");
    return nullptr;
}

// Indices this large are rare enough that caching them would only cost memory.
constexpr std::uint64_t kMaxSharedIndex = std::uint64_t{1} << 24;

// Creating ints allocates but runs no Python code, so the list is complete before anything
// else can see it.
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
    if (!may_release_objects()) return;
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

ListBuilder::~ListBuilder() {
    if (!may_release_objects()) return;
    for (PyObject* item : items_) Py_DECREF(item);
}

bool ListBuilder::push(PyObject* item) {
    if (item == nullptr) return null_object() != nullptr;
    try {
        items_.push_back(item);
    } catch (const std::bad_alloc&) {
        Py_DECREF(item);
        PyErr_NoMemory();
        return false;
    }
    return true;
}

PyObject* ListBuilder::finish() {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items_.size()));
    if (list == nullptr) return null_object();
    for (std::size_t i = 0; i < items_.size(); ++i)
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), items_[i]);
    items_.clear();
    return list;
}

PyObject* covers_to_python(Call& call, const CoverList& covers) {
    ListBuilder outer;
    IndexInts ints;
    for (std::uint64_t i = 0; i < covers.size(); ++i) {
        if (!outer.push(build_cover(covers[i], &ints))) return nullptr;
        if (!call.check.poll_attached(covers[i].size() + 1)) return nullptr;
    }
    return outer.finish();
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
        if (!call_.check.poll_attached(covers[i].size() + 1)) return false;
    }
    return true;
}

}  // namespace xcover::py
