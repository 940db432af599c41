// The evaluator's entry points as the runtime core calls them.
//
// Datatype code runs user code in two ways only: an object spec block is
// evaluated whole (eval), and a function value is called after its caller
// has pushed a frame and the arguments (call_function). Both leave their
// result in the current call's result slot. An exit that passes through
// (break, return, throw to an outer catch) is left pending (runtime/exits.h):
// callers test exits::pending_q() after each call and return at once.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::interpreter {

// Call flags that tell the called function why it runs.
constexpr uint32_t CALL_ON_CHANGE = 8;
constexpr uint32_t CALL_ON_DEEP_CHANGE = 16;

// Evaluates the whole block (flag 0) and leaves its last value in the
// current result slot; errors raised inside propagate.
void eval(cell_t* block, int32_t flag);

// Runs fn (a function! or routine!) whose arguments and locals are already on
// the argument stack, inside a frame the caller pushed (stack::mark_func with
// ctx). word names the call. The result is left in the frame's result slot.
void call_function(cell_t* fn, node_t ctx, const cell_t* word, uint32_t flags);

}  // namespace zuv::interpreter
