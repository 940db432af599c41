// The lexer tables, built by the compiler from short row descriptions.
//
// A matrix row is written as its most common target plus the exceptions, as
// a reader would describe it; build_matrix() expands the rows into the dense
// table, and a row out of order or a class listed twice in one row stops the
// build.
#include "lexer/tables.h"

#include <initializer_list>

#include "runtime/cell.h"

namespace zuv::lexer {
namespace {

constexpr std::array<uint32_t, 256> build_byte_classes() {
    std::array<uint32_t, 256> t{};
    auto set = [&t](int from, int to, byte_class c, uint32_t flags) {
        for (int b = from; b <= to; ++b) t[static_cast<size_t>(b)] = c | flags;
    };
    auto one = [&set](char ch, byte_class c, uint32_t flags = 0) {
        set(static_cast<uint8_t>(ch), static_cast<uint8_t>(ch), c, flags);
    };
    // Every byte not named below is a word character.
    set(0x00, 0xFF, C_WORD_CHAR, 0);
    set(0x00, 0x00, C_END, FLAG_NUL);
    set(0x01, 0x08, C_CONTROL, 0);
    set(0x0B, 0x0C, C_CONTROL, 0);
    set(0x0E, 0x1F, C_CONTROL, 0);
    one('\t', C_BLANK);
    one('\r', C_BLANK);
    one(' ', C_BLANK);
    one('\n', C_LINE);
    set('1', '9', C_DIGIT, 0);
    one('0', C_ZERO);
    one('[', C_BLOCK_OPEN);
    one(']', C_BLOCK_CLOSE);
    one('(', C_PAREN_OPEN);
    one(')', C_PAREN_CLOSE);
    one('{', C_BRACE_OPEN);
    one('}', C_BRACE_CLOSE);
    one('"', C_DQUOTE);
    one('#', C_SHARP, FLAG_SHARP);
    one('\'', C_QUOTE, FLAG_APOSTROPHE);
    one(':', C_COLON, FLAG_COLON);
    one('x', C_X);
    one('X', C_X);
    one('T', C_T);
    one('h', C_H);
    one('e', C_E, FLAG_EXPONENT);
    one('E', C_E_UPPER, FLAG_EXPONENT);
    set('a', 'd', C_HEX_LOWER, 0);
    one('f', C_HEX_LOWER);
    set('A', 'D', C_HEX_UPPER, 0);
    one('F', C_HEX_UPPER);
    one('/', C_SLASH);
    one('\\', C_BACKSLASH);
    one('<', C_LESS, FLAG_LESS);
    one('>', C_GREATER, FLAG_GREATER);
    one('=', C_EQUAL);
    one('%', C_PERCENT, FLAG_PERCENT);
    one(',', C_COMMA, FLAG_COMMA);
    one(';', C_SEMICOLON);
    one('@', C_AT);
    one('.', C_DOT, FLAG_DOT);
    one('$', C_DOLLAR);
    one('+', C_PLUS, FLAG_SIGN);
    one('-', C_MINUS, FLAG_SIGN);
    one('^', C_CARET, FLAG_CARET);
    set(0x7F, 0xBF, C_CONTINUATION, 0);
    set(0xC0, 0xC1, C_BAD_LEAD, 0);
    set(0xC2, 0xEF, C_WORD_CHAR, FLAG_UTF8_2_3);
    set(0xF0, 0xF7, C_WORD_CHAR, FLAG_UTF8_4);
    set(0xF8, 0xFF, C_BAD_LEAD, 0);
    return t;
}

struct exception_t {
    lex_state target;
    std::initializer_list<byte_class> classes;
};

struct row_t {
    lex_state state;
    lex_state otherwise;
    std::initializer_list<exception_t> exceptions;
};

using matrix_t = std::array<std::array<uint8_t, CLASS_COUNT>, STATE_COUNT>;

// Returns an all-zero matrix when a row is out of order or names a class
// twice; the static_assert below turns that into a compile error.
constexpr matrix_t build_matrix() {
    // clang-format off
    const row_t rows[] = {
        {S_START, S_WORD, {{S_START, {C_BLANK, C_LINE, C_CONTROL}},
            {S_COMMENT, {C_SEMICOLON}},
            {S_STRING, {C_DQUOTE}},
            {S_PERCENT, {C_PERCENT}},
            {S_SLASH, {C_SLASH}},
            {S_SHARP, {C_SHARP}},
            {S_INTEGER, {C_DIGIT, C_ZERO}},
            {S_MONEY_SIGN, {C_DOLLAR}},
            {S_HEX_WORD, {C_E_UPPER, C_HEX_UPPER}},
            {S_LESS, {C_LESS}},
            {S_SIGN, {C_PLUS, C_MINUS}},
            {S_DOT, {C_DOT}},
            {S_PREFIX, {C_QUOTE, C_COLON}},
            {S_REF, {C_AT}},
            {S_EQUAL, {C_EQUAL}},
            {F_EOF, {C_END}},
            {F_ERROR, {C_BRACE_CLOSE, C_BACKSLASH, C_CONTINUATION, C_BAD_LEAD}},
            {F_BLOCK_OPEN, {C_BLOCK_OPEN}},
            {F_BLOCK_CLOSE, {C_BLOCK_CLOSE}},
            {F_PAREN_OPEN, {C_PAREN_OPEN}},
            {F_PAREN_CLOSE, {C_PAREN_CLOSE}},
            {F_BRACE_OPEN, {C_BRACE_OPEN}},
            {F_COMMA, {C_COMMA}}}},
        {S_COMMENT, S_COMMENT, {{F_ERROR, {C_BAD_LEAD}},
            {F_COMMENT, {C_LINE, C_END}}}},
        {S_STRING, S_STRING, {{S_STRING_ESCAPE, {C_CARET}},
            {F_ERROR, {C_LINE, C_BAD_LEAD, C_END}},
            {F_STRING, {C_DQUOTE}}}},
        {S_STRING_ESCAPE, S_STRING, {{F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_BRACE_STRING, S_BRACE_STRING, {{S_BRACE_ESCAPE, {C_CARET}},
            {F_ERROR, {C_BAD_LEAD, C_END}},
            {F_BRACE_OPEN, {C_BRACE_OPEN}},
            {F_BRACE_CLOSE, {C_BRACE_CLOSE}}}},
        {S_BRACE_ESCAPE, S_BRACE_STRING, {{F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_PERCENT, S_FILE, {{S_FILE_QUOTED, {C_DQUOTE}},
            {S_PERCENT_RUN, {C_PERCENT}},
            {S_RAW_STRING, {C_BRACE_OPEN}},
            {S_PREFIX_PERCENT, {C_COLON}},
            {F_ERROR, {C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_CLOSE, C_SEMICOLON, C_AT, C_CONTROL, C_END}}}},
        {S_FILE, S_FILE, {{F_ERROR, {C_DQUOTE, C_BAD_LEAD}},
            {F_FILE, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_COLON, C_SEMICOLON, C_AT, C_END}}}},
        {S_FILE_QUOTED, S_FILE_QUOTED, {{F_ERROR, {C_LINE, C_BAD_LEAD, C_END}},
            {F_FILE, {C_DQUOTE}}}},
        {S_PERCENT_RUN, S_FILE, {{S_PERCENT_RUN, {C_PERCENT}},
            {S_RAW_STRING, {C_BRACE_OPEN}},
            {F_ERROR, {C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_CLOSE, C_DQUOTE, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_RAW_STRING, S_RAW_STRING, {{S_RAW_CLOSE, {C_BRACE_CLOSE}},
            {F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_RAW_CLOSE, S_RAW_STRING, {{S_RAW_CLOSE, {C_BRACE_CLOSE}},
            {S_RAW_END, {C_PERCENT}},
            {F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_RAW_END, F_ERROR, {{S_RAW_END, {C_PERCENT}},
            {F_RAW_STRING, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_DQUOTE, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_SLASH, S_REFINEMENT, {{S_SLASH_RUN, {C_SLASH}},
            {S_WORD_COLON, {C_COLON}},
            {F_ERROR, {C_COMMA, C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_SEMICOLON, C_AT, C_CONTROL, C_END}}}},
        {S_REFINEMENT, S_REFINEMENT, {{F_ERROR, {C_COLON, C_COMMA, C_BAD_LEAD}},
            {F_REFINEMENT, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SLASH, C_SEMICOLON, C_AT, C_CONTROL, C_END}}}},
        {S_SLASH_RUN, S_WORD, {{S_SLASH_RUN, {C_SLASH}},
            {F_ERROR, {C_PERCENT, C_COMMA, C_DOLLAR, C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_SEMICOLON, C_AT, C_CONTROL, C_END}}}},
        {S_SHARP, S_ISSUE, {{S_BINARY, {C_BRACE_OPEN}},
            {S_CHAR, {C_DQUOTE}},
            {S_CONSTRUCT, {C_PAREN_OPEN}},
            {F_ERROR, {C_BLANK, C_LINE, C_BLOCK_CLOSE, C_PAREN_CLOSE, C_BRACE_CLOSE, C_COLON, C_LESS, C_GREATER, C_COMMA, C_BAD_LEAD}},
            {F_MAP_OPEN, {C_BLOCK_OPEN}},
            {F_ISSUE, {C_SEMICOLON, C_AT, C_CONTROL, C_END}}}},
        {S_BINARY, F_ERROR, {{S_BINARY, {C_BLANK, C_LINE, C_DIGIT, C_ZERO, C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_SLASH, C_EQUAL, C_PLUS, C_WORD_CHAR}},
            {S_BINARY_COMMENT, {C_SEMICOLON}},
            {F_BINARY, {C_BRACE_CLOSE}}}},
        {S_BINARY_COMMENT, S_BINARY_COMMENT, {{S_BINARY, {C_LINE}},
            {F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_CHAR, S_CHAR, {{S_CHAR_ESCAPE, {C_CARET}},
            {F_ERROR, {C_BAD_LEAD, C_END}},
            {F_CHAR, {C_DQUOTE}}}},
        {S_CHAR_ESCAPE, S_CHAR, {{F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_CONSTRUCT, S_CONSTRUCT, {{F_ERROR, {C_BAD_LEAD, C_END}},
            {F_CONSTRUCT, {C_PAREN_CLOSE}}}},
        {S_ISSUE, S_ISSUE, {{F_ERROR, {C_COLON, C_SLASH, C_BAD_LEAD}},
            {F_ISSUE, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SEMICOLON, C_AT, C_CONTROL, C_END}}}},
        {S_INTEGER, F_INTEGER, {{S_SHARP, {C_SHARP}},
            {S_INTEGER, {C_DIGIT, C_ZERO, C_QUOTE}},
            {S_DECIMAL_POINT, {C_DOT}},
            {S_EXPONENT, {C_E}},
            {S_DIGITS_E, {C_E_UPPER}},
            {S_DATE, {C_T, C_SLASH, C_MINUS}},
            {S_TIME_COLON, {C_COLON}},
            {S_PAIR_X, {C_X}},
            {S_HEX_DIGITS, {C_HEX_UPPER}},
            {S_DIGITS_H, {C_H}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_HEX_LOWER, C_BACKSLASH, C_GREATER, C_EQUAL, C_DOLLAR, C_PLUS, C_CARET, C_CONTINUATION, C_WORD_CHAR, C_BAD_LEAD}},
            {F_PERCENT, {C_PERCENT}}}},
        {S_DECIMAL_POINT, F_ERROR, {{S_FRACTION, {C_DIGIT, C_ZERO, C_QUOTE}},
            {S_EXPONENT, {C_E, C_E_UPPER}},
            {S_FLOAT_SPECIAL, {C_SHARP}},
            {S_PAIR_X, {C_X}},
            {F_PERCENT, {C_PERCENT}},
            {F_FLOAT, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SLASH, C_LESS, C_COMMA, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_FRACTION, F_FLOAT, {{S_FRACTION, {C_DIGIT, C_ZERO, C_QUOTE}},
            {S_EXPONENT, {C_E, C_E_UPPER}},
            {S_TUPLE, {C_DOT}},
            {S_PAIR_X, {C_X}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_SHARP, C_T, C_H, C_HEX_LOWER, C_HEX_UPPER, C_BACKSLASH, C_GREATER, C_EQUAL, C_DOLLAR, C_PLUS, C_MINUS, C_CARET, C_CONTINUATION, C_WORD_CHAR, C_BAD_LEAD}},
            {F_PERCENT, {C_PERCENT}}}},
        {S_EXPONENT, F_ERROR, {{S_EXPONENT, {C_DIGIT, C_ZERO, C_PLUS, C_MINUS}},
            {S_EMAIL, {C_AT}},
            {F_PERCENT, {C_PERCENT}},
            {F_FLOAT, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_SLASH, C_LESS, C_COMMA, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_DIGITS_E, F_FLOAT, {{S_EXPONENT, {C_PLUS, C_MINUS}},
            {S_DIGITS_E, {C_DIGIT, C_ZERO}},
            {S_TUPLE, {C_DOT}},
            {S_HEX_WORD, {C_E_UPPER, C_HEX_UPPER}},
            {S_DIGITS_H, {C_H}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_SHARP, C_QUOTE, C_X, C_T, C_E, C_HEX_LOWER, C_BACKSLASH, C_GREATER, C_EQUAL, C_SEMICOLON, C_DOLLAR, C_CARET, C_CONTINUATION, C_WORD_CHAR, C_BAD_LEAD}},
            {F_PERCENT, {C_PERCENT}}}},
        {S_FLOAT_SPECIAL, F_FLOAT_SPECIAL, {{S_FLOAT_SPECIAL, {C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_GREATER, C_EQUAL, C_DOT, C_PLUS, C_MINUS, C_CONTINUATION, C_WORD_CHAR}},
            {F_ERROR, {C_SHARP, C_QUOTE, C_COLON, C_AT, C_DOLLAR, C_CARET, C_BAD_LEAD}},
            {F_PERCENT, {C_PERCENT}},
            {F_FLOAT, {C_DIGIT}}}},
        {S_TUPLE, F_ERROR, {{S_TUPLE, {C_DIGIT, C_ZERO, C_DOT}},
            {F_TUPLE, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_SLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_DATE, S_DATE, {{F_ERROR, {C_PERCENT, C_COMMA, C_AT, C_CARET, C_CONTINUATION, C_BAD_LEAD}},
            {F_DATE, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_LESS, C_SEMICOLON, C_DOLLAR, C_CONTROL, C_END}}}},
        {S_TIME_COLON, F_ERROR, {{S_TIME, {C_DIGIT, C_ZERO}}}},
        {S_TIME, F_ERROR, {{S_TIME, {C_DIGIT, C_ZERO, C_COLON, C_DOT}},
            {F_TIME, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_PAIR_X, F_ERROR, {{S_PAIR, {C_DIGIT, C_ZERO, C_PLUS, C_MINUS}},
            {S_EMAIL, {C_AT}}}},
        {S_PAIR, F_ERROR, {{S_PAIR, {C_DIGIT, C_ZERO, C_E, C_E_UPPER, C_DOT}},
            {S_EMAIL, {C_AT}},
            {F_PAIR, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_SLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_POINT, F_ERROR, {{S_POINT, {C_BLANK, C_DIGIT, C_ZERO, C_BLOCK_CLOSE, C_SHARP, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_COMMA, C_DOT, C_PLUS, C_MINUS, C_WORD_CHAR}},
            {F_POINT, {C_PAREN_CLOSE}}}},
        {S_MONEY_SIGN, F_ERROR, {{S_MONEY, {C_DIGIT, C_ZERO}}}},
        {S_MONEY, F_ERROR, {{S_MONEY, {C_DIGIT, C_ZERO, C_QUOTE}},
            {S_MONEY_FRACTION, {C_DOT}},
            {F_MONEY, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_COLON, C_SLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_MONEY_FRACTION, F_ERROR, {{S_MONEY_FRACTION, {C_DIGIT, C_ZERO, C_QUOTE}},
            {F_MONEY, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_COLON, C_SLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_HEX_DIGITS, F_ERROR, {{S_HEX_DIGITS, {C_DIGIT, C_ZERO, C_E_UPPER, C_HEX_UPPER}},
            {S_HEX_WORD_H, {C_H}},
            {S_EMAIL, {C_AT}}}},
        {S_HEX_WORD, F_WORD, {{S_MONEY, {C_DOLLAR}},
            {S_HEX_WORD, {C_DIGIT, C_ZERO, C_E_UPPER, C_HEX_UPPER}},
            {S_HEX_WORD_H, {C_H}},
            {S_WORD, {C_QUOTE, C_X, C_T, C_E, C_HEX_LOWER, C_LESS, C_GREATER, C_EQUAL, C_DOT, C_PLUS, C_MINUS, C_CARET, C_CONTINUATION, C_WORD_CHAR}},
            {S_WORD_COLON, {C_COLON}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_PERCENT, C_COMMA, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}}}},
        {S_HEX_WORD_H, S_WORD, {{S_MONEY, {C_DOLLAR}},
            {S_WORD_COLON, {C_COLON}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_SHARP, C_PERCENT, C_COMMA, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_HEX, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_DIGITS_H, F_ERROR, {{S_MONEY, {C_DOLLAR}},
            {S_EMAIL, {C_AT}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_HEX, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_BACKSLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_LESS, S_TAG, {{S_LESS, {C_LESS}},
            {S_TAG_SQUOTE, {C_QUOTE}},
            {S_WORD, {C_GREATER, C_EQUAL, C_MINUS}},
            {S_WORD_COLON, {C_COLON}},
            {F_ERROR, {C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_TAG, S_TAG, {{S_TAG_DQUOTE, {C_DQUOTE}},
            {S_TAG_SQUOTE, {C_QUOTE}},
            {F_ERROR, {C_BAD_LEAD, C_END}},
            {F_TAG, {C_GREATER}}}},
        {S_TAG_DQUOTE, S_TAG_DQUOTE, {{S_TAG, {C_DQUOTE}},
            {F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_TAG_SQUOTE, S_TAG_SQUOTE, {{S_TAG, {C_QUOTE}},
            {F_ERROR, {C_BAD_LEAD, C_END}}}},
        {S_SIGN, S_WORD, {{S_INTEGER, {C_DIGIT, C_ZERO}},
            {S_MONEY, {C_DOLLAR}},
            {S_DOT, {C_DOT}},
            {F_ERROR, {C_QUOTE, C_PERCENT, C_CARET, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_PREFIX_SIGN, S_WORD, {{F_ERROR, {C_QUOTE, C_PERCENT, C_DOLLAR, C_CARET, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_DOT, S_WORD, {{S_DOT_DIGITS, {C_DIGIT, C_ZERO, C_PLUS, C_MINUS}},
            {S_WORD_COLON, {C_COLON}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_PERCENT, C_COMMA, C_DOLLAR, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_DOT_DIGITS, F_ERROR, {{S_PAIR_X, {C_X}},
            {S_DOT_DIGITS, {C_DIGIT, C_ZERO, C_E, C_E_UPPER, C_PLUS, C_MINUS}},
            {S_EMAIL, {C_AT}},
            {F_PERCENT, {C_PERCENT}},
            {F_FLOAT, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_SLASH, C_LESS, C_CONTROL, C_END}}}},
        {S_PREFIX, F_ERROR, {{S_SLASH, {C_SLASH}},
            {S_LESS, {C_LESS}},
            {S_PREFIX_SIGN, {C_PLUS, C_MINUS}},
            {S_WORD, {C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_GREATER, C_DOT, C_CARET, C_CONTINUATION, C_WORD_CHAR}},
            {S_PREFIX_PERCENT, {C_PERCENT}},
            {S_EQUAL, {C_EQUAL}}}},
        {S_WORD, S_WORD, {{S_MONEY_SIGN, {C_DOLLAR}},
            {S_WORD_COLON, {C_COLON}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_PERCENT, C_COMMA, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_SHARP, C_BACKSLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_WORD_COLON, S_URL, {{F_ERROR, {C_LESS, C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_PREFIX_PERCENT, F_ERROR, {{S_PREFIX_PERCENT, {C_PERCENT}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_URL, S_URL, {{F_ERROR, {C_GREATER, C_CARET, C_BAD_LEAD}},
            {F_URL, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_BACKSLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_EMAIL, F_EMAIL, {{S_EMAIL, {C_DIGIT, C_ZERO, C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_PERCENT, C_DOT, C_PLUS, C_MINUS, C_CONTINUATION, C_WORD_CHAR}},
            {F_ERROR, {C_SHARP, C_QUOTE, C_COLON, C_GREATER, C_EQUAL, C_COMMA, C_AT, C_DOLLAR, C_CARET, C_BAD_LEAD}}}},
        {S_REF, S_REF, {{F_ERROR, {C_SHARP, C_QUOTE, C_BACKSLASH, C_GREATER, C_EQUAL, C_COMMA, C_AT, C_DOLLAR, C_CARET, C_BAD_LEAD}},
            {F_REF, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_LESS, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_EQUAL, S_WORD, {{F_ERROR, {C_SHARP, C_PERCENT, C_COMMA, C_AT, C_DOLLAR, C_BAD_LEAD}},
            {F_PATH_OPEN, {C_SLASH}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_PATH_ELEMENT, F_ERROR, {{S_STRING, {C_DQUOTE}},
            {S_MONEY_SIGN, {C_DOLLAR}},
            {S_LESS, {C_LESS}},
            {S_REF, {C_AT}},
            {S_PATH_INTEGER, {C_DIGIT, C_ZERO}},
            {S_PATH_PREFIX, {C_QUOTE, C_COLON}},
            {S_PATH_WORD, {C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_GREATER, C_EQUAL, C_DOT, C_CONTINUATION, C_WORD_CHAR}},
            {S_PATH_SHARP, {C_SHARP}},
            {S_PATH_SIGN, {C_PLUS, C_MINUS}},
            {F_PAREN_OPEN, {C_PAREN_OPEN}},
            {F_PAREN_CLOSE, {C_PAREN_CLOSE}}}},
        {S_PATH_INTEGER, F_ERROR, {{S_DECIMAL_POINT, {C_DOT}},
            {S_EXPONENT, {C_E, C_E_UPPER}},
            {S_PAIR_X, {C_X}},
            {S_EMAIL, {C_AT}},
            {S_PATH_INTEGER, {C_DIGIT, C_ZERO, C_QUOTE}},
            {F_INTEGER, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_SLASH, C_LESS, C_SEMICOLON, C_CONTROL, C_END}},
            {F_PERCENT, {C_PERCENT}}}},
        {S_PATH_PREFIX, F_ERROR, {{S_PATH_WORD, {C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_LESS, C_GREATER, C_EQUAL, C_DOT, C_PLUS, C_MINUS, C_CONTINUATION, C_WORD_CHAR}}}},
        {S_PATH_WORD, S_PATH_WORD, {{S_MONEY_SIGN, {C_DOLLAR}},
            {S_EMAIL, {C_AT}},
            {F_ERROR, {C_SHARP, C_PERCENT, C_COMMA, C_BAD_LEAD}},
            {F_WORD, {C_BLANK, C_LINE, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_COLON, C_SLASH, C_BACKSLASH, C_SEMICOLON, C_CONTROL, C_END}}}},
        {S_PATH_SHARP, S_ISSUE, {{S_CHAR, {C_DQUOTE}},
            {S_CONSTRUCT, {C_BLOCK_OPEN}},
            {F_ERROR, {C_BLANK, C_LINE, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN, C_BRACE_CLOSE, C_COLON, C_SLASH, C_LESS, C_GREATER, C_EQUAL, C_COMMA, C_SEMICOLON, C_AT, C_CONTROL, C_BAD_LEAD, C_END}}}},
        {S_PATH_SIGN, F_WORD, {{S_MONEY_SIGN, {C_DOLLAR}},
            {S_EMAIL, {C_AT}},
            {S_PATH_INTEGER, {C_DIGIT, C_ZERO}},
            {S_PATH_WORD, {C_X, C_T, C_H, C_E, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_GREATER, C_EQUAL, C_DOT, C_CONTINUATION, C_WORD_CHAR}},
            {S_PATH_SIGN, {C_PLUS, C_MINUS}},
            {F_ERROR, {C_SHARP, C_QUOTE, C_LESS, C_PERCENT, C_COMMA, C_CARET, C_BAD_LEAD}}}},
    };
    // clang-format on
    static_assert(sizeof rows / sizeof rows[0] == STATE_COUNT);
    matrix_t m{};
    for (int s = 0; s < STATE_COUNT; ++s) {
        const row_t& r = rows[s];
        if (r.state != s) return matrix_t{};
        std::array<bool, CLASS_COUNT> named{};
        for (int c = 0; c < CLASS_COUNT; ++c) m[s][c] = r.otherwise;
        for (const exception_t& e : r.exceptions) {
            for (byte_class c : e.classes) {
                if (named[c]) return matrix_t{};
                named[c] = true;
                m[s][c] = e.target;
            }
        }
    }
    return m;
}

constexpr matrix_t built_matrix = build_matrix();
static_assert(built_matrix[S_START][C_DIGIT] == S_INTEGER,
              "a matrix row is out of order or names a class twice");

constexpr std::array<uint8_t, ALL_STATES> build_kinds() {
    std::array<uint8_t, ALL_STATES> k{};
    auto set = [&k](std::initializer_list<lex_state> states, uint8_t kind) {
        for (lex_state s : states) k[s] = kind;
    };
    set({S_STRING, S_STRING_ESCAPE, S_BRACE_STRING, S_BRACE_ESCAPE, S_RAW_STRING, S_RAW_CLOSE,
         S_RAW_END},
        TYPE_string);
    set({S_PERCENT, S_FILE, S_FILE_QUOTED, S_PERCENT_RUN}, TYPE_file);
    set({S_SLASH, S_SLASH_RUN, S_SIGN, S_PREFIX_SIGN, S_DOT, S_PREFIX, S_WORD, S_PREFIX_PERCENT,
         S_EQUAL, S_HEX_WORD_H, S_PATH_PREFIX, S_PATH_WORD, S_PATH_SIGN},
        TYPE_word);
    set({S_REFINEMENT}, TYPE_refinement);
    set({S_SHARP, S_ISSUE, S_PATH_SHARP}, TYPE_issue);
    set({S_BINARY}, TYPE_binary);
    set({S_CHAR, S_CHAR_ESCAPE}, TYPE_char_);
    set({S_INTEGER, S_HEX_WORD, S_DIGITS_H, S_PATH_INTEGER}, TYPE_integer);
    set({S_DECIMAL_POINT, S_FRACTION, S_EXPONENT, S_DIGITS_E, S_FLOAT_SPECIAL, S_DOT_DIGITS},
        TYPE_float_);
    set({S_TUPLE}, TYPE_tuple);
    set({S_DATE}, TYPE_date);
    set({S_TIME_COLON, S_TIME}, TYPE_time);
    set({S_PAIR_X, S_PAIR}, TYPE_pair);
    set({S_POINT}, TYPE_point2d);
    set({S_MONEY_SIGN, S_MONEY, S_MONEY_FRACTION}, TYPE_money);
    set({S_LESS, S_TAG, S_TAG_DQUOTE, S_TAG_SQUOTE}, TYPE_tag);
    set({S_WORD_COLON}, TYPE_set_word);
    set({S_URL}, TYPE_url);
    set({S_EMAIL}, TYPE_email);
    set({S_REF}, TYPE_ref);
    set({S_PATH_ELEMENT}, TYPE_path);

    set({F_ERROR}, TYPE_error);
    set({F_BRACE_CLOSE, F_STRING, F_RAW_STRING}, TYPE_string);
    set({F_WORD}, TYPE_word);
    set({F_ISSUE}, TYPE_issue);
    set({F_INTEGER, F_HEX}, TYPE_integer);
    set({F_REFINEMENT}, TYPE_refinement);
    set({F_CHAR}, TYPE_char_);
    set({F_FILE}, TYPE_file);
    set({F_BINARY}, TYPE_binary);
    set({F_PERCENT}, TYPE_percent);
    set({F_FLOAT, F_FLOAT_SPECIAL}, TYPE_float_);
    set({F_TUPLE}, TYPE_tuple);
    set({F_DATE}, TYPE_date);
    set({F_PAIR}, TYPE_pair);
    set({F_POINT}, TYPE_point2d);
    set({F_TIME}, TYPE_time);
    set({F_MONEY}, TYPE_money);
    set({F_TAG}, TYPE_tag);
    set({F_URL}, TYPE_url);
    set({F_EMAIL}, TYPE_email);
    set({F_REF}, TYPE_ref);
    return k;
}

constexpr std::array<uint8_t, 128> build_hex_digits() {
    std::array<uint8_t, 128> t{};
    for (auto& v : t) v = 255;
    for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        t['A' + i] = static_cast<uint8_t>(10 + i);
        t['a' + i] = static_cast<uint8_t>(10 + i);
    }
    return t;
}

constexpr std::array<uint8_t, ALL_STATES> build_skip_table() {
    std::array<uint8_t, ALL_STATES> t{};
    t[S_START] = 1;
    return t;
}

constexpr std::array<uint8_t, CLASS_COUNT> build_line_table() {
    std::array<uint8_t, CLASS_COUNT> t{};
    t[C_LINE] = 1;
    return t;
}

}  // namespace

constinit const std::array<uint32_t, 256> byte_classes = build_byte_classes();
constinit const std::array<std::array<uint8_t, CLASS_COUNT>, STATE_COUNT> matrix = built_matrix;
constinit const std::array<uint8_t, ALL_STATES> kinds = build_kinds();
constinit const std::array<uint8_t, ALL_STATES> skip_table = build_skip_table();
constinit const std::array<uint8_t, CLASS_COUNT> line_table = build_line_table();
constinit const std::array<uint8_t, 128> hex_digits = build_hex_digits();

}  // namespace zuv::lexer
