#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/compiled.h"
#include "runtime/dtoa.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::vector {

namespace {

cell_t datatype_cell(int32_t type) {
    cell_t c{};
    datatype::make_at(&c, type);
    return c;
}

[[noreturn]] void fire_bad_make(const cell_t* spec) {
    cell_t t = datatype_cell(TYPE_vector);
    fire(err::bad_make_arg, &t, spec);
}

inline int32_t head_of(const cell_t* v) { return static_cast<int32_t>(v->data1); }

int32_t clamped_head(const cell_t* v) {
    return std::clamp(head_of(v), 0, series::rs_abs_length_q(v));
}

// An integer or character element read as a 32-bit value.
int32_t read_int(const uint8_t* p, uint8_t type, uint32_t size) {
    switch (size) {
    case 1: return type == TYPE_char_ ? *p : static_cast<int8_t>(*p);
    case 2: {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return type == TYPE_char_ ? u : static_cast<int16_t>(u);
    }
    default: {
        int32_t i;
        std::memcpy(&i, p, 4);
        return i;
    }
    }
}

void write_int(uint8_t* p, uint32_t size, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    switch (size) {
    case 1: *p = static_cast<uint8_t>(u); break;
    case 2: {
        auto h = static_cast<uint16_t>(u);
        std::memcpy(p, &h, 2);
        break;
    }
    default: std::memcpy(p, &u, 4);
    }
}

double read_double(const uint8_t* p, uint32_t size) {
    if (size == 8) {
        double d;
        std::memcpy(&d, p, 8);
        return d;
    }
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

void write_double(uint8_t* p, uint32_t size, double d) {
    if (size == 8) {
        std::memcpy(p, &d, 8);
        return;
    }
    auto f = static_cast<float>(d);
    std::memcpy(p, &f, 4);
}

// Room for n more bytes at the tail; the buffer, which may have moved.
series_buffer_t* ensure_room(cell_t* v, int64_t n) {
    series_buffer_t* s = buffer_of(v);
    int64_t need = static_cast<int64_t>(s->tail) + n;
    if (need > static_cast<int64_t>(alloc::SERIES_LIMIT)) fire(err::no_memory);
    if (need > s->size) {
        int64_t grown =
            std::min<int64_t>(2 * static_cast<int64_t>(s->size) + n, alloc::SERIES_LIMIT);
        s = alloc::expand_series_copy(s, grown);
    }
    return s;
}

// The values that insert, append and change write: a block's from its
// head (at most limit of them when limit >= 0), a vector's elements, or
// the value itself; each must be of the element type.
std::vector<cell_t> gather(const cell_t* v, cell_t* value, int64_t limit, bool vectors) {
    std::vector<cell_t> out;
    uint8_t t = type_of(value);
    uint8_t type = element_type(v);
    if (t == TYPE_block || t == TYPE_paren || t == TYPE_hash) {
        cell_t b = *value;
        int64_t n = block::rs_length_q(&b);
        if (limit >= 0 && limit < n) n = limit;
        const cell_t* items = block::rs_head(&b);
        out.assign(items, items + n);
    } else if (t == TYPE_vector && vectors) {
        int64_t n = rs_length_q(value);
        if (limit >= 0 && limit < n) n = limit;
        out.resize(static_cast<size_t>(n));
        uint32_t size = element_size(value);
        for (int64_t i = 0; i < n; i++)
            get_value(rs_at(value, static_cast<int32_t>(i)), element_type(value), size,
                      &out[static_cast<size_t>(i)]);
    } else {
        out.push_back(*value);
    }
    for (const cell_t& c : out)
        if (type_of(&c) != type) fire(err::invalid_arg, &c);
    return out;
}

// Writes the values at element index at, then repeats them dup times.
void write_values(cell_t* v, int32_t at, const std::vector<cell_t>& values, int32_t dup) {
    if (values.empty()) return;
    uint32_t size = element_size(v);
    uint8_t* p = buffer_of(v)->head_ptr() + static_cast<int64_t>(at) * size;
    for (size_t i = 0; i < values.size(); i++) set_value(p + i * size, size, &values[i]);
    alloc::fill_pattern(p, static_cast<int32_t>(values.size() * size), dup);
}

// The replaced elements from at become count elements (not yet written):
// the rest moves up or down and the tail with it.
void resize_range(cell_t* v, int32_t at, int64_t replaced, int64_t count) {
    uint32_t size = element_size(v);
    int64_t grow = (count - replaced) * size;
    series_buffer_t* s = grow > 0 ? ensure_room(v, grow) : buffer_of(v);
    uint8_t* p = s->head_ptr() + static_cast<int64_t>(at) * size;
    size_t after = static_cast<size_t>(s->used() - (static_cast<int64_t>(at) + replaced) * size);
    std::memmove(p + count * size, p + replaced * size, after);
    s->tail += static_cast<int32_t>(grow);
}

int64_t checked_bytes(int64_t count, int32_t dup, uint32_t size) {
    int64_t total = count * dup;
    if (total > static_cast<int64_t>(alloc::SERIES_LIMIT) / static_cast<int64_t>(size))
        fire(err::no_memory);
    return total * size;
}

}  // namespace

// --- raw elements -------------------------------------------------------------------------------

int32_t rs_length_q(const cell_t* v) {
    int32_t n = series::rs_abs_length_q(v) - head_of(v);
    return n < 0 ? 0 : n;
}

cell_t* make_at(cell_t* cell, int64_t capacity, uint8_t type, uint32_t size) {
    if (capacity < 1) capacity = 1;
    if (capacity > static_cast<int64_t>(alloc::SERIES_LIMIT) / size) fire(err::no_memory);
    cell::begin(cell);
    node_t node = alloc::alloc_series(capacity, static_cast<int32_t>(size), 0);
    cell->data1 = 0;
    cell->data2 = node;
    cell->data3 = type;
    cell->header = TYPE_vector;
    return cell;
}

cell_t* get_value(const uint8_t* p, uint8_t type, uint32_t size, cell_t* out) {
    if (float_elements_q(type)) {
        *out = cell_t{type, 0, 0, 0};
        cell::put_float(out, read_double(p, size));
    } else {
        *out = cell_t{type, 0, static_cast<uint32_t>(read_int(p, type, size)), 0};
    }
    return out;
}

void set_value(uint8_t* p, uint32_t size, const cell_t* value) {
    switch (type_of(value)) {
    case TYPE_char_:
    case TYPE_integer: write_int(p, size, static_cast<int32_t>(value->data2)); break;
    case TYPE_float_:
    case TYPE_percent: write_double(p, size, cell::get_float(value)); break;
    default: integer::fire_invalid_type(value);
    }
}

void rs_append(cell_t* v, const cell_t* value) {
    if (type_of(value) != element_type(v)) fire(err::invalid_arg, value);
    uint32_t size = element_size(v);
    cell_t copy = *value;
    set_value(alloc::alloc_tail_unit(buffer_of(v), static_cast<int32_t>(size)), size, &copy);
}

cell_t* to_block(const cell_t* v, cell_t* out) {
    cell_t self = *v;
    collector::root_cell keep(&self);
    int32_t n = rs_length_q(&self);
    block::make_at(out, std::max(n, 1));
    uint8_t type = element_type(&self);
    uint32_t size = element_size(&self);
    for (int32_t i = 0; i < n; i++) {
        cell_t e;
        get_value(rs_at(&self, i), type, size, &e);
        block::rs_append(out, &e);
    }
    return out;
}

int32_t compare_elements(const uint8_t* a, const uint8_t* b, uint8_t type, uint32_t size) {
    if (float_elements_q(type)) {
        double x = read_double(a, size), y = read_double(b, size);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    int32_t x = read_int(a, type, size), y = read_int(b, type, size);
    if (type == TYPE_char_)
        return static_cast<uint32_t>(x) < static_cast<uint32_t>(y) ? -1 : x != y ? 1 : 0;
    return x < y ? -1 : x > y ? 1 : 0;
}

// --- arithmetic ----------------------------------------------------------------------------------

namespace {

int32_t combine_int(int32_t left, int32_t right, int32_t code) {
    switch (code) {
    case math_op::ADD:
        return static_cast<int32_t>(static_cast<uint32_t>(left) + static_cast<uint32_t>(right));
    case math_op::SUBTRACT:
        return static_cast<int32_t>(static_cast<uint32_t>(left) - static_cast<uint32_t>(right));
    case math_op::MULTIPLY:
        return static_cast<int32_t>(static_cast<uint32_t>(left) * static_cast<uint32_t>(right));
    default: return integer::do_math_op(left, right, code, nullptr);
    }
}

double scalar_of(const cell_t* scalar) {
    switch (type_of(scalar)) {
    case TYPE_integer: return integer::get(scalar);
    case TYPE_float_:
    case TYPE_percent: return float_::get(scalar);
    default: fire(err::not_done);
    }
}

void math_scalar(cell_t* v, const cell_t* scalar, int32_t code, bool scalar_first) {
    uint8_t type = element_type(v);
    uint32_t size = element_size(v);
    int32_t n = rs_length_q(v);
    double d = scalar_of(scalar);
    if (float_elements_q(type)) {
        if (code > math_op::REMAINDER) float_::do_math_op(0.0, 0.0, code);  // cannot-use
        if (!scalar_first && (((code == math_op::ADD || code == math_op::SUBTRACT) && d == 0.0) ||
                              ((code == math_op::MULTIPLY || code == math_op::DIVIDE) && d == 1.0)))
            return;
        for (int32_t i = 0; i < n; i++) {
            uint8_t* p = rs_at(v, i);
            double e = read_double(p, size);
            write_double(p, size,
                         scalar_first ? float_::do_math_op(d, e, code)
                                      : float_::do_math_op(e, d, code));
        }
        return;
    }
    int32_t s = type_of(scalar) == TYPE_integer ? integer::get(scalar) : integer::from_float(d);
    if (!scalar_first && (((code == math_op::ADD || code == math_op::SUBTRACT) && s == 0) ||
                          ((code == math_op::MULTIPLY || code == math_op::DIVIDE) && s == 1)))
        return;
    for (int32_t i = 0; i < n; i++) {
        uint8_t* p = rs_at(v, i);
        int32_t e = read_int(p, type, size);
        write_int(p, size, scalar_first ? combine_int(s, e, code) : combine_int(e, s, code));
    }
}

// A new vector of the first's element type, the larger size and the
// shorter length.
void math_vectors(cell_t* result, const cell_t* a, const cell_t* b, int32_t code) {
    uint8_t type = element_type(a);
    if (element_type(b) != type) fire(err::not_same_type);
    uint32_t size_a = element_size(a), size_b = element_size(b);
    uint32_t size = std::max(size_a, size_b);
    int32_t n = std::min(rs_length_q(a), rs_length_q(b));
    bool floats = float_elements_q(type);
    if (floats && code > math_op::REMAINDER) float_::do_math_op(0.0, 0.0, code);  // cannot-use
    cell_t r;
    make_at(&r, n, type, size);
    collector::root_cell keep(&r);
    uint8_t* out =
        alloc::alloc_tail_unit(buffer_of(&r), static_cast<int32_t>(static_cast<int64_t>(n) * size));
    for (int32_t i = 0; i < n; i++, out += size) {
        const uint8_t* p = rs_at(a, i);
        const uint8_t* q = rs_at(b, i);
        if (floats)
            write_double(out, size,
                         float_::do_math_op(read_double(p, size_a), read_double(q, size_b), code));
        else
            write_int(out, size,
                      combine_int(read_int(p, type, size_a), read_int(q, type, size_b), code));
    }
    *result = r;
}

}  // namespace

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    if (type_of(value1) != TYPE_vector) {
        math_scalar(value2, value1, code, true);
        *value1 = *value2;
        return;
    }
    if (type_of(value2) == TYPE_vector) {
        math_vectors(value1, value1, value2, code);
        return;
    }
    math_scalar(value1, value2, code, false);
}

namespace {

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }
void or_t() { do_math(math_op::OR); }
void and_t() { do_math(math_op::AND); }
void xor_t() { do_math(math_op::XOR); }

// The element type of a spec word, 0 when it names none.
uint8_t spec_type(const cell_t* word) {
    int32_t s = symbol::resolve(word::symbol_of(word));
    auto is = [s](words::id w) {
        return s == symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
    };
    if (is(words::id::integer_t)) return TYPE_integer;
    if (is(words::id::char_t)) return TYPE_char_;
    if (is(words::id::float_t)) return TYPE_float_;
    if (is(words::id::percent_t)) return TYPE_percent;
    return 0;
}

bool size_allowed_q(uint8_t type, int32_t bits) {
    return float_elements_q(type) ? bits == 32 || bits == 64
                                  : bits == 8 || bits == 16 || bits == 32;
}

}  // namespace

// --- make ----------------------------------------------------------------------------------------

cell_t* make(cell_t*, cell_t* spec, int32_t) {
    cell_t result{};
    collector::root_cell keep(&result);
    uint8_t t = type_of(spec);
    if (t == TYPE_integer || t == TYPE_float_) {
        int64_t n = t == TYPE_integer ? integer::get(spec) : integer::from_float(float_::get(spec));
        make_at(&result, n, TYPE_integer, 4);
        if (n > 0) {
            uint8_t* p = alloc::alloc_tail_unit(buffer_of(&result), static_cast<int32_t>(n * 4));
            std::memset(p, 0, static_cast<size_t>(n) * 4);
        }
    } else if (t == TYPE_block) {
        cell_t b = *spec;
        int32_t length = block::rs_length_q(&b);
        cell_t first = length ? *block::rs_head(&b) : cell_t{TYPE_none, 0, 0, 0};
        uint8_t type = TYPE_integer;
        uint32_t size = 4;
        int64_t count = -1;
        cell_t values{TYPE_none, 0, 0, 0};
        if (type_of(&first) == TYPE_word) {
            type = spec_type(&first);
            if (type == 0 || length < 2) fire_bad_make(spec);
            size = default_size(type);
            int32_t i = 1;
            cell_t item = block::rs_head(&b)[i];
            if (type_of(&item) == TYPE_integer) {
                int32_t bits = integer::get(&item);
                if (!size_allowed_q(type, bits)) fire_bad_make(spec);
                size = static_cast<uint32_t>(bits / 8);
                i++;
            }
            if (i < length) {
                item = block::rs_head(&b)[i];
                if (type_of(&item) == TYPE_integer) {
                    count = integer::get(&item);
                    if (++i < length) item = block::rs_head(&b)[i];
                }
                if (i < length) {
                    if (type_of(&item) != TYPE_block) fire(err::invalid_spec_field, &item);
                    values = item;
                    i++;
                }
                if (i < length) fire(err::invalid_spec_field, block::rs_head(&b) + i);
            }
        } else if (length) {
            type = type_of(&first);
            if (type != TYPE_char_ && type != TYPE_integer && !float_elements_q(type))
                integer::fire_invalid_type(&first);
            size = default_size(type);
            values = b;
        }
        int32_t initial = type_of(&values) == TYPE_block ? block::rs_length_q(&values) : 0;
        make_at(&result, std::max<int64_t>(count, initial), type, size);
        for (int32_t i = 0; i < initial; i++) {
            cell_t item = block::rs_head(&values)[i];
            rs_append(&result, &item);
        }
        if (count > initial) {
            int64_t bytes = (count - initial) * size;
            uint8_t* p = alloc::alloc_tail_unit(buffer_of(&result), static_cast<int32_t>(bytes));
            std::memset(p, 0, static_cast<size_t>(bytes));
        }
    } else {
        fire(err::not_done);
    }
    *stack::arguments = result;
    return stack::arguments;
}

// --- text ----------------------------------------------------------------------------------------

namespace {

const char* type_word_text(uint8_t type) {
    switch (type) {
    case TYPE_char_: return "char!";
    case TYPE_integer: return "integer!";
    case TYPE_float_: return "float!";
    default: return "percent!";
    }
}

int32_t text_length(const cell_t* buffer) { return string::rs_length_q(buffer); }

// The elements from the head, separated by spaces; characters molded as
// char! values when mold is set.
int32_t write_elements(const cell_t* v, cell_t* buffer, bool part, int32_t limit, bool mold) {
    uint8_t type = element_type(v);
    uint32_t size = element_size(v);
    int32_t n = rs_length_q(v);
    for (int32_t i = 0; i < n; i++) {
        if (part && limit <= 0) break;
        int32_t before = text_length(buffer);
        if (i) string::append_char(buffer, ' ');
        const uint8_t* p = rs_at(v, i);
        switch (type) {
        case TYPE_char_: {
            uint32_t c = static_cast<uint32_t>(read_int(p, type, size));
            if (mold) string::concatenate_literal(buffer, "#\"");
            string::append_escaped_char(buffer, c, string::ESCAPE_CARET, false);
            if (mold) string::append_char(buffer, '"');
            break;
        }
        case TYPE_integer:
            string::concatenate_literal(buffer, integer::form_signed(read_int(p, type, size)).text);
            break;
        case TYPE_float_:
            // Molded text loads back as the same element: the shortest
            // digits for the element's own size, where form rounds.
            if (mold)
                string::concatenate_literal(
                    buffer, dtoa::format(read_double(p, size), 0, true, size == 4).chars);
            else
                string::concatenate_literal(
                    buffer,
                    float_::form_float(read_double(p, size), size == 8 ? float_::form_kind::FLOAT
                                                                       : float_::form_kind::SINGLE)
                        .text);
            break;
        default:
            if (mold) {
                string::concatenate_literal(
                    buffer, dtoa::format_scaled(read_double(p, size), 2, size == 4).chars);
                string::append_char(buffer, '%');
            } else {
                string::concatenate_literal(
                    buffer, float_::form_float(read_double(p, size) * 100.0,
                                               size == 8 ? float_::form_kind::PERCENT
                                                         : float_::form_kind::SINGLE_PERCENT)
                                .text);
            }
        }
        limit -= text_length(buffer) - before;
    }
    return limit;
}

}  // namespace

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    cell_t self = *value;
    return write_elements(&self, buffer, part, limit, false);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    cell_t self = *value;
    int32_t before = text_length(buffer);
    if (!how.only) string::concatenate_literal(buffer, "make vector! [");
    uint8_t type = element_type(&self);
    bool short_form = rs_length_q(&self) > 0 && element_size(&self) == default_size(type);
    if (!short_form) {
        char head[32];
        std::snprintf(head, sizeof head, "%s %u [", type_word_text(type), element_size(&self) * 8);
        string::concatenate_literal(buffer, head);
    }
    how.limit -= text_length(buffer) - before;
    how.limit = write_elements(&self, buffer, how.part, how.limit, true);
    before = text_length(buffer);
    if (!short_form) string::append_char(buffer, ']');
    if (!how.only) string::append_char(buffer, ']');
    return how.limit - (text_length(buffer) - before);
}

// --- comparison ----------------------------------------------------------------------------------

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_vector) return -2;
    if (element_type(value1) != element_type(value2)) fire(err::not_same_type);
    bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == 9) return same ? 0 : 1;
    if (same) return 0;
    int32_t n1 = rs_length_q(value1), n2 = rs_length_q(value2);
    if (n1 != n2 && (op == 0 || op == 1 || op == 2 || op == 12)) return 1;
    uint8_t type = element_type(value1);
    uint32_t s1 = element_size(value1), s2 = element_size(value2);
    for (int32_t i = 0, n = std::min(n1, n2); i < n; i++) {
        int32_t r;
        if (float_elements_q(type)) {
            double a = read_double(rs_at(value1, i), s1), b = read_double(rs_at(value2, i), s2);
            r = a < b ? -1 : a > b ? 1 : 0;
        } else {
            int64_t a = read_int(rs_at(value1, i), type, s1),
                    b = read_int(rs_at(value2, i), type, s2);
            if (type == TYPE_char_) a &= 0xFFFFFFFF, b &= 0xFFFFFFFF;
            r = a < b ? -1 : a > b ? 1 : 0;
        }
        if (r != 0) return r;
    }
    return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
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
    std::vector<cell_t> values = gather(&self, value, part >= 0 ? part : -1, false);
    uint32_t size = element_size(&self);
    int64_t bytes = checked_bytes(static_cast<int64_t>(values.size()), dup, size);
    int32_t at = append_ ? series::rs_abs_length_q(&self) : head_of(&self);
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self,
                             append_ ? series::change_word::append : series::change_word::insert,
                             value, at, 0);
        self.data1 = static_cast<uint32_t>(clamped_head(&self));
        at = append_ ? series::rs_abs_length_q(&self) : head_of(&self);
    }
    int32_t total = static_cast<int32_t>(bytes / size);
    if (bytes > 0) {
        resize_range(&self, at, 0, total);
        write_values(&self, at, values, dup);
    }
    if (owned)
        series::owner_signal(
            &self, append_ ? series::change_word::appended : series::change_word::inserted, value,
            at, total);
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
    std::vector<cell_t> values = gather(&self, value, -1, true);
    uint32_t size = element_size(&self);
    int64_t bytes = checked_bytes(static_cast<int64_t>(values.size()), dup, size);
    int64_t total = bytes / size;
    int32_t at = head_of(&self);
    int32_t left = series::rs_abs_length_q(&self) - at;
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self, series::change_word::change, value, at, left);
        at = clamped_head(&self);
        self.data1 = static_cast<uint32_t>(at);
        left = series::rs_abs_length_q(&self) - at;
    }
    int64_t replaced = part >= 0 ? std::min<int64_t>(part, left) : std::min<int64_t>(total, left);
    resize_range(&self, at, replaced, total);
    write_values(&self, at, values, dup);
    if (owned)
        series::owner_signal(&self, series::change_word::changed, value, at,
                             static_cast<int32_t>(total));
    self.data1 =
        static_cast<uint32_t>(std::min<int64_t>(at + total, series::rs_abs_length_q(&self)));
    *stack::arguments = self;
    return stack::arguments;
}

void init() {
    datatype::record_t r(TYPE_vector, TYPE_string, "vector!");
    r.own<ACT_make>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.own<ACT_add>(add);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_divide>(divide);
    r.own<ACT_remainder>(remainder);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_xor_t>(xor_t);
    r.own<ACT_append>(insert);
    r.own<ACT_insert>(insert);
    r.own<ACT_change>(change);
    r.inherit({2, 3, 7, 26, 27, 55});
    r.inherit_range(29, 34);
    r.inherit_range(36, 40);
    r.inherit_range(42, 46);
    r.inherit_range(48, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::vector
