#include "matrix.hpp"

#include <cstdint>
#include <optional>
#include <vector>

#include "failure_boundary.hpp"
#include "matrix_cells.hpp"
#include "results.hpp"

namespace xcover::py {

int raise_not_zero_one(Py_ssize_t row, Py_ssize_t column, PyObject* value) {
    PyErr_Format(PyExc_ValueError, "matrix entries must be 0 or 1: row %zd, column %zd holds %R",
                 row, column, value);
    return -1;
}

namespace {

// A memoryview of a format it cannot unpack (long double, for one) raises NotImplementedError
// when iterated: for the caller that is a matrix whose entries cannot be read, a TypeError.
// Returns false, with the exception pending.
bool refuse_unreadable_format() {
    if (!PyErr_ExceptionMatches(PyExc_NotImplementedError)) return false;
    Ref error = own(PyErr_GetRaisedException());
    PyErr_Format(PyExc_TypeError, "matrix entries of this format cannot be read (%S)", error.get());
    return false;
}



// The reader lets other threads in and runs signal handlers between rows, so the result list
// is made only once every row's block exists.
PyObject* blocks_from_buffer(Call& call, const Py_buffer& view, const CellType& type) {
    const Py_ssize_t rows = view.shape[0];
    const Py_ssize_t columns = view.shape[1];
    ListBuilder blocks;
    IndexInts numbers;  // one int per column, shared by the rows holding it
    std::vector<std::uint64_t> ones;
    const char* base = static_cast<const char*>(view.buf);
    for (Py_ssize_t r = 0; r < rows; ++r) {
        ones.clear();
        if (!read_buffer_row(call, base + r * view.strides[0], columns, view.strides[1], type, r,
                             ones) ||
            !blocks.push(index_list(ones, numbers)))
            return nullptr;
    }
    return blocks.finish();
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
bool read_row(Call& call, PyObject* row, Py_ssize_t r, std::vector<std::uint64_t>& ones,
              Py_ssize_t& length) {
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
                return read_buffer_row(call, static_cast<const char*>(view->buf), length,
                                       view->strides[0], *type, r, ones);
            }
        } else if (!discard_optional_error(call.state)) {
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
    if (!iterator) return refuse_unreadable_format();
    Py_ssize_t c = 0;
    while (Ref cell = own(PyIter_Next(iterator.get()))) {
        const int value = cell_value(cell.get(), r, c);
        if (value < 0) return false;
        if (value == 1) ones.push_back(static_cast<std::uint64_t>(c));
        ++c;
        if (!call.check.poll_attached()) return false;
    }
    length = c;
    return !PyErr_Occurred() || refuse_unreadable_format();
}

PyObject* blocks_from_rows(Call& call, PyObject* matrix) {
    Ref blocks = own(PyList_New(0));
    Ref iterator = blocks ? own(PyObject_GetIter(matrix)) : nullptr;
    if (!iterator) {
        if (blocks) refuse_unreadable_format();
        return nullptr;
    }
    IndexInts numbers;  // one int per column, shared by the rows holding it
    std::vector<std::uint64_t> ones;
    Py_ssize_t width = -1;
    Py_ssize_t r = 0;
    while (Ref row = own(PyIter_Next(iterator.get()))) {
        ones.clear();
        Py_ssize_t length = 0;
        if (!read_row(call, row.get(), r, ones, length)) return nullptr;
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
    if (PyErr_Occurred()) {
        refuse_unreadable_format();
        return nullptr;
    }
    return blocks.release();
}

void raise_not_a_matrix(PyObject* matrix) {
    PyErr_Format(PyExc_TypeError,
                 "matrix must be a 2-D array or a sequence of rows, not '%s'",
                 Py_TYPE(matrix)->tp_name);
}

}  // namespace

PyObject* matrix_to_blocks(Call& call, PyObject* matrix) {
    if (PyObject_CheckBuffer(matrix)) {
        BufferView view;
        if (view.acquire(matrix)) {
            if (view->ndim != 2) {
                PyErr_Format(PyExc_ValueError, "matrix must be 2-D, not %d-D", view->ndim);
                return nullptr;
            }
            if (!refuse_complex(*view)) return nullptr;
            if (const std::optional<CellType> type = cell_type(*view))
                return blocks_from_buffer(call, *view, *type);
            // Other cell formats are read row by row, item by item, where the object can
            // give its rows; a memoryview cannot.
            if (PyMemoryView_Check(matrix)) {
                PyErr_Format(PyExc_TypeError,
                             "matrix entries of format '%s' cannot be read: pass a numpy array "
                             "or a memoryview of booleans, integers or floats",
                             view->format != nullptr ? view->format : "B");
                return nullptr;
            }
        } else if (!discard_optional_error(call.state)) {
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
            return matrix_to_blocks(call, array.get());
        }
    }
    if (PyUnicode_Check(matrix) || !PySequence_Check(matrix)) {
        raise_not_a_matrix(matrix);
        return nullptr;
    }
    return blocks_from_rows(call, matrix);
}

}  // namespace xcover::py
