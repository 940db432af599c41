#include "runtime/dtoa.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace zuv::dtoa {

namespace {

// Digits past this many can only act as a sticky bit for rounding: the
// exact decimal expansion of any halfway point between two doubles has at
// most 767 significant digits.
constexpr int MAX_DIGITS = 780;

// Exponents beyond this already give an infinity or zero whatever the
// digits; clamping keeps a huge written exponent from wrapping.
constexpr int64_t EXPONENT_CLAMP = 100000;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline char lower(char c) { return static_cast<char>(c | 0x20); }

// Length of the case-insensitive match of word at p (all of it or nothing).
int match_word(const char* p, const char* end, const char* word) {
    int n = static_cast<int>(std::strlen(word));
    if (end - p < n) return 0;
    for (int i = 0; i < n; i++)
        if (lower(p[i]) != word[i]) return 0;
    return n;
}

}  // namespace

double strtod(const char* start, const char* end, int32_t extra_exponent, int32_t* unused) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    while (p < end && *p == '0') p++;

    // The significant digits, without the point; exponent10 counts the
    // places the point moves right of the last kept digit.
    char digits[MAX_DIGITS + 2];
    int count = 0;
    bool sticky = false;  // a dropped non-zero digit
    int64_t exponent10 = 0;
    int integer_digits = 0;

    auto take = [&](char c, bool fraction) {
        if (count == 0 && c == '0') {  // still leading zeros
            if (fraction) exponent10--;
            return;
        }
        if (count < MAX_DIGITS) {
            digits[count++] = c;
            if (fraction) exponent10--;
        } else {
            if (c != '0') sticky = true;
            if (!fraction) exponent10++;
        }
    };

    while (p < end && is_digit(*p)) {
        take(*p++, false);
        integer_digits++;
    }
    if (p < end && *p == '.') {
        // "1.#INF" and "1.#NaN": one non-zero digit, then ".#" and a letter.
        if (integer_digits == 1 && count == 1 && end - p >= 3 && p[1] == '#') {
            const char* q = p + 2;
            double special = 0.0;
            int used = 0;
            if (lower(*q) == 'i') {
                special = negative ? -std::numeric_limits<double>::infinity()
                                   : std::numeric_limits<double>::infinity();
                used = match_word(q, end, "inf");
            } else if (lower(*q) == 'n') {
                special = std::numeric_limits<double>::quiet_NaN();
                used = match_word(q, end, "nan");
            }
            if (used || lower(*q) == 'i' || lower(*q) == 'n') {
                if (unused) *unused = static_cast<int32_t>(end - (q + (used ? used : 1)));
                return special;
            }
        }
        p++;
        while (p < end && is_digit(*p)) take(*p++, true);
    }

    if (p + 1 < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (*q == '+' || *q == '-') exp_negative = *q++ == '-';
        int64_t written = 0;
        while (q < end && is_digit(*q)) {
            if (written < EXPONENT_CLAMP) written = written * 10 + (*q - '0');
            q++;
        }
        exponent10 += exp_negative ? -written : written;
        p = q;
    }
    if (unused) *unused = static_cast<int32_t>(end - p);

    if (count == 0) return negative ? -0.0 : 0.0;
    while (count > 1 && digits[count - 1] == '0' && !sticky) {
        count--;
        exponent10++;
    }
    if (sticky) digits[count++] = '1', exponent10--;
    exponent10 += extra_exponent;
    if (exponent10 > EXPONENT_CLAMP) exponent10 = EXPONENT_CLAMP;
    if (exponent10 < -EXPONENT_CLAMP) exponent10 = -EXPONENT_CLAMP;

    char text[MAX_DIGITS + 2 + 16];
    std::memcpy(text, digits, static_cast<size_t>(count));
    char* t = text + count;
    *t++ = 'e';
    t = std::to_chars(t, text + sizeof text, exponent10).ptr;

    double value = 0.0;
    auto result = std::from_chars(text, t, value, std::chars_format::scientific);
    if (result.ec == std::errc::result_out_of_range)
        value = count + exponent10 > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    // The sign stays on a zero too: mold writes -0.0, and load must give it back.
    return negative ? -value : value;
}

digits_t dtoa(double d, int32_t precision, bool point, bool single) {
    digits_t r;
    r.buffer[0] = '-';
    r.special = nullptr;
    r.negative = std::signbit(d);
    r.count = 0;

    if (std::isnan(d)) {
        r.exponent = EXPONENT_SPECIAL;
        r.special = "1.#NaN";
    } else if (std::isinf(d)) {
        r.exponent = EXPONENT_SPECIAL;
        r.special = r.negative ? "-1.#INF" : "1.#INF";
    } else if (d == 0.0) {
        r.exponent = EXPONENT_ZERO;
        r.special = r.negative ? (point ? "-0.0" : "-0") : (point ? "0.0" : "0");
    }
    if (r.special) {
        r.buffer[1] = '\0';
        return r;
    }

    // Scientific notation gives "d.ddde+XX"; the digits and the exponent
    // are read back out of it.
    char sci[48];
    double magnitude = std::fabs(d);
    int digits_wanted = precision > 30 ? 30 : precision;
    std::to_chars_result res;
    if (precision > 0)
        res = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                            digits_wanted - 1);
    else if (single)
        res = std::to_chars(sci, sci + sizeof sci, static_cast<float>(magnitude),
                            std::chars_format::scientific);
    else res = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
    const char* p = sci;
    char* out = r.buffer + 1;
    int n = 0;
    while (p < res.ptr && *p != 'e') {
        if (*p != '.') out[n++] = *p;
        p++;
    }
    int e = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, e);
    while (n > 1 && out[n - 1] == '0') n--;
    out[n] = '\0';
    r.count = n;
    r.exponent = e + 1;
    return r;
}

namespace {

text_t layout(const digits_t& g, bool point) {
    text_t t;
    if (g.special) {
        size_t n = std::strlen(g.special);
        std::memcpy(t.chars, g.special, n + 1);
        t.length = static_cast<int32_t>(n);
        return t;
    }
    char* o = t.chars;
    if (g.negative) *o++ = '-';
    const char* s = g.digits();
    int n = g.count;
    int k = g.exponent;

    if (k > 17 || k < -6) {
        *o++ = s[0];
        if (n > 1) {
            *o++ = '.';
            std::memcpy(o, s + 1, static_cast<size_t>(n - 1));
            o += n - 1;
        } else if (point) {
            *o++ = '.';
            *o++ = '0';
        }
        *o++ = 'e';
        o = std::to_chars(o, t.chars + sizeof t.chars, k - 1).ptr;
    } else if (k <= 0) {
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', static_cast<size_t>(-k));
        o += -k;
        std::memcpy(o, s, static_cast<size_t>(n));
        o += n;
    } else if (n <= k) {
        std::memcpy(o, s, static_cast<size_t>(n));
        o += n;
        std::memset(o, '0', static_cast<size_t>(k - n));
        o += k - n;
        if (point) {
            *o++ = '.';
            *o++ = '0';
        }
    } else {
        std::memcpy(o, s, static_cast<size_t>(k));
        o += k;
        *o++ = '.';
        std::memcpy(o, s + k, static_cast<size_t>(n - k));
        o += n - k;
    }
    *o = '\0';
    t.length = static_cast<int32_t>(o - t.chars);
    return t;
}

}  // namespace

text_t format(double d, int32_t precision, bool point, bool single) {
    return layout(dtoa(d, precision, point, single), point);
}

text_t format_scaled(double d, int32_t shift, bool single) {
    digits_t g = dtoa(d, 0, false, single);
    if (!g.special) g.exponent += shift;
    return layout(g, false);
}

}  // namespace zuv::dtoa
