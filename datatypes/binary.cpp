// binary!: makers, raw byte routines, conversion, the modifying actions,
// comparison, bitwise actions, form and mold, and the base-N front ends.
//
// Byte addresses never survive an allocation here: a routine that grows a
// buffer re-reads it through the node, and the bytes a value contributes to
// insert or change are gathered (into C++ memory, or re-read by offset for a
// binary! source) before the target is touched.
#include "datatypes/binary.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/base_n.h"
#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/compiled.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::binary {
namespace {

using series::change_word;
using bytes_t = std::vector<uint8_t>;

constexpr char HEX[] = "0123456789ABCDEF";

// Above this many bytes a mold breaks its lines, 32 bytes to a line.
constexpr int32_t FLAT_LIMIT = 30;
constexpr int32_t LINE_BYTES = 32;

inline bool block_like_q(uint8_t t) { return t == TYPE_block || t == TYPE_paren || t == TYPE_hash; }

[[noreturn]] void fire_with_type(err id, int32_t type, const cell_t* value) {
    cell_t* t = stack::push_slot();
    *t = cell_t{TYPE_datatype, static_cast<uint32_t>(type), 0, 0};
    fire(id, t, value);
}

inline void set_none(cell_t* c) { *c = cell_t{TYPE_none, 0, 0, 0}; }

inline int32_t clamped_head(const cell_t* v) {
    return std::clamp(static_cast<int32_t>(v->data1), 0, buffer_of(v)->used());
}

// A new node of count bytes holding a copy of them (count 0: an empty
// 16-byte buffer).
node_t new_node(const uint8_t* bytes, int64_t count) {
    if (count > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    node_t node = alloc::alloc_bytes(count);
    series_buffer_t* s = alloc::buffer(node);
    if (count > 0) std::memcpy(s->data(), bytes, static_cast<size_t>(count));
    s->tail = s->head + static_cast<int32_t>(count);
    return node;
}

inline void set_binary(cell_t* c, node_t node) {
    cell::begin(c);
    c->data1 = 0;
    c->data2 = node;
    c->data3 = 0;
    cell::set_type(c, TYPE_binary);
}

// Makes room for total more bytes at the tail (a full buffer doubles, plus
// the need); returns the current buffer.
series_buffer_t* ensure_room(cell_t* value, int64_t total) {
    series_buffer_t* s = buffer_of(value);
    int64_t need = static_cast<int64_t>(s->tail) + total;
    if (need > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    if (need > s->size) {
        int64_t grown =
            std::min<int64_t>(2 * static_cast<int64_t>(s->size) + total, alloc::SERIES_LIMIT);
        s = alloc::expand_series_copy(s, grown);
    }
    return s;
}

// --- the bytes a value contributes to insert, append, change and to -----------------

void text_bytes(const cell_t* text, bytes_t& out) {
    series_buffer_t* s = string::buffer_of(text);
    int32_t head = std::clamp(static_cast<int32_t>(text->data1), 0,
                              static_cast<int32_t>(s->used() / s->unit()));
    const uint8_t* start = s->head_ptr() + static_cast<size_t>(head) * s->unit();
    int64_t n = unicode::utf8_byte_count(start, s->tail_ptr(), s->unit());
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    unicode::to_utf8_buffer(text, out.data() + at, -1, true);
    out.resize(at + static_cast<size_t>(n));
}

void tuple_bytes(const cell_t* t, bytes_t& out) {
    int32_t n = static_cast<int32_t>((t->header >> 19) & 0xF);
    uint32_t words[3] = {t->data1, t->data2, t->data3};
    for (int32_t i = 0; i < n && i < 12; i++)
        out.push_back(static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4))));
}

// Appends the bytes of v to out. change_mode: an unsupported value gives the
// UTF-8 of its formed text instead of raising bad-to-arg.
void collect(cell_t* v, bytes_t& out, bool change_mode) {
    uint8_t t = type_of(v);
    switch (t) {
    case TYPE_char_: {
        uint8_t utf8[4];
        int n = unicode::cp_to_utf8(v->data2, utf8);
        out.insert(out.end(), utf8, utf8 + n);
        return;
    }
    case TYPE_integer: {
        int32_t i = static_cast<int32_t>(v->data2);
        if (i > 255 || i < -128) fire(err::invalid_arg, v);
        out.push_back(static_cast<uint8_t>(i));
        return;
    }
    case TYPE_binary: {
        int32_t n = rs_length_q(v);
        const uint8_t* p = rs_head(v);
        out.insert(out.end(), p, p + n);
        return;
    }
    case TYPE_tuple: tuple_bytes(v, out); return;
    default: break;
    }
    if (block_like_q(t)) {
        cycles::guard walk(v->data2);  // a block holding itself ends in too-deep
        cell_t* item = stack::push_slot();  // rooted while its bytes are gathered
        cell::begin(item);
        for (int32_t i = std::max<int32_t>(0, static_cast<int32_t>(v->data1));; i++) {
            series_buffer_t* b = alloc::buffer(v->data2);
            if (i >= b->used() / static_cast<int32_t>(sizeof(cell_t))) break;
            *item = b->head_cell()[i];
            collect(item, out, change_mode);
        }
        stack::pop(1);
        return;
    }
    if (series::any_string_q(t)) {
        text_bytes(v, out);
        return;
    }
    if (!change_mode) fire_with_type(err::bad_to_arg, TYPE_binary, v);
    cell_t* text = stack::push_slot();
    string::make_at(text, 16);
    actions::form(v, text, false, -1);
    text_bytes(text, out);
    stack::pop(1);
}

// --- raw writes ----------------------------------------------------------------------

// Opens a gap of total bytes at absolute byte index at (from the buffer's
// first byte); returns the buffer.
series_buffer_t* open_gap(cell_t* value, int32_t at, int64_t total) {
    series_buffer_t* s = ensure_room(value, total);
    uint8_t* p = s->head_ptr() + at;
    std::memmove(p + total, p, static_cast<size_t>(s->used() - at));
    s->tail += static_cast<int32_t>(total);
    return s;
}

// Writes k bytes from src at absolute index at and repeats them dup times.
// src must not lie in the target's buffer.
void write_repeated(cell_t* value, int32_t at, const uint8_t* src, int32_t k, int32_t dup) {
    series_buffer_t* s = buffer_of(value);
    uint8_t* p = s->head_ptr() + at;
    std::memcpy(p, src, static_cast<size_t>(k));
    alloc::fill_pattern(p, k, dup);
}

// --- compare -------------------------------------------------------------------------

inline bool equality_q(int32_t op) {
    return op == actions::cmp::EQUAL || op == actions::cmp::NOT_EQUAL ||
           op == actions::cmp::STRICT_EQUAL || op == actions::cmp::FIND ||
           op == actions::cmp::FIND_LIT || op == actions::cmp::FIND_LIT_NOCASE;
}

// --- bitwise ---------------------------------------------------------------------------

enum class bit_op { and_, or_, xor_ };

void bitwise(bit_op op) {
    cell_t* a = stack::arguments;
    cell_t* b = a + 1;
    if (type_of(b) != TYPE_binary) fire(err::invalid_arg, b);
    int32_t la = rs_length_q(a), lb = rs_length_q(b);
    int32_t n = std::max(la, lb), common = std::min(la, lb);
    node_t node = alloc::alloc_bytes(n);
    series_buffer_t* r = alloc::buffer(node);
    uint8_t* out = r->data();
    const uint8_t* p = rs_head(a);
    const uint8_t* q = rs_head(b);
    for (int32_t i = 0; i < common; i++) {
        switch (op) {
        case bit_op::and_: out[i] = p[i] & q[i]; break;
        case bit_op::or_: out[i] = p[i] | q[i]; break;
        case bit_op::xor_: out[i] = p[i] ^ q[i]; break;
        }
    }
    if (n > common) {
        if (op == bit_op::and_) std::memset(out + common, 0, static_cast<size_t>(n - common));
        else std::memcpy(out + common, (la > lb ? p : q) + common, static_cast<size_t>(n - common));
    }
    r->tail = r->head + n;
    set_binary(a, node);
}

// --- trim --------------------------------------------------------------------------------

// The set of byte values that trim/with removes.
void with_set(cell_t* with, bool set[256]) {
    std::fill(set, set + 256, false);
    uint8_t t = type_of(with);
    if (t == TYPE_char_ || t == TYPE_integer) {
        uint32_t c = with->data2;
        if (c < 256) set[c] = true;
        return;
    }
    if (t == TYPE_binary) {
        const uint8_t* p = rs_head(with);
        for (int32_t i = 0, n = rs_length_q(with); i < n; i++) set[p[i]] = true;
        return;
    }
    if (series::any_string_q(t)) {
        series_buffer_t* s = string::buffer_of(with);
        uint32_t unit = s->unit();
        int32_t n = string::rs_length_q(with);
        const uint8_t* p = string::rs_head(with);
        for (int32_t i = 0; i < n; i++) {
            uint32_t c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
            if (c < 256) set[c] = true;
        }
        return;
    }
    fire(err::invalid_arg, with);
}

// --- base-N ----------------------------------------------------------------------------------

using decoder_t = std::optional<base_n::bytes_t> (*)(const void*, size_t, uint32_t);

bool decode_into(decoder_t decoder, const void* text, int32_t length, uint32_t unit, cell_t* out) {
    std::optional<base_n::bytes_t> bytes =
        decoder(text, length < 0 ? 0 : static_cast<size_t>(length), unit);
    if (!bytes) return false;
    load_at(bytes->data(), static_cast<int64_t>(bytes->size()), out);
    return true;
}

[[noreturn]] void bad_base(int32_t base) {
    cell_t* b = stack::push_slot();
    *b = cell_t{TYPE_integer, 0, static_cast<uint32_t>(base), 0};
    fire(err::invalid_arg, b);
}

}  // namespace

// --- value makers -----------------------------------------------------------------------

void make_at(cell_t* cell, int64_t capacity) {
    if (capacity < 0) capacity = 0;
    if (capacity > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    node_t node = alloc::alloc_bytes(capacity);
    set_binary(cell, node);
}

cell_t* load_at(const uint8_t* bytes, int64_t count, cell_t* cell) {
    node_t node = new_node(bytes, count);
    if (cell == nullptr) cell = stack::push_slot();
    set_binary(cell, node);
    return cell;
}

cell_t* load_in(const uint8_t* bytes, int64_t count, cell_t* block) {
    node_t node = new_node(bytes, count);
    collector::root_node keep(node);
    cell_t* c = alloc::alloc_tail_value(block);
    set_binary(c, node);
    return c;
}

cell_t* push(const cell_t* value) {
    cell_t* c = stack::push(value);
    cell::set_type(c, TYPE_binary);
    return c;
}

// --- raw operations ----------------------------------------------------------------------

bool rs_skip(cell_t* value, int32_t n) {
    int64_t h = static_cast<int64_t>(static_cast<int32_t>(value->data1)) + n;
    int32_t used = buffer_of(value)->used();
    if (h >= 0 && h <= used) value->data1 = static_cast<uint32_t>(h);
    return rs_tail_q(value);
}

void rs_set_tail(cell_t* value) {
    series_buffer_t* s = buffer_of(value);
    s->tail = s->head + clamped_head(value);
}

void rs_append(cell_t* value, const uint8_t* data, int32_t n) {
    if (n <= 0) return;
    series_buffer_t* s = ensure_room(value, n);
    std::memcpy(s->tail_ptr(), data, static_cast<size_t>(n));
    s->tail += n;
}

void rs_insert(cell_t* value, int32_t offset, const uint8_t* data, int32_t n) {
    if (n <= 0) return;
    int32_t at = std::min(clamped_head(value) + std::max(offset, 0), buffer_of(value)->used());
    series_buffer_t* s = open_gap(value, at, n);
    std::memcpy(s->head_ptr() + at, data, static_cast<size_t>(n));
}

void rs_overwrite(cell_t* value, int32_t offset, const uint8_t* data, int32_t n) {
    if (n <= 0) return;
    int32_t at = std::min(clamped_head(value) + std::max(offset, 0), buffer_of(value)->used());
    series_buffer_t* s = buffer_of(value);
    int64_t end = static_cast<int64_t>(at) + n;
    if (end > s->used()) s = ensure_room(value, end - s->used());
    std::memcpy(s->head_ptr() + at, data, static_cast<size_t>(n));
    if (end > s->used()) s->tail = s->head + static_cast<int32_t>(end);
}

void append_int32_be(cell_t* value, int32_t n) {
    uint32_t u = static_cast<uint32_t>(n);
    uint8_t b[4] = {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                    static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
    rs_append(value, b, 4);
}

bool match_bitset_q(const cell_t* value, const cell_t* bitset) {
    if (rs_tail_q(value)) return false;
    uint32_t c = *rs_head(value);
    return bitset::member_q(bitset, c);
}

bool match_value_q(cell_t* value, cell_t* other, int32_t op) {
    uint8_t t = type_of(other);
    if (t == TYPE_char_) return !rs_tail_q(value) && *rs_head(value) == other->data2;
    if (t == TYPE_binary) return compare_bytes(value, other, op, true) == 0;
    if (!series::any_string_q(t)) return false;
    // A text matches the bytes of its UTF-8 form, as to binary! gives them.
    bytes_t text;
    text_bytes(other, text);
    int32_t n = static_cast<int32_t>(text.size());
    if (rs_length_q(value) < n) return false;
    return n == 0 || std::memcmp(rs_head(value), text.data(), static_cast<size_t>(n)) == 0;
}

void set_value(uint8_t* address, const cell_t* value) {
    uint8_t t = type_of(value);
    if (t != TYPE_integer && t != TYPE_char_) fire(err::invalid_arg, value);
    int32_t i = static_cast<int32_t>(value->data2);
    // A byte holds 0-255 (-128..-1 as their two's complement, as insert
    // takes them); anything wider would be stored cut and silently wrong.
    if (t == TYPE_char_ ? value->data2 > 255 : (i > 255 || i < -128)) fire(err::invalid_arg, value);
    *address = static_cast<uint8_t>(i);
}

int32_t compare_bytes(const cell_t* value1, const cell_t* value2, int32_t op, bool match) {
    int32_t la = rs_length_q(value1), lb = rs_length_q(value2);
    int32_t n;
    if (match) {
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && equality_q(op)) return 1;
        n = std::min(la, lb);
    }
    if (n > 0) {
        int r = std::memcmp(rs_head(value1), rs_head(value2), static_cast<size_t>(n));
        if (r != 0) return r < 0 ? -1 : 1;
    }
    if (match || la == lb) return 0;
    return la < lb ? -1 : 1;
}

// --- base-N codecs -----------------------------------------------------------------------------

char* encode_2(const uint8_t* data, int32_t n, char* out) {
    return base_n::encode_2(data, static_cast<size_t>(n), out);
}
char* encode_16(const uint8_t* data, int32_t n, char* out) {
    return base_n::encode_16(data, static_cast<size_t>(n), out);
}
char* encode_58(const uint8_t* data, int32_t n, char* out) {
    return base_n::encode_58(data, static_cast<size_t>(n), out);
}
char* encode_64(const uint8_t* data, int32_t n, char* out) {
    return base_n::encode_64(data, static_cast<size_t>(n), out);
}

bool decode_2(const void* text, int32_t length, uint32_t unit, cell_t* out) {
    return decode_into(base_n::decode_2, text, length, unit, out);
}
bool decode_16(const void* text, int32_t length, uint32_t unit, cell_t* out) {
    return decode_into(base_n::decode_16, text, length, unit, out);
}
bool decode_58(const void* text, int32_t length, uint32_t unit, cell_t* out) {
    return decode_into(base_n::decode_58, text, length, unit, out);
}
bool decode_64(const void* text, int32_t length, uint32_t unit, cell_t* out) {
    return decode_into(base_n::decode_64, text, length, unit, out);
}

void enbase(cell_t* value, int32_t base, cell_t* out) {
    if (base != 2 && base != 16 && base != 58 && base != 64) bad_base(base);
    uint8_t t = type_of(value);
    bytes_t utf8;
    bool text = t != TYPE_binary;
    if (text) {
        if (!series::any_string_q(t)) fire(err::invalid_arg, value);
        text_bytes(value, utf8);
    }
    size_t n = text ? utf8.size() : static_cast<size_t>(rs_length_q(value));
    size_t room = base == 2    ? base_n::encoded_size_2(n)
                  : base == 16 ? base_n::encoded_size_16(n)
                  : base == 58 ? base_n::encoded_size_58(n)
                               : base_n::encoded_size_64(n);
    if (room > alloc::SERIES_LIMIT) fire(err::no_memory);
    // The text is encoded straight into the new string's buffer: allocate
    // first (value stays rooted where it is), then read the bytes.
    node_t node = alloc::alloc_bytes(static_cast<int64_t>(room));
    collector::root_node keep(node);
    series_buffer_t* s = alloc::buffer(node);
    const uint8_t* data = text ? utf8.data() : rs_head(value);
    char* start = reinterpret_cast<char*>(s->data());
    char* end = base == 2    ? base_n::encode_2(data, n, start)
                : base == 16 ? base_n::encode_16(data, n, start)
                : base == 58 ? base_n::encode_58(data, n, start)
                             : base_n::encode_64(data, n, start);
    s->tail = s->head + static_cast<int32_t>(end - start);
    cell::begin(out);
    out->data1 = 0;
    out->data2 = node;
    out->data3 = 0;
    cell::set_type(out, TYPE_string);
}

void debase(cell_t* value, int32_t base, cell_t* out) {
    decoder_t decoder;
    switch (base) {
    case 2: decoder = base_n::decode_2; break;
    case 16: decoder = base_n::decode_16; break;
    case 58: decoder = base_n::decode_58; break;
    case 64: decoder = base_n::decode_64; break;
    default: bad_base(base);
    }
    uint8_t t = type_of(value);
    if (!series::any_string_q(t) && t != TYPE_binary) fire(err::invalid_arg, value);
    int32_t length = t == TYPE_binary ? rs_length_q(value) : string::rs_length_q(value);
    if (length < 0) length = 0;
    auto text = [&] { return t == TYPE_binary ? rs_head(value) : string::rs_head(value); };
    uint32_t unit = t == TYPE_binary ? 1 : alloc::buffer(value->data2)->unit();
    if (base != 64) {
        if (!decode_into(decoder, text(), length, unit, out)) set_none(out);
        return;
    }
    // Base 64, the common and large case, is decoded straight into the new
    // binary: a copy through a vector would cost as much as the decoding.
    size_t room = base_n::decoded_size_64(static_cast<size_t>(length));
    if (room > alloc::SERIES_LIMIT) fire(err::no_memory);
    node_t node = alloc::alloc_bytes(static_cast<int64_t>(room));
    collector::root_node keep(node);
    series_buffer_t* s = alloc::buffer(node);
    std::optional<size_t> n =
        base_n::decode_64(text(), static_cast<size_t>(length), unit, s->data());
    if (!n) {
        set_none(out);
        return;
    }
    s->tail = s->head + static_cast<int32_t>(*n);
    cell::begin(out);
    out->data1 = 0;
    out->data2 = node;
    out->data3 = 0;
    cell::set_type(out, TYPE_binary);
}

// --- to ----------------------------------------------------------------------------------------

cell_t* to(cell_t*, cell_t* spec, int32_t) {
    uint8_t st = type_of(spec);
    bytes_t bytes;
    cell_t* out = stack::push_slot();
    cell::begin(out);
    switch (st) {
    case TYPE_integer: {
        uint32_t u = spec->data2;
        uint8_t b[4] = {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                        static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
        load_at(b, 4, out);
        break;
    }
    case TYPE_float_:
    case TYPE_percent: {
        uint64_t bits;
        double d = cell::get_float(spec);
        std::memcpy(&bits, &d, 8);
        uint8_t b[8];
        for (int i = 0; i < 8; i++) b[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
        load_at(b, 8, out);
        break;
    }
    case TYPE_char_: {
        uint8_t b[4];
        int n = unicode::cp_to_utf8(spec->data2, b);
        load_at(b, n, out);
        break;
    }
    case TYPE_issue: {
        int32_t id = static_cast<int32_t>(spec->data2);
        if (!decode_16(symbol::get_utf8(id), symbol::utf8_length(id), 1, out))
            fire(err::invalid_data, spec);
        break;
    }
    case TYPE_bitset: {
        series_buffer_t* s = alloc::buffer(spec->data2);
        bytes.assign(s->head_ptr(), s->tail_ptr());
        load_at(bytes.data(), static_cast<int64_t>(bytes.size()), out);
        break;
    }
    case TYPE_binary:
        series::copy(spec, out, nullptr, false, nullptr);
        cell::clear_new_line(out);
        break;
    case TYPE_image: fire(err::not_done);  // needs image!: its pixel buffer, B G R A per pixel
    default:
        if (block_like_q(st) || series::any_string_q(st) || st == TYPE_tuple) {
            collect(spec, bytes, false);
            load_at(bytes.data(), static_cast<int64_t>(bytes.size()), out);
        } else {
            fire_with_type(err::bad_to_arg, TYPE_binary, spec);
        }
    }
    cell_t result = *out;
    stack::pop(1);
    *stack::arguments = result;
    return stack::arguments;
}

// --- form and mold ------------------------------------------------------------------------------

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    int32_t n = rs_length_q(value);
    int32_t head = clamped_head(value);
    bool lines = !how.flat && n > FLAT_LIMIT;
    std::string text;
    text.reserve(static_cast<size_t>(n) * 2 +
                 (lines ? static_cast<size_t>(n / LINE_BYTES + 2) * (5 + 4 * how.indent) : 0) + 3);
    auto line_break = [&](int32_t level) {
        text.push_back('\n');
        text.append(static_cast<size_t>(4 * std::max(level, 0)), ' ');
        how.limit -= 1 + 4 * std::max(level, 0);
    };
    auto flush = [&]() {
        string::append_bytes(buffer, text.data(), static_cast<int64_t>(text.size()));
    };
    if (!how.only) {
        text += "#{";
        how.limit -= 2;
    }
    if (lines) line_break(how.indent + 1);
    for (int32_t i = 0; i < n; i++) {
        if (how.part && how.limit <= 0) {
            flush();
            return how.limit;
        }
        uint8_t b = buffer_of(value)->head_ptr()[head + i];
        text.push_back(HEX[b >> 4]);
        text.push_back(HEX[b & 15]);
        how.limit -= 2;
        if (lines && (i + 1) % LINE_BYTES == 0) line_break(how.indent + 1);
    }
    if (lines && n % LINE_BYTES != 0) line_break(how.indent);
    if (how.part && how.limit <= 0) {
        flush();
        return how.limit;
    }
    if (!how.only) {
        text.push_back('}');
        how.limit -= 1;
    }
    flush();
    return how.limit;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    return mold(value, buffer, {.part = part, .limit = limit});
}

// --- compare ------------------------------------------------------------------------------------

int32_t compare_action(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_binary) return -2;
    bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == actions::cmp::SAME) return same ? 0 : -1;
    if (same) return 0;
    return compare_bytes(value1, value2, op, false);
}

// --- bitwise
// ---------------------------------------------------------------------------------------

void and_t() { bitwise(bit_op::and_); }
void or_t() { bitwise(bit_op::or_); }
void xor_t() { bitwise(bit_op::xor_); }

cell_t* complement(cell_t* value) {
    uint8_t* p = rs_head(value);
    for (int32_t i = 0, n = rs_length_q(value); i < n; i++) p[i] = static_cast<uint8_t>(~p[i]);
    *stack::arguments = *value;
    return stack::arguments;
}

// --- insert, append, change ----------------------------------------------------------------------

cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool, int32_t dup, bool append_) {
    cell_t self = *series;
    self.data1 = static_cast<uint32_t>(clamped_head(&self));
    if (dup < 1) {
        if (append_) self.data1 = 0;
        *stack::arguments = self;
        return stack::arguments;
    }
    int32_t at = append_ ? buffer_of(&self)->used() : static_cast<int32_t>(self.data1);
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self, append_ ? change_word::append : change_word::insert, value, at,
                             0);
        self.data1 = static_cast<uint32_t>(clamped_head(&self));
        at = append_ ? buffer_of(&self)->used() : static_cast<int32_t>(self.data1);
    }

    // The bytes: a binary! from another buffer is copied straight from it
    // after the growth, and a single byte or character (a loop of appends)
    // needs no gathering either; everything else is gathered first.
    bytes_t gathered;
    uint8_t small[4];
    const uint8_t* src = nullptr;
    uint8_t vt = type_of(value);
    bool direct = vt == TYPE_binary && value->data2 != self.data2;
    int64_t k;
    if (direct) {
        k = rs_length_q(value);
    } else if (vt == TYPE_integer) {
        int32_t i = static_cast<int32_t>(value->data2);
        if (i > 255 || i < -128) fire(err::invalid_arg, value);
        small[0] = static_cast<uint8_t>(i);
        k = 1;
        src = small;
    } else if (vt == TYPE_char_) {
        k = unicode::cp_to_utf8(value->data2, small);
        src = small;
    } else {
        collect(value, gathered, false);
        k = static_cast<int64_t>(gathered.size());
        src = gathered.data();
    }
    if (part >= 1 && part < k) k = part;
    int64_t total = k * dup;
    if (total > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);

    if (total > 0) {
        open_gap(&self, at, total);
        write_repeated(&self, at, direct ? rs_head(value) : src, static_cast<int32_t>(k), dup);
    }
    if (owned)
        series::owner_signal(&self, append_ ? change_word::appended : change_word::inserted, value,
                             at, static_cast<int32_t>(total));
    self.data1 = append_ ? 0 : static_cast<uint32_t>(at + total);
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* change(cell_t* series, cell_t* value, int32_t part, bool, int32_t dup) {
    cell_t self = *series;
    self.data1 = static_cast<uint32_t>(clamped_head(&self));
    if (dup < 1) {
        *stack::arguments = self;
        return stack::arguments;
    }
    bytes_t bytes;  // gathered first: a source on the target's own buffer stays intact
    collect(value, bytes, true);
    int64_t k = static_cast<int64_t>(bytes.size());
    int64_t total = k * dup;
    if (total > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);

    int32_t at = static_cast<int32_t>(self.data1);
    int32_t left = buffer_of(&self)->used() - at;
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self, change_word::change, value, at, left);
        at = clamped_head(&self);
        self.data1 = static_cast<uint32_t>(at);
        left = buffer_of(&self)->used() - at;
    }
    int64_t replaced = part >= 0 ? std::min<int64_t>(part, left) : std::min<int64_t>(total, left);
    int64_t grow = total - replaced;
    series_buffer_t* s = buffer_of(&self);
    if (grow > 0) {
        s = open_gap(&self, at + static_cast<int32_t>(replaced), grow);
    } else if (grow < 0) {
        uint8_t* p = s->head_ptr() + at;
        std::memmove(p + total, p + replaced, static_cast<size_t>(s->used() - at - replaced));
        s->tail += static_cast<int32_t>(grow);
    }
    if (total > 0) write_repeated(&self, at, bytes.data(), static_cast<int32_t>(k), dup);
    if (owned)
        series::owner_signal(&self, change_word::changed, value, at, static_cast<int32_t>(total));
    self.data1 = static_cast<uint32_t>(std::min<int64_t>(at + total, buffer_of(&self)->used()));
    *stack::arguments = self;
    return stack::arguments;
}

// --- trim
// ----------------------------------------------------------------------------------------------

cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with) {
    if (auto_ || lines) fire(err::not_done);
    cell_t self = *series;
    int32_t at = clamped_head(&self);
    int32_t n = buffer_of(&self)->used() - at;
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self, change_word::trim, nullptr, at, n);
        at = clamped_head(&self);
        n = buffer_of(&self)->used() - at;
    }
    series_buffer_t* s = buffer_of(&self);
    uint8_t* p = s->head_ptr() + at;
    if (all || with) {
        bool drop[256];
        if (with) {
            with_set(with, drop);
        } else {
            std::fill(drop, drop + 256, false);
            drop[0] = true;
        }
        int32_t kept = 0;
        for (int32_t i = 0; i < n; i++)
            if (!drop[p[i]]) p[kept++] = p[i];
        s->tail -= n - kept;
    } else {
        if (!head && !tail) head = tail = true;
        int32_t first = 0, last = n;
        if (head)
            while (first < last && p[first] == 0) first++;
        if (tail)
            while (last > first && p[last - 1] == 0) last--;
        if (first > 0) std::memmove(p, p + first, static_cast<size_t>(s->used() - at - first));
        s->tail -= first + (n - last);
    }
    if (owned)
        series::owner_signal(&self, change_word::trimmed, nullptr, at,
                             buffer_of(&self)->used() - at);
    *stack::arguments = self;
    return stack::arguments;
}

// --- registration
// ------------------------------------------------------------------------------------------

void init() {
    datatype::record_t r(TYPE_binary, TYPE_string, "binary!");
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare_action);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_complement>(complement);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    r.own<ACT_append>(insert);
    r.own<ACT_change>(change);
    r.own<ACT_insert>(insert);
    r.own<ACT_trim>(trim);
    r.inherit({1, 2, 3, 7, 26, 27, 55});
    r.inherit_range(29, 34);
    r.inherit_range(36, 40);
    r.inherit_range(42, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::binary
