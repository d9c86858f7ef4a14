// Node storage of the link matrix: one contiguous array, links are indices into it.
//
// Node 0 is the root, nodes 1..m the column headers (header of column c is node c+1), and
// row nodes follow in creation order.
//
// Links are stored as 32-bit indices: cover and uncover are bound by memory traffic, and a
// 20-byte node keeps twice as many in cache as one of 64-bit fields. A matrix of 2^32 nodes
// or more (over 80 GB) is refused as an allocation failure. The block index of each node,
// read only when a column's rows are listed, lives in a separate array of 64-bit values.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

#include "../failure.hpp"

namespace xcover {

inline constexpr std::uint64_t kNoRow = UINT64_MAX;

using NodeIndex = std::uint32_t;

struct Links {
    NodeIndex up, down, left, right;
    NodeIndex column;  // slot of the node's column (0 for the root, c+1 for column c)
};

// A node with all its fields, as read outside the hot loops.
struct Node {
    std::uint64_t row;  // block index, kNoRow for the root and the headers
    std::uint64_t column, up, down, left, right;
};

class NodeVec {
public:
    // The root and m headers, linked into the header ring root, 1, ..., m.
    explicit NodeVec(std::uint64_t m) {
        reserve(m + 1);
        const auto last = static_cast<NodeIndex>(m);
        links_.push_back(Links{0, 0, last, m == 0 ? NodeIndex{0} : NodeIndex{1}, 0});
        rows_.push_back(kNoRow);
        for (NodeIndex i = 1; i <= last; ++i) {
            links_.push_back(Links{i, i, i - 1, static_cast<NodeIndex>((std::uint64_t{i} + 1) % (m + 1)), i});
            rows_.push_back(kNoRow);
        }
    }

    Links& operator[](std::uint64_t i) { return links_[checked(i, links_.size())]; }
    const Links& operator[](std::uint64_t i) const { return links_[checked(i, links_.size())]; }
    std::uint64_t row(std::uint64_t i) const { return rows_[checked(i, rows_.size())]; }
    std::uint64_t size() const noexcept { return links_.size(); }

    void reserve(std::uint64_t n) {
        if (n > kMaxNodes) throw std::bad_alloc();
        links_.reserve(n);
        rows_.reserve(n);
    }
    NodeIndex push(const Links& links, std::uint64_t row) {
        if (links_.size() >= kMaxNodes) throw std::bad_alloc();
        links_.push_back(links);
        rows_.push_back(row);
        return static_cast<NodeIndex>(links_.size() - 1);
    }

    static constexpr std::uint64_t kMaxNodes = UINT32_MAX;

private:
    std::vector<Links> links_;
    std::vector<std::uint64_t> rows_;
};

}  // namespace xcover
