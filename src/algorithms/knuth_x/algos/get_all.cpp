#include "get_all.hpp"

#include "../links/dancinglinks.hpp"
#include "../links/element_index.hpp"
#include "../search/searchstate.hpp"

namespace xcover {

namespace {

struct Matrix {
    DancingLinks links;
    BlockList relabeled;
};

Matrix build_matrix(const BlockList& partitions) {
    ElementIndex index = build_element_index(partitions);
    BlockList relabeled = relabel_all(index, partitions);
    DancingLinks links(relabeled, index.column_count());
    return {std::move(links), std::move(relabeled)};
}

}  // namespace

Covers get_all(const BlockList& partitions) {
    DancingLinks links = build_matrix(partitions).links;
    Covers results;

    // Level k holds the slot branched on and the row node chosen in it.
    struct Level {
        std::uint64_t slot;
        std::uint64_t node;
    };
    std::vector<Level> levels;
    Cover rows;

    // Advances the deepest level to its next row, dropping exhausted levels.
    // Returns false when the whole search is over.
    auto backtrack = [&]() -> bool {
        while (!levels.empty()) {
            Level& top = levels.back();
            links.uncover_row_rest(top.node);
            rows.pop_back();
            const std::uint64_t next = links.node(top.node).down;
            if (next != links.column_slot(top.slot).head) {
                top.node = next;
                rows.push_back(links.row(next));
                links.cover_row_rest(next);
                return true;
            }
            links.uncover_slot(top.slot);
            levels.pop_back();
        }
        return false;
    };

    for (;;) {
        const std::uint64_t slot = links.pick_slot();
        if (slot == DancingLinks::kComplete) {
            results.push_back(rows);
            if (!backtrack()) break;
            continue;
        }
        if (slot == DancingLinks::kDeadEnd) {
            if (!backtrack()) break;
            continue;
        }
        links.cover_slot(slot);
        const std::uint64_t first = links.node(links.column_slot(slot).head).down;
        levels.push_back(Level{slot, first});
        rows.push_back(links.row(first));
        links.cover_row_rest(first);
    }
    return results;
}

Covers get_all_stepwise(const BlockList& partitions) {
    Matrix matrix = build_matrix(partitions);
    StackFrontier stack;
    stack.offer(SearchEntry{});
    SearchState<StackFrontier> search(std::move(stack), LinkState(std::move(matrix.links)),
                                      std::move(matrix.relabeled), std::nullopt);
    Covers results;
    while (auto step = search.step()) {
        if (step->status == StepStatus::Complete) results.push_back(std::move(step->entry.rows));
    }
    return results;
}

}  // namespace xcover
