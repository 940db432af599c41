#include "datatypes/pair.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point2d.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::pair {

namespace {

bool number_q(const cell_t* c) { return type_of(c) == TYPE_integer || type_of(c) == TYPE_float_; }

// Scans "<int>x<int>" (either letter case, optional signs); false when the
// text is not a pair.
bool scan_pair_text(cell_t* text, int32_t* x, int32_t* y) {
    char buf[64];
    if (integer::read_ascii(text, buf, sizeof buf) < 0) return false;
    char* end = nullptr;
    long a = std::strtol(buf, &end, 10);
    if (end == buf || (*end != 'x' && *end != 'X')) return false;
    char* second = end + 1;
    if (*second == ' ' || *second == '+' || *second == '\0') return false;
    long b = std::strtol(second, &end, 10);
    if (end == second || *end != '\0') return false;
    if (a < INT32_MIN || a > INT32_MAX || b < INT32_MIN || b > INT32_MAX) return false;
    *x = static_cast<int32_t>(a);
    *y = static_cast<int32_t>(b);
    return true;
}

int32_t coordinate_of(const cell_t* c) {
    return type_of(c) == TYPE_integer ? integer::get(c) : coordinate_from_float(float_::get(c), c);
}

cell_t* result_pair(int32_t x, int32_t y) { return make_at(stack::arguments, x, y); }

}  // namespace

cell_t* make_in(cell_t* block, int32_t x, int32_t y) {
    return make_at(alloc::alloc_tail_value(block), x, y);
}

cell_t* push(int32_t x, int32_t y) { return make_at(stack::push_slot(), x, y); }

void to_point2d(cell_t* cell) {
    float x = static_cast<float>(get_x(cell)), y = static_cast<float>(get_y(cell));
    point2d::make_at(cell, x, y);
}

int32_t coordinate_from_float(double d, const cell_t* value) {
    // A double outside the range converts with undefined behaviour: refuse it.
    if (!std::isfinite(d) || d >= 2147483648.0 || d <= -2147483649.0) fire(err::invalid_arg, value);
    return static_cast<int32_t>(d);
}

int32_t path_index(const cell_t* word, const cell_t* path) {
    int32_t sym = symbol::resolve(word::symbol_of(word));
    if (sym == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::x)))) return 1;
    if (sym == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::y)))) return 2;
    fire(err::invalid_path, path, word);
}

// --- arithmetic --------------------------------------------------------------------

namespace {

// Redoes the operation in floats: the pair (and a pair operand) become points.
void promote(int32_t code) {
    cell_t* value2 = stack::arguments + 1;
    to_point2d(stack::arguments);
    if (type_of(value2) == TYPE_pair) to_point2d(value2);
    point2d::do_math(code);
}

}  // namespace

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    int32_t x2, y2;
    switch (type_of(value2)) {
    case TYPE_integer: x2 = y2 = integer::get(value2); break;
    case TYPE_float_:
    case TYPE_percent: {
        double f = float_::get(value2);
        if (code == math_op::MULTIPLY || code == math_op::DIVIDE) {
            if (std::isnan(f) || (code == math_op::MULTIPLY && std::isinf(f)))
                fire(err::invalid_arg, value2);
            double x = get_x(value1), y = get_y(value1);
            double rx = code == math_op::MULTIPLY ? x * f : x / f;
            double ry = code == math_op::MULTIPLY ? y * f : y / f;
            point2d::make_at(value1, static_cast<float>(rx), static_cast<float>(ry));
            return;
        }
        x2 = y2 = coordinate_from_float(f, value2);
        break;
    }
    case TYPE_pair:
        x2 = get_x(value2);
        y2 = get_y(value2);
        break;
    case TYPE_point2d:
        to_point2d(value1);
        point2d::do_math(code);
        return;
    default: integer::fire_invalid_type(value2);
    }
    cell_t rx{TYPE_integer, 0, 0, 0}, ry{TYPE_integer, 0, 0, 0};
    integer::do_math_op(get_x(value1), x2, code, &rx);
    integer::do_math_op(get_y(value1), y2, code, &ry);
    if (type_of(&rx) != TYPE_integer || type_of(&ry) != TYPE_integer) {
        promote(code);
        return;
    }
    result_pair(integer::get(&rx), integer::get(&ry));
}

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }
void and_t() { do_math(math_op::AND); }
void or_t() { do_math(math_op::OR); }
void xor_t() { do_math(math_op::XOR); }

void absolute() {
    cell_t* v = stack::arguments;
    result_pair(integer::abs(get_x(v)), integer::abs(get_y(v)));
}

cell_t* negate(cell_t* value) {
    int32_t x = get_x(value), y = get_y(value);
    if (x == INT32_MIN || y == INT32_MIN) fire(err::overflow);
    return make_at(value, -x, -y);
}

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    if (scale && type_of(scale) == TYPE_money) integer::fire_not_related(TYPE_money);
    cell_t sx{}, sy{};
    cell_t* px = scale;
    cell_t* py = scale;
    if (scale && type_of(scale) == TYPE_pair) {
        integer::make_at(&sx, get_x(scale));
        integer::make_at(&sy, get_y(scale));
        px = &sx;
        py = &sy;
    }
    int32_t coords[2] = {get_x(value), get_y(value)};
    cell_t* scales[2] = {px, py};
    for (int i = 0; i < 2; i++) {
        cell_t c{TYPE_integer, 0, static_cast<uint32_t>(coords[i]), 0};
        integer::round(&c, scales[i], how);
        coords[i] = type_of(&c) == TYPE_integer ? integer::get(&c)
                                                : coordinate_from_float(float_::get(&c), &c);
    }
    return make_at(value, coords[0], coords[1]);
}

// --- make, random, text --------------------------------------------------------------

cell_t* make(cell_t*, cell_t* spec, int32_t type) {
    int32_t x = 0, y = 0;
    switch (type_of(spec)) {
    case TYPE_block:
    case TYPE_paren: {
        cell_t b = *spec;
        if (block::rs_length_q(&b) < 2) fire(err::malconstruct, spec);
        cell_t* h = block::rs_head(&b);
        if (!number_q(h) || !number_q(h + 1)) fire(err::malconstruct, spec);
        cell_t a = h[0], c = h[1];
        x = coordinate_of(&a);
        y = coordinate_of(&c);
        break;
    }
    case TYPE_string: {
        cell_t text = *spec;
        if (!scan_pair_text(&text, &x, &y)) integer::fire_bad_to_arg(type, spec);
        break;
    }
    case TYPE_pair: x = get_x(spec), y = get_y(spec); break;
    case TYPE_integer: x = y = integer::get(spec); break;
    case TYPE_float_: x = y = coordinate_from_float(float_::get(spec), spec); break;
    case TYPE_point2d:
        x = coordinate_from_float(point2d::get_x(spec), spec);
        y = coordinate_from_float(point2d::get_y(spec), spec);
        break;
    default: integer::fire_bad_to_arg(type, spec);
    }
    return result_pair(x, y);
}

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    if (seed) {
        random::srand(get_x(value) ^ get_y(value));
        value->header = TYPE_unset;
        return value;
    }
    int32_t x = get_x(value), y = get_y(value);
    if (x != 0) x = random::int_uniform(secure, x);
    if (y != 0) y = random::int_uniform(secure, y);
    return make_at(value, x, y);
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%dx%d", get_x(value), get_y(value));
    string::append_bytes(buffer, text, n);
    return limit - n;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

// --- access ----------------------------------------------------------------------------

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    int32_t index = 0;
    if (type_of(element) == TYPE_integer) index = integer::get(element);
    else if (type_of(element) == TYPE_word) index = path_index(element, path);
    if (index != 1 && index != 2) fire(err::invalid_path, path, element);
    if (!value) return integer::push(index == 1 ? get_x(parent) : get_y(parent));
    if (type_of(value) != TYPE_integer) integer::fire_invalid_type(value);
    // The owner of the pair's cell (an object field, an owned block) learns of
    // the change through the path's evaluation, which holds that cell.
    if (index == 1) parent->data2 = value->data2;
    else parent->data3 = value->data2;
    return value;
}

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    if (type_of(index_cell) == TYPE_word) index = path_index(index_cell, value);
    if (index != 1 && index != 2) fire(err::out_of_range, index_cell);
    return integer::push(index == 1 ? get_x(value) : get_y(value));
}

cell_t* reverse(cell_t* value, cell_t*, cell_t*) {
    cell_t r = *value;
    make_at(&r, get_y(value), get_x(value));
    *stack::arguments = r;
    return stack::arguments;
}

// --- comparison -------------------------------------------------------------------------

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) == TYPE_point2d) {
        cell_t a = *value1;
        to_point2d(&a);
        return point2d::compare(&a, value2, op);
    }
    if (type_of(value2) != TYPE_pair) return -2;
    int32_t d = (get_x(value1) > get_x(value2)) - (get_x(value1) < get_x(value2));
    if (d != 0) return d;
    return (get_y(value1) > get_y(value2)) - (get_y(value1) < get_y(value2));
}

void init() {
    datatype::record_t r(TYPE_pair, 0, "pair!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_absolute>(absolute);
    r.own<ACT_add>(add);
    r.own<ACT_divide>(divide);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_negate>(negate);
    r.own<ACT_remainder>(remainder);
    r.own<ACT_round>(round);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    r.own<ACT_pick>(pick);
    r.own<ACT_reverse>(reverse);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::pair
