#include "datatypes/point2d.h"

#include <cmath>
#include <cstdlib>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point3d.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/hash.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::point2d {

namespace {

inline uint8_t type_for(int n) { return n == 2 ? TYPE_point2d : TYPE_point3d; }

void put_coords(cell_t* c, const float* v, int n) {
    cell::begin(c);
    c->data3 = 0;
    std::memcpy(&c->data1, v, sizeof(float) * n);
    cell::set_type(c, type_for(n));
}

bool number_q(const cell_t* c) { return type_of(c) == TYPE_integer || type_of(c) == TYPE_float_; }
double number_of(const cell_t* c) {
    return type_of(c) == TYPE_integer ? static_cast<double>(integer::get(c)) : float_::get(c);
}

// Scans "(x, y)" or "(x, y, z)"; false when the text is not such a point.
bool scan_point_text(cell_t* text, float* out, int n) {
    char buf[128];
    if (integer::read_ascii(text, buf, sizeof buf) < 0) return false;
    const char* p = buf;
    while (*p == ' ') p++;
    if (*p++ != '(') return false;
    for (int i = 0; i < n; i++) {
        char* end = nullptr;
        double d = std::strtod(p, &end);
        if (end == p) return false;
        out[i] = static_cast<float>(d);
        p = end;
        while (*p == ' ') p++;
        if (*p++ != (i + 1 < n ? ',' : ')')) return false;
    }
    while (*p == ' ') p++;
    return *p == '\0';
}

int32_t sign_of(double d) { return d < 0.0 ? -1 : d > 0.0 ? 1 : 0; }

}  // namespace

cell_t* make_in(cell_t* block, float x, float y) {
    return make_at(alloc::alloc_tail_value(block), x, y);
}
cell_t* push(float x, float y) { return make_at(stack::push_slot(), x, y); }

int32_t path_index(const cell_t* word, const cell_t* path) { return pair::path_index(word, path); }

namespace shared {

void do_math(int32_t code, int n) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    float a[3], b[3];
    get_coords(value1, a, n);
    switch (type_of(value2)) {
    case TYPE_integer:
    case TYPE_float_:
    case TYPE_percent: {
        double d = number_of(value2);
        for (int i = 0; i < n; i++) a[i] = static_cast<float>(float_::do_math_op(a[i], d, code));
        put_coords(value1, a, n);
        return;
    }
    case TYPE_pair:
        if (n != 2) integer::fire_invalid_type(value2);
        b[0] = static_cast<float>(pair::get_x(value2));
        b[1] = static_cast<float>(pair::get_y(value2));
        break;
    case TYPE_point2d:
    case TYPE_point3d:
        if (type_of(value2) != type_for(n)) integer::fire_invalid_type(value2);
        get_coords(value2, b, n);
        break;
    default: integer::fire_invalid_type(value2);
    }
    for (int i = 0; i < n; i++) a[i] = static_cast<float>(float_::do_math_op(a[i], b[i], code));
    put_coords(value1, a, n);
}

int32_t compare(const float* a, const float* b, const cell_t* value1, const cell_t* value2, int n,
                int32_t op) {
    switch (op) {
    case actions::cmp::SAME:
        return std::memcmp(&value1->data1, &value2->data1, sizeof(float) * n) == 0 &&
                       type_of(value1) == type_of(value2)
                   ? 0
                   : -1;
    case actions::cmp::STRICT_EQUAL:
        for (int i = 0; i < n; i++)
            if (!(a[i] == b[i])) return 1;
        return 0;
    case actions::cmp::EQUAL:
    case actions::cmp::NOT_EQUAL:
    case actions::cmp::FIND_LIT:
    case actions::cmp::FIND_LIT_NOCASE:
    case actions::cmp::FIND:
        for (int i = 0; i < n; i++)
            if (!float_::almost_equal32_q(a[i], b[i])) return 1;
        return 0;
    default:
        for (int i = 0; i + 1 < n; i++)
            if (!float_::almost_equal32_q(a[i], b[i]))
                return sign_of(static_cast<double>(a[i]) - b[i]);
        return sign_of(static_cast<double>(a[n - 1]) - b[n - 1]);
    }
}

cell_t* random(cell_t* value, bool seed, bool secure, int n) {
    if (seed) {
        random::srand(static_cast<int32_t>(hash::murmur3(&value->data1, 12)));
        value->header = TYPE_unset;
        return value;
    }
    float c[3];
    get_coords(value, c, n);
    for (int i = 0; i < n; i++)
        if (c[i] != 0.0f) c[i] = static_cast<float>(float_::random_scaled(c[i], secure));
    put_coords(value, c, n);
    return value;
}

int32_t form(const cell_t* value, cell_t* buffer, int32_t limit, int n) {
    float c[3];
    get_coords(value, c, n);
    string::append_char(buffer, '(');
    limit--;
    for (int i = 0; i < n; i++) {
        if (i > 0) {
            string::append_bytes(buffer, ", ", 2);
            limit -= 2;
        }
        float_::text_t t = float_::form_float(c[i], float_::form_kind::COORDINATE);
        string::append_bytes(buffer, t.text, t.length);
        limit -= t.length;
    }
    string::append_char(buffer, ')');
    return limit - 1;
}

cell_t* round(cell_t* value, cell_t* const* scales, int n, round_options_t how) {
    float c[3];
    get_coords(value, c, n);
    for (int i = 0; i < n; i++) {
        cell_t f{TYPE_float_, 0, 0, 0};
        cell::put_float(&f, c[i]);
        float_::round(&f, scales[i],
                      {.even = how.even,
                       .down = how.down,
                       .half_down = how.half_down,
                       .floor = how.floor,
                       .ceiling = how.ceiling,
                       .half_ceiling = how.half_ceiling});
        c[i] = static_cast<float>(number_of(&f));
    }
    put_coords(value, c, n);
    return value;
}

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell, int n) {
    if (type_of(index_cell) == TYPE_word)
        index = n == 2 ? path_index(index_cell, value) : point3d::path_index(index_cell, value);
    if (index < 1 || index > n) fire(err::out_of_range, index_cell);
    float c[3];
    get_coords(value, c, n);
    return float_::push(c[index - 1]);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, int n) {
    int32_t index = 0;
    if (type_of(element) == TYPE_integer) index = integer::get(element);
    else if (type_of(element) == TYPE_word)
        index = n == 2 ? path_index(element, path) : point3d::path_index(element, path);
    if (index < 1 || index > n) fire(err::invalid_path, path, element);
    float c[3];
    get_coords(parent, c, n);
    if (!value) return float_::push(c[index - 1]);
    if (!number_q(value)) integer::fire_invalid_type(value);
    c[index - 1] = static_cast<float>(number_of(value));
    std::memcpy(&parent->data1 + (index - 1), &c[index - 1], sizeof(float));
    return value;
}

cell_t* make(cell_t* spec, int32_t type, int n) {
    float c[3] = {0, 0, 0};
    switch (type_of(spec)) {
    case TYPE_block:
    case TYPE_paren: {
        cell_t b = *spec;
        if (block::rs_length_q(&b) < n) fire(err::malconstruct, spec);
        cell_t* h = block::rs_head(&b);
        for (int i = 0; i < n; i++) {
            if (!number_q(h + i)) fire(err::malconstruct, spec);
            c[i] = static_cast<float>(number_of(h + i));
        }
        break;
    }
    case TYPE_string: {
        cell_t text = *spec;
        if (!scan_point_text(&text, c, n)) integer::fire_bad_to_arg(type, spec);
        break;
    }
    case TYPE_integer:
    case TYPE_float_:
        for (int i = 0; i < n; i++) c[i] = static_cast<float>(number_of(spec));
        break;
    case TYPE_pair:
        c[0] = static_cast<float>(pair::get_x(spec));
        c[1] = static_cast<float>(pair::get_y(spec));
        break;
    case TYPE_point2d:
    case TYPE_point3d:
        if (type_of(spec) == TYPE_point3d && n == 2) integer::fire_bad_to_arg(type, spec);
        get_coords(spec, c, type_of(spec) == TYPE_point2d ? 2 : 3);
        break;
    default: integer::fire_bad_to_arg(type, spec);
    }
    put_coords(stack::arguments, c, n);
    return stack::arguments;
}

}  // namespace shared

void do_math(int32_t code) { shared::do_math(code, 2); }

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }

void absolute() {
    cell_t* v = stack::arguments;
    make_at(v, std::fabs(get_x(v)), std::fabs(get_y(v)));
}

cell_t* negate(cell_t* value) { return make_at(value, 0.0f - get_x(value), 0.0f - get_y(value)); }

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    if (scale && type_of(scale) == TYPE_money) integer::fire_not_related(TYPE_money);
    cell_t s[2] = {};
    cell_t* scales[2] = {scale, scale};
    if (scale && (type_of(scale) == TYPE_pair || type_of(scale) == TYPE_point2d ||
                  type_of(scale) == TYPE_point3d)) {
        double sx = type_of(scale) == TYPE_pair ? pair::get_x(scale) : get_x(scale);
        double sy = type_of(scale) == TYPE_pair ? pair::get_y(scale) : get_y(scale);
        float_::make_at(&s[0], sx);
        float_::make_at(&s[1], sy);
        scales[0] = &s[0];
        scales[1] = &s[1];
    }
    return shared::round(value, scales, 2, how);
}

cell_t* make(cell_t*, cell_t* spec, int32_t type) { return shared::make(spec, type, 2); }

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    return shared::random(value, seed, secure, 2);
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    return shared::form(value, buffer, limit, 2);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return shared::form(value, buffer, how.limit, 2);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    return shared::eval_path(parent, element, value, path, 2);
}

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    return shared::pick(value, index, index_cell, 2);
}

cell_t* reverse(cell_t* value, cell_t*, cell_t*) {
    cell_t r = *value;
    make_at(&r, get_y(value), get_x(value));
    *stack::arguments = r;
    return stack::arguments;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    cell_t other = *value2;
    if (type_of(&other) == TYPE_pair) pair::to_point2d(&other);
    else if (type_of(&other) != TYPE_point2d) return -2;
    float a[2], b[2];
    shared::get_coords(value1, a, 2);
    shared::get_coords(&other, b, 2);
    return shared::compare(a, b, value1, &other, 2, op);
}

void init() {
    datatype::record_t r(TYPE_point2d, 0, "point2D!");
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
    r.own<ACT_pick>(pick);
    r.own<ACT_reverse>(reverse);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::point2d
