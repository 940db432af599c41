// Contexts and binding.
//
// A context maps words to value slots: the global words, every object's
// fields, every function's arguments and locals. A context is a node whose
// series holds two cells: the context! cell and the self value (the object or
// function that owns it; unset! until its maker copies it in). The two cells
// sit at the start of the series' data, whatever its head: an object made by
// shape keeps its values in the same series, after them, its head past them
// (series_flag::CONTEXT_VALUES; word 2 then names the context's own node), so
// that it costs one series and one node. The first word it adds moves the
// values to a series of their own.
//
// The context! cell: header bits 11-12 the kind (0 global, 1 function, 2
// object), bit 22 values on the argument stack, bit 24 has a self value; word
// 1 the node of its symbols table (a kind-2 hash table over the word block,
// hashed by the canonical symbol id); word 2 the node of the values series, or
// for a stack context the cell index of the running call's first argument;
// word 3 an object context's set marks (below), else 0.
//
// Shapes. Object contexts with the same words in the same order may share one
// symbols table (their shape): a copy of an object, an object made from a
// prototype, objects made from one spec block. A context that shares its
// table carries FLAG_SHARED; the first word it adds gives it a table of its
// own (copied), so a shared table never changes. The words of a shared word
// block are unbound (a table names no context, so it keeps none alive):
// field_word gives a word bound to the context asked about. Two contexts of
// one table find every word at the same index, so a path element bound to
// one object's field is valid for every object of that shape.
//
// Set marks (which fields were set since the marks were last cleared: the
// changed words of an object) are the context's own, never the table's: with
// FLAG_MARKS_NODE word 3 is the node of a byte series (a bit per word), else
// word 3 holds the bits of words 0-31 itself.
//
// Words carry their context node and slot index, so reading a bound word is
// one indexed access (value_of below); the symbols table is consulted only
// when a word is bound or its index is unknown.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::_context {

constexpr int32_t GLOBAL_SIZE = 4000;

constexpr uint32_t KIND_SHIFT = 11;
constexpr uint32_t KIND_MASK = 3u << KIND_SHIFT;
constexpr int32_t KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2;
constexpr uint32_t FLAG_ON_STACK = FLAG_STACK_VALUES;  // bit 22
constexpr uint32_t FLAG_SELF = 1u << 24;
// The context shares its symbols table with other contexts.
constexpr uint32_t FLAG_SHARED = 1u << 25;
// Word 3 is the node of the set marks (see above).
constexpr uint32_t FLAG_MARKS_NODE = 1u << 26;

extern node_t global_node;

inline cell_t* cell_of(node_t ctx) { return reinterpret_cast<cell_t*>(alloc::buffer(ctx)->data()); }
inline int32_t kind_of(const cell_t* ctx_cell) {
    return static_cast<int32_t>((ctx_cell->header & KIND_MASK) >> KIND_SHIFT);
}
inline bool on_stack_q(const cell_t* ctx_cell) { return (ctx_cell->header & FLAG_ON_STACK) != 0; }

// Every operation takes the context's node: a cell address inside a context
// would not survive the allocations that adding words makes.

// --- making ------------------------------------------------------------------
// source: a context! cell whose table and word block are copied, or nullptr.
node_t create(int32_t capacity, bool on_stack, bool self, const cell_t* source, int32_t kind);
node_t make(const cell_t* spec, bool on_stack, bool self, int32_t kind);
// holder's word 1 holds a context node; it gets the clone's node.
node_t clone(cell_t* holder, int32_t kind);
// A heap object context of the given table's words (shared with its other
// users, which are flagged too), every value unset!.
node_t make_shared(node_t table, node_t sharer);
// Flags ctx as sharing its table (whose words then name no context).
void share(node_t ctx);
// Gives a context that keeps its values in its own series a values series
// of their own (before they grow, or are worked on as a block).
void unfold(node_t ctx);
inline node_t table_of(node_t ctx) { return cell_of(ctx)->data1; }

// --- the word block ------------------------------------------------------------
node_t get_symbols_node(node_t ctx);
series_buffer_t* get_symbols(node_t ctx);
inline cell_t* get_symbol_word(node_t ctx, int32_t index) {
    return get_symbols(ctx)->head_cell() + index;
}
inline int32_t word_count(node_t ctx) { return get_symbols(ctx)->used() / 16; }
// The word at index bound to ctx (the word block's own may name another
// context of the same shape).
cell_t field_word(node_t ctx, int32_t index);

// --- set marks -------------------------------------------------------------------
// mark_set's way for the marks in a byte series (word 32 on, or made so).
void mark_set_in_node(node_t ctx, int32_t index);
// Inline: every store through a path marks its field.
inline void mark_set(node_t ctx, int32_t index) {
    cell_t* c = cell_of(ctx);
    if (!(c->header & FLAG_MARKS_NODE) && index < 32) [[likely]] {
        c->data3 |= 1u << index;
        return;
    }
    mark_set_in_node(ctx, index);
}
bool set_q(node_t ctx, int32_t index);
void clear_marks(node_t ctx);
// Gives ctx the marks of from (a copy).
void copy_marks(node_t ctx, node_t from);
inline cell_t* get_self_value(node_t ctx) { return cell_of(ctx) + 1; }

// --- finding and adding ----------------------------------------------------------
int32_t find_word(node_t ctx, int32_t symbol, bool case_insensitive);
// Adds when absent: -1 for an added word, the index otherwise; *index gets it either way.
int32_t find_word_star(node_t ctx, int32_t symbol, bool case_insensitive, int32_t* index);
int32_t add(node_t ctx, const cell_t* word);
cell_t* add_value(node_t ctx, const cell_t* word, const cell_t* value);
bool collect_set_words(node_t ctx, cell_t* block);
// A word of the symbol bound in the global context (added, unset, when
// absent). Case variants of a name share the canonical word's slot.
cell_t* add_global(int32_t symbol, bool case_insensitive, bool keep_spelling, cell_t* out);
inline cell_t add_global(int32_t symbol, bool case_insensitive, bool keep_spelling) {
    cell_t w;
    add_global(symbol, case_insensitive, keep_spelling, &w);
    return w;
}

// --- values --------------------------------------------------------------------
// The slot of a value by index; nullptr when the context has no values now
// (a function context outside its call).
inline cell_t* value_at(node_t ctx, int32_t index) {
    cell_t* c = cell_of(ctx);
    if (c->header & FLAG_ON_STACK)
        return c->data2 == 0 ? nullptr : stack::cell_at(c->data2) + index;
    return alloc::buffer(c->data2)->head_cell() + index;
}
// The cold paths of get: self, unbound words, a context without values.
cell_t* get_slow(const cell_t* word);

// The address of a word's value: the hot path of every word read.
inline cell_t* get(const cell_t* word) {
    int32_t index = static_cast<int32_t>(word->data3);
    node_t ctx = word->data1;
    if (index < 0 || ctx == 0) [[unlikely]]
        return get_slow(word);
    cell_t* c = cell_of(ctx);
    if (!(c->header & FLAG_ON_STACK)) [[likely]]
        return alloc::buffer(c->data2)->head_cell() + index;
    if (c->data2 == 0) [[unlikely]]
        return get_slow(word);
    return stack::cell_at(c->data2) + index;
}
cell_t* set(cell_t* word, const cell_t* value);
cell_t* set_in(cell_t* word, const cell_t* value, node_t ctx, bool fire_events);
// The word's value in ctx, nullptr when ctx has no such word.
cell_t* get_in(int32_t symbol, node_t ctx);

// --- binding -------------------------------------------------------------------
int32_t bind_word(node_t ctx, cell_t* word);
cell_t* bind(cell_t* block, node_t ctx, bool self);

// Step "global context".
void init_global();

}  // namespace zuv::_context

namespace zuv::context {
// Registers context!, which has no actions of its own.
void init();
}  // namespace zuv::context
