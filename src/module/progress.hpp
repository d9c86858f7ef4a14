// A caller's progress callable, called while a depth-first search runs.
#pragma once

#include "python_ref.hpp"

#include <cstdint>

#include "../algorithms/knuth_x/algos/depth_first/cover_source.hpp"
#include "../algorithms/knuth_x/algos/depth_first/split.hpp"
#include "detached.hpp"

namespace xcover::py {

// Checks a `progress` argument: None or a callable. False with TypeError set otherwise.
bool check_progress_argument(PyObject* progress);

// Calls `progress(fraction, covers)` with a source's progress (CoverSource::progress) each time
// the SignalCheck it is installed in finds a report due, from the calling thread between two
// steps of the search: never while the source or a helper holds a lock. The fractions it passes
// never decrease, whatever the rounding of the sums of parts, and stay below 1 (report_finished
// says 1).
class SourceProgress final : public ProgressReport {
public:
    SourceProgress(PyObject* progress, CoverSource& source) : progress_(progress), source_(&source) {}

    bool report() override;

private:
    PyObject* progress_;  // borrowed from the call's arguments
    CoverSource* source_;
    double last_ = 0.0;
};

// Calls `progress(fraction, parts)` for a split asked for `wanted` parts: `parts` those it
// holds so far, `fraction` their share of `wanted`, and once a walk of the tree finishes the
// split (SplitProgress), that share plus the walk's share of the rest; below 1 until the split
// ends and never decreasing (a dead end found drops a part).
class SplitReport final : public ProgressReport {
public:
    SplitReport(PyObject* progress, const SplitProgress& split, std::uint64_t wanted)
        : progress_(progress), split_(&split), wanted_(wanted) {}

    bool report() override;

private:
    PyObject* progress_;  // borrowed from the call's arguments
    const SplitProgress* split_;
    std::uint64_t wanted_;
    double last_ = 0.0;
};

// The last call of a finished search: `progress(1.0, covers)`. False with the exception pending
// when it raised.
bool report_finished(PyObject* progress, std::uint64_t covers);

// Installs a report in a SignalCheck for a scope.
class ProgressInstalled {
public:
    ProgressInstalled(SignalCheck& check, ProgressReport* report) noexcept : check_(check) {
        check_.set_progress(report);
    }
    ~ProgressInstalled() { check_.set_progress(nullptr); }
    ProgressInstalled(const ProgressInstalled&) = delete;
    ProgressInstalled& operator=(const ProgressInstalled&) = delete;

private:
    SignalCheck& check_;
};

}  // namespace xcover::py
