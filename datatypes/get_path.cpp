#include "datatypes/get_path.h"

#include "datatypes/registry.h"
#include "runtime/stack.h"

namespace zuv::get_path {

cell_t* push(cell_t* cell) {
    cell->header = TYPE_get_path;
    return stack::push(cell);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return path::write(value, buffer, true, ":", "", how);
}

void init() {
    datatype::record_t r(TYPE_get_path, TYPE_path, "get-path!");
    r.own<ACT_mold>(mold);
    r.inherit({1, 3, 4, 5, 7, 9, 55});
    r.inherit_range(25, 44);
    r.inherit_range(46, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::get_path
