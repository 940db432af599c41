// tag!: a string written between "<" and ">". Storage and every series
// action are string!'s (datatypes/string.h); only form and mold differ.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::tag {

// A tag from UTF-8 text (the characters between the brackets) in cell, or
// pushed when cell is nullptr; load_in appends it to a block.
cell_t* load_at(const uint8_t* utf8, int64_t count, cell_t* cell);
cell_t* load_in(const uint8_t* utf8, int64_t count, cell_t* block);
cell_t* push(const cell_t* value);

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

void init();

}  // namespace zuv::tag
