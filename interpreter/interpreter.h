// The interpreter: evaluation of blocks, expressions and calls.
//
// A block is evaluated one expression at a time. Each expression leaves its
// value either in the current frame's result slot ("store" mode: the slot is
// overwritten and every cell above it dropped) or as one new cell on the
// argument stack ("push" mode, used when gathering arguments). After every
// expression the interpreter looks ahead for an infix operator word; operators
// associate left to right with no precedence.
//
// Positions are cell INDEXES counted from the first cell of the code's
// buffer, never addresses: any call may allocate and move the buffer, so the
// current cell is re-read through the code's node after every call. The end
// index is clamped to the buffer's live tail before each read, so code that
// shortens the block it is running cannot make the interpreter read past it.
// `code` arguments are cells that stay where they are for the whole call (an
// argument-stack slot, or a C++ local holding a value reachable elsewhere).
//
// A call pushes the callee's value first (its slot receives the result, and
// keeps the callee alive), marks a frame, gathers the arguments as the
// callee's arguments cache prescribes, runs the callee and pops the frame.
// The cache is a block made once per callee from its spec and kept in slot 1
// of its more series (op! values share it with what they wrap).
//
// Non-local exits: errors are C++ exceptions (raised_error). break, continue,
// return, exit and throw leave exits::pending set and return normally, with
// their frames already unwound; every function here tests exits::pending
// after each call it makes and returns at once, touching neither stack,
// when it is set. A function call absorbs return and exit.
//
// Native entries: `check` (0 from the interpreter, which has tested the
// types), then one refinement position per refinement in spec order: -1 when
// unused, else the index (cells from stack::arguments) of its first argument.
// Action entries (interpreter/action_entries.h) take the positions only.
#pragma once

#include <csignal>
#include <cstdint>

#include "interpreter/arguments_cache.h"
#include "runtime/cell.h"
#include "runtime/library_code.h"
#include "runtime/stamp.h"

namespace zuv {

using native_entry_t = void (*)(int32_t check, const int32_t* refinements);

namespace interpreter {

// --- state ---------------------------------------------------------------------
// The block under evaluation, its index at the current expression (error
// reports copy it as their near). Both cells are roots for the collector.
// The position cell is in static storage (a memory manager reset, which
// tests make, must never free it) and its address is a constant: a store of
// the position, made per expression, needs no load of where it goes.
inline cell_t position_cell{TYPE_none, 0, 0, 0};  // none until a block runs
inline cell_t* const position = &position_cell;

// A block of user code run inside an expression (a paren, a branch, the
// block of do or of a loop, a function's body) gives the position back as it
// found it once it ran to its end, and a call also once return ended its
// body: an error later in the same expression is near the expression, not the
// block that ran inside it. After an error or any other exit the position
// stays where that happened, and library code leaves the position of the
// user code it ran.
//
// A position held to give back is a root while it is held: the block it
// names may be held by nothing else meanwhile (a block `do` ran and left the
// position in, made by reduce, say), and would be freed, then named again.
// The holders form a chain through the native stack, innermost first.
struct held_position {
    cell_t saved;
    held_position* outer;
    explicit held_position(const cell_t* from);
    ~held_position();
    held_position(const held_position&) = delete;
    held_position& operator=(const held_position&) = delete;
};
inline held_position* innermost_held = nullptr;
inline held_position::held_position(const cell_t* from) : saved(*from), outer(innermost_held) {
    innermost_held = this;
}
inline held_position::~held_position() { innermost_held = outer; }

struct nested_position : held_position {
    bool user = true;
    // A block of planned code (user code).
    nested_position() : held_position(position) {}
    explicit nested_position(const cell_t* code)
        : held_position(position), user(!library_code::library_q(code->data2)) {}
    // A block the running code has run (do's, a loop's body): given back
    // only to user code.
    explicit nested_position(bool user_caller) : held_position(position), user(user_caller) {}
    void restore() const {
        if (user) *position = saved;
    }
};
// The user tracer (unset when none) and the switch tested before every event.
extern cell_t* tracer;
extern bool tracing;
extern uint32_t trace_mask;
// True when ZUV_NO_FAST_PATHS was set at start-up: no callee gets a plan,
// and no short way is taken where a general one exists (a check that the
// general path still gives what the short ways give).
extern bool general_path_only;
// Whether the short ways may be taken: nothing is traced and the switch
// above is off. Each short way tests this one flag where it already tested
// `tracing`, so the switch costs the hot paths nothing.
extern bool short_ways;
// Every write of `tracing` goes through here: planned runs read it in the
// stamp's guard byte (runtime/stamp.h).
inline void set_tracing(bool on) {
    tracing = on;
    short_ways = !on && !general_path_only;
    stamp::guard = static_cast<uint8_t>((stamp::guard & ~stamp::GUARD_TRACING) |
                                        (on ? stamp::GUARD_TRACING : 0));
}
// The natives' entries, slot number - 1; natives::init points it at its table.
extern native_entry_t* native_table;

// Trace events (the bits of the tracer's mask).
namespace event {
constexpr uint32_t INIT = 1, END = 2, PROLOG = 4, EPILOG = 8, ENTER = 16, EXIT = 32, OPEN = 64,
                   RETURN = 128, FETCH = 256, PUSH = 512, SET = 1024, CALL = 2048, ERROR = 4096,
                   THROW = 8192, CATCH = 16384, EXPR = 32768;
}

// The tracer's hook: event, code (a block, paren or path, or nullptr),
// position (an index in code, -1 for none), reference and value (nullptr for
// none). Installed by the tracing support; only reached while `tracing`.
using trace_hook_t = void (*)(uint32_t event, const cell_t* code, int32_t pos,
                              const cell_t* reference, const cell_t* value);
extern trace_hook_t trace_hook;
inline void fire_event(uint32_t ev, const cell_t* code, int32_t pos, const cell_t* reference,
                       const cell_t* value) {
    if ((trace_mask & ev) && trace_hook) trace_hook(ev, code, pos, reference, value);
}

// Callback kinds of call_function (the bits of system/state/callbacks/bits).
namespace callback {
constexpr uint32_t NONE = 0, LEXER = 1, PARSE = 2, SORT = 4, CHANGE = 8, DEEP = 16, PORT = 32;
}
constexpr uint32_t CALL_ON_CHANGE = callback::CHANGE;
constexpr uint32_t CALL_ON_DEEP_CHANGE = callback::DEEP;
// The bits of the callback kinds whose code is traced.
extern uint32_t callback_bits;

// fetch_args modes: ordinary evaluation, apply/all, plain apply, and /safer.
namespace mode {
constexpr int32_t EVAL = 0, APPLY_ALL = 1, APPLY = 2, SAFER = 4;
}

// Step "interpreter": the position and tracer cells in the root block, the
// frame words, and the native stack's depth limit for this thread.
void init();
// Takes the calling thread's native stack for the depth limit (init does it
// for the thread that starts the runtime).
void init_stack_limit();

// Interrupts (Ctrl-C while a UI owns the terminal): request_interrupt, safe
// in a signal handler, makes the evaluator run interrupt_handler before its
// next expression or call (a `wait` under way ends first); the handler
// raises or throws to stop the code, or returns to let it go on. take_interrupt answers whether a
// request was still waiting and withdraws it. Loops call poll_interrupt between rounds: a round may
// evaluate nothing that tests (a lone word, an empty block).
using interrupt_handler_t = void (*)();
extern interrupt_handler_t interrupt_handler;
extern volatile sig_atomic_t interrupt_requested;
void request_interrupt();
bool take_interrupt();
void run_interrupt();
inline void poll_interrupt() {
    if (interrupt_requested) [[unlikely]]
        run_interrupt();
}

// --- evaluation -----------------------------------------------------------------
// Evaluates a whole block (or paren) from its index in a frame named <body>.
// keep: the result goes to the current result slot (stack::arguments) and the
// stack top is left just above it; else the result is left as one new cell
// pushed on the stack. An empty block gives unset.
void eval(const cell_t* block, bool keep);

// eval(block, true) without a <body> frame of its own: block is a cell below
// the top that stays put (an argument of the current frame) and keeps its
// block alive; the values are pushed above the top, the last one becomes the
// current frame's result (stack::arguments) with the top just above it.
// For natives that run a block argument many times (loops).
void eval_here(const cell_t* block);

// eval(paren, false) through the paren's plan when it has one: the result is
// left as one new cell pushed on the stack. For natives that run a paren they
// hold many times (parse's actions).
void eval_paren_pushed(const cell_t* paren);

// One expression at pos (with the infix lookahead) inside a native frame named
// <body>; push: the result is left pushed, else stored in the result slot.
// Returns the index after the expression.
int32_t eval_next(const cell_t* code, int32_t pos, int32_t end, bool push);

// The expression at the block's index, result in the result slot (unset at
// the tail); returns the new index from the buffer's head (do/next).
int32_t do_next(const cell_t* block);

// One expression at pos; returns the index after it. no_infix skips the
// lookahead (right operands); as_value yields a function value standing in
// the code instead of calling it.
int32_t eval_expression(const cell_t* code, int32_t pos, int32_t end, bool no_infix, bool push,
                        bool as_value);

// --- calls ----------------------------------------------------------------------
// Calls a native, action, function or routine whose arguments follow at pos.
// word_pos: the index of the word naming the call (-1 or a non-word: <anon>).
// infix: the left operand is the last pushed cell and the cell beneath it is
// the callee's slot. path/ref_pos: the path whose elements from index ref_pos
// on are refinements (nullptr: none). Returns the index after the arguments.
int32_t eval_code(const cell_t* callee, const cell_t* code, int32_t pos, int32_t end, bool push,
                  int32_t word_pos, bool infix, const cell_t* path = nullptr, int32_t ref_pos = 0);

// Pushes the arguments of callee (a stable cell) into the current frame and,
// for natives and actions, calls the entry. mode: see `mode`. Returns the
// index after the last argument consumed.
int32_t fetch_args(const cell_t* callee, const cell_t* code, int32_t pos, int32_t end,
                   const cell_t* path, int32_t ref_pos, int32_t mode, bool infix);

// Runs a function (or routine) whose arguments and locals are in place in the
// current frame, which the caller marked (stack::mark_func or
// mark_interp_func); the result is left in the frame's result slot. The
// function's context reads the frame's arguments while it runs and gets its
// previous values back afterwards, whether the call returns, exits or raises.
// A pending return or exit is absorbed. word: the call's word (nullptr:
// <anon>); callback_kind: why a native or datatype calls it (callback::), 0
// from the interpreter.
void call_function(const cell_t* fn, const cell_t* word, uint32_t callback_kind);

// Calls back into Zuv from C++: the one way datatypes, the lexer, parse and
// natives run a Zuv function (change handlers, sort comparators, port
// actors, lexer and parse callbacks, do-file). The frame follows the
// callee's spec: its leading arguments take args (none where fewer are
// given; extra values are dropped), its refinements are off and its locals
// none. frame_word names the frame in reports (nullptr: <anon>); kind says
// why the callback is made (callback::), which decides whether a tracer sees
// it. Returns true when the callee returned: result holds its value and args
// the final values of the arguments it took (a lexer callback moves its
// input so). Returns false when it left with an exit bound for outside (break,
// continue, throw, or a return or exit with no target inside): the frames it
// crossed are unwound and the exit stays pending for the caller to carry on.
bool call_back(const cell_t* callee, const cell_t* frame_word, cell_t* args, int32_t count,
               uint32_t kind, cell_t* result);

// Runs a routine whose arguments are in place in the current frame.
void call_routine(const cell_t* routine);

// Runs the native or action at slot, its frame marked just above it with
// its n normal arguments pushed: their types checked as a call checks them,
// then the entry with no refinement. The result is in the frame's result slot.
void run_checked(const cell_t* slot, int32_t n);

// The native or action value the global context held for a table index at
// start-up (kept alive), nullptr when there was none: what the fast paths
// call when they fall back.
const cell_t* start_up_value(uint8_t type, uint32_t index);

// value/index through the path-access action in get mode, in a native frame
// named by word: the fallback of a pick that is not of a block. The result
// is pushed and returned.
cell_t* pick_through_path(const cell_t* word, const cell_t* value, int32_t index);

// --- paths ----------------------------------------------------------------------
// Evaluates the path at pos in code (get: get-path semantics; set: the value
// to store is the first argument of the current frame). Returns the index
// after everything consumed.
int32_t eval_path(const cell_t* path, const cell_t* code, int32_t pos, int32_t end, bool set,
                  bool get, bool push, bool case_);

}  // namespace interpreter
}  // namespace zuv
