// The scorer of the ranked block-count stream (top_sc_stream.hpp) for OrderedSearch.
//
// A complete child is keyed by its exact score (BlockCountModel::score of its blocks in the
// order of the unrestricted search, the order get_topn_sc lists them in), a partial child by
// ScBound's lower bound: a cheap one (child_score) when pushed, the full one (entry_bound)
// when the search first pops it (OrderedSearch's lazy keys). Since no bound exceeds the score of any cover below it, covers leave
// the search in nondecreasing exact score.
//
// The search may run on a reduced list (blocks that meet an included block emptied), with
// the included blocks as a fixed prefix of every entry: `prefix` below. TreeOrder gives a
// cover's blocks in the order of the unrestricted search, so scores do not depend on the
// reduction.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../links/dancinglinks.hpp"
#include "../../search/depth_first.hpp"
#include "../../interrupt.hpp"
#include "../../search/ordered_search.hpp"
#include "block_count.hpp"
#include "../numeric/kelley.hpp"
#include "sc_bound.hpp"

namespace xcover {

// The order in which the unrestricted search (every block, no include) chooses the blocks of a
// cover: at each level the block of the cover holding the branch column.
class TreeOrder {
public:
    // `secondary`: the elements the search never branches on and their colors, as for the
    // stream.
    explicit TreeOrder(const BlockList& blocks, const SecondaryItems& secondary = {});
    std::vector<std::uint64_t> order(std::span<const std::uint64_t> cover);

private:
    Problem problem_;
    std::vector<std::uint64_t> owner_;  // per column, during order()
    std::vector<std::uint64_t> nodes_;  // per level, during order()
};

// Read-only data of one stream, shared by the stream and its scorer.
struct ScProblem {
    BlockList blocks;                    // the caller's blocks
    BlockCountInputs inputs;
    std::vector<std::uint64_t> prefix;   // included blocks, first occurrence order
    std::vector<std::uint64_t> secondary;  // elements a cover may leave uncovered, ascending
    std::vector<ItemColor> colors;         // the colors blocks give some of them
    SecondaryItems secondary_items() const { return SecondaryItems{secondary, colors}; }
};

// Work counters and the interrupt polling of one stream, owned by the stream.
//
// A step can take long (it bounds every child), so the scorer polls between two children's
// bounds. It cannot throw there (the search would lose the entry it is expanding): a request
// sets `stop_requested`, the step ends with the parent's bound as the key of the children
// left (lower than their own bounds, so still admissible), and the stream throws once the
// step is complete. Helper threads never see it: their scorers have none (for_helper), so
// the counters are those of the search's thread alone.
struct ScWork final : StopCheck {
    std::uint64_t bounds = 0;
    std::uint64_t evaluations = 0;
    std::uint64_t entries = 0;  // view entries scanned by the bound
    std::uint64_t pivots = 0;   // simplex pivots of the relaxation

    Interrupt* interrupt = nullptr;
    bool stop_requested = false;
    std::uint64_t stops_within_steps = 0;
    // Counts `units` of work (about one search node each); every InterruptPoll::kInterval
    // units asks the Interrupt. Never throws.
    void tick(std::uint64_t units) {
        budget -= static_cast<std::int64_t>(units);
        if (budget > 0) return;
        budget = InterruptPoll::kInterval;
        if (interrupt != nullptr && interrupt->requested()) stop_requested = true;
    }
    // Within one bound: counts the units and cuts the bound short once a stop is requested
    // (a weaker bound is still admissible).
    bool stop_now(std::uint64_t units) override {
        tick(units);
        return stop_requested;
    }
    // Units of the work counted since the last call.
    std::uint64_t new_units() {
        const std::uint64_t now = evaluations + entries / 64;
        const std::uint64_t units = now - counted;
        counted = now;
        return units;
    }

private:
    std::int64_t budget = InterruptPoll::kInterval;
    std::uint64_t counted = 0;
};

// Exact scores of complete covers. A cover that leaves secondary elements uncovered is
// scored as complete all the same (BlockCountModel::cover_score).
class CompleteScore {
public:
    // `interrupt`, when given, is polled while the model is built (SearchInterrupted).
    explicit CompleteScore(const ScProblem& problem, Interrupt* interrupt = nullptr);
    // `chosen`: the blocks after the prefix, in the search's order. Writes the cover's blocks
    // in the unrestricted search's order into `cover` and returns its score.
    double score(std::span<const std::uint64_t> chosen, std::vector<std::uint64_t>& cover);

private:
    const ScProblem* problem_;
    BlockCountModel model_;
    std::optional<TreeOrder> order_;  // only with a prefix
    std::vector<std::uint64_t> all_;
};

class TightScScorer {
public:
    // With colors, a child's view keeps the blocks agreeing with its colors (child_score).
    static constexpr bool kHandlesColors = true;

    // `interrupt`, when given, is polled while the scorer is built (SearchInterrupted); the
    // scorer does not keep it.
    TightScScorer(const ScProblem& problem, ScWork* work, Interrupt* interrupt = nullptr);

    double root_score(const DancingLinks& links);
    void begin_expansion(const DancingLinks& links);
    double child_weight_sum(double parent_sum, std::uint64_t block) const {
        return parent_sum + problem_->inputs.weights[checked(block, problem_->inputs.weights.size())];
    }
    // A partial child's key is cheap: its bound evaluated once at its parent's multipliers and
    // relaxation prices (ScBound::bound_child), with no simplex and no view of its own. The search refines it
    // with entry_bound when it first pops the child.
    double child_score(const DancingLinks& links, const BlockList& relabeled, const ChildContext& child);
    // The full key of the entry of `path` that `links` shows: its exact score when complete,
    // else its bound searched from the root's multipliers (child_options), the bound whose
    // multipliers start its children's.
    double entry_bound(const DancingLinks& links, const std::vector<std::uint64_t>& path);
    std::uint64_t child_cost(const DancingLinks&) const { return 1; }

    // A copy for a helper thread (Speculation): it neither counts into nor polls through the
    // stream's ScWork, which belongs to the search's thread; everything else it holds is its
    // own or read-only (the ScProblem), and its scores are those of this scorer when it is
    // not asked to stop.
    TightScScorer for_helper() const {
        TightScScorer copy(*this);
        copy.work_ = nullptr;
        return copy;
    }

    static KelleyOptions root_options() { return KelleyOptions{120, 1e-4, 32}; }
    static KelleyOptions child_options() { return KelleyOptions{40, 1e-3, 24, 4}; }
    // An entry's full bound when the relaxation prices its view: one evaluation at the root's
    // multipliers. The prices then carry the bound; searching the multipliers again per entry
    // (child_options) moved no key enough to change a step (sbm50: the same 3,540 steps) and
    // took most of the time.
    static KelleyOptions priced_child_options() { return KelleyOptions{1, 1e-3, 24, 0}; }

private:
    ScBound::Prefix prefix_with(std::span<const std::uint64_t> chosen) const;
    // Sets the parent_* fields for the entry of `path`, whose view begin_expansion built.
    void prepare_parent(std::span<const std::uint64_t> path);
    double bounded(const ScBound::Prefix& prefix, const ScBound::View& view,
                   std::vector<double>& multipliers, const KelleyOptions& options);
    double bounded_at_parent_prices(const ScBound::Prefix& prefix);
    // Adds the work `bound_` did since `before` to the stream's counters.
    struct Counts {
        std::uint64_t evaluations, entries, pivots;
    };
    Counts counts() const;
    void count_bound(const Counts& before);

    const ScProblem* problem_;
    ScWork* work_;
    ScBound bound_;
    CompleteScore complete_;
    std::vector<double> root_multipliers_, parent_multipliers_;
    std::vector<double> parent_prices_;  // per view column (none: zeros)
    // The entry being expanded: its active columns and their blocks.
    std::vector<std::uint64_t> parent_columns_;
    ScBound::View parent_view_;
    std::vector<std::uint64_t> child_columns_;  // the parent's view columns a child keeps
    ScBound::Prefix parent_prefix_;
    double parent_bound_ = 0.0;  // the key of children bounded after a stop request
    bool parent_ready_ = false;
    bool prices_fixed_ = false;  // bound_ holds the parent's prices (ScBound::fix_prices)
    // The last entry prepare_parent bounded in full, with its bound and multipliers.
    bool known_parent_ = false;
    std::vector<std::uint64_t> known_path_;
    std::vector<double> known_multipliers_, known_prices_;
    double known_bound_ = 0.0;
    std::vector<std::uint64_t> column_stamp_, block_stamp_;
    std::uint64_t stamp_ = 0;
    std::vector<std::uint64_t> chosen_, cover_;

    // Stamps the blocks the child of `block` removes from the parent's view.
    void stamp_removed(const DancingLinks& links, const BlockList& relabeled, std::uint64_t block);
};

}  // namespace xcover
