// percent!: a float! shown as a percentage; 50% holds 0.5.
//
// The cell is the float! layout (the double in words 2-3). Every action but
// the text forms is float!'s entry, which keeps a percent! first operand's
// type; only form and mold are percent!'s own (the value times 100 in the
// float formatter's percent style, "0%" for zero).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::percent {

inline cell_t* make_at(cell_t* cell, double d) {
    cell::put_float(cell, d);
    cell::set_type(cell, TYPE_percent);
    return cell;
}
cell_t* make_in(cell_t* block, double d);
cell_t* push(double d);
cell_t* box(double d);  // the result slot, header written whole

// --- action entries ---
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

// Registers percent! (after float!).
void init();

}  // namespace zuv::percent
