#include "datatypes/money.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/dtoa.h"
#include "runtime/fire.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::money {

namespace {

constexpr uint64_t TEN4 = 10000ULL;
constexpr uint64_t UNIT = 100000ULL;  // hundred-thousandths in one unit

// Powers of ten up to 10^38, the last that fits.
struct power_table {
    amount_t value[39];
    constexpr power_table() : value() {
        value[0] = 1;
        for (int i = 1; i < 39; i++) value[i] = value[i - 1] * 10;
    }
};
constexpr power_table powers;
inline amount_t pow10(int32_t n) { return powers.value[n]; }
constexpr amount_t LIMIT = powers.value[DIGITS];  // first amount that does not fit

// Divisions by constants stay in 64 bits when the amount does.
inline amount_t divide_small(amount_t v, uint64_t d) {
    return (v >> 64) == 0 ? amount_t(static_cast<uint64_t>(v) / d) : v / d;
}

// Each packed byte as its two-digit value.
struct bcd_table {
    uint8_t value[256];
    constexpr bcd_table() : value() {
        for (int i = 0; i < 256; i++) value[i] = static_cast<uint8_t>((i >> 4) * 10 + (i & 15));
    }
};
constexpr bcd_table bcd;

cell_t datatype_cell(int32_t type) {
    cell_t c{};
    datatype::make_at(&c, type);
    return c;
}

[[noreturn]] void fire_type_limit() {
    cell_t t = datatype_cell(TYPE_money);
    fire(err::type_limit, &t);
}

[[noreturn]] void fire_bad_make(const cell_t* spec) {
    cell_t t = datatype_cell(TYPE_money);
    fire(err::bad_make_arg, &t, spec);
}

[[noreturn]] void fire_bad_make_float(double d) {
    cell_t f{};
    float_::make_at(&f, d);
    fire_bad_make(&f);
}

int32_t digit_count(amount_t v) {
    int32_t n = 1;
    while (n < 39 && v >= pow10(n)) n++;
    return n;
}

// A field of an object value by predefined word; nullptr when the value is
// no object or has no such field.
const cell_t* field_of(const cell_t* obj, words::id w) {
    if (!obj || type_of(obj) != TYPE_object) return nullptr;
    return _context::get_in(static_cast<int32_t>(words::symbol_of(w)), object::context_of(obj));
}

// system/locale/currencies/list, or nullptr before the system object exists.
const cell_t* currency_list() {
    if (_context::global_node == 0 || words::symbol_of(words::id::system) == 0) return nullptr;
    const cell_t* system = _context::get_in(
        static_cast<int32_t>(words::symbol_of(words::id::system)), _context::global_node);
    const cell_t* list = field_of(
        field_of(field_of(system, words::id::locale), words::id::currencies), words::id::list);
    return list && type_of(list) == TYPE_block ? list : nullptr;
}

// system/options/money-digits as places to write: 2 when unset or no
// integer, 5 at most.
int32_t fraction_places(bool all) {
    if (all) return FRACTION_DIGITS;
    const cell_t* system =
        _context::global_node == 0
            ? nullptr
            : _context::get_in(static_cast<int32_t>(words::symbol_of(words::id::system)),
                               _context::global_node);
    const cell_t* places = field_of(field_of(system, words::id::options), words::id::money_digits);
    if (!places || type_of(places) != TYPE_integer) return 2;
    int32_t n = integer::get(places);
    return n > FRACTION_DIGITS ? FRACTION_DIGITS : n;
}

// An operand of the arithmetic: magnitude, sign and currency.
struct operand_t {
    amount_t v;
    bool negative;
    int32_t currency;
};

operand_t read(const cell_t* c) {
    amount_t v = get_amount(c);
    return {v, sign_q(c) && v != 0, currency_of(c)};
}

// Any operand type the arithmetic takes, converted; invalid-type otherwise.
operand_t convert(const cell_t* c) {
    cell_t m{};
    switch (type_of(c)) {
    case TYPE_money: return read(c);
    case TYPE_integer: from_integer(&m, integer::get(c)); break;
    case TYPE_float_:
    case TYPE_percent: from_float(&m, float_::get(c), false); break;
    default: integer::fire_invalid_type(c);
    }
    return read(&m);
}

// The amounts are compared by sign, then magnitude.
int32_t compare_amounts(const operand_t& a, const operand_t& b) {
    int32_t sa = a.v == 0 ? 0 : a.negative ? -1 : 1;
    int32_t sb = b.v == 0 ? 0 : b.negative ? -1 : 1;
    if (sa != sb) return sa < sb ? -1 : 1;
    if (a.v == b.v) return 0;
    int32_t r = a.v < b.v ? -1 : 1;
    return sa < 0 ? -r : r;
}

// A symbol's name read in place (asking for it NUL-terminated may allocate).
void name_of(int32_t symbol, const uint8_t** text, int32_t* length) {
    series_buffer_t* s = alloc::buffer(symbol::cell_of(symbol)->data3);
    *text = s->head_ptr();
    *length = s->used();
}

bool name_is(int32_t symbol, const char* code) {
    const uint8_t* text;
    int32_t length;
    name_of(symbol, &text, &length);
    return length == static_cast<int32_t>(std::strlen(code)) &&
           strncasecmp(reinterpret_cast<const char*>(text), code, static_cast<size_t>(length)) == 0;
}

// The code of a currency index into out (at most 3 characters and a NUL);
// false when unknown.
bool currency_text(int32_t index, char out[4]) {
    cell_t w;
    if (index == 0 || !currency_word(index, &w)) return false;
    const uint8_t* text;
    int32_t length;
    name_of(word::symbol_of(&w), &text, &length);
    if (length > 3) length = 3;
    std::memcpy(out, text, static_cast<size_t>(length));
    out[length] = 0;
    return true;
}

}  // namespace

// --- the cell ----------------------------------------------------------------------------

amount_t get_amount(const cell_t* c) {
    // Eight digits at a time in 32 bits, then the 18 leading digits in 64.
    const uint8_t* d = digits_of(c);
    auto eight = [d](int32_t i) {
        return ((bcd.value[d[i]] * 100u + bcd.value[d[i + 1]]) * 100u + bcd.value[d[i + 2]]) *
                   100u +
               bcd.value[d[i + 3]];
    };
    uint64_t high = (bcd.value[d[0]] * 100000000ULL + eight(1)) * 100000000ULL + eight(5);
    uint32_t low = bcd.value[d[9]] * 100u + bcd.value[d[10]];
    return static_cast<amount_t>(high) * TEN4 + low;
}

namespace {

// Each value 0-99 as its packed byte.
struct pack_table {
    uint8_t byte[100];
    constexpr pack_table() : byte() {
        for (int i = 0; i < 100; i++) byte[i] = static_cast<uint8_t>((i / 10) << 4 | i % 10);
    }
};
constexpr pack_table pack;

// Eight digits (below 10^8) into four packed bytes.
inline void pack8(uint8_t* d, uint32_t v) {
    uint32_t high = v / 10000, low = v % 10000;
    d[0] = pack.byte[high / 100];
    d[1] = pack.byte[high % 100];
    d[2] = pack.byte[low / 100];
    d[3] = pack.byte[low % 100];
}

}  // namespace

void put_amount(cell_t* c, amount_t amount) {
    // Digits 1-2, 3-10, 11-18 and 19-22, in 64 and 32 bits.
    uint8_t* d = digits_of(c);
    uint64_t high = static_cast<uint64_t>(divide_small(amount, TEN4));
    uint32_t low = static_cast<uint32_t>(amount - static_cast<amount_t>(high) * TEN4);
    uint64_t top = high / 100000000ULL;
    pack8(d + 5, static_cast<uint32_t>(high % 100000000ULL));
    pack8(d + 1, static_cast<uint32_t>(top % 100000000ULL));
    d[0] = pack.byte[top / 100000000ULL];
    d[9] = pack.byte[low / 100];
    d[10] = pack.byte[low % 100];
}

int32_t signum(const cell_t* value) {
    const uint8_t* d = digits_of(value);
    for (int32_t i = 0; i < DIGIT_BYTES; i++)
        if (d[i]) return sign_q(value) ? -1 : 1;
    return 0;
}

int32_t significant_digits(const uint8_t* digits) {
    for (int32_t n = 1; n <= DIGITS; n++) {
        uint8_t b = digits[(n - 1) / 2];
        if ((n & 1 ? b >> 4 : b & 15) != 0) return DIGITS - n + 1;
    }
    return 1;
}

int32_t find_currency(int32_t symbol) {
    const cell_t* list = currency_list();
    if (!list) return -1;
    cell_t l = *list;
    int32_t n = block::rs_length_q(&l);
    cell_t* items = block::rs_head(&l);
    int32_t wanted = symbol::resolve(symbol);
    for (int32_t i = 0; i < n; i++)
        if (word::any_word_q(type_of(items + i)) &&
            symbol::resolve(word::symbol_of(items + i)) == wanted)
            return i + 1;
    return -1;
}

int32_t find_currency_code(const char* code) {
    const cell_t* list = currency_list();
    if (!list) return -1;
    cell_t l = *list;
    int32_t n = block::rs_length_q(&l);
    cell_t* items = block::rs_head(&l);
    for (int32_t i = 0; i < n; i++)
        if (word::any_word_q(type_of(items + i)) && name_is(word::symbol_of(items + i), code))
            return i + 1;
    return -1;
}

bool currency_word(int32_t index, cell_t* out) {
    const cell_t* list = currency_list();
    if (!list || index < 1) return false;
    cell_t l = *list;
    if (index > block::rs_length_q(&l)) return false;
    const cell_t* w = block::rs_head(&l) + index - 1;
    if (!word::any_word_q(type_of(w))) return false;
    *out = *w;
    cell::set_type(out, TYPE_word);
    cell::clear_new_line(out);
    return true;
}

cell_t* make_at(cell_t* cell, bool negative, int32_t currency, const uint8_t* digits) {
    cell->header = TYPE_unset;
    cell->data1 = cell->data2 = cell->data3 = 0;
    set_currency(cell, currency);
    std::memcpy(digits_of(cell), digits, DIGIT_BYTES);
    cell->header = TYPE_money | (negative ? SIGN_FLAG : 0);
    return cell;
}

cell_t* make_amount(cell_t* cell, bool negative, int32_t currency, amount_t amount) {
    cell_t c{TYPE_money | (negative ? SIGN_FLAG : 0), 0, 0, 0};
    set_currency(&c, currency);
    put_amount(&c, amount);
    *cell = c;
    return cell;
}

cell_t* push(bool negative, int32_t currency, amount_t amount) {
    return make_amount(stack::push_slot(), negative, currency, amount);
}

// --- conversions ---------------------------------------------------------------------------

cell_t* from_text(cell_t* cell, bool negative, const char* code, const char* whole,
                  int32_t whole_count, const char* fraction, int32_t fraction_count) {
    int32_t currency = 0;
    if (code) {
        currency = find_currency_code(code);
        if (currency < 0) return nullptr;
    }
    amount_t v = 0;
    int32_t digits = 0;
    for (int32_t i = 0; i < whole_count; i++) {
        if (whole[i] < '0' || whole[i] > '9') continue;
        if (digits == 0 && whole[i] == '0') continue;
        if (++digits > INTEGER_DIGITS) return nullptr;
        v = v * 10 + static_cast<uint32_t>(whole[i] - '0');
    }
    for (int32_t i = 0; i < FRACTION_DIGITS; i++)
        v = v * 10 + (i < fraction_count ? static_cast<uint32_t>(fraction[i] - '0') : 0);
    return make_amount(cell, negative, currency, v);
}

cell_t* from_integer(cell_t* cell, int32_t value) {
    uint64_t magnitude = value < 0 ? 0ULL - static_cast<uint64_t>(static_cast<int64_t>(value))
                                   : static_cast<uint64_t>(value);
    return make_amount(cell, value < 0, 0, static_cast<amount_t>(magnitude) * UNIT);
}

int32_t to_integer(const cell_t* value) {
    amount_t whole = get_amount(value) / UNIT;
    bool negative = signum(value) < 0;
    if (whole > (negative ? amount_t(2147483648ULL) : amount_t(2147483647ULL))) {
        cell_t t = datatype_cell(TYPE_integer);
        fire(err::type_limit, &t);
    }
    int64_t n = static_cast<int64_t>(whole);
    return static_cast<int32_t>(negative ? -n : n);
}

cell_t* from_float(cell_t* cell, double d, bool strict) {
    if (!std::isfinite(d) || float_underflow_q(d) || float_overflow_q(d)) fire_bad_make_float(d);
    if (d == 0.0) return make_amount(cell, false, 0, 0);
    // The shortest digits that read back as the float: the decimal the
    // float was written as, not its binary expansion.
    dtoa::digits_t t = dtoa::dtoa(std::fabs(d), 0, false);
    amount_t v = 0;
    for (int32_t i = 0; i < t.count; i++) v = v * 10 + static_cast<uint32_t>(t.digits()[i] - '0');
    // value = 0.d1...dn x 10^exponent, so the count of hundred-thousandths
    // is the digits times 10^(exponent - n + 5).
    int32_t shift = t.exponent - t.count + FRACTION_DIGITS;
    if (shift >= 0) {
        v *= pow10(shift);
    } else {
        if (strict) fire_bad_make_float(d);
        v = -shift >= 39 ? 0 : v / pow10(-shift);
    }
    return make_amount(cell, d < 0, 0, v);
}

double to_float(const cell_t* value) {
    amount_t v = get_amount(value);
    if (v == 0) return 0.0;
    char text[32];
    uint64_t whole = static_cast<uint64_t>(v / UNIT);
    uint64_t fraction = static_cast<uint64_t>(v % UNIT);
    int n = std::snprintf(text, sizeof text, "%llu.%05llu", static_cast<unsigned long long>(whole),
                          static_cast<unsigned long long>(fraction));
    int32_t unused = 0;
    double d = dtoa::strtod(text, text + n, 0, &unused);
    if (unused != 0) {
        cell_t t = datatype_cell(TYPE_float_);
        fire(err::bad_to_arg, &t, value);
    }
    return signum(value) < 0 ? -d : d;
}

// --- arithmetic -------------------------------------------------------------------------------

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    bool money1 = type_of(value1) == TYPE_money;
    bool money2 = type_of(value2) == TYPE_money;
    if ((code == math_op::MULTIPLY && money1 && money2) ||
        ((code == math_op::DIVIDE || code == math_op::REMAINDER) && !money1))
        integer::fire_invalid_type(value1);
    if (code > math_op::REMAINDER) integer::fire_invalid_type(money1 ? value1 : value2);
    operand_t a = convert(value1);
    operand_t b = convert(value2);
    if (a.currency && b.currency && a.currency != b.currency)
        fire(err::wrong_denom, value1, value2);
    int32_t currency = b.currency ? b.currency : a.currency;
    amount_t r = 0;
    bool negative = false;
    switch (code) {
    case math_op::ADD:
    case math_op::SUBTRACT: {
        bool b_negative = code == math_op::SUBTRACT ? !b.negative : b.negative;
        if (a.negative == b_negative) {
            r = a.v + b.v;
            negative = a.negative;
            if (r >= LIMIT) fire_type_limit();
        } else if (a.v >= b.v) {
            r = a.v - b.v;
            negative = a.negative;
        } else {
            r = b.v - a.v;
            negative = b_negative;
        }
        break;
    }
    case math_op::MULTIPLY:
        if (a.v == 0 || b.v == 0) break;
        negative = a.negative != b.negative;
        if (digit_count(a.v) + digit_count(b.v) > DIGITS + FRACTION_DIGITS + 1) fire_type_limit();
        r = divide_small(a.v * b.v, UNIT);
        if (r >= LIMIT) fire_type_limit();
        break;
    default: {
        if (b.v == 0) fire(err::zero_divide);
        if (a.v == 0) {
            r = 0;
            negative = a.negative;
            break;
        }
        if (digit_count(a.v) - digit_count(b.v) + 6 > DIGITS) fire_type_limit();
        if (code == math_op::REMAINDER) {
            r = a.v % b.v;
            negative = a.negative;
            break;
        }
        negative = a.negative != b.negative;
        r = a.v * UNIT / b.v;
        if (r >= LIMIT) fire_type_limit();
        if (money1 && money2) {
            cell_t q{};
            make_amount(&q, negative, 0, r);
            float_::make_at(value1, to_float(&q));
            value1->header = TYPE_float_;
            return;
        }
    }
    }
    make_amount(value1, negative && r != 0, currency, r);
}

void add() { do_math(math_op::ADD); }
void subtract() { do_math(math_op::SUBTRACT); }
void multiply() { do_math(math_op::MULTIPLY); }
void divide() { do_math(math_op::DIVIDE); }
void remainder() { do_math(math_op::REMAINDER); }

void absolute() { set_sign(stack::arguments, false); }

cell_t* negate(cell_t* value) {
    set_sign(value, !sign_q(value));
    return value;
}

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    amount_t v = get_amount(value);
    if (v == 0) return value;
    amount_t s = UNIT;
    if (scale) {
        cell_t m{};
        switch (type_of(scale)) {
        case TYPE_money: m = *scale; break;
        case TYPE_integer: from_integer(&m, integer::get(scale)); break;
        case TYPE_float_: from_float(&m, float_::get(scale), true); break;
        default: integer::fire_not_related(type_of(scale));
        }
        s = get_amount(&m);
    }
    if (s == 0) return value;
    amount_t r = v % s;
    // A multiple of the scale is its own rounding in every mode.
    if (r == 0) return value;
    bool negative = sign_q(value);
    amount_t lower = v - r;
    amount_t upper = v + (s - r);
    bool tie = 2 * r == s;
    bool nearest_up = r >= s - r;
    bool up;
    if (how.down) up = false;
    else if (how.floor) up = negative;
    else if (how.ceiling) up = !negative;
    else if (how.even) up = tie ? (lower / s) % 2 != 0 : nearest_up;
    else if (how.half_down) up = tie ? false : nearest_up;
    else if (how.half_ceiling) up = tie ? !negative : nearest_up;
    else up = nearest_up;
    amount_t result = up ? upper : lower;
    if (result >= LIMIT) fire_type_limit();
    put_amount(value, result);
    return value;
}

// Digit 17, the last integer digit, is the high nibble of byte 8.
bool odd_q(cell_t* value) { return (digits_of(value)[(INTEGER_DIGITS - 1) / 2] >> 4) % 2 != 0; }
bool even_q(cell_t* value) { return !odd_q(value); }

// --- comparison ------------------------------------------------------------------------------

namespace {

// The compare entry; quiet: cmp::ASK_CALL where it would raise.
int32_t compare_with(cell_t* value1, cell_t* value2, int32_t op, bool quiet) {
    uint8_t t2 = type_of(value2);
    bool strict = op == 2 || op == 9 || op == 12;
    if (strict && t2 != TYPE_money) return 1;
    operand_t a = read(value1);
    operand_t b{};
    switch (t2) {
    case TYPE_money: {
        b = read(value2);
        bool incompatible = a.currency && b.currency && a.currency != b.currency;
        if (op == 12 || op == 9) {
            if (a.currency != b.currency) return 1;
        } else if (op >= 3 && op <= 6) {
            if (incompatible && quiet) return actions::cmp::ASK_CALL;
            if (incompatible) fire(err::wrong_denom, value1, value2);
        } else if (op == 7 || op == 8) {
            if (a.currency != b.currency) {
                if (!a.currency || !b.currency) return a.currency ? 1 : -1;
                char ca[4], cb[4];
                int c = currency_text(a.currency, ca) && currency_text(b.currency, cb)
                            ? strcasecmp(ca, cb)
                            : a.currency - b.currency;
                if (c != 0) return c < 0 ? -1 : 1;
            }
        } else if (incompatible) {
            return 1;
        }
        break;
    }
    case TYPE_integer: b = convert(value2); break;
    case TYPE_float_: {
        // The float is read as an amount, which raises for more places than
        // an amount keeps.
        if (quiet) return actions::cmp::ASK_CALL;
        double d = float_::get(value2);
        if (std::isnan(d)) {
            // As between floats: no ordering test holds, NaN sorts last.
            if (op >= 3 && op <= 6) return op <= 4 ? 1 : -1;
            return op == 7 || op == 8 ? -1 : 1;
        }
        // A float past the money range lies beyond every amount on its
        // side of zero; one below the smallest unit lies between zero
        // and that unit.
        if (float_overflow_q(d)) return d > 0 ? -1 : 1;
        if (float_underflow_q(d)) {
            int32_t s = a.v == 0 ? 0 : a.negative ? -1 : 1;
            if (d > 0) return s > 0 ? 1 : -1;
            return s < 0 ? -1 : 1;
        }
        cell_t m{};
        from_float(&m, d, true);
        b = read(&m);
        break;
    }
    default: return -2;
    }
    return compare_amounts(a, b);
}

int32_t compare_quiet(cell_t* value1, cell_t* value2, int32_t op) {
    return compare_with(value1, value2, op, true);
}

}  // namespace

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    return compare_with(value1, value2, op, false);
}

// --- make and to ------------------------------------------------------------------------------

cell_t* to(cell_t* proto, cell_t* spec, int32_t type) {
    cell_t result{};
    switch (type_of(spec)) {
    case TYPE_money: result = *spec; break;
    case TYPE_integer: from_integer(&result, integer::get(spec)); break;
    case TYPE_float_: from_float(&result, float_::get(spec), true); break;
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: {
        cell_t text = *spec;
        lexer::money_text_t parts;
        if (!lexer::split_money(string::rs_head(&text), string::rs_length_q(&text),
                                static_cast<int32_t>(string::buffer_of(&text)->unit()), &parts) ||
            !from_text(&result, parts.negative, parts.code[0] ? parts.code : nullptr, parts.whole,
                       parts.whole_count, parts.fraction, parts.fraction_count))
            integer::fire_bad_to_arg(type, spec);
        break;
    }
    default: integer::fire_bad_to_arg(type, spec);
    }
    *proto = result;
    return proto;
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    uint8_t t = type_of(spec);
    if (t == TYPE_word || t == TYPE_lit_word) {
        int32_t currency = find_currency(word::symbol_of(spec));
        if (currency < 0) fire_bad_make(spec);
        make_amount(proto, false, currency, 0);
        return proto;
    }
    if (t != TYPE_block && t != TYPE_paren) return to(proto, spec, type);
    cell_t b = *spec;
    int32_t n = block::rs_length_q(&b);
    if (n < 1 || n > 3) fire_bad_make(spec);
    // Copied out: a conversion below may allocate.
    cell_t items[3];
    std::memcpy(items, block::rs_head(&b), sizeof(cell_t) * static_cast<size_t>(n));
    int32_t i = 0;
    int32_t currency = 0;
    if (word::any_word_q(type_of(items))) {
        currency = find_currency(word::symbol_of(items));
        if (currency < 0) fire_bad_make(spec);
        i = 1;
    }
    if (i >= n) fire_bad_make(spec);
    cell_t result{};
    switch (type_of(items + i)) {
    case TYPE_integer: {
        from_integer(&result, integer::get(items + i));
        if (i + 1 < n) {
            if (i + 2 != n || type_of(items + i + 1) != TYPE_integer) fire_bad_make(spec);
            int32_t extra = integer::get(items + i + 1);
            if (extra < 0 || extra > 99999) fire_bad_make(spec);
            amount_t v = get_amount(&result) + static_cast<uint32_t>(extra);
            if (v >= LIMIT) fire_type_limit();
            put_amount(&result, v);
        }
        break;
    }
    case TYPE_float_:
        if (i + 1 != n) fire_bad_make(spec);
        from_float(&result, float_::get(items + i), true);
        break;
    default: fire_bad_make(spec);
    }
    set_currency(&result, currency);
    *proto = result;
    return proto;
}

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    if (seed) {
        random::srand(static_cast<int32_t>(value->data1 ^ value->data2 ^ value->data3 ^
                                           (sign_q(value) ? 1u : 0u)));
        value->header = TYPE_unset;
        return value;
    }
    auto draw = [secure](int32_t n) {
        return static_cast<int32_t>(
            static_cast<uint32_t>(secure ? random::rand_secure() : random::rand()) %
            static_cast<uint32_t>(n));
    };
    uint8_t* d = digits_of(value);
    int32_t first = DIGITS - significant_digits(d) + 1;
    bool free = false;
    for (int32_t n = first; n <= DIGITS; n++) {
        uint8_t& byte = d[(n - 1) / 2];
        int32_t current = n & 1 ? byte >> 4 : byte & 15;
        int32_t digit;
        if (free) {
            digit = draw(10);
        } else if (current == 0) {
            // Nothing lies below a zero digit: redrawing could only spin.
            digit = 0;
        } else {
            // Drawing the digit itself again keeps the amount's leading
            // digits; mostly it is redrawn, so that lower amounts win.
            do digit = draw(current + 1);
            while (digit == current && draw(1000) != 0);
            free = digit < current;
        }
        byte = static_cast<uint8_t>(n & 1 ? (byte & 0x0F) | digit << 4 : (byte & 0xF0) | digit);
    }
    return value;
}

// --- text ---------------------------------------------------------------------------------------

namespace {

int32_t write_text(const cell_t* value, cell_t* buffer, int32_t limit, bool groups, bool all) {
    char text[64];
    int32_t n = 0;
    amount_t v = get_amount(value);
    if (sign_q(value) && v != 0) text[n++] = '-';
    char code[4];
    if (currency_text(currency_of(value), code))
        for (int32_t i = 0; code[i]; i++) text[n++] = code[i];
    text[n++] = '$';
    char whole[24];
    int32_t w =
        std::snprintf(whole, sizeof whole, "%llu", static_cast<unsigned long long>(v / UNIT));
    for (int32_t i = 0; i < w; i++) {
        if (groups && i > 0 && (w - i) % 3 == 0) text[n++] = '\'';
        text[n++] = whole[i];
    }
    int32_t places = fraction_places(all);
    if (places >= 1) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, "%05llu",
                      static_cast<unsigned long long>(v % UNIT));
        text[n++] = '.';
        for (int32_t i = 0; i < places; i++) text[n++] = fraction[i];
    }
    string::append_bytes(buffer, text, n);
    return limit - n;
}

}  // namespace

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    return write_text(value, buffer, limit, true, false);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return write_text(value, buffer, how.limit, false, how.all);
}

// --- access
// ----------------------------------------------------------------------------------------

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    if (index == 1) {
        cell_t w;
        if (!currency_word(currency_of(value), &w)) return none::push();
        return stack::push(&w);
    }
    if (index == 2) {
        cell_t* r = stack::push(value);
        set_currency(r, 0);
        return r;
    }
    fire(err::out_of_range, index_cell);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    int32_t index = -1;
    if (type_of(element) == TYPE_integer) {
        index = integer::get(element);
    } else if (word::any_word_q(type_of(element))) {
        int32_t s = symbol::resolve(word::symbol_of(element));
        if (s == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::code))))
            index = 1;
        else if (s == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::amount))))
            index = 2;
    }
    if (index != 1 && index != 2) fire(err::invalid_path, path, element);
    if (value) fire(err::bad_path_set, path, element);
    return pick(parent, index, element);
}

void init() {
    datatype::record_t r(TYPE_money, 0, "money!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare_quiet;
    r.own<ACT_absolute>(absolute);
    r.own<ACT_add>(add);
    r.own<ACT_divide>(divide);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_negate>(negate);
    r.own<ACT_remainder>(remainder);
    r.own<ACT_round>(round);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_even_q>(even_q);
    r.own<ACT_odd_q>(odd_q);
    r.own<ACT_pick>(pick);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::money
