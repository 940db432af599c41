// Searching, sorting, trimming and set operations on texts.
//
// string!'s find, select, sort and trim entries, which every type that
// inherits them shares (file!, url!, tag!, email!, ref!, binary!, vector!):
// any-strings compare case-folded unless told otherwise, binary! and
// vector! always exactly. Also the worker of the set natives for texts.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::string {

cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);
cell_t* select(cell_t* series, cell_t* value, const select_options_t& how);
cell_t* sort(cell_t* series, bool case_, cell_t* skip, cell_t* comparator, cell_t* part, bool all,
             bool reverse, bool stable);
cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with);

// The set operations on the series in the first two argument slots of the
// current call (codes 8 unique ... 12 difference, as block::do_set_op);
// skip nullptr when absent. The result replaces the first slot.
cell_t* do_set_op(bool case_, const cell_t* skip, int32_t code);

// Whitespace of trim: what trim/lines collapses, and the blanks inside a line.
bool trim_space_q(uint32_t c);
bool trim_blank_q(uint32_t c);

}  // namespace zuv::string
