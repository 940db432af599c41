// Unicode conversion.
//
// Strings hold code points in fixed-width units (datatypes/string.h);
// everything that crosses the edge of the runtime is UTF-8 or UTF-16LE. This
// module decodes and encodes both, counts and sizes text, widens string
// buffers from 1- to 2- to 4-byte units, loads external text into strings and
// exports strings for files, the console and the system.
//
// Two decoders: the fast one (one table lookup per byte, used on hot paths:
// lexer, counting, skipping) marks a bad sequence with -1 and goes on; the
// strict one validates input and raises invalid-utf8. The strict decoder
// accepts only the shortest form of each code point and no surrogate.
//
// Exports hand back text the caller owns (std::string / std::u16string or a
// caller's buffer), never a shared area that the next conversion reuses.
//
// A string may hold a surrogate alone (an escape, to char!, a JSON escape, a
// name from the system), which UTF-8 has no form for. Two exports, one rule
// each: text (files, the console, codecs, checksums, processes' input) writes
// it as U+FFFD, so that nothing written is refused when read back; names for
// the system (paths, the environment, command lines) carry the bytes that
// are not UTF-8 as U+DC80-U+DCFF, one character a byte, and write each back as
// its byte (load_os_text, to_os_text).
//
// Loaders read their source through a text_source: when the bytes live in a
// series buffer (a binary!), the loader re-reads their address after each
// allocation, because allocating may move that buffer.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv {

// Bytes to decode: either outside the series memory (fixed), or inside a
// series buffer at a byte offset from its data start.
struct text_source {
    const uint8_t* fixed;
    node_t node;
    int32_t offset;

    static text_source at(const uint8_t* bytes) { return {bytes, 0, 0}; }
    static text_source in(node_t node, int32_t offset) { return {nullptr, node, offset}; }
    const uint8_t* bytes() const { return node ? alloc::buffer(node)->data() + offset : fixed; }
};

namespace unicode {

constexpr int32_t MAX_CODE_POINT = 0x10FFFF;

// The published DFA table: 256 byte classes, then 9 states x 12 classes.
extern const uint8_t utf8_dfa[364];

// Decodes one character, never reading at or past end (a sequence cut by end
// is invalid). *cp receives the code point, or -1 for an invalid sequence;
// returns the position after what was taken (one byte past a rejected lead).
inline const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    uint32_t type = utf8_dfa[*p];
    uint32_t code = (0xFFu >> type) & *p++;
    uint32_t state = utf8_dfa[256 + type];
    while (state != 0) {
        if (state == 12 || p >= end) {
            *cp = -1;
            return p;
        }
        uint32_t next = utf8_dfa[256 + state + utf8_dfa[*p]];
        if (next == 12) {  // leave the offending byte for the next character
            *cp = -1;
            return p;
        }
        code = (code << 6) | (*p++ & 0x3Fu);
        state = next;
    }
    *cp = static_cast<int32_t>(code);
    return p;
}

int64_t count_chars(const uint8_t* start, const uint8_t* end);
// The first byte at or after start that is not ASCII, or end.
const uint8_t* skip_ascii(const uint8_t* start, const uint8_t* end);
// True when the bytes are all sound UTF-8, as the strict decoder takes it
// (U+FFFE refused too): what it would load without raising.
bool valid_utf8_q(const uint8_t* start, const uint8_t* end);
// 4, 3 or 2 by the lead byte's top bits; 0 for ASCII and continuation bytes.
int utf8_char_size(uint8_t lead);
// The code point that text writes for a surrogate alone.
constexpr uint32_t REPLACEMENT_CHAR = 0xFFFD;
inline bool surrogate_q(uint32_t cp) { return (cp & 0xFFFFF800u) == 0xD800; }

// These raise invalid-char for a code point above 0x10FFFF. A surrogate takes
// the three bytes of U+FFFD.
int cp_utf8_size(uint32_t cp);
int64_t utf8_byte_count(const uint8_t* start, const uint8_t* end, uint32_t unit);
int cp_to_utf8(uint32_t cp, uint8_t* out);
int cp_to_utf8_limited(uint32_t cp, uint8_t* out, int room);
// One unit below 0x10000, a pair up to 0x10FFFF; 0 (nothing written) above.
int cp_to_utf16(uint32_t cp, uint16_t* out);

// Exports of a string value from its head; part -1 means all characters.
// crlf writes each LF as CR LF.
std::string to_utf8(const cell_t* string, int32_t part = -1, bool crlf = false);
// Into a caller's buffer: room for utf8_byte_count bytes (+1 with nul);
// returns the bytes written, the NUL excluded.
int64_t to_utf8_buffer(const cell_t* string, uint8_t* out, int32_t part, bool nul);
// Into a caller's buffer of room bytes; bytes past the room are dropped one by
// one, so the output can end inside a sequence.
int64_t to_utf8_limited(const cell_t* string, uint8_t* out, int64_t room, int32_t part, bool nul);
// false (out left partial) when a character is above 0x10FFFF.
bool to_utf16_crlf(const cell_t* string, int32_t part, bool crlf, std::u16string* out);
// The whole string, LF as CR LF; empty on failure.
std::u16string to_utf16(const cell_t* string);

// Widening in place: the buffer grows first when it lacks room. Each returns
// the buffer, which may have moved.
series_buffer_t* latin1_to_ucs2(series_buffer_t* s);
series_buffer_t* latin1_to_ucs4(series_buffer_t* s);
series_buffer_t* ucs2_to_ucs4(series_buffer_t* s);

// Strict decode of the character at p with *count bytes available: the code
// point, with its byte length through count; -1 when the input ends inside
// the sequence. An invalid sequence (stray or bad continuation byte, overlong
// form, surrogate, U+FFFE, above U+10FFFF) raises invalid-utf8.
int32_t decode_utf8_char(const uint8_t* p, int64_t* count);

// Loads UTF-8 into the buffer of target (0: a new series) from its head;
// a leading byte-order mark is skipped; fold turns CR LF and lone CR into LF.
// Input that ends inside a sequence stops the load; *remaining (when given)
// receives the bytes not decoded. Returns the series node.
node_t load_utf8(text_source source, int64_t length, node_t target, int64_t* remaining, bool fold);
node_t load_utf8_into(text_source source, int64_t length, cell_t* string, int64_t* remaining);
node_t load_utf8_new(const uint8_t* source, int64_t length);

// Whether the string holds a surrogate from its head on.
bool holds_surrogate_q(const cell_t* string);

// Names from the system: bytes that are not UTF-8 become U+DC80-U+DCFF, one
// character a byte, so that to_os_text gives the same bytes back. Nothing is
// skipped or folded (a name may begin with a byte-order mark).
node_t load_os_text(const uint8_t* source, int64_t length);
// The bytes the system takes for a name: UTF-8, with U+DC80-U+DCFF written
// as the byte each stands for. false when the string holds what no name can:
// a NUL, or a surrogate outside that range.
bool to_os_text(const cell_t* string, std::string* out);

// Unit width (1, 2 or 4) that UTF-16LE input of count units needs.
uint32_t utf16_unit_width(const uint8_t* source, int64_t count);
// Loads count UTF-16LE units into the string's buffer (nullptr: a new series);
// drop_cr leaves out every CR unit. A high surrogate without its low
// surrogate raises invalid-utf8 with the offending units.
node_t load_utf16le(text_source source, int64_t count, cell_t* string, bool drop_cr);

}  // namespace unicode
}  // namespace zuv
