#include "datatypes/logic.h"

#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace zuv::logic {

cell_t* make_in(cell_t* block, bool value) {
    cell_t* c = alloc::alloc_tail_value(block);
    make_at(c, value);
    return c;
}

cell_t* box(bool value) {
    make_at(stack::arguments, value);
    return stack::arguments;
}

cell_t* push(bool value) {
    cell_t* c = stack::push_slot();
    make_at(c, value);
    return c;
}

bool true_q(const cell_t* value, bool check, const cell_t* name) {
    if (check && type_of(value) == TYPE_unset) fire(err::no_value, name);
    return truthy(value);
}

void refuse_unset() { fire(err::no_return); }

bool top_true_q() { return truthy_strict(stack::arguments); }

bool top_false_q() { return !truthy(stack::arguments); }

bool last_false_q() {
    const cell_t* last =
        stack::top_slot <= stack::arguments + 1 ? stack::arguments : stack::top_slot - 1;
    return !truthy(last);
}

cell_t* to(cell_t*, cell_t* spec, int32_t) {
    switch (type_of(spec)) {
    case TYPE_logic: return spec;
    case TYPE_none: return &false_value;
    default: return &true_value;
    }
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_integer: return box(spec->data2 != 0);
    case TYPE_float_:
    case TYPE_percent: return box(!(cell::get_float(spec) == 0.0));  // -0.0 is false, NaN true
    default: return to(proto, spec, type);
    }
}

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    if (seed) {
        random::srand(get(value) ? 1 : 0);
        stack::arguments->header = TYPE_unset;
        return stack::arguments;
    }
    // Draws are 0..2^31-1, so the upper half of that range is half the draws.
    int32_t n = secure ? random::rand_secure() : random::rand();
    return box(n > 0x3FFFFFFF);
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    bool v = get(value);
    string::concatenate_literal(buffer, v ? "true" : "false");
    return limit - (v ? 4 : 5);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (!how.all) return form(value, buffer, how.part, how.limit);
    bool v = get(value);
    string::concatenate_literal(buffer, v ? "#(true)" : "#(false)");
    return how.limit - (v ? 7 : 8);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_logic) return -2;
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 7:
    case 8:
    case 9:
    case 12: return static_cast<int32_t>(get(value1)) - static_cast<int32_t>(get(value2));
    default: return -2;
    }
}

cell_t* complement(cell_t* value) {
    value->data1 = get(value) ? 0u : 1u;
    return value;
}

namespace {

template <typename Op> void binary(Op op) {
    cell_t* a = stack::arguments;
    cell_t* b = a + 1;
    if (type_of(b) != TYPE_logic) actions::fire_expect_arg(b, 1);
    make_at(a, op(get(a), get(b)));
}

}  // namespace

void and_t() {
    binary([](bool x, bool y) { return x && y; });
}
void or_t() {
    binary([](bool x, bool y) { return x || y; });
}
void xor_t() {
    binary([](bool x, bool y) { return x != y; });
}

void init() {
    true_value = cell_t{TYPE_logic, 1, 0, 0};
    false_value = cell_t{TYPE_logic, 0, 0, 0};
    datatype::record_t r(TYPE_logic, 0, "logic!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_and_t>(and_t);
    r.own<ACT_complement>(complement);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::logic
