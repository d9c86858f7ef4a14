// Element numbering, matrix construction, cover/uncover and column choice.
#include <gtest/gtest.h>

#include <random>

#include "algorithms/knuth_x/links/dancinglinks.hpp"
#include "algorithms/knuth_x/links/element_index.hpp"
#include "algorithms/knuth_x/search/linkstate.hpp"

using namespace xcover;
using Blocks = std::vector<std::vector<std::uint64_t>>;

namespace {

DancingLinks build(const Blocks& blocks, ElementIndex* index_out = nullptr) {
    BlockList list = BlockList::from(blocks);
    ElementIndex index = build_element_index(list);
    DancingLinks links(relabel_all(index, list), index.column_count());
    if (index_out) *index_out = index;
    return links;
}

// A full snapshot of every link and size, to compare matrices.
std::vector<std::uint64_t> snapshot(const DancingLinks& links, std::uint64_t node_count) {
    std::vector<std::uint64_t> out;
    for (std::uint64_t i = 0; i < node_count; ++i) {
        const Node& n = links.node(i);
        out.insert(out.end(), {n.row, n.column, n.up, n.down, n.left, n.right});
    }
    for (std::uint64_t s = 0; s <= links.column_count(); ++s) out.push_back(links.column_slot(s).size);
    return out;
}

}  // namespace

TEST(ElementIndex, OrdersByBlockCountThenValue) {
    ElementIndex index;
    build({{0, 1}, {2}, {0}, {1, 2}, {1}}, &index);
    EXPECT_EQ(index.elements(), (std::vector<std::uint64_t>{0, 2, 1}));
    EXPECT_EQ(index.relabel(std::vector<std::uint64_t>{1, 0, 1}), (std::vector<std::uint64_t>{0, 2}));
    EXPECT_THROW(index.column_of(7), InternalFailure);
}

TEST(ElementIndex, RepeatsInsideABlockCountOnceAndExtremeValuesSort) {
    ElementIndex index;
    build({{18446744073709551615ull}, {7}, {5, 5, 5}, {5}}, &index);
    // 7 and 2^64-1 are in one block each, 5 in two.
    EXPECT_EQ(index.elements(), (std::vector<std::uint64_t>{7, 18446744073709551615ull, 5}));
}

TEST(ElementIndex, AdversarialValuesStayFast) {
    // Multiples of 2^32: values that defeat a weak hash. Sorting does not care.
    BlockList list;
    const std::uint64_t n = 200000;
    for (std::uint64_t i = 0; i < n; ++i) list.push_block(std::vector<std::uint64_t>{i << 32});
    ElementIndex index = build_element_index(list);
    ASSERT_EQ(index.column_count(), n);
    for (std::uint64_t i = 0; i < n; i += 997) EXPECT_EQ(index.column_of(i << 32), i);
}

TEST(DancingLinks, ExampleLayout) {
    DancingLinks links = build({{0, 1}, {2}, {0}, {1, 2}, {1}});
    ASSERT_EQ(links.column_count(), 3u);
    EXPECT_EQ(links.column_slot(1).size, 2u);
    EXPECT_EQ(links.column_slot(2).size, 2u);
    EXPECT_EQ(links.column_slot(3).size, 3u);
    // Block 0 -> nodes 4 (column 0) and 5 (column 2); block 3 -> nodes 8 and 9.
    EXPECT_EQ(links.node(4).row, 0u);
    EXPECT_EQ(links.node(4).column, 1u);
    EXPECT_EQ(links.node(5).column, 3u);
    EXPECT_EQ(links.node(4).right, 5u);
    EXPECT_EQ(links.node(5).right, 4u);
    EXPECT_EQ(links.node(6).row, 1u);
    EXPECT_EQ(links.node(7).row, 2u);
    EXPECT_EQ(links.node(8).column, 2u);
    EXPECT_EQ(links.node(9).column, 3u);
    EXPECT_EQ(links.node(10).row, 4u);
    EXPECT_EQ(links.node(1).down, 4u);
    EXPECT_EQ(links.node(4).down, 7u);
    EXPECT_EQ(links.node(7).down, 1u);
    EXPECT_EQ(links.node(1).up, 7u);

    ColumnChoice choice = links.choose_column();
    EXPECT_EQ(choice.kind, ColumnChoice::Kind::Rows);
    EXPECT_EQ(choice.rows, (std::vector<std::uint64_t>{0, 2}));

    const auto before = snapshot(links, 11);
    links.cover(0);
    links.cover(2);
    EXPECT_EQ(links.node(0).right, 2u);
    EXPECT_EQ(links.node(2).right, 0u);
    EXPECT_EQ(links.column_slot(2).size, 1u);
    choice = links.choose_column();
    EXPECT_EQ(choice.rows, (std::vector<std::uint64_t>{1}));
    links.uncover(2);
    links.uncover(0);
    EXPECT_EQ(snapshot(links, 11), before);
}

TEST(DancingLinks, EmptyMatrixAndEmptyBlocks) {
    for (const Blocks& blocks : {Blocks{}, Blocks{{}, {}}}) {
        DancingLinks links = build(blocks);
        EXPECT_EQ(links.column_count(), 0u);
        const Node& root = links.node(0);
        EXPECT_EQ(root.left, 0u);
        EXPECT_EQ(root.right, 0u);
        EXPECT_EQ(root.up, 0u);
        EXPECT_EQ(root.down, 0u);
        EXPECT_EQ(links.choose_column().kind, ColumnChoice::Kind::Complete);
    }
    DancingLinks links = build({{}, {3}});
    EXPECT_EQ(links.node(2).row, 1u);
    EXPECT_THROW(links.cover(1), InternalFailure);
    EXPECT_THROW(links.node(3), InternalFailure);
}

TEST(DancingLinks, ElementOrderInsideABlockDoesNotMatter) {
    EXPECT_EQ(snapshot(build({{2, 1}}), 4), snapshot(build({{1, 2}}), 4));
}

TEST(DancingLinks, DeadEndAndLeftmostSmallest) {
    // Sizes (1, 0, ...) after covering: element 9 only in a block that meets element 1.
    DancingLinks links = build({{1, 9}, {1}, {2}, {2}, {2}});
    // counts: 9->1, 1->2, 2->3: columns 9, 1, 2.
    links.cover(1);  // column of element 1 removes block 0, so column of 9 is empty
    EXPECT_EQ(links.choose_column().kind, ColumnChoice::Kind::DeadEnd);
    links.uncover(1);
    EXPECT_EQ(links.choose_column().rows, (std::vector<std::uint64_t>{0}));
}

TEST(LinkState, RestoreMovesBetweenAnyCoveredLists) {
    // Random covered lists (of columns of disjoint blocks) reached in random order always
    // give the matrix obtained by covering them from scratch.
    const Blocks blocks = {{0, 1}, {2, 3}, {4}, {5, 6, 7}, {1, 2, 5}, {0, 4, 7}, {3, 6}, {8}};
    const std::vector<std::vector<std::uint64_t>> targets = {
        {}, {0}, {0, 2}, {0, 2, 1}, {3}, {1, 3}, {3, 1}, {0, 1, 2, 3, 4}, {5}, {5, 2, 6}};
    std::mt19937_64 rng(7);
    DancingLinks fresh = build(blocks);
    const std::uint64_t nodes = 1 + 9 + 17;
    LinkState state(build(blocks));
    for (int round = 0; round < 200; ++round) {
        const auto& target = targets[rng() % targets.size()];
        state.restore(target);
        EXPECT_EQ(state.covered(), target);
        DancingLinks expected = build(blocks);
        for (auto c : target) expected.cover(c);
        EXPECT_EQ(expected.choose_column().rows, state.links().choose_column().rows);
        EXPECT_EQ(expected.node(0).right, state.links().node(0).right);
    }
    state.restore({});
    EXPECT_EQ(snapshot(state.links(), nodes), snapshot(fresh, nodes));
}
