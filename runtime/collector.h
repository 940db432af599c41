// The garbage collector: stop-the-world mark and compact.
//
// A collection marks every buffer that a root reaches (bit 27 of its flags),
// then slides the live buffers of each series frame towards the frame's start
// or into the free end of the previous frame, rewriting only the moved
// buffers' node slots. Dead buffers give their nodes back; big frames that
// nothing reached and series frames that compaction emptied (except the last)
// go back to the system, and so do node frames whose nodes are all free.
//
// What C++ code must do (there is no scan of the native stack):
// - Never keep a buffer address across a call that may allocate: any
//   allocation may collect and move every buffer. Read it again through the
//   node (alloc::buffer) afterwards.
// - Keep every value that must survive an allocation in a rooted place: an
//   argument-stack slot, a reachable block or context, or a scoped guard
//   (root_node / root_cell below) for a node or a C++-local cell.
// - Node handles never change (node frames are not evacuated), so a guarded
//   node variable stays valid as it is.
//
// Marking walks an explicit mark stack: nesting depth costs heap, never C++
// stack. Modules that keep values outside the places above register a marker
// callback (add_marker) that hands them to mark_node / mark_values.
//
// ZUV_GC_STRESS=N (read by init, the last start-up step) switches the
// collector on at once and collects every N buffer allocations; memory that
// a buffer leaves when it moves or dies is filled with POISON, so code that
// kept a stale address reads garbage at once instead of by chance.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zuv::collector {

extern bool active;  // the enabled flag: recycle/on and recycle/off set it
extern uint32_t cycles;  // collections run so far
extern uint32_t evacuations;  // collections that evacuated node frames: always 0 here
extern uint32_t history_depth;

// Stress mode: collect every stress_period buffer allocations (0: off).
extern uint32_t stress_period;
extern uint32_t stress_countdown;
// The stress mode's period while the library's top level runs, from
// ZUV_GC_STRESS_LIBRARY (0: stress_period itself). The top level is the same
// work in every run, so a stress run need not collect at every allocation
// through it in every script: one script that does covers it.
extern uint32_t library_period;
constexpr uint8_t POISON = 0xDB;

// Start-up step "collector": counters, and the stress mode from the
// environment.
void init();

// One full collection; answers the new collection count. Does nothing (and
// answers the count) when a collection is already running.
uint32_t do_cycle();

// Runs a collection when the collector is switched on.
void collect_if_enabled();
// What allocation calls when no frame has room: a collection when the heap
// has grown enough since the last one to make it worth its cost (always
// under the stress mode), else nothing, and the caller takes a new frame.
void collect_if_due();

// True while a collection runs.
bool running_q();

// Called by the memory manager on every buffer allocation.
void stress_tick();
inline void count_allocation() {
    if (stress_period != 0 && --stress_countdown == 0) stress_tick();
}

// Fills bytes that no live buffer owns any more (stress mode only).
void poison(void* start, size_t bytes);

// A node whose buffer was found dead; freed when the collection ends (or
// when the list fills up).
void add_dead_node(node_t node);

// Markers: callbacks run during marking, after the built-in roots, in
// registration order. At most MAX_MARKERS.
using marker_fn = void (*)();
constexpr int MAX_MARKERS = 100;
void add_marker(marker_fn marker);
void remove_marker(marker_fn marker);

// Root hooks that take their place in the root order (before the external
// cell slots): the interpreter's root series and the lexer states. nullptr
// until those modules install theirs.
extern marker_fn interpreter_marker;
extern marker_fn lexer_marker;
// Called with the node of each image! buffer reached (nullptr: none).
extern void (*image_marker)(node_t node);

// Marking, for markers. mark_node sets the mark and answers true when the
// buffer was not marked before; it does not look inside the buffer.
// mark_cells_node also marks what the cells from head to tail refer to.
bool mark_node(node_t node);
void mark_cells_node(node_t node);
void mark_block(const cell_t* block);
void mark_context(node_t ctx);
void mark_values(const cell_t* first, const cell_t* end);
// Marks a hash table and every series it holds (not its keys).
void mark_table(node_t table);
void clear_mark(node_t node);

// Scoped roots for C++ code: a node or a cell held in a C++ variable across
// an allocation stays alive while its guard lives. A guarded node whose unit
// is 16 has its cells from head to tail marked too; a hash table's node
// keeps its record only, unless the guard says it is a table (then every
// series of the table is kept). Node handles never change, so the variable
// itself stays valid; buffer addresses do not, and must be read again
// through the node after any allocation.
class root_node {
public:
    explicit root_node(node_t node, bool table = false);
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

// Under the stress mode, collects every library_period allocations for its
// lifetime (the library's top level), then every stress_period again.
class library_stress {
public:
    library_stress() : saved_(stress_period) {
        if (saved_ != 0 && library_period != 0) stress_period = stress_countdown = library_period;
    }
    ~library_stress() {
        if (saved_ != 0 && stress_period == library_period)
            stress_period = stress_countdown = saved_;
    }
    library_stress(const library_stress&) = delete;
    library_stress& operator=(const library_stress&) = delete;

private:
    uint32_t saved_;
};

// Switches the collector off for its lifetime (when asked), restoring the
// switch on every way out; allocation meanwhile takes new frames. For code
// that reads what no root keeps.
class hold_off {
public:
    explicit hold_off(bool hold = true) : saved_(active) {
        if (hold) active = false;
    }
    ~hold_off() { active = saved_; }
    hold_off(const hold_off&) = delete;
    hold_off& operator=(const hold_off&) = delete;

private:
    bool saved_;
};

}  // namespace zuv::collector
