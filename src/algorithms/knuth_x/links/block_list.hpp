// The caller's candidate blocks: block b is the list of its elements, as given.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "../flat_lists.hpp"

namespace xcover {

using BlockList = FlatLists;

// Sorts `values` and drops repeats: the one way the engine turns a block into a set.
inline void sort_unique(std::vector<std::uint64_t>& values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

}  // namespace xcover
