// The cells of a 0/1 matrix held in a buffer (numpy arrays, memoryviews), read straight from
// memory: one reader per cell encoding (booleans, integers of either sign and byte order,
// IEEE floats), so that the inner loop has no per-cell dispatch.
#pragma once

#include "python_ref.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "call.hpp"

namespace xcover::py {

// A buffer (strides and format) held for the life of the object.
class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_ && may_release_objects()) PyBuffer_Release(&view_);
    }

    // False with an exception set when `object` does not export such a buffer.
    bool acquire(PyObject* object) {
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) == 0;
        return held_;
    }

    const Py_buffer& operator*() const { return view_; }
    const Py_buffer* operator->() const { return &view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// How the cells of a buffer are stored, for the formats read straight from memory.
enum class CellKind : unsigned char { Bool, Signed, Unsigned, Float };

struct CellType {
    CellKind kind;
    std::size_t size;  // bytes
    bool swapped;      // stored in the other byte order than this machine's
};

// The cell type of a buffer's struct-module format of one item ("?", "<i4"-style codes), or
// nullopt for the formats read item by item instead (complex, long double, objects, records).
std::optional<CellType> cell_type(const Py_buffer& view);

// Complex cells would convert to their real part: false with TypeError for a buffer of them.
bool refuse_complex(const Py_buffer& view);

// Reads the `count` cells of a row, `stride` bytes apart from `first`, appending the columns
// that hold a 1 to `ones`; false with an exception set (ValueError naming `row` and the column
// for a cell that is neither 0 nor 1, or a signal handler's exception).
bool read_buffer_row(Call& call, const char* first, Py_ssize_t count, Py_ssize_t stride,
                     const CellType& type, Py_ssize_t row, std::vector<std::uint64_t>& ones);

// Sets ValueError "matrix entries must be 0 or 1: row R, column C holds V"; returns -1.
int raise_not_zero_one(Py_ssize_t row, Py_ssize_t column, PyObject* value);

}  // namespace xcover::py
