// Conversion of the engine's covers into Python lists of lists of ints.
//
// A list is never visible half-built: slots are filled only where no Python code can run and
// the thread does not leave the interpreter (another thread's gc.get_objects() or a signal
// handler would find the empty slots). Long conversions poll the call's signal check, so
// their lists are kept off to the side (ListBuilder) until every item exists.
#pragma once

#include "python_ref.hpp"

#include <cstdint>
#include <span>
#include <vector>

#include "../algorithms/knuth_x/search/covers.hpp"
#include "call.hpp"

namespace xcover::py {

// One int object per distinct block index, shared by every cover that holds the block: a
// long enumeration repeats the same few thousand indices millions of times.
class IndexInts {
public:
    IndexInts() = default;
    IndexInts(const IndexInts&) = delete;
    IndexInts& operator=(const IndexInts&) = delete;
    ~IndexInts();
    // A new reference to int(index), or nullptr with an exception set.
    PyObject* get(std::uint64_t index);

private:
    std::vector<PyObject*> ints_;
};

// The items of a list under construction, owned here until finish() makes the list.
class ListBuilder {
public:
    ListBuilder() = default;
    ListBuilder(const ListBuilder&) = delete;
    ListBuilder& operator=(const ListBuilder&) = delete;
    ~ListBuilder();

    // Takes `item` (a new reference); false with an exception set when `item` is nullptr or
    // memory runs out (the item is released then).
    bool push(PyObject* item);
    // The list of the items pushed (new reference), or nullptr with an exception set.
    PyObject* finish();

private:
    std::vector<PyObject*> items_;
};

// The covers as a new list of lists; nullptr with an exception set (MemoryError, or a signal
// handler's exception: the conversion polls `call`'s signal check).
PyObject* covers_to_python(Call& call, const CoverList& covers);

// The result list of a query whose covers arrive in batches. The list is always whole: covers
// are appended to it.
class PythonCovers {
public:
    explicit PythonCovers(Call& call) : call_(call) {}
    // False with an exception set when the interpreter cannot allocate the list.
    bool start();
    // Appends one list per cover; false with an exception set on failure.
    bool append(const CoverList& covers);
    // The finished list (new reference).
    PyObject* release() noexcept { return list_.release(); }

private:
    Call& call_;
    Ref list_;
    IndexInts ints_;
};

// One cover as a new list of ints.
PyObject* cover_to_python(std::span<const std::uint64_t> cover);

// Indices as a new list of the shared ints of `ints`; nullptr with an exception set.
PyObject* index_list(std::span<const std::uint64_t> indices, IndexInts& ints);

}  // namespace xcover::py
