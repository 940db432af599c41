// The token loop: runs the state machine from the current position to the
// end of one token, then hands the token to its handler pair, until the
// input is exhausted, a stop is raised, or (one-value and prescan modes) the
// first value is complete.
#include "lexer/lexer.h"

namespace zuv::lexer {
namespace {

// Where a word token begins once the blank code points at its start are
// skipped; end when it holds nothing else.
int32_t skip_word_blanks(state_t& s, int32_t start, int32_t end) {
    const uint8_t* input = s.bytes();
    int32_t p = start;
    while (p < end && input[p] >= 0x80) {
        int32_t cp;
        const uint8_t* next = decode_utf8(input + p, input + end, &cp);
        if (!next) throw_error(s, start, end, TYPE_word);
        if (!is_blank_code_point(cp)) break;
        p = static_cast<int32_t>(next - input);
    }
    return p;
}

bool one_value_done(const state_t& s) {
    int32_t count = s.tail - s.buffer_head;
    return count == 0 || (count == 1 && !is_marker(s.buffer_head));
}

}  // namespace

void scan_tokens(state_t& s, bool one_value, bool prescan) {
    for (;;) {
        uint32_t flags = 0;
        int32_t state = s.start_state;
        int32_t token_start_state = state;
        int32_t line_before = s.line;
        int32_t begin = s.position;
        int32_t skip = 0;
        int32_t previous = state;
        {
            // No handler runs inside this block, so the input address holds.
            const uint8_t* input = s.bytes();
            int32_t p = begin;
            int32_t end = s.input_end;
            int32_t line = s.line;
            for (; p < end; ++p) {
                uint32_t cls = byte_classes[input[p]];
                flags |= cls;
                previous = state;
                state = matrix[state][cls & CLASS_MASK];
                skip += skip_table[state];
                if (state > 65) break;
                line += line_table[cls & CLASS_MASK];
            }
            if (p >= end) {
                previous = state;
                state = matrix[state][C_END];
            }
            s.position = s.token_end = p;
            s.line = line;
        }
        int32_t start = begin + skip;
        int32_t end = s.position;
        s.token_start = start;
        s.token_lines = s.line - line_before;
        s.previous_state = previous;
        s.kind = kinds[state];
        s.turn_begin = token_start_state == S_START ? begin : -1;
        s.turn_line = line_before;
        int32_t index = state - FIRST_FINAL;
        const handler_pair& h = handlers[index];

        try {
            if (prescan && state <= F_STRING && h.scanner) h.scanner(s, start, end, flags, 0);

            if (state == F_WORD) {
                start = skip_word_blanks(s, start, end);
                if (start == end) {
                    if (s.position < s.input_end) continue;
                    state = F_EOF;
                    index = state - FIRST_FINAL;
                    s.kind = 0;
                    handlers[index].scanner(s, start, end, flags, s.load);
                    break;
                }
                s.token_start = start;
            }

            // Scan-only modes validate tokens too: the loaders are what
            // consume a token's closing delimiter (a point's ")", a char's
            // quote), so skipping them would misread what follows.
            bool go_on = true;
            if (s.has_callback()) {
                if (s.start_state == S_BRACE_STRING) go_on = true;
                else
                    go_on = fire_event(s, EV_PRESCAN, s.kind ? s.kind : -(state - 65), nullptr,
                                       start, end);
            }

            bool keep = false;
            if (go_on) {
                if (state < F_STRING) {
                    if (!prescan && h.scanner) h.scanner(s, start, end, flags, s.load);
                } else {
                    bool loader_only = !h.scanner;
                    bool skip_check =
                        s.load && loader_only && !(s.has_callback() && (s.event_mask & EV_SCAN));
                    if (!(prescan && state == F_STRING) && !skip_check) {
                        if (h.scanner) h.scanner(s, start, end, flags, 0);
                        else if (h.loader) h.loader(s, start, end, flags, 0);
                    }
                    keep = s.load != 0;
                    if (s.has_callback())
                        keep = fire_event(s, EV_SCAN, s.kind, nullptr, s.token_start, s.position);
                }
            }

            if (keep && h.loader) {
                int32_t before = s.tail;
                h.loader(s, start, end, flags, 1);
                if (s.has_callback() && s.tail > before &&
                    !fire_event(s, EV_LOAD, s.kind, value_at(s.tail - 1), s.token_start,
                                s.position))
                    s.tail = before;
            }

            if (s.log && state != F_BRACE_OPEN && s.start_state != S_BRACE_STRING &&
                s.start_state != S_POINT)
                s.log->push_back({state, s.kind, s.token_start,
                                  state == F_PATH_OPEN ? end : s.position,
                                  state == F_BRACE_CLOSE ? s.brace_flags | flags : flags, s.line});

            // After a path element, or after a paren or block closed inside a
            // path, the next byte says whether the path goes on.
            if (s.start_state == S_PATH_ELEMENT && state != F_PATH_OPEN && state != F_ERROR &&
                (token_start_state == S_PATH_ELEMENT || state == F_PAREN_CLOSE ||
                 state == F_BLOCK_CLOSE))
                close_path_element(s);
        } catch (const lexer_stop& stop) {
            if (s.log)
                s.log->push_back({state, TYPE_error, s.token_start, s.position, flags, s.line});
            if (!stop.resume) return;
            s.start_state = S_START;
            if (s.position >= s.input_end) return;
            continue;
        }

        if ((one_value || prescan) && s.kind != 0 && s.start_state != S_PATH_ELEMENT &&
            s.start_state != S_BRACE_STRING && state != F_PATH_OPEN && one_value_done(s))
            break;

        // A token that consumed nothing and left the start state as it was
        // would be read again forever: the byte there cannot be read.
        if (s.position == begin && s.start_state == token_start_state && state != F_EOF)
            throw_error(s, begin, begin + 1, ERR_BAD_CHAR);

        s.previous_kind = s.kind;
        if (s.position >= s.input_end) {
            if (s.start_state == S_BRACE_STRING && s.kind == 0)
                throw_error(s, s.brace_start, s.input_end, TYPE_string);
            break;
        }
    }
}

}  // namespace zuv::lexer
