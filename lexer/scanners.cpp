// The scanners: the handlers that give tokens their structure (containers,
// paths, brace strings, points, constructions, comments) and the quick
// checks of strings, words and issues; and the table of handler pairs.
#include <cstring>

#include "lexer/lexer.h"
#include "lexer/literal_checks.h"
#include "lexer/loaders.h"

namespace zuv::lexer {
namespace {

void scan_eof(state_t& s, int32_t, int32_t, uint32_t, int32_t) {
    // A NUL byte reads as the end class; text after it is not silently
    // dropped: the NUL is a bad character.
    if (s.position < s.input_end) throw_error(s, s.position, s.position + 1, ERR_BAD_CHAR);
    s.position = s.input_end;
}

void scan_error(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    int32_t kind = kinds[s.previous_state];
    if (s.previous_state == S_BRACE_STRING || s.previous_state == S_BRACE_ESCAPE)
        start = s.brace_start;
    if (s.previous_state == S_PATH_ELEMENT) start = NO_START;
    throw_error(s, start, end + 1, kind ? kind : ERR_BAD_CHAR);
}

void scan_block_open(state_t& s, int32_t, int32_t end, uint32_t, int32_t) {
    s.position = end + 1;
    open_container(s, TYPE_block, end, end + 1);
}

void scan_block_close(state_t& s, int32_t, int32_t end, uint32_t, int32_t) {
    s.position = end + 1;
    // needs map: in load mode a closed map! checks its key count and key
    // types and becomes a map!
    close_container(s, end, end + 1, TYPE_block, false);
}

// Whether the "(" at `at` begins a point literal: at least four more bytes,
// a run of number-like bytes, and a "," (or the input end) after the run.
bool point_follows(const state_t& s, int32_t at) {
    const uint8_t* t = s.bytes();
    if (s.input_end - (at + 1) < 4) return false;
    for (int32_t p = at + 1; p < s.input_end; ++p) {
        uint8_t c = t[p];
        if (c == ' ' || c == '\t' || (c >= '0' && c <= '9') || c == '#' || c == '+' || c == '-' ||
            c == '.' || std::strchr("AEFINaefin", c) != nullptr) {
            if (c == 0) return false;
            continue;
        }
        return c == ',';
    }
    return true;
}

void scan_paren_open(state_t& s, int32_t, int32_t end, uint32_t, int32_t) {
    s.position = end + 1;
    if (point_follows(s, end)) {
        s.start_state = S_POINT;
        return;
    }
    open_container(s, TYPE_paren, end, end + 1);
}

void scan_paren_close(state_t& s, int32_t, int32_t end, uint32_t, int32_t) {
    s.position = end + 1;
    close_container(s, end, end + 1, TYPE_paren, false);
}

void scan_brace_open(state_t& s, int32_t, int32_t end, uint32_t flags, int32_t) {
    if (s.brace_depth == 0) {
        // The outermost brace is reported in every mode, so that a console
        // checking for open delimiters sees a brace string as one unit.
        if (s.has_callback()) fire_event(s, EV_OPEN, TYPE_string, nullptr, end, end + 1);
        s.brace_start = end;
        s.brace_flags = 0;
        s.brace_turn_begin = s.turn_begin;
        s.brace_turn_line = s.turn_line;
    }
    ++s.brace_depth;
    s.brace_flags |= flags;
    s.start_state = S_BRACE_STRING;
    s.position = end + 1;
    s.kind = 0;
}

void scan_brace_close(state_t& s, int32_t, int32_t end, uint32_t flags, int32_t load) {
    --s.brace_depth;
    s.brace_flags |= flags;
    s.position = end + 1;
    if (s.brace_depth > 0) {
        s.kind = 0;
        if (s.position >= s.input_end) throw_error(s, s.brace_start, s.input_end, TYPE_string);
        return;
    }
    s.start_state = S_START;
    s.token_start = s.brace_start;
    s.kind = TYPE_string;
    if (!load) {
        check_string_text(s, s.brace_start, s.brace_start + 1, end, s.brace_flags, TYPE_string);
        if (s.has_callback())
            fire_event(s, EV_CLOSE, TYPE_string, nullptr, s.brace_start, s.position);
        return;
    }
    // The close event comes first in every mode: a console that follows
    // open and close sees the brace string as one unit.
    if (s.has_callback() &&
        !fire_event(s, EV_CLOSE, TYPE_string, nullptr, s.brace_start, s.position))
        return;
    int32_t before = s.tail;
    load_string_text(s, s.brace_start, s.brace_start + 1, end, s.brace_flags, TYPE_string, 1);
    if (s.has_callback() &&
        !fire_event(s, EV_LOAD, TYPE_string, value_at(s.tail - 1), s.brace_start, s.position))
        s.tail = before;
}

void scan_map_open(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    if (s.bytes()[start] != '#') throw_error(s, start, end, TYPE_map);
    s.position = end + 1;
    open_container(s, TYPE_map, start, end + 1);
}

void scan_path_open(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    uint8_t first = s.bytes()[start];
    int32_t kind = first == '\'' ? TYPE_lit_path : first == ':' ? TYPE_get_path : TYPE_path;
    s.position = end + 1;
    // In load mode a path cannot end with its separator.
    if (load && s.position >= s.input_end) throw_error(s, start, s.position, kind);
    int32_t opened = s.level_head;
    open_container(s, kind, start, end + 1);
    if (load && s.level_head != opened) {
        // The word before "/", without its prefix, is the first element.
        int32_t from = kind == TYPE_path ? start : start + 1;
        if (from >= end) throw_error(s, start, end + 1, kind);
        bool keep = !s.has_callback() || fire_event(s, EV_SCAN, TYPE_word, nullptr, from, end);
        if (keep) {
            int32_t before = s.tail;
            append_word(s, from, end, TYPE_word);
            if (s.has_callback() &&
                !fire_event(s, EV_LOAD, TYPE_word, value_at(s.tail - 1), from, end))
                s.tail = before;
        }
    }
    s.start_state = S_PATH_ELEMENT;
    s.kind = kind;
}

bool same_text(const uint8_t* t, int32_t length, const char* name) {
    if (static_cast<size_t>(length) != std::strlen(name)) return false;
    for (int32_t i = 0; i < length; ++i) {
        uint8_t a = t[i], b = static_cast<uint8_t>(name[i]);
        if (a >= 'A' && a <= 'Z') a |= 0x20;
        if (b >= 'A' && b <= 'Z') b |= 0x20;
        if (a != b) return false;
    }
    return true;
}

void scan_construct(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    const uint8_t* text = s.bytes() + start + 2;  // after "#(" or "#["
    int32_t length = end - start - 2;
    int32_t kind = 0;
    if (same_text(text, length, "true") || same_text(text, length, "false")) kind = TYPE_logic;
    else if (same_text(text, length, "none")) kind = TYPE_none;
    else if (same_text(text, length, "unset")) kind = TYPE_unset;
#define ZUV_TYPE(id, ident, name, refs) else if (same_text(text, length, name)) kind = id;
#include "datatypes/types.def"
#undef ZUV_TYPE
    if (kind == 0) throw_error(s, start, end + 1, ERR_BAD_CONSTRUCT);
    s.kind = kind;
    s.position = end + 1;
    if (load) {
        bool value = kind == TYPE_logic && same_text(text, length, "true");
        int32_t before = s.tail;
        append_construct(s, kind, value);
        if (s.has_callback() &&
            !fire_event(s, EV_LOAD, kind, value_at(s.tail - 1), start, s.position))
            s.tail = before;
    }
}

void scan_comment(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    if (s.has_callback()) fire_event(s, EV_SCAN, -(F_COMMENT - 65), nullptr, start, end);
}

void scan_comma(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    int32_t m = innermost_marker(s);
    int32_t kind = m >= 0 ? marker_kind(value_at(m)) : 0;
    if (kind == TYPE_paren) {
        // A point checks the values it holds, and a paren opened before a
        // scan took up holds none of those before the place.
        if (m < s.buffer_head + s.seeded) throw lexer_restart{};
        value_at(m)->data2 = TYPE_point2d | (1u << 16);
    } else if (kind == TYPE_point2d) {
        value_at(m)->data2 += 1u << 16;
    } else {
        throw_error(s, start, end + 1, TYPE_point2d);
    }
    s.position = end + 1;
}

void scan_string(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t) {
    check_string_text(s, start, start + 1, end, flags, TYPE_string);
    s.position = end + 1;
}

void scan_word(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t) {
    const uint8_t* t = s.bytes();
    if (flags & (FLAG_UTF8_2_3 | FLAG_UTF8_4)) {
        // The word ends at the first blank code point inside it; the blank
        // starts the next token, which skips it.
        for (int32_t p = start; p < end;) {
            if (t[p] < 0x80) {
                ++p;
                continue;
            }
            int32_t cp;
            const uint8_t* next = decode_utf8(t + p, t + end, &cp);
            if (!next) throw_error(s, start, end, TYPE_word);
            if (is_blank_code_point(cp)) {
                end = p;
                s.position = s.token_end = p;
                break;
            }
            p = static_cast<int32_t>(next - t);
        }
    }
    int32_t kind = TYPE_word;
    if (flags & FLAG_COLON) {
        bool lead = t[start] == ':';
        bool trail = end - start > 1 && t[end - 1] == ':';
        bool after = !trail && end < s.input_end && t[end] == ':';
        if (after) {
            bool in_path = s.start_state == S_PATH_ELEMENT;
            if (!in_path || (end + 1 < s.input_end && !ends_path(t[end + 1]) && t[end + 1] != '/'))
                throw_error(s, start, end + 1, TYPE_word);
        }
        if (lead && trail) throw_error(s, start, end, TYPE_word);
        if (lead) kind = TYPE_get_word;
        if (trail) kind = TYPE_set_word;
    }
    if (t[start] == '\'') {
        if (kind == TYPE_set_word) throw_error(s, start, end, TYPE_lit_word);
        kind = TYPE_lit_word;
    }
    s.kind = kind;
}

void scan_issue(state_t& s, int32_t start, int32_t end, uint32_t, int32_t) {
    if (end - start < 2) throw_error(s, start, end, TYPE_issue);
    s.kind = TYPE_issue;
}

}  // namespace

// clang-format off
handler_pair handlers[FINAL_COUNT] = {
    {scan_eof, nullptr},           // F-eof
    {scan_error, nullptr},         // F-error
    {scan_block_open, nullptr},    // F-block-open
    {scan_block_close, nullptr},   // F-block-close
    {scan_paren_open, nullptr},    // F-paren-open
    {scan_paren_close, nullptr},   // F-paren-close
    {scan_brace_open, nullptr},    // F-brace-open
    {scan_brace_close, nullptr},   // F-brace-close
    {scan_map_open, nullptr},      // F-map-open
    {scan_path_open, nullptr},     // F-path-open
    {scan_construct, nullptr},     // F-construct
    {scan_comment, nullptr},       // F-comment
    {scan_comma, nullptr},         // F-comma
    {scan_string, load_string},    // F-string
    {scan_word, load_word},        // F-word
    {scan_issue, load_issue},      // F-issue
    {nullptr, load_integer},       // F-integer
    {nullptr, load_refinement},    // F-refinement
    {nullptr, load_char},          // F-char
    {nullptr, load_file},          // F-file
    {nullptr, load_binary},        // F-binary
    {nullptr, load_percent},       // F-percent
    {nullptr, load_float},         // F-float
    {nullptr, load_float_special}, // F-float-special
    {nullptr, load_tuple},         // F-tuple
    {nullptr, load_date},          // F-date
    {nullptr, load_pair},          // F-pair
    {nullptr, load_point},         // F-point
    {nullptr, load_time},          // F-time
    {nullptr, load_money},         // F-money
    {nullptr, load_tag},           // F-tag
    {nullptr, load_url},           // F-url
    {nullptr, load_email},         // F-email
    {nullptr, load_hex},           // F-hex
    {nullptr, load_raw_string},    // F-raw-string
    {nullptr, load_ref},           // F-ref
};
// clang-format on

}  // namespace zuv::lexer
