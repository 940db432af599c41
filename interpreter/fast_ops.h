// Integer arithmetic and comparison without a call: when both operands of
// an operator (or both arguments of the action or native behind it) are
// integers, the interpreter computes the result in place. An operation whose
// result does not fit an integer is left to the action, which gives its float.
#pragma once

#include <cstdint>

#include "datatypes/integer.h"
#include "datatypes/op.h"
#include "runtime/cell.h"

namespace zuv::interpreter {

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
    FAST_GREATER,
    FAST_LESSER_EQUAL,
    FAST_GREATER_EQUAL
};

// The operation an action or native stands for when both its arguments are
// integers.
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
        default: return FAST_NONE;
        }
    case TYPE_native:
        // equal? (25) to greater-or-equal? (31)
        if (index >= 24 && index <= 30) return static_cast<fast_op>(FAST_EQUAL + (index - 24));
        return FAST_NONE;
    default: return FAST_NONE;
    }
}
inline fast_op fast_op_of(const cell_t* op) { return fast_op_of(op::wrapped_type(op), op->data1); }

// Computes left op right into left; false when the result does not fit (the
// action then runs and gives its float).
[[gnu::always_inline]] inline bool fast_compute(fast_op op, cell_t* left, int32_t r) {
    int32_t l = integer::get(left);
    int32_t v;
    bool b;
    switch (op) {
    case FAST_ADD:
        if (__builtin_add_overflow(l, r, &v)) return false;
        integer::make_at(left, v);
        return true;
    case FAST_SUBTRACT:
        if (__builtin_sub_overflow(l, r, &v)) return false;
        integer::make_at(left, v);
        return true;
    case FAST_MULTIPLY:
        if (__builtin_mul_overflow(l, r, &v)) return false;
        integer::make_at(left, v);
        return true;
    case FAST_AND: integer::make_at(left, l & r); return true;
    case FAST_OR: integer::make_at(left, l | r); return true;
    case FAST_XOR: integer::make_at(left, l ^ r); return true;
    case FAST_EQUAL:
    case FAST_STRICT_EQUAL: b = l == r; break;
    case FAST_NOT_EQUAL: b = l != r; break;
    case FAST_LESSER: b = l < r; break;
    case FAST_GREATER: b = l > r; break;
    case FAST_LESSER_EQUAL: b = l <= r; break;
    case FAST_GREATER_EQUAL: b = l >= r; break;
    default: return false;
    }
    left->header = TYPE_logic;
    left->data1 = b ? 1u : 0u;
    return true;
}

}  // namespace zuv::interpreter
