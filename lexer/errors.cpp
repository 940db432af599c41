// Syntax errors and callback events of a scan.
//
// In a scan-only mode a syntax error is not raised: it marks the scan's kind
// as error! and stops the token loop. In load mode it becomes a syntax error
// value whose text shows the line and the text near the fault.
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "lexer/lexer.h"
#include "lexer/loaders.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"

namespace zuv::lexer {

std::string line_text(int32_t line) { return "(line " + std::to_string(line) + ")"; }

std::string near_text(const uint8_t* input, int32_t input_end, int32_t start) {
    std::string out;
    if (start < 0) start = 0;
    const uint8_t* p = input + start;
    const uint8_t* end = input + input_end;
    for (int chars = 0; p < end && chars < 30; ++chars) {
        if (*p == '\n' || *p == '\r') break;
        int32_t cp;
        const uint8_t* next = decode_utf8(p, end, &cp);
        if (!next) next = p + 1;  // a malformed byte still shows, as itself
        out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(next - p));
        p = next;
    }
    return out;
}

bool fire_event(state_t& s, event_t event, int32_t kind, const cell_t* value, int32_t start,
                int32_t end) {
    if (!(s.event_mask & event)) return true;
    if (s.hook) return s.hook(s, event, kind, value, start, end, s.hook_data);
    if (type_of(&s.callback) == TYPE_function || type_of(&s.callback) == TYPE_routine)
        return call_callback(s, event, kind, value, start, end);
    return true;
}

namespace {

bool is_path_kind(int32_t kind) {
    return kind == TYPE_path || kind == TYPE_lit_path || kind == TYPE_set_path ||
           kind == TYPE_get_path;
}

char expected_delimiter(int32_t nesting_kind, uint8_t found) {
    switch (nesting_kind) {
    case TYPE_block:
    case TYPE_map: return found == ']' ? '[' : ']';
    case TYPE_paren:
    case TYPE_point2d:
    case TYPE_point3d: return found == ')' ? '(' : ')';
    default: return 0;
    }
}

}  // namespace

void throw_error(state_t& s, int32_t start, int32_t end, int32_t kind) {
    throw lexer_stop{report_error(s, start, end, kind)};
}

namespace {

// Notes in s.resume the place a scan of this text with more appended can
// take up from (see resume_t), when there is one.
void note_resume(state_t& s) {
    bool in_brace = s.start_state == S_BRACE_STRING || s.brace_depth > 0;
    int32_t begin = in_brace ? s.brace_turn_begin : s.turn_begin;
    if (begin < 0 || s.input_end == 0 || s.bytes()[s.input_end - 1] != '\n') return;
    std::vector<int32_t> kinds;
    // From the innermost marker out: each one's level begins data1 cells
    // before it, just after the marker that holds it.
    for (int32_t m = innermost_marker(s); m >= s.buffer_head;
         m -= static_cast<int32_t>(value_at(m)->data1) + 1) {
        int32_t kind = marker_kind(value_at(m));
        if (kind != TYPE_block && kind != TYPE_paren) return;
        kinds.push_back(kind);
    }
    resume_t& r = *s.resume;
    r.kinds.assign(kinds.rbegin(), kinds.rend());
    r.line = in_brace ? s.brace_turn_line : s.turn_line;
    r.from = s.char_base + offset_in_input(s, begin);
}

}  // namespace

bool report_error(state_t& s, int32_t start, int32_t end, int32_t kind) {
    if (s.resume) note_resume(s);
    if (start == NO_START) {
        int32_t m = innermost_marker(s);
        start = m >= 0 ? static_cast<int32_t>(value_at(m)->data3) : 0;
    }
    if (end < start) end = start;
    s.error_kind = kind;
    s.error.kind = kind;
    s.error.start = start;
    s.error.line = s.line;
    if (!s.load) {
        s.kind = TYPE_error;
        return false;
    }
    if (s.has_callback()) {
        int32_t reported = kind > 0             ? kind
                           : s.nesting_kind > 0 ? s.nesting_kind
                           : s.kind > 0         ? s.kind
                                                : TYPE_error;
        if (s.start_state == S_PATH_ELEMENT) {
            // Closed as the kind it was opened with: any other kind would be
            // a mismatch, and raising that would come back here.
            int32_t m = innermost_marker(s);
            if (m >= 0 && is_path_kind(marker_kind(value_at(m))))
                close_container(s, start, end, marker_kind(value_at(m)), true);
        }
        if (!fire_event(s, EV_ERROR, reported, nullptr, start, end)) return !exits::pending_q();
    }
    const uint8_t* input = s.bytes();
    s.error.near = near_text(input, s.input_end, start);
    s.error.line_text = line_text(s.line);
    if (is_path_kind(s.nesting_kind)) kind = ERR_BAD_CHAR;
    uint8_t found = start < s.input_end ? input[start] : 0;
    s.error.expected = (kind == ERR_MISSING || kind == ERR_MISSING_AT_END)
                           ? expected_delimiter(s.nesting_kind, found)
                           : 0;
    // Open containers are unwound by the scan's set-up, which drops this
    // scan's cells before the error goes on.
    raise_syntax_error(s.error, kind);
}

std::string escape_controls(const std::string& text) {
    std::string out;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        int32_t cp;
        const uint8_t* next = decode_utf8(p, end, &cp);
        if (!next) next = p + 1;
        else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            out += string::caret_escape(static_cast<uint32_t>(cp), false).text;
            p = next;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(next - p));
        p = next;
    }
    return out;
}

void raise_syntax_error(const syntax_error_t& e, int32_t kind) {
    // The message shows the near text with its control characters escaped,
    // so that a NUL or an escape sequence in the input never reaches the
    // terminal; near holds the text itself, which mold escapes alike.
    cell_t line{TYPE_unset, 0, 0, 0}, middle{TYPE_unset, 0, 0, 0}, shown{TYPE_unset, 0, 0, 0},
        near{TYPE_unset, 0, 0, 0};
    collector::root_cell keep_line(&line), keep_middle(&middle), keep_shown(&shown),
        keep_near(&near);
    auto load = [](const std::string& text, cell_t* out) {
        string::load_at(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int64_t>(text.size()), out, string::ENCODING_UTF8);
    };
    load(e.line_text, &line);
    load(escape_controls(e.near), &shown);
    load(e.near, &near);
    switch (kind) {
    case ERR_BAD_CHAR: fire_near(&near, err::bad_char, &line, &shown);
    case ERR_BAD_CONSTRUCT: fire_near(&near, err::malconstruct, &line, &shown);
    case ERR_MISSING:
    case ERR_MISSING_AT_END:
        char_::make_at(&middle, static_cast<uint8_t>(e.expected));
        fire_near(&near, err::missing, &line, &middle, &shown);
    default:
        datatype::make_at(&middle, kind > 0 && kind < TYPE_SLOTS ? kind : TYPE_error);
        fire_near(&near, err::invalid, &line, &middle, &shown);
    }
}

}  // namespace zuv::lexer
