// Shapes of objects made from a spec block.
//
// A function that builds its records with make object! [...] runs one spec
// block each time, and each object it makes has the same words. The table of
// the last object made from a block is remembered under the block, and the
// next object made from it shares that table, as long as the block's
// set-words are still the table's words in order: the block may have been
// changed since, and its node handed to another series.
#pragma once

#include "runtime/cell.h"

namespace zuv::object::shape {

// A new object context sharing the table remembered for spec (a block), or
// 0 when there is none or it no longer fits.
node_t context_for(const cell_t* spec);
// Remembers the table of ctx, made from spec, whose set-words it has just
// collected (before the body runs and may add others).
void remember(const cell_t* spec, node_t ctx);
// Forgets everything (a new runtime's nodes mean something else).
void reset();

}  // namespace zuv::object::shape
