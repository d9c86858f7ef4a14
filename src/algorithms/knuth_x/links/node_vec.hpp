// Node storage of the link matrix: one contiguous array, links are indices into it.
//
// Node 0 is the root, nodes 1..m the column headers (header of column c is node c+1), and
// row nodes follow in creation order.
#pragma once

#include <cstdint>
#include <vector>

#include "../failure.hpp"

namespace xcover {

inline constexpr std::uint64_t kNoRow = UINT64_MAX;

struct Node {
    std::uint64_t row;     // block index, kNoRow for the root and the headers
    std::uint64_t column;  // slot of the node's column (0 for the root, c+1 for column c)
    std::uint64_t up, down, left, right;
};

class NodeVec {
public:
    // The root and m headers, linked into the header ring root, 1, ..., m.
    explicit NodeVec(std::uint64_t m);

    Node& operator[](std::uint64_t i) { return nodes_[checked(i, nodes_.size())]; }
    const Node& operator[](std::uint64_t i) const { return nodes_[checked(i, nodes_.size())]; }
    std::uint64_t size() const noexcept { return nodes_.size(); }
    void reserve(std::uint64_t n) { nodes_.reserve(n); }
    std::uint64_t push(const Node& node) {
        nodes_.push_back(node);
        return nodes_.size() - 1;
    }

private:
    std::vector<Node> nodes_;
};

inline NodeVec::NodeVec(std::uint64_t m) {
    nodes_.reserve(m + 1);
    nodes_.push_back(Node{kNoRow, 0, 0, 0, m, m == 0 ? std::uint64_t{0} : std::uint64_t{1}});
    for (std::uint64_t i = 1; i <= m; ++i)
        nodes_.push_back(Node{kNoRow, i, i, i, i - 1, (i + 1) % (m + 1)});
}

}  // namespace xcover
