// map!: the dictionary, an unordered collection of key/value pairs with a
// hash index, molded between "#[" and "]". Not a series: no positional
// actions.
//
// The cell: word 1 the head index (always 0), word 2 the node of a block of
// entries (a key cell followed by its value cell, new entries appended at the
// tail), word 3 the node of the map's hash table (runtime/hashtable.h, kind
// 1). A removed entry stays in the block with its value cell's header 0 until
// the table next has to grow: then removed entries are dropped from the block
// and the table is rebuilt, so a loop of puts and removes runs in bounded
// memory. The table's live count is the map's length.
//
// Keys are found without case unless /case is asked for; string-like keys are
// stored as copies and word keys as set-words (preprocess_key). A stored
// string-like key never leaves the map: every way out (foreach, reflect,
// find, set) hands out a copy (hand_out_key).
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"
#include "runtime/hashtable.h"

namespace zuv::map {

inline node_t block_of(const cell_t* map) { return map->data2; }
inline node_t table_of(const cell_t* map) { return map->data3; }

// Turns the block value in cell into a map: duplicate keys (identical case)
// keep the first position and the later value, keys are prepared and the
// index is built. cell may hold nullptr's equivalent: with block nullptr, a
// new empty map with room for capacity entries.
cell_t* make_at(cell_t* cell, const cell_t* block, int32_t capacity);
cell_t* push(const cell_t* map);

// The live entries (length?).
int32_t table_word(const cell_t* map);
bool valid_key_q(int32_t type);
// Prepares a key before it is stored: string kinds become copies from their
// head, word kinds set-words; a type that cannot be a key raises invalid-path
// with its datatype and accessed. key must not lie in a series buffer (the
// copy allocates); use preprocess_key_at for a key inside a block.
void preprocess_key(cell_t* key, const cell_t* accessed);
void preprocess_key_at(node_t block, int32_t position);
// Makes a stored key (a cell the caller holds rooted, outside any buffer)
// into the value a caller is given: a set-word as a word, a series kind as
// a fresh copy, since a change made through the stored one would leave the
// key out of its place in the index.
void hand_out_key(cell_t* key);

// Adds the pairs of a block (a changed value for a present key); case_
// compares keys with case.
cell_t* extend(cell_t* map, cell_t* block, bool case_);
// Writes the live pairs (see map.cpp for the layouts).
int32_t mold_pairs(cell_t* map, cell_t* buffer, mold_options_t how, bool mold);
// A new block of the live keys (as hand_out_key gives them), of the live
// values, or of both alternately (each key then marked to start a line).
cell_t live_block(const cell_t* map, bool keys, bool values);
// One step of foreach: sets the words of the block (count of them) from the
// live entries from *position (an entry index into the block, in cells),
// advancing it; answers whether a word was set.
bool foreach_next(cell_t* map, cell_t* words, int32_t count, int32_t* position);

// The value cell of a live key, or nullptr (mode: the comparison code of
// actions::cmp: EQUAL without case, STRICT_EQUAL with it, SAME identity).
cell_t* find_value(cell_t* map, const cell_t* key, int32_t code);
// Stores value under key (appending a new entry or reviving a removed one).
void put_value(cell_t* map, cell_t* key, cell_t* value, bool case_);

// find_value and put_value for an integer! key, the common case kept short:
// every comparison code finds the same entry of an integer. put_integer's
// caller keeps value rooted (an argument cell, say) while it runs.
inline cell_t* find_integer_value(const cell_t* map, int32_t key) {
    cell_t* k = hashtable::find_map_integer(table_of(map), key, nullptr);
    return k && k[1].header != 0 ? k + 1 : nullptr;
}
void put_integer(cell_t* map, const cell_t* key, const cell_t* value);

// The key cell of the entry of a word-kind key, found without case (the
// key of a path), removed or not, or nullptr: find_entry's first look, kept
// short. A removed entry met sends the caller to find_value, which looks on
// for a live case variant.
inline cell_t* find_word_entry(const cell_t* map, const cell_t* key) {
    return hashtable::find_map_word(table_of(map), static_cast<int32_t>(key->data2), false);
}

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
cell_t* reflect(cell_t* value, int32_t field);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* clear(cell_t* value);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);
int32_t length_q(cell_t* value);
cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool case_);
cell_t* remove(cell_t* series, cell_t* part, cell_t* key);
cell_t* select(cell_t* series, cell_t* value, const select_options_t& how);

// Registers map! (registration order table).
void init();

}  // namespace zuv::map
