#include "dancinglinks.hpp"

#include <new>

namespace xcover {

namespace {

constexpr std::uint64_t kMaxNodes = UINT32_MAX;

}  // namespace

DancingLinks::DancingLinks(const BlockList& relabeled, std::uint64_t m) {
    // Root, headers, one spacer in front and one after each block.
    const std::uint64_t node_total = m + 2 + relabeled.total_items() + relabeled.size();
    if (node_total > kMaxNodes) throw std::bad_alloc();
    nodes_.reserve(node_total);
    blocks_.reserve(node_total);

    items_.resize(m + 1);
    sizes_.assign(m + 1, 0);
    for (std::uint64_t c = 0; c <= m; ++c) {
        const auto n = static_cast<NodeIndex>(c);
        nodes_.push_back(Node{0, n, n});
        nodes_[c].column = n;
        blocks_.push_back(kNoBlock);
        items_[c] = Item{static_cast<NodeIndex>(c == 0 ? m : c - 1),
                         static_cast<NodeIndex>(c == m ? 0 : c + 1)};
    }
    nodes_[0] = Node{0, 0, 0};

    auto push_spacer = [&] {
        nodes_.push_back(Node{0, 0, 0});
        blocks_.push_back(kNoBlock);
        return static_cast<NodeIndex>(nodes_.size() - 1);
    };
    NodeIndex spacer = push_spacer();
    for (std::uint64_t b = 0; b < relabeled.size(); ++b) {
        const auto columns = relabeled[b];
        if (columns.empty()) continue;
        block_bound_ = b + 1;
        const auto first = static_cast<NodeIndex>(nodes_.size());
        for (std::uint64_t column : columns) {
            const NodeIndex c = checked_column(column);
            const auto self = static_cast<NodeIndex>(nodes_.size());
            const NodeIndex last = nodes_[c].up;
            nodes_.push_back(Node{c, last, c});
            blocks_.push_back(b);
            nodes_[last].down = self;
            nodes_[c].up = self;
            ++sizes_[c];
        }
        nodes_[spacer].down = static_cast<NodeIndex>(nodes_.size() - 1);
        spacer = push_spacer();
        nodes_[spacer].up = first;
    }
    for (std::uint64_t c = 1; c <= m; ++c) empty_columns_ += sizes_[c] == 0;
}

}  // namespace xcover
