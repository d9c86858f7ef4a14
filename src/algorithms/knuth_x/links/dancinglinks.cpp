#include "dancinglinks.hpp"

#include <algorithm>

namespace xcover {

DancingLinks::DancingLinks(const BlockList& blocks, std::uint64_t m) : nodes_(m) {
    columns_.reserve(m + 1);
    for (std::uint64_t slot = 0; slot <= m; ++slot) columns_.push_back(Column{0, slot});
    nodes_.reserve(m + 1 + blocks.total_entries());

    std::vector<std::uint64_t> row;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        auto block = blocks[b];
        row.assign(block.begin(), block.end());
        std::sort(row.begin(), row.end());
        row.erase(std::unique(row.begin(), row.end()), row.end());
        if (row.empty()) continue;
        row_count_ = b + 1;

        const auto first = static_cast<NodeIndex>(nodes_.size());
        for (std::uint64_t column : row) {
            const std::uint64_t slot = checked(column + 1, m + 1);
            Column& col = columns_[slot];
            const auto head = static_cast<NodeIndex>(col.head);
            const NodeIndex up = nodes_[head].up;
            const auto self = static_cast<NodeIndex>(nodes_.size());
            nodes_.push(Links{up, head, self, self, static_cast<NodeIndex>(slot)}, b);
            nodes_[head].up = self;
            nodes_[up].down = self;
            ++col.size;
        }
        const std::uint64_t k = row.size();
        for (std::uint64_t j = 0; j < k; ++j) {
            const auto here = static_cast<NodeIndex>(first + j);
            const auto next = static_cast<NodeIndex>(first + (j + 1) % k);
            nodes_[here].right = next;
            nodes_[next].left = here;
        }
    }
}

void DancingLinks::cover_slot(std::uint64_t slot) {
    const auto h = static_cast<NodeIndex>(at(columns_, slot).head);
    const Links& header = nodes_[h];
    nodes_[header.right].left = header.left;
    nodes_[header.left].right = header.right;
    for (NodeIndex i = nodes_[h].down; i != h; i = nodes_[i].down) {
        for (NodeIndex j = nodes_[i].right; j != i; j = nodes_[j].right) {
            const Links& n = nodes_[j];
            nodes_[n.down].up = n.up;
            nodes_[n.up].down = n.down;
            --at(columns_, n.column).size;
        }
    }
}

void DancingLinks::uncover_slot(std::uint64_t slot) {
    const auto h = static_cast<NodeIndex>(at(columns_, slot).head);
    for (NodeIndex i = nodes_[h].up; i != h; i = nodes_[i].up) {
        for (NodeIndex j = nodes_[i].left; j != i; j = nodes_[j].left) {
            const Links& n = nodes_[j];
            ++at(columns_, n.column).size;
            nodes_[n.down].up = j;
            nodes_[n.up].down = j;
        }
    }
    const Links& header = nodes_[h];
    nodes_[header.right].left = h;
    nodes_[header.left].right = h;
}

void DancingLinks::cover(std::uint64_t column) { cover_slot(checked(column + 1, columns_.size())); }

void DancingLinks::uncover(std::uint64_t column) {
    uncover_slot(checked(column + 1, columns_.size()));
}

void DancingLinks::cover_row_rest(std::uint64_t node) {
    for (std::uint64_t j = nodes_[node].right; j != node; j = nodes_[j].right)
        cover_slot(nodes_[j].column);
}

void DancingLinks::uncover_row_rest(std::uint64_t node) {
    for (std::uint64_t j = nodes_[node].left; j != node; j = nodes_[j].left)
        uncover_slot(nodes_[j].column);
}

std::uint64_t DancingLinks::pick_slot() const {
    std::uint64_t best = kComplete;
    std::uint64_t best_size = UINT64_MAX;
    for (NodeIndex h = nodes_[0].right; h != 0; h = nodes_[h].right) {
        const std::uint64_t size = at(columns_, nodes_[h].column).size;
        if (size == 0) return kDeadEnd;
        if (best == kComplete || size < best_size) {
            best = nodes_[h].column;
            best_size = size;
        }
    }
    return best;
}

ColumnChoice DancingLinks::choose_column() const {
    const std::uint64_t slot = pick_slot();
    if (slot == kComplete) return {ColumnChoice::Kind::Complete, {}};
    if (slot == kDeadEnd) return {ColumnChoice::Kind::DeadEnd, {}};
    ColumnChoice choice{ColumnChoice::Kind::Rows, {}};
    choice.rows.reserve(columns_[slot].size);
    const std::uint64_t h = columns_[slot].head;
    for (std::uint64_t i = nodes_[h].down; i != h; i = nodes_[i].down) choice.rows.push_back(nodes_.row(i));
    return choice;
}

}  // namespace xcover
