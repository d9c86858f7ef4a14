// The covers of get_top one at a time, each with its weight sum: a stream a caller can stop
// (when the costs become uninteresting, or on an interrupt) and resume.
//
// Without `include` the stream is get_top's search itself: the same covers in the same order,
// each with the weight sum get_top's order is built on (the blocks' weights summed from -0.0
// in order of choice). With `include`, only covers holding every listed block (repeats
// ignored) come out: the included blocks form a fixed prefix of every cover, and the search
// runs on the blocks that meet none of them (the others emptied, so block indices stay), in
// nondecreasing weight sum when the weights allow it as for get_top. Included blocks that
// overlap, an empty one, or an element that only blocks meeting them hold give an empty
// stream.
//
// Without caps, where a cutoff is sound, the stream runs in rounds: a search with a cutoff for
// the first n covers (get_topn's), from which only those n are taken, then one for 4n whose
// first covers, already handed out, are skipped. Each round's first covers are those of the
// plain search (docs/architecture.md), so the stream is too.
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
              Interrupt* interrupt = nullptr, ThreadPool* pool = nullptr);

    // The next cover, or nullopt once the stream has ended (see end()).
    std::optional<RankedCover> next(Interrupt* interrupt = nullptr);

    StreamEnd end() const noexcept { return end_; }
    // Steps whose expansion a helper made, and the others (for tests and benchmarks).
    AvgSearch::AheadCounts ahead_counts() const noexcept {
        if (round_search_) {
            const auto& c = round_search_->ahead_counts();
            return AvgSearch::AheadCounts{c.taken, c.redone, c.here};
        }
        return search_ ? search_->ahead_counts() : AvgSearch::AheadCounts{};
    }
    // Whether the stream runs in rounds of searches with a cutoff.
    bool in_rounds() const noexcept { return searched_.has_value(); }

private:
    // The next cover of the rounds, or nullopt once they list no more (or once they give way
    // to the plain search, when too many covers are candidates: searched_ is then empty).
    std::optional<RankedCover> next_in_rounds(Interrupt* interrupt);
    RankedCover ranked(const std::vector<std::uint64_t>& blocks, double weight_sum) const;

    // Forwards to the caller's interrupt while the search is set up, and never asks after:
    // inside a step, an interrupt would leave an entry half expanded.
    class SetupOnly final : public Interrupt {
    public:
        Interrupt* target = nullptr;
        bool requested() override { return target != nullptr && target->requested(); }
    };

    SetupOnly setup_;  // outlives the search, which holds it
    std::vector<double> weights_;
    std::vector<std::uint64_t> prefix_;  // the included blocks, in order of first mention
    double prefix_sum_ = -0.0;
    std::optional<AvgSearch> search_;  // absent when no cover can exist
    std::optional<std::uint64_t> step_limit_;
    std::optional<std::uint64_t> max_heap_;
    StreamEnd end_ = StreamEnd::Running;
    InterruptPoll poll_;
    // Rounds (no caps): the blocks searched, the current round's n and search, how many
    // covers that search has reported, and how many the stream has handed out.
    std::optional<BlockList> searched_;
    ThreadPool* pool_ = nullptr;
    std::uint64_t round_n_ = 1;
    std::optional<CutoffAvgSearch> round_search_;
    std::uint64_t round_taken_ = 0;
    std::uint64_t handed_out_ = 0;
    std::uint64_t skip_ = 0;  // covers the plain search reports that the rounds handed out
};

}  // namespace xcover
