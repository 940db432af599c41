// Operator chains of numbers computed with nothing run (QUIET_CHAIN).
//
// A chain whose operands are leaves, paths of two elements, parens of such
// a chain or leaf and, on the right of a step, square-root of a leaf or
// path, and whose steps are fast operations or operators
// that stand for one (their right operand such a paren or root), computes what the
// chain's own run computes: fast_compute is what the fast steps and the
// called operators' in-place results use, and a float's math is its own.
// Nothing runs in it, so nothing could see the operators' frames or the
// parens' cells: the room they take, and the native stack, are seen to be
// there first, so that where they are not the chain's own run raises where
// it would.

#include <cmath>

#include "interpreter/plans/runner.h"

namespace zuv::interpreter {

namespace {

bool quiet_root(const plan_run& x, const pnode_t* m, cell_t* out);

// The cell the leaf or path m reads with nothing run, nullptr when it has
// none to read; k its kind, known to be one of those four.
[[gnu::always_inline]] inline const cell_t* quiet_leaf(const plan_run& x, const pnode_t* m,
                                                       uint8_t k) {
    if (k == plan::K_LOCAL) return x.frame + plan::frame_slot(m);
    if (k == plan::K_LIT) return &m->value;
    if (k == plan::K_PATH) return read_path_in_place(&m->value);
    return plan_word(m);
}

// The number operand m gives with nothing run, into out; false, having run
// nothing, when it is anything else or needs anything run.
[[gnu::always_inline]] inline bool quiet_number(const plan_run& x, const pnode_t* m, cell_t* out) {
    // Parens of one leaf are walked into, not recursed into: the function is
    // always inlined, and a compiler may refuse recursive inlining. The
    // leaves are tested first, so that they pay nothing for the walk.
    uint8_t k = m->kind();
    const cell_t* v;
    for (;;) {
        if (k == plan::K_LOCAL) {
            v = x.frame + plan::frame_slot(m);
        } else if (k == plan::K_LIT) {
            v = &m->value;
        } else if (k == plan::K_PATH) {
            v = read_path_in_place(&m->value);
        } else if (k == plan::K_WORD) {
            v = plan_word(m);
        } else if (k == plan::K_NATIVE) [[unlikely]] {
            return quiet_root(x, m, out);
        } else {
            // A paren (the builder gave no other kind the flag): its one
            // leaf, or its chain; a chain of two leaves read as the
            // operators' lane reads them.
            const pnode_t* block = plan::block_of(x.head, m);
            if (block->flags & plan::ONE_LEAF) {
                m = plan::statements_of(block);
                k = m->kind();
                continue;
            }
            const pnode_t* c = plan::statements_of(block);
            uint32_t lane = c->value.data1;
            if (!(c->flags & plan::SIMPLE_INFIX) || !(lane & plan::INFIX_LANE)) [[unlikely]]
                return quiet_chain_value(x, c, out);
            const cell_t* left = plan_lane_operand(x, plan::lane_left(c), lane >> 2);
            const cell_t* right = plan_lane_operand(x, plan::lane_right(c), lane);
            uint8_t lt = type_of(left);
            if ((lt != TYPE_integer && lt != TYPE_float_) ||
                plan_expected(plan::lane_op(c)) == nullptr) [[unlikely]]
                return false;
            *out = *left;
            return fast_compute(static_cast<fast_op>(c->value.data2), out, right);
        }
        break;
    }
    if (v == nullptr) [[unlikely]]
        return false;
    uint8_t t = type_of(v);
    if (t != TYPE_integer && t != TYPE_float_) [[unlikely]]
        return false;
    *out = *v;
    return true;
}

// A call of square-root on a leaf or path (the builder's quiet_root_q) into
// out, as the native computes it: the root of the number as a float, NaN
// for a negative one. False, having run nothing, where the word no longer
// holds the native or the argument is no integer or float (the call then
// runs, and checks it).
[[gnu::noinline]] bool quiet_root(const plan_run& x, const pnode_t* m, cell_t* out) {
    if (plan_expected(m) == nullptr) return false;
    const pnode_t* argument = plan::arguments_of(m);
    const cell_t* a = quiet_leaf(x, argument, argument->kind());
    uint8_t t = a == nullptr ? static_cast<uint8_t>(TYPE_unset) : type_of(a);
    if (t != TYPE_integer && t != TYPE_float_) return false;
    double d = t == TYPE_integer ? static_cast<double>(integer::get(a)) : cell::get_float(a);
    *out = cell_t{TYPE_float_, 0, 0, 0};
    cell::put_float(out, std::sqrt(d));
    return true;
}

}  // namespace

// The chain at n into out, its room and native stack seen to be there.
[[gnu::noinline]] bool quiet_chain_value(const plan_run& x, const pnode_t* n, cell_t* out) {
    const pnode_t* left = plan::infix_left(n);
    if (!quiet_number(x, left, out)) return false;
    const pnode_t* s = left + plan::size_of(left);
    for (uint32_t k = plan::step_count(n); k > 0; k--) {
        const pnode_t* r = plan::op_right(s);
        auto f = static_cast<fast_op>(plan::fast_operation(s));
        if (f == FAST_NONE) f = static_cast<fast_op>(plan::operator_operation(plan::wordref_of(s)));
        cell_t right;
        if (plan_expected(s) == nullptr || !quiet_number(x, r, &right) ||
            !fast_compute(f, out, &right)) [[unlikely]]
            return false;
        s = r + plan::size_of(r);
    }
    return true;
}

}  // namespace zuv::interpreter
