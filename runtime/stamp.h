// The modification stamp of planned code: interpreter plans (function bodies
// read once into an internal form) hold only while the blocks they were read
// from keep their cells. Every path that writes the cells of a block, or its
// tail, tells the stamp; a write to a block some plan was built from
// (series_flag::PLANNED) moves it on, and each plan compares it before it
// runs.
// A plan's run compares one word, `guard`: twice the stamp's moves, plus one
// while `interpreter::tracing` is on (interpreter::set_tracing keeps that
// bit). A run starts untraced, so it holds while the word is the one it
// started with. The stamp alone is what a plan's next call compares with its
// snapshots: switching tracing on and off costs no snapshot comparison.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"

namespace zuv::stamp {

extern uint32_t epoch;
extern uint64_t guard;

inline void written(const series_buffer_t* b) {
    if (b->flags & series_flag::PLANNED) [[unlikely]] {
        epoch++;
        guard += 2;
    }
}
inline void written(node_t series) { written(alloc::buffer(series)); }

}  // namespace zuv::stamp
