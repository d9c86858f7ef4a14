// ln(sum of exp(x)) over a list, reproducible to the bit: the maximum is taken first (NaN if
// any entry is NaN), entries equal to it are counted exactly rather than summed as exp(0),
// and the others are summed as exp(x - max) left to right.
#pragma once

#include <vector>

namespace xcover {

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
    void add_term(double x);
    std::vector<double> values_;
    double max_ = 0.0;
    double count_at_max_ = -0.0;  // entries equal to the maximum
    double sum_ = -0.0;           // exp(x - c) over the others, in index order
};

}  // namespace xcover
