// logic! values (data word 1: 1 true, 0 false) and the truth rule.
//
// Only none and false are false; every other value is true, 0 and empty
// series included. A logic cell whose word 1 is not 1 is false. Strict tests
// (top_true_q) refuse unset; lenient ones take it as true.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "datatypes/unset.h"
#include "runtime/cell.h"

namespace zuv::logic {

inline void make_at(cell_t* cell, bool value) {
    cell::begin(cell);
    cell->data1 = value ? 1u : 0u;
    cell::set_type(cell, TYPE_logic);
}
inline bool get(const cell_t* cell) { return cell->data1 == 1; }
// The truth rule on one value, without the unset check.
inline bool truthy(const cell_t* value) {
    uint8_t t = type_of(value);
    return !(t == TYPE_none || (t == TYPE_logic && value->data1 != 1));
}
// Raises no-return: a condition that must have a value (either's, a loop's)
// was a block that gave none.
[[noreturn, gnu::cold]] void refuse_unset();
// The truth rule for a condition that must have a value: unset raises.
inline bool truthy_strict(const cell_t* value) {
    if (type_of(value) == TYPE_unset) [[unlikely]]
        refuse_unset();
    return truthy(value);
}

cell_t* make_in(cell_t* block, bool value);
cell_t* box(bool value);  // the current call's result slot
cell_t* push(bool value);

// With check set, an unset value raises no-value naming `name`.
bool true_q(const cell_t* value, bool check, const cell_t* name);
bool top_true_q();  // unset raises no-return
bool top_false_q();  // unset counts as true
bool last_false_q();
inline bool last_true_q() { return !last_false_q(); }

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* complement(cell_t* value);
void and_t();
void or_t();
void xor_t();

void init();

}  // namespace zuv::logic
