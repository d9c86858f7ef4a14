// What one call of a module function carries through its phases: the state of the module it
// belongs to, and the signal check that every long loop of the call polls (converting the
// arguments, the engine's work, converting the result).
#pragma once

#include "detached.hpp"
#include "module_state.hpp"

namespace xcover::py {

struct Call {
    explicit Call(ModuleState& module) : state(module) {}
    // A call that continues earlier work (an iterator's refill) continues its signal clock.
    Call(ModuleState& module, SignalCheck::Clock::time_point last_check)
        : state(module), check(last_check) {}

    ModuleState& state;
    SignalCheck check;
};

}  // namespace xcover::py
