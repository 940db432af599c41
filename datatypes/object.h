// object!: a context of kind 2 seen as a value.
//
// The cell: word 1 the context node (kind 2, with a self value), word 2 the
// class id, word 3 the change record's node (0: none). error! and port! use
// the same cell. Every object cell made is also copied into its context's
// self value, so a context can always reach its object.
//
// Class ids tell objects of one shape apart: a counter, incremented before
// use; an object made from a prototype without new words keeps its class.
//
// Change events. An object whose fields on-change* and on-deep-change* hold
// functions hears of every change of its fields (on-change*: word, old and
// new value) and of every in-place change of a series it owns
// (on-deep-change*, through runtime/ownership.h). The change record (word 3)
// is a node of two pair! cells used as plain words, one per handler: word 2
// the handler's slot index in the high 16 bits (0xFFFF: absent) and its
// number of local slots in the low 16; word 3 the spec node the count was
// made from, so that a handler replaced later is recounted before its call.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::object {

inline node_t context_of(const cell_t* obj) { return obj->data1; }

int32_t new_class_id();
// The counter as it stands (the last id given).
int32_t class_count();

constexpr uint32_t NO_HANDLER = 0xFFFF;

// Writes an object cell (type given) and copies it into the context's self.
cell_t* init_value(cell_t* cell, uint8_t type, node_t ctx, int32_t class_id, node_t record);
// Pushes an object on an existing context (no change record).
cell_t* push_context(node_t ctx, int32_t class_id);
// Pushes an object with all three fields.
cell_t* push(node_t ctx, int32_t class_id, node_t record);
// An empty object on a new context of that size, class 0.
cell_t* make_at(cell_t* cell, int32_t size);
// For construct: a new object (without prototype: 4 slots, a new class id;
// with one: a deep copy of it) given the spec's set-words with the value
// after each run of them, nothing evaluated; unless only, the words true yes
// on / false no off / none become their values. Pushes and returns it.
cell_t* construct(cell_t* spec, cell_t* prototype, bool only);
void construct_values(cell_t* obj, cell_t* spec, bool only);
// Adds the words of the object from to obj and sets their values, copies
// obj's series values and rebuilds its functions; whether words were added.
bool extend(cell_t* obj, const cell_t* from);
// Rebuilds the function in slot index of obj for obj (its own context copy,
// its body bound to obj and then to that context).
void rebind_function(cell_t* obj, int32_t index);
// Replaces every series value of obj (copied from a prototype) by a copy,
// rebinding copied blocks to obj.
void copy_series_values(cell_t* obj);

// Fields.
int32_t word_count(const cell_t* obj);
cell_t* get_values(const cell_t* obj);
// The word at index of the context's word block.
cell_t* get_word(node_t ctx, int32_t index);
// Index of the word (case-insensitive), -1 when absent.
int32_t find_word(const cell_t* obj, const cell_t* word);
int32_t find_symbol(const cell_t* obj, int32_t symbol);
// The word's value in the object, or the shared none cell when absent.
cell_t* select_word(const cell_t* obj, const cell_t* word);
// The word whose value cell is at that address, nullptr outside the values.
cell_t* word_of_value(const cell_t* obj, const cell_t* value);

// A copy of source into result: a new context with the same words and the
// values as they stand (deep: series values copied too).
cell_t* copy_into(const cell_t* source, cell_t* result, bool deep);
// With a types filter (a datatype! or typeset!, nullptr for none).
cell_t* copy_into(const cell_t* source, cell_t* result, bool deep, const cell_t* types);

// The fields as "word: value" entries (shared by form and mold of object!,
// error! and port!); all includes the two change-handler fields.
int32_t serialize(const cell_t* obj, cell_t* buffer, mold_options_t how, bool mold);

// --- change events ---------------------------------------------------------
// Builds obj's record from its own handler fields (none: no record); a
// handler field holding neither function! nor routine! raises bad-field-set.
void install_handlers(cell_t* obj);
bool has_on_deep_change_q(const cell_t* obj);
// Calls on-change* with the word, the old and the new value.
void fire_on_set(cell_t* obj, cell_t* word, cell_t* old_value, cell_t* new_value);
// set on an object: every field (but the handlers) from value.
void set_many(cell_t* obj, cell_t* value, bool any, bool only, bool some);

// Tells the owner that a series it owns (target, reached under its field
// word) is changing: before the change with the action's word, after it with
// the word's past form. Calls the owner's on-deep-change* handler.
void fire_on_deep_change(cell_t* owner, cell_t* word, cell_t* target, cell_t* action,
                         const cell_t* new_value, int32_t index, int32_t part);

// Actions.
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* reflect(cell_t* value, int32_t field);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool case_);
cell_t* modify(cell_t* target, cell_t* field, cell_t* value, bool case_);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
// The comparison of two object-like cells (object!, error!, port!) of any
// type: error! and port! compare through it without retyping an operand.
int32_t compare_fields(const cell_t* value1, const cell_t* value2, int32_t op);
cell_t* select(cell_t* series, cell_t* value, const select_options_t& how);
cell_t* find(cell_t* series, cell_t* value, const find_options_t& how);

// Registers object!.
void init();

}  // namespace zuv::object
