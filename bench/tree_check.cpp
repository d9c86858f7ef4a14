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
        std::uint64_t column, node;
    };
    std::vector<Level> levels;
    auto backtrack = [&]() -> bool {
        while (!levels.empty()) {
            Level& top = levels.back();
            links.uncover_rest_of_block(top.node);
            const std::uint64_t next = links.down(top.node);
            if (next != top.column) {
                top.node = next;
                ++n.nodes;
                links.cover_rest_of_block(next);
                return true;
            }
            links.uncover(top.column);
            levels.pop_back();
        }
        return false;
    };
    for (;;) {
        const std::uint64_t column = links.choose_column();
        if (column == DancingLinks::kComplete || column == DancingLinks::kDeadEnd) {
            if (column == DancingLinks::kComplete) ++n.covers;
            if (!backtrack()) break;
            continue;
        }
        links.cover(column);
        const std::uint64_t first = links.down(column);
        levels.push_back(Level{column, first});
        ++n.nodes;
        links.cover_rest_of_block(first);
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
