#include "datatypes/char.h"

#include <cmath>
#include <cstring>

#include "datatypes/action_types.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::char_ {

namespace {

inline void put(cell_t* c, uint32_t code_point) {
    c->header = TYPE_char_;
    c->data2 = code_point;
}

// Appends C text and returns how many characters that was.
int32_t append_text(cell_t* buffer, const char* text) {
    string::concatenate_literal(buffer, text);
    return static_cast<int32_t>(std::strlen(text));
}

}  // namespace

cell_t* make_in(cell_t* block, uint32_t code_point) {
    cell_t* c = alloc::alloc_tail_value(block);
    put(c, code_point);
    return c;
}

cell_t* push(uint32_t code_point) {
    cell_t* c = stack::push_slot();
    put(c, code_point);
    return c;
}

// Returns the characters written. A character molds as it does inside a
// string.
static int32_t escape(cell_t* buffer, uint32_t c, bool all) {
    string::caret_text e = string::caret_escape(c, all);
    if (e.text[0] != 0) return append_text(buffer, e.text);
    string::append_char(buffer, c);
    return 1;
}

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    int32_t right;
    switch (type_of(value2)) {
    case TYPE_char_:
    case TYPE_integer: right = static_cast<int32_t>(value2->data2); break;
    case TYPE_float_: {
        double d = cell::get_float(value2);
        // Beyond the integer range no result can be a code point.
        if (!(d < 2147483648.0 && d > -2147483649.0)) fire(err::overflow);
        right = static_cast<int32_t>(d);
        break;
    }
    default:
        // vector! takes a character through its scalar arithmetic once it exists.
        integer::fire_invalid_type(value2);
    }
    int32_t left = static_cast<int32_t>(value1->data2);
    cell_t scratch = {TYPE_integer, 0, 0, 0};
    int32_t r =
        integer::do_math_op(left, right, code, code == math_op::DIVIDE ? nullptr : &scratch);
    if (type_of(&scratch) != TYPE_integer || r < 0 || static_cast<uint32_t>(r) > MAX_CODE_POINT)
        fire(err::overflow);
    value1->data2 = static_cast<uint32_t>(r);
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t) {
    uint32_t cp = 0;
    switch (type_of(spec)) {
    case TYPE_char_:
    case TYPE_integer: {
        int32_t v = static_cast<int32_t>(spec->data2);
        if (v < 0 || static_cast<uint32_t>(v) > MAX_CODE_POINT) fire(err::out_of_range, spec);
        cp = static_cast<uint32_t>(v);
        break;
    }
    case TYPE_float_:
    case TYPE_percent: {
        double d = std::trunc(cell::get_float(spec));
        if (!(d >= 0.0 && d <= MAX_CODE_POINT)) fire(err::out_of_range, spec);
        cp = static_cast<uint32_t>(d);
        break;
    }
    case TYPE_binary: {
        series_buffer_t* s = string::buffer_of(spec);
        int64_t available = s->used() - static_cast<int64_t>(spec->data1);
        if (available <= 0) integer::fire_bad_to_arg(TYPE_char_, spec);
        int64_t count = available;
        int32_t c = unicode::decode_utf8_char(s->head_ptr() + spec->data1, &count);
        if (c < 0) integer::fire_bad_to_arg(TYPE_char_, spec);
        cp = static_cast<uint32_t>(c);
        break;
    }
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: {
        if (string::rs_length_q(spec) == 0) integer::fire_bad_to_arg(TYPE_char_, spec);
        series_buffer_t* s = string::buffer_of(spec);
        cp = string::get_char(string::rs_head(spec), s->unit());
        break;
    }
    default: integer::fire_bad_to_arg(TYPE_char_, spec);
    }
    put(proto, cp);
    return proto;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    string::append_char(buffer, get(value));
    return limit - 1;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    int32_t n = append_text(buffer, "#\"");
    n += escape(buffer, get(value), how.all);
    n += append_text(buffer, "\"");
    return how.limit - n;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    uint8_t t2 = type_of(value2);
    if ((op == 2 || op == 12) && t2 != TYPE_char_) return 1;
    if (t2 != TYPE_char_ && t2 != TYPE_integer) return -2;
    int64_t a = get(value1);
    int64_t b = t2 == TYPE_char_ ? static_cast<int64_t>(value2->data2)
                                 : static_cast<int32_t>(value2->data2);
    return (a > b) - (a < b);
}

void add() { do_math(math_op::ADD); }
void divide() { do_math(math_op::DIVIDE); }
void multiply() { do_math(math_op::MULTIPLY); }
void remainder() { do_math(math_op::REMAINDER); }
void subtract() { do_math(math_op::SUBTRACT); }
void and_t() { do_math(math_op::AND); }
void or_t() { do_math(math_op::OR); }
void xor_t() { do_math(math_op::XOR); }

void init() {
    datatype::record_t r(TYPE_char_, TYPE_integer, "char!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_add>(add);
    r.own<ACT_divide>(divide);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_remainder>(remainder);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    r.inherit({ACT_random, ACT_absolute, ACT_even_q, ACT_odd_q});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::char_
