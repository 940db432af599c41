#include "datatypes/datatype.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/stack.h"

namespace zuv::datatype {

cell_t* make_in(cell_t* block, int32_t id) {
    cell_t* c = alloc::alloc_tail_value(block);
    make_at(c, id);
    return c;
}

cell_t* push(int32_t id) {
    cell_t* c = stack::push_slot();
    make_at(c, id);
    return c;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    int32_t id = static_cast<int32_t>(value->data1);
    int32_t n = name_length(id);
    string::append_bytes(buffer, name_of(id), n);
    return limit - n;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    int32_t id = static_cast<int32_t>(value->data1);
    int32_t n = name_length(id) + 1;
    if (how.all) string::concatenate_literal(buffer, "#(");
    string::append_bytes(buffer, name_of(id), n);
    if (how.all) {
        string::concatenate_literal(buffer, ")");
        n += 3;
    }
    return how.limit - n;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 9:
    case 12: return (type_of(value2) == TYPE_datatype && value2->data1 == value1->data1) ? 0 : 1;
    default: return -2;
    }
}

void init() {
    record_t r(TYPE_datatype, 0, "datatype!");
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    register_type(RECORD_COUNT, r);
}

}  // namespace zuv::datatype
