// Helpers of the value, function, context and set natives that other C++
// code calls directly (the entries themselves are declared in natives.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::natives {

// 1 when the last print or prin ended its output with a new line (print), 0
// after prin; the library's last-lf? reads it.
extern int32_t last_lf;

// print (newline true) and prin of value: a block is reduced first, a string
// is written as it is, anything else is formed. Returns false when a
// non-local exit left pending by the reduction stopped it.
bool print_value(const cell_t* value, bool newline);

// Evaluates the expressions of block (a stable cell: an argument-stack slot or
// a root cell) one at a time into target, a stable block cell: appended, or
// inserted at target's position (which then moves past them) when insert.
// Returns false when a non-local exit is pending.
bool reduce_into(const cell_t* block, cell_t* target, bool insert);

// Composes block into target (as reduce_into); deep composes nested blocks
// into new blocks, only keeps block results whole.
bool compose_into(const cell_t* block, cell_t* target, bool deep, bool only, bool insert);

// Sets the words of the block words (from its head) from value: value i to
// word i when value is a block kind and not only (none past its tail), else
// value to every word. Every target is checked before anything is stored:
// invalid-arg for a non-word, need-value for an unset value without any.
// some: a none value leaves its word as it is.
void set_many(const cell_t* words, const cell_t* value, bool any, bool only, bool some);

// get and set on a path value: the result is left in the current frame's
// result slot (get) / value is stored where the path leads (set).
void get_path(const cell_t* path, bool case_);
void set_path(const cell_t* path, const cell_t* value, bool case_);

// Whether two values are the same value (same? native).
bool same_q(const cell_t* value1, const cell_t* value2);

// The shared set routine of union, intersect, unique, difference and
// exclude: the sets are the current frame's first two arguments; skip is
// the cell of the /skip size or nullptr; code 8 to 12.
void set_operation(int32_t native_number, bool case_, const cell_t* skip, int32_t code);

}  // namespace zuv::natives
