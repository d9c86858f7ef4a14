// The iterator of the ranked streams (iter_top, iter_top_sc): hands out (score, cover) pairs
// of an engine stream one at a time, searching detached until the next cover.
#pragma once

#include "python_ref.hpp"

#include <memory>
#include <optional>
#include <utility>

#include "../algorithms/knuth_x/interrupt.hpp"
#include "../algorithms/knuth_x/search/ranked_cover.hpp"
#include "module_state.hpp"

namespace xcover::py {

// An engine stream (TopStream, TopScStream) behind one interface. Its next() may end with
// SearchInterrupted, after which the stream resumes with nothing lost or repeated.
class RankedSource {
public:
    virtual ~RankedSource() = default;
    virtual std::optional<RankedCover> next(Interrupt* interrupt) = 0;
    // Why the stream ended (Running while it has not).
    virtual StreamEnd end() const noexcept = 0;
    // A lower bound on the cost of every cover not yet taken, when the stream knows one
    // beyond the last cost taken.
    virtual std::optional<double> pending_bound() const noexcept { return std::nullopt; }
};

template <class Stream>
class StreamSource final : public RankedSource {
public:
    template <class... Args>
    explicit StreamSource(Args&&... args) : stream_(std::forward<Args>(args)...) {}
    std::optional<RankedCover> next(Interrupt* interrupt) override { return stream_.next(interrupt); }
    StreamEnd end() const noexcept override { return stream_.end(); }
    std::optional<double> pending_bound() const noexcept override {
        if constexpr (requires(const Stream& s) { s.pending_bound(); })
            return stream_.pending_bound();
        else
            return std::nullopt;
    }

private:
    Stream stream_;
};

// The iterator type of one module object (new reference), or nullptr with an exception set.
PyObject* new_ranked_iterator_type(PyObject* module);

// A new iterator over `source`, named `what` in its messages ("iter_top"); nullptr with an
// exception set on failure.
PyObject* new_ranked_iterator(ModuleState& state, std::unique_ptr<RankedSource> source,
                              const char* what);

}  // namespace xcover::py
