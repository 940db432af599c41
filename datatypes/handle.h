// handle!: an opaque system handle that the platform layers hand to the
// language (a file descriptor, a window, a font ...).
//
// The cell: word 1 the kind, word 2 the handle's 32-bit value, word 3 the
// index of its entry in the external-resource table (runtime/externals.h),
// -1 when the handle owns none. The collector keeps such an entry alive by
// marking it through the handle (handle::mark); the entry's kind releases
// the object once no handle reaches it.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::handle {

// Kinds, in the order of their names.
namespace kind {
constexpr uint32_t NONE = 0, FD = 1, MONITOR = 2, WINDOW = 3, FONT = 4, RICH_TEXT = 5;
}
constexpr int32_t NO_EXTERNAL = -1;

inline uint32_t value_of(const cell_t* c) { return c->data2; }
inline uint32_t kind_of(const cell_t* c) { return c->data1; }
inline int32_t external_of(const cell_t* c) { return static_cast<int32_t>(c->data3); }
// "fd", "window", ...; nullptr for kind 0 and unknown kinds.
const char* kind_name(uint32_t kind);

inline cell_t* make_at(cell_t* cell, uint32_t value, uint32_t kind,
                       int32_t external = NO_EXTERNAL) {
    cell->data1 = kind;
    cell->data2 = value;
    cell->data3 = static_cast<uint32_t>(external);
    cell::set_type(cell, TYPE_handle);
    return cell;
}
cell_t* make_in(cell_t* block, uint32_t value, uint32_t kind);
// The result slot becomes the handle.
cell_t* box(uint32_t value, uint32_t kind);
cell_t* push(uint32_t value, uint32_t kind);
// Collector hook: keeps the handle's external entry alive.
void mark(const cell_t* cell);

// --- action entries ---
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

// Registers handle! (after integer!).
void init();

}  // namespace zuv::handle
