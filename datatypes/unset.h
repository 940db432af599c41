// unset! values: the absence of a value; only the header.
//
// The shared constant cells (unset, none, true, false) are written when their
// types register. Lookups that find nothing return their address; callers
// copy them and never write into them.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {

extern cell_t unset_value;
extern cell_t none_value;
extern cell_t true_value;
extern cell_t false_value;

namespace unset {

inline void make_at(cell_t* cell) { cell->header = TYPE_unset; }
cell_t* push_last();
cell_t* make_in(cell_t* block);
cell_t* push();

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

void init();

}  // namespace unset
}  // namespace zuv
