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

// Scoped roots for C++ code: a node or a cell held in a C++ variable across
// an allocation stays alive while its guard lives. Node handles never
// change, so the variable itself stays valid; buffer addresses do not, and
// must be read again through the node after any allocation.
class root_node {
public:
    explicit root_node(node_t node);
    ~root_node();
    root_node(const root_node&) = delete;
    root_node& operator=(const root_node&) = delete;

private:
    uint32_t slot_;
};

class root_cell {
public:
    explicit root_cell(const cell_t* cell);
    ~root_cell();
    root_cell(const root_cell&) = delete;
    root_cell& operator=(const root_cell&) = delete;

private:
    uint32_t slot_;
};

}  // namespace zuv::collector
