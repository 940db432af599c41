// The fast paths: arithmetic and comparison of integers (and arithmetic of
// floats), block navigation and indexed picks without a call. Each routine
// handles those cases inline, with no frame, no allocation and nothing on
// the argument stack beyond its one result cell, and falls back to the full
// call for every other case: a native frame named by the given word (the
// operator's or function's), the operands pushed and checked as a call
// checks them, and the action's or native's entry, so results and errors
// are exactly theirs.
//
// The interpreter is their user: an operator whose value wraps add,
// subtract, multiply, divide, and~, or~, xor~ or one of the seven comparison natives
// goes through math_op_top or compare_op_top while nothing is traced (in
// library code nothing is), and a path that picks from a block by an
// integer through pick_inline. Under ZUV_NO_FAST_PATHS every routine takes
// its fallback.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/op.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::interpreter {

// The operations with an inline case, as one contiguous code: what an
// action or native stands for on the fast paths.
enum fast_op : int32_t {
    FAST_NONE,
    FAST_ADD,
    FAST_SUBTRACT,
    FAST_MULTIPLY,
    FAST_AND,
    FAST_OR,
    FAST_XOR,
    FAST_EQUAL,
    FAST_NOT_EQUAL,
    FAST_STRICT_EQUAL,
    FAST_LESSER,
    FAST_LESSER_EQUAL,
    FAST_GREATER,
    FAST_GREATER_EQUAL,
    // Integers only, and not by zero or INT32_MIN by -1 (the action raises):
    // no routine stands for it, so the operator is called for the rest.
    FAST_REMAINDER,
    // Floats, an integer and a float, or integers (an inexact quotient is
    // the float of it); not an integer by zero or INT32_MIN by -1 (the
    // action raises). No routine stands for it either.
    FAST_DIVIDE
};
constexpr bool fast_math_q(fast_op f) { return f <= FAST_XOR; }
// The seven comparisons, whose codes are cmp::EQUAL to cmp::GREATER_EQUAL
// in the same order.
constexpr bool fast_compare_q(fast_op f) { return f >= FAST_EQUAL && f <= FAST_GREATER_EQUAL; }
// The operations fast_compute makes on floats.
constexpr bool float_math_q(fast_op f) {
    return (f >= FAST_ADD && f <= FAST_MULTIPLY) || f == FAST_DIVIDE;
}
// A float operation of float_math_q: the plain double operation, as the
// float action computes it.
[[gnu::always_inline]] inline double float_compute(fast_op f, double l, double r) {
    return f == FAST_ADD ? l + r : f == FAST_SUBTRACT ? l - r : f != FAST_DIVIDE ? l * r : l / r;
}

namespace native_number {
#define ZUV_NATIVE(number, name, word, spec) constexpr uint32_t name = number;
#define ZUV_PLANNED(number, name, word, spec)
#include "natives/natives.def"
#undef ZUV_NATIVE
#undef ZUV_PLANNED
}  // namespace native_number

inline fast_op fast_op_of(uint8_t type, uint32_t index) {
    switch (type) {
    case TYPE_action:
        switch (index + 1) {
        case ACT_add: return FAST_ADD;
        case ACT_subtract: return FAST_SUBTRACT;
        case ACT_multiply: return FAST_MULTIPLY;
        case ACT_and_t: return FAST_AND;
        case ACT_or_t: return FAST_OR;
        case ACT_xor_t: return FAST_XOR;
        case ACT_remainder: return FAST_REMAINDER;
        case ACT_divide: return FAST_DIVIDE;
        default: return FAST_NONE;
        }
    case TYPE_native:
        switch (index + 1) {
        case native_number::equal_q: return FAST_EQUAL;
        case native_number::not_equal_q: return FAST_NOT_EQUAL;
        case native_number::strict_equal_q: return FAST_STRICT_EQUAL;
        case native_number::lesser_q: return FAST_LESSER;
        case native_number::lesser_or_equal_q: return FAST_LESSER_EQUAL;
        case native_number::greater_q: return FAST_GREATER;
        case native_number::greater_or_equal_q: return FAST_GREATER_EQUAL;
        default: return FAST_NONE;
        }
    default: return FAST_NONE;
    }
}
inline fast_op fast_op_of(const cell_t* op) { return fast_op_of(op::wrapped_type(op), op->data1); }

// The comparison f (fast_compare_q) of two values, not both integers, by the
// left one's type's quiet compare (datatypes/registry.h): its logic! result
// into left. False, having changed nothing, where that type has none, where
// the right value is one an operator would call or refuse (a function,
// op!, unset!), where the compare asks for the call, and for an ordering of
// values that cannot be ordered: the comparison native's call then answers
// and raises as it does, in its frame. With ZUV_NO_FAST_PATHS always false.
[[gnu::noinline]] bool compare_values(fast_op f, cell_t* left, const cell_t* right);

// The inline case of every fast path: left op right into left when both are
// integer! (a sum, difference or product that does not fit 32 bits is the
// float of the exact result, as the actions give it), or both float! for
// add, subtract and multiply; a comparison of other values by
// compare_values. False for every other case: the action's or native's.
// right is a value: a caller holding a cell of code has seen it inert.
[[gnu::always_inline]] inline bool fast_compute(fast_op f, cell_t* left, const cell_t* right) {
    uint8_t lt = type_of(left);
    uint8_t rt = type_of(right);
    if (lt != rt) {
        // An integer and a float: the sum, difference, product or quotient
        // of the two as floats, which the integer's own math gives as well.
        bool mixed =
            (lt == TYPE_integer && rt == TYPE_float_) || (lt == TYPE_float_ && rt == TYPE_integer);
        if (!mixed || !float_math_q(f)) return fast_compare_q(f) && compare_values(f, left, right);
        double l =
            lt == TYPE_integer ? static_cast<double>(integer::get(left)) : cell::get_float(left);
        double r =
            rt == TYPE_integer ? static_cast<double>(integer::get(right)) : cell::get_float(right);
        left->header = TYPE_float_;
        cell::put_float(left, float_compute(f, l, r));
        return true;
    }
    if (lt == TYPE_integer) [[likely]] {
        int32_t l = integer::get(left);
        int32_t r = integer::get(right);
        int32_t v;
        double wide;
        bool b;
        switch (f) {
        case FAST_ADD:
            if (!__builtin_add_overflow(l, r, &v)) break;
            wide = static_cast<double>(l) + static_cast<double>(r);
            goto as_float;
        case FAST_SUBTRACT:
            if (!__builtin_sub_overflow(l, r, &v)) break;
            wide = static_cast<double>(l) - static_cast<double>(r);
            goto as_float;
        case FAST_MULTIPLY:
            if (!__builtin_mul_overflow(l, r, &v)) break;
            wide = static_cast<double>(l) * static_cast<double>(r);
            goto as_float;
        case FAST_AND: v = l & r; break;
        case FAST_OR: v = l | r; break;
        case FAST_XOR: v = l ^ r; break;
        case FAST_EQUAL:
        case FAST_STRICT_EQUAL: b = l == r; goto as_logic;
        case FAST_NOT_EQUAL: b = l != r; goto as_logic;
        case FAST_LESSER: b = l < r; goto as_logic;
        case FAST_LESSER_EQUAL: b = !(r < l); goto as_logic;
        case FAST_GREATER: b = r < l; goto as_logic;
        case FAST_GREATER_EQUAL: b = !(l < r); goto as_logic;
        case FAST_REMAINDER:
            if (r == 0 || (l == INT32_MIN && r == -1)) return false;
            v = l % r;
            break;
        case FAST_DIVIDE:
            if (r == 0 || (l == INT32_MIN && r == -1)) return false;
            if (l % r == 0) {
                v = l / r;
                break;
            }
            wide = static_cast<double>(l) / static_cast<double>(r);
            goto as_float;
        default: return false;
        }
        integer::make_at(left, v);
        return true;
    as_float:
        left->header = TYPE_float_;
        cell::put_float(left, wide);
        return true;
    as_logic:
        left->header = TYPE_logic;
        left->data1 = b ? 1u : 0u;
        return true;
    }
    // Division apart: the sums and products of every float chain pay no
    // compare for it.
    if (lt == TYPE_float_ && f <= FAST_MULTIPLY) {
        double l = cell::get_float(left);
        double r = cell::get_float(right);
        left->header = TYPE_float_;
        cell::put_float(left, f == FAST_ADD ? l + r : f == FAST_SUBTRACT ? l - r : l * r);
        return true;
    }
    if (lt == TYPE_float_ && f == FAST_DIVIDE) {
        cell::put_float(left, cell::get_float(left) / cell::get_float(right));
        return true;
    }
    return fast_compare_q(f) && compare_values(f, left, right);
}

// fast_compute's integer case for plans: l op r into result, which holds a
// copy of the left operand (an integer!), leaving it as fast_compute leaves
// its left cell. False when a sum, difference or product does not fit 32
// bits (fast_compute makes its float), and for anything that is not an
// operation: f comes from a plan's node, and a bad one must fall back to
// the operator's own path, never jump outside the switch.
// truthy, when given, gets whether the result is true as a condition (every
// integer is), so a caller that tests it need not read the cell back.
[[gnu::always_inline]] inline bool fast_integers(fast_op f, cell_t* result, int32_t l, int32_t r,
                                                 bool* truthy = nullptr) {
    int32_t v;
    bool b;
    switch (f) {
    case FAST_ADD:
        if (__builtin_add_overflow(l, r, &v)) return false;
        break;
    case FAST_SUBTRACT:
        if (__builtin_sub_overflow(l, r, &v)) return false;
        break;
    case FAST_MULTIPLY:
        if (__builtin_mul_overflow(l, r, &v)) return false;
        break;
    case FAST_AND: v = l & r; break;
    case FAST_OR: v = l | r; break;
    case FAST_XOR: v = l ^ r; break;
    case FAST_EQUAL:
    case FAST_STRICT_EQUAL: b = l == r; goto as_logic;
    case FAST_NOT_EQUAL: b = l != r; goto as_logic;
    case FAST_LESSER: b = l < r; goto as_logic;
    case FAST_LESSER_EQUAL: b = !(r < l); goto as_logic;
    case FAST_GREATER: b = r < l; goto as_logic;
    case FAST_GREATER_EQUAL: b = !(l < r); goto as_logic;
    case FAST_REMAINDER:
        if (r == 0 || (l == INT32_MIN && r == -1)) return false;
        v = l % r;
        break;
    case FAST_DIVIDE:
        // An inexact quotient is a float: fast_compute's.
        if (r == 0 || (l == INT32_MIN && r == -1) || l % r != 0) return false;
        v = l / r;
        break;
    default: return false;
    }
    // The type is integer! already: its flags stay, as set_type keeps them.
    result->data2 = static_cast<uint32_t>(v);
    if (truthy != nullptr) *truthy = true;
    return true;
as_logic:
    result->header = TYPE_logic;
    result->data1 = b ? 1u : 0u;
    if (truthy != nullptr) *truthy = b;
    return true;
}

// fast_compute's float case for plans, result holding a copy of the left
// operand, of the right operand's type.
[[gnu::always_inline]] inline bool fast_floats(fast_op f, cell_t* result, const cell_t* right) {
    if (type_of(result) != TYPE_float_ || !float_math_q(f)) return false;
    double l = cell::get_float(result);
    double r = cell::get_float(right);
    result->header = TYPE_float_;
    cell::put_float(result, float_compute(f, l, r));
    return true;
}

}  // namespace zuv::interpreter

namespace zuv::actions {

// Operation codes of math_op (3 and 4 are not assigned).
namespace math {
constexpr int32_t ADD = 0, SUBTRACT = 1, MULTIPLY = 2, OR = 5, AND = 6, XOR = 7;
}
// The comparison codes of compare_op are cmp::EQUAL to cmp::GREATER_EQUAL.
// Navigation codes of series_nav.
namespace nav {
constexpr int32_t LENGTH_Q = 1, INDEX_Q = 2, HEAD_Q = 3, TAIL_Q = 4, NEXT = 5, BACK = 6, HEAD = 7,
                  TAIL = 8;
}

// The cell a pick of block by index reaches, as the pick action finds it:
// index 1 is the cell at the block's position, a negative index counts back
// from it (-1 the cell before), 0 and anything outside the series none.
// Valid until the next allocation.
[[gnu::always_inline]] inline const cell_t* pick_inline(const cell_t* block, int32_t index) {
    int64_t at =
        static_cast<int64_t>(static_cast<int32_t>(block->data1)) + index + (index < 0 ? 0 : -1);
    series_buffer_t* s = alloc::buffer(block->data2);
    if (index == 0 || at < 0 || at >= (s->used() >> 4)) return &none_value;
    return s->head_cell() + at;
}

// The routine codes of a fast operation (math:: for FAST_ADD to FAST_XOR,
// cmp:: for the comparisons) and back.
constexpr int32_t routine_code(interpreter::fast_op f) {
    constexpr int32_t math_codes[7] = {-1,        math::ADD, math::SUBTRACT, math::MULTIPLY,
                                       math::AND, math::OR,  math::XOR};
    return interpreter::fast_math_q(f) ? math_codes[f] : f - interpreter::FAST_EQUAL;
}

// --- the routines ------------------------------------------------------------
// word names the fallback's frame. Pushed results are cells of the argument
// stack, returned; a "top" variant takes its left operand from the last
// pushed cell and leaves its result there. Operands may point anywhere
// (they are copied before anything can move them).

cell_t* math_op(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right);
cell_t* math_op_int(int32_t op, const cell_t* word, const cell_t* left, int32_t right);
cell_t* math_op_top(int32_t op, const cell_t* word, const cell_t* right);
cell_t* math_op_top_int(int32_t op, const cell_t* word, int32_t right);

cell_t* compare_op(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right);
cell_t* compare_op_int(int32_t op, const cell_t* word, const cell_t* left, int32_t right);
// The truth (xor invert) with nothing left on the stack.
bool compare_op_flag(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right,
                     bool invert);
bool compare_op_int_flag(int32_t op, const cell_t* word, const cell_t* left, int32_t right,
                         bool invert);
// The logic! result stored in the current frame's result slot, its truth returned.
bool compare_op_last(int32_t op, const cell_t* word, const cell_t* left, const cell_t* right);
bool compare_op_last_int(int32_t op, const cell_t* word, const cell_t* left, int32_t right);
cell_t* compare_op_top(int32_t op, const cell_t* word, const cell_t* right);
cell_t* compare_op_top_int(int32_t op, const cell_t* word, int32_t right);

// length?, index?, head?, tail?, next, back, head or tail (nav::) of series.
cell_t* series_nav(int32_t code, const cell_t* word, const cell_t* series);
// value/index as path evaluation gets it.
cell_t* path_pick(const cell_t* word, const cell_t* value, int32_t index);

}  // namespace zuv::actions
