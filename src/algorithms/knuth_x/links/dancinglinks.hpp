// The dancing-links matrix.
//
// Node 0 is the root, node c (1..m) is the header of column c, and the blocks' nodes follow,
// each non-empty block as a run of consecutive nodes, one per distinct column in ascending
// column order. Every node has up/down links in its column and left/right links in its
// block; the headers' left/right links form the ring of active columns through the root.
// The links live in separate arrays (one per field), as in the tightest dancing-links
// counters: a walk along a column or a block then touches only the fields it reads.
//
// Columns 1..p are primary and p+1..m secondary (p = m unless given). Only primary headers
// are in the ring, so choose_column never picks a secondary column and a position is
// complete when every primary column is covered, as in Knuth's DLX2; a secondary header is
// linked to itself, and covering it (when a chosen block holds it) still removes the blocks
// that meet it. A secondary column's stored size is one more than its number of blocks, so
// it never reaches 0 and is never counted as an empty column: the hot loops stay as they are.
//
// Colors (colors.hpp): a matrix built with node colors keeps one per node. Choosing a block
// then covers each uncolored column of the rest of the block and *purifies* each colored one,
// as Knuth's DLX2 does: the blocks of that column that give it another color (or none) are
// removed from the other columns, and those giving it the same color stay, their node marked
// cleansed, so that choosing one of them later leaves the column alone instead of removing
// its companions. A cleansed node is marked in its column field (kCleansed), which every walk
// reads anyway: the walks that remove blocks skip it without reading its color, and it stays
// in its column's list, which no walk reads until the column is unpurified. Without colors
// the walks are the plain ones, unchanged.
//
// `cover` removes a column and every block that meets it from the other columns; `uncover`
// undoes the most recent `cover` still in force. The matrix counts its empty active
// columns, so choose_column knows a dead end without a scan.
//
// Links are 32-bit node numbers: cover and uncover are bound by memory traffic. A matrix of
// 2^32 nodes or more is refused as an allocation failure. Every link is a node number below
// node_count() when the matrix is built, and cover and uncover only copy links they read or
// write the numbers of nodes they walk, so the walks need no per-step range checks; the
// entry points check their arguments.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../failure.hpp"
#include "../interrupt.hpp"
#include "block_list.hpp"

namespace xcover {

using NodeIndex = std::uint32_t;

inline constexpr std::uint64_t kNoBlock = UINT64_MAX;

class DancingLinks {
public:
    // `relabeled` holds each block's distinct columns (1..m); block b keeps index b.
    // Polls `interrupt`, when given, as it builds.
    // Columns above `primary` are secondary.
    static constexpr std::uint64_t kAllPrimary = UINT64_MAX;
    // `colors`, when not empty, holds the color of every block node (colors.hpp's
    // node_colors: one per item of relabeled.all_items(), 0 for none).
    DancingLinks(const BlockList& relabeled, std::uint64_t m, Interrupt* interrupt = nullptr,
                 std::uint64_t primary = kAllPrimary, std::span<const std::uint32_t> colors = {});

    std::uint64_t column_count() const noexcept { return sizes_.size() - 1; }
    std::uint64_t primary_count() const noexcept { return primary_count_; }
    std::uint64_t node_count() const noexcept { return up_.size(); }
    // One more than the largest block index with nodes (0 for a matrix without blocks).
    std::uint64_t block_bound() const noexcept { return block_bound_; }

    // What choose_column returns besides a column.
    static constexpr std::uint64_t kComplete = 0;         // no column left: a cover
    static constexpr std::uint64_t kDeadEnd = UINT64_MAX;  // some column has no block left
    // The leftmost active column of smallest size.
    std::uint64_t choose_column() const {
        if (right_[0] == 0) return kComplete;
        if (empty_columns_ != 0) return kDeadEnd;
        std::uint64_t best = 0;
        NodeIndex best_size = UINT32_MAX;
        for (NodeIndex c = right_[0]; c != 0; c = right_[c]) {
            const NodeIndex size = sizes_[c];
            if (size < best_size) {
                best = c;
                best_size = size;
                if (size == 1) break;  // no column is empty, so nothing is smaller
            }
        }
        return best;
    }

    void cover(std::uint64_t column) {
        const NodeIndex c = checked_column(column);
        if (colored_) [[unlikely]]
            cover_column_colored(c);
        else
            cover_column(c);
        check_links_when_asked();
    }
    void uncover(std::uint64_t column) {
        const NodeIndex c = checked_column(column);
        if (colored_) [[unlikely]]
            uncover_column_colored(c);
        else
            uncover_column(c);
        check_links_when_asked();
    }
    // Covers the columns of `node`'s block other than the node's own, left to right (and
    // purifies its colored ones, see the header).
    void cover_rest_of_block(std::uint64_t node) {
        const NodeIndex p = checked_block_node(node);
        if (colored_) [[unlikely]]
            cover_rest_colored(p);
        else
            for (NodeIndex q = right_[p]; q != p; q = right_[q]) cover_column(column_[q]);
        check_links_when_asked();
    }
    // The inverse of cover_rest_of_block, right to left.
    void uncover_rest_of_block(std::uint64_t node) {
        const NodeIndex p = checked_block_node(node);
        if (colored_) [[unlikely]]
            uncover_rest_colored(p);
        else
            for (NodeIndex q = left_[p]; q != p; q = left_[q]) uncover_column(column_[q]);
        check_links_when_asked();
    }
    // Choosing a whole block of a matrix with colors, as a best-first search moves between
    // partial covers: `first` is the block's first node, the block holds a primary column and
    // is still linked. Its uncolored columns are covered left to right, which hides the block
    // from its colored ones, then each colored node not cleansed purifies its column: the
    // matrix DLX2 leaves after choosing the block in any of its primary columns. The inverse
    // undoes the same moves in reverse (the block's cleansed nodes are the same then).
    void cover_block_colored(std::uint64_t first) {
        if (!colored_) fail("a block chosen as colored in a matrix without colors");
        const NodeIndex p = checked_block_node(first);
        for_block_nodes(p, false, [&](NodeIndex q) {
            if (colors_[q] == 0) cover_column<true>(column_[q]);
        });
        for_block_nodes(p, false, [&](NodeIndex q) {
            if (colors_[q] != 0 && column_[q] != kCleansed) purify(q);
        });
        check_links_when_asked();
    }
    void uncover_block_colored(std::uint64_t first) {
        if (!colored_) fail("a block chosen as colored in a matrix without colors");
        const NodeIndex p = checked_block_node(first);
        for_block_nodes(p, true, [&](NodeIndex q) {
            if (colors_[q] != 0 && column_[q] != kCleansed) unpurify(q);
        });
        for_block_nodes(p, true, [&](NodeIndex q) {
            if (colors_[q] == 0) uncover_column<true>(column_[q]);
        });
        check_links_when_asked();
    }
    // The first node of block `block` of `relabeled`, the list the matrix was built from:
    // block nodes follow the root and the headers, in the order of relabeled's items.
    std::uint64_t first_node(const BlockList& relabeled, std::uint64_t block) const {
        return column_count() + 1 +
               static_cast<std::uint64_t>(relabeled[block].data() - relabeled.all_items().data());
    }
    // Whether the matrix was built with colors.
    bool has_colors() const noexcept { return colored_; }
    // A node's color number: 0 for none (and for every node of a matrix without colors).
    std::uint32_t color_of(std::uint64_t node) const {
        return colors_.empty() ? 0 : at(colors_, node);
    }

    // Knuth's sanity check: every column list is a consistent ring holding its size's count of
    // nodes of that column, the ring of active columns is consistent, and the count of empty
    // active columns is right. Fails with InternalFailure otherwise. Linear in the matrix:
    // built with XCOVER_CHECK_LINKS (the fuzzer's build), every cover and uncover runs it.
    void check_links() const;

    // Reading the matrix. The size of a secondary column of a matrix with colors is its
    // number of blocks whatever is covered (see hide).
    std::uint64_t size(std::uint64_t column) const {
        const NodeIndex c = checked_column(column);
        return sizes_[c] - (c > primary_count_ ? 1 : 0);
    }
    std::uint64_t up(std::uint64_t node) const { return at(up_, node); }
    std::uint64_t down(std::uint64_t node) const { return at(down_, node); }
    // The column of a header or block node; 0 for the root; kCleansed for a node cleansed by
    // a purification in force.
    static constexpr NodeIndex kCleansed = UINT32_MAX;  // never a node, so never a column
    std::uint64_t column_of(std::uint64_t node) const { return at(column_, node); }
    // The block of a block node; kNoBlock for the root and the headers.
    std::uint64_t block_of(std::uint64_t node) const { return at(blocks_, node); }
    // The next node of the same block, cyclically.
    std::uint64_t next_in_block(std::uint64_t node) const { return right_[checked_block_node(node)]; }
    // Block nodes are exactly those after the headers.
    bool is_block_node(std::uint64_t node) const { return node < up_.size() && node >= sizes_.size(); }
    // Active columns, left to right: first_active() .. next_active(c) until 0.
    std::uint64_t first_active() const noexcept { return right_[0]; }
    std::uint64_t next_active(std::uint64_t column) const { return right_[checked(column, sizes_.size())]; }
    // Whether a block node is still linked in its column.
    bool is_linked(std::uint64_t node) const {
        const NodeIndex n = checked_block_node(node);
        return down_[up_[n]] == n;
    }

private:
    // The constructor's colors, checked; a matrix whose nodes are all uncolored keeps none.
    void set_colors(std::span<const std::uint32_t> colors);
    void check_links_when_asked() const {
#ifdef XCOVER_CHECK_LINKS
        check_links();
#endif
    }
    NodeIndex checked_column(std::uint64_t column) const {
        if (column == 0 || column >= sizes_.size()) [[unlikely]]
            fail_not_a_column(column);
        return static_cast<NodeIndex>(column);
    }
    NodeIndex checked_block_node(std::uint64_t node) const {
        if (!is_block_node(node)) [[unlikely]]
            fail_not_a_block_node(node);
        return static_cast<NodeIndex>(node);
    }
    [[noreturn, gnu::cold, gnu::noinline]] static void fail_not_a_column(
        std::uint64_t column, std::source_location where = std::source_location::current());
    [[noreturn, gnu::cold, gnu::noinline]] static void fail_not_a_block_node(
        std::uint64_t node, std::source_location where = std::source_location::current());

    // The walks read the arrays through local pointers and count empty columns in a local,
    // so that the compiler keeps them in registers across the stores of the loops.
    struct Arrays {
        NodeIndex* up;
        NodeIndex* down;
        const NodeIndex* left;
        const NodeIndex* right;
        const NodeIndex* column;
        NodeIndex* sizes;
        NodeIndex primary;  // the last primary column
    };
    Arrays arrays() noexcept {
        return Arrays{up_.data(), down_.data(), left_.data(), right_.data(), column_.data(), sizes_.data(), static_cast<NodeIndex>(primary_count_)};
    }

    // Removes the rest of block node i's block from the other columns; the number of active
    // columns it empties. In a matrix with colors (kColored) a cleansed node stays: its
    // column is purified, and no walk reads it until it is unpurified, after every removal
    // made meanwhile is undone (DLX2 saves the same work). There the sizes of secondary
    // columns are left as built, too: nothing reads them, and in colored problems most of
    // the nodes a removal walks are secondary.
    template <bool kColored>
    static std::uint64_t hide(const Arrays& a, NodeIndex i) {
        std::uint64_t emptied = 0;
        for (NodeIndex j = a.right[i]; j != i; j = a.right[j]) {
            const NodeIndex column = a.column[j];
            if constexpr (kColored)
                if (column == kCleansed) continue;
            const NodeIndex u = a.up[j], d = a.down[j];
            a.up[d] = u;
            a.down[u] = d;
            if (!kColored || column <= a.primary) emptied += --a.sizes[column] == 0;
        }
        return emptied;
    }
    // The inverse of hide, right to left; the number of columns it refills.
    template <bool kColored>
    static std::uint64_t unhide(const Arrays& a, NodeIndex i) {
        std::uint64_t refilled = 0;
        for (NodeIndex j = a.left[i]; j != i; j = a.left[j]) {
            const NodeIndex column = a.column[j];
            if constexpr (kColored)
                if (column == kCleansed) continue;
            if (!kColored || column <= a.primary) refilled += a.sizes[column]++ == 0;
            a.up[a.down[j]] = j;
            a.down[a.up[j]] = j;
        }
        return refilled;
    }

    template <bool kColored = false>
    void cover_column(NodeIndex c) {
        const Arrays a = arrays();
        const NodeIndex l = left_[c], r = right_[c];
        right_[l] = r;
        left_[r] = l;
        std::uint64_t emptied = 0;
        for (NodeIndex i = a.down[c]; i != c; i = a.down[i]) emptied += hide<kColored>(a, i);
        empty_columns_ = empty_columns_ + emptied - (a.sizes[c] == 0);
    }
    template <bool kColored = false>
    void uncover_column(NodeIndex c) {
        const Arrays a = arrays();
        std::uint64_t refilled = 0;
        for (NodeIndex i = a.up[c]; i != c; i = a.up[i]) refilled += unhide<kColored>(a, i);
        const NodeIndex l = left_[c], r = right_[c];
        right_[l] = c;
        left_[r] = c;
        empty_columns_ = empty_columns_ + (a.sizes[c] == 0) - refilled;
    }

    // Purifying the column of colored node p, and its inverse (see the header): the blocks
    // giving the column another color (or none) are hidden, those giving it p's color stay,
    // marked kCleansed.
    // p is never cleansed itself (its block was chosen, so its column was not purified in
    // its color), so its column field names its column.
    void purify(NodeIndex p) {
        const Arrays a = arrays();
        NodeIndex* const columns = column_.data();
        const std::uint32_t* const colors = colors_.data();
        const NodeIndex c = columns[p];
        const std::uint32_t color = colors[p];
        std::uint64_t emptied = 0;
        for (NodeIndex i = a.down[c]; i != c; i = a.down[i]) {
            if (colors[i] == color)
                columns[i] = kCleansed;
            else
                emptied += hide<true>(a, i);
        }
        empty_columns_ += emptied;
    }
    void unpurify(NodeIndex p) {
        const Arrays a = arrays();
        NodeIndex* const columns = column_.data();
        const NodeIndex c = columns[p];
        std::uint64_t refilled = 0;
        for (NodeIndex i = a.up[c]; i != c; i = a.up[i]) {
            if (columns[i] == kCleansed)
                columns[i] = c;
            else
                refilled += unhide<true>(a, i);
        }
        empty_columns_ -= refilled;
    }
    // Visits the nodes of the block of `p`, left to right from p, or right to left ending at p.
    template <class Visit>
    void for_block_nodes(NodeIndex p, bool backwards, Visit&& visit) const {
        if (!backwards) {
            NodeIndex q = p;
            do {
                visit(q);
                q = right_[q];
            } while (q != p);
        } else {
            NodeIndex q = left_[p];
            while (true) {
                visit(q);
                if (q == p) break;
                q = left_[q];
            }
        }
    }
    // The colored walks stay out of line, so that the plain ones are compiled as before.
    [[gnu::noinline]] void cover_column_colored(NodeIndex c) { cover_column<true>(c); }
    [[gnu::noinline]] void uncover_column_colored(NodeIndex c) { uncover_column<true>(c); }
    // A cleansed node belongs to a column purified in its color: nothing to do.
    [[gnu::noinline]] void cover_rest_colored(NodeIndex p) {
        for (NodeIndex q = right_[p]; q != p; q = right_[q]) {
            const NodeIndex column = column_[q];
            if (column == kCleansed) continue;
            if (colors_[q] == 0)
                cover_column<true>(column);
            else
                purify(q);
        }
    }
    [[gnu::noinline]] void uncover_rest_colored(NodeIndex p) {
        for (NodeIndex q = left_[p]; q != p; q = left_[q]) {
            const NodeIndex column = column_[q];
            if (column == kCleansed) continue;
            if (colors_[q] == 0)
                uncover_column<true>(column);
            else
                unpurify(q);
        }
    }

    std::vector<NodeIndex> up_, down_;     // per node: column links
    std::vector<NodeIndex> left_, right_;  // per node: block links; for 0..m the active ring
    std::vector<NodeIndex> column_;        // per node: its column (0 for the root), or kCleansed
    std::vector<std::uint64_t> blocks_;    // per node: its block, kNoBlock for 0..m
    std::vector<NodeIndex> sizes_;         // per column: its linked block nodes
    std::vector<std::uint32_t> colors_;    // per node: its color; empty without colors
    bool colored_ = false;                 // !colors_.empty(), read by every walk
    std::uint64_t empty_columns_ = 0;      // active columns of size 0
    std::uint64_t block_bound_ = 0;
    std::uint64_t primary_count_ = 0;
};

}  // namespace xcover
