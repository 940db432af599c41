// The library's values made in C++ before its Zuv sources run.
//
// The library is Zuv source (boot/*.zuv) evaluated at start-up, but some of
// its values cannot come from that source: the actions (every `make` of the
// source needs `make` first), the typesets the source and the specs lean on
// (an argument spec that names `any-type!` is read when the function is
// first called), and the routines, whose bodies are C++. Each comes from one
// table here. A routine keeps a spec and a small body for reflection; its
// entry is an index into the table of datatypes/routine.h.
//
// Routine entries follow the routine protocol: the arguments are the cells
// from stack::arguments on, in spec order, already checked against the
// spec's types by the caller; the result goes to stack::arguments.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::library {

// The action! value of every action with a word, bound to that word.
void define_actions();
// Action `number` as define_actions made it; nullptr when it has none.
const cell_t* action_value(int32_t number);

// The values the library holds as literals: the typesets, in definition
// order (each made from datatypes and the typesets before it), and
// null-handle, bound to their words.
void define_literals();

// The routines of the library, bound to their global words: the low-level
// routines, the type predicates and the internal routines that the
// library's own source calls while it starts (see internal_words).
void define_routines();

// The words of the internal routines: unset again once the library is up,
// so that scripts never see them.
void drop_internal_routines();

// The shift worker (shift-right, shift-left, shift-logical): a negative bit
// count counts as 0; a count above 31 gives 0, or -1 for an arithmetic
// right shift of a negative number.
int32_t shift(int32_t data, int32_t bits, bool left, bool logical);

}  // namespace zuv::library
