// function!, routine!, native!, action! and op! values.

#include <string>
#include <vector>

#include "datatypes/action.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/op.h"
#include "datatypes/routine.h"
#include "function_fixture.h"
#include "runtime/words.h"

namespace zuv::test {
namespace {

using Functions = FunctionTest;
using Routines = FunctionTest;
using Natives = FunctionTest;
using Ops = FunctionTest;

// A function made by the function! make action from [spec body].
cell_t make_function(const char* spec_and_body) {
    cell_t proto;
    datatype::make_at(&proto, TYPE_function);
    cell_t spec = FunctionTest::load(spec_and_body);
    stack::clear_args();
    stack::push(&spec);
    return anchor(*actions::make(&proto, stack::arguments));
}

int32_t field(words::id w) { return static_cast<int32_t>(words::symbol_of(w)); }

cell_t reflect(const cell_t& v, words::id w) {
    stack::clear_args();
    cell_t* slot = stack::push(&v);
    return anchor(*actions::reflect(slot, field(w)));
}

TEST_F(Functions, SpecValidation) {
    struct Case {
        const char* spec;
        err expected;  // err::not_done stands for "valid"
    };
    const Case cases[] = {
        {"[]", err::not_done},
        {"[a [integer!] \"doc\"]", err::not_done},
        {"[\"doc\" a 'b :c]", err::not_done},
        {"[a return: [integer!] /local b]", err::not_done},
        {"[a /ref b [string!] \"doc\" /other /local x y]", err::not_done},
        {"[a return: [integer!] \"doc\" /local x]", err::not_done},
        {"[a \"doc\" [integer!]]", err::bad_func_def},
        {"[return: [integer!] a]", err::bad_func_def},
        {"[/local a /ref]", err::bad_func_def},
        {"[a /local :b]", err::bad_func_def},
        {"[a /local 'b]", err::bad_func_def},
        {"[a 1]", err::bad_func_def},
        {"[[1] a]", err::bad_func_def},
        {"[/ref [integer!]]", err::bad_func_def},
        {"[a result: [integer!]]", err::bad_func_def},
        {"[a return: integer!]", err::bad_func_def},
        {"[a return: [integer!] [block!]]", err::bad_func_def},
        {"[a return: [integer!] return: [integer!]]", err::bad_func_def},
        {"[a /local x return: [integer!]]", err::bad_func_def},
        {"[a return: [integer!] /ref]", err::bad_func_def},
        {"[a [1]]", err::invalid_type_spec},
        {"[a [no-such-type!]]", err::invalid_type_spec},
        {"[a return: [\"text\"]]", err::invalid_type_spec},
        {"[a a]", err::dup_vars},
        {"[a A]", err::dup_vars},
        {"[a /ref b /a]", err::dup_vars},
        {"[a /local a]", err::dup_vars},
    };
    for (const Case& c : cases) {
        cell_t spec = load(c.spec);
        std::string before = molded(&spec);
        if (c.expected == err::not_done) {
            EXPECT_NO_THROW(function::validate_spec(&spec)) << c.spec;
        } else {
            EXPECT_EQ(raised([&] { function::validate_spec(&spec); }), c.expected) << c.spec;
        }
        // A failing definition leaves the caller's block untouched.
        EXPECT_EQ(molded(&spec), before) << c.spec;
    }
}

TEST_F(Functions, AttributeBlockGivesTraceFlags) {
    struct Case {
        const char* spec;
        uint32_t flags;
    } cases[] = {
        {"[a]", 0},
        {"[[trace] a]", function::FLAG_TRACE},
        {"[[no-trace] a]", function::FLAG_NO_TRACE},
        {"[[catch no-trace trace] a]", function::FLAG_TRACE | function::FLAG_NO_TRACE},
    };
    for (const Case& c : cases) {
        cell_t spec = load(c.spec);
        EXPECT_EQ(function::validate_spec(&spec), c.flags) << c.spec;
    }
    cell_t fn = make_function("[[[trace] a] [a]]");
    EXPECT_EQ(fn.header & (function::FLAG_TRACE | function::FLAG_NO_TRACE), function::FLAG_TRACE);
}

TEST_F(Functions, CountAndInitLocals) {
    struct Case {
        const char* spec;
        int32_t start;
        bool must_have;
        int32_t expected;
    } cases[] = {
        {"[a b /local x y]", 2, false, 3},
        {"[a b /local x y]", 0, false, 3},
        {"[a /ref b /local x \"doc\" y z]", 0, false, 4},
        {"[a b]", 0, false, 0},
        {"[a b]", 0, true, -1},
        {"[a /local]", 0, true, 1},
    };
    for (const Case& c : cases) {
        cell_t spec = load(c.spec);
        EXPECT_EQ(function::count_locals(spec.data2, c.start, c.must_have), c.expected) << c.spec;
    }
    stack::clear_args();
    function::init_locals(3);
    ASSERT_EQ(stack::top_slot - stack::arguments, 3);
    EXPECT_EQ(type_of(&stack::arguments[0]), TYPE_logic);
    EXPECT_EQ(stack::arguments[0].data1, 0u);
    EXPECT_EQ(type_of(&stack::arguments[1]), TYPE_none);
    EXPECT_EQ(type_of(&stack::arguments[2]), TYPE_none);
}

TEST_F(Functions, MakeBuildsContextMoreSeriesAndBoundBody) {
    cell_t fn = make_function("[[a /ref b /local c] [a + b [c]]]");
    ASSERT_EQ(type_of(&fn), TYPE_function);
    node_t ctx = function::context_of(&fn);
    EXPECT_EQ(_context::kind_of(_context::cell_of(ctx)), _context::KIND_FUNCTION);
    // The context's self value is the function itself.
    cell_t* self = _context::get_self_value(ctx);
    EXPECT_EQ(type_of(self), TYPE_function);
    EXPECT_EQ(self->data3, fn.data3);
    // Arguments, refinements and locals are the context's words.
    cell_t words = reflect(fn, words::id::words);
    EXPECT_EQ(molded(&words), "[a ref b local c]");
    for (int32_t i = 0; i < block::abs_length(&words); i++) {
        EXPECT_EQ(block::rs_abs_at(&words, i)->data1, ctx);
        EXPECT_EQ(block::rs_abs_at(&words, i)->data3, static_cast<uint32_t>(i));
    }
    // The body is a bound deep copy; the more series has its five cells.
    cell_t body = anchor(*function::more(&fn, function::MORE_BODY));
    EXPECT_EQ(molded(&body), "[a + b [c]]");
    EXPECT_EQ(block::rs_abs_at(&body, 0)->data1, ctx);
    cell_t nested = anchor(*block::rs_abs_at(&body, 3));
    EXPECT_EQ(block::rs_abs_at(&nested, 0)->data1, ctx);
    EXPECT_EQ(block::abs_length(&body) + 0, 4);
    EXPECT_EQ(alloc::buffer(function::more_node(&fn))->used(), function::MORE_COUNT * 16);
    EXPECT_EQ(type_of(function::more(&fn, function::MORE_CODE)), TYPE_unset);
    EXPECT_EQ(function::code_of(&fn), 0);
}

TEST_F(Functions, BodyIsCopiedSpecIsShared) {
    cell_t source = load("[[a] [a [1]]]");
    cell_t proto;
    datatype::make_at(&proto, TYPE_function);
    stack::clear_args();
    stack::push(&source);
    cell_t fn = anchor(*actions::make(&proto, stack::arguments));
    // Changing the literal body, even a nested block of it, leaves the function's body.
    cell_t literal_body = anchor(*block::rs_abs_at(&source, 1));
    cell_t literal_nested = anchor(*block::rs_abs_at(&literal_body, 1));
    cell_t two = integer(2);
    block::rs_append(&literal_nested, &two);
    EXPECT_EQ(molded(function::more(&fn, function::MORE_BODY)), "[a [1]]");
    // reflect spec gives the very block stored: changing it changes the function.
    cell_t spec = reflect(fn, words::id::spec);
    EXPECT_EQ(spec.data2, function::spec_node(&fn));
    cell_t extra = word("extra");
    block::rs_append(&spec, &extra);
    EXPECT_EQ(molded(&fn), "func [a extra][a [1]]");
    cell_t body = reflect(fn, words::id::body);
    EXPECT_EQ(body.data2, function::more(&fn, function::MORE_BODY)->data2);
}

TEST_F(Functions, SpecFromAnIndexIsCopied) {
    cell_t spec = load("[x y a b]");
    block::set_head_index(&spec, 2);
    stack::clear_args();
    function::push(&spec, nullptr, 0, 0, 0, 0);
    cell_t fn = anchor(*stack::top());
    EXPECT_NE(function::spec_node(&fn), spec.data2);
    EXPECT_EQ(molded(&fn), "func [a b] none");
}

TEST_F(Functions, MakeRejectsMalformedDefinitions) {
    const char* cases[] = {"[]", "[[a]]", "[a [a]]", "[[a] b]", "[[a \"doc\" [integer!]] [a]]"};
    for (const char* c : cases) {
        EXPECT_EQ(raised([&] { make_function(c); }), err::bad_func_def) << c;
    }
    cell_t proto;
    datatype::make_at(&proto, TYPE_function);
    cell_t n = integer(1);
    EXPECT_EQ(raised([&] { actions::make(&proto, &n); }), err::bad_func_def);
}

TEST_F(Functions, ReflectUnknownFieldIsNotDone) {
    cell_t fn = make_function("[[a] [a]]");
    EXPECT_EQ(raised([&] { reflect(fn, words::id::class_); }), err::not_done);
}

TEST_F(Functions, FormMoldCompare) {
    cell_t f = make_function("[[a b] [a]]");
    cell_t g = make_function("[[a b] [a]]");
    EXPECT_EQ(formed(&f), "?function?");
    EXPECT_EQ(molded(&f), "func [a b][a]");
    stack::clear_args();
    cell_t spec = load("[a]");
    function::push(&spec, nullptr, 0, 0, 0, 0);
    cell_t bodiless = anchor(*stack::top());
    EXPECT_EQ(molded(&bodiless), "func [a] none");

    EXPECT_EQ(actions::compare_value(&f, &f, actions::cmp::EQUAL), 0);
    EXPECT_NE(actions::compare_value(&f, &g, actions::cmp::EQUAL), 0);
    EXPECT_TRUE(actions::compare(&f, &f, actions::cmp::SAME));
    EXPECT_FALSE(actions::compare(&f, &g, actions::cmp::EQUAL));
    cell_t n = integer(1);
    EXPECT_EQ(function::compare(&f, &n, actions::cmp::EQUAL), -2);
    EXPECT_EQ(function::compare(&f, &g, actions::cmp::LESSER), -2);
}

TEST_F(Functions, CollectWords) {
    struct Case {
        const char* spec;
        const char* body;
        const char* collected;
        const char* spec_after;
    } cases[] = {
        {"[a]", "[b: 1 c: [d: 2] a: 3 (e: 4)]", "[b c d e]", "[a /local b c d e]"},
        {"[a /local x]", "[x: 1 y: 2]", "[y]", "[a /local x y]"},
        {"[a]", "[print a]", "[]", "[a]"},
        {"[a /extern x]", "[x: 1 y: 2]", "[y]", "[a /local y]"},
        {"[a /extern x /local z]", "[q: 1]", "[z q]", "[a /local z q]"},
        {"[a]", "[foreach [k :v] s [] repeat i 3 [] remove-each r s []]", "[k v i r]",
         "[a /local k v i r]"},
        {"[a]", "[foreach w: s [] repeat a 3 []]", "[w]", "[a /local w]"},
        {"[a]", "[local: 1 b: 2]", "[b]", "[a /local b]"},
        {"[a /ref b return: [integer!]]", "[b: ref: a: 1]", "[]", "[a /ref b return: [integer!]]"},
    };
    for (const Case& c : cases) {
        cell_t spec = load(c.spec);
        cell_t body = load(c.body);
        stack::clear_args();
        cell_t collected = anchor(*function::collect_words(&spec, &body));
        EXPECT_EQ(molded(&collected), c.collected) << c.spec << " " << c.body;
        EXPECT_EQ(molded(&spec), c.spec_after) << c.spec << " " << c.body;
    }
    cell_t spec = load("[a 1 /extern x]");
    cell_t body = load("[y: 1]");
    EXPECT_EQ(raised([&] { function::collect_words(&spec, &body); }), err::bad_func_extern);
}

// --- routines ----------------------------------------------------------------

void routine_entry() { *stack::arguments = FunctionTest::integer(42); }

TEST_F(Routines, PushCountsArityAndKeepsEntry) {
    int32_t code = routine::add_entry(routine_entry);
    EXPECT_EQ(routine::entry_at(code), routine_entry);
    EXPECT_EQ(routine::add_entry(routine_entry), code);  // one entry, one index
    EXPECT_EQ(routine::entry_at(0), nullptr);

    cell_t spec = load("[a [integer!] b [string!] /ref x]");
    stack::clear_args();
    cell_t r = anchor(*routine::push(&spec, nullptr, code, TYPE_integer, true));
    EXPECT_EQ(type_of(&r), TYPE_routine);
    EXPECT_EQ(routine::get_arity(&r), 3);
    EXPECT_NE(r.header & routine::FLAG_EXTRA, 0u);
    EXPECT_EQ(routine::code_of(&r), code);
    EXPECT_EQ(integer::get(function::more(&r, function::MORE_OWNER)), TYPE_integer);
    EXPECT_EQ(formed(&r), "?routine?");
    EXPECT_EQ(molded(&r), "routine [a [integer!] b [string!] /ref x] none");

    cell_t body = load("[native code]");
    cell_t plain = anchor(*routine::push(&spec, &body, code, -1, false));
    EXPECT_EQ(plain.header & routine::FLAG_EXTRA, 0u);
    EXPECT_EQ(molded(&plain), "routine [a [integer!] b [string!] /ref x][native code]");
    // Reflection is function!'s; the body is kept as given.
    EXPECT_EQ(reflect(plain, words::id::body).data2, body.data2);
    EXPECT_EQ(actions::compare_value(&r, &r, actions::cmp::EQUAL), 0);
    EXPECT_NE(actions::compare_value(&r, &plain, actions::cmp::EQUAL), 0);
}

// --- natives, actions, ops ---------------------------------------------------

cell_t make_numbered(int32_t type, const char* spec) {
    cell_t proto;
    datatype::make_at(&proto, type);
    cell_t s = FunctionTest::load(spec);
    stack::clear_args();
    stack::push(&s);
    return anchor(*actions::make(&proto, stack::arguments));
}

TEST_F(Natives, MakeNamesAnExistingEntry) {
    struct Case {
        int32_t type;
        const char* spec;
        bool ok;
    } cases[] = {
        {TYPE_native, "[[a b] 1]", true},    {TYPE_native, "[[a b] 107]", true},
        {TYPE_native, "[[a b] 0]", false},   {TYPE_native, "[[a b] 108]", false},
        {TYPE_native, "[[a b] 121]", false}, {TYPE_native, "[[a b] -1]", false},
        {TYPE_native, "[[a b] 5 6]", false}, {TYPE_native, "[[a b]]", false},
        {TYPE_native, "[a 5]", false},       {TYPE_native, "[[a b] x]", false},
        {TYPE_action, "[[value] 62]", true}, {TYPE_action, "[[value] 63]", false},
        {TYPE_action, "[[value] 0]", false},
    };
    for (const Case& c : cases) {
        if (c.ok) {
            cell_t v = make_numbered(c.type, c.spec);
            EXPECT_EQ(type_of(&v), c.type) << c.spec;
        } else {
            EXPECT_EQ(raised([&] { make_numbered(c.type, c.spec); }), err::bad_make_arg) << c.spec;
        }
    }
    cell_t proto;
    datatype::make_at(&proto, TYPE_native);
    cell_t n = integer(3);
    EXPECT_EQ(raised([&] { actions::make(&proto, &n); }), err::bad_make_arg);
}

TEST_F(Natives, ReflectFormMoldCompare) {
    cell_t add = make_numbered(TYPE_action, "[[value1 value2] 11]");
    cell_t print = make_numbered(TYPE_native, "[[value] 5]");
    cell_t print2 = make_numbered(TYPE_native, "[[value] 5]");
    cell_t other = make_numbered(TYPE_native, "[[value] 6]");

    cell_t body = reflect(add, words::id::body);
    EXPECT_EQ(type_of(&body), TYPE_integer);
    EXPECT_EQ(integer::get(&body), 11);
    EXPECT_EQ(integer::get(&(body = reflect(print, words::id::body))), 5);
    cell_t spec = reflect(print, words::id::spec);
    EXPECT_EQ(spec.data2, native::spec_node(&print));
    EXPECT_EQ(raised([&] { reflect(print, words::id::words); }), err::not_done);

    EXPECT_EQ(formed(&print), "?native?");
    EXPECT_EQ(formed(&add), "?action?");
    EXPECT_EQ(molded(&print), "make native! [[value]]");
    EXPECT_EQ(molded(&add), "make action! [[value1 value2]]");

    EXPECT_EQ(actions::compare_value(&print, &print2, actions::cmp::EQUAL), 0);
    EXPECT_NE(native::compare(&print, &other, actions::cmp::EQUAL), 0);
    EXPECT_EQ(native::compare(&print, &add, actions::cmp::EQUAL), -2);
    EXPECT_EQ(native::compare(&print, &print2, actions::cmp::GREATER), -2);
    // The more series holds the spec's context and none.
    cell_t* more = alloc::buffer(print.data3)->head_cell();
    EXPECT_EQ(type_of(&more[0]), TYPE_context);
    EXPECT_EQ(type_of(&more[1]), TYPE_none);
}

cell_t make_op(const cell_t& wrapped) {
    cell_t proto;
    datatype::make_at(&proto, TYPE_op);
    stack::clear_args();
    cell_t* spec = stack::push(&wrapped);
    return anchor(*actions::make(&proto, spec));
}

TEST_F(Ops, SpecRules) {
    struct Case {
        const char* spec;
        bool ok;
    } cases[] = {
        {"[a b]", true},
        {"[a b x]", false},
        {"[:a b]", false},
        {"['a b]", false},
        {"[a :b]", true},
        {"[a 'b]", true},
        {"[a b /local x]", true},
        {"[a b /only]", false},
        {"[a]", false},
        {"[a b /extern c]", true},
        {"[\"doc\" a [integer!] b return: [integer!]]", true},
    };
    for (const Case& c : cases) {
        std::string text = std::string("[") + c.spec + " [a]]";
        cell_t fn = make_function(text.c_str());
        if (c.ok) {
            cell_t o = make_op(fn);
            EXPECT_EQ(type_of(&o), TYPE_op) << c.spec;
        } else {
            EXPECT_EQ(raised([&] { make_op(fn); }), err::bad_op_spec) << c.spec;
        }
    }
    cell_t n = integer(1);
    EXPECT_EQ(raised([&] { make_op(n); }), err::invalid_type);
}

TEST_F(Ops, WrapFunctionsAndNatives) {
    cell_t fn = make_function("[[a b] [a + b]]");
    cell_t o1 = make_op(fn);
    cell_t o2 = make_op(fn);
    EXPECT_EQ(op::wrapped_type(&o1), TYPE_function);
    EXPECT_EQ(o1.data1, fn.data1);
    EXPECT_EQ(o1.data3, fn.data3);
    // The shared more series leads back to the function.
    cell_t* back = function::more(&o1, function::MORE_OP);
    EXPECT_EQ(type_of(back), TYPE_function);
    EXPECT_EQ(back->data1, fn.data1);

    EXPECT_EQ(actions::compare_value(&o1, &o2, actions::cmp::EQUAL), 0);
    EXPECT_EQ(native::compare(&o1, &fn, actions::cmp::EQUAL), -2);
    EXPECT_EQ(function::compare(&fn, &o1, actions::cmp::EQUAL), -2);
    EXPECT_EQ(formed(&o1), "?op?");
    EXPECT_EQ(molded(&o1), "make op! func [a b][a + b]");
    cell_t body = reflect(o1, words::id::body);
    EXPECT_EQ(body.data2, function::more(&fn, function::MORE_BODY)->data2);

    cell_t add = make_numbered(TYPE_action, "[[value1 value2] 11]");
    cell_t plus = make_op(add);
    EXPECT_EQ(op::wrapped_type(&plus), TYPE_action);
    EXPECT_EQ(integer::get(&(body = reflect(plus, words::id::body))), 11);
    EXPECT_EQ(molded(&plus), "make op! [[value1 value2]]");
    // Molding leaves the frames as they were.
    EXPECT_EQ(stack::frame_depth(), 0);
}

}  // namespace
}  // namespace zuv::test
