#include "included_blocks.hpp"

#include <algorithm>
#include <iterator>
#include <optional>

#include "../failure.hpp"
#include "../links/element_index.hpp"
#include "../polled_sort.hpp"

namespace xcover {

std::vector<std::uint64_t> distinct_included(const BlockList& blocks,
                                             std::span<const std::uint64_t> include) {
    std::vector<std::uint64_t> prefix;
    std::vector<std::uint64_t> seen;  // sorted: include lists can be long
    for (std::uint64_t b : include) {
        checked(b, blocks.size());
        const auto at = std::lower_bound(seen.begin(), seen.end(), b);
        if (at != seen.end() && *at == b) continue;
        seen.insert(at, b);
        prefix.push_back(b);
    }
    return prefix;
}

namespace {

// The colors of `secondary`, looked up by (block, element).
class ColorLookup {
public:
    ColorLookup(std::span<const ItemColor> colors, InterruptPoll& poll) : colors_(colors.begin(), colors.end()) {
        sort_polled(colors_, poll, before);
    }
    // The color block `b` gives element `e`, if any (every value is a color, 0 too).
    std::optional<std::uint64_t> color(std::uint64_t b, std::uint64_t e) const {
        if (colors_.empty()) return std::nullopt;
        const ItemColor key{b, e, 0};
        const auto it = std::lower_bound(colors_.begin(), colors_.end(), key, before);
        if (it != colors_.end() && it->block == b && it->element == e) return it->color;
        return std::nullopt;
    }

private:
    static bool before(const ItemColor& x, const ItemColor& y) {
        return x.block != y.block ? x.block < y.block : x.element < y.element;
    }
    std::vector<ItemColor> colors_;
};

// An element an included block holds, with the color it gives it.
struct Taken {
    std::uint64_t element;
    std::optional<std::uint64_t> color;
    bool operator<(const Taken& other) const {
        return element != other.element ? element < other.element : color < other.color;
    }
};

}  // namespace

std::optional<std::vector<char>> blocks_meeting(const BlockList& blocks,
                                                std::span<const std::uint64_t> prefix,
                                                InterruptPoll& poll, const SecondaryItems& secondary) {
    std::vector<std::uint64_t> optional(secondary.elements.begin(), secondary.elements.end());
    sort_unique_polled(optional, poll);
    auto is_primary = [&](std::uint64_t e) { return !std::binary_search(optional.begin(), optional.end(), e); };
    const ColorLookup colors(secondary.colors, poll);
    std::vector<Taken> taken;
    std::vector<std::uint64_t> own;
    for (std::uint64_t b : prefix) {
        const auto items = blocks[b];
        // A block without a primary element (an empty one among them) is never chosen.
        if (std::none_of(items.begin(), items.end(), is_primary)) return std::nullopt;
        // An element listed twice in one block counts once: only elements shared between
        // included blocks make them overlap.
        own.assign(items.begin(), items.end());
        sort_unique_polled(own, poll);
        for (std::uint64_t e : own) taken.push_back(Taken{e, colors.color(b, e)});
    }
    sort_polled(taken, poll);
    // Included blocks overlap where they share an element, unless all give it one color.
    for (std::size_t k = 1; k < taken.size(); ++k)
        if (taken[k].element == taken[k - 1].element && (!taken[k].color || taken[k].color != taken[k - 1].color))
            return std::nullopt;
    taken.erase(std::unique(taken.begin(), taken.end(),
                            [](const Taken& x, const Taken& y) { return x.element == y.element; }),
                taken.end());
    // Block `b` meets them at `e` unless both give `e` the same color.
    auto meets_at = [&](std::uint64_t b, std::uint64_t e) {
        const auto it = std::lower_bound(taken.begin(), taken.end(), Taken{e, std::nullopt});
        if (it == taken.end() || it->element != e) return false;
        return !it->color || colors.color(b, e) != it->color;
    };
    std::vector<char> meets(blocks.size(), 0);
    std::vector<std::uint64_t> reachable, primary;
    for (const Taken& t : taken)
        if (is_primary(t.element)) reachable.push_back(t.element);
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const auto items = blocks[b];
        poll.tick(items.size() + 1);
        std::copy_if(items.begin(), items.end(), std::back_inserter(primary), is_primary);
        if (std::any_of(items.begin(), items.end(), [&](std::uint64_t e) { return meets_at(b, e); })) {
            meets[b] = 1;
        } else {
            std::copy_if(items.begin(), items.end(), std::back_inserter(reachable), is_primary);
        }
    }
    // Every primary element must still be coverable: one that only blocks meeting the prefix
    // hold would vanish from the reduced problem.
    sort_unique_polled(reachable, poll);
    sort_unique_polled(primary, poll);
    if (reachable.size() != primary.size()) return std::nullopt;
    return meets;
}

std::optional<BlockList> blocks_beside(const BlockList& blocks, std::span<const std::uint64_t> prefix,
                                       InterruptPoll& poll, const SecondaryItems& secondary) {
    const std::optional<std::vector<char>> meets = blocks_meeting(blocks, prefix, poll, secondary);
    if (!meets) return std::nullopt;
    BlockList reduced;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        if ((*meets)[b]) {
            reduced.close_list();
        } else {
            reduced.push_list(blocks[b]);
        }
    }
    return reduced;
}

}  // namespace xcover
