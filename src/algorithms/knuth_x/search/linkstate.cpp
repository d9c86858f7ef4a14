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
    rewind(j);
    cover_more(target.subspan(j));
}

void LinkState::rewind(std::size_t keep) {
    for (std::size_t i = covered_.size(); i > keep; --i) {
        links_.uncover(covered_[i - 1]);
        covered_.pop_back();
    }
}

void LinkState::cover_more(std::span<const std::uint64_t> more) {
    for (std::uint64_t column : more) {
        covered_.push_back(column);  // first: a failed allocation leaves the list true
        links_.cover(column);
    }
}

}  // namespace xcover
