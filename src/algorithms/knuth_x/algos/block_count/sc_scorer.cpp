#include "sc_scorer.hpp"

#include <algorithm>
#include <limits>

namespace xcover {

TreeOrder::TreeOrder(const BlockList& blocks, const SecondaryItems& secondary)
    : problem_(build_problem(blocks, nullptr, secondary)), owner_(problem_.links.column_count() + 1, kNoBlock) {}

std::vector<std::uint64_t> TreeOrder::order(std::span<const std::uint64_t> cover) {
    DancingLinks& links = problem_.links;
    for (std::uint64_t b : cover)
        for (std::uint64_t c : problem_.relabeled[b]) at(owner_, c) = b;
    std::vector<std::uint64_t> ordered;
    nodes_.clear();
    for (;;) {
        const std::uint64_t column = links.choose_column();
        if (column == DancingLinks::kComplete) break;
        const std::uint64_t block = column == DancingLinks::kDeadEnd ? kNoBlock : owner_[column];
        std::uint64_t node = column;
        if (block != kNoBlock)
            for (node = links.down(column); node != column && links.block_of(node) != block;)
                node = links.down(node);
        if (node == column) {
            for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
                links.uncover_rest_of_block(*it);
                links.uncover(links.column_of(*it));
            }
            fail("TreeOrder: the blocks are not an exact cover");
        }
        links.cover(column);
        links.cover_rest_of_block(node);
        nodes_.push_back(node);
        ordered.push_back(block);
    }
    for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
        links.uncover_rest_of_block(*it);
        links.uncover(links.column_of(*it));
    }
    for (std::uint64_t b : cover)
        for (std::uint64_t c : problem_.relabeled[b]) owner_[c] = kNoBlock;
    return ordered;
}

CompleteScore::CompleteScore(const ScProblem& problem, Interrupt* interrupt)
    : problem_(&problem), model_(problem.blocks, problem.inputs, interrupt) {
    if (!problem.prefix.empty()) order_.emplace(problem.blocks, problem.secondary_items());
}

double CompleteScore::score(std::span<const std::uint64_t> chosen, std::vector<std::uint64_t>& cover) {
    if (!order_) {
        cover.assign(chosen.begin(), chosen.end());
    } else {
        all_.assign(problem_->prefix.begin(), problem_->prefix.end());
        all_.insert(all_.end(), chosen.begin(), chosen.end());
        cover = order_->order(all_);
    }
    return model_.cover_score(cover);
}

TightScScorer::TightScScorer(const ScProblem& problem, ScWork* work, Interrupt* interrupt)
    : problem_(&problem), work_(work), bound_(problem.blocks, problem.inputs, true, problem.secondary, interrupt),
      complete_(problem, interrupt) {
    parent_prefix_ = bound_.empty_prefix();
    block_stamp_.assign(problem.blocks.size(), 0);
}

ScBound::Prefix TightScScorer::prefix_with(std::span<const std::uint64_t> chosen) const {
    ScBound::Prefix prefix = bound_.empty_prefix();
    for (std::uint64_t b : problem_->prefix) bound_.add_block(prefix, b);
    for (std::uint64_t b : chosen) bound_.add_block(prefix, b);
    return prefix;
}

TightScScorer::Counts TightScScorer::counts() const {
    return Counts{bound_.evaluations(), bound_.entries_scanned(), bound_.lp_pivots()};
}

void TightScScorer::count_bound(const Counts& before) {
    if (work_ == nullptr) return;
    ++work_->bounds;
    work_->evaluations += bound_.evaluations() - before.evaluations;
    work_->entries += bound_.entries_scanned() - before.entries;
    work_->pivots += bound_.lp_pivots() - before.pivots;
}

double TightScScorer::bounded(const ScBound::Prefix& prefix, const ScBound::View& view,
                              std::vector<double>& multipliers, const KelleyOptions& options) {
    const Counts before = counts();
    const double value = bound_.bound(prefix, view, multipliers, options, work_);
    count_bound(before);
    return value;
}

double TightScScorer::bounded_at_parent_prices(const ScBound::Prefix& prefix) {
    const Counts before = counts();
    const double value = bound_.bound_child(prefix, child_columns_, block_stamp_, stamp_);
    count_bound(before);
    return value;
}

double TightScScorer::root_score(const DancingLinks& links) {
    column_stamp_.assign(links.column_count() + 1, 0);
    begin_expansion(links);
    if (parent_view_.columns() == 0) return complete_.score({}, cover_);
    parent_prefix_ = prefix_with({});
    return bounded(parent_prefix_, parent_view_, root_multipliers_, root_options());
}

void TightScScorer::begin_expansion(const DancingLinks& links) {
    parent_columns_.clear();
    parent_view_.clear();
    for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) {
        parent_columns_.push_back(c);
        for (std::uint64_t i = links.down(c); i != c; i = links.down(i)) parent_view_.blocks.push_back(links.block_of(i));
        parent_view_.close_column();
    }
    parent_ready_ = false;
}

double TightScScorer::child_score(const DancingLinks& links, const BlockList& relabeled,
                                  const ChildContext& child) {
    if (!parent_ready_) prepare_parent(child.parent_blocks);
    // Asked to stop, a partial child takes the parent's bound (every cover below the child is
    // below the parent) without building its view, which on a large view is most of the
    // child's cost. A child is complete when its block holds every column left; it is always
    // keyed by its exact score.
    const bool complete = relabeled.list_size(child.block) == parent_columns_.size();
    if (!complete && work_ != nullptr) {
        work_->tick(work_->new_units());
        if (work_->stop_requested) return parent_bound_;
    }
    stamp_removed(links, relabeled, child.block);
    child_columns_.clear();
    for (std::uint64_t k = 0; k < parent_columns_.size(); ++k)
        if (column_stamp_[parent_columns_[k]] != stamp_) child_columns_.push_back(k);
    if (child_columns_.empty()) {
        chosen_.assign(child.parent_blocks.begin(), child.parent_blocks.end());
        chosen_.push_back(child.block);
        return complete_.score(chosen_, cover_);
    }
    ScBound::Prefix prefix = parent_prefix_;
    bound_.add_block(prefix, child.block);
    // Priced for the first partial child only: an entry refined and not expanded needs none.
    if (!prices_fixed_) {
        bound_.fix_prices(parent_view_, parent_multipliers_, parent_prices_);
        prices_fixed_ = true;
    }
    // Every cover below the child is below its parent: the parent's full bound holds too.
    return std::max(parent_bound_, bounded_at_parent_prices(prefix));
}

// The child removes its columns and every block that meets them. With colors, it keeps the
// blocks giving one of its colored columns its color: a column it finds purified in that
// color (its node cleansed) keeps every block left in it; in a column not yet purified the
// list holds exactly the blocks left, and those of another color (or none) go.
void TightScScorer::stamp_removed(const DancingLinks& links, const BlockList& relabeled, std::uint64_t block) {
    ++stamp_;
    const auto columns = relabeled[block];
    const std::uint64_t first = links.first_node(relabeled, block);
    for (std::uint64_t k = 0; k < columns.size(); ++k) {
        const std::uint64_t c = columns[k];
        at(column_stamp_, c) = stamp_;
        const std::uint32_t color = links.color_of(first + k);
        if (color != 0 && links.column_of(first + k) == DancingLinks::kCleansed) continue;
        for (std::uint64_t i = links.down(c); i != c; i = links.down(i))
            if (color == 0 || links.color_of(i) != color) block_stamp_[links.block_of(i)] = stamp_;
    }
}

double TightScScorer::entry_bound(const DancingLinks& links, const std::vector<std::uint64_t>& path) {
    begin_expansion(links);
    if (parent_view_.columns() == 0) return complete_.score(path, cover_);
    prepare_parent(path);
    return parent_bound_;
}

// The entry's full bound, searched from the root's multipliers: a function of the entry
// alone, the same on every thread. Its best multipliers start every child's bound. Kept for
// the last entry: the step that refines an entry is often followed by its expansion.
void TightScScorer::prepare_parent(std::span<const std::uint64_t> path) {
    parent_prefix_ = prefix_with(path);
    const bool known = known_parent_ && std::equal(path.begin(), path.end(), known_path_.begin(), known_path_.end());
    if (known) {
        parent_multipliers_ = known_multipliers_;
        parent_prices_ = known_prices_;
        parent_bound_ = known_bound_;
    } else {
        known_parent_ = false;  // until the new one is complete
        parent_multipliers_ = root_multipliers_;
        const KelleyOptions options =
            bound_.prices_by_relaxation(parent_view_) ? priced_child_options() : child_options();
        parent_bound_ = bounded(parent_prefix_, parent_view_, parent_multipliers_, options);
        parent_prices_ = bound_.best_prices();
        if (!parent_prices_.empty() && parent_prices_.size() != parent_columns_.size())
            fail("TightScScorer: one relaxation price per column");
        known_path_.assign(path.begin(), path.end());
        known_multipliers_ = parent_multipliers_;
        known_prices_ = parent_prices_;
        known_bound_ = parent_bound_;
        known_parent_ = true;
    }
    parent_ready_ = true;
    prices_fixed_ = false;
}

}  // namespace xcover
