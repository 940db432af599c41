// Literal scanners used by conversions of text to numbers and tuples. They
// read strings of any character unit directly, without the token loop.
#include <cmath>
#include <limits>
#include <string>

#include "lexer/lexer.h"
#include "runtime/dtoa.h"

namespace zuv::lexer {
namespace {

constexpr int32_t MAX_FLOAT_TEXT = 312;

inline uint32_t char_at(const void* text, int32_t i, int32_t unit) {
    switch (unit) {
    case 2: return static_cast<const uint16_t*>(text)[i];
    case 4: return static_cast<const uint32_t*>(text)[i];
    default: return static_cast<const uint8_t*>(text)[i];
    }
}

// The float syntax machine: classes other, sign, digit, exponent, dot,
// apostrophe, then the end column. 9 accepts, 10 rejects.
constexpr uint8_t float_machine[11][7] = {
    {10, 0, 1, 10, 4, 10, 10},  {10, 10, 1, 6, 5, 2, 9},      {10, 10, 1, 10, 10, 10, 9},
    {10, 10, 3, 6, 10, 4, 9},   {10, 10, 3, 10, 10, 10, 9},   {10, 10, 3, 10, 10, 10, 9},
    {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10},  {10, 10, 8, 10, 10, 10, 9},
    {9, 9, 9, 9, 9, 9, 9},      {10, 10, 10, 10, 10, 10, 10},
};

int float_class(uint8_t c) {
    if (c == '+' || c == '-') return 1;
    if (c >= '0' && c <= '9') return 2;
    if (c == 'e' || c == 'E') return 3;
    if (c == '.') return 4;
    if (c == '\'') return 5;
    return 0;
}

}  // namespace

bool float_syntax_q(const uint8_t* text, int32_t count) {
    if (count > MAX_FLOAT_TEXT) return false;
    int state = 0;
    for (int32_t i = 0; i < count; ++i) state = float_machine[state][float_class(text[i])];
    return float_machine[state][6] == 9;
}

int32_t scan_integer(const void* text, int32_t count, int32_t unit, int32_t* error) {
    *error = 0;
    int32_t i = 0;
    bool negative = false;
    if (count > 0) {
        uint32_t c = char_at(text, 0, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    // Accumulated as a magnitude, so that -2147483648 reads without overflow.
    int64_t magnitude = 0;
    const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    for (; i < count; ++i) {
        uint32_t c = char_at(text, i, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = -1;
            return 0;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) {
            *error = -2;
            return 0;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

double scan_float(const void* text, int32_t count, int32_t unit, int32_t* error) {
    *error = -1;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (count < 0 || count > MAX_FLOAT_TEXT) return nan;
    std::string bytes;
    bytes.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        uint32_t c = char_at(text, i, unit);
        if (c >= 0x80) return nan;
        bytes.push_back(c == ',' ? '.' : static_cast<char>(c));
    }
    if (!float_syntax_q(reinterpret_cast<const uint8_t*>(bytes.data()),
                        static_cast<int32_t>(bytes.size())))
        return nan;
    std::string digits;
    for (char c : bytes)
        if (c != '\'') digits.push_back(c);
    // The syntax check lets through what cannot convert (a lone ".", repeated
    // signs); the conversion must then read every character.
    int32_t unused = 0;
    double d = dtoa::strtod(digits.data(), digits.data() + digits.size(), 0, &unused);
    if (unused != 0 || digits.find_first_of("0123456789") == std::string::npos) return nan;
    *error = 0;
    return d;
}

int32_t scan_tuple_bytes(const void* text, int32_t count, int32_t unit, uint8_t bytes[12]) {
    int32_t n = 0;
    int32_t value = 0;
    bool digits = false;
    for (int32_t i = 0; i <= count; ++i) {
        uint32_t c = i < count ? char_at(text, i, unit) : '.';
        if (c == '.') {
            // Every component needs a digit; so does the text as a whole.
            if (!digits || n == 12) return -1;
            bytes[n++] = static_cast<uint8_t>(value);
            value = 0;
            digits = false;
            continue;
        }
        // Characters other than digits are rejected, not read by their code.
        if (c < '0' || c > '9') return -1;
        value = value * 10 + static_cast<int32_t>(c - '0');
        if (value > 255) return -1;
        digits = true;
    }
    return n;
}

bool split_money(const void* text, int32_t count, int32_t unit, money_text_t* out) {
    *out = money_text_t{};
    int32_t i = 0;
    auto at = [&](int32_t k) { return k < count ? char_at(text, k, unit) : 0u; };
    if (at(0) == '+' || at(0) == '-') out->negative = at(i++) == '-';
    if (at(i) != '$') {
        for (int32_t k = 0; k < 3; k++) {
            uint32_t c = at(i + k) | 0x20;
            if (c < 'a' || c > 'z') return false;
            out->code[k] = static_cast<char>(at(i + k));
        }
        i += 3;
    }
    if (at(i++) != '$') return false;
    // Integer digits: a "'" only between two digits.
    bool digit_before = false;
    int32_t digits = 0;
    for (; i < count; i++) {
        uint32_t c = at(i);
        if (c == '\'') {
            if (!digit_before || !(at(i + 1) >= '0' && at(i + 1) <= '9')) return false;
            digit_before = false;
            continue;
        }
        if (c < '0' || c > '9') break;
        digit_before = true;
        digits++;
        if (out->whole_count == 0 && c == '0') continue;
        if (out->whole_count == 17) return false;
        out->whole[out->whole_count++] = static_cast<char>(c);
    }
    if (digits == 0) return false;
    if (i == count) return true;
    if (at(i) != '.' && at(i) != ',') return false;
    for (i++; i < count; i++) {
        uint32_t c = at(i);
        if (c < '0' || c > '9' || out->fraction_count == 5) return false;
        out->fraction[out->fraction_count++] = static_cast<char>(c);
    }
    return out->fraction_count > 0;
}

}  // namespace zuv::lexer
