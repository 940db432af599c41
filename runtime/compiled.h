// Support routines for the runtime's own C++ code.
//
// Natives, actions and datatype modules check argument types, read and write
// words and context slots, hand refinements on, walk paths and pick values
// out of blocks through these routines, so that every such failure raises
// the same error with the same arguments. They all take cell addresses (on
// the argument stack or in a series) and keep none of them after returning.
#pragma once

#include <cstdint>

#include "datatypes/logic.h"
#include "runtime/cell.h"
#include "runtime/fire.h"

namespace zuv::compiled {

// --- errors ------------------------------------------------------------------
// Builds the error, prints its text form and leaves unset as the result: a
// fault reported without stopping (the Draw dialect uses it).
void report_error(err id, const cell_t* arg1 = nullptr, const cell_t* arg2 = nullptr,
                  const cell_t* arg3 = nullptr);
// bad-make-arg with the two values.
[[noreturn]] void fire_2_args(const cell_t* value1, const cell_t* value2);

// --- argument checks -----------------------------------------------------------
// The bit of datatype t in a typeset! cell: bit (0x80 >> (t & 7)) of byte
// (t >> 3), bytes counted from the start of data word 1.
inline bool typeset_has(const cell_t* typeset, uint32_t type) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&typeset->data1);
    return (bytes[type >> 3] & (0x80u >> (type & 7))) != 0;
}
// expect-arg naming the current call's word, the value's datatype and the
// argument's word (arg_num counts the word-like entries of the callee's spec).
[[noreturn]] void fire_expect_arg(int32_t arg_num, uint32_t type);

inline const cell_t* check_arg_type(const cell_t* typeset, int32_t arg_num, const cell_t* value) {
    if (!typeset_has(typeset, type_of(value))) fire_expect_arg(arg_num, type_of(value));
    return value;
}
// Checks the cell at that index of the current call; a negative index skips.
void check_arg_at(int32_t index, const cell_t* typeset, int32_t arg_num);
// Checks only when the refinement is set (none and false are not set).
const cell_t* check_opt_arg(const cell_t* refinement, const cell_t* typeset, int32_t arg_num,
                            const cell_t* value);
inline const cell_t* check_unset(int32_t arg_num, const cell_t* value) {
    if (type_of(value) == TYPE_unset) fire_expect_arg(arg_num, TYPE_unset);
    return value;
}

// --- words and refinements -------------------------------------------------------
// Stores the last pushed cell into the word; need-value when it is unset.
void set_word_checked(const cell_t* word);
// The word's value; no-value when unset.
cell_t* get_word_checked(const cell_t* word);
// Truth without the unset check: only none and false are false.
inline bool truthy(const cell_t* value) { return logic::truthy(value); }

// --- paths, select -----------------------------------------------------------------
// Evaluates head/elements[0]/.../elements[count-1]; with set, stores the
// current result slot at the last step. The result goes to the result slot
// and is returned.
cell_t* eval_path(bool set, cell_t* path, cell_t* head, cell_t* const* elements, int32_t count);
// Searches the block at argument 1 for the value at argument 0 (see the
// comments in compiled.cpp for push and next_block). Returns the found cell,
// nullptr when nothing was found.
cell_t* select(bool push, bool next_block);

// --- numbers -----------------------------------------------------------------------
// integer! value, or a float! truncated toward zero within the 32-bit range;
// out-of-range (with the float) otherwise, NaN included.
int32_t float_to_int(const cell_t* value);

}  // namespace zuv::compiled

namespace zuv::mold {
// Appends four spaces per level to the string cell; returns limit - 4 x level.
int32_t indent(cell_t* buffer, int32_t level, int32_t limit);
}  // namespace zuv::mold

namespace zuv::alloc {
// Repeats the first unit_size bytes of buffer count times (the buffer must
// hold unit_size x count bytes); returns the end.
uint8_t* fill_pattern(uint8_t* buffer, int32_t unit_size, int32_t count);
}  // namespace zuv::alloc
