// path!: a series of values written with "/" between them.
//
// The four path kinds (path!, lit-path!, set-path!, get-path!) share the
// block cell and every block entry; they differ only in how they are written
// and evaluated. path! owns make, to, form, mold and copy; the other three
// own only mold, which adds their mark ("'", ":" before, ":" after).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {
namespace path {

// An empty path! with room for capacity cells (at least 1).
cell_t* make_at(cell_t* cell, int32_t capacity);
// Sets the whole header to path! (flags cleared) and pushes a copy.
cell_t* push(cell_t* cell);

cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
// The walk shared by the four kinds: each value molded (or formed) with "/"
// between, prefix before and suffix after (either may be empty).
int32_t write(cell_t* value, cell_t* buffer, bool mold, const char* prefix, const char* suffix,
              mold_options_t how);

// Registers path! (id 25).
void init();

}  // namespace path

namespace lit_path {
cell_t* push(cell_t* cell);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
void init();
}  // namespace lit_path

namespace set_path {
cell_t* push(cell_t* cell);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
void init();
}  // namespace set_path

namespace get_path {
cell_t* push(cell_t* cell);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
void init();
}  // namespace get_path

}  // namespace zuv
