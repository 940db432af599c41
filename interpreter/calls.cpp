// Calls and their arguments: the general call (eval_code, fetch_args), the
// short ways of calls named by a word (call_simple, call_native,
// call_conditional, call_infix, call_refined, eval_return), the runs of
// functions from C++ (call_function, call_back). Evaluation of blocks and
// expressions is in eval.cpp; the inline routines both use, a function's
// run among them, are in internal.h.

#include <algorithm>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "interpreter/entry_arguments.h"
#include "interpreter/internal.h"
#include "interpreter/plans/runner.h"
#include "runtime/words.h"

namespace zuv::interpreter {

// --- error reports (cold) ----------------------------------------------------------

namespace {

// The word of the innermost call frame.
[[gnu::cold]] cell_t call_word() {
    cell_t w;
    call_frame_t* f = stack::get_call();
    // A frame marked without a word (a callback's) is <anon>.
    if (f == nullptr || frame::symbol_of(f) == 0) return anon_word;
    word::make_raw(&w, TYPE_word, f->context, static_cast<int32_t>(frame::symbol_of(f)), -1);
    return w;
}

// The spec word of the callee's arguments-cache entry `entry`, as a word!.
[[gnu::cold]] cell_t argument_word(const cell_t* callee, int32_t entry) {
    cell_t w;
    word::make_raw(&w, TYPE_word, 0, static_cast<int32_t>(words::symbol_of(words::id::tag_anon)),
                   -1);
    cell_t spec;
    block::init_value(&spec, TYPE_block, callee->data2);
    int32_t n = block::abs_length(&spec);
    int32_t k = 0;
    bool locals = false;
    for (int32_t i = 0; i < n; i++) {
        cell_t* c = block::rs_abs_at(&spec, i);
        uint8_t t = type_of(c);
        if (t < TYPE_word || t > TYPE_refinement || t == TYPE_issue) continue;
        if (locals && t != TYPE_set_word) continue;
        locals = false;
        if (t == TYPE_refinement && symbol::resolve(word::symbol_of(c)) == local_symbol)
            locals = true;
        if (k++ == entry) {
            w = *c;
            cell::set_type(&w, TYPE_word);
            w.header &= HEADER_TYPE_MASK;
            return w;
        }
    }
    return w;
}

}  // namespace

// The call event of a short way's call that began untraced, when one of its
// arguments switched tracing on (`1 + do [trace true 2]`), as the general
// path fires it.
void fire_resumed_call(const cell_t* callee, const cell_t* code, int32_t pos) {
    cell_t name = call_word();
    fire_event(event::CALL, code, pos, &name, callee);
}

// finish_call for a short way's call that began untraced, when its arguments
// or its run switched tracing on (`catch [trace true]`): the return event the
// general path fires there.
void finish_resumed(cell_t* slot, bool push, const cell_t* result, const cell_t* code,
                    int32_t pos) {
    cell_t name = call_word();
    cell_t* target = finish_call(slot, push, result);
    fire_event(event::RETURN, code, pos, &name, target);
}

[[noreturn, gnu::cold]] void fire_no_arg(const cell_t* callee, int32_t entry) {
    cell_t fn = call_word();
    cell_t arg = argument_word(callee, entry);
    fire(err::no_arg, &fn, &arg);
}

[[noreturn, gnu::cold]] void fire_expect_arg(const cell_t* callee, int32_t entry,
                                             const cell_t* value) {
    cell_t fn = call_word();
    cell_t type;
    datatype::make_at(&type, type_of(value));
    cell_t arg = argument_word(callee, entry);
    fire(err::expect_arg, &fn, &type, &arg);
}

// --- fetching one argument ---------------------------------------------------------

namespace {

// Pushes one argument of the given kind; returns the position after it.
int32_t fetch_one(uint32_t kind, const cell_t* code, int32_t pos, int32_t end, bool infix) {
    cell_t* c = cell_at(code, pos);
    switch (kind) {
    case ARG_GET:
        if (tracing) [[unlikely]] {
            fire_event(event::FETCH, code, pos, nullptr, c);
            c = cell_at(code, pos);  // the tracer may have moved the code
        }
        stack::push(c);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        return pos + 1;
    case ARG_LIT:
        switch (type_of(c)) {
        case TYPE_paren: eval(c, false); return pos + 1;
        case TYPE_get_word: stack::push(_context::get(c)); return pos + 1;
        case TYPE_get_path: {
            cell_t path = *c;
            return eval_path(&path, code, pos, end, false, true, true, false);
        }
        default: stack::push(c); return pos + 1;
        }
    default: return eval_expression(code, pos, end, infix, true, false);
    }
}

}  // namespace

namespace {

// The call summary of a callee, its cache made on first use.
inline call_summary_t summary_of_callee(const cell_t* callee) {
    cell_t* c = alloc::buffer(callee->data3)->head_cell() + 1;
    if (type_of(c) != TYPE_block) [[unlikely]]
        c = arguments_cache(callee);
    return cached_summary(c);
}

}  // namespace

// `return value`, the common case of a function's last expression: its frame
// and its argument as any call has them, then straight to the exit, with
// nothing built for a result that never comes back.
int32_t eval_return(const cell_t* callee, const cell_t* word, const cell_t* code, int32_t pos,
                    int32_t end) {
    call_summary_t summary = summary_of_callee(callee);
    // One argument and no locals; the bits about types do not matter.
    if (!call_summary::simple_with(summary, 1, 0)) [[unlikely]]
        return eval_code(callee, code, pos, end, false, pos - 1, false);
    // callee points into a context's values, which the argument may move:
    // from here on only its copy in the slot is read.
    cell_t* slot = stack::push(callee);
    stack::mark_interp_native(word);
    pos = fetch_normal(slot, 0, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    return_fetched(slot, summary);
    return pos;
}

// --- calls ---------------------------------------------------------------------------

namespace {

// The value an argument at c (pos, live the end) pushes when taking it runs
// nothing: a value that stands for itself or a word holding a plain value,
// with no operator after it. nullptr when it must be evaluated.
[[gnu::always_inline]] inline const cell_t* quiet_operand(const cell_t* c, int32_t pos,
                                                          int32_t live) {
    uint8_t t = type_of(c);
    const cell_t* v = c;
    if (!inert_q(t)) {
        if (t != TYPE_word) return nullptr;
        v = peek_value(c);
        if (v == nullptr || !plain_value_q(type_of(v))) return nullptr;
    }
    return operator_follows(c, pos, live) ? nullptr : v;
}

// The common call: no path, ordinary evaluation, a call summary of normal arguments
// only. Returns the position after the arguments.
inline int32_t fetch_simple(call_summary_t summary, uint8_t t, const cell_t* callee,
                            const cell_t* code, int32_t pos, int32_t end, bool infix) {
    int32_t n = call_summary::args(summary);
    node_t cache = alloc::buffer(callee->data3)->head_cell()[1].data2;
    int32_t i = 0;
    if (infix && n > 0) {
        check_arg(callee, 0, alloc::buffer(cache)->head_cell(), stack::top_slot - 1);
        i = 1;
    }
    for (; i < n; i++) {
        pos = fetch_normal(callee, i, code, pos, end, infix);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(summary, stack::top_slot - 1)) [[unlikely]]
            check_arg(callee, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
    }
    if (t == TYPE_function || t == TYPE_routine) {
        push_locals(call_summary::locals(summary));
        if (tracing) [[unlikely]] {
            cell_t name = call_word();
            fire_event(event::CALL, code, pos, &name, callee);
        }
        return pos;
    }
    if (!short_ways) [[unlikely]] {
        if (tracing) {
            cell_t name = call_word();
            fire_event(event::CALL, code, pos, &name, callee);
        }
        run_entry(t, callee, no_refinements);
        return pos;
    }
    run_simple_entry(t, callee, n);
    return pos;
}

}  // namespace

// call_function for a function with a compiled body (a library helper)
// while nothing is traced: the entry runs in the function's own run, with
// no callback or tracing work around it.
[[gnu::noinline]] const cell_t* run_compiled(const cell_t* fn, int32_t code) {
    routine::entry_t entry = routine::entry_at(code);
    if (entry == nullptr) [[unlikely]]
        fire(err::not_done);
    {
        function_run<false> run(function::context_of(fn));
        entry();
    }
    absorb_return();
    return exits::pending ? nullptr : stack::arguments;
}

// eval_code for a function! named by a word, its call summary of normal arguments
// only, nothing traced: the same frame, arguments and result with none of
// the other cases' tests. (Natives through here cost every other expression
// more than they save: eval_expression grows.)
[[gnu::noinline]] int32_t call_simple(const cell_t* fn, const cell_t* word, call_summary_t summary,
                                      const cell_t* code, int32_t pos, int32_t end, bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    stack::mark_interp_func(word);
    int32_t n = call_summary::args(summary);
    // fetch_normal, with the cells read again only after an argument that
    // may have run something: a literal with no word after it is pushed as
    // eval_operand pushes it, and that runs nothing.
    int32_t live = end;
    const cell_t* cells = live_cells(code, &live);
    for (int32_t i = 0; i < n; i++) {
        if (pos >= live) [[unlikely]]
            fire_no_arg(slot, i);
        const cell_t* c = cells + pos;
        if (short_ways && inert_q(type_of(c)) && !(pos + 1 < live && type_of(c + 1) == TYPE_word))
            [[likely]] {
            stack::push(c);
            pos++;
        } else {
            pos = eval_operand(c, live, code, pos, end, false);
            if (exits::pending) [[unlikely]]
                return pos;
            live = end;
            cells = live_cells(code, &live);
        }
        if (check_needed(summary, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, i);
    }
    push_locals(call_summary::locals(summary));
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    const cell_t* result = run_function(slot);
    if (result == nullptr) [[unlikely]]
        return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, push, result, code, pos);
    else finish_pushed(slot, push, result);
    return pos;
}

// call_native for `if` and `either`: a branch written as a block is pushed
// as it stands, with neither the operand path nor a type check when the
// spec takes blocks there. Anything else there takes the usual way.
[[gnu::noinline]] int32_t call_conditional(const cell_t* fn, const cell_t* word,
                                           call_summary_t summary, const cell_t* code, int32_t pos,
                                           int32_t end, bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    stack::mark_interp_native(word);
    int32_t n = call_summary::args(summary);
    pos = fetch_normal(slot, 0, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    if (!call_summary::first_any_q(summary) || seldom_q(stack::top_slot - 1))
        check_argument(slot, 0);
    pos = fetch_branches(slot, 1, n, summary, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    run_simple_entry(TYPE_native, slot, n);
    if (exits::pending) return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, push, stack::arguments, code, pos);
    else finish_call(slot, push);
    return pos;
}

namespace {

// The n arguments of the native or action at slot (its cache, its summary) for
// call_native, pushed and checked. The cells are read again only after an
// argument that ran something. With a descriptor d, a type is one test of
// its mask; without one (none made, or every argument takes every type but
// the seldom ones) the cache is read as check_needed asks. Stops at a
// pending exit.
template <bool with_descriptor>
[[gnu::always_inline]] inline int32_t fetch_native(const entry_arguments* d, const cell_t* slot,
                                                   node_t cache, call_summary_t summary,
                                                   const cell_t* code, int32_t pos, int32_t end) {
    auto n = call_summary::args(summary);
    int32_t live = end;
    const cell_t* cells = live_cells(code, &live);
    for (int32_t i = 0; i < n; i++) {
        if (pos >= live) [[unlikely]]
            fire_no_arg(slot, i);
        const cell_t* c = cells + pos;
        // An earlier argument may have switched the tracer on.
        const cell_t* v = short_ways ? quiet_operand(c, pos, live) : nullptr;
        if (v != nullptr) [[likely]] {
            stack::push(v);
            pos++;
        } else {
            pos = eval_operand(c, live, code, pos, end, false);
            if (exits::pending) [[unlikely]]
                return pos;
            live = end;
            cells = live_cells(code, &live);
        }
        const cell_t* arg = stack::top_slot - 1;
        if (with_descriptor ? !takes_q(d, i, arg) : check_needed(summary, arg)) [[unlikely]]
            check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, arg);
    }
    return pos;
}

}  // namespace

// eval_code for a native or action named by a word, its call summary simple,
// nothing traced: no path, no infix shuffle, no events.
[[gnu::noinline]] int32_t call_native(const cell_t* fn, const cell_t* word, call_summary_t summary,
                                      const cell_t* code, int32_t pos, int32_t end, bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    // mark_interp_native's record, made whole at once: a call named by a
    // word always has one.
    stack::push_frame_made((word->data2 & frame::SYMBOL_MASK) | frame::NATIVE |
                               stack::interpreted_mark,
                           word->data1, slot + 1);
    // A handle stays the same when its buffer moves: read once, it serves
    // every argument's check.
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    const entry_arguments* d =
        call_summary::any_types_q(summary) ? nullptr : described(type_of(slot), slot->data1, cache);
    pos = d != nullptr ? fetch_native<true>(d, slot, cache, summary, code, pos, end)
                       : fetch_native<false>(d, slot, cache, summary, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    // call_direct takes `if` and `either` elsewhere.
    run_plain_entry(type_of(slot), slot, call_summary::args(summary));
    if (exits::pending) return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, push, stack::arguments, code, pos);
    else finish_pushed(slot, push, stack::arguments);
    return pos;
}

namespace {

// fetch_args for a call of a described native or action (t, at callee,
// its descriptor d, its cache) with no path, in ordinary evaluation: its
// arguments as their kinds say, up to the first refinement, then its entry.
// The descriptor has no optional argument: a missing one is an error.
[[gnu::noinline]] int32_t fetch_described(const entry_arguments* d, uint8_t t, const cell_t* callee,
                                          node_t cache, const cell_t* code, int32_t pos,
                                          int32_t end) {
    for (int32_t k = 0; k < d->count; k++) {
        int32_t i = d->entry[k];
        uint32_t kind = d->kind[k];
        if (pos >= live_end(code, end)) fire_no_arg(callee, i);
        pos = kind == ARG_NORMAL ? fetch_normal(callee, i, code, pos, end, false)
                                 : fetch_one(kind, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return pos;
        const cell_t* arg = stack::top_slot - 1;
        if (!takes_q(d, k, arg)) [[unlikely]]
            check_arg(callee, i, alloc::buffer(cache)->head_cell() + i, arg);
    }
    if (tracing) [[unlikely]] {
        cell_t name = call_word();
        fire_event(event::CALL, code, pos, &name, callee);
    }
    run_entry(t, callee, no_refinements);
    return pos;
}

}  // namespace

// The operator call of the infix lookahead, its callee at slot with the left
// operand above it, for a native or action with a simple call summary of two
// arguments while nothing is traced.
[[gnu::noinline]] int32_t call_infix(cell_t* slot, const cell_t* word, call_summary_t summary,
                                     const cell_t* code, int32_t pos, int32_t end, bool push) {
    stack::top_slot = slot + 1;
    stack::mark_interp_native(word);
    stack::top_slot = slot + 2;
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    if (check_needed(summary, slot + 1))
        check_arg(slot, 0, alloc::buffer(cache)->head_cell(), slot + 1);
    pos = fetch_normal(slot, 1, code, pos, end, true);
    if (exits::pending) [[unlikely]]
        return pos;
    if (check_needed(summary, stack::top_slot - 1)) check_argument(slot, 1);
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    run_simple_entry(type_of(slot), slot, 2);
    if (exits::pending) return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, push, stack::arguments, code, pos);
    else finish_call(slot, push);
    return pos;
}

// A path call (word/refinement...) of a native, action or function, its
// refinements named in the spec's order, while nothing is traced: the frame
// fetch_args builds, in one pass over the callee's cache and with no walk.
// Answers -1, having done nothing, for every other path.
[[gnu::noinline]] int32_t call_refined(const cell_t* path, const cell_t* code, int32_t pos,
                                       int32_t end, bool push) {
    series_buffer_t* s = alloc::buffer(path->data2);
    int32_t head = static_cast<int32_t>(path->data1);
    int32_t n = (s->used() >> 4) - head;
    if (head < 0 || n < 2) return -1;
    const cell_t* cells = s->head_cell() + head;
    if (type_of(cells) != TYPE_word) return -1;
    const cell_t* v = peek_value(cells);
    if (v == nullptr) return -1;
    uint8_t t = type_of(v);
    if (t != TYPE_native && t != TYPE_action && t != TYPE_function) return -1;
    const cell_t* cache_cell = alloc::buffer(v->data3)->head_cell() + 1;
    if (type_of(cache_cell) != TYPE_block) return -1;
    node_t cache = cache_cell->data2;
    bool native_like = t != TYPE_function;
    uint64_t on = 0;
    if (!refinements_named(cache, cells + 1, n - 1, native_like, &on)) return -1;

    check_native_stack();
    cell_t name = *cells;
    cell_t* slot = stack::push(v);
    if (native_like) stack::mark_interp_native(&name);
    else stack::mark_interp_func(&name);
    int32_t refs[MAX_REFINEMENTS];
    std::memcpy(refs, no_refinements, sizeof refs);
    int32_t count = alloc::buffer(cache)->used() >> 4;
    bool active = true;
    pos++;
    for (int32_t i = 0; i < count; i++) {
        const cell_t* e = alloc::buffer(cache)->head_cell() + i;
        switch (type_of(e)) {
        case TYPE_typeset: {
            uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
            if (kind == ARG_RETURN) break;
            if (!active) {
                if (!native_like) stack::push_slot()->header = TYPE_none;
                break;
            }
            if (pos >= live_end(code, end)) {
                if (kind != ARG_LIT || !typeset::has_q(e, TYPE_unset)) fire_no_arg(slot, i);
                stack::push_slot()->header = TYPE_unset;
                break;
            }
            pos = kind == ARG_NORMAL ? fetch_normal(slot, i, code, pos, end, false)
                                     : fetch_one(kind, code, pos, end, false);
            if (exits::pending) [[unlikely]]
                return pos;
            check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
            break;
        }
        case TYPE_refinement:
            active = (on >> i) & 1;
            if (!native_like) logic::make_at(stack::push_slot(), active);
            else if (active)
                refs[e->data3 - 1] = static_cast<int32_t>(stack::top_slot - stack::arguments);
            break;
        case TYPE_integer:
            if (!native_like) push_locals(integer::get(e));
            break;
        default: break;
        }
    }
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    const cell_t* result = stack::arguments;
    if (native_like) {
        run_entry(t, slot, refs);
        if (exits::pending) return pos;
    } else {
        complete_frame(function::context_of(slot));
        result = run_function(slot);
        if (result == nullptr) return pos;
    }
    if (tracing) [[unlikely]]
        finish_resumed(slot, push, result, code, pos);
    else finish_call(slot, push, result);
    return pos;
}

int32_t eval_code(const cell_t* callee, const cell_t* code, int32_t pos, int32_t end, bool push,
                  int32_t word_pos, bool infix, const cell_t* path, int32_t ref_pos) {
    // The callee's slot receives the result; on the stack it also keeps the
    // callee alive while its arguments are evaluated.
    cell_t* slot = infix ? stack::top_slot - 2 : stack::push(callee);
    const cell_t* w = &anon_word;
    if (path != nullptr) {
        cell_t* head = block::rs_abs_at(path, block::head_index(path));
        if (type_of(head) == TYPE_word) w = head;
    } else if (word_pos >= 0) {
        cell_t* wc = cell_at(code, word_pos);
        if (type_of(wc) == TYPE_word) w = wc;
    }
    // The call's word, kept for its return event: w points into code that
    // may move.
    cell_t name = *w;
    if (tracing) [[unlikely]] {
        if (infix) stack::top_slot++;
        fire_event(event::OPEN, code, pos, nullptr, &name);
        if (infix) stack::top_slot--;
    }
    uint8_t t = type_of(slot);
    if (infix) stack::top_slot--;
    // name, not w: the tracer's open event may have moved the code.
    if (t == TYPE_function) stack::mark_interp_func(&name);
    else stack::mark_interp_native(&name);
    if (infix) stack::top_slot++;

    call_summary_t summary = summary_of_callee(slot);
    if (call_summary::simple_q(summary) && path == nullptr) [[likely]]
        pos = fetch_simple(summary, t, slot, code, pos, end, infix);
    else pos = fetch_args(slot, code, pos, end, path, ref_pos, mode::EVAL, infix);
    if (exits::pending) return pos;
    const cell_t* result = stack::arguments;
    if (t == TYPE_function) {
        complete_frame(function::context_of(slot));
        result = run_function(slot);
        if (result == nullptr) return pos;
    } else if (t == TYPE_routine) {
        call_routine(slot);
        if (exits::pending) return pos;
    }

    cell_t* target = finish_call(slot, push, result);
    if (tracing) [[unlikely]]
        fire_event(event::RETURN, code, pos, &name, target);
    return pos;
}

int32_t fetch_args(const cell_t* callee, const cell_t* code, int32_t pos, int32_t end,
                   const cell_t* path, int32_t ref_pos, int32_t mode, bool infix) {
    uint8_t t = type_of(callee);
    call_summary_t summary = summary_of_callee(callee);
    if (call_summary::simple_q(summary) && path == nullptr && mode == mode::EVAL) [[likely]]
        return fetch_simple(summary, t, callee, code, pos, end, infix);
    bool native_like = t == TYPE_native || t == TYPE_action;
    bool applying = (mode & 3) != 0;
    bool safer = (mode & mode::SAFER) != 0;
    node_t cache = arguments_cache(callee)->data2;
    if (native_like && path == nullptr && mode == mode::EVAL && !infix)
        if (const entry_arguments* d = described(t, callee->data1, cache))
            return fetch_described(d, t, callee, cache, code, pos, end);
    int32_t count = alloc::buffer(cache)->used() >> 4;

    // Every position starts unused, also past the spec's count: an entry
    // made with a shorter spec than its own reads -1, never garbage.
    int32_t refs[MAX_REFINEMENTS];
    int32_t ref_count = 0;
    if (native_like) {
        for (int32_t& r : refs) r = -1;
        if (count > 0) {
            cell_t* last = alloc::buffer(cache)->head_cell() + count - 1;
            if (type_of(last) == TYPE_integer)
                ref_count = std::min(integer::get(last), MAX_REFINEMENTS);
        }
    }

    // Fetches the argument of cache entry i and checks its type (check
    // false: an argument that is only consumed, its value dropped).
    auto argument = [&](int32_t i, bool first_infix, bool check = true) {
        cell_t* e = alloc::buffer(cache)->head_cell() + i;
        uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
        if (first_infix) {
            check_arg(callee, i, e, stack::top_slot - 1);
            return;
        }
        int32_t limit = safer ? std::min(end, pos + 1) : end;
        if (pos >= live_end(code, limit)) {
            if (applying) {
                stack::push_slot()->header = TYPE_none;
                // Entry points trust their argument types: a none they do
                // not take (apply :if [1]) must stop here, not reach them.
                if (t != TYPE_function && check) {
                    e = alloc::buffer(cache)->head_cell() + i;
                    check_arg(callee, i, e, stack::top_slot - 1);
                }
                return;
            }
            if (kind == ARG_LIT && typeset::has_q(e, TYPE_unset)) {
                stack::push_slot()->header = TYPE_unset;
                return;
            }
            fire_no_arg(callee, i);
        }
        pos = fetch_one(kind, code, pos, limit, infix);
        if (exits::pending || !check) return;
        e = alloc::buffer(cache)->head_cell() + i;
        check_arg(callee, i, e, stack::top_slot - 1);
    };

    bool active = true;
    bool first = infix;
    int32_t ordinal = 0;
    for (int32_t i = 0; i < count; i++) {
        cell_t* e = alloc::buffer(cache)->head_cell() + i;
        switch (type_of(e)) {
        case TYPE_typeset:
            if (((e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) break;
            if (active) {
                argument(i, first);
                first = false;
                if (exits::pending) return pos;
            } else if (!native_like) {
                stack::push_slot()->header = TYPE_none;
            }
            break;
        case TYPE_refinement:
            ordinal++;
            if ((mode & 3) == mode::APPLY_ALL) {
                // The block gives each refinement's value; its arguments follow.
                bool on = false;
                if (pos < live_end(code, end)) {
                    int32_t limit = safer ? std::min(end, pos + 1) : end;
                    pos = eval_expression(code, pos, limit, false, true, false);
                    if (exits::pending) return pos;
                    on = logic::truthy(stack::top());
                    stack::pop(1);
                }
                if (native_like) {
                    if (on && ordinal <= ref_count)
                        refs[ordinal - 1] =
                            static_cast<int32_t>(stack::top_slot - stack::arguments);
                } else {
                    logic::make_at(stack::push_slot(), on);
                }
                // The arguments of a refinement that stays off are consumed
                // and dropped (none for functions), whatever their type: the
                // block must still give them, but nothing reads them. With
                // /safer they are skipped unevaluated, as a path's are.
                int32_t j = i + 1;
                for (; j < count; j++) {
                    cell_t* a = alloc::buffer(cache)->head_cell() + j;
                    if (type_of(a) != TYPE_typeset) break;
                    if (((a->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) continue;
                    if (!on && safer) {
                        if (pos < live_end(code, end)) pos++;
                        if (!native_like) stack::push_slot()->header = TYPE_none;
                        continue;
                    }
                    argument(j, false, on);
                    if (exits::pending) return pos;
                    if (!on) {
                        if (native_like) stack::pop(1);
                        else stack::top()->header = TYPE_none;
                    }
                }
                i = j - 1;
                break;
            }
            active = false;
            if (!native_like) logic::make_at(stack::push_slot(), false);
            break;
        case TYPE_integer:
            if (!native_like) push_locals(integer::get(e));
            break;
        default: break;
        }
    }

    // Refinements named by the path, in the path's order.
    if (path != nullptr && (mode & 3) != mode::APPLY_ALL) {
        uint64_t seen[4] = {0, 0, 0, 0};
        int32_t n = block::abs_length(path);
        for (int32_t k = ref_pos; k < n; k++) {
            cell_t element = *block::rs_abs_at(path, k);
            bool on = true;
            if (type_of(&element) == TYPE_get_word) {
                on = logic::truthy(_context::get(&element));
            } else if (type_of(&element) != TYPE_word) {
                fire(err::bad_refine, &element);
            }
            int32_t r = find_refinement(cache, symbol::resolve(word::symbol_of(&element)));
            if (r < 0) {
                cell_t fn = call_word();
                fire(err::no_refine, &fn, &element);
            }
            cell_t* e = alloc::buffer(cache)->head_cell() + r;
            int32_t mark = static_cast<int32_t>(e->data3);  // ordinal (natives) or slot
            if (r < 256) {
                uint64_t bit = uint64_t{1} << (r & 63);
                if (seen[r >> 6] & bit) {
                    cell_t p = *path;
                    fire(err::dup_refine, &p);
                }
                seen[r >> 6] |= bit;
            }
            if (native_like) {
                if (mark > ref_count) {
                    cell_t fn = call_word();
                    fire(err::no_refine, &fn, &element);
                }
                if (on) refs[mark - 1] = static_cast<int32_t>(stack::top_slot - stack::arguments);
            } else {
                logic::make_at(stack::arguments + mark, on);
            }
            int32_t slot = mark + 1;
            for (int32_t j = r + 1; j < count; j++) {
                cell_t* a = alloc::buffer(cache)->head_cell() + j;
                if (type_of(a) != TYPE_typeset) break;
                if (((a->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) continue;
                if (!on && safer) {
                    if (pos < live_end(code, end)) pos++;
                    continue;
                }
                argument(j, false);
                if (exits::pending) return pos;
                if (!native_like) {
                    if (on) stack::arguments[slot] = *stack::top();
                    stack::pop(1);
                    slot++;
                } else if (!on) {
                    stack::pop(1);
                }
            }
        }
    }

    if (tracing) [[unlikely]] {
        cell_t name = call_word();
        fire_event(event::CALL, code, pos, &name, callee);
    }
    run_entry(t, callee, refs);
    return pos;
}

namespace {
// call_function for a function whose body is a block, with no trace flag,
// while no tracer is installed (and the short ways are on): the
// interpreter's own call (its plan, no <body> frame), so that a sort's
// comparator, a change handler or `apply` costs what a call from code does.
// The caller marked the frame and filled it; the result goes where
// call_function leaves it.
[[gnu::noinline]] void call_plain(const cell_t* fn) {
    check_native_stack();
    complete_frame(function::context_of(fn));
    const cell_t* result = run_function(fn);
    if (result == nullptr) return;
    *stack::arguments = *result;
    stack::top_slot = stack::arguments + 1;
    stack::set_exit_target(0);
}
}  // namespace

void call_function(const cell_t* fn, const cell_t* word, uint32_t callback_kind) {
    if (type_of(fn) == TYPE_function &&
        !(fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) && !tracer_installed &&
        short_ways && !tracing_anywhere() &&
        series::block_kind_q(type_of(function::more(fn, function::MORE_BODY)))) [[likely]] {
        call_plain(fn);
        return;
    }
    nested_position kept(stack::interpreted_mark != 0);  // as run_function's
    // fn may be a stack cell that an exit passing through overwrites: take
    // what the way out needs now.
    node_t ctx = 0;
    if (type_of(fn) == TYPE_function) {
        ctx = function::context_of(fn);
        complete_frame(ctx);
    }
    const cell_t* code_cell = function::more(fn, function::MORE_CODE);
    // A callback is traced only when its kind is switched on, and then shows
    // its call and return.
    bool traced_callback = false;
    cell_t name;
    {
        function_run<true> run(ctx);
        if (callback_kind != callback::NONE && tracing_anywhere()) [[unlikely]] {
            if (callback_traced_q(callback_kind)) {
                traced_callback = tracing;
            } else {
                run.scope_tracing();
                set_tracing(false);
                library_caller_tracing = false;
            }
        }
        if (tracing) [[unlikely]] {
            name = word != nullptr ? *word : call_word();
            word = &name;
            if (traced_callback) fire_call(word, fn);
        }
        if (type_of(code_cell) == TYPE_integer && integer::get(code_cell) != 0) [[unlikely]] {
            routine::entry_t entry = routine::entry_at(integer::get(code_cell));
            if (entry == nullptr) fire(err::not_done);
            entry();
        } else {
            stack::set_exit_target(1);
            if (fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) [[unlikely]] {
                run.scope_tracing();
                if (fn->header & function::FLAG_NO_TRACE) set_tracing(false);
                if ((fn->header & function::FLAG_TRACE) && tracer_installed && !tracer_running) {
                    set_tracing(true);
                    if (word == nullptr) {
                        name = call_word();
                        word = &name;
                    }
                }
            }
            cell_t body = *function::more(fn, function::MORE_BODY);
            // A library function's body is compiled code: no prolog or
            // epilog, and nothing from inside it.
            bool body_traced =
                tracing &&
                !library_code::library_q(series::block_kind_q(type_of(&body)) ? body.data2 : 0);
            if (body_traced) [[unlikely]]
                fire_event(event::PROLOG, &body, -1, word, fn);
            if (series::block_kind_q(type_of(&body))) [[likely]] {
                eval(&body, true);
            } else {
                stack::set_last_keep(&unset_value);
            }
            if (!exits::pending) [[likely]] {
                if (body_traced && tracing) [[unlikely]]
                    fire_event(event::EPILOG, &body, -1, word, fn);
                stack::set_exit_target(0);
            }
        }
    }
    absorb_return();
    if (!exits::pending) kept.restore();
    if (traced_callback && !exits::pending && tracing) [[unlikely]]
        fire_return(word, stack::arguments);
}

bool call_back(const cell_t* callee, const cell_t* frame_word, cell_t* args, int32_t count,
               uint32_t kind, cell_t* result) {
    cell_t* saved_top = stack::top_slot;
    cell_t* slot = stack::push(callee);  // keeps the callee alive for the call
    node_t ctx = type_of(slot) == TYPE_function ? function::context_of(slot) : 0;
    cell_t* first = stack::mark_func(frame_word, ctx);
    // The values go on the stack first: making the cache may collect, and a
    // value may be held nowhere else.
    for (int32_t i = 0; i < count; i++) stack::push(&args[i]);
    int32_t kept = count;
    if (ctx != 0) {
        // The frame as the spec lays it out: the leading arguments keep the
        // values (none past them), every refinement is off, locals none.
        cell_t cache = *arguments_cache(slot);
        stack::top_slot = first;
        kept = 0;
        call_summary_t summary = cached_summary(&cache);
        if (call_summary::simple_q(summary) && short_ways) [[likely]] {
            // Normal arguments, then the locals: the walk's frame, from the
            // summary.
            int32_t n = call_summary::args(summary);
            kept = n < count ? n : count;
            stack::top_slot = first + kept;
            for (int32_t i = kept; i < n; i++) stack::push(&none_value);
            push_locals(call_summary::locals(summary));
        } else {
            bool active = true;
            for (int32_t i = 0; i < block::abs_length(&cache); i++) {
                const cell_t* e = block::rs_abs_at(&cache, i);
                switch (type_of(e)) {
                case TYPE_refinement:
                    stack::push(&false_value);
                    active = false;
                    break;
                case TYPE_typeset:
                    if (((e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) break;
                    if (active && kept < count) stack::top_slot = first + ++kept;
                    else stack::push(&none_value);
                    break;
                case TYPE_integer: push_locals(integer::get(e)); break;
                default: break;
                }
            }
        }
    }
    call_function(slot, frame_word, kind);
    if (exits::pending_q()) return false;
    *result = *stack::arguments;
    for (int32_t i = 0; i < kept; i++) args[i] = first[i];
    stack::unwind_func();
    stack::top_slot = saved_top;
    return true;
}

void run_checked(const cell_t* slot, int32_t n) {
    node_t cache = arguments_cache(slot)->data2;
    for (int32_t i = 0; i < n; i++)
        check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::arguments + i);
    run_entry(type_of(slot), slot, no_refinements);
}

void call_routine(const cell_t* r) {
    routine::entry_t entry = routine::entry_at(routine::code_of(r));
    if (entry == nullptr) fire(err::not_done);
    entry();
}

}  // namespace zuv::interpreter
