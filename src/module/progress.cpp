#include "progress.hpp"

#include <algorithm>

namespace xcover::py {

namespace {

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
    last_ = std::max(last_, now.fraction);
    return call_progress(progress_, last_, now.covers);
}

bool report_finished(PyObject* progress, std::uint64_t covers) { return call_progress(progress, 1.0, covers); }

}  // namespace xcover::py
