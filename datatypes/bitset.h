// bitset!: sets of non-negative integers, above all sets of characters.
//
// The cell: word 2 the node of a byte series (unit 1, head always 0); words
// 1 and 3 unused. Bit n lives in byte n / 8 under the mask 128 >> (n % 8).
// The series' inversion flag gives the membership of every bit beyond the
// tail: clear, none of them is a member; set, all of them are. A stored 1
// always means "member", so a complemented set (everything but a few) costs
// no more room than the few.
//
// Every operation takes the bitset cell and re-reads the buffer through its
// node after growing it: growing allocates, and any allocation may move it.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::bitset {

constexpr uint32_t FLAG_INVERTED = series_flag::BITSET_INVERTED;

// Operations of process, process_range and process_string.
constexpr int OP_SIZE = 0, OP_SET = 1, OP_TEST = 2, OP_CLEAR = 3;
// Modes of process: which error an unsupported spec value raises.
constexpr int MODE_MAKE = 0, MODE_TO = 1, MODE_ACTION = 2;

inline series_buffer_t* buffer_of(const cell_t* b) { return alloc::buffer(b->data2); }
inline bool inverted_q(const cell_t* b) { return (buffer_of(b)->flags & FLAG_INVERTED) != 0; }
inline uint8_t* rs_head(const cell_t* b) { return buffer_of(b)->head_ptr(); }
inline int32_t byte_count(const cell_t* b) { return buffer_of(b)->used(); }

// Whether bit n is a member (bits beyond the tail answer by the flag).
inline bool member_q(const cell_t* b, uint32_t n) {
    series_buffer_t* s = buffer_of(b);
    if (n / 8 >= static_cast<uint32_t>(s->used())) return (s->flags & FLAG_INVERTED) != 0;
    return (s->head_ptr()[n / 8] & (0x80u >> (n % 8))) != 0;
}

// Grows the buffer (new bytes 0x00, or 0xFF for an inverted set) so that
// bit n exists; returns byte 0's address.
uint8_t* ensure_bit(cell_t* b, int64_t n);
void invert_bytes(series_buffer_t* s);

// A new empty plain bitset of bytes bytes in cell c.
cell_t* make_at(cell_t* c, int32_t bytes);

// Appends the bytes as hexadecimal pairs (complemented when inverted);
// limited: stops once the budget is used up. Returns the budget left.
int32_t form_hex(const cell_t* b, cell_t* buffer, bool limited, int32_t budget, bool inverted);

// Sets, tests or clears every bit from low to high; the test answers whether
// all of them are members (the others answer true).
bool process_range(cell_t* b, int64_t low, int64_t high, int op);
bool process_string(const cell_t* string, cell_t* b, int op);
// The spec dialect; op OP_SIZE answers the highest bit named (-1: none).
int64_t process(const cell_t* spec, cell_t* b, int op, int mode);

// The bitwise actions on the current call's first two arguments (codes 5
// or, 6 and, 7 xor, 8 unique, 9 union, 10 intersect, 11 exclude, 12
// difference); the result replaces the first argument.
void do_bitwise(int32_t code);

// --- action entries ------------------------------------------------------------
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
cell_t* reflect(cell_t* value, int32_t field);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* negate(cell_t* value);
cell_t* complement(cell_t* value);
void and_t();
void or_t();
void xor_t();
cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_);
cell_t* clear(cell_t* value);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);
int32_t length_q(cell_t* value);
cell_t* pick(cell_t* series, int32_t index, cell_t* index_cell);
cell_t* poke(cell_t* series, int32_t index, cell_t* index_cell, cell_t* value);
cell_t* remove(cell_t* series, cell_t* part, cell_t* key);
cell_t* modify(cell_t* target, cell_t* field, cell_t* value, bool case_);

// Registers bitset! (id 30).
void init();

}  // namespace zuv::bitset
