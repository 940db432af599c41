#include "runtime/exits.h"

#include <unistd.h>

#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::exits {

uint32_t pending = 0;
bool end_process_on_uncaught = false;

namespace {

using stack::cbottom;
using stack::ctop;

// A frame's own arguments base is recorded in the frame above it; for the
// innermost frame it is the current base.
cell_t* own_base(const call_frame_t* f, const call_frame_t* old_ctop) {
    return f + 1 < old_ctop ? stack::cell_at((f + 1)->prev) : stack::arguments;
}

// Frames between an exit and its target are dropped without unwinding each;
// a compiled function frame among them still gets its context's values back,
// innermost first, so that a recursive caller reads its own arguments again.
void restore_contexts(const call_frame_t* target, const call_frame_t* old_ctop) {
    for (const call_frame_t* f = old_ctop - 1; f > target; f--)
        if (frame::kind_of(f) == frame::KIND_FUNC && f->func_context != 0)
            *stack::values_word(f->func_context) = f->saved_values;
}

// Leaves target innermost, arguments = top = its own base, and the exit's
// value (or unset) in that base cell.
void land(call_frame_t* target, const cell_t* value) {
    call_frame_t* old_ctop = ctop;
    cell_t carried = value ? *value : cell_t{TYPE_unset, 0, 0, 0};
    cell_t* base = own_base(target, old_ctop);
    restore_contexts(target, old_ctop);
    ctop = target + 1;
    stack::arguments = stack::top_slot = base;
    *base = carried;
}

// Frames that reports leave out: <body>, <anon>, and frames marked with no
// word at all (symbol 0), which have no name to report.
bool internal_frame(const call_frame_t* f) {
    uint32_t s = frame::symbol_of(f);
    return s == 0 || s == stack::body_symbol || s == stack::anon_symbol;
}

// Whether the word's value is a function!. Frames recorded in an error's
// stack field may have been popped since: a function context without values
// then reads as no function rather than raising.
bool function_q(const cell_t* w) {
    int32_t index = static_cast<int32_t>(w->data3);
    if (w->data1 == 0 || index < 0) return false;
    const cell_t* v = _context::value_at(w->data1, index);
    return v != nullptr && type_of(v) == TYPE_function;
}

// The word of a frame, read without allocating: the frame's context's word
// for its symbol, else the global context's, else an unbound word.
cell_t frame_word(const call_frame_t* f) {
    int32_t symbol = static_cast<int32_t>(frame::symbol_of(f));
    cell_t w;
    int32_t index = f->context != 0 ? _context::find_word(f->context, symbol, false) : -1;
    if (index >= 0) return _context::field_word(f->context, index);
    index = _context::find_word(_context::global_node, symbol, false);
    if (index >= 0) return *word::at(_context::global_node, index);
    word::make_raw(&w, TYPE_word, 0, symbol, 0);
    return w;
}

}  // namespace

void throw_error(cell_t* error) {
    cell_t* old_top = stack::top_slot;
    bool caught = false;
    if (ctop > cbottom) {
        if (type_of(error) == TYPE_error) {
            cell_t where = get_call();
            error::set_where(error, &where);
            cell_t* stack_field = error::field(error, error::FIELD_STACK);
            if (type_of(stack_field) != TYPE_block) {
                cell::begin(stack_field);
                stack_field->data1 = 0;
                stack_field->data2 = static_cast<uint32_t>(ctop - cbottom);
                stack_field->data3 = 0;
                cell::set_type(stack_field, TYPE_integer);
            }
        }
        stack::unroll(frame::TRY, false);
        // unroll leaves the frame it stopped at on the stack; the throw takes it.
        call_frame_t* stopped = --ctop;
        uint32_t kind = frame::kind_of(stopped);
        caught = kind == frame::KIND_TRY || kind == frame::KIND_TRY_ALL;
        stack::top_slot = old_top;
    }
    if (!caught && end_process_on_uncaught) uncaught(error);
    cell_t copy = *error;
    stack::push(&copy);
    throw raised_error{error::id_of(&copy)};
}

void throw_break(bool has_value, bool continue_) {
    err e = continue_ ? err::continue_ : err::break_;
    if (ctop <= cbottom) fire(e);
    call_frame_t* f = ctop - 1;
    for (;;) {
        if (frame::kind_of(f) == frame::KIND_TRY_ALL || f == cbottom) fire(e);
        f--;
        if (frame::kind_of(f) == frame::KIND_LOOP) break;
    }
    land(f, has_value && !continue_ ? stack::arguments : nullptr);
    pending = continue_ ? THROW_CONTINUE : THROW_BREAK;
}

void throw_exit(bool has_value, bool include_innermost) {
    if (ctop <= cbottom) fire(err::return_);
    call_frame_t* f = ctop - 1;
    if (!include_innermost || !(f->header & frame::EXIT_TARGET)) {
        for (;;) {
            if (frame::kind_of(f) == frame::KIND_TRY_ALL || f == cbottom) fire(err::return_);
            f--;
            if (f->header & frame::EXIT_TARGET) break;
        }
    }
    land(f, has_value ? stack::arguments : nullptr);
    pending = has_value ? THROW_RETURN : THROW_EXIT;
}

void throw_throw(uint32_t code) {
    cell_t value = stack::arguments[0];
    cell_t name =
        stack::arguments + 1 < stack::top_slot ? stack::arguments[1] : cell_t{TYPE_none, 0, 0, 0};
    if (ctop <= cbottom) fire(err::throw_, &value);
    if (stack::throw_origin == nullptr) stack::throw_origin = ctop;
    call_frame_t* f = ctop - 1;
    for (;;) {
        if (frame::kind_of(f) == frame::KIND_TRY_ALL || f == cbottom) fire(err::throw_, &value);
        f--;
        if (frame::kind_of(f) == frame::KIND_CATCH) break;
    }
    land(f, &value);
    stack::top_slot = stack::arguments + 1;
    stack::push(&name);
    pending = code;
}

void uncaught(cell_t* error) {
    // An error raised while one is reported (no room left for the report's
    // text): its id alone is written.
    static bool reporting = false;
    if (reporting) {
        err id = error::id_of(error);
        char text[128];
        int n = std::snprintf(text, sizeof text, "\n*** Error %d: %s\n", errors::code(id),
                              errors::info(id).word);
        platform::write_all(STDOUT_FILENO, text, static_cast<size_t>(n));
        lowrt::run_exit_hooks();
        _exit(254);
    }
    reporting = true;
    // The frames of the error are popped but still whole: its trace is taken
    // now, as a catch that keeps it would (not for want of memory: the trace
    // needs more).
    if (error::id_of(error) != err::no_memory) error::capture_stack(error);
    // Every frame is gone: the report is made from the bottom up (a stack
    // overflow's error rides in the reserve past the end, where nothing more
    // may be pushed).
    cell_t e = *error;
    stack::ctop = stack::cbottom;
    stack::arguments = stack::top_slot = stack::bottom;
    error::print(stack::push(&e));
    // Not lowrt::quit: its runtime-error lines must not follow the text.
    lowrt::run_exit_hooks();
    _exit(254);
}

cell_t get_call() {
    call_frame_t* start = stack::throw_origin ? stack::throw_origin : ctop;
    stack::throw_origin = nullptr;
    for (call_frame_t* f = start - 1; f >= cbottom; f--) {
        if (internal_frame(f)) continue;
        return word::in_context_or_global(f->context, static_cast<int32_t>(frame::symbol_of(f)));
    }
    return words::word(words::id::tag_not_found);
}

void collect_calls(cell_t* out) {
    for (call_frame_t* f = ctop - 1; f > cbottom; f--) {
        if (internal_frame(f)) continue;
        node_t ctx = f->func_context ? f->func_context : f->context;
        cell_t w = word::in_context_or_global(ctx, static_cast<int32_t>(frame::symbol_of(f)));
        block::rs_append(out, &w);
        cell_t n{TYPE_integer, 0, f->prev, 0};
        block::rs_append(out, &n);
    }
}

void trace(int32_t level, cell_t* out, call_frame_t* end) {
    // Frames above the top are kept by no one: a collection while they are
    // read could free a context that only one of them names.
    collector::hold_off hold;
    for (const call_frame_t* f = cbottom; f < end && f < stack::cend; f++) {
        if (internal_frame(f)) continue;
        cell_t w = frame_word(f);
        if (level > 1 || function_q(&w)) block::rs_append(out, &w);
    }
}

int32_t trace_form(int32_t level, const cell_t* stack_field, cell_t* out, int32_t budget) {
    // Frames popped since the throw may name contexts that are gone by now:
    // the form stops at the current top, below which every frame is live. A
    // catch that keeps the trace (try/keep) takes it while they are whole.
    call_frame_t* end = cbottom + static_cast<int32_t>(stack_field->data2);
    if (end > ctop) end = ctop;
    cell_t* scratch = stack::push_slot();
    cell::begin(scratch);
    for (const call_frame_t* f = cbottom; f < end && budget > 0; f++) {
        if (internal_frame(f)) continue;
        *scratch = frame_word(f);
        if (level <= 1 && !function_q(scratch)) continue;
        // A name that does not fit ends the trace whole: half a name reads
        // as another function's.
        int32_t before = string::rs_abs_length_q(out);
        int32_t left = word::form(scratch, out, true, budget);
        if (left < 0) {
            string::truncate_to(string::buffer_of(out), before);
            break;
        }
        budget = left;
        string::concatenate_literal(out, " ");
        budget -= 1;
    }
    stack::pop(1);
    return budget;
}

}  // namespace zuv::exits
