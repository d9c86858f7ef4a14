// Long-running work in the surface: when a call leaves the interpreter, how often it comes
// back to run signal handlers, and the one routine every long loop polls for that.
//
// Engine work (building a matrix, searching) runs detached: it touches no Python object,
// and a thread that stays attached through a long computation holds up every stop-the-world
// pause of the others (a garbage collection waits for it). Work that builds Python objects
// (converting arguments and results, reading a matrix) runs attached but polls the same
// SignalCheck, which lets other threads have the interpreter for a moment and runs the
// pending signal handlers on the main thread, so that Ctrl-C ends any phase of any call.
#pragma once

#include "python_ref.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "../algorithms/knuth_x/interrupt.hpp"
#include "interpreter_thread.hpp"

namespace xcover::py {

// How often work comes back to the interpreter: at most this long between signal checks.
inline constexpr std::chrono::milliseconds kCheckInterval{20};

// Inputs with at most this many items are prepared attached (a few microseconds of work),
// and their search runs attached until its first poll; a step of such a search touches at
// most a few thousand nodes, so that is at most some milliseconds. Larger inputs detach
// before the matrix is built, and their searches before their first step.
inline constexpr std::uint64_t kAttachedInputItems = std::uint64_t{1} << 10;

// Attached loops read the clock once per this many items (an item is one list element
// converted, one cell read, one int created: tens of nanoseconds each).
inline constexpr std::int64_t kAttachedPollItems = std::int64_t{1} << 12;

// Covers an iterator finds per release of the interpreter: enough to make the release cheap
// beside the lists built, few enough that memory stays bounded by the search depth and this
// batch.
inline constexpr std::uint64_t kIteratorBatch = 256;

// Block indices get_all gathers per release: a buffer that stays in the processor's cache.
inline constexpr std::uint64_t kAllBatchItems = std::uint64_t{1} << 15;

// How often a progress callable is called, at most.
inline constexpr std::chrono::milliseconds kProgressInterval{100};

// Reports a search's progress to the caller's code: called attached, from SignalCheck's poll,
// at most every kProgressInterval. Returns false, with the exception pending, when the
// caller's code raised: the search then stops as for a signal.
class ProgressReport {
public:
    virtual bool report() = 0;

protected:
    ~ProgressReport() = default;
};

// The signal check of one call (or one refill of an iterator).
//
// Detached work polls it as the engine's Interrupt: the thread leaves the interpreter at the
// start of the work, or for small inputs at the search's first poll (a call that ends within
// a few thousand steps never detaches, which spares short calls in a loop from re-attaching
// thousands of times a second; re-attaching is the one moment a finalizing interpreter can
// catch a thread). On the main thread, at most every kCheckInterval, it re-attaches, runs
// pending signal handlers, and asks the search to stop when a handler raised; that exception
// is kept for the caller. Other threads run no handlers, so they stay detached to the end.
//
// Attached work calls poll_attached() once per item instead.
class SignalCheck final : public Interrupt {
public:
    using Clock = std::chrono::steady_clock;

    // Work that runs in several pieces (an iterator's refills) carries the time of its last
    // check from one piece's SignalCheck to the next, so that short pieces still check.
    explicit SignalCheck(Clock::time_point last_check = Clock::now()) : last_check_(last_check) {}
    SignalCheck(const SignalCheck&) = delete;
    SignalCheck& operator=(const SignalCheck&) = delete;
    ~SignalCheck() = default;

    Clock::time_point last_check() const { return last_check_; }

    // Detaches the calling thread from the interpreter, if it is attached.
    void detach() noexcept;
    // Re-attaches it, if it is detached. During finalization the interpreter ends the thread
    // here instead.
    void attach();

    // The engine's poll, made while detached.
    bool requested() override;

    // From now on (until set back to nullptr), the poll also calls `report` when due, on
    // whichever thread runs the work: the work must be one whose polls come from the caller's
    // thread between two of its steps.
    void set_progress(ProgressReport* report) noexcept { progress_ = report; }

    // Attached: one item of work done. False, with the exception of a signal handler pending,
    // when a handler raised.
    bool poll_attached(std::uint64_t items = 1) {
        attached_budget_ -= static_cast<std::int64_t>(items);
        return attached_budget_ > 0 || check_attached();
    }

    // Attached: true when a signal check is due by the clock (for waits that poll by time).
    bool due() const { return Clock::now() - last_check_ >= kCheckInterval; }

    // Attached only: makes the exception that stopped the search pending again.
    void restore_exception();

private:
    enum class Thread : unsigned char { Unknown, Main, Other };

    bool check_attached();
    // Attached: lets other threads in and runs handlers when due; false when one raised.
    bool run_due_check();

    // Attached: calls progress_ when due; false when it raised (its exception pending).
    bool run_due_report();

    ProgressReport* progress_ = nullptr;
    Clock::time_point last_report_ = Clock::now();
    PyThreadState* saved_ = nullptr;  // while detached
    Ref exception_;                   // released only while attached (Ref's rule)
    Thread thread_ = Thread::Unknown;
    Clock::time_point last_check_;
    std::int64_t attached_budget_ = kAttachedPollItems;
};

// How detached work ended.
enum class DetachedOutcome { Done, Interrupted, Failed };

// The catching part of run_detached, out of line: runs `call(work, check)`, detached from
// the start when `detach_first`, and keeps a failure in `error`; the thread is attached
// again on return.
DetachedOutcome run_detached_call(void (*call)(void* work, Interrupt& interrupt), void* work,
                                  SignalCheck& check, bool detach_first,
                                  std::exception_ptr& error);

template <class Work>
using DetachedResult = std::optional<std::invoke_result_t<Work&, Interrupt&>>;

// Runs engine work detached from the interpreter. `work(interrupt)` receives `check`, the
// Interrupt its search polls; `input_items` (the size of what the work builds, or of the
// matrix it searches) decides whether the thread detaches at once or at the search's first
// poll. Work that runs in pieces passes the same `check` to each. Exceptions are carried
// across and rethrown once the thread is attached again.
//
// Returns the work's result, or nullopt with a Python exception pending when a signal
// handler raised during the search (everything the search built is released by then).
template <class Work>
auto run_detached(SignalCheck& check, Work&& work, std::uint64_t input_items)
    -> DetachedResult<Work> {
    DetachedResult<Work> result;
    auto store = [&](Interrupt& interrupt) { result.emplace(work(interrupt)); };
    std::exception_ptr error;
    const DetachedOutcome outcome = run_detached_call(
        [](void* erased, Interrupt& interrupt) { (*static_cast<decltype(store)*>(erased))(interrupt); },
        static_cast<void*>(&store), check, input_items > kAttachedInputItems, error);
    if (outcome == DetachedOutcome::Failed) std::rethrow_exception(error);
    if (outcome == DetachedOutcome::Interrupted) {
        check.restore_exception();
        return std::nullopt;
    }
    return result;
}

}  // namespace xcover::py
