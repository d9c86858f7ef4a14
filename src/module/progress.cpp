#include "progress.hpp"

#include <algorithm>

namespace xcover::py {

namespace {

constexpr double kBelowOne = 0x1.fffffffffffffp-1;  // the largest double below 1

bool call_progress(PyObject* progress, double fraction, std::uint64_t covers) {
    Ref result = own(PyObject_CallFunction(progress, "dK", fraction, static_cast<unsigned long long>(covers)));
    return result != nullptr;
}

}  // namespace

bool check_progress_argument(PyObject* progress) {
    if (progress == Py_None || PyCallable_Check(progress)) return true;
    PyErr_Format(PyExc_TypeError, "progress: expected a callable or None, not '%s'", Py_TYPE(progress)->tp_name);
    return false;
}

bool SourceProgress::report() {
    const SearchProgress now = source_->progress();
    // Helpers may have searched the whole tree before the calling thread sees that the count
    // is over: 1.0 is kept for the one report of a finished count.
    last_ = std::max(last_, std::min(now.fraction, kBelowOne));
    return call_progress(progress_, last_, now.covers);
}

bool SplitReport::report() {
    // Short of 1 while the split runs: it may still be walking the tree to fix its cut.
    const double found = wanted_ == 0 ? 0.0 : static_cast<double>(split_->parts) / static_cast<double>(wanted_);
    // A walk runs alone to the end once the passes stop, so it takes the rest of the bar.
    const double share = std::min(found, 1.0) + (1.0 - std::min(found, 1.0)) * split_->walked;
    last_ = std::max(last_, std::min(share, 0.99));
    return call_progress(progress_, last_, split_->parts);
}

bool report_finished(PyObject* progress, std::uint64_t covers) { return call_progress(progress, 1.0, covers); }

}  // namespace xcover::py
