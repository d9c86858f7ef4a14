// Covers in best-first order until a bound shows that those not yet returned hold at most the
// share `alpha` of the total probability, a cover's probability being proportional to
// exp(-weight sum).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../links/block_list.hpp"
#include "get_all.hpp"
#include "ordered_search.hpp"

namespace xcover {

// ln(sum of exp(x)) over `values`, with the maxima counted exactly rather than summed as
// exp(0): a single dominant entry gives its own value back.
double log_sum_exp(std::vector<double> values);

// log_sum_exp over a list that only grows at its end, with the same bits as the batch
// function: its sum is a left fold in index order, so a new entry below the running maximum
// adds one term; only a new maximum (or NaN) recomputes the fold.
class RunningLogSumExp {
public:
    void push(double x);
    double value() const;

private:
    void recompute();
    std::vector<double> values_;
    double max_ = 0.0;
    double count_at_max_ = -0.0;  // entries equal to the maximum
    double sum_ = -0.0;           // exp(x - c) over the others, in index order
};

Covers get_topp(const BlockList& partitions, std::vector<double> weights, double alpha,
                SearchCaps caps);

}  // namespace xcover
