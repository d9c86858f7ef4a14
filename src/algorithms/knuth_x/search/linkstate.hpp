// One matrix shared by every pending partial cover, with the list of columns covered in it.
// `restore` moves the matrix to another list by undoing and redoing only the part after the
// common prefix, last covered first uncovered, so every cover/uncover pair stays nested and
// the matrix ends exactly as covering the target list from scratch would leave it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../links/dancinglinks.hpp"

namespace xcover {

class LinkState {
public:
    explicit LinkState(DancingLinks links) : links_(std::move(links)) {}

    void restore(std::span<const std::uint64_t> target);
    // The same move when the caller knows how much of the list stays: uncovers down to the
    // first `keep` covered columns, last first, then covers `more` in order. The matrix ends
    // as restore(first `keep` columns + `more`) leaves it; only the comparison is skipped.
    void rewind(std::size_t keep);
    void cover_more(std::span<const std::uint64_t> more);

    const std::vector<std::uint64_t>& covered() const noexcept { return covered_; }
    const DancingLinks& links() const noexcept { return links_; }
    DancingLinks& links() noexcept { return links_; }

private:
    std::vector<std::uint64_t> covered_;
    DancingLinks links_;
};

}  // namespace xcover
