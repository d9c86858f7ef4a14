#include "element_index.hpp"

#include <algorithm>
#include <numeric>

namespace xcover {

std::vector<std::uint64_t> distinct_sorted(std::span<const std::uint64_t> block) {
    std::vector<std::uint64_t> values(block.begin(), block.end());
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

std::uint64_t count_distinct_elements(const BlockList& blocks) {
    return distinct_sorted(blocks.all_entries()).size();
}

ElementIndex build_element_index(const BlockList& blocks) {
    // One entry per (block, distinct element) pair; sorting them groups each element's
    // occurrences, and the run lengths are the per-element block counts.
    std::vector<std::uint64_t> occurrences;
    occurrences.reserve(blocks.total_entries());
    std::vector<std::uint64_t> scratch;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        auto block = blocks[b];
        scratch.assign(block.begin(), block.end());
        std::sort(scratch.begin(), scratch.end());
        auto end = std::unique(scratch.begin(), scratch.end());
        occurrences.insert(occurrences.end(), scratch.begin(), end);
    }
    std::sort(occurrences.begin(), occurrences.end());

    ElementIndex index;
    std::vector<std::uint64_t> counts;
    for (std::size_t i = 0; i < occurrences.size();) {
        std::size_t j = i;
        while (j < occurrences.size() && occurrences[j] == occurrences[i]) ++j;
        index.sorted_values_.push_back(occurrences[i]);
        counts.push_back(j - i);
        i = j;
    }
    occurrences = {};

    const std::size_t m = index.sorted_values_.size();
    std::vector<std::uint64_t> order(m);
    std::iota(order.begin(), order.end(), 0);
    // Values are ascending already, so a stable sort by count keeps value order on ties.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint64_t a, std::uint64_t b) { return counts[a] < counts[b]; });

    index.elements_.resize(m);
    index.sorted_columns_.resize(m);
    for (std::size_t column = 0; column < m; ++column) {
        index.elements_[column] = index.sorted_values_[order[column]];
        index.sorted_columns_[order[column]] = column;
    }
    return index;
}

std::uint64_t ElementIndex::column_of(std::uint64_t element) const {
    auto it = std::lower_bound(sorted_values_.begin(), sorted_values_.end(), element);
    if (it == sorted_values_.end() || *it != element)
        fail("element " + std::to_string(element) + " has no column");
    return sorted_columns_[static_cast<std::size_t>(it - sorted_values_.begin())];
}

std::vector<std::uint64_t> ElementIndex::relabel(std::span<const std::uint64_t> block) const {
    std::vector<std::uint64_t> columns;
    columns.reserve(block.size());
    for (std::uint64_t element : block) columns.push_back(column_of(element));
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    return columns;
}

BlockList relabel_all(const ElementIndex& index, const BlockList& blocks) {
    BlockList relabeled;
    relabeled.reserve_blocks(blocks.size());
    relabeled.reserve_entries(blocks.total_entries());
    for (std::uint64_t b = 0; b < blocks.size(); ++b) relabeled.push_block(index.relabel(blocks[b]));
    return relabeled;
}

}  // namespace xcover
