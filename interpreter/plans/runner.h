// The runner of plans (interpreter/plans/nodes.h): what its units share.
// runner.cpp runs blocks, calls, operators, parens, set-words and returns;
// conditionals.cpp the planned `if` and `either`; paths.cpp path reads,
// set-paths and calls through paths; quiet.cpp chains of numbers computed
// with nothing run; block_runs.cpp the plans of the blocks loops run. A
// function's run (run_function, through its plan when it has one), the
// block loop (run_planned), the node dispatch (run_node), a call's arguments
// and a recursive call's run are inline here, with what they inline, so
// that every place a call runs, a plan starts or a call recurses (the
// interpreter's calls, the loops, the path calls) runs them in its own lines
// (bench/fib_forms.py measures it); the routines each kind of node runs out
// of line are declared here. The interpreter's routines the runner calls
// are in interpreter/internal.h.
//
// Each node does what the interpreter does for its expression, in the same
// order: the same frames, pushes, checks, position stores and depth checks.
// A node runs only where the walk stands at its position with the stamp
// unchanged and nothing traced; anywhere else, and when a word no longer
// holds what the plan expects, the expression goes through eval_operand or
// fetch_normal, and a block whose walk left the plan finishes on the
// interpreter's own path.
#pragma once

#include <cstdint>
#include <cstring>

#include "interpreter/internal.h"
#include "interpreter/path_fields.h"
#include "interpreter/plans/nodes.h"
#include "interpreter/plans/plans.h"

namespace zuv::interpreter {

using plan::pnode_t;

// A run of a function's plan, from its body's start to its end, which holds
// while the guard byte is zero.
struct plan_run {
    const pnode_t* head;
    cell_t* frame;  // the function's arguments: its words' values
    // The cell the run keeps its position in: the interpreter's for user
    // code; for library code, which leaves the position of the user code
    // that called it for errors to report, one that nothing reads.
    cell_t* where;
};

// The position cell of library plans' runs (plan_run::where).
extern cell_t library_position;

// nested_position for a planned block: the position of the run given back
// as it was found once the block ran to its end.
struct plan_nested_position : held_position {
    const plan_run& x;
    explicit plan_nested_position(const plan_run& run) : held_position(run.where), x(run) {}
    void restore() const { *x.where = saved; }
};

// The same for a block entered from the code `around` (a paren or a branch
// standing in it), the common case: while the position names around's own
// series it needs no root, since whatever runs around keeps that alive. It
// then lives in registers, with no destructor, which a held position's
// chain link would force into memory (and every caller into an unwinding
// pad). A foreign position (left by a call the expression made) goes to
// the held form, out of line. The cell is kept as two words, which the
// compiler would otherwise take apart into four and put back together.
struct plan_kept_position {
    const plan_run& x;
    uint64_t saved[2];
    explicit plan_kept_position(const plan_run& run) : x(run) {
        std::memcpy(saved, run.where, sizeof saved);
    }
    bool foreign(const cell_t* around) const { return x.where->data2 != around->data2; }
    void restore() const { std::memcpy(x.where, saved, sizeof saved); }
};

// The same for a call from planned user code, given back once the callee's
// body ended (also by return): the caller's run keeps its code alive. The
// run's position is the interpreter's, as the caller is user code.
struct call_kept_position {
    uint64_t saved[2];
    call_kept_position() { std::memcpy(saved, position, sizeof saved); }
    bool foreign(const cell_t* code) const { return position->data2 != code->data2; }
    void restore() const { std::memcpy(position, saved, sizeof saved); }
};

// The start of a run. It starts untraced (run_function tested tracing just
// before: verify mode checks it), so it clears the byte, and hands back the
// stamp's bit it found however it is left: each run sees the stamp's moves
// since its own start. (A recursive call, which its caller's run found the
// byte clear for, needs neither: run_self.)
struct plan_start : plan_run {
    uint8_t outer = stamp::guard;

    plan_start(const pnode_t* h, cell_t* f, cell_t* where = position) : plan_run{h, f, where} {
        stamp::guard = 0;
    }
    ~plan_start() { stamp::guard |= outer; }
    plan_start(const plan_start&) = delete;
    plan_start& operator=(const plan_start&) = delete;
};

// --- out of line ------------------------------------------------------------------
// The routines each kind of node runs, defined with their comments.

// runner.cpp
[[gnu::noinline]] int32_t plan_fallback(const pnode_t* n, const cell_t* code, int32_t pos,
                                        int32_t end, bool infix);
[[gnu::noinline, gnu::cold]] int32_t plan_lookahead_generic(const cell_t* code, int32_t pos,
                                                            int32_t end);
[[gnu::noinline, gnu::cold]] int32_t plan_infix_generic(const cell_t* code, int32_t pos,
                                                        int32_t end);
[[gnu::noinline]] cell_t* plan_block_generic(const cell_t* code, int32_t pos, int32_t end,
                                             cell_t* base);
[[gnu::noinline]] bool op_at(const cell_t* code, int32_t pos);
[[gnu::noinline, gnu::cold]] int32_t plan_answer(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end);
[[gnu::noinline]] int32_t plan_later_arguments(const plan_run& x, const pnode_t* a, cell_t* slot,
                                               int32_t count, call_summary_t summary,
                                               const cell_t* code, int32_t pos, int32_t end);
[[gnu::noinline]] cell_t* plan_branch_rest(const pnode_t* block, const cell_t* code, int32_t pos,
                                           int32_t end, cell_t* base);
[[gnu::noinline]] cell_t* plan_branch_held(const plan_run& x, const pnode_t* block,
                                           const cell_t* code);
[[gnu::noinline]] const cell_t* run_other_function(const cell_t* slot);
[[gnu::noinline]] const cell_t* run_plain_held(const cell_t* fn, const pnode_t* p,
                                               const cell_t* body);
[[gnu::noinline]] const cell_t* run_self_held(const plan_run& x, cell_t* slot);
[[gnu::noinline]] const cell_t* run_library_function(const cell_t* slot);
template <bool self>
[[gnu::noinline]] int32_t plan_call_of(const plan_run& x, const pnode_t* n, const cell_t* code,
                                       int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t plan_call_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t plan_native(const plan_run& x, const pnode_t* n, const cell_t* code,
                                      int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t plan_infix(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end);
[[gnu::noinline]] int32_t plan_paren(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] cell_t* plan_lead_body(const plan_run& x, const pnode_t* block,
                                         const cell_t* code);
[[gnu::noinline]] bool plan_quiet_stored(const plan_run& x, const pnode_t* n, cell_t* top);
[[gnu::noinline]] int32_t plan_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t plan_simple_infix_rest(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end);
[[gnu::noinline]] int32_t plan_simple_infix_other(const plan_run& x, const pnode_t* n,
                                                  const cell_t* code, int32_t pos, int32_t end);
[[gnu::noinline]] int32_t plan_paren_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end);
[[gnu::noinline]] const pnode_t* plan_quiet_run(const plan_run& x, const pnode_t* n,
                                                const cell_t* code, int32_t end);
[[gnu::noinline]] cell_t* run_planned_elsewhere(const pnode_t* head, const cell_t* body);

// conditionals.cpp
[[gnu::noinline]] int32_t conditional_called(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end,
                                             bool infix);
[[gnu::noinline]] int32_t conditional_leaf(const plan_run& x, const pnode_t* n);
[[gnu::noinline]] int32_t conditional_after(const plan_run& x, const pnode_t* n, const cell_t* code,
                                            int32_t end, bool infix, int32_t quiet);
[[gnu::noinline]] int32_t conditional_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t conditional_body(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end);

// paths.cpp
[[gnu::noinline]] int32_t plan_path(const plan_run& x, const pnode_t* n, const cell_t* code,
                                    int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t plan_set_path(const plan_run& x, const pnode_t* n, const cell_t* code,
                                        int32_t pos, int32_t end);
[[gnu::noinline]] int32_t plan_field_call(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end, bool infix);
[[gnu::noinline]] int32_t plan_path_call(const plan_run& x, const pnode_t* n, const cell_t* code,
                                         int32_t pos, int32_t end, bool infix);

// quiet.cpp
[[gnu::noinline]] bool quiet_chain_value(const plan_run& x, const pnode_t* n, cell_t* out);

// block_runs.cpp
template <bool library = false>
[[gnu::noinline]] cell_t* run_block_plan(plan::block_plan* e, const cell_t* code);
template <uint8_t kind = TYPE_block>
[[gnu::noinline]] cell_t* run_library_loop_block(const cell_t* code);

// --- inline -----------------------------------------------------------------------
// Internal to each unit, as interpreter/internal.h's inline routines are.

namespace {

// The stamp unchanged and nothing traced: one compare.
inline bool plan_holds(const plan_run&) { return stamp::guard == 0; }

[[gnu::always_inline]] inline int32_t run_node(const plan_run& x, const pnode_t* n,
                                               const cell_t* code, int32_t pos, int32_t end,
                                               bool infix, bool* quiet = nullptr);
[[gnu::always_inline]] inline cell_t* run_planned(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code, bool guards_read,
                                                  cell_t* where);
[[gnu::always_inline]] inline const cell_t* plan_leaf(const plan_run& x, const pnode_t* n);
inline const cell_t* plan_lane_operand(const plan_run& x, const pnode_t* n, uint32_t source);
template <bool from_plan = false>
[[gnu::always_inline]] inline cell_t* run_planned_body(const pnode_t* head, const cell_t* body);
[[gnu::always_inline]] inline const cell_t* plan_body_leaf(const pnode_t* head, const cell_t* body);
[[gnu::always_inline]] inline int32_t plan_simple_infix(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool* computed = nullptr);

// run_function past its checks: the body (p its plan, or nullptr) run in
// the function's frame, the position given back by kept once it ended, also
// by return: `add f none` is near the call, not f's body.
template <bool plain, bool library, class Kept>
[[gnu::always_inline]] inline const cell_t*
run_function_body(const cell_t* fn, const plan::pnode_t* p, const cell_t* body, const Kept& kept) {
    cell_t* result;
    {
        function_run<false> run(function::context_of(fn));
        // Every caller marked the function's frame: it is the innermost.
        stack::ctop[-1].header |= frame::EXIT_TARGET;
        // The body runs in the function's own frame, its values above the
        // locals: that frame is the exit target return lands on anyway.
        if constexpr (library)
            result = p != nullptr ? run_planned_elsewhere(p, body) : run_in_place<true>(body);
        else result = p != nullptr ? run_planned_body<plain>(p, body) : run_in_place<true>(body);
        result = body_done(result, body, fn);
    }
    const cell_t* r = call_result(result);
    if (r != nullptr) [[likely]]
        kept.restore();
    return r;
}

// Runs the function at fn, its frame marked and filled; returns the cell
// holding its result, nullptr when an exit is pending.
// plain: a planned body calls it (so plans are on, and the caller is user
// code), and the callee's cell was seen with a body block, no compiled code
// and no trace flags (the plan's builder saw it): the same cell keeps them,
// as a function's more series is written only while it is made. Its body
// may then be a leaf taken with nothing run; quiet is cleared otherwise.
// caller: then the code the calling run walks, which the position names
// unless something the expression ran left it elsewhere.
// library: such a callee whose body is library code (its plan is run as
// library code, and a leaf body is run too).
template <bool plain = false, bool library = false>
[[gnu::always_inline]] inline const cell_t*
run_function(const cell_t* fn, const cell_t* caller = nullptr, bool* quiet = nullptr) {
    cell_t* more = alloc::buffer(fn->data3)->head_cell();
    const cell_t* compiled = more + function::MORE_CODE;
    if (tracing || (!plain && ((fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) ||
                               !series::block_kind_q(type_of(more + function::MORE_BODY)) ||
                               (type_of(compiled) == TYPE_integer && integer::get(compiled) != 0))))
        [[unlikely]] {
        if (quiet != nullptr) *quiet = false;
        if (short_ways && type_of(compiled) == TYPE_integer && integer::get(compiled) != 0 &&
            !(fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)))
            return run_compiled(fn, integer::get(compiled));
        call_function(fn, nullptr, callback::NONE);
        return exits::pending ? nullptr : stack::arguments;
    }
    cell_t body = more[function::MORE_BODY];
    // Its plan, built on the second call (which may allocate).
    const plan::pnode_t* p = nullptr;
    if (plain || plan::enabled) {
        const cell_t* m = more + function::MORE_PLAN;
        const plan::pnode_t* head;
        if (type_of(m) == TYPE_block &&
            (head = plan::held_plan(m),
             static_cast<uint32_t>(head->end) == plan::epoch && head->pos >= 0)) [[likely]]
            p = head;
        else if (type_of(m) != TYPE_none) p = plan::of_function(fn);
        if constexpr (plain && !library) {
            if (p != nullptr) [[likely]]
                if (const cell_t* leaf = plan_body_leaf(p, &body)) return leaf;
        }
    }
    if (quiet != nullptr) *quiet = false;
    if constexpr (plain && !library) {
        call_kept_position kept;
        if (kept.foreign(caller)) [[unlikely]]
            return run_plain_held(fn, p, &body);
        return run_function_body<plain, library>(fn, p, &body, kept);
    } else {
        // Library code leaves the position of the user code it ran.
        return run_function_body<plain, library>(fn, p, &body,
                                                 nested_position(stack::interpreted_mark != 0));
    }
}

[[gnu::always_inline]] inline int32_t plan_conditional(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t pos, int32_t end,
                                                       bool infix);
[[gnu::always_inline]] inline const cell_t* plan_path_operand(const pnode_t* r);
// An operator chain of numbers (QUIET_CHAIN) computed into *top with
// nothing run (quiet.cpp).
[[gnu::always_inline]] inline bool plan_quiet_chain(const plan_run& x, const pnode_t* n,
                                                    const cell_t* code, cell_t* top);

// The value of a planned block of one leaf (ONE_LEAF), a paren's or a
// branch's, when that is a plain value: what running the block would leave,
// taken with nothing run. nullptr otherwise.
[[gnu::always_inline]] inline const cell_t* plan_leaf_value(const plan_run& x,
                                                            const pnode_t* block) {
    if (!(block->flags & plan::ONE_LEAF)) return nullptr;
    const cell_t* value = plan_leaf(x, plan::statements_of(block));
    if (value == nullptr || !plain_value_q(type_of(value))) [[unlikely]]
        return nullptr;
    return value;
}

// The cell a word holds, read where its context's values live (a node the
// builder noted in the node's aux: a leaf, a probe's entry).
[[gnu::always_inline]] inline const cell_t* plan_global(const pnode_t* n) {
    return alloc::buffer(static_cast<node_t>(plan::word_values(n)))->head_cell() + n->value.data3;
}

// The cell a K_WORD leaf's word holds: where its context's values live when
// the builder noted that node (its aux), else through the word's context;
// nullptr when it has none to read.
[[gnu::always_inline]] inline const cell_t* plan_word(const pnode_t* n) {
    if (plan::word_values(n) != 0) [[likely]]
        return plan_global(n);
    return peek_value(&n->value);
}

// The probe of node n, its holder's small field read (plan::probe_holder):
// whether the word at pos, after it, holds an operator now. A word of the
// function's own context is read from the frame, where its context reads it
// while the body runs; another where its context's values live, through the
// entry node the builder made for it, if any. The stamp the caller read says
// the word's cell, and so its binding, are the ones the builder saw. The
// readings end on one test: a test each cost a flag set and tested.
[[gnu::always_inline]] inline bool op_probed(const plan_run& x, const pnode_t* n,
                                             const pnode_t* holder, const cell_t* code,
                                             int32_t pos) {
    uint32_t small = plan::probe_slot(holder);
    const cell_t* v;
    if (n->flags & plan::PROBE_LOCAL) v = x.frame + small;
    else if (small != 0) [[likely]] v = plan_global(x.head + small);
    else return op_at(code, pos);
    return type_of(v) == TYPE_op;
}

// The probe of node n, of any kind.
[[gnu::always_inline]] inline bool op_after(const plan_run& x, const pnode_t* n, const cell_t* code,
                                            int32_t pos) {
    return op_probed(x, n, plan::probe_holder(n), code, pos);
}

// The lookahead after the value of node n, which ended at pos.
[[gnu::always_inline]] inline int32_t plan_lookahead(const plan_run& x, const pnode_t* n,
                                                     const cell_t* code, int32_t pos, int32_t end) {
    if (pos != n->end || !plan_holds(x)) [[unlikely]]
        return plan_lookahead_generic(code, pos, end);
    if (!n->probe()) return pos;
    if (op_after(x, n, code, pos)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    return pos;
}

// The value a node expects its word (the K_WORDREF after it) to hold: a
// call's callee, a conditional's or return's native, an operator step's op!;
// nullptr when the word holds something else now. The word is read where its
// context's values live, a node the builder noted in the K_WORDREF (a
// context keeps it from its making, and the plan keeps the word's context
// alive). A callee's call summary goes with the cell: its cache, once made
// (the builder saw it made), is never made again.
[[gnu::always_inline]] inline const cell_t* plan_expected(const pnode_t* n) {
    const pnode_t* ref = plan::wordref_of(n);
    const cell_t* v =
        alloc::buffer(static_cast<node_t>(plan::values_node(ref)))->head_cell() + ref->value.data3;
    // As two words: a memcmp the compiler judges cold becomes a call.
    uint64_t now[2], expected[2];
    std::memcpy(now, v, sizeof now);
    std::memcpy(expected, &n->value, sizeof expected);
    if (((now[0] ^ expected[0]) | (now[1] ^ expected[1])) != 0) [[unlikely]]
        return nullptr;
    return v;
}

// call_simple with planned arguments.
inline int32_t plan_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                         int32_t end, bool infix) {
    if (plan::wordref_flags_of(n) & plan::SELF_CALL)
        return plan_call_of<true>(x, n, code, pos, end, infix);
    return plan_call_other(x, n, code, pos, end, infix);
}

// Argument i of the call at slot: its node when the walk is on it, else the
// interpreter's fetch. first: the argument right after the call's word,
// whose node the walk is on with the guards its caller read (pushing the
// callee and its frame ran nothing).
[[gnu::always_inline]] inline int32_t plan_argument(const plan_run& x, const pnode_t* a,
                                                    const cell_t* slot, int32_t i,
                                                    const cell_t* code, int32_t pos, int32_t end,
                                                    bool infix, bool first) {
    if (first || (a->pos == pos && plan_holds(x))) [[likely]]
        return run_node(x, a, code, pos, end, infix);
    return fetch_normal(slot, i, code, pos, end, infix);
}

// finish_call(slot, true) for a frame the plan pushed itself, its result at
// result.
[[gnu::always_inline]] inline void finish_planned(cell_t* slot,
                                                  const cell_t* result = stack::arguments) {
    finish_pushed(slot, true, result);
}

// finish_planned for a call whose frame was marked over the tops given: a
// call that ended with no exit pending popped every frame it marked, so its
// own is the innermost, and that frame's base is the caller's.
[[gnu::always_inline]] inline void finish_marked(const stack::tops_t& caller, cell_t* slot,
                                                 const cell_t* result) {
    stack::ctop = caller.ctop;
    stack::arguments = caller.arguments;
    *slot = *result;
    stack::top_slot = slot + 1;
}

// run_node for a node run where its value is not taken as an infix operand,
// computed set when the operators' lane computed it (see plan_simple_infix):
// the tests for a pending exit and for a seldom type need not follow. quiet
// as run_node sets it.
[[gnu::always_inline]] inline int32_t plan_computing(const plan_run& x, const pnode_t* n,
                                                     const cell_t* code, int32_t pos, int32_t end,
                                                     bool* computed, bool* quiet = nullptr) {
    if (n->flags & plan::SIMPLE_INFIX) return plan_simple_infix(x, n, code, pos, end, computed);
    return run_node(x, n, code, pos, end, false, quiet);
}

// The arguments of the call at slot from its first argument's node a on,
// each checked as the interpreter's fetch does. Stops at a pending exit.
// quiet, when given, is set where the call's one argument was a leaf whose
// probe just found no operator after it (run_node's quiet).
[[gnu::always_inline]] inline int32_t plan_arguments(const plan_run& x, const pnode_t* a,
                                                     cell_t* slot, int32_t count,
                                                     call_summary_t summary, const cell_t* code,
                                                     int32_t pos, int32_t end,
                                                     bool* quiet = nullptr) {
    if (count == 0) return pos;
    // The first apart: most calls take one argument, and the loop's values
    // need not live across it.
    bool computed = false;
    bool leaf = false;
    pos = plan_computing(x, a, code, pos, end, &computed, quiet != nullptr ? &leaf : nullptr);
    if (!computed) {
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(summary, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, 0);
    } else if (!call_summary::any_types_q(summary)) [[unlikely]] {
        check_argument(slot, 0);
    }
    if (count == 1) [[likely]] {
        if (quiet != nullptr) *quiet = leaf;
        return pos;
    }
    return plan_later_arguments(x, a, slot, count, summary, code, pos, end);
}

template <bool body>
[[gnu::always_inline]] inline cell_t* plan_last_run(const plan_run& x, const pnode_t* block,
                                                    const pnode_t* n, const cell_t* code,
                                                    int32_t pos, int32_t end, cell_t* base);

// run_planned for a planned conditional's branch, a paren or a recursive
// call's body (the guards read): a block of one expression, the common case,
// runs without the block loop. After its node the block is over wherever the
// stamp stands, so the guards need no reading there. body: a recursive
// function's body, most often one conditional, which is tried before
// run_node's walk through the kinds. lead: as run_self's.
template <bool body = false, bool lead = false>
[[gnu::always_inline]] inline cell_t* plan_block_run(const plan_run& x, const pnode_t* block,
                                                     const cell_t* code) {
    const pnode_t* n = plan::statements_of(block);
    if (!(block->flags & plan::ONE_EXPRESSION)) [[unlikely]] {
        if (!lead || !(block->flags & plan::LITERAL_LEAD))
            return run_planned(x, block, code, true, x.where);
        return plan_lead_body(x, block, code);
    }
    int32_t pos = block->pos;
    int32_t end = block->end;
    return plan_last_run<body>(x, block, n, code, pos, end, stack::top_slot);
}
// The last expression of a block, node n at pos, the base its value goes
// to: the block's one expression, or the expression after a body's
// LITERAL_LEAD. body: as plan_block_run's.
template <bool body>
[[gnu::always_inline]] inline cell_t* plan_last_run(const plan_run& x, const pnode_t* block,
                                                    const pnode_t* n, const cell_t* code,
                                                    int32_t pos, int32_t end, cell_t* base) {
    *x.where = *code;
    x.where->data1 = static_cast<uint32_t>(pos);
    if (body && n->kind() == plan::K_COND)
        pos = (plan::wordref_flags_of(n) & plan::LANE_CONDITION)
                  ? conditional_lane(x, n, code, pos, end, false)
                  : conditional_body(x, n, code, pos, end);
    else pos = run_node(x, n, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return nullptr;
    if (pos >= end) [[likely]]
        return base;
    return plan_branch_rest(block, code, pos, end, base);
}

// A nested block: the position back as the interpreter gives it.
template <class Kept>
[[gnu::always_inline]] inline cell_t* plan_nested_run(const plan_run& x, const pnode_t* block,
                                                      const cell_t* code, const Kept& kept) {
    cell_t* r = plan_block_run(x, block, code);
    if (r != nullptr) [[likely]]
        kept.restore();
    return r;
}

// A branch or a paren's block (code), which stands in the code `around`.
[[gnu::always_inline]] inline cell_t* plan_branch(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code, const cell_t* around) {
    plan_kept_position kept(x);
    if (kept.foreign(around)) [[unlikely]]
        return plan_branch_held(x, block, code);
    return plan_nested_run(x, block, code, kept);
}

// run_self past its choice of how the position is kept.
template <bool lead, class Kept>
[[gnu::always_inline]] inline const cell_t* run_self_body(const plan_run& x, cell_t* slot,
                                                          const Kept& kept) {
    cell_t* result;
    {
        function_run<false, true> run(function::context_of(slot), slot + 1);
        stack::ctop[-1].header |= frame::EXIT_TARGET;
        plan::count(plan::C_RUN);
        const pnode_t* block = plan::body_of(x.head);
        // The caller found the guard byte clear just before, and nothing ran
        // since: this run starts with it clear and has no bit to hand back.
        const plan_run y{x.head, slot + 1, x.where};
        result =
            body_done(plan_block_run<true, lead>(y, block, &block->value), &block->value, slot);
    }
    const cell_t* r = call_result(result);
    if (r != nullptr) [[likely]]
        kept.restore();
    return r;
}

// run_function for a recursive call, its frame filled: the callee is the
// function whose plan runs, so that plan serves it while the stamp holds
// (its body and compiled code never change, and its trace flags passed
// when the running call began). Returns the cell that holds the result,
// nullptr when an exit is pending. The position goes back as run_function
// gives it (code: the caller's, as its caller). lead: a body of
// LITERAL_LEAD runs apart (plan_lead_body); the path calls, whose lines that
// test would crowd, leave it to the block loop.
template <bool lead = false>
[[gnu::always_inline]] inline const cell_t* run_self(const plan_run& x, const cell_t* code,
                                                     cell_t* slot) {
    call_kept_position kept;
    if (kept.foreign(code)) [[unlikely]]
        return run_self_held(x, slot);
    return run_self_body<lead>(x, slot, kept);
}

// A planned body of one leaf holding a plain value gives that value with
// nothing run: its run would only push the value (the position it stores it
// gives back), which the caller copies to the callee's slot (so the stack
// must have the room). Nothing reads the context's values word, the guard
// byte or the tracing state that run sets and gives back, unless a `trace`
// request waits for the call's end. nullptr: the body runs.
[[gnu::always_inline]] inline const cell_t* plan_body_leaf(const pnode_t* head,
                                                           const cell_t* body) {
    const pnode_t* block = plan::body_of(head);
    if (!(block->flags & plan::ONE_LEAF)) [[likely]]
        return nullptr;
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        caller_tracing_request >= 0 || stack::top_slot + 1 >= stack::end) [[unlikely]]
        return nullptr;
    const cell_t* value = plan_leaf_value(plan_run{head, stack::arguments, position}, block);
    if (value == nullptr) [[unlikely]]
        return nullptr;
    plan::count(plan::C_RUN);
    return value;
}

// The frame of the call whose word's node is ref, its callee just pushed at
// slot: the record as mark_interp_func or mark_interp_native writes it, its
// header made by the builder.
[[gnu::always_inline]] inline void plan_mark(const pnode_t* ref, cell_t* slot) {
    stack::push_frame_made(plan::frame_header(ref), ref->value.data1, slot + 1);
}

// The callee of call node n (a call, a native's or a conditional) pushed and
// its frame marked; nullptr when its word no longer holds it.
[[gnu::always_inline]] inline cell_t* plan_push_callee(const pnode_t* n) {
    const cell_t* v = plan_expected(n);
    if (v == nullptr) [[unlikely]]
        return nullptr;
    check_native_stack();
    cell_t* slot = stack::push(v);
    plan_mark(plan::wordref_of(n), slot);
    return slot;
}

// push_locals for a planned call: the room for all of them tested once,
// push_locals' own pushes raising where the room runs out.
[[gnu::always_inline]] inline void plan_push_locals(int32_t n) {
    if (n < 1) return;
    cell_t* c = stack::top_slot;
    if (c + n >= stack::end) [[unlikely]] {
        push_locals(n);
        return;
    }
    c->header = TYPE_logic;
    c->data1 = 0;
    for (int32_t i = 1; i < n; i++) c[i].header = TYPE_none;
    stack::top_slot = c + n;
}

// plan_call past its callee's push, self for a recursive call (SELF_CALL).
// first: the node of the first argument, counted from n's. lead: as
// run_self's.
template <bool self, int32_t first = plan::CALL_ARGUMENTS, bool lead = true>
[[gnu::always_inline]] inline int32_t
plan_call_body(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
               bool infix, const stack::tops_t& caller, cell_t* slot) {
    const pnode_t* ref = plan::wordref_of(n);
    call_summary_t summary = plan::callee_summary(ref);
    bool quiet = false;
    pos = plan_arguments(x, n + first, slot, plan::argument_count(n), summary, code, pos + 1, end,
                         self ? nullptr : &quiet);
    if (exits::pending) [[unlikely]]
        return pos;
    plan_push_locals(call_summary::locals(summary));
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    // A plan runs for user code called from user code, and only code_origin
    // changes the interpreted mark, putting it back however it is left: the
    // caller is user code here.
    const cell_t* result;
    if (self && plan_holds(x)) [[likely]]
        result = run_self<lead>(x, code, slot);
    else if (!self && (ref->flags & plan::PLAIN_CALL)) [[likely]]
        result = run_function<true>(slot, code, &quiet);
    else if (!self && (ref->flags & plan::LIBRARY_CALL)) result = run_library_function(slot);
    else result = run_other_function(slot);
    if (result == nullptr) [[unlikely]]
        return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, true, result, code, pos);
    else finish_marked(caller, slot, result);
    // A body of one leaf ran nothing since the argument's probe read the
    // word after the call: the lookahead would find what that probe did.
    if (infix || quiet) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

// The value of the leaf that is the body of a callee taking its arguments
// at args (as its frame would hold them, count of them): nullptr unless it
// holds a plain value.
[[gnu::always_inline]] inline const cell_t* leaf_body_value(const pnode_t* leaf, const cell_t* args,
                                                            int32_t count) {
    const cell_t* v = &leaf->value;
    if (leaf->kind() == plan::K_LOCAL) {
        if (plan::frame_slot(leaf) >= count) [[unlikely]]
            return nullptr;
        v = args;
    } else if (leaf->kind() == plan::K_WORD) {
        v = peek_value(v);
        if (v == nullptr) [[unlikely]]
            return nullptr;
    }
    return plain_value_q(type_of(v)) ? v : nullptr;
}

// Whether the probe of node n (its holder given) finds no operator in the
// word after it, read in the frame or through the entry node: false too when
// the word has to be looked up (which is a call).
[[gnu::always_inline]] inline bool no_op_probed(const plan_run& x, const pnode_t* n,
                                                const pnode_t* holder) {
    uint32_t small = plan::probe_slot(holder);
    const cell_t* v;
    if (n->flags & plan::PROBE_LOCAL) v = x.frame + small;
    else if (small != 0) [[likely]] v = plan_global(x.head + small);
    else return false;
    return type_of(v) != TYPE_op;
}

// A plain call (LEAF_BODY) of a function whose planned body is one leaf
// holding a plain value, its one argument, if any, a leaf holding a plain
// value that needs no check, with no operator after the call: nothing would
// run between marking the call's frame and popping it, so no frame is
// marked and the callee's value goes straight to the slot the callee would
// have been pushed to. The position stays: the body's run gives it back.
// False, nothing done, for anything else, and where the call would fail a
// check (room on both stacks) or look a word up: the call's way then raises
// what it raises there. With no argument, the lookahead after the call is
// made before it (nothing runs in between); with one, the argument's probe
// reads the same word. Nothing here is a call, so the routine it is inline
// in needs no registers saved for its fast way.
[[gnu::always_inline]] inline bool plan_call_leaf(const plan_run& x, const pnode_t* n) {
    const cell_t* fn = plan_expected(n);
    if (fn == nullptr) [[unlikely]]
        return false;
    check_native_stack();
    const cell_t* more = alloc::buffer(fn->data3)->head_cell();
    const cell_t* m = more + function::MORE_PLAN;
    if (type_of(m) != TYPE_block || stack::top_slot + 3 >= stack::end ||
        stack::ctop >= stack::cend || caller_tracing_request >= 0) [[unlikely]]
        return false;
    const pnode_t* head = plan::held_plan(m);
    const pnode_t* block = plan::body_of(head);
    const cell_t* body = more + function::MORE_BODY;
    if (static_cast<uint32_t>(head->end) != plan::epoch || head->pos < 0 ||
        !(block->flags & plan::ONE_LEAF) || body->data2 != block->value.data2 ||
        body->data1 != block->value.data1) [[unlikely]]
        return false;
    const cell_t* arg = nullptr;
    const pnode_t* probed = n;  // the node whose probe reads the word after the call
    const pnode_t* holder = plan::wordref_of(n);
    auto count = plan::argument_count(n);
    if (count != 0) {
        const pnode_t* a = plan::arguments_of(n);
        uint8_t kind = a->kind();
        if (kind == plan::K_LOCAL) arg = x.frame + plan::frame_slot(a);
        else if (kind == plan::K_LIT) arg = &a->value;
        else if (kind == plan::K_WORD) arg = peek_value(&a->value);
        if (arg == nullptr || !plain_value_q(type_of(arg)) ||
            check_needed(plan::callee_summary(plan::wordref_of(n)), arg)) [[unlikely]]
            return false;
        probed = a;
        holder = a;
    }
    if (probed->probe() && !no_op_probed(x, probed, holder)) [[unlikely]]
        return false;
    const cell_t* value = leaf_body_value(plan::statements_of(block), arg, count);
    if (value == nullptr) [[unlikely]]
        return false;
    plan::count(plan::C_RUN);
    *stack::top_slot++ = *value;
    return true;
}

// What conditional_leaf leaves to its caller.
enum quiet_t : int32_t {
    QUIET_END,  // the value in the callee's slot and no operator after it: the walk
                // goes on at the conditional's end
    QUIET_LOOKAHEAD,  // the value in the callee's slot, the lookahead still to make
    QUIET_NOT,  // nothing anybody reads changed: the conditional's own path
    QUIET_BRANCH,  // the condition in the cell above the callee's slot: branch 0
                   // (QUIET_BRANCH + 1: branch 1) to run in the conditional's frame
};

// A planned conditional of a leaf condition: the quiet way, out of line.
[[gnu::always_inline]] inline int32_t conditional_leaf_node(const plan_run& x, const pnode_t* n,
                                                            const cell_t* code, int32_t end,
                                                            bool infix) {
    int32_t quiet = conditional_leaf(x, n);
    if (quiet == QUIET_END || (infix && quiet == QUIET_LOOKAHEAD)) [[likely]]
        return n->end;
    return conditional_after(x, n, code, end, infix, quiet);
}

// A planned conditional: the quiet way when the builder found a condition
// that runs nothing, each kind in a routine of its own (the conditional's
// own path saves six registers and spills across its calls).
[[gnu::always_inline]] inline int32_t plan_conditional(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t pos, int32_t end,
                                                       bool infix) {
    uint32_t ref = plan::wordref_flags_of(n);
    if (ref & plan::LEAF_CONDITION) return conditional_leaf_node(x, n, code, end, infix);
    if (ref & plan::LANE_CONDITION) return conditional_lane(x, n, code, pos, end, infix);
    return conditional_called(x, n, code, pos, end, infix);
}

// The slot the set-word n stores into, as set_word_slot finds it: a word of
// the function's own (SET_LOCAL) in the frame its K_LOCAL reads read, which
// is the one its context's values name while a node of the run runs.
[[gnu::always_inline]] inline cell_t* plan_set_slot(const plan_run& x, const pnode_t* n) {
    if (n->flags & plan::SET_LOCAL) return x.frame + n->value.data3;
    return set_word_slot(&n->value);
}

// plan_quiet_set for a set-word of a literal into the frame (SET_LITERAL),
// as a statement of a block, not its last: no later statement reads its
// value, so it is not pushed (the room that takes is checked as the quiet
// way checks it). False, nothing changed, with an operator after the value
// or no room.
[[gnu::always_inline]] inline bool plan_set_literal(const plan_run& x, const pnode_t* n,
                                                    const cell_t* code) {
    const pnode_t* v = plan::set_value(n);
    if (stack::top_slot + 2 >= stack::end || stack::ctop >= stack::cend ||
        (v->probe() && op_probed(x, v, v, code, v->pos + 1))) [[unlikely]]
        return false;
    x.frame[n->value.data3] = v->value;
    return true;
}

// A set-word whose value is a leaf holding a plain value, two integers the
// operators' lane computes or a quiet chain, with no operator after it: nothing runs
// between the set-word's frame and its unwinding, so nothing could see
// them; the value is stored where the frame's result would be left, once
// the room the frame and the set-word's cell take is seen to be there.
// False, having changed nothing, otherwise.
[[gnu::always_inline]] inline bool plan_quiet_set(const plan_run& x, const pnode_t* n,
                                                  const cell_t* code) {
    const pnode_t* v = plan::set_value(n);
    cell_t* top = stack::top_slot;
    if (top + 2 >= stack::end || stack::ctop >= stack::cend) [[unlikely]]
        return false;
    uint8_t kind = v->kind();
    const cell_t* value;
    if (kind == plan::K_LOCAL || kind == plan::K_LIT || kind == plan::K_WORD) {
        value = plan_leaf(x, v);
        if (value == nullptr || !plain_value_q(type_of(value)) ||
            (v->probe() && op_probed(x, v, v, code, v->pos + 1)))
            return false;
    } else if ((v->flags & plan::SIMPLE_INFIX) && (v->value.data1 & plan::INFIX_LANE)) {
        uint32_t lane = v->value.data1;
        const cell_t* left = plan_lane_operand(x, plan::lane_left(v), lane >> 2);
        const cell_t* right = plan_lane_operand(x, plan::lane_right(v), lane);
        if (type_of(left) != TYPE_integer || type_of(right) != TYPE_integer ||
            plan_expected(plan::lane_op(v)) == nullptr ||
            (v->probe() && op_after(x, v, code, v->end)))
            return (v->flags & plan::QUIET_CHAIN) && plan_quiet_chain(x, v, code, top) &&
                   plan_quiet_stored(x, n, top);
        *top = *left;
        if (!fast_integers(static_cast<fast_op>(v->value.data2), top, integer::get(left),
                           integer::get(right)))
            return false;
        value = top;
    } else if ((v->flags & plan::QUIET_CHAIN) && plan_quiet_chain(x, v, code, top)) {
        value = top;
    } else {
        return false;
    }
    cell_t* slot = plan_set_slot(x, n);
    if (slot == nullptr) [[unlikely]]
        return false;
    *top = *value;
    *slot = *value;
    stack::top_slot = top + 1;
    return true;
}

// A set-word that plan_quiet_set did not take: the code of eval_set_word
// with its value planned, past its depth check.
[[gnu::always_inline]] inline int32_t
plan_set_framed(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end) {
    stack::mark_interp_native(&n->value);
    stack::push(&n->value);
    // Its value's node follows, with the guards run_node's caller read; a
    // call, the common value here, dispatched straight.
    const pnode_t* v = plan::set_value(n);
    if (v->kind() == plan::K_CALL) pos = plan_call(x, v, code, pos + 1, end, false);
    else pos = run_node(x, v, code, pos + 1, end, false);
    if (exits::pending) return pos;
    // store_set_word, the slot found as the quiet store finds it.
    cell_t* w = stack::arguments;
    if ((n->flags & plan::SET_LOCAL) && type_of(w + 1) != TYPE_unset) [[likely]] {
        x.frame[n->value.data3] = w[1];
        *w = w[1];
    } else {
        store_set_word();
    }
    stack::unwind();
    return pos;
}

// The value of a leaf node (a literal or a word); nullptr when a word has
// none to read.
[[gnu::always_inline]] inline const cell_t* plan_leaf(const plan_run& x, const pnode_t* n) {
    if (n->kind() == plan::K_LOCAL) return x.frame + plan::frame_slot(n);
    if (n->kind() == plan::K_WORD) return plan_word(n);
    return &n->value;
}

// An operand of the lane, read from its source's INFIX_RIGHT_ bits.
inline const cell_t* plan_lane_operand(const plan_run& x, const pnode_t* n, uint32_t source) {
    if (source & plan::INFIX_RIGHT_GLOBAL) return plan_global(n);
    if (source & plan::INFIX_RIGHT_LITERAL) return &n->value;
    return x.frame + plan::frame_slot(n);
}

// plan_simple_infix_rest for the operands the builder gave a lane: they are
// read where the builder found them, with no walk through their kinds, and
// two integers (or two floats) are computed into the new top cell. Anything
// else, and a sum, difference or product that does not fit, goes out of line.
// computed, when given, is set where the value was computed in place: a
// number or a logic! on top, nothing run, no exit pending.
[[gnu::always_inline]] inline int32_t plan_simple_infix(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool* computed) {
    uint32_t lane = n->value.data1;
    if (!(lane & plan::INFIX_LANE)) [[unlikely]] {
        if (lane & plan::INFIX_PAREN) return plan_paren_lane(x, n, code, pos, end);
        return plan_simple_infix_rest(x, n, code, pos, end);
    }
    // (Read before its kind is known: the raw aux.)
    const cell_t* left = x.frame + plan::lane_left(n)->aux;
    if (lane & (plan::INFIX_LEFT_GLOBAL | plan::INFIX_LEFT_LITERAL)) [[unlikely]] {
        if (lane & plan::INFIX_LEFT_GLOBAL) {
            left = plan_global(plan::lane_left(n));
        } else {
            check_native_stack();  // as eval_expression does
            left = &plan::lane_left(n)->value;
        }
    }
    const cell_t* right = &plan::lane_right(n)->value;
    if (!(lane & plan::INFIX_RIGHT_LITERAL))
        right = (lane & plan::INFIX_RIGHT_GLOBAL) ? plan_global(plan::lane_right(n))
                                                  : x.frame + plan::frame_slot(plan::lane_right(n));
    cell_t* top = stack::top_slot;
    bool done = false;
    if (type_of(left) == TYPE_integer && type_of(right) == TYPE_integer && top + 1 < stack::end &&
        plan_expected(plan::lane_op(n)) != nullptr) [[likely]] {
        *top = *left;
        done = fast_integers(static_cast<fast_op>(n->value.data2), top, integer::get(left),
                             integer::get(right));
    } else if (type_of(left) == TYPE_float_ && type_of(right) == TYPE_float_ &&
               top + 1 < stack::end && plan_expected(plan::lane_op(n)) != nullptr) {
        *top = *left;
        done = fast_floats(static_cast<fast_op>(n->value.data2), top, right);
    }
    if (done) [[likely]] {
        stack::top_slot = top + 1;
        pos = n->end;
        if (!n->probe()) {
            if (computed != nullptr) *computed = true;
            return pos;
        }
        bool op = (n->flags & plan::PROBE_LOCAL)
                      ? type_of(reinterpret_cast<const cell_t*>(
                            reinterpret_cast<const char*>(x.frame) + n->value.data3)) == TYPE_op
                      : op_probed(x, n, plan::wordref_of(plan::lane_op(n)), code, pos);
        if (op) [[unlikely]]
            return plan_infix_generic(code, pos, end);
        if (computed != nullptr) *computed = true;
        return pos;
    }
    return plan_simple_infix_other(x, n, code, pos, end);
}

// One node: values inline, everything else in its own routine. quiet, when
// given, is set where the node was a leaf pushed with nothing run whose probe
// (if a word follows) found no operator.
[[gnu::always_inline]] inline int32_t run_node(const plan_run& x, const pnode_t* n,
                                               const cell_t* code, int32_t pos, int32_t end,
                                               bool infix, bool* quiet) {
    uint8_t kind = n->kind();
    if (kind == plan::K_LOCAL || kind == plan::K_WORD || kind == plan::K_LIT) {
        const cell_t* v = &n->value;
        if (kind == plan::K_LOCAL) v = x.frame + plan::frame_slot(n);
        else if (kind == plan::K_WORD) v = peek_value(&n->value);
        if (kind != plan::K_LIT) {
            if (v == nullptr || !plain_value_q(type_of(v))) [[unlikely]] {
                if (!infix && (n->flags & plan::ANSWERS_PROBE) && v != nullptr &&
                    type_of(v) == TYPE_op)
                    return plan_answer(x, n, code, pos, end);
                return plan_fallback(n, code, pos, end, infix);
            }
        } else if (!infix && n->probe()) {
            // eval_operand hands a literal with a word after it to
            // eval_expression, which checks the depth.
            check_native_stack();
        }
        stack::push(v);
        // The caller read the guards just before this node: a leaf ends
        // where its node does, and pushing it ran nothing.
        if (!infix && n->probe() && op_probed(x, n, n, code, pos + 1)) [[unlikely]]
            return plan_infix_generic(code, pos + 1, end);
        if (quiet != nullptr) *quiet = true;
        return pos + 1;
    }
    if (n->flags & plan::SIMPLE_INFIX) return plan_simple_infix(x, n, code, pos, end);
    if (kind == plan::K_INFIX) return plan_infix(x, n, code, pos, end);
    // One test for both kinds: a test per kind here made the chain a jump
    // table, dearer for every node after it.
    if (kind == plan::K_CALL || kind == plan::K_NATIVE) {
        if (kind == plan::K_CALL) return plan_call(x, n, code, pos, end, infix);
        return plan_native(x, n, code, pos, end, infix);
    }
    if (kind == plan::K_COND) return plan_conditional(x, n, code, pos, end, infix);
    if (kind == plan::K_PAREN) return plan_paren(x, n, code, pos, end, infix);
    return plan_path_call(x, n, code, pos, end, infix);
}

// run_in_place on a planned block. guards_read: the caller read the guards
// and nothing ran since (a paren's node, a branch of a planned conditional).
// where: x.where, given as a constant where the caller knows it (the block
// loop's stores then need no load).
[[gnu::always_inline]] inline cell_t* run_planned(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code, bool guards_read,
                                                  cell_t* where) {
    if (!guards_read && !plan_holds(x)) [[unlikely]]
        return run_in_place(code);
    if (plan::verify) [[unlikely]]
        plan::verify_block(x.head, block, code);
    // Under the stamp the plan holds at, the block has the length it had
    // when it was planned; only a stamp moved while a node ran may have
    // shortened it.
    int32_t end = block->end;
    int32_t pos = block->pos;
    cell_t* base = stack::top_slot;
    if (pos >= end) [[unlikely]] {
        stack::push_slot()->header = TYPE_unset;
        return base;
    }
    // Only the last statement's value is kept (see plan_quiet_leaf), so
    // that a leaf before it pushes nothing: with no room for a cell above
    // the base, the interpreter's run raises stack-overflow where it would.
    if (base + 1 >= stack::end) [[unlikely]]
        return run_in_place(code);
    const pnode_t* n = plan::statements_of(block);
    // The guards are read on entry and after each node (nothing runs
    // between that and the next node). Each statement starts with the
    // position holding the block at its own, and n its first node.
    *where = *code;
    where->data1 = static_cast<uint32_t>(pos);
    if (n->pos == pos) [[likely]] {
        for (;;) {
            const pnode_t* next = nullptr;
            uint8_t kind = n->kind();
            // Set-words first, the statements of most loop bodies; then one
            // jump on the kind, where a chain of tests would cost a
            // statement several compares before the common kinds.
            if (kind == plan::K_SET) {
                // plan_other's set-word, taken here: the quiet ones with no
                // call, the framed one in line.
                check_native_stack();
                if ((n->flags & plan::SET_LITERAL) && n->end < end &&
                    plan_set_literal(x, n, code)) {
                    // A run of them, which runs nothing: the next statement's
                    // node follows each, at its end, with the top at the base.
                    do {
                        pos = n->end;
                        n += 2;
                        where->data1 = static_cast<uint32_t>(pos);
                    } while ((n->flags & plan::SET_LITERAL) && n->end < end &&
                             plan_set_literal(x, n, code));
                    continue;
                }
                // A call's value runs: no quiet way to try.
                if (plan::set_value(n)->kind() != plan::K_CALL && plan_quiet_set(x, n, code)) {
                    pos = n->end;
                    next = n + n->aux;
                } else {
                    pos = plan_set_framed(x, n, code, pos, end);
                }
            } else {
                switch (kind) {
                case plan::K_INFIX:
                    if (n->flags & plan::SIMPLE_INFIX) {
                        bool computed = false;
                        pos = plan_simple_infix(x, n, code, pos, end, &computed);
                        // A value computed in the lane: the position
                        // untouched.
                        if (computed) next = plan::lane_end(n);
                    } else {
                        pos = plan_infix(x, n, code, pos, end);
                    }
                    break;
                case plan::K_CALL:
                    // A call of a leaf body inline here, where it has no
                    // registers of its own to save.
                    if ((plan::wordref_flags_of(n) & plan::LEAF_BODY) && plan_call_leaf(x, n)) {
                        // Nothing ran.
                        pos = n->end;
                        next = n + n->aux;
                    } else {
                        pos = plan_call(x, n, code, pos, end, false);
                    }
                    break;
                case plan::K_COND: pos = plan_conditional(x, n, code, pos, end, false); break;
                case plan::K_RETURN: pos = plan_other(x, n, code, pos, end, false); break;
                case plan::K_SETPATH: pos = plan_set_path(x, n, code, pos, end); break;
                case plan::K_LOCAL:
                case plan::K_LIT:
                case plan::K_PAREN: {
                    const pnode_t* after = plan_quiet_run(x, n, code, end);
                    if (after == nullptr) return base;
                    if (after != n) {
                        // The quiet statements taken, the next one is
                        // dispatched on its own kind.
                        pos += static_cast<int32_t>(after - n);
                        n = after;
                        continue;
                    }
                    // Not quiet: run_node's, one copy of it in line.
                    [[fallthrough]];
                }
                default: pos = run_node(x, n, code, pos, end, false); break;
                }
            }
            if (next != nullptr) {
                if (pos >= end) return base;
                stack::top_slot = base;
                n = next;
                where->data1 = static_cast<uint32_t>(pos);
                continue;
            }
            if (exits::pending) [[unlikely]]
                return nullptr;
            // The next node is found only when there is one to run: most
            // planned blocks hold one expression.
            if (!plan_holds(x)) [[unlikely]] {
                end = live_end(code, end);
                if (pos >= end) return base;
                stack::top_slot = base;
                *where = *code;
                where->data1 = static_cast<uint32_t>(pos);
                n += plan::size_of(n);
                break;
            }
            if (pos >= end) return base;
            stack::top_slot = base;
            n += plan::size_of(n);
            *where = *code;
            where->data1 = static_cast<uint32_t>(pos);
            if (n->pos != pos) [[unlikely]]  // K_END after the last node matches no position
                break;
        }
    }
    pos = plan_fallback(n->kind() != plan::K_END ? n : block, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return nullptr;
    return plan_block_generic(code, pos, end, base);
}

// Inline in each call site: one C++ frame less per planned call.
// from_plan: a planned body calls, so the caller is user code and so is
// the callee (the builder gives library callees no short way).
template <bool from_plan>
[[gnu::always_inline]] inline cell_t* run_planned_body(const pnode_t* head, const cell_t* body) {
    const pnode_t* block = plan::body_of(head);
    // The plan is of this body, as the function holds it now, and of user
    // code run from user code.
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        !(from_plan || (origin_fits(false) && !(head->flags & plan::LIBRARY_PLAN)))) [[unlikely]]
        return run_planned_elsewhere(head, body);
    plan::count(plan::C_RUN);
    // Verify mode: the blocks a run may take without the block loop (of
    // one expression, or a leaf) are checked here, as it begins.
    if (plan::verify) [[unlikely]]
        plan::verify_plan(head);
    plan_start x(head, stack::arguments);
    // run_function found nothing traced and nothing ran since.
    return run_planned(x, block, body, true, position);
}

// --- entries from the path nodes, the chains and the loops ------------------------

// The right operand of a fast step that is a path (K_PATH), read as the
// operator the interpreter calls for it would fetch it: nullptr, having done
// nothing, where that call must run (the room its frame takes not there, a
// native stack to check, anything but a plain value reached), so that it
// raises and reads where it would.
[[gnu::always_inline]] inline const cell_t* plan_path_operand(const pnode_t* r) {
    if (stack::top_slot + 4 >= stack::end || stack::ctop >= stack::cend || native_stack_low())
        [[unlikely]]
        return nullptr;
    return read_path_in_place(&r->value);
}

// plan_quiet_chain: the chain at n (QUIET_CHAIN) into *top, the lookahead
// after it finding no operator. False, *top then holding nothing of use,
// where anything would have to run.
[[gnu::always_inline]] inline bool plan_quiet_chain(const plan_run& x, const pnode_t* n,
                                                    const cell_t* code, cell_t* top) {
    // More than the deepest a chain's run goes (parens two deep at most: the
    // builder's QUIET_DEPTH): per level its left operand, an operator's
    // callee and frame, a paren's cell and a path read's room.
    if (top + 16 >= stack::end || stack::ctop + 4 >= stack::cend || native_stack_low()) [[unlikely]]
        return false;
    if (!quiet_chain_value(x, n, top)) return false;
    return !(n->probe() && op_after(x, n, code, n->end));
}

// run_in_place<true>(code) for a block a loop runs, through its plan when it
// has one to run now: user code run from user code (or library code from
// library code, out of line), nothing traced (eval_here tested it). Inline
// in eval_here: a block refused costs its look-up only.
// kind: the type of code it plans, TYPE_paren for the parens parse runs (a
// paren runs its contents as a block does, so the two share plans).
template <uint8_t kind = TYPE_block>
[[gnu::always_inline]] inline cell_t* run_loop_block(const cell_t* code) {
    if (type_of(code) != kind || !origin_fits(false)) [[unlikely]]
        return run_library_loop_block<kind>(code);
    // Its entry, and a plan that holds at the current stamp.
    plan::block_plan* e = plan::block_slot(code->data2);
    bool mine = e->series == code->data2 && e->head == code->data1;
    if (mine && e->plan != nullptr && static_cast<uint32_t>(e->plan->end) == plan::epoch &&
        e->plan->pos >= 0) [[likely]] {
        e->used = true;
        return run_block_plan(e, code);
    }
    if ((mine && e->refused) || (e = plan::of_block(code)) == nullptr)
        return run_in_place<true>(code);
    return run_block_plan(e, code);
}

}  // namespace

}  // namespace zuv::interpreter
