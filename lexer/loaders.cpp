// The value loaders: each reads its token's text, checks it, and with load
// flag 1 appends the value to the value buffer. A rejection is a syntax error
// of the token's kind; a literal whose datatype has not registered yet is the
// same error, so that nothing half-made ever reaches a block.
#include "lexer/loaders.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "lexer/literal_checks.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/dtoa.h"

namespace zuv::lexer {

bool landed_q(int32_t type) {
    int count = 0;
    const datatype::order_entry_t* order = datatype::registration_order(&count);
    for (int i = 0; i < count; ++i)
        if (order[i].id == type) return order[i].init != nullptr;
    return false;
}

namespace {

// The text of [from, to), copied: reading it must not depend on the input
// staying where it is once something allocates.
std::string copy_text(const state_t& s, int32_t from, int32_t to) {
    const uint8_t* t = s.bytes();
    return std::string(reinterpret_cast<const char*>(t + from), static_cast<size_t>(to - from));
}

// Writes a finished cell into the value-buffer slot at index, keeping the
// slot's new-line flag.
void store(int32_t index, const cell_t& value) {
    cell_t* c = value_at(index);
    uint32_t line = c->header & FLAG_NEW_LINE;
    c->data1 = value.data1;
    c->data2 = value.data2;
    c->data3 = value.data3;
    c->header = (value.header & ~FLAG_NEW_LINE) | line;
}

// The check that gates every literal of a type built outside the core.
void need_type(state_t& s, int32_t start, int32_t end, int32_t type) {
    if (!landed_q(type)) throw_error(s, start, end, type);
}

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Digits with "'" separators (not doubled) into a magnitude; false on any
// other character, a doubled separator or too many digits.
bool read_digits(const std::string& t, size_t from, size_t to, int64_t* value, int32_t* digits) {
    int64_t v = 0;
    int32_t n = 0;
    bool last_quote = false;
    for (size_t i = from; i < to; ++i) {
        uint8_t c = static_cast<uint8_t>(t[i]);
        if (c == '\'') {
            if (last_quote || n == 0) return false;
            last_quote = true;
            continue;
        }
        if (!is_digit(c)) return false;
        last_quote = false;
        if (n < 18) v = v * 10 + (c - '0');
        ++n;
    }
    if (n == 0) return false;
    *value = v;
    if (digits) *digits = n;
    return true;
}

// A float literal's text (signs, digits, ".", exponent, "'"), converted; NaN
// when it does not read.
double read_float(const std::string& text, int32_t extra_exponent) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (!float_syntax_q(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int32_t>(text.size())))
        return nan;
    std::string digits;
    digits.reserve(text.size());
    for (char c : text)
        if (c != '\'') digits.push_back(c == ',' ? '.' : c);
    if (digits.find_first_of("0123456789") == std::string::npos) return nan;
    int32_t unused = 0;
    double d = dtoa::strtod(digits.data(), digits.data() + digits.size(), extra_exponent, &unused);
    return unused != 0 ? nan : d;
}

int32_t hex_run(const std::string& t, size_t from, size_t to, uint32_t* value) {
    uint32_t v = 0;
    for (size_t i = from; i < to; ++i) {
        int d = hex_value(static_cast<uint8_t>(t[i]));
        if (d > 15) return -1;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    *value = v;
    return static_cast<int32_t>(to - from);
}

// Percent-decoding of file and url text: "%" and two hex digits give a byte;
// the bytes are then read as UTF-8. False on a bad escape or bad UTF-8.
bool percent_decode(const std::string& text, std::vector<uint32_t>& out) {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes.push_back(text[i]);
            continue;
        }
        uint32_t v = 0;
        if (i + 2 >= text.size()) return false;
        if (hex_run(text, i + 1, i + 3, &v) != 2) return false;
        bytes.push_back(static_cast<char>(v));
        i += 2;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    return decode_text(p, p + bytes.size(), false, out);
}

uint32_t unit_for(const std::vector<uint32_t>& codes) {
    uint32_t unit = 1;
    for (uint32_t c : codes) {
        if (c > 0xFFFF) return 4;
        if (c > 0xFF) unit = 2;
    }
    return unit;
}

}  // namespace

// ---- text ------------------------------------------------------------------

bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, std::vector<uint32_t>& out) {
    out.clear();
    while (p < end) {
        int32_t cp;
        const uint8_t* next;
        if (*p < 0x80 && !(escapes && *p == '^')) {
            out.push_back(*p++);
            continue;
        }
        next = *p == '^' ? decode_escape(p, end, &cp) : decode_utf8(p, end, &cp);
        if (!next) return false;
        out.push_back(static_cast<uint32_t>(cp));
        p = next;
    }
    return true;
}

uint32_t string_unit(const uint8_t* p, const uint8_t* end, uint32_t flags) {
    uint32_t unit = unit_of(flags);
    if (!(flags & FLAG_CARET) || unit >= 4) return unit;
    for (; p + 1 < end; ++p) {
        if (p[0] != '^') continue;
        if (p[1] != '(') {
            ++p;  // "^^" must not start another escape
            continue;
        }
        const uint8_t* q = p + 2;
        int32_t digits = 0;
        while (q < end && hex_value(*q) <= 15) ++q, ++digits;
        if (q < end && *q == ')') {
            if (digits > 4) return 4;
            if (digits > 2 && unit < 2) unit = 2;
        }
    }
    return unit;
}

void append_text_value(state_t& s, const std::vector<uint32_t>& codes, uint32_t unit,
                       uint8_t type) {
    int32_t index = push_value(s);
    int64_t n = static_cast<int64_t>(codes.size());
    cell_t made;
    string::make_at_unit(&made, n, static_cast<int32_t>(unit));
    series_buffer_t* b = alloc::buffer(made.data2);
    uint8_t* at = b->head_ptr();
    for (uint32_t c : codes) {
        string::put_char(at, unit, c);
        at += unit;
    }
    b->tail = b->head + static_cast<int32_t>(n * unit);
    made.header = (made.header & ~HEADER_TYPE_MASK) | type;
    store(index, made);
}

void load_string_text(state_t& s, int32_t token_start, int32_t from, int32_t to, uint32_t flags,
                      int32_t kind, int32_t load) {
    static std::vector<uint32_t> codes;
    const uint8_t* t = s.bytes();
    if (!load) {
        check_string_text(s, token_start, from, to, flags, kind);
        return;
    }
    if (!decode_text(t + from, t + to, (flags & FLAG_CARET) != 0, codes))
        throw_error(s, token_start, to, kind);
    uint32_t unit = string_unit(t + from, t + to, flags);
    append_text_value(s, codes, unit, TYPE_string);
}

void append_word(state_t& s, int32_t from, int32_t to, uint8_t type) {
    std::string name = copy_text(s, from, to);
    int32_t index = push_value(s);
    int32_t symbol = symbol::make_alt(name.data(), static_cast<int32_t>(name.size()));
    cell_t w;
    if (type == TYPE_issue) {
        word::make_raw(&w, TYPE_issue, _context::global_node, symbol, -1);
    } else {
        _context::add_global(symbol, true, false, &w);
        w.header = (w.header & ~HEADER_TYPE_MASK) | type;
    }
    store(index, w);
}

void append_construct(state_t& s, int32_t kind, bool value) {
    int32_t index = push_value(s);
    cell_t c{};
    switch (kind) {
    case TYPE_logic: logic::make_at(&c, value); break;
    case TYPE_none: none::make_at(&c); break;
    case TYPE_unset: c.header = TYPE_unset; break;
    default: datatype::make_at(&c, kind); break;
    }
    store(index, c);
}

// ---- the loaders -----------------------------------------------------------

void load_string(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    load_string_text(s, start, start + 1, end, flags, TYPE_string, load);
    s.position = end + 1;
}

void load_word(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    // The word scanner may have ended the token early, at a blank code point.
    if (s.position < end) end = s.position;
    if (!load) return;
    int32_t kind = s.kind;
    if (kind < TYPE_word || kind > TYPE_get_word) kind = TYPE_word;
    int32_t from = start, to = end;
    if (kind == TYPE_lit_word || kind == TYPE_get_word) ++from;
    if (kind == TYPE_set_word) --to;
    if (from >= to) throw_error(s, start, end, kind);
    append_word(s, from, to, static_cast<uint8_t>(kind));
}

void load_issue(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    if (end - start < 2) throw_error(s, start, end, TYPE_issue);
    if (load) append_word(s, start + 1, end, TYPE_issue);
}

void load_refinement(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    if (end - start < 2) throw_error(s, start, end, TYPE_refinement);
    if (flags & (FLAG_UTF8_2_3 | FLAG_UTF8_4)) {
        const uint8_t* t = s.bytes();
        for (const uint8_t* p = t + start; p < t + end;) {
            int32_t cp;
            p = decode_utf8(p, t + end, &cp);
            if (!p) throw_error(s, start, end, TYPE_refinement);
        }
    }
    if (load) append_word(s, start + 1, end, TYPE_refinement);
}

void load_integer(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    std::string t = copy_text(s, start, end);
    size_t from = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    bool negative = t[0] == '-';
    int64_t magnitude = 0;
    int32_t digits = 0;
    if (!read_digits(t, from, t.size(), &magnitude, &digits))
        throw_error(s, start, end, TYPE_integer);
    if (!load) return;
    int32_t index = push_value(s);
    cell_t c{};
    int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    if (digits <= 10 && magnitude <= limit) {
        integer::make_at(&c, static_cast<int32_t>(negative ? -magnitude : magnitude));
    } else {
        double d = read_float(t, 0);
        if (std::isnan(d)) throw_error(s, start, end, TYPE_integer);
        float_::make_at(&c, d);
    }
    store(index, c);
}

void load_char(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    check_char(s, start, end, flags, load);
    if (!load) return;
    const uint8_t* t = s.bytes();
    const uint8_t* p = t + start + 2;
    int32_t cp = 0;
    if (*p == '^') decode_escape(p, t + end, &cp);
    else decode_utf8(p, t + end, &cp);
    int32_t index = push_value(s);
    cell_t c{};
    char_::make_at(&c, static_cast<uint32_t>(cp));
    store(index, c);
}

void load_file(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    static std::vector<uint32_t> codes;
    const uint8_t* t = s.bytes();
    bool quoted = end - start >= 2 && t[start + 1] == '"';
    if (quoted) {
        check_string_text(s, start, start + 2, end, flags, TYPE_file);
        s.position = end + 1;
    }
    if (!load) return;
    need_type(s, start, quoted ? end + 1 : end, TYPE_file);
    t = s.bytes();
    uint32_t unit;
    if (quoted) {
        if (!decode_text(t + start + 2, t + end, (flags & FLAG_CARET) != 0, codes))
            throw_error(s, start, end + 1, TYPE_file);
        unit = string_unit(t + start + 2, t + end, flags);
    } else {
        std::string name = copy_text(s, start + 1, end);
        bool ok = name.find('%') != std::string::npos
                      ? percent_decode(name, codes)
                      : decode_text(reinterpret_cast<const uint8_t*>(name.data()),
                                    reinterpret_cast<const uint8_t*>(name.data()) + name.size(),
                                    false, codes);
        if (!ok) throw_error(s, start, end, TYPE_file);
        unit = unit_for(codes);
    }
    append_text_value(s, codes, unit, TYPE_file);
}

void load_binary(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    std::string t = copy_text(s, start, end);
    s.position = end + 1;  // the "}"
    size_t sharp = t.find('#');
    int32_t base = 16;
    if (sharp > 0) {
        std::string prefix = t.substr(0, sharp);
        base = prefix == "2" ? 2 : prefix == "16" ? 16 : prefix == "64" ? 64 : 0;
        if (base == 0) throw_error(s, start, end + 1, TYPE_binary);
    }
    std::string bytes;
    uint32_t acc = 0;
    int32_t count = 0;  // digits in the current group
    int32_t pad = 0;
    for (size_t i = sharp + 2; i < t.size(); ++i) {
        uint8_t c = static_cast<uint8_t>(t[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == ';') {
            while (i < t.size() && t[i] != '\n') ++i;
            continue;
        }
        int32_t at = start + static_cast<int32_t>(i);
        if (base == 16) {
            int d = hex_value(c);
            if (d > 15) throw_error(s, at, end + 1, TYPE_binary);
            acc = acc * 16 + static_cast<uint32_t>(d);
            if (++count == 2) bytes.push_back(static_cast<char>(acc)), acc = 0, count = 0;
        } else if (base == 2) {
            if (c != '0' && c != '1') throw_error(s, at, end + 1, TYPE_binary);
            acc = acc * 2 + (c - '0');
            if (++count == 8) bytes.push_back(static_cast<char>(acc)), acc = 0, count = 0;
        } else {
            int32_t v;
            if (c >= 'A' && c <= 'Z') v = c - 'A';
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
            else if (c >= '0' && c <= '9') v = c - '0' + 52;
            else if (c == '+') v = 62;
            else if (c == '/') v = 63;
            else if (c == '=' && count >= 2) v = -1;
            else throw_error(s, at, end + 1, TYPE_binary);
            if (v < 0) {
                ++pad;
                ++count;
            } else {
                if (pad) throw_error(s, at, end + 1, TYPE_binary);  // data after padding
                acc = acc << 6 | static_cast<uint32_t>(v);
                ++count;
            }
            if (count == 4) {
                acc <<= 6 * pad;
                bytes.push_back(static_cast<char>(acc >> 16));
                if (pad < 2) bytes.push_back(static_cast<char>(acc >> 8));
                if (pad < 1) bytes.push_back(static_cast<char>(acc));
                acc = 0, count = 0;
                if (pad) pad = 4;  // nothing may follow the padding
            }
        }
    }
    if (count != 0) throw_error(s, end - 1, end + 1, TYPE_binary);
    if (!load) return;
    need_type(s, start, end + 1, TYPE_binary);
    int32_t index = push_value(s);
    node_t node = alloc::alloc_bytes(static_cast<int64_t>(bytes.size()));
    series_buffer_t* b = alloc::buffer(node);
    if (!bytes.empty()) std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + static_cast<int32_t>(bytes.size());
    cell_t c{};
    block::init_value(&c, TYPE_binary, node);
    store(index, c);
}

void load_float(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    double d = read_float(copy_text(s, start, end), 0);
    if (std::isnan(d)) throw_error(s, start, end, TYPE_float_);
    if (!load) return;
    int32_t index = push_value(s);
    cell_t c{};
    float_::make_at(&c, d);
    store(index, c);
}

namespace {

// "1.#INF", "-1.#NaN": NaN when the text is not one.
bool read_special(const std::string& t, double* out) {
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    if (t.size() - i != 6 || t.compare(i, 3, "1.#") != 0) return false;
    std::string word = t.substr(i + 3);
    for (char& c : word) c = static_cast<char>(c | 0x20);
    if (word == "inf") *out = negative ? -HUGE_VAL : HUGE_VAL;
    else if (word == "nan") *out = std::numeric_limits<double>::quiet_NaN();
    else return false;
    return true;
}

// A point coordinate: a float literal or a special.
bool read_coordinate(const std::string& t, float* out) {
    double d;
    if (t.size() > 312) return false;
    if (t.find('#') != std::string::npos) {
        if (!read_special(t, &d)) return false;
    } else {
        d = read_float(t, 0);
        if (std::isnan(d)) return false;
    }
    *out = static_cast<float>(d);
    return true;
}

void make_point(cell_t* c, const float* v, int32_t n) {
    cell::begin(c);
    std::memcpy(&c->data1, &v[0], 4);
    std::memcpy(&c->data2, &v[1], 4);
    c->data3 = 0;
    if (n == 3) std::memcpy(&c->data3, &v[2], 4);
    c->header = n == 3 ? TYPE_point3d : TYPE_point2d;
}

}  // namespace

void load_percent(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    s.position = end + 1;  // the "%"
    std::string text = copy_text(s, start, end);
    double d;
    // "1.#INF%" and "1.#NaN%": what mold writes for a percent that is no number.
    bool ok = text.find('#') != std::string::npos ? read_special(text, &d)
                                                  : !std::isnan(d = read_float(text, -2));
    if (!ok) throw_error(s, start, end + 1, TYPE_float_);
    if (!load) return;
    need_type(s, start, end + 1, TYPE_percent);
    int32_t index = push_value(s);
    cell_t c{};
    cell::put_float(&c, d);
    c.header = TYPE_percent;
    store(index, c);
}

void load_float_special(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    double d;
    if (!read_special(copy_text(s, start, end), &d)) throw_error(s, start, end, TYPE_float_);
    if (!load) return;
    int32_t index = push_value(s);
    cell_t c{};
    float_::make_at(&c, d);
    store(index, c);
}

void load_tuple(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    std::string t = copy_text(s, start, end);
    uint8_t bytes[12] = {};
    int32_t n = scan_tuple_bytes(t.data(), static_cast<int32_t>(t.size()), 1, bytes);
    if (n < 3) throw_error(s, start, end, TYPE_tuple);
    if (!load) return;
    need_type(s, start, end, TYPE_tuple);
    int32_t index = push_value(s);
    cell_t c{};
    cell::begin(&c);
    std::memcpy(&c.data1, bytes, 12);
    c.header = TYPE_tuple | static_cast<uint32_t>(n) << 19;
    store(index, c);
}

void load_date(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    std::string t = copy_text(s, start, end);
    date_fields_t d;
    if (!parse_date(reinterpret_cast<const uint8_t*>(t.data()), static_cast<int32_t>(t.size()), &d))
        throw_error(s, start, end, TYPE_date);
    if (!load) return;
    need_type(s, start, end, TYPE_date);
    int32_t index = push_value(s);
    cell_t c{};
    build_date(&c, d);
    store(index, c);
}

void load_pair(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    std::string t = copy_text(s, start, end);
    size_t x = t.find_first_of("xX");
    int32_t v[2];
    bool ok = x != std::string::npos && t.find('.') == std::string::npos;
    for (int i = 0; ok && i < 2; ++i) {
        size_t from = i == 0 ? 0 : x + 1, to = i == 0 ? x : t.size();
        bool negative = from < to && t[from] == '-';
        if (from < to && (t[from] == '+' || t[from] == '-')) ++from;
        int64_t m = 0;
        int32_t digits = 0;
        ok = read_digits(t, from, to, &m, &digits) && digits <= 10 &&
             m <= (negative ? int64_t{2147483648} : int64_t{2147483647});
        v[i] = static_cast<int32_t>(negative ? -m : m);
    }
    if (!ok) throw_error(s, start, end, TYPE_pair);
    if (!load) return;
    need_type(s, start, end, TYPE_pair);
    int32_t index = push_value(s);
    cell_t c{};
    cell::begin(&c);
    c.data2 = static_cast<uint32_t>(v[0]);
    c.data3 = static_cast<uint32_t>(v[1]);
    c.header = TYPE_pair;
    store(index, c);
}

void load_point(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    check_point(s, start, end, flags, load);  // the token and its "(" and ")"
    std::string t = copy_text(s, start, end);
    float v[3] = {};
    int32_t n = 0;
    size_t from = 0;
    for (;;) {
        size_t comma = t.find(',', from);
        size_t to = comma == std::string::npos ? t.size() : comma;
        size_t a = from, b = to;
        while (a < b && (t[a] == ' ' || t[a] == '\t')) ++a;
        while (b > a && (t[b - 1] == ' ' || t[b - 1] == '\t')) --b;
        int32_t kind = n >= 2 ? TYPE_point3d : TYPE_point2d;
        if (n == 3 || !read_coordinate(t.substr(a, b - a), &v[n]))
            throw_error(s, start - 1, end + 1, kind);
        ++n;
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (n < 2) throw_error(s, start - 1, end + 1, TYPE_point2d);
    if (!load) return;
    int32_t type = n == 3 ? TYPE_point3d : TYPE_point2d;
    need_type(s, start - 1, end + 1, type);
    int32_t index = push_value(s);
    cell_t c{};
    make_point(&c, v, n);
    store(index, c);
}

void load_time(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    std::string t = copy_text(s, start, end);
    bool ok = !(flags & FLAG_EXPONENT) && !t.empty() && t.back() != ':';
    size_t i = 0;
    bool negative = false;
    if (ok && (t[0] == '+' || t[0] == '-')) negative = t[i++] == '-';
    size_t c1 = t.find(':', i);
    size_t c2 = ok && c1 != std::string::npos ? t.find(':', c1 + 1) : std::string::npos;
    if (c1 == std::string::npos ||
        (c2 != std::string::npos && t.find(':', c2 + 1) != std::string::npos))
        ok = false;
    double seconds = 0;
    if (ok) {
        int64_t first = 0, second = 0;
        size_t second_end = c2 != std::string::npos ? c2 : t.size();
        size_t dot = t.find('.', c1 + 1);
        bool fraction_in_second = c2 == std::string::npos && dot != std::string::npos;
        if (fraction_in_second) second_end = dot;
        ok = read_digits(t, i, c1, &first, nullptr) &&
             read_digits(t, c1 + 1, second_end, &second, nullptr);
        if (ok && fraction_in_second) {
            // minutes:seconds.fraction
            double s2 = read_float(t.substr(c1 + 1), 0);
            ok = !std::isnan(s2);
            seconds = static_cast<double>(first) * 60 + s2;
        } else if (ok) {
            seconds = static_cast<double>(first) * 3600 + static_cast<double>(second) * 60;
            if (c2 != std::string::npos) {
                std::string sec = t.substr(c2 + 1);
                ok = !sec.empty() && (is_digit(static_cast<uint8_t>(sec[0]))) &&
                     sec.find_first_of("+-") == std::string::npos;
                double s3 = ok ? read_float(sec, 0) : 0;
                if (std::isnan(s3)) ok = false;
                seconds += s3;
            } else if (dot != std::string::npos) {
                ok = false;
            }
        }
    }
    if (!ok) throw_error(s, start, end, TYPE_time);
    if (!load) return;
    int32_t index = push_value(s);
    cell_t c{};
    time::make_at(&c, negative ? -seconds : seconds);
    store(index, c);
}

void load_money(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    std::string t = copy_text(s, start, end);
    money_text_t parts;
    if (!split_money(t.data(), static_cast<int32_t>(t.size()), 1, &parts))
        throw_error(s, start, end, TYPE_money);
    if (!load) return;
    need_type(s, start, end, TYPE_money);
    cell_t c{};
    // An unknown currency code is as invalid as a malformed amount.
    if (!money::from_text(&c, parts.negative, parts.code[0] ? parts.code : nullptr, parts.whole,
                          parts.whole_count, parts.fraction, parts.fraction_count))
        throw_error(s, start, end, TYPE_money);
    int32_t index = push_value(s);
    store(index, c);
}

void load_tag(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    static std::vector<uint32_t> codes;
    s.position = end + 1;  // the ">"
    const uint8_t* t = s.bytes();
    if (t[start] != '<' || !decode_text(t + start + 1, t + end, false, codes))
        throw_error(s, start, end + 1, TYPE_tag);
    if (!load) return;
    need_type(s, start, end + 1, TYPE_tag);
    append_text_value(s, codes, unit_for(codes), TYPE_tag);
}

void load_url(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    static std::vector<uint32_t> codes;
    std::string text = copy_text(s, start, end);
    if (text[0] == ':') throw_error(s, start, end, TYPE_get_word);
    if (text[0] == '\'') throw_error(s, start, end, TYPE_lit_word);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    bool ok = text.find('%') != std::string::npos ? percent_decode(text, codes)
                                                  : decode_text(p, p + text.size(), false, codes);
    if (!ok) throw_error(s, start, end, TYPE_url);
    if (!load) return;
    need_type(s, start, end, TYPE_url);
    append_text_value(s, codes, unit_for(codes), TYPE_url);
}

void load_email(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    static std::vector<uint32_t> codes;
    const uint8_t* t = s.bytes();
    if (!decode_text(t + start, t + end, false, codes)) throw_error(s, start, end, TYPE_email);
    if (!load) return;
    need_type(s, start, end, TYPE_email);
    append_text_value(s, codes, unit_for(codes), TYPE_email);
}

void load_ref(state_t& s, int32_t start, int32_t end, uint32_t, int32_t load) {
    static std::vector<uint32_t> codes;
    const uint8_t* t = s.bytes();
    if (!decode_text(t + start + 1, t + end, false, codes)) throw_error(s, start, end, TYPE_ref);
    if (!load) return;
    need_type(s, start, end, TYPE_ref);
    append_text_value(s, codes, unit_for(codes), TYPE_ref);
}

void load_hex(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    check_hex(s, start, end, flags, load);
    if (!load) return;
    uint32_t v = 0;
    hex_run(copy_text(s, start, end - 1), 0, static_cast<size_t>(end - 1 - start), &v);
    int32_t index = push_value(s);
    cell_t c{};
    integer::make_at(&c, static_cast<int32_t>(v));
    store(index, c);
}

void load_raw_string(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load) {
    static std::vector<uint32_t> codes;
    check_raw_string(s, start, end, flags, load);
    const uint8_t* t = s.bytes();
    int32_t opening = 0;
    while (t[start + opening] == '%') ++opening;
    int32_t from = start + opening + 1;
    int32_t to = s.position - opening - 1;  // the closing "}"
    if (s.has_callback() && !load) {
        fire_event(s, EV_OPEN, TYPE_string, nullptr, start, from);
        fire_event(s, EV_CLOSE, TYPE_string, nullptr, to, s.position);
    }
    s.token_start = start;
    if (!load) return;
    t = s.bytes();
    if (!decode_text(t + from, t + to, false, codes))
        throw_error(s, start, s.position, TYPE_string);
    uint32_t raw_flags = 0;
    for (const uint8_t* p = t + from; p < t + to; ++p) raw_flags |= byte_classes[*p];
    append_text_value(s, codes, unit_of(raw_flags), TYPE_string);
}

// ---- containers -------------------------------------------------------------

void finish_container(state_t& s, int32_t m, int32_t result, int32_t start, int32_t end) {
    int32_t first = m + 1;
    int32_t count = s.tail - first;
    cell_t made{};
    if (result == TYPE_point2d || result == TYPE_point3d) {
        // A point read as a paren with commas: its values must be numbers.
        float v[3] = {};
        int32_t n = result == TYPE_point3d ? 3 : 2;
        bool ok = count == n;
        for (int32_t i = 0; ok && i < n; ++i) {
            const cell_t* c = value_at(first + i);
            if (type_of(c) == TYPE_integer) v[i] = static_cast<float>(integer::get(c));
            else if (type_of(c) == TYPE_float_) v[i] = static_cast<float>(float_::get(c));
            else ok = false;
        }
        if (!ok) throw_error(s, static_cast<int32_t>(value_at(m)->data3), end, result);
        need_type(s, static_cast<int32_t>(value_at(m)->data3), end, result);
        make_point(&made, v, n);
    } else {
        if (result == TYPE_map)
            need_type(s, static_cast<int32_t>(value_at(m)->data3), end, TYPE_map);
        node_t node = alloc::alloc_cells(count > 0 ? count : 1);
        series_buffer_t* b = alloc::buffer(node);
        if (count > 0)
            std::memcpy(b->head_ptr(), value_at(first),
                        static_cast<size_t>(count) * sizeof(cell_t));
        b->tail = b->head + count * static_cast<int32_t>(sizeof(cell_t));
        if (result == TYPE_map) {
            // A map literal holds key-value pairs whose keys can be keys;
            // anything else is refused before a table is built over it.
            bool ok = count % 2 == 0;
            for (int32_t i = 0; ok && i < count; i += 2)
                ok = map::valid_key_q(type_of(value_at(first + i)));
            if (!ok) throw_error(s, static_cast<int32_t>(value_at(m)->data3), end, TYPE_map);
            collector::root_node keep(node);
            cell_t entries{TYPE_block, 0, node, 0};
            map::make_at(&made, &entries, 0);
        } else {
            block::init_value(&made, static_cast<uint32_t>(result), node);
        }
    }
    (void)start;
    store(m, made);
}

}  // namespace zuv::lexer
