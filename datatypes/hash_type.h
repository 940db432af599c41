// hash!: a block that keeps a hash index of its values, so that find and
// select on large blocks do not scan. (The datatype lives in namespace
// hash_type: runtime/hash.h is the hashing module, namespace hash.)
//
// The cell is a block cell with word 3 the node of its hash table
// (runtime/hashtable.h, kind 0), which maps every value of the block, from
// the buffer's start, to its position. Every block action keeps that table in
// step; the entries here are hash!'s own: make, to, mold, copy, sort, trim.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::hash_type {

inline node_t table_of(const cell_t* value) { return value->data3; }
inline bool hashed_q(const cell_t* value) {
    return type_of(value) == TYPE_hash && value->data3 != 0;
}

// Builds the index over the block value in cell (size: expected values, at
// least 1) and makes the cell a hash!.
cell_t* index_block(cell_t* cell, int32_t size);

// The block actions call these after they change a hash!'s cells (value:
// the hash! as they hold it; test hashed_q first), so that its index stays in
// step.
// count cells were inserted at absolute index at (appended when at the tail).
void cells_added(const cell_t* value, int32_t at, int32_t count);
// count cells from at were overwritten in place.
void cells_replaced(const cell_t* value, int32_t at, int32_t count);
// Anything else (removals, moves, reorderings): the index is built again.
void reindex(const cell_t* value);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
cell_t* sort(cell_t* series, bool case_, cell_t* skip, cell_t* comparator, cell_t* part, bool all,
             bool reverse, bool stable);
cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with);

// Registers hash! (registration order table).
void init();

}  // namespace zuv::hash_type
