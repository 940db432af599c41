#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::tuple {

namespace {

inline uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// A double result as a byte: truncated, clamped, NaN as 0 (never a cast of
// an out-of-range double).
inline uint8_t clamp_double(double d) {
    if (!(d > 0.0)) return 0;
    if (d >= 255.0) return 255;
    return static_cast<uint8_t>(d);
}

int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int32_t>(c - 'a' + 10);
    return -1;
}

cell_t refinement_word(words::id w) { return words::word(w); }

[[noreturn]] void fire_refine(words::id w, const cell_t* value) {
    cell_t word = refinement_word(w);
    fire(err::invalid_refine_arg, &word, value);
}

}  // namespace

// --- makers --------------------------------------------------------------------------

cell_t* make_at(cell_t* cell, const uint8_t* bytes, int32_t count) {
    if (count > MAX_LENGTH) count = MAX_LENGTH;
    if (count < 0) count = 0;
    uint8_t b[12] = {};
    std::memcpy(b, bytes, static_cast<size_t>(count));
    cell::begin(cell);
    std::memcpy(&cell->data1, b, 12);
    cell->header =
        TYPE_tuple | (static_cast<uint32_t>(std::max(count, MIN_LENGTH)) << LENGTH_SHIFT);
    return cell;
}

cell_t* make_in(cell_t* block, const uint8_t* bytes, int32_t count) {
    return make_at(alloc::alloc_tail_value(block), bytes, count);
}

cell_t* push(int32_t length, uint32_t word1, uint32_t word2, uint32_t word3) {
    cell_t* c = stack::push_slot();
    uint8_t b[12];
    std::memcpy(b, &word1, 4);
    std::memcpy(b + 4, &word2, 4);
    std::memcpy(b + 8, &word3, 4);
    // Bytes past the length stay zero: equality and hashing rely on it.
    if (length < MAX_LENGTH)
        std::memset(b + std::max(length, 0), 0,
                    static_cast<size_t>(MAX_LENGTH - std::max(length, 0)));
    return make_at(c, b, std::min(length, MAX_LENGTH));
}

bool load_at(const char* text, int32_t length, cell_t* cell) {
    uint8_t b[12];
    int32_t n = lexer::scan_tuple_bytes(text, length, 1, b);
    if (n < MIN_LENGTH) return false;
    make_at(cell, b, n);
    return true;
}

cell_t* from_binary(cell_t* cell, const cell_t* binary) {
    series_buffer_t* s = alloc::buffer(binary->data2);
    int32_t head = static_cast<int32_t>(binary->data1);
    int32_t n = std::clamp(s->used() - head, 0, MAX_LENGTH);
    uint8_t b[12] = {};
    if (n > 0) std::memcpy(b, s->head_ptr() + head, static_cast<size_t>(n));
    return make_at(cell, b, n);
}

cell_t* from_issue(cell_t* cell, const cell_t* issue) {
    const char* name = symbol::get_utf8(word::symbol_of(issue));
    int32_t n = static_cast<int32_t>(std::strlen(name));
    int32_t digits[8];
    if (n != 3 && n != 6 && n != 8) fire(err::invalid_data, issue);
    for (int32_t i = 0; i < n; i++) {
        digits[i] = hex_digit(static_cast<uint8_t>(name[i]));
        if (digits[i] < 0) fire(err::invalid_data, issue);
    }
    uint8_t b[4];
    if (n == 3) {
        for (int32_t i = 0; i < 3; i++) b[i] = static_cast<uint8_t>(digits[i] * 17);
        return make_at(cell, b, 3);
    }
    for (int32_t i = 0; i < n / 2; i++)
        b[i] = static_cast<uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
    return make_at(cell, b, n / 2);
}

bool zero_q(const cell_t* value) {
    return value->data1 == 0 && value->data2 == 0 && value->data3 == 0;
}

// --- arithmetic --------------------------------------------------------------------------

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    if (type_of(value1) != TYPE_tuple) {
        if (code == math_op::SUBTRACT || code == math_op::DIVIDE)
            integer::fire_not_related(type_of(value1));
        std::swap(*value1, *value2);
    }
    cell_t result = *value1;
    uint8_t* out = bytes_of(&result);
    int32_t length = length_of(value1);
    switch (type_of(value2)) {
    case TYPE_float_:
    case TYPE_percent: {
        double f = float_::get(value2);
        for (int32_t i = 0; i < length; i++)
            out[i] = clamp_double(float_::do_math_op(out[i], f, code));
        break;
    }
    case TYPE_integer:
    case TYPE_tuple: {
        bool scalar = type_of(value2) == TYPE_integer;
        if (!scalar) length = std::max(length, length_of(value2));
        for (int32_t i = 0; i < length; i++) {
            int32_t right = scalar ? integer::get(value2) : bytes_of(value2)[i];
            cell_t r{TYPE_integer, 0, 0, 0};
            bool checked =
                code == math_op::ADD || code == math_op::SUBTRACT || code == math_op::MULTIPLY;
            int32_t v = integer::do_math_op(out[i], right, code, checked ? &r : nullptr);
            if (checked && type_of(&r) != TYPE_integer) v = float_::get(&r) > 0 ? 255 : 0;
            out[i] = clamp_byte(v);
        }
        set_length(&result, length);
        break;
    }
    default: integer::fire_invalid_type(value2);
    }
    *value1 = result;
}

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }
void and_t() { do_math(math_op::AND); }
void or_t() { do_math(math_op::OR); }
void xor_t() { do_math(math_op::XOR); }

cell_t* complement(cell_t* value) {
    uint8_t* b = bytes_of(value);
    for (int32_t i = 0, n = length_of(value); i < n; i++) b[i] = static_cast<uint8_t>(~b[i]);
    return value;
}

// --- make and to ---------------------------------------------------------------------------

cell_t* make(cell_t*, cell_t* spec, int32_t type) {
    cell_t result{};
    switch (type_of(spec)) {
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        cell_t b = *spec;
        int32_t n = block::rs_length_q(&b);
        if (n > MAX_LENGTH) integer::fire_bad_to_arg(type, spec);
        cell_t* h = block::rs_head(&b);
        uint8_t bytes[12] = {};
        for (int32_t i = 0; i < n; i++) {
            double v;
            switch (type_of(h + i)) {
            case TYPE_integer:
            case TYPE_char_: v = static_cast<int32_t>(h[i].data2); break;
            case TYPE_float_: v = std::trunc(float_::get(h + i)); break;
            default: integer::fire_bad_to_arg(type, spec);
            }
            if (!(v >= 0.0 && v <= 255.0)) integer::fire_bad_to_arg(type, spec);
            bytes[i] = static_cast<uint8_t>(v);
        }
        make_at(&result, bytes, n);
        break;
    }
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: {
        cell_t text = *spec;
        uint8_t bytes[12];
        int32_t n =
            lexer::scan_tuple_bytes(string::rs_head(&text), string::rs_length_q(&text),
                                    static_cast<int32_t>(string::buffer_of(&text)->unit()), bytes);
        if (n < MIN_LENGTH) integer::fire_bad_to_arg(type, spec);
        make_at(&result, bytes, n);
        break;
    }
    case TYPE_issue: from_issue(&result, spec); break;
    case TYPE_binary: from_binary(&result, spec); break;
    case TYPE_tuple: result = *spec; break;
    default: integer::fire_bad_to_arg(type, spec);
    }
    *stack::arguments = result;
    return stack::arguments;
}

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    if (seed) {
        random::srand(static_cast<int32_t>(value->data1 ^ value->data2 ^ value->data3));
        value->header = TYPE_unset;
        return value;
    }
    uint8_t* b = bytes_of(value);
    for (int32_t i = 0, n = length_of(value); i < n; i++)
        if (b[i]) b[i] = static_cast<uint8_t>(random::int_uniform(secure, b[i] + 1) - 1);
    return value;
}

// --- text ------------------------------------------------------------------------------------

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    char text[48];
    int n = 0;
    const uint8_t* b = bytes_of(value);
    for (int32_t i = 0, len = length_of(value); i < len; i++)
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), i ? ".%u" : "%u", b[i]);
    string::append_bytes(buffer, text, n);
    return limit - n;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t) {
    if (type_of(value2) != TYPE_tuple) return -2;
    const uint8_t* a = bytes_of(value1);
    const uint8_t* b = bytes_of(value2);
    int32_t n = std::max(length_of(value1), length_of(value2));
    for (int32_t i = 0; i < n; i++)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// --- access ------------------------------------------------------------------------------------

int32_t length_q(cell_t* value) { return length_of(value); }

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    if (type_of(index_cell) != TYPE_integer || index < 1 || index > length_of(value))
        fire(err::out_of_range, index_cell);
    return integer::push(bytes_of(value)[index - 1]);
}

namespace {

// Stores at index (1-based): an integer clamped, none cuts the tuple there.
void store(cell_t* value, int32_t index, const cell_t* index_cell, const cell_t* data) {
    int32_t length = length_of(value);
    if (index < 1 || index > length) fire(err::out_of_range, index_cell);
    if (type_of(data) == TYPE_integer) {
        bytes_of(value)[index - 1] = clamp_byte(integer::get(data));
    } else if (type_of(data) == TYPE_none) {
        uint8_t* b = bytes_of(value);
        for (int32_t i = index - 1; i < MAX_LENGTH; i++) b[i] = 0;
        set_length(value, std::max(index - 1, MIN_LENGTH));
    } else {
        integer::fire_invalid_type(data);
    }
}

}  // namespace

cell_t* poke(cell_t* value, int32_t index, cell_t* index_cell, cell_t* data) {
    store(value, index, index_cell, data);
    return data;
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t*, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    if (type_of(element) != TYPE_integer) integer::fire_invalid_type(element);
    int32_t index = integer::get(element);
    if (!value) return pick(parent, index, element);
    // The owner of the tuple's cell learns of the change through the path's
    // evaluation, which holds that cell.
    store(parent, index, element, value);
    return value;
}

cell_t* reverse(cell_t* value, cell_t* part, cell_t* skip) {
    int32_t length = length_of(value);
    int32_t n = length;
    if (part) {
        if (type_of(part) != TYPE_integer) fire_refine(words::id::part, part);
        n = integer::get(part);
        if (n < 0) fire(err::out_of_range, part);
        n = std::min(n, length);
    }
    int32_t step = 1;
    if (skip) {
        if (type_of(skip) != TYPE_integer) fire_refine(words::id::skip, skip);
        step = integer::get(skip);
        if (step == n) return value;
        if (step < 1) fire(err::out_of_range, skip);
        if (step > n || n % step != 0) fire_refine(words::id::skip, skip);
    }
    uint8_t* b = bytes_of(value);
    uint8_t copy[12];
    std::memcpy(copy, b, 12);
    int32_t records = n / step;
    for (int32_t r = 0; r < records; r++)
        std::memcpy(b + r * step, copy + (records - 1 - r) * step, static_cast<size_t>(step));
    return value;
}

void init() {
    datatype::record_t r(TYPE_tuple, 0, "tuple!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_add>(add);
    r.own<ACT_divide>(divide);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_remainder>(remainder);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_complement>(complement);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    r.own<ACT_length_q>(length_q);
    r.own<ACT_pick>(pick);
    r.own<ACT_reverse>(reverse);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::tuple
