// pair!: two 32-bit integers x and y held in the cell (words 2 and 3),
// written 10x20.
//
// Arithmetic never wraps: when a coordinate leaves the 32-bit range, or a
// division leaves a remainder, both operands become point2D! values and the
// operation is redone in floats, so the result is a point2D!.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::pair {

inline cell_t* make_at(cell_t* cell, int32_t x, int32_t y) {
    cell::begin(cell);
    cell->data1 = 0;
    cell->data2 = static_cast<uint32_t>(x);
    cell->data3 = static_cast<uint32_t>(y);
    cell::set_type(cell, TYPE_pair);
    return cell;
}
inline int32_t get_x(const cell_t* c) { return static_cast<int32_t>(c->data2); }
inline int32_t get_y(const cell_t* c) { return static_cast<int32_t>(c->data3); }
// A new pair at the tail of a block.
cell_t* make_in(cell_t* block, int32_t x, int32_t y);
cell_t* push(int32_t x, int32_t y);

// Rewrites a pair cell in place as a point2D! of the same coordinates.
void to_point2d(cell_t* cell);
// 1 for x, 2 for y; another word raises invalid-path (path the path, or nullptr).
int32_t path_index(const cell_t* word, const cell_t* path);
// A coordinate from a float, truncated; infinite, NaN or out of the 32-bit
// range raises invalid-arg with the value.
int32_t coordinate_from_float(double d, const cell_t* value);

// The arithmetic worker (math_op codes): the pair in the first argument slot,
// the other operand after it, the result in the first slot.
void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);  // also to
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void absolute();
void add();
void divide();
void multiply();
cell_t* negate(cell_t* value);
void remainder();
cell_t* round(cell_t* value, cell_t* scale, round_options_t how);
void subtract();
void and_t();
void or_t();
void xor_t();
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);
cell_t* reverse(cell_t* value, cell_t* part, cell_t* skip);

// Registers pair! (registration order table).
void init();

}  // namespace zuv::pair
