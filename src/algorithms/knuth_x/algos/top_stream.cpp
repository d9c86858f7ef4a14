#include "top_stream.hpp"

#include "included_blocks.hpp"

namespace xcover {

TopStream::TopStream(const BlockList& blocks, std::vector<double> weights,
                     std::span<const std::uint64_t> include, SearchCaps caps,
                     Interrupt* interrupt, ThreadPool* pool,
                     std::span<const std::uint64_t> secondary)
    : weights_(std::move(weights)), max_heap_(caps.max_heap), poll_(interrupt) {
    prefix_ = distinct_included(blocks, include);
    for (std::uint64_t b : prefix_) prefix_sum_ += at(weights_, b);
    // The step cap counts the stream's own steps; the search keeps the heap cap.
    step_limit_ = caps.max_iter;
    const SearchCaps search_caps{std::nullopt, caps.max_heap};
    setup_.target = interrupt;
    auto build = [&](const BlockList& searched) {
        // Built in place: a search stays where it was built.
        search_.emplace(searched, search_caps, &setup_, [&](const ElementIndex& index) {
            return AvgScorer(searched, weights_, index);
        }, pool, secondary);
    };
    if (prefix_.empty()) {
        build(blocks);
    } else if (std::optional<BlockList> reduced = blocks_beside(blocks, prefix_, poll_, secondary)) {
        build(*reduced);
    }
    setup_.target = nullptr;
}

std::optional<RankedCover> TopStream::next(Interrupt* interrupt) {
    poll_.set(interrupt);
    while (end_ == StreamEnd::Running) {
        if (!search_) {
            end_ = StreamEnd::Exhausted;
            break;
        }
        if (step_limit_ && *step_limit_ == 0) {
            end_ = StreamEnd::StepCap;
            break;
        }
        // Before the step changes anything: an interrupt leaves the stream as it was. A step
        // touches up to thousands of nodes, so each one asks.
        poll_.tick(InterruptPoll::kInterval);
        auto step = search_->step();
        if (!step) {
            end_ = max_heap_ && search_->frontier_size() >= *max_heap_ ? StreamEnd::HeapCap
                                                                        : StreamEnd::Exhausted;
            break;
        }
        if (step_limit_) --*step_limit_;
        if (step->status != StepStatus::Complete) continue;
        RankedCover cover{prefix_, prefix_.empty() ? step->weight_sum : prefix_sum_};
        for (std::uint64_t b : step->blocks) {
            cover.blocks.push_back(b);
            if (!prefix_.empty()) cover.score += at(weights_, b);
        }
        return cover;
    }
    return std::nullopt;
}

}  // namespace xcover
