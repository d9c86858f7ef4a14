// The split of the depth-first search tree into subtrees that can run apart: split for
// callers, split_paths for CoverStream. Both walk the tree of DepthFirstSearch, so the parts
// in order give get_all's covers in order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../links/colors.hpp"
#include "../../interrupt.hpp"

namespace xcover {

// How far a split has come, for a caller polling through its Interrupt (same thread): the
// parts it holds (open subtrees and covers found) as of its last pass step (passes replace a
// part by its children, so the count mostly grows), and once a walk of the tree takes over
// from the passes (see split.cpp), how much of the tree it has walked.
struct SplitProgress {
    std::uint64_t parts = 0;
    double walked = 0.0;  // the share of the tree a walk has covered, when it runs alone
};

// Tops of disjoint subtrees of the search tree, in depth-first order, at least `parts` of
// them when the tree branches that much: each is a path of chosen blocks followed by the
// `include` blocks not on it. Running get_all with each as `include` and concatenating the
// results gives get_all(blocks, include). Subtrees found to be dead ends are left out.
// `progress`, when given, is kept up to date as the split runs.
std::vector<std::vector<std::uint64_t>> split(const BlockList& blocks, std::uint64_t parts,
                                              std::span<const std::uint64_t> include = {},
                                              Interrupt* interrupt = nullptr,
                                              const SecondaryItems& secondary = {},
                                              SplitProgress* progress = nullptr);

// split's parts as bare paths: the blocks chosen from the root down to each part's top,
// without the `include` blocks after them. A DepthFirstSearch built with the same `include`
// and `secondary` searches one part with start_at(path); the parts in order give its covers
// in order. This is how CoverStream cuts the tree, with or without `include`.
std::vector<std::vector<std::uint64_t>> split_paths(const BlockList& blocks, std::uint64_t parts,
                                                    std::span<const std::uint64_t> include = {},
                                                    Interrupt* interrupt = nullptr,
                                                    const SecondaryItems& secondary = {});

}  // namespace xcover
