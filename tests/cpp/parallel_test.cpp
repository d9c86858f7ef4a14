// Searches with helper threads against the same searches on one thread: the same covers in
// the same order, the same caps, the same failures, for thousands of random problems; the
// pool's bound on busy helpers with several callers; interrupts; a fork.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <typeinfo>
#include <variant>

#include "algorithms/knuth_x/algos/average/get_top.hpp"
#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/average/get_topp.hpp"
#include "algorithms/knuth_x/algos/average/top_stream.hpp"
#include "algorithms/knuth_x/pool/thread_pool.hpp"
#include "brute_force.hpp"
#include "scheduling.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;
using xcover::testing::dense_blocks;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What a query gave: its covers, or the type and message of what it threw.
using Outcome = std::variant<Covers, std::string>;

template <class Query>
Outcome outcome_of(Query&& query) {
    try {
        return query().nested();
    } catch (const std::exception& e) {
        return std::string(typeid(e).name()) + ": " + e.what();
    }
}

std::string describe(const Outcome& o) {
    if (const auto* message = std::get_if<std::string>(&o)) return "threw " + *message;
    return std::to_string(std::get<Covers>(o).size()) + " covers";
}

// Weights with exact ties, signed zeros, NaN and infinities; sometimes shorter than the blocks.
std::vector<double> random_weights(std::mt19937_64& rng, std::size_t blocks) {
    static const double kPicks[] = {0.0, -0.0, 1.0, 1.0, 0.5, 2.0, 2.0, kNaN, kInf, -kInf, -1.5};
    std::size_t n = blocks;
    if (rng() % 8 == 0 && n > 0) n = rng() % n;
    std::vector<double> w(n);
    const bool specials = rng() % 3 != 0;
    for (double& x : w)
        x = specials && rng() % 3 == 0 ? kPicks[rng() % std::size(kPicks)]
                                       : static_cast<double>(rng() % 5) * 0.25;
    return w;
}

std::vector<std::uint64_t> random_counts(std::mt19937_64& rng, std::size_t blocks, std::uint64_t bound) {
    std::size_t n = blocks;
    if (rng() % 10 == 0 && n > 0) n = rng() % n;
    std::vector<std::uint64_t> v(n);
    for (auto& x : v) x = rng() % bound;
    return v;
}

SearchCaps random_caps(std::mt19937_64& rng) {
    SearchCaps caps;
    if (rng() % 3 == 0) caps.max_iter = rng() % 40;
    if (rng() % 3 == 0) caps.max_heap = rng() % 30;
    return caps;
}

ThreadPool& pool_of(unsigned threads) {
    static ThreadPool two(2), three(3), four(4);
    return threads == 2 ? two : threads == 3 ? three : four;
}

// Every query on `blocks`, on one thread and with 2, 3 and 4 threads.
// `step_cap` bounds searches whose covers would be too many to list.
void check_all_queries(const Blocks& blocks, std::mt19937_64& rng, int& compared,
                       std::optional<std::uint64_t> step_cap = std::nullopt) {
    const BlockList list = BlockList::from(blocks);
    const std::vector<double> weights = random_weights(rng, blocks.size());
    SearchCaps caps = random_caps(rng);
    if (step_cap) caps.max_iter = *step_cap - rng() % (*step_cap / 2);
    const std::uint64_t n = rng() % 12;
    const double alpha = std::array{0.0, 0.1, 0.5, 0.99, 1.0}[rng() % 5];
    BlockCountInputs sc;
    sc.weights = weights;
    sc.edge_counts = random_counts(rng, blocks.size(), 4);
    sc.edge_total = rng() % 20;
    sc.labels = random_counts(rng, blocks.size(), 3);
    sc.vertex_total = rng() % 12;

    auto run = [&](ThreadPool* pool) {
        return std::array<Outcome, 4>{
            outcome_of([&] { return get_top(list, weights, caps, nullptr, pool); }),
            outcome_of([&] { return get_topn(list, weights, n, caps, nullptr, pool); }),
            outcome_of([&] { return get_topp(list, weights, alpha, caps, nullptr, pool); }),
            outcome_of([&] { return get_topn_sc(list, sc, n + 1, caps, nullptr, pool); }),
        };
    };
    const auto one = run(nullptr);
    for (unsigned threads : {2u, 3u, 4u}) {
        const auto many = run(&pool_of(threads));
        for (std::size_t q = 0; q < one.size(); ++q) {
            ++compared;
            ASSERT_EQ(one[q], many[q]) << "query " << q << " with " << threads << " threads: "
                                       << describe(one[q]) << " against " << describe(many[q]);
        }
    }
}


// A TopStream's pairs (each score by its bits) and how it ended, or what it threw. With
// `interrupt`, next() is asked to stop at some of its polls and called again after each stop.
struct StreamRun {
    std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>> pairs;
    StreamEnd end = StreamEnd::Running;
    std::string failure;
    int stops = 0;
    std::uint64_t taken = 0;  // steps whose expansion came from a helper
    bool operator==(const StreamRun& o) const { return pairs == o.pairs && end == o.end && failure == o.failure; }
};

StreamRun run_top_stream(const BlockList& list, const std::vector<double>& weights,
                         const std::vector<std::uint64_t>& include, SearchCaps caps, ThreadPool* pool,
                         Interrupt* interrupt = nullptr) {
    StreamRun run;
    try {
        TopStream stream(list, weights, include, caps, nullptr, pool);
        for (;;) {
            try {
                auto cover = stream.next(interrupt);
                if (!cover) break;
                run.pairs.emplace_back(std::bit_cast<std::uint64_t>(cover->score), cover->blocks);
            } catch (const SearchInterrupted&) {
                ++run.stops;
            }
        }
        run.end = stream.end();
        run.taken = stream.ahead_counts().taken;
    } catch (const std::exception& e) {
        run.failure = std::string(typeid(e).name()) + ": " + e.what();
    }
    return run;
}

// Asks for a stop at every `every`-th poll.
struct EveryNthPoll final : Interrupt {
    explicit EveryNthPoll(int every) : every(every) {}
    bool requested() override { return ++calls % every == 0; }
    int every;
    int calls = 0;
};

// TopStream on `blocks` with random weights (ties, signed zeros, NaN, infinities), include
// and caps: the same with 2, 3 and 4 threads as on one, and the same again when stopped
// and resumed at every third poll.
void check_top_stream(const Blocks& blocks, std::mt19937_64& rng, int& compared, std::uint64_t& taken,
                      std::optional<std::uint64_t> step_cap = std::nullopt) {
    const BlockList list = BlockList::from(blocks);
    std::vector<double> weights = random_weights(rng, blocks.size());
    weights.resize(blocks.size(), 1.0);  // the surface gives one per block
    std::vector<std::uint64_t> include;
    for (std::uint64_t k = rng() % 3; k > 0 && !blocks.empty(); --k) include.push_back(rng() % blocks.size());
    SearchCaps caps = random_caps(rng);
    if (step_cap) caps.max_iter = *step_cap - rng() % (*step_cap / 2);
    const StreamRun one = run_top_stream(list, weights, include, caps, nullptr);
    for (unsigned threads : {2u, 3u, 4u}) {
        ++compared;
        const StreamRun many = run_top_stream(list, weights, include, caps, &pool_of(threads));
        ASSERT_EQ(many, one) << threads << " threads, " << one.pairs.size() << " covers";
        taken += many.taken;
    }
    EveryNthPoll interrupt(3);
    const StreamRun stopped = run_top_stream(list, weights, include, caps, &pool_of(2), &interrupt);
    ASSERT_EQ(stopped, one) << "stopped " << stopped.stops << " times";
}

// `run` without its first `skip` covers.
StreamRun plain_rest(StreamRun run, std::size_t skip) {
    run.pairs.erase(run.pairs.begin(), run.pairs.begin() + static_cast<std::ptrdiff_t>(skip));
    return run;
}

}  // namespace

TEST(ParallelRanked, SameAsOneThreadOnRandomProblems) {
    std::mt19937_64 rng(20261208);
    int compared = 0;
    for (int round = 0; round < 1500; ++round) {
        const Blocks blocks = round % 2 == 0 ? xcover::testing::random_blocks(rng, 12, 6)
                                             : dense_blocks(rng, 10 + static_cast<int>(rng() % 30),
                                                            4 + static_cast<int>(rng() % 8));
        check_all_queries(blocks, rng, compared);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(compared, 10000);
}

TEST(ParallelRanked, SameAsOneThreadOnLargerProblems) {
    // Searches of thousands of steps, where helpers run well ahead of the search's thread.
    std::mt19937_64 rng(7);
    int compared = 0;
    for (int round = 0; round < 12; ++round) {
        const Blocks blocks = dense_blocks(rng, 60 + static_cast<int>(rng() % 60), 14);
        check_all_queries(blocks, rng, compared, 6000);
        if (HasFatalFailure()) return;
    }
}

TEST(ParallelRanked, InterruptStopsTheHelpersToo) {
    struct Always final : Interrupt {
        bool requested() override { return true; }
    } interrupt;
    std::mt19937_64 rng(3);
    const BlockList list = BlockList::from(dense_blocks(rng, 120, 16));
    const std::vector<double> weights(120, 1.0);
    for (unsigned threads : {2u, 4u})
        EXPECT_THROW(get_top(list, weights, {}, &interrupt, &pool_of(threads)), SearchInterrupted);
    // The pool serves the next search as before.
    EXPECT_EQ(get_top(list, weights, SearchCaps{5000, std::nullopt}, nullptr, &pool_of(2)).nested(),
              get_top(list, weights, SearchCaps{5000, std::nullopt}).nested());
}

TEST(ThreadPool, SettingIsClampedAndHelpersFollowIt) {
    ThreadPool pool(1);
    EXPECT_EQ(pool.threads(), 1u);
    pool.set_threads(3);
    EXPECT_EQ(pool.threads(), 3u);
    EXPECT_EQ(pool.running_helpers(), 0u);  // started by the first search only
    std::mt19937_64 rng(5);
    const BlockList list = BlockList::from(dense_blocks(rng, 40, 10));
    get_top(list, std::vector<double>(40, 1.0), SearchCaps{2000, std::nullopt}, nullptr, &pool);
    EXPECT_EQ(pool.running_helpers(), 2u);
    pool.set_threads(2);
    EXPECT_EQ(pool.running_helpers(), 1u);
    pool.set_threads(1);
    EXPECT_EQ(pool.running_helpers(), 0u);
    EXPECT_GE(ThreadPool::cores(), 1u);
    pool.set_threads(100000);
    EXPECT_EQ(pool.threads(), ThreadPool::max_threads());
    EXPECT_EQ(ThreadPool::max_threads(), ThreadPool::kThreadsPerCore * ThreadPool::cores());
    pool.set_threads(0);  // one per processor
    EXPECT_EQ(pool.threads(), ThreadPool::cores());
    for (std::uint64_t asked : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{1} << 40}) {
        const ThreadPool::Setting setting = ThreadPool::setting_for(asked);
        EXPECT_EQ(setting.reduced, asked > ThreadPool::max_threads());
        EXPECT_EQ(setting.threads, asked == 0 ? ThreadPool::cores()
                                   : setting.reduced ? ThreadPool::max_threads()
                                                     : asked);
    }
    pool.set_threads(1);
}

namespace {

// A source that counts how many helpers are inside it and inside any source at once.
struct CountingSource final : TaskSource {
    std::atomic<int>& busy_everywhere;
    std::atomic<int>& most;
    std::atomic<int> pieces_left;
    CountingSource(std::atomic<int>& all, std::atomic<int>& peak, int pieces)
        : busy_everywhere(all), most(peak), pieces_left(pieces) {}
    bool run_one() noexcept override {
        if (pieces_left.fetch_sub(1) <= 0) return false;
        const int now = busy_everywhere.fetch_add(1) + 1;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {}
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        busy_everywhere.fetch_sub(1);
        return true;
    }
};

}  // namespace

TEST(ThreadPool, ManyCallersShareTheHelpers) {
    ThreadPool pool(3);
    std::atomic<int> busy{0}, most{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 6; ++c)
        callers.emplace_back([&] {
            CountingSource source(busy, most, 60);
            ThreadPool::Membership membership(pool, source);
            for (int i = 0; i < 60; ++i) {
                membership.wake();
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            while (source.pieces_left.load() > 0) std::this_thread::yield();
        });
    for (auto& t : callers) t.join();
    EXPECT_GE(most.load(), 1);
    EXPECT_LE(most.load(), 2);  // threads() - 1 helpers, however many callers
    EXPECT_EQ(pool.running_helpers(), 2u);
}

namespace {

// A source whose one piece of work lasts until the test lets it end.
struct HeldSource final : TaskSource {
    std::atomic<bool> entered{false}, released{false}, taken{false};
    bool run_one() noexcept override {
        if (taken.exchange(true)) return false;
        entered = true;
        entered.notify_all();
        released.wait(false);
        return true;
    }
};

}  // namespace

TEST(ThreadPool, ResizingDoesNotWaitForAPieceOfWork) {
    ThreadPool pool(3);
    HeldSource source;
    {
        ThreadPool::Membership membership(pool, source);
        membership.wake();
        source.entered.wait(false);
        std::future<void> resized;  // its destructor waits: it must outlive the release
        for (unsigned threads : {2u, 1u}) {
            resized = std::async(std::launch::async, [&pool, threads] { pool.set_threads(threads); });
            // Generous: the call must return without the piece ending at all.
            const bool returned = resized.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
            EXPECT_TRUE(returned) << "set_threads(" << threads << ") waited for a helper's piece";
            if (!returned) break;
        }
        EXPECT_EQ(pool.running_helpers(), 0u);
        source.released = true;
        source.released.notify_all();
    }
    // The helper that held the piece leaves after it; the pool serves on.
    std::mt19937_64 rng(17);
    const BlockList list = BlockList::from(dense_blocks(rng, 40, 10));
    const std::vector<double> weights(40, 1.0);
    pool.set_threads(3);
    EXPECT_EQ(get_top(list, weights, SearchCaps{2000, std::nullopt}, nullptr, &pool).nested(),
              get_top(list, weights, SearchCaps{2000, std::nullopt}).nested());
    EXPECT_EQ(pool.running_helpers(), 2u);
}

TEST(ParallelRanked, ConcurrentCallersGetTheirOwnResults) {
    std::mt19937_64 rng(11);
    std::vector<Blocks> problems;
    std::vector<Covers> expected;
    const SearchCaps caps{3000, std::nullopt};
    for (int i = 0; i < 6; ++i) {
        problems.push_back(dense_blocks(rng, 50 + i * 5, 12));
        expected.push_back(get_top(BlockList::from(problems.back()), std::vector<double>(80, 0.5), caps).nested());
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 6; ++i)
        callers.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round)
                if (get_top(BlockList::from(problems[i]), std::vector<double>(80, 0.5), caps, nullptr,
                            &pool_of(3)).nested() != expected[i])
                    ++mismatches;
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ThreadPool, UsableInAForkedChild) {
    std::mt19937_64 rng(13);
    const BlockList list = BlockList::from(dense_blocks(rng, 60, 12));
    const std::vector<double> weights(60, 1.0);
    const SearchCaps caps{3000, std::nullopt};
    ThreadPool& pool = pool_of(3);
    const Covers before = get_top(list, weights, caps, nullptr, &pool).nested();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const bool same = get_top(list, weights, caps, nullptr, &pool).nested() == before &&
                          pool.running_helpers() == 2;
        pool.set_threads(1);  // stops the child's helpers: _exit runs no destructor
        _exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(get_top(list, weights, caps, nullptr, &pool).nested(), before);
}

TEST(ParallelRanked, TopStreamSameAsOneThread) {
    std::mt19937_64 rng(1208);
    int compared = 0;
    std::uint64_t taken = 0;
    for (int round = 0; round < 800; ++round) {
        const Blocks blocks = round % 2 == 0 ? xcover::testing::random_blocks(rng, 12, 6)
                                             : dense_blocks(rng, 10 + static_cast<int>(rng() % 30),
                                                            4 + static_cast<int>(rng() % 8));
        check_top_stream(blocks, rng, compared, taken);
        if (HasFatalFailure()) return;
    }
    for (int round = 0; round < 8; ++round) {  // thousands of steps: helpers run well ahead
        check_top_stream(dense_blocks(rng, 60 + static_cast<int>(rng() % 60), 14), rng, compared, taken, 6000);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(compared, 2000);
    if (xcover::testing::helpers_run_alongside()) {
        EXPECT_GT(taken, 0u);  // the helpers' expansions were used, not only the caller's
    }
}

TEST(ParallelRanked, DroppingAStreamStopsItsHelpers) {
    std::mt19937_64 rng(5);
    const BlockList list = BlockList::from(dense_blocks(rng, 120, 16));
    const std::vector<double> weights(120, 1.0);
    const SearchCaps caps{4000, std::nullopt};
    const StreamRun plain = run_top_stream(list, weights, {}, caps, nullptr);
    for (int k = 0; k < 30; ++k) {
        TopStream stream(list, weights, {}, caps, nullptr, &pool_of(4));
        for (int i = 0; i < k % 4; ++i) ASSERT_TRUE(stream.next().has_value());
    }  // each dropped with entries handed out ahead
    EXPECT_EQ(run_top_stream(list, weights, {}, caps, &pool_of(4)), plain);
}

TEST(ThreadPool, StreamGoesOnInAForkedChild) {
    std::mt19937_64 rng(17);
    const BlockList list = BlockList::from(dense_blocks(rng, 90, 14));
    const std::vector<double> weights(90, 1.0);
    const SearchCaps caps{5000, std::nullopt};
    const StreamRun plain = run_top_stream(list, weights, {}, caps, nullptr);
    ASSERT_GT(plain.pairs.size(), 6u);
    std::optional<TopStream> stream;
    stream.emplace(list, weights, std::vector<std::uint64_t>{}, caps, nullptr, &pool_of(3));
    auto rest = [&] {
        StreamRun run;
        while (auto cover = stream->next())
            run.pairs.emplace_back(std::bit_cast<std::uint64_t>(cover->score), cover->blocks);
        run.end = stream->end();
        return run;
    };
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(stream->next().has_value());
    const pid_t child = fork();  // helpers may be expanding entries handed out ahead
    ASSERT_NE(child, -1);
    if (child == 0) {
        const bool same = rest() == plain_rest(plain, 3);
        stream.reset();  // its helpers are the parent's: nothing to wait for here
        pool_of(3).set_threads(1);  // joins the child's helpers: _exit runs no destructor
        _exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(rest(), plain_rest(plain, 3));
}

TEST(ParallelRanked, AnIdleSearchKeepsNoHelperBusy) {
    // Between steps, helpers only finish the entries handed out ahead: each step frees one
    // slot and refills it, so however long the search stays idle, the helpers have made no
    // more expansions than there are slots plus steps.
    std::mt19937_64 rng(23);
    const BlockList list = BlockList::from(dense_blocks(rng, 120, 16));
    const std::vector<double> weights(120, 1.0);
    AvgSearch search = build_avg_search(list, weights, {}, nullptr, &pool_of(3));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(search.step().has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(search.helper_expansions(), 10u + 2u * AvgSearch::kSlotsPerHelper);
    EXPECT_GT(search.frontier_size(), 2u * AvgSearch::kSlotsPerHelper);  // work was left
}
