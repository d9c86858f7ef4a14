#include "arguments.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "failure_boundary.hpp"

namespace xcover::py {

namespace {

// A length hint only saves regrowth; an object whose __len__ overstates its length must not
// make us reserve memory that it will never fill.
constexpr Py_ssize_t kMaxReserve = Py_ssize_t{1} << 16;

// The qualified name of collections.abc.Sequence, for the type-mismatch message; nullptr
// with an exception set.
Ref sequence_qualname(ModuleState& state) {
    PyObject* cls = state.sequence_class.get([]() -> PyObject* {
        Ref module = own(PyImport_ImportModule("collections.abc"));
        if (!module) return nullptr;
        Ref sequence = own(PyObject_GetAttrString(module.get(), "Sequence"));
        if (!sequence) return nullptr;
        if (!PyType_Check(sequence.get())) {
            PyErr_SetString(PyExc_TypeError, "collections.abc.Sequence is not a type");
            return nullptr;
        }
        return sequence.release();
    });
    Ref name;
    if (cls != nullptr) name = own(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(cls)));
    if (name) return name;
    // The class cannot be had (an interpreter shutting down has no imports any more): its
    // qualified name is known anyway, and the caller's error is a TypeError still. A request
    // to stop met on the way is kept instead.
    if (!discard_optional_error(state)) return nullptr;
    return own(PyUnicode_FromString("Sequence"));
}

// Converts a sequence item by item. `reserve(n)` receives the bounded length hint and
// `item(object)` converts one item, returning false with an exception set. Every item is one
// unit of the call's signal check: a list of millions of ints takes seconds.
template <class Reserve, class Item>
bool convert_sequence(Call& call, PyObject* object, Reserve&& reserve, Item&& item) {
    if (PyUnicode_Check(object)) {
        // Exact text on purpose (backticks, `Vec`): callers match this message.
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(object)) {
        Ref target = sequence_qualname(call.state);
        if (!target) return false;
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(target.get(), &size);
        if (utf8 == nullptr) return false;
        raise_type_mismatch(object, std::string(utf8, static_cast<std::size_t>(size)).c_str());
        return false;
    }
    Py_ssize_t hint = PyObject_Size(object);
    if (hint < 0) {
        if (!discard_optional_error(call.state)) return false;  // the hint is optional
        hint = 0;
    }
    reserve(static_cast<std::size_t>(std::min(hint, kMaxReserve)));

    Ref iterator = own(PyObject_GetIter(object));
    if (!iterator) return false;
    while (Ref next = own(PyIter_Next(iterator.get()))) {
        if (!item(next.get()) || !call.check.poll_attached()) return false;
    }
    return !PyErr_Occurred();
}

bool u64_from_int(PyObject* integer, std::uint64_t& out) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

}  // namespace

void raise_type_mismatch(PyObject* object, const char* target) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", target);
        return;
    }
    Ref name = own(PyType_GetQualName(Py_TYPE(object)));
    if (!name) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "'<failed to extract type name>' object is not an instance of '%s'", target);
        return;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), target);
}

namespace {

// Puts each argument in the slot of its parameter; false with TypeError on a binding error.
bool bind_arguments(const FunctionDeclaration& function, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::array<PyObject*, kMaxParameters>& slots) {
    slots.fill(nullptr);
    const auto count = static_cast<Py_ssize_t>(function.count());
    const auto required = static_cast<Py_ssize_t>(function.required());
    for (Py_ssize_t i = 0; i < std::min(nargs, count); ++i) slots[i] = args[i];

    if (nargs > count) {
        // "takes 1 positional arguments" keeps its plural even for one: callers match these
        // messages byte for byte.
        if (required == count)
            PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given",
                         function.name, count, nargs);
        else
            PyErr_Format(PyExc_TypeError,
                         "%s() takes from %zd to %zd positional arguments but %zd were given",
                         function.name, required, count, nargs);
        return false;
    }

    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(key, &length);
        if (text == nullptr) PyErr_Clear();
        Py_ssize_t match = -1;
        for (Py_ssize_t p = 0; text != nullptr && p < count; ++p) {
            const char* name = function.parameters[p].name;
            if (std::strlen(name) == static_cast<std::size_t>(length) &&
                std::memcmp(name, text, static_cast<std::size_t>(length)) == 0) {
                match = p;
                break;
            }
        }
        if (match < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'",
                         function.name, key);
            return false;
        }
        if (slots[match] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         function.name, function.parameters[match].name);
            return false;
        }
        slots[match] = args[nargs + k];
    }

    if (nargs < required) {
        std::vector<const char*> missing;
        for (Py_ssize_t p = 0; p < required; ++p)
            if (slots[p] == nullptr) missing.push_back(function.parameters[p].name);
        if (!missing.empty()) {
            std::string list;
            for (std::size_t i = 0; i < missing.size(); ++i) {
                if (i > 0) list += missing.size() > 2 ? ", " : " ";
                if (i > 0 && i + 1 == missing.size()) list += "and ";
                list += "'";
                list += missing[i];
                list += "'";
            }
            PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s",
                         function.name, missing.size(),
                         missing.size() == 1 ? "argument" : "arguments", list.c_str());
            return false;
        }
    }
    return true;
}

bool convert_u64(PyObject* object, std::uint64_t& out) {
    if (PyLong_Check(object)) return u64_from_int(object, out);
    Ref index = own(PyNumber_Index(object));
    if (!index) return false;
    return u64_from_int(index.get(), out);
}

bool convert_f64(PyObject* object, double& out) {
    if (PyFloat_CheckExact(object)) {
        out = PyFloat_AS_DOUBLE(object);
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool convert_u64_list(Call& call, PyObject* object, std::vector<std::uint64_t>& out) {
    return convert_sequence(
        call, object, [&](std::size_t n) { out.reserve(n); },
        [&](PyObject* item) {
            std::uint64_t value = 0;
            if (!convert_u64(item, value)) return false;
            out.push_back(value);
            return true;
        });
}

bool convert_f64_list(Call& call, PyObject* object, std::vector<double>& out) {
    return convert_sequence(
        call, object, [&](std::size_t n) { out.reserve(n); },
        [&](PyObject* item) {
            double value = 0;
            if (!convert_f64(item, value)) return false;
            out.push_back(value);
            return true;
        });
}

bool convert_block_list(Call& call, PyObject* object, BlockList& out) {
    return convert_sequence(
        call, object, [&](std::size_t n) { out.reserve_lists(n); },
        [&](PyObject* block) {
            const bool ok = convert_sequence(
                call, block, [&](std::size_t) {},
                [&](PyObject* item) {
                    std::uint64_t value = 0;
                    if (!convert_u64(item, value)) return false;
                    out.push_item(value);
                    return true;
                });
            if (!ok) return false;
            out.close_list();
            return true;
        });
}

bool convert_optional_u64(PyObject* object, std::optional<std::uint64_t>& out) {
    if (object == Py_None) {
        out.reset();
        return true;
    }
    std::uint64_t value = 0;
    if (!convert_u64(object, value)) return false;
    out = value;
    return true;
}

// One block's colors: `entry` a mapping of element to color. Its items are read from a
// snapshot (dict.items() as a list), so a mapping changed meanwhile cannot break the walk.
bool convert_block_colors(PyObject* entry, std::uint64_t block, std::vector<ItemColor>& out) {
    Ref items;
    if (PyDict_Check(entry)) {
        items = own(PyDict_Items(entry));
    } else {
        const int has_items = PyObject_HasAttrStringWithError(entry, "items");
        if (has_items < 0) return false;
        if (has_items == 0) {
            raise_type_mismatch(entry, "Mapping");
            return false;
        }
        items = own(PyMapping_Items(entry));
    }
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        Ref pair = own(PySequence_Fast(PyList_GET_ITEM(items.get(), i), "a mapping item is not a pair"));
        if (!pair) return false;
        if (PySequence_Fast_GET_SIZE(pair.get()) != 2) {
            PyErr_SetString(PyExc_TypeError, "a mapping item is not a pair");
            return false;
        }
        ItemColor color{block, 0, 0};
        if (!convert_u64(PySequence_Fast_GET_ITEM(pair.get(), 0), color.element) ||
            !convert_u64(PySequence_Fast_GET_ITEM(pair.get(), 1), color.color))
            return false;
        out.push_back(color);
    }
    return true;
}

// None, or one entry per block of `blocks`, each None or a mapping of element to color.
bool convert_colors(Call& call, PyObject* object, const BlockList* blocks, std::vector<ItemColor>& out) {
    if (object == Py_None) return true;
    if (blocks == nullptr) fail("colors declared before the blocks they color");
    std::uint64_t entries = 0;
    const bool converted = convert_sequence(
        call, object, [](std::size_t) {},
        [&](PyObject* entry) {
            const std::uint64_t block = entries++;
            return entry == Py_None || block >= blocks->size() || convert_block_colors(entry, block, out);
        });
    if (!converted) return false;
    if (entries != blocks->size()) {
        PyErr_Format(PyExc_ValueError, "colors has %llu entries for %llu partitions: give one per block",
                     static_cast<unsigned long long>(entries),
                     static_cast<unsigned long long>(blocks->size()));
        return false;
    }
    return true;
}

// Block indices must name blocks of `blocks`.
bool check_block_indices(const char* name, const std::vector<std::uint64_t>& indices,
                         const BlockList* blocks) {
    if (blocks == nullptr) fail("block indices declared before the blocks they index");
    for (std::uint64_t block : indices) {
        if (block >= blocks->size()) {
            PyErr_Format(PyExc_ValueError, "%s: block index %llu is out of range for %llu partitions",
                         name, static_cast<unsigned long long>(block),
                         static_cast<unsigned long long>(blocks->size()));
            return false;
        }
    }
    return true;
}

// The value of an argument left out: the empty value of its kind, or a Size's default.
ArgumentValue absent_value(const Parameter& parameter) {
    switch (parameter.kind) {
    case ArgumentKind::Size: return std::uint64_t{std::strtoull(parameter.default_text, nullptr, 10)};
    case ArgumentKind::BlockIndices:
    case ArgumentKind::Integers: return std::vector<std::uint64_t>{};
    case ArgumentKind::OptionalInteger: return std::optional<std::uint64_t>{};
    case ArgumentKind::Colors: return std::vector<ItemColor>{};
    case ArgumentKind::Object: return static_cast<PyObject*>(Py_None);  // immortal, borrowed
    default: fail("a parameter of this kind has no default");
    }
}

// Converts `object` by `kind` into `value`; false with an exception set. The conversion
// errors are labelled with the parameter's name by the caller.
bool convert_value(Call& call, ArgumentKind kind, PyObject* object, ArgumentValue& value,
                   const BlockList* blocks) {
    switch (kind) {
    case ArgumentKind::Colors:
        return convert_colors(call, object, blocks, value.emplace<std::vector<ItemColor>>());
    case ArgumentKind::Object: value = object; return true;
    case ArgumentKind::Blocks: return convert_block_list(call, object, value.emplace<BlockList>());
    case ArgumentKind::Numbers: return convert_f64_list(call, object, value.emplace<std::vector<double>>());
    case ArgumentKind::Integers:
    case ArgumentKind::BlockIndices:
        return convert_u64_list(call, object, value.emplace<std::vector<std::uint64_t>>());
    case ArgumentKind::Integer:
    case ArgumentKind::Count: return convert_u64(object, value.emplace<std::uint64_t>());
    case ArgumentKind::Size:
        // True would be a count of 1, None a default nobody wrote: both are mistakes here.
        if (PyBool_Check(object)) {
            PyErr_SetString(PyExc_TypeError, "expected an int, not 'bool'");
            return false;
        }
        return convert_u64(object, value.emplace<std::uint64_t>());
    case ArgumentKind::Number: return convert_f64(object, value.emplace<double>());
    case ArgumentKind::OptionalInteger:
        return convert_optional_u64(object, value.emplace<std::optional<std::uint64_t>>());
    case ArgumentKind::None: break;
    }
    fail("a parameter without a kind");
}

// Replaces the pending exception of a failed conversion of parameter `name` by the one the
// caller sees: a plain TypeError gains the prefix "argument '{name}': ".
void label_argument_error(ModuleState& state, const char* name) {
    Ref inner = fetch_python_error(state);
    if (!inner) {
        // The interpreter's own text for this state, kept as callers know it.
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return;
    }
    if (Py_TYPE(inner.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(inner.release());
        return;
    }
    Ref text = own(PyObject_Str(inner.get()));
    if (!text) {
        PyErr_WriteUnraisable(inner.get());
        text = own(PyUnicode_FromFormat("<unprintable %s object>", Py_TYPE(inner.get())->tp_name));
        if (!text) return;
    }
    Ref message = own(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    Ref labelled = own(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!labelled) return;
    PyException_SetCause(labelled.get(), PyException_GetCause(inner.get()));
    PyErr_SetRaisedException(labelled.release());
}

}  // namespace

bool Arguments::convert(Call& call, const FunctionDeclaration& function, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kMaxParameters> slots{};
    if (!bind_arguments(function, args, nargs, kwnames, slots)) return false;
    const BlockList* blocks = nullptr;
    for (std::size_t p = 0; p < function.count(); ++p) {
        const Parameter& parameter = function.parameters[p];
        if (slots[p] == nullptr) {
            values_[p] = absent_value(parameter);
            continue;
        }
        if (!convert_value(call, parameter.kind, slots[p], values_[p], blocks)) {
            label_argument_error(call.state, parameter.name);
            return false;
        }
        if (parameter.kind == ArgumentKind::Blocks) blocks = &std::get<BlockList>(values_[p]);
        if (parameter.kind == ArgumentKind::BlockIndices &&
            !check_block_indices(parameter.name, std::get<std::vector<std::uint64_t>>(values_[p]),
                                 blocks))
            return false;
        if ((parameter.kind == ArgumentKind::Count || parameter.kind == ArgumentKind::Size) &&
            std::get<std::uint64_t>(values_[p]) == 0) {
            PyErr_Format(PyExc_ValueError, "%s must be at least 1", parameter.name);
            return false;
        }
    }
    return true;
}

}  // namespace xcover::py
