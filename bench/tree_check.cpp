// Checks that the floor walks the engine's search tree: for each instance, the cover count
// and the number of rows tried by the floor (both layouts) against a run of the engine's
// dancing-links matrix driven the way get_all drives it, with a node counter added.
// Prints one line per instance and a MISMATCH line on any difference. Run once, not timed.
#include <cstdio>
#include <string>

#include "algorithms/knuth_x/links/dancinglinks.hpp"
#include "algorithms/knuth_x/links/element_index.hpp"
#include "dlx_floor.hpp"
#include "instances.hpp"

using namespace xcover;

namespace {

// The one place that touches the engine: get_all's loop over the engine's matrix, counting
// covers and rows tried.
bench::FloorCount engine_tree(const bench::Blocks& blocks) {
    const BlockList partitions = BlockList::from(blocks);
    const ElementIndex index = build_element_index(partitions);
    DancingLinks links(relabel_all(index, partitions), index.column_count());
    bench::FloorCount n;
    struct Level {
        std::uint64_t slot, node;
    };
    std::vector<Level> levels;
    auto backtrack = [&]() -> bool {
        while (!levels.empty()) {
            Level& top = levels.back();
            links.uncover_row_rest(top.node);
            const std::uint64_t next = links.node(top.node).down;
            if (next != links.column_slot(top.slot).head) {
                top.node = next;
                ++n.nodes;
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
        if (slot == DancingLinks::kComplete || slot == DancingLinks::kDeadEnd) {
            if (slot == DancingLinks::kComplete) ++n.covers;
            if (!backtrack()) break;
            continue;
        }
        links.cover_slot(slot);
        const std::uint64_t first = links.node(links.column_slot(slot).head).down;
        levels.push_back(Level{slot, first});
        ++n.nodes;
        links.cover_row_rest(first);
    }
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    int bad = 0;
    std::printf("%-11s %9s | %9s %12s | %9s %12s | %9s %12s\n", "instance", "expected", "engine", "nodes",
                "floorDLX1", "nodes", "floorLRUD", "nodes");
    for (const std::string& name : bench::instance_names()) {
        if (argc > 1 && name.find(argv[1]) == std::string::npos) continue;
        const bench::Instance inst = bench::load_instance(name);
        const auto e = engine_tree(inst.blocks);
        const auto a = bench::dlx_floor_count(inst.blocks, bench::FloorLayout::Dlx1);
        const auto b = bench::dlx_floor_count(inst.blocks, bench::FloorLayout::Lrud);
        std::printf("%-11s %9llu | %9llu %12llu | %9llu %12llu | %9llu %12llu\n", name.c_str(),
                    (unsigned long long)inst.expected, (unsigned long long)e.covers, (unsigned long long)e.nodes,
                    (unsigned long long)a.covers, (unsigned long long)a.nodes, (unsigned long long)b.covers,
                    (unsigned long long)b.nodes);
        const bool ok = e.covers == inst.expected && a.covers == inst.expected && b.covers == inst.expected &&
                        a.nodes == e.nodes && b.nodes == e.nodes;
        if (!ok) {
            ++bad;
            std::printf("!!! MISMATCH !!! %s: covers or search nodes differ\n", name.c_str());
        }
        std::fflush(stdout);
    }
    std::printf(bad ? "%d instance(s) differ\n" : "same covers and same search tree on every instance\n", bad);
    return bad ? 1 : 0;
}
