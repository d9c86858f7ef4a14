#include "linkstate.hpp"

#include <algorithm>

namespace xcover {

std::uint64_t LinkState::block_move(const BlockList& relabeled, std::uint64_t block) const {
    if (relabeled[block].empty()) fail("an empty block chosen");
    return kBlockMove | links_.first_node(relabeled, block);
}

void LinkState::moves_of(const BlockList& relabeled, std::uint64_t block, std::vector<std::uint64_t>& out) const {
    if (links_.has_colors()) {
        out.push_back(block_move(relabeled, block));
    } else {
        const auto columns = relabeled[block];
        out.insert(out.end(), columns.begin(), columns.end());
    }
}

void LinkState::choose(const BlockList& relabeled, std::uint64_t block) {
    if (links_.has_colors())
        make_one(block_move(relabeled, block));
    else
        cover_more(relabeled[block]);
}

void LinkState::restore(std::span<const std::uint64_t> target) {
    const std::size_t n = covered_.size();
    const std::size_t t = target.size();
    std::size_t j = 0;
    const std::size_t limit = std::min(n, t);
    while (j < limit && covered_[j] == target[j]) ++j;
    if (j == n && j == t) return;

    // Last made, first undone: every cover/uncover pair stays properly nested.
    rewind(j);
    cover_more(target.subspan(j));
}

void LinkState::rewind(std::size_t keep) {
    for (std::size_t i = covered_.size(); i > keep; --i) {
        const std::uint64_t move = covered_[i - 1];
        if (move & kBlockMove)
            links_.uncover_block_colored(move & ~kBlockMove);
        else
            links_.uncover(move);
        covered_.pop_back();
    }
}

void LinkState::make_one(std::uint64_t move) {
    covered_.push_back(move);  // first: a failed allocation leaves the list true
    if (move & kBlockMove)
        links_.cover_block_colored(move & ~kBlockMove);
    else
        links_.cover(move);
}

void LinkState::cover_more(std::span<const std::uint64_t> more) {
    for (std::uint64_t move : more) make_one(move);
}

}  // namespace xcover
