// The modification stamp of planned code: interpreter plans (function bodies
// read once into an internal form) hold only while the blocks they were read
// from keep their cells. Every path that writes the cells of a block, or its
// tail, tells the stamp; a write to a block some plan was built from
// (series_flag::PLANNED) moves it on, and each plan compares it before it
// runs.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"

namespace zuv::stamp {

extern uint32_t epoch;

inline void written(const series_buffer_t* b) {
    if (b->flags & series_flag::PLANNED) [[unlikely]]
        epoch++;
}
inline void written(node_t series) { written(alloc::buffer(series)); }

}  // namespace zuv::stamp
