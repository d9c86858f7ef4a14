#include "sc_bound.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <queue>
#include <set>

#include "../../links/element_index.hpp"
#include "../numeric/ln_gamma.hpp"

namespace xcover {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kEdgeTable = 1 << 16;

// Sums rounded outward, so that the floors and ceilings of the count bounds stay valid.
double up(double x) { return std::nextafter(x, kInf); }
double down(double x) { return std::nextafter(x, -kInf); }

}  // namespace

ScBound::ScBound(const BlockList& blocks, const BlockCountInputs& inputs, bool use_lp,
                 std::span<const std::uint64_t> secondary, Interrupt* interrupt)
    : edge_total_(inputs.edge_total), use_lp_(use_lp) {
    const std::uint64_t n = blocks.size();
    std::vector<std::uint64_t> labels;
    for (std::uint64_t b = 0; b < n; ++b) labels.push_back(at(inputs.labels, b));
    sort_unique(labels);
    label_count_ = labels.size();
    slots_ = label_count_ <= kMaxLabelMultipliers ? label_count_ : 1;
    weights_.resize(n);
    weight_share_.resize(n);
    edge_share_.resize(n);
    inverse_size_.resize(n);
    label_.resize(n);
    slot_.resize(n);
    edge_counts_.resize(n);
    edge_up_.resize(n);
    lp_size_.resize(n);
    for (std::uint64_t b = 0; b < n; ++b) {
        const auto items = blocks[b];
        const std::uint64_t size = static_cast<std::uint64_t>(
            std::count_if(items.begin(), items.end(), [&](std::uint64_t v) {
                return !std::binary_search(secondary.begin(), secondary.end(), v);
            }));
        const double s = static_cast<double>(std::max<std::uint64_t>(size, 1));
        const std::uint64_t e = at(inputs.edge_counts, b);
        edge_counts_[b] = e;
        edge_up_[b] = up(static_cast<double>(e));
        lp_size_[b] = size;
        weights_[b] = at(inputs.weights, b);
        weight_share_[b] = weights_[b] / s;
        edge_share_[b] = up(up(static_cast<double>(e)) / s);
        inverse_size_[b] = 1.0 / s;
        label_[b] = static_cast<std::uint32_t>(
            std::lower_bound(labels.begin(), labels.end(), inputs.labels[b]) - labels.begin());
        slot_[b] = slots_ == label_count_ ? label_[b] : 0;
    }
    const std::uint64_t elements = count_distinct_elements(blocks, interrupt);
    ln_factorial_.resize(elements + 2);
    for (std::uint64_t i = 0; i < ln_factorial_.size(); ++i)
        ln_factorial_[i] = ln_gamma(static_cast<double>(i + 1));
    edge_table_.resize(std::min(edge_total_, kEdgeTable) + 1);
    for (std::uint64_t r = 0; r < edge_table_.size(); ++r) edge_table_[r] = edge_term(r);
    label_stamp_.assign(label_count_, 0);
    label_column_max_.assign(label_count_, 0.0);
    room_sum_.assign(label_count_, 0.0);
    room_.assign(label_count_, 0);
    q_.assign(label_count_, 0);
    best_q_.assign(label_count_, 0);
}

double ScBound::ln_factorial(std::uint64_t n) const {
    return n < ln_factorial_.size() ? ln_factorial_[n] : ln_gamma(static_cast<double>(n) + 1.0);
}

double ScBound::edge(std::uint64_t r) const { return r < edge_table_.size() ? edge_table_[r] : edge_term(r); }

ScBound::Prefix ScBound::empty_prefix() const {
    Prefix p;
    p.label_counts.assign(label_count_, 0);
    return p;
}

void ScBound::add_block(Prefix& prefix, std::uint64_t block) const {
    checked(block, weights_.size());
    prefix.weight_sum += weights_[block];
    prefix.inside += edge_counts_[block];
    prefix.blocks += 1;
    ++at(prefix.label_counts, label_[block]);
}

// Block a makes block b useless in a column's minimum when both have the same slot and size,
// a's weight share is at most b's and a's edge share at least b's: then a's share is at most
// b's for every g >= 0 and nu. Only the undominated blocks enter the entry arrays.
void ScBound::keep_undominated(const std::uint64_t* blocks, std::uint64_t count) {
    order_.assign(blocks, blocks + count);
    std::sort(order_.begin(), order_.end(), [&](std::uint64_t a, std::uint64_t b) {
        if (slot_[a] != slot_[b]) return slot_[a] < slot_[b];
        if (inverse_size_[a] != inverse_size_[b]) return inverse_size_[a] < inverse_size_[b];
        if (weight_share_[a] != weight_share_[b]) return weight_share_[a] < weight_share_[b];
        if (edge_share_[a] != edge_share_[b]) return edge_share_[a] > edge_share_[b];
        return a < b;
    });
    for (std::uint64_t i = 0; i < order_.size(); ++i) {
        const std::uint64_t b = order_[i];
        const bool group_start = i == 0 || slot_[order_[i - 1]] != slot_[b] ||
                                 inverse_size_[order_[i - 1]] != inverse_size_[b];
        if (!group_start && !(edge_share_[b] > most_edge_in_group_)) continue;
        if (group_start) most_edge_in_group_ = edge_share_[b];
        most_edge_in_group_ = std::max(most_edge_in_group_, edge_share_[b]);
        e_weight_.push_back(weight_share_[b]);
        e_edge_.push_back(edge_share_[b]);
        e_inverse_.push_back(inverse_size_[b]);
        e_slot_.push_back(slot_[b]);
    }
}

void ScBound::start_prefix(const Prefix& prefix) {
    chosen_ = prefix.blocks;
    counts_ = prefix.label_counts;
    r0_ = edge_total_ - prefix.inside;
    e_weight_.clear();
    e_edge_.clear();
    e_inverse_.clear();
    e_slot_.clear();
    column_start_.assign(1, 0);
    for (std::uint32_t l : touched_labels_) room_sum_[l] = 0.0;
    touched_labels_.clear();
}

// The extremes of one column's shares, and each label's largest 1 / s_b in it (stamped with
// the column, so that add_label_room adds it once).
ScBound::ColumnExtremes ScBound::scan_column(const View& view, std::uint64_t begin, std::uint64_t end) {
    ++stamp_;
    ColumnExtremes x;
    for (std::uint64_t i = begin; i < end; ++i) {
        const std::uint64_t b = checked(view.blocks[i], weights_.size());
        x.most_edges = std::max(x.most_edges, edge_share_[b]);
        x.least_inverse = std::min(x.least_inverse, inverse_size_[b]);
        x.most_inverse = std::max(x.most_inverse, inverse_size_[b]);
        const std::uint32_t l = label_[b];
        if (label_stamp_[l] != stamp_) {
            label_stamp_[l] = stamp_;
            label_column_max_[l] = 0.0;
            if (room_sum_[l] == 0.0) touched_labels_.push_back(l);
        }
        label_column_max_[l] = std::max(label_column_max_[l], inverse_size_[b]);
    }
    return x;
}

void ScBound::add_label_room(const View& view, std::uint64_t begin, std::uint64_t end) {
    for (std::uint64_t i = begin; i < end; ++i) {
        const std::uint32_t l = label_[view.blocks[i]];
        if (label_stamp_[l] == stamp_) {
            room_sum_[l] = up(room_sum_[l] + label_column_max_[l]);
            label_stamp_[l] = stamp_ - 1;  // added once per column
        }
    }
}

bool ScBound::scan_columns(const View& view, bool lp_wanted, ColumnSums& sums) {
    for (std::uint64_t c = 0; c < view.columns(); ++c) {
        const std::uint64_t begin = view.start[c], end = view.start[c + 1];
        if (begin == end) return false;  // an element no block can cover
        const ColumnExtremes x = scan_column(view, begin, end);
        if (!lp_wanted) keep_undominated(view.blocks.data() + begin, end - begin);
        column_start_.push_back(e_weight_.size());
        sums.edges_up = up(sums.edges_up + x.most_edges);
        sums.blocks_down = down(sums.blocks_down + x.least_inverse);
        sums.blocks_up = up(sums.blocks_up + x.most_inverse);
        add_label_room(view, begin, end);
    }
    entries_scanned_ += view.blocks.size();
    return true;
}

bool ScBound::set_block_count_range(std::uint64_t columns, const ColumnSums& sums) {
    k_min_ = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(std::max(0.0, sums.blocks_down))));
    k_max_ = std::min<std::uint64_t>(columns, static_cast<std::uint64_t>(std::floor(sums.blocks_up)));
    return k_min_ <= k_max_;
}

std::uint64_t ScBound::set_label_room(std::uint64_t columns) {
    std::uint64_t room_total = 0;
    live_labels_.clear();
    for (std::uint64_t l = 0; l < label_count_; ++l) room_[l] = 0;
    for (std::uint32_t l : touched_labels_) {
        room_[l] = std::min<std::uint64_t>(columns, static_cast<std::uint64_t>(std::floor(room_sum_[l])));
        room_total += room_[l];
    }
    for (std::uint64_t l = 0; l < label_count_; ++l)
        if (room_[l] > 0) live_labels_.push_back(static_cast<std::uint32_t>(l));
    return room_total;
}

void ScBound::set_edge_floor(double edges_up) {
    r_low_ = edges_up >= static_cast<double>(r0_) ? 0 : r0_ - static_cast<std::uint64_t>(std::floor(edges_up));
}

double ScBound::prefix_label_term() const {
    double base = 0.0;
    for (std::uint64_t c : counts_)
        if (c > 1) base += ln_factorial(c);
    return base;
}

// One shared multiplier: the least sum of ln((c+q)!) for each k does not depend on it.
void ScBound::tabulate_shared_label_steps() {
    using Step = std::pair<double, std::uint32_t>;
    std::priority_queue<Step, std::vector<Step>, std::greater<Step>> next;
    for (std::uint32_t l : live_labels_) {
        q_[l] = 0;
        next.push({ln_factorial(counts_[l] + 1) - ln_factorial(counts_[l]), l});
    }
    shared_steps_.assign(1, 0.0);
    while (shared_steps_.size() <= k_max_ && !next.empty()) {
        const auto [m, l] = next.top();
        next.pop();
        shared_steps_.push_back(shared_steps_.back() + m);
        const std::uint64_t j = counts_[l] + ++q_[l];
        if (q_[l] < room_[l]) next.push({ln_factorial(j + 1) - ln_factorial(j), l});
    }
}

bool ScBound::prepare(const Prefix& prefix, const View& view) {
    start_prefix(prefix);
    const std::uint64_t u = view.columns();
    // The relaxation's pricing reads the view itself; the plain shares need the entries.
    const bool lp_wanted = prices_by_relaxation(view);
    pricing_ = lp_wanted ? Pricing::relaxation : Pricing::shares;
    ColumnSums sums;
    if (!scan_columns(view, lp_wanted, sums)) return false;
    if (!prepare_counts(u, sums)) return false;
    if (pricing_ == Pricing::relaxation) prepare_lp(view);
    return true;
}

bool ScBound::prepare_counts(std::uint64_t columns, const ColumnSums& sums) {
    if (!set_block_count_range(columns, sums)) return false;
    if (set_label_room(columns) < k_min_) return false;
    set_edge_floor(sums.edges_up);
    base_ = prefix_label_term();
    if (slots_ != label_count_) tabulate_shared_label_steps();
    magnitude_ = edge(r0_) + ln_factorial(chosen_ + k_max_) + base_;
    return true;
}

double ScBound::phi_edges(double g, std::uint64_t& inside) {
    // ET(R) - g R is convex in R: start at the stationary point of ET's slope ln(2R - 1)
    // and walk downhill.
    auto value = [&](std::uint64_t r) { return edge(r) + g * static_cast<double>(r0_ - r); };
    const double guess = std::floor((std::exp(g) + 1.0) / 2.0);
    std::uint64_t r = guess >= static_cast<double>(r0_) ? r0_
                      : guess <= static_cast<double>(r_low_) ? r_low_
                                                            : static_cast<std::uint64_t>(guess);
    r = std::clamp(r, r_low_, r0_);
    double v = value(r);
    while (r > r_low_) {
        const double w = value(r - 1);
        if (!(w < v)) break;
        v = w;
        --r;
    }
    while (r < r0_) {
        const double w = value(r + 1);
        if (!(w < v)) break;
        v = w;
        ++r;
    }
    inside = r0_ - r;
    return v;
}

double ScBound::phi_labels(std::span<const double> y, std::span<double> grad) {
    double best = kInf;
    if (slots_ != label_count_) {
        const double mu = y[1];
        const std::uint64_t top = std::min<std::uint64_t>(k_max_, shared_steps_.size() - 1);
        std::uint64_t best_k = 0;
        for (std::uint64_t k = k_min_; k <= top; ++k) {
            const double t = shared_steps_[k] - mu * static_cast<double>(k) - ln_factorial(chosen_ + k);
            if (t < best) {
                best = t;
                best_k = k;
            }
        }
        grad[1] -= static_cast<double>(best_k);
        return base_ + best;
    }
    for (std::uint32_t l : live_labels_) q_[l] = 0;
    double sum = 0.0;
    for (std::uint64_t k = 1; k <= k_max_; ++k) {
        std::uint32_t pick = 0;
        double least = kInf;
        for (std::uint32_t l : live_labels_) {
            if (q_[l] >= room_[l]) continue;
            const std::uint64_t j = counts_[l] + q_[l];
            const double m = (ln_factorial(j + 1) - ln_factorial(j)) - y[1 + l];
            if (m < least) {
                least = m;
                pick = l;
            }
        }
        if (least == kInf) break;
        sum += least;
        ++q_[pick];
        if (k < k_min_) continue;
        const double t = sum - ln_factorial(chosen_ + k);
        if (t < best) {
            best = t;
            for (std::uint32_t l : live_labels_) best_q_[l] = q_[l];
        }
    }
    if (best == kInf) return kInf;
    for (std::uint32_t l : live_labels_) grad[1 + l] -= static_cast<double>(best_q_[l]);
    return base_ + best;
}

double ScBound::evaluate(std::span<const double> y, std::span<double> grad) {
    ++evaluations_;
    std::fill(grad.begin(), grad.end(), 0.0);
    const double g = y[0];
    double magnitude = 0.0;
    const double shares = pricing_ == Pricing::relaxation ? lp_shares(y, grad, magnitude)
                          : pricing_ == Pricing::fixed    ? fixed_shares(y, grad, magnitude)
                                                          : plain_shares(y, grad, magnitude);
    std::uint64_t inside = 0;
    const double edges = phi_edges(g, inside);
    grad[0] += static_cast<double>(inside);
    const double labels = phi_labels(y, grad);
    magnitude_ = std::max(magnitude_, magnitude + std::fabs(edges) + std::fabs(labels) +
                                          g * static_cast<double>(inside));
    const double value = shares + edges + labels;
    // Kelley's rule for its best point: the first evaluation, then any strictly better one.
    if (++bound_evaluations_ == 1 || value > best_value_) {
        best_value_ = value;
        if (pricing_ == Pricing::relaxation) {
            const std::vector<double>& pi = lp_.prices();
            best_prices_.assign(pi.begin(), pi.begin() + static_cast<std::ptrdiff_t>(column_start_.size() - 1));
        } else {
            best_prices_.clear();
        }
    }
    return value;
}

double ScBound::plain_shares(std::span<const double> y, std::span<double> grad, double& magnitude) {
    const double g = y[0];
    const double* nu = y.data() + 1;
    double shares = 0.0;
    const std::uint64_t columns = column_start_.size() - 1;
    for (std::uint64_t c = 0; c < columns; ++c) {
        double least = kInf;
        std::uint64_t arg = column_start_[c];
        for (std::uint64_t i = column_start_[c]; i < column_start_[c + 1]; ++i) {
            const double a = e_weight_[i] - g * e_edge_[i] + nu[e_slot_[i]] * e_inverse_[i];
            if (a < least) {
                least = a;
                arg = i;
            }
        }
        shares += least;
        magnitude += std::fabs(least);
        grad[0] -= e_edge_[arg];
        grad[1 + e_slot_[arg]] += e_inverse_[arg];
    }
    entries_scanned_ += e_weight_.size();
    return shares;
}

double ScBound::bound(const Prefix& prefix, const View& view, std::vector<double>& multipliers,
                      const KelleyOptions& options, StopCheck* stop) {
    if (view.columns() == 0) fail("ScBound::bound: a complete cover has a score, not a bound");
    bound_evaluations_ = 0;
    best_prices_.clear();
    if (!prepare(prefix, view)) return kInf;
    const std::uint64_t n = dimension();
    const double reach = std::log(static_cast<double>(chosen_ + view.columns()) + 2.0) + 4.0;
    lo_.assign(n, -reach);
    hi_.assign(n, reach);
    lo_[0] = 0.0;
    hi_[0] = std::log(2.0 * static_cast<double>(r0_) + 1.0);
    if (slots_ == label_count_)
        for (std::uint64_t l = 0; l < label_count_; ++l)
            if (room_[l] == 0) lo_[1 + l] = hi_[1 + l] = 0.0;
    if (multipliers.size() != n) multipliers.assign(n, 0.0);
    // The relaxation asks `stop` too; no copy of this bound (a helper's) ever holds it.
    struct StopFor {
        StopCheck*& slot;
        ~StopFor() { slot = nullptr; }
    } stop_for{stop_};
    stop_ = stop;
    const double best = kelley_.maximize(
        [&](std::span<const double> y, std::span<double> grad) { return evaluate(y, grad); },
        multipliers, lo_, hi_, options, stop);
    multipliers = kelley_.best_point();
    return finish(prefix, view.columns(), best);
}

double ScBound::finish(const Prefix& prefix, std::uint64_t columns, double best) const {
    if (best == kInf) return kInf;
    const double scale = std::fabs(prefix.weight_sum) + magnitude_ + 1.0;
    const double slack = 1e-12 * static_cast<double>(columns + chosen_ + 16) * scale;
    return (prefix.weight_sum + best) - slack;
}

// The child's column sums are the parent's over the kept columns (see fix_prices).
double ScBound::bound_child(const Prefix& prefix, std::span<const std::uint64_t> kept,
                            std::span<const std::uint64_t> removed, std::uint64_t stamp) {
    if (kept.empty()) fail("ScBound::bound_child: a complete cover has a score, not a bound");
    if (fixed_point_.size() != dimension()) fail("ScBound::bound_child: no prices fixed");
    bound_evaluations_ = 0;
    best_prices_.clear();
    start_prefix(prefix);
    pricing_ = Pricing::fixed;
    column_price_.clear();
    column_least_.clear();
    column_least_block_.clear();
    ColumnSums sums;
    std::uint64_t scanned = 0;
    for (std::uint64_t r : kept) {
        const FixedColumn& column = at(fixed_columns_, r);
        const auto [least, block] = least_kept_share(r, removed, stamp, scanned);
        if (least == kInf) return kInf;  // an element no block can cover
        column_price_.push_back(column.price);
        column_least_.push_back(least);
        column_least_block_.push_back(block);
        sums.edges_up = up(sums.edges_up + column.extremes.most_edges);
        sums.blocks_down = down(sums.blocks_down + column.extremes.least_inverse);
        sums.blocks_up = up(sums.blocks_up + column.extremes.most_inverse);
        for (std::uint64_t k = column.labels_begin; k < column.labels_end; ++k) {
            const auto [l, most] = fixed_labels_[k];
            if (room_sum_[l] == 0.0) touched_labels_.push_back(l);
            room_sum_[l] = up(room_sum_[l] + most);
        }
    }
    entries_scanned_ += scanned;
    if (!prepare_counts(kept.size(), sums)) return kInf;
    scratch_.assign(dimension(), 0.0);
    return finish(prefix, kept.size(), evaluate(fixed_point_, scratch_));
}

ScBound::View ScBound::view_after(const BlockList& blocks, std::span<const std::uint64_t> chosen,
                                  std::vector<std::uint64_t>* elements) {
    std::set<std::uint64_t> covered;
    for (std::uint64_t b : chosen)
        for (std::uint64_t e : blocks[b]) covered.insert(e);
    std::map<std::uint64_t, std::vector<std::uint64_t>> by_element;
    for (std::uint64_t b = 0; b < blocks.size(); ++b)
        for (std::uint64_t e : blocks[b])
            if (!covered.count(e)) by_element[e];
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const auto items = blocks[b];
        const bool free = !items.empty() && std::none_of(items.begin(), items.end(),
                                                         [&](std::uint64_t e) { return covered.count(e) > 0; });
        if (free)
            for (std::uint64_t e : items) by_element[e].push_back(b);
    }
    View view;
    if (elements != nullptr) elements->clear();
    for (const auto& [element, list] : by_element) {
        view.blocks.insert(view.blocks.end(), list.begin(), list.end());
        view.close_column();
        if (elements != nullptr) elements->push_back(element);
    }
    return view;
}

double ScBound::bound_of(const BlockList& blocks, std::span<const std::uint64_t> chosen,
                         const KelleyOptions& options) {
    Prefix prefix = empty_prefix();
    for (std::uint64_t b : chosen) add_block(prefix, b);
    const View view = view_after(blocks, chosen);
    std::vector<double> multipliers;
    return bound(prefix, view, multipliers, options);
}

}  // namespace xcover
