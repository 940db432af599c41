// datatype!, unset!, none!, logic! and triple!: text forms, comparison,
// conversion and the truth rule.

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/triple.h"
#include "datatypes/unset.h"
#include "registry_fixture.h"
#include "runtime/random.h"

namespace zuv::test {
namespace {

using BasicValues = RegistryTest;

cell_t type_value(int id) {
    cell_t c;
    datatype::make_at(&c, id);
    return c;
}

TEST_F(BasicValues, FormAndMold) {
    cell_t integer_type = type_value(TYPE_integer);
    cell_t t;
    triple::make_at(&t, 1, -2, 3);
    struct {
        cell_t value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {unset_value, "", "unset", "#(unset)"},
        {none_value, "none", "none", "#(none)"},
        {true_value, "true", "true", "#(true)"},
        {false_value, "false", "false", "#(false)"},
        {integer_type, "integer", "integer!", "#(integer!)"},
        {t, "make triple! [1 -2 3]", "make triple! [1 -2 3]", "make triple! [1 -2 3]"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.mold);
        cell_t out = new_string();
        int32_t rest = actions::form(&c.value, &out, false, 100);
        EXPECT_EQ(text_of(&out), c.form);
        EXPECT_EQ(rest, 100 - static_cast<int32_t>(strlen(c.form)));
        out = new_string();
        rest = actions::mold(&c.value, &out, {.limit = 100});
        EXPECT_EQ(text_of(&out), c.mold);
        EXPECT_EQ(rest, 100 - static_cast<int32_t>(strlen(c.mold)));
        out = new_string();
        rest = actions::mold(&c.value, &out, {.all = true, .limit = 100});
        EXPECT_EQ(text_of(&out), c.mold_all);
        EXPECT_EQ(rest, 100 - static_cast<int32_t>(strlen(c.mold_all)));
    }
}

TEST_F(BasicValues, Comparisons) {
    cell_t u = unset_value, n = none_value, t = true_value, f = false_value;
    cell_t i = type_value(TYPE_integer), i2 = type_value(TYPE_integer), b = type_value(TYPE_block);
    for (int op : {actions::cmp::EQUAL, actions::cmp::STRICT_EQUAL, actions::cmp::SAME}) {
        cell_t u2 = unset_value, n2 = none_value;
        EXPECT_TRUE(actions::compare(&u, &u2, op)) << op;
        EXPECT_TRUE(actions::compare(&n, &n2, op)) << op;
        EXPECT_TRUE(actions::compare(&i, &i2, op)) << op;
        EXPECT_FALSE(actions::compare(&i, &b, op)) << op;
        EXPECT_FALSE(actions::compare(&n, &u, op)) << op;
    }
    EXPECT_EQ(raised([&] { actions::compare(&n, &t, actions::cmp::LESSER); }),
              err::invalid_compare);
    EXPECT_EQ(raised([&] { actions::compare(&i, &i2, actions::cmp::LESSER); }),
              err::invalid_compare);
    // Sorting puts false before true.
    EXPECT_LT(actions::compare_value(&f, &t, actions::cmp::SORT), 0);
    EXPECT_EQ(actions::compare_value(&t, &t, actions::cmp::SORT), 0);
}

TEST_F(BasicValues, TruthRule) {
    cell_t zero{TYPE_integer, 0, 0, 0};
    struct {
        cell_t value;
        bool truth;
    } cases[] = {
        {none_value, false}, {false_value, false},
        {true_value, true},  {zero, true},
        {unset_value, true}, {cell_t{TYPE_logic, 2, 0, 0}, false}};  // only word 1 = 1 is true
    for (auto& c : cases)
        EXPECT_EQ(logic::true_q(&c.value, false, nullptr), c.truth) << int(type_of(&c.value));

    cell_t u = unset_value;
    EXPECT_EQ(raised([&] { logic::true_q(&u, true, nullptr); }), err::no_value);

    // An error raised leaves its value on the stack: start from an empty one.
    stack::arguments = stack::top_slot = stack::bottom;
    *stack::push_slot() = unset_value;
    EXPECT_EQ(raised([] { logic::top_true_q(); }), err::no_return);
    stack::top_slot = stack::arguments + 1;  // without the error value the raise left
    EXPECT_FALSE(logic::top_false_q());  // unset counts as true here
    *stack::arguments = none_value;
    EXPECT_TRUE(logic::top_false_q());
    EXPECT_TRUE(logic::last_false_q());
    stack::push(&true_value);
    EXPECT_TRUE(logic::last_true_q());  // the last pushed cell, not the result slot
}

TEST_F(BasicValues, LogicMakeAndTo) {
    cell_t proto = type_value(TYPE_logic);
    cell_t zero{TYPE_integer, 0, 0, 0};
    cell_t seven{TYPE_integer, 0, 7, 0};
    cell_t fzero{TYPE_float_, 0, 0, 0};
    cell_t nzero{TYPE_float_, 0, 0, 0};
    cell::put_float(&nzero, -0.0);
    cell_t nan{TYPE_float_, 0, 0, 0};
    cell::put_float(&nan, std::numeric_limits<double>::quiet_NaN());
    *stack::push_slot() = unset_value;  // the result slot
    struct {
        cell_t spec;
        bool make;
        bool to;
    } cases[] = {{zero, false, true},       {seven, true, true},         {fzero, false, true},
                 {nzero, false, true},      {nan, true, true},           {none_value, false, false},
                 {unset_value, true, true}, {false_value, false, false}, {true_value, true, true}};
    for (auto& c : cases) {
        SCOPED_TRACE(int(type_of(&c.spec)));
        cell_t spec = c.spec;
        EXPECT_EQ(logic::get(actions::make(&proto, &spec)), c.make);
        EXPECT_EQ(logic::get(actions::to(&proto, &spec)), c.to);
    }
}

TEST_F(BasicValues, LogicOperators) {
    struct {
        void (*op)();
        bool a, b, result;
    } cases[] = {{logic::and_t, true, false, false}, {logic::and_t, true, true, true},
                 {logic::or_t, false, false, false}, {logic::or_t, false, true, true},
                 {logic::xor_t, true, true, false},  {logic::xor_t, true, false, true}};
    for (auto& c : cases) {
        stack::arguments = stack::top_slot;
        logic::push(c.a);
        logic::push(c.b);
        c.op();
        EXPECT_EQ(type_of(stack::arguments), TYPE_logic);
        EXPECT_EQ(logic::get(stack::arguments), c.result);
    }
    stack::arguments = stack::top_slot;
    logic::push(true);
    stack::push(&none_value);
    EXPECT_EQ(raised([] { logic::and_t(); }), err::expect_arg);

    cell_t t = true_value;
    logic::complement(&t);
    EXPECT_FALSE(logic::get(&t));
    EXPECT_TRUE(logic::get(&true_value)) << "the shared cell is never written";
}

// A draw is 0..2^31-1; true must come up about half of the time.
TEST_F(BasicValues, RandomLogicIsTrueHalfOfTheTime) {
    random::srand(7);
    cell_t v = true_value;
    *stack::push_slot() = unset_value;
    int trues = 0;
    const int draws = 20000;
    for (int i = 0; i < draws; i++) trues += logic::get(actions::random(&v, false, false, false));
    EXPECT_GT(trues, draws * 45 / 100);
    EXPECT_LT(trues, draws * 55 / 100);
    actions::random(&v, true, false, false);
    EXPECT_EQ(type_of(stack::arguments), TYPE_unset);
}

TEST_F(BasicValues, NoneSeriesActionsGiveNone) {
    cell_t n = none_value;
    EXPECT_EQ(actions::length_q(&n), -1);
    *stack::push_slot() = true_value;
    actions::clear(&n);
    EXPECT_EQ(type_of(stack::arguments), TYPE_none);
    *stack::arguments = true_value;
    actions::take(&n, nullptr, false, false);
    EXPECT_EQ(type_of(stack::arguments), TYPE_none);
}

TEST_F(BasicValues, ConstructorsWriteTheirPlace) {
    cell_t b;
    block::make_at(&b, 4);
    datatype::make_in(&b, TYPE_block);
    logic::make_in(&b, true);
    none::make_in(&b);
    unset::make_in(&b);
    cell_t* c = block::first_cell(&b);
    EXPECT_EQ(type_of(c), TYPE_datatype);
    EXPECT_EQ(c[0].data1, uint32_t{TYPE_block});
    EXPECT_EQ(type_of(c + 1), TYPE_logic);
    EXPECT_EQ(type_of(c + 2), TYPE_none);
    EXPECT_EQ(type_of(c + 3), TYPE_unset);
    EXPECT_EQ(type_of(datatype::push(TYPE_word)), TYPE_datatype);
    EXPECT_EQ(type_of(none::push()), TYPE_none);
    EXPECT_EQ(type_of(logic::box(false)), TYPE_logic);
    EXPECT_EQ(stack::arguments, logic::box(false));
}

}  // namespace
}  // namespace zuv::test
