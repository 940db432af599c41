// String storage: making strings, the raw character operations, widening,
// joining texts of different units, and the small hexadecimal routines.
#include "datatypes/string.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::string {
namespace {

// The runtime error that a corrupt unit ends the process with.
constexpr int PROCESS_FAILURE = 101;

inline int64_t checked_bytes(int64_t bytes) {
    if (bytes < 0 || bytes > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    return bytes;
}

// Makes room for at least extra more bytes after the tail; growth doubles the
// new total so that repeated appends stay linear.
series_buffer_t* reserve(series_buffer_t* s, int64_t extra) {
    int64_t needed = checked_bytes(static_cast<int64_t>(s->tail) + extra);
    if (needed <= s->size) return s;
    int64_t grown = std::min<int64_t>(2 * needed, static_cast<int64_t>(alloc::SERIES_LIMIT));
    return alloc::expand_series_copy(s, grown);
}

}  // namespace

uint32_t bad_unit(uint32_t) { lowrt::quit(PROCESS_FAILURE); }

// --- value makers ------------------------------------------------------------

void make_at(cell_t* cell, int64_t capacity) {
    cell::begin(cell);
    node_t node = alloc::alloc_series(capacity == 0 ? 1 : capacity, 1, 0);
    cell->data1 = 0;
    cell->data2 = node;
    cell->data3 = 0;
    cell::set_type(cell, TYPE_string);
}

void make_at_unit(cell_t* cell, int64_t capacity, int32_t unit) {
    cell::begin(cell);
    node_t node = alloc::alloc_units(capacity, unit);
    cell->data1 = 0;
    cell->data2 = node;
    cell->data3 = 0;
    cell::set_type(cell, TYPE_string);
}

cell_t* push(const cell_t* value) { return stack::push(value); }

cell_t* load_at(const uint8_t* bytes, int64_t count, cell_t* cell, int encoding) {
    if (cell == nullptr) {
        cell = stack::push_slot();
        cell::begin(cell);
    }
    node_t node;
    if (encoding == ENCODING_UTF8) {
        node = unicode::load_utf8_new(bytes, count);
    } else if (encoding == ENCODING_UTF16LE) {
        node = unicode::load_utf16le(text_source::at(bytes), count / 2, nullptr, false);
    } else if (encoding == ENCODING_OS) {
        node = unicode::load_os_text(bytes, count);
    } else {
        // The one encoding request nothing can satisfy is a caller's fault.
        lowrt::quit(PROCESS_FAILURE);
    }
    cell::begin(cell);
    cell->data1 = 0;
    cell->data3 = 0;
    cell->data2 = node;
    cell::set_type(cell, TYPE_string);
    return cell;
}

cell_t* load(const uint8_t* bytes, int64_t count, int encoding) {
    return load_at(bytes, count, nullptr, encoding);
}

cell_t* load_in(const uint8_t* bytes, int64_t count, cell_t* block, int encoding) {
    // The block's node is stable; its buffer is re-read after the decode.
    node_t block_node = block->data2;
    cell_t* slot = stack::push_slot();
    cell::begin(slot);
    load_at(bytes, count, slot, encoding);
    cell_t* tail = alloc::alloc_tail(alloc::buffer(block_node));
    *tail = *slot;
    stack::pop(1);
    return tail;
}

// --- raw operations ----------------------------------------------------------

bool rs_skip(cell_t* value, int32_t n) {
    int64_t head = static_cast<int64_t>(value->data1) + n;
    int32_t length = rs_abs_length_q(value);
    if (head >= 0 && head <= length) value->data1 = static_cast<uint32_t>(head);
    return static_cast<int64_t>(value->data1) >= length;
}

uint8_t* rs_head(cell_t* value) {
    series_buffer_t* s = buffer_of(value);
    uint32_t unit = s->unit();
    uint32_t length = static_cast<uint32_t>(s->used()) / unit;
    if (value->data1 > length) value->data1 = length;
    return s->head_ptr() + static_cast<size_t>(value->data1) * unit;
}

bool rs_tail_q(const cell_t* value) {
    return static_cast<int32_t>(value->data1) >= rs_abs_length_q(value);
}

void rs_reset(cell_t* value) {
    series_buffer_t* s = buffer_of(value);
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | 1u;
    s->tail = s->head;
    value->data1 = 0;
}

int32_t rs_find_char(cell_t* value, uint32_t c) {
    uint8_t* p = rs_head(value);
    series_buffer_t* s = buffer_of(value);
    uint32_t unit = s->unit();
    uint8_t* end = s->tail_ptr();
    for (int32_t i = 0; p < end; p += unit, i++)
        if (get_char(p, unit) == c) return i;
    return -1;
}

void truncate_to(series_buffer_t* s, int32_t n) {
    int64_t bytes = static_cast<int64_t>(n) * s->unit();
    if (s->size >= bytes && s->tail > s->head + bytes)
        s->tail = static_cast<int32_t>(s->head + bytes);
}

void remove_part(cell_t* value, int32_t index, int32_t n) {
    series_buffer_t* s = buffer_of(value);
    uint32_t unit = s->unit();
    int32_t length = s->used() / static_cast<int32_t>(unit);
    if (index >= length || n <= 0) return;
    n = std::min(n, length - index);
    uint8_t* at = s->head_ptr() + static_cast<size_t>(index) * unit;
    size_t gap = static_cast<size_t>(n) * unit;
    std::memmove(at, at + gap, static_cast<size_t>(s->tail_ptr() - (at + gap)));
    s->tail -= static_cast<int32_t>(gap);
}

// --- widening and character writers -------------------------------------------

series_buffer_t* widen_to(series_buffer_t* s, uint32_t unit) {
    uint32_t from = s->unit();
    if (from >= unit) return s;
    if (from == 1) return unit == 2 ? unicode::latin1_to_ucs2(s) : unicode::latin1_to_ucs4(s);
    return unicode::ucs2_to_ucs4(s);
}

// The unit that a positional store of c needs (1-byte units hold 0-255).
static inline uint32_t store_unit(uint32_t c) { return c > 0xFFFF ? 4 : (c > 0xFF ? 2 : 1); }

series_buffer_t* set_char(series_buffer_t* s, uint8_t* address, uint32_t c) {
    uint32_t unit = s->unit();
    uint32_t need = store_unit(c);
    if (need > unit) {
        int64_t index = (address - s->head_ptr()) / unit;
        s = widen_to(s, need);
        unit = s->unit();
        address = s->head_ptr() + index * unit;
    }
    put_char(address, unit, c);
    return s;
}

series_buffer_t* overwrite_char(series_buffer_t* s, int32_t index, uint32_t c) {
    uint32_t need = store_unit(c);
    if (need > s->unit()) s = widen_to(s, need);
    uint32_t unit = s->unit();
    int64_t end =
        checked_bytes(static_cast<int64_t>(s->head) + (static_cast<int64_t>(index) + 1) * unit);
    if (end > s->size)
        s = alloc::expand_series_copy(s, std::min<int64_t>(2 * end, alloc::SERIES_LIMIT));
    put_char(s->head_ptr() + static_cast<size_t>(index) * unit, unit, c);
    if (s->head + static_cast<int64_t>(index) * unit >= s->tail)
        s->tail = static_cast<int32_t>(end);
    return s;
}

series_buffer_t* poke_char(series_buffer_t* s, int32_t index, uint32_t c) {
    uint32_t need = store_unit(c);
    if (need > s->unit()) s = widen_to(s, need);
    uint32_t unit = s->unit();
    node_t node = s->node;
    alloc::alloc_tail_unit(s, static_cast<int32_t>(unit));
    s = alloc::buffer(node);
    uint8_t* at = s->head_ptr() + static_cast<size_t>(index) * unit;
    std::memmove(at + unit, at, static_cast<size_t>(s->tail_ptr() - unit - at));
    put_char(at, unit, c);
    return s;
}

series_buffer_t* append_char(series_buffer_t* s, uint32_t c) {
    node_t node = s->node;
    for (;;) {
        uint32_t unit = s->unit();
        if (unit == 1) {
            if (c < 0x80) {
                *alloc::alloc_tail_unit(s, 1) = static_cast<uint8_t>(c);
                return alloc::buffer(node);
            }
            s = widen_to(s, c > 0xFFFF ? 4 : 2);
        } else if (unit == 2) {
            if (c <= 0xFFFF) {
                put_char(alloc::alloc_tail_unit(s, 2), 2, c);
                return alloc::buffer(node);
            }
            s = widen_to(s, 4);
        } else if (unit == 4) {
            put_char(alloc::alloc_tail_unit(s, 4), 4, c);
            return alloc::buffer(node);
        } else {
            bad_unit(unit);
        }
    }
}

void swap_ranges(uint8_t* a, int32_t length_a, uint8_t* b, int32_t length_b, int32_t gap) {
    // [A][gap][B] -> [B][gap][A] by three reversals: no scratch memory, and
    // each range keeps its own byte order.
    (void)b;
    uint8_t* end = a + length_a + gap + length_b;
    std::reverse(a, end);
    std::reverse(a, a + length_b);
    std::reverse(a + length_b, a + length_b + gap);
    std::reverse(a + length_b + gap, end);
}

void concatenate(cell_t* target, cell_t* source, int32_t part, int32_t offset, bool keep_unit,
                 int mode) {
    // needs symbol::cache_string for a symbol! target or source
    node_t tnode = target->data2;
    node_t snode = source->data2;
    series_buffer_t* t = alloc::buffer(tnode);
    series_buffer_t* s = alloc::buffer(snode);
    if (t->unit() < s->unit()) {
        t = widen_to(t, s->unit());
    } else if (s->unit() < t->unit() && !keep_unit) {
        widen_to(s, t->unit());
    }
    int32_t n = rs_length_q(source);
    if (part >= 0 && part < n) n = part;
    if (n <= 0) return;
    t = alloc::buffer(tnode);
    uint32_t tunit = t->unit();
    int64_t bytes = checked_bytes(static_cast<int64_t>(n) * tunit);
    t = reserve(t, bytes);
    s = alloc::buffer(snode);
    uint32_t sunit = s->unit();
    const uint8_t* from = s->head_ptr() + static_cast<size_t>(source->data1) * sunit;

    std::vector<uint8_t> shared;  // the source, when the insert would shift it
    if (mode == MODE_INSERT && tnode == snode) {
        shared.assign(from, from + static_cast<size_t>(n) * sunit);
        from = shared.data();
    }
    int32_t old_tail = t->tail;
    uint8_t* at;
    if (mode == MODE_APPEND) {
        at = t->tail_ptr();
    } else {
        at = t->head_ptr() + (static_cast<size_t>(target->data1) + offset) * tunit;
        if (mode == MODE_INSERT)
            std::memmove(at + bytes, at, static_cast<size_t>(t->tail_ptr() - at));
    }
    if (sunit == tunit) {
        std::memmove(at, from, static_cast<size_t>(bytes));
    } else {
        uint8_t* to = at;
        for (int32_t i = 0; i < n; i++, from += sunit, to += tunit)
            put_char(to, tunit, get_char(from, sunit));
    }
    if (mode == MODE_OVERWRITE) {
        t->tail = std::max<int32_t>(old_tail, static_cast<int32_t>(at + bytes - t->data()));
    } else {
        t->tail = old_tail + static_cast<int32_t>(bytes);
    }
}

bool append_plain(cell_t* target, const cell_t* source) {
    series_buffer_t* t = alloc::buffer(target->data2);
    series_buffer_t* s = alloc::buffer(source->data2);
    if (t->unit() != 1 || s->unit() != 1 || (t->flags & series_flag::OWNED)) return false;
    int32_t head = static_cast<int32_t>(source->data1);
    int32_t n = s->used() - head;
    if (n <= 0) return true;
    // Growing may collect and move both buffers (the caller roots the cells).
    t = reserve(t, n);
    s = alloc::buffer(source->data2);
    std::memmove(t->tail_ptr(), s->head_ptr() + head, static_cast<size_t>(n));
    t->tail += n;
    return true;
}

void append_bytes(cell_t* target, const char* text, int64_t n) {
    series_buffer_t* s = buffer_of(target);
    bool ascii = true;
    for (int64_t i = 0; i < n && ascii; i++) ascii = static_cast<uint8_t>(text[i]) < 0x80;
    if (ascii && s->unit() == 1) {
        uint8_t* at = alloc::alloc_tail_unit(s, static_cast<int32_t>(checked_bytes(n)));
        std::memcpy(at, text, static_cast<size_t>(n));
        return;
    }
    for (int64_t i = 0; i < n; i++) s = append_char(s, static_cast<uint8_t>(text[i]));
}

void concatenate_literal(cell_t* target, const char* text) {
    append_bytes(target, text, static_cast<int64_t>(std::strlen(text)));
}

void append_utf8(cell_t* target, const char* text, int64_t n) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = p + n;
    series_buffer_t* s = buffer_of(target);
    while (p < end) {
        int32_t c;
        if (*p < 0x80) {
            c = *p++;
        } else {
            p = unicode::fast_decode_utf8_char(p, end, &c);
            if (c < 0) c = 0xFFFD;
        }
        s = append_char(s, static_cast<uint32_t>(c));
    }
}

// --- matching ------------------------------------------------------------------

bool starts_with_q(cell_t* value, const char* text) {
    size_t n = std::strlen(text);
    if (static_cast<size_t>(rs_length_q(value)) < n) return false;
    const uint8_t* p = rs_head(value);
    uint32_t unit = buffer_of(value)->unit();
    for (size_t i = 0; i < n; i++, p += unit)
        if (get_char(p, unit) != static_cast<uint8_t>(text[i])) return false;
    return true;
}

// --- hexadecimal and numbers ----------------------------------------------------

static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

hex_text byte_to_hex(uint8_t byte) {
    hex_text h{};
    h.text[0] = HEX_DIGITS[byte >> 4];
    h.text[1] = HEX_DIGITS[byte & 15];
    return h;
}

hex_text to_hex(int32_t value, bool trim) {
    char digits[8];
    int n = 0;
    int32_t stop = value < 0 ? -1 : 0;
    for (int32_t v = value; v != stop && n < 8; v >>= 4)
        digits[n++] = HEX_DIGITS[v & 15];  // arithmetic shift
    hex_text h{};
    int at = 0;
    if (trim && value == 0) {
        h.text[at++] = '0';
        h.text[at++] = '0';
    }
    if (!trim)
        for (int i = 8; i > n; i--) h.text[at++] = value < 0 ? 'F' : '0';
    while (n > 0) h.text[at++] = digits[--n];
    h.text[at] = 0;
    return h;
}

double to_float(const char* text, int32_t length, const char** end) {
    // needs the correctly rounded conversion of the numbers module; strtod
    // rounds correctly in glibc, and the copy supplies the missing NUL.
    std::string copy(text, static_cast<size_t>(length));
    char* stop = nullptr;
    double d = std::strtod(copy.c_str(), &stop);
    if (end) *end = text + (stop - copy.c_str());
    return d;
}

}  // namespace zuv::string
