// Internal failures of the engine.
//
// Every index the engine reads is compared with the length of its array first; a failed
// comparison throws InternalFailure instead of touching memory it does not own. The module
// boundary turns it into PanicException. Nothing here depends on Python.
#pragma once

#include <cstdint>
#include <source_location>
#include <stdexcept>
#include <string>

namespace xcover {

class InternalFailure : public std::runtime_error {
public:
    explicit InternalFailure(const std::string& message,
                             std::source_location where = std::source_location::current())
        : std::runtime_error(message), where_(where) {}

    const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

[[noreturn]] void fail(const std::string& message,
                       std::source_location where = std::source_location::current());

[[noreturn]] void fail_index(std::uint64_t index, std::uint64_t length,
                             std::source_location where);

// Returns `index` when it is below `length`; otherwise an internal failure at the caller's line.
inline std::uint64_t checked(std::uint64_t index, std::uint64_t length,
                             std::source_location where = std::source_location::current()) {
    if (index >= length) [[unlikely]]
        fail_index(index, length, where);
    return index;
}

// Bounds-checked element access for vectors and spans.
template <class Container>
inline decltype(auto) at(Container& c, std::uint64_t index,
                         std::source_location where = std::source_location::current()) {
    return c[checked(index, c.size(), where)];
}

}  // namespace xcover
