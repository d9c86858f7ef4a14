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

// Forwards to `target` while a search that outlives the call is set up, and to nothing once
// `target` is reset: the ranked streams' searches keep this Interrupt, and inside one of their
// steps an interrupt would leave an entry half expanded (the streams poll their own way then).
class SetupOnlyInterrupt final : public Interrupt {
public:
    Interrupt* target = nullptr;
    bool requested() override { return target != nullptr && target->requested(); }
};

struct SearchInterrupted : std::exception {
    const char* what() const noexcept override { return "search interrupted"; }
};

// Asked between the steps of a long computation whose result stays valid when cut short (a
// bound from the best point found so far, the prices of a relaxation not solved to the end):
// `stop_now(units)` counts `units` of work done and returns true to cut it short. Never
// throws: the caller decides what a cut-short result means.
class StopCheck {
public:
    virtual bool stop_now(std::uint64_t units) = 0;

protected:
    ~StopCheck() = default;
};

// A budget in front of an Interrupt: `tick(work)` is one subtraction on the hot path, and
// only once every `kInterval` units of work asks the Interrupt (when there is one). A unit is
// about one search node; callers whose steps cost more tick with a larger weight.
class InterruptPoll {
public:
    static constexpr std::int64_t kInterval = 4096;

    explicit InterruptPoll(Interrupt* interrupt = nullptr) noexcept : interrupt_(interrupt) {}

    // A search that lives across several calls (an iterator) polls each call's Interrupt.
    void set(Interrupt* interrupt) noexcept { interrupt_ = interrupt; }
    Interrupt* interrupt() const noexcept { return interrupt_; }

    void tick(std::uint64_t work = 1) {
        budget_ -= static_cast<std::int64_t>(work);
        if (budget_ <= 0) [[unlikely]]
            ask();
    }

private:
    void ask() {
        budget_ = kInterval;
        if (interrupt_ != nullptr && interrupt_->requested()) throw SearchInterrupted();
    }

    Interrupt* interrupt_;
    std::int64_t budget_ = kInterval;
};

}  // namespace xcover
