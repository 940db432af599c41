// Root values: the values that the boot load decoded into the root block.
//
// The boot load records where its first decoded cell lies; root value i is
// the i-th cell from there. The root block never moves (a fixed buffer), so
// the address stays valid for the life of the process. Callers pass only
// indexes of the boot image: nothing is bounds-checked.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::root {

// Set by the boot load: its first decoded cell (nullptr before).
extern cell_t* first;

inline cell_t* get_value(int32_t index) { return first + index; }
// The context node that a function or object value held there carries.
inline node_t get_node(int32_t index) { return get_value(index)->data1; }

}  // namespace zuv::root
