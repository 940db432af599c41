// none! values: the empty value that searches and lookups return when they
// find nothing; only the header. The shared none cell is in unset.h.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/unset.h"
#include "runtime/cell.h"

namespace zuv::none {

inline void make_at(cell_t* cell) { cell->header = TYPE_none; }
cell_t* push_last();
cell_t* make_in(cell_t* block);
cell_t* push();

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
// clear, find, remove, select, take: the result is none.
cell_t* clear(cell_t* value);
cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);
cell_t* remove(cell_t* series, cell_t* part, cell_t* key);
cell_t* select(cell_t* series, cell_t* value, const select_options_t& how);
cell_t* take(cell_t* series, cell_t* part, bool deep, bool last);
int32_t length_q(cell_t* value);  // -1: none

void init();

}  // namespace zuv::none
