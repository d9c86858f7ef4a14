// Numbering of the distinct elements as columns 1..m (0 is the matrix's root).
//
// Column order: primary elements first, then secondary ones (elements a cover may leave
// uncovered, see build_element_index); within each group by the number of blocks that
// contain the element (ascending), then by value (ascending). Without secondary elements this
// is the order by count then value; with them, the primary columns keep the relative order
// they would have without them, so the search's column choice ties break the same way. The numbering is built by sorting, so its cost is O(N log N) for N entries
// whatever the values are: no hash table that chosen values could degrade.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../interrupt.hpp"
#include "block_list.hpp"

namespace xcover {

class ElementIndex {
public:
    // The number of columns m.
    std::uint64_t column_count() const noexcept { return elements_.size(); }
    // The number of primary columns p: columns 1..p are primary, p+1..m secondary.
    std::uint64_t primary_count() const noexcept { return primary_count_; }
    // The element of column c, for c in 1..m.
    std::uint64_t element_of(std::uint64_t column) const;

    // The column of an element; an internal failure if no block holds the element.
    std::uint64_t column_of(std::uint64_t element) const;

    // The distinct columns of a block, ascending.
    std::vector<std::uint64_t> relabel(std::span<const std::uint64_t> block) const;

    friend ElementIndex build_element_index(const BlockList& blocks,
                                            std::span<const std::uint64_t> secondary,
                                            Interrupt* interrupt);

private:
    std::vector<std::uint64_t> elements_;        // column c -> element, at c - 1
    std::vector<std::uint64_t> sorted_values_;   // distinct elements, ascending
    std::vector<std::uint64_t> sorted_columns_;  // column of sorted_values_[i]
    std::uint64_t primary_count_ = 0;
};

// The functions that set a search up poll `interrupt`, when given, as they go: for tens of
// millions of elements they take seconds.
ElementIndex build_element_index(const BlockList& blocks, Interrupt* interrupt = nullptr);
// The same with the elements listed in `secondary` numbered after all others; values of
// `secondary` that no block holds are ignored.
ElementIndex build_element_index(const BlockList& blocks, std::span<const std::uint64_t> secondary,
                                 Interrupt* interrupt = nullptr);

// Every block relabeled into its distinct columns.
BlockList relabel_all(const ElementIndex& index, const BlockList& blocks,
                      Interrupt* interrupt = nullptr);

// The number of distinct elements over all blocks.
std::uint64_t count_distinct_elements(const BlockList& blocks, Interrupt* interrupt = nullptr);

}  // namespace xcover
