// The ranked searches allocate per step only when a container of the search grows (a few
// times over thousands of steps), never per child scored. The global operator new of this
// test binary counts the allocations made while a Counting scope is open on the thread; every
// form of new and delete (plain, array, nothrow) goes to malloc and free, so that a sanitizer's
// own allocator never sees half of a pair. A Failing scope also makes its k-th allocation
// fail, as an exhausted memory limit would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <random>

// The replacement operators below pair operator new with std::malloc and operator delete
// with std::free, which is what they are for; the compiler cannot see the pairing.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include "algorithms/knuth_x/algos/average/avg_est.hpp"
#include "algorithms/knuth_x/algos/candidates.hpp"
#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "path_numbers.hpp"

namespace {

thread_local bool counting = false;
thread_local std::uint64_t allocations = 0;
thread_local std::uint64_t fail_at = 0;  // 0: none fails

// Counts the allocations of the current thread while it lives.
struct Counting {
    Counting() {
        allocations = 0;
        counting = true;
    }
    ~Counting() { counting = false; }
};

// Counting, with the `k`-th allocation refused.
struct Failing : Counting {
    explicit Failing(std::uint64_t k) { fail_at = k; }
    ~Failing() { fail_at = 0; }
};

// Counts an allocation; false when it is the one to refuse.
bool allowed() {
    if (!counting) return true;
    return ++allocations != fail_at;
}

}  // namespace

void* operator new(std::size_t size) {
    if (!allowed()) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (!allowed()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace xcover;

namespace {

// Blocks: every run of 1 to 3 consecutive elements of 0..23 (about 10^6 covers), random
// weights, labels = sizes.
struct Runs {
    BlockList list;
    BlockCountInputs inputs;
};

Runs make_runs() {
    std::mt19937_64 rng(5);
    std::vector<std::vector<std::uint64_t>> blocks;
    Runs r;
    for (std::uint64_t len = 1; len <= 3; ++len)
        for (std::uint64_t start = 0; start + len <= 24; ++start) {
            std::vector<std::uint64_t> b;
            for (std::uint64_t e = start; e < start + len; ++e) b.push_back(e);
            blocks.push_back(b);
            r.inputs.weights.push_back(std::uniform_real_distribution<double>(0.1, 2.0)(rng));
            r.inputs.edge_counts.push_back(len - 1);
            r.inputs.labels.push_back(len);
        }
    r.inputs.edge_total = 23;
    r.inputs.vertex_total = 24;
    r.list = BlockList::from(blocks);
    return r;
}

// Steps a search `warm` times, then counts the allocations of the next `steps` steps.
template <class Search>
std::uint64_t allocations_over(Search& search, int warm, int steps) {
    for (int i = 0; i < warm; ++i) (void)search.step();
    Counting scope;
    for (int i = 0; i < steps; ++i) (void)search.step();
    return allocations;
}

}  // namespace

TEST(Allocations, BlockCountScoresReuseTheirScratch) {
    const Runs r = make_runs();
    BlockCountModel model(r.list, r.inputs);
    const std::vector<std::uint64_t> longest = {0, 3, 6, 9, 12, 15, 18, 21, 2, 5, 8, 11, 14, 17, 20, 23};
    (void)model.score(longest);  // the scratch reaches its largest size once
    std::uint64_t counted = 0;
    {
        Counting scope;
        for (int i = 0; i < 1000; ++i) (void)model.score(std::span(longest).first(i % longest.size()));
        counted = allocations;
    }
    EXPECT_EQ(counted, 0u);
}

TEST(Allocations, BlockCountSearchStepsAllocateOnlyToGrow) {
    const Runs r = make_runs();
    BlockCountSearch search = build_block_count_search(r.list, r.inputs, {});
    // About 3 children per step: one allocation per child would count over 10,000.
    EXPECT_LT(allocations_over(search, 200, 5000), 100u);
}

TEST(Allocations, AverageEstimatorStepsAllocateOnlyToGrow) {
    const Runs r = make_runs();
    OrderedSearch<AvgScorer> search(r.list, {}, nullptr, [&](const ElementIndex& index) {
        return AvgScorer(r.list, r.inputs.weights, index);
    });
    EXPECT_LT(allocations_over(search, 200, 5000), 100u);
}

// A helper's scorer outlives an expansion that ran out of memory: the candidate filter's
// counts along its path must then rule out exactly what a fresh filter rules out. Every
// allocation of a path's count is made to fail in turn.
TEST(Allocations, CandidateCountsStayTrueAfterAFailedAllocation) {
    CoverList covers;
    for (const std::vector<std::uint64_t>& c : std::vector<std::vector<std::uint64_t>>{
             {0, 1, 2, 3}, {0, 1, 4, 5}, {0, 6, 7}, {8, 9}, {0, 1, 2, 9}})
        covers.push_list(c);
    const CoverCandidates candidates(covers, 10);
    xcover::testing::PathNumbers numbers;  // as a search numbers the paths
    auto extended = [&](HeldCounts& held, const std::vector<std::uint64_t>& parent, std::uint64_t block) {
        const std::vector<std::uint32_t> ids = numbers.ids_of(parent);
        return held.extended(candidates, ChildContext{parent, block, 0.0, ids});
    };
    const std::vector<std::pair<std::vector<std::uint64_t>, std::uint64_t>> children = {
        {{0, 1, 2}, 3}, {{0, 1, 2}, 9}, {{0, 1, 2}, 4}, {{0, 1}, 4}, {{0}, 6}, {{}, 8}, {{0, 1, 4}, 5}};
    std::uint64_t k = 1;
    for (;; ++k) {
        HeldCounts held;
        EXPECT_TRUE(extended(held, {0}, 1));  // a short path first: the long one must grow it
        bool failed = false;
        {
            Failing scope(k);
            try {
                (void)extended(held, {0, 1, 2}, 3);
            } catch (const std::bad_alloc&) {
                failed = true;
            }
        }
        if (!failed) break;  // past the count's last allocation
        for (const auto& [parent, block] : children) {
            HeldCounts fresh;
            EXPECT_EQ(extended(held, parent, block), extended(fresh, parent, block))
                << "allocation " << k << " failed; child " << block << " of a path of " << parent.size();
        }
    }
    EXPECT_GT(k, 1u);  // some allocation was made to fail
}
