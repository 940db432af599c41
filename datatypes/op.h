// op!: an infix operator wrapping a native, an action, a function or a
// routine of exactly two arguments (datatypes/native.h describes the cell).
// For a wrapped function or routine, the function's more[3] holds a copy of
// it, so the op and the function share one more series.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {

namespace op {

constexpr uint32_t WRAPPED_SHIFT = 16;
inline uint8_t wrapped_type(const cell_t* v) {
    return static_cast<uint8_t>((v->header >> WRAPPED_SHIFT) & 0xFF);
}

// Whether the spec block (by node, from index 0) has exactly two arguments,
// no lit/get-word on the left and no refinement but /local or /extern.
bool check_spec(node_t spec);

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);

void init();  // registers op! (parent native!)

}  // namespace op

}  // namespace zuv
