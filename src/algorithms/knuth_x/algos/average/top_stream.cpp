#include "top_stream.hpp"

#include "../included_blocks.hpp"

namespace xcover {

TopStream::TopStream(const BlockList& blocks, std::vector<double> weights,
                     std::span<const std::uint64_t> include, SearchCaps caps,
                     Interrupt* interrupt, ThreadPool* pool,
                     std::span<const std::uint64_t> secondary)
    : steps_(caps), poll_(interrupt) {
    // The step cap counts the stream's own steps; the search keeps the heap cap.
    const SearchCaps search_caps{std::nullopt, caps.max_heap};
    std::shared_ptr<std::vector<char>> ruled_out;
    if (!include.empty()) {
        const std::vector<std::uint64_t> prefix = distinct_included(blocks, include);
        std::optional<std::vector<char>> meets = blocks_meeting(blocks, prefix, poll_, secondary);
        if (!meets) return;  // no cover holds them all
        for (std::uint64_t b : prefix) at(*meets, b) = 0;  // chosen, not ruled out
        ruled_out = std::make_shared<std::vector<char>>(std::move(*meets));
    }
    setup_.target = interrupt;
    // Built in place: a search stays where it was built.
    search_.emplace(blocks, search_caps, &setup_, [&](const ElementIndex& index) {
        AvgScorer scorer(blocks, std::move(weights), index);
        scorer.rule_out(ruled_out);
        return scorer;
    }, pool, secondary);
    setup_.target = nullptr;
}

std::optional<RankedCover> TopStream::next(Interrupt* interrupt) {
    poll_.set(interrupt);
    AvgSearch* search = search_ ? &*search_ : nullptr;
    return steps_.next(search, [&] {
        // Before the step changes anything: an interrupt leaves the stream as it was. A step
        // touches up to thousands of nodes, so each one asks.
        poll_.tick(InterruptPoll::kInterval);
    }, [](const AvgSearch::Step& step) -> std::optional<RankedCover> {
        if (step.status != StepStatus::Complete) return std::nullopt;
        return RankedCover{step.blocks, step.weight_sum};
    });
}

}  // namespace xcover
