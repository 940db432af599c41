#include "runtime/stack.h"

#include "runtime/alloc.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/words.h"

namespace zuv::stack {

cell_t* bottom = nullptr;
cell_t* end = nullptr;
cell_t* arguments = nullptr;
cell_t* top_slot = nullptr;

call_frame_t* cbottom = nullptr;
call_frame_t* cend = nullptr;
call_frame_t* ctop = nullptr;
call_frame_t* throw_origin = nullptr;
uint32_t interpreted_mark = 0;

node_t argument_node = 0;
node_t frame_node = 0;

uint32_t body_symbol = 0;
uint32_t anon_symbol = 0;

namespace {

// Whether a node still names the fixed buffer of a stack. Start-up hands the
// stacks their buffers through the root block; a node left over from a
// memory manager that has since been reset (tests do that) must not be
// trusted, so init then makes buffers of its own.
bool fixed_buffer_q(node_t node, int32_t bytes) {
    if (node == 0 || alloc::frame_of(node) == nullptr) return false;
    if (!alloc::live_slot_q(alloc::node_table[node])) return false;
    series_buffer_t* s = alloc::buffer(node);
    return s->node == node && (s->flags & series_flag::FIXED) && s->size >= bytes;
}

// The buffers init made itself (not handed over by the root block): they are
// released when a reset of the memory manager orphaned them.
series_buffer_t* own_arguments = nullptr;
series_buffer_t* own_frames = nullptr;

node_t take_buffer(node_t node, int32_t cells, series_buffer_t*& own) {
    if (fixed_buffer_q(node, cells * 16)) return node;
    if (own) lowrt::release(own);
    node = alloc::alloc_fixed_series(cells, sizeof(cell_t), 0);
    own = alloc::buffer(node);
    return node;
}

}  // namespace

void init() {
    // Fixed buffers never move, so the addresses below hold for the life of
    // the process.
    argument_node = take_buffer(argument_node, ARGUMENT_BUFFER_CELLS, own_arguments);
    frame_node = take_buffer(frame_node, FRAME_CELLS, own_frames);
    series_buffer_t* a = alloc::buffer(argument_node);
    bottom = reinterpret_cast<cell_t*>(a->data());
    end = bottom + ARGUMENT_CELLS;
    arguments = top_slot = bottom;
    // The collector reads every cell up to the top only, but a cell handed
    // out by push_slot keeps whatever was there: start from unset!.
    for (cell_t* c = bottom; c < end + OVERFLOW_RESERVE; c++) *c = cell_t{TYPE_unset, 0, 0, 0};

    series_buffer_t* f = alloc::buffer(frame_node);
    cbottom = reinterpret_cast<call_frame_t*>(f->data());
    cend = cbottom + f->size / static_cast<int32_t>(sizeof(call_frame_t));
    ctop = cbottom;
    throw_origin = nullptr;

    // Predefined words exist by now at start-up (0 before, as in tests).
    body_symbol = words::symbol_of(words::id::tag_body);
    anon_symbol = words::symbol_of(words::id::tag_anon);
}

void overflow() {
    cycles::reset();
    // The error takes cells above the top, in the reserve: lowering the top
    // instead would build it over cells of the frames below, which can
    // outlive the `try` that catches it (a call whose argument caught the
    // overflow still needs its callee cell). An overflow while it is built
    // (the reserve used up) travels bare.
    cell_t* limit = bottom + ARGUMENT_CELLS;
    end = limit + OVERFLOW_RESERVE;
    try {
        fire(err::stack_overflow);
    } catch (...) {
        end = limit;
        throw;
    }
}

void overflow_at(cell_t* base) {
    top_slot = base;
    overflow();
}

void reset() {
    cell_t* last = top();
    if (top_slot > bottom && type_of(last) == TYPE_error) copy_cell(last, arguments);
    top_slot = arguments + 1;
}

void push_down() {
    if (top_slot - bottom < 2) return;
    top_slot[-2] = top_slot[-1];
    top_slot--;
}

namespace {

inline void restore_context(const call_frame_t* f) {
    if (f->func_context) *values_word(f->func_context) = f->saved_values;
}

// Pops the innermost frame and returns it; arguments still names the callee's base.
inline call_frame_t* pop_one() { return --ctop; }

}  // namespace

cell_t* mark_func(const cell_t* word, node_t ctx) {
    call_frame_t* f = push_frame(word, frame::FUNC);
    if (ctx) {
        f->func_context = ctx;
        f->saved_values = *values_word(ctx);
    }
    return arguments;
}

cell_t* mark_func_body(const cell_t* word, node_t ctx) {
    if (ctx) *values_word(ctx) = index_of(arguments);
    push_frame(word, frame::FUNC_BODY);
    return arguments;
}

void set_interpreted() {
    if (call_frame_t* f = get_call()) f->header |= frame::INTERPRETED;
}

call_frame_t* mark_caller_exit_target() {
    if (ctop - cbottom < 2) return nullptr;
    call_frame_t* f = ctop - 2;
    if (f->header & frame::EXIT_TARGET) return nullptr;
    f->header |= frame::EXIT_TARGET;
    return f;
}

void clear_exit_target(call_frame_t* f) {
    if (f) f->header &= ~frame::EXIT_TARGET;
}

bool marked_frame_q(call_frame_t* from, bool single) {
    call_frame_t* f = from ? from : ctop;
    if (single) return f > cbottom && (f[-1].header & frame::INTERPRETED);
    while (f > cbottom) {
        f--;
        if (f->header & frame::INTERPRETED) return true;
    }
    return false;
}

void set_call_symbol(const cell_t* value) {
    if (type_of(value) != TYPE_word) return;
    call_frame_t* f = throw_origin ? throw_origin - 1 : ctop;
    if (f <= cbottom) return;
    f--;
    f->header = (f->header & ~frame::SYMBOL_MASK) | (value->data2 & frame::SYMBOL_MASK);
}

// --- unwinding ----------------------------------------------------------------

namespace {

// The common part of unwind and unwind-last: the callee's result slot becomes
// the caller's last pushed cell. Answers that slot.
inline cell_t* unwind_frame(bool restore) {
    if (ctop <= cbottom) return arguments;  // nothing to unwind: leave the stack as it is
    call_frame_t* f = pop_one();
    if (restore) restore_context(f);
    cell_t* result = arguments;
    top_slot = result + 1;
    arguments = cell_at(f->prev);
    return result;
}

inline void revert_frame(bool restore) {
    if (ctop <= cbottom) return;
    call_frame_t* f = pop_one();
    if (restore) restore_context(f);
    // The call's own cells go; the caller's cells below its base stay.
    top_slot = arguments;
    arguments = cell_at(f->prev);
}

}  // namespace

void unwind_func() { unwind_frame(true); }
void unwind_last() {
    cell_t* result = unwind_frame(false);
    copy_cell(result, arguments);
}
void revert() { revert_frame(false); }
void revert_func() { revert_frame(true); }

void pop_frame() {
    if (ctop <= cbottom) {
        arguments = top_slot = bottom;
        return;
    }
    call_frame_t* f = pop_one();
    if (frame::kind_of(f) == frame::KIND_FUNC) restore_context(f);
    if (ctop == cbottom) {
        arguments = top_slot = bottom;
        return;
    }
    top_slot = arguments;
    arguments = cell_at(f->prev);
}

void unroll(uint32_t kind, bool keep) {
    call_frame_t* entry = ctop;
    if (ctop <= cbottom) {
        arguments = top_slot = bottom;
        return;
    }
    uint32_t wanted = (kind & frame::KIND_MASK) >> 24;
    for (;;) {
        call_frame_t* f = pop_one();
        uint32_t k = frame::kind_of(f);
        if (k == frame::KIND_FUNC) restore_context(f);
        if (k == wanted || k == frame::KIND_TRY_ALL || ctop <= cbottom) break;
    }
    if (keep) ctop++;
    if (ctop == entry) {
        top_slot = arguments + 1;
    } else if (ctop == cbottom) {
        arguments = top_slot = bottom;
    } else {
        top_slot = arguments + 1;
        arguments = cell_at(ctop->prev);
    }
    if (!keep) ctop++;
}

void unroll_last(uint32_t kind) {
    cell_t* result = arguments;
    call_frame_t* entry = ctop;
    unroll(kind, false);
    // The record just above the target frame is the one popped first after
    // it (the body frame); its word 1 is the target's own arguments base.
    // When the innermost frame was the target, nothing lies above it and its
    // own base is where the result already is.
    cell_t* target = ctop < entry ? cell_at(ctop->prev) : result;
    copy_cell(result, target);
    arguments = top_slot = target;
}

}  // namespace zuv::stack
