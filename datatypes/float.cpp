#include "datatypes/float.h"

#include <cctype>
#include <cfloat>
#include <cstdio>
#include <limits>

#include "datatypes/action_types.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/dtoa.h"
#include "runtime/fire.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace zuv::float_ {

bool pretty = true;
bool full = false;

namespace {

constexpr double EPSILON = 2.220446049250313e-16;

inline uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

inline uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

cell_t datatype_cell(int32_t type) {
    cell_t c;
    datatype::make_at(&c, type);
    return c;
}

cell_t called_word() {
    cell_t w;
    call_frame_t* f = stack::get_call();
    word::make_raw(&w, TYPE_word, 0, f ? static_cast<int32_t>(frame::symbol_of(f)) : 0, -1);
    return w;
}

// The double a numeric operand stands for: integer! and char! their value,
// the float row its double.
inline double number_of(const cell_t* c) {
    switch (type_of(c)) {
    case TYPE_integer: return static_cast<double>(static_cast<int32_t>(c->data2));
    case TYPE_char_: return static_cast<double>(c->data2);
    default: return cell::get_float(c);
    }
}

inline void put_text(text_t& t, const char* s) {
    size_t n = std::strlen(s);
    std::memcpy(t.text, s, n + 1);
    t.length = static_cast<int32_t>(n);
}

}  // namespace

// --- module operations ------------------------------------------------------

cell_t* make_in(cell_t* block, double d) {
    cell_t* c = alloc::alloc_tail_value(block);
    cell::begin(c);
    cell::put_float(c, d);
    c->header = TYPE_float_;
    return c;
}

cell_t* push(double d) {
    cell_t* c = stack::push_slot();
    cell::put_float(c, d);
    c->header = TYPE_float_;
    return c;
}

cell_t* box(double d) {
    cell_t* c = stack::arguments;
    cell::put_float(c, d);
    c->header = TYPE_float_;
    return c;
}

bool almost_equal_q(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    // Ordered integers: adjacent doubles differ by one, across zero too.
    auto ordered = [](double d) {
        uint64_t u = bits_of(d);
        return (u >> 63) ? 0 - u : u | (uint64_t{1} << 63);
    };
    uint64_t ma = ordered(a), mb = ordered(b);
    return (ma > mb ? ma - mb : mb - ma) <= 10;
}

bool almost_equal32_q(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    uint32_t ua = bits_of(a), ub = bits_of(b);
    uint32_t ma = ua & 0x7FFFFFFF, mb = ub & 0x7FFFFFFF;
    if (ma < 0x7F7FFFFF && mb < 0x7F7FFFFF) {
        int64_t ia = (ua >> 31) ? -static_cast<int64_t>(ma) : ma;
        int64_t ib = (ub >> 31) ? -static_cast<int64_t>(mb) : mb;
        if (ma == 0 && mb == 0) return true;
        int64_t diff = ia > ib ? ia - ib : ib - ia;
        return diff <= 10;
    }
    return (ua >> 31) == (ub >> 31) && (ma > mb ? ma - mb : mb - ma) < 0x100000;
}

text_t form_float(double d, int32_t kind) {
    text_t t;
    if (std::isnan(d)) {
        put_text(t, "1.#NaN");
        return t;
    }
    if (std::isinf(d)) {
        put_text(t, d > 0 ? "1.#INF" : "-1.#INF");
        return t;
    }
    bool percent = kind == form_kind::SINGLE_PERCENT || kind == form_kind::PERCENT;
    if (pretty && std::fabs(d) < EPSILON) {
        put_text(t, percent ? "0%" : kind == form_kind::COORDINATE ? "0" : "0.0");
        return t;
    }

    // Room for the text plus the ".0" or "%" added below.
    char* s = t.text;
    const int room = static_cast<int>(sizeof t.text) - 3;
    auto print = [&](int precision) {
        return std::snprintf(s, static_cast<size_t>(room), "%.*g", precision, d);
    };
    int n;
    switch (kind) {
    case form_kind::SINGLE:
    case form_kind::SINGLE_PERCENT:
    case form_kind::COORDINATE: n = print(7); break;
    case form_kind::PERCENT: n = print(13); break;
    case form_kind::SECONDS: {
        dtoa::text_t f = dtoa::format(d, 6, false);
        std::memcpy(s, f.chars, static_cast<size_t>(f.length) + 1);
        n = f.length;
        break;
    }
    default: n = print(16); break;
    }

    // A long text that ends in ...01 or ...99 is a binary fraction showing
    // through: print it once more with fewer digits.
    char* e = nullptr;
    for (int attempt = 0;; attempt++) {
        e = static_cast<char*>(std::memchr(s, 'e', static_cast<size_t>(n)));
        int length = e ? static_cast<int>(e - s) : n;
        if (!pretty || attempt > 0) break;
        const char* first = s[0] == '-' ? s + 1 : s;
        int needed = (!e && *first == '0') ? 17 : 16;
        if (length <= needed) break;
        const char* last2 = s + length - 2;
        if (!((last2[0] == '0' && last2[1] == '1') || (last2[0] == '9' && last2[1] == '9'))) break;
        bool short_kind = kind == form_kind::SINGLE || kind == form_kind::SECONDS ||
                          kind == form_kind::COORDINATE;
        n = print(short_kind ? 5 : 14);
    }

    // "1e+020" -> "1e20", "1e-005" -> "1e-5".
    if (e) {
        char* p = e + 1;
        char* q = p;
        if (*q == '+') q++;
        else if (*q == '-') *p++ = *q++;
        while (*q == '0' && q[1] != '\0') q++;
        std::memmove(p, q, std::strlen(q) + 1);
        n = static_cast<int>(std::strlen(s));
    }

    if (percent) {
        s[n++] = '%';
        s[n] = '\0';
    } else if ((kind == form_kind::SINGLE || kind == form_kind::FLOAT) &&
               !std::memchr(s, '.', static_cast<size_t>(n))) {
        char* at = static_cast<char*>(std::memchr(s, 'e', static_cast<size_t>(n)));
        if (!at) at = s + n;
        std::memmove(at + 2, at, static_cast<size_t>(s + n - at) + 1);
        at[0] = '.';
        at[1] = '0';
        n += 2;
    }
    t.length = n;
    return t;
}

double do_math_op(double left, double right, int32_t code) {
    switch (code) {
    case math_op::ADD: return left + right;
    case math_op::SUBTRACT: return left - right;
    case math_op::MULTIPLY: return left * right;
    case math_op::DIVIDE: return left / right;
    case math_op::REMAINDER:
        if (right * 0.0 == 0.0) return std::fmod(left, right);
        if (std::isnan(right)) return right;
        return std::isfinite(left) ? left : std::numeric_limits<double>::quiet_NaN();
    default: {
        cell_t w = called_word();
        cell_t t = datatype_cell(TYPE_float_);
        fire(err::cannot_use, &w, &t);
    }
    }
}

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    uint8_t t1 = type_of(value1);
    uint8_t t2 = type_of(value2);
    switch (t2) {
    case TYPE_integer:
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_time: break;
    case TYPE_char_:
        if (t1 == TYPE_time || t1 == TYPE_percent) integer::fire_invalid_type(value2);
        break;
    case TYPE_pair:
    case TYPE_point2d:
    case TYPE_point3d:
    case TYPE_tuple:
        if (t1 == TYPE_time) integer::fire_invalid_type(value2);
        // The swap below computes value2 op value1: right only for the
        // operations that commute.
        if (code != math_op::ADD && code != math_op::MULTIPLY) integer::fire_not_related(t2);
        {
            cell_t v1 = *value1;
            *value1 = *value2;
            *value2 = v1;
            if (t1 == TYPE_integer) {
                value2->header = TYPE_float_;
                cell::put_float(value2, static_cast<double>(static_cast<int32_t>(v1.data2)));
            }
        }
        integer::run_type_math(t2, code, value1);
        return;
    case TYPE_money:
        if (t1 == TYPE_time || code > math_op::REMAINDER) integer::fire_invalid_type(value2);
        money::do_math(code);
        return;
    case TYPE_vector:
        if (t1 == TYPE_time) integer::fire_invalid_type(value2);
        vector::do_math(code);
        return;
    default: integer::fire_invalid_type(value2);
    }

    double left = number_of(value1);
    double right = number_of(value2);
    double result = do_math_op(left, right, code);
    uint8_t type = t1 == TYPE_integer ? static_cast<uint8_t>(TYPE_float_) : t1;
    if ((t1 == TYPE_time) != (t2 == TYPE_time)) type = TYPE_time;
    else if (t1 == TYPE_percent) type = TYPE_percent;
    cell::put_float(value1, result);
    cell::set_type(value1, type);
}

double random_scaled(double max, bool secure) {
    if (!secure) {
        // Draws are 0..2^31-1; reading one as signed would give results of
        // the other sign half the time.
        int32_t r = random::rand() & 0x7FFFFFFF;
        return r / 2147483647.0 * max;
    }
    int32_t r1 = random::rand_secure() & 0x7FFFFFFF;
    int32_t r2 = random::rand_secure() & 0x7FFFFFFF;
    return (r2 + r1 / 2147483647.0) / (2147483648.0 / max);
}

// --- actions ------------------------------------------------------------------

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    double d = 0.0;
    switch (type_of(spec)) {
    case TYPE_char_:
    case TYPE_integer: d = number_of(spec); break;
    case TYPE_time:
    case TYPE_float_:
    case TYPE_percent: d = cell::get_float(spec); break;
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: {
        char text[400];
        int32_t n = integer::read_ascii(spec, text, sizeof text);
        // A number: sign, digits with an optional point, an optional
        // exponent; a percent! target also takes a trailing "%".
        int32_t extra = 0;
        if (n > 0 && type == TYPE_percent && text[n - 1] == '%') {
            n--;
            extra = -2;
        }
        int32_t i = 0, digits = 0;
        if (n > 0 && (text[0] == '+' || text[0] == '-')) i++;
        while (i < n &&
               (std::isdigit(static_cast<unsigned char>(text[i])) || (digits && text[i] == '\''))) {
            digits += text[i] != '\'';
            i++;
        }
        if (i < n && (text[i] == '.' || text[i] == ',')) {
            text[i++] = '.';
            while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) digits++, i++;
        }
        if (digits && i + 1 < n && (text[i] == 'e' || text[i] == 'E')) {
            int32_t j = i + 1;
            if (text[j] == '+' || text[j] == '-') j++;
            int32_t exp_digits = 0;
            while (j < n && std::isdigit(static_cast<unsigned char>(text[j]))) exp_digits++, j++;
            if (exp_digits) i = j;
        }
        if (n <= 0 || digits == 0 || i != n) integer::fire_bad_to_arg(type, spec);
        // Apostrophes group digits; the reader takes digits only.
        char clean[400];
        int32_t k = 0;
        for (int32_t j = 0; j < n; j++)
            if (text[j] != '\'') clean[k++] = text[j];
        d = dtoa::strtod(clean, clean + k, extra);
        break;
    }
    case TYPE_binary: {
        series_buffer_t* s = string::buffer_of(spec);
        int32_t available = s->used() - static_cast<int32_t>(spec->data1);
        const uint8_t* p = s->head_ptr() + spec->data1;
        uint64_t u = 0;
        for (int32_t i = 0; i < available && i < 8; i++) u = u << 8 | p[i];
        std::memcpy(&d, &u, 8);
        break;
    }
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        if (block::rs_length_q(spec) != 2) integer::fire_bad_to_arg(type, spec);
        cell_t* items = block::rs_head(spec);
        for (int i = 0; i < 2; i++) {
            uint8_t t = type_of(items + i);
            if (t != TYPE_integer && t != TYPE_float_)
                integer::fire_bad_to_arg(TYPE_float_, items + i);
        }
        d = number_of(items) * std::pow(10.0, std::trunc(number_of(items + 1)));
        break;
    }
    case TYPE_money: d = money::to_float(spec); break;
    default: integer::fire_bad_to_arg(type, spec);
    }
    proto->header = static_cast<uint32_t>(type);
    cell::put_float(proto, d);
    return proto;
}

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    if (seed) {
        random::srand(static_cast<int32_t>(value->data2 ^ value->data3));
        value->header = TYPE_unset;
        return value;
    }
    cell::put_float(value, random_scaled(cell::get_float(value), secure));
    return value;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    text_t t = form_float(cell::get_float(value), form_kind::FLOAT);
    string::concatenate_literal(buffer, t.text);
    return limit - t.length;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    dtoa::text_t t = dtoa::format(cell::get_float(value), 0, true);
    string::concatenate_literal(buffer, t.chars);
    return how.limit - t.length;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    uint8_t t2 = type_of(value2);
    if ((op == 2 || op == 9 || op == 12) && type_of(value1) != t2) return 1;
    double a = cell::get_float(value1);
    double b;
    switch (t2) {
    case TYPE_integer:
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_time: b = number_of(value2); break;
    case TYPE_money: {
        if (type_of(value1) != TYPE_float_) return -2;
        int32_t r = money::compare(value2, value1, op);
        return r == -2 ? -2 : -r;
    }
    default: return -2;
    }
    switch (op) {
    case 0:
    case 1: return almost_equal_q(a, b) ? 0 : 1;
    case 2: return a == b ? 0 : 1;
    case 9: return bits_of(a) == bits_of(b) ? 0 : 1;
    case 3:
    case 4:
    case 5:
    case 6:
        // Every ordering test with NaN is false.
        if (std::isnan(a) || std::isnan(b)) return op <= 4 ? 1 : -1;
        return (a > b) - (a < b);
    default:
        // Sorting and searching: NaN equals only NaN and sorts last, so
        // it cannot match every number.
        return order(a, b);
    }
}

namespace {

// A money amount reads the float as an amount, which raises for more places
// than an amount keeps: the call decides.
int32_t compare_quiet(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) == TYPE_money) return actions::cmp::ASK_CALL;
    return compare(value1, value2, op);
}

}  // namespace

void absolute() {
    cell_t* v = stack::arguments;
    cell::put_float(v, std::fabs(cell::get_float(v)));
}

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }

cell_t* negate(cell_t* value) {
    cell::put_float(value, 0.0 - cell::get_float(value));
    return value;
}

void power() {
    cell_t* base = stack::arguments;
    cell_t* exponent = base + 1;
    uint8_t te = type_of(exponent);
    if (te != TYPE_integer && te != TYPE_float_) {
        cell_t w = called_word();
        cell_t t = datatype_cell(te);
        fire(err::expect_arg, &w, &t);
    }
    cell::put_float(base, std::pow(cell::get_float(base), number_of(exponent)));
}

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    bool percent = type_of(value) == TYPE_percent;
    double s = percent ? 0.01 : 1.0;
    if (scale) {
        switch (type_of(scale)) {
        case TYPE_money: integer::fire_not_related(TYPE_money);
        case TYPE_integer:
        case TYPE_float_:
        case TYPE_percent:
        case TYPE_time: break;
        default: integer::fire_invalid_type(scale);
        }
        s = std::fabs(number_of(scale));
        if (percent) s /= 100.0;
    }
    double v = cell::get_float(value);
    // A value with no fractional digits at this scale, or a scale of
    // nothing, leaves the value as it is.
    if (s < std::ldexp(std::fabs(v), -53) || s == 0.0) return value;

    double d, f = 1.0;
    int e = 0;
    if (s >= 1.0) {
        d = v / s;
    } else {
        double m = std::frexp(s, &e);
        if (e <= -1022) {
            s = m;
            v = std::ldexp(v, -e);
        } else {
            e = 0;
        }
        f = 1.0 / s;
        d = v * f;
    }

    double a = std::fabs(d);
    double fl = std::floor(a);
    double half = fl + 0.5;
    double toward = d < 0 ? 0.0 - fl : fl;
    double away = d < 0 ? 0.0 - std::ceil(a) : std::ceil(a);
    double n;
    if (how.down) n = toward;
    else if (how.floor) n = std::floor(d);
    else if (how.ceiling) n = std::ceil(d);
    else if (a > half) n = away;
    else if (a < half) n = toward;
    else if (how.even) n = std::fmod(fl, 2.0) >= 1.0 ? away : toward;
    else if (how.half_down) n = toward;
    else if (how.half_ceiling) n = std::ceil(d);
    else n = away;

    double result;
    if (s >= 1.0) {
        result = n * s;
        if (std::fabs(result) == DBL_MAX) fire(err::overflow);
    } else {
        result = std::ldexp(n / f, e);
    }

    if (scale && type_of(scale) == TYPE_integer) {
        // The result must fit an integer! rather than wrap.
        if (!(result < 2147483648.0 && result > -2147483649.0)) fire(err::overflow);
        value->header = (value->header & ~HEADER_TYPE_MASK) | TYPE_integer;
        value->data2 = static_cast<uint32_t>(static_cast<int32_t>(result));
        return value;
    }
    cell::put_float(value, result);
    if (scale) cell::set_type(value, type_of(scale));
    return value;
}

namespace {

// Parity of the whole part; huge values are all even, and values with no
// whole part to speak of (infinities, NaN) raise overflow.
bool odd_whole(double d) {
    if (!std::isfinite(d)) fire(err::overflow);
    return std::fmod(std::trunc(d), 2.0) != 0.0;
}

}  // namespace

bool even_q(cell_t* value) { return !odd_whole(cell::get_float(value)); }
bool odd_q(cell_t* value) { return odd_whole(cell::get_float(value)); }

void init() {
    datatype::record_t r(TYPE_float_, 0, "float!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare_quiet;
    r.own<ACT_absolute>(absolute);
    r.own<ACT_add>(add);
    r.own<ACT_divide>(divide);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_negate>(negate);
    r.own<ACT_power>(power);
    r.own<ACT_remainder>(remainder);
    r.own<ACT_round>(round);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_even_q>(even_q);
    r.own<ACT_odd_q>(odd_q);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::float_
