// Element numbering, matrix construction, cover/uncover, column choice and the link state.
#include <gtest/gtest.h>

#include <random>

#include "algorithms/knuth_x/links/dancinglinks.hpp"
#include "algorithms/knuth_x/links/element_index.hpp"
#include "algorithms/knuth_x/search/linkstate.hpp"
#include "brute_force.hpp"
#include "reference/stepwise.hpp"

using namespace xcover;
using xcover::reference::choose_blocks;
using xcover::reference::ColumnChoice;
using xcover::testing::Blocks;

namespace {

DancingLinks build(const Blocks& blocks, ElementIndex* index_out = nullptr) {
    BlockList list = BlockList::from(blocks);
    ElementIndex index = build_element_index(list);
    DancingLinks links(relabel_all(index, list), index.column_count());
    if (index_out) *index_out = index;
    return links;
}

// Every link, size and the active ring, to compare matrices.
std::vector<std::uint64_t> snapshot(const DancingLinks& links) {
    std::vector<std::uint64_t> out;
    for (std::uint64_t i = 0; i < links.node_count(); ++i)
        out.insert(out.end(), {links.column_of(i), links.up(i), links.down(i), links.block_of(i)});
    for (std::uint64_t c = 1; c <= links.column_count(); ++c) out.push_back(links.size(c));
    for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) out.push_back(c);
    return out;
}

// choose_column written as a plain scan of every active column.
std::uint64_t scan_choice(const DancingLinks& links) {
    std::uint64_t best = DancingLinks::kComplete;
    for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) {
        if (links.size(c) == 0) return DancingLinks::kDeadEnd;
        if (best == DancingLinks::kComplete || links.size(c) < links.size(best)) best = c;
    }
    return best;
}

}  // namespace

TEST(ElementIndex, OrdersByBlockCountThenValue) {
    ElementIndex index;
    build({{0, 1}, {2}, {0}, {1, 2}, {1}}, &index);
    ASSERT_EQ(index.column_count(), 3u);
    EXPECT_EQ(index.element_of(1), 0u);
    EXPECT_EQ(index.element_of(2), 2u);
    EXPECT_EQ(index.element_of(3), 1u);
    EXPECT_EQ(index.relabel(std::vector<std::uint64_t>{1, 0, 1}), (std::vector<std::uint64_t>{1, 3}));
    EXPECT_THROW(index.column_of(7), InternalFailure);
    EXPECT_THROW(index.element_of(0), InternalFailure);
    EXPECT_THROW(index.element_of(4), InternalFailure);
}

TEST(ElementIndex, RepeatsInsideABlockCountOnceAndExtremeValuesSort) {
    ElementIndex index;
    build({{18446744073709551615ull}, {7}, {5, 5, 5}, {5}}, &index);
    // 7 and 2^64-1 are in one block each, 5 in two.
    EXPECT_EQ(index.element_of(1), 7u);
    EXPECT_EQ(index.element_of(2), 18446744073709551615ull);
    EXPECT_EQ(index.element_of(3), 5u);
}

TEST(ElementIndex, AdversarialValuesStayFast) {
    // Multiples of 2^32: values that defeat a weak hash. Sorting does not care.
    BlockList list;
    const std::uint64_t n = 200000;
    for (std::uint64_t i = 0; i < n; ++i) list.push_list(std::vector<std::uint64_t>{i << 32});
    ElementIndex index = build_element_index(list);
    ASSERT_EQ(index.column_count(), n);
    for (std::uint64_t i = 0; i < n; i += 997) EXPECT_EQ(index.column_of(i << 32), i + 1);
}

TEST(DancingLinks, ExampleLayout) {
    // Columns: element 0 -> 1, element 2 -> 2, element 1 -> 3.
    DancingLinks links = build({{0, 1}, {2}, {0}, {1, 2}, {1}});
    ASSERT_EQ(links.column_count(), 3u);
    EXPECT_EQ(links.size(1), 2u);
    EXPECT_EQ(links.size(2), 2u);
    EXPECT_EQ(links.size(3), 3u);
    // Root 0, headers 1-3, block 0 at 4-5, block 1 at 6, block 2 at 7, block 3 at 8-9,
    // block 4 at 10.
    ASSERT_EQ(links.node_count(), 11u);
    EXPECT_EQ(links.block_of(4), 0u);
    EXPECT_EQ(links.column_of(4), 1u);
    EXPECT_EQ(links.column_of(5), 3u);
    EXPECT_EQ(links.next_in_block(4), 5u);
    EXPECT_EQ(links.next_in_block(5), 4u);
    EXPECT_EQ(links.next_in_block(6), 6u);
    EXPECT_EQ(links.block_of(6), 1u);
    EXPECT_EQ(links.block_of(7), 2u);
    EXPECT_EQ(links.column_of(8), 2u);
    EXPECT_EQ(links.column_of(9), 3u);
    EXPECT_EQ(links.block_of(10), 4u);
    for (std::uint64_t header : {0u, 1u, 2u, 3u}) {
        EXPECT_EQ(links.column_of(header), header);
        EXPECT_EQ(links.block_of(header), kNoBlock);
        EXPECT_FALSE(links.is_block_node(header));
    }
    EXPECT_EQ(links.down(1), 4u);
    EXPECT_EQ(links.down(4), 7u);
    EXPECT_EQ(links.down(7), 1u);
    EXPECT_EQ(links.up(1), 7u);

    EXPECT_EQ(choose_blocks(links).blocks, (std::vector<std::uint64_t>{0, 2}));

    const auto before = snapshot(links);
    links.cover(1);
    links.cover(3);
    EXPECT_EQ(links.first_active(), 2u);
    EXPECT_EQ(links.next_active(2), 0u);
    EXPECT_EQ(links.size(2), 1u);
    EXPECT_FALSE(links.is_linked(8));
    EXPECT_TRUE(links.is_linked(6));
    EXPECT_EQ(choose_blocks(links).blocks, (std::vector<std::uint64_t>{1}));
    links.uncover(3);
    links.uncover(1);
    EXPECT_EQ(snapshot(links), before);
}

TEST(DancingLinks, EmptyMatrixEmptyBlocksAndBadArguments) {
    for (const Blocks& blocks : {Blocks{}, Blocks{{}, {}}}) {
        DancingLinks links = build(blocks);
        EXPECT_EQ(links.column_count(), 0u);
        EXPECT_EQ(links.first_active(), 0u);
        EXPECT_EQ(links.choose_column(), DancingLinks::kComplete);
        EXPECT_EQ(links.block_bound(), 0u);
    }
    DancingLinks links = build({{}, {3}});
    EXPECT_EQ(links.block_of(2), 1u);
    EXPECT_EQ(links.block_bound(), 2u);
    EXPECT_THROW(links.cover(0), InternalFailure);
    EXPECT_THROW(links.cover(2), InternalFailure);
    EXPECT_THROW(links.block_of(3), InternalFailure);
    EXPECT_THROW(links.cover_rest_of_block(0), InternalFailure);  // the root
    EXPECT_THROW(links.cover_rest_of_block(1), InternalFailure);  // a header
    EXPECT_THROW(links.cover_rest_of_block(3), InternalFailure);  // past the end
    // Relabeled blocks must name columns of the matrix.
    EXPECT_THROW(DancingLinks(BlockList::from({{1, 2}}), 1), InternalFailure);
    EXPECT_THROW(DancingLinks(BlockList::from({{0}}), 1), InternalFailure);
}

TEST(DancingLinks, BuildingManyColumnsPolls) {
    // The headers of a million columns and no block: the matrix is built by its header loop
    // alone, which must ask the interrupt as often as a block loop of that size would.
    struct CountPolls final : Interrupt {
        std::uint64_t calls = 0;
        bool requested() override { return ++calls, false; }
    } counter;
    const std::uint64_t m = 1'000'000;
    DancingLinks links(BlockList{}, m, &counter, m / 2);
    EXPECT_EQ(links.column_count(), m);
    EXPECT_GE(counter.calls, m / InterruptPoll::kInterval);
}

TEST(DancingLinks, ElementOrderInsideABlockDoesNotMatter) {
    EXPECT_EQ(snapshot(build({{2, 1}})), snapshot(build({{1, 2}})));
}

TEST(DancingLinks, DeadEndAndLeftmostSmallest) {
    // Columns: element 9 -> 1 (one block), element 1 -> 2 (two), element 2 -> 3 (three).
    DancingLinks links = build({{1, 9}, {1}, {2}, {2}, {2}});
    links.cover(2);  // removes block 0, the only block of column 1
    EXPECT_EQ(links.choose_column(), DancingLinks::kDeadEnd);
    links.uncover(2);
    EXPECT_EQ(links.choose_column(), 1u);
    EXPECT_EQ(choose_blocks(links).blocks, (std::vector<std::uint64_t>{0}));
}

TEST(DancingLinks, ChoiceMatchesAFullScanThroughRandomCoverSequences) {
    // The count of empty columns and the early stop at size 1 must agree with scanning every
    // column, whatever has been covered.
    std::mt19937_64 rng(99);
    for (int round = 0; round < 400; ++round) {
        const Blocks blocks = xcover::testing::random_blocks(rng, 14, 9);
        DancingLinks links = build(blocks);
        const auto fresh = snapshot(links);
        std::vector<std::uint64_t> covered;
        for (int move = 0; move < 40; ++move) {
            ASSERT_EQ(links.choose_column(), scan_choice(links)) << round << " " << move;
            ASSERT_NO_THROW(links.check_links()) << round << " " << move;
            std::vector<std::uint64_t> active;
            for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) active.push_back(c);
            if (!active.empty() && (covered.empty() || rng() % 3 != 0)) {
                const std::uint64_t c = active[rng() % active.size()];
                links.cover(c);
                covered.push_back(c);
            } else if (!covered.empty()) {
                links.uncover(covered.back());
                covered.pop_back();
            }
        }
        while (!covered.empty()) {
            links.uncover(covered.back());
            covered.pop_back();
        }
        ASSERT_EQ(snapshot(links), fresh);
    }
}

TEST(LinkState, RestoreMovesBetweenAnyCoveredLists) {
    // Random covered lists (of columns of disjoint blocks) reached in random order always
    // give the matrix obtained by covering them from scratch.
    const Blocks blocks = {{0, 1}, {2, 3}, {4}, {5, 6, 7}, {1, 2, 5}, {0, 4, 7}, {3, 6}, {8}};
    const std::vector<std::vector<std::uint64_t>> targets = {
        {}, {1}, {1, 3}, {1, 3, 2}, {4}, {2, 4}, {4, 2}, {1, 2, 3, 4, 5}, {6}, {6, 3, 7}};
    std::mt19937_64 rng(7);
    const auto fresh = snapshot(build(blocks));
    LinkState state(build(blocks));
    for (int round = 0; round < 200; ++round) {
        const auto& target = targets[rng() % targets.size()];
        state.restore(target);
        EXPECT_EQ(state.covered(), target);
        DancingLinks expected = build(blocks);
        for (auto c : target) expected.cover(c);
        EXPECT_EQ(snapshot(expected), snapshot(state.links()));
    }
    state.restore({});
    EXPECT_EQ(snapshot(state.links()), fresh);
}
