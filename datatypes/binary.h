// binary!: the byte series, and the byte-level routines the rest of the
// runtime builds and reads byte buffers with.
//
// A binary! is a string! kind whose unit is always one byte and whose
// elements are the integers 0-255. The cell: word 1 the head index (a byte
// offset from the buffer's first byte), word 2 the node, word 3 unused (0).
// Most series actions are string!'s or series!'s own; binary! brings to,
// form, mold, compare, the bitwise actions, append/insert, change and trim.
//
// As everywhere: any allocation may move any buffer. The rs_ routines that
// grow a buffer re-read it through the node; callers must not keep a byte
// address (rs_head, rs_tail) across them.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::binary {

inline series_buffer_t* buffer_of(const cell_t* value) { return alloc::buffer(value->data2); }

// --- value makers -------------------------------------------------------------

// The cell becomes an empty binary! of that capacity in bytes (0 still gets
// a 16-byte buffer).
void make_at(cell_t* cell, int64_t capacity);
// A new binary! holding a copy of count bytes: into cell, or into a new cell
// pushed on the argument stack when cell is nullptr. Returns the cell. The
// bytes may lie in a series buffer only if no allocation can move it first:
// pass them from C++ memory when in doubt.
cell_t* load_at(const uint8_t* bytes, int64_t count, cell_t* cell);
inline cell_t* load(const uint8_t* bytes, int64_t count) { return load_at(bytes, count, nullptr); }
// The same, into a new cell at the tail of a block.
cell_t* load_in(const uint8_t* bytes, int64_t count, cell_t* block);
// Pushes a copy of a binary! cell on the argument stack.
cell_t* push(const cell_t* value);

// --- raw operations (no type checks) ---------------------------------------------

// Bytes from the head to the tail (a head past the tail counts as the tail).
inline int32_t rs_length_q(const cell_t* value) {
    int32_t n = buffer_of(value)->used() - static_cast<int32_t>(value->data1);
    return n < 0 ? 0 : n;
}
// Address of the byte at the head.
inline uint8_t* rs_head(const cell_t* value) { return buffer_of(value)->head_ptr() + value->data1; }
// Address just past the last byte.
inline uint8_t* rs_tail(const cell_t* value) { return buffer_of(value)->tail_ptr(); }
inline bool rs_tail_q(const cell_t* value) {
    return static_cast<int32_t>(value->data1) >= buffer_of(value)->used();
}
// Moves the head by n bytes when the result stays inside; returns tail? of
// the result.
bool rs_skip(cell_t* value, int32_t n);
// The byte at the head; -1 at the tail.
inline int32_t head_byte(const cell_t* value) { return rs_tail_q(value) ? -1 : *rs_head(value); }
// Drops the bytes from the head on.
void rs_set_tail(cell_t* value);
// Appends n raw bytes at the tail, growing the buffer. data must not point
// into a series buffer that the growth could move (copy it out first).
void rs_append(cell_t* value, const uint8_t* data, int32_t n);
// Inserts n raw bytes at offset bytes from the head, moving the rest up.
void rs_insert(cell_t* value, int32_t offset, const uint8_t* data, int32_t n);
// Writes n raw bytes at offset bytes from the head, growing the buffer and
// moving the tail out when the write ends beyond it.
void rs_overwrite(cell_t* value, int32_t offset, const uint8_t* data, int32_t n);
// Appends a 32-bit integer as 4 bytes, most significant first.
void append_int32_be(cell_t* value, int32_t n);

// Whether the byte at the head is in a bitset! (a byte beyond the bitset's
// bits answers its complement flag).
bool match_bitset_q(const cell_t* value, const cell_t* bitset);
// Whether the bytes at the head match a string-family value or binary! (by
// prefix, compare's match mode) or a char! (equality with the head byte).
// op: the comparison code (STRICT_EQUAL compares texts by case).
bool match_value_q(cell_t* value, cell_t* other, int32_t op);

// Stores a char! or integer! as one byte (poke). A value outside -128..255
// raises invalid-arg as insert does; -128..-1 store their two's complement
// byte. Any other type raises invalid-arg.
void set_value(uint8_t* address, const cell_t* value);

// Three-way comparison of the bytes from both heads (-1, 0, 1); match: over
// the second value's length only (a first value that starts with the second
// is equal, one shorter than it is not: 1).
int32_t compare_bytes(const cell_t* value1, const cell_t* value2, int32_t op, bool match);

// --- base-N codecs -------------------------------------------------------------------
//
// Encoders write into a caller-sized buffer (base_n::encoded_size_N gives the
// room) and return the end; no line breaks. Decoders read text of any unit
// (1, 2 or 4 bytes per code point) and make a new binary! in out, or return
// false (out untouched) when the text is not valid in that base. The text may
// lie in a series buffer: it is read completely before anything allocates.
char* encode_2(const uint8_t* data, int32_t n, char* out);
char* encode_16(const uint8_t* data, int32_t n, char* out);
char* encode_58(const uint8_t* data, int32_t n, char* out);
char* encode_64(const uint8_t* data, int32_t n, char* out);
bool decode_2(const void* text, int32_t length, uint32_t unit, cell_t* out);
bool decode_16(const void* text, int32_t length, uint32_t unit, cell_t* out);
bool decode_58(const void* text, int32_t length, uint32_t unit, cell_t* out);
bool decode_64(const void* text, int32_t length, uint32_t unit, cell_t* out);

// The work of enbase and debase. base must be 2, 16, 58 or 64, else
// invalid-arg naming it. enbase: value a binary! or string! (a string is
// encoded as UTF-8 first), out becomes the string! of the text. debase:
// value a text (any string kind), out becomes the binary!, or none when the
// text is not valid in that base. out may be value itself.
void enbase(cell_t* value, int32_t base, cell_t* out);
void debase(cell_t* value, int32_t base, cell_t* out);

// --- action entries ------------------------------------------------------------------

cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare_action(cell_t* value1, cell_t* value2, int32_t op);
// and~, or~, xor~: frame actions on the call's first two arguments.
void and_t();
void or_t();
void xor_t();
cell_t* complement(cell_t* value);
cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_);
cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup);
cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with);

// Registers binary! (right after string!).
void init();

}  // namespace zuv::binary
