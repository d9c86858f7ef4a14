#include "avg_est.hpp"

#include <algorithm>
#include <optional>
#include <unordered_set>

namespace xcover {

std::vector<double> block_shares(const BlockList& partitions, std::span<const double> weights) {
    const std::uint64_t n = std::min<std::uint64_t>(partitions.size(), weights.size());
    std::vector<double> shares(n);
    for (std::uint64_t i = 0; i < n; ++i)
        shares[i] = weights[i] / static_cast<double>(partitions.block_size(i));
    return shares;
}

AvgEstLiteral::AvgEstLiteral(const BlockList& partitions, std::span<const double> weights) {
    const std::vector<double> shares = block_shares(partitions, weights);
    for (std::uint64_t i = 0; i < shares.size(); ++i) {
        auto block = partitions[i];
        rows_.push_back(Row{weights[i], shares[i], {block.begin(), block.end()}});
    }
}

std::pair<double, double> AvgEstLiteral::estimate(std::span<const std::uint64_t> chosen) const {
    std::unordered_set<std::uint64_t> taken;
    double chosen_part = -0.0;
    for (std::uint64_t b : chosen) {
        const Row& row = at(rows_, b);
        chosen_part += row.weight;
        taken.insert(row.elements.begin(), row.elements.end());
    }
    std::uint64_t largest = 0;
    for (const Row& row : rows_)
        for (std::uint64_t e : row.elements) largest = std::max(largest, e);
    const std::uint64_t slot_count = largest + 1;  // wraps to 0 for 2^64 - 1
    if (slot_count > (std::uint64_t{1} << 59)) fail("capacity overflow");
    std::vector<std::optional<double>> least(slot_count);

    for (const Row& row : rows_) {
        if (!taken.empty() &&
            std::any_of(row.elements.begin(), row.elements.end(),
                        [&](std::uint64_t e) { return taken.count(e) != 0; }))
            continue;
        for (std::uint64_t e : row.elements) {
            auto& slot = at(least, e);
            if (!slot || *slot > row.share) slot = row.share;
        }
    }
    double remainder = -0.0;
    for (const auto& slot : least)
        if (slot) remainder += *slot;
    return {chosen_part, remainder};
}

AvgScorer::AvgScorer(const BlockList& partitions, std::vector<double> weights,
                     const ElementIndex& index)
    : weights_(std::move(weights)),
      shares_(block_shares(partitions, weights_)),
      n_(shares_.size()) {
    const std::uint64_t m = index.column_count();
    by_value_.resize(m);
    for (std::uint64_t c = 0; c < m; ++c) by_value_[c] = c;
    const auto& elements = index.elements();
    std::sort(by_value_.begin(), by_value_.end(),
              [&](std::uint64_t a, std::uint64_t b) { return elements[a] < elements[b]; });
    parent_least_.assign(m, Least{0.0, false});
    child_least_.assign(m, Least{0.0, false});
    stamp_.assign(m, 0);
}

AvgScorer::Least AvgScorer::least_of_column(const DancingLinks& links, std::uint64_t column) const {
    // Rows sit in their column in ascending block index, so the first row at or beyond n
    // ends the part of the column that has weights.
    Least least{0.0, false};
    const std::uint64_t head = links.column_slot(column + 1).head;
    for (std::uint64_t i = links.links(head).down; i != head; i = links.links(i).down) {
        const std::uint64_t row = links.row(i);
        if (row >= n_) break;
        const double share = shares_[row];
        if (!least.present) {
            least = Least{share, true};
        } else if (least.value > share) {
            least.value = share;
        }
    }
    return least;
}

void AvgScorer::begin_expansion(const DancingLinks& links) {
    std::fill(parent_least_.begin(), parent_least_.end(), Least{0.0, false});
    for (std::uint64_t h = links.links(0).right; h != 0; h = links.links(h).right) {
        const std::uint64_t column = links.links(h).column - 1;
        at(parent_least_, column) = least_of_column(links, column);
    }
}

double AvgScorer::remainder() const {
    double sum = -0.0;
    for (std::uint64_t column : by_value_) {
        const Least& least =
            stamp_[column] == child_counter_ ? child_least_[column] : parent_least_[column];
        if (least.present) sum += least.value;
    }
    return sum;
}

double AvgScorer::root_score(const DancingLinks& links) {
    begin_expansion(links);
    ++child_counter_;  // no column carries this stamp: the parent's table is read as is
    return -0.0 + remainder();
}

double AvgScorer::child_weight_sum(double parent_sum, std::uint64_t block) const {
    checked(block, n_);  // a block beyond the weights cannot be scored
    return parent_sum + weights_[block];
}

double AvgScorer::child_score(DancingLinks& links, const BlockList& relabeled,
                              const ChildContext& child) {
    const auto columns = relabeled[child.block];
    ++child_counter_;
    for (std::uint64_t c : columns) links.cover(c);

    // The covered columns' own rings still list the rows that the child removes; each
    // removed row sits in the ring of the first covered column it meets.
    touched_.clear();
    for (std::uint64_t c : columns) {
        at(stamp_, c) = child_counter_;
        child_least_[c] = Least{0.0, false};
    }
    for (std::uint64_t c : columns) {
        const std::uint64_t head = links.column_slot(c + 1).head;
        for (std::uint64_t i = links.links(head).down; i != head; i = links.links(i).down) {
            for (std::uint64_t j = links.links(i).right; j != i; j = links.links(j).right) {
                const std::uint64_t column = links.links(j).column - 1;
                if (at(stamp_, column) == child_counter_) continue;
                stamp_[column] = child_counter_;
                touched_.push_back(column);
            }
        }
    }
    for (std::uint64_t column : touched_) child_least_[column] = least_of_column(links, column);
    const double rest = remainder();

    for (auto it = columns.rbegin(); it != columns.rend(); ++it) links.uncover(*it);
    return child.weight_sum + rest;
}

}  // namespace xcover
