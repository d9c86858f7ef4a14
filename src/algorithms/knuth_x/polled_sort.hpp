// A stable sort that polls an InterruptPoll as it goes.
//
// Setting up a search sorts every (block, element) pair of the input: for tens of millions
// of pairs that is seconds of work, which a caller must be able to interrupt. Short inputs
// go to std::stable_sort directly; long ones are sorted in runs, then merged pairwise, with
// a tick per run and per few thousand elements merged. The result is exactly that of
// std::stable_sort.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "interrupt.hpp"

namespace xcover {

// Resizes `values` to `n` entries, the new ones `fill`, a chunk at a time with a tick per
// chunk: for tens of millions of entries the first writes fault fresh pages in, which on a
// busy machine takes long enough that the caller must be able to interrupt it.
template <class T>
void resize_polled(std::vector<T>& values, std::size_t n, InterruptPoll& poll, const T& fill = T{}) {
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    if (n <= values.size()) {
        values.resize(n);
        return;
    }
    values.reserve(n);
    while (values.size() < n) {
        const std::size_t step = std::min(kChunk, n - values.size());
        values.resize(values.size() + step, fill);
        poll.tick(step);
    }
}

// std::copy, a chunk at a time with a tick per chunk (see resize_polled).
template <class In, class Out>
Out copy_polled(In first, In last, Out out, InterruptPoll& poll) {
    constexpr std::ptrdiff_t kChunk = std::ptrdiff_t{1} << 16;
    while (last - first > kChunk) {
        out = std::copy(first, first + kChunk, out);
        first += kChunk;
        poll.tick(kChunk);
    }
    return std::copy(first, last, out);
}

template <class T, class Less = std::less<T>>
void sort_polled(std::vector<T>& values, InterruptPoll& poll, Less less = {}) {
    constexpr std::size_t kRun = std::size_t{1} << 14;
    constexpr std::size_t kMergeTick = std::size_t{1} << 12;
    const std::size_t n = values.size();
    if (n <= 4 * kRun) {
        std::stable_sort(values.begin(), values.end(), less);
        poll.tick(n);
        return;
    }
    for (std::size_t begin = 0; begin < n; begin += kRun) {
        std::stable_sort(values.begin() + begin, values.begin() + std::min(n, begin + kRun), less);
        poll.tick(kRun);
    }
    std::vector<T> buffer;
    resize_polled(buffer, n, poll);
    std::vector<T>* from = &values;
    std::vector<T>* to = &buffer;
    for (std::size_t width = kRun; width < n; width *= 2) {
        for (std::size_t begin = 0; begin < n; begin += 2 * width) {
            const std::size_t middle = std::min(n, begin + width);
            const std::size_t end = std::min(n, begin + 2 * width);
            std::size_t i = begin, j = middle, out = begin;
            while (i < middle && j < end) {
                // Ties take the left run first: stable.
                (*to)[out++] = less((*from)[j], (*from)[i]) ? (*from)[j++] : (*from)[i++];
                if ((out & (kMergeTick - 1)) == 0) poll.tick(kMergeTick);
            }
            // What is left of one run: half the input at the last width, when the runs are
            // in order already.
            copy_polled((*from).begin() + i, (*from).begin() + middle, (*to).begin() + out, poll);
            out += middle - i;
            copy_polled((*from).begin() + j, (*from).begin() + end, (*to).begin() + out, poll);
            poll.tick(end - begin);
        }
        std::swap(from, to);
    }
    if (from != &values) values.swap(*from);
}

// Sorts plain values, polling as it goes.
inline void sort_values_polled(std::vector<std::uint64_t>& values, InterruptPoll& poll) {
    // Equal values are indistinguishable: the unstable sort is as good and allocates nothing.
    if (values.size() <= (std::size_t{1} << 16)) {
        std::sort(values.begin(), values.end());
        poll.tick(values.size());
    } else {
        sort_polled(values, poll);
    }
}

// Sorts `values` and drops repeats, polling as it goes.
inline void sort_unique_polled(std::vector<std::uint64_t>& values, InterruptPoll& poll) {
    sort_values_polled(values, poll);
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

}  // namespace xcover
