#include "element_index.hpp"

#include <algorithm>
#include <numeric>

#include "../polled_sort.hpp"

namespace xcover {

namespace {

// Per value of `sorted_values` (ascending, distinct): 1 when `secondary` lists it.
std::vector<char> mark_secondary(const std::vector<std::uint64_t>& sorted_values,
                                 std::span<const std::uint64_t> secondary, InterruptPoll& poll) {
    std::vector<char> marks;
    resize_polled(marks, sorted_values.size(), poll, char{0});
    for (std::uint64_t value : secondary) {
        poll.tick();
        const auto it = std::lower_bound(sorted_values.begin(), sorted_values.end(), value);
        if (it != sorted_values.end() && *it == value) marks[it - sorted_values.begin()] = 1;
    }
    return marks;
}

}  // namespace

std::uint64_t count_distinct_elements(const BlockList& blocks, Interrupt* interrupt) {
    InterruptPoll poll(interrupt);
    std::vector<std::uint64_t> values(blocks.all_items().begin(), blocks.all_items().end());
    sort_unique_polled(values, poll);
    return values.size();
}

ElementIndex build_element_index(const BlockList& blocks, Interrupt* interrupt) {
    return build_element_index(blocks, {}, interrupt);
}

ElementIndex build_element_index(const BlockList& blocks, std::span<const std::uint64_t> secondary,
                                 Interrupt* interrupt) {
    InterruptPoll poll(interrupt);
    // One entry per (block, distinct element) pair; sorting them groups each element's
    // occurrences, and the run lengths are the per-element block counts.
    std::vector<std::uint64_t> occurrences;
    occurrences.reserve(blocks.total_items());
    std::vector<std::uint64_t> block_set;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        auto block = blocks[b];
        block_set.assign(block.begin(), block.end());
        sort_unique_polled(block_set, poll);
        occurrences.insert(occurrences.end(), block_set.begin(), block_set.end());
        poll.tick();
    }
    sort_values_polled(occurrences, poll);
    ElementIndex index;
    std::vector<std::uint64_t> counts;
    // Reserved, not grown: for millions of elements each regrowth copies the whole vector
    // at once, too long a step between polls.
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
        distinct += i == 0 || occurrences[i] != occurrences[i - 1];
        poll.tick();
    }
    index.sorted_values_.reserve(distinct);
    counts.reserve(distinct);
    for (std::size_t i = 0; i < occurrences.size();) {
        std::size_t j = i;
        while (j < occurrences.size() && occurrences[j] == occurrences[i]) ++j;
        index.sorted_values_.push_back(occurrences[i]);
        counts.push_back(j - i);
        poll.tick(j - i);
        i = j;
    }
    occurrences = {};

    const std::size_t m = index.sorted_values_.size();
    const std::vector<char> is_secondary = mark_secondary(index.sorted_values_, secondary, poll);
    index.primary_count_ = m - static_cast<std::size_t>(
                                   std::count(is_secondary.begin(), is_secondary.end(), 1));
    std::vector<std::uint64_t> order;
    resize_polled(order, m, poll);
    std::iota(order.begin(), order.end(), 0);
    // Values are ascending already, so a stable sort by (secondary, count) keeps value order
    // on ties.
    sort_polled(order, poll, [&](std::uint64_t a, std::uint64_t b) {
        if (is_secondary[a] != is_secondary[b]) return is_secondary[a] < is_secondary[b];
        return counts[a] < counts[b];
    });

    resize_polled(index.elements_, m, poll);
    resize_polled(index.sorted_columns_, m, poll);
    for (std::size_t k = 0; k < m; ++k) {
        poll.tick();
        index.elements_[k] = index.sorted_values_[order[k]];
        index.sorted_columns_[order[k]] = k + 1;
    }
    return index;
}

std::uint64_t ElementIndex::element_of(std::uint64_t column) const {
    checked(column - 1, elements_.size());
    return elements_[column - 1];
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
    sort_unique(columns);
    return columns;
}

BlockList relabel_all(const ElementIndex& index, const BlockList& blocks, Interrupt* interrupt) {
    InterruptPoll poll(interrupt);
    BlockList relabeled;
    relabeled.reserve_lists(blocks.size());
    relabeled.reserve_items(blocks.total_items());
    std::vector<std::uint64_t> columns;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        columns.clear();
        for (std::uint64_t element : blocks[b]) columns.push_back(index.column_of(element));
        sort_unique_polled(columns, poll);
        relabeled.push_list(columns);
        poll.tick(columns.size() + 1);
    }
    return relabeled;
}

}  // namespace xcover
