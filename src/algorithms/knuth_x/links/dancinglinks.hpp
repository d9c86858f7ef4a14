// The dancing-links matrix: one column per element, one row per non-empty block, one node
// per (block, distinct element) pair. `cover` removes a column and every row meeting it;
// `uncover` undoes the most recent `cover` still in force.
#pragma once

#include <cstdint>
#include <vector>

#include "block_list.hpp"
#include "node_vec.hpp"

namespace xcover {

struct Column {
    std::uint64_t size;  // row nodes currently linked in the column
    std::uint64_t head;  // node index of the header (equal to the slot)
};

struct ColumnChoice {
    enum class Kind { Complete, DeadEnd, Rows };
    Kind kind;
    std::vector<std::uint64_t> rows;  // for Rows: block indices top to bottom
};

class DancingLinks {
public:
    // `blocks` are relabeled blocks (column numbers below m); block i becomes row i.
    DancingLinks(const BlockList& blocks, std::uint64_t m);

    std::uint64_t column_count() const noexcept { return columns_.size() - 1; }

    void cover(std::uint64_t column);
    void uncover(std::uint64_t column);
    ColumnChoice choose_column() const;

    // Lower-level access for the searches that walk the matrix node by node.
    // `pick_slot` returns the slot of the leftmost smallest column, kComplete when no
    // column is left, or kDeadEnd when some column has no row.
    static constexpr std::uint64_t kComplete = 0;
    static constexpr std::uint64_t kDeadEnd = UINT64_MAX;
    std::uint64_t pick_slot() const;
    void cover_slot(std::uint64_t slot);
    void uncover_slot(std::uint64_t slot);
    // Covers the columns of `node`'s row other than its own, left to right.
    void cover_row_rest(std::uint64_t node);
    // The inverse of cover_row_rest, right to left.
    void uncover_row_rest(std::uint64_t node);

    Node node(std::uint64_t i) const {
        const Links& l = nodes_[i];
        return Node{nodes_.row(i), l.column, l.up, l.down, l.left, l.right};
    }
    const Links& links(std::uint64_t i) const { return nodes_[i]; }
    std::uint64_t row(std::uint64_t i) const { return nodes_.row(i); }
    std::uint64_t node_count() const noexcept { return nodes_.size(); }
    // One more than the largest block index with a node (0 for a matrix without rows).
    std::uint64_t row_count() const noexcept { return row_count_; }
    const Column& column_slot(std::uint64_t slot) const { return at(columns_, slot); }

private:
    std::vector<Column> columns_;
    NodeVec nodes_;
    std::uint64_t row_count_ = 0;
};

}  // namespace xcover
