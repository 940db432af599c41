// Searching, sorting and set operations on blocks, and the comparator calls
// that sorting shares with strings.
//
// These are block!'s find, select and sort entries (inherited by paren!, the
// path kinds and hash!) and the worker behind the set natives unique, union,
// intersect, exclude and difference.
//
// Sorting never holds a raw address into a managed buffer while code that
// may allocate runs: the records are copied out of the block, ordered by
// index or in C++ memory, and written back once the order is known. A Zuv
// comparator that raises leaves the block as it was; one that leaves an exit
// pending (break, throw...) makes the sort return at once, block untouched.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {
namespace block {

// Flags of compare_records: bit 0 reverse, bit 1 compare every cell of the
// record; bits 2 and up the record size (with bit 1) or the cell offset.
constexpr uint32_t SORT_REVERSE = 1;
constexpr uint32_t SORT_ALL = 2;
constexpr int32_t SORT_SHIFT = 2;

// Set-operation codes (the set natives' own).
constexpr int32_t SET_UNIQUE = 8, SET_UNION = 9, SET_INTERSECT = 10, SET_EXCLUDE = 11,
                  SET_DIFFERENCE = 12;

cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);
cell_t* select(cell_t* series, cell_t* value, const select_options_t& how);
cell_t* sort(cell_t* series, bool case_, cell_t* skip, cell_t* comparator, cell_t* part, bool all,
             bool reverse, bool stable);

// Orders two records of cells under a comparison code (7 or 8) and flags.
int32_t compare_records(const cell_t* a, const cell_t* b, int32_t op, uint32_t flags);

// The set operations: the two sets are the first two argument slots of the
// current call (the second unused for unique); skip nullptr when absent.
// The result replaces the first slot and is returned.
cell_t* do_set_op(bool case_, const cell_t* skip, int32_t code);

}  // namespace block

namespace search {

// Thrown through a sort by a comparator call that left an exit pending; the
// sort entries catch it and return with the exit still pending.
struct exit_pending {};

// Calls the function! fn with first and second as its two arguments (the
// rest of its frame: refinements off, locals none) and maps the result to
// an order as both block and string sorts use it: true 1, false -1; an
// integer n -n; a float above 0 -1, below 0 1, 0 or NaN 0; none -1; any
// other value 1. The arguments are copied onto the argument stack first.
int32_t call_comparator(const cell_t* fn, const cell_t* first, const cell_t* second);

}  // namespace search
}  // namespace zuv
