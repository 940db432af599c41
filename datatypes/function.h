// function!: user-defined functions.
//
// A function is a spec block (arguments, refinements, locals, return type,
// documentation), a body block and a context that holds the arguments and
// locals while it runs. The cell: word 1 the context node (whose self value
// holds a copy of this cell), word 2 the spec node (head always 0), word 3
// the "more" node: a series of six cells (MORE_*). A function of the
// library may also carry compiled code: an index into the table of C++ entry
// points (datatypes/routine.h) kept in more[MORE_CODE]; a call runs that
// instead of interpreting the body.
//
// The call frame of a function, as callers build it: the arguments in spec
// order; each refinement as a logic! (false when unused) followed by its
// arguments (none when unused); then /local as one more refinement slot
// (false) followed by one none per local word.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::function {

// Header bits from the spec's attribute block.
constexpr uint32_t FLAG_NO_TRACE = 1u << 9;
constexpr uint32_t FLAG_TRACE = 1u << 10;

// The more series.
constexpr int32_t MORE_COUNT = 6;
constexpr int32_t MORE_BODY = 0;  // deep copy of the body, or none
constexpr int32_t MORE_CODE = 2;  // integer!: compiled body's entry index; unset when none
constexpr int32_t MORE_OP = 3;  // for a function wrapped by an op!: a copy of the function
constexpr int32_t MORE_OWNER = 4;  // integer!: node of the object context it belongs to; else unset
// The interpreter's plan of the body (interpreter/plans/plans.h): unset before the
// first call, integer! 1 after it, then the plan's block (a fixed series), or
// none when the body has no plan.
constexpr int32_t MORE_PLAN = 5;

inline node_t context_of(const cell_t* fn) { return fn->data1; }
inline node_t spec_node(const cell_t* fn) { return fn->data2; }
inline node_t more_node(const cell_t* fn) { return fn->data3; }
// A cell of the more series; valid until the next allocation.
inline cell_t* more(const cell_t* fn, int32_t index) {
    return alloc::buffer(fn->data3)->head_cell() + index;
}

// The events a callback takes (a lexer, parse or trace callback): all, unless
// the function's body begins with a block of event words; then bit e for each
// event_symbols[e] (canonical symbol ids) that the block names.
uint32_t event_mask(const cell_t* fn, const int32_t* event_symbols, int32_t count, uint32_t all);
// The compiled body's entry index, 0 when the function has none.
int32_t code_of(const cell_t* fn);

// Builds a function on the argument stack (the pushed cell) and returns its
// context node. spec: a block cell (a head above 0 is replaced by a copy
// from there); body: a block cell or nullptr/none; ctx 0 makes a context from
// the spec and binds the body to it; code 0: no compiled body; object_ctx 0:
// no owning object.
node_t push(const cell_t* spec, const cell_t* body, node_t ctx, int32_t code, node_t object_ctx,
            uint32_t flags);

// Checks a spec block; returns its attribute flags (FLAG_TRACE, FLAG_NO_TRACE)
// or raises bad-func-def, invalid-type-spec or dup-vars. Never changes the
// spec.
uint32_t validate_spec(const cell_t* spec);

// Frame slots of the locals from index start of the spec series: 1 for
// /local plus one per word after it; without /local 0, or -1 when must_have.
int32_t count_locals(node_t spec, int32_t start, bool must_have);
// Pushes logic false then n - 1 nones (the /local slot and the locals).
void init_locals(int32_t n);
// For a call from C++ that has pushed the first `given` values of a frame:
// pushes the rest, one slot per word of the function's context ctx, false
// for a refinement (off) and none for the others (their arguments, locals).
void fill_frame(node_t ctx, int32_t given);

// For the function native: pushes and returns the block of locals collected
// from the body's set-words (and loop words), appending them to the spec
// after /local. The spec is changed in place (and cut at /extern).
cell_t* collect_words(cell_t* spec, cell_t* body);

// Actions.
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* reflect(cell_t* value, int32_t field);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

// Registers function! (parent context!).
void init();

}  // namespace zuv::function
