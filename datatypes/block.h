// Blocks and parens: series of value cells.
//
// block! is the universal container: code, data, function bodies and specs,
// the root block, the argument lists of errors. A block value is a series
// cell: word 1 the head index in cells, word 2 the node of a buffer whose unit
// is 16 (one cell per unit), word 3 zero (a hash! keeps its hashtable there).
// paren! shares every entry but mold; the path kinds and hash! reuse the raw
// operations below.
//
// The rs_ family checks nothing: the caller knows the value is a block kind.
// Functions that return a cell address return an address inside the buffer,
// valid only until the next allocation (any allocation may move buffers).
// Code that appends in a loop goes through the block cell every time, never
// through a saved address.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv {
namespace block {

// The root block: a fixed buffer that never moves, made by the start-up step
// init_root. Its first three cells are fixed at start-up (ROOT_ARGUMENTS ...);
// everything start-up keeps for the life of the process is appended after.
extern cell_t root;

// 1 while start-up runs: words, refinements and issues made now are also
// kept in the root block. The library's top level sets it back to 0.
extern int booting_q;
constexpr int32_t ROOT_CELLS = 8792;
constexpr int32_t SYMBOL_CELLS = 4000;
// Cells of the root block made by init_root.
constexpr int32_t ROOT_ARGUMENTS = 0;  // the argument stack block (fixed)
constexpr int32_t ROOT_FRAMES = 1;  // the call-frame stack block (fixed)
constexpr int32_t ROOT_SYMBOLS = 2;  // the symbol block
// Start-up step "root block".
void init_root();
// Registers block! (id 5) in the datatype registry.
void init();

// Any new length from 2^27 cells on is refused with no-memory.
constexpr int64_t MAX_CELLS = 134217728;

// --- the series cell ------------------------------------------------------
inline int32_t head_index(const cell_t* b) { return static_cast<int32_t>(b->data1); }
inline void set_head_index(cell_t* b, int32_t i) { b->data1 = static_cast<uint32_t>(i); }
inline node_t node_of(const cell_t* b) { return b->data2; }
inline series_buffer_t* buffer_of(const cell_t* b) { return alloc::buffer(b->data2); }
// Cells in the buffer, head of the buffer to its tail.
inline int32_t abs_length(const cell_t* b) { return buffer_of(b)->used() >> 4; }
// First cell of the buffer (index 0).
inline cell_t* first_cell(const cell_t* b) { return buffer_of(b)->head_cell(); }

// Writes a block value in place (half-built rule: the type is written last).
inline cell_t* init_value(cell_t* c, uint32_t type, node_t node, int32_t head = 0) {
    cell::begin(c);
    c->data1 = static_cast<uint32_t>(head);
    c->data2 = node;
    c->data3 = 0;
    c->header = type;
    return c;
}

// --- raw operations ---------------------------------------------------------
// Cells from the head to the tail (0 when the head lies beyond the tail).
int32_t rs_length_q(const cell_t* b);
// The head cell; a head beyond the tail is first set to the tail.
cell_t* rs_head(cell_t* b);
// Just past the last cell.
inline cell_t* rs_tail(const cell_t* b) { return buffer_of(b)->tail_cell(); }
inline bool rs_tail_q(const cell_t* b) {
    const series_buffer_t* s = buffer_of(b);
    return static_cast<int64_t>(head_index(b)) * 16 >= s->tail - s->head;
}
// The cell at absolute index i (from the first cell of the buffer).
inline cell_t* rs_abs_at(const cell_t* b, int32_t i) { return first_cell(b) + i; }
// Drops the cells from the head on.
void rs_clear(cell_t* b);
// The tail becomes absolute index i.
void truncate_at(cell_t* b, int32_t i);
// A copy of value in a new cell at the tail; returns the new cell. value may
// lie in the block itself: it is copied before the buffer can move.
cell_t* rs_append(cell_t* b, const cell_t* value);
// Copies every cell of source from its head to the tail of b; returns b.
cell_t* append_block(cell_t* b, const cell_t* source);
// Removes the first cell equal (code 12) to value; 0 when nothing was removed.
int32_t remove_value(cell_t* b, cell_t* value);
// The cell after the first word kind with the symbol of word (through the
// canonical symbol unless strict); the shared none cell when absent.
cell_t* select_word(cell_t* b, const cell_t* word, bool strict);
// Inserts one cell at the head (or at index 0 with at_start); with advance
// the head moves past it.
void insert_value(cell_t* b, const cell_t* value, bool at_start, bool advance);
// Pushes a new block holding copies of the cells of b from its head. deep:
// nested blocks (with copy_parens also parens and paths) are cloned too. No
// cycle check: only for blocks that cannot contain themselves.
cell_t* clone(const cell_t* b, bool deep, bool copy_parens);
// For each cell of [first, end) stepping by step whose type is in the types
// filter (a datatype! or typeset!), replaces a series, object!, map! or
// bitset! by its copy (deep when asked). Cells are addressed by index in the
// block b so that copying (which allocates) never leaves a stale address.
void copy_nested(cell_t* b, int32_t first, int32_t end, int32_t step, bool deep,
                 const cell_t* types);

// --- constructors ---------------------------------------------------------
// c becomes an empty block with room for capacity cells (at least 1).
cell_t* make_at(cell_t* c, int32_t capacity);
// As make_at (n below 1 counts as 1); fixed: a fixed buffer outside the
// collector's frames.
cell_t* preallocate(cell_t* c, int32_t n, bool fixed);
// A block with a fixed buffer of capacity cells at the tail of parent, or in
// the cell at when parent is nullptr (start-up: the root block itself).
cell_t* make_fixed(cell_t* parent, int32_t capacity, cell_t* at = nullptr);
// A new empty block appended at parent's tail (the root block's when
// parent is nullptr).
cell_t* make_in(cell_t* parent, int32_t capacity);
// Pushes a copy of the block value on the argument stack.
cell_t* push(const cell_t* b);
// Pushes a new empty block (capacity 0 counts as 1).
cell_t* push_only_star(int32_t capacity);
// Stack forms for compiled code: the last pushed value goes into the block
// held by the cell beneath it; the block stays as the last pushed value.
void insert_star();
void append_star();

// --- action entries of block! ---------------------------------------------
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
// The molding of every block kind, between the delimiters open and close
// (written unless only): parens, functions and hash! share it.
int32_t mold_delimited(cell_t* value, cell_t* buffer, const char* open, const char* close,
                       mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_);
cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup);
cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types);
cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool case_);
cell_t* swap(cell_t* series1, cell_t* series2);
cell_t* take(cell_t* series, cell_t* part, bool deep, bool last);
cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with);

// Depth counter of nested molding (shared with the other molders).
extern int32_t mold_depth;

}  // namespace block

namespace paren {
// Registers paren! (id 6).
void init();
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
// Pushes a copy of value with header paren!.
cell_t* push(const cell_t* value);
}  // namespace paren

}  // namespace zuv
