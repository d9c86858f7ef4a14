#include "avg_est.hpp"

#include <algorithm>

namespace xcover {

std::vector<double> block_shares(const BlockList& blocks, std::span<const double> weights) {
    const std::uint64_t n = std::min<std::uint64_t>(blocks.size(), weights.size());
    std::vector<double> shares(n);
    for (std::uint64_t i = 0; i < n; ++i)
        shares[i] = weights[i] / static_cast<double>(blocks.list_size(i));
    return shares;
}

std::vector<double> primary_shares(const BlockList& blocks, std::span<const double> weights,
                                   const ElementIndex& index) {
    if (index.primary_count() == index.column_count()) return block_shares(blocks, weights);
    const std::uint64_t n = std::min<std::uint64_t>(blocks.size(), weights.size());
    std::vector<double> shares(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        std::uint64_t primary = 0;
        for (std::uint64_t e : blocks[i]) primary += index.column_of(e) <= index.primary_count();
        shares[i] = weights[i] / static_cast<double>(primary == 0 ? 1 : primary);
    }
    return shares;
}

AvgScorer::AvgScorer(const BlockList& blocks, std::vector<double> weights,
                     const ElementIndex& index)
    : weights_(std::move(weights)),
      shares_(primary_shares(blocks, weights_, index)),
      n_(shares_.size()) {
    const std::uint64_t m = index.column_count();
    by_value_.resize(m);
    for (std::uint64_t c = 1; c <= m; ++c) by_value_[c - 1] = c;
    std::sort(by_value_.begin(), by_value_.end(), [&](std::uint64_t a, std::uint64_t b) {
        return index.element_of(a) < index.element_of(b);
    });
    parent_least_.assign(m + 1, Least{true, false, 0.0, 0, 0, 0});
    stamp_.assign(m + 1, 0);
}

double AvgScorer::share_of(const DancingLinks& links, std::uint64_t node) const {
    return shares_[checked(links.block_of(node), n_)];
}

// A block node is in the remaining matrix when its column still links to it: cover unlinks
// every block that meets a covered column from all its other columns.
bool AvgScorer::remaining(const DancingLinks& links, std::uint64_t node) const {
    return links.is_linked(node);
}

// Whether the block of `node` meets a column of the block being scored (stamped columns).
bool AvgScorer::meets_child(const DancingLinks& links, std::uint64_t node) const {
    const std::uint64_t signature = at(signature_, node);
    if ((signature & child_signature_) == 0) return false;
    if (links.has_colors()) return meets_child_colored(links, node);
    if (stamp_.size() <= kSignatureBits + 1) return true;  // one bit per column: exact
    std::uint64_t j = node;
    do {
        if (at(stamp_, links.column_of(j)) == child_counter_) return true;
        j = links.next_in_block(j);
    } while (j != node);
    return false;
}

// With colors, a block the child meets stays when every column they share is colored alike
// in both. A cleansed node's column is purified in its own color, which the child (a block
// still in the matrix) then gives it too, or leaves cleansed itself: never a conflict.
bool AvgScorer::meets_child_colored(const DancingLinks& links, std::uint64_t node) const {
    std::uint64_t j = node;
    do {
        const std::uint64_t column = links.column_of(j);
        if (column != DancingLinks::kCleansed && at(stamp_, column) == child_counter_) {
            const std::uint32_t color = links.color_of(j);
            if (color == 0 || color != stamp_color_[column]) return true;
        }
        j = links.next_in_block(j);
    } while (j != node);
    return false;
}

double AvgScorer::root_score(const DancingLinks& links) {
    // Sort each column's blocks below n by share once; nodes sit in ascending block index and
    // the sort is stable, so equal shares (-0.0 and +0.0 included) keep index order.
    const std::uint64_t m = links.column_count();
    sorted_start_.assign(m + 2, 0);
    sorted_nodes_.clear();
    for (std::uint64_t c = 1; c <= m; ++c) {
        sorted_start_[c] = sorted_nodes_.size();
        const std::uint64_t begin = sorted_nodes_.size();
        for (std::uint64_t i = links.down(c); i != c; i = links.down(i)) {
            const std::uint64_t block = links.block_of(i);
            if (block >= n_) break;
            if (!std::isnan(shares_[block])) sorted_nodes_.push_back(i);
        }
        std::stable_sort(sorted_nodes_.begin() + static_cast<std::ptrdiff_t>(begin), sorted_nodes_.end(),
                         [&](std::uint64_t a, std::uint64_t b) {
                             return shares_[links.block_of(a)] < shares_[links.block_of(b)];
                         });
    }
    sorted_start_[m + 1] = sorted_nodes_.size();

    // Signatures are kept per node, so the overlap test reads one array.
    std::vector<std::uint64_t> by_block(links.block_bound(), 0);
    for (std::uint64_t i = m + 1; i < links.node_count(); ++i)
        if (links.is_block_node(i))
            by_block[links.block_of(i)] |= std::uint64_t{1} << (links.column_of(i) % kSignatureBits);
    signature_.assign(links.node_count(), 0);
    for (std::uint64_t i = m + 1; i < links.node_count(); ++i)
        if (links.is_block_node(i)) signature_[i] = by_block[links.block_of(i)];

    begin_expansion(links);
    double sum = -0.0;
    for (std::uint64_t column : by_value_) {
        const Least& least = parent_least_[column];
        if (!least.covered && least.present) sum += least.value;
    }
    return sum;
}

void AvgScorer::begin_expansion(const DancingLinks& links) {
    for (Least& least : parent_least_) least.covered = true;
    for (std::uint64_t c = links.first_active(); c != 0; c = links.next_active(c)) {
        Least& least = at(parent_least_, c);
        least = Least{false, false, 0.0, 0, 0, 0};
        const std::uint64_t first = links.down(c);
        if (first == c || links.block_of(first) >= n_) continue;
        least.present = true;
        least.first = first;
        least.value = share_of(links, first);
        least.depends_on = at(signature_, first);
        if (std::isnan(least.value)) continue;
        std::uint64_t pos = sorted_start_[c];
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
    std::uint64_t first = parent.first;
    while (first != column && meets_child(links, first)) first = links.down(first);
    if (first == column || links.block_of(first) >= n_) {
        least.present = false;
        return least;
    }
    least.first = first;
    least.value = share_of(links, first);
    if (std::isnan(least.value)) return least;
    // The parent's least node may be gone; nodes before it in sorted order were gone already.
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

double AvgScorer::child_score(const DancingLinks& links, const BlockList& relabeled,
                              const ChildContext& child) {
    ++child_counter_;
    child_signature_ = 0;
    const auto columns = relabeled[child.block];
    for (std::uint64_t c : columns) {
        at(stamp_, c) = child_counter_;
        child_signature_ |= std::uint64_t{1} << (c % kSignatureBits);
    }
    if (links.has_colors()) {
        const std::uint64_t first = links.first_node(relabeled, child.block);
        stamp_color_.resize(stamp_.size());
        for (std::uint64_t k = 0; k < columns.size(); ++k) stamp_color_[columns[k]] = links.color_of(first + k);
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
