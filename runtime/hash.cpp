#include "runtime/hash.h"

#include <cstring>

#include "datatypes/money.h"
#include "datatypes/symbol.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"

namespace zuv::hash {

uint32_t seed = 0;

namespace {

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t scramble(uint32_t k) {
    k *= 0xCC9E2D51u;
    k = rotl(k, 15);
    k *= 0x1B873593u;
    return k;
}

inline uint32_t round(uint32_t h, uint32_t k) {
    h ^= scramble(k);
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64u;
}

inline uint32_t finish(uint32_t h, uint32_t tail, size_t tail_length, size_t length) {
    if (tail_length) h ^= scramble(tail);
    h ^= static_cast<uint32_t>(length);
    return mix(h);
}

inline uint8_t lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Before the symbol table exists every symbol is its own canonical one.
inline uint32_t canonical_symbol(uint32_t id) {
    return symbol::ready_q() ? static_cast<uint32_t>(symbol::resolve(static_cast<int32_t>(id)))
                             : id;
}

}  // namespace

uint32_t murmur3_seeded(const void* bytes, size_t length, uint32_t h) {
    auto* p = static_cast<const uint8_t*>(bytes);
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, p + 4 * i, 4);
        h = round(h, k);
    }
    const uint8_t* t = p + 4 * blocks;
    uint32_t k = 0;
    switch (length & 3) {
    case 3: k ^= uint32_t{t[2]} << 16; [[fallthrough]];
    case 2: k ^= uint32_t{t[1]} << 8; [[fallthrough]];
    case 1: k ^= t[0];
    }
    return finish(h, k, length & 3, length);
}

uint32_t ascii_lower(const char* text, size_t length) {
    auto* p = reinterpret_cast<const uint8_t*>(text);
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; i++) {
        const uint8_t* b = p + 4 * i;
        uint32_t k = lower(b[0]) | uint32_t{lower(b[1])} << 8 | uint32_t{lower(b[2])} << 16 |
                     uint32_t{lower(b[3])} << 24;
        h = round(h, k);
    }
    const uint8_t* t = p + 4 * blocks;
    uint32_t k = 0;
    switch (length & 3) {
    case 3: k ^= uint32_t{lower(t[2])} << 16; [[fallthrough]];
    case 2: k ^= uint32_t{lower(t[1])} << 8; [[fallthrough]];
    case 1: k ^= lower(t[0]);
    }
    return finish(h, k, length & 3, length);
}

uint32_t string(const cell_t* value, bool case_sensitive) {
    series_buffer_t* s = alloc::buffer(value->data2);
    uint32_t unit = s->unit();
    int64_t head = static_cast<int64_t>(value->data1);
    int64_t tail = s->used() / static_cast<int32_t>(unit);
    int64_t count = tail - head;
    if (count < 0) count = 0;
    if (type_of(value) == TYPE_STRING_PART && static_cast<int32_t>(value->data3) >= 0 &&
        static_cast<int64_t>(value->data3) < count)
        count = value->data3;
    const uint8_t* p = s->head_ptr() + head * unit;
    uint32_t h = seed;
    for (int64_t i = 0; i < count; i++) {
        uint32_t cp;
        switch (unit) {
        case 1: cp = p[i]; break;
        case 2: {
            uint16_t u;
            std::memcpy(&u, p + 2 * i, 2);
            cp = u;
            break;
        }
        default: std::memcpy(&cp, p + 4 * i, 4); break;
        }
        if (!case_sensitive) cp = case_folding::change(cp, true);
        h = round(h, cp);
    }
    return finish(h, 0, 0, static_cast<size_t>(count) * 4);
}

uint32_t symbol(const cell_t* value) {
    series_buffer_t* s = alloc::buffer(value->data3);
    return ascii_lower(reinterpret_cast<const char*>(s->head_ptr()),
                       static_cast<size_t>(s->used()));
}

bool identity_keyed_q(const cell_t* value) {
    switch (type_of(value)) {
    case TYPE_block:
    case TYPE_paren:
    case TYPE_native:
    case TYPE_action:
    case TYPE_op:
    case TYPE_function:
    case TYPE_path:
    case TYPE_lit_path:
    case TYPE_set_path:
    case TYPE_get_path:
    case TYPE_object:
    case TYPE_error:
    case TYPE_hash:
    case TYPE_map:
    case TYPE_port:
    case TYPE_image:
    case TYPE_event: return true;
    default: return false;
    }
}

// The sign bit of a money! header.
constexpr uint32_t MONEY_SIGN = 1u << 14;

uint32_t value(const cell_t* v, bool case_sensitive) {
    switch (type_of(v)) {
    case TYPE_unset: return static_cast<uint32_t>(-2);
    case TYPE_none: return static_cast<uint32_t>(-1);
    case TYPE_datatype:
    case TYPE_logic:
    case TYPE_object:
    case TYPE_error:
    case TYPE_port: return mix(v->data1);
    case TYPE_char_:
    case TYPE_integer:
    case TYPE_map:
    case TYPE_handle:
    case TYPE_event: return mix(v->data2);
    case TYPE_native:
    case TYPE_action: return mix(v->data3);
    case TYPE_word:
    case TYPE_set_word:
    case TYPE_lit_word:
    case TYPE_get_word:
    case TYPE_refinement:
    case TYPE_issue: return mix(canonical_symbol(v->data2));
    case TYPE_symbol: return symbol(v);
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref:
    case TYPE_STRING_PART: return string(v, case_sensitive);
    case TYPE_block:
    case TYPE_paren:
    case TYPE_path:
    case TYPE_lit_path:
    case TYPE_set_path:
    case TYPE_get_path:
    case TYPE_hash:
    case TYPE_image:
    case TYPE_point2d: return murmur3(&v->data1, 8);
    case TYPE_float_:
    case TYPE_pair:
    case TYPE_percent:
    case TYPE_time: return murmur3(&v->data2, 8);
    case TYPE_op:
    case TYPE_function:
    case TYPE_triple:
    case TYPE_typeset:
    case TYPE_date:
    case TYPE_point3d: return murmur3(&v->data1, 12);
    case TYPE_tuple:
        // All twelve bytes: tuples that differ only by trailing zeros
        // (1.2.3 and 1.2.3.0) are equal, so they must hash alike; the
        // bytes past a tuple's length are always zero.
        return murmur3(&v->data1, 12);
    case TYPE_binary: {
        series_buffer_t* s = alloc::buffer(v->data2);
        int64_t head = v->data1;
        int64_t n = s->used() - head;
        return murmur3(s->head_ptr() + head, n > 0 ? static_cast<size_t>(n) : 0);
    }
    case TYPE_money: {
        // Only the sign among the header's flags is part of the value,
        // and only for a non-zero amount: -$0 equals $0.
        cell_t c = *v;
        c.header &= HEADER_TYPE_MASK | MONEY_SIGN;
        if (money::zero_q(&c)) c.header &= HEADER_TYPE_MASK;
        return murmur3(&c, sizeof c);
    }
    default: return 0;
    }
}

}  // namespace zuv::hash
