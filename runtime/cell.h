// Value cells.
//
// Every Zuv value lives in a 16-byte cell of four 32-bit words: a header (the
// datatype id in bits 0-7, flags above) and three data words whose meaning
// each datatype fixes for itself. Cells never hold buffer addresses: a series
// value holds a node handle (runtime/alloc.h), because the collector moves
// buffers and only rewrites nodes.
//
// The one rule everything else depends on: a cell that is being built reads
// as unset! until it is complete. Constructors write the header as unset!
// first, fill the data words, and write the real type last, so a collection
// that runs in between never follows a node word that is not valid yet.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace zuv {

// A node is a 32-bit handle to a series buffer; 0 means none.
using node_t = uint32_t;

struct cell_t {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(cell_t) == 16, "cells are four 32-bit words");

// Datatype ids, from the one list in datatypes/types.def.
enum type_id : uint8_t {
#define ZUV_TYPE(id, ident, name, refs) TYPE_##ident = id,
#include "datatypes/types.def"
#undef ZUV_TYPE
};
// The number of datatypes: the list's entries, numbered 1 up without gaps.
constexpr int TYPE_COUNT = 0
#define ZUV_TYPE(id, ident, name, refs) +1
#include "datatypes/types.def"
#undef ZUV_TYPE
    ;
constexpr bool numbered_from_one(std::initializer_list<int> ids) {
    int expected = 1;
    for (int id : ids)
        if (id != expected++) return false;
    return true;
}
static_assert(numbered_from_one({
#define ZUV_TYPE(id, ident, name, refs) id,
#include "datatypes/types.def"
#undef ZUV_TYPE
              }),
              "types.def numbers the datatypes 1 up, in order");
constexpr int TYPE_SLOTS = 57;  // tables are sized for ids 0..56

// Action numbers, from the one list in datatypes/actions.def.
enum action_id : uint8_t {
#define ZUV_ACTION(num, ident, word) ACT_##ident = num,
#include "datatypes/actions.def"
#undef ZUV_ACTION
};
constexpr int ACTION_COUNT = 0
#define ZUV_ACTION(num, ident, word) +1
#include "datatypes/actions.def"
#undef ZUV_ACTION
    ;
static_assert(numbered_from_one({
#define ZUV_ACTION(num, ident, word) num,
#include "datatypes/actions.def"
#undef ZUV_ACTION
              }),
              "actions.def numbers the actions 1 up, in order");

// Header bits that the runtime core itself reads; a datatype's own bits are
// defined beside it.
constexpr uint32_t HEADER_TYPE_MASK = 0xFFu;
constexpr uint32_t FLAG_NEW_LINE = 1u << 30;

inline uint8_t type_of(const cell_t* c) {
    return static_cast<uint8_t>(c->header & HEADER_TYPE_MASK);
}

// Copies the four words; copying a cell onto itself writes nothing.
inline cell_t* copy_cell(const cell_t* source, cell_t* target) {
    if (source != target) *target = *source;
    return target;
}

namespace cell {

// Replaces the type bits and keeps every flag; a type value with bits above
// 7 adds those bits.
inline void set_type(cell_t* c, uint32_t type) {
    c->header = (c->header & ~HEADER_TYPE_MASK) | type;
}

inline void clear_new_line(cell_t* c) { c->header &= ~FLAG_NEW_LINE; }

// The first step of every in-place constructor (see the rule above).
inline void begin(cell_t* c) { c->header = TYPE_unset; }

// 64-bit scalars (floats, times, ...) keep their bits in words 2-3, low word
// first. The words are only 4-byte aligned: they are read as one unaligned
// 64-bit word, never through a local whose address is taken (a sanitizer
// build gives each such local guarded stack, in every routine it inlines
// into, and deep recursion runs out of stack).
using unaligned_u64 = uint64_t __attribute__((may_alias, aligned(4)));
// (The builtin, not std::bit_cast: that binds a reference, which would be
// a misaligned one here and a local's address in put_float.)
inline double get_float(const cell_t* c) {
    return __builtin_bit_cast(double, *reinterpret_cast<const unaligned_u64*>(&c->data2));
}
inline void put_float(cell_t* c, double d) {
    *reinterpret_cast<unaligned_u64*>(&c->data2) = __builtin_bit_cast(uint64_t, d);
}

}  // namespace cell
}  // namespace zuv
