// How a caller stops a long search from outside.
//
// The engine knows nothing of signals or interpreters: a search polls an Interrupt every
// few thousand steps, and when `requested()` returns true it unwinds by throwing
// SearchInterrupted, which releases everything the search built. The caller that installed
// the Interrupt knows why it asked (a pending Python exception, for example) and turns the
// SearchInterrupted into that reason.
#pragma once

#include <cstdint>
#include <exception>

namespace xcover {

class Interrupt {
public:
    // Cheap enough to call every few thousand steps; may itself rate-limit by the clock.
    virtual bool requested() = 0;

protected:
    ~Interrupt() = default;
};

struct SearchInterrupted : std::exception {
    const char* what() const noexcept override { return "search interrupted"; }
};

// A countdown in front of an Interrupt: `tick()` is one decrement on the hot path, and only
// every `kInterval` ticks asks the Interrupt (when there is one).
class InterruptPoll {
public:
    static constexpr std::uint32_t kInterval = 1024;

    explicit InterruptPoll(Interrupt* interrupt = nullptr) noexcept : interrupt_(interrupt) {}

    void tick() {
        if (--countdown_ == 0) [[unlikely]]
            ask();
    }

private:
    void ask() {
        countdown_ = kInterval;
        if (interrupt_ != nullptr && interrupt_->requested()) throw SearchInterrupted();
    }

    Interrupt* interrupt_;
    std::uint32_t countdown_ = kInterval;
};

}  // namespace xcover
