#include "depth_first.hpp"

#include <algorithm>

#include "../links/element_index.hpp"
#include "branch_order.hpp"

namespace xcover {

Problem build_problem(const BlockList& blocks, Interrupt* interrupt,
                      const SecondaryItems& secondary) {
    const ElementIndex index = build_element_index(blocks, secondary.elements, interrupt);
    BlockList relabeled = relabel_all(index, blocks, interrupt);
    const std::vector<std::uint32_t> colors = node_colors(blocks, index, relabeled, secondary, interrupt);
    DancingLinks links(relabeled, index.column_count(), interrupt, index.primary_count(), colors);
    return Problem{std::move(relabeled), std::move(links)};
}

namespace {

// Which blocks `include` rules out: those meeting an included block in a column they cannot
// share with it. A column is shared only by blocks giving it the same color.
class IncludedClaims {
public:
    explicit IncludedClaims(const Problem& problem)
        : problem_(problem), owner_(problem.links.column_count() + 1, kNoBlock),
          color_(problem.links.column_count() + 1, 0) {}

    // Claims the columns of included block `b`; false when it cannot join the blocks already
    // claimed (or holds no primary column, so is never chosen).
    bool claim(std::uint64_t b) {
        const auto columns = problem_.relabeled[b];
        if (columns.empty() || columns.front() > problem_.links.primary_count()) return false;
        bool fits = true;
        for (std::uint64_t k = 0; k < columns.size(); ++k) {
            const std::uint64_t c = columns[k];
            const std::uint32_t color = color_at(b, k);
            if (at(owner_, c) == kNoBlock) {
                owner_[c] = b;
                color_[c] = color;
            } else if (owner_[c] != b && !(color != 0 && color == color_[c])) {
                fits = false;
            }
        }
        return fits;
    }
    // Whether block `b` (not included) meets a claimed column it cannot share.
    bool conflicts(std::uint64_t b) const {
        const auto columns = problem_.relabeled[b];
        for (std::uint64_t k = 0; k < columns.size(); ++k) {
            const std::uint64_t c = columns[k];
            if (owner_[c] == kNoBlock) continue;
            const std::uint32_t color = color_at(b, k);
            if (color == 0 || color != color_[c]) return true;
        }
        return false;
    }

private:
    // The color of the node of block b's k-th column.
    std::uint32_t color_at(std::uint64_t b, std::uint64_t k) const {
        if (!problem_.links.has_colors()) return 0;
        return problem_.links.color_of(problem_.links.first_node(problem_.relabeled, b) + k);
    }

    const Problem& problem_;
    std::vector<std::uint64_t> owner_;  // per column: the first included block holding it
    std::vector<std::uint32_t> color_;  // per column: the color it was claimed in, 0 for none
};

}  // namespace

DepthFirstSearch::DepthFirstSearch(const BlockList& blocks, std::span<const std::uint64_t> include,
                                   Interrupt* interrupt, const SecondaryItems& secondary)
    : problem_(build_problem(blocks, interrupt, secondary)), poll_(interrupt) {
    if (include.empty()) return;
    restricted_ = true;
    IncludedClaims claims(problem_);
    std::vector<char> included(blocks.size(), 0);
    for (std::uint64_t b : include) {
        // A block without a primary column (empty, say) is never chosen.
        if (!included[checked(b, blocks.size())] && !claims.claim(b)) impossible_ = true;
        included[b] = 1;
    }
    excluded_.assign(blocks.size(), 0);
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        poll_.tick(problem_.relabeled.list_size(b) + 1);
        excluded_[b] = !included[b] && claims.conflicts(b);
    }
}

std::uint64_t DepthFirstSearch::candidate_from(std::uint64_t node, std::uint64_t column) const {
    const DancingLinks& links = problem_.links;
    if (restricted_)
        while (node != column && excluded_[links.block_of(node)]) node = links.down(node);
    return node;
}

std::uint64_t DepthFirstSearch::first_candidate(std::uint64_t column) {
    if (!seeded_) return candidate_from(problem_.links.down(column), column);
    const std::uint64_t hash = position_hash();
    const std::size_t begin = ordered_nodes_.size();
    push_ordered_nodes(column, hash);
    if (ordered_nodes_.size() == begin) return column;
    ordered_levels_.push_back(OrderedLevel{hash, begin, begin});
    return ordered_nodes_[begin];
}

std::uint64_t DepthFirstSearch::next_candidate(const Level& level) {
    if (!seeded_) return candidate_from(problem_.links.down(level.node), level.column);
    if (ordered_levels_.empty()) fail("a seeded level without its order");
    OrderedLevel& ordered = ordered_levels_.back();
    if (++ordered.at < ordered_nodes_.size()) return ordered_nodes_[ordered.at];
    pop_ordered_level();
    return level.column;
}

std::uint64_t DepthFirstSearch::position_hash() const {
    if (ordered_levels_.size() != levels_.size()) fail("seeded levels out of step with the search");
    if (levels_.empty()) return root_hash_;
    return child_path_hash(ordered_levels_.back().hash, problem_.links.block_of(levels_.back().node));
}

void DepthFirstSearch::push_ordered_nodes(std::uint64_t column, std::uint64_t hash) {
    const DancingLinks& links = problem_.links;
    keyed_.clear();
    for (std::uint64_t node = candidate_from(links.down(column), column); node != column;
         node = candidate_from(links.down(node), column))
        keyed_.emplace_back(child_path_hash(hash, links.block_of(node)), static_cast<NodeIndex>(node));
    // The keys of one position are distinct (branch_order.hpp): the sort is deterministic.
    std::sort(keyed_.begin(), keyed_.end());
    for (const auto& [key, node] : keyed_) ordered_nodes_.push_back(node);
}

void DepthFirstSearch::pop_ordered_level() {
    if (ordered_levels_.empty()) fail("no seeded level to drop");
    ordered_nodes_.resize(ordered_levels_.back().begin);
    ordered_levels_.pop_back();
}

void DepthFirstSearch::order_chosen_level(std::uint64_t column, std::uint64_t node) {
    const std::uint64_t hash = position_hash();
    const std::size_t begin = ordered_nodes_.size();
    push_ordered_nodes(column, hash);
    const auto level_nodes = std::span(ordered_nodes_).subspan(begin);
    auto chosen = std::find(level_nodes.begin(), level_nodes.end(), node);
    // A block that `include` rules out may still be stepped into: it is tried last, alone.
    if (chosen == level_nodes.end()) {
        ordered_nodes_.push_back(static_cast<NodeIndex>(node));
        ordered_levels_.push_back(OrderedLevel{hash, begin, ordered_nodes_.size() - 1});
        return;
    }
    const auto at = begin + static_cast<std::size_t>(chosen - level_nodes.begin());
    ordered_levels_.push_back(OrderedLevel{hash, begin, at});
}

void DepthFirstSearch::order_branches(std::uint64_t seed) {
    unwind();
    seeded_ = true;
    root_hash_ = root_path_hash(seed);
}

void DepthFirstSearch::descend(std::uint64_t column, std::uint64_t node) {
    DancingLinks& links = problem_.links;
    // The level is recorded before the matrix changes: a refused allocation here leaves the
    // two in step, and unwinding undoes exactly what was done.
    levels_.push_back(Level{static_cast<NodeIndex>(column), static_cast<NodeIndex>(node)});
    links.cover(column);
    links.cover_rest_of_block(node);
}

bool DepthFirstSearch::backtrack() {
    DancingLinks& links = problem_.links;
    while (levels_.size() > floor_) {
        Level& level = levels_.back();
        links.uncover_rest_of_block(level.node);
        const std::uint64_t next = next_candidate(level);
        if (next != level.column) {
            level.node = static_cast<NodeIndex>(next);
            links.cover_rest_of_block(next);
            return true;
        }
        links.uncover(level.column);
        levels_.pop_back();
    }
    return false;
}

bool DepthFirstSearch::next() {
    switch (phase_) {
        case Phase::Done:
            return false;
        case Phase::AtCover:
            phase_ = Phase::Running;
            if (!backtrack()) {
                phase_ = Phase::Done;
                return false;
            }
            break;
        case Phase::Fresh:
            if (impossible_) {
                phase_ = Phase::Done;
                return false;
            }
            phase_ = Phase::Running;
            break;
        case Phase::Running:
            break;
    }
    DancingLinks& links = problem_.links;
    for (;;) {
        poll_.tick();
        const std::uint64_t column = links.choose_column();
        if (column == DancingLinks::kComplete) {
            phase_ = Phase::AtCover;
            return true;
        }
        if (column != DancingLinks::kDeadEnd) {
            const std::uint64_t first = first_candidate(column);
            if (first != column) {
                descend(column, first);
                continue;
            }
        }
        if (!backtrack()) {
            phase_ = Phase::Done;
            return false;
        }
    }
}

void DepthFirstSearch::read_cover() {
    chosen_.clear();
    for (const Level& level : levels_) chosen_.push_back(problem_.links.block_of(level.node));
}

std::pair<std::uint64_t, std::uint64_t> DepthFirstSearch::level_place(std::size_t k) const {
    const Level& level = at(levels_, k);
    if (seeded_) {
        const OrderedLevel& ordered = at(ordered_levels_, k);
        const std::size_t end = k + 1 < ordered_levels_.size() ? ordered_levels_[k + 1].begin : ordered_nodes_.size();
        return {ordered.at - ordered.begin, end - ordered.begin};
    }
    // A chosen column keeps its nodes while deeper levels cover others: each of its blocks
    // that meets a deeper choice left with the column.
    const DancingLinks& links = problem_.links;
    std::uint64_t place = 0, count = 0;
    for (std::uint64_t node = candidate_from(links.down(level.column), level.column); node != level.column;
         node = candidate_from(links.down(node), level.column)) {
        if (node == level.node) place = count;
        ++count;
    }
    return {place, std::max<std::uint64_t>(count, place + 1)};
}

double DepthFirstSearch::done_fraction() const {
    if (phase_ == Phase::Done) return 1.0;
    double done = 0.0, share = 1.0;
    for (std::size_t k = floor_; k < levels_.size(); ++k) {
        const auto [place, count] = level_place(k);
        share /= static_cast<double>(count);
        done += share * static_cast<double>(place);
    }
    if (phase_ == Phase::AtCover) done += share;
    return std::min(done, 1.0);
}

void DepthFirstSearch::unwind() {
    DancingLinks& links = problem_.links;
    while (!levels_.empty()) {
        links.uncover_rest_of_block(levels_.back().node);
        links.uncover(levels_.back().column);
        levels_.pop_back();
    }
    ordered_levels_.clear();
    ordered_nodes_.clear();
    chosen_.clear();
    floor_ = 0;
    phase_ = Phase::Fresh;
}

void DepthFirstSearch::start_at(std::span<const std::uint64_t> path) {
    unwind();
    if (impossible_) {
        phase_ = Phase::Done;
        return;
    }
    for (std::uint64_t block : path) step_into(block);
    floor_ = levels_.size();
    phase_ = Phase::Fresh;
}

DepthFirstSearch::Outcome DepthFirstSearch::branch_blocks(std::vector<std::uint64_t>& blocks) {
    poll_.tick();
    blocks.clear();
    if (impossible_) return Outcome::DeadEnd;
    const DancingLinks& links = problem_.links;
    const std::uint64_t column = links.choose_column();
    if (column == DancingLinks::kComplete) return Outcome::Complete;
    if (column != DancingLinks::kDeadEnd && seeded_) {
        const std::size_t begin = ordered_nodes_.size();
        push_ordered_nodes(column, position_hash());
        for (std::size_t i = begin; i < ordered_nodes_.size(); ++i)
            blocks.push_back(links.block_of(ordered_nodes_[i]));
        ordered_nodes_.resize(begin);
    } else if (column != DancingLinks::kDeadEnd) {
        for (std::uint64_t node = candidate_from(links.down(column), column); node != column;
             node = candidate_from(links.down(node), column))
            blocks.push_back(links.block_of(node));
    }
    return blocks.empty() ? Outcome::DeadEnd : Outcome::Branch;
}

void DepthFirstSearch::step_into(std::uint64_t block) {
    poll_.tick();
    DancingLinks& links = problem_.links;
    const std::uint64_t column = links.choose_column();
    if (column == DancingLinks::kComplete || column == DancingLinks::kDeadEnd)
        fail("block " + std::to_string(block) + " lies below the end of its path");
    std::uint64_t node = links.down(column);
    while (node != column && links.block_of(node) != block) node = links.down(node);
    if (node == column)
        fail("block " + std::to_string(block) + " is not in the branch column of its level");
    if (seeded_) order_chosen_level(column, node);
    descend(column, node);
    phase_ = Phase::Fresh;
}

void DepthFirstSearch::step_back() {
    poll_.tick();
    if (levels_.empty()) fail("no choice left to undo");
    DancingLinks& links = problem_.links;
    links.uncover_rest_of_block(levels_.back().node);
    links.uncover(levels_.back().column);
    if (seeded_) pop_ordered_level();
    levels_.pop_back();
}

DepthFirstSearch::Expansion DepthFirstSearch::expand(std::span<const std::uint64_t> path) {
    unwind();
    Expansion expansion;
    if (impossible_) return expansion;
    for (std::uint64_t block : path) step_into(block);
    expansion.complete = branch_blocks(expansion.blocks) == Outcome::Complete;
    return expansion;
}

}  // namespace xcover
