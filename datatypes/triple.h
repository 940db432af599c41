// triple! values: three signed 32-bit integers in the cell's data words.
// They come only from the boot data and the binary reader, and have a text
// form and nothing else.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::triple {

inline void make_at(cell_t* cell, int32_t a, int32_t b, int32_t c) {
    cell::begin(cell);
    cell->data1 = static_cast<uint32_t>(a);
    cell->data2 = static_cast<uint32_t>(b);
    cell->data3 = static_cast<uint32_t>(c);
    cell::set_type(cell, TYPE_triple);
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

void init();

}  // namespace zuv::triple
