// Operator chains of numbers computed with nothing run (QUIET_CHAIN): the
// runner's own code, included by interpreter.cpp once, inside its anonymous
// namespace, after the runner.
//
// A chain whose operands are leaves, paths of two elements and parens of
// such a chain or leaf, and whose steps are fast operations or operators
// that stand for one (their right operand such a paren), computes what the
// chain's own run computes: fast_compute is what the fast steps and the
// called operators' in-place results use, and a float's math is its own.
// Nothing runs in it, so nothing could see the operators' frames or the
// parens' cells: the room they take, and the native stack, are seen to be
// there first, so that where they are not the chain's own run raises where
// it would.

bool quiet_chain_value(const plan_run& x, const pnode_t* n, cell_t* out);

// The number operand m gives with nothing run, into out; false, having run
// nothing, when it is anything else or needs anything run.
// A paren of one leaf goes round again on that leaf (a loop, not a call:
// an always-inline function cannot call itself in a build that does not
// optimise).
[[gnu::always_inline]] inline bool quiet_number(const plan_run& x, const pnode_t* m, cell_t* out) {
again:
    uint8_t k = m->kind();
    const cell_t* v;
    if (k == plan::K_LOCAL) {
        v = x.frame + plan::frame_slot(m);
    } else if (k == plan::K_LIT) {
        v = &m->value;
    } else if (k == plan::K_PATH) {
        v = read_path_in_place(&m->value);
    } else if (k == plan::K_WORD) {
        v = plan_word(m);
    } else {
        // A paren (the builder gave no other kind the flag): its one leaf
        // or chain; a chain of two leaves read as the operators' lane reads
        // them.
        const pnode_t* block = plan::block_of(x.head, m);
        if (block->flags & plan::ONE_LEAF) {
            m = block + 2;
            goto again;
        }
        const pnode_t* c = block + 2;
        uint32_t lane = c->value.data1;
        if (!(c->flags & plan::SIMPLE_INFIX) || !(lane & plan::INFIX_LANE)) [[unlikely]]
            return quiet_chain_value(x, c, out);
        const cell_t* left = plan_lane_operand(x, c + 1, lane >> 2);
        const cell_t* right = plan_lane_operand(x, c + 4, lane);
        uint8_t lt = type_of(left);
        if ((lt != TYPE_integer && lt != TYPE_float_) || plan_expected(c + 2) == nullptr)
            [[unlikely]]
            return false;
        *out = *left;
        return fast_compute(static_cast<fast_op>(c->value.data2), out, right);
    }
    if (v == nullptr) [[unlikely]]
        return false;
    uint8_t t = type_of(v);
    if (t != TYPE_integer && t != TYPE_float_) [[unlikely]]
        return false;
    *out = *v;
    return true;
}

// The chain at n into out, its room and native stack seen to be there.
[[gnu::noinline]] bool quiet_chain_value(const plan_run& x, const pnode_t* n, cell_t* out) {
    const pnode_t* left = n + 1;
    if (!quiet_number(x, left, out)) return false;
    const pnode_t* s = left + plan::size_of(left);
    for (uint32_t k = plan::step_count(n); k > 0; k--) {
        const pnode_t* r = s + 2;
        auto f = static_cast<fast_op>(plan::fast_operation(s));
        if (f == FAST_NONE) f = static_cast<fast_op>(plan::operator_operation(s + 1));
        cell_t right;
        if (plan_expected(s) == nullptr || !quiet_number(x, r, &right) ||
            !fast_compute(f, out, &right)) [[unlikely]]
            return false;
        s = r + plan::size_of(r);
    }
    return true;
}

// plan_quiet_chain: the chain at n (QUIET_CHAIN) into *top, the lookahead
// after it finding no operator. False, *top then holding nothing of use,
// where anything would have to run.
[[gnu::noinline]] bool plan_quiet_chain(const plan_run& x, const pnode_t* n, const cell_t* code,
                                        cell_t* top) {
    // More than the deepest a chain's run goes (parens two deep at most: the
    // builder's QUIET_DEPTH): per level its left operand, an operator's
    // callee and frame, a paren's cell and a path read's room.
    if (top + 16 >= stack::end || stack::ctop + 4 >= stack::cend || native_stack_low()) [[unlikely]]
        return false;
    if (!quiet_chain_value(x, n, top)) return false;
    return !(n->probe() && op_after(x, n, code, n->end));
}
