// String form and mold: plain text, and the source form that the lexer reads
// back as the same string (double quotes or braces, caret escapes, braces
// kept balanced).
#include <algorithm>
#include <cstring>

#include "datatypes/string.h"
#include "runtime/unicode.h"

namespace zuv::string {
namespace {

// The letter after a caret for code points 0-94; 0 when there is none.
constexpr char ESCAPES[95] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-',  '/', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R',
    'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', '^', '_', 0,   0,   '"', 0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,   0,   0,   0,   0,   0,   '^',
};

// Whether the text must go between braces: three or more line feeds, any
// double quote, or 50 characters or more from the head.
constexpr int32_t BRACE_LENGTH = 50;
constexpr int32_t BRACE_LINES = 3;

// Printable ASCII that needs no caret and no brace balancing.
inline bool plain_q(uint8_t c) {
    return c >= 0x20 && c <= 0x7E && c != '^' && c != '{' && c != '}' && c != '"';
}

}  // namespace

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    int32_t length = rs_length_q(value);
    concatenate(buffer, value, part ? limit : -1, 0, true, MODE_APPEND);
    return limit - length;
}

caret_text caret_escape(uint32_t c, bool all) {
    caret_text e{};
    char* out = e.text;
    if (c == 30 || (c >= 128 && c <= 159) || (all && c > 127) || unicode::surrogate_q(c)) {
        *out++ = '^';
        *out++ = '(';
        hex_text h = to_hex(static_cast<int32_t>(c), true);
        for (const char* p = h.text; *p; p++) *out++ = *p;
        *out = ')';
    } else if (c < 95 && ESCAPES[c]) {
        e.text[0] = '^';
        e.text[1] = ESCAPES[c];
    } else if (c == 127) {
        e.text[0] = '^';
        e.text[1] = '~';
    }
    return e;
}

void append_escaped_char(cell_t* buffer, uint32_t c, int mode, bool all) {
    series_buffer_t* s = buffer_of(buffer);
    caret_text e = caret_escape(c, all);
    // The parenthesised form is written in every mode, a caret letter only
    // when asked for.
    if (e.text[0] != 0 && (e.text[1] == '(' || mode == ESCAPE_CARET)) {
        for (const char* p = e.text; *p; p++) s = append_char(s, static_cast<uint8_t>(*p));
    } else {
        append_char(s, c);
    }
}

void count_quotes_lines(const uint8_t* start, const uint8_t* end, uint32_t unit, int32_t* quotes,
                        int32_t* lines) {
    for (; start < end; start += unit) {
        uint32_t c = get_char(start, unit);
        if (c == '"') ++*quotes;
        else if (c == '\n') ++*lines;
    }
}

bool brace_closes_q(const uint8_t* address, const uint8_t* end, uint32_t unit) {
    int32_t depth = 0;
    for (; address < end; address += unit) {
        uint32_t c = get_char(address, unit);
        if (c == '{') {
            depth++;
        } else if (c == '}') {
            if (depth == 1) return true;
            depth--;
        }
    }
    return false;
}

namespace {

// The index (from start) of the first "{" that no "}" closes before end, or
// the count of characters when every one is closed: brace_closes_q's answer
// for every brace at once. Asking it brace by brace costs time quadratic in
// the nesting.
int32_t first_unclosed_brace(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    int32_t depth = 0;
    int32_t opened = 0;  // the brace that took the depth from 0 to 1
    int32_t i = 0;
    for (const uint8_t* p = start; p < end; p += unit, i++) {
        uint32_t c = get_char(p, unit);
        if (c == '{') {
            if (depth++ == 0) opened = i;
        } else if (c == '}' && depth > 0) {
            depth--;
        }
    }
    return depth > 0 ? opened : i;
}

}  // namespace

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    // The value's characters are read by index, not by address: appending to
    // the output may move any buffer, the value's own included.
    int32_t length = rs_length_q(value);
    int32_t region = length;
    if (how.part && how.limit >= 0) region = std::min(region, how.limit);
    uint32_t head = value->data1;

    int32_t quotes = 0, lines = 0;
    int32_t unclosed = region;  // braces before it are balanced
    {
        series_buffer_t* s = buffer_of(value);
        const uint8_t* start = rs_head(value);
        const uint8_t* end = start + static_cast<size_t>(region) * s->unit();
        count_quotes_lines(start, end, s->unit(), &quotes, &lines);
        if (lines >= BRACE_LINES || quotes > 0 || length >= BRACE_LENGTH)
            unclosed = first_unclosed_brace(start, end, s->unit());
    }
    bool braces = lines >= BRACE_LINES || quotes > 0 || length >= BRACE_LENGTH;

    series_buffer_t* out = append_char(buffer_of(buffer), braces ? '{' : '"');
    int32_t depth = 0;
    bool balance = true;
    for (int32_t i = 0; i < region; i++) {
        // A run of characters that mold as themselves in either notation is
        // copied in one piece (byte texts only).
        if (buffer_of(value)->unit() == 1 && buffer_of(buffer)->unit() == 1) {
            const uint8_t* p = buffer_of(value)->head_ptr() + head + i;
            int32_t n = 0;
            while (i + n < region && plain_q(p[n])) n++;
            if (n > 0) {
                uint8_t* at = alloc::alloc_tail_unit(buffer_of(buffer), n);
                std::memcpy(at, buffer_of(value)->head_ptr() + head + i, static_cast<size_t>(n));
                i += n - 1;
                continue;
            }
        }
        uint32_t c = rs_abs_at(value, static_cast<int32_t>(head) + i);
        if (!braces) {
            append_escaped_char(buffer, c, ESCAPE_CARET, how.all);
            continue;
        }
        switch (c) {
        case '{':
            // Once a brace is left open, every later one is escaped too.
            if (balance) balance = i < unclosed;
            if (balance) {
                depth++;
            } else {
                out = append_char(buffer_of(buffer), '^');
            }
            out = append_char(buffer_of(buffer), '{');
            break;
        case '}':
            if (depth > 0) {
                depth--;
            } else {
                out = append_char(buffer_of(buffer), '^');
            }
            out = append_char(buffer_of(buffer), '}');
            break;
        case '"': out = append_char(buffer_of(buffer), '"'); break;
        case '^':
            out = append_char(buffer_of(buffer), '^');
            out = append_char(buffer_of(buffer), '^');
            break;
        default: append_escaped_char(buffer, c, ESCAPE_CARET, how.all); break;
        }
    }
    (void)out;
    append_char(buffer_of(buffer), braces ? '}' : '"');
    return how.limit - region - 2;
}

}  // namespace zuv::string
