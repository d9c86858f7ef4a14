#include "linkstate.hpp"

#include <algorithm>

namespace xcover {

void LinkState::restore(std::span<const std::uint64_t> target) {
    const std::size_t n = covered_.size();
    const std::size_t t = target.size();
    std::size_t j = 0;
    const std::size_t limit = std::min(n, t);
    while (j < limit && covered_[j] == target[j]) ++j;
    if (j == n && j == t) return;

    // Last covered, first uncovered: every cover/uncover pair stays properly nested.
    for (std::size_t i = n; i > j; --i) links_.uncover(at(covered_, i - 1));
    covered_.resize(j);
    for (std::size_t i = j; i < t; ++i) {
        links_.cover(target[i]);
        covered_.push_back(target[i]);
    }
}

}  // namespace xcover
