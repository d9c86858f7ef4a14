// The declaration of a module function: its name, its parameters (each with the kind of value
// it is converted to), its docstring, whether it is listed in `__all__`, and the C entry point
// the interpreter calls. Everything else about the function (the counts the binder uses, the
// conversion of each argument, the text signature `inspect` reads, the slot of each
// parameter) is derived from the declaration.
#pragma once

#include "python_ref.hpp"

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace xcover::py {

inline constexpr std::size_t kMaxParameters = 11;

using EntryFunction = PyObject* (*)(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);

// What an argument is converted to (see arguments.hpp for the value each kind gives).
enum class ArgumentKind : unsigned char {
    None,          // an unused entry of the table
    Object,        // the object itself, borrowed
    Blocks,        // a sequence of sequences of unsigned 64-bit ints: BlockList
    Numbers,       // a sequence of floats: std::vector<double>
    Integers,      // a sequence of unsigned 64-bit ints: std::vector<std::uint64_t>
    BlockIndices,  // Integers, each below the number of blocks of `partitions`
    Integer,       // an unsigned 64-bit int
    Count,         // an Integer of at least 1
    Number,        // a float
    OptionalInteger,  // None or an Integer: std::optional<std::uint64_t>
    Size,          // an int of at least 1, never None nor a bool; defaults to the number of
                   // its default_text: std::uint64_t
    Colors,        // None, or one entry per block of `partitions`: None or a mapping of element
                   // to color (unsigned 64-bit ints): std::vector<ItemColor>

};

struct Parameter {
    const char* name = nullptr;
    ArgumentKind kind = ArgumentKind::None;
    // The default as shown in the text signature ("None", "()"); nullptr when the caller must
    // supply the argument. Defaulting parameters come after all required ones.
    const char* default_text = nullptr;

    constexpr bool required() const { return default_text == nullptr; }
};

// A parameter resolved at compile time: where its argument is bound, and its name for error
// messages.
struct ParameterSlot {
    std::size_t index;
    const char* name;
};

struct FunctionDeclaration {
    const char* name;
    // The parameters in order; unused trailing entries have no name.
    std::array<Parameter, kMaxParameters> parameters;
    const char* doc;  // the docstring, without the text signature
    bool exported;    // listed in the module's __all__
    EntryFunction entry;

    constexpr std::size_t count() const {
        std::size_t n = 0;
        while (n < parameters.size() && parameters[n].name != nullptr) ++n;
        return n;
    }

    constexpr std::size_t required() const {
        std::size_t n = 0;
        while (n < count() && parameters[n].required()) ++n;
        return n;
    }

    // True when every required parameter precedes every defaulting one, as Python requires.
    constexpr bool well_formed() const {
        for (std::size_t p = required(); p < count(); ++p)
            if (parameters[p].required()) return false;
        for (std::size_t p = count(); p < parameters.size(); ++p)
            if (parameters[p].name != nullptr) return false;
        return name != nullptr && doc != nullptr;
    }

    // The slot of the parameter called `parameter`; naming an unknown parameter does not
    // compile.
    consteval ParameterSlot slot(std::string_view parameter) const {
        for (std::size_t p = 0; p < count(); ++p)
            if (std::string_view(parameters[p].name) == parameter) return {p, parameters[p].name};
        throw std::logic_error("no such parameter");
    }
};

namespace detail {

// Writes "name(p1, p2, opt=None)\n--\n\n<doc>" through `put`, one character at a time.
template <class Put>
constexpr void write_docstring(const FunctionDeclaration& f, Put&& put) {
    auto text = [&](std::string_view s) {
        for (char c : s) put(c);
    };
    text(f.name);
    text("(");
    for (std::size_t p = 0; p < f.count(); ++p) {
        if (p > 0) text(", ");
        text(f.parameters[p].name);
        if (!f.parameters[p].required()) {
            text("=");
            text(f.parameters[p].default_text);
        }
    }
    text(")\n--\n\n");
    text(f.doc);
}

constexpr std::size_t docstring_length(const FunctionDeclaration& f) {
    std::size_t n = 0;
    write_docstring(f, [&](char) { ++n; });
    return n;
}

template <const FunctionDeclaration& F>
constexpr auto render_docstring() {
    std::array<char, docstring_length(F) + 1> out{};
    std::size_t at = 0;
    write_docstring(F, [&](char c) { out[at++] = c; });
    out[at] = '\0';
    return out;
}

}  // namespace detail

// The docstring the interpreter receives: the text signature, then the declared doc.
template <const FunctionDeclaration& F>
inline constexpr auto kDocstring = detail::render_docstring<F>();

}  // namespace xcover::py
