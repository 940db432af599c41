// port!: an object whose series and I/O actions are carried out by an actor
// object that the port's scheme supplies.
//
// The cell is an object! cell (context node, class id 2, change record) of
// type port!, made from system/standard/port: fields spec, scheme, actor,
// awake, state, data, extra. Every forwarded action opens a function frame
// under the action's own word, pushes the port, then each argument of the
// action in spec order and, per refinement, a logic! telling whether it was
// given followed by its argument (none when absent), and calls the actor's
// function of that name. The actor decides what the action means; the port
// only carries the call.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::port {

constexpr int32_t CLASS_ID = 2;

// The port's actor field; access invalid-port unless it holds an object!.
cell_t* get_actor(const cell_t* port);
// The most values an action hands its actor after the port: its arguments
// and refinement slots (find has the most, 15).
constexpr int32_t MAX_FORWARDED = 24;
// Calls the actor's function named after the action with the port and args;
// access no-port-action with the word when the actor has no such function.
// Returns the result (in stack::arguments of the caller's frame: the call's
// result slot).
cell_t* forward(int32_t action, const cell_t* port, const cell_t* args, int32_t count);

// Pushes a new port made from spec as make port! makes it (a URL, a block
// or an object), leaving the result slot as it was; nullptr when an exit
// left the spec's evaluation.
cell_t* make_from(const cell_t* spec);
// open (read or write mode), read and write of a port, as the actions do
// them; the result is left in the result slot.
cell_t* open(cell_t* port, bool read, bool write);
cell_t* read(cell_t* port, cell_t* part, cell_t* seek);
cell_t* write(cell_t* port, cell_t* data, cell_t* seek);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

// Registers port! (after object!).
void init();

}  // namespace zuv::port
