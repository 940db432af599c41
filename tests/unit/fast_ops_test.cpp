// The fast-path routines give what the actions and natives give, in every
// variant: inline for integers, floats and blocks, through a call for the
// rest.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "console/launch.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "interpreter/fast_ops.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "molded.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "startup/top_level.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv {
namespace {

class FastOps : public testing::LibraryRuntime {
protected:
    void SetUp() override {
        testing::LibraryRuntime::SetUp();
        stack::push(&none_value);  // a result slot for the "last" variants
    }

    static cell_t* load(const char* text) {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        lexer::scan(code, reinterpret_cast<const uint8_t*>(text),
                    static_cast<int32_t>(std::strlen(text)), {}, nullptr, nullptr, nullptr,
                    nullptr);
        return code;
    }

    // The value of the one expression in text.
    static cell_t value_of(const char* text) {
        cell_t* code = load(text);
        interpreter::eval(code, false);
        cell_t v = *stack::top();
        stack::top_slot = code;
        return v;
    }

    static std::string molded(const cell_t* v) {
        return zuv::test::molded(v, {.all = true, .flat = true});
    }

    // What body gives: the molded value it returns, or the error's id. The
    // stack is put back either way.
    template <typename F> static std::string outcome(F body) {
        cell_t* top = stack::top_slot;
        call_frame_t* ctop = stack::ctop;
        cell_t* args = stack::arguments;
        std::string r;
        try {
            cell_t v = body();
            r = molded(&v);
            // Mold shows no position: a series' index is part of its value.
            if (type_of(&v) == TYPE_block || type_of(&v) == TYPE_string)
                r += " at " + std::to_string(block::head_index(&v));
        } catch (const raised_error& e) {
            r = "error " + std::to_string(static_cast<int>(e.id));
        }
        stack::top_slot = top;
        stack::ctop = ctop;
        stack::arguments = args;
        exits::pending = 0;
        return r;
    }

    static std::string evaluated(const std::string& text) {
        return outcome([&] { return value_of(text.c_str()); });
    }
};

const char* const operands[][2] = {
    {"2147483647", "1"}, {"-2147483648", "1"}, {"-2147483648", "-1"}, {"65536", "65536"},
    {"7", "7"},          {"3", "-5"},          {"1", "1.5"},          {"1.5", "2.25"},
    {"1x2", "3"},        {"\"a\"", "\"b\""},   {"\"a\"", "1"},        {"#(none)", "1"},
    {"1", "#(none)"},
};

TEST_F(FastOps, MathVariantsGiveWhatTheActionGives) {
    const struct {
        int32_t op;
        const char* action;
    } ops[] = {{actions::math::ADD, "add"},
               {actions::math::SUBTRACT, "subtract"},
               {actions::math::MULTIPLY, "multiply"},
               {actions::math::AND, "and~"},
               {actions::math::OR, "or~"},
               {actions::math::XOR, "xor~"}};
    for (auto& o : ops) {
        cell_t word = value_of("'add");
        for (auto& p : operands) {
            std::string expected = evaluated(std::string(o.action) + " " + p[0] + " " + p[1]);
            SCOPED_TRACE(std::string(o.action) + " " + p[0] + " " + p[1]);
            cell_t left = value_of(p[0]);
            collector::root_cell keep_left(&left);
            cell_t right = value_of(p[1]);
            collector::root_cell keep_right(&right);
            EXPECT_EQ(outcome([&] { return *actions::math_op(o.op, &word, &left, &right); }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          stack::push(&left);
                          return *actions::math_op_top(o.op, &word, &right);
                      }),
                      expected);
            if (type_of(&right) != TYPE_integer) continue;
            int32_t r = integer::get(&right);
            EXPECT_EQ(outcome([&] { return *actions::math_op_int(o.op, &word, &left, r); }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          stack::push(&left);
                          return *actions::math_op_top_int(o.op, &word, r);
                      }),
                      expected);
        }
    }
}

TEST_F(FastOps, CompareVariantsGiveWhatTheNativeGives) {
    const char* natives[] = {"equal?",           "not-equal?", "strict-equal?",    "lesser?",
                             "lesser-or-equal?", "greater?",   "greater-or-equal?"};
    cell_t word = value_of("'equal?");
    for (int32_t op = actions::cmp::EQUAL; op <= actions::cmp::GREATER_EQUAL; op++) {
        for (auto& p : operands) {
            std::string expected = evaluated(std::string(natives[op]) + " " + p[0] + " " + p[1]);
            SCOPED_TRACE(std::string(natives[op]) + " " + p[0] + " " + p[1]);
            cell_t left = value_of(p[0]);
            collector::root_cell keep_left(&left);
            cell_t right = value_of(p[1]);
            collector::root_cell keep_right(&right);
            auto as_logic = [](bool b) {
                cell_t c;
                logic::make_at(&c, b);
                return c;
            };
            EXPECT_EQ(outcome([&] { return *actions::compare_op(op, &word, &left, &right); }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          stack::push(&left);
                          return *actions::compare_op_top(op, &word, &right);
                      }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          return as_logic(
                              actions::compare_op_flag(op, &word, &left, &right, false));
                      }),
                      expected);
            // Inverted: the opposite truth, and nothing left on the stack.
            cell_t* top = stack::top_slot;
            std::string inverted = outcome([&] {
                return as_logic(!actions::compare_op_flag(op, &word, &left, &right, true));
            });
            EXPECT_EQ(inverted, expected);
            EXPECT_EQ(stack::top_slot, top);
            EXPECT_EQ(outcome([&] {
                          bool b = actions::compare_op_last(op, &word, &left, &right);
                          EXPECT_EQ(logic::get(stack::arguments), b);
                          return *stack::arguments;
                      }),
                      expected);
            if (type_of(&right) != TYPE_integer) continue;
            int32_t r = integer::get(&right);
            EXPECT_EQ(outcome([&] { return *actions::compare_op_int(op, &word, &left, r); }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          return as_logic(actions::compare_op_int_flag(op, &word, &left, r, false));
                      }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          actions::compare_op_last_int(op, &word, &left, r);
                          return *stack::arguments;
                      }),
                      expected);
            EXPECT_EQ(outcome([&] {
                          stack::push(&left);
                          return *actions::compare_op_top_int(op, &word, r);
                      }),
                      expected);
        }
    }
}

TEST_F(FastOps, NavigationAtTheEndsGivesWhatTheActionGives) {
    const char* actions_by_code[] = {nullptr, "length?", "index?", "head?", "tail?",
                                     "next",  "back",    "head",   "tail"};
    // A block at its head, inside, at its tail; a string takes the action.
    const char* series[] = {"[1 2 3]", "next [1 2 3]", "tail [1 2 3]",
                            "[]",      "next \"ab\"",  "#(none)"};
    cell_t word = value_of("'next");
    for (int32_t code = actions::nav::LENGTH_Q; code <= actions::nav::TAIL; code++) {
        for (const char* s : series) {
            std::string text = std::string(actions_by_code[code]) + " " + s;
            SCOPED_TRACE(text);
            std::string expected = evaluated(text);
            cell_t v = value_of(s);
            collector::root_cell keep(&v);
            EXPECT_EQ(outcome([&] { return *actions::series_nav(code, &word, &v); }), expected);
        }
    }
}

TEST_F(FastOps, PicksGiveWhatPathEvaluationGives) {
    const char* values[] = {"[1 2 3]", "next [1 2 3]", "tail [1 2 3]", "\"abc\"", "1x2", "#(none)"};
    const int32_t indexes[] = {0, -1, 1, 2, 3, 4};
    cell_t word = value_of("'v");
    for (const char* v : values) {
        for (int32_t i : indexes) {
            std::string text = std::string("v: ") + v + " v/" + std::to_string(i);
            SCOPED_TRACE(text);
            std::string expected = evaluated(text);
            cell_t value = value_of(v);
            collector::root_cell keep(&value);
            EXPECT_EQ(outcome([&] { return *actions::path_pick(&word, &value, i); }), expected);
        }
    }
}

// The plans' integer routine against the general one it stands in for: the
// same value where it answers, and where it declines the general one either
// declines too (the action raises) or makes the float of the exact result.
TEST_F(FastOps, IntegerRoutineAgreesWithTheGeneralOne) {
    const int32_t values[] = {INT32_MIN, INT32_MIN + 1, -65536,   -7, -2, -1, 0, 1, 2, 3,
                              7,         65536,         INT32_MAX};
    using namespace interpreter;
    for (int32_t code = FAST_NONE; code <= FAST_DIVIDE; code++) {
        auto f = static_cast<fast_op>(code);
        for (int32_t l : values) {
            for (int32_t r : values) {
                SCOPED_TRACE("op " + std::to_string(code) + ": " + std::to_string(l) + ", " +
                             std::to_string(r));
                cell_t general{};
                integer::make_at(&general, l);
                cell_t right;
                integer::make_at(&right, r);
                bool general_done = fast_compute(f, &general, &right);
                cell_t planned{};
                integer::make_at(&planned, l);
                bool truthy = false;
                bool planned_done = fast_integers(f, &planned, l, r, &truthy);
                if (planned_done) {
                    ASSERT_TRUE(general_done);
                    EXPECT_EQ(type_of(&planned), type_of(&general));
                    EXPECT_EQ(molded(&planned), molded(&general));
                    EXPECT_EQ(truthy, logic::truthy(&planned));
                } else {
                    // Declined: the left cell as it was, and nothing the
                    // general routine gives as an integer or a logic.
                    EXPECT_EQ(type_of(&planned), TYPE_integer);
                    EXPECT_EQ(integer::get(&planned), l);
                    if (general_done) {
                        EXPECT_EQ(type_of(&general), TYPE_float_);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace zuv
