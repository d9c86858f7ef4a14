#include "top_stream.hpp"

#include <algorithm>

#include "../polled_sort.hpp"

namespace xcover {

namespace {

// The blocks of `blocks` with every block that meets an included one emptied, or nullopt
// when no cover can hold all of `prefix`.
std::optional<BlockList> blocks_beside(const BlockList& blocks, std::span<const std::uint64_t> prefix,
                                       InterruptPoll& poll) {
    std::vector<std::uint64_t> taken;
    for (std::uint64_t b : prefix) {
        if (blocks.list_size(b) == 0) return std::nullopt;  // an empty block is never chosen
        const auto items = blocks[b];
        taken.insert(taken.end(), items.begin(), items.end());
    }
    const std::size_t listed = taken.size();
    sort_unique_polled(taken, poll);
    if (taken.size() != listed) return std::nullopt;  // included blocks overlap (or repeat)
    auto is_taken = [&](std::uint64_t e) { return std::binary_search(taken.begin(), taken.end(), e); };
    BlockList reduced;
    std::vector<std::uint64_t> reachable(taken);
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const auto items = blocks[b];
        poll.tick(items.size() + 1);
        if (std::none_of(items.begin(), items.end(), is_taken)) {
            reduced.push_list(items);
            reachable.insert(reachable.end(), items.begin(), items.end());
        } else {
            reduced.close_list();
        }
    }
    // Every element must still be coverable: one that only blocks meeting the prefix hold
    // would vanish from the reduced problem.
    sort_unique_polled(reachable, poll);
    if (reachable.size() != count_distinct_elements(blocks)) return std::nullopt;
    return reduced;
}

}  // namespace

TopStream::TopStream(const BlockList& blocks, std::vector<double> weights,
                     std::span<const std::uint64_t> include, SearchCaps caps,
                     Interrupt* interrupt)
    : weights_(std::move(weights)), max_heap_(caps.max_heap), poll_(interrupt) {
    for (std::uint64_t b : include) {
        checked(b, blocks.size());
        if (std::find(prefix_.begin(), prefix_.end(), b) == prefix_.end()) prefix_.push_back(b);
    }
    for (std::uint64_t b : prefix_) prefix_sum_ += at(weights_, b);
    // The step cap counts the stream's own steps; the search keeps the heap cap.
    step_limit_ = caps.max_iter;
    const SearchCaps search_caps{std::nullopt, caps.max_heap};
    setup_.target = interrupt;
    auto build = [&](const BlockList& searched) {
        // Built in place: a search stays where it was built.
        search_.emplace(searched, search_caps, &setup_, [&](const ElementIndex& index) {
            return AvgScorer(searched, weights_, index);
        });
    };
    if (prefix_.empty()) {
        build(blocks);
    } else if (std::optional<BlockList> reduced = blocks_beside(blocks, prefix_, poll_)) {
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
