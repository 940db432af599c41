#include "datatypes/integer.h"

#include <climits>
#include <cmath>

#include "datatypes/action_types.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace zuv::integer {

namespace {

constexpr int RUNTIME_ERROR_BAD_OPERATION = 101;

// The frame action that carries each operation code.
constexpr uint8_t code_action[] = {ACT_add,       ACT_subtract, ACT_multiply, ACT_divide,
                                   ACT_remainder, ACT_or_t,     ACT_and_t,    ACT_xor_t};

cell_t datatype_cell(int32_t type) {
    cell_t c;
    datatype::make_at(&c, type);
    return c;
}

// The word the current call was made through; an unbound word of symbol 0
// outside any call.
cell_t called_word() {
    cell_t w;
    call_frame_t* f = stack::get_call();
    word::make_raw(&w, TYPE_word, 0, f ? static_cast<int32_t>(frame::symbol_of(f)) : 0, -1);
    return w;
}

inline void swap_cells(cell_t* a, cell_t* b) {
    cell_t t = *a;
    *a = *b;
    *b = t;
}

}  // namespace

// --- shared helpers ---------------------------------------------------------

void fire_not_related(int32_t type) {
    cell_t w = called_word();
    cell_t t = datatype_cell(type);
    fire(err::not_related, &w, &t);
}

void fire_invalid_type(const cell_t* value) {
    cell_t t = datatype_cell(type_of(value));
    fire(err::invalid_type, &t);
}

void fire_bad_to_arg(int32_t type, const cell_t* spec) {
    cell_t t = datatype_cell(type);
    fire(err::bad_to_arg, &t, spec);
}

void run_type_math(int32_t type, int32_t code, const cell_t* value2) {
    action_entry_t entry = type_action_table[(type << 8) + code_action[code] - 1];
    if (entry == nullptr) fire_invalid_type(value2);
    reinterpret_cast<action_fn::frame_t>(entry)();
}

int32_t read_ascii(cell_t* text, char* out, int32_t room) {
    int32_t n = string::rs_length_q(text);
    if (n >= room) return -1;
    const uint8_t* p = string::rs_head(text);
    uint32_t unit = string::buffer_of(text)->unit();
    for (int32_t i = 0; i < n; i++) {
        uint32_t c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
        if (c > 127) return -1;
        out[i] = static_cast<char>(c);
    }
    out[n] = '\0';
    return n;
}

// --- module operations --------------------------------------------------------

cell_t* make_in(cell_t* block, int32_t value) {
    cell_t* c = alloc::alloc_tail_value(block);
    c->header = TYPE_integer;
    c->data2 = static_cast<uint32_t>(value);
    return c;
}

cell_t* push(int32_t value) {
    cell_t* c = stack::push_slot();
    c->header = TYPE_integer;
    c->data2 = static_cast<uint32_t>(value);
    return c;
}

cell_t* box(int32_t value) {
    cell_t* c = stack::arguments;
    c->header = TYPE_integer;
    c->data2 = static_cast<uint32_t>(value);
    return c;
}

int32_t abs(int32_t value) {
    if (value == INT32_MIN) fire(err::overflow);
    return value < 0 ? -value : value;
}

bool float_out_of_range_q(const cell_t* value) {
    double d = cell::get_float(value);
    return !(d <= 2147483647.0 && d >= -2147483648.0);  // NaN fails both
}

int32_t from_float(double d) {
    // Truncation keeps (-2147483649, 2147483648) inside the range.
    if (!(d < 2147483648.0 && d > -2147483649.0)) {
        cell_t t = datatype_cell(TYPE_integer);
        fire(err::type_limit, &t);
    }
    return static_cast<int32_t>(d);
}

number_text form_signed(int32_t value) {
    number_text r;
    char digits[12];
    int n = 0;
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    int k = 0;
    if (value < 0) r.text[k++] = '-';
    while (n) r.text[k++] = digits[--n];
    r.text[k] = '\0';
    r.length = k;
    return r;
}

int32_t do_math_op(int32_t left, int32_t right, int32_t code, cell_t* result) {
    int32_t v = 0;
    bool overflow = false;
    double wide = 0.0;
    switch (code) {
    case math_op::ADD:
        overflow = __builtin_add_overflow(left, right, &v);
        wide = static_cast<double>(left) + static_cast<double>(right);
        break;
    case math_op::SUBTRACT:
        overflow = __builtin_sub_overflow(left, right, &v);
        wide = static_cast<double>(left) - static_cast<double>(right);
        break;
    case math_op::MULTIPLY:
        overflow = __builtin_mul_overflow(left, right, &v);
        wide = static_cast<double>(left) * static_cast<double>(right);
        break;
    case math_op::DIVIDE:
    case math_op::REMAINDER:
        if (right == 0) fire(err::zero_divide);
        if (left == INT32_MIN && right == -1) fire(err::overflow);
        if (code == math_op::REMAINDER) {
            v = left % right;
        } else if (result && left % right != 0) {
            result->header = TYPE_float_;
            cell::put_float(result, static_cast<double>(left) / static_cast<double>(right));
            return 0;
        } else {
            v = left / right;
        }
        break;
    case math_op::OR: v = left | right; break;
    case math_op::AND: v = left & right; break;
    case math_op::XOR: v = left ^ right; break;
    default: lowrt::quit(RUNTIME_ERROR_BAD_OPERATION);
    }
    if (overflow) {
        if (result) {
            result->header = TYPE_float_;
            cell::put_float(result, wide);
        }
        return 0;
    }
    if (result) result->data2 = static_cast<uint32_t>(v);
    return v;
}

void do_math(int32_t code) {
    cell_t* value1 = stack::arguments;
    cell_t* value2 = value1 + 1;
    uint8_t t2 = type_of(value2);
    switch (t2) {
    case TYPE_integer:
    case TYPE_char_: do_math_op(get(value1), get(value2), code, value1); return;
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_time: float_::do_math(code); return;
    case TYPE_pair:
    case TYPE_point2d:
    case TYPE_point3d:
    case TYPE_tuple:
        // Only add, multiply (and subtract as adding the negation) commute
        // with the swap below; the rest would compute value2 op value1.
        if (code == math_op::DIVIDE || code >= math_op::REMAINDER ||
            (t2 == TYPE_tuple && code == math_op::SUBTRACT))
            fire_not_related(TYPE_integer);
        swap_cells(value1, value2);
        if (code == math_op::SUBTRACT) {
            action_entry_t negate = type_action_table[(t2 << 8) + ACT_negate - 1];
            if (negate == nullptr) fire_invalid_type(value1);
            reinterpret_cast<action_fn::unary_t>(negate)(value1);
            code = math_op::ADD;
        }
        run_type_math(t2, code, value1);
        return;
    case TYPE_date:
        if (code != math_op::ADD) fire_not_related(TYPE_integer);
        swap_cells(value1, value2);
        run_type_math(TYPE_date, code, value1);
        return;
    case TYPE_money:
        if (code > math_op::REMAINDER) fire_invalid_type(value2);
        money::do_math(code);
        return;
    case TYPE_vector: vector::do_math(code); return;
    default: fire_invalid_type(value2);
    }
}

bool int_power(int32_t base, int32_t exponent, int32_t* result) {
    int32_t r = 1;
    while (exponent != 0) {
        if (exponent & 1)
            if (__builtin_mul_overflow(r, base, &r)) return false;
        exponent >>= 1;
        // A squaring that no later step uses may overflow harmlessly:
        // (-2) ** 31 is exactly -2147483648.
        if (exponent != 0 && __builtin_mul_overflow(base, base, &base)) return false;
    }
    *result = r;
    return true;
}

// --- actions ------------------------------------------------------------------

cell_t* to(cell_t* proto, cell_t* spec, int32_t) {
    int32_t v = 0;
    switch (type_of(spec)) {
    case TYPE_integer:
    case TYPE_char_: v = get(spec); break;
    case TYPE_float_:
    case TYPE_percent:
        if (float_out_of_range_q(spec)) {
            cell_t t = datatype_cell(TYPE_integer);
            fire(err::type_limit, &t);
        }
        v = static_cast<int32_t>(cell::get_float(spec));
        break;
    case TYPE_time: v = from_float(cell::get_float(spec) + 0.5); break;
    case TYPE_binary: {
        series_buffer_t* s = string::buffer_of(spec);
        int32_t available = s->used() - static_cast<int32_t>(spec->data1);
        const uint8_t* p = s->head_ptr() + spec->data1;
        uint32_t u = 0;
        for (int32_t i = 0; i < available && i < 4; i++) u = u << 8 | p[i];
        v = static_cast<int32_t>(u);
        break;
    }
    case TYPE_issue: {
        const char* name = symbol::get_utf8(word::symbol_of(spec));
        uint32_t u = 0;
        int n = 0;
        for (const char* p = name; *p; p++, n++) {
            char c = static_cast<char>(*p & 0x7F);
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
            if (n >= 8 || digit < 0) fire(err::invalid_data, spec);
            u = u << 4 | static_cast<uint32_t>(digit);
        }
        v = static_cast<int32_t>(u);
        break;
    }
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref: {
        // Optional sign, digits, apostrophes between digits.
        char text[64];
        int32_t n = read_ascii(spec, text, sizeof text);
        int32_t i = 0;
        bool negative = false;
        if (n > 0 && (text[0] == '+' || text[0] == '-')) negative = text[i++] == '-';
        int64_t magnitude = 0;
        bool digits = false, ok = n > i;
        for (; ok && i < n; i++) {
            char c = text[i];
            if (c >= '0' && c <= '9') {
                magnitude = magnitude * 10 + (c - '0');
                digits = true;
                if (magnitude > 2147483648LL) ok = false;
            } else if (c != '\'' || !digits) {
                ok = false;
            }
        }
        if (!ok || !digits || (!negative && magnitude > INT32_MAX))
            fire_bad_to_arg(TYPE_integer, spec);
        v = static_cast<int32_t>(negative ? -magnitude : magnitude);
        break;
    }
    case TYPE_date: v = date::to_epoch(spec); break;
    case TYPE_money: v = money::to_integer(spec); break;
    default: fire_bad_to_arg(TYPE_integer, spec);
    }
    proto->header = TYPE_integer;
    proto->data2 = static_cast<uint32_t>(v);
    return proto;
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    if (type_of(spec) == TYPE_logic) {
        int32_t v = spec->data1 == 1 ? 1 : 0;
        proto->header = TYPE_integer;
        proto->data2 = static_cast<uint32_t>(v);
        return proto;
    }
    return to(proto, spec, type);
}

cell_t* random(cell_t* value, bool seed, bool secure, bool) {
    if (seed) {
        random::srand(get(value));
        value->header = TYPE_unset;
        return value;
    }
    int32_t n = get(value);
    if (n != 0) value->data2 = static_cast<uint32_t>(random::int_uniform(secure, n));
    return value;
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    number_text t = form_signed(get(value));
    string::concatenate_literal(buffer, t.text);
    return limit - t.length;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    uint8_t t2 = type_of(value2);
    if ((op == 2 || op == 12) && t2 != TYPE_integer) return 1;
    switch (t2) {
    case TYPE_integer:
    case TYPE_char_: {
        int32_t a = get(value1), b = get(value2);
        return (a > b) - (a < b);
    }
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_time: {
        // The float comparison reads value1 as a double; value1 is left as
        // it was.
        cell_t as_float = *value1;
        float_::make_at(&as_float, static_cast<double>(get(value1)));
        return float_::compare(&as_float, value2, op);
    }
    case TYPE_money: {
        int32_t r = money::compare(value2, value1, op);
        return r == -2 ? -2 : -r;
    }
    default: return -2;
    }
}

void absolute() {
    cell_t* v = stack::arguments;
    v->data2 = static_cast<uint32_t>(abs(get(v)));
}

void add() { do_math(math_op::ADD); }
void divide() { do_math(math_op::DIVIDE); }
void multiply() { do_math(math_op::MULTIPLY); }
void remainder() { do_math(math_op::REMAINDER); }
void subtract() { do_math(math_op::SUBTRACT); }
void and_t() { do_math(math_op::AND); }
void or_t() { do_math(math_op::OR); }
void xor_t() { do_math(math_op::XOR); }

cell_t* negate(cell_t* value) {
    int32_t v = get(value);
    if (v == INT32_MIN) fire(err::overflow);
    value->data2 = static_cast<uint32_t>(-v);
    return value;
}

void power() {
    cell_t* base = stack::arguments;
    cell_t* exponent = base + 1;
    uint8_t te = type_of(exponent);
    if (te != TYPE_integer && te != TYPE_float_) {
        // The argument's name (`exponent`) joins the message once it is a
        // predefined word.
        cell_t w = called_word();
        cell_t t = datatype_cell(te);
        fire(err::expect_arg, &w, &t);
    }
    if (te == TYPE_integer && get(exponent) >= 0) {
        int32_t r;
        if (int_power(get(base), get(exponent), &r)) {
            base->data2 = static_cast<uint32_t>(r);
            return;
        }
    }
    base->header = TYPE_float_;
    cell::put_float(base, static_cast<double>(static_cast<int32_t>(base->data2)));
    float_::power();
}

cell_t* round(cell_t* value, cell_t* scale, round_options_t how) {
    if (scale && type_of(scale) == TYPE_money) fire_not_related(TYPE_money);
    int32_t n = get(value);
    if (n == INT32_MIN) return value;
    int32_t s = 1;
    if (scale) {
        if (type_of(scale) == TYPE_integer) {
            s = abs(get(scale));
        } else {
            value->header = TYPE_float_;
            cell::put_float(value, static_cast<double>(n));
            return float_::round(value, scale, how);
        }
    }
    if (s == 0) return value;
    int32_t v = n < 0 ? -n : n;
    int32_t r = v % s;
    if (r == 0) return value;
    int32_t toward = v - r;
    int32_t away;
    bool away_overflows = __builtin_add_overflow(v, s - r, &away);
    auto check = [&] {
        if (away_overflows) fire(err::overflow);
    };
    auto sign = [n](int32_t x) { return n < 0 ? -x : x; };
    int32_t result;
    if (how.down) {
        result = sign(toward);
    } else if (how.floor) {
        check();
        result = n > 0 ? toward : -away;
    } else if (how.ceiling) {
        check();
        result = n >= 0 ? away : -toward;
    } else if (r < s - r) {
        result = sign(toward);
    } else if (r > s - r) {
        check();
        result = sign(away);
    } else if (how.even) {
        if ((v / s) % 2 == 0) {
            result = sign(toward);
        } else {
            check();
            result = sign(away);
        }
    } else if (how.half_down) {
        result = sign(toward);
    } else if (how.half_ceiling) {
        check();
        result = n >= 0 ? away : -toward;
    } else {
        check();
        result = sign(away);
    }
    value->data2 = static_cast<uint32_t>(result);
    return value;
}

bool even_q(cell_t* value) { return (value->data2 & 1) == 0; }
bool odd_q(cell_t* value) { return (value->data2 & 1) != 0; }

cell_t* complement(cell_t* value) {
    value->data2 = ~value->data2;
    return value;
}

void init() {
    datatype::record_t r(TYPE_integer, 0, "integer!");
    r.own<ACT_make>(make);
    r.own<ACT_random>(random);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
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
    r.own<ACT_and_t>(and_t);
    r.own<ACT_complement>(complement);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::integer
