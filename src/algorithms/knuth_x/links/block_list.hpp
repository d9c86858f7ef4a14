// A list of candidate blocks stored flat: all element values in one array, and the offset
// at which each block starts. One allocation per array instead of one per block.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../failure.hpp"

namespace xcover {

class BlockList {
public:
    BlockList() { offsets_.push_back(0); }

    std::uint64_t size() const noexcept { return offsets_.size() - 1; }
    bool empty() const noexcept { return size() == 0; }
    std::uint64_t total_entries() const noexcept { return values_.size(); }
    // Every entry of every block, block after block.
    std::span<const std::uint64_t> all_entries() const noexcept { return values_; }

    std::span<const std::uint64_t> operator[](std::uint64_t block) const {
        checked(block, size());
        return {values_.data() + offsets_[block], values_.data() + offsets_[block + 1]};
    }
    std::uint64_t block_size(std::uint64_t block) const {
        checked(block, size());
        return offsets_[block + 1] - offsets_[block];
    }

    void reserve_blocks(std::uint64_t count) { offsets_.reserve(count + 1); }
    void reserve_entries(std::uint64_t count) { values_.reserve(count); }

    // Appends one value to the block being built; `close_block` ends it.
    void push_entry(std::uint64_t value) { values_.push_back(value); }
    void close_block() { offsets_.push_back(values_.size()); }
    // Drops the entries pushed since the last `close_block`.
    void discard_open_block() { values_.resize(offsets_.back()); }

    void push_block(std::span<const std::uint64_t> block) {
        values_.insert(values_.end(), block.begin(), block.end());
        close_block();
    }

    static BlockList from(const std::vector<std::vector<std::uint64_t>>& blocks) {
        BlockList list;
        for (const auto& b : blocks) list.push_block(b);
        return list;
    }

private:
    std::vector<std::uint64_t> values_;
    std::vector<std::uint64_t> offsets_;
};

}  // namespace xcover
