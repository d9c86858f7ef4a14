// Colors on secondary elements: exact covering with colors, as in Knuth's DLX2.
//
// A block may give a secondary element it holds a color. Blocks may then share that element
// when every one of them gives it the same color; a block that holds it without a color owns
// it outright, as a secondary element without colors is owned. A cover thus covers each
// primary element once and each secondary element either at most once or only by blocks
// agreeing on its color.
//
// The caller's colors are (block, element, color) triples; the matrix numbers the distinct
// colors 1.. (0: no color) and keeps one per block node (DancingLinks).
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "../interrupt.hpp"
#include "block_list.hpp"

namespace xcover {

class ElementIndex;

struct ItemColor {
    std::uint64_t block;
    std::uint64_t element;
    std::uint64_t color;
};

// What the depth-first queries take besides the blocks: the elements a cover may leave
// uncovered (see DepthFirstSearch), and the colors the blocks give some of them. Made from
// the elements alone where no block has a color.
struct SecondaryItems {
    std::span<const std::uint64_t> elements = {};
    std::span<const ItemColor> colors = {};

    SecondaryItems() = default;
    template <class Elements>
        requires std::convertible_to<const Elements&, std::span<const std::uint64_t>>
    SecondaryItems(const Elements& e, std::span<const ItemColor> c = {})  // NOLINT: implicit
        : elements(e), colors(c) {}
};

// Why `secondary.colors` does not fit `blocks`, or "" when it does: each triple names a block
// of `blocks`, an element that block holds and that `secondary.elements` lists, and no block
// gives one element two colors.
std::string colors_error(const BlockList& blocks, const SecondaryItems& secondary);

// The color of every node of the matrix built from `relabeled` (the blocks relabeled by
// `index`), one per item of relabeled.all_items(): 0 for none, the distinct colors numbered
// 1.. in ascending order. Empty when there are no colors. Fails with InternalFailure when
// colors_error finds a fault.
std::vector<std::uint32_t> node_colors(const BlockList& blocks, const ElementIndex& index,
                                       const BlockList& relabeled, const SecondaryItems& secondary,
                                       Interrupt* interrupt = nullptr);

}  // namespace xcover
