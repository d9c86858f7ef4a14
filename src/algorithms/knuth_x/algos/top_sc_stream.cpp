#include "top_sc_stream.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "../links/element_index.hpp"

namespace xcover {

namespace {

std::string list_length_error(const char* name, std::uint64_t length, std::uint64_t blocks) {
    return std::string(name) + " has " + std::to_string(length) + " entries for " + std::to_string(blocks) +
           " blocks";
}

}  // namespace

std::string top_sc_input_error(const BlockList& blocks, const BlockCountInputs& inputs) {
    const std::uint64_t n = blocks.size();
    if (inputs.weights.size() != n) return list_length_error("weights", inputs.weights.size(), n);
    if (inputs.edge_counts.size() != n) return list_length_error("edge_counts", inputs.edge_counts.size(), n);
    if (inputs.labels.size() != n) return list_length_error("labels", inputs.labels.size(), n);
    for (std::uint64_t b = 0; b < n; ++b)
        if (!std::isfinite(inputs.weights[b]))
            return "weights[" + std::to_string(b) + "] is not finite (" + std::to_string(inputs.weights[b]) + ")";
    std::vector<std::uint64_t> items;
    for (std::uint64_t b = 0; b < n; ++b) {
        const auto block = blocks[b];
        items.assign(block.begin(), block.end());
        std::sort(items.begin(), items.end());
        const auto twice = std::adjacent_find(items.begin(), items.end());
        if (twice != items.end())
            return "block " + std::to_string(b) + " lists element " + std::to_string(*twice) + " more than once";
    }
    const std::uint64_t elements = count_distinct_elements(blocks);
    if (inputs.vertex_total != elements)
        return "vertex_total is " + std::to_string(inputs.vertex_total) + " but the blocks hold " +
               std::to_string(elements) + " distinct elements";
    return {};
}

TopScStream::TopScStream(const BlockList& blocks, BlockCountInputs inputs,
                         std::span<const std::uint64_t> include, SearchCaps caps)
    : problem_(std::make_unique<ScProblem>()), work_(std::make_unique<ScWork>()),
      max_iter_(caps.max_iter), max_heap_(caps.max_heap) {
    const std::string error = top_sc_input_error(blocks, inputs);
    if (!error.empty()) fail("TopScStream: " + error);
    problem_->blocks = blocks;
    problem_->inputs = std::move(inputs);
    build(include, caps);
}

// The included blocks become the prefix; the search runs on the blocks that meet none of
// them, the others emptied (an empty block is never chosen), so block indices stay.
void TopScStream::build(std::span<const std::uint64_t> include, SearchCaps caps) {
    const BlockList& blocks = problem_->blocks;
    std::set<std::uint64_t> seen, taken;
    bool possible = true;
    for (std::uint64_t b : include) {
        checked(b, blocks.size());
        if (!seen.insert(b).second) continue;
        problem_->prefix.push_back(b);
        if (blocks.list_size(b) == 0) possible = false;
        for (std::uint64_t e : blocks[b])
            if (!taken.insert(e).second) possible = false;
    }
    BlockList reduced;
    std::set<std::uint64_t> reachable(taken);
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const auto items = blocks[b];
        const bool meets = std::any_of(items.begin(), items.end(), [&](std::uint64_t e) { return taken.count(e) > 0; });
        if (!meets) {
            reduced.push_list(items);
            reachable.insert(items.begin(), items.end());
        } else {
            reduced.close_list();
        }
    }
    if (reachable.size() != problem_->inputs.vertex_total) possible = false;
    complete_.emplace(*problem_);
    if (!possible) return;
    const ScProblem& problem = *problem_;
    ScWork* work = work_.get();
    search_.emplace(reduced, SearchCaps{std::nullopt, caps.max_heap}, nullptr,
                    [&](const ElementIndex&) { return TightScScorer(problem, work); });
}

std::optional<RankedCover> TopScStream::next(Interrupt* interrupt) {
    work_->interrupt = interrupt;
    if (held_) {
        std::optional<RankedCover> cover = std::move(held_);
        held_.reset();
        return cover;
    }
    while (end_ == StreamEnd::Running) {
        if (!search_) {
            end_ = StreamEnd::Exhausted;
            break;
        }
        if (max_iter_ && steps_ >= *max_iter_) {
            end_ = StreamEnd::StepCap;
            break;
        }
        // Nothing has changed yet: a request here throws at once.
        work_->tick(1 + work_->new_units());
        if (work_->stop_requested) {
            work_->stop_requested = false;
            throw SearchInterrupted();
        }
        auto step = search_->step();
        if (!step) {
            end_ = max_heap_ && search_->frontier_size() >= *max_heap_ ? StreamEnd::HeapCap : StreamEnd::Exhausted;
            break;
        }
        ++steps_;
        std::optional<RankedCover> cover;
        if (step->status == StepStatus::Complete) {
            cover.emplace();
            cover->score = complete_->score(step->blocks, cover->blocks);
        }
        if (work_->stop_requested) {  // asked within the step, which is now complete
            work_->stop_requested = false;
            ++work_->stops_within_steps;
            held_ = std::move(cover);
            throw SearchInterrupted();
        }
        if (cover) return cover;
    }
    return std::nullopt;
}

}  // namespace xcover
