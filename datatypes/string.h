// Strings: storage, conversion, comparison, form and mold.
//
// Every text value (string!, file!, url!, tag!, email!, ref!, and binary! for
// the byte-level operations) keeps its characters in one series buffer whose
// unit is 1, 2 or 4 bytes: each character is one code point stored
// little-endian in one unit. The unit is chosen by the widest character the
// text has ever needed and only grows (rs_reset is the one way back to 1).
//
// The cell: word 1 the head index in characters from the buffer's start,
// word 2 the node, word 3 a cache word (0 when made).
//
// The rule everything here depends on: widening converts the buffer in place
// or moves it, and any allocation may move any buffer. Every operation that
// can widen or grow takes the buffer and returns the buffer that is current
// afterwards; callers use the returned pointer (or re-read it through the
// node) and never keep an older address.
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/action_types.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv {

// The internal string view: a string cell whose word 3, when not negative,
// limits how many characters comparisons and hashes look at.
constexpr uint8_t TYPE_STRING_VIEW = 56;

namespace string {

// The scratch buffer of swap_ranges stays this large between calls.
constexpr int32_t SCRATCH_SIZE = 65536;

// Encodings that load_at understands. ENCODING_OS is for names from the
// system: UTF-8 whose bytes that are not UTF-8 are kept (unicode::load_os_text).
constexpr int ENCODING_UTF8 = 0;
constexpr int ENCODING_UTF16LE = -1;
constexpr int ENCODING_OS = -2;

// Modes of concatenate.
constexpr int MODE_APPEND = 0;
constexpr int MODE_INSERT = 1;
constexpr int MODE_OVERWRITE = 2;

// The mode of append_escaped_char that writes caret letters.
constexpr int ESCAPE_CARET = 253;

// True for the any-string types: string!, file!, url!, tag!, email!, ref!.
inline bool any_string_q(uint8_t type) {
    return type == TYPE_string || type == TYPE_file || type == TYPE_url || type == TYPE_tag ||
           type == TYPE_email || type == TYPE_ref;
}

inline series_buffer_t* buffer_of(const cell_t* value) { return alloc::buffer(value->data2); }

// --- value makers ---------------------------------------------------------

// An empty string! with a 1-byte unit; capacity in characters (0 taken as 1).
void make_at(cell_t* cell, int64_t capacity);
// An empty string! with the given unit (capacity 0 gives 16 bytes' worth).
void make_at_unit(cell_t* cell, int64_t capacity, int32_t unit);
// Pushes a copy of the value on the argument stack and returns the slot.
cell_t* push(const cell_t* value);

// Decodes bytes (encoding 0 UTF-8, -1 UTF-16LE, -2 system names) into a new string! in cell,
// or in a new cell pushed on the argument stack when cell is nullptr.
cell_t* load_at(const uint8_t* bytes, int64_t count, cell_t* cell, int encoding);
cell_t* load(const uint8_t* bytes, int64_t count, int encoding);
// Into a new cell at the tail of a block.
cell_t* load_in(const uint8_t* bytes, int64_t count, cell_t* block, int encoding);

// --- raw operations: no checks, the caller guarantees the arguments --------

// A unit other than 1, 2 or 4 is an internal fault: the process ends.
[[noreturn]] uint32_t bad_unit(uint32_t unit);

inline uint32_t get_char(const uint8_t* address, uint32_t unit) {
    switch (unit) {
    case 1: return *address;
    case 2: return static_cast<uint32_t>(address[0]) | static_cast<uint32_t>(address[1]) << 8;
    case 4: {
        uint32_t c;
        std::memcpy(&c, address, 4);
        return c;
    }
    default: [[unlikely]] return bad_unit(unit);
    }
}
// Stores without widening: the caller knows the unit can hold c.
inline void put_char(uint8_t* address, uint32_t unit, uint32_t c) {
    switch (unit) {
    case 1: *address = static_cast<uint8_t>(c); break;
    case 2:
        address[0] = static_cast<uint8_t>(c);
        address[1] = static_cast<uint8_t>(c >> 8);
        break;
    default: std::memcpy(address, &c, 4); break;
    }
}

// Characters from the head to the tail (0 when the head lies past the tail).
inline int32_t rs_length_q(const cell_t* value) {
    series_buffer_t* s = buffer_of(value);
    int32_t n = static_cast<int32_t>(s->used() / static_cast<int32_t>(s->unit())) -
                static_cast<int32_t>(value->data1);
    return n < 0 ? 0 : n;
}
// Characters in the whole buffer.
inline int32_t rs_abs_length_q(const cell_t* value) {
    series_buffer_t* s = buffer_of(value);
    return s->used() / static_cast<int32_t>(s->unit());
}
// Moves the head by n when it stays inside; returns whether the result is
// at its tail.
bool rs_skip(cell_t* value, int32_t n);
// Address of the head character; a head beyond the tail is first reset to
// the length, in the cell itself.
uint8_t* rs_head(cell_t* value);
inline uint8_t* rs_tail(const cell_t* value) { return buffer_of(value)->tail_ptr(); }
bool rs_tail_q(const cell_t* value);
inline uint32_t rs_abs_at(const cell_t* value, int32_t index) {
    series_buffer_t* s = buffer_of(value);
    return get_char(s->head_ptr() + static_cast<size_t>(index) * s->unit(), s->unit());
}
void rs_reset(cell_t* value);
int32_t rs_find_char(cell_t* value, uint32_t c);

// Moves the tail back to n characters from the start when it lies beyond.
void truncate_to(series_buffer_t* s, int32_t n);
// Removes n characters at index (from the buffer's start); nothing when the
// index is at or past the tail.
void remove_part(cell_t* value, int32_t index, int32_t n);
inline void remove_char(cell_t* value, int32_t index) { remove_part(value, index, 1); }

// The character writers. Each may widen or grow the buffer and returns the
// buffer that is current afterwards.
series_buffer_t* set_char(series_buffer_t* s, uint8_t* address, uint32_t c);
series_buffer_t* overwrite_char(series_buffer_t* s, int32_t index, uint32_t c);
series_buffer_t* poke_char(series_buffer_t* s, int32_t index, uint32_t c);
series_buffer_t* append_char(series_buffer_t* s, uint32_t c);
inline series_buffer_t* append_char(cell_t* value, uint32_t c) {
    return append_char(buffer_of(value), c);
}
series_buffer_t* widen_to(series_buffer_t* s, uint32_t unit);
// Exchanges two byte ranges in place: B ends up at a, A at a + length_b + gap.
void swap_ranges(uint8_t* a, int32_t length_a, uint8_t* b, int32_t length_b, int32_t gap);

// Joins source onto target: part < 0 means all of the source from its head;
// offset counts characters from the target's head (modes insert, overwrite);
// keep_unit leaves the source's buffer at its own unit.
void concatenate(cell_t* target, cell_t* source, int32_t part, int32_t offset, bool keep_unit,
                 int mode);
inline void overwrite(cell_t* target, cell_t* source, int32_t part, int32_t offset,
                      bool keep_unit) {
    concatenate(target, source, part, offset, keep_unit, MODE_OVERWRITE);
}
// append's common case: source's text from its head onto target's tail when
// both are one byte per character and nothing owns the target. Answers false,
// having changed nothing, for anything else.
bool append_plain(cell_t* target, const cell_t* source);
// Appends each byte of C text as a code point.
void concatenate_literal(cell_t* target, const char* text);
void append_bytes(cell_t* target, const char* text, int64_t n);
// Appends UTF-8 text decoded (used for messages and formatted numbers).
void append_utf8(cell_t* target, const char* text, int64_t n);

bool starts_with_q(cell_t* value, const char* text);
bool find_char_skip_q(cell_t* value, uint32_t c, int32_t skip, bool case_);
bool match_bitset_q(cell_t* value, cell_t* bitset);
bool match_tag_q(cell_t* value, cell_t* tag);
bool match_q(cell_t* value, cell_t* other, int32_t op);

// --- hexadecimal and numbers -------------------------------------------------

// Hexadecimal text returned by value: each caller owns its digits.
struct hex_text {
    char text[9];
    const char* c_str() const { return text; }
};
hex_text byte_to_hex(uint8_t byte);
hex_text to_hex(int32_t value, bool trim);
double to_float(const char* text, int32_t length, const char** end);

// --- conversion, comparison and modification --------------------------------

// -1, 0 or 1 (see string.cpp); codes 2 and 8 compare case-sensitively.
int32_t compare_strings(cell_t* a, cell_t* b, int32_t op, bool match);

// The action entries.
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* append(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool signal);
cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_);
cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup);
cell_t* swap(cell_t* series1, cell_t* series2);
cell_t* take(cell_t* series, cell_t* part, bool deep, bool last);

// --- form and mold ------------------------------------------------------------

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
// The caret escape that mold writes for c: "^(hex)" for 30, 128-159 and a
// surrogate (which text cannot carry: unicode.h), and for everything above
// 127 when all is set; "^" and a letter for a control character, a double
// quote or a caret; "^~" for 127. Empty for a character that molds as itself.
struct caret_text {
    char text[12];
};
caret_text caret_escape(uint32_t c, bool all);
void append_escaped_char(cell_t* buffer, uint32_t c, int mode, bool all);
void count_quotes_lines(const uint8_t* start, const uint8_t* end, uint32_t unit, int32_t* quotes,
                        int32_t* lines);
bool brace_closes_q(const uint8_t* address, const uint8_t* end, uint32_t unit);

// Registers string! (through the registry) and allocates the scratch buffer.
void init();

}  // namespace string
}  // namespace zuv
