// Literal checks that need no datatype (see literal_checks.h).
#include "lexer/literal_checks.h"

namespace zuv::lexer {

void check_string_text(state_t& s, int32_t token_start, int32_t from, int32_t to, uint32_t flags,
                       int32_t kind) {
    if (!(flags & (FLAG_CARET | FLAG_UTF8_2_3 | FLAG_UTF8_4))) return;
    const uint8_t* t = s.bytes();
    const uint8_t* end = t + to;
    for (const uint8_t* p = t + from; p < end;) {
        int32_t cp;
        const uint8_t* next = p + 1;
        if (*p == '^') next = decode_escape(p, end, &cp);
        else if (*p >= 0x80) next = decode_utf8(p, end, &cp);
        if (!next) throw_error(s, token_start, to, kind);
        p = next;
    }
}

void check_char(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    // #"x": the character or escape must fill the text between the quotes.
    const uint8_t* t = s.bytes();
    const uint8_t* p = t + start + 2;
    const uint8_t* stop = t + end;
    int32_t cp;
    const uint8_t* next = nullptr;
    if (p < stop) next = *p == '^' ? decode_escape(p, stop, &cp) : decode_utf8(p, stop, &cp);
    if (!next || next != stop) throw_error(s, start, end + 1, TYPE_char_);
    s.position = end + 1;
}

void check_point(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    if (start > 0 && s.bytes()[start - 1] == '(') s.token_start = start - 1;
    s.start_state = S_START;
    s.position = end + 1;
}

void check_hex(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    const uint8_t* t = s.bytes();
    int32_t digits = end - start - 1;
    if (digits == 1 && hex_value(t[start]) >= 10) throw_error(s, start, end, TYPE_word);
    if (digits < 2 || digits > 8) throw_error(s, start, end, TYPE_integer);
}

void check_raw_string(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    const uint8_t* t = s.bytes();
    int32_t opening = 0;
    while (t[start + opening] == '%') ++opening;
    // From after the "{", find "}" followed by exactly as many "%" as opened.
    for (int32_t p = start + opening + 1; p < s.input_end; ++p) {
        if (t[p] != '}') continue;
        int32_t run = 0;
        while (p + 1 + run < s.input_end && t[p + 1 + run] == '%') ++run;
        if (run < opening) continue;
        if (run > opening) break;
        int32_t after = p + 1 + run;
        if (after < s.input_end) {
            lex_state next = static_cast<lex_state>(matrix[S_RAW_END][class_of(t[after])]);
            if (next != F_RAW_STRING) break;
        }
        for (int32_t q = end; q < after; ++q) s.line += t[q] == '\n';
        s.position = s.token_end = after;
        return;
    }
    throw_error(s, start, end, TYPE_string);
}

}  // namespace zuv::lexer
