#include "runtime/collector.h"

#include "runtime/alloc.h"
#include "runtime/fire.h"

namespace zuv::collector {

bool active = false;
uint32_t cycles = 0;

void collect_if_enabled() {
    // Marking and compaction land with the collector itself; until then an
    // allocation that finds no room simply takes a new frame.
}

namespace {

// Guards nest strictly (they are scoped), so both lists are stacks.
constexpr uint32_t MAX_GUARDS = 4096;
node_t guarded_nodes[MAX_GUARDS];
const cell_t* guarded_cells[MAX_GUARDS];
uint32_t node_guards = 0;
uint32_t cell_guards = 0;

}  // namespace

root_node::root_node(node_t node) : slot_(node_guards) {
    if (node_guards == MAX_GUARDS) fire(err::stack_overflow);
    guarded_nodes[node_guards++] = node;
}
root_node::~root_node() { node_guards = slot_; }

root_cell::root_cell(const cell_t* cell) : slot_(cell_guards) {
    if (cell_guards == MAX_GUARDS) fire(err::stack_overflow);
    guarded_cells[cell_guards++] = cell;
}
root_cell::~root_cell() { cell_guards = slot_; }

void add_dead_node(node_t node) { alloc::free_node(alloc::frame_of(node), node); }

}  // namespace zuv::collector
