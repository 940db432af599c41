// The argument stack and the call-frame stack.
//
// Every call follows one protocol: a frame is marked on the call-frame stack
// (which sets `arguments` to the current top), the arguments are pushed as
// cells, the entry point runs and builds its result in the first argument
// slot, and an unwind pops the frame, leaving that result as the caller's
// last pushed cell. The argument stack is also the scratch area where actions
// build their results.
//
// Layout. The argument stack is one fixed buffer of ARGUMENT_CELLS cells that
// never moves, so `bottom`, `arguments` and `top_slot` are plain addresses
// that stay valid for the life of the process:
//
//     bottom <= arguments <= top_slot < end
//
// `arguments` is the current call's base; the cell there is also its result
// slot. `top_slot` is one past the last pushed cell. The frame stack is a
// second fixed buffer of 20-byte call_frame_t records.
//
// Anything that outlives a C++ call in a 32-bit word (frame word 1, the values
// word of a function context whose values live on the stack) holds a cell
// INDEX counted from `bottom`, never an address: index_of / cell_at convert.
//
// Overflow of either stack empties the cycle stack and raises stack-overflow.
// The error is built in a reserve of cells past `end`, granted only while it
// is built: never below the top, where the cells can belong to frames that
// outlive the `try` that catches it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv {

// One call frame: five 32-bit words.
struct call_frame_t {
    uint32_t header;  // symbol id (bits 0-23), kind (24-27), exit target (28), interpreted (31)
    uint32_t prev;  // the caller's arguments base, as a cell index from the bottom
    node_t context;  // context node of the called word, 0 when unbound
    node_t func_context;  // mark_func only: the function's context node; else 0
    uint32_t saved_values;  // mark_func only: that context's values word at the push; else 0
};
static_assert(sizeof(call_frame_t) == 20, "a call frame is five 32-bit words");

namespace frame {
// Kinds (header bits 24-27).
constexpr uint32_t KIND_FUNC = 1, KIND_NATIVE = 2, KIND_TRY = 4, KIND_TRY_ALL = 5, KIND_CATCH = 6,
                   KIND_EVAL = 7, KIND_LOOP = 8;

constexpr uint32_t SYMBOL_MASK = 0x00FFFFFFu;
constexpr uint32_t KIND_MASK = 0x0F000000u;
constexpr uint32_t EXIT_TARGET = 1u << 28;
constexpr uint32_t INTERPRETED = 1u << 31;

constexpr uint32_t header_of(uint32_t kind) { return kind << 24; }

// Header values (bits 24-31) written by the marking operations.
constexpr uint32_t FUNC = header_of(KIND_FUNC);
constexpr uint32_t INTERP_FUNC = FUNC | INTERPRETED;
constexpr uint32_t NATIVE = header_of(KIND_NATIVE);
constexpr uint32_t INTERP_NATIVE = NATIVE | INTERPRETED;
// A function body run as a native frame that is its own exit target.
constexpr uint32_t FUNC_BODY = NATIVE | EXIT_TARGET;
constexpr uint32_t TRY = header_of(KIND_TRY);
constexpr uint32_t TRY_ALL = header_of(KIND_TRY_ALL);
constexpr uint32_t CATCH = header_of(KIND_CATCH);
// An eval frame always counts as the interpreter's.
constexpr uint32_t EVAL = header_of(KIND_EVAL) | INTERPRETED;
constexpr uint32_t LOOP = header_of(KIND_LOOP);

inline uint32_t kind_of(const call_frame_t* f) { return (f->header & KIND_MASK) >> 24; }
inline uint32_t symbol_of(const call_frame_t* f) { return f->header & SYMBOL_MASK; }
}  // namespace frame

// Header bit 22 of a context! cell: its values live on the argument stack and
// data word 2 is the cell index of the first one.
constexpr uint32_t FLAG_STACK_VALUES = 1u << 22;

namespace stack {

constexpr int32_t ARGUMENT_CELLS = 20000;
// The cells past `end` that only the building of a stack-overflow error takes.
constexpr int32_t OVERFLOW_RESERVE = 8;
// The argument stack's buffer: its cells and the reserve.
constexpr int32_t ARGUMENT_BUFFER_CELLS = ARGUMENT_CELLS + OVERFLOW_RESERVE;
constexpr int32_t FRAME_CELLS = 15000;  // 240,000 bytes: 12,000 frames
constexpr int32_t FRAME_COUNT = FRAME_CELLS * 16 / 20;

// --- state -----------------------------------------------------------------
extern cell_t* bottom;
extern cell_t* end;
extern cell_t* arguments;
extern cell_t* top_slot;  // one past the last pushed cell

extern call_frame_t* cbottom;
extern call_frame_t* cend;
extern call_frame_t* ctop;  // one past the innermost frame

// Nodes of the two fixed buffers (for the root block and the collector).
extern node_t argument_node;
extern node_t frame_node;

// Symbol ids of <body> and <anon>, read by init (0 until the symbol table exists).
// frame::INTERPRETED while the interpreter runs user code, 0 while it runs
// library code or C++ calls: calls made from the library count as compiled
// calls, so `interpreted?` sees only the frames that user code pushed and the
// frames of `do` (an eval frame always counts as the interpreter's).
extern uint32_t interpreted_mark;

extern uint32_t body_symbol;
extern uint32_t anon_symbol;

// Makes both buffers (once) and empties both stacks.
void init();

// Cell index <-> address, for 32-bit words that refer into the stack.
inline uint32_t index_of(const cell_t* c) { return static_cast<uint32_t>(c - bottom); }
inline cell_t* cell_at(uint32_t index) { return bottom + index; }

// Empties the cycle stack and raises stack-overflow, built in the reserve
// past `end` (the top stays where it is).
[[noreturn]] void overflow();
// overflow() with the top at base first: where push_frame would have it.
[[noreturn]] void overflow_at(cell_t* base);

// --- argument stack --------------------------------------------------------
// Grants the cell at the top (contents as they were) while top + 1 stays below
// the end.
inline cell_t* push_slot() {
    cell_t* c = top_slot;
    if (c + 1 >= end) overflow();
    top_slot = c + 1;
    return c;
}

inline cell_t* push(const cell_t* value) {
    cell_t* c = push_slot();
    *c = *value;
    return c;
}

inline void pop(int32_t n) { top_slot = (top_slot - bottom > n) ? top_slot - n : bottom; }

// The last pushed cell, or the bottom when the stack is empty.
inline cell_t* top() { return top_slot == bottom ? bottom : top_slot - 1; }
inline uint8_t top_type() { return type_of(top()); }

inline void set_last(const cell_t* value) { copy_cell(value, arguments); }
inline cell_t* set_last_keep(const cell_t* value) {
    top_slot = arguments + 1;
    return copy_cell(value, arguments);
}
inline void clear_args() { top_slot = arguments; }
inline void keep() { top_slot = arguments + 1; }
// Keeps an error that was pushed last as the call's result.
void reset();

void push_down();  // moves the last pushed cell over the one beneath it, pops one

// --- marking frames --------------------------------------------------------
// Pushes a frame record whose base is the current top. Inline: every call of
// the evaluator marks one.
// The record made whole beforehand (header: symbol, kind and marks; context:
// the called word's) and the new base given: for callers that know both
// without reading the word or the top again.
inline call_frame_t* push_frame_made(uint32_t header, node_t context, cell_t* base) {
    call_frame_t* f = ctop;
    if (f >= cend) [[unlikely]]
        overflow_at(base);
    // The header and the caller's base (its byte offset shifted to the
    // index's place) in one store: apart, the compiler packs them through
    // vector registers.
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t first = header | (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arguments) -
                                                         reinterpret_cast<uintptr_t>(bottom))
                                   << 28);
        std::memcpy(f, &first, sizeof first);
    } else {
        f->header = header;
        f->prev = index_of(arguments);
    }
    f->context = context;
    f->func_context = 0;
    f->saved_values = 0;
    ctop = f + 1;
    arguments = base;
    return f;
}
inline uint32_t frame_header(const cell_t* word, uint32_t header) {
    return (word ? (word->data2 & frame::SYMBOL_MASK) : 0) | header;
}
inline call_frame_t* push_frame(const cell_t* word, uint32_t header) {
    call_frame_t* f = ctop;
    if (f >= cend) [[unlikely]]
        overflow();
    f->header = frame_header(word, header);
    f->prev = index_of(arguments);
    f->context = word ? word->data1 : 0;
    f->func_context = 0;
    f->saved_values = 0;
    ctop = f + 1;
    arguments = top_slot;
    return f;
}
// All take the word cell of the called word (nullptr: symbol 0, unbound) and
// return the new arguments base.
inline cell_t* mark(const cell_t* word, uint32_t header) {
    push_frame(word, header);
    return arguments;
}
inline cell_t* mark_native(const cell_t* word) { return mark(word, frame::NATIVE); }
// The three tops, kept by C++ code that calls an action on a native frame of
// its own and drops that frame afterwards (an error leaves them to its catcher).
struct tops_t {
    cell_t* top_slot;
    cell_t* arguments;
    call_frame_t* ctop;
};
inline tops_t tops() { return {top_slot, arguments, ctop}; }
inline void restore_tops(const tops_t& t) {
    ctop = t.ctop;
    arguments = t.arguments;
    top_slot = t.top_slot;
}
inline cell_t* mark_interp_native(const cell_t* word) {
    return mark(word, frame::NATIVE | interpreted_mark);
}
inline cell_t* mark_interp_func(const cell_t* word) {
    return mark(word, frame::FUNC | interpreted_mark);
}
inline cell_t* mark_try(const cell_t* word) { return mark(word, frame::TRY); }
inline cell_t* mark_try_all(const cell_t* word) { return mark(word, frame::TRY_ALL); }
inline cell_t* mark_catch(const cell_t* word) { return mark(word, frame::CATCH); }
inline cell_t* mark_eval(const cell_t* word) { return mark(word, frame::EVAL); }
inline cell_t* mark_loop(const cell_t* word) { return mark(word, frame::LOOP); }
// Saves the function context's values word in the frame (ctx 0: no context).
cell_t* mark_func(const cell_t* word, node_t ctx);
// Points the function context's values at the arguments just pushed, then
// pushes the body frame (the return/exit target).
cell_t* mark_func_body(const cell_t* word, node_t ctx);

// The values word (data word 2) of the context cell held by a context node.
inline uint32_t* values_word(node_t ctx) {
    return &reinterpret_cast<cell_t*>(alloc::buffer(ctx)->data())->data2;
}

// --- frame flags -----------------------------------------------------------
inline void set_exit_target(int flag) {
    if (ctop <= cbottom) [[unlikely]]
        return;
    if (flag) ctop[-1].header |= frame::EXIT_TARGET;
    else ctop[-1].header &= ~frame::EXIT_TARGET;
}
void set_interpreted();
call_frame_t* mark_caller_exit_target();  // nullptr when already set
void clear_exit_target(call_frame_t* f);
bool marked_frame_q(call_frame_t* from, bool single);
void set_call_symbol(const cell_t* value);
// Set by the non-local exits while a throw is in progress (its origin frame
// top); set_call_symbol then renames the frame below it.
extern call_frame_t* throw_origin;

// The innermost frame, nullptr when there is none.
inline call_frame_t* get_call() { return ctop > cbottom ? ctop - 1 : nullptr; }
inline int32_t frame_depth() { return static_cast<int32_t>(ctop - cbottom); }

// --- unwinding -------------------------------------------------------------
// Pops the innermost frame: the callee's result slot becomes the caller's
// last pushed cell.
inline void unwind() {
    if (ctop <= cbottom) [[unlikely]]
        return;  // nothing to unwind: leave the stack as it is
    call_frame_t* f = --ctop;
    top_slot = arguments + 1;
    arguments = cell_at(f->prev);
}
void unwind_func();
void unwind_last();
void revert();
void revert_func();
void pop_frame();
// kind: a header value with the kind in bits 24-27 (frame::FUNC, frame::LOOP...)
void unroll(uint32_t kind, bool keep);
void unroll_last(uint32_t kind);
inline void unroll_loop(bool keep) { unroll(frame::LOOP, keep); }

}  // namespace stack
}  // namespace zuv
