// The garbage collector's entry points as the rest of the runtime sees them.
//
// The collector is off during start-up; the library's top level switches it
// on. Allocation calls collect_if_enabled when it finds no room, and the
// collector may then move any buffer (runtime/alloc.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::collector {

extern bool active;  // switched on by the library's top level
extern uint32_t cycles;  // collections run so far

// Runs a collection when the collector is switched on.
void collect_if_enabled();

// A node whose buffer was found dead outside the series frames (a big
// frame's); it is freed once the collection ends.
void add_dead_node(node_t node);

}  // namespace zuv::collector
