// Ownership: which object owns which series.
//
// A reactive object must hear about every in-place change of a series it
// holds, however deep. ownership::set_owner records, in one table keyed by
// series node (by context node for objects), the owner object and the field
// word under which each owned series is reached, and marks the series'
// buffer (series_flag::OWNED; an image! the series of its node record).
//
// Every in-place change of a series calls ownership::check twice: before the
// change with the action's word (words::id::append, ::insert, ::change, ...)
// and after it with the word's past form (::appended, ::inserted, ::changed,
// ...), with the start index and the count of the change. The check costs one
// flag test for a series nobody owns; for an owned one it calls the owner's
// on-deep-change* handler.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/words.h"

namespace zuv::ownership {

// Header bit 16 of an object's context! cell: the object is an owner.
constexpr uint32_t FLAG_OWNER = 1u << 16;

// Table capacity at start-up, and value cells per entry (owned value, owner
// object, field word).
constexpr int32_t INITIAL_ENTRIES = 1000;
constexpr int32_t ENTRY_VALUES = 3;

void init();

// Records value (and, for blocks and objects, what it contains) as owned by
// owner under word. Cycles are cut by the cycle stack.
void set_owner(const cell_t* value, const cell_t* owner, const cell_t* word);
// set_owner, then marks owner's context cell as an owner.
void bind(const cell_t* value, const cell_t* owner, const cell_t* word);
void unset_owner(const cell_t* value);

// The owner object cell of the node's entry, nullptr when it has none.
cell_t* get_owner(node_t node);

// Whether the target's owner was told (it has an entry and the owner object
// has a change handler).
bool check_slow(const cell_t* target, words::id action, const cell_t* new_value, int32_t index,
                int32_t part);

// The before/after notification of an in-place change. Answers whether the
// owner was told.
bool check(const cell_t* target, words::id action, const cell_t* new_value, int32_t index,
           int32_t part);

// Whether the value is marked owned (the flag of its series buffer).
bool owned_q(const cell_t* value);

// How many entries the table holds (for tests and the collector).
int32_t count();
// The table's node (0 before init), for the collector, which keeps only the
// table's own buffers alive and sweeps the entries whose series died.
node_t table_node();

}  // namespace zuv::ownership
