// The argument descriptors of the natives and actions start-up defined: the
// arguments a call with no refinement takes, read out of their arguments
// caches once: for each its cache entry, how it is quoted and the types it
// takes. A call then checks each argument's type with one test of a mask
// instead of finding the cache's buffer and reading its typeset, and one
// with quoted arguments fetches them in a plain loop, not the general walk.
//
// A descriptor holds only while its callee calls through the very cache it
// was read from (the start-up cache of its entry): the call compares the
// nodes, and takes the cache's own way when they differ or there is none.
#pragma once

#include <cstdint>

#include "datatypes/action.h"
#include "datatypes/native.h"
#include "runtime/cell.h"

namespace zuv::interpreter {

// Natives and actions of more arguments than this (before their first
// refinement) have no descriptor.
constexpr int32_t DESCRIBED_ARGS_MAX = 6;

struct entry_arguments {
    // The cache block read (0: no descriptor).
    node_t cache = 0;
    // The arguments before the first refinement.
    uint8_t count = 0;
    // Argument i: its cache entry (a return: entry before it shifts it) and
    // its kind (ARG_NORMAL or ARG_LIT).
    uint8_t entry[DESCRIBED_ARGS_MAX] = {};
    uint8_t kind[DESCRIBED_ARGS_MAX] = {};
    // Bit t of types[i]: argument i takes datatype id t.
    uint64_t types[DESCRIBED_ARGS_MAX] = {};
};

extern entry_arguments native_arguments[native::TABLE_SLOTS];
extern entry_arguments action_arguments[action::COUNT];

// The descriptor of a native or action (type t, table index) whose arguments
// cache is the block at cache; nullptr when there is none for it.
[[gnu::always_inline]] inline const entry_arguments* described(uint8_t t, uint32_t index,
                                                               node_t cache) {
    const entry_arguments* d;
    if (t == TYPE_action) {
        if (index >= static_cast<uint32_t>(action::COUNT)) return nullptr;
        d = action_arguments + index;
    } else {
        if (index >= static_cast<uint32_t>(native::TABLE_SLOTS)) return nullptr;
        d = native_arguments + index;
    }
    return d->cache == cache && cache != 0 ? d : nullptr;
}

// Whether argument i of descriptor d takes value's type.
[[gnu::always_inline]] inline bool takes_q(const entry_arguments* d, int32_t i,
                                           const cell_t* value) {
    return (d->types[i] >> (type_of(value) & 63)) & 1;
}

}  // namespace zuv::interpreter
