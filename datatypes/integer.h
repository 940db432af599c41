// integer!: the 32-bit signed integer.
//
// The cell: the value in word 2 (two's complement); words 1 and 3 are not
// used and the constructors leave them as they were. char! (datatypes/char.h)
// shares the layout.
//
// The arithmetic kernel never wraps: add, subtract and multiply that
// overflow 32 bits turn the result into a float! of the same operation on
// doubles, and an inexact division gives a float! quotient. The operations
// that have no float fallback (absolute, negate, -2147483648 / -1, rounding
// past the range) raise math `overflow`.
//
// Mixed arithmetic is decided by the second operand's type: float-row types
// go to the float arithmetic, the point and pair types receive the operands
// swapped and run their own entry, and anything unknown raises invalid-type.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv {

// Operation codes of the arithmetic workers, shared by every numeric type.
namespace math_op {
constexpr int32_t ADD = 0, SUBTRACT = 1, MULTIPLY = 2, DIVIDE = 3, REMAINDER = 4, OR = 5, AND = 6,
                  XOR = 7;
}

namespace integer {

// Decimal text of a value, by value (no shared buffer).
struct number_text {
    char text[12];
    int32_t length;
    const char* c_str() const { return text; }
};

// Replaces the type (flags stay) and word 2.
inline cell_t* make_at(cell_t* cell, int32_t value) {
    cell->data2 = static_cast<uint32_t>(value);
    cell::set_type(cell, TYPE_integer);
    return cell;
}
inline int32_t get(const cell_t* cell) { return static_cast<int32_t>(cell->data2); }
cell_t* make_in(cell_t* block, int32_t value);
cell_t* push(int32_t value);
cell_t* box(int32_t value);  // the current call's result slot, header written whole

inline int32_t sign(int32_t value) { return (value > 0) - (value < 0); }
// -2147483648 raises overflow.
int32_t abs(int32_t value);
// Above 2147483647.0, below -2147483648.0, or NaN.
bool float_out_of_range_q(const cell_t* value);
// A double as an integer, truncated toward zero; out of range (or NaN)
// raises type-limit with integer!.
int32_t from_float(double d);
number_text form_signed(int32_t value);

// The kernel: codes of math_op. Overflowing add/subtract/multiply and an
// inexact divide turn *result into a float! and return 0; divide with no
// result cell truncates. The integer result goes to word 2 of result.
int32_t do_math_op(int32_t left, int32_t right, int32_t code, cell_t* result);
// Operands in the first two argument slots, result in the first.
void do_math(int32_t code);
// Exact power for exponent >= 0; false (result untouched) on overflow.
bool int_power(int32_t base, int32_t exponent, int32_t* result);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void absolute();
void add();
void divide();
void multiply();
cell_t* negate(cell_t* value);
void power();
void remainder();
cell_t* round(cell_t* value, cell_t* scale, round_options_t how);
void subtract();
bool even_q(cell_t* value);
bool odd_q(cell_t* value);
void and_t();
cell_t* complement(cell_t* value);
void or_t();
void xor_t();

// Shared by the numeric types. The called word is the current frame's.
[[noreturn]] void fire_not_related(int32_t type);  // not-related: the called word, type's datatype
[[noreturn]] void fire_invalid_type(const cell_t* value);  // invalid-type: value's datatype
[[noreturn]] void fire_bad_to_arg(int32_t type, const cell_t* spec);
// Runs the frame action of code from the row of type (the operands are
// already in the first two slots); invalid-type with value2 when the type
// has no such entry.
void run_type_math(int32_t type, int32_t code, const cell_t* value2);
// The characters of an any-string value from its head, NUL-terminated in
// out; -1 when one is not ASCII or they do not fit in room - 1.
int32_t read_ascii(cell_t* text, char* out, int32_t room);

// Registers integer! (registration order table).
void init();

}  // namespace integer
}  // namespace zuv
