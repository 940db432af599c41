#include "datatypes/none.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/stack.h"

namespace zuv::none {

cell_t* push_last() {
    stack::arguments->header = TYPE_none;
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

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) {
    string::concatenate_literal(buffer, "none");
    return limit - 4;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (!how.all) return form(value, buffer, how.part, how.limit);
    string::concatenate_literal(buffer, "#(none)");
    return how.limit - 7;
}

int32_t compare(cell_t*, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_none) return -2;
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

cell_t* clear(cell_t*) { return push_last(); }
cell_t* find(cell_t*, cell_t*, const find_options_t&) { return push_last(); }
cell_t* remove(cell_t*, cell_t*, cell_t*) { return push_last(); }
cell_t* select(cell_t*, cell_t*, const select_options_t&) { return push_last(); }
cell_t* take(cell_t*, cell_t*, bool, bool) { return push_last(); }
int32_t length_q(cell_t*) { return -1; }

void init() {
    none_value = cell_t{TYPE_none, 0, 0, 0};
    datatype::record_t r(TYPE_none, 0, "none!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_clear>(clear);
    r.own<ACT_find>(find);
    r.own<ACT_length_q>(length_q);
    r.own<ACT_remove>(remove);
    r.own<ACT_select>(select);
    r.own<ACT_take>(take);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::none
