// Evaluation of blocks and expressions, calls, argument fetching and their
// errors, through blocks built by the test reader.
#include <pthread.h>

#include "datatypes/routine.h"
#include "interpreter_fixture.h"

namespace zuv::test {
namespace {

using Eval = InterpreterTest;

TEST_F(Eval, BlocksGiveTheirLastValue) {
    cell_t r = run("");
    EXPECT_EQ(type_of(&r), TYPE_unset);
    EXPECT_EQ(run_int("1 2 3"), 3);
    EXPECT_EQ(run_int("[1 2] 7"), 7);
    r = run("7 [1 2]");
    EXPECT_EQ(type_of(&r), TYPE_block);
    // Intermediate values do not pile up on the stack.
    cell_t* before = stack::top_slot;
    run("1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(stack::top_slot, before);
}

TEST_F(Eval, OperatorsRunLeftToRightWithoutPrecedence) {
    standard_words();
    struct {
        const char* src;
        int32_t expected;
    } cases[] = {
        {"1 + 2 * 3", 9},       {"2 * 3 + 1", 7},   {"10 - 2 - 3", 5},  {"1 + (2 * 3)", 7},
        {"x: 4 x * x - x", 12}, {"add 1 2 * 3", 7}, {"add 1 + 1 2", 4}, {"(1 + 2) * (3 + 4)", 21},
    };
    for (auto& c : cases) EXPECT_EQ(run_int(c.src), c.expected) << c.src;
    cell_t r = run("1 + 1 = 2");
    EXPECT_EQ(type_of(&r), TYPE_logic);
    EXPECT_TRUE(logic::get(&r));
    r = run("3 < 2");
    EXPECT_FALSE(logic::get(&r));
}

TEST_F(Eval, IntegerFastPathMatchesTheActions) {
    standard_words();
    // Overflow leaves the fast path: the action gives its float.
    cell_t r = run("2147483647 + 1");
    EXPECT_EQ(type_of(&r), TYPE_float_);
    EXPECT_EQ(cell::get_float(&r), 2147483648.0);
    r = run("x: 65536 x * x");
    EXPECT_EQ(type_of(&r), TYPE_float_);
    EXPECT_EQ(cell::get_float(&r), 4294967296.0);
    r = run("-2147483648 - 1");
    EXPECT_EQ(type_of(&r), TYPE_float_);
    // A word on the right that reads as an integer takes the fast path; one
    // that holds something else takes the action.
    EXPECT_EQ(run_int("n: 5 n - n"), 0);
    r = run("f: 2 f < 3");
    EXPECT_TRUE(logic::get(&r));
}

TEST_F(Eval, SetWordsAssignAndChain) {
    standard_words();
    EXPECT_EQ(run_int("a: b: 3"), 3);
    cell_t a = get("a"), b = get("b");
    EXPECT_EQ(integer::get(&a), 3);
    EXPECT_EQ(integer::get(&b), 3);
    EXPECT_EQ(run_int("c: 1 + 2 c"), 3);
}

TEST_F(Eval, WordKinds) {
    run("x: 5");
    cell_t r = run("'x");
    EXPECT_EQ(type_of(&r), TYPE_word);
    r = run(":x");
    EXPECT_EQ(integer::get(&r), 5);
    // A get-word of an unset word yields unset without error.
    r = run(":never-set");
    EXPECT_EQ(type_of(&r), TYPE_unset);
    // A word whose value is a lit-word yields that lit-word itself.
    set("lw", global_word("q", TYPE_lit_word));
    r = run("lw");
    EXPECT_EQ(type_of(&r), TYPE_lit_word);
    r = run("'a/b");
    EXPECT_EQ(type_of(&r), TYPE_path);
    r = run("/ref");
    EXPECT_EQ(type_of(&r), TYPE_refinement);
}

TEST_F(Eval, ErrorsOfExpressions) {
    standard_words();
    def("one", "x", "x");
    def("typed", "x [integer!]", "x");
    struct {
        const char* src;
        const char* message;
    } cases[] = {
        {"never-set", "*** Script Error: never-set has no value"},
        {"a:", "*** Script Error: a: needs a value"},
        {"+ 1", "*** Script Error: + operator is missing an argument"},
        {"one", "*** Script Error: one is missing its x argument"},
        {"typed [1]", "*** Script Error: typed does not allow block! for its x argument"},
        {"#system [1]", "*** Internal Error: contains Zuv/System code which requires compilation"},
    };
    for (auto& c : cases) EXPECT_EQ(message_of(c.src), c.message) << c.src;
    // The stacks are left at the bottom by the error; evaluation goes on.
    EXPECT_EQ(run_int("1 + 1"), 2);
}

TEST_F(Eval, FunctionsReceiveTheirArguments) {
    standard_words();
    def("f3", "a b c", "a * 100 + (b * 10) + c");
    EXPECT_EQ(run_int("f3 1 2 3"), 123);
    // Arguments are full expressions, with their own lookahead.
    EXPECT_EQ(run_int("f3 1 + 1 2 3"), 223);
    // A nested call in an argument, and the caller's words read again after
    // the inner call returns.
    def("twice", "n", "n + n");
    EXPECT_EQ(run_int("f3 twice 1 twice 2 3"), 243);
    def("g", "n", "either n = 0 [0] [n + g n - 1]");
    EXPECT_EQ(run_int("g 10"), 55);
}

TEST_F(Eval, RefinementsTakeArgumentsInPathOrder) {
    standard_words();
    static int32_t counter;
    counter = 0;
    def_native("tick", "", 40, [](int32_t, const int32_t*) {
        stack::push_slot();
        integer::make_at(stack::arguments, ++counter);
    });
    def("f", "/a x /b y", "x * 10 + y");
    EXPECT_EQ(run_int("f/b/a tick tick"), 21);
    counter = 0;
    EXPECT_EQ(run_int("f/a/b tick tick"), 12);
    // An unused refinement's arguments are none.
    def("g", "/a x /b y", "y");
    cell_t r = run("g/a 1");
    EXPECT_EQ(type_of(&r), TYPE_none);
    r = run("g");
    EXPECT_EQ(type_of(&r), TYPE_none);
    def("flag", "/a", "a");
    r = run("flag/a");
    EXPECT_TRUE(logic::get(&r));
    r = run("flag");
    EXPECT_EQ(type_of(&r), TYPE_logic);
    EXPECT_FALSE(logic::get(&r));
}

TEST_F(Eval, RefinementErrors) {
    def("f", "/a x /b y", "x");
    struct {
        const char* src;
        const char* message;
    } cases[] = {
        {"f/c 1", "*** Script Error: f has no refinement called c"},
        {"f/a/a 1 2", "*** Script Error: duplicate refinement usage in: f/a/a"},
    };
    for (auto& c : cases) EXPECT_EQ(message_of(c.src), c.message) << c.src;
    // A refinement element that is no word.
    cell_t e;
    try {
        run("f/1");
        ADD_FAILURE() << "nothing was raised";
    } catch (const raised_error& r) {
        EXPECT_EQ(r.id, err::bad_refine);
        e = *stack::top();
    }
    EXPECT_EQ(integer::get(error::field(&e, error::FIELD_ARG1)), 1);
}

TEST_F(Eval, NativeRefinementPositions) {
    // The entry sees where each used refinement's arguments start, in spec
    // order, whatever order the path named them in.
    static int32_t seen[3];
    static int32_t args[3];
    def_native("probe", "a /x xa /y ya /z", 41, [](int32_t check, const int32_t* refs) {
        EXPECT_EQ(check, 0);
        for (int i = 0; i < 3; i++) seen[i] = refs[i];
        for (int i = 0; i < 3; i++) args[i] = integer::get(stack::arguments + i);
    });
    run("probe/y/x 1 2 3");
    EXPECT_EQ(seen[0], 2);
    EXPECT_EQ(seen[1], 1);
    EXPECT_EQ(seen[2], -1);
    EXPECT_EQ(args[0], 1);
    EXPECT_EQ(args[1], 2);  // ya, fetched first
    EXPECT_EQ(args[2], 3);  // xa
    run("probe/z 1");
    EXPECT_EQ(seen[0], -1);
    EXPECT_EQ(seen[1], -1);
    EXPECT_GE(seen[2], 0);
}

TEST_F(Eval, FunctionValuesStandingInCode) {
    standard_words();
    // A function value in the block is called with what follows it.
    cell_t b = load("10");
    cell_t fn = make_function("n", "n + 1");
    block::insert_value(&b, &fn, true, false);
    cell_t* saved = stack::top_slot;
    interpreter::eval(&b, false);
    EXPECT_EQ(integer::get(stack::top()), 11);
    stack::top_slot = saved;
    // as-value yields it unchanged.
    cell_t* code = stack::push(&b);
    interpreter::eval_expression(code, 0, 1, false, true, true);
    EXPECT_EQ(type_of(stack::top()), TYPE_function);
    stack::top_slot = saved;
}

TEST_F(Eval, OptionalLitArgumentAtTheEnd) {
    static uint8_t got;
    def_native("quote-opt", "'v [any-type!]", 42,
               [](int32_t, const int32_t*) { got = type_of(stack::arguments); });
    set("any-type!", [] {
        cell_t t{TYPE_typeset, ~0u, ~0u, ~0u};
        return t;
    }());
    run("quote-opt");
    EXPECT_EQ(got, TYPE_unset);
    run("quote-opt word");
    EXPECT_EQ(got, TYPE_word);
    run("quote-opt (1)");
    EXPECT_EQ(got, TYPE_integer);
}

TEST_F(Eval, DoNextSteps) {
    standard_words();
    cell_t b = load("1 + 2 3 * 4");
    cell_t* slot = stack::push(&b);
    stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    int32_t pos = interpreter::do_next(slot);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(integer::get(stack::arguments), 3);
    block::set_head_index(slot, pos);
    pos = interpreter::do_next(slot);
    EXPECT_EQ(pos, 6);
    EXPECT_EQ(integer::get(stack::arguments), 12);
    block::set_head_index(slot, pos);
    EXPECT_EQ(interpreter::do_next(slot), 6);
    EXPECT_EQ(type_of(stack::arguments), TYPE_unset);
    stack::revert();
}

TEST_F(Eval, TracingReportsEventsOnlyWhenSwitchedOn) {
    standard_words();
    static std::vector<uint32_t> events;
    events.clear();
    interpreter::trace_hook = [](uint32_t ev, const cell_t*, int32_t, const cell_t*,
                                 const cell_t*) { events.push_back(ev); };
    interpreter::trace_mask = 0x1FFFF;
    run("1 + 2");
    EXPECT_TRUE(events.empty());
    interpreter::set_tracing(true);
    run("1 + 2");
    interpreter::set_tracing(false);
    auto has = [](uint32_t ev) {
        return std::find(events.begin(), events.end(), ev) != events.end();
    };
    EXPECT_TRUE(has(interpreter::event::ENTER));
    EXPECT_TRUE(has(interpreter::event::FETCH));
    EXPECT_TRUE(has(interpreter::event::PUSH));
    EXPECT_TRUE(has(interpreter::event::OPEN));
    EXPECT_TRUE(has(interpreter::event::CALL));
    EXPECT_TRUE(has(interpreter::event::RETURN));
    EXPECT_TRUE(has(interpreter::event::EXPR));
    EXPECT_TRUE(has(interpreter::event::EXIT));
}

TEST_F(Eval, CodeThatShortensItselfStopsAtTheNewTail) {
    // A native that empties the block being run: the evaluator must not read
    // the cells that were dropped.
    static cell_t victim;
    def_native("cut", "", 43, [](int32_t, const int32_t*) {
        block::truncate_at(&victim, 1);
        stack::push_slot();
        integer::make_at(stack::arguments, 7);
    });
    victim = load("cut 1 2 3 4");
    set("victim", victim);
    cell_t* saved = stack::top_slot;
    interpreter::eval(&victim, false);
    EXPECT_EQ(integer::get(stack::top()), 7);
    stack::top_slot = saved;
}

TEST_F(Eval, ReturnEndsOnlyItsFunction) {
    standard_words();
    def_native("return", "value", 60,
               [](int32_t, const int32_t*) { exits::throw_exit(true, false); });
    def("f", "x", "either x > 0 [return x * 2] [0] 99");
    EXPECT_EQ(run_int("f 4"), 8);
    EXPECT_EQ(run_int("f 0"), 99);
    // From a nested call: the outer function goes on with the value.
    def("outer", "x", "(f x) + 1");
    EXPECT_EQ(run_int("outer 5"), 11);
    EXPECT_EQ(exits::pending, 0u);
    EXPECT_EQ(stack::ctop, stack::cbottom);
}

TEST_F(Eval, ErrorsGiveFunctionContextsTheirValuesBack) {
    standard_words();
    def("h", "x", "x + never-set");
    def("k", "y", "h y");
    EXPECT_EQ(message_of("k 1"), "*** Script Error: never-set has no value");
    cell_t h = get("h"), k = get("k");
    EXPECT_EQ(*stack::values_word(function::context_of(&h)), 0u);
    EXPECT_EQ(*stack::values_word(function::context_of(&k)), 0u);
}

TEST_F(Eval, RoutinesAndCompiledBodies) {
    standard_words();
    // A routine's C++ entry reads its arguments from the frame.
    int32_t code = routine::add_entry([] {
        integer::make_at(stack::arguments,
                         integer::get(stack::arguments) - integer::get(stack::arguments + 1));
    });
    cell_t spec = load("a [integer!] b [integer!]");
    set("minus",
        in_frame([&] { return routine::push(&spec, nullptr, code, TYPE_integer, false); }));
    EXPECT_EQ(run_int("minus 10 3 + 1"), 6);
    EXPECT_EQ(message_of("minus 1 [2]"),
              "*** Script Error: minus does not allow block! for its b argument");
    // A function with a compiled body runs the entry instead of its body, with
    // its words reading the frame.
    static node_t ctx;
    int32_t body = routine::add_entry([] {
        cell_t w;
        word::make_raw(&w, TYPE_word, ctx, symbol::make("x"), 0);
        integer::make_at(stack::arguments, integer::get(_context::get(&w)) * 3);
    });
    cell_t fspec = load("x");
    cell_t none_body = load("");
    cell_t fn = in_frame([&] {
        ctx = function::push(&fspec, &none_body, 0, body, 0, 0);
        return stack::top();
    });
    set("triple", fn);
    EXPECT_EQ(run_int("triple 7"), 21);
}

// --- recursion ---------------------------------------------------------------

// Runs body on a thread with a large native stack, as the runtime does.
template <typename F> void on_big_stack(F body) {
    struct ctx_t {
        F* body;
    } ctx{&body};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t{256} << 20);
    pthread_t thread;
    auto entry = [](void* p) -> void* {
        interpreter::init_stack_limit();
        (*static_cast<ctx_t*>(p)->body)();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, entry, &ctx), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    interpreter::init_stack_limit();
}

TEST_F(Eval, RecursionAThousandDeep) {
    standard_words();
    def("depth", "n", "either n = 0 [0] [1 + depth n - 1]");
    int32_t r = 0;
    on_big_stack([&] { r = run_int("depth 1000"); });
    EXPECT_EQ(r, 1000);
    // Also on this thread's ordinary stack.
    EXPECT_EQ(run_int("depth 1000"), 1000);
}

TEST_F(Eval, UnboundedRecursionRaisesStackOverflow) {
    standard_words();
    def("down", "n", "down n + 1");
    std::string message;
    on_big_stack([&] { message = message_of("down 1"); });
    EXPECT_EQ(message, "*** Internal Error: stack overflow");
    // Deep nesting without calls, on this thread's ordinary stack.
    cell_t deep = load("1");
    collector::root_cell keep_deep(&deep);
    for (int i = 0; i < 100000; i++) {
        cell_t outer;
        block::make_at(&outer, 1);
        collector::root_cell keep_outer(&outer);
        cell::set_type(&deep, TYPE_paren);
        block::rs_append(&outer, &deep);
        deep = outer;
    }
    try {
        interpreter::eval(&deep, false);
        ADD_FAILURE() << "nothing was raised";
    } catch (const raised_error&) {
        // The error rides in the reserve past the end: formed from below it,
        // as a catcher takes it.
        cell_t e = anchor(*stack::top());
        stack::top_slot = stack::arguments = stack::bottom;
        stack::ctop = stack::cbottom;
        EXPECT_EQ(formed(&e).substr(0, 34), "*** Internal Error: stack overflow");
    }
    stack::top_slot = stack::arguments = stack::bottom;
    stack::ctop = stack::cbottom;
    EXPECT_EQ(run_int("1 + 1"), 2);
}

}  // namespace
}  // namespace zuv::test
