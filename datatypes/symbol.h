// The symbol table.
//
// Every name is interned once; a symbol id is its 1-based position in the
// symbol block (symbol id n is cell n - 1). Case-insensitive equality rests
// on the canonical id: the first spelling of a name to arrive is canonical,
// and a later spelling that differs only in ASCII letter case gets its own id
// whose alias points straight at the canonical one (never at another
// variant), so resolve is one load.
//
// The symbol cell: word 1 the alias (-1 for a canonical symbol), word 2 the
// node of the name's string! form (0 until first needed), word 3 the node of
// a byte series holding the UTF-8 name and a NUL (tail before the NUL).
//
// The symbol index is a kind-2 hash table over the symbol block, hashed by
// MurmurHash3 of the ASCII-lowered name, so all case variants share a probe
// sequence.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::symbol {

constexpr int32_t BLOCK_SIZE = 4000;

extern node_t block_node;  // the symbol block
extern node_t index_node;  // the symbol index (hash table)

// True once the symbol block and its index exist.
inline bool ready_q() { return index_node != 0; }

inline cell_t* cell_of(int32_t id) { return alloc::buffer(block_node)->head_cell() + (id - 1); }
inline int32_t count() { return alloc::buffer(block_node)->used() / 16; }

inline int32_t alias(int32_t id) { return static_cast<int32_t>(cell_of(id)->data1); }
inline int32_t resolve(int32_t id) {
    int32_t a = alias(id);
    return a > 0 ? a : id;
}

int32_t make(const char* text);
int32_t make_alt(const char* text, int32_t length);
int32_t make_case_insensitive(const char* text);

// The NUL-terminated UTF-8 name; valid until the next allocation.
const char* get_utf8(int32_t id);
int32_t utf8_length(int32_t id);
node_t cache_string(cell_t* symbol);
cell_t* get(int32_t id);
// Pushes the name as a string! on the argument stack: a copy, so that a
// script changing it cannot rename the word everywhere.
cell_t* push_name(int32_t id);

int32_t compare(cell_t* value1, cell_t* value2, int32_t op);

// Step "symbol index": the symbol block (when the root block has not made
// it) and the index.
void init_table();
// Registers symbol!.
void init();

}  // namespace zuv::symbol
