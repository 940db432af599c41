// action!: one of the 62 polymorphic actions as a value (datatypes/native.h
// describes the cell, which it shares with native!). Its namespace is
// `action`; the dispatch of actions is datatypes/actions.h (`actions`).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {

namespace action {

constexpr int32_t COUNT = 62;

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

void init();  // registers action! (parent native!)

}  // namespace action

}  // namespace zuv
