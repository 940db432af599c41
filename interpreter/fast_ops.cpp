#include "interpreter/fast_ops.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "interpreter/interpreter.h"
#include "interpreter/plans/nodes.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::interpreter {

bool compare_values(fast_op f, cell_t* left, const cell_t* right) {
    uint8_t lt = type_of(left);
    action_fn::compare_t quiet = lt < TYPE_SLOTS ? quiet_compare_table[lt] : nullptr;
    if (quiet == nullptr || !plain_value_q(type_of(right)) || general_path_only) return false;
    int32_t op = f - FAST_EQUAL;
    // The compare takes its operands writable; it changes neither.
    cell_t r = *right;
    int32_t d = quiet(left, &r, op);
    if (d == actions::cmp::ASK_CALL) return false;
    bool truth;
    if (d == -2) {
        // Not comparable: unequal, and an ordering is the call's error.
        if (op >= actions::cmp::LESSER) return false;
        truth = op == actions::cmp::NOT_EQUAL;
    } else {
        truth = actions::truth_of(d, op);
    }
    logic::make_at(left, truth);
    return true;
}

}  // namespace zuv::interpreter

namespace zuv::actions {

namespace {

using interpreter::native_number::equal_q;

// The action of a math code, by its number.
int32_t math_action(int32_t op) {
    switch (op) {
    case math::ADD: return ACT_add;
    case math::SUBTRACT: return ACT_subtract;
    case math::MULTIPLY: return ACT_multiply;
    case math::OR: return ACT_or_t;
    case math::AND: return ACT_and_t;
    case math::XOR: return ACT_xor_t;
    default: fire(err::not_done);
    }
}

// The comparison natives are numbered in the order equal?, not-equal?,
// strict-equal?, lesser?, greater?, lesser-or-equal?, greater-or-equal?.
uint32_t compare_native(int32_t op) {
    static constexpr uint32_t offsets[7] = {0, 1, 2, 3, 5, 4, 6};
    if (op < cmp::EQUAL || op > cmp::GREATER_EQUAL) fire(err::not_done);
    return equal_q + offsets[op];
}

int32_t nav_action(int32_t code) {
    static constexpr int32_t actions_by_code[9] = {0,          ACT_length_q, ACT_index_q,
                                                   ACT_head_q, ACT_tail_q,   ACT_next,
                                                   ACT_back,   ACT_head,     ACT_tail};
    if (code < nav::LENGTH_Q || code > nav::TAIL) fire(err::not_done);
    return actions_by_code[code];
}

// The fallback: the action or native (by table index) called in a native
// frame named by word on the operands, exactly as the interpreter calls it.
// The result is pushed and returned.
[[gnu::cold, gnu::noinline]] cell_t* call_through_frame(uint8_t type, uint32_t index,
                                                        const cell_t* word, const cell_t* a,
                                                        const cell_t* b) {
    const cell_t* callee = interpreter::start_up_value(type, index);
    if (callee == nullptr) fire(err::not_done);
    // Copies first: the operands may live in buffers that the call moves.
    cell_t name = *word;
    cell_t first = *a;
    cell_t second;
    if (b != nullptr) second = *b;
    cell_t* slot = stack::push(callee);
    stack::mark_interp_native(&name);
    stack::push(&first);
    if (b != nullptr) stack::push(&second);
    interpreter::run_checked(slot, b != nullptr ? 2 : 1);
    cell_t* result = stack::arguments;
    stack::unwind();
    *slot = *result;
    stack::top_slot = slot + 1;
    return slot;
}

cell_t* math_fallback(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right) {
    return call_through_frame(TYPE_action, static_cast<uint32_t>(math_action(op) - 1), word, left,
                              right);
}

cell_t* compare_fallback(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right) {
    return call_through_frame(TYPE_native, compare_native(op) - 1, word, left, right);
}

inline cell_t int_cell(int32_t v) { return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0}; }

inline cell_t* push_logic(bool truth) {
    cell_t* c = stack::push_slot();
    logic::make_at(c, truth);
    return c;
}

// The pushed result replaces the cell under it (the left operand).
inline cell_t* replace_top(cell_t* result) {
    cell_t* below = result - 1;
    *below = *result;
    stack::top_slot = result;
    return below;
}

}  // namespace

namespace {

// The fast operation of a routine's code, FAST_NONE for a code with none.
interpreter::fast_op math_fast(int32_t op) {
    using namespace interpreter;
    switch (op) {
    case math::ADD: return FAST_ADD;
    case math::SUBTRACT: return FAST_SUBTRACT;
    case math::MULTIPLY: return FAST_MULTIPLY;
    case math::OR: return FAST_OR;
    case math::AND: return FAST_AND;
    case math::XOR: return FAST_XOR;
    default: return FAST_NONE;
    }
}
interpreter::fast_op compare_fast(int32_t op) {
    if (op < cmp::EQUAL || op > cmp::GREATER_EQUAL) return interpreter::FAST_NONE;
    return static_cast<interpreter::fast_op>(interpreter::FAST_EQUAL + op);
}

// The truth of left op right when both are integers.
bool compare_inline(int32_t op, const cell_t* left, const cell_t* right, bool* truth) {
    cell_t r = *left;
    if (interpreter::general_path_only || !interpreter::fast_compute(compare_fast(op), &r, right))
        return false;
    *truth = logic::get(&r);
    return true;
}

}  // namespace

// --- arithmetic ----------------------------------------------------------------

cell_t* math_op(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right) {
    cell_t r = *left;
    if (!interpreter::general_path_only && interpreter::fast_compute(math_fast(op), &r, right))
        return stack::push(&r);
    return math_fallback(op, word, left, right);
}

cell_t* math_op_int(int32_t op, const cell_t* word, const cell_t* left, int32_t right) {
    cell_t r = int_cell(right);
    return math_op(op, word, left, &r);
}

cell_t* math_op_top(int32_t op, const cell_t* word, const cell_t* right) {
    cell_t* left = stack::top_slot - 1;
    if (!interpreter::general_path_only && interpreter::fast_compute(math_fast(op), left, right))
        return left;
    return replace_top(math_fallback(op, word, left, right));
}

cell_t* math_op_top_int(int32_t op, const cell_t* word, int32_t right) {
    cell_t r = int_cell(right);
    return math_op_top(op, word, &r);
}

// --- comparison ----------------------------------------------------------------

cell_t* compare_op(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right) {
    bool truth;
    if (compare_inline(op, left, right, &truth)) return push_logic(truth);
    return compare_fallback(op, word, left, right);
}

cell_t* compare_op_int(int32_t op, const cell_t* word, const cell_t* left, int32_t right) {
    cell_t r = int_cell(right);
    return compare_op(op, word, left, &r);
}

bool compare_op_flag(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right,
                     bool invert) {
    bool truth;
    if (!compare_inline(op, left, right, &truth)) {
        truth = logic::truthy(compare_fallback(op, word, left, right));
        stack::pop(1);
    }
    return truth != invert;
}

bool compare_op_int_flag(int32_t op, const cell_t* word, const cell_t* left, int32_t right,
                         bool invert) {
    cell_t r = int_cell(right);
    return compare_op_flag(op, word, left, &r, invert);
}

bool compare_op_last(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right) {
    bool truth = compare_op_flag(op, word, left, right, false);
    logic::make_at(stack::arguments, truth);
    return truth;
}

bool compare_op_last_int(int32_t op, const cell_t* word, const cell_t* left, int32_t right) {
    cell_t r = int_cell(right);
    return compare_op_last(op, word, left, &r);
}

cell_t* compare_op_top(int32_t op, const cell_t* word, const cell_t* right) {
    cell_t* left = stack::top_slot - 1;
    bool truth;
    if (compare_inline(op, left, right, &truth)) {
        logic::make_at(left, truth);
        return left;
    }
    return replace_top(compare_fallback(op, word, left, right));
}

cell_t* compare_op_top_int(int32_t op, const cell_t* word, int32_t right) {
    cell_t r = int_cell(right);
    return compare_op_top(op, word, &r);
}

// --- blocks ----------------------------------------------------------------------

cell_t* series_nav(int32_t code, const cell_t* word, const cell_t* series) {
    if (type_of(series) != TYPE_block || interpreter::general_path_only) [[unlikely]]
        return call_through_frame(TYPE_action, static_cast<uint32_t>(nav_action(code) - 1), word,
                                  series, nullptr);
    // As the actions do it, a position past the tail included.
    int32_t index = block::head_index(series);
    int32_t total = static_cast<int32_t>(alloc::buffer(series->data2)->used() >> 4);
    cell_t r = *series;
    switch (code) {
    case nav::LENGTH_Q:
        integer::make_at(&r, index > total ? 0 : total - (index < 0 ? 0 : index));
        break;
    case nav::INDEX_Q: integer::make_at(&r, index + 1); break;
    case nav::HEAD_Q: logic::make_at(&r, index == 0); break;
    case nav::TAIL_Q: logic::make_at(&r, index >= total); break;
    case nav::NEXT:
        if (index < total) block::set_head_index(&r, index + 1);
        break;
    case nav::BACK:
        if (index > 0) block::set_head_index(&r, index - 1);
        break;
    case nav::HEAD: block::set_head_index(&r, 0); break;
    case nav::TAIL: block::set_head_index(&r, total); break;
    default: fire(err::not_done);
    }
    return stack::push(&r);
}

cell_t* path_pick(const cell_t* word, const cell_t* value, int32_t index) {
    if (type_of(value) == TYPE_block && !interpreter::general_path_only) [[likely]]
        return stack::push(pick_inline(value, index));
    return interpreter::pick_through_path(word, value, index);
}

}  // namespace zuv::actions
