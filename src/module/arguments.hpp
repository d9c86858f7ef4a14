// Binding a call's arguments to the parameters of a module function, and converting each
// argument, by the kind its declaration gives, into a plain value owned by the call.
//
// Every function here returns false with a Python exception set on a caller error, and throws
// InternalFailure for a PanicException raised by the caller's objects.
#pragma once

#include "python_ref.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "../algorithms/knuth_x/links/block_list.hpp"
#include "../algorithms/knuth_x/links/colors.hpp"
#include "call.hpp"
#include "signature.hpp"

namespace xcover::py {

// The value of one converted argument. By kind: Object -> PyObject* (borrowed), Blocks ->
// BlockList, Numbers -> vector<double>, Integers and BlockIndices -> vector<uint64_t>,
// Integer, Count and Size -> uint64_t, Number -> double, OptionalInteger -> optional<uint64_t>,
// Colors -> vector<ItemColor> (one per colored element of a block, block by block).
// An absent argument with a default is the empty value of its kind (a Size: its default).
using ArgumentValue = std::variant<std::monostate, PyObject*, BlockList, std::vector<double>,
                                   std::vector<std::uint64_t>, std::uint64_t, double,
                                   std::optional<std::uint64_t>, std::vector<ItemColor>>;

// The converted arguments of one call.
class Arguments {
public:
    // Binds the arguments to the parameters of `function` and converts them in declaration
    // order; the first failure raises its exception.
    bool convert(Call& call, const FunctionDeclaration& function, PyObject* const* args,
                 Py_ssize_t nargs, PyObject* kwnames);

    // The value of a parameter, which must have been declared with a kind of that type.
    template <class T>
    T& get(ParameterSlot parameter) {
        T* value = std::get_if<T>(&at(values_, parameter.index));
        if (value == nullptr) fail(std::string("argument '") + parameter.name + "' has another kind");
        return *value;
    }
    BlockList& blocks(ParameterSlot p) { return get<BlockList>(p); }
    std::vector<double>& numbers(ParameterSlot p) { return get<std::vector<double>>(p); }
    std::vector<std::uint64_t>& integers(ParameterSlot p) { return get<std::vector<std::uint64_t>>(p); }
    std::uint64_t integer(ParameterSlot p) { return get<std::uint64_t>(p); }
    double number(ParameterSlot p) { return get<double>(p); }
    std::optional<std::uint64_t> optional_integer(ParameterSlot p) {
        return get<std::optional<std::uint64_t>>(p);
    }
    PyObject* object(ParameterSlot p) { return get<PyObject*>(p); }
    std::vector<ItemColor>& colors(ParameterSlot p) { return get<std::vector<ItemColor>>(p); }

private:
    std::array<ArgumentValue, kMaxParameters> values_;
};

// Sets TypeError "'{type}' object is not an instance of '{target}'".
void raise_type_mismatch(PyObject* object, const char* target);

}  // namespace xcover::py
