// The modification stamp of planned code: interpreter plans (function bodies
// read once into an internal form) hold only while the blocks they were read
// from keep their cells. Every path that writes the cells of a block, or its
// tail, tells the stamp; a write to a block some plan was built from
// (series_flag::PLANNED) moves it on, and each plan compares it before it
// runs.
// A planned run tests one byte, `guard`, against zero (one instruction, no
// value of the run's own to load): its low bit is on while
// `interpreter::tracing` is (interpreter::set_tracing keeps it), the next
// once the stamp moved since the innermost planned run started (each run
// clears it on entry and hands the bit it found back to the run it is inside
// on leaving, however it is left). The stamp alone is what a plan's next call
// compares with its snapshots: switching tracing costs no snapshot
// comparison.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"

namespace zuv::stamp {

extern uint32_t epoch;
extern uint8_t guard;
constexpr uint8_t GUARD_TRACING = 1, GUARD_MOVED = 2;

inline void written(const series_buffer_t* b) {
    if (b->flags & series_flag::PLANNED) [[unlikely]] {
        epoch++;
        guard |= GUARD_MOVED;
    }
}
inline void written(node_t series) { written(alloc::buffer(series)); }

}  // namespace zuv::stamp
