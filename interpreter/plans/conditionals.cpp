// The runner's planned `if` and `either`: a condition and branches run
// from their nodes, and the quiet ways of a condition that runs nothing.

#include "interpreter/plans/runner.h"

namespace zuv::interpreter {

namespace {

// The branches of a planned conditional past its condition, when they do
// not all take the planned way (the walk is off them, a guard moved, the
// stack is full, an operator follows the last): pushed as the plan has them
// while it can, the rest fetched as call_conditional does.
[[gnu::noinline]] int32_t conditional_rest(const plan_run& x, const pnode_t* n, cell_t* slot,
                                           const cell_t* code, int32_t pos, int32_t end,
                                           bool infix) {
    call_summary_t summary = plan::callee_summary(plan::wordref_of(n));
    auto count = call_summary::args(summary);
    const pnode_t* condition = plan::condition_of(n);
    const pnode_t* branches = condition + plan::size_of(condition);
    int32_t i = 1;
    if (branches->pos == pos && plan_holds(x)) {
        for (; i < count; i++) {
            const pnode_t* b = branches + i - 1;
            if (b->probe() && op_probed(x, b, b, code, pos + 1)) break;
            stack::push(&b->value);
            pos++;
        }
    }
    bool planned = i == count;
    pos = fetch_branches(slot, i, count, summary, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    if (planned) {
        cell_t* args = stack::arguments;
        int32_t k = conditional_branch(plan::native_slot(n) == EITHER_INDEX, args);
        if (k < 0) {
            args->header = TYPE_none;
            stack::top_slot = args + 1;
        } else {
            plan_nested_position kept(x);
            cell_t* r =
                run_planned(x, plan::block_of(x.head, branches + k), args + 1 + k, true, x.where);
            if (r == nullptr) return pos;
            kept.restore();
            *stack::arguments = *r;
            stack::top_slot = stack::arguments + 1;
        }
    } else {
        run_simple_entry(TYPE_native, slot, count);
    }
    if (exits::pending) return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, true, stack::arguments, code, pos);
    else finish_planned(slot);
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

// Where the walk goes on after a planned conditional, its value on top.
// probed: the last branch when nothing ran since its probe, which read the
// same word as the lookahead's (and found no operator there).
[[gnu::always_inline]] inline int32_t conditional_next(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t end, bool infix,
                                                       const pnode_t* probed) {
    if (infix || (probed != nullptr && (!n->probe() || probed->probe()))) return n->end;
    return plan_lookahead(x, n, code, n->end, end);
}

// The value of a planned conditional into the callee's slot (the cell under
// the frame's arguments), as finish_planned leaves it, then the lookahead.
// probed: the last branch when nothing ran since its probe, which read the
// same word as the lookahead's (and found no operator there).
[[gnu::always_inline]] inline int32_t conditional_value(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t end, bool infix,
                                                        cell_t* slot, const cell_t* value,
                                                        const pnode_t* probed) {
    *slot = *value;
    call_frame_t* f = --stack::ctop;
    stack::arguments = stack::cell_at(f->prev);
    stack::top_slot = slot + 1;
    return conditional_next(x, n, code, end, infix, probed);
}

// conditional_value for the branch r that ran, when it switched tracing on
// (`if true [trace true]`): with the return event the interpreter's call
// fires there.
[[gnu::cold, gnu::noinline]] int32_t traced_branch_value(const plan_run& x, const pnode_t* n,
                                                         const cell_t* code, int32_t end,
                                                         bool infix, const cell_t* r) {
    finish_resumed(stack::arguments - 1, true, r, code, n->end);
    return conditional_next(x, n, code, end, infix, nullptr);
}

[[gnu::always_inline]] inline int32_t branch_value(const plan_run& x, const pnode_t* n,
                                                   const cell_t* code, int32_t end, bool infix,
                                                   const cell_t* r) {
    if (tracing) [[unlikely]]
        return traced_branch_value(x, n, code, end, infix, r);
    return conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
}

// The value of a conditional that takes branch k of those from first on
// (branch_taken) into slot, when it needs nothing run: none for `if` on a
// false condition, else the branch's one plain value. False when the branch
// has to run.
[[gnu::always_inline]] inline bool quiet_value(const plan_run& x, const pnode_t* first, int32_t k,
                                               cell_t* slot, const cell_t* condition) {
    if (k < 0) {
        *slot = *condition;
        slot->header = TYPE_none;
    } else if (const cell_t* value = plan_leaf_value(x, plan::block_of(x.head, first + k)))
        [[likely]] {
        *slot = *value;
    } else {
        return false;
    }
    stack::top_slot = slot + 1;
    return true;
}

// A conditional marked BODY_RETURN that takes branch (its block given),
// when that is `return leaf` with the leaf holding a plain value that needs
// no check: the body ends with that value in the conditional's slot, the
// position left where the return's exit leaves it (the branch at its head),
// and the walk given the body's end. Nothing could see the conditional's
// and return's frames between their marking and the exit that pops them:
// the room they take is checked instead, and that the frame under them is
// the function's, which the exit lands on. False, nothing changed, for
// anything else.
[[gnu::always_inline]] inline bool plan_body_return(const plan_run& x, const pnode_t* branch,
                                                    const pnode_t* block, cell_t* slot) {
    const pnode_t* r = plan::statements_of(block);
    // The builder saw one branch of that shape; the other may be any.
    const pnode_t* argument = plan::arguments_of(r);
    uint8_t k = argument->kind();
    if (r->kind() != plan::K_RETURN ||
        (k != plan::K_LOCAL && k != plan::K_WORD && k != plan::K_LIT) || argument->probe() ||
        plan_expected(r) == nullptr)
        return false;
    const cell_t* v = plan_leaf(x, argument);
    if (v == nullptr || !plain_value_q(type_of(v)) ||
        check_needed(plan::callee_summary(plan::wordref_of(r)), v) || slot + 8 >= stack::end ||
        stack::ctop + 2 >= stack::cend || !(stack::ctop[-1].header & frame::EXIT_TARGET))
        return false;
    *x.where = branch->value;
    x.where->data1 = static_cast<uint32_t>(block->pos);
    *slot = *v;
    stack::top_slot = slot + 1;
    return true;
}

// plan_conditional when its condition is two integers the operators' lane
// computes: it runs nothing and can raise nothing. The condition is then
// taken before the conditional's frame is marked, into the cell that frame
// takes as its first argument, and a branch of one plain value is taken
// with no frame at all: nothing could see that frame between its marking
// and its end. The room the frame and its arguments take is checked first,
// so a full stack still raises where the conditional's own path would.
// False, having changed nothing anybody reads, when the condition is not of
// that kind now. (A leaf condition: conditional_leaf.)
[[gnu::always_inline]] inline bool conditional_quiet(const plan_run& x, const pnode_t* n,
                                                     const cell_t* code, int32_t end, bool infix,
                                                     int32_t* next) {
    const pnode_t* c = plan::condition_of(n);
    cell_t* slot = stack::top_slot;
    if (slot + 5 >= stack::end || stack::ctop >= stack::cend) [[unlikely]]
        return false;
    const cell_t* v = plan_expected(n);
    if (v == nullptr) [[unlikely]]
        return false;
    check_native_stack();
    cell_t* args = slot + 1;
    bool truthy;
    // A local compared with a literal, the common condition, read with no
    // test of the sources.
    uint32_t sources = c->value.data1;
    // (Read before its kind is known: the raw aux.)
    const cell_t* left = x.frame + plan::lane_left(c)->aux;
    const cell_t* right = &plan::lane_right(c)->value;
    if (sources != (plan::INFIX_LANE | plan::INFIX_RIGHT_LITERAL)) {
        left = plan_lane_operand(x, plan::lane_left(c), sources >> 2);
        right = plan_lane_operand(x, plan::lane_right(c), sources);
    }
    if (type_of(left) != TYPE_integer || type_of(right) != TYPE_integer ||
        plan_expected(plan::lane_op(c)) == nullptr) [[unlikely]]
        return false;
    *args = *left;
    if (!fast_integers(static_cast<fast_op>(c->value.data2), args, integer::get(left),
                       integer::get(right), &truthy)) [[unlikely]]
        return false;
    const pnode_t* first = plan::lane_end(c);
    bool either = plan::native_slot(n) == EITHER_INDEX;
    const pnode_t* last = first + (either ? 1 : 0);
    if (last->probe() && !(plan::wordref_flags_of(n) & plan::OWN_WORD_AFTER) &&
        op_probed(x, last, last, code, last->end)) [[unlikely]]
        return false;
    int32_t k = branch_taken(either, truthy);
    if (quiet_value(x, first, k, slot, args)) [[likely]] {
        *next = conditional_next(x, n, code, end, infix, last);
        return true;
    }
    const pnode_t* block = plan::block_of(x.head, first + k);
    if ((plan::wordref_flags_of(n) & plan::BODY_RETURN) &&
        plan_body_return(x, first + k, block, slot)) {
        *next = end;
        return true;
    }
    *slot = *v;
    plan_mark(plan::wordref_of(n), slot);
    args[1] = first->value;
    args[2] = last->value;
    stack::top_slot = args + (either ? 3 : 2);
    cell_t* r = plan_branch(x, block, args + 1 + k, code);
    *next = r == nullptr ? n->end : branch_value(x, n, code, end, infix, r);
    return true;
}

}  // namespace

// call_conditional with a planned condition and branches. The builder made
// `if` two arguments and `either` three, the branches blocks that only the
// last may have a word after (the others have a block after them).
[[gnu::noinline]] int32_t conditional_called(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end,
                                             bool infix) {
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, infix);
    call_summary_t summary = plan::callee_summary(plan::wordref_of(n));
    // The condition's node, the walk on it with the guards read.
    bool computed = false;
    pos = plan_computing(x, plan::condition_of(n), code, pos + 1, end, &computed);
    if (!computed) {
        if (exits::pending) [[unlikely]]
            return pos;
        if (!call_summary::first_any_q(summary) || seldom_q(stack::top_slot - 1))
            check_argument(slot, 0);
    } else if (!call_summary::first_any_q(summary)) {
        check_argument(slot, 0);
    }
    // The branches as the plan has them, while the walk is on the first:
    // pushing them runs nothing, so the guards read once serve them all.
    // The last branch ends the conditional's nodes.
    bool either = plan::native_slot(n) == EITHER_INDEX;
    const pnode_t* last = n + n->aux - 1;
    const pnode_t* first = last - (either ? 1 : 0);
    cell_t* top = stack::top_slot;
    // A condition the lane computed ran nothing: the walk is where the
    // builder put the first branch, under the guards read before it.
    if ((!computed && (first->pos != pos || !plan_holds(x))) || top + 3 >= stack::end ||
        (last->probe() && op_probed(x, last, last, code, last->end))) [[unlikely]]
        return conditional_rest(x, n, slot, code, pos, end, infix);
    // With one branch the second write lands above the top, unused.
    top[0] = first->value;
    top[1] = last->value;
    stack::top_slot = top + (either ? 2 : 1);
    cell_t* args = slot + 1;
    int32_t k = conditional_branch(either, args);
    if (k < 0) {
        args->header = TYPE_none;
        return conditional_value(x, n, code, end, infix, slot, args, last);
    }
    const pnode_t* block = plan::block_of(x.head, first + k);
    const cell_t* branch_code = args + 1 + k;
    // A branch of one value: run_node's leaf, its push and the result's
    // copy made one, nothing run (the stack's room checked above).
    if (const cell_t* value = plan_leaf_value(x, block)) [[likely]] {
        return conditional_value(x, n, code, end, infix, slot, value, last);
    }
    cell_t* r = plan_branch(x, block, branch_code, code);
    if (r == nullptr) [[unlikely]]
        return n->end;
    return branch_value(x, n, code, end, infix, r);
}

// A planned conditional whose condition is a leaf (a literal or a word)
// holding a plain value, taken as conditional_quiet takes a lane's, by a
// routine that calls none and takes two values, so that it saves almost no
// registers: what needs a call is left to its caller (quiet_t), and so is a
// native stack past its limit or a probe of a word with no entry (the
// conditional's own path raises or reads there). It does not know whether
// the conditional is an operand, which needs no lookahead after it.
[[gnu::noinline]] int32_t conditional_leaf(const plan_run& x, const pnode_t* n) {
    const pnode_t* c = plan::condition_of(n);
    if (stack::top_slot + 5 >= stack::end || stack::ctop >= stack::cend ||
        plan_expected(n) == nullptr || native_stack_low()) [[unlikely]]
        return QUIET_NOT;
    const pnode_t* first = plan::leaf_condition_branches(n);
    // The last branch ends the conditional's nodes; `if` has one.
    const pnode_t* last = n + n->aux - 1;
    bool either = last != first;
    // The last branch's probe reads the word the lookahead reads.
    int32_t done = QUIET_END;
    if (plan::wordref_flags_of(n) & plan::OWN_WORD_AFTER) {
        // The check of the conditional's own word read the probe's.
    } else if (!last->probe()) {
        if (n->probe()) done = QUIET_LOOKAHEAD;
    } else {
        // op_probed, but for the look-up of a word with no entry.
        uint32_t small = plan::probe_slot(last);
        const cell_t* v;
        if (last->flags & plan::PROBE_LOCAL) v = x.frame + small;
        else if (small != 0) [[likely]] v = plan_global(x.head + small);
        else return QUIET_NOT;
        if (type_of(v) == TYPE_op) [[unlikely]]
            return QUIET_NOT;
    }
    // A seldom type has its typeset read (and an unset is an error); a
    // logic!, the common condition, needs no test of the masks.
    const cell_t* condition = plan_leaf(x, c);
    if (condition == nullptr) [[unlikely]]
        return QUIET_NOT;
    uint8_t t = type_of(condition);
    if (t != TYPE_logic && (((NOT_PLAIN | SELDOM_TYPES) >> (t & 63)) & 1)) [[unlikely]]
        return QUIET_NOT;
    int32_t k = branch_taken(either, logic::truthy(condition));
    cell_t* slot = stack::top_slot;
    if (quiet_value(x, first, k, slot, condition)) [[likely]]
        return done;
    slot[1] = *condition;
    return QUIET_BRANCH + k;
}

// What conditional_leaf left to do (quiet_t), but for QUIET_END. The walk
// stands at the conditional's position (a node runs only there).
[[gnu::noinline]] int32_t conditional_after(const plan_run& x, const pnode_t* n, const cell_t* code,
                                            int32_t end, bool infix, int32_t quiet) {
    if (quiet == QUIET_LOOKAHEAD) return plan_lookahead(x, n, code, n->end, end);
    if (quiet == QUIET_NOT) [[unlikely]]
        return conditional_called(x, n, code, n->pos, end, infix);
    // A branch that is not one plain value: the frame marked over the
    // condition and the branches as the conditional's own path leaves it,
    // then the branch run.
    int32_t k = quiet - QUIET_BRANCH;
    cell_t* slot = stack::top_slot;
    cell_t* args = slot + 1;
    bool either = plan::native_slot(n) == EITHER_INDEX;
    const pnode_t* first = plan::leaf_condition_branches(n);
    const pnode_t* last = first + (either ? 1 : 0);
    // The callee: the 16 bytes its word was found holding.
    *slot = n->value;
    plan_mark(plan::wordref_of(n), slot);
    args[1] = first->value;
    args[2] = last->value;
    stack::top_slot = args + (either ? 3 : 2);
    cell_t* r = plan_branch(x, plan::block_of(x.head, first + k), args + 1 + k, code);
    if (r == nullptr) [[unlikely]]
        return n->end;
    return branch_value(x, n, code, end, infix, r);
}

// A conditional of a lane's condition, the quiet way first.
[[gnu::noinline]] int32_t conditional_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end, bool infix) {
    int32_t next;
    if (conditional_quiet(x, n, code, end, infix, &next)) [[likely]]
        return next;
    return conditional_called(x, n, code, pos, end, infix);
}

// plan_conditional out of line, for a function's body, which a recursive
// call runs inline: there the lane's conditional, the common body, is
// called straight and the other kinds through this.
[[gnu::noinline]] int32_t conditional_body(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end) {
    return plan_conditional(x, n, code, pos, end, false);
}

}  // namespace zuv::interpreter
