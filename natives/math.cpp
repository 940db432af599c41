// The math natives: sign tests, zero? and NaN?, max and min, shift, to-hex,
// the trigonometric functions, the logarithms, exp and square-root.
//
// Each works on the first argument slot in place and leaves its result there.
// Degree arguments of sine, cosine and tangent are folded into the quadrant
// nearest the origin first, so that angles on the axes give exact results
// (sine 180 is 0.0, tangent 90 is infinite) instead of rounding noise.
#include <cmath>
#include <cstdint>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "natives/natives.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;
constexpr double EPSILON = 2.220446049250313e-16;

inline bool float_row_q(uint8_t t) {
    return t == TYPE_float_ || t == TYPE_percent || t == TYPE_time;
}
inline bool plain_number_q(uint8_t t) {
    return t == TYPE_integer || t == TYPE_float_ || t == TYPE_percent;
}

[[noreturn, gnu::cold]] void fire_expect(int32_t number, const cell_t* value, const char* arg) {
    cell_t fn = *word_of(number);
    cell_t type;
    datatype::make_at(&type, type_of(value));
    cell_t a = word::load(arg);
    fire(err::expect_arg, &fn, &type, &a);
}

inline void set_logic(bool value) {
    logic::make_at(stack::arguments, value);
    stack::keep();
}

inline void set_integer(int32_t value) {
    integer::make_at(stack::arguments, value);
    stack::keep();
}

inline void set_float(double value) {
    float_::make_at(stack::arguments, value);
    stack::keep();
}

// An integer! becomes a float! of the same value; a percent! keeps its
// stored value and becomes a float!.
inline double float_arg(cell_t* cell) {
    if (type_of(cell) == TYPE_integer)
        float_::make_at(cell, static_cast<double>(integer::get(cell)));
    else cell::set_type(cell, TYPE_float_);
    return float_::get(cell);
}

// Sign of a number argument (-1, 0, 1); NaN counts as 0.
int32_t sign_of(int32_t number, const cell_t* value) {
    uint8_t t = type_of(value);
    if (t == TYPE_integer) return integer::sign(integer::get(value));
    if (float_row_q(t)) {
        double d = float_::get(value);
        return (d > 0.0) - (d < 0.0);
    }
    if (t == TYPE_money) return money::signum(value);
    fire_expect(number, value, "number");
}

// --- max and min ------------------------------------------------------------------

inline bool nan_number_q(const cell_t* c) {
    uint8_t t = type_of(c);
    return (t == TYPE_float_ || t == TYPE_percent) && std::isnan(float_::get(c));
}

inline bool compound_q(uint8_t t) {
    return t == TYPE_pair || t == TYPE_point2d || t == TYPE_point3d || t == TYPE_tuple;
}

inline int32_t pick_int(int32_t a, int32_t b, bool max) {
    return max ? (a < b ? b : a) : (b < a ? b : a);
}

// Single precision; a NaN in b wins.
inline float pick_float(float a, float b, bool max) {
    if (std::isnan(b)) return b;
    return max ? (a < b ? b : a) : (b < a ? b : a);
}

// The coordinate a number gives a point: single precision.
float number_as_float(const cell_t* c) {
    return type_of(c) == TYPE_integer ? static_cast<float>(integer::get(c))
                                      : static_cast<float>(float_::get(c));
}

// Combines compound a with b in place; false when the pair of types has no
// component-wise meaning (the comparison decides then).
bool combine(cell_t* a, const cell_t* b, bool max) {
    uint8_t ta = type_of(a), tb = type_of(b);
    if (ta == TYPE_pair) {
        if (tb == TYPE_float_ || tb == TYPE_percent) {
            double d = float_::get(b);
            if (!integer::float_out_of_range_q(b) && std::isfinite(d)) {
                int32_t n = static_cast<int32_t>(d);  // truncated toward zero
                pair::make_at(a, pick_int(pair::get_x(a), n, max),
                              pick_int(pair::get_y(a), n, max));
                return true;
            }
            // Too big for a pair: combined as a point of that float on both axes.
            cell_t p;
            point2d::make_at(&p, static_cast<float>(d), static_cast<float>(d));
            pair::to_point2d(a);
            return combine(a, &p, max);
        }
        if (tb == TYPE_integer) {
            int32_t n = integer::get(b);
            pair::make_at(a, pick_int(pair::get_x(a), n, max), pick_int(pair::get_y(a), n, max));
            return true;
        }
        if (tb == TYPE_pair) {
            pair::make_at(a, pick_int(pair::get_x(a), pair::get_x(b), max),
                          pick_int(pair::get_y(a), pair::get_y(b), max));
            return true;
        }
        if (tb == TYPE_point2d) {
            pair::to_point2d(a);
            return combine(a, b, max);
        }
        return false;
    }
    if (ta == TYPE_point2d || ta == TYPE_point3d) {
        float bx, by, bz;
        bool has_z = true;
        if (plain_number_q(tb)) {
            bx = by = bz = number_as_float(b);
        } else if (tb == TYPE_pair) {
            bx = static_cast<float>(pair::get_x(b));
            by = static_cast<float>(pair::get_y(b));
            bz = 0.0f;
            has_z = false;  // a pair has no z: the point keeps its own
        } else if (tb == ta) {
            bx = point3d::get_x(b);
            by = point3d::get_y(b);
            bz = ta == TYPE_point3d ? point3d::get_z(b) : 0.0f;
        } else {
            return false;
        }
        float x = pick_float(point3d::get_x(a), bx, max);
        float y = pick_float(point3d::get_y(a), by, max);
        if (ta == TYPE_point2d) {
            point2d::make_at(a, x, y);
        } else {
            float z = has_z ? pick_float(point3d::get_z(a), bz, max) : point3d::get_z(a);
            point3d::make_at(a, x, y, z);
        }
        return true;
    }
    if (ta == TYPE_tuple) {
        uint8_t* bytes = tuple::bytes_of(a);
        int32_t n = tuple::length_of(a);
        if (plain_number_q(tb)) {
            int32_t v = tb == TYPE_integer ? integer::get(b) : integer::from_float(float_::get(b));
            v = v < 0 ? 0 : (v > 255 ? 255 : v);
            for (int32_t i = 0; i < n; i++)
                bytes[i] = static_cast<uint8_t>(pick_int(bytes[i], v, max));
            return true;
        }
        if (tb == TYPE_tuple && tuple::length_of(b) == n) {
            const uint8_t* other = tuple::bytes_of(b);
            for (int32_t i = 0; i < n; i++)
                bytes[i] = static_cast<uint8_t>(pick_int(bytes[i], other[i], max));
            return true;
        }
    }
    return false;
}

void max_min(bool max) {
    cell_t* a = stack::arguments;
    cell_t* b = a + 1;
    uint8_t ta = type_of(a), tb = type_of(b);
    if (plain_number_q(ta) && plain_number_q(tb)) {
        if (nan_number_q(a)) {
            stack::keep();
            return;
        }
        if (nan_number_q(b)) {
            stack::set_last_keep(b);
            return;
        }
    }
    if (plain_number_q(ta) && compound_q(tb)) {
        cell_t t = *a;
        *a = *b;
        *b = t;
    }
    if (compound_q(type_of(a)) && combine(a, b, max)) {
        a->header &= ~FLAG_NEW_LINE;
        stack::keep();
        return;
    }
    bool lesser = actions::compare(a, b, actions::cmp::LESSER);
    if (max ? lesser : !lesser) stack::set_last_keep(b);
    else stack::keep();
}

// --- angles -------------------------------------------------------------------------

namespace fold {
constexpr int TANGENT = 0, COSINE = 1, SINE = 2;
}

double degrees_to_radians(double x, int variant) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x = x >= 0.0 ? x - 360.0 : x + 360.0;
    if (x > 90.0 || x < -90.0) {
        if (variant == fold::TANGENT) x = x >= 0.0 ? x - 180.0 : x + 180.0;
        else if (variant == fold::SINE) x = x >= 0.0 ? 180.0 - x : -180.0 - x;
    }
    return x * PI / 180.0;
}

// The angle argument in radians.
inline double angle_arg(const int32_t* refinements, int variant) {
    double x = float_arg(stack::arguments);
    return refinements[0] >= 0 ? x : degrees_to_radians(x, variant);
}

inline double snap_zero(double d) { return std::fabs(d) < EPSILON ? 0.0 : d; }

// asin, acos, atan results in degrees unless /radians.
inline void inverse_result(double r, const int32_t* refinements) {
    set_float(refinements[0] >= 0 ? r : r * 180.0 / PI);
}

int32_t shift_value(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    if (left) return bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) << bits);
    if (logical) return bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) >> bits);
    if (bits > 31) return data < 0 ? -1 : 0;
    return data >> bits;  // arithmetic on every target this builds for
}

}  // namespace

// --- sign tests ---------------------------------------------------------------------

void negative_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::negative_q, refinements);
    set_logic(sign_of(49, stack::arguments) < 0);
}

void positive_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::positive_q, refinements);
    set_logic(sign_of(50, stack::arguments) > 0);
}

void sign_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::sign_q, refinements);
    set_integer(sign_of(97, stack::arguments));
}

void zero_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::zero_q, refinements);
    const cell_t* v = stack::arguments;
    bool zero = false;
    switch (type_of(v)) {
    case TYPE_char_:
    case TYPE_integer: zero = integer::get(v) == 0; break;
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_time: zero = float_::get(v) == 0.0; break;
    case TYPE_pair: zero = pair::get_x(v) == 0 && pair::get_y(v) == 0; break;
    case TYPE_tuple: zero = tuple::zero_q(v); break;
    case TYPE_money: zero = money::zero_q(v); break;
    case TYPE_point2d: zero = point2d::get_x(v) == 0.0f && point2d::get_y(v) == 0.0f; break;
    case TYPE_point3d:
        zero = point3d::get_x(v) == 0.0f && point3d::get_y(v) == 0.0f && point3d::get_z(v) == 0.0f;
        break;
    default: break;
    }
    set_logic(zero);
}

void NaN_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::NaN_q, refinements);
    // Only the float-holding types carry a double; an integer is never NaN
    // (its cell's other words are not part of its value).
    const cell_t* v = stack::arguments;
    set_logic(float_row_q(type_of(v)) && std::isnan(float_::get(v)));
}

// --- max, min -----------------------------------------------------------------------

void max(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::max, refinements);
    max_min(true);
}

void min(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::min, refinements);
    max_min(false);
}

// --- bits -----------------------------------------------------------------------------

void shift(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::shift, refinements);
    cell_t* a = stack::arguments;
    set_integer(shift_value(integer::get(a), integer::get(a + 1), refinements[0] >= 0,
                            refinements[1] >= 0));
}

void to_hex(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::to_hex, refinements);
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    uint32_t v = static_cast<uint32_t>(integer::get(stack::arguments));
    char text[9];
    for (int i = 7; i >= 0; i--) {
        text[i] = DIGITS[v & 15];
        v >>= 4;
    }
    text[8] = '\0';
    int32_t keep = 8;
    if (refinements[0] >= 0) {
        cell_t* length = stack::arguments + refinements[0];
        int32_t n = integer::get(length);
        if (n <= 0) {
            cell_t l = *length;
            fire(err::out_of_range, &l);
        }
        if (n < 8) keep = n;
    }
    issue::make_at(stack::arguments, text + (8 - keep));
    stack::keep();
}

// --- trigonometry -----------------------------------------------------------------------

void sine(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::sine, refinements);
    set_float(snap_zero(std::sin(angle_arg(refinements, fold::SINE))));
}

void cosine(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::cosine, refinements);
    set_float(snap_zero(std::cos(angle_arg(refinements, fold::COSINE))));
}

void tangent(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::tangent, refinements);
    double x = angle_arg(refinements, fold::TANGENT);
    constexpr double HALF_PI = PI / 2.0;
    double inf = std::numeric_limits<double>::infinity();
    set_float(x == HALF_PI ? inf : (x == -HALF_PI ? -inf : std::tan(x)));
}

void arcsine(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::arcsine, refinements);
    inverse_result(std::asin(float_arg(stack::arguments)), refinements);
}

void arccosine(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::arccosine, refinements);
    inverse_result(std::acos(float_arg(stack::arguments)), refinements);
}

void arctangent(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::arctangent, refinements);
    inverse_result(std::atan(float_arg(stack::arguments)), refinements);
}

void arctangent2(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::arctangent2, refinements);
    double y = float_arg(stack::arguments);
    double x = float_arg(stack::arguments + 1);
    inverse_result(std::atan2(y, x), refinements);
}

// --- logarithms and powers -------------------------------------------------------------------

void log_2(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::log_2, refinements);
    set_float(std::log(float_arg(stack::arguments)) / LN_2);
}

void log_10(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::log_10, refinements);
    set_float(std::log10(float_arg(stack::arguments)));
}

void log_e(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::log_e, refinements);
    set_float(std::log(float_arg(stack::arguments)));
}

void exp(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::exp, refinements);
    set_float(std::pow(E, float_arg(stack::arguments)));
}

void square_root(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::square_root, refinements);
    set_float(std::sqrt(float_arg(stack::arguments)));
}

}  // namespace zuv::natives
