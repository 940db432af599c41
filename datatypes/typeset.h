// typeset!: a set of datatypes held in the value cell.
//
// Words 1-3 of the cell are 96 bits, addressed as 12 bytes in memory order
// from the first byte of word 1: datatype id t is bit (0x80 >> (t & 7)) of
// byte (t >> 3). Bit 0 and the bits above the last registered id carry no
// type; complement and the default typeset set them, and counting, listing
// and molding ignore them.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::typeset {

inline uint8_t* bytes(cell_t* t) { return reinterpret_cast<uint8_t*>(&t->data1); }
inline const uint8_t* bytes(const cell_t* t) { return reinterpret_cast<const uint8_t*>(&t->data1); }
inline bool has_q(const cell_t* t, int32_t id) {
    return (bytes(t)[id >> 3] & (0x80 >> (id & 7))) != 0;
}
inline void set_bit(cell_t* t, int32_t id) {
    bytes(t)[id >> 3] |= static_cast<uint8_t>(0x80 >> (id & 7));
}

// The three bit words become 0 (the header is left as it is).
inline void clear(cell_t* t) { t->data1 = t->data2 = t->data3 = 0; }
// Set bits for ids 1 to the last registered id.
int32_t count(const cell_t* t);
cell_t* make_in(cell_t* block, uint32_t word1, uint32_t word2, uint32_t word3);
// Every type but unset!: all 96 bits, less the bit of id 2.
cell_t* make_default_in(cell_t* block);
cell_t* make_in_from_block(cell_t* block, cell_t* spec);
// Adds a datatype or merges a typeset (a word! first gives its value).
void add(cell_t* t, cell_t* value);
// Fills block (made here, capacity 4) with the word of every type in the
// set, in id order.
cell_t* to_block(const cell_t* t, cell_t* block);
// The worker of the logic and set operations on the current call's two
// arguments (operation codes 5-12).
void do_bitwise(int32_t op);

// Action entries.
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void and_t();
void or_t();
void xor_t();
cell_t* complement(cell_t* value);
cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);

// Registers typeset! (id 33).
void init();

}  // namespace zuv::typeset
