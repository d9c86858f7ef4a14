// get_all, count_all and the cover stream with helper threads against one thread: the same
// covers in the same order, batches within their bounds, and a stream that goes on after an
// interrupt.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/depth_first/split.hpp"
#include "algorithms/knuth_x/pool/thread_pool.hpp"
#include "algorithms/knuth_x/algos/depth_first/cover_stream.hpp"
#include "brute_force.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;
using xcover::testing::dense_blocks;

namespace {

ThreadPool& pool_of(unsigned threads) {
    static ThreadPool two(2), three(3), four(4);
    return threads == 2 ? two : threads == 3 ? three : four;
}

std::vector<std::uint64_t> random_include(std::mt19937_64& rng, std::size_t blocks) {
    std::vector<std::uint64_t> include;
    if (blocks == 0 || rng() % 3 != 0) return include;
    for (std::uint64_t i = rng() % 3 + 1; i > 0; --i) include.push_back(rng() % blocks);
    return include;
}

// Takes every cover from `stream` in batches of random bounds, checking the bounds.
Covers drain(CoverStream& stream, std::mt19937_64& rng, Interrupt* interrupt = nullptr) {
    CoverList all;
    for (bool more = true; more;) {
        const std::uint64_t max_covers = 1 + rng() % 7;
        const std::uint64_t max_items = 1 + rng() % 20;
        CoverList batch;
        try {
            more = stream.next_batch(batch, max_covers, max_items, interrupt);
        } catch (const SearchInterrupted&) {
            more = true;  // the covers found so far stay in the batch
        }
        EXPECT_LE(batch.size(), max_covers);
        if (batch.size() > 0) {
            EXPECT_LT(batch.total_items() - batch[batch.size() - 1].size(), max_items);
        }
        all.append_lists(batch, 0, batch.size());
    }
    return all.nested();
}

}  // namespace

TEST(ParallelAll, SameAsOneThreadOnRandomProblems) {
    std::mt19937_64 rng(424242);
    for (int round = 0; round < 1500; ++round) {
        const Blocks blocks = round % 2 == 0 ? xcover::testing::random_blocks(rng, 14, 7)
                                             : dense_blocks(rng, 8 + static_cast<int>(rng() % 24),
                                                            4 + static_cast<int>(rng() % 8));
        const BlockList list = BlockList::from(blocks);
        const std::vector<std::uint64_t> include = random_include(rng, blocks.size());
        const Covers one = get_all(list, include).nested();
        const std::uint64_t count = count_all(list, include);
        ASSERT_EQ(count, one.size());
        // Elements a cover may leave out: count_all's own option.
        std::vector<std::uint64_t> secondary;
        for (const auto& b : blocks)
            if (!b.empty() && rng() % 6 == 0) secondary.push_back(b[0]);
        const std::uint64_t count_secondary = count_all(list, include, nullptr, secondary);
        for (unsigned threads : {2u, 3u, 4u}) {
            ThreadPool& pool = pool_of(threads);
            ASSERT_EQ(get_all(list, include, nullptr, &pool).nested(), one) << "round " << round;
            ASSERT_EQ(count_all(list, include, nullptr, {}, &pool), count) << "round " << round;
            ASSERT_EQ(count_all(list, include, nullptr, secondary, &pool), count_secondary)
                << "round " << round;
            const auto stream_owner = CoverStream::listing(list, include, pool, CoverStream::bounded(threads));
            CoverStream& stream = *stream_owner;
            ASSERT_EQ(drain(stream, rng), one) << "round " << round;
        }
    }
}

TEST(ParallelAll, LargerTreesWithSmallWindows) {
    std::mt19937_64 rng(99);
    for (int round = 0; round < 6; ++round) {
        const BlockList list = BlockList::from(dense_blocks(rng, 55, 14));
        const Covers one = get_all(list).nested();
        for (unsigned threads : {2u, 4u}) {
            const auto stream_owner = CoverStream::listing(list, {}, pool_of(threads), CoverStream::Bounds{2, 64});
            CoverStream& stream = *stream_owner;
            EXPECT_EQ(drain(stream, rng), one);
            EXPECT_EQ(count_all(list, {}, nullptr, {}, &pool_of(threads)), one.size());
        }
    }
}

TEST(ParallelAll, StreamGoesOnAfterInterrupts) {
    // Requests a stop at every third poll: batches end early and the next call resumes.
    struct EveryThird final : Interrupt {
        int polls = 0;
        bool requested() override { return ++polls % 3 == 0; }
    } interrupt;
    std::mt19937_64 rng(5);
    const BlockList list = BlockList::from(dense_blocks(rng, 60, 15));
    const Covers one = get_all(list).nested();
    const auto stream_owner = CoverStream::listing(list, {}, pool_of(3), CoverStream::bounded(3));
    CoverStream& stream = *stream_owner;
    EXPECT_EQ(drain(stream, rng, &interrupt), one);
    EXPECT_GT(interrupt.polls, 3);
}

TEST(ParallelAll, DroppedStreamStopsItsHelpers) {
    std::mt19937_64 rng(6);
    const BlockList list = BlockList::from(dense_blocks(rng, 60, 15));
    for (int i = 0; i < 20; ++i) {
        const auto stream_owner = CoverStream::listing(list, {}, pool_of(4), CoverStream::kUnbounded);
        CoverStream& stream = *stream_owner;
        CoverList batch;
        stream.next_batch(batch, 3, UINT64_MAX, nullptr);
        EXPECT_LE(batch.size(), 3u);
    }
}

TEST(ParallelAll, HelpersNeverPollTheCallersInterrupt) {
    // Each batch gets an Interrupt of its own that ends with it, as an iterator's refills do;
    // runners the caller's thread used go back to the helpers, which must not poll it.
    struct CallerOnly final : Interrupt {
        std::thread::id caller = std::this_thread::get_id();
        std::atomic<int> foreign{0};
        bool requested() override {
            if (std::this_thread::get_id() != caller) foreign.fetch_add(1);
            return false;
        }
    };
    std::mt19937_64 rng(8);
    const BlockList list = BlockList::from(dense_blocks(rng, 60, 15));
    const Covers one = get_all(list).nested();
    for (int round = 0; round < 4; ++round) {
        const auto stream_owner = CoverStream::listing(list, {}, pool_of(4), CoverStream::Bounds{8, 32});
        CoverStream& stream = *stream_owner;
        CoverList all;
        int foreign = 0;
        for (bool more = true; more;) {
            auto interrupt = std::make_unique<CallerOnly>();
            CoverList batch;
            more = stream.next_batch(batch, 5, UINT64_MAX, interrupt.get());
            all.append_lists(batch, 0, batch.size());
            foreign += interrupt->foreign.load();
        }
        EXPECT_EQ(all.nested(), one);
        EXPECT_EQ(foreign, 0);
    }
}

TEST(ParallelAll, InterruptsNeverLandOnTheWayToAPart) {
    // A chain of forced levels above every part: reaching a part's subtree takes many steps,
    // which poll nothing, while the search below polls the interrupt. The stream runs on the
    // caller's thread alone (a pool set to 1), so each part's runner is one an interrupted
    // part used before.
    struct EveryThird final : Interrupt {
        int polls = 0;
        bool requested() override { return ++polls % 3 == 0; }
    } interrupt;
    Blocks blocks;
    const std::uint64_t length = 500;
    for (std::uint64_t i = 0; i < length; ++i) blocks.push_back({2 * i, 2 * i + 1});
    for (std::uint64_t k = 0; k < 13; ++k) {  // then 2^13 covers below the chain
        const std::uint64_t a = (1u << 30) + 2 * k, b = a + 1;
        blocks.insert(blocks.end(), {{a}, {b}, {a, b}});
    }
    const BlockList list = BlockList::from(blocks);
    const std::vector<std::uint64_t> include = {length / 3};
    const Covers one = get_all(list, include).nested();
    ASSERT_GT(one.size(), 1u);
    ThreadPool alone(1);
    std::mt19937_64 rng(10);
    const auto stream_owner = CoverStream::listing(list, include, alone, CoverStream::bounded(1));
    CoverStream& stream = *stream_owner;
    EXPECT_EQ(drain(stream, rng, &interrupt), one);
    EXPECT_GT(interrupt.polls, 3);
}
