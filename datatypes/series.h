// series!: the actions every series shares, whatever its unit.
//
// series! (id 42) is abstract: no value carries its id. Its row holds the
// actions that work the same on blocks (16-byte units), strings (1, 2 or 4
// bytes per character), binaries and vectors, by addressing raw units
// through the buffer's unit size. The children take these entries through
// inheritance; only element extraction (pick, random/only), element storage
// (poke) and the hashtable of hash! depend on the type.
//
// A series value: word 1 the head index in units, counted from the buffer's
// first unit (signed), word 2 the node, word 3 type-specific. Several values
// may share one buffer at different heads, so a head can lie beyond the tail
// after a removal through another value; every operation clamps such a head.
//
// Every in-place change tells the series' owner before and after, with the
// action's word pair, the start index and the count (signal_owner). Only
// buffers with the owned flag pay for more than one flag test.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv {
namespace series {

// --- units ------------------------------------------------------------------
inline series_buffer_t* buffer_of(const cell_t* v) { return alloc::buffer(v->data2); }
inline int32_t head_index(const cell_t* v) { return static_cast<int32_t>(v->data1); }
inline void set_head_index(cell_t* v, int32_t i) { v->data1 = static_cast<uint32_t>(i); }
// log2 of a unit of 1, 2, 4, 8 (vector! of 64-bit floats) or 16 bytes.
inline int32_t shift_of(uint32_t unit) {
    return unit == 16 ? 4 : unit == 8 ? 3 : unit == 4 ? 2 : static_cast<int32_t>(unit >> 1);
}
// Address of the unit at absolute index i.
inline uint8_t* unit_at(series_buffer_t* s, int32_t i) {
    return s->head_ptr() + (static_cast<int64_t>(i) << shift_of(s->unit()));
}

// --- raw operations (no checks, no errors) ----------------------------------
// Whether the head lies at or beyond the tail.
inline bool rs_tail_q(const cell_t* v) {
    series_buffer_t* s = buffer_of(v);
    return (static_cast<int64_t>(head_index(v)) << shift_of(s->unit())) >= s->used();
}
// Units in the whole buffer.
inline int32_t rs_abs_length_q(const cell_t* v) {
    series_buffer_t* s = buffer_of(v);
    return s->used() >> shift_of(s->unit());
}
// Moves the head by n only when the new head stays at or before the tail;
// whether the (new) head is at or beyond the tail.
bool rs_skip(cell_t* v, int32_t n);
// Units from the head (from index 0 with from_start; a negative head counts
// as 0) to the tail. A head beyond the tail is set to the tail, answering 0.
int32_t get_length(cell_t* v, bool from_start);

// --- runs (datatypes/series_runs.cpp) ----------------------------------------
// Editing many places of a series in one pass, where one edit at a time would
// move the rest of the series each time. No owner is told: callers whose
// series is owned edit one place at a time, so that the owner hears of each.

// A stretch of count units from absolute index start.
struct run_t {
    int32_t start;
    int32_t count;
};
// Replaces the units of every run by the units of replacement (a series of
// v's kind from its head; nullptr: nothing), widening a text to hold them.
// Runs come in increasing order without overlapping; the parts beyond the
// tail are ignored. Either every run is at least as long as the replacement,
// or none is longer. A hash! keeps its index.
void rs_replace_runs(cell_t* v, const run_t* runs, int32_t count, const cell_t* replacement);
// rs_replace_runs with nothing; answers how many units before index went,
// for a position to follow.
int32_t rs_remove_runs(cell_t* v, const run_t* runs, int32_t count, int32_t index);

namespace routines {
// series pattern replacement size case: the find engine of replace/all in
// one pass, for a text, binary! or block kind that has no owner: every match
// of pattern (as find, or find/case, gives it, each search starting after the
// last match) and the size units from it become replacement's units. True
// when done; false, with nothing changed, when the series is of another
// kind, owned, or size is below 1.
void replace_all();
// series marks replacement: the parse engine of replace/all in one pass.
// marks holds pairs of positions, where a match starts and where it ends, in
// series or the lists inside it; each becomes replacement's units. True
// when done (or, marks none, when it could be); false, with nothing changed,
// when a series marked is owned or of another kind than replacement.
void replace_runs();
}  // namespace routines

// Block kinds: block!, paren!, the path kinds, hash!.
inline bool block_kind_q(uint8_t t) {
    return t == TYPE_block || t == TYPE_paren || (t >= TYPE_path && t <= TYPE_get_path) ||
           t == TYPE_hash;
}
inline bool any_string_q(uint8_t t) {
    return t == TYPE_string || t == TYPE_file || t == TYPE_url || t == TYPE_tag ||
           t == TYPE_email || t == TYPE_ref;
}
inline bool series_q(uint8_t t) {
    return block_kind_q(t) || any_string_q(t) || t == TYPE_binary || t == TYPE_vector ||
           t == TYPE_image;
}

// --- ownership signals ------------------------------------------------------
// The words of in-place changes: each action's word before the change, and
// the one after it (put-ed and swaped are spelled so).
// clang-format off
#define ZUV_CHANGE_WORDS(X)                                                                         \
    X(append, "append") X(appended, "appended") X(insert, "insert") X(inserted, "inserted")        \
    X(change, "change") X(changed, "changed") X(clear, "clear") X(cleared, "cleared")              \
    X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed")                            \
    X(remove, "remove") X(removed, "removed") X(random, "random") X(randomized, "randomized")       \
    X(reverse, "reverse") X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted")              \
    X(swap, "swap") X(swaped, "swaped") X(take, "take") X(taken, "taken")                          \
    X(move, "move") X(moved, "moved") X(trim, "trim") X(trimmed, "trimmed")
// clang-format on

enum class change_word : uint8_t {
#define ZUV_CHANGE_ID(ident, text) ident,
    ZUV_CHANGE_WORDS(ZUV_CHANGE_ID)
#undef ZUV_CHANGE_ID
};
const char* change_text(change_word w);

// Receives every signal of an owned series: the changed series, the word,
// the new value (nullptr when the change brings none), the start index and
// the count. The default hands it to the ownership module; tests put a
// recorder here.
using owner_signal_t = void (*)(cell_t* series, change_word word, cell_t* value, int32_t index,
                                int32_t count);
extern owner_signal_t owner_signal;

// Whether the series is owned or planned (runtime/stamp.h): whether its
// changes are signalled. Callers test it once, so that the signal after the
// change can be skipped without a second lookup.
inline bool owned_q(const cell_t* v) {
    return (buffer_of(v)->flags & (series_flag::OWNED | series_flag::PLANNED)) != 0;
}
inline void signal_owner(cell_t* v, change_word w, cell_t* value, int32_t index, int32_t count) {
    if (owned_q(v)) owner_signal(v, w, value, index, count);
}

// --- part arguments ---------------------------------------------------------
// The count that a part argument names for series v: an integer! gives its
// value; a series of v's type on v's buffer gives its head minus v's head.
// Anything else raises invalid-refine-arg naming part.
int32_t part_count(const cell_t* v, const cell_t* part);

// --- action entries of series! ----------------------------------------------
// Frame actions: the series is the call's first argument and result slot.
void at();
void back();
void head();
void head_q();
void index_q();
void next();
void skip();
void tail();
void tail_q();

cell_t* clear(cell_t* v);
cell_t* copy(cell_t* v, cell_t* result, cell_t* part, bool deep, cell_t* types);
int32_t length_q(cell_t* v);
cell_t* move(cell_t* origin, cell_t* target, cell_t* part);
cell_t* pick(cell_t* v, int32_t index, cell_t* index_cell);
cell_t* poke(cell_t* v, int32_t index, cell_t* index_cell, cell_t* value);
cell_t* random(cell_t* v, bool seed, bool secure, bool only);
cell_t* reflect(cell_t* v, int32_t field);
cell_t* remove(cell_t* v, cell_t* part, cell_t* key);
cell_t* reverse(cell_t* v, cell_t* part, cell_t* skip);
// Without part the result is the taken element itself (a cell for block
// kinds, a char! for texts, an integer! for binary!), written straight into
// the result slot: no scratch series is shared between calls, so a change
// handler running in between cannot overwrite it. With part: a new series of
// v's type.
cell_t* take(cell_t* v, cell_t* part, bool deep, bool last);
cell_t* modify(cell_t* v, cell_t* field, cell_t* value, bool case_);

// The element at absolute index i as a value written into out: the cell
// itself for block kinds, char! for strings, integer! for binary!.
cell_t* element_at(cell_t* v, int32_t i, cell_t* out);

// Index rule of at and skip (skip_mode), clamped to 0..total length.
int32_t index_rule(cell_t* v, int32_t n, bool skip_mode);

// Registers series! (id 42).
void init();

}  // namespace series
}  // namespace zuv
