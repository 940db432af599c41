#include "datatypes/point3d.h"

#include <cmath>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::point3d {

cell_t* make_in(cell_t* block, float x, float y, float z) {
    return make_at(alloc::alloc_tail_value(block), x, y, z);
}
cell_t* push(float x, float y, float z) { return make_at(stack::push_slot(), x, y, z); }

int32_t path_index(const cell_t* word, const cell_t* path) {
    int32_t sym = symbol::resolve(word::symbol_of(word));
    if (sym == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::z)))) return 3;
    return pair::path_index(word, path);
}

void do_math(int32_t code) { point2d::shared::do_math(code, 3); }

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }

void absolute() {
    cell_t* v = stack::arguments;
    make_at(v, std::fabs(get_x(v)), std::fabs(get_y(v)), std::fabs(get_z(v)));
}

cell_t* negate(cell_t* value) {
    return make_at(value, 0.0f - get_x(value), 0.0f - get_y(value), 0.0f - get_z(value));
}

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    if (scale && type_of(scale) == TYPE_money) integer::fire_not_related(TYPE_money);
    cell_t s[3] = {};
    cell_t* scales[3] = {scale, scale, scale};
    uint8_t st = scale ? type_of(scale) : 0;
    if (st == TYPE_pair || st == TYPE_point2d || st == TYPE_point3d) {
        // A two-coordinate scale leaves z a scale of 0.0.
        double sx = st == TYPE_pair ? pair::get_x(scale) : point2d::get_x(scale);
        double sy = st == TYPE_pair ? pair::get_y(scale) : point2d::get_y(scale);
        double sz = st == TYPE_point3d ? get_z(scale) : 0.0;
        float_::make_at(&s[0], sx);
        float_::make_at(&s[1], sy);
        float_::make_at(&s[2], sz);
        for (int i = 0; i < 3; i++) scales[i] = &s[i];
    }
    return point2d::shared::round(value, scales, 3, how);
}

cell_t* make(cell_t*, cell_t* spec, int32_t type) { return point2d::shared::make(spec, type, 3); }

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    return point2d::shared::random(value, seed, secure, 3);
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    return point2d::shared::form(value, buffer, limit, 3);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return point2d::shared::form(value, buffer, how.limit, 3);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    return point2d::shared::eval_path(parent, element, value, path, 3);
}

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    return point2d::shared::pick(value, index, index_cell, 3);
}

cell_t* reverse(cell_t* value, cell_t*, cell_t*) {
    cell_t r = *value;
    make_at(&r, get_z(value), get_y(value), get_x(value));
    *stack::arguments = r;
    return stack::arguments;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_point3d) return -2;
    float a[3], b[3];
    point2d::shared::get_coords(value1, a, 3);
    point2d::shared::get_coords(value2, b, 3);
    return point2d::shared::compare(a, b, value1, value2, 3, op);
}

void init() {
    datatype::record_t r(TYPE_point3d, 0, "point3D!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
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

}  // namespace zuv::point3d
