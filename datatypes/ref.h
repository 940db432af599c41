// ref!: a reference written with a leading "@" (the text holds what follows
// it). Storage and the series actions are string!'s (datatypes/string.h),
// without append and put; mold is its own.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::ref {

// A ref from UTF-8 text (without the "@") in cell, or pushed when cell is nullptr.
cell_t* load_at(const uint8_t* utf8, int64_t count, cell_t* cell);
cell_t* load_in(const uint8_t* utf8, int64_t count, cell_t* block);
cell_t* push(const cell_t* value);

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

void init();

}  // namespace zuv::ref
