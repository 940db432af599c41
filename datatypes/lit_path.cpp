#include "datatypes/lit_path.h"

#include "datatypes/registry.h"
#include "runtime/stack.h"

namespace zuv::lit_path {

cell_t* push(cell_t* cell) {
    cell->header = TYPE_lit_path;
    return stack::push(cell);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return path::write(value, buffer, true, "'", "", how);
}

void init() {
    datatype::record_t r(TYPE_lit_path, TYPE_path, "lit-path!");
    r.own<ACT_mold>(mold);
    r.inherit({1, 3, 4, 5, 7, 9, 55});
    r.inherit_range(25, 44);
    r.inherit_range(46, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::lit_path
