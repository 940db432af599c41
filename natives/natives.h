// The natives: the built-in functions written in C++, numbered 1 to 107.
//
// natives.def is the one list: number, entry, word and spec of each native.
// `table` maps a number to its entry (slot number - 1); the interpreter reads
// it through interpreter::native_table. A native with no entry yet keeps a
// null slot, and calling it raises not-done.
//
// Calling protocol (every caller, the interpreter or C++ code): mark a native
// frame, push the mandatory arguments in spec order and then the arguments of
// each used refinement, call the entry with `check` (0 when the caller has
// tested the argument types, 1 when not) and one position per refinement in
// spec order: -1 when unused, else the index in cells from stack::arguments
// where its arguments begin (any value but -1 for one without arguments).
// The result is left in the first argument slot. Then unwind the frame.
//
// Non-local exits: an entry that evaluates code returns at once when
// exits::pending is set after an evaluation, leaving it set for its caller,
// unless the exit is its own (loops take break and continue, catch takes
// throw, try errors).
#pragma once

#include <cstdint>

#include "datatypes/logic.h"
#include "interpreter/interpreter.h"
#include "natives/ids.h"
#include "runtime/cell.h"

namespace zuv::natives {

// --- the table -------------------------------------------------------------
constexpr int32_t TABLE_SLOTS = 120;
static_assert(COUNT < TABLE_SLOTS, "the table has room for every native and the appended ones");

// Slot number - 1 holds the entry of native `number` (nullptr: not built yet).
extern native_entry_t* table;
// The number the next table_append writes; 108 after start-up.
extern int32_t next_number;

// What the list says of one native.
struct info_t {
    int32_t number;
    const char* word;  // e.g. "remove-each"
    const char* spec;  // the spec block's text without its brackets
    native_entry_t entry;
};
// Native `number` (1 to COUNT).
const info_t& info(int32_t number);
// The number of the native named word (its text), 0 when there is none.
int32_t number_of(const char* word);

// Step "natives": allocates the table, makes the print buffer in the root
// block and appends the entries in number order.
void init();
// Appends count entries to the table from slot next_number - 1 on.
void table_append(int32_t count, const native_entry_t* entries);

// Makes the native! value of every native from its spec and sets the global
// word to it. Needs the lexer and the stacks (it runs after start-up's lexer
// step); the boot data takes this over once it exists.
void define_words();

// The native! value of native `number` as start-up made it (nullptr before).
const cell_t* value_of(int32_t number);

// The word of native `number`, bound in the global context (frames record it).
const cell_t* word_of(int32_t number);

// The 32-cell block print and prin reduce a block into (a root block cell).
extern cell_t* print_buffer;

// --- entries ----------------------------------------------------------------
#define ZUV_NATIVE(number, name, word, spec) void name(int32_t check, const int32_t* refinements);
#define ZUV_PLANNED(number, name, word, spec)
#include "natives/natives.def"
#undef ZUV_NATIVE
#undef ZUV_PLANNED

// --- shared helpers -----------------------------------------------------------
// Under check = 1, tests the arguments of the current frame against the spec
// of native `number`; a mismatch raises expect-arg.
void check_args(int32_t number, const int32_t* refinements);

// The lenient truth test (unset is true) and the strict one (unset raises).
using logic::truthy;
using logic::truthy_strict;
// A count (a size, a figure of memory) as an integer!, or past the integer
// range as a float!, which holds it exactly up to 2^53.
cell_t* make_figure(cell_t* cell, int64_t n);

// --- loop steps (shared with C++ callers that run their own loops) -------------
// foreach and remove-each keep two state cells on the argument stack: a copy
// of the series (its index is the iteration position) and, in the next cell,
// the word or block of words. `state` points at the first.
// One step with a single word; false at the tail.
bool foreach_next(cell_t* state);
// One step with n words (past the tail a word gets none); false at the tail
// or when n < 1.
bool foreach_next_block(cell_t* state, int32_t n);
// After a remove-each body whose value is `result`: when truthy, removes the
// n elements just visited and moves the series back over them.
void remove_each_next(cell_t* state, const cell_t* result, int32_t n);
// Reads the loop word's series (advancing it by one first when advance), and
// answers whether it is at its end. saved: the series the loop began with
// (bad-loop-series when the word now refers to another buffer).
bool forall_next(const cell_t* word, const cell_t* saved, bool advance);
// Sets the loop word back to the saved series.
void forall_end(const cell_t* word, const cell_t* saved);
// The count argument as an integer (a float is truncated toward zero), also
// written back into the cell.
int32_t loop_count_at(cell_t* count);
// Whether the series value's index is before its tail.
bool series_more_q(const cell_t* series);

}  // namespace zuv::natives
