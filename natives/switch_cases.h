// The cases of `switch` by value: per cases block, a table from a case value
// to the block it selects, built on the block's second use and kept while
// the block keeps its cells (its stamp, as plans are), so that the last case
// costs what the first does.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::natives::switch_cases {

constexpr int32_t NO_MATCH = -1, SCAN = -2;

// The index (in the block's series) of the block that value selects among
// cases: NO_MATCH when no case matches or no block follows the match; SCAN
// when the table does not answer (a type it does not hold, a block used
// once, the short ways off): the caller scans the cases.
int32_t find(const cell_t* cases, const cell_t* value);

}  // namespace zuv::natives::switch_cases
