#include "split_levels.hpp"

#include <algorithm>
#include <bit>

namespace xcover {

void TreeWalk::open(Visitor& visitor) {
    const std::uint64_t depth = path_.size();
    if (blocks_.size() <= depth) {
        blocks_.emplace_back();
        next_.push_back(0);
    }
    const DepthFirstSearch::Outcome outcome = search_.branch_blocks(blocks_[depth]);
    const bool below = visitor.visit(depth, outcome, blocks_[depth], path_) &&
                       outcome == DepthFirstSearch::Outcome::Branch;
    next_[depth] = below ? 0 : blocks_[depth].size();
}

bool TreeWalk::advance(Visitor& visitor, std::uint64_t positions) {
    if (!started_) {
        started_ = true;
        open(visitor);
    }
    for (;;) {
        const std::uint64_t depth = path_.size();
        if (next_[depth] < blocks_[depth].size() && visitor.wants_below(depth)) {
            if (positions == 0) return false;
            --positions;
            const std::uint64_t block = blocks_[depth][next_[depth]++];
            search_.step_into(block);
            path_.push_back(block);
            open(visitor);
            continue;
        }
        if (depth == 0) {
            next_[0] = blocks_[0].size();  // over: later calls return at once
            return true;
        }
        search_.step_back();
        path_.pop_back();
    }
}

double TreeWalk::done_fraction() const {
    if (!started_) return 0.0;
    double done = 0.0, share = 1.0;
    for (std::size_t d = 0; d < blocks_.size() && d <= path_.size(); ++d) {
        const std::size_t k = blocks_[d].size();
        if (k == 0) break;
        // Above the walk's position the branch being walked is not behind it yet.
        const std::uint64_t behind = d < path_.size() ? next_[d] - 1 : next_[d];
        done += share * static_cast<double>(std::min<std::uint64_t>(behind, k)) / static_cast<double>(k);
        share /= static_cast<double>(k);
    }
    return std::min(done, 1.0);
}

bool LevelCounter::visit(std::uint64_t depth, DepthFirstSearch::Outcome outcome,
                         std::span<const std::uint64_t> blocks, std::span<const std::uint64_t>) {
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    Level& level = levels_[depth];
    ++level.positions;
    if (depth >= cap_) return false;  // counted, never expanded
    level.most = std::max(level.most, level.change);
    switch (outcome) {
        case DepthFirstSearch::Outcome::Complete:
            ++level.covers;
            break;
        case DepthFirstSearch::Outcome::DeadEnd:
            --level.change;
            break;
        case DepthFirstSearch::Outcome::Branch:
            level.change += static_cast<std::int64_t>(blocks.size()) - 1;
            break;
    }
    // Looked at often while the walk is young (small trees are capped too), then every 1024.
    if (++visits_ % 1024 == 0 || std::has_single_bit(visits_)) lower_cap();
    return outcome == DepthFirstSearch::Outcome::Branch;
}

// The frontier after pass d holds at least the positions of depth d seen so far and the
// covers above them seen so far: once that reaches `parts`, the passes stop by pass d + 1.
void LevelCounter::lower_cap() {
    std::uint64_t covers_above = 0;
    const std::uint64_t last = std::min<std::uint64_t>(levels_.size(), cap_);
    for (std::uint64_t d = 0; d < last; ++d) {
        if (levels_[d].positions + covers_above >= parts_) {
            cap_ = d;
            return;
        }
        covers_above += levels_[d].covers;
    }
}

LevelCut LevelCounter::cut() const {
    std::uint64_t covers_above = 0;
    for (std::uint64_t d = 0;; ++d) {
        if (d >= levels_.size() || levels_[d].positions == 0) return LevelCut{true, 0, 0, covers_above};
        const Level& level = levels_[d];
        const std::uint64_t size = level.positions + covers_above;  // after pass d
        if (d == cap_ || size + static_cast<std::uint64_t>(level.most) >= parts_)
            return LevelCut{false, d, size};
        covers_above += level.covers;
    }
}

std::vector<std::uint64_t> PrefixWriter::write(std::vector<std::uint64_t> path) {
    for (std::uint64_t b : path) at(on_path_, b) = 1;
    for (std::uint64_t b : include_) {
        if (at(on_path_, b)) continue;  // on the path, or named twice
        on_path_[b] = 1;
        path.push_back(b);
    }
    for (std::uint64_t b : path) on_path_[b] = 0;
    return path;
}

namespace {

// Writes the frontier where the passes stop: the covers above the cut, and at the cut's
// depth the children of the positions expanded before the stop, then the positions after it.
class CutWriter final : public TreeWalk::Visitor {
public:
    CutWriter(const LevelCut& cut, std::uint64_t parts, PrefixWriter& writer)
        : cut_(cut), parts_(parts), size_(cut.start_size), writer_(writer) {}

    bool visit(std::uint64_t depth, DepthFirstSearch::Outcome outcome,
               std::span<const std::uint64_t> blocks, std::span<const std::uint64_t> path) override {
        using Outcome = DepthFirstSearch::Outcome;
        if (cut_.never || depth < cut_.depth) {
            if (outcome == Outcome::Complete) emit(path, {});
            return outcome == Outcome::Branch;
        }
        if (!stopped_ && size_ >= parts_) stopped_ = true;
        if (stopped_ || outcome == Outcome::Complete) {
            emit(path, {});
        } else if (outcome == Outcome::DeadEnd) {
            --size_;
        } else {
            for (std::uint64_t block : blocks) emit(path, std::span(&block, 1));
            size_ += blocks.size() - 1;
        }
        return false;
    }
    bool wants_below(std::uint64_t depth) const override { return cut_.never || depth < cut_.depth; }

    std::vector<std::vector<std::uint64_t>> prefixes;

private:
    void emit(std::span<const std::uint64_t> path, std::span<const std::uint64_t> extra) {
        std::vector<std::uint64_t> p(path.begin(), path.end());
        p.insert(p.end(), extra.begin(), extra.end());
        prefixes.push_back(writer_.write(std::move(p)));
    }

    LevelCut cut_;
    std::uint64_t parts_;
    std::uint64_t size_;
    bool stopped_ = false;
    PrefixWriter& writer_;
};

}  // namespace

std::vector<std::vector<std::uint64_t>> prefixes_at_cut(DepthFirstSearch& search, const LevelCut& cut,
                                                        std::uint64_t parts,
                                                        std::span<const std::uint64_t> include,
                                                        std::uint64_t block_count) {
    if (cut.never && cut.covers == 0) return {};  // nothing to write: spare a walk of the tree
    PrefixWriter writer(include, block_count);
    CutWriter visitor(cut, parts, writer);
    TreeWalk walk(search);
    while (!walk.advance(visitor, UINT64_MAX)) {
    }
    return std::move(visitor.prefixes);
}

std::vector<std::vector<std::uint64_t>> split_by_levels(const BlockList& blocks, std::uint64_t parts,
                                                        std::span<const std::uint64_t> include,
                                                        Interrupt* interrupt) {
    DepthFirstSearch search(blocks, include, interrupt);
    LevelCounter counter(parts);
    TreeWalk walk(search);
    while (!walk.advance(counter, UINT64_MAX)) {
    }
    return prefixes_at_cut(search, counter.cut(), parts, include, blocks.size());
}

}  // namespace xcover
