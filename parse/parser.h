// The parse dialect: matching a series against a block of rules.
//
// The engine is one loop over two explicit stacks, never C++ recursion, so a
// deep grammar costs stack cells rather than machine stack and a trace
// callback can watch every step. Both stacks are block! values kept in the
// root block for the life of the process (so the collector marks every rule
// block, input series and collect target they hold):
//
// - the rule stack holds frames of FRAME_CELLS cells: a block frame for each
//   rule block entered, a state frame for each keyword that governs the next
//   rule (its kind code, counters, saved input position, word and target);
// - the input stack holds the input series of each `into` level (the
//   innermost is the current input).
//
// The rule everything here depends on: positions are indexes, never
// addresses. Any paren, callback or series change may allocate and move any
// buffer, so the engine keeps the rule position, the input position and the
// frames as indexes and reads cells through their nodes after every call.
//
// A nested parse (from a paren or a callback) starts above the outer call's
// frames. Every way out of a call, a normal end, a callback stop, an exit in
// flight or a raised error, cuts both stacks back to where that call found
// them, so a later parse (or the outer one, after a `try` in a paren) works.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::parser {

// Both stacks stop at this many cells (parse-stack).
constexpr int32_t STACK_LIMIT = 10001;
constexpr int32_t RULE_STACK_START = 8;
constexpr int32_t INPUT_STACK_START = 100;

// Kind codes of state frames (the trace names them by their keywords).
namespace kind {
constexpr int32_t BLOCK = 0;  // a rule block entered
constexpr int32_t ITERATE = -1, TO = -2, THRU = -3, COPY = -4, SET = -5, NOT = -6, INTO = -7,
                  OPT = -8, REMOVE = -9, WHILE = -11, COLLECT = -12, KEEP = -13, KEEP_PAREN = -14,
                  AHEAD = -16, CHANGE = -17, CHANGE_ONLY = -18, CASE = -19;
}  // namespace kind

// The two stacks: cells of the root block, which never moves.
extern cell_t* rule_stack;
extern cell_t* input_stack;

// Start-up step "parser": makes both stacks in the root block.
void init();

// Matches input (a block kind, string kind or binary!) against rules (a
// block!). case_: literal comparisons by case. limit: the /part limit as an
// absolute index in the input's buffer, -1 for none. callback: the trace
// function, or nullptr. The result (true/false, or the block of a top-level
// collect) is written to out, which must be a rooted cell (an argument-stack
// slot). When an exit is pending afterwards (exits::pending) out is not
// touched and the caller must return at once.
void parse(cell_t* out, const cell_t* input, const cell_t* rules, bool case_, int32_t limit,
           const cell_t* callback);

// Cells on each stack now (for tests and the trace).
int32_t rule_depth();
int32_t input_depth();

}  // namespace zuv::parser
