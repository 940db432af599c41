// The runner's nodes for blocks, calls, natives, operators, parens,
// set-words and returns (runner.h says what each unit runs).

#include "interpreter/plans/runner.h"

#include <cstring>

#include "interpreter/plans/pick_helpers.h"

namespace zuv::interpreter {

cell_t library_position{TYPE_none, 0, 0, 0};

// The interpreter's own path for the expression at pos.
[[gnu::noinline]] int32_t plan_fallback(const pnode_t* n, const cell_t* code, int32_t pos,
                                        int32_t end, bool infix) {
    plan::count_fallback(n);
    int32_t live = end;
    const cell_t* c = live_cells(code, &live) + pos;
    return eval_operand(c, live, code, pos, end, infix);
}

// The interpreter's lookahead and operator loop, out of the planned code.
[[gnu::noinline, gnu::cold]] int32_t plan_lookahead_generic(const cell_t* code, int32_t pos,
                                                            int32_t end) {
    return lookahead(code, pos, end);
}
[[gnu::noinline, gnu::cold]] int32_t plan_infix_generic(const cell_t* code, int32_t pos,
                                                        int32_t end) {
    return infix_loop(code, pos, end, true);
}
// The rest of a block that left its plan: run_in_place's loop from pos, the
// value of the expression just run on top.
[[gnu::noinline]] cell_t* plan_block_generic(const cell_t* code, int32_t pos, int32_t end,
                                             cell_t* base) {
    bool track = !library_code::library_q(code->data2);
    for (;;) {
        int32_t live = alloc::buffer(code->data2)->used() >> 4;
        if (live < end) end = live;
        if (pos >= end) return base;
        stack::top_slot = base;
        if (track) {
            *position = *code;
            position->data1 = static_cast<uint32_t>(pos);
        }
        pos = eval_operand(cell_at(code, pos), end, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return nullptr;
    }
}

// Whether the cell at pos is a word holding an operator now: the probe of a
// word the builder left no entry for (its context's values on the stack),
// out of line to keep the probe sites small.
[[gnu::noinline]] bool op_at(const cell_t* code, int32_t pos) {
    const cell_t* v = peek_value(cell_at(code, pos));
    return v != nullptr && type_of(v) == TYPE_op;
}

namespace {

// The statement before statement n in its planned block; nullptr for the
// first.
const pnode_t* statement_before(const pnode_t* head, const pnode_t* n) {
    for (int32_t i = 1; i < head->aux; i++) {
        const pnode_t* b = head + i;
        if (b->kind() != plan::K_BLOCK) continue;
        const pnode_t* before = nullptr;
        for (const pnode_t* s = plan::statements_of(b); s->kind() != plan::K_END;
             s += plan::size_of(s)) {
            if (s == n) return before;
            before = s;
        }
    }
    return nullptr;
}

}  // namespace

// Statement n, at pos, whose first read answers the probe the statement
// before it left out (ANSWERS_PROBE), found the word there holding an
// operator: that statement's value is the operator's left operand, and the
// operator loop goes on as after the probe. Nothing ran since that
// statement's value was made: it is still at the top (the base), or, for a
// word of the function's own context, which the block's loop takes without
// a push, read again as it was. Position: the statement's, as the probe
// would have left it.
[[gnu::noinline, gnu::cold]] int32_t plan_answer(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* before = statement_before(x.head, n);
    if (before == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    if (before->kind() == plan::K_LOCAL) stack::push(x.frame + plan::frame_slot(before));
    else stack::top_slot++;
    x.where->data1 = static_cast<uint32_t>(before->pos);
    return infix_loop(code, pos, end, true);
}

namespace {

// A call's or a native's statement n whose guard failed: plan_answer's
// case when its read answers a probe (REF_ANSWERS_PROBE), else the
// interpreter's path.
[[gnu::noinline, gnu::cold]] int32_t plan_call_missed(const plan_run& x, const pnode_t* n,
                                                      const cell_t* code, int32_t pos, int32_t end,
                                                      bool infix) {
    if (!infix && (plan::wordref_flags_of(n) & plan::REF_ANSWERS_PROBE) && op_at(code, pos))
        return plan_answer(x, n, code, pos, end);
    return plan_fallback(n, code, pos, end, infix);
}

}  // namespace

// The arguments after the first, whose node is a.
[[gnu::noinline]] int32_t plan_later_arguments(const plan_run& x, const pnode_t* a, cell_t* slot,
                                               int32_t count, call_summary_t summary,
                                               const cell_t* code, int32_t pos, int32_t end) {
    for (int32_t i = 1; i < count; i++) {
        a += plan::size_of(a);
        pos = plan_argument(x, a, slot, i, code, pos, end, false, false);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(summary, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, i);
    }
    return pos;
}

namespace {

// A body's set-word of LITERAL_LEAD at n, pos, not taken: the position
// on it, and the rest of the block on the interpreter's path.
[[gnu::noinline, gnu::cold]] cell_t* plan_lead_left(const plan_run& x, const pnode_t* n,
                                                    const cell_t* code, int32_t pos, int32_t end,
                                                    cell_t* base) {
    *x.where = *code;
    x.where->data1 = static_cast<uint32_t>(pos);
    pos = plan_fallback(n, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return nullptr;
    return plan_block_generic(code, pos, end, base);
}

}  // namespace

// The rest of a branch block after its one node ended before the block's
// end (a stamp moved while it ran): as run_planned goes on from there.
[[gnu::noinline]] cell_t* plan_branch_rest(const pnode_t* block, const cell_t* code, int32_t pos,
                                           int32_t end, cell_t* base) {
    end = live_end(code, end);
    if (pos >= end) return base;
    plan::count_fallback(block);
    return plan_block_generic(code, pos, end, base);
}

[[gnu::noinline]] cell_t* plan_branch_held(const plan_run& x, const pnode_t* block,
                                           const cell_t* code) {
    return plan_nested_run(x, block, code, plan_nested_position(x));
}

// run_function and run_self where the position names a block other than
// the caller's code: held as a root while the body runs (nothing else may
// hold that block).
[[gnu::noinline]] const cell_t* run_plain_held(const cell_t* fn, const pnode_t* p,
                                               const cell_t* body) {
    return run_function_body<true, false>(fn, p, body,
                                          nested_position(stack::interpreted_mark != 0));
}
[[gnu::noinline]] const cell_t* run_self_held(const plan_run& x, cell_t* slot) {
    return run_self_body<false>(x, slot, plan_nested_position(x));
}

// A call of a function that is not the plan's own or not plain: the
// general run, out of plan_call's lines.
[[gnu::noinline]] const cell_t* run_other_function(const cell_t* slot) {
    return run_function(slot);
}

// A call marked LIBRARY_CALL: run_function for a plain callee whose body
// is library code.
[[gnu::noinline]] const cell_t* run_library_function(const cell_t* slot) {
    return run_function<true, true>(slot);
}

// plan_call, apart for a recursive call (self) and any other: neither
// keeps the other's values in its registers.
template <bool self>
[[gnu::noinline]] int32_t plan_call_of(const plan_run& x, const pnode_t* n, const cell_t* code,
                                       int32_t pos, int32_t end, bool infix) {
    stack::tops_t caller = stack::tops();
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_call_missed(x, n, code, pos, end, infix);
    return plan_call_body<self>(x, n, code, pos, end, infix, caller, slot);
}

template int32_t plan_call_of<true>(const plan_run& x, const pnode_t* n, const cell_t* code,
                                    int32_t pos, int32_t end, bool infix);
template int32_t plan_call_of<false>(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix);

namespace {

// A call marked LEAF_PICK of a library function whose body picks from its
// argument (pick_helpers.h), given a block by a leaf with no operator after
// it: the cell the body's pick would reach, pushed where the callee would
// have been. Nothing the call would run can be seen: library code leaves
// the position alone, the pick of a block by an integer calls nothing and
// raises nothing, and the argument is checked against the callee's typeset
// as the call checks it. False, nothing done, for anything else, where a
// stack would be short of the room the call takes, and for a pick outside
// the block (the call's way answers it).
bool plan_call_pick(const plan_run& x, const pnode_t* n) {
    const cell_t* fn = plan_expected(n);
    if (fn == nullptr) [[unlikely]]
        return false;
    check_native_stack();
    // The callee's frame with its argument, then pick's with its two.
    if (stack::top_slot + 8 >= stack::end || stack::ctop + 2 >= stack::cend ||
        caller_tracing_request >= 0) [[unlikely]]
        return false;
    const pnode_t* a = plan::arguments_of(n);
    uint8_t kind = a->kind();
    const cell_t* arg = nullptr;
    if (kind == plan::K_LOCAL) arg = x.frame + plan::frame_slot(a);
    else if (kind == plan::K_LIT) arg = &a->value;
    else if (kind == plan::K_WORD) arg = peek_value(&a->value);
    if (arg == nullptr || type_of(arg) != TYPE_block) return false;
    const cell_t* more = alloc::buffer(fn->data3)->head_cell();
    if (type_of(more + 1) != TYPE_block ||
        !typeset::has_q(alloc::buffer(more[1].data2)->head_cell(), TYPE_block))
        return false;
    if (a->probe() && !no_op_probed(x, a, a)) return false;
    int32_t index = picked_index(fn, arg);
    if (index == 0) return false;
    const cell_t* r = actions::pick_inline(arg, index);
    if (r == &none_value) return false;
    plan::count(plan::C_RUN);
    *stack::top_slot++ = *r;
    return true;
}

// A call marked LEAF_BODY or LEAF_PICK: its short way, else the call's.
[[gnu::noinline]] int32_t plan_call_leaf_body(const plan_run& x, const pnode_t* n,
                                              const cell_t* code, int32_t pos, int32_t end,
                                              bool infix) {
    if ((plan::wordref_flags_of(n) & plan::LEAF_PICK) ? plan_call_pick(x, n) : plan_call_leaf(x, n))
        [[likely]]
        return pos + 1 + plan::argument_count(n);
    return plan_call_of<false>(x, n, code, pos, end, infix);
}

}  // namespace

// plan_call for a call that is not recursive: a test and a jump, out of the
// lines of the callers plan_call is inline in (there the test made the
// recursive call's path spill more).
[[gnu::noinline]] int32_t plan_call_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end, bool infix) {
    if (plan::wordref_flags_of(n) & (plan::LEAF_BODY | plan::LEAF_PICK))
        return plan_call_leaf_body(x, n, code, pos, end, infix);
    return plan_call_of<false>(x, n, code, pos, end, infix);
}

namespace {

// A native of two arguments that stands for a fast operation (FAST_NATIVE),
// its callee pushed at slot: its arguments' nodes run in line (a call
// dispatched straight), each checked as the interpreter's fetch does, then
// two integers computed in place as run_plain_entry computes them.
[[gnu::always_inline]] inline int32_t plan_native_fast(const plan_run& x, const pnode_t* n,
                                                       cell_t* slot, const cell_t* code,
                                                       int32_t pos, int32_t end) {
    // Every such operation's arguments take integer!: an integer needs no
    // typeset read.
    auto checked = [n, slot](int32_t i) {
        const cell_t* v = stack::top_slot - 1;
        if (type_of(v) != TYPE_integer &&
            check_needed(plan::callee_summary(plan::wordref_of(n)), v)) [[unlikely]]
            check_argument(slot, i);
    };
    // The first argument's node, the walk on it with the guards read.
    const pnode_t* a = plan::arguments_of(n);
    pos = a->kind() == plan::K_CALL ? plan_call(x, a, code, pos, end, false)
                                    : run_node(x, a, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    checked(0);
    a += plan::size_of(a);
    if (a->pos != pos || !plan_holds(x)) [[unlikely]]
        pos = fetch_normal(slot, 1, code, pos, end, false);
    else if (a->kind() == plan::K_CALL) pos = plan_call(x, a, code, pos, end, false);
    else pos = run_node(x, a, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    checked(1);
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    cell_t* left = stack::arguments;
    const cell_t* right = left + 1;
    if (type_of(left) == TYPE_integer && type_of(right) == TYPE_integer &&
        fast_integers(fast_op_of(type_of(slot), slot->data1), left, integer::get(left),
                      integer::get(right))) [[likely]]
        stack::top_slot = left + 1;
    else run_simple_entry(type_of(slot), slot, 2);
    return pos;
}

}  // namespace

// call_native with planned arguments.
[[gnu::noinline]] int32_t plan_native(const plan_run& x, const pnode_t* n, const cell_t* code,
                                      int32_t pos, int32_t end, bool infix) {
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_call_missed(x, n, code, pos, end, infix);
    if (plan::wordref_flags_of(n) & plan::FAST_NATIVE) {
        pos = plan_native_fast(x, n, slot, code, pos + 1, end);
        if (exits::pending) return pos;
        if (tracing) [[unlikely]]
            finish_resumed(slot, true, stack::arguments, code, pos);
        else finish_planned(slot);
        if (infix) return pos;
        return plan_lookahead(x, n, code, pos, end);
    }
    auto count = plan::argument_count(n);
    pos = plan_arguments(x, plan::arguments_of(n), slot, count,
                         plan::callee_summary(plan::wordref_of(n)), code, pos + 1, end);
    if (exits::pending) [[unlikely]]
        return pos;
    // A routine runs as eval_code runs one: its entry, no native's.
    uint8_t t = type_of(slot);
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    if (t == TYPE_routine) call_routine(slot);
    else run_simple_entry(t, slot, count);
    if (exits::pending) return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, true, stack::arguments, code, pos);
    else finish_planned(slot);
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

namespace {

template <bool path = false>
[[gnu::always_inline]] inline int32_t plan_paren_call_of(const plan_run& x, const pnode_t* n,
                                                         const cell_t* code, int32_t pos,
                                                         int32_t end, bool infix);
template <bool paths = false>
[[gnu::always_inline]] inline int32_t plan_paren_inline(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool infix);
[[gnu::always_inline]] inline int32_t plan_paren_call(const plan_run& x, const pnode_t* n,
                                                      const cell_t* code, int32_t pos, int32_t end,
                                                      bool infix);

int32_t plan_paren_operand(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                           int32_t end);

// call_infix with a planned right operand, its callee and left operand
// pushed at slot (the top above them). f: the operation the operator
// stands for on the fast paths. Every such operation's arguments take
// integer!, so an integer operand needs no typeset read, and two integers
// are computed in place as run_simple_entry computes them.
[[gnu::always_inline]] inline int32_t plan_call_infix(const plan_run& x, const pnode_t* r,
                                                      cell_t* slot, const pnode_t* ref, fast_op f,
                                                      const cell_t* code, int32_t pos,
                                                      int32_t end) {
    // The header made by the builder (a plan runs for user code: the
    // interpreted mark is set).
    plan_mark(ref, slot);
    // The callee's call summary as far as the checks read it (the builder
    // kept its one bit they test), read where it is needed: computed ahead,
    // it lives across the right operand.
    auto checks = [ref] {
        return call_summary::simple(2, 0, (ref->flags & plan::OPERATOR_ANY_TYPES) != 0, false,
                                    false);
    };
    cell_t* left = slot + 1;
    bool integers = f != FAST_NONE && type_of(left) == TYPE_integer;
    if (!integers && check_needed(checks(), left)) {
        node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
        check_arg(slot, 0, alloc::buffer(cache)->head_cell(), left);
    }
    // The right operand's node starts right after the operator's, whose
    // position and guards its caller read: pushing the callee, its left
    // operand and the frame ran nothing.
    // A call or a paren, the right operands of most called operators, is
    // dispatched straight: run_node's kind chain tests the leaves first.
    if (r->kind() == plan::K_CALL) pos = plan_call(x, r, code, pos, end, true);
    else if (r->kind() == plan::K_PAREN && (r->flags & plan::PAREN_CALL))
        pos = plan_paren_call(x, r, code, pos, end, true);
    else if (r->kind() == plan::K_PAREN) pos = plan_paren_operand(x, r, code, pos, end);
    else if (r->kind() == plan::K_FIELDCALL) pos = plan_field_call(x, r, code, pos, end, true);
    else pos = plan_argument(x, r, slot, 1, code, pos, end, true, true);
    if (exits::pending) [[unlikely]]
        return pos;
    const cell_t* right = stack::top_slot - 1;
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    // An addition, the commonest, is tested before the operations' table.
    if (!integers || type_of(right) != TYPE_integer ||
        !((f == FAST_ADD ? fast_integers(FAST_ADD, left, integer::get(left), integer::get(right))
                         : fast_integers(f, left, integer::get(left), integer::get(right))) ||
          fast_compute(f, left, right))) {
        if (check_needed(checks(), right)) check_argument(slot, 1);
        run_simple_entry(type_of(slot), slot, 2);
        if (exits::pending) return pos;
    }
    if (tracing) [[unlikely]]
        finish_resumed(slot, true, stack::arguments, code, pos);
    else finish_planned(slot);
    return pos;
}

// A paren as an operator's right operand: no lookahead after it.
[[gnu::noinline]] int32_t plan_paren_operand(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end) {
    return plan_paren_inline(x, n, code, pos, end, true);
}

// A called operator's step (its K_OP at s) whose right operand is a paren
// of one leaf (r), when both operands are integers its fast operation
// computes: the result in the left operand's cell, the position as the
// paren's run gives it back. Nothing could see the operator's frame or the
// paren's cell: the room they take is checked instead, so a full stack
// raises where the operator's own path would. False, having changed
// nothing, otherwise.
[[gnu::always_inline]] inline bool plan_quiet_operator(const plan_run& x, const pnode_t* s,
                                                       const pnode_t* r) {
    auto f = static_cast<fast_op>(plan::operator_operation(plan::wordref_of(s)));
    cell_t* l = stack::top_slot - 1;
    const pnode_t* block = plan::block_of(x.head, r);
    if (f == FAST_NONE || type_of(l) != TYPE_integer || !(block->flags & plan::ONE_LEAF))
        return false;
    const cell_t* right = plan_leaf(x, plan::statements_of(block));
    // The callee's cell, the paren's and its value above the left operand.
    if (right == nullptr || type_of(right) != TYPE_integer || l + 4 >= stack::end ||
        stack::ctop >= stack::cend)
        return false;
    check_native_stack();
    if (!fast_integers(f, l, integer::get(l), integer::get(right))) return false;
    return true;
}

}  // namespace

// An operator chain: the left operand, then each step as the lookahead
// takes it (infix_loop); a step off the plan hands the rest of the chain to
// infix_loop.
[[gnu::noinline]] int32_t plan_infix(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end) {
    if ((n->flags & plan::QUIET_CHAIN) && plan_quiet_chain(x, n, code, stack::top_slot)) {
        stack::top_slot++;
        return n->end;
    }
    const pnode_t* left = plan::infix_left(n);
    if (left->kind() == plan::K_LIT) check_native_stack();  // as eval_expression does
    // A paren on the left, as in (f a) + ..., runs here: one C++ frame less.
    if (left->kind() == plan::K_PAREN) pos = plan_paren_inline<true>(x, left, code, pos, end, true);
    else pos = run_node(x, left, code, pos, end, true);
    if (exits::pending) [[unlikely]]
        return pos;
    const pnode_t* s = left + plan::size_of(left);
    // A chain has one step at least; the next step's node is found only when
    // there is one.
    for (uint32_t k = plan::step_count(n);;) {
        if (s->pos != pos || !plan_holds(x)) [[unlikely]]
            return plan_infix_generic(code, pos, end);
        const cell_t* v = plan_expected(s);
        if (v == nullptr) [[unlikely]] {
            plan::count_fallback(s);
            return plan_infix_generic(code, pos, end);
        }
        const pnode_t* r = plan::op_right(s);
        if (plan::fast_operation(s) != FAST_NONE) {
            const cell_t* right = &r->value;
            if (r->kind() == plan::K_LOCAL) right = x.frame + plan::frame_slot(r);
            else if (r->kind() == plan::K_WORD) right = peek_value(&r->value);
            else if (r->kind() == plan::K_PATH) right = plan_path_operand(r);
            cell_t* l = stack::top_slot - 1;
            auto f = static_cast<fast_op>(plan::fast_operation(s));
            bool integers = right != nullptr && type_of(l) == TYPE_integer &&
                            type_of(right) == TYPE_integer &&
                            fast_integers(f, l, integer::get(l), integer::get(right));
            if (!integers && (right == nullptr || !fast_compute(f, l, right))) [[unlikely]] {
                plan::count_fallback(s);
                return plan_infix_generic(code, pos, end);
            }
            pos = s->end;
        } else if (r->kind() == plan::K_PAREN && plan_quiet_operator(x, s, r)) {
            pos = r->pos + 1;
        } else {
            // The callee under its left operand: the operator's native or
            // action, its header made by the builder. The builder saw its
            // call summary simple, of two arguments, which the same cell
            // keeps.
            cell_t* l = stack::push_slot() - 1;
            l[1] = l[0];
            l[0] = *v;
            l[0].header = static_cast<uint32_t>(s->end);
            pos =
                plan_call_infix(x, r, l, plan::wordref_of(s),
                                static_cast<fast_op>(plan::operator_operation(plan::wordref_of(s))),
                                code, pos + 1, end);
            if (exits::pending) return pos;
        }
        if (--k == 0) break;
        s = r + plan::size_of(r);
    }
    if (pos != n->end || !plan_holds(x)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    if (n->probe() && op_after(x, n, code, pos)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    return pos;
}

namespace {

// eval_paren with a planned paren. paths: a paren of a call through a path
// (PAREN_PATH_CALL) runs its call straight too.
template <bool paths>
[[gnu::always_inline]] inline int32_t plan_paren_inline(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool infix) {
    if (n->flags & plan::PAREN_CALL) return plan_paren_call(x, n, code, pos, end, infix);
    check_native_stack();
    const pnode_t* block = plan::block_of(x.head, n);
    cell_t* held = stack::top_slot;
    // A paren of one plain leaf: its value where the paren's cell would ride,
    // nothing run, once the room that run takes (the cell and the value) is
    // seen to be there.
    const cell_t* value = plan_leaf_value(x, block);
    if (value != nullptr && held + 2 < stack::end) {
        *held = *value;
    } else {
        // Tested where no leaf was found, so that a paren of a leaf or a
        // call does not pay for it.
        if (paths && (n->flags & plan::PAREN_PATH_CALL))
            return plan_paren_call_of<true>(x, n, code, pos, end, infix);
        held = stack::push(&n->value);
        cell_t* r = plan_branch(x, block, held, code);
        if (r == nullptr) [[unlikely]]
            return pos;
        *held = *r;
    }
    stack::top_slot = held + 1;
    return infix ? pos + 1 : plan_lookahead(x, n, code, pos + 1, end);
}

// A paren of one call (PAREN_CALL, PAREN_PATH_CALL: path):
// plan_paren_inline's run of it, the call's node run straight, with no walk
// through the kinds or the block's shape. held: the paren's cell, pushed.
template <bool path = false, class Kept>
[[gnu::always_inline]] inline int32_t
plan_paren_call_run(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                    int32_t end, bool infix, cell_t* held, const Kept& kept) {
    const pnode_t* block = plan::block_of(x.head, n);
    int32_t at = block->pos;
    *x.where = *held;
    x.where->data1 = static_cast<uint32_t>(at);
    cell_t* base = held + 1;
    const pnode_t* call = plan::statements_of(block);
    at = path ? plan_path_call(x, call, held, at, block->end, false)
              : plan_call(x, call, held, at, block->end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    if (at < block->end) [[unlikely]] {
        base = plan_branch_rest(block, held, at, block->end, base);
        if (base == nullptr) return pos;
    }
    kept.restore();
    *held = *base;
    stack::top_slot = held + 1;
    return infix ? pos + 1 : plan_lookahead(x, n, code, pos + 1, end);
}
template <bool path = false>
[[gnu::noinline]] int32_t plan_paren_call_held(const plan_run& x, const pnode_t* n,
                                               const cell_t* code, int32_t pos, int32_t end,
                                               bool infix, cell_t* held) {
    return plan_paren_call_run<path>(x, n, code, pos, end, infix, held, plan_nested_position(x));
}
template <bool path>
[[gnu::always_inline]] inline int32_t plan_paren_call_of(const plan_run& x, const pnode_t* n,
                                                         const cell_t* code, int32_t pos,
                                                         int32_t end, bool infix) {
    check_native_stack();
    cell_t* held = stack::push(&n->value);
    plan_kept_position kept(x);
    if (kept.foreign(code)) [[unlikely]]
        return plan_paren_call_held<path>(x, n, code, pos, end, infix, held);
    return plan_paren_call_run<path>(x, n, code, pos, end, infix, held, kept);
}
[[gnu::always_inline]] inline int32_t plan_paren_call(const plan_run& x, const pnode_t* n,
                                                      const cell_t* code, int32_t pos, int32_t end,
                                                      bool infix) {
    return plan_paren_call_of<false>(x, n, code, pos, end, infix);
}

}  // namespace

[[gnu::noinline]] int32_t plan_paren(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix) {
    return plan_paren_inline(x, n, code, pos, end, infix);
}

// A function's body of LITERAL_LEAD (the guards read): its set-words of
// literals stored as the block loop stores a run of them (nothing pushed,
// nothing run, so the position is stored once, at the last expression),
// then that expression run as a block of one expression runs it. A
// set-word the quiet store does not take (no room, an operator after its
// value) sends the rest of the block to the interpreter's path.
[[gnu::noinline]] cell_t* plan_lead_body(const plan_run& x, const pnode_t* block,
                                         const cell_t* code) {
    if (plan::verify) [[unlikely]]
        plan::verify_block(x.head, block, code);
    const pnode_t* n = plan::statements_of(block);
    int32_t pos = block->pos;
    int32_t end = block->end;
    cell_t* base = stack::top_slot;
    if (native_stack_low()) [[unlikely]] {
        // The position the block loop holds when it checks.
        *x.where = *code;
        x.where->data1 = static_cast<uint32_t>(pos);
        native_stack_exceeded();
    }
    // plan_set_literal's tests, the room once: nothing is pushed before
    // the last expression.
    if (stack::top_slot + 2 >= stack::end || stack::ctop >= stack::cend) [[unlikely]]
        return plan_lead_left(x, n, code, pos, end, base);
    do {
        const pnode_t* v = plan::set_value(n);
        if (v->probe() && op_probed(x, v, v, code, v->pos + 1)) [[unlikely]]
            return plan_lead_left(x, n, code, pos, end, base);
        x.frame[n->value.data3] = v->value;
        pos = n->end;
        n += 2;
    } while ((n->flags & plan::SET_LITERAL) && n->end < end);
    return plan_last_run<true>(x, block, n, code, pos, end, base);
}

// The value at top, computed with nothing run, stored by the set-word n as
// plan_quiet_set stores it.
[[gnu::noinline]] bool plan_quiet_stored(const plan_run& x, const pnode_t* n, cell_t* top) {
    cell_t* slot = plan_set_slot(x, n);
    if (slot == nullptr) [[unlikely]]
        return false;
    *slot = *top;
    stack::top_slot = top + 1;
    return true;
}

// A set-word and return: the code of eval_set_word and eval_return with
// planned contents.
[[gnu::noinline]] int32_t plan_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix) {
    switch (n->kind()) {
    case plan::K_SET: {
        check_native_stack();
        if (plan_quiet_set(x, n, code)) return n->end;
        return plan_set_framed(x, n, code, pos, end);
    }
    case plan::K_RETURN: {
        // eval_return with a planned argument.
        const cell_t* v = plan_expected(n);
        if (v == nullptr) [[unlikely]]
            return plan_fallback(n, code, pos, end, infix);
        cell_t* slot = stack::push(v);
        plan_mark(plan::wordref_of(n), slot);
        pos = plan_argument(x, plan::arguments_of(n), slot, 0, code, pos + 1, end, false, true);
        if (exits::pending) [[unlikely]]
            return pos;
        return_fetched(slot, plan::callee_summary(plan::wordref_of(n)));
        return pos;
    }
    case plan::K_PATH: return plan_path(x, n, code, pos, end, infix);
    case plan::K_SETPATH: return plan_set_path(x, n, code, pos, end);
    default: return plan_fallback(n, code, pos, end, infix);
    }
}

namespace {

// The end of left op right off the lane, its operands read and plain and
// its operator the one expected: computed in place or by the operator loop.
int32_t plan_simple_infix_compute(const plan_run& x, const pnode_t* n, const cell_t* left,
                                  const cell_t* right, const cell_t* code, int32_t end) {
    const pnode_t* s = plan::lane_op(n);
    stack::push(left);
    if (!fast_compute(static_cast<fast_op>(plan::fast_operation(s)), stack::top_slot - 1, right))
        [[unlikely]] {
        plan::count_fallback(s);
        return plan_infix_generic(code, s->pos, end);
    }
    int32_t pos = n->end;
    if (n->probe() && op_after(x, n, code, pos)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    return pos;
}

}  // namespace

// left op right with two leaves and an operator computed in place, as
// eval_operand and infix_loop take it. Nothing runs between reading the
// operands and computing, so the guards are read before the push.
[[gnu::noinline]] int32_t plan_simple_infix_rest(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* s = plan::lane_op(n);
    if (plan::lane_left(n)->kind() == plan::K_LIT) check_native_stack();  // as eval_expression does
    const cell_t* left = plan_leaf(x, plan::lane_left(n));
    const cell_t* op = plan_expected(s);
    const cell_t* right = plan_leaf(x, plan::lane_right(n));
    if (left == nullptr || !plain_value_q(type_of(left)) || right == nullptr || op == nullptr)
        [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    return plan_simple_infix_compute(x, n, left, right, code, end);
}

// The lane's operands when they are not integers both (or their sum,
// difference or product does not fit): as plan_simple_infix_rest goes on
// from reading them.
[[gnu::noinline]] int32_t plan_simple_infix_other(const plan_run& x, const pnode_t* n,
                                                  const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* s = plan::lane_op(n);
    const cell_t* left = plan_lane_operand(x, plan::lane_left(n), n->value.data1 >> 2);
    const cell_t* right = plan_lane_operand(x, plan::lane_right(n), n->value.data1);
    if ((plan::lane_left(n)->flags & plan::ANSWERS_PROBE) && type_of(left) == TYPE_op) [[unlikely]]
        return plan_answer(x, n, code, pos, end);
    if (!plain_value_q(type_of(left)) || plan_expected(s) == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    return plan_simple_infix_compute(x, n, left, right, code, end);
}

// left op (leaf), the step a called operator (INFIX_PAREN): plan_infix's
// run of it when both operands are integers its fast operation computes, as
// plan_quiet_operator takes it, with no walk through the chain: the result
// pushed, the position as the paren's run gives it back. The room the
// operator's frame, its callee's cell and the paren's run take is checked
// first, so a full stack raises on plan_infix's path as it would there.
// Anything else goes to plan_infix, nothing having changed. (It does not
// say it computed, as plan_simple_infix does: a flag whose address leaves
// the inlined lanes would live in memory in each of them.)
[[gnu::noinline]] int32_t plan_paren_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end) {
    const pnode_t* block = plan::block_of(x.head, plan::lane_right(n));
    const cell_t* left = plan_leaf(x, plan::lane_left(n));
    const cell_t* right = plan_leaf(x, plan::statements_of(block));
    cell_t* top = stack::top_slot;
    if (left == nullptr || right == nullptr || type_of(left) != TYPE_integer ||
        type_of(right) != TYPE_integer || top + 4 >= stack::end || stack::ctop >= stack::cend ||
        plan_expected(plan::lane_op(n)) == nullptr) [[unlikely]]
        return plan_infix(x, n, code, pos, end);
    // The paren's own check, which also stands for a literal left operand's.
    check_native_stack();
    *top = *left;
    if (!fast_integers(static_cast<fast_op>(n->value.data2), top, integer::get(left),
                       integer::get(right))) [[unlikely]]
        return plan_infix(x, n, code, pos, end);
    stack::top_slot = top + 1;
    pos = n->end;
    if (n->probe()) {
        bool op = (n->flags & plan::PROBE_LOCAL)
                      ? type_of(reinterpret_cast<const cell_t*>(
                            reinterpret_cast<const char*>(x.frame) + n->value.data3)) == TYPE_op
                      : op_probed(x, n, plan::wordref_of(plan::lane_op(n)), code, pos);
        if (op) [[unlikely]]
            return plan_infix_generic(code, pos, end);
    }
    return pos;
}

namespace {

// A literal, a word of the function's own context or a paren of one plain
// leaf as a statement of a block, taken when it is all the statement is: a
// plain value with no operator after it (the word probed after it reads as
// run_node's probe does). Pushed only when kept, as the block's last
// statement: no later statement reads the others' values. False, having
// pushed nothing, for anything else.
[[gnu::always_inline]] inline bool plan_quiet_leaf(const plan_run& x, const pnode_t* n,
                                                   const cell_t* code, int32_t pos, bool keep) {
    uint8_t kind = n->kind();
    const cell_t* v;
    if (kind == plan::K_LOCAL) {
        v = x.frame + plan::frame_slot(n);
        if (!plain_value_q(type_of(v))) return false;
    } else if (kind == plan::K_LIT) {
        v = &n->value;
    } else if (kind == plan::K_PAREN) {
        // As plan_paren_inline takes it, the room the paren's run takes seen
        // to be there.
        const pnode_t* block = plan::block_of(x.head, n);
        v = plan_leaf_value(x, block);
        if (v == nullptr || stack::top_slot + 2 >= stack::end) return false;
        if (n->probe() && op_probed(x, n, n, code, pos + 1)) return false;
        check_native_stack();
        if (keep) *stack::top_slot++ = *v;
        return true;
    } else {
        return false;
    }
    if (n->probe()) {
        if (op_probed(x, n, n, code, pos + 1)) return false;
        // eval_operand hands a literal with a word after it to
        // eval_expression, which checks the depth.
        if (kind == plan::K_LIT) check_native_stack();
    }
    if (keep) stack::push(v);
    return true;
}

}  // namespace

// Statements that are leaves taken with nothing run (plan_quiet_leaf), from
// n on, each followed by the next statement's node at the next position:
// the node of the first that is not, or nullptr once the block's last
// statement was one, its value pushed. Out of line, where its loop keeps
// its few values in registers.
[[gnu::noinline]] const pnode_t* plan_quiet_run(const plan_run& x, const pnode_t* n,
                                                const cell_t* code, int32_t end) {
    for (int32_t pos = n->pos;; pos++, n++) {
        bool last = pos + 1 >= end;
        if (!plan_quiet_leaf(x, n, code, pos, last)) return n;
        if (last) return nullptr;
        x.where->data1 = static_cast<uint32_t>(pos + 1);
    }
}

namespace {

// The plan of a library function's body, run from code of either origin:
// as run_in_place<true> runs the body, with the calls mark and the tracing
// state of library code while it runs. Its position is a cell of its own
// (plan_run::where): the user code's stays where that code left it.
[[gnu::noinline]] cell_t* run_library_plan(const pnode_t* head, const cell_t* body) {
    auto run = [head, body] {
        plan::count(plan::C_RUN);
        if (plan::verify) [[unlikely]]
            plan::verify_plan(head);
        plan_start x(head, stack::arguments, &library_position);
        // run_function found nothing traced, and the calls mark changed
        // nothing the guard byte holds.
        return run_planned(x, plan::body_of(head), body, true, &library_position);
    };
    if (origin_fits(true)) return run();
    code_origin origin(true);
    return run();
}

}  // namespace

// A plan run_planned_body does not run inline: a library function's, or a
// user function's called from library code (which the interpreter runs).
[[gnu::noinline]] cell_t* run_planned_elsewhere(const pnode_t* head, const cell_t* body) {
    const pnode_t* block = plan::body_of(head);
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        !(head->flags & plan::LIBRARY_PLAN)) [[unlikely]]
        return run_in_place<true>(body);
    return run_library_plan(head, body);
}

}  // namespace zuv::interpreter
