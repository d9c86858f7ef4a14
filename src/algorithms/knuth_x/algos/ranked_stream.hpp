// The loop both ranked streams (TopStream, TopScStream) run: a best-first search stepped until
// its next complete cover, under the stream's caps, with the reason the stream ended.
#pragma once

#include <cstdint>
#include <optional>

#include "../search/ordered_search.hpp"
#include "../search/ranked_cover.hpp"

namespace xcover {

class RankedSteps {
public:
    // `max_iter` counts the stream's steps over its whole life; `max_heap` is the search's
    // own cap, read here only to tell why the search ended.
    explicit RankedSteps(SearchCaps caps) : max_iter_(caps.max_iter), max_heap_(caps.max_heap) {}

    // Steps `search` (nullptr when no cover can exist) until `take(step)` returns a cover, or
    // the stream ends (end() tells why). `before_step()` runs before every step, when nothing
    // has changed yet: an exception it throws leaves the stream as it was. `take` sees every
    // step once it is counted.
    template <class Search, class BeforeStep, class Take>
    std::optional<RankedCover> next(Search* search, BeforeStep&& before_step, Take&& take) {
        while (end_ == StreamEnd::Running) {
            if (search == nullptr) {
                end_ = StreamEnd::Exhausted;
                break;
            }
            if (max_iter_ && steps_ >= *max_iter_) {
                end_ = StreamEnd::StepCap;
                break;
            }
            before_step();
            auto step = search->step();
            if (!step) {
                end_ = max_heap_ && search->frontier_size() >= *max_heap_ ? StreamEnd::HeapCap
                                                                            : StreamEnd::Exhausted;
                break;
            }
            ++steps_;
            if (std::optional<RankedCover> cover = take(*step)) return cover;
        }
        return std::nullopt;
    }

    StreamEnd end() const noexcept { return end_; }
    std::uint64_t steps() const noexcept { return steps_; }

private:
    std::optional<std::uint64_t> max_iter_;
    std::optional<std::uint64_t> max_heap_;
    std::uint64_t steps_ = 0;
    StreamEnd end_ = StreamEnd::Running;
};

}  // namespace xcover
