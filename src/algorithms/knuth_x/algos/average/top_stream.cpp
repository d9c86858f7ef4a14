#include "top_stream.hpp"

#include "../included_blocks.hpp"
#include "cost_cutoff.hpp"

namespace xcover {

TopStream::TopStream(const BlockList& blocks, std::vector<double> weights,
                     std::span<const std::uint64_t> include, SearchCaps caps,
                     Interrupt* interrupt, ThreadPool* pool,
                     const SecondaryItems& secondary)
    : steps_(caps), poll_(interrupt) {
    // The step cap counts the stream's own steps; the search keeps the heap cap.
    const SearchCaps search_caps{std::nullopt, caps.max_heap};
    if (!caps.max_iter && !caps.max_heap && include.empty() && secondary.elements.empty() &&
        cutoff_applies(blocks, weights)) {
        TopStreamRounds& r = rounds_.emplace();  // in place: a round's search stays where it was built
        r.blocks = blocks;
        r.weights = weights;
        r.pool = pool;
    }
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

void TopStream::start_round(Interrupt* interrupt) {
    TopStreamRounds& r = *rounds_;
    // Polls the caller's interrupt while the round is built. An interrupted build starts over
    // at the next call, so a caller stopped often might never see one end: after a few builds
    // interrupted in a row, the plain search, built with the stream and stopped only between
    // its steps, goes on instead.
    setup_.target = interrupt;
    struct Detach {
        SetupOnlyInterrupt& setup;
        ~Detach() { setup.target = nullptr; }
    } detach{setup_};
    try {
        std::shared_ptr<const CoverCandidates> candidates =
            cutoff_candidates(r.blocks, r.weights, r.n, &setup_, r.pool, r.costs);
        if (candidates) {
            r.sums.clear();
            r.covers = replay_cutoff_search(r.blocks, r.weights, candidates, r.n, &setup_, &r.sums);
            r.reported = 0;
            r.interrupted_builds = 0;
            if (r.covers) return;
            r.search.emplace(r.blocks, SearchCaps{}, &setup_, [&](const ElementIndex& index) {
                return CutoffAvgScorer(AvgScorer(r.blocks, r.weights, index), std::move(candidates));
            }, r.pool);
            r.reported = 0;
            r.interrupted_builds = 0;
            return;
        }
    } catch (const SearchInterrupted&) {
        r.covers.reset();
        r.search.reset();
        if (++r.interrupted_builds >= kInterruptedBuilds) give_way();
        throw;
    }
    give_way();  // too many candidates
}

void TopStream::give_way() {
    TopStreamRounds& r = *rounds_;
    skip_ = r.handed_out;
    r.given_way = true;
    r.blocks = BlockList{};
    r.weights = {};
}

// The next cover of a replayed round not yet handed out; nothing once the round is over
// (the next one is due, or every cover was handed out).
std::optional<RankedCover> TopStream::next_replayed(TopStreamRounds& r) {
    const CoverList& covers = *r.covers;
    while (r.reported < covers.size()) {
        const std::uint64_t i = r.reported++;
        if (r.reported <= r.handed_out) continue;  // handed out in an earlier round
        ++r.handed_out;
        return RankedCover{std::vector<std::uint64_t>(covers[i].begin(), covers[i].end()), r.sums.at(i)};
    }
    if (covers.size() < r.n) {
        r.over = true;  // fewer covers than n: every one is listed
    } else {
        r.costs.push_back(CostAt{r.n, r.sums.at(r.n - 1)});
        r.covers.reset();
        r.n = r.n <= UINT64_MAX / 4 ? r.n * 4 : UINT64_MAX;
    }
    return std::nullopt;
}

std::optional<RankedCover> TopStream::next_in_rounds(Interrupt* interrupt) {
    TopStreamRounds& r = *rounds_;
    while (!r.over && !r.given_way) {
        if (!r.search && !r.covers) {
            start_round(interrupt);
            continue;
        }
        if (r.covers) {
            if (std::optional<RankedCover> cover = next_replayed(r)) return cover;
            continue;
        }
        while (r.reported < r.n) {
            poll_.tick(InterruptPoll::kInterval);  // before the step: nothing changed yet
            std::optional<CutoffAvgSearch::Step> step = r.search->step();
            if (!step) {  // fewer covers than n: every one is listed
                r.over = true;
                return std::nullopt;
            }
            if (step->status != StepStatus::Complete) continue;
            if (++r.reported == r.n) r.costs.push_back(CostAt{r.n, step->weight_sum});
            if (r.reported <= r.handed_out) continue;  // handed out in an earlier round
            ++r.handed_out;
            return RankedCover{step->blocks, step->weight_sum};
        }
        const auto& counts = r.search->ahead_counts();
        r.ahead.taken += counts.taken;
        r.ahead.redone += counts.redone;
        r.ahead.here += counts.here;
        r.search.reset();
        r.n = r.n <= UINT64_MAX / 4 ? r.n * 4 : UINT64_MAX;
    }
    return std::nullopt;
}

std::optional<RankedCover> TopStream::next(Interrupt* interrupt) {
    poll_.set(interrupt);
    if (rounds_ && !rounds_->given_way) {
        std::optional<RankedCover> cover = next_in_rounds(interrupt);
        if (cover || rounds_->over) return cover;
        // The rounds gave way to the plain search: on below.
    }
    AvgSearch* search = search_ ? &*search_ : nullptr;
    return steps_.next(search, [&] {
        // Before the step changes anything: an interrupt leaves the stream as it was. A step
        // touches up to thousands of nodes, so each one asks.
        poll_.tick(InterruptPoll::kInterval);
    }, [&](const AvgSearch::Step& step) -> std::optional<RankedCover> {
        if (step.status != StepStatus::Complete) return std::nullopt;
        if (skip_ > 0) {  // handed out by the rounds already
            --skip_;
            return std::nullopt;
        }
        return RankedCover{step.blocks, step.weight_sum};
    });
}

}  // namespace xcover
