// datatype! values: a cell naming a type by its id (data word 1).
//
// form writes the name without its "!", mold the full name. The registry
// (datatypes/registry.h) shares this module's namespace: the name table and
// the registration live there.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::datatype {

inline void make_at(cell_t* cell, int32_t id) {
    cell::begin(cell);
    cell->data1 = static_cast<uint32_t>(id);
    cell::set_type(cell, TYPE_datatype);
}
cell_t* make_in(cell_t* block, int32_t id);
cell_t* push(int32_t id);

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

void init();

}  // namespace zuv::datatype
