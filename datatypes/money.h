// money!: an exact decimal amount with an optional currency, held whole in
// the cell.
//
// The cell: header bit 14 the sign (a zero may carry either sign, so every
// sign test goes through signum); byte 4 the currency, 0 for none, else the
// 1-based position of its code in system/locale/currencies/list; bytes 5-15
// 22 packed decimal digits, high nibble first, digit 1 the most significant.
// Digits 1-17 are the integer part and 18-22 five fraction places: the
// amount is a count of hundred-thousandths below 10^22.
//
// The arithmetic is exact: results keep five places, cut toward zero, and
// an amount that needs more than 17 integer digits raises type-limit.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::money {

constexpr uint32_t SIGN_FLAG = 1u << 14;
constexpr int32_t DIGITS = 22;
constexpr int32_t FRACTION_DIGITS = 5;
constexpr int32_t INTEGER_DIGITS = DIGITS - FRACTION_DIGITS;
constexpr int32_t DIGIT_BYTES = 11;

// A magnitude in hundred-thousandths of a unit.
using amount_t = unsigned __int128;

inline uint8_t* digits_of(cell_t* c) { return reinterpret_cast<uint8_t*>(c) + 5; }
inline const uint8_t* digits_of(const cell_t* c) { return reinterpret_cast<const uint8_t*>(c) + 5; }

inline bool sign_q(const cell_t* c) { return (c->header & SIGN_FLAG) != 0; }
inline void set_sign(cell_t* c, bool negative) {
    c->header = negative ? c->header | SIGN_FLAG : c->header & ~SIGN_FLAG;
}
inline int32_t currency_of(const cell_t* c) { return reinterpret_cast<const uint8_t*>(c)[4]; }
inline void set_currency(cell_t* c, int32_t index) {
    reinterpret_cast<uint8_t*>(c)[4] = static_cast<uint8_t>(index);
}

amount_t get_amount(const cell_t* c);
void put_amount(cell_t* c, amount_t amount);

// -1, 0 or 1; 0 whenever all digits are zero, whatever the sign bit.
int32_t signum(const cell_t* value);
inline bool zero_q(const cell_t* value) { return signum(value) == 0; }
inline bool positive_q(const cell_t* value) { return signum(value) > 0; }
inline bool negative_q(const cell_t* value) { return signum(value) < 0; }

// Position (1-based) of a code in the currency list, comparing without case;
// -1 when absent.
int32_t find_currency(int32_t symbol);
// The same for a code's text (NUL-terminated), making no symbol.
int32_t find_currency_code(const char* code);
// The code word of a currency index into out; false when the list has no
// such position.
bool currency_word(int32_t index, cell_t* out);
// Digits from the first non-zero one to digit 22, at least 1.
int32_t significant_digits(const uint8_t* digits);

cell_t* make_at(cell_t* cell, bool negative, int32_t currency, const uint8_t* digits);
// A money cell of an amount (below 10^22).
cell_t* make_amount(cell_t* cell, bool negative, int32_t currency, amount_t amount);
cell_t* push(bool negative, int32_t currency, amount_t amount);
// From the parts of a literal: the code (3 letters, nullptr for none), the
// integer digits and the fraction digits as ASCII (apostrophes skipped,
// fraction digits past the fifth dropped). nullptr when the code is not a
// currency of the list.
cell_t* from_text(cell_t* cell, bool negative, const char* code, const char* whole,
                  int32_t whole_count, const char* fraction, int32_t fraction_count);
cell_t* from_integer(cell_t* cell, int32_t value);
// The integer part with the sign; type-limit when it needs over 32 bits.
int32_t to_integer(const cell_t* value);
// bad-make-arg for infinities, NaN, magnitudes from 1e17 and non-zero ones
// below 1e-5; strict also refuses more than five places.
cell_t* from_float(cell_t* cell, double d, bool strict);
double to_float(const cell_t* value);
inline bool float_overflow_q(double d) { return d >= 1e17 || d <= -1e17; }
inline bool float_underflow_q(double d) { return d != 0.0 && d < 1e-5 && d > -1e-5; }

// The arithmetic worker (math_op codes 0-4): operands in the first two
// argument slots, either may be the money one; the result in the first.
void do_math(int32_t code);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
cell_t* random(cell_t* value, bool seed, bool secure, bool only);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
void absolute();
void add();
void divide();
void multiply();
cell_t* negate(cell_t* value);
void remainder();
cell_t* round(cell_t* value, cell_t* scale, round_options_t how);
void subtract();
bool even_q(cell_t* value);
bool odd_q(cell_t* value);
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);

// Registers money! (registration order table).
void init();

}  // namespace zuv::money
