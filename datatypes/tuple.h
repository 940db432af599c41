// tuple!: 3 to 12 unsigned bytes held in the cell, written 1.2.3 or
// 255.0.0.128 (colours, versions).
//
// The header keeps the length in bits 19-22 beside the type; words 1-3 hold
// the bytes in order (byte 1 is the lowest byte of word 1). Bytes beyond the
// length are always zero, so two tuples that differ only by trailing zeros
// compare equal and a shorter tuple can be widened by changing the length.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::tuple {

constexpr int32_t MIN_LENGTH = 3;
constexpr int32_t MAX_LENGTH = 12;
constexpr uint32_t LENGTH_SHIFT = 19;
constexpr uint32_t LENGTH_MASK = 0x0Fu << LENGTH_SHIFT;

inline int32_t length_of(const cell_t* c) {
    return static_cast<int32_t>((c->header & LENGTH_MASK) >> LENGTH_SHIFT);
}
inline void set_length(cell_t* c, int32_t n) {
    c->header = (c->header & ~LENGTH_MASK) | (static_cast<uint32_t>(n) << LENGTH_SHIFT);
}
inline uint8_t* bytes_of(cell_t* c) { return reinterpret_cast<uint8_t*>(&c->data1); }
inline const uint8_t* bytes_of(const cell_t* c) {
    return reinterpret_cast<const uint8_t*>(&c->data1);
}

// A tuple of count bytes in a cell (count below 3 is padded with zeros,
// above 12 is cut to 12).
cell_t* make_at(cell_t* cell, const uint8_t* bytes, int32_t count);
cell_t* make_in(cell_t* block, const uint8_t* bytes, int32_t count);
// Pushes a tuple of the given length from its three payload words.
cell_t* push(int32_t length, uint32_t word1, uint32_t word2, uint32_t word3);
// The lexer's loader: the tuple text (digits and dots, UTF-8) into cell;
// false when the text is not a tuple (the cell is then untouched).
bool load_at(const char* text, int32_t length, cell_t* cell);

// The bytes from a binary's head, at most 12, at least 3.
cell_t* from_binary(cell_t* cell, const cell_t* binary);
// A colour issue of 3, 6 or 8 hexadecimal digits; anything else raises
// invalid-data with the issue.
cell_t* from_issue(cell_t* cell, const cell_t* issue);

bool zero_q(const cell_t* value);

// The arithmetic worker (math_op codes): operands in the first two argument
// slots, either may be the tuple; the result in the first.
void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);  // also to
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void add();
void divide();
void multiply();
void remainder();
void subtract();
void and_t();
cell_t* complement(cell_t* value);
void or_t();
void xor_t();
int32_t length_q(cell_t* value);
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);
// The store of a path set (not in tuple!'s action row): an integer clamped
// to 0..255, none cuts the tuple before the index.
cell_t* poke(cell_t* value, int32_t index, cell_t* index_cell, cell_t* data);
cell_t* reverse(cell_t* value, cell_t* part, cell_t* skip);

// Registers tuple! (registration order table).
void init();

}  // namespace zuv::tuple
