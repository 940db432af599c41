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

#include "runtime/cell.h"

namespace zuv::port {

constexpr int32_t CLASS_ID = 2;

// The port's actor field; access invalid-port unless it holds an object!.
cell_t* get_actor(const cell_t* port);
// Calls the actor's function named by action_word on the arguments already
// pushed in the current function frame (marked for that function); access
// no-port-action with the word when the actor has no function of that name.
void call_actor(const cell_t* actor, const cell_t* action_word);
// Opens the frame, pushes port and args, calls the actor, and returns the
// result (in stack::arguments of the caller's frame: the call's result slot).
cell_t* forward(int32_t action, const cell_t* port, const cell_t* args, int32_t count);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);

// Registers port! (after object!).
void init();

}  // namespace zuv::port
