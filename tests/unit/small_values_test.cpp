// pair!, point2D!, point3D!, tuple!, tag!, email! and ref!.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include <cmath>
#include <limits>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/email.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/ref.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/tag.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "gc_anchor.h"
#include "molded.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/words.h"
#include "runtime_fixture.h"

using namespace zuv;
using zuv::testing::raised;

namespace {

cell_t I(int32_t v) { return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0}; }
cell_t F(double d) {
    cell_t c{TYPE_float_, 0, 0, 0};
    cell::put_float(&c, d);
    return c;
}
cell_t P(int32_t x, int32_t y) {
    cell_t c{};
    return *pair::make_at(&c, x, y);
}
cell_t P2(float x, float y) {
    cell_t c{};
    return *point2d::make_at(&c, x, y);
}
cell_t P3(float x, float y, float z) {
    cell_t c{};
    return *point3d::make_at(&c, x, y, z);
}
cell_t Tu(std::initializer_list<uint8_t> bytes) {
    cell_t c{};
    return *tuple::make_at(&c, bytes.begin(), static_cast<int32_t>(bytes.size()));
}
cell_t NONE() { return cell_t{TYPE_none, 0, 0, 0}; }
const double inf = std::numeric_limits<double>::infinity();
const double nan_ = std::numeric_limits<double>::quiet_NaN();

class SmallValues : public zuv::testing::Runtime {
protected:
    static cell_t new_string() {
        cell_t s;
        string::make_at(&s, 16);
        return zuv::test::anchor(s);
    }
    static cell_t text(const char* ascii, uint8_t type = TYPE_string) {
        cell_t s = new_string();
        string::concatenate_literal(&s, ascii);
        cell::set_type(&s, type);
        return s;
    }
    static std::string text_of(const cell_t* value) {
        cell_t s = *value;
        std::string out;
        series_buffer_t* b = string::buffer_of(&s);
        for (const uint8_t* p = string::rs_head(&s); p < b->tail_ptr(); p += b->unit())
            out.push_back(static_cast<char>(string::get_char(p, b->unit())));
        return out;
    }
    static std::string molded(cell_t v) { return zuv::test::molded(&v); }
    static std::string formed(cell_t v) {
        cell_t s = new_string();
        collector::root_cell keep(&v);
        actions::form(&v, &s, false, -1);
        return text_of(&s);
    }
    static cell_t block_of(std::initializer_list<cell_t> items) {
        cell_t b;
        block::make_at(&b, 4);
        zuv::test::anchor(b);
        for (const cell_t& c : items) block::rs_append(&b, &c);
        return b;
    }
    // Runs the frame action of an arithmetic code on a and b, the way the
    // action layer does: the first operand's row.
    static cell_t math(cell_t a, int32_t code, cell_t b) {
        static const uint8_t code_action[] = {ACT_add,       ACT_subtract, ACT_multiply, ACT_divide,
                                              ACT_remainder, ACT_or_t,     ACT_and_t,    ACT_xor_t};
        cell_t* args = stack::arguments;
        args[0] = a;
        args[1] = b;
        stack::top_slot = args + 2;
        action_entry_t e = type_action_table[(type_of(&a) << 8) + code_action[code] - 1];
        EXPECT_NE(e, nullptr);
        reinterpret_cast<action_fn::frame_t>(e)();
        return zuv::test::anchor(args[0]);
    }
    static cell_t make(int32_t type, cell_t spec) {
        cell_t proto;
        datatype::make_at(&proto, type);
        stack::arguments[0] = proto;
        stack::arguments[1] = spec;
        stack::top_slot = stack::arguments + 2;
        return zuv::test::anchor(*actions::make(stack::arguments, stack::arguments + 1));
    }
    static cell_t to(int32_t type, cell_t spec) {
        cell_t proto;
        datatype::make_at(&proto, type);
        stack::arguments[0] = proto;
        stack::arguments[1] = spec;
        stack::top_slot = stack::arguments + 2;
        return zuv::test::anchor(*actions::to(stack::arguments, stack::arguments + 1));
    }
    static cell_t path_get(cell_t value, cell_t element) {
        cell_t path = block_of({});
        collector::root_cell keep_value(&value), keep_element(&element);
        return zuv::test::anchor(*actions::eval_path(&value, &element, nullptr, &path, nullptr,
                                                     nullptr, 1, false, false, true, false));
    }
};

// --- pair! and points -------------------------------------------------------------

TEST_F(SmallValues, PairArithmeticWithIntegersFloatsAndPoints) {
    using namespace math_op;
    struct Case {
        cell_t a;
        int32_t code;
        cell_t b;
        const char* mold;
    };
    const Case cases[] = {
        {P(10, 20), MULTIPLY, F(1.5), "(15, 30)"},
        {P(10, 20), MULTIPLY, I(2), "20x40"},
        {P(10, 20), DIVIDE, I(3), "(3.333333, 6.666667)"},
        {P(10, 20), DIVIDE, I(5), "2x4"},
        {P(10, 20), DIVIDE, F(4.0), "(2.5, 5)"},
        {P(10, 20), SUBTRACT, P(1, 2), "9x18"},
        {P(10, 20), ADD, F(2.9), "12x22"},
        {P(10, 20), REMAINDER, P(3, 7), "1x6"},
        {P(6, 12), AND, I(3), "2x0"},
        {P(6, 12), OR, P(1, 1), "7x13"},
        {P(6, 12), XOR, I(4), "2x8"},
        {P(10, 20), ADD, P2(0.5f, 1.0f), "(10.5, 21)"},
        {P(2147483647, 1), ADD, I(1), "(2.147484e9, 2)"},
        {P(-2147483647, 3), SUBTRACT, I(5), "(-2.147484e9, -2)"},
        {P(65536, 1), MULTIPLY, P(65536, 2), "(4.294967e9, 2)"},
        // A scalar first: the integer and float workers hand the pair over.
        {I(2), MULTIPLY, P(10, 20), "20x40"},
        {I(5), SUBTRACT, P(1, 2), "4x3"},
        {F(1.5), MULTIPLY, P(10, 20), "(15, 30)"},
        {P2(1.5f, 2.0f), MULTIPLY, I(2), "(3, 4)"},
        {P2(1.0f, 2.0f), SUBTRACT, P(1, 1), "(0, 1)"},
        {P2(1.0f, 2.0f), DIVIDE, F(0.5), "(2, 4)"},
        {P3(1.0f, 2.0f, 3.0f), ADD, P3(1.0f, 1.0f, 1.0f), "(2, 3, 4)"},
        {P3(1.0f, 2.0f, 3.0f), REMAINDER, I(2), "(1, 0, 1)"},
    };
    for (const Case& c : cases) {
        cell_t r = math(c.a, c.code, c.b);
        EXPECT_EQ(molded(r), c.mold) << molded(c.a) << " op " << c.code << " " << molded(c.b);
    }
}

TEST_F(SmallValues, PairArithmeticErrors) {
    using namespace math_op;
    struct Case {
        cell_t a;
        int32_t code;
        cell_t b;
        err id;
    };
    const Case cases[] = {
        {P(10, 20), DIVIDE, I(0), err::zero_divide},
        {P(10, 20), REMAINDER, P(1, 0), err::zero_divide},
        {P(INT32_MIN, 1), DIVIDE, I(-1), err::overflow},
        {P(10, 20), MULTIPLY, F(inf), err::invalid_arg},
        {P(10, 20), MULTIPLY, F(nan_), err::invalid_arg},
        {P(10, 20), DIVIDE, F(nan_), err::invalid_arg},
        {P(10, 20), ADD, F(inf), err::invalid_arg},
        // Out of the integer range: refused, never converted.
        {P(10, 20), ADD, F(1e20), err::invalid_arg},
        {P(10, 20), ADD, Tu({1, 2, 3}), err::invalid_type},
        {P3(1, 2, 3), ADD, P(1, 2), err::invalid_type},
        {P3(1, 2, 3), ADD, P2(1, 2), err::invalid_type},
        {I(10), DIVIDE, P(1, 2), err::not_related},
    };
    for (const Case& c : cases)
        EXPECT_EQ(raised([&] { math(c.a, c.code, c.b); }), c.id) << molded(c.a);
    // The operand is untouched by a refused operation.
    cell_t p = P(3, 4);
    raised([&] { math(p, MULTIPLY, F(inf)); });
    EXPECT_EQ(molded(p), "3x4");
}

TEST_F(SmallValues, PairAndPointMakeAndTo) {
    EXPECT_EQ(molded(make(TYPE_pair, block_of({I(1), F(2.7)}))), "1x2");
    EXPECT_EQ(molded(make(TYPE_pair, I(5))), "5x5");
    EXPECT_EQ(molded(make(TYPE_pair, F(-2.5))), "-2x-2");
    EXPECT_EQ(molded(to(TYPE_pair, P2(3.9f, -1.5f))), "3x-1");
    EXPECT_EQ(molded(make(TYPE_pair, text("12x-3"))), "12x-3");
    EXPECT_EQ(molded(to(TYPE_point2d, P(3, 4))), "(3, 4)");
    EXPECT_EQ(molded(to(TYPE_point3d, P(3, 4))), "(3, 4, 0)");
    EXPECT_EQ(molded(to(TYPE_point3d, P2(1.5f, 2))), "(1.5, 2, 0)");
    EXPECT_EQ(molded(make(TYPE_point3d, block_of({I(1), F(2.5), I(3)}))), "(1, 2.5, 3)");
    EXPECT_EQ(molded(make(TYPE_point2d, text("(1.5, 2)"))), "(1.5, 2)");

    EXPECT_EQ(raised([&] { make(TYPE_point3d, block_of({I(1), I(2)})); }), err::malconstruct);
    EXPECT_EQ(raised([&] { make(TYPE_pair, block_of({I(1), text("x")})); }), err::malconstruct);
    EXPECT_EQ(raised([&] { to(TYPE_pair, P2(static_cast<float>(inf), 1)); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { to(TYPE_pair, P2(std::nanf(""), 1)); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { to(TYPE_pair, P2(1e20f, 1)); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { make(TYPE_pair, block_of({F(3e9), I(1)})); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { make(TYPE_pair, text("12y3")); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { make(TYPE_pair, Tu({1, 2, 3})); }), err::bad_to_arg);
}

TEST_F(SmallValues, CoordinateOperations) {
    cell_t p3 = P3(1, 2, 3);
    EXPECT_EQ(molded(*actions::reverse(&p3, nullptr, nullptr)), "(3, 2, 1)");
    cell_t p = P(1, 2);
    EXPECT_EQ(molded(*actions::reverse(&p, nullptr, nullptr)), "2x1");
    cell_t q = P(3, -4);
    EXPECT_EQ(molded(*actions::negate(&q)), "-3x4");
    cell_t m = P(INT32_MIN, 0);
    EXPECT_EQ(raised([&] { actions::negate(&m); }), err::overflow);
    stack::arguments[0] = P2(-1.5f, 2);
    stack::top_slot = stack::arguments + 1;
    point2d::absolute();
    EXPECT_EQ(molded(stack::arguments[0]), "(1.5, 2)");

    cell_t r = P(17, 24);
    cell_t scale = P(10, 5);
    EXPECT_EQ(molded(*actions::round(&r, &scale, {})), "20x25");
    cell_t pt = P2(1.26f, 3.7f);
    cell_t s2 = F(0.1);
    EXPECT_EQ(molded(*actions::round(&pt, &s2, {})), "(1.3, 3.7)");

    // Paths and pick: by index or by coordinate word.
    cell_t x = words::word(words::id::x), z = words::word(words::id::z);
    EXPECT_EQ(integer::get(&(stack::arguments[5] = path_get(P(7, 8), x))), 7);
    EXPECT_DOUBLE_EQ(float_::get(&(stack::arguments[5] = path_get(P3(1, 2, 3), z))), 3.0);
    EXPECT_EQ(raised([&] { path_get(P(7, 8), z); }), err::invalid_path);
    EXPECT_EQ(raised([&] { path_get(P(7, 8), I(3)); }), err::invalid_path);
    cell_t pk = P(7, 8);
    cell_t three = I(3);
    EXPECT_EQ(raised([&] { actions::pick(&pk, &three); }), err::out_of_range);
    cell_t set = P(7, 8), two = I(2), nine = I(9), f = F(1.5), path = block_of({});
    actions::eval_path(&set, &two, &nine, &path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(molded(set), "7x9");
    EXPECT_EQ(raised([&] {
                  actions::eval_path(&set, &two, &f, &path, nullptr, nullptr, 1, false, false, true,
                                     false);
              }),
              err::invalid_type);
}

TEST_F(SmallValues, CoordinateComparison) {
    struct Case {
        cell_t a, b;
        int32_t op, result;
    };
    using namespace actions::cmp;
    float near = std::nextafter(std::nextafter(1.0f, 2.0f), 2.0f);
    const Case cases[] = {
        {P(1, 2), P(1, 2), EQUAL, 0},       {P(1, 2), P(1, 3), SORT, -1},
        {P(2, 0), P(1, 9), SORT, 1},        {P(1, 2), P2(1, 2), EQUAL, 0},
        {P2(1, 2), P(1, 2), EQUAL, 0},      {P(1, 2), I(1), EQUAL, -2},
        {P2(1, near), P2(1, 1), EQUAL, 0},  {P2(1, near), P2(1, 1), STRICT_EQUAL, 1},
        {P2(1, near), P2(1, 1), SAME, -1},  {P2(1, 2), P2(1, 2), SAME, 0},
        {P2(near, 5), P2(1, 2), SORT, 1},   {P3(1, 2, 3), P3(1, 2, 4), SORT, -1},
        {P3(1, 2, 3), P2(1, 2), EQUAL, -2},
    };
    for (const Case& c : cases) {
        cell_t a = c.a, b = c.b;
        EXPECT_EQ(actions::compare_value(&a, &b, c.op), c.result)
            << molded(a) << " " << molded(b) << " " << c.op;
    }
    cell_t n1 = P2(std::nanf(""), 1), n2 = n1;
    EXPECT_NE(actions::compare_value(&n1, &n2, EQUAL), 0);
}

// --- tuple! ------------------------------------------------------------------------------

TEST_F(SmallValues, TupleLengthsFromBlocks) {
    for (int n = 0; n <= 12; n++) {
        cell_t b = block_of({});
        std::string expected;
        for (int i = 0; i < std::max(n, 3); i++) {
            if (i < n) {
                cell_t v = I(i + 1);
                block::rs_append(&b, &v);
            }
            expected += (i ? "." : "") + std::to_string(i < n ? i + 1 : 0);
        }
        cell_t t = make(TYPE_tuple, b);
        EXPECT_EQ(tuple::length_of(&t), std::max(n, 3));
        EXPECT_EQ(molded(t), expected);
    }
    cell_t thirteen = block_of({});
    for (int i = 0; i < 13; i++) {
        cell_t v = I(1);
        block::rs_append(&thirteen, &v);
    }
    EXPECT_EQ(raised([&] { make(TYPE_tuple, thirteen); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { make(TYPE_tuple, block_of({I(1), I(256)})); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { make(TYPE_tuple, block_of({I(-1)})); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { make(TYPE_tuple, block_of({F(1e30)})); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { make(TYPE_tuple, block_of({P(1, 2)})); }), err::bad_to_arg);
    EXPECT_EQ(molded(make(TYPE_tuple, block_of({F(2.9), cell_t{TYPE_char_, 0, 65, 0}}))), "2.65.0");
}

TEST_F(SmallValues, TupleConversions) {
    EXPECT_EQ(molded(to(TYPE_tuple, word::load_kind("F0A", TYPE_issue))), "255.0.170");
    EXPECT_EQ(molded(to(TYPE_tuple, word::load_kind("FF000080", TYPE_issue))), "255.0.0.128");
    EXPECT_EQ(molded(to(TYPE_tuple, word::load_kind("0a0B0c", TYPE_issue))), "10.11.12");
    EXPECT_EQ(raised([&] { to(TYPE_tuple, word::load_kind("F0AB", TYPE_issue)); }),
              err::invalid_data);
    EXPECT_EQ(raised([&] { to(TYPE_tuple, word::load_kind("G0A", TYPE_issue)); }),
              err::invalid_data);
    EXPECT_EQ(molded(to(TYPE_tuple, text("1.2.3.4"))), "1.2.3.4");
    EXPECT_EQ(raised([&] { to(TYPE_tuple, text("1.2")); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { to(TYPE_tuple, text("1.2.300")); }), err::bad_to_arg);
    cell_t loaded;
    ASSERT_TRUE(tuple::load_at("255.0.0.128", 11, &loaded));
    EXPECT_EQ(molded(loaded), "255.0.0.128");
    EXPECT_FALSE(tuple::load_at("1.x.3", 5, &loaded));
}

TEST_F(SmallValues, TupleArithmeticClamps) {
    using namespace math_op;
    struct Case {
        cell_t a;
        int32_t code;
        cell_t b;
        const char* mold;
    };
    const Case cases[] = {
        {Tu({1, 2, 3}), ADD, Tu({1, 1, 1, 1}), "2.3.4.1"},
        {Tu({200, 200, 200}), ADD, I(100), "255.255.255"},
        {Tu({1, 2, 3}), SUBTRACT, I(5), "0.0.0"},
        {Tu({10, 20, 30}), MULTIPLY, F(1.5), "15.30.45"},
        {Tu({10, 20, 30}), MULTIPLY, F(1e300), "255.255.255"},
        {Tu({10, 20, 30}), MULTIPLY, F(-1e300), "0.0.0"},
        {Tu({10, 20, 30}), MULTIPLY, I(INT32_MAX), "255.255.255"},
        {Tu({10, 20, 30}), SUBTRACT, I(INT32_MIN), "255.255.255"},
        {Tu({10, 20, 30}), DIVIDE, I(3), "3.6.10"},
        {Tu({10, 20, 30}), REMAINDER, I(7), "3.6.2"},
        {Tu({12, 10, 6}), AND, Tu({10, 6}), "8.2.0"},
        {Tu({12, 10, 6}), OR, I(1), "13.11.7"},
        {Tu({12, 10, 6}), XOR, I(255), "243.245.249"},
        {I(10), ADD, Tu({1, 2, 3}), "11.12.13"},
        {F(2.0), MULTIPLY, Tu({1, 2, 3}), "2.4.6"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(molded(math(c.a, c.code, c.b)), c.mold) << molded(c.a) << " " << c.code;

    EXPECT_EQ(raised([&] { math(I(10), SUBTRACT, Tu({1, 2, 3})); }), err::not_related);
    EXPECT_EQ(raised([&] { math(Tu({1, 2, 3}), DIVIDE, Tu({1, 0, 3})); }), err::zero_divide);
    EXPECT_EQ(raised([&] { math(Tu({1, 2, 3}), ADD, P(1, 2)); }), err::invalid_type);
}

TEST_F(SmallValues, TupleAccessAndCompare) {
    cell_t path = block_of({});
    auto set = [&](cell_t* t, cell_t index, cell_t value) {
        actions::eval_path(t, &index, &value, &path, nullptr, nullptr, 1, false, false, true,
                           false);
    };
    cell_t t = Tu({1, 2, 3, 4, 5});
    set(&t, I(4), NONE());
    EXPECT_EQ(molded(t), "1.2.3");
    cell_t u = Tu({1, 2, 3, 4, 5});
    set(&u, I(2), I(300));
    EXPECT_EQ(molded(u), "1.255.3.4.5");
    EXPECT_EQ(raised([&] { set(&u, I(6), I(1)); }), err::out_of_range);
    EXPECT_EQ(raised([&] { set(&u, I(1), F(1.0)); }), err::invalid_type);
    EXPECT_EQ(molded(u), "1.255.3.4.5");
    cell_t six = I(6);
    EXPECT_EQ(raised([&] { actions::pick(&u, &six); }), err::out_of_range);
    EXPECT_EQ(raised([&] { path_get(u, words::word(words::id::x)); }), err::invalid_type);
    EXPECT_EQ(integer::get(&(stack::arguments[5] = path_get(u, I(2)))), 255);

    cell_t a = Tu({1, 2, 3}), b = Tu({1, 2, 3, 0}), c = Tu({1, 2, 3, 1}), i = I(1);
    EXPECT_EQ(actions::compare_value(&a, &b, actions::cmp::EQUAL), 0);
    EXPECT_EQ(actions::compare_value(&a, &c, actions::cmp::SORT), -1);
    EXPECT_EQ(actions::compare_value(&a, &i, actions::cmp::EQUAL), -2);

    cell_t cp = Tu({1, 2, 3});
    EXPECT_EQ(molded(*actions::complement(&cp)), "254.253.252");
    EXPECT_TRUE(tuple::zero_q(&(stack::arguments[5] = Tu({0, 0, 0, 0}))));
}

TEST_F(SmallValues, TupleReverse) {
    struct Case {
        cell_t part, skip;
        bool has_part, has_skip;
        const char* result;
    };
    const Case cases[] = {
        {I(0), I(0), false, false, "6.5.4.3.2.1"}, {I(3), I(0), true, false, "3.2.1.4.5.6"},
        {I(99), I(0), true, false, "6.5.4.3.2.1"}, {I(0), I(2), false, true, "5.6.3.4.1.2"},
        {I(4), I(4), true, true, "1.2.3.4.5.6"},
    };
    for (const Case& c : cases) {
        cell_t t = Tu({1, 2, 3, 4, 5, 6}), part = c.part, skip = c.skip;
        EXPECT_EQ(molded(*actions::reverse(&t, c.has_part ? &part : nullptr,
                                           c.has_skip ? &skip : nullptr)),
                  c.result);
    }
    cell_t t = Tu({1, 2, 3, 4, 5, 6}), neg = I(-1), f = F(1.0), four = I(4), zero = I(0);
    EXPECT_EQ(raised([&] { actions::reverse(&t, &neg, nullptr); }), err::out_of_range);
    EXPECT_EQ(raised([&] { actions::reverse(&t, &f, nullptr); }), err::invalid_refine_arg);
    EXPECT_EQ(raised([&] { actions::reverse(&t, nullptr, &four); }), err::invalid_refine_arg);
    EXPECT_EQ(raised([&] { actions::reverse(&t, nullptr, &zero); }), err::out_of_range);
    EXPECT_EQ(molded(t), "1.2.3.4.5.6");
}

// --- tag!, email!, ref! ----------------------------------------------------------------

TEST_F(SmallValues, TextKindsMoldAndForm) {
    cell_t tg = text("a b", TYPE_tag), em = text("user@host", TYPE_email),
           rf = text("abc", TYPE_ref);
    EXPECT_EQ(molded(tg), "<a b>");
    EXPECT_EQ(formed(tg), "<a b>");
    EXPECT_EQ(molded(em), "user@host");
    EXPECT_EQ(molded(rf), "@abc");
    EXPECT_EQ(formed(rf), "abc");
    cell_t loaded;
    tag::load_at(reinterpret_cast<const uint8_t*>("div"), 3, &loaded);
    zuv::test::anchor(loaded);
    EXPECT_EQ(molded(loaded), "<div>");
    // Part budgets: a bracket costs one character.
    cell_t s = new_string();
    EXPECT_EQ(tag::form(&tg, &s, true, 10), 5);
    // append is not for refs; insert is.
    EXPECT_EQ(type_action_table[(TYPE_ref << 8) + ACT_append - 1], nullptr);
    EXPECT_NE(type_action_table[(TYPE_ref << 8) + ACT_insert - 1], nullptr);
    EXPECT_EQ(type_action_table[(TYPE_ref << 8) + ACT_put - 1], nullptr);
    EXPECT_NE(type_action_table[(TYPE_tag << 8) + ACT_append - 1], nullptr);
    EXPECT_EQ(type_action_table[(TYPE_tag << 8) + ACT_sort - 1], nullptr);
}

TEST_F(SmallValues, EmailFields) {
    cell_t user = words::word(words::id::user), host = words::word(words::id::host);
    cell_t em = text("uu@hhh", TYPE_email);
    cell_t u = path_get(em, user);
    EXPECT_EQ(type_of(&u), TYPE_string);
    EXPECT_EQ(text_of(&u), "uu");
    cell_t h = path_get(em, host);
    EXPECT_EQ(text_of(&h), "hhh");

    cell_t bare = text("uvw", TYPE_email);
    cell_t bu = path_get(bare, user), bh = path_get(bare, host);
    EXPECT_EQ(text_of(&bu), "uvw");
    EXPECT_EQ(text_of(&bh), "");

    struct Case {
        const char* email;
        bool set_user;
        const char* value;
        const char* result;
    };
    const Case cases[] = {
        {"uu@hhh", false, "example.org", "uu@example.org"},
        {"uu@hhh", true, "me", "me@hhh"},
        // Without "@" the host still comes after one.
        {"uvw", false, "host", "uvw@host"},
        {"uvw", true, "x", "x"},
    };
    for (const Case& c : cases) {
        cell_t e = text(c.email, TYPE_email), v = text(c.value), path = block_of({});
        cell_t field = c.set_user ? user : host;
        actions::eval_path(&e, &field, &v, &path, nullptr, nullptr, 1, false, false, true, false);
        EXPECT_EQ(molded(e), c.result);
    }
    cell_t other = words::word(words::id::x);
    EXPECT_EQ(raised([&] { path_get(em, other); }), err::invalid_path);
}

}  // namespace
