// A list of lists of unsigned 64-bit values stored flat: all values in one array, and the
// offset at which each list starts. One allocation per array instead of one per list. The
// caller's blocks (BlockList) and a query's covers (CoverList) are both kept this way.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "failure.hpp"

namespace xcover {

class FlatLists {
public:
    FlatLists() { offsets_.push_back(0); }

    std::uint64_t size() const noexcept { return offsets_.size() - 1; }
    bool empty() const noexcept { return size() == 0; }
    std::uint64_t total_items() const noexcept { return values_.size(); }
    // Every item of every list, list after list.
    std::span<const std::uint64_t> all_items() const noexcept { return values_; }

    std::span<const std::uint64_t> operator[](std::uint64_t list) const {
        checked(list, size());
        return {values_.data() + offsets_[list], values_.data() + offsets_[list + 1]};
    }
    std::uint64_t list_size(std::uint64_t list) const {
        checked(list, size());
        return offsets_[list + 1] - offsets_[list];
    }

    // Empties the lists, keeping the memory for reuse.
    void clear() noexcept {
        values_.clear();
        offsets_.resize(1);
    }

    void reserve_lists(std::uint64_t count) { offsets_.reserve(count + 1); }
    void reserve_items(std::uint64_t count) { values_.reserve(count); }

    // Appends one item to the list being built; `close_list` ends it.
    void push_item(std::uint64_t value) { values_.push_back(value); }
    void close_list() { offsets_.push_back(values_.size()); }

    void push_list(std::span<const std::uint64_t> list) {
        values_.insert(values_.end(), list.begin(), list.end());
        close_list();
    }

    // Appends lists [first, last) of `other`.
    void append_lists(const FlatLists& other, std::uint64_t first, std::uint64_t last) {
        checked(last, other.size() + 1);
        checked(first, last + 1);
        const std::uint64_t begin = other.offsets_[first], end = other.offsets_[last];
        const std::uint64_t shift = values_.size() - begin;
        values_.insert(values_.end(), other.values_.begin() + static_cast<std::ptrdiff_t>(begin),
                       other.values_.begin() + static_cast<std::ptrdiff_t>(end));
        for (std::uint64_t i = first + 1; i <= last; ++i) offsets_.push_back(other.offsets_[i] + shift);
    }

    static FlatLists from(const std::vector<std::vector<std::uint64_t>>& lists) {
        FlatLists flat;
        for (const auto& list : lists) flat.push_list(list);
        return flat;
    }
    std::vector<std::vector<std::uint64_t>> nested() const {
        std::vector<std::vector<std::uint64_t>> lists;
        lists.reserve(size());
        for (std::uint64_t i = 0; i < size(); ++i) lists.emplace_back((*this)[i].begin(), (*this)[i].end());
        return lists;
    }

private:
    std::vector<std::uint64_t> values_;
    std::vector<std::uint64_t> offsets_;
};

}  // namespace xcover
