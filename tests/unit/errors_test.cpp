// error! values: making them, their text form, paths and comparison.

#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "errors_fixture.h"

namespace zuv::test {
namespace {

using Errors = ErrorsTest;

cell_t make_error(cell_t spec) {
    cell_t proto = cell_t{TYPE_none, 0, 0, 0};
    return anchor(*error::make(&proto, &spec, TYPE_error));
}

cell_t block_of(std::vector<cell_t> items) {
    cell_t b;
    cell::begin(&b);
    block::make_at(&b, 4);
    anchor(b);
    anchor(b);
    for (cell_t& c : items) block::rs_append(&b, &c);
    return b;
}

TEST_F(Errors, CatalogCodesAgreeWithIds) {
    EXPECT_EQ(errors::code(err::break_), 0);
    EXPECT_EQ(errors::code(err::no_value), 300);
    EXPECT_EQ(errors::code(err::rb_invalid_record), 393);
    EXPECT_EQ(errors::code(err::overflow), 401);
    EXPECT_EQ(errors::code(err::message), 800);
    EXPECT_EQ(errors::code(err::deprecated), 913);
    for (int32_t c = 0; c < error::CATEGORY_COUNT; c++) EXPECT_NE(error::category(c), nullptr);
}

TEST_F(Errors, MakeFromInteger) {
    struct case_t {
        int32_t code;
        const char* type;
        const char* id;
    } cases[] = {{401, "math", "overflow"},
                 {0, "throw", "break"},
                 {300, "script", "no-value"},
                 {800, "user", "message"},
                 {913, "internal", "deprecated"}};
    for (const case_t& c : cases) {
        cell_t e = make_error(integer(c.code));
        ASSERT_EQ(type_of(&e), TYPE_error) << c.code;
        EXPECT_EQ(integer::get(error::field(&e, error::FIELD_CODE)), c.code);
        EXPECT_EQ(word_text(error::field(&e, error::FIELD_TYPE)), c.type) << c.code;
        EXPECT_EQ(word_text(error::field(&e, error::FIELD_ID)), c.id) << c.code;
        EXPECT_EQ(type_of(error::field(&e, error::FIELD_ARG1)), TYPE_none);
        EXPECT_EQ(e.data2, 1u);  // class id
    }
    cell_t e = make_error(integer(401));
    EXPECT_EQ(error::id_of(&e), err::overflow);
}

TEST_F(Errors, IntegerOutsideTheCatalogIsOutOfRange) {
    // 410: math has three ids; 600: reserved1 has none.
    for (int32_t code : {410, 1000, -1, 600, 105}) {
        cell_t value;
        EXPECT_EQ(raised([&] { make_error(integer(code)); }, &value), err::out_of_range) << code;
        EXPECT_EQ(integer::get(error::field(&value, error::FIELD_ARG1)), code);
        std::string f = formed(&value);
        EXPECT_EQ(f.substr(0, f.find('\n')),
                  "*** Script Error: value out of range: " + std::to_string(code));
    }
}

TEST_F(Errors, MakeFromString) {
    cell_t e = make_error(text("disk on fire"));
    EXPECT_EQ(integer::get(error::field(&e, error::FIELD_CODE)), 800);
    EXPECT_EQ(error::id_of(&e), err::message);
    EXPECT_EQ(text_of(error::field(&e, error::FIELD_ARG1)), "disk on fire");
    EXPECT_EQ(formed(&e).substr(0, 30), "*** User Error: disk on fire\n*");
}

TEST_F(Errors, MakeFromWordBlock) {
    cell_t e = make_error(block_of({word("math"), word("zero-divide")}));
    EXPECT_EQ(integer::get(error::field(&e, error::FIELD_CODE)), 400);
    EXPECT_EQ(error::id_of(&e), err::zero_divide);

    cell_t value;
    EXPECT_EQ(raised([&] { make_error(block_of({word("math")})); }, &value),
              err::invalid_spec_field);
    EXPECT_EQ(word_text(error::field(&value, error::FIELD_ARG1)), "id");
    EXPECT_EQ(raised(
                  [&] {
                      make_error(block_of({word("maths"), word("overflow")}));
                  },
                  &value),
              err::invalid_spec_field);
    EXPECT_EQ(word_text(error::field(&value, error::FIELD_ARG1)), "type");
    EXPECT_EQ(raised(
                  [&] {
                      make_error(block_of({word("math"), integer(5)}));
                  },
                  &value),
              err::invalid_arg);
    EXPECT_EQ(integer::get(error::field(&value, error::FIELD_ARG1)), 5);
    EXPECT_EQ(raised([&] {
                  make_error(block_of({word("math"), word("no-value")}));
              }),
              err::invalid_spec_field);
    // code and type are words of a category object, but not ids.
    EXPECT_EQ(raised([&] {
                  make_error(block_of({word("math"), word("type")}));
              }),
              err::invalid_spec_field);
    EXPECT_EQ(raised(
                  [&] {
                      make_error(block_of({integer(1), integer(2)}));
                  },
                  &value),
              err::invalid_error);
    EXPECT_EQ(type_of(error::field(&value, error::FIELD_ARG1)), TYPE_none);
    EXPECT_EQ(raised([&] { make_error(cell_t{TYPE_none, 0, 0, 0}); }), err::bad_make_arg);
}

TEST_F(Errors, MakeFromSetWordBlock) {
    cell_t e = make_error(block_of({word("type", TYPE_set_word), word("script", TYPE_lit_word),
                                    word("id", TYPE_set_word), word("no-value", TYPE_lit_word),
                                    word("arg1", TYPE_set_word), word("foo", TYPE_lit_word)}));
    EXPECT_EQ(integer::get(error::field(&e, error::FIELD_CODE)), 300);
    std::string f = formed(&e);
    EXPECT_EQ(f.substr(0, f.find('\n')), "*** Script Error: foo has no value");
    EXPECT_NE(f.find("\n*** Where: ???\n*** Near : "), std::string::npos) << f;
    EXPECT_EQ(raised([&] {
                  make_error(
                      block_of({word("type", TYPE_set_word), word("nothing", TYPE_lit_word),
                                word("id", TYPE_set_word), word("no-value", TYPE_lit_word)}));
              }),
              err::invalid_spec_field);
}

TEST_F(Errors, FireBuildsTheErrorOnTheStack) {
    cell_t a = integer(7);
    cell_t value;
    EXPECT_EQ(raised([&] { fire(err::out_of_range, &a); }, &value), err::out_of_range);
    ASSERT_EQ(type_of(&value), TYPE_error);
    EXPECT_EQ(integer::get(error::field(&value, error::FIELD_CODE)),
              errors::code(err::out_of_range));
    EXPECT_EQ(formed(&value),
              "*** Script Error: value out of range: 7\n*** Where: ???\n*** Near : none");
}

TEST_F(Errors, ScriptArgumentsAreMoldedSyntaxArgumentsFormed) {
    cell_t t = text("abc");
    cell_t script = anchor(*error::create(err::invalid_arg, &t));
    EXPECT_EQ(formed(&script).substr(0, 42), "*** Script Error: invalid argument: \"abc\"\n");
    cell_t syntax = anchor(*error::create(err::no_header, &t));
    EXPECT_EQ(formed(&syntax).substr(0, 54),
              "*** Syntax Error: script is missing a Zuv header: abc\n");
}

TEST_F(Errors, LongArgumentIsCutAt80) {
    std::string long_text(200, 'x');
    cell_t t = text(long_text.c_str());
    cell_t e = anchor(*error::create(err::invalid_arg, &t));
    std::string f = formed(&e);
    std::string first = f.substr(0, f.find('\n'));
    // A long text molds in braces; either way 80 characters of it remain.
    EXPECT_EQ(first, "*** Script Error: invalid argument: {" + std::string(79, 'x'));
}

TEST_F(Errors, NearIsCutAt40) {
    cell_t b;
    cell::begin(&b);
    block::make_at(&b, 40);
    anchor(b);
    for (int i = 0; i < 30; i++) {
        cell_t n = integer(1000 + i);
        block::rs_append(&b, &n);
    }
    error::position = &b;
    cell_t e = anchor(*error::create(err::zero_divide));
    error::position = nullptr;
    std::string f = formed(&e);
    std::string near = f.substr(f.find("*** Near : ") + 11);
    EXPECT_EQ(near, "1000 1001 1002 1003 1004 1005 1006 1007 ");
}

TEST_F(Errors, WhereIsTheWordOrUnknown) {
    cell_t e = anchor(*error::create(err::zero_divide));
    EXPECT_NE(formed(&e).find("*** Where: ???"), std::string::npos);
    cell_t w = word("divide");
    error::set_where(stack::top(), &w);
    EXPECT_NE(formed(stack::top()).find("*** Where: divide\n"), std::string::npos);
    cell_t other = word("add");
    error::set_where(stack::top(), &other);  // set only while none
    EXPECT_NE(formed(stack::top()).find("*** Where: divide\n"), std::string::npos);
}

TEST_F(Errors, MalformedErrorFormsAsInvalidError) {
    cell_t e = anchor(*error::create(err::zero_divide));
    *error::field(&e, error::FIELD_TYPE) = word("weird");
    std::string f = formed(&e);
    EXPECT_EQ(f.substr(0, f.find('\n')),
              "*** Internal Error: invalid error object field value: weird");
    cell_t e2 = anchor(*error::create(err::zero_divide));
    *error::field(&e2, error::FIELD_ID) = word("strange");
    f = formed(&e2);
    EXPECT_EQ(f.substr(0, f.find('\n')),
              "*** Internal Error: invalid error object field value: strange");
}

TEST_F(Errors, StackFieldRefusedThroughPaths) {
    cell_t e = anchor(*error::create(err::zero_divide));
    cell_t path = word("e");  // stands for the path in reports
    for (const char* spelling : {"stack", "STACK", "Stack"}) {
        cell_t element = word(spelling);
        EXPECT_EQ(raised([&] {
                      error::eval_path(&e, &element, nullptr, &path, nullptr, nullptr, 1, false,
                                       false, true, false);
                  }),
                  err::invalid_path_set)
            << spelling;
        cell_t v = integer(1);
        EXPECT_EQ(raised([&] {
                      error::eval_path(&e, &element, &v, &path, nullptr, nullptr, 1, false, false,
                                       true, false);
                  }),
                  err::invalid_path_set)
            << spelling;
    }
    cell_t code = word("code");
    cell_t* got =
        error::eval_path(&e, &code, nullptr, &path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(integer::get(got), 400);
    cell_t arg = word("arg2");
    cell_t nine = integer(9);
    error::eval_path(&e, &arg, &nine, &path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(integer::get(error::field(&e, error::FIELD_ARG2)), 9);
}

TEST_F(Errors, Compare) {
    cell_t e = anchor(*error::create(err::zero_divide));
    cell_t n = integer(1);
    EXPECT_EQ(error::compare(&e, &n, 0), -2);
    cell_t same = e;
    EXPECT_EQ(error::compare(&e, &same, 0), 0);
    EXPECT_EQ(type_of(&same), TYPE_error);
}

TEST_F(Errors, Mold) {
    cell_t e = anchor(*error::create(err::zero_divide));
    cell_t out;
    cell::begin(&out);
    string::make_at(&out, 64);
    anchor(out);
    error::mold(&e, &out, {.flat = true});
    std::string m = text_of(&out);
    EXPECT_EQ(m.substr(0, 30), "make error! [code: 400 type: '");
    EXPECT_EQ(m.back(), ']');
}

}  // namespace
}  // namespace zuv::test
