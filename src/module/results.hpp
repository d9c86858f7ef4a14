// Conversion of the engine's covers into a new Python list of lists of ints.
#pragma once

#include "python_ref.hpp"

#include <cstdint>
#include <span>
#include <vector>

#include "../algorithms/knuth_x/search/covers.hpp"

namespace xcover::py {

// Returns a new list, or nullptr with MemoryError set when the interpreter cannot allocate
// it; what was built is released.
PyObject* covers_to_python(const CoverList& covers);

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

// The result list of a query whose covers arrive in batches.
class PythonCovers {
public:
    // False with an exception set when the interpreter cannot allocate the list.
    bool start();
    // Appends one list per cover; false with an exception set on failure.
    bool append(const CoverList& covers);
    // The finished list (new reference).
    PyObject* release() noexcept { return list_.release(); }

private:
    Ref list_;
    IndexInts ints_;
};

// One cover as a new list of ints.
PyObject* cover_to_python(std::span<const std::uint64_t> cover);

// Indices as a new list of the shared ints of `ints`; nullptr with an exception set.
PyObject* index_list(std::span<const std::uint64_t> indices, IndexInts& ints);

}  // namespace xcover::py
