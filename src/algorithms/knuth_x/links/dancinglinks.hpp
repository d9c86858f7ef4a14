// The dancing-links matrix.
//
// Node 0 is the root, node c (1..m) is the header of column c, and the blocks follow: each
// non-empty block is a run of consecutive nodes, one per distinct column in ascending
// column order, with a spacer node before the first block and after every block. So the
// nodes of a block are read left to right by walking the array, and a spacer sends the walk
// back to the start of the block (its `up`) or, walking leftwards, to the end of the next
// block (its `down`), as in Knuth's DLX1.
//
// Active columns form a ring through the root by their `left`/`right` item links. `cover`
// removes a column and every block that meets it from the other columns; `uncover` undoes the
// most recent `cover` still in force.
//
// Links are 32-bit node numbers: cover and uncover are bound by memory traffic, and a 12-byte
// node keeps more of the matrix in cache. A matrix of 2^32 nodes or more is refused as an
// allocation failure. Every link is a node number below node_count() when the matrix is
// built, and cover and uncover only copy links they read or write the numbers of nodes they
// walk, so the walks need no per-step range checks; the entry points check their arguments.
#pragma once

#include <cstdint>
#include <vector>

#include "../failure.hpp"
#include "block_list.hpp"

namespace xcover {

using NodeIndex = std::uint32_t;

inline constexpr std::uint64_t kNoBlock = UINT64_MAX;

class DancingLinks {
public:
    // `relabeled` holds each block's distinct columns (1..m); block b keeps index b.
    DancingLinks(const BlockList& relabeled, std::uint64_t m);

    std::uint64_t column_count() const noexcept { return items_.size() - 1; }
    std::uint64_t node_count() const noexcept { return nodes_.size(); }
    // One more than the largest block index with nodes (0 for a matrix without blocks).
    std::uint64_t block_bound() const noexcept { return block_bound_; }

    // What choose_column returns besides a column.
    static constexpr std::uint64_t kComplete = 0;         // no column left: a cover
    static constexpr std::uint64_t kDeadEnd = UINT64_MAX;  // some column has no block left
    // The leftmost active column of smallest size.
    std::uint64_t choose_column() const {
        if (items_[0].right == 0) return kComplete;
        if (empty_columns_ != 0) return kDeadEnd;
        std::uint64_t best = 0;
        NodeIndex best_size = UINT32_MAX;
        for (NodeIndex c = items_[0].right; c != 0; c = items_[c].right) {
            const NodeIndex size = sizes_[c];
            if (size < best_size) {
                best = c;
                best_size = size;
                if (size == 1) break;  // no column is empty, so nothing is smaller
            }
        }
        return best;
    }

    void cover(std::uint64_t column) { cover_column(checked_column(column)); }
    void uncover(std::uint64_t column) { uncover_column(checked_column(column)); }
    // Covers the columns of `node`'s block other than the node's own, left to right.
    void cover_rest_of_block(std::uint64_t node) {
        const NodeIndex p = checked_block_node(node);
        for (NodeIndex q = p + 1; q != p;) {
            const NodeIndex c = nodes_[q].column;
            if (c == 0) {
                q = nodes_[q].up;
            } else {
                cover_column(c);
                ++q;
            }
        }
    }
    // The inverse of cover_rest_of_block, right to left.
    void uncover_rest_of_block(std::uint64_t node) {
        const NodeIndex p = checked_block_node(node);
        for (NodeIndex q = p - 1; q != p;) {
            const NodeIndex c = nodes_[q].column;
            if (c == 0) {
                q = nodes_[q].down;
            } else {
                uncover_column(c);
                --q;
            }
        }
    }

    // Reading the matrix.
    std::uint64_t size(std::uint64_t column) const { return sizes_[checked_column(column)]; }
    std::uint64_t up(std::uint64_t node) const { return at(nodes_, node).up; }
    std::uint64_t down(std::uint64_t node) const { return at(nodes_, node).down; }
    // The column of a header or block node; 0 for the root and the spacers.
    std::uint64_t column_of(std::uint64_t node) const { return at(nodes_, node).column; }
    // The block of a block node; kNoBlock for the root, the headers and the spacers.
    std::uint64_t block_of(std::uint64_t node) const { return at(blocks_, node); }
    // The next node of the same block, cyclically.
    std::uint64_t next_in_block(std::uint64_t node) const {
        const NodeIndex q = checked_block_node(node) + 1;
        return nodes_[q].column == 0 ? nodes_[q].up : q;
    }
    bool is_block_node(std::uint64_t node) const {
        return node < nodes_.size() && blocks_[node] != kNoBlock;
    }
    // Active columns, left to right: first_active() .. next_active(c) until 0.
    std::uint64_t first_active() const noexcept { return items_[0].right; }
    std::uint64_t next_active(std::uint64_t column) const { return at(items_, column).right; }
    std::uint64_t left_active(std::uint64_t column) const { return at(items_, column).left; }
    // Whether a block node is still linked in its column.
    bool is_linked(std::uint64_t node) const {
        const NodeIndex n = checked_block_node(node);
        return nodes_[nodes_[n].up].down == n;
    }

private:
    struct Node {
        NodeIndex column;  // 0 for the root and the spacers
        NodeIndex up, down;
    };
    struct Item {
        NodeIndex left, right;
    };

    NodeIndex checked_column(std::uint64_t column) const {
        if (column == 0 || column >= items_.size()) [[unlikely]]
            fail("column " + std::to_string(column) + " is not a column of the matrix");
        return static_cast<NodeIndex>(column);
    }
    NodeIndex checked_block_node(std::uint64_t node) const {
        if (!is_block_node(node)) [[unlikely]]
            fail("node " + std::to_string(node) + " is not a block node");
        return static_cast<NodeIndex>(node);
    }

    // The walks below read the arrays through local pointers and count empty columns in a
    // local, so that the compiler keeps both in registers across the stores of the loop.
    void cover_column(NodeIndex c) {
        Node* const nodes = nodes_.data();
        NodeIndex* const sizes = sizes_.data();
        std::uint64_t emptied = 0;
        for (NodeIndex p = nodes[c].down; p != c; p = nodes[p].down) emptied += hide(nodes, sizes, p);
        const Item item = items_[c];
        items_[item.left].right = item.right;
        items_[item.right].left = item.left;
        empty_columns_ = empty_columns_ + emptied - (sizes[c] == 0);
    }
    void uncover_column(NodeIndex c) {
        Node* const nodes = nodes_.data();
        NodeIndex* const sizes = sizes_.data();
        const Item item = items_[c];
        items_[item.left].right = c;
        items_[item.right].left = c;
        std::uint64_t refilled = 0;
        for (NodeIndex p = nodes[c].up; p != c; p = nodes[p].up) refilled += unhide(nodes, sizes, p);
        empty_columns_ = empty_columns_ + (sizes[c] == 0) - refilled;
    }
    // Unlinks the other nodes of p's block from their columns; returns how many columns
    // this left empty.
    static std::uint64_t hide(Node* nodes, NodeIndex* sizes, NodeIndex p) {
        std::uint64_t emptied = 0;
        for (NodeIndex q = p + 1; q != p;) {
            const NodeIndex x = nodes[q].column;
            const NodeIndex u = nodes[q].up;
            const NodeIndex d = nodes[q].down;
            if (x == 0) {
                q = u;
                continue;
            }
            nodes[u].down = d;
            nodes[d].up = u;
            emptied += --sizes[x] == 0;
            ++q;
        }
        return emptied;
    }
    // Relinks them, right to left; returns how many columns stop being empty.
    static std::uint64_t unhide(Node* nodes, NodeIndex* sizes, NodeIndex p) {
        std::uint64_t refilled = 0;
        for (NodeIndex q = p - 1; q != p;) {
            const NodeIndex x = nodes[q].column;
            const NodeIndex u = nodes[q].up;
            const NodeIndex d = nodes[q].down;
            if (x == 0) {
                q = d;
                continue;
            }
            refilled += sizes[x]++ == 0;
            nodes[u].down = q;
            nodes[d].up = q;
            --q;
        }
        return refilled;
    }

    std::vector<Node> nodes_;
    std::vector<std::uint64_t> blocks_;  // per node
    std::vector<Item> items_;            // per column, item 0 the root
    std::vector<NodeIndex> sizes_;       // per column: its linked block nodes
    std::uint64_t empty_columns_ = 0;    // active columns of size 0
    std::uint64_t block_bound_ = 0;
};

}  // namespace xcover
