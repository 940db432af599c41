// native!, action! and op!: the built-in callables as values.
//
// A native or action cell: word 1 the entry index (number - 1) in the
// natives table or the actions table, word 2 the spec node (the block given
// to make, shared), word 3 a more series of two cells: [0] a context! cell of
// a context made from the spec, [1] none. Calling them is the evaluator's
// business; these modules make, reflect, form, mold and compare them.
//
// An op! is a copy of the wrapped value's cell (native, action, function or
// routine) whose header has type op! in bits 0-7 and the wrapped type in bits
// 16-23.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "natives/ids.h"
#include "runtime/cell.h"

namespace zuv {

namespace native {

// The natives that exist (a native! must name one of them), and the table's slots.
constexpr int32_t COUNT = natives::COUNT;
constexpr int32_t TABLE_SLOTS = 120;

// The 1-based number of a native! or action! (or of an op! wrapping one).
inline int32_t number_of(const cell_t* v) { return static_cast<int32_t>(v->data1) + 1; }
inline node_t spec_node(const cell_t* v) { return v->data2; }

// Shared by native!, action! and make: the spec [spec-block number]; type is
// TYPE_native or TYPE_action.
cell_t* make_numbered(cell_t* proto, cell_t* spec, int32_t type);
// mold of native! and action!: open, the spec block molded, "]".
int32_t mold_spec(cell_t* value, cell_t* buffer, const char* open, mold_options_t how);

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
// spec and body of native!, action! and op!.
cell_t* reflect(cell_t* value, int32_t field);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
// Shared by the three types: equal exactly when the entries are.
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

void init();  // registers native!

}  // namespace native

}  // namespace zuv
