// Conversion between decimal text and binary64 doubles.
//
// Both directions round correctly: text is read to the nearest double (ties
// to even) and a double is written with the shortest digits that read back
// to the same bits, or with at most a requested number of significant
// digits. The standard library's to_chars/from_chars do the digit work; this
// module owns the calling contracts around them: the special texts of the
// infinities, NaN and zero, and where the formatter switches to exponent
// notation.
//
// Results come back by value, so a caller never holds text that the next
// call overwrites. No operation raises an error: text out of range reads as
// an infinity or zero, and callers learn of characters left over only from
// the `unused` count of strtod.
#pragma once

#include <cstdint>

namespace zuv::dtoa {

// Decimal exponents that no finite double has, marking a special result.
constexpr int32_t EXPONENT_SPECIAL = 9999;  // an infinity or NaN
constexpr int32_t EXPONENT_ZERO = 9998;  // +0.0 or -0.0

// The digits d1...dn of a double, with value = 0.d1...dn x 10^exponent.
// buffer[0] is "-" so that a negative result can be shown by stepping back
// one byte: digits() starts at buffer + 1, signed_digits() at buffer when
// negative. For a special result (exponent 9998 or 9999) text() is the
// constant text of that value instead ("1.#INF", "-1.#INF", "1.#NaN", "0.0",
// "-0", ...).
struct digits_t {
    char buffer[32];
    const char* special;  // nullptr unless exponent >= EXPONENT_ZERO
    int32_t exponent;
    int32_t count;
    bool negative;

    const char* digits() const { return buffer + 1; }
    const char* text() const { return special ? special : (negative ? buffer : buffer + 1); }
};

// A finished, NUL-terminated text.
struct text_t {
    char chars[48];
    int32_t length;

    const char* c_str() const { return chars; }
};

// Reads the number in [start, end): an optional sign, digits with an
// optional point, an optional exponent ("e" or "E", optional sign, digits),
// or the special forms "1.#INF" and "1.#NaN" (case of the letter free). The
// value is multiplied by 10^extra_exponent (-2 reads a percentage). The
// text needs no terminator; the caller has checked its syntax. unused, when
// given, receives the count of characters after the last one read. A
// negative text keeps its sign also when the value is zero (-0.0, or an
// underflow such as -1e-400), as the formatter writes it.
double strtod(const char* start, const char* end, int32_t extra_exponent,
              int32_t* unused = nullptr);

// The digits of d: precision <= 0 gives the shortest digits that read back
// to d, precision > 0 at most that many significant digits (rounded to
// nearest, ties to even). Trailing zeros are removed. point chooses "0.0"
// over "0" for a zero. single (with precision <= 0) takes d as a float32
// element and gives the shortest digits that read back to the same float32
// (at most 9): the double's own shortest digits would show the widening.
digits_t dtoa(double d, int32_t precision, bool point, bool single = false);

// The text that the number forms start from: plain notation for decimal
// exponents -6 to 17 (0.0000001 ... 100000000000000000.0), exponent notation
// ("1.5e300", "1.0e-8") outside. point adds ".0" where the text would end in
// a point or a single digit before the exponent; without it the point goes.
text_t format(double d, int32_t precision, bool point, bool single = false);
// The shortest digits of d laid out as format lays them out (no ".0"), the
// decimal point moved shift places to the right: the text of d x 10^shift
// that strtod with an extra exponent of -shift reads back as d exactly,
// which the double d x 10^shift itself may not. single as for dtoa.
text_t format_scaled(double d, int32_t shift, bool single = false);

}  // namespace zuv::dtoa
