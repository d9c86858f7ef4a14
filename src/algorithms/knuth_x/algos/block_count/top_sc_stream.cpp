#include "top_sc_stream.hpp"

#include <algorithm>
#include <cmath>

#include "../../links/element_index.hpp"
#include "../included_blocks.hpp"

namespace xcover {

namespace {

std::string list_length_error(const char* name, std::uint64_t length, std::uint64_t blocks) {
    return std::string(name) + " has " + std::to_string(length) + " entries for " + std::to_string(blocks) +
           " blocks";
}

}  // namespace

std::string top_sc_input_error(const BlockList& blocks, const BlockCountInputs& inputs,
                               Interrupt* interrupt) {
    InterruptPoll poll(interrupt);
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
        poll.tick(block.size() + 1);
        items.assign(block.begin(), block.end());
        std::sort(items.begin(), items.end());
        const auto twice = std::adjacent_find(items.begin(), items.end());
        if (twice != items.end())
            return "block " + std::to_string(b) + " lists element " + std::to_string(*twice) + " more than once";
    }
    const std::uint64_t elements = count_distinct_elements(blocks, interrupt);
    if (inputs.vertex_total != elements)
        return "vertex_total is " + std::to_string(inputs.vertex_total) + " but the blocks hold " +
               std::to_string(elements) + " distinct elements";
    return {};
}

TopScStream::TopScStream(const BlockList& blocks, BlockCountInputs inputs,
                         std::span<const std::uint64_t> include, SearchCaps caps, ThreadPool* pool,
                         const SecondaryItems& secondary, Interrupt* interrupt)
    : problem_(std::make_unique<ScProblem>()), work_(std::make_unique<ScWork>()),
      steps_(caps) {
    const std::string error = top_sc_input_error(blocks, inputs, interrupt);
    if (!error.empty()) fail("TopScStream: " + error);
    problem_->blocks = blocks;
    problem_->inputs = std::move(inputs);
    problem_->secondary.assign(secondary.elements.begin(), secondary.elements.end());
    sort_unique(problem_->secondary);
    problem_->colors.assign(secondary.colors.begin(), secondary.colors.end());
    build(include, caps, pool, interrupt);
}

// The included blocks become the prefix; the search runs on the blocks beside them.
void TopScStream::build(std::span<const std::uint64_t> include, SearchCaps caps, ThreadPool* pool,
                        Interrupt* interrupt) {
    problem_->prefix = distinct_included(problem_->blocks, include);
    complete_.emplace(*problem_, interrupt);
    InterruptPoll poll(interrupt);
    std::optional<BlockList> reduced;
    std::vector<ItemColor> kept_colors;  // of the blocks the reduction keeps
    if (!problem_->prefix.empty()) {
        reduced = blocks_beside(problem_->blocks, problem_->prefix, poll, problem_->secondary_items());
        if (!reduced) return;
        for (const ItemColor& color : problem_->colors)
            if (!(*reduced)[color.block].empty()) kept_colors.push_back(color);
    }
    const BlockList& searched = reduced ? *reduced : problem_->blocks;
    const SecondaryItems searched_secondary{problem_->secondary,
                                            reduced ? std::span<const ItemColor>(kept_colors)
                                                    : std::span<const ItemColor>(problem_->colors)};
    const ScProblem& problem = *problem_;
    ScWork* work = work_.get();
    // The root's bound polls through the work counters and, asked to stop, ends early with a
    // weaker bound: the stream is then dropped unfinished.
    work->interrupt = interrupt;
    setup_.target = interrupt;
    search_.emplace(searched, SearchCaps{std::nullopt, caps.max_heap}, &setup_,
                    [&](const ElementIndex&) { return TightScScorer(problem, work, &setup_); }, pool,
                    searched_secondary);
    setup_.target = nullptr;
    work->interrupt = nullptr;
    if (work->stop_requested) throw SearchInterrupted();
}

void TopScStream::check_edges(const std::vector<std::uint64_t>& cover) const {
    const BlockCountInputs& inputs = problem_->inputs;
    std::uint64_t inside = 0;
    bool beyond = false;  // the sum passed 2^64 - 1, so edge_total too
    for (std::uint64_t b : cover) beyond |= __builtin_add_overflow(inside, at(inputs.edge_counts, b), &inside);
    if (!beyond && inside <= inputs.edge_total) return;
    std::string blocks;
    for (std::uint64_t b : cover) blocks += (blocks.empty() ? "" : ", ") + std::to_string(b);
    throw UnrankableCover("the partition [" + blocks + "] holds " +
                          (beyond ? std::string("more than 2**64 - 1") : std::to_string(inside)) +
                          " edges inside its blocks, more than edge_total (" +
                          std::to_string(inputs.edge_total) + ")");
}

std::optional<RankedCover> TopScStream::next(Interrupt* interrupt) {
    work_->interrupt = interrupt;
    if (held_) {
        std::optional<RankedCover> cover = std::move(held_);
        held_.reset();
        return cover;
    }
    using Search = OrderedSearch<TightScScorer>;
    return steps_.next(search_ ? &*search_ : nullptr, [&] {
        // Nothing has changed yet: a request here throws at once.
        work_->tick(1 + work_->new_units());
        if (work_->stop_requested) {
            work_->stop_requested = false;
            throw SearchInterrupted();
        }
    }, [&](const Search::Step& step) {
        std::optional<RankedCover> cover;
        if (step.status == StepStatus::Complete) {
            cover.emplace();
            cover->score = complete_->score(step.blocks, cover->blocks);
            check_edges(cover->blocks);
        }
        if (work_->stop_requested) {  // asked within the step, which is now complete
            work_->stop_requested = false;
            ++work_->stops_within_steps;
            held_ = std::move(cover);
            throw SearchInterrupted();
        }
        return cover;
    });
}

}  // namespace xcover
