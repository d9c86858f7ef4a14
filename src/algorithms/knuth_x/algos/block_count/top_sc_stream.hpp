// The covers of the block-count model in nondecreasing score, one at a time.
//
// TopScStream is a best-first search (OrderedSearch) keyed by TightScScorer: complete covers
// by their exact score, partial covers by ScBound's lower bound on every cover below them.
// Because no key of a partial cover exceeds the score of a cover below it, covers come out
// in nondecreasing exact score: the stream is exact, not a heuristic, provided the input
// passes top_sc_input_error (finite weights, no block listing an element twice, vertex_total
// equal to the number of distinct elements, every list as long as the blocks).
//
// Keys are lazy (OrderedSearch's "Lazy keys"): a partial child is pushed with a cheap bound
// (one evaluation at its parent's multipliers); when an entry first reaches the top of the
// frontier, a step gives it its full bound (searched from the root's multipliers, a function
// of the entry alone) and puts it back with the larger of the two keys and its insertion
// number; it is expanded once it is on top again. Fewer than one child in fifty is ever
// expanded on the planted-partition graphs, so most full bounds are never computed.
//
// Covers of equal score come out in the order of their entries' final keys and then of
// their insertion numbers: since a complete entry's key is its exact score, that is the
// order in which complete entries of equal score entered the search. That order follows
// from the keys, which depend on the entries alone, so the same input always gives the same
// order, with or without helpers, unless an interrupt stops a step midway (see below), which
// may reorder covers of equal score only. It need not be get_topn_sc's order of ties.
//
// Each cover's score is the one get_topn_sc ranks by, to the bit: BlockCountModel::score of
// the blocks in the order the unrestricted search chooses them, which is also the order the
// cover lists them in (and get_topn_sc's order for the same cover).
//
// `include`: only covers holding every listed block (indices below the block count; repeats
// are ignored). The search then runs on the blocks that meet no included block, with the
// included ones as a fixed part of every entry; included blocks that overlap, an empty one,
// or an element left with no block give an empty stream.
//
// `secondary`: elements a cover may leave uncovered (and covers at most once); the search
// never branches on them, so a block holding only such elements is never chosen. A cover
// is scored as one that covers every element (vertex_total still counts them all), and the
// bound spreads each block's terms over its primary elements alone (see ScBound), so the
// order stays exact. Its colors (colors.hpp) let blocks share a secondary element they give
// the same color: the search chooses blocks as DLX2 does and a child's view keeps the blocks
// its colors leave; the relaxation, over primary elements only, stays a lower bound.
//
// Caps: `max_iter` bounds the search steps over the stream's whole life, `max_heap` the
// frontier, as in get_topn_sc. A step is one pop of the frontier: it expands the entry (or
// reports it complete or a dead end), or, the first time the entry is popped, gives it its
// full key and puts it back (a refinement; every entry but the root takes one, complete ones
// included, so a cover takes at least two steps) (a full frontier ends the search after the
// step that filled it; children it left out are lost, so covers may then be missing, though
// those yielded stay in nondecreasing score). end() tells why a stream ended.
//
// Interrupts: next() polls the given Interrupt before each step and, through the scorer,
// between the bounds of one step's children, every few thousand units of work (a unit is
// about one search node; a bound's oracle evaluation counts one, and one per 64 entries it
// scans, one per 16 blocks a pivot of the relaxation prices), inside a bound too. A request
// before a step throws SearchInterrupted at once; one within a step cuts the bound being
// computed short (any multipliers and prices give a valid bound, only a weaker one) and lets
// the step finish at once with the parent's bound as the key of the partial children left
// (still admissible, so the order stays exact) and throws after it. Building the stream
// polls the Interrupt given to the constructor, through the root's bound. Either way the stream stands
// between two steps: the next call goes on with nothing lost or repeated (a cover found by
// the interrupted step is returned by the next call).
//
// Helpers: with a pool set above one thread, helper threads refine (full bound only) or
// expand the best pending entries ahead, each with a scorer of its own that never polls the
// Interrupt, and the search takes a bound or an expansion done ahead only as it stands,
// complete: it is the one the search's thread would make uninterrupted. So without
// interrupts the covers, their order and their scores are those of one thread, bit for bit. An interrupt within a step touches only entries the
// search's thread expands itself; as with one thread, covers of equal score may then come
// out in another order (which entries a helper took depends on timing). work() counts the
// search's thread's bounds only. A step that waits for a helper's expansion of its entry
// polls nothing until that expansion is done (one expansion: tens of milliseconds on sbm40).
// Dropping the stream stops the helpers.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../interrupt.hpp"
#include "../../search/ordered_search.hpp"
#include "../../search/ranked_cover.hpp"
#include "../ranked_stream.hpp"
#include "block_count.hpp"
#include "sc_scorer.hpp"

namespace xcover {

// Thrown by next() on reaching a cover whose blocks hold more edges than edge_total: its
// score has no meaning ((2R - 1)!! with R below zero), so the stream cannot rank it. The
// covers given before it are in exact order (none of them is below a partial cover holding
// too many edges), and the stream cannot go on. what() says which cover, in words the caller
// can show.
class UnrankableCover : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Empty when the stream's order is exact for this input; otherwise what is wrong, in words
// the caller can show (e.g. "weights[3] is not finite").
// `interrupt`, when given, is polled (SearchInterrupted).
std::string top_sc_input_error(const BlockList& blocks, const BlockCountInputs& inputs,
                               Interrupt* interrupt = nullptr);

class TopScStream {
public:
    // Fails with InternalFailure when top_sc_input_error(blocks, inputs) is not empty or an
    // included index is out of range: the caller checks first. Scores the root. With a pool
    // set above one thread, helpers bound the children of the best pending entries ahead
    // (OrderedSearch), each with its own scorer and work counters; see "Helpers" above.
    // `interrupt`, when given, is polled while the stream is built (the root's bound
    // included, which it may cut short): a request throws SearchInterrupted.
    TopScStream(const BlockList& blocks, BlockCountInputs inputs, std::span<const std::uint64_t> include,
                SearchCaps caps, ThreadPool* pool = nullptr, const SecondaryItems& secondary = {},
                Interrupt* interrupt = nullptr);

    // The next cover in nondecreasing score, or nullopt once the stream has ended (see end()).
    // May throw SearchInterrupted (see above), UnrankableCover or InternalFailure.
    std::optional<RankedCover> next(Interrupt* interrupt = nullptr);

    StreamEnd end() const noexcept { return steps_.end(); }
    std::uint64_t steps() const noexcept { return steps_.steps(); }
    // Steps whose expansion or refinement a helper made, and the others (for tests and
    // benchmarks).
    OrderedSearch<TightScScorer>::AheadCounts ahead_counts() const noexcept {
        return search_ ? search_->ahead_counts() : OrderedSearch<TightScScorer>::AheadCounts{};
    }
    std::uint64_t frontier_size() const noexcept { return search_ ? search_->frontier_size() : 0; }
    // A lower bound on the score of every cover not yet returned: the least key of the partial
    // covers the search holds (+inf when none is left). Nullopt when the stream ended by a cap
    // (the covers beyond it are unknown) or the least key is NaN.
    std::optional<double> pending_bound() const noexcept {
        if (steps_.end() != StreamEnd::Running && steps_.end() != StreamEnd::Exhausted) return std::nullopt;
        const std::optional<double> least = search_ ? search_->least_pending_key() : std::nullopt;
        if (!least) return std::numeric_limits<double>::infinity();
        if (std::isnan(*least)) return std::nullopt;
        return *least;
    }
    std::uint64_t frontier_bytes() const noexcept { return search_ ? search_->frontier_bytes() : 0; }
    const ScWork& work() const noexcept { return *work_; }

private:
    void build(std::span<const std::uint64_t> include, SearchCaps caps, ThreadPool* pool, Interrupt* interrupt);
    // Throws UnrankableCover when `cover` holds more edges than edge_total.
    void check_edges(const std::vector<std::uint64_t>& cover) const;

    // The caller's interrupt while the stream is built, none after: inside a step an
    // interrupt must not throw (ScWork polls instead).
    SetupOnlyInterrupt setup_;  // outlives the search, which holds it
    std::unique_ptr<ScProblem> problem_;  // stable address: the scorer points to it
    std::unique_ptr<ScWork> work_;
    std::optional<OrderedSearch<TightScScorer>> search_;  // absent when no cover can exist
    std::optional<CompleteScore> complete_;
    RankedSteps steps_;
    std::optional<RankedCover> held_;  // found by a step that was then interrupted
};

}  // namespace xcover
