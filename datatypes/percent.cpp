#include "datatypes/percent.h"

#include "datatypes/action_types.h"
#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/dtoa.h"
#include "runtime/stack.h"

namespace zuv::percent {

cell_t* make_in(cell_t* block, double d) {
    cell_t* c = alloc::alloc_tail_value(block);
    cell::begin(c);
    cell::put_float(c, d);
    c->header = TYPE_percent;
    return c;
}

cell_t* push(double d) {
    cell_t* c = stack::push_slot();
    cell::put_float(c, d);
    c->header = TYPE_percent;
    return c;
}

cell_t* box(double d) {
    cell_t* c = stack::arguments;
    cell::put_float(c, d);
    c->header = TYPE_percent;
    return c;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    float_::text_t t =
        float_::form_float(cell::get_float(value) * 100.0, float_::form_kind::PERCENT);
    string::concatenate_literal(buffer, t.text);
    return limit - t.length;
}

// The shortest digits that the lexer reads back as the same double: the
// formed text keeps 13 digits of the value times 100, which seldom does.
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    dtoa::text_t t = dtoa::format_scaled(cell::get_float(value), 2);
    string::concatenate_literal(buffer, t.chars);
    string::append_char(buffer, '%');
    return how.limit - t.length - 1;
}

void init() {
    datatype::record_t r(TYPE_percent, TYPE_float_, "percent!");
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_random, ACT_to, ACT_compare, ACT_absolute, ACT_add, ACT_divide,
               ACT_multiply, ACT_negate, ACT_power, ACT_remainder, ACT_round, ACT_subtract,
               ACT_even_q, ACT_odd_q});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::percent
