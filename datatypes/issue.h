// issue! values: words written with a leading "#". They hold a symbol in the
// word cell (global context, index -1: never bound to a slot) and never
// evaluate to a value.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::issue {

cell_t* make_at(cell_t* cell, const char* text);
cell_t* load(const char* text);
cell_t* push(const cell_t* word);

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

void init();

}  // namespace zuv::issue
