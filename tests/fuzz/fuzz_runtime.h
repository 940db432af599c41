// What every libFuzzer target over the running runtime shares: one start of
// the runtime, with the collector on, and empty stacks before each step.
#pragma once

#include "runtime/collector.h"
#include "startup/runtime.h"
#include "runtime/stack.h"

namespace zuv::fuzz {

inline void start_runtime_once() {
    static const bool started = [] {
        runtime::init();
        collector::active = true;
        return true;
    }();
    (void)started;
}

inline void reset_stacks() {
    stack::arguments = stack::top_slot = stack::bottom;
    stack::ctop = stack::cbottom;
}

}  // namespace zuv::fuzz
