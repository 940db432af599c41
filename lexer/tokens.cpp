// Listing the tokens of a text: a scan that follows structure and checks
// literals but builds no values, as a callback that accepts every event but
// the loading of a value would see it.
#include "lexer/lexer.h"

namespace zuv::lexer {
namespace {

bool list_only(state_t&, event_t event, int32_t, const cell_t*, int32_t, int32_t, void*) {
    return event != EV_SCAN && event != EV_LOAD;
}

}  // namespace

token_list_t tokens(const uint8_t* text, int32_t length) {
    token_list_t out;
    state_t s;
    s.fixed = text;
    s.input_end = length;
    s.hook = list_only;
    s.event_mask = EV_ALL;
    s.load = 0;
    s.log = &out.tokens;
    link_state(s);
    try {
        scan_tokens(s, false, false);
        if (s.kind != TYPE_error) {
            close_all(s);
            int32_t m = innermost_marker(s);
            if (s.start_state == S_PATH_ELEMENT && m >= 0) {
                // An unfinished path still reports its path kind.
                s.kind = marker_kind(value_at(m));
            } else if (m >= 0) {
                s.nesting_kind = marker_kind(value_at(m));
                throw_error(s, static_cast<int32_t>(value_at(m)->data3), s.input_end,
                            ERR_MISSING_AT_END);
            }
        }
    } catch (const lexer_stop&) {
        // a scan-only syntax error: s.kind is error!
    } catch (...) {
        unlink_state(s);
        throw;
    }
    unlink_state(s);
    out.kind = s.kind;
    out.error = s.error;
    return out;
}

}  // namespace zuv::lexer
