#include "matrix_cells.hpp"

#include <bit>
#include <cstring>

namespace xcover::py {

namespace {

// What a cell holds, as far as a block cares.
enum class Cell : unsigned char { Zero, One, Other };

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
}  // namespace

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

namespace {

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

}  // namespace

bool refuse_complex(const Py_buffer& view) {
    bool swapped = false;
    if (*item_code(view, swapped) != 'Z') return true;
    PyErr_SetString(PyExc_TypeError, "matrix entries must be 0 or 1, not complex numbers");
    return false;
}

namespace {

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

}  // namespace

bool read_buffer_row(Call& call, const char* first, Py_ssize_t count, Py_ssize_t stride,
                     const CellType& type, Py_ssize_t row, std::vector<std::uint64_t>& ones) {
    // A row of a broadcast array can be as long as memory allows and more: read in pieces.
    constexpr Py_ssize_t kPiece = Py_ssize_t{1} << 16;
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
        if (!call.check.poll_attached(static_cast<std::uint64_t>(end - begin))) return false;
    }
    return call.check.poll_attached();  // an empty row costs something too
}

}  // namespace xcover::py
