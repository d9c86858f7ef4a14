// A reference model of the depth-first search: the generic step machine, written the long
// way. Every pending entry owns copies of its chosen blocks and covered columns, and a
// LinkState moves the one matrix between entries. Slow, and independent of the product's
// DepthFirstSearch loop, so tests and the fuzzer compare the two.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "algorithms/knuth_x/links/block_list.hpp"
#include "algorithms/knuth_x/links/dancinglinks.hpp"
#include "algorithms/knuth_x/links/element_index.hpp"
#include "algorithms/knuth_x/search/covers.hpp"
#include "algorithms/knuth_x/search/linkstate.hpp"

namespace xcover::reference {

// What a position offers: a cover, a dead end, or the blocks of the branch column.
struct ColumnChoice {
    enum class Kind { Complete, DeadEnd, Blocks };
    Kind kind;
    std::vector<std::uint64_t> blocks;  // for Blocks: top to bottom
};

inline ColumnChoice choose_blocks(const DancingLinks& links) {
    const std::uint64_t column = links.choose_column();
    if (column == DancingLinks::kComplete) return {ColumnChoice::Kind::Complete, {}};
    if (column == DancingLinks::kDeadEnd) return {ColumnChoice::Kind::DeadEnd, {}};
    ColumnChoice choice{ColumnChoice::Kind::Blocks, {}};
    for (std::uint64_t i = links.down(column); i != column; i = links.down(i))
        choice.blocks.push_back(links.block_of(i));
    return choice;
}

struct SearchEntry {
    std::vector<std::uint64_t> blocks;   // in order of choice
    std::vector<std::uint64_t> covered;  // columns of those blocks, block after block
};

// Every cover, depth first: pop an entry, bring the matrix to it, report it or push its
// children last block first.
inline CoverList get_all_stepwise(const BlockList& blocks) {
    const ElementIndex index = build_element_index(blocks);
    const BlockList relabeled = relabel_all(index, blocks);
    LinkState state{DancingLinks(relabeled, index.column_count())};
    std::vector<SearchEntry> stack{SearchEntry{}};
    CoverList covers;
    while (!stack.empty()) {
        SearchEntry entry = std::move(stack.back());
        stack.pop_back();
        state.restore(entry.covered);
        const ColumnChoice choice = choose_blocks(state.links());
        if (choice.kind == ColumnChoice::Kind::Complete) covers.push_list(entry.blocks);
        if (choice.kind != ColumnChoice::Kind::Blocks) continue;
        for (auto it = choice.blocks.rbegin(); it != choice.blocks.rend(); ++it) {
            SearchEntry child = entry;
            child.blocks.push_back(*it);
            const auto columns = relabeled[*it];
            child.covered.insert(child.covered.end(), columns.begin(), columns.end());
            stack.push_back(std::move(child));
        }
    }
    return covers;
}

}  // namespace xcover::reference
