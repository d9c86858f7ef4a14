// Arena numbers for paths, as a search gives them: a prefix's number fixes the prefix, and
// numbers grow along a path. For tests of what a scorer keeps from one path to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace xcover::testing {

class PathNumbers {
public:
    // The numbers of `path`'s prefixes, the empty one first.
    std::vector<std::uint32_t> ids_of(const std::vector<std::uint64_t>& path) {
        std::vector<std::uint32_t> ids{0};
        for (std::size_t k = 1; k <= path.size(); ++k) {
            const std::vector<std::uint64_t> prefix(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(k));
            ids.push_back(numbers_.try_emplace(prefix, static_cast<std::uint32_t>(numbers_.size())).first->second);
        }
        return ids;
    }

private:
    std::map<std::vector<std::uint64_t>, std::uint32_t> numbers_{{{}, 0}};
};

}  // namespace xcover::testing
