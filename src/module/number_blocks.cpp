#include "number_blocks.hpp"

#include "results.hpp"

namespace xcover::py {

namespace {

// The number of `item`, given the next one when it is new; nullptr with an exception set.
PyObject* number_of(PyObject* item, PyObject* numbers, PyObject* items) {
    PyObject* known = nullptr;
    const int found = PyDict_GetItemRef(numbers, item, &known);
    if (found < 0) return nullptr;
    if (found > 0) return known;
    Ref number = own(PyLong_FromSsize_t(PyList_GET_SIZE(items)));
    if (!number || PyDict_SetItem(numbers, item, number.get()) < 0 || PyList_Append(items, item) < 0)
        return nullptr;
    return number.release();
}

constexpr const char* kNotNested = "number_blocks() argument must be a sequence of sequences";

// The items of `sequence` as a tuple, which holds a reference to each: an item's __hash__
// or __eq__, or another thread, may empty or refill a list while its items are numbered,
// and the numbering must not read it again. A list is copied under its lock.
PyObject* held_items(PyObject* sequence) {
    Ref fast = own(PySequence_Fast(sequence, kNotNested));
    if (!fast || PyTuple_Check(fast.get())) return fast.release();
    return PyList_AsTuple(fast.get());
}

}  // namespace

PyObject* number_blocks(Call& call, PyObject* blocks) {
    Ref outer = own(held_items(blocks));
    if (!outer) return nullptr;
    Ref numbers = own(PyDict_New());
    Ref items = own(PyList_New(0));
    if (!numbers || !items) return nullptr;
    ListBuilder numbered;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(outer.get());
    for (Py_ssize_t b = 0; b < count; ++b) {
        Ref block = own(held_items(PySequence_Fast_GET_ITEM(outer.get(), b)));
        if (!block) return nullptr;
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(block.get());
        if (!call.check.poll_attached(static_cast<std::uint64_t>(size) + 1)) return nullptr;
        ListBuilder row;
        for (Py_ssize_t i = 0; i < size; ++i)
            if (!row.push(number_of(PySequence_Fast_GET_ITEM(block.get(), i), numbers.get(), items.get())))
                return nullptr;
        if (!numbered.push(row.finish())) return nullptr;
    }
    Ref result = own(numbered.finish());
    if (!result) return nullptr;
    return PyTuple_Pack(2, result.get(), items.get());
}

}  // namespace xcover::py
