// The covers of get_top one at a time, each with its weight sum: a stream a caller can stop
// (when the costs become uninteresting, or on an interrupt) and resume.
//
// The stream is get_top's search itself: the same covers in the same order, each with the
// weight sum get_top's order is built on (the blocks' weights summed from -0.0 in order of
// choice). With `include`, only covers holding every listed block (repeats ignored) come out:
// the search never chooses a block that meets an included block without being one, and is
// otherwise unchanged (the matrix keeps every block, so columns are chosen and entries scored
// as without `include`). Its pops are then get_top's with the entries holding such a block
// left out, so the covers are get_top's covers that hold the included blocks, in get_top's
// order, listing their blocks in the same order with the same weight sums, bit for bit.
// Included blocks that overlap, an empty one, or an element that only blocks meeting them
// hold give an empty stream.
//
// `secondary` lists elements a cover may leave uncovered (and covers at most once), as for
// DepthFirstSearch: the search never branches on them, so a block holding only such elements
// is never chosen. The order stays exactly nondecreasing: the lower bound spreads a block's
// weight over its primary entries alone (primary_shares). Without it, nothing changes.
// Its colors (colors.hpp) let blocks share a secondary element they give the same color: the
// search chooses blocks as DLX2 does, and a child's bound counts the blocks its colors leave.
//
// Without caps, `include` and `secondary`, where a cutoff is sound (cost_cutoff.hpp), the
// stream runs in rounds: a search with a cutoff for the first n covers (get_topn's), from
// which only those n are taken, then one for 4n whose first covers, already handed out, are
// skipped, and so on. The first n covers of a search with a cutoff for n are those of the
// plain search (docs/architecture.md), so the stream is the plain one. Each round's search
// is capped from the start by the costs the rounds before it saw (cheapest_covers), which
// changes how long it takes, never what it finds. When a round would
// hold too many candidates, or after a few of its set-ups are interrupted in a row, the plain
// search (built with the stream) takes over, skipping what the rounds handed out.
//
// Interrupts: next() polls between steps, never inside one, so SearchInterrupted leaves the
// stream as it was before the step; the next call goes on with nothing lost or repeated.
// Helpers (see the constructor) never poll it; dropping the stream stops them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../../interrupt.hpp"
#include "../../links/block_list.hpp"
#include "../../links/colors.hpp"
#include "../../search/ranked_cover.hpp"
#include "../ranked_stream.hpp"
#include "get_top.hpp"

namespace xcover {

// TopStream's rounds (defined here, complete before the stream, which emplaces it): the problem (owned, as each round builds a search of it), the current round's
// n and search, the covers that search has reported and those the stream handed out.
struct TopStreamRounds {
    BlockList blocks;
    std::vector<double> weights;
    ThreadPool* pool = nullptr;
    std::uint64_t n = 1;
    // The round's first n covers and their weight sums, from a replay of its search, or
    // the search itself when its tree is too large to replay.
    std::optional<CoverList> covers;
    std::vector<double> sums;
    std::optional<CutoffAvgSearch> search;
    std::uint64_t reported = 0;
    std::uint64_t handed_out = 0;
    // Each round over: its n and its n-th cover's weight sum, from which the next round's
    // search predicts a cap (cheapest_covers' `known`).
    std::vector<CostAt> costs;
    AvgSearch::AheadCounts ahead;  // of the rounds over
    std::uint64_t interrupted_builds = 0;  // in a row
    bool over = false;       // every cover handed out
    bool given_way = false;  // the plain search took over
};

class TopStream {
public:
    // `weights` holds one weight per block at least (the caller checks); `include` indices
    // below the block count. `interrupt` is polled while the search is set up. With a pool
    // set above one thread, helpers expand the best pending entries ahead (OrderedSearch);
    // the covers, their order and their weight sums are those of one thread.
    TopStream(const BlockList& blocks, std::vector<double> weights,
              std::span<const std::uint64_t> include, SearchCaps caps,
              Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr,
              const SecondaryItems& secondary = {});

    // The next cover, or nullopt once the stream has ended (see end()).
    std::optional<RankedCover> next(Interrupt* interrupt = nullptr);

    StreamEnd end() const noexcept { return rounds_ && rounds_->over ? StreamEnd::Exhausted : steps_.end(); }
    // Steps whose expansion a helper made, and the others (for tests and benchmarks).
    AvgSearch::AheadCounts ahead_counts() const noexcept {
        AvgSearch::AheadCounts counts = search_ ? search_->ahead_counts() : AvgSearch::AheadCounts{};
        if (rounds_) {
            counts.taken += rounds_->ahead.taken;
            counts.redone += rounds_->ahead.redone;
            counts.here += rounds_->ahead.here;
            if (rounds_->search) {
                counts.taken += rounds_->search->ahead_counts().taken;
                counts.redone += rounds_->search->ahead_counts().redone;
                counts.here += rounds_->search->ahead_counts().here;
            }
        }
        return counts;
    }
    // Whether the stream still runs in rounds of searches with a cutoff.
    bool in_rounds() const noexcept { return rounds_ && !rounds_->given_way; }

private:
    // Round set-ups interrupted in a row after which the plain search takes over.
    static constexpr std::uint64_t kInterruptedBuilds = 3;
    // The next cover of the rounds; nullopt once they are over or have given way.
    std::optional<RankedCover> next_in_rounds(Interrupt* interrupt);
    std::optional<RankedCover> next_replayed(TopStreamRounds& r);
    // Builds the next round's search, or gives way to the plain search.
    void start_round(Interrupt* interrupt);
    // The plain search goes on from here, past the covers the rounds handed out.
    void give_way();

    // The caller's interrupt while a search is set up, none after.
    SetupOnlyInterrupt setup_;  // outlives the searches, which hold it
    std::optional<TopStreamRounds> rounds_;
    std::uint64_t skip_ = 0;  // covers of the plain search that the rounds handed out
    std::optional<AvgSearch> search_;  // absent when no cover can exist
    RankedSteps steps_;
    InterruptPoll poll_;
};

}  // namespace xcover
