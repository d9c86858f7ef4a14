#include "matrix.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "arguments.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

// What a cell holds, as far as a block cares.
enum class Cell : unsigned char { Zero, One, Other };

// Reading a long matrix lets the interpreter run signal handlers after this many cells.
constexpr std::size_t kCellsBetweenSignalChecks = std::size_t{1} << 22;

// Once enough cells have been read (a few milliseconds' worth), lets other threads have the
// interpreter for a moment (with a GIL, they could not run at all during a long read; without
// one, a collection elsewhere waits for every attached thread) and runs pending signal
// handlers; false when a handler raised.
class SignalPoll {
public:
    bool after(std::size_t cells) {
        read_ += cells;
        if (read_ < kCellsBetweenSignalChecks) return true;
        read_ = 0;
        Py_BEGIN_ALLOW_THREADS
        Py_END_ALLOW_THREADS
        return PyErr_CheckSignals() == 0;
    }

private:
    std::size_t read_ = 0;
};

int raise_not_zero_one(Py_ssize_t row, Py_ssize_t column, PyObject* value) {
    PyErr_Format(PyExc_ValueError, "matrix entries must be 0 or 1: row %zd, column %zd holds %R",
                 row, column, value);
    return -1;
}

// ---------------------------------------------------------------- buffers

// A buffer (strides and format) held for the life of the object.
class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    // A thread that re-attaches while the interpreter finalizes is ended by a forced unwind,
    // without a thread state: the buffer is then left to the dying process (see DecRef).
    ~BufferView() {
        if (held_ && PyThreadState_GetUnchecked() != nullptr) PyBuffer_Release(&view_);
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

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// The item code of a buffer's struct-module format, after its byte-order prefix; sets
// `swapped` when the prefix names the other byte order than this machine's.
const char* item_code(const Py_buffer& view, bool& swapped) {
    const char* format = view.format != nullptr ? view.format : "B";
    swapped = false;
    switch (*format) {
    case '@':
    case '=': return format + 1;
    case '<': swapped = !kLittleEndian; return format + 1;
    case '>':
    case '!': swapped = kLittleEndian; return format + 1;
    default: return format;
    }
}

// The cell type of a struct-module format of one item ("?", "<i4"-style codes), or nullopt for
// the formats read item by item instead (complex, long double, objects, records).
std::optional<CellType> cell_type(const Py_buffer& view) {
    bool swapped = false;
    const char* format = item_code(view, swapped);
    if (format[0] == '\0' || format[1] != '\0') return std::nullopt;
    const auto size = static_cast<std::size_t>(view.itemsize);
    const bool integer_size = size == 1 || size == 2 || size == 4 || size == 8;
    switch (format[0]) {
    case '?':
        if (size != 1) return std::nullopt;
        return CellType{CellKind::Bool, size, swapped};
    case 'b': case 'h': case 'i': case 'l': case 'q': case 'n':
        if (!integer_size) return std::nullopt;
        return CellType{CellKind::Signed, size, swapped};
    case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N':
        if (!integer_size) return std::nullopt;
        return CellType{CellKind::Unsigned, size, swapped};
    case 'e': case 'f': case 'd': {
        const std::size_t expected = format[0] == 'e' ? 2 : format[0] == 'f' ? 4 : 8;
        if (size != expected) return std::nullopt;
        return CellType{CellKind::Float, size, swapped};
    }
    default: return std::nullopt;
    }
}

inline std::uint8_t byte_swapped(std::uint8_t bits) { return bits; }
inline std::uint16_t byte_swapped(std::uint16_t bits) { return __builtin_bswap16(bits); }
inline std::uint32_t byte_swapped(std::uint32_t bits) { return __builtin_bswap32(bits); }
inline std::uint64_t byte_swapped(std::uint64_t bits) { return __builtin_bswap64(bits); }

template <class Bits>
Bits load(const char* cell, bool swapped) {
    Bits bits;
    std::memcpy(&bits, cell, sizeof bits);
    return swapped ? byte_swapped(bits) : bits;
}

// Integers of either sign: only the bit patterns of 0 and 1 qualify.
template <class Bits>
auto integer_reader(bool swapped) {
    return [swapped](const char* cell) {
        const Bits bits = load<Bits>(cell, swapped);
        return bits == 0 ? Cell::Zero : bits == 1 ? Cell::One : Cell::Other;
    };
}

// IEEE floats: both zeros, and the one pattern of 1.0.
template <class Bits, Bits kOne>
auto float_reader(bool swapped) {
    constexpr Bits kMagnitude = static_cast<Bits>(~(Bits{1} << (8 * sizeof(Bits) - 1)));
    return [swapped](const char* cell) {
        const Bits bits = load<Bits>(cell, swapped);
        return (bits & kMagnitude) == 0 ? Cell::Zero : bits == kOne ? Cell::One : Cell::Other;
    };
}

// Complex cells would convert to their real part; a matrix of them is refused instead.
bool refuse_complex(const Py_buffer& view) {
    bool swapped = false;
    if (*item_code(view, swapped) != 'Z') return true;
    PyErr_SetString(PyExc_TypeError, "matrix entries must be 0 or 1, not complex numbers");
    return false;
}

// Calls `scan(read)` with the reader of cells of `type`; one instantiation per encoding keeps
// the inner loop free of per-cell dispatch.
template <class Scan>
auto with_cell_reader(const CellType& type, Scan&& scan) {
    const bool swapped = type.swapped;
    switch (type.kind) {
    case CellKind::Bool:
        return scan([](const char* cell) { return *cell != 0 ? Cell::One : Cell::Zero; });
    case CellKind::Float:
        if (type.size == 2) return scan(float_reader<std::uint16_t, 0x3c00>(swapped));
        if (type.size == 4) return scan(float_reader<std::uint32_t, 0x3f800000>(swapped));
        return scan(float_reader<std::uint64_t, 0x3ff0000000000000>(swapped));
    case CellKind::Signed:
    case CellKind::Unsigned: break;
    }
    if (type.size == 1) return scan(integer_reader<std::uint8_t>(swapped));
    if (type.size == 2) return scan(integer_reader<std::uint16_t>(swapped));
    if (type.size == 4) return scan(integer_reader<std::uint32_t>(swapped));
    return scan(integer_reader<std::uint64_t>(swapped));
}

// The value of a cell as a Python object, for an error message.
Ref cell_object(const char* cell, const CellType& type) {
    std::uint64_t bits = 0;
    switch (type.size) {
    case 1: bits = load<std::uint8_t>(cell, false); break;
    case 2: bits = load<std::uint16_t>(cell, type.swapped); break;
    case 4: bits = load<std::uint32_t>(cell, type.swapped); break;
    default: bits = load<std::uint64_t>(cell, type.swapped); break;
    }
    const int shift = static_cast<int>(64 - 8 * type.size);
    switch (type.kind) {
    case CellKind::Bool: return own(PyBool_FromLong(bits != 0));
    case CellKind::Unsigned: return own(PyLong_FromUnsignedLongLong(bits));
    case CellKind::Signed:
        return own(PyLong_FromLongLong(static_cast<std::int64_t>(bits << shift) >> shift));
    case CellKind::Float: break;
    }
    const int little = kLittleEndian != type.swapped;
    const double value = type.size == 2   ? PyFloat_Unpack2(cell, little)
                         : type.size == 4 ? PyFloat_Unpack4(cell, little)
                                          : PyFloat_Unpack8(cell, little);
    if (value == -1.0 && PyErr_Occurred()) return nullptr;
    return own(PyFloat_FromDouble(value));
}

// Reads the cells [begin, end) of a row starting at `row`, `stride` bytes apart, into `ones`;
// returns the index of the first cell that is neither 0 nor 1, or -1.
//
// Matrices are mostly zeros, and a zero of every type read here is all zero bytes (but -0.0,
// which the reader still sees). In a contiguous row, cells are therefore skipped a run of
// kSkipBytes at a time when all its bytes are zero.
template <class Read>
Py_ssize_t read_cells(const char* row, Py_ssize_t begin, Py_ssize_t end, Py_ssize_t stride,
                      std::size_t cell_size, Read read, std::vector<std::uint64_t>& ones) {
    constexpr Py_ssize_t kSkipBytes = 32;
    auto read_one = [&](Py_ssize_t column) {
        const Cell value = read(row + column * stride);
        if (value == Cell::One) ones.push_back(static_cast<std::uint64_t>(column));
        return value != Cell::Other;
    };
    Py_ssize_t c = begin;
    // Contiguous cells only: a run's bytes are then exactly its cells', never past the last.
    if (static_cast<std::size_t>(stride) == cell_size && kSkipBytes % stride == 0) {
        const Py_ssize_t per_run = kSkipBytes / stride;
        for (; c + per_run <= end; c += per_run) {
            std::uint64_t words[kSkipBytes / 8];
            std::memcpy(words, row + c * stride, sizeof words);
            std::uint64_t any = 0;
            for (std::uint64_t word : words) any |= word;
            if (any == 0) continue;
            for (Py_ssize_t k = c; k < c + per_run; ++k)
                if (!read_one(k)) return k;
        }
    }
    for (; c < end; ++c)
        if (!read_one(c)) return c;
    return -1;
}

// Reads one row of a buffer's cells into `ones`, in pieces between signal checks (a row of a
// broadcast array can be as long as memory allows and more); false with an exception set.
bool read_buffer_row(const char* first, Py_ssize_t count, Py_ssize_t stride,
                     const CellType& type, Py_ssize_t row, std::vector<std::uint64_t>& ones,
                     SignalPoll& poll) {
    constexpr auto kPiece = static_cast<Py_ssize_t>(kCellsBetweenSignalChecks);
    for (Py_ssize_t begin = 0; begin < count; begin += kPiece) {
        const Py_ssize_t end = count - begin > kPiece ? begin + kPiece : count;
        const Py_ssize_t bad = with_cell_reader(
            type,
            [&](auto read) { return read_cells(first, begin, end, stride, type.size, read, ones); });
        if (bad >= 0) {
            Ref value = cell_object(first + bad * stride, type);
            if (value) raise_not_zero_one(row, bad, value.get());
            return false;
        }
        if (!poll.after(static_cast<std::size_t>(end - begin))) return false;
    }
    return poll.after(1);  // an empty row costs something too
}

PyObject* blocks_from_buffer(const Py_buffer& view, const CellType& type) {
    const Py_ssize_t rows = view.shape[0];
    const Py_ssize_t columns = view.shape[1];
    Ref blocks = own(PyList_New(rows));
    if (!blocks) return nullptr;
    IndexInts numbers;  // one int per column, shared by the rows holding it
    SignalPoll poll;
    std::vector<std::uint64_t> ones;
    const char* base = static_cast<const char*>(view.buf);
    for (Py_ssize_t r = 0; r < rows; ++r) {
        ones.clear();
        if (!read_buffer_row(base + r * view.strides[0], columns, view.strides[1], type, r, ones,
                             poll))
            return nullptr;
        Ref block = own(index_list(ones, numbers));
        if (!block) return nullptr;
        PyList_SET_ITEM(blocks.get(), r, block.release());
    }
    return blocks.release();
}

// ---------------------------------------------------------------- sequences of rows

// One cell given as a Python object: 0 or 1, or -1 with an exception set.
int cell_value(PyObject* cell, Py_ssize_t row, Py_ssize_t column) {
    if (PyBool_Check(cell)) return cell == Py_True ? 1 : 0;
    if (PyComplex_Check(cell)) {
        PyErr_Format(PyExc_TypeError,
                     "matrix entries must be 0 or 1, not complex numbers: row %zd, column %zd "
                     "holds %R",
                     row, column, cell);
        return -1;
    }
    if (PyIndex_Check(cell)) {
        Ref index = own(PyNumber_Index(cell));
        if (!index) return -1;
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (value == -1 && PyErr_Occurred()) return -1;
        if (overflow == 0 && (value == 0 || value == 1)) return static_cast<int>(value);
        return raise_not_zero_one(row, column, cell);
    }
    // Floats, and numbers that convert to one (numpy's bool and float scalars among them).
    const PyNumberMethods* number = Py_TYPE(cell)->tp_as_number;
    if (PyFloat_Check(cell) || (number != nullptr && number->nb_float != nullptr)) {
        const double value = PyFloat_AsDouble(cell);
        if (value == -1.0 && PyErr_Occurred()) return -1;
        if (value == 0.0 || value == 1.0) return value == 1.0 ? 1 : 0;
        return raise_not_zero_one(row, column, cell);
    }
    if (!PyUnicode_Check(cell) && !PyBytes_Check(cell) && PySequence_Check(cell)) {
        PyErr_Format(PyExc_ValueError,
                     "matrix must be 2-D: row %zd, column %zd is a sequence ('%s')", row, column,
                     Py_TYPE(cell)->tp_name);
        return -1;
    }
    PyErr_Format(PyExc_TypeError,
                 "matrix entries must be 0 or 1: row %zd, column %zd holds a '%s' object", row,
                 column, Py_TYPE(cell)->tp_name);
    return -1;
}

// Reads one row given as an object into `ones` and sets `length`; false with an exception set.
bool read_row(PyObject* row, Py_ssize_t r, std::vector<std::uint64_t>& ones, Py_ssize_t& length,
              SignalPoll& poll) {
    if (PyObject_CheckBuffer(row)) {
        BufferView view;
        if (view.acquire(row)) {
            if (view->ndim != 1) {
                PyErr_Format(PyExc_ValueError, "matrix must be 2-D: row %zd is %d-D", r,
                             view->ndim);
                return false;
            }
            if (!refuse_complex(*view)) return false;
            if (const std::optional<CellType> type = cell_type(*view)) {
                length = view->shape[0];
                return read_buffer_row(static_cast<const char*>(view->buf), length,
                                       view->strides[0], *type, r, ones, poll);
            }
        } else if (!discard_optional_error()) {
            return false;
        }
    }
    if (PyUnicode_Check(row) || !PySequence_Check(row)) {
        const bool number = PyFloat_Check(row) || PyIndex_Check(row);
        PyErr_Format(number ? PyExc_ValueError : PyExc_TypeError,
                     "matrix must be 2-D: row %zd ('%s') is not a sequence of 0/1 values", r,
                     Py_TYPE(row)->tp_name);
        return false;
    }
    Ref iterator = own(PyObject_GetIter(row));
    if (!iterator) return false;
    Py_ssize_t c = 0;
    while (Ref cell = own(PyIter_Next(iterator.get()))) {
        const int value = cell_value(cell.get(), r, c);
        if (value < 0) return false;
        if (value == 1) ones.push_back(static_cast<std::uint64_t>(c));
        ++c;
        if (!poll.after(1)) return false;
    }
    length = c;
    return !PyErr_Occurred();
}

PyObject* blocks_from_rows(PyObject* matrix) {
    Ref blocks = own(PyList_New(0));
    Ref iterator = blocks ? own(PyObject_GetIter(matrix)) : nullptr;
    if (!iterator) return nullptr;
    IndexInts numbers;  // one int per column, shared by the rows holding it
    SignalPoll poll;
    std::vector<std::uint64_t> ones;
    Py_ssize_t width = -1;
    Py_ssize_t r = 0;
    while (Ref row = own(PyIter_Next(iterator.get()))) {
        ones.clear();
        Py_ssize_t length = 0;
        if (!read_row(row.get(), r, ones, length, poll)) return nullptr;
        if (width >= 0 && length != width) {
            PyErr_Format(PyExc_ValueError,
                         "matrix rows must have the same length: row 0 has %zd entries, "
                         "row %zd has %zd",
                         width, r, length);
            return nullptr;
        }
        width = length;
        Ref block = own(index_list(ones, numbers));
        if (!block || PyList_Append(blocks.get(), block.get()) < 0) return nullptr;
        ++r;
    }
    if (PyErr_Occurred()) return nullptr;
    return blocks.release();
}

void raise_not_a_matrix(PyObject* matrix) {
    PyErr_Format(PyExc_TypeError,
                 "matrix must be a 2-D array or a sequence of rows, not '%s'",
                 Py_TYPE(matrix)->tp_name);
}

}  // namespace

PyObject* matrix_to_blocks(PyObject* matrix) {
    if (PyObject_CheckBuffer(matrix)) {
        BufferView view;
        if (view.acquire(matrix)) {
            if (view->ndim != 2) {
                PyErr_Format(PyExc_ValueError, "matrix must be 2-D, not %d-D", view->ndim);
                return nullptr;
            }
            if (!refuse_complex(*view)) return nullptr;
            if (const std::optional<CellType> type = cell_type(*view))
                return blocks_from_buffer(*view, *type);
            // Other cell formats are read row by row, item by item.
        } else if (!discard_optional_error()) {
            return nullptr;
        }
    } else if (!PyList_Check(matrix) && !PyTuple_Check(matrix)) {
        // Neither a buffer nor a plain sequence: an object that converts itself to an array
        // (a pandas frame, a tensor) is read through that array.
        PyObject* found = nullptr;
        if (PyObject_GetOptionalAttrString(matrix, "__array__", &found) < 0) return nullptr;
        if (Ref method = own(found)) {
            Ref array = own(PyObject_CallNoArgs(method.get()));
            if (!array) return nullptr;
            if (!PyObject_CheckBuffer(array.get())) {
                raise_not_a_matrix(matrix);
                return nullptr;
            }
            return matrix_to_blocks(array.get());
        }
    }
    if (PyUnicode_Check(matrix) || !PySequence_Check(matrix)) {
        raise_not_a_matrix(matrix);
        return nullptr;
    }
    return blocks_from_rows(matrix);
}

}  // namespace xcover::py
