#include "dancinglinks.hpp"

#include <algorithm>
#include <new>

namespace xcover {

namespace {

constexpr std::uint64_t kMaxNodes = UINT32_MAX;

}  // namespace

void DancingLinks::fail_not_a_column(std::uint64_t column, std::source_location where) {
    fail("column " + std::to_string(column) + " is not a column of the matrix", where);
}

void DancingLinks::fail_not_a_block_node(std::uint64_t node, std::source_location where) {
    fail("node " + std::to_string(node) + " is not a block node", where);
}

DancingLinks::DancingLinks(const BlockList& relabeled, std::uint64_t m, Interrupt* interrupt,
                           std::uint64_t primary, std::span<const std::uint32_t> colors) {
    InterruptPoll poll(interrupt);
    const std::uint64_t p = primary < m ? primary : m;
    primary_count_ = p;
    const std::uint64_t node_total = m + 1 + relabeled.total_items();
    if (node_total > kMaxNodes) throw std::bad_alloc();
    for (auto* field : {&up_, &down_, &left_, &right_, &column_}) field->reserve(node_total);
    blocks_.reserve(node_total);
    sizes_.reserve(m + 1);

    // The root and the primary headers, in one ring; the secondary headers, each alone.
    // Polled like the blocks: the first writes to seven arrays of millions of entries fault
    // their pages in, which takes long enough that Ctrl-C must be heard meanwhile.
    for (std::uint64_t c = 0; c <= m; ++c) {
        poll.tick();
        const auto n = static_cast<NodeIndex>(c);
        sizes_.push_back(0);
        up_.push_back(n);
        down_.push_back(n);
        if (c > p) {
            left_.push_back(n);
            right_.push_back(n);
        } else {
            left_.push_back(static_cast<NodeIndex>(c == 0 ? p : c - 1));
            right_.push_back(static_cast<NodeIndex>(c == p ? 0 : c + 1));
        }
        column_.push_back(n);
        blocks_.push_back(kNoBlock);
    }
    for (std::uint64_t b = 0; b < relabeled.size(); ++b) {
        const auto columns = relabeled[b];
        poll.tick(columns.size() + 1);
        if (columns.empty()) continue;
        block_bound_ = b + 1;
        const auto first = static_cast<NodeIndex>(up_.size());
        const auto last = static_cast<NodeIndex>(first + columns.size() - 1);
        for (std::uint64_t column : columns) {
            const NodeIndex c = checked_column(column);
            const auto self = static_cast<NodeIndex>(up_.size());
            const NodeIndex above = up_[c];
            up_.push_back(above);
            down_.push_back(c);
            left_.push_back(self == first ? last : self - 1);
            right_.push_back(self == last ? first : self + 1);
            column_.push_back(c);
            blocks_.push_back(b);
            down_[above] = self;
            up_[c] = self;
            ++sizes_[c];
        }
    }
    for (std::uint64_t c = 1; c <= m; ++c) {
        poll.tick();
        if (c <= p)
            empty_columns_ += sizes_[c] == 0;
        else
            ++sizes_[c];  // never 0: see the header
    }
    set_colors(colors);
}

void DancingLinks::set_colors(std::span<const std::uint32_t> colors) {
    if (std::none_of(colors.begin(), colors.end(), [](std::uint32_t c) { return c != 0; })) return;
    const std::uint64_t headers = sizes_.size();
    if (colors.size() != up_.size() - headers) fail("node colors that do not match the nodes");
    colors_.assign(headers, 0);
    colors_.insert(colors_.end(), colors.begin(), colors.end());
    colored_ = true;
    for (std::uint64_t n = headers; n < colors_.size(); ++n) {
        if (colors_[n] != 0 && column_[n] <= primary_count_) fail("a color on a primary column");
    }
}

void DancingLinks::check_links() const {
    const std::uint64_t nodes = up_.size();
    auto require = [](bool holds, const char* what, std::uint64_t at) {
        if (!holds) fail(std::string("broken links: ") + what + " at node " + std::to_string(at));
    };
    for (std::uint64_t c = 1; c < sizes_.size(); ++c) {
        std::uint64_t count = 0;
        for (std::uint64_t i = down_[c]; i != c; i = down_[i]) {
            require(i < nodes && i >= sizes_.size(), "a column list leaves the block nodes", c);
            require(up_[down_[i]] == i, "up of down is not the node", i);
            // A cleansed node stays in the list of its purified column (see the header).
            require(column_[i] == c || (column_[i] == kCleansed && !colors_.empty()),
                    "a node in another column's list", i);
            require(++count <= nodes, "a column list without end", c);
        }
        require(up_[down_[c]] == c, "up of down is not the header", c);
        const std::uint64_t stored = sizes_[c] - (c > primary_count_ ? 1 : 0);
        // With colors, a secondary column's size stays as built (see hide).
        if (c <= primary_count_ || colors_.empty())
            require(stored == count, "a size that is not the column's count", c);
    }
    std::uint64_t empty = 0, steps = 0;
    for (std::uint64_t c = right_[0]; c != 0; c = right_[c]) {
        require(c <= primary_count_, "a secondary or block node in the ring of active columns", c);
        require(left_[right_[c]] == c, "left of right is not the column", c);
        require(++steps <= primary_count_, "a ring of active columns without end", c);
        empty += sizes_[c] == 0;
    }
    require(left_[right_[0]] == 0, "left of right is not the root", 0);
    require(empty == empty_columns_, "the count of empty active columns", 0);
}

}  // namespace xcover
