// What the fuzz targets that run the runtime share: starting it once with
// the collector on, empty stacks before each step, and the choice of the
// inputs that run under collector stress.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/collector.h"
#include "runtime/stack.h"
#include "startup/runtime.h"

namespace zuv::fuzz {

inline void start_once() {
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

// One input in sixteen, by a hash of its bytes (so that a saved input
// replays the same way), collects at every allocation.
inline bool stressed_q(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < size; i++) h = (h ^ data[i]) * 16777619u;
    return h % 16 == 0;
}

}  // namespace zuv::fuzz
