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
#include "../../search/ranked_cover.hpp"
#include "../ranked_stream.hpp"
#include "get_top.hpp"

namespace xcover {

class TopStream {
public:
    // `weights` holds one weight per block at least (the caller checks); `include` indices
    // below the block count. `interrupt` is polled while the search is set up. With a pool
    // set above one thread, helpers expand the best pending entries ahead (OrderedSearch);
    // the covers, their order and their weight sums are those of one thread.
    TopStream(const BlockList& blocks, std::vector<double> weights,
              std::span<const std::uint64_t> include, SearchCaps caps,
              Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr,
              std::span<const std::uint64_t> secondary = {});

    // The next cover, or nullopt once the stream has ended (see end()).
    std::optional<RankedCover> next(Interrupt* interrupt = nullptr);

    StreamEnd end() const noexcept { return steps_.end(); }
    // Steps whose expansion a helper made, and the others (for tests and benchmarks).
    AvgSearch::AheadCounts ahead_counts() const noexcept {
        return search_ ? search_->ahead_counts() : AvgSearch::AheadCounts{};
    }

private:
    // The caller's interrupt while the search is set up, none after.
    SetupOnlyInterrupt setup_;  // outlives the search, which holds it
    std::optional<AvgSearch> search_;  // absent when no cover can exist
    RankedSteps steps_;
    InterruptPoll poll_;
};

}  // namespace xcover
