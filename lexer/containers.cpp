// Nesting of blocks, parens, maps, paths and points in the value buffer.
//
// Opening pushes a marker cell; the values read until the close pile up
// after it; closing turns the marker cell itself into the finished container
// and drops the values above it.
#include "lexer/lexer.h"
#include "lexer/loaders.h"

namespace zuv::lexer {
namespace {

bool is_path_kind(int32_t kind) {
    return kind == TYPE_path || kind == TYPE_lit_path || kind == TYPE_set_path ||
           kind == TYPE_get_path;
}

bool is_point_kind(int32_t kind) { return kind == TYPE_point2d || kind == TYPE_point3d; }

// Whether a container opened as `open` may be closed as `close`, and the
// kind of the result.
int32_t accepted_close(int32_t open, int32_t close) {
    if (open == close) return close;
    if (open == TYPE_map && close == TYPE_block) return TYPE_map;
    if (close == TYPE_set_path && is_path_kind(open)) return TYPE_set_path;
    if (is_point_kind(open) && close == TYPE_paren) return open;
    return 0;
}

}  // namespace

void open_container(state_t& s, int32_t kind, int32_t start, int32_t end) {
    int32_t m = innermost_marker(s);
    if (m >= 0 && is_point_kind(marker_kind(value_at(m)))) throw_error(s, start, end, TYPE_point2d);
    if (s.has_callback() && !fire_event(s, EV_OPEN, kind, nullptr, start, end)) return;
    push_marker(s, kind, start);
    s.start_state = S_START;
}

void push_marker(state_t& s, int32_t kind, int32_t start) {
    int32_t index = push_value(s);
    cell_t* marker = value_at(index);
    marker->data1 = static_cast<uint32_t>(index - s.level_head);
    marker->data2 = static_cast<uint32_t>(kind);
    marker->data3 = static_cast<uint32_t>(start);
    marker->header = (marker->header & ~HEADER_TYPE_MASK) | MARKER_TYPE;
    s.level_head = index + 1;
}

void close_container(state_t& s, int32_t start, int32_t end, int32_t kind, bool silent) {
    int32_t m = innermost_marker(s);
    int32_t open = m >= 0 ? marker_kind(value_at(m)) : 0;
    if (s.has_callback() && !silent &&
        !fire_event(s, EV_CLOSE, open ? open : kind, nullptr, start, end)) {
        s.start_state = S_START;
        return;
    }
    if (m < 0) {
        s.nesting_kind = kind;
        throw_error(s, start, end, ERR_MISSING);
    }
    int32_t result = accepted_close(open, kind);
    if (!result) {
        s.nesting_kind = open;
        throw_error(s, static_cast<int32_t>(value_at(m)->data3), end, ERR_MISSING);
    }
    if (is_point_kind(result))
        result = marker_commas(value_at(m)) >= 2 ? TYPE_point3d : TYPE_point2d;
    cell_t* marker = value_at(m);
    // A path has no closing token of its own; the listing shows it whole.
    if (s.log && is_path_kind(result))
        s.log->push_back(
            {F_PATH_OPEN, result, static_cast<int32_t>(marker->data3), s.position, 0, s.line});
    int32_t level_head = m - static_cast<int32_t>(marker->data1);
    if (s.load) {
        // The values after the marker become a new series of the result
        // kind written over the marker.
        finish_container(s, m, result, start, end);
    } else {
        // Scan-only: an empty placeholder of that kind.
        marker->data1 = marker->data2 = marker->data3 = 0;
        marker->header = (marker->header & FLAG_NEW_LINE) | static_cast<uint32_t>(result);
    }
    s.level_head = level_head;
    s.tail = m + 1;
    s.kind = result;
    int32_t outer = innermost_marker(s);
    s.start_state =
        outer >= 0 && is_path_kind(marker_kind(value_at(outer))) ? S_PATH_ELEMENT : S_START;
}

void close_all(state_t& s) {
    for (int32_t m = innermost_marker(s); m >= 0 && is_path_kind(marker_kind(value_at(m)));
         m = innermost_marker(s))
        close_container(s, s.position, s.position, marker_kind(value_at(m)), true);
}

void close_path_element(state_t& s) {
    const uint8_t* input = s.bytes();
    int32_t at = s.position;
    int32_t m = innermost_marker(s);
    int32_t open = m >= 0 ? marker_kind(value_at(m)) : TYPE_path;
    if (at >= s.input_end) {
        close_container(s, at, at, open, false);
        return;
    }
    uint8_t byte = input[at];
    if (ends_path(byte)) {
        if (byte == ':') {
            if (at + 1 < s.input_end && input[at + 1] == '/') throw_error(s, at, at + 1, TYPE_path);
            s.position = at + 1;
            close_container(s, at, at + 1, TYPE_set_path, false);
        } else {
            close_container(s, at, at, open, false);
        }
        return;
    }
    if (at + 1 >= s.input_end) throw_error(s, at, at + 1, TYPE_path);
    s.position = at + 1;  // the separator
    s.start_state = S_PATH_ELEMENT;
}

}  // namespace zuv::lexer
