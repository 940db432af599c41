#include "datatypes/action.h"

#include "datatypes/native.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zuv::action {

cell_t* make(cell_t* proto, cell_t* spec, int32_t) {
    return native::make_numbered(proto, spec, TYPE_action);
}

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) {
    string::concatenate_literal(buffer, "?action?");
    return limit - 8;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return native::mold_spec(value, buffer, "make action! [", how);
}

void init() {
    datatype::record_t r(TYPE_action, TYPE_native, "action!");
    r.own<ACT_make>(make);
    r.inherit({ACT_reflect});
    r.own<ACT_compare>(native::compare);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::action
