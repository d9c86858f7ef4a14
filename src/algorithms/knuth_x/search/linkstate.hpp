// One matrix shared by every pending partial cover, with the list of moves made in it.
// `restore` moves the matrix to another list by undoing and redoing only the part after the
// common prefix, last made first undone, so every cover/uncover pair stays nested and the
// matrix ends exactly as making the target list from scratch would leave it.
//
// A move is a column to cover, or in a matrix with colors a whole block to choose
// (DancingLinks::cover_block_colored: a colored column is purified, not covered, and what
// that does depends on the blocks chosen before): moves_of gives a block's moves.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"

namespace xcover {

class LinkState {
public:
    explicit LinkState(DancingLinks links) : links_(std::move(links)) {}

    // Appends to `out` the moves that choose `block` of `relabeled` (the blocks the matrix
    // was built from): its columns, or one move for the block in a matrix with colors.
    void moves_of(const BlockList& relabeled, std::uint64_t block, std::vector<std::uint64_t>& out) const;
    // Makes the moves that choose `block`.
    void choose(const BlockList& relabeled, std::uint64_t block);

    void restore(std::span<const std::uint64_t> target);
    // The same move when the caller knows how much of the list stays: undoes moves down to
    // the first `keep`, last first, then makes `more` in order. The matrix ends as
    // restore(first `keep` moves + `more`) leaves it; only the comparison is skipped.
    void rewind(std::size_t keep);
    void cover_more(std::span<const std::uint64_t> more);

    const std::vector<std::uint64_t>& covered() const noexcept { return covered_; }
    const DancingLinks& links() const noexcept { return links_; }
    DancingLinks& links() noexcept { return links_; }

private:
    // A move choosing the block whose first node is the move's low bits.
    static constexpr std::uint64_t kBlockMove = std::uint64_t{1} << 63;
    std::uint64_t block_move(const BlockList& relabeled, std::uint64_t block) const;
    void make_one(std::uint64_t move);

    std::vector<std::uint64_t> covered_;
    DancingLinks links_;
};

}  // namespace xcover
