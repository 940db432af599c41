#include "datatypes/time.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datatypes/action_types.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::time {

namespace {

// Below this the seconds part counts as zero in the text form; it is also
// the nudge that even? and odd? give before taking whole seconds.
constexpr double TINY = 1e-6;

inline void put(cell_t* c, double seconds) {
    c->header = TYPE_time;
    cell::put_float(c, seconds);
}

// Reads "[-]h:m", "[-]h:m:s[.f]" or "[-]m:s.f" (the forms times are written
// in). False when the text is not one of them.
bool scan_time(const char* text, double* seconds) {
    const char* p = text;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    double parts[3];
    int n = 0;
    bool fraction = false;
    while (n < 3) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        char* end;
        parts[n++] = std::strtod(p, &end);  // digits only: checked below
        const char* q = p;
        while (std::isdigit(static_cast<unsigned char>(*q))) q++;
        if (*q == '.') {
            fraction = true;
            q++;
            while (std::isdigit(static_cast<unsigned char>(*q))) q++;
        }
        if (q != end) return false;
        p = q;
        if (*p != ':' || fraction) break;
        p++;
    }
    if (*p != '\0' || n < 2) return false;
    double total;
    if (n == 2 && fraction) total = parts[0] * 60.0 + parts[1];  // m:s.f
    else if (n == 2) total = parts[0] * 3600.0 + parts[1] * 60.0;
    else total = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2];
    *seconds = negative ? -total : total;
    return true;
}

inline bool same_symbol(int32_t a, words::id w) {
    return symbol::resolve(a) == symbol::resolve(words::symbol_of(w));
}

}  // namespace

cell_t* make_in(cell_t* block, double seconds) {
    cell_t* c = alloc::alloc_tail_value(block);
    cell::begin(c);
    put(c, seconds);
    return c;
}

cell_t* push(double seconds) {
    cell_t* c = stack::push_slot();
    put(c, seconds);
    return c;
}

int32_t get_hours(double seconds) {
    return integer::from_float(std::trunc(seconds / SECONDS_PER_HOUR));
}

int32_t get_minutes(double seconds) {
    if (!std::isfinite(seconds)) return 0;  // as the text form writes it
    return static_cast<int32_t>(
        std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
}

double written(double t) {
    double m = std::fabs(t);
    if (!std::isfinite(m)) return t;
    double s = std::fmod(m, SECONDS_PER_MINUTE);
    if (s < TINY) return t;
    float_::text_t f = float_::form_float(s, float_::form_kind::SECONDS);
    // Six digits of 59.9999995 and above read "60": such seconds would load
    // back as a whole minute more, so they are written as that minute.
    if (f.length < 2 || f.text[0] != '6' || f.text[1] != '0') return t;
    m = (std::floor(m / SECONDS_PER_MINUTE) + 1.0) * SECONDS_PER_MINUTE;
    return t < 0 ? -m : m;
}

int32_t serialize(double t, cell_t* buffer, int32_t limit) {
    // Room for the hours of the largest double (309 digits) and the rest.
    char text[384];
    int n = 0;
    t = written(t);
    if (t < 0) {
        text[n++] = '-';
        t = std::fabs(t);
    }
    double hours = std::floor(t / SECONDS_PER_HOUR);
    if (hours <= 2147483647.0) {
        integer::number_text h = integer::form_signed(static_cast<int32_t>(hours));
        std::memcpy(text + n, h.text, static_cast<size_t>(h.length));
        n += h.length;
    } else {
        // Hours past the integer range (or not finite) still get written.
        n += std::snprintf(text + n, sizeof text - 64, "%.0f", hours);
    }
    int32_t minutes = std::isfinite(t)
                          ? static_cast<int32_t>(std::floor(std::fmod(t, SECONDS_PER_HOUR) / 60.0))
                          : 0;
    n += std::snprintf(text + n, 8, ":%02d:", minutes);
    double s = std::isfinite(t) ? std::fmod(t, SECONDS_PER_MINUTE) : 0.0;
    if (s < TINY) {
        text[n++] = '0';
        text[n++] = '0';
    } else {
        float_::text_t f = float_::form_float(s, float_::form_kind::SECONDS);
        if (f.length == 1 || f.text[1] == '.') text[n++] = '0';
        std::memcpy(text + n, f.text, static_cast<size_t>(f.length));
        n += f.length;
    }
    text[n] = '\0';
    string::concatenate_literal(buffer, text);
    return limit - n;
}

int32_t field_index(const cell_t* word, const cell_t* context) {
    if (word::any_word_q(type_of(word))) {
        int32_t s = word::symbol_of(word);
        if (same_symbol(s, words::id::hour)) return 1;
        if (same_symbol(s, words::id::minute)) return 2;
        if (same_symbol(s, words::id::second)) return 3;
    }
    if (type_of(context) == TYPE_time) fire(err::cannot_use, word, context);
    return -1;
}

cell_t* pick_field(const cell_t* value, int32_t index) {
    double t = cell::get_float(value);
    switch (index) {
    case 1: return integer::push(get_hours(t));
    case 2: return integer::push(get_minutes(t));
    default: return float_::push(std::fmod(t, SECONDS_PER_MINUTE));
    }
}

double set_field(double t, int32_t index, const cell_t* v) {
    uint8_t tv = type_of(v);
    if (tv != TYPE_integer && !(index == 3 && tv == TYPE_float_)) fire(err::invalid_arg, v);
    double x = tv == TYPE_integer ? static_cast<double>(static_cast<int32_t>(v->data2))
                                  : cell::get_float(v);
    // A negative time changes its magnitude's part and stays negative; the
    // parts of a negative time read as negative hours and seconds, so their
    // new values count as magnitudes too.
    bool negative = t < 0;
    double m = negative ? -t : t;
    if (negative && index != 2) x = std::fabs(x);
    switch (index) {
    case 1: m -= (std::floor(m / SECONDS_PER_HOUR) - x) * SECONDS_PER_HOUR; break;
    case 2:
        m -= (std::floor(std::fmod(m, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE) - x) *
             SECONDS_PER_MINUTE;
        break;
    default: m -= std::fmod(m, SECONDS_PER_MINUTE) - x; break;
    }
    return negative ? -m : m;
}

// --- actions ------------------------------------------------------------------

cell_t* make(cell_t* proto, cell_t* spec, int32_t) {
    double seconds = 0.0;
    switch (type_of(spec)) {
    case TYPE_time:
    case TYPE_float_:
    case TYPE_percent: seconds = cell::get_float(spec); break;
    case TYPE_integer: seconds = static_cast<int32_t>(spec->data2); break;
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        int32_t n = block::rs_length_q(spec);
        if (n > 3) integer::fire_bad_to_arg(TYPE_time, spec);
        cell_t* items = block::rs_head(spec);
        double scale[3] = {SECONDS_PER_HOUR, SECONDS_PER_MINUTE, 1.0};
        bool negative = false;
        for (int32_t i = 0; i < n; i++) {
            uint8_t t = type_of(items + i);
            if (t != TYPE_integer && !(i == 2 && t == TYPE_float_))
                integer::fire_bad_to_arg(TYPE_time, spec);
            double x = t == TYPE_integer ? static_cast<double>(static_cast<int32_t>(items[i].data2))
                                         : cell::get_float(items + i);
            if (x < 0) {
                if (i > 0) integer::fire_bad_to_arg(TYPE_time, spec);
                negative = true;
                x = -x;
            }
            seconds += x * scale[i];
        }
        if (negative) seconds = -seconds;
        break;
    }
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: {
        char text[64];
        if (integer::read_ascii(spec, text, sizeof text) < 0 || !scan_time(text, &seconds))
            integer::fire_bad_to_arg(TYPE_time, spec);
        break;
    }
    default: integer::fire_bad_to_arg(TYPE_time, spec);
    }
    put(proto, seconds);
    return proto;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    return serialize(cell::get_float(value), buffer, limit);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return serialize(cell::get_float(value), buffer, how.limit);
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    int32_t index = -1;
    if (type_of(element) == TYPE_integer) index = static_cast<int32_t>(element->data2);
    else if (word::any_word_q(type_of(element))) index = field_index(element, path);
    if (index < 1 || index > 3) fire(err::invalid_path, path, element);
    if (!value) return pick_field(parent, index);
    // The owner of the cell (an object field, an owned series) is told of
    // the change by the ownership module's notification once it exists.
    cell::put_float(parent, set_field(cell::get_float(parent), index, value));
    return value;
}

void add() {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    if (type_of(value2) == TYPE_date) {
        cell_t t = *value1;
        *value1 = *value2;
        *value2 = t;
        integer::run_type_math(TYPE_date, math_op::ADD, value1);
        return;
    }
    float_::do_math(math_op::ADD);
}

void subtract() {
    if (type_of(stack::arguments + 1) == TYPE_date) integer::fire_not_related(TYPE_time);
    float_::do_math(math_op::SUBTRACT);
}

void multiply() {
    if (type_of(stack::arguments + 1) == TYPE_time) integer::fire_not_related(TYPE_time);
    float_::do_math(math_op::MULTIPLY);
}

void divide() {
    bool by_time = type_of(stack::arguments + 1) == TYPE_time;
    float_::do_math(math_op::DIVIDE);
    if (by_time) cell::set_type(stack::arguments, TYPE_float_);
}

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    if (scale && type_of(scale) == TYPE_money) integer::fire_not_related(TYPE_money);
    float_::round(value, scale, how);
    if (type_of(value) == TYPE_integer) cell::put_float(value, static_cast<int32_t>(value->data2));
    cell::set_type(value, TYPE_time);
    return value;
}

namespace {

bool odd_seconds(double t) {
    double s = t >= 0 ? t + TINY : t - TINY;
    double whole = std::trunc(std::fmod(s, SECONDS_PER_MINUTE));
    if (!std::isfinite(whole)) fire(err::overflow);
    return (static_cast<int32_t>(whole) & 1) != 0;
}

}  // namespace

bool even_q(cell_t* value) { return !odd_seconds(cell::get_float(value)); }
bool odd_q(cell_t* value) { return odd_seconds(cell::get_float(value)); }

cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell) {
    if (word::any_word_q(type_of(index_cell))) index = field_index(index_cell, value);
    if (index < 1 || index > 3) fire(err::out_of_range, index_cell);
    return pick_field(value, index);
}

void init() {
    datatype::record_t r(TYPE_time, TYPE_float_, "time!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_add>(add);
    r.own<ACT_subtract>(subtract);
    r.own<ACT_multiply>(multiply);
    r.own<ACT_divide>(divide);
    r.own<ACT_round>(round);
    r.own<ACT_even_q>(even_q);
    r.own<ACT_odd_q>(odd_q);
    r.own<ACT_pick>(pick);
    r.inherit({ACT_random, ACT_compare, ACT_absolute, ACT_negate, ACT_remainder});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::time
