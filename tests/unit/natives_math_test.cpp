// The math natives and the system natives where a script cannot see the
// fault: exact bits of float results, the checked entry points, and state
// that scripts only reach indirectly (the collector switch, stats/info).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/tuple.h"
#include "natives/natives.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"
#include "view/backends/terminal/tui.h"

namespace zuv {
namespace {

constexpr int32_t OFF = -1;
constexpr double PI = 3.141592653589793;

class NativesMath : public testing::Runtime {
protected:
    // Calls an entry on the given arguments (refinement arguments follow them);
    // the raised error id, or err{} with the result in *out.
    static err call(native_entry_t entry, std::initializer_list<cell_t> args,
                    std::initializer_list<int32_t> refs, cell_t* out, int32_t check = 0) {
        int32_t r[16];
        for (int32_t& x : r) x = OFF;
        int32_t i = 0;
        for (int32_t x : refs) r[i++] = x;
        err id{};
        try {
            stack::mark_native(nullptr);
            for (const cell_t& a : args) stack::push(&a);
            entry(check, r);
            *out = *stack::arguments;
            stack::unwind();
        } catch (const raised_error& e) {
            id = e.id;
        }
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
        return id;
    }
    static cell_t num(int32_t v) {
        cell_t c{};
        integer::make_at(&c, v);
        return c;
    }
    static cell_t flt(double d) {
        cell_t c{};
        float_::make_at(&c, d);
        return c;
    }
    static double float_result(native_entry_t entry, double arg, bool radians) {
        cell_t r;
        EXPECT_EQ(call(entry, {flt(arg)}, {radians ? 1 : OFF}, &r), err{});
        EXPECT_EQ(type_of(&r), TYPE_float_);
        return float_::get(&r);
    }
    static bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};

TEST_F(NativesMath, DegreeArgumentsAreExactOnTheAxes) {
    const double inf = std::numeric_limits<double>::infinity();
    struct {
        native_entry_t entry;
        double degrees, expected;
    } cases[] = {
        {natives::sine, 180, 0.0},
        {natives::sine, -180, 0.0},
        {natives::sine, 360, 0.0},
        {natives::sine, 90, 1.0},
        {natives::sine, 270, -1.0},
        {natives::sine, 30, std::sin(PI / 6)},
        {natives::sine, 390, std::sin(PI / 6)},
        {natives::sine, 150, std::sin(PI / 6)},
        {natives::cosine, 90, 0.0},
        {natives::cosine, -90, 0.0},
        {natives::cosine, 270, 0.0},
        {natives::cosine, 180, -1.0},
        {natives::cosine, 0, 1.0},
        {natives::tangent, 90, inf},
        {natives::tangent, -90, -inf},
        {natives::tangent, 270, -inf},
        {natives::tangent, 180, 0.0},
        {natives::tangent, 45, std::tan(PI / 4)},
    };
    for (const auto& c : cases) {
        double got = float_result(c.entry, c.degrees, false);
        EXPECT_TRUE(same_bits(got, c.expected))
            << c.degrees << " gave " << got << ", expected " << c.expected;
    }
    // Radians are taken as they are, and a result below the epsilon still snaps.
    EXPECT_EQ(float_result(natives::sine, 30, true), std::sin(30.0));
    EXPECT_TRUE(same_bits(float_result(natives::sine, PI, true), 0.0));
    EXPECT_EQ(float_result(natives::tangent, PI / 4, true), std::tan(PI / 4));
    // An integer argument works as its float.
    cell_t r;
    ASSERT_EQ(call(natives::cosine, {num(180)}, {OFF}, &r), err{});
    EXPECT_EQ(float_::get(&r), -1.0);
}

TEST_F(NativesMath, InverseFunctionsAndDomainErrors) {
    EXPECT_EQ(float_result(natives::arcsine, 1.0, false), 90.0);
    EXPECT_EQ(float_result(natives::arccosine, -1.0, false), 180.0);
    EXPECT_EQ(float_result(natives::arctangent, 1.0, true), std::atan(1.0));
    EXPECT_TRUE(std::isnan(float_result(natives::arcsine, 2.0, false)));
    EXPECT_TRUE(std::isnan(float_result(natives::square_root, -1.0, false)));
    EXPECT_EQ(float_result(natives::log_e, 0.0, false), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(float_result(natives::log_2, 8.0, false), 3.0);
    EXPECT_EQ(float_result(natives::log_10, 1000.0, false), 3.0);
    cell_t r;
    // the result of arctangent2 is y then x, degrees by default
    ASSERT_EQ(call(natives::arctangent2, {num(1), num(-1)}, {OFF}, &r), err{});
    EXPECT_EQ(float_::get(&r), 135.0);
    ASSERT_EQ(call(natives::arctangent2, {flt(-0.0), num(-1)}, {1}, &r), err{});
    EXPECT_EQ(float_::get(&r), -PI);
}

TEST_F(NativesMath, Shift) {
    struct {
        int32_t data, bits;
        bool left, logical;
        int32_t expected;
    } cases[] = {
        {-8, 40, false, false, -1}, {8, 40, false, false, 0}, {-8, 1, false, false, -4},
        {-8, 28, false, true, 15},  {-8, 32, false, true, 0}, {1, 31, true, false, INT32_MIN},
        {1, 32, true, false, 0},    {1, 32, true, true, 0},  // /left wins over /logical
        {3, 1, true, true, 6},      {5, -3, false, false, 5},  // a negative count is no shift
        {5, -3, true, false, 5},
    };
    for (const auto& c : cases) {
        cell_t r;
        ASSERT_EQ(call(natives::shift, {num(c.data), num(c.bits)},
                       {c.left ? 1 : OFF, c.logical ? 1 : OFF}, &r),
                  err{});
        EXPECT_EQ(integer::get(&r), c.expected) << c.data << " by " << c.bits;
    }
}

TEST_F(NativesMath, SignTestsRefuseOtherTypes) {
    cell_t p{};
    pair::make_at(&p, 1, 2);
    cell_t r;
    // unchecked calls reach the natives' own test
    EXPECT_EQ(call(natives::negative_q, {p}, {}, &r), err::expect_arg);
    EXPECT_EQ(call(natives::positive_q, {p}, {}, &r), err::expect_arg);
    EXPECT_EQ(call(natives::sign_q, {p}, {}, &r), err::expect_arg);
    // checked calls stop at the spec
    EXPECT_EQ(call(natives::sign_q, {p}, {}, &r, 1), err::expect_arg);
    EXPECT_EQ(call(natives::sine, {p}, {OFF}, &r, 1), err::expect_arg);
    // zero? answers false for anything it does not know
    ASSERT_EQ(call(natives::zero_q, {cell_t{TYPE_unset, 0, 0, 0}}, {}, &r), err{});
    EXPECT_FALSE(logic::get(&r));
}

TEST_F(NativesMath, NaNOnlyInFloatCells) {
    cell_t r{};
    // an integer cell whose unused words happen to hold NaN bits is no NaN
    cell_t i = num(7);
    double nan = std::numeric_limits<double>::quiet_NaN();
    uint32_t words[2];
    std::memcpy(words, &nan, sizeof nan);
    i.data3 = words[1];
    i.data1 = words[0];
    ASSERT_EQ(call(natives::NaN_q, {i}, {}, &r), err{});
    EXPECT_FALSE(logic::get(&r));
    ASSERT_EQ(call(natives::NaN_q, {flt(nan)}, {}, &r), err{});
    EXPECT_TRUE(logic::get(&r));
    ASSERT_EQ(call(natives::NaN_q, {flt(std::numeric_limits<double>::infinity())}, {}, &r), err{});
    EXPECT_FALSE(logic::get(&r));
    // NaN has no sign
    ASSERT_EQ(call(natives::sign_q, {flt(nan)}, {}, &r), err{});
    EXPECT_EQ(integer::get(&r), 0);
}

TEST_F(NativesMath, MaxMinCompounds) {
    cell_t pair{};
    pair::make_at(&pair, 1, 5);
    cell_t r;
    // a float too big for a pair turns the pair into a point
    ASSERT_EQ(call(natives::max, {pair, flt(1e12)}, {}, &r), err{});
    ASSERT_EQ(type_of(&r), TYPE_point2d);
    EXPECT_EQ(point2d::get_x(&r), 1e12f);
    ASSERT_EQ(call(natives::min, {flt(std::numeric_limits<double>::quiet_NaN()), pair}, {}, &r),
              err{});
    ASSERT_EQ(type_of(&r), TYPE_point2d);
    EXPECT_TRUE(std::isnan(point2d::get_x(&r)));
    // a tuple with a float beyond the 32-bit range
    uint8_t bytes[3] = {1, 2, 3};
    cell_t t{};
    tuple::make_at(&t, bytes, 3);
    EXPECT_EQ(call(natives::max, {t, flt(1e10)}, {}, &r), err::type_limit);
    // the number may come first; a tuple's length survives
    ASSERT_EQ(call(natives::max, {num(300), t}, {}, &r), err{});
    ASSERT_EQ(type_of(&r), TYPE_tuple);
    EXPECT_EQ(tuple::length_of(&r), 3);
    EXPECT_EQ(tuple::bytes_of(&r)[0], 255);
}

TEST_F(NativesMath, ToHexSize) {
    cell_t r;
    EXPECT_EQ(call(natives::to_hex, {num(255), num(0)}, {1}, &r), err::out_of_range);
    EXPECT_EQ(call(natives::to_hex, {num(255), num(-1)}, {1}, &r), err::out_of_range);
    ASSERT_EQ(call(natives::to_hex, {num(-1), num(20)}, {1}, &r), err{});
    EXPECT_EQ(type_of(&r), TYPE_issue);
}

TEST_F(NativesMath, NowRefinementCombinations) {
    // year month day time zone date weekday yearday precise utc
    struct {
        std::initializer_list<int32_t> refs;
        err expected;
    } cases[] = {
        {{1, 1}, err::bad_refines},
        {{OFF, OFF, 1, OFF, OFF, 1}, err::bad_refines},
        {{OFF, OFF, OFF, OFF, OFF, OFF, OFF, 1, 1}, err::bad_refines},
        {{OFF, OFF, OFF, 1, OFF, OFF, OFF, OFF, 1}, err{}},
        {{OFF, OFF, OFF, 1, OFF, OFF, OFF, OFF, 1, 1}, err{}},
        {{1, OFF, OFF, OFF, OFF, OFF, OFF, OFF, OFF, 1}, err{}},
        {{OFF, OFF, OFF, OFF, OFF, OFF, OFF, OFF, 1}, err{}},
    };
    for (const auto& c : cases) {
        cell_t r;
        EXPECT_EQ(call(natives::now, {}, c.refs, &r), c.expected);
    }
    cell_t r;
    ASSERT_EQ(call(natives::now, {}, {OFF, OFF, OFF, OFF, OFF, OFF, 1}, &r), err{});
    ASSERT_EQ(type_of(&r), TYPE_integer);
    EXPECT_GE(integer::get(&r), 1);
    EXPECT_LE(integer::get(&r), 7);
    ASSERT_EQ(call(natives::now, {}, {OFF, OFF, OFF, OFF, OFF, OFF, OFF, 1}, &r), err{});
    EXPECT_GE(integer::get(&r), 1);
    EXPECT_LE(integer::get(&r), 366);
}

TEST_F(NativesMath, RecycleSwitchAndStatsInfo) {
    bool saved = collector::active;
    cell_t r;
    ASSERT_EQ(call(natives::recycle, {}, {OFF, 1}, &r), err{});
    EXPECT_EQ(type_of(&r), TYPE_unset);
    EXPECT_FALSE(collector::active);
    ASSERT_EQ(call(natives::recycle, {}, {1, OFF}, &r), err{});
    EXPECT_TRUE(collector::active);
    ASSERT_EQ(call(natives::recycle, {}, {}, &r), err{});
    EXPECT_EQ(type_of(&r), TYPE_integer);
    EXPECT_GT(integer::get(&r), 0);

    ASSERT_EQ(call(natives::stats, {}, {OFF, 1}, &r), err{});
    ASSERT_EQ(type_of(&r), TYPE_block);
    ASSERT_EQ(block::rs_length_q(&r), 5);
    // stats switches the collector off only while it gathers
    EXPECT_TRUE(collector::active);
    cell_t* nodes = block::rs_abs_at(&r, 0);
    ASSERT_EQ(type_of(nodes), TYPE_block);
    ASSERT_GE(block::rs_length_q(nodes), 1);
    cell_t* first = block::rs_abs_at(nodes, 0);
    EXPECT_TRUE(first->header & FLAG_NEW_LINE);
    ASSERT_EQ(block::rs_length_q(first), 3);
    // free + used = total
    EXPECT_EQ(integer::get(block::rs_abs_at(first, 0)) + integer::get(block::rs_abs_at(first, 1)),
              integer::get(block::rs_abs_at(first, 2)));
    EXPECT_EQ(type_of(block::rs_abs_at(&r, 3)), TYPE_integer);
    collector::active = saved;
}

// A node costs its slot in the node table (8 bytes here), and stats,
// called just before stats/info, gives the total that stats/info adds up
// from its own figures.
TEST_F(NativesMath, StatsCountsNodesAtTheirSlotSize) {
    bool saved = collector::active;
    collector::active = false;
    cell_t n, r;
    ASSERT_EQ(call(natives::stats, {}, {OFF, OFF}, &n), err{});
    ASSERT_EQ(call(natives::stats, {}, {OFF, 1}, &r), err{});
    ASSERT_EQ(type_of(&n), TYPE_integer);
    ASSERT_EQ(type_of(block::rs_abs_at(&r, 3)), TYPE_integer);
    EXPECT_EQ(integer::get(block::rs_abs_at(&r, 3)), integer::get(&n));

    int64_t sum = 0;
    auto used_in = [&](int32_t list, int64_t unit) {
        const cell_t* frames = block::rs_abs_at(&r, list);
        for (int32_t i = 0; i < block::rs_length_q(frames); i++)
            sum += unit * integer::get(block::rs_abs_at(block::rs_abs_at(frames, i), 1));
    };
    used_in(0, sizeof(uintptr_t));
    used_in(1, 1);
    const cell_t* big = block::rs_abs_at(&r, 2);
    for (int32_t i = 0; i < block::rs_length_q(big); i++)
        sum += integer::get(block::rs_abs_at(big, i));
    EXPECT_EQ(sum, integer::get(&n));
    collector::active = saved;
}

int polls = 0;
void count_poll() { polls++; }

// wait runs one pass of the terminal UI's loop after each pause, and none
// when its argument is refused.
TEST_F(NativesMath, WaitRunsOnePollPass) {
    tui::poll_hook_t saved = tui::poll_hook;
    tui::poll_hook = count_poll;
    polls = 0;
    cell_t r{};
    EXPECT_EQ(call(natives::wait, {num(0)}, {}, &r), err{});
    EXPECT_EQ(type_of(&r), TYPE_none);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(call(natives::wait, {flt(0.001)}, {}, &r), err{});
    EXPECT_EQ(polls, 2);
    cell_t none_arg{TYPE_none, 0, 0, 0};
    EXPECT_EQ(call(natives::wait, {none_arg}, {}, &r), err::invalid_arg);
    EXPECT_EQ(polls, 2);
    tui::poll_hook = saved;
}

}  // namespace
}  // namespace zuv
