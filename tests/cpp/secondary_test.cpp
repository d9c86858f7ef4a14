// Secondary columns (numbering, matrix, search against a brute-force model), the DLX text
// parser and the random-probe estimate.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "algorithms/knuth_x/algos/depth_first/estimate.hpp"
#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/format/dlx_format.hpp"
#include "algorithms/knuth_x/links/dancinglinks.hpp"
#include "algorithms/knuth_x/links/element_index.hpp"
#include "algorithms/knuth_x/search/depth_first.hpp"
#include "brute_force.hpp"

using namespace xcover;
using xcover::testing::Blocks;

namespace {

// Covers of the DLX2 model: each primary element once, each secondary at most once, only
// blocks holding a primary element; sorted lists of block indices.
std::vector<std::vector<std::uint64_t>> brute_force_dlx2(const Blocks& blocks,
                                                         const std::set<std::uint64_t>& secondary) {
    std::set<std::uint64_t> primary;
    for (const auto& b : blocks)
        for (auto e : b)
            if (!secondary.count(e)) primary.insert(e);
    std::vector<std::vector<std::uint64_t>> covers;
    for (std::uint64_t mask = 0; mask < (std::uint64_t{1} << blocks.size()); ++mask) {
        std::multiset<std::uint64_t> seen;
        std::vector<std::uint64_t> chosen;
        bool ok = true;
        for (std::uint64_t i = 0; i < blocks.size() && ok; ++i) {
            if (!(mask >> i & 1)) continue;
            const std::set<std::uint64_t> distinct(blocks[i].begin(), blocks[i].end());
            ok = std::any_of(distinct.begin(), distinct.end(), [&](auto e) { return primary.count(e) > 0; });
            for (auto e : distinct) ok = ok && seen.insert(e) != seen.end() && seen.count(e) == 1;
            chosen.push_back(i);
        }
        std::uint64_t covered = 0;
        for (auto e : primary) covered += seen.count(e);
        if (ok && covered == primary.size()) covers.push_back(chosen);
    }
    return covers;
}

std::vector<std::uint64_t> pick_secondary(std::mt19937_64& rng, const Blocks& blocks) {
    std::vector<std::uint64_t> secondary;
    for (const auto& b : blocks)
        for (auto e : b)
            if (rng() % 4 == 0) secondary.push_back(e);
    secondary.push_back(424242);  // held by no block: ignored
    return secondary;
}

}  // namespace

TEST(Secondary, PrimaryColumnsKeepTheirOrderAndSecondaryComeLast) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 300; ++round) {
        const Blocks blocks = xcover::testing::random_blocks(rng, 10, 6);
        const BlockList list = BlockList::from(blocks);
        const std::vector<std::uint64_t> secondary = pick_secondary(rng, blocks);
        const std::set<std::uint64_t> marked(secondary.begin(), secondary.end());
        const ElementIndex plain = build_element_index(list);
        const ElementIndex split = build_element_index(list, secondary);
        ASSERT_EQ(plain.column_count(), split.column_count());
        std::vector<std::uint64_t> plain_primary, split_primary;
        for (std::uint64_t c = 1; c <= plain.column_count(); ++c)
            if (!marked.count(plain.element_of(c))) plain_primary.push_back(plain.element_of(c));
        for (std::uint64_t c = 1; c <= split.column_count(); ++c) {
            const bool is_secondary = marked.count(split.element_of(c)) > 0;
            EXPECT_EQ(is_secondary, c > split.primary_count());
            if (!is_secondary) split_primary.push_back(split.element_of(c));
        }
        EXPECT_EQ(plain_primary, split_primary);
    }
}

TEST(Secondary, SizesAndRingLeaveSecondaryColumnsOut) {
    const BlockList list = BlockList::from(Blocks{{1, 2}, {2, 3}, {3}});
    const ElementIndex index = build_element_index(list, std::vector<std::uint64_t>{2});
    DancingLinks links(relabel_all(index, list), index.column_count(), nullptr, index.primary_count());
    EXPECT_EQ(links.primary_count(), 2u);
    const std::uint64_t column_1 = index.column_of(1), column_2 = index.column_of(2);
    EXPECT_EQ(column_2, 3u);
    EXPECT_EQ(links.size(column_2), 2u);  // the secondary column, in two blocks
    std::vector<std::uint64_t> ring;
    for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) ring.push_back(c);
    EXPECT_EQ(ring, (std::vector<std::uint64_t>{1, 2}));
    // Choosing block {1, 2} covers column 1 and then the secondary column, which removes
    // block {2, 3}: element 3 is left with block {3}, and no column counts as empty.
    links.cover(column_1);
    links.cover(column_2);
    EXPECT_EQ(links.choose_column(), index.column_of(3));
    EXPECT_EQ(links.size(index.column_of(3)), 1u);
    links.uncover(column_2);
    links.uncover(column_1);
    EXPECT_EQ(links.size(column_2), 2u);
    EXPECT_EQ(links.size(index.column_of(3)), 2u);
    // Removing a block from a secondary column down to no block is not a dead end either.
    const BlockList pair = BlockList::from(Blocks{{1, 2}, {3}});
    const ElementIndex pair_index = build_element_index(pair, std::vector<std::uint64_t>{2});
    DancingLinks pair_links(relabel_all(pair_index, pair), pair_index.column_count(), nullptr,
                            pair_index.primary_count());
    pair_links.cover(pair_index.column_of(1));
    EXPECT_EQ(pair_links.size(pair_index.column_of(2)), 0u);
    EXPECT_EQ(pair_links.choose_column(), pair_index.column_of(3));
    pair_links.uncover(pair_index.column_of(1));
}

TEST(Secondary, CountAllMatchesTheBruteForceModel) {
    std::mt19937_64 rng(12);
    for (int round = 0; round < 400; ++round) {
        const Blocks blocks = xcover::testing::random_blocks(rng, 10, 6);
        const std::vector<std::uint64_t> secondary = pick_secondary(rng, blocks);
        const BlockList list = BlockList::from(blocks);
        const auto expected =
            xcover::testing::sorted_covers(brute_force_dlx2(blocks, {secondary.begin(), secondary.end()}));
        ASSERT_EQ(count_all(list, {}, nullptr, secondary), expected.size());
        DepthFirstSearch search(list, {}, nullptr, secondary);
        std::vector<std::vector<std::uint64_t>> found;
        while (search.next()) found.emplace_back(search.cover().begin(), search.cover().end());
        EXPECT_EQ(xcover::testing::sorted_covers(found), expected);
    }
}

// Every link, size, color and the active ring of a matrix.
std::vector<std::uint64_t> colored_snapshot(const DancingLinks& links) {
    std::vector<std::uint64_t> out;
    for (std::uint64_t i = 0; i < links.node_count(); ++i)
        out.insert(out.end(), {links.up(i), links.down(i), links.column_of(i), links.color_of(i)});
    for (std::uint64_t c = 1; c <= links.column_count(); ++c) out.push_back(links.size(c));
    for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) out.push_back(c);
    return out;
}

TEST(Colors, NestedChoicesRestoreEveryLinkAndColor) {
    std::mt19937_64 rng(29);
    int purified = 0;
    for (int round = 0; round < 300; ++round) {
        const Blocks blocks = xcover::testing::random_blocks(rng, 10, 6);
        const BlockList list = BlockList::from(blocks);
        const std::vector<std::uint64_t> secondary = pick_secondary(rng, blocks);
        const std::set<std::uint64_t> marked(secondary.begin(), secondary.end());
        std::vector<ItemColor> colors;
        for (std::uint64_t b = 0; b < blocks.size(); ++b)
            for (std::uint64_t e : std::set<std::uint64_t>(blocks[b].begin(), blocks[b].end()))
                if (marked.count(e) && rng() % 3 != 0) colors.push_back({b, e, rng() % 2});
        ASSERT_EQ(colors_error(list, {secondary, colors}), "");
        Problem problem = build_problem(list, nullptr, {secondary, colors});
        DancingLinks& links = problem.links;
        std::vector<std::vector<std::uint64_t>> before;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> chosen;  // (column, node)
        for (int step = 0; step < 40; ++step) {
            const std::uint64_t column = links.choose_column();
            const bool can_choose = column != DancingLinks::kComplete && column != DancingLinks::kDeadEnd;
            if (can_choose && (chosen.empty() || rng() % 3 != 0)) {
                std::uint64_t node = links.down(column);
                for (std::uint64_t skip = rng() % links.size(column); skip > 0; --skip) node = links.down(node);
                before.push_back(colored_snapshot(links));
                links.cover(column);
                links.cover_rest_of_block(node);
                for (std::uint64_t q = links.next_in_block(node); q != node; q = links.next_in_block(q))
                    purified += links.color_of(q) != 0;
                chosen.emplace_back(column, node);
            } else if (!chosen.empty()) {
                links.uncover_rest_of_block(chosen.back().second);
                links.uncover(chosen.back().first);
                chosen.pop_back();
                ASSERT_EQ(colored_snapshot(links), before.back());
                before.pop_back();
            }
            links.check_links();
        }
    }
    EXPECT_GT(purified, 100);  // the walks met colored nodes
}

TEST(Colors, ColorsThatDoNotFitAreNamed) {
    const BlockList list = BlockList::from(Blocks{{0, 2}, {1, 2}});
    const std::vector<std::uint64_t> secondary{2};
    const std::vector<ItemColor> on_primary{{0, 0, 1}}, missing{{0, 1, 1}}, twice{{1, 2, 1}, {1, 2, 3}};
    EXPECT_NE(colors_error(list, {secondary, on_primary}).find("a primary element"), std::string::npos);
    EXPECT_NE(colors_error(list, {secondary, missing}).find("which it does not hold"), std::string::npos);
    EXPECT_NE(colors_error(list, {secondary, twice}).find("in two colors"), std::string::npos);
    EXPECT_THROW(build_problem(list, nullptr, {secondary, twice}), InternalFailure);
    // Two blocks agreeing on the color share the element; without colors they cannot.
    const std::vector<ItemColor> shared{{0, 2, 7}, {1, 2, 7}};
    EXPECT_TRUE(build_problem(list, nullptr, {secondary, shared}).links.has_colors());
    EXPECT_FALSE(build_problem(list, nullptr, {secondary}).links.has_colors());
    EXPECT_EQ(count_all(list, {}, nullptr, SecondaryItems{secondary, shared}), 1u);
    EXPECT_EQ(count_all(list, {}, nullptr, SecondaryItems{secondary}), 0u);
}

TEST(DlxFormat, ReadsItemsOptionsAndComments) {
    const DlxProblem p = parse_dlx("| comment\n\na b\tc | x y\r\na x\n\nb c y\n");
    EXPECT_EQ(p.names, (std::vector<std::string>{"a", "b", "c", "x", "y"}));
    EXPECT_EQ(p.secondary, (std::vector<std::uint64_t>{3, 4}));
    EXPECT_EQ(p.blocks, (std::vector<std::vector<std::uint64_t>>{{0, 3}, {1, 2, 4}}));
}

TEST(DlxFormat, PrimaryItemsNoOptionHoldsLeaveNoCover) {
    const DlxProblem p = parse_dlx("a b c | x y\na x\nb\n");
    EXPECT_EQ(p.unmet, (std::vector<std::uint64_t>{2}));
    EXPECT_EQ(p.blocks, (std::vector<std::vector<std::uint64_t>>{{0, 3}, {1}, {2, 5}, {5, 6}, {2, 6}}));
    EXPECT_EQ(count_all(BlockList::from(p.blocks), {}, nullptr, p.secondary), 0u);
    EXPECT_TRUE(parse_dlx("a | x\na\n").unmet.empty());
}

TEST(DlxFormat, ReadsInPiecesAndChecksUtf8) {
    const std::string text = "\xEF\xBB\xBF| caf\xC3\xA9\na \xC3\xA9\r\na \xC3\xA9\r\n";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {  // a piece may end inside a character
        DlxReader reader;
        reader.feed(text.substr(0, cut));
        reader.feed(text.substr(cut));
        const DlxProblem p = reader.finish();
        EXPECT_EQ(p.names, (std::vector<std::string>{"a", "\xC3\xA9"}));
        EXPECT_EQ(p.blocks, (std::vector<std::vector<std::uint64_t>>{{0, 1}}));
    }
    DlxReader endless;
    try {
        endless.feed("a b\nb \xC3\xA9x\xC3(");
        ADD_FAILURE();
    } catch (const DlxFormatError& error) {
        EXPECT_EQ(std::make_pair(error.line(), error.column()), std::make_pair(std::size_t{2}, std::size_t{5}));
    }
    EXPECT_THROW(parse_dlx(std::string("a\0", 2)), DlxFormatError);
    EXPECT_THROW(parse_dlx("a \xE2\x82"), DlxFormatError);
}

TEST(DlxFormat, ErrorsNameLineAndColumn) {
    const std::pair<const char*, std::pair<std::size_t, std::size_t>> cases[] = {
        {"a b\na  q\n", {2, 4}},     {"a b\nb b\n", {2, 3}},   {"a a\n", {1, 3}},
        {"a | b | c", {1, 7}},       {"", {1, 1}},             {"a\na:red\n", {2, 1}},
        {"1:2|a\n", {1, 1}},         {"ab:c\n", {1, 1}},
    };
    for (const auto& [text, where] : cases) {
        try {
            parse_dlx(text);
            ADD_FAILURE() << text;
        } catch (const DlxFormatError& error) {
            EXPECT_EQ(std::make_pair(error.line(), error.column()), where) << text << error.what();
        }
    }
    EXPECT_NO_THROW(parse_dlx(std::string(kMaxItemName, 'n')));
    EXPECT_THROW(parse_dlx(std::string(kMaxItemName + 1, 'n')), DlxFormatError);
}

TEST(Estimate, ExactOnTreesWithoutChoiceAndReproducible) {
    // One cover, reached without branching: every probe gives the same values.
    const BlockList path = BlockList::from(Blocks{{1}, {2}, {3}});
    const TreeEstimate e = estimate_all(path, {}, {}, 50, 1);
    EXPECT_EQ(e.covers, 1.0);
    EXPECT_EQ(e.nodes, 4.0);
    EXPECT_EQ(e.nodes_stderr, 0.0);
    // Two blocks per element, three elements: a full binary tree of depth 3.
    const BlockList binary = BlockList::from(Blocks{{1}, {1}, {2}, {2}, {3}, {3}});
    const TreeEstimate b = estimate_all(binary, {}, {}, 100, 7);
    EXPECT_EQ(b.covers, 8.0);
    EXPECT_EQ(b.nodes, 15.0);
    const BlockList langford = BlockList::from(Blocks{{0, 3, 5}, {0, 4, 6}, {1, 3, 6}, {1, 4, 7}, {2, 3, 7}});
    const TreeEstimate x = estimate_all(langford, {}, {}, 200, 3);
    const TreeEstimate y = estimate_all(langford, {}, {}, 200, 3);
    EXPECT_EQ(x.covers, y.covers);
    EXPECT_EQ(x.nodes, y.nodes);
}
