// routine!: the library's low-level routines.
//
// A routine is a spec, an optional body kept for reflection only (never
// bound), the entry of its C++ code and a return type. The cell: word 0 the
// header (bit 15 the flag given to push, bits 25-29 the arity), word 1 a
// context made from the spec, word 2 the spec node, word 3 the more node of
// five cells: [0] the body or none, [2] integer! entry index, [4] integer!
// return type (a datatype id, or -1).
//
// Entries are C++ functions kept in one table and named by index (1-based, 0
// for none), so no code address ever sits in a 32-bit cell word. An entry
// reads its arguments from stack::arguments on and leaves its result there.
// Compiled function bodies are entries of the same table.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::routine {

constexpr uint32_t FLAG_EXTRA = 1u << 15;
constexpr uint32_t ARITY_SHIFT = 25;
constexpr uint32_t ARITY_MASK = 0x1Fu << ARITY_SHIFT;

using entry_t = void (*)();

// Adds an entry to the table; returns its index (from 1).
int32_t add_entry(entry_t entry);
// The entry at index, nullptr when there is none.
entry_t entry_at(int32_t index);

inline int32_t get_arity(const cell_t* r) {
    return static_cast<int32_t>((r->header & ARITY_MASK) >> ARITY_SHIFT);
}
// The entry index of a routine.
int32_t code_of(const cell_t* r);

// Builds a routine on the argument stack and returns the pushed cell. body
// may be nullptr (none); code: an entry index; return_type: a datatype id or
// -1.
cell_t* push(const cell_t* spec, const cell_t* body, int32_t code, int32_t return_type, bool flag);

// Actions (make is not supported; reflect is function!'s).
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

// Registers routine! (parent function!).
void init();

}  // namespace zuv::routine
