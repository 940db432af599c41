#include "runtime/unicode.h"

#include <algorithm>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::unicode {

// clang-format off
const uint8_t utf8_dfa[364] = {
    // byte classes
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1, 9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,
    7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7, 7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,
    8,8,2,2,2,2,2,2,2,2,2,2,2,2,2,2, 2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,
    10,3,3,3,3,3,3,3,3,3,3,3,3,4,3,3, 11,6,6,6,5,8,8,8,8,8,8,8,8,8,8,8,
    // transitions: state + class
    0,12,24,36,60,96,84,12,12,12,48,72,
    12,12,12,12,12,12,12,12,12,12,12,12,
    12,0,12,12,12,12,12,0,12,0,12,12,
    12,24,12,12,12,12,12,24,12,24,12,12,
    12,12,12,12,12,12,12,24,12,12,12,12,
    12,24,12,12,12,12,12,12,12,24,12,12,
    12,12,12,12,12,12,12,36,12,36,12,12,
    12,36,12,12,12,12,12,36,12,36,12,12,
    12,36,12,12,12,12,12,12,12,12,12,12,
};
// clang-format on

namespace {

[[noreturn]] void invalid_char(uint32_t cp) {
    cell_t* arg = stack::push_slot();
    *arg = cell_t{TYPE_integer, 0, cp, 0};
    fire(err::invalid_char, arg);
}

// Raises invalid-utf8 with a binary! of the offending bytes (at most four).
[[noreturn]] void invalid_utf8(const uint8_t* p, int64_t available) {
    uint8_t bytes[4];
    int32_t n = static_cast<int32_t>(std::min<int64_t>(available, 4));
    std::memcpy(bytes, p, static_cast<size_t>(n));  // p may move once we allocate
    fire(err::invalid_utf8, binary::load(bytes, n));
}

inline uint32_t chars_of(const series_buffer_t* s) {
    return static_cast<uint32_t>(s->used()) / s->unit();
}

// Characters of a string from its head, limited by part (-1: all).
inline int64_t export_count(const cell_t* string, int32_t part) {
    int64_t n = string::rs_length_q(string);
    if (part >= 0 && part < n) n = part;
    return n;
}

inline const uint8_t* export_start(const cell_t* string) {
    series_buffer_t* s = string::buffer_of(string);
    uint32_t head = std::min<uint32_t>(string->data1, chars_of(s));
    return s->head_ptr() + static_cast<size_t>(head) * s->unit();
}

// Grows a buffer so that it holds at least bytes; keeps the contents.
series_buffer_t* ensure_size(series_buffer_t* s, int64_t bytes) {
    if (bytes <= s->size) return s;
    if (bytes > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    return alloc::expand_series_copy(s, bytes);
}

void set_unit(series_buffer_t* s, uint32_t unit) {
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | unit;
}

}  // namespace

// --- counting and sizes ---------------------------------------------------------

int64_t count_chars(const uint8_t* start, const uint8_t* end) {
    int64_t n = 0;
    int32_t cp;
    while (start < end) {
        start = *start < 0x80 ? start + 1 : fast_decode_utf8_char(start, end, &cp);
        n++;
    }
    return n;
}

const uint8_t* skip_ascii(const uint8_t* start, const uint8_t* end) {
    // Eight bytes at a time while none has its top bit set.
    while (end - start >= 8) {
        uint64_t word;
        std::memcpy(&word, start, 8);
        if (word & 0x8080808080808080u) break;
        start += 8;
    }
    while (start < end && *start < 0x80) start++;
    return start;
}

bool valid_utf8_q(const uint8_t* start, const uint8_t* end) {
    int32_t cp;
    while (start < end) {
        if (*start < 0x80) {
            start = skip_ascii(start, end);
            continue;
        }
        start = fast_decode_utf8_char(start, end, &cp);
        if (cp < 0 || cp == 0xFFFE) return false;
    }
    return true;
}

int utf8_char_size(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

int cp_utf8_size(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= static_cast<uint32_t>(MAX_CODE_POINT)) return 4;
    invalid_char(cp);
}

int64_t utf8_byte_count(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    int64_t n = 0;
    for (; start < end; start += unit) n += cp_utf8_size(string::get_char(start, unit));
    return n;
}

// UTF-8 of any code point up to 0x10FFFF, surrogates as they stand (only
// names for the system take that path, and only for what it can hold).
static int put_utf8(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | cp >> 6);
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<uint8_t>(0xE0 | cp >> 12);
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= static_cast<uint32_t>(MAX_CODE_POINT)) {
        out[0] = static_cast<uint8_t>(0xF0 | cp >> 18);
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 4;
    }
    invalid_char(cp);
}

int cp_to_utf8(uint32_t cp, uint8_t* out) {
    return put_utf8(surrogate_q(cp) ? REPLACEMENT_CHAR : cp, out);
}

int cp_to_utf8_limited(uint32_t cp, uint8_t* out, int room) {
    uint8_t bytes[4];
    int n = cp_to_utf8(cp, bytes);
    if (room < 1) return 0;
    n = std::min(n, room);
    std::memcpy(out, bytes, static_cast<size_t>(n));
    return n;
}

int cp_to_utf16(uint32_t cp, uint16_t* out) {
    if (cp < 0x10000) {
        out[0] = static_cast<uint16_t>(cp);
        return 1;
    }
    if (cp > static_cast<uint32_t>(MAX_CODE_POINT)) return 0;
    cp -= 0x10000;
    out[0] = static_cast<uint16_t>(0xD800 | cp >> 10);
    out[1] = static_cast<uint16_t>(0xDC00 | (cp & 0x3FF));
    return 2;
}

// --- exports ------------------------------------------------------------------------

std::string to_utf8(const cell_t* string, int32_t part, bool crlf) {
    int64_t n = export_count(string, part);
    series_buffer_t* s = string::buffer_of(string);
    uint32_t unit = s->unit();
    const uint8_t* p = export_start(string);
    std::string out;
    out.reserve(static_cast<size_t>(n) * (unit == 1 ? 2 : unit == 2 ? 3 : 4));
    if (unit == 1 && !crlf) {
        // the common case: ASCII runs go over in one piece
        const uint8_t* end = p + n;
        while (p < end) {
            const uint8_t* run = p;
            while (p < end && *p < 0x80) p++;
            out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
            if (p < end) {
                uint8_t b[2];
                cp_to_utf8(*p++, b);
                out.append(reinterpret_cast<const char*>(b), 2);
            }
        }
        return out;
    }
    uint8_t b[4];
    for (int64_t i = 0; i < n; i++, p += unit) {
        uint32_t c = string::get_char(p, unit);
        if (c == '\n' && crlf) out.push_back('\r');
        int k = cp_to_utf8(c, b);
        out.append(reinterpret_cast<const char*>(b), static_cast<size_t>(k));
    }
    return out;
}

int64_t to_utf8_buffer(const cell_t* string, uint8_t* out, int32_t part, bool nul) {
    int64_t n = export_count(string, part);
    uint32_t unit = string::buffer_of(string)->unit();
    const uint8_t* p = export_start(string);
    uint8_t* o = out;
    for (int64_t i = 0; i < n; i++, p += unit) o += cp_to_utf8(string::get_char(p, unit), o);
    if (nul) *o = 0;
    return o - out;
}

int64_t to_utf8_limited(const cell_t* string, uint8_t* out, int64_t room, int32_t part, bool nul) {
    int64_t n = string::rs_length_q(string);
    if (part > 0 && part < n) n = part;
    uint32_t unit = string::buffer_of(string)->unit();
    const uint8_t* p = export_start(string);
    int64_t written = 0;
    for (int64_t i = 0; i < n && written < room; i++, p += unit)
        written += cp_to_utf8_limited(string::get_char(p, unit), out + written,
                                      static_cast<int>(std::min<int64_t>(room - written, 4)));
    if (nul) out[written] = 0;
    return written;
}

bool to_utf16_crlf(const cell_t* string, int32_t part, bool crlf, std::u16string* out) {
    int64_t n = export_count(string, part);
    uint32_t unit = string::buffer_of(string)->unit();
    const uint8_t* p = export_start(string);
    out->clear();
    out->reserve(static_cast<size_t>(n) + 1);
    uint16_t pair[2];
    for (int64_t i = 0; i < n; i++, p += unit) {
        uint32_t c = string::get_char(p, unit);
        if (c == '\n' && crlf) out->push_back(u'\r');
        int k = cp_to_utf16(c, pair);
        if (k == 0) return false;
        out->append(reinterpret_cast<const char16_t*>(pair), static_cast<size_t>(k));
    }
    return true;
}

std::u16string to_utf16(const cell_t* string) {
    std::u16string out;
    if (!to_utf16_crlf(string, -1, true, &out)) out.clear();
    return out;
}

bool holds_surrogate_q(const cell_t* string) {
    int64_t n = export_count(string, -1);
    uint32_t unit = string::buffer_of(string)->unit();
    if (unit == 1) return false;
    const uint8_t* p = export_start(string);
    for (int64_t i = 0; i < n; i++, p += unit)
        if (surrogate_q(string::get_char(p, unit))) return true;
    return false;
}

// --- names of the system ------------------------------------------------------------

namespace {
// A byte that is not UTF-8 stands as U+DC00 plus the byte (always 0x80 or
// more: ASCII is always UTF-8).
constexpr uint32_t BYTE_ESCAPE = 0xDC00;
constexpr uint32_t FIRST_BYTE_ESCAPE = BYTE_ESCAPE + 0x80;
constexpr uint32_t LAST_BYTE_ESCAPE = BYTE_ESCAPE + 0xFF;
}  // namespace

node_t load_os_text(const uint8_t* source, int64_t length) {
    // Decoded first: the string's unit follows from its widest character.
    std::u32string text;
    text.reserve(static_cast<size_t>(length));
    uint32_t widest = 0;
    const uint8_t* end = source + length;
    for (const uint8_t* p = source; p < end;) {
        int32_t cp = *p;
        const uint8_t* next = *p < 0x80 ? p + 1 : fast_decode_utf8_char(p, end, &cp);
        if (cp < 0) {
            // every byte the decoder gave up on stands for itself
            for (; p < next; p++) text.push_back(BYTE_ESCAPE + *p);
            widest = std::max(widest, BYTE_ESCAPE);
            continue;
        }
        text.push_back(static_cast<char32_t>(cp));
        widest = std::max(widest, static_cast<uint32_t>(cp));
        p = next;
    }
    int32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    node_t node =
        alloc::alloc_series(std::max<int64_t>(static_cast<int64_t>(text.size()), 1), unit, 0);
    series_buffer_t* s = alloc::buffer(node);
    uint8_t* out = s->head_ptr();
    for (size_t i = 0; i < text.size(); i++)
        string::put_char(out + i * static_cast<size_t>(unit), static_cast<uint32_t>(unit), text[i]);
    s->tail = s->head + static_cast<int32_t>(text.size()) * unit;
    return node;
}

bool to_os_text(const cell_t* string, std::string* out) {
    int64_t n = export_count(string, -1);
    uint32_t unit = string::buffer_of(string)->unit();
    const uint8_t* p = export_start(string);
    out->clear();
    out->reserve(static_cast<size_t>(n));
    uint8_t b[4];
    for (int64_t i = 0; i < n; i++, p += unit) {
        uint32_t c = string::get_char(p, unit);
        if (c == 0) return false;
        if (c >= FIRST_BYTE_ESCAPE && c <= LAST_BYTE_ESCAPE) {
            out->push_back(static_cast<char>(c - BYTE_ESCAPE));
            continue;
        }
        if (surrogate_q(c)) return false;
        out->append(reinterpret_cast<const char*>(b), static_cast<size_t>(put_utf8(c, b)));
    }
    return true;
}

// --- widening in place -------------------------------------------------------------

template <typename From, typename To>
static series_buffer_t* widen(series_buffer_t* s, int64_t needed, uint32_t unit) {
    uint32_t n = chars_of(s);
    s = ensure_size(s, needed);
    uint8_t* base = s->head_ptr();
    // from the last unit down, so no unit is overwritten before it is read
    for (int64_t i = static_cast<int64_t>(n) - 1; i >= 0; i--) {
        From c;
        std::memcpy(&c, base + i * sizeof(From), sizeof c);
        To w = c;
        std::memcpy(base + i * sizeof(To), &w, sizeof w);
    }
    s->tail = s->head + static_cast<int32_t>(n * unit);
    set_unit(s, unit);
    return s;
}

series_buffer_t* latin1_to_ucs2(series_buffer_t* s) {
    return widen<uint8_t, uint16_t>(s, s->head + 2 * static_cast<int64_t>(chars_of(s)) + 2, 2);
}
series_buffer_t* latin1_to_ucs4(series_buffer_t* s) {
    return widen<uint8_t, uint32_t>(s, s->head + 4 * static_cast<int64_t>(chars_of(s)) + 4, 4);
}
series_buffer_t* ucs2_to_ucs4(series_buffer_t* s) {
    return widen<uint16_t, uint32_t>(s, s->head + 2 * static_cast<int64_t>(s->used()) + 4, 4);
}

// --- strict decoding and loading ------------------------------------------------------

int32_t decode_utf8_char(const uint8_t* p, int64_t* count) {
    uint32_t lead = p[0];
    if (lead < 0x80) {
        *count = 1;
        return static_cast<int32_t>(lead);
    }
    int need;
    uint32_t cp;
    uint32_t least;  // the smallest code point of this length: below it is an overlong form
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 2, cp = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 3, cp = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 4, cp = lead & 0x07, least = 0x10000;
    } else {
        invalid_utf8(p, *count);  // stray continuation, C0/C1 (always overlong), F5-FF
    }
    if (*count < need) return -1;
    for (int i = 1; i < need; i++) {
        if ((p[i] & 0xC0) != 0x80) invalid_utf8(p, *count);
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp > static_cast<uint32_t>(MAX_CODE_POINT))
        invalid_utf8(p, *count);
    *count = need;
    return static_cast<int32_t>(cp);
}

// Copies the ASCII bytes at the start of from (at most n) into a one-byte
// buffer, eight at a time while it can; fold stops at a carriage return,
// which the caller's loop turns into a line feed. Returns how many it copied.
static int64_t ascii_run(const uint8_t* from, uint8_t* to, int64_t n, bool fold) {
    constexpr uint64_t HIGH = 0x8080808080808080ull;
    constexpr uint64_t ONES = 0x0101010101010101ull;
    int64_t k = 0;
    while (k + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, from + k, 8);
        if (w & HIGH) break;
        uint64_t cr = w ^ (ONES * '\r');
        if (fold && ((cr - ONES) & ~cr & HIGH)) break;
        std::memcpy(to + k, &w, 8);
        k += 8;
    }
    while (k < n && from[k] < 0x80 && !(fold && from[k] == '\r')) {
        to[k] = from[k];
        k++;
    }
    return k;
}

node_t load_utf8(text_source source, int64_t length, node_t target, int64_t* remaining, bool fold) {
    int64_t n = std::max<int64_t>(length, 1);
    node_t node;
    if (target != 0) {
        series_buffer_t* s = alloc::buffer(target);
        ensure_size(s, s->head + n * s->unit());
        node = target;
    } else {
        node = alloc::alloc_series(n, 1, 0);
    }
    // A new node is nobody's yet, and widening or growing allocates.
    collector::root_node keep(node);
    series_buffer_t* s = alloc::buffer(node);
    s->tail = s->head;
    if (remaining) *remaining = 0;
    if (length == 0) return node;

    const uint8_t* src = source.bytes();
    int64_t at = 0;  // read offset into the source
    if (length > 2 && src[0] == 0xEF && src[1] == 0xBB && src[2] == 0xBF) at = 3;

    uint32_t unit = s->unit();
    int64_t out = s->head;  // write offset in bytes from the data start
    while (at < length) {
        if (unit == 1 && src[at] < 0x80) {
            int64_t k =
                ascii_run(src + at, s->data() + out, std::min(length - at, s->size - out), fold);
            at += k;
            out += k;
            if (k > 0) continue;
        }
        int64_t count = length - at;
        int32_t c;
        if (src[at] < 0x80) {
            c = src[at];
            count = 1;
        } else {
            c = decode_utf8_char(src + at, &count);
            if (c < 0) {
                if (remaining) *remaining = length - at;
                break;
            }
        }
        at += count;
        if (fold && c == '\r') {
            if (at < length && src[at] == '\n') continue;
            c = '\n';
        }
        uint32_t cp = static_cast<uint32_t>(c);
        if ((unit == 1 && cp > 0xFF) || (unit == 2 && cp > 0xFFFF)) {
            s->tail = static_cast<int32_t>(out);
            s = string::widen_to(s, cp > 0xFFFF ? 4 : 2);
            unit = s->unit();
            out = s->tail;
            src = source.bytes();
        }
        if (out + unit > s->size) {
            s->tail = static_cast<int32_t>(out);
            int64_t more =
                unit == 2 ? std::max<int64_t>(length / 4, 16) : std::max<int64_t>(length, 16);
            s = ensure_size(s, std::max<int64_t>(out + unit, s->size + more));
            src = source.bytes();
        }
        string::put_char(s->data() + out, unit, cp);
        out += unit;
    }
    s->tail = static_cast<int32_t>(out);
    return node;
}

node_t load_utf8_into(text_source source, int64_t length, cell_t* string, int64_t* remaining) {
    return load_utf8(source, length, string->data2, remaining, false);
}

node_t load_utf8_new(const uint8_t* source, int64_t length) {
    return load_utf8(text_source::at(source), length, 0, nullptr, false);
}

uint32_t utf16_unit_width(const uint8_t* source, int64_t count) {
    uint32_t width = 1;
    for (int64_t i = 0; i < count; i++) {
        uint8_t high = source[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high != 0) width = 2;
    }
    return width;
}

node_t load_utf16le(text_source source, int64_t count, cell_t* string, bool drop_cr) {
    uint32_t width = count == 0 ? 2 : utf16_unit_width(source.bytes(), count);
    node_t node;
    if (string) {
        node = string->data2;
        series_buffer_t* s = alloc::buffer(node);
        ensure_size(s, s->head + static_cast<int64_t>(count) * width);
        set_unit(alloc::buffer(node), width);
    } else {
        node = alloc::alloc_series(std::max<int64_t>(count, 1), static_cast<int32_t>(width), 0);
    }
    series_buffer_t* s = alloc::buffer(node);
    const uint8_t* src = source.bytes();
    uint8_t* out = s->head_ptr();
    auto unit_at = [src](int64_t i) {
        return static_cast<uint32_t>(src[2 * i] | src[2 * i + 1] << 8);
    };
    int64_t stored = 0;
    for (int64_t i = 0; i < count; i++) {
        uint32_t u = unit_at(i);
        if (drop_cr && u == '\r') continue;
        if (width == 4 && u >= 0xD800 && u <= 0xDFFF) {
            // a surrogate stands only as the high half of a pair
            if (u >= 0xDC00 || i + 1 >= count || unit_at(i + 1) < 0xDC00 ||
                unit_at(i + 1) > 0xDFFF) {
                s->tail = s->head + static_cast<int32_t>(stored * width);
                invalid_utf8(src + 2 * i, std::min<int64_t>(count - i, 2) * 2);
            }
            u = 0x10000 + ((u & 0x3FF) << 10 | (unit_at(i + 1) & 0x3FF));
            i++;
        }
        string::put_char(out + stored * width, width, u);
        stored++;
    }
    s->tail = s->head + static_cast<int32_t>(stored * width);
    return node;
}

}  // namespace zuv::unicode
