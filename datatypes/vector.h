// vector!: a packed series of numbers or characters of one element type and
// size: 8-, 16- or 32-bit integers or code points, or 32- or 64-bit floats
// (shown as float! or percent!).
//
// The cell: word 1 the head index in elements, word 2 the node, word 3 the
// element type (char!, integer!, float! or percent!). The buffer's unit is
// the element size, so the series actions that vector! shares with string!
// count positions in elements. Integer elements are two's complement, read
// back sign-extended; percent! elements hold the fraction (50% is 0.5).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::vector {

inline series_buffer_t* buffer_of(const cell_t* v) { return alloc::buffer(v->data2); }
inline uint8_t element_type(const cell_t* v) { return static_cast<uint8_t>(v->data3); }
inline uint32_t element_size(const cell_t* v) { return buffer_of(v)->unit(); }
inline bool float_elements_q(uint8_t type) { return type == TYPE_float_ || type == TYPE_percent; }
// 4 for char!/integer!, 8 for float!/percent!.
inline uint32_t default_size(uint8_t type) { return float_elements_q(type) ? 8 : 4; }

// --- raw elements (positions in elements) ---------------------------------------
int32_t rs_length_q(const cell_t* v);
// The element index places after the head.
inline uint8_t* rs_at(const cell_t* v, int32_t index) {
    return buffer_of(v)->head_ptr() + (static_cast<int64_t>(v->data1) + index) * element_size(v);
}

// An empty vector in cell with room for capacity elements; capacity x size
// beyond the series limit raises no-memory.
cell_t* make_at(cell_t* cell, int64_t capacity, uint8_t type, uint32_t size);
// The element at p as a value.
cell_t* get_value(const uint8_t* p, uint8_t type, uint32_t size, cell_t* out);
// Stores a char!/integer! as its low bytes, a float!/percent! as binary64
// or binary32; invalid-type for any other value.
void set_value(uint8_t* p, uint32_t size, const cell_t* value);
// Appends one value, which must be of the element type (else invalid-arg).
void rs_append(cell_t* v, const cell_t* value);
// A new block of the elements from the head into out.
cell_t* to_block(const cell_t* v, cell_t* out);
// The order of two elements for sorting: floats as doubles (an unordered
// pair is equal), integers signed, characters by code point.
int32_t compare_elements(const uint8_t* a, const uint8_t* b, uint8_t type, uint32_t size);

// The arithmetic worker (math_op codes): operands in the first two argument
// slots, one of them the vector; the result in the first. A number first
// keeps the written order (10 - v is 10 - e for each element).
void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_);
cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup);

// Registers vector! (after string!).
void init();

}  // namespace zuv::vector
