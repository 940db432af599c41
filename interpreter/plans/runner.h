// The runner of function-body plans: the interpreter's own code, kept in a
// file of its own. interpreter.cpp includes it once, after its own code; the
// routines it shares with the interpreter are in interpreter/internal.h.

// --- plans ---------------------------------------------------------------------------
// The runner of function-body plans (interpreter/plans/nodes.h). Each node does what
// the code above does for its expression, in the same order: the same
// frames, pushes, checks, position stores and depth checks. A node runs only
// where the walk stands at its position with the stamp unchanged and nothing
// traced; anywhere else, and when a word no longer holds what the plan
// expects, the expression goes through eval_operand or fetch_normal, and a
// block whose walk left the plan finishes on the interpreter's own path.

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
cell_t library_position{TYPE_none, 0, 0, 0};

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
// the held form, out of line.
struct plan_kept_position {
    const plan_run& x;
    cell_t saved;
    explicit plan_kept_position(const plan_run& run) : x(run), saved(*run.where) {}
    bool foreign(const cell_t* around) const { return saved.data2 != around->data2; }
    void restore() const { *x.where = saved; }
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
[[gnu::always_inline]] inline int32_t plan_simple_infix(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool* computed = nullptr);

// The value of a planned block of one leaf (ONE_LEAF), a paren's or a
// branch's, when that is a plain value: what running the block would leave,
// taken with nothing run. nullptr otherwise.
[[gnu::always_inline]] inline const cell_t* plan_leaf_value(const plan_run& x,
                                                            const pnode_t* block) {
    if (!(block->flags & plan::ONE_LEAF)) return nullptr;
    const cell_t* value = plan_leaf(x, block + 2);
    if (value == nullptr || !plain_value_q(type_of(value))) [[unlikely]]
        return nullptr;
    return value;
}

// The position a block of one expression leaves once that ran: its head.
[[gnu::always_inline]] inline void plan_block_position(const pnode_t* block, const cell_t* code) {
    *position = *code;
    position->data1 = static_cast<uint32_t>(block->pos);
}

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

// The statement before statement n in its planned block; nullptr for the
// first.
const pnode_t* statement_before(const pnode_t* head, const pnode_t* n) {
    for (int32_t i = 1; i < head->aux; i++) {
        const pnode_t* b = head + i;
        if (b->kind() != plan::K_BLOCK) continue;
        const pnode_t* before = nullptr;
        for (const pnode_t* s = b + 2; s->kind() != plan::K_END; s += plan::size_of(s)) {
            if (s == n) return before;
            before = s;
        }
    }
    return nullptr;
}

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

// A call's or a native's statement n whose guard failed: plan_answer's
// case when its read answers a probe (REF_ANSWERS_PROBE), else the
// interpreter's path.
[[gnu::noinline, gnu::cold]] int32_t plan_call_missed(const plan_run& x, const pnode_t* n,
                                                      const cell_t* code, int32_t pos, int32_t end,
                                                      bool infix) {
    if (!infix && (n[1].flags & plan::REF_ANSWERS_PROBE) && op_at(code, pos))
        return plan_answer(x, n, code, pos, end);
    return plan_fallback(n, code, pos, end, infix);
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
// alive). A callee's arguments plan goes with the cell: its cache, once made
// (the builder saw it made), is never made again.
[[gnu::always_inline]] inline const cell_t* plan_expected(const pnode_t* n) {
    const pnode_t* ref = n + 1;
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

int32_t plan_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
                  bool infix);
int32_t plan_native(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                    int32_t end, bool infix);
[[gnu::always_inline]] inline int32_t plan_conditional(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t pos, int32_t end,
                                                       bool infix);
int32_t conditional_body(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                         int32_t end);
int32_t conditional_called(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                           int32_t end, bool infix);
int32_t conditional_lane(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                         int32_t end, bool infix);
int32_t plan_infix(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                   int32_t end);
int32_t plan_other(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                   int32_t end, bool infix);
// Path nodes (plans/paths.h).
int32_t plan_path(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
                  bool infix);
int32_t plan_set_path(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                      int32_t end);
int32_t plan_field_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                        int32_t end, bool infix);
int32_t plan_refined_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                          int32_t end, bool infix);
int32_t plan_path_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                       int32_t end, bool infix);
[[gnu::always_inline]] inline const cell_t* plan_path_operand(const pnode_t* r);
// An operator chain of numbers (QUIET_CHAIN) computed into *top with
// nothing run (plans/quiet.h).
[[gnu::always_inline]] inline bool plan_quiet_chain(const plan_run& x, const pnode_t* n,
                                                    const cell_t* code, cell_t* top);
int32_t plan_paren(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                   int32_t end, bool infix);
[[gnu::always_inline]] inline int32_t plan_paren_call(const plan_run& x, const pnode_t* n,
                                                      const cell_t* code, int32_t pos, int32_t end,
                                                      bool infix);
template <bool path = false>
[[gnu::always_inline]] inline int32_t plan_paren_call_of(const plan_run& x, const pnode_t* n,
                                                         const cell_t* code, int32_t pos,
                                                         int32_t end, bool infix);
template <bool paths = false>
[[gnu::always_inline]] inline int32_t plan_paren_inline(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool infix);

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

// The arguments after the first, whose node is a.
[[gnu::noinline]] int32_t plan_later_arguments(const plan_run& x, const pnode_t* a, cell_t* slot,
                                               int32_t count, uint32_t plan, const cell_t* code,
                                               int32_t pos, int32_t end) {
    for (int32_t i = 1; i < count; i++) {
        a += plan::size_of(a);
        pos = plan_argument(x, a, slot, i, code, pos, end, false, false);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(plan, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, i);
    }
    return pos;
}

// The arguments of the call at slot from its first argument's node a on,
// each checked as the interpreter's fetch does. Stops at a pending exit.
// quiet, when given, is set where the call's one argument was a leaf whose
// probe just found no operator after it (run_node's quiet).
[[gnu::always_inline]] inline int32_t plan_arguments(const plan_run& x, const pnode_t* a,
                                                     cell_t* slot, int32_t count, uint32_t plan,
                                                     const cell_t* code, int32_t pos, int32_t end,
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
        if (check_needed(plan, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, 0);
    } else if (!(plan & PLAN_ANY_TYPES)) [[unlikely]] {
        check_argument(slot, 0);
    }
    if (count == 1) [[likely]] {
        if (quiet != nullptr) *quiet = leaf;
        return pos;
    }
    return plan_later_arguments(x, a, slot, count, plan, code, pos, end);
}

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
[[gnu::noinline]] cell_t* plan_lead_body(const plan_run& x, const pnode_t* block,
                                         const cell_t* code);
template <bool body>
[[gnu::always_inline]] inline cell_t* plan_last_run(const plan_run& x, const pnode_t* block,
                                                    const pnode_t* n, const cell_t* code,
                                                    int32_t pos, int32_t end, cell_t* base);

// The rest of a branch block after its one node ended before the block's
// end (a stamp moved while it ran): as run_planned goes on from there.
[[gnu::noinline]] cell_t* plan_branch_rest(const pnode_t* block, const cell_t* code, int32_t pos,
                                           int32_t end, cell_t* base) {
    end = live_end(code, end);
    if (pos >= end) return base;
    plan::count_fallback(block);
    return plan_block_generic(code, pos, end, base);
}

// run_planned for a planned conditional's branch, a paren or a recursive
// call's body (the guards read): a block of one expression, the common case,
// runs without the block loop. After its node the block is over wherever the
// stamp stands, so the guards need no reading there. body: a recursive
// function's body, most often one conditional, which is tried before
// run_node's walk through the kinds. lead: as run_self's.
template <bool body = false, bool lead = false>
[[gnu::always_inline]] inline cell_t* plan_block_run(const plan_run& x, const pnode_t* block,
                                                     const cell_t* code) {
    const pnode_t* n = block + 2;
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
        pos = (n[1].flags & plan::LANE_CONDITION) ? conditional_lane(x, n, code, pos, end, false)
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
[[gnu::noinline]] cell_t* plan_branch_held(const plan_run& x, const pnode_t* block,
                                           const cell_t* code) {
    return plan_nested_run(x, block, code, plan_nested_position(x));
}
// A branch or a paren's block (code), which stands in the code `around`.
[[gnu::always_inline]] inline cell_t* plan_branch(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code, const cell_t* around) {
    plan_kept_position kept(x);
    if (kept.foreign(around)) [[unlikely]]
        return plan_branch_held(x, block, code);
    return plan_nested_run(x, block, code, kept);
}

// run_function for a recursive call, its frame filled: the callee is the
// function whose plan runs, so that plan serves it while the stamp holds
// (its body and compiled code never change, and its trace flags passed
// when the running call began). Returns the cell that holds the result,
// nullptr when an exit is pending. lead: a body of LITERAL_LEAD runs
// apart (plan_lead_body); the path calls, whose lines that test would
// crowd, leave it to the block loop.
template <bool lead = false>
[[gnu::always_inline]] inline const cell_t* run_self(const plan_run& x, cell_t* slot) {
    cell_t* result;
    {
        function_run<false, true> run(function::context_of(slot), slot + 1);
        stack::ctop[-1].header |= frame::EXIT_TARGET;
        plan::count(plan::C_RUN);
        const pnode_t* block = x.head + 1;
        // The caller found the guard byte clear just before, and nothing ran
        // since: this run starts with it clear and has no bit to hand back.
        const plan_run y{x.head, slot + 1, x.where};
        result =
            body_done(plan_block_run<true, lead>(y, block, &block->value), &block->value, slot);
    }
    return call_result(result);
}

// A planned body of one leaf holding a plain value gives that value with
// nothing run: its run would only store the body's head as the position and
// push the value, which the caller copies to the callee's slot (so the stack
// must have the room). Nothing reads the context's values word, the guard
// byte or the tracing state that run sets and gives back, unless a `trace`
// request waits for the call's end. nullptr: the body runs.
[[gnu::always_inline]] inline const cell_t* plan_body_leaf(const pnode_t* head,
                                                           const cell_t* body) {
    const pnode_t* block = head + 1;
    if (!(block->flags & plan::ONE_LEAF)) [[likely]]
        return nullptr;
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        caller_tracing_request >= 0 || stack::top_slot + 1 >= stack::end) [[unlikely]]
        return nullptr;
    const cell_t* value = plan_leaf_value(plan_run{head, stack::arguments, position}, block);
    if (value == nullptr) [[unlikely]]
        return nullptr;
    plan::count(plan::C_RUN);
    plan_block_position(block, body);
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
    plan_mark(n + 1, slot);
    return slot;
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
template <bool self, int32_t first = 2, bool lead = true>
[[gnu::always_inline]] inline int32_t
plan_call_body(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
               bool infix, const stack::tops_t& caller, cell_t* slot) {
    const pnode_t* ref = n + 1;
    uint32_t plan = plan::arguments_plan(ref);
    bool quiet = false;
    pos = plan_arguments(x, n + first, slot, plan::argument_count(n), plan, code, pos + 1, end,
                         self ? nullptr : &quiet);
    if (exits::pending) [[unlikely]]
        return pos;
    plan_push_locals(static_cast<int32_t>((plan >> PLAN_LOCALS_SHIFT) & 0xFFFF));
    // A plan runs for user code called from user code, and only code_origin
    // changes the interpreted mark, putting it back however it is left: the
    // caller is user code here.
    const cell_t* result;
    if (self && plan_holds(x)) [[likely]]
        result = run_self<lead>(x, slot);
    else if (!self && (ref->flags & plan::PLAIN_CALL)) [[likely]]
        result = run_function<true>(slot, &quiet);
    else if (!self && (ref->flags & plan::LIBRARY_CALL)) result = run_library_function(slot);
    else result = run_other_function(slot);
    if (result == nullptr) [[unlikely]]
        return pos;
    finish_marked(caller, slot, result);
    // A body of one leaf ran nothing since the argument's probe read the
    // word after the call: the lookahead would find what that probe did.
    if (infix || quiet) return pos;
    return plan_lookahead(x, n, code, pos, end);
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
// have been pushed to. The position is stored as the body's run leaves it.
// False, nothing done, for anything else, and where the call would fail a
// check (room on both stacks) or look a word up: the call's way then raises
// what it raises there. With no argument, the lookahead after the call is
// made before it (nothing runs in between); with one, the argument's probe
// reads the same word. Nothing here is a call, so the routine it is inline
// in needs no registers saved for its fast way. The body's position is left
// only where it stays (placed): a statement of a block that is not its last
// is followed by the block's own position.
[[gnu::always_inline]] inline bool plan_call_leaf(const plan_run& x, const pnode_t* n,
                                                  bool placed = true) {
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
    const pnode_t* block = head + 1;
    const cell_t* body = more + function::MORE_BODY;
    if (static_cast<uint32_t>(head->end) != plan::epoch || head->pos < 0 ||
        !(block->flags & plan::ONE_LEAF) || body->data2 != block->value.data2 ||
        body->data1 != block->value.data1) [[unlikely]]
        return false;
    const cell_t* arg = nullptr;
    const pnode_t* probed = n;  // the node whose probe reads the word after the call
    const pnode_t* holder = n + 1;
    auto count = plan::argument_count(n);
    if (count != 0) {
        const pnode_t* a = n + 2;
        uint8_t kind = a->kind();
        if (kind == plan::K_LOCAL) arg = x.frame + plan::frame_slot(a);
        else if (kind == plan::K_LIT) arg = &a->value;
        else if (kind == plan::K_WORD) arg = peek_value(&a->value);
        if (arg == nullptr || !plain_value_q(type_of(arg)) ||
            check_needed(plan::arguments_plan(n + 1), arg)) [[unlikely]]
            return false;
        probed = a;
        holder = a;
    }
    if (probed->probe() && !no_op_probed(x, probed, holder)) [[unlikely]]
        return false;
    const cell_t* value = leaf_body_value(block + 2, arg, count);
    if (value == nullptr) [[unlikely]]
        return false;
    plan::count(plan::C_RUN);
    if (placed) plan_block_position(block, body);
    *stack::top_slot++ = *value;
    return true;
}

// A call marked LEAF_BODY: plan_call_leaf's short way, else the call's.
[[gnu::noinline]] int32_t plan_call_leaf_body(const plan_run& x, const pnode_t* n,
                                              const cell_t* code, int32_t pos, int32_t end,
                                              bool infix) {
    if (plan_call_leaf(x, n)) [[likely]]
        return pos + 1 + plan::argument_count(n);
    return plan_call_of<false>(x, n, code, pos, end, infix);
}

// plan_call for a call that is not recursive: a test and a jump, out of the
// lines of the callers plan_call is inline in (there the test made the
// recursive call's path spill more).
[[gnu::noinline]] int32_t plan_call_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end, bool infix) {
    if (n[1].flags & plan::LEAF_BODY) return plan_call_leaf_body(x, n, code, pos, end, infix);
    return plan_call_of<false>(x, n, code, pos, end, infix);
}

// call_simple with planned arguments.
int32_t plan_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
                  bool infix) {
    if (n[1].flags & plan::SELF_CALL) return plan_call_of<true>(x, n, code, pos, end, infix);
    return plan_call_other(x, n, code, pos, end, infix);
}

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
        if (type_of(v) != TYPE_integer && check_needed(plan::arguments_plan(n + 1), v)) [[unlikely]]
            check_argument(slot, i);
    };
    // The first argument's node, the walk on it with the guards read.
    const pnode_t* a = n + 2;
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
    cell_t* left = stack::arguments;
    const cell_t* right = left + 1;
    if (type_of(left) == TYPE_integer && type_of(right) == TYPE_integer &&
        fast_integers(fast_op_of(type_of(slot), slot->data1), left, integer::get(left),
                      integer::get(right))) [[likely]]
        stack::top_slot = left + 1;
    else run_simple_entry(type_of(slot), slot, 2);
    return pos;
}

// call_native with planned arguments.
[[gnu::noinline]] int32_t plan_native(const plan_run& x, const pnode_t* n, const cell_t* code,
                                      int32_t pos, int32_t end, bool infix) {
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_call_missed(x, n, code, pos, end, infix);
    if (n[1].flags & plan::FAST_NATIVE) {
        pos = plan_native_fast(x, n, slot, code, pos + 1, end);
        if (exits::pending) return pos;
        finish_planned(slot);
        if (infix) return pos;
        return plan_lookahead(x, n, code, pos, end);
    }
    auto count = plan::argument_count(n);
    pos = plan_arguments(x, n + 2, slot, count, plan::arguments_plan(n + 1), code, pos + 1, end);
    if (exits::pending) [[unlikely]]
        return pos;
    // A routine runs as eval_code runs one: its entry, no native's.
    uint8_t t = type_of(slot);
    if (t == TYPE_routine) call_routine(slot);
    else run_simple_entry(t, slot, count);
    if (exits::pending) return pos;
    finish_planned(slot);
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

// The branches of a planned conditional past its condition, when they do
// not all take the planned way (the walk is off them, a guard moved, the
// stack is full, an operator follows the last): pushed as the plan has them
// while it can, the rest fetched as call_conditional does.
[[gnu::noinline]] int32_t conditional_rest(const plan_run& x, const pnode_t* n, cell_t* slot,
                                           const cell_t* code, int32_t pos, int32_t end,
                                           bool infix) {
    uint32_t plan = plan::arguments_plan(n + 1);
    auto count = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    const pnode_t* branches = n + 2 + plan::size_of(n + 2);
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
    pos = fetch_branches(slot, i, count, plan, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
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
    finish_planned(slot);
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
    const pnode_t* r = block + 2;
    // The builder saw one branch of that shape; the other may be any.
    uint8_t k = r[2].kind();
    if (r->kind() != plan::K_RETURN ||
        (k != plan::K_LOCAL && k != plan::K_WORD && k != plan::K_LIT) || r[2].probe() ||
        plan_expected(r) == nullptr)
        return false;
    const cell_t* v = plan_leaf(x, r + 2);
    if (v == nullptr || !plain_value_q(type_of(v)) ||
        check_needed(plan::arguments_plan(r + 1), v) || slot + 8 >= stack::end ||
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
    const pnode_t* c = n + 2;
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
    const cell_t* left = x.frame + c[1].aux;
    const cell_t* right = &c[4].value;
    if (sources != (plan::INFIX_LANE | plan::INFIX_RIGHT_LITERAL)) {
        left = plan_lane_operand(x, c + 1, sources >> 2);
        right = plan_lane_operand(x, c + 4, sources);
    }
    if (type_of(left) != TYPE_integer || type_of(right) != TYPE_integer ||
        plan_expected(c + 2) == nullptr) [[unlikely]]
        return false;
    *args = *left;
    if (!fast_integers(static_cast<fast_op>(c->value.data2), args, integer::get(left),
                       integer::get(right), &truthy)) [[unlikely]]
        return false;
    const pnode_t* first = c + 5;  // the lane's five nodes
    bool either = plan::native_slot(n) == EITHER_INDEX;
    const pnode_t* last = first + (either ? 1 : 0);
    if (last->probe() && !(n[1].flags & plan::OWN_WORD_AFTER) &&
        op_probed(x, last, last, code, last->end)) [[unlikely]]
        return false;
    int32_t k = branch_taken(either, truthy);
    if (quiet_value(x, first, k, slot, args)) [[likely]] {
        *next = conditional_next(x, n, code, end, infix, last);
        return true;
    }
    const pnode_t* block = plan::block_of(x.head, first + k);
    if ((n[1].flags & plan::BODY_RETURN) && plan_body_return(x, first + k, block, slot)) {
        *next = end;
        return true;
    }
    *slot = *v;
    plan_mark(n + 1, slot);
    args[1] = first->value;
    args[2] = last->value;
    stack::top_slot = args + (either ? 3 : 2);
    cell_t* r = plan_branch(x, block, args + 1 + k, code);
    *next = r == nullptr
                ? n->end
                : conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
    return true;
}

// call_conditional with a planned condition and branches. The builder made
// `if` two arguments and `either` three, the branches blocks that only the
// last may have a word after (the others have a block after them).
[[gnu::noinline]] int32_t conditional_called(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end,
                                             bool infix) {
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, infix);
    uint32_t plan = plan::arguments_plan(n + 1);
    // The condition's node, the walk on it with the guards read.
    bool computed = false;
    pos = plan_computing(x, n + 2, code, pos + 1, end, &computed);
    if (!computed) {
        if (exits::pending) [[unlikely]]
            return pos;
        if (!(plan & PLAN_FIRST_ANY) || seldom_q(stack::top_slot - 1)) check_argument(slot, 0);
    } else if (!(plan & PLAN_FIRST_ANY)) {
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
    return conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
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

// A planned conditional whose condition is a leaf (a literal or a word)
// holding a plain value, taken as conditional_quiet takes a lane's, by a
// routine that calls none and takes two values, so that it saves almost no
// registers: what needs a call is left to its caller (quiet_t), and so is a
// native stack past its limit or a probe of a word with no entry (the
// conditional's own path raises or reads there). It does not know whether
// the conditional is an operand, which needs no lookahead after it.
[[gnu::noinline]] int32_t conditional_leaf(const plan_run& x, const pnode_t* n) {
    const pnode_t* c = n + 2;
    if (stack::top_slot + 5 >= stack::end || stack::ctop >= stack::cend ||
        plan_expected(n) == nullptr || native_stack_low()) [[unlikely]]
        return QUIET_NOT;
    const pnode_t* first = c + 1;
    // The last branch ends the conditional's nodes; `if` has one.
    const pnode_t* last = n + n->aux - 1;
    bool either = last != first;
    // The last branch's probe reads the word the lookahead reads.
    int32_t done = QUIET_END;
    if (n[1].flags & plan::OWN_WORD_AFTER) {
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
    bool truthy;
    if (t == TYPE_logic) [[likely]] {
        truthy = condition->data1 == 1;
    } else {
        if (((NOT_PLAIN | SELDOM_TYPES) >> (t & 63)) & 1) [[unlikely]]
            return QUIET_NOT;
        truthy = t != TYPE_none;
    }
    int32_t k = branch_taken(either, truthy);
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
    const pnode_t* first = n + 3;
    const pnode_t* last = first + (either ? 1 : 0);
    // The callee: the 16 bytes its word was found holding.
    *slot = n->value;
    plan_mark(n + 1, slot);
    args[1] = first->value;
    args[2] = last->value;
    stack::top_slot = args + (either ? 3 : 2);
    cell_t* r = plan_branch(x, plan::block_of(x.head, first + k), args + 1 + k, code);
    if (r == nullptr) [[unlikely]]
        return n->end;
    return conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
}

// A planned conditional of a leaf condition: the quiet way, out of line.
[[gnu::always_inline]] inline int32_t conditional_leaf_node(const plan_run& x, const pnode_t* n,
                                                            const cell_t* code, int32_t end,
                                                            bool infix) {
    int32_t quiet = conditional_leaf(x, n);
    if (quiet == QUIET_END || (infix && quiet == QUIET_LOOKAHEAD)) [[likely]]
        return n->end;
    return conditional_after(x, n, code, end, infix, quiet);
}

// A conditional of a lane's condition, the quiet way first.
[[gnu::noinline]] int32_t conditional_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end, bool infix) {
    int32_t next;
    if (conditional_quiet(x, n, code, end, infix, &next)) [[likely]]
        return next;
    return conditional_called(x, n, code, pos, end, infix);
}

// A planned conditional: the quiet way when the builder found a condition
// that runs nothing, each kind in a routine of its own (the conditional's
// own path saves six registers and spills across its calls).
[[gnu::always_inline]] inline int32_t plan_conditional(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t pos, int32_t end,
                                                       bool infix) {
    uint32_t ref = n[1].flags;
    if (ref & plan::LEAF_CONDITION) return conditional_leaf_node(x, n, code, end, infix);
    if (ref & plan::LANE_CONDITION) return conditional_lane(x, n, code, pos, end, infix);
    return conditional_called(x, n, code, pos, end, infix);
}

// plan_conditional out of line, for a function's body, which a recursive
// call runs inline: there the lane's conditional, the common body, is
// called straight and the other kinds through this.
[[gnu::noinline]] int32_t conditional_body(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end) {
    return plan_conditional(x, n, code, pos, end, false);
}

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
    // The arguments plan's one bit the checks read, read where it is needed:
    // computed ahead, it lives across the right operand.
    auto arg_plan = [ref] {
        return (ref->flags & plan::OPERATOR_ANY_TYPES) ? uint32_t{PLAN_ANY_TYPES} : 0u;
    };
    cell_t* left = slot + 1;
    bool integers = f != FAST_NONE && type_of(left) == TYPE_integer;
    if (!integers && check_needed(arg_plan(), left)) {
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
    // An addition, the commonest, is tested before the operations' table.
    if (!integers || type_of(right) != TYPE_integer ||
        !((f == FAST_ADD ? fast_integers(FAST_ADD, left, integer::get(left), integer::get(right))
                         : fast_integers(f, left, integer::get(left), integer::get(right))) ||
          fast_compute(f, left, right))) {
        if (check_needed(arg_plan(), right)) check_argument(slot, 1);
        run_simple_entry(type_of(slot), slot, 2);
        if (exits::pending) return pos;
    }
    finish_planned(slot);
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
    auto f = static_cast<fast_op>(plan::operator_operation(s + 1));
    cell_t* l = stack::top_slot - 1;
    const pnode_t* block = plan::block_of(x.head, r);
    if (f == FAST_NONE || type_of(l) != TYPE_integer || !(block->flags & plan::ONE_LEAF))
        return false;
    const cell_t* right = plan_leaf(x, block + 2);
    // The callee's cell, the paren's and its value above the left operand.
    if (right == nullptr || type_of(right) != TYPE_integer || l + 4 >= stack::end ||
        stack::ctop >= stack::cend)
        return false;
    check_native_stack();
    if (!fast_integers(f, l, integer::get(l), integer::get(right))) return false;
    return true;
}

// An operator chain: the left operand, then each step as the lookahead
// takes it (infix_loop); a step off the plan hands the rest of the chain to
// infix_loop.
[[gnu::noinline]] int32_t plan_infix(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end) {
    if ((n->flags & plan::QUIET_CHAIN) && plan_quiet_chain(x, n, code, stack::top_slot)) {
        stack::top_slot++;
        return n->end;
    }
    const pnode_t* left = n + 1;
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
        const pnode_t* r = s + 2;
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
            // arguments plan simple, of two arguments, which the same cell
            // keeps.
            cell_t* l = stack::push_slot() - 1;
            l[1] = l[0];
            l[0] = *v;
            l[0].header = static_cast<uint32_t>(s->end);
            pos = plan_call_infix(x, r, l, s + 1,
                                  static_cast<fast_op>(plan::operator_operation(s + 1)), code,
                                  pos + 1, end);
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
    at = path ? plan_path_call(x, block + 2, held, at, block->end, false)
              : plan_call(x, block + 2, held, at, block->end, false);
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

[[gnu::noinline]] int32_t plan_paren(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix) {
    return plan_paren_inline(x, n, code, pos, end, infix);
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
    const pnode_t* v = n + 1;
    if (stack::top_slot + 2 >= stack::end || stack::ctop >= stack::cend ||
        (v->probe() && op_probed(x, v, v, code, v->pos + 1))) [[unlikely]]
        return false;
    x.frame[n->value.data3] = v->value;
    return true;
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
    const pnode_t* n = block + 2;
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
        const pnode_t* v = n + 1;
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

// A set-word whose value is a leaf holding a plain value, two integers the
// operators' lane computes or a quiet chain, with no operator after it: nothing runs
// between the set-word's frame and its unwinding, so nothing could see
// them; the value is stored where the frame's result would be left, once
// the room the frame and the set-word's cell take is seen to be there.
// False, having changed nothing, otherwise.
[[gnu::always_inline]] inline bool plan_quiet_set(const plan_run& x, const pnode_t* n,
                                                  const cell_t* code) {
    const pnode_t* v = n + 1;
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
        const cell_t* left = plan_lane_operand(x, v + 1, lane >> 2);
        const cell_t* right = plan_lane_operand(x, v + 4, lane);
        if (type_of(left) != TYPE_integer || type_of(right) != TYPE_integer ||
            plan_expected(v + 2) == nullptr || (v->probe() && op_after(x, v, code, v->end)))
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
    if (n[1].kind() == plan::K_CALL) pos = plan_call(x, n + 1, code, pos + 1, end, false);
    else pos = run_node(x, n + 1, code, pos + 1, end, false);
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
        plan_mark(n + 1, slot);
        pos = plan_argument(x, n + 2, slot, 0, code, pos + 1, end, false, true);
        if (exits::pending) [[unlikely]]
            return pos;
        return_fetched(slot, plan::arguments_plan(n + 1));
        return pos;
    }
    case plan::K_PATH: return plan_path(x, n, code, pos, end, infix);
    case plan::K_SETPATH: return plan_set_path(x, n, code, pos, end);
    default: return plan_fallback(n, code, pos, end, infix);
    }
}

// The value of a leaf node (a literal or a word); nullptr when a word has
// none to read.
[[gnu::always_inline]] inline const cell_t* plan_leaf(const plan_run& x, const pnode_t* n) {
    if (n->kind() == plan::K_LOCAL) return x.frame + plan::frame_slot(n);
    if (n->kind() == plan::K_WORD) return plan_word(n);
    return &n->value;
}

// The end of left op right off the lane, its operands read and plain and
// its operator the one expected: computed in place or by the operator loop.
int32_t plan_simple_infix_compute(const plan_run& x, const pnode_t* n, const cell_t* left,
                                  const cell_t* right, const cell_t* code, int32_t end) {
    const pnode_t* s = n + 2;
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

// left op right with two leaves and an operator computed in place, as
// eval_operand and infix_loop take it. Nothing runs between reading the
// operands and computing, so the guards are read before the push.
[[gnu::noinline]] int32_t plan_simple_infix_rest(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* s = n + 2;
    if (n[1].kind() == plan::K_LIT) check_native_stack();  // as eval_expression does
    const cell_t* left = plan_leaf(x, n + 1);
    const cell_t* op = plan_expected(s);
    const cell_t* right = plan_leaf(x, n + 4);
    if (left == nullptr || !plain_value_q(type_of(left)) || right == nullptr || op == nullptr)
        [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    return plan_simple_infix_compute(x, n, left, right, code, end);
}

// An operand of the lane, read from its source's INFIX_RIGHT_ bits.
inline const cell_t* plan_lane_operand(const plan_run& x, const pnode_t* n, uint32_t source) {
    if (source & plan::INFIX_RIGHT_GLOBAL) return plan_global(n);
    if (source & plan::INFIX_RIGHT_LITERAL) return &n->value;
    return x.frame + plan::frame_slot(n);
}

// The lane's operands when they are not integers both (or their sum,
// difference or product does not fit): as plan_simple_infix_rest goes on
// from reading them.
[[gnu::noinline]] int32_t plan_simple_infix_other(const plan_run& x, const pnode_t* n,
                                                  const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* s = n + 2;
    const cell_t* left = plan_lane_operand(x, n + 1, n->value.data1 >> 2);
    const cell_t* right = plan_lane_operand(x, n + 4, n->value.data1);
    if ((n[1].flags & plan::ANSWERS_PROBE) && type_of(left) == TYPE_op) [[unlikely]]
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
    const pnode_t* block = plan::block_of(x.head, n + 4);
    const cell_t* left = plan_leaf(x, n + 1);
    const cell_t* right = plan_leaf(x, block + 2);
    cell_t* top = stack::top_slot;
    if (left == nullptr || right == nullptr || type_of(left) != TYPE_integer ||
        type_of(right) != TYPE_integer || top + 4 >= stack::end || stack::ctop >= stack::cend ||
        plan_expected(n + 2) == nullptr) [[unlikely]]
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
                      : op_probed(x, n, n + 3, code, pos);
        if (op) [[unlikely]]
            return plan_infix_generic(code, pos, end);
    }
    return pos;
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
    const cell_t* left = x.frame + n[1].aux;
    if (lane & (plan::INFIX_LEFT_GLOBAL | plan::INFIX_LEFT_LITERAL)) [[unlikely]] {
        if (lane & plan::INFIX_LEFT_GLOBAL) {
            left = plan_global(n + 1);
        } else {
            check_native_stack();  // as eval_expression does
            left = &n[1].value;
        }
    }
    const cell_t* right = &n[4].value;
    if (!(lane & plan::INFIX_RIGHT_LITERAL))
        right = (lane & plan::INFIX_RIGHT_GLOBAL) ? plan_global(n + 4)
                                                  : x.frame + plan::frame_slot(n + 4);
    cell_t* top = stack::top_slot;
    bool done = false;
    if (type_of(left) == TYPE_integer && type_of(right) == TYPE_integer && top + 1 < stack::end &&
        plan_expected(n + 2) != nullptr) [[likely]] {
        *top = *left;
        done = fast_integers(static_cast<fast_op>(n->value.data2), top, integer::get(left),
                             integer::get(right));
    } else if (type_of(left) == TYPE_float_ && type_of(right) == TYPE_float_ &&
               top + 1 < stack::end && plan_expected(n + 2) != nullptr) {
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
                      : op_probed(x, n, n + 3, code, pos);
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
    const pnode_t* n = block + 2;
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
                if (n[1].kind() != plan::K_CALL && plan_quiet_set(x, n, code)) {
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
                        // A value computed in the lane: five nodes, the position
                        // untouched.
                        if (computed) next = n + 5;
                    } else {
                        pos = plan_infix(x, n, code, pos, end);
                    }
                    break;
                case plan::K_CALL:
                    // A call of a leaf body inline here, where it has no
                    // registers of its own to save.
                    if ((n[1].flags & plan::LEAF_BODY) && plan_call_leaf(x, n, n->end >= end)) {
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
        return run_planned(x, head + 1, body, true, &library_position);
    };
    if (origin_fits(true)) return run();
    code_origin origin(true);
    return run();
}

// A plan run_planned_body does not run inline: a library function's, or a
// user function's called from library code (which the interpreter runs).
[[gnu::noinline]] cell_t* run_planned_elsewhere(const pnode_t* head, const cell_t* body) {
    const pnode_t* block = head + 1;
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        !(head->flags & plan::LIBRARY_PLAN)) [[unlikely]]
        return run_in_place<true>(body);
    return run_library_plan(head, body);
}

// Inline in each call site: one C++ frame less per planned call.
// from_plan: a planned body calls, so the caller is user code and so is
// the callee (the builder gives library callees no short way).
template <bool from_plan>
[[gnu::always_inline]] inline cell_t* run_planned_body(const pnode_t* head, const cell_t* body) {
    const pnode_t* block = head + 1;
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
