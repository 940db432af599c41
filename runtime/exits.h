// Non-local exits: errors, break, continue, return, exit and throw.
//
// Every exit first unwinds the call-frame stack (runtime/stack.h) to the
// nearest frame of the kind that handles it and leaves the travelling value
// in that frame's result slot. Then control has to get back to the C++
// activation that owns that frame. Two mechanisms do this:
//
// - Errors travel as a C++ exception, raised_error (runtime/fire.h), which
//   carries only the error id; the error value itself stays on the argument
//   stack (pushed last by throw_error). Errors are rare, so the cost of a C++
//   throw does not matter; every `try`-like native catches raised_error.
//
// - break, continue, return, exit and throw are frequent. They never throw
//   in C++: the throw_* functions below do the frame search and the unwinding,
//   store the exit's throw code in `pending` and RETURN NORMALLY. From then on
//   every C++ activation between the exit and its target returns at once
//   without touching either stack (the frames are already unwound): the
//   evaluator tests `exits::pending` after every call it makes, and so does any
//   C++ code that calls user code (sort comparators, change handlers, parse
//   actions, callbacks). The activation that owns the target frame (a loop
//   native for break/continue, the function call for return/exit, `catch` for
//   throw) tests the code with accepts(), takes it with take(), and carries on.
//
// A catch point is described by its level: it accepts the codes not above its
// level (a loop accepts break and continue, and sees return, exit and throw
// pass by; catch accepts throw; try and do see everything). What a catch point
// does not handle it leaves pending and returns, so the exit passes on.
//
// An error that no try or try-all frame catches ends the process: its text
// form is printed and the status is 254 (see uncaught()).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv {

struct call_frame_t;

namespace exits {

// Throw codes, compared unsigned; also the catch levels.
constexpr uint32_t THROW_ERROR = 0x7FFFFFFFu;
constexpr uint32_t THROW_BREAK = 0x7FFFFFFEu;
constexpr uint32_t THROW_CONTINUE = 0x7FFFFFFDu;
constexpr uint32_t THROW_RETURN = 0x7FFFFFFCu;  // return with a value
constexpr uint32_t THROW_EXIT = 0x7FFFFFFBu;  // exit: no value
constexpr uint32_t THROW_THROW = 0x7FFFFFFAu;
// Thrown and caught inside integer power on overflow; never unwinds frames.
constexpr uint32_t THROW_POWER = 0x7FFFFFF9u;

constexpr uint32_t LEVEL_LOOP = THROW_BREAK;
constexpr uint32_t LEVEL_CATCH = THROW_THROW;
constexpr uint32_t LEVEL_ALL = THROW_ERROR;

// The thrown-code field: the code of the exit in flight, 0 when none.
extern uint32_t pending;

inline bool pending_q() { return pending != 0; }
// Whether a catch point of this level stops the exit in flight.
inline bool accepts(uint32_t level) { return pending != 0 && level >= pending; }
// Takes the exit in flight: returns its code and clears it.
inline uint32_t take() {
    uint32_t code = pending;
    pending = 0;
    return code;
}

// Thrown by C++ code that ran user code in the middle of its own work (an
// object's change handler, called by the action or assignment whose change
// it reports) when that code left an exit pending: the work cannot go on
// and has no way to return half-done. The frames are unwound already. The
// targets of break, continue and throw (the loops and catch) stop it and
// handle the exit as pending after any call; between them and the thrower
// it passes as an error would.
struct escape {};

// --- raising ---------------------------------------------------------------
// The error value is a cell anywhere (normally the one fire made on the
// argument stack). Sets its where and stack fields, unrolls the frames to the
// nearest try or try-all frame, pushes the error and throws raised_error. When
// nothing catches it: uncaught().
[[noreturn]] void throw_error(cell_t* error);

// break (continue_ false) or continue. has_value: break/return, whose value
// is the cell at the arguments base. With no loop frame before the bottom or a
// try-all frame, raises the throw error break / continue. Returns with the
// loop frame innermost, arguments = top = its own base, the result in that
// base cell, and pending set.
void throw_break(bool has_value, bool continue_);

// return (has_value) or exit. The target is the nearest frame with the
// exit/return target flag; include_innermost makes the innermost frame a
// candidate too. Returns as throw_break, pending THROW_RETURN or THROW_EXIT.
void throw_exit(bool has_value, bool include_innermost);

// throw: the thrown value is at the arguments base, its name (none when
// unnamed) in the cell after it. Finds the nearest catch frame; returns with
// arguments = top = its base and the value and the name pushed there, pending
// set to code.
void throw_throw(uint32_t code);

// Ends the process for an error that nothing catches: prints its text form
// and a newline, exits with 254 and prints nothing after it.
[[noreturn]] void uncaught(cell_t* error);

// When false (unit tests, C++ callers with no evaluator around them), an
// error that no frame catches is thrown as raised_error all the same and the
// C++ caller sees it; runtime::start sets it, so in the process it ends the
// process at the throw.
extern bool end_process_on_uncaught;

// --- frame walks -------------------------------------------------------------
// The word of the innermost frame that is not <body> or <anon>, starting at
// the throw origin when set (and clearing it); <not-found> past the bottom.
cell_t get_call();

// For every frame from the innermost down to the one above the bottom frame,
// skipping <body>/<anon>: appends the frame's word and its arguments base
// (an integer!, in cells from the stack bottom) to the block.
void collect_calls(cell_t* block);

// From the bottom frame up to (not including) end: appends the word of each
// frame whose word's value is a function!, or of every frame when level > 1.
// The frames may lie above the top (popped by the throw, still whole): no
// collection runs meanwhile.
void trace(int32_t level, cell_t* block, call_frame_t* end);

// The text after "*** Stack: ": frames up to the frame top recorded in the
// error's stack field (an integer!), but not above the current top, formed as
// in trace, each followed by a blank, until the budget is spent (the last
// word may be cut). Returns the remaining budget.
int32_t trace_form(int32_t level, const cell_t* stack_field, cell_t* out, int32_t budget);

}  // namespace exits
}  // namespace zuv
