#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/time.h"
#include "molded.h"
#include "registry_fixture.h"
#include "runtime/words.h"

using namespace zuv;
using zuv::testing::raised;

namespace {

cell_t I(int32_t v) { return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0}; }
cell_t C(uint32_t v) { return cell_t{TYPE_char_, 0, v, 0}; }
cell_t F(double d, uint8_t type = TYPE_float_) {
    cell_t c{type, 0, 0, 0};
    cell::put_float(&c, d);
    return c;
}
cell_t T(double seconds) { return F(seconds, TYPE_time); }
const double inf = std::numeric_limits<double>::infinity();
const double nan_ = std::numeric_limits<double>::quiet_NaN();

// The refinements a round case sets, for its failure message.
std::string refinements(const round_options_t& how) {
    std::string out;
    for (auto [set, name] : {std::pair{how.even, "/even"},
                             {how.down, "/down"},
                             {how.half_down, "/half-down"},
                             {how.floor, "/floor"},
                             {how.ceiling, "/ceiling"},
                             {how.half_ceiling, "/half-ceiling"}})
        if (set) out += name;
    return out.empty() ? "(half away from zero)" : out;
}

class Numbers : public test::RegistryTest {
protected:
    // Runs a two-argument frame action on a and b; the result slot.
    static cell_t run(void (*action)(), cell_t a, cell_t b) {
        cell_t* args = stack::arguments;
        args[0] = a;
        args[1] = b;
        stack::top_slot = args + 2;
        action();
        return args[0];
    }
    template <typename F> static err fails(F body) { return raised(body); }
    std::string formed(cell_t v) {
        cell_t s = new_string();
        actions::form(&v, &s, false, -1);
        return text_of(&s);
    }
    std::string molded(cell_t v, bool all = false) { return zuv::test::molded(&v, {.all = all}); }
    static cell_t text(const char* ascii) {
        cell_t s = new_string();
        string::concatenate_literal(&s, ascii);
        return s;
    }
    static cell_t block_of(std::initializer_list<cell_t> items) {
        cell_t b;
        block::make_at(&b, 4);
        for (const cell_t& c : items) block::rs_append(&b, &c);
        return b;
    }
    static cell_t binary_of(std::initializer_list<uint8_t> bytes) {
        cell_t b = new_string();
        for (uint8_t x : bytes) *alloc::alloc_tail_unit(string::buffer_of(&b), 1) = x;
        cell::set_type(&b, TYPE_binary);
        return b;
    }
};

void expect_float(const cell_t& c, double d) {
    EXPECT_EQ(type_of(&c), TYPE_float_);
    EXPECT_EQ(cell::get_float(&c), d);
}
void expect_int(const cell_t& c, int32_t v) {
    EXPECT_EQ(type_of(&c), TYPE_integer);
    EXPECT_EQ(integer::get(&c), v);
}

}  // namespace

// --- integers -------------------------------------------------------------------

TEST_F(Numbers, IntegerOverflowAndInexactDivisionBecomeFloats) {
    expect_float(run(integer::add, I(2147483647), I(1)), 2147483648.0);
    expect_float(run(integer::subtract, I(INT32_MIN), I(1)), -2147483649.0);
    expect_float(run(integer::multiply, I(65536), I(65536)), 4294967296.0);
    expect_float(run(integer::divide, I(7), I(2)), 3.5);
    expect_float(run(integer::divide, I(-7), I(2)), -3.5);
    expect_int(run(integer::divide, I(8), I(2)), 4);
    expect_int(run(integer::add, I(2), C('a')), 99);
    // The truncating form that pair!, tuple! and vector! use.
    EXPECT_EQ(integer::do_math_op(7, 2, math_op::DIVIDE, nullptr), 3);
}

TEST_F(Numbers, IntegerRemainderSignsAndRangeErrors) {
    expect_int(run(integer::remainder, I(7), I(2)), 1);
    expect_int(run(integer::remainder, I(-7), I(2)), -1);
    expect_int(run(integer::remainder, I(7), I(-2)), 1);
    EXPECT_EQ(fails([] { run(integer::divide, I(1), I(0)); }), err::zero_divide);
    EXPECT_EQ(fails([] { run(integer::remainder, I(1), I(0)); }), err::zero_divide);
    EXPECT_EQ(fails([] { run(integer::divide, I(INT32_MIN), I(-1)); }), err::overflow);
    EXPECT_EQ(fails([] { run(integer::remainder, I(INT32_MIN), I(-1)); }), err::overflow);
    EXPECT_EQ(fails([] { run(integer::absolute, I(INT32_MIN), I(0)); }), err::overflow);
    EXPECT_EQ(fails([] {
                  cell_t v = I(INT32_MIN);
                  integer::negate(&v);
              }),
              err::overflow);
    EXPECT_STREQ(integer::form_signed(INT32_MIN).c_str(), "-2147483648");
    EXPECT_STREQ(integer::form_signed(0).c_str(), "0");
    EXPECT_STREQ(integer::form_signed(-45).c_str(), "-45");
    EXPECT_EQ(formed(I(2147483647)), "2147483647");
}

TEST_F(Numbers, IntegerBitwise) {
    expect_int(run(integer::and_t, I(12), I(10)), 8);
    expect_int(run(integer::or_t, I(12), I(10)), 14);
    expect_int(run(integer::xor_t, I(12), I(10)), 6);
    cell_t v = I(0);
    integer::complement(&v);
    EXPECT_EQ(integer::get(&v), -1);
    EXPECT_EQ(fails([] { run(integer::and_t, I(1), F(1.0)); }), err::cannot_use);
}

TEST_F(Numbers, IntegerMixedOperandsThatDoNotCommuteAreRefused) {
    cell_t pair{TYPE_pair, 1, 2, 0};
    cell_t tuple{TYPE_tuple, 3, 0x030201, 0};
    cell_t date{TYPE_date, 0, 0, 0};
    struct {
        void (*action)();
        cell_t value2;
    } refused[] = {
        {integer::divide, pair},     {integer::remainder, pair}, {integer::and_t, pair},
        {integer::xor_t, pair},      {integer::subtract, tuple}, {integer::divide, tuple},
        {integer::remainder, tuple}, {integer::or_t, tuple},     {integer::subtract, date},
        {integer::remainder, date},
    };
    for (auto& c : refused) {
        cell_t before = I(5);
        EXPECT_EQ(fails([&] { run(c.action, before, c.value2); }), err::not_related);
        // The error leaves the result slot as it was.
        EXPECT_EQ(stack::arguments[0].header, before.header);
        EXPECT_EQ(stack::arguments[0].data2, before.data2);
    }
    EXPECT_EQ(fails([] {
                  run(integer::add, I(1), cell_t{TYPE_none, 0, 0, 0});
              }),
              err::invalid_type);
    // A time! second operand goes to the float arithmetic: the result is a time.
    cell_t r = run(integer::add, I(1), T(1.0));
    EXPECT_EQ(type_of(&r), TYPE_time);
    EXPECT_EQ(cell::get_float(&r), 2.0);
}

TEST_F(Numbers, IntegerPowerFallsBackToFloat) {
    expect_float(run(integer::power, I(2), I(31)), 2147483648.0);
    expect_int(run(integer::power, I(2), I(30)), 1073741824);
    expect_int(run(integer::power, I(-2), I(31)), INT32_MIN);
    expect_float(run(integer::power, I(3), I(20)), 3486784401.0);
    expect_float(run(integer::power, I(2), I(-1)), 0.5);
    expect_int(run(integer::power, I(0), I(0)), 1);
    expect_int(run(integer::power, I(-3), I(3)), -27);
    expect_float(run(integer::power, I(4), F(0.5)), 2.0);
    EXPECT_EQ(fails([] {
                  run(integer::power, I(2), cell_t{TYPE_none, 0, 0, 0});
              }),
              err::expect_arg);
}

TEST_F(Numbers, IntegerRoundTable) {
    struct {
        int32_t value, scale;
        round_options_t how;
        int32_t result;
    } cases[] = {
        {15, 10, {}, 20},
        {-15, 10, {}, -20},
        {25, 10, {.even = true}, 20},
        {35, 10, {.even = true}, 40},
        {15, 10, {.half_down = true}, 10},
        {-11, 10, {.floor = true}, -20},
        {-11, 10, {.ceiling = true}, -10},
        {-11, 10, {.down = true, .floor = true}, -10},
        {17, 0, {}, 17},
        {INT32_MIN, 10, {}, INT32_MIN},
        {14, 10, {}, 10},
        {-15, 10, {.half_ceiling = true}, -10},
        {15, -10, {}, 20},
        {11, 10, {.ceiling = true}, 20},
        {11, 10, {.floor = true}, 10},
    };
    for (auto& c : cases) {
        cell_t v = I(c.value);
        cell_t s = I(c.scale);
        integer::round(&v, &s, c.how);
        EXPECT_EQ(integer::get(&v), c.result)
            << c.value << " to " << c.scale << " " << refinements(c.how);
    }
    // 5 with a float! scale runs the float rounding.
    cell_t v = I(5);
    cell_t s = F(2.0);
    integer::round(&v, &s, {});
    expect_float(v, 6.0);
    EXPECT_EQ(fails([] {
                  cell_t v = I(2147483647);
                  cell_t s = I(10);
                  integer::round(&v, &s, {});
              }),
              err::overflow);
    EXPECT_EQ(fails([] {
                  cell_t v = I(5);
                  cell_t s = I(INT32_MIN);
                  integer::round(&v, &s, {});
              }),
              err::overflow);
}

TEST_F(Numbers, ToInteger) {
    cell_t proto{TYPE_datatype, TYPE_integer, 0, 0};
    auto to = [&](cell_t spec) {
        cell_t p = proto;
        return *integer::to(&p, &spec, TYPE_integer);
    };
    expect_int(to(F(-1.9)), -1);
    expect_int(to(F(2147483647.0)), 2147483647);
    expect_int(to(binary_of({1, 2})), 258);
    expect_int(to(binary_of({1, 2, 3, 4, 5})), 16909060);
    expect_int(to(binary_of({})), 0);
    expect_int(to(text("12'345")), 12345);
    expect_int(to(text("-2147483648")), INT32_MIN);
    expect_int(to(T(1.5)), 2);
    expect_int(to(C('a')), 97);
    for (cell_t bad : {F(2147483647.9), F(-2147483649.0), F(nan_), F(inf)})
        EXPECT_EQ(fails([&] { to(bad); }), err::type_limit);
    for (const char* bad : {"12x", "", "-", "2147483648", "'1", "1 2"})
        EXPECT_EQ(fails([&] { to(text(bad)); }), err::bad_to_arg) << bad;
    EXPECT_EQ(fails([&] { to(T(1e300)); }), err::type_limit);
    cell_t yes{TYPE_logic, 1, 0, 0};
    cell_t p = proto;
    expect_int(*integer::make(&p, &yes, TYPE_integer), 1);
    EXPECT_EQ(fails([&] { to(yes); }), err::bad_to_arg);
}

TEST_F(Numbers, IntegerRandom) {
    cell_t v = I(0);
    integer::random(&v, false, false, false);
    EXPECT_EQ(integer::get(&v), 0);
    auto draws = [] {
        cell_t seed = I(5);
        integer::random(&seed, true, false, false);
        EXPECT_EQ(type_of(&seed), TYPE_unset);
        std::vector<int32_t> out;
        for (int i = 0; i < 20; i++) {
            cell_t d = I(-6);
            integer::random(&d, false, false, false);
            EXPECT_GE(integer::get(&d), -6);
            EXPECT_LE(integer::get(&d), -1);
            out.push_back(integer::get(&d));
        }
        return out;
    };
    EXPECT_EQ(draws(), draws());
}

// --- characters ------------------------------------------------------------------

TEST_F(Numbers, CharacterArithmeticStaysInRange) {
    cell_t r = run(char_::add, C('a'), I(1));
    EXPECT_EQ(type_of(&r), TYPE_char_);
    EXPECT_EQ(char_::get(&r), 'b');
    EXPECT_EQ(char_::get(&(r = run(char_::divide, C('a'), I(2)))), '0');
    EXPECT_EQ(char_::get(&(r = run(char_::add, C('a'), F(1.9)))), 'b');
    EXPECT_EQ(fails([] { run(char_::subtract, C('a'), I(98)); }), err::overflow);
    EXPECT_EQ(fails([] { run(char_::add, C(0x10FFFF), I(1)); }), err::overflow);
    EXPECT_EQ(fails([] { run(char_::multiply, C(0x10000), I(0x10000)); }), err::overflow);
    EXPECT_EQ(fails([] { run(char_::add, C('a'), F(1e300)); }), err::overflow);
    EXPECT_EQ(fails([] { run(char_::divide, C('a'), I(0)); }), err::zero_divide);
    EXPECT_EQ(fails([] {
                  run(char_::add, C('a'), cell_t{TYPE_none, 0, 0, 0});
              }),
              err::invalid_type);
}

TEST_F(Numbers, ToChar) {
    auto to = [](cell_t spec) {
        cell_t p{TYPE_datatype, TYPE_char_, 0, 0};
        return char_::get(char_::make(&p, &spec, TYPE_char_));
    };
    EXPECT_EQ(to(text("abc")), 'a');
    EXPECT_EQ(to(I(0x10FFFF)), 0x10FFFFu);
    EXPECT_EQ(to(F(97.9)), 97u);
    EXPECT_EQ(to(binary_of({0xC3, 0xA9})), 0xE9u);
    EXPECT_EQ(fails([&] { to(I(1114112)); }), err::out_of_range);
    EXPECT_EQ(fails([&] { to(I(-1)); }), err::out_of_range);
    EXPECT_EQ(fails([&] { to(F(-1.0)); }), err::out_of_range);
    EXPECT_EQ(fails([&] { to(text("")); }), err::bad_to_arg);
    EXPECT_EQ(fails([&] { to(binary_of({})); }), err::bad_to_arg);
}

TEST_F(Numbers, CharacterFormAndEscapes) {
    struct {
        uint32_t c;
        bool all;
        const char* mold;
    } cases[] = {
        {'a', false, "#\"a\""},     {'^', false, "#\"^^\""},    {'"', false, "#\"^\"\""},
        {30, false, "#\"^(1E)\""},  {127, false, "#\"^~\""},    {9, false, "#\"^-\""},
        {10, false, "#\"^/\""},     {0, false, "#\"^@\""},      {1, false, "#\"^A\""},
        {27, false, "#\"^[\""},     {28, false, "#\"^\\\""},    {29, false, "#\"^]\""},
        {31, false, "#\"^_\""},     {26, false, "#\"^Z\""},     {128, false, "#\"^(80)\""},
        {159, false, "#\"^(9F)\""}, {0xC8, true, "#\"^(C8)\""}, {0x1F600, true, "#\"^(1F600)\""},
    };
    for (auto& c : cases) EXPECT_EQ(molded(C(c.c), c.all), c.mold) << c.c;
    EXPECT_EQ(formed(C('x')), "x");
    cell_t s = new_string();
    cell_t v = C('a');
    EXPECT_EQ(char_::mold(&v, &s, {.limit = 10}), 6);
}

TEST_F(Numbers, IntegerAndCharacterComparison) {
    cell_t a = C('a'), n = I(97), one = I(1), f1 = F(1.0);
    EXPECT_EQ(actions::compare_value(&a, &n, 0), 0);
    EXPECT_EQ(char_::compare(&a, &n, 2), 1);
    EXPECT_EQ(integer::compare(&n, &a, 2), 1);
    EXPECT_EQ(integer::compare(&one, &f1, 0), 0);
    EXPECT_EQ(integer::compare(&one, &f1, 2), 1);
    cell_t two = I(2);
    EXPECT_EQ(integer::compare(&one, &two, 3), -1);
    cell_t none{TYPE_none, 0, 0, 0};
    EXPECT_EQ(integer::compare(&one, &none, 0), -2);
    // The integer value itself survives a comparison with a float.
    EXPECT_EQ(integer::get(&one), 1);
}

// --- floats ----------------------------------------------------------------------

TEST_F(Numbers, FloatFormAndMold) {
    struct {
        double value;
        const char* form;
        const char* mold;
    } cases[] = {
        {0.1, "0.1", "0.1"},
        {100.0, "100.0", "100.0"},
        {1e20, "1.0e20", "1.0e20"},
        {1e-5, "1.0e-5", "0.00001"},
        {inf, "1.#INF", "1.#INF"},
        {-inf, "-1.#INF", "-1.#INF"},
        {nan_, "1.#NaN", "1.#NaN"},
        {1e-17, "0.0", "1.0e-17"},
        {0.1 + 0.2, "0.3", "0.30000000000000004"},
        {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
        {-2.5, "-2.5", "-2.5"},
        {1.5e300, "1.5e300", "1.5e300"},
        {123456789012.0, "123456789012.0", "123456789012.0"},
        {1.0000000000000002, "1.0", "1.0000000000000002"},  // the retry drops the binary tail
    };
    for (auto& c : cases) {
        EXPECT_EQ(formed(F(c.value)), c.form) << c.value;
        EXPECT_EQ(molded(F(c.value)), c.mold) << c.value;
    }
    float_::pretty = false;
    EXPECT_EQ(formed(F(1e-17)), "1.0e-17");
    float_::pretty = true;
    EXPECT_STREQ(float_::form_float(0.5, float_::form_kind::PERCENT).c_str(), "0.5%");
    EXPECT_STREQ(float_::form_float(0.0, float_::form_kind::PERCENT).c_str(), "0%");
    EXPECT_STREQ(float_::form_float(45.5, float_::form_kind::SECONDS).c_str(), "45.5");
}

TEST_F(Numbers, FloatEqualityIsTolerantStrictEqualityIsNot) {
    struct {
        double a, b;
        int32_t op, result;
    } cases[] = {
        {0.1 + 0.2, 0.3, 0, 0},
        {0.1 + 0.2, 0.3, 2, 1},
        {nan_, nan_, 0, 1},
        {nan_, nan_, 2, 1},
        {nan_, 1.0, 3, 1},
        {nan_, 1.0, 5, -1},
        {nan_, 1.0, 4, 1},
        {nan_, 1.0, 6, -1},
        {1.0, 1.0 + 1e-9, 0, 1},
        {0.0, -0.0, 9, 1},
        {0.0, -0.0, 2, 0},
        {1.0, 2.0, 3, -1},
        // Searching and sorting: NaN is equal only to NaN and orders last.
        {nan_, 1.0, 12, 1},
        {1.0, nan_, 12, -1},
        {nan_, nan_, 12, 0},
        {nan_, -inf, 7, 1},
        {inf, nan_, 10, -1},
    };
    for (auto& c : cases) {
        cell_t a = F(c.a), b = F(c.b);
        EXPECT_EQ(float_::compare(&a, &b, c.op), c.result) << c.a << " op " << c.op << " " << c.b;
    }
    cell_t nan_cell = F(nan_);
    EXPECT_EQ(float_::compare(&nan_cell, &nan_cell, 9), 0);  // same as itself
    cell_t f1 = F(1.0), one = I(1);
    EXPECT_EQ(float_::compare(&f1, &one, 0), 0);
    EXPECT_EQ(float_::compare(&f1, &one, 2), 1);
    EXPECT_EQ(float_::compare(&f1, &one, 12), 1);
    EXPECT_TRUE(float_::almost_equal_q(1.0, std::nextafter(1.0, 2.0)));
    EXPECT_TRUE(float_::almost_equal32_q(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float_::almost_equal32_q(1.0f, 1.001f));
}

TEST_F(Numbers, FloatArithmetic) {
    expect_float(run(float_::remainder, F(5.5), F(2.0)), 1.5);
    expect_float(run(float_::remainder, F(-5.5), F(2.0)), -1.5);
    expect_float(run(float_::remainder, F(5.5), F(inf)), 5.5);
    EXPECT_TRUE(
        std::isnan(cell::get_float(&stack::arguments[0]) * 0 + float_::do_math_op(inf, 2.0, 4)));
    expect_float(run(float_::divide, F(1.0), F(0.0)), inf);
    expect_float(run(float_::add, F(0.5), I(1)), 1.5);
    cell_t r = run(float_::add, F(0.1, TYPE_percent), I(1));
    EXPECT_EQ(type_of(&r), TYPE_percent);
    r = run(integer::add, I(1), F(0.1, TYPE_percent));
    EXPECT_EQ(type_of(&r), TYPE_float_);
    r = run(float_::add, F(1.5), T(1.0));
    EXPECT_EQ(type_of(&r), TYPE_time);
    cell_t pair{TYPE_pair, 1, 1, 0};
    EXPECT_EQ(fails([&] { run(float_::subtract, F(2.0), pair); }), err::not_related);
    EXPECT_EQ(fails([&] { run(float_::remainder, F(2.0), pair); }), err::not_related);
    EXPECT_EQ(fails([] { run(float_::add, T(1.0), C('a')); }), err::invalid_type);
    expect_float(run(float_::power, F(2.0), I(10)), 1024.0);
    cell_t v = F(2.5);
    float_::negate(&v);
    EXPECT_EQ(cell::get_float(&v), -2.5);
}

TEST_F(Numbers, FloatRoundTable) {
    struct {
        double value;
        double scale;  // 0: no /to
        round_options_t how;
        double result;
    } cases[] = {
        {2.5, 0, {}, 3.0},
        {-2.5, 0, {}, -3.0},
        {2.5, 0, {.even = true}, 2.0},
        {3.5, 0, {.even = true}, 4.0},
        {2.5, 0, {.half_down = true}, 2.0},
        {-2.5, 0, {.half_ceiling = true}, -2.0},
        {-2.1, 0, {.floor = true}, -3.0},
        {-2.7, 0, {.down = true}, -2.0},
        {1.2345, 0.01, {}, 1.23},
        {1e300, 0, {}, 1e300},
        {2.4, 0, {}, 2.0},
        {2.6, 0, {.ceiling = true}, 3.0},
        {7.0, 5.0, {}, 5.0},
    };
    for (auto& c : cases) {
        cell_t v = F(c.value);
        cell_t s = F(c.scale);
        float_::round(&v, c.scale != 0 ? &s : nullptr, c.how);
        EXPECT_DOUBLE_EQ(cell::get_float(&v), c.result) << c.value << " " << refinements(c.how);
    }
    // A subnormal scale goes through the exponent split and stays close.
    cell_t tiny = F(1e-310);
    cell_t tiny_scale = F(1e-320);
    float_::round(&tiny, &tiny_scale, {});
    EXPECT_NEAR(cell::get_float(&tiny), 1e-310, 1e-319);
    cell_t v = F(2.6);
    cell_t one = I(1);
    float_::round(&v, &one, {});
    expect_int(v, 3);
    // An integer scale cannot hold every float: out of range raises.
    for (double big : {1e10, -3e9, nan_})
        EXPECT_EQ(fails([&] {
                      cell_t v = F(big);
                      cell_t one = I(1);
                      float_::round(&v, &one, {});
                  }),
                  err::overflow)
            << big;
}

TEST_F(Numbers, FloatEvenOddOfHugeValues) {
    struct {
        double value;
        bool even;
    } cases[] = {{2.0, true},          {3.7, false},  {-3.2, false}, {2147483649.0, false},
                 {4294967296.0, true}, {1e300, true}, {-0.5, true}};
    for (auto& c : cases) {
        cell_t v = F(c.value);
        EXPECT_EQ(float_::even_q(&v), c.even) << c.value;
        EXPECT_EQ(float_::odd_q(&v), !c.even) << c.value;
    }
    EXPECT_EQ(fails([] {
                  cell_t v = F(inf);
                  float_::even_q(&v);
              }),
              err::overflow);
}

TEST_F(Numbers, ToFloat) {
    auto to = [](cell_t spec) {
        cell_t p{TYPE_datatype, TYPE_float_, 0, 0};
        return cell::get_float(float_::make(&p, &spec, TYPE_float_));
    };
    EXPECT_EQ(to(text("1.5")), 1.5);
    EXPECT_EQ(to(text("-1'000.25e1")), -10002.5);
    EXPECT_EQ(to(block_of({I(15), I(-1)})), 1.5);
    EXPECT_EQ(to(block_of({F(2.5), F(2.9)})), 250.0);
    EXPECT_EQ(to(binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})), 1.0);
    EXPECT_EQ(to(F(0.1, TYPE_percent)), 0.1);
    EXPECT_EQ(to(T(90.0)), 90.0);
    for (const char* bad : {"", "x", "1.5x", "e5", "1e"})
        EXPECT_EQ(fails([&] { to(text(bad)); }), err::bad_to_arg) << bad;
    EXPECT_EQ(fails([&] { to(block_of({I(1), I(2), I(3)})); }), err::bad_to_arg);
    EXPECT_EQ(fails([&] { to(block_of({I(1), text("2")})); }), err::bad_to_arg);
    cell_t p{TYPE_datatype, TYPE_percent, 0, 0};
    cell_t spec = text("12.5%");
    EXPECT_EQ(cell::get_float(float_::make(&p, &spec, TYPE_percent)), 0.125);
}

TEST_F(Numbers, FloatRandomNeverChangesSign) {
    cell_t seed = F(1.5);
    float_::random(&seed, true, false, false);
    EXPECT_EQ(type_of(&seed), TYPE_unset);
    for (int i = 0; i < 2000; i++) {
        cell_t v = F(10.0);
        float_::random(&v, false, false, false);
        double d = cell::get_float(&v);
        ASSERT_GE(d, 0.0);
        ASSERT_LE(d, 10.0);
    }
}

// --- times -----------------------------------------------------------------------

TEST_F(Numbers, TimeText) {
    struct {
        double seconds;
        const char* text;
    } cases[] = {
        {3600, "1:00:00"},  {5445.5, "1:30:45.5"}, {0.25, "0:00:00.25"},
        {-90, "-0:01:30"},  {360000, "100:00:00"}, {1e-7, "0:00:00"},
        {5.5, "0:00:05.5"}, {45296, "12:34:56"},   {1e13, "2777777777:46:40"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(formed(T(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(molded(T(c.seconds)), c.text) << c.seconds;
    }
}

TEST_F(Numbers, ToTime) {
    auto to = [](cell_t spec) {
        cell_t p{TYPE_datatype, TYPE_time, 0, 0};
        cell_t* r = time::make(&p, &spec, TYPE_time);
        EXPECT_EQ(type_of(r), TYPE_time);
        return cell::get_float(r);
    };
    EXPECT_EQ(to(I(3600)), 3600.0);
    EXPECT_EQ(to(block_of({I(1), I(30)})), 5400.0);
    EXPECT_EQ(to(block_of({I(-1), I(30)})), -5400.0);
    EXPECT_EQ(to(block_of({})), 0.0);
    EXPECT_EQ(to(block_of({I(0), I(0), F(1.5)})), 1.5);
    EXPECT_EQ(to(text("1:30:45.5")), 5445.5);
    EXPECT_EQ(to(text("-0:01:30")), -90.0);
    for (cell_t bad : {block_of({I(1), I(-30)}), block_of({I(1), I(2), I(3), I(4)}),
                       block_of({F(1.5)}), text("12"), text("1:x"), cell_t{TYPE_none, 0, 0, 0}})
        EXPECT_EQ(fails([&] { to(bad); }), err::bad_to_arg);
}

TEST_F(Numbers, TimeArithmetic) {
    expect_float(run(time::divide, T(5400), T(1800)), 3.0);
    cell_t r = run(time::divide, T(5400), I(2));
    EXPECT_EQ(type_of(&r), TYPE_time);
    EXPECT_EQ(cell::get_float(&r), 2700.0);
    r = run(time::add, T(10), I(1));
    EXPECT_EQ(type_of(&r), TYPE_time);
    EXPECT_EQ(cell::get_float(&r), 11.0);
    EXPECT_EQ(fails([] { run(time::multiply, T(3600), T(3600)); }), err::not_related);
    EXPECT_EQ(fails([] {
                  run(time::subtract, T(3600), cell_t{TYPE_date, 0, 0, 0});
              }),
              err::not_related);
    cell_t v = T(3600.6);
    time::round(&v, nullptr, {});
    EXPECT_EQ(cell::get_float(&v), 3601.0);
    EXPECT_EQ(type_of(&v), TYPE_time);
    v = T(3640);
    cell_t minute = T(60);
    time::round(&v, &minute, {});
    EXPECT_EQ(cell::get_float(&v), 3660.0);
    v = T(3640);
    cell_t one = I(1);
    time::round(&v, &one, {});
    EXPECT_EQ(type_of(&v), TYPE_time);
    EXPECT_EQ(cell::get_float(&v), 3640.0);
    struct {
        double t;
        bool even;
    } parity[] = {{2, true}, {1.9999999, true}, {60, true}, {61, false}, {-3, false}};
    for (auto& p : parity) {
        cell_t c = T(p.t);
        EXPECT_EQ(time::even_q(&c), p.even) << p.t;
    }
}

TEST_F(Numbers, TimeParts) {
    cell_t t = T(5445);  // 1:30:45
    auto part = [&](int32_t i) { return *time::pick_field(&t, i); };
    expect_int(part(1), 1);
    expect_int(part(2), 30);
    expect_float(part(3), 45.0);
    cell_t neg = T(-90);
    expect_int(*time::pick_field(&neg, 1), 0);
    expect_int(*time::pick_field(&neg, 2), 1);
    expect_float(*time::pick_field(&neg, 3), -30.0);

    struct {
        double t;
        int32_t index;
        cell_t v;
        double result;
    } sets[] = {
        {5445, 2, I(5), 3945},
        {5445, 1, I(25), 91845},
        {5445, 3, F(1.5), 5401.5},
        // A negative time keeps its sign.
        {-90, 1, I(0), -90},
        {-5400, 1, I(2), -9000},
        {-90, 2, I(2), -150},
        {-90, 3, F(-10.0), -70},
    };
    for (auto& s : sets)
        EXPECT_EQ(time::set_field(s.t, s.index, &s.v), s.result) << s.t << " part " << s.index;
    EXPECT_EQ(fails([] {
                  cell_t x = text("x");
                  time::set_field(1.0, 3, &x);
              }),
              err::invalid_arg);

    cell_t word = words::word(words::id::minute);
    EXPECT_EQ(time::field_index(&word, &t), 2);
    cell_t day = words::word(words::id::hour);
    day.data2 = static_cast<uint32_t>(symbol::make("day"));
    EXPECT_EQ(fails([&] { time::field_index(&day, &t); }), err::cannot_use);
    cell_t path{TYPE_path, 0, 0, 0};
    EXPECT_EQ(time::field_index(&day, &path), -1);

    cell_t four = I(4);
    EXPECT_EQ(fails([&] {
                  time::eval_path(&t, &four, nullptr, &path, nullptr, nullptr, 1, false, false,
                                  true, false);
              }),
              err::invalid_path);
    EXPECT_EQ(fails([&] {
                  time::eval_path(&t, &day, nullptr, &path, nullptr, nullptr, 1, false, false, true,
                                  false);
              }),
              err::invalid_path);
    EXPECT_EQ(fails([&] { time::pick(&t, 4, &four); }), err::out_of_range);
    EXPECT_EQ(fails([&] { time::pick(&t, 0, &day); }), err::cannot_use);
    cell_t five = I(5);
    time::eval_path(&t, &word, &five, &path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(cell::get_float(&t), 3945.0);
}
