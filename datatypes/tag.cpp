#include "datatypes/tag.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"

namespace zuv::tag {

cell_t* load_at(const uint8_t* utf8, int64_t count, cell_t* cell) {
    cell_t* c = string::load_at(utf8, count, cell, string::ENCODING_UTF8);
    cell::set_type(c, TYPE_tag);
    return c;
}

cell_t* load_in(const uint8_t* utf8, int64_t count, cell_t* block) {
    cell_t* c = string::load_in(utf8, count, block, string::ENCODING_UTF8);
    cell::set_type(c, TYPE_tag);
    return c;
}

cell_t* push(const cell_t* value) {
    cell_t* c = stack::push(value);
    cell::set_type(c, TYPE_tag);
    return c;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    string::append_char(buffer, '<');
    limit--;
    if (!part || limit > 0) limit = string::form(value, buffer, part, limit);
    string::append_char(buffer, '>');
    return limit - 1;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

void init() {
    datatype::record_t r(TYPE_tag, TYPE_string, "tag!");
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_reflect, ACT_to, ACT_eval_path, ACT_compare, ACT_modify});
    r.inherit_range(ACT_append, ACT_select);
    r.inherit_range(ACT_skip, ACT_take);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::tag
