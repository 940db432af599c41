// Evaluation of blocks and expressions: the block loops (eval, eval_here,
// run_in_place), one expression (eval_expression) and the short ways of
// the operand path that evaluate in place (parens, set-words). Calls and
// their arguments are in calls.cpp; the inline routines both use, the
// operand path and the infix lookahead among them, are in internal.h.

#include "datatypes/symbol.h"
#include "interpreter/internal.h"
#include "interpreter/plans/runner.h"
#include "runtime/collector.h"

namespace zuv::interpreter {

// --- blocks ----------------------------------------------------------------------------

namespace {

inline bool run_frame(const cell_t* code);
[[gnu::noinline, gnu::cold]] bool run_frame_from_other_origin(const cell_t* code, bool library) {
    code_origin origin(library);
    return run_frame(code);
}
[[gnu::noinline, gnu::cold]] cell_t* run_in_place_from_other_origin(const cell_t* code,
                                                                    bool library) {
    code_origin origin(library);
    return run_in_place(code);
}

// Runs the expressions of code (a cell that stays put and keeps its block
// alive) in the <body> frame just marked. Returns false when an exit is
// pending: its frames are unwound already. Otherwise the value is in the
// frame's result slot, the frame still marked.
inline bool run_frame(const cell_t* code) {
    bool library = library_code::library_q(code->data2);
    if (!origin_fits(library)) [[unlikely]]
        return run_frame_from_other_origin(code, library);
    int32_t head = block::head_index(code);
    int32_t end = block::abs_length(code);
    if (head < 0) head = 0;
    if (tracing) [[unlikely]]
        fire_event(event::ENTER, code, head, nullptr, nullptr);
    if (head >= end) [[unlikely]] {
        stack::set_last_keep(&unset_value);
    } else {
        // Library code runs as compiled code does: it leaves the position of
        // the user's code that called it, which an error then reports as near.
        // The whole position is set before each expression, since a call
        // evaluated in between left its own there; after an exit or error the
        // position stays where it happened, for a catcher's error to report.
        bool track = !library;
        int32_t pos = head;
        for (;;) {
            if (track) {
                *position = *code;
                position->data1 = static_cast<uint32_t>(pos);
            }
            pos = eval_expression(code, pos, end, false, false, false);
            if (exits::pending) [[unlikely]]
                return false;
            end = live_end(code, end);
            if (pos >= end) break;
            stack::clear_args();
        }
    }
    if (tracing) [[unlikely]]
        fire_event(event::EXIT, code, end, nullptr, stack::arguments);
    return true;
}

}  // namespace

void eval(const cell_t* block, bool keep) {
    // A block that ran to its end gives the position back, as a paren does:
    // an error later in the expression that ran it (`add do [3 - 1] none`)
    // is near that expression.
    nested_position kept(stack::interpreted_mark != 0);
    // The code cell rides on the stack under the frame: it keeps the block
    // alive and gives every position a cell that does not move.
    cell_t* code = stack::push(block);
    stack::mark_eval(&body_word);
    if (!run_frame(code)) return;
    kept.restore();
    // Pop the frame and the code cell under it.
    finish_call(code, !keep);
}

void eval_here(const cell_t* block) {
    if (tracing) [[unlikely]] {
        // Traces show the <body> frame's enter and exit events.
        eval(block, true);
        return;
    }
    cell_t* r = plan::enabled ? run_loop_block(block) : run_in_place<true>(block);
    if (r == nullptr) [[unlikely]]
        return;
    *stack::arguments = *r;
    stack::top_slot = stack::arguments + 1;
}

void eval_paren_pushed(const cell_t* paren) {
    if (tracing || !plan::enabled) [[unlikely]] {
        // Traces show the <body> frame's enter and exit events.
        eval(paren, false);
        return;
    }
    // eval's frame and code cell, so that errors count the same frames; only
    // the run of the expressions differs.
    nested_position kept(paren);
    cell_t* code = stack::push(paren);
    stack::mark_eval(&body_word);
    cell_t* r = run_loop_block<TYPE_paren>(code);
    if (r == nullptr) [[unlikely]]
        return;
    kept.restore();
    finish_call(code, true, r);
}

int32_t eval_next(const cell_t* code, int32_t pos, int32_t end, bool push) {
    stack::mark_interp_native(&body_word);
    pos = eval_expression(code, pos, end, false, true, false);
    if (exits::pending) return pos;
    if (push) stack::unwind();
    else stack::unwind_last();
    return pos;
}

int32_t do_next(const cell_t* block) {
    cell_t code = *block;
    int32_t head = block::head_index(&code);
    int32_t end = block::abs_length(&code);
    if (head >= end) {
        stack::set_last(&unset_value);
        return head < 0 ? 0 : head;
    }
    cell_t* stable = stack::push(&code);
    int32_t pos = eval_next(stable, head, end, true);
    if (exits::pending) return pos;
    cell_t r = *stack::top();
    stack::pop(2);
    stack::set_last(&r);
    return pos;
}

// Runs code (a cell that stays put and keeps its block alive, below the top)
// in the current frame, with no <body> frame of its own: reports leave <body>
// out anyway. The values are pushed above the current top, one at a time;
// returns the last one's cell (the top's), or nullptr when an exit is
// pending. The same positions, errors and exits as run_frame's.
template <bool check_origin> cell_t* run_in_place(const cell_t* code) {
    series_buffer_t* b = alloc::buffer(code->data2);
    int32_t end = b->used() >> 4;
    int32_t pos = block::head_index(code);
    if (pos < 0) pos = 0;
    cell_t* base = stack::top_slot;
    if (pos >= end) [[unlikely]] {
        // A loop over an empty body evaluates nothing else: an interrupt
        // must reach it here.
        check_native_stack();
        stack::push_slot()->header = TYPE_unset;
        return base;
    }
    bool track = !(b->flags & series_flag::LIBRARY);
    if constexpr (check_origin) {
        if (!origin_fits(!track)) [[unlikely]]
            return run_in_place_from_other_origin(code, !track);
    }
    for (;;) {
        if (track) {
            *position = *code;
            position->data1 = static_cast<uint32_t>(pos);
        }
        pos = eval_operand(b->head_cell() + pos, end, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return nullptr;
        b = alloc::buffer(code->data2);
        int32_t live = b->used() >> 4;
        if (live < end) end = live;
        if (pos >= end) break;
        stack::top_slot = base;
    }
    return base;
}

template cell_t* run_in_place<false>(const cell_t* code);
template cell_t* run_in_place<true>(const cell_t* code);

// --- expressions --------------------------------------------------------------------

int32_t eval_expression(const cell_t* code, int32_t pos, int32_t end, bool no_infix, bool push,
                        bool as_value) {
    check_native_stack();
    cell_t* c = cell_at(code, pos);
    if (tracing) [[unlikely]] {
        fire_event(event::FETCH, code, pos, nullptr, c);
        // The tracer may have moved the code, or cut it short: then the
        // expression is gone and gives unset.
        if (pos >= live_end(code, end)) [[unlikely]] {
            emit(&unset_value, push);
            return pos + 1;
        }
        c = cell_at(code, pos);
    }
    switch (type_of(c)) {
    case TYPE_word: {
        const cell_t* v = _context::get(c);
        uint8_t vt = type_of(v);
        if (callable_q(vt)) {
            if (short_ways) [[likely]] {
                if (vt == TYPE_native && v->data1 == RETURN_SLOT) [[unlikely]]
                    return eval_return(v, c, code, pos + 1, end);
                // Its plan read without building it: nothing here may allocate
                // while v and c still point into buffers.
                const cell_t* cache = alloc::buffer(v->data3)->head_cell() + 1;
                if (type_of(cache) == TYPE_block && call_summary::simple_q(cached_summary(cache)) &&
                    vt != TYPE_routine) [[likely]] {
                    pos = call_direct(vt, v, c, cached_summary(cache), code, pos + 1, end, push);
                    if (exits::pending) return pos;
                    break;
                }
            }
            pos = eval_code(v, code, pos + 1, end, push, pos, false);
            if (exits::pending) return pos;
            break;
        }
        if (vt == TYPE_unset) [[unlikely]] {
            cell_t w = *c;
            fire(err::no_value, &w);
        }
        if (vt == TYPE_op) [[unlikely]] {
            cell_t w = *c;
            fire(err::no_op_arg, &w);
        }
        emit(v, push);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        pos++;
        break;
    }
    case TYPE_set_word: {
        stack::mark_interp_native(c);
        stack::push(c);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::arguments);
        if (pos + 1 >= live_end(code, end)) {
            cell_t w = *stack::arguments;
            fire(err::need_value, &w);
        }
        pos = eval_expression(code, pos + 1, end, false, true, false);
        if (exits::pending) return pos;
        if (tracing) [[unlikely]]
            fire_event(event::SET, code, pos, stack::arguments, stack::arguments + 1);
        store_set_word();
        if (push) stack::unwind();
        else stack::unwind_last();
        // The value has had its lookahead already.
        if (tracing && !push) [[unlikely]]
            fire_event(event::EXPR, code, pos, nullptr, stack::arguments);
        return pos;
    }
    case TYPE_paren: {
        if (tracing) [[unlikely]] {
            // eval's own frame is the paren's: keep stores into the result
            // slot, else the value is pushed in place of the code cell.
            eval(c, !push);
            if (exits::pending) return pos;
            pos++;
            break;
        }
        // The paren's cell rides on the stack while it runs (it keeps the
        // block alive); its value then takes that cell's place, or the
        // result slot's.
        cell_t* held = stack::push(c);
        nested_position kept(c);
        cell_t* r = run_in_place(held);
        if (r == nullptr) [[unlikely]]
            return pos;
        kept.restore();
        cell_t* target = push ? held : stack::arguments;
        *target = *r;
        stack::top_slot = target + 1;
        pos++;
        break;
    }
    case TYPE_lit_word: {
        emit(c, push);
        cell_t* r = push ? stack::top() : stack::arguments;
        cell::set_type(r, TYPE_word);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, r);
        pos++;
        break;
    }
    case TYPE_get_word:
        emit(_context::get(c), push);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        pos++;
        break;
    case TYPE_issue: {
        if (pos + 1 < live_end(code, end) && type_of(c + 1) == TYPE_block) {
            int32_t s = symbol::resolve(word::symbol_of(c));
            if (s == system_symbol || s == system_global_symbol) fire(err::zuv_system);
        }
        emit(c, push);
        pos++;
        break;
    }
    case TYPE_native:
    case TYPE_action:
    case TYPE_function:
    case TYPE_routine:
        if (as_value) {
            emit(c, push);
            pos++;
            break;
        }
        pos = eval_code(c, code, pos + 1, end, push, -1, false);
        if (exits::pending) return pos;
        break;
    case TYPE_op: fire(err::not_done);
    case TYPE_path: {
        cell_t path = *c;
        int32_t after = short_ways ? call_refined(&path, code, pos, end, push) : -1;
        pos = after >= 0 ? after : eval_path(&path, code, pos, end, false, false, push, false);
        if (exits::pending) return pos;
        break;
    }
    case TYPE_lit_path: {
        emit(c, push);
        cell_t* r = push ? stack::top() : stack::arguments;
        cell::set_type(r, TYPE_path);
        r->data3 = 0;
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, r);
        pos++;
        break;
    }
    case TYPE_set_path: {
        cell_t path = *c;
        // Evaluating the value may drop the path from the code.
        collector::root_cell keep_path(&path);
        if (pos + 1 >= live_end(code, end)) fire(err::need_value, &path);
        stack::mark_interp_native(&set_path_word);
        pos = eval_expression(code, pos + 1, end, false, true, false);
        if (exits::pending) return pos;
        if (tracing) [[unlikely]]
            fire_event(event::SET, code, pos, &path, stack::arguments);
        eval_path(&path, code, pos, end, true, false, true, false);
        if (exits::pending) return pos;
        if (push) stack::unwind();
        else stack::unwind_last();
        // The value has had its lookahead already.
        if (tracing && !push) [[unlikely]]
            fire_event(event::EXPR, code, pos, nullptr, stack::arguments);
        return pos;
    }
    case TYPE_get_path: {
        cell_t path = *c;
        pos = eval_path(&path, code, pos, end, false, true, push, false);
        if (exits::pending) return pos;
        break;
    }
    default:
        emit(c, push);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        pos++;
        break;
    }
    if (!no_infix) {
        // Only a word can be an operator: most expressions stop here.
        const cell_t* next = live_cells(code, &end) + pos;
        if (pos < end && type_of(next) == TYPE_word) {
            pos = infix_loop(code, pos, end, push);
            if (exits::pending) return pos;
        }
    }
    if (tracing && !push) [[unlikely]]
        fire_event(event::EXPR, code, pos, nullptr, stack::arguments);
    return pos;
}

// A paren as eval_expression runs it while nothing is traced: its cell rides
// on the stack while it runs (it keeps the block alive), then its value takes
// that cell's place.
[[gnu::noinline]] int32_t eval_paren(const cell_t* c, const cell_t* code, int32_t pos, int32_t end,
                                     bool infix) {
    check_native_stack();
    cell_t* held = stack::push(c);
    nested_position kept(c);
    cell_t* r = run_in_place(held);
    if (r == nullptr) [[unlikely]]
        return pos;
    kept.restore();
    *held = *r;
    stack::top_slot = held + 1;
    pos++;
    return infix ? pos : lookahead(code, pos, end);
}

// A set-word with a value after it, as eval_expression runs it while nothing
// is traced: the word's frame, its value through the operand path, the store.
[[gnu::noinline]] int32_t eval_set_word(const cell_t* c, int32_t live, const cell_t* code,
                                        int32_t pos, int32_t end) {
    check_native_stack();
    stack::mark_interp_native(c);
    stack::push(c);
    pos = eval_operand(c + 1, live, code, pos + 1, end, false);
    if (exits::pending) return pos;
    store_set_word();
    stack::unwind();
    return pos;
}

// --- the infix lookahead's cold ways -------------------------------------------------

// The operator at pos once its fetch has been traced: the hook runs code
// that may move the block and the operator's context, so both are read
// again. nullptr when the word there no longer holds an operator.
[[gnu::cold, gnu::noinline]] const cell_t* traced_operator(const cell_t* code, int32_t pos,
                                                           int32_t* end, const cell_t** cells) {
    fire_event(event::FETCH, code, pos, nullptr, cell_at(code, pos));
    *cells = live_cells(code, end);
    if (pos >= *end || type_of(*cells + pos) != TYPE_word) return nullptr;
    const cell_t* v = peek_value(*cells + pos);
    return v != nullptr && type_of(v) == TYPE_op ? v : nullptr;
}

// The operator w (its fast-path code f) on the last pushed cell and the
// operand after w, through its routine, when that operand needs no
// evaluation: right is the cell itself, or the value of the word there.
// False when the operand must be evaluated: the call then takes the usual
// way.
[[gnu::noinline, gnu::cold]] bool fast_routine(fast_op f, const cell_t* op, const cell_t* w,
                                               const cell_t* right) {
    // The routines call what start-up defined (a runtime made without the
    // library has none of it).
    if (f >= FAST_REMAINDER || start_up_value(op::wrapped_type(op), op->data1) == nullptr)
        return false;
    if (type_of(w + 1) == TYPE_word) {
        uint8_t rt = type_of(right);
        if (callable_q(rt) || rt == TYPE_unset || rt == TYPE_op) return false;
    } else if (!inert_q(type_of(right))) {
        return false;
    }
    if (fast_math_q(f)) actions::math_op_top(actions::routine_code(f), w, right);
    else actions::compare_op_top(actions::routine_code(f), w, right);
    return true;
}

}  // namespace zuv::interpreter
