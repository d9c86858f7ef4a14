#include "colors.hpp"

#include <algorithm>
#include <new>
#include <tuple>

#include "element_index.hpp"

namespace xcover {

namespace {

std::string fault(const ItemColor& c, const std::string& what) {
    return "block " + std::to_string(c.block) + " gives a color to element " +
           std::to_string(c.element) + what;
}

// The triples sorted by (block, element, color): a block's triples side by side.
std::vector<ItemColor> sorted_triples(std::span<const ItemColor> colors) {
    std::vector<ItemColor> sorted(colors.begin(), colors.end());
    std::sort(sorted.begin(), sorted.end(), [](const ItemColor& a, const ItemColor& b) {
        return std::tie(a.block, a.element, a.color) < std::tie(b.block, b.element, b.color);
    });
    return sorted;
}

}  // namespace

std::string colors_error(const BlockList& blocks, const SecondaryItems& secondary) {
    if (secondary.colors.empty()) return "";
    std::vector<std::uint64_t> marked(secondary.elements.begin(), secondary.elements.end());
    sort_unique(marked);
    const std::vector<ItemColor> sorted = sorted_triples(secondary.colors);
    std::vector<std::uint64_t> held;  // the current block's elements, sorted
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const ItemColor& c = sorted[i];
        if (c.block >= blocks.size())
            return "block " + std::to_string(c.block) + " is out of range for " +
                   std::to_string(blocks.size()) + " blocks";
        if (i == 0 || sorted[i - 1].block != c.block) {
            held.assign(blocks[c.block].begin(), blocks[c.block].end());
            sort_unique(held);
        }
        if (!std::binary_search(held.begin(), held.end(), c.element))
            return fault(c, ", which it does not hold");
        if (!std::binary_search(marked.begin(), marked.end(), c.element))
            return fault(c, ", a primary element: only secondary elements take a color");
        if (i > 0 && sorted[i - 1].block == c.block && sorted[i - 1].element == c.element &&
            sorted[i - 1].color != c.color)
            return fault(c, " twice, in two colors");
    }
    return "";
}

std::vector<std::uint32_t> node_colors(const BlockList& blocks, const ElementIndex& index,
                                       const BlockList& relabeled, const SecondaryItems& secondary,
                                       Interrupt* interrupt) {
    if (secondary.colors.empty()) return {};
    const std::string error = colors_error(blocks, secondary);
    if (!error.empty()) fail("colors that do not fit the blocks: " + error);
    InterruptPoll poll(interrupt);
    std::vector<std::uint64_t> palette;
    palette.reserve(secondary.colors.size());
    for (const ItemColor& c : secondary.colors) palette.push_back(c.color);
    sort_unique(palette);
    poll.tick(palette.size());
    // Numbers 1..palette.size() must fit a node's 32-bit color with one value to spare.
    if (palette.size() >= UINT32_MAX - 1) throw std::bad_alloc();

    std::vector<std::uint32_t> colors(relabeled.total_items(), 0);
    const std::uint64_t* first_item = relabeled.all_items().data();
    for (const ItemColor& c : secondary.colors) {
        poll.tick();
        const auto columns = relabeled[c.block];
        const std::uint64_t column = index.column_of(c.element);
        const auto at_column = std::lower_bound(columns.begin(), columns.end(), column);
        if (at_column == columns.end() || *at_column != column) fail("a colored element without its node");
        const auto offset = static_cast<std::uint64_t>(&*at_column - first_item);
        const auto number = std::lower_bound(palette.begin(), palette.end(), c.color) - palette.begin();
        at(colors, offset) = static_cast<std::uint32_t>(number + 1);
    }
    return colors;
}

}  // namespace xcover
