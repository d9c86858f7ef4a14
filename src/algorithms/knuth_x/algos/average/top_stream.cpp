#include "top_stream.hpp"

#include "../included_blocks.hpp"
#include "cost_cutoff.hpp"

namespace xcover {

TopStream::TopStream(const BlockList& blocks, std::vector<double> weights,
                     std::span<const std::uint64_t> include, SearchCaps caps,
                     Interrupt* interrupt, ThreadPool* pool)
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
        }, pool);
    };
    const bool rounds = !caps.max_iter && !caps.max_heap && cutoff_applies(blocks, weights_);
    if (prefix_.empty()) {
        if (rounds) searched_ = blocks;
        else build(blocks);
    } else if (std::optional<BlockList> reduced = blocks_beside(blocks, prefix_, poll_)) {
        if (rounds) searched_ = std::move(*reduced);
        else build(*reduced);
    }
    pool_ = pool;
    setup_.target = nullptr;
}

RankedCover TopStream::ranked(const std::vector<std::uint64_t>& blocks, double weight_sum) const {
    RankedCover cover{prefix_, prefix_.empty() ? weight_sum : prefix_sum_};
    for (std::uint64_t b : blocks) {
        cover.blocks.push_back(b);
        if (!prefix_.empty()) cover.score += at(weights_, b);
    }
    return cover;
}

std::optional<RankedCover> TopStream::next_in_rounds(Interrupt* interrupt) {
    for (;;) {
        if (!round_search_) {
            // Built in place (a search stays where it was built), polling the caller's
            // interrupt only while it is built: an interrupt then leaves no round, and the
            // next call builds it again.
            setup_.target = interrupt;
            struct Detach {
                SetupOnly& setup;
                ~Detach() { setup.target = nullptr; }
            } detach{setup_};
            auto candidates = cutoff_candidates(*searched_, weights_, round_n_, &setup_);
            if (!candidates) {
                // Too many candidates: the plain search goes on from here.
                skip_ = handed_out_;
                search_.emplace(*searched_, SearchCaps{}, &setup_, [&](const ElementIndex& index) {
                    return AvgScorer(*searched_, weights_, index);
                }, pool_);
                searched_.reset();
                return std::nullopt;
            }
            round_search_.emplace(*searched_, SearchCaps{}, &setup_, [&](const ElementIndex& index) {
                return CutoffAvgScorer(AvgScorer(*searched_, weights_, index), std::move(candidates));
            }, pool_);
            round_taken_ = 0;
        }
        while (round_taken_ < round_n_) {
            poll_.tick(InterruptPoll::kInterval);
            auto step = round_search_->step();
            if (!step) return std::nullopt;  // fewer covers than round_n_: all are listed
            if (step->status != StepStatus::Complete) continue;
            if (++round_taken_ <= handed_out_) continue;  // handed out in an earlier round
            ++handed_out_;
            return ranked(step->blocks, step->weight_sum);
        }
        round_search_.reset();
        round_n_ = round_n_ <= UINT64_MAX / 4 ? round_n_ * 4 : UINT64_MAX;
    }
}

std::optional<RankedCover> TopStream::next(Interrupt* interrupt) {
    poll_.set(interrupt);
    if (searched_ && end_ == StreamEnd::Running) {
        std::optional<RankedCover> cover = next_in_rounds(interrupt);
        if (cover || searched_) {
            if (!cover) end_ = StreamEnd::Exhausted;
            return cover;
        }
        // The rounds gave way to the plain search: on below.
    }
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
        if (skip_ > 0) {  // handed out by the rounds already
            --skip_;
            continue;
        }
        return ranked(step->blocks, step->weight_sum);
    }
    return std::nullopt;
}

}  // namespace xcover
