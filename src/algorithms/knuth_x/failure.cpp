#include "failure.hpp"

namespace xcover {

void fail(const std::string& message, std::source_location where) {
    throw InternalFailure(message, where);
}

void fail_index(std::uint64_t index, std::uint64_t length, std::source_location where) {
    throw InternalFailure("index out of bounds: the len is " + std::to_string(length) +
                              " but the index is " + std::to_string(index),
                          where);
}

}  // namespace xcover
