#include "datatypes/unset.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/stack.h"

namespace zuv {

cell_t unset_value;
cell_t none_value;
cell_t true_value;
cell_t false_value;

namespace unset {

cell_t* push_last() {
    stack::arguments->header = TYPE_unset;
    return stack::arguments;
}

cell_t* make_in(cell_t* block) {
    cell_t* c = alloc::alloc_tail_value(block);
    make_at(c);
    return c;
}

cell_t* push() {
    cell_t* c = stack::push_slot();
    make_at(c);
    return c;
}

cell_t* make(cell_t*, cell_t*, int32_t) { return push(); }

int32_t form(cell_t*, cell_t*, bool, int32_t limit) { return limit; }

int32_t mold(cell_t*, cell_t* buffer, mold_options_t how) {
    string::concatenate_literal(buffer, how.all ? "#(unset)" : "unset");
    return how.limit - (how.all ? 8 : 5);
}

int32_t compare(cell_t*, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_unset) return -2;
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 7:
    case 8:
    case 9:
    case 12: return 0;
    default: return -2;
    }
}

void init() {
    unset_value = cell_t{TYPE_unset, 0, 0, 0};
    datatype::record_t r(TYPE_unset, 0, "unset!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace unset
}  // namespace zuv
