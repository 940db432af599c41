// The lexer's state machine: byte classes, token flags, states and the
// transition matrix.
//
// The lexer reads UTF-8 one byte at a time with no look-back. Each byte maps
// to one of 40 classes; the next state is matrix[state][class]. States 0-64
// are inside a token; any move to a state above 65 ends it, and that final
// state names the token kind and selects its handler pair. Everything here is
// constant data computed at compile time, so the hot loop is two table loads
// per byte.
//
// Alongside the class, every byte carries flag bits. The scanner ORs the
// flags of all bytes of a token together, so handlers know, without reading
// the text again, whether it holds a dot, an exponent letter, escapes or
// multi-byte UTF-8.
#pragma once

#include <array>
#include <cstdint>

namespace zuv::lexer {

enum byte_class : uint8_t {
    C_BLANK = 0,
    C_LINE = 1,
    C_DIGIT = 2,
    C_ZERO = 3,
    C_BLOCK_OPEN = 4,
    C_BLOCK_CLOSE = 5,
    C_PAREN_OPEN = 6,
    C_PAREN_CLOSE = 7,
    C_BRACE_OPEN = 8,
    C_BRACE_CLOSE = 9,
    C_DQUOTE = 10,
    C_SHARP = 11,
    C_QUOTE = 12,
    C_COLON = 13,
    C_X = 14,
    C_T = 15,
    C_H = 16,
    C_E = 17,
    C_E_UPPER = 18,
    C_HEX_LOWER = 19,
    C_HEX_UPPER = 20,
    C_SLASH = 21,
    C_BACKSLASH = 22,
    C_LESS = 23,
    C_GREATER = 24,
    C_EQUAL = 25,
    C_PERCENT = 26,
    C_COMMA = 27,
    C_SEMICOLON = 28,
    C_AT = 29,
    C_DOT = 30,
    C_DOLLAR = 31,
    C_PLUS = 32,
    C_MINUS = 33,
    C_CARET = 34,
    C_CONTROL = 35,
    C_CONTINUATION = 36,
    C_WORD_CHAR = 37,
    C_BAD_LEAD = 38,
    C_END = 39,
};
constexpr int CLASS_COUNT = 40;

// Token flags, in the bits above the class byte.
constexpr uint32_t CLASS_MASK = 0xFFu;
constexpr uint32_t FLAG_PERCENT = 0x00040000u;
constexpr uint32_t FLAG_GREATER = 0x00080000u;
constexpr uint32_t FLAG_LESS = 0x00100000u;
constexpr uint32_t FLAG_SIGN = 0x00200000u;
constexpr uint32_t FLAG_NUL = 0x00400000u;
constexpr uint32_t FLAG_SHARP = 0x00800000u;
constexpr uint32_t FLAG_EXPONENT = 0x01000000u;
constexpr uint32_t FLAG_APOSTROPHE = 0x02000000u;
constexpr uint32_t FLAG_COLON = 0x04000000u;
constexpr uint32_t FLAG_COMMA = 0x08000000u;
constexpr uint32_t FLAG_DOT = 0x10000000u;
constexpr uint32_t FLAG_CARET = 0x20000000u;
constexpr uint32_t FLAG_UTF8_2_3 = 0x40000000u;  // a two- or three-byte sequence
constexpr uint32_t FLAG_UTF8_4 = 0x80000000u;  // a four-byte sequence

// The widest character unit (1, 2 or 4 bytes) that text with these flags
// needs once decoded.
constexpr uint32_t unit_of(uint32_t flags) {
    uint32_t unit = 1u << (flags >> 30);
    return unit > 4 ? 4 : unit;
}

enum lex_state : uint8_t {
    S_START = 0,
    S_COMMENT = 1,
    S_STRING = 2,
    S_STRING_ESCAPE = 3,
    S_BRACE_STRING = 4,
    S_BRACE_ESCAPE = 5,
    S_PERCENT = 6,
    S_FILE = 7,
    S_FILE_QUOTED = 8,
    S_PERCENT_RUN = 9,
    S_RAW_STRING = 10,
    S_RAW_CLOSE = 11,
    S_RAW_END = 12,
    S_SLASH = 13,
    S_REFINEMENT = 14,
    S_SLASH_RUN = 15,
    S_SHARP = 16,
    S_BINARY = 17,
    S_BINARY_COMMENT = 18,
    S_CHAR = 19,
    S_CHAR_ESCAPE = 20,
    S_CONSTRUCT = 21,
    S_ISSUE = 22,
    S_INTEGER = 23,
    S_DECIMAL_POINT = 24,
    S_FRACTION = 25,
    S_EXPONENT = 26,
    S_DIGITS_E = 27,
    S_FLOAT_SPECIAL = 28,
    S_TUPLE = 29,
    S_DATE = 30,
    S_TIME_COLON = 31,
    S_TIME = 32,
    S_PAIR_X = 33,
    S_PAIR = 34,
    S_POINT = 35,
    S_MONEY_SIGN = 36,
    S_MONEY = 37,
    S_MONEY_FRACTION = 38,
    S_HEX_DIGITS = 39,
    S_HEX_WORD = 40,
    S_HEX_WORD_H = 41,
    S_DIGITS_H = 42,
    S_LESS = 43,
    S_TAG = 44,
    S_TAG_DQUOTE = 45,
    S_TAG_SQUOTE = 46,
    S_SIGN = 47,
    S_PREFIX_SIGN = 48,
    S_DOT = 49,
    S_DOT_DIGITS = 50,
    S_PREFIX = 51,
    S_WORD = 52,
    S_WORD_COLON = 53,
    S_PREFIX_PERCENT = 54,
    S_URL = 55,
    S_EMAIL = 56,
    S_REF = 57,
    S_EQUAL = 58,
    S_PATH_ELEMENT = 59,
    S_PATH_INTEGER = 60,
    S_PATH_PREFIX = 61,
    S_PATH_WORD = 62,
    S_PATH_SHARP = 63,
    S_PATH_SIGN = 64,
    // 65 is never reached; anything above it ends the token.
    F_EOF = 66,
    F_ERROR = 67,
    F_BLOCK_OPEN = 68,
    F_BLOCK_CLOSE = 69,
    F_PAREN_OPEN = 70,
    F_PAREN_CLOSE = 71,
    F_BRACE_OPEN = 72,
    F_BRACE_CLOSE = 73,
    F_MAP_OPEN = 74,
    F_PATH_OPEN = 75,
    F_CONSTRUCT = 76,
    F_COMMENT = 77,
    F_COMMA = 78,
    F_STRING = 79,
    F_WORD = 80,
    F_ISSUE = 81,
    F_INTEGER = 82,
    F_REFINEMENT = 83,
    F_CHAR = 84,
    F_FILE = 85,
    F_BINARY = 86,
    F_PERCENT = 87,
    F_FLOAT = 88,
    F_FLOAT_SPECIAL = 89,
    F_TUPLE = 90,
    F_DATE = 91,
    F_PAIR = 92,
    F_POINT = 93,
    F_TIME = 94,
    F_MONEY = 95,
    F_TAG = 96,
    F_URL = 97,
    F_EMAIL = 98,
    F_HEX = 99,
    F_RAW_STRING = 100,
    F_REF = 101,
};
constexpr int STATE_COUNT = 65;  // states with a matrix row
constexpr int FIRST_FINAL = F_EOF;  // 66
constexpr int FINAL_COUNT = 36;  // 66..101
constexpr int ALL_STATES = F_REF + 1;

// Byte value -> class in bits 0-7, token flags above.
extern const std::array<uint32_t, 256> byte_classes;
// matrix[state][class] -> next state.
extern const std::array<std::array<uint8_t, CLASS_COUNT>, STATE_COUNT> matrix;
// Per state: the datatype id of the token (final states) or of the token it
// would have become (others); 0 when none.
extern const std::array<uint8_t, ALL_STATES> kinds;
// 1 for the state in which leading blanks are skipped, 0 for the others.
extern const std::array<uint8_t, ALL_STATES> skip_table;
// 1 for the class of the line-feed byte.
extern const std::array<uint8_t, CLASS_COUNT> line_table;
// Value of a hexadecimal digit ("0"-"9", "A"-"F", "a"-"f") for each 7-bit
// code; 255 for all other codes.
extern const std::array<uint8_t, 128> hex_digits;

inline uint8_t class_of(uint8_t byte) {
    return static_cast<uint8_t>(byte_classes[byte] & CLASS_MASK);
}
inline int hex_value(uint32_t c) { return c < 128 ? hex_digits[c] : 255; }

// A byte after a path element that ends the path (else it separates).
inline bool ends_path(uint8_t byte) {
    switch (class_of(byte)) {
    case C_BLANK:
    case C_LINE:
    case C_BLOCK_OPEN:
    case C_BLOCK_CLOSE:
    case C_PAREN_OPEN:
    case C_PAREN_CLOSE:
    case C_BRACE_OPEN:
    case C_DQUOTE:
    case C_COLON:
    case C_LESS:
    case C_SEMICOLON:
    case C_WORD_CHAR:
    case C_BAD_LEAD:
    case C_END: return true;
    default: return false;
    }
}

}  // namespace zuv::lexer
