#include "datatypes/ref.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"

namespace zuv::ref {

cell_t* load_at(const uint8_t* utf8, int64_t count, cell_t* cell) {
    cell_t* c = string::load_at(utf8, count, cell, string::ENCODING_UTF8);
    cell::set_type(c, TYPE_ref);
    return c;
}

cell_t* load_in(const uint8_t* utf8, int64_t count, cell_t* block) {
    cell_t* c = string::load_in(utf8, count, block, string::ENCODING_UTF8);
    cell::set_type(c, TYPE_ref);
    return c;
}

cell_t* push(const cell_t* value) {
    cell_t* c = stack::push(value);
    cell::set_type(c, TYPE_ref);
    return c;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    string::append_char(buffer, '@');
    how.limit--;
    if (how.part && how.limit <= 0) return how.limit;
    return string::form(value, buffer, how.part, how.limit);
}

void init() {
    datatype::record_t r(TYPE_ref, TYPE_string, "ref!");
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_reflect, ACT_to, ACT_form, ACT_compare, ACT_modify});
    // append and put are not for refs; insert and the rest are.
    r.inherit_range(ACT_at, ACT_poke);
    r.inherit_range(ACT_remove, ACT_select);
    r.inherit_range(ACT_skip, ACT_take);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::ref
