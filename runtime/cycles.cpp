#include "runtime/cycles.h"

#include <cstring>

#include "runtime/alloc.h"
#include "runtime/fire.h"

namespace zuv::cycles {

namespace {
node_t entries[MAX_DEPTH];
}  // namespace

node_t* base = entries;
node_t* cursor = entries;
node_t* end = entries + MAX_DEPTH;

void init() { cursor = base; }

void push(node_t node) {
    *cursor++ = node;
    if (cursor >= end) {
        cursor = base;
        fire(err::too_deep);
    }
}

bool find_q(node_t node) {
    for (node_t* p = base; p < cursor; p++)
        if (*p == node) return true;
    return false;
}

const char* marker(uint8_t type, bool mold) {
    if (!mold) return "...";
    switch (type) {
    case TYPE_block:
    case TYPE_hash: return "[...]";
    case TYPE_paren: return "(...)";
    case TYPE_map: return "#[...]";
    case TYPE_object: return "make object! [...]";
    default: return "...";
    }
}

namespace {

// Appends ASCII text at the tail of a string value's buffer, whatever its
// unit. Local until the string module's append is available (needs
// string::concatenate_literal).
void append_ascii(cell_t* out, const char* text, int32_t length) {
    series_buffer_t* s = alloc::buffer(out->data2);
    int32_t unit = static_cast<int32_t>(s->unit());
    uint8_t* p = alloc::alloc_tail_unit(s, length * unit);
    for (int32_t i = 0; i < length; i++) {
        auto c = static_cast<uint8_t>(text[i]);
        switch (unit) {
        case 1: p[i] = c; break;
        case 2: {
            uint16_t u = c;
            std::memcpy(p + 2 * i, &u, 2);
            break;
        }
        default: {
            uint32_t u = c;
            std::memcpy(p + 4 * i, &u, 4);
            break;
        }
        }
    }
}

}  // namespace

bool detect_q(const cell_t* value, cell_t* out, int32_t* remaining, bool mold) {
    if (!find_q(node_of(value))) return false;
    const char* text = marker(type_of(value), mold);
    auto length = static_cast<int32_t>(std::strlen(text));
    append_ascii(out, text, length);
    if (remaining) *remaining -= length;
    return true;
}

}  // namespace zuv::cycles
