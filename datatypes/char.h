// char!: a Unicode code point (0 to 0x10FFFF) in word 2 of the cell, the
// integer! layout. Arithmetic on characters stays in that range or raises
// math `overflow`; random, absolute, even? and odd? come from integer!.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

inline cell_t* make_at(cell_t* cell, uint32_t code_point) {
    cell->data2 = code_point;
    cell::set_type(cell, TYPE_char_);
    return cell;
}
inline uint32_t get(const cell_t* cell) { return cell->data2; }
cell_t* make_in(cell_t* block, uint32_t code_point);
cell_t* push(uint32_t code_point);

void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);  // also to
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void add();
void divide();
void multiply();
void remainder();
void subtract();
void and_t();
void or_t();
void xor_t();

// Registers char! (after integer!).
void init();

}  // namespace zuv::char_
