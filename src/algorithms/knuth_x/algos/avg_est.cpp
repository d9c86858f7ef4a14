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
    parent_least_.assign(m, Least{true, false, 0.0, 0, 0, 0});
    stamp_.assign(m, 0);
}

double AvgScorer::share_of(const DancingLinks& links, std::uint64_t node) const {
    return shares_[checked(links.row(node), n_)];
}

// A row node is in the remaining matrix when its column still links to it: cover unlinks
// every row that meets a covered column from all its other columns.
bool AvgScorer::remaining(const DancingLinks& links, std::uint64_t node) const {
    return links.links(links.links(node).up).down == node;
}

// Whether the row of `node` meets a column of the block being scored (stamped columns).
bool AvgScorer::meets_child(const DancingLinks& links, std::uint64_t node) const {
    const std::uint64_t signature = at(signature_, node);
    if ((signature & child_signature_) == 0) return false;
    if (stamp_.size() <= 64) return true;
    std::uint64_t j = node;
    do {
        if (at(stamp_, links.links(j).column - 1) == child_counter_) return true;
        j = links.links(j).right;
    } while (j != node);
    return false;
}

double AvgScorer::root_score(const DancingLinks& links) {
    // Sort each column's rows below n by share once; rows are appended in index order and
    // the sort is stable, so equal shares (-0.0 and +0.0 included) keep index order.
    const std::uint64_t m = links.column_count();
    sorted_start_.assign(m + 1, 0);
    sorted_nodes_.clear();
    for (std::uint64_t c = 0; c < m; ++c) {
        sorted_start_[c] = sorted_nodes_.size();
        const std::uint64_t head = links.column_slot(c + 1).head;
        const std::uint64_t begin = sorted_nodes_.size();
        for (std::uint64_t i = links.links(head).down; i != head; i = links.links(i).down) {
            const std::uint64_t row = links.row(i);
            if (row >= n_) break;  // rows sit in ascending index
            if (!std::isnan(shares_[row])) sorted_nodes_.push_back(i);
        }
        std::stable_sort(sorted_nodes_.begin() + static_cast<std::ptrdiff_t>(begin), sorted_nodes_.end(),
                         [&](std::uint64_t a, std::uint64_t b) {
                             return shares_[links.row(a)] < shares_[links.row(b)];
                         });
    }
    sorted_start_[m] = sorted_nodes_.size();

    // Signatures are kept per node, so the overlap test reads one array.
    std::vector<std::uint64_t> by_row(links.row_count(), 0);
    for (std::uint64_t i = m + 1; i < links.node_count(); ++i)
        by_row[links.row(i)] |= std::uint64_t{1} << ((links.links(i).column - 1) % 64);
    signature_.assign(links.node_count(), 0);
    for (std::uint64_t i = m + 1; i < links.node_count(); ++i) signature_[i] = by_row[links.row(i)];

    begin_expansion(links);
    double sum = -0.0;
    for (std::uint64_t column : by_value_) {
        const Least& least = parent_least_[column];
        if (!least.covered && least.present) sum += least.value;
    }
    return -0.0 + sum;
}

void AvgScorer::begin_expansion(const DancingLinks& links) {
    for (Least& least : parent_least_) least.covered = true;
    for (std::uint64_t h = links.links(0).right; h != 0; h = links.links(h).right) {
        const std::uint64_t column = links.links(h).column - 1;
        Least& least = at(parent_least_, column);
        least = Least{false, false, 0.0, 0, 0, 0};
        const std::uint64_t first = links.links(h).down;
        if (first == h || links.row(first) >= n_) continue;
        least.present = true;
        least.first = first;
        least.value = share_of(links, first);
        least.depends_on = at(signature_, first);
        if (std::isnan(least.value)) continue;
        std::uint64_t pos = sorted_start_[column];
        while (!remaining(links, at(sorted_nodes_, pos))) ++pos;
        least.min_pos = pos;
        least.value = share_of(links, sorted_nodes_[pos]);
        least.depends_on |= signature_[sorted_nodes_[pos]];
    }
}

AvgScorer::Least AvgScorer::child_least(const DancingLinks& links, std::uint64_t column,
                                        const Least& parent) const {
    const bool first_gone = meets_child(links, parent.first);
    const bool nan_first = std::isnan(share_of(links, parent.first));
    if (!first_gone && (nan_first || !meets_child(links, at(sorted_nodes_, parent.min_pos))))
        return parent;

    Least least = parent;
    const std::uint64_t head = links.column_slot(column + 1).head;
    std::uint64_t first = parent.first;
    while (first != head && meets_child(links, first)) first = links.links(first).down;
    if (first == head || links.row(first) >= n_) {
        least.present = false;
        return least;
    }
    least.first = first;
    least.value = share_of(links, first);
    if (std::isnan(least.value)) return least;
    // The parent's least row may be gone; rows before it in sorted order were gone already.
    std::uint64_t pos = parent.min_pos;
    if (nan_first) pos = sorted_start_[column];
    while (!remaining(links, at(sorted_nodes_, pos)) || meets_child(links, sorted_nodes_[pos])) ++pos;
    least.min_pos = pos;
    least.value = share_of(links, sorted_nodes_[pos]);
    return least;
}

double AvgScorer::child_weight_sum(double parent_sum, std::uint64_t block) const {
    checked(block, n_);  // a block beyond the weights cannot be scored
    return parent_sum + weights_[block];
}

double AvgScorer::child_score(DancingLinks& links, const BlockList& relabeled,
                              const ChildContext& child) {
    ++child_counter_;
    child_signature_ = 0;
    for (std::uint64_t c : relabeled[child.block]) {
        at(stamp_, c) = child_counter_;
        child_signature_ |= std::uint64_t{1} << (c % 64);
    }

    double sum = -0.0;
    for (std::uint64_t column : by_value_) {
        const Least& parent = parent_least_[column];
        if (parent.covered || stamp_[column] == child_counter_ || !parent.present) continue;
        if ((parent.depends_on & child_signature_) == 0) {
            sum += parent.value;
            continue;
        }
        const Least least = child_least(links, column, parent);
        if (least.present) sum += least.value;
    }
    return child.weight_sum + sum;
}

}  // namespace xcover
