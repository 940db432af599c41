// Non-local exits: frame searches, results left at the target, pending codes.

#include <string>

#include "errors_fixture.h"

namespace zuv::test {
namespace {

class Exits : public ErrorsTest {
protected:
    cell_t* mark(uint32_t header, const char* name = "f") {
        cell_t w = word(name);
        return stack::mark(&w, header);
    }
    // The error id and its text form's first line.
    template <typename F> std::string message(F body, err expected) {
        cell_t value;
        EXPECT_EQ(raised(body, &value), expected);
        std::string f = formed(&value);
        return f.substr(0, f.find('\n'));
    }
};

TEST_F(Exits, BreakWithNoLoopOrThroughTryAll) {
    mark(frame::NATIVE, "break");
    EXPECT_EQ(message([] { exits::throw_break(false, false); }, err::break_),
              "*** Throw Error: no loop to break");
    EXPECT_EQ(exits::pending, 0u);

    // A try-all between the break and its loop stops the search.
    stack::arguments = stack::top_slot = stack::bottom;
    stack::ctop = stack::cbottom;
    mark(frame::LOOP, "loop");
    mark(frame::TRY_ALL, "attempt");
    mark(frame::NATIVE, "break");
    EXPECT_EQ(message([] { exits::throw_break(false, true); }, err::continue_),
              "*** Throw Error: no loop to continue");
}

TEST_F(Exits, BreakPassesOtherFramesAndLeavesItsValue) {
    cell_t* loop_base = mark(frame::LOOP, "loop");
    stack::push_slot()->header = TYPE_none;
    mark(frame::FUNC, "f");
    mark(frame::TRY, "try");
    mark(frame::CATCH, "catch");
    mark(frame::NATIVE, "break");
    cell_t five = integer(5);
    stack::push(&five);
    exits::throw_break(true, false);
    EXPECT_EQ(exits::pending, exits::THROW_BREAK);
    EXPECT_TRUE(exits::accepts(exits::LEVEL_LOOP));
    EXPECT_FALSE(exits::accepts(exits::LEVEL_CATCH));
    EXPECT_EQ(frame::kind_of(stack::ctop - 1), frame::KIND_LOOP);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::top_slot, loop_base);
    EXPECT_EQ(integer::get(loop_base), 5);
    EXPECT_EQ(exits::take(), exits::THROW_BREAK);
    EXPECT_EQ(exits::pending, 0u);
}

TEST_F(Exits, ContinueLeavesUnset) {
    cell_t* loop_base = mark(frame::LOOP, "loop");
    mark(frame::NATIVE, "continue");
    cell_t five = integer(5);
    stack::push(&five);
    exits::throw_break(true, true);
    EXPECT_EQ(exits::pending, exits::THROW_CONTINUE);
    EXPECT_EQ(type_of(loop_base), TYPE_unset);
}

TEST_F(Exits, ReturnAndExitFindTheTargetFrame) {
    cell_t* body = mark(frame::FUNC_BODY, "f");
    mark(frame::LOOP, "loop");
    mark(frame::NATIVE, "return");
    cell_t one = integer(1);
    stack::push(&one);
    exits::throw_exit(true, false);
    EXPECT_EQ(exits::pending, exits::THROW_RETURN);
    EXPECT_FALSE(exits::accepts(exits::LEVEL_CATCH));
    EXPECT_TRUE(exits::accepts(exits::LEVEL_LOOP));  // a loop sees it pass, and leaves it
    EXPECT_EQ(stack::ctop - 1 - stack::cbottom, 0);
    EXPECT_EQ(integer::get(body), 1);
    exits::take();

    mark(frame::NATIVE, "exit");
    stack::push(&one);
    exits::throw_exit(false, false);
    EXPECT_EQ(exits::pending, exits::THROW_EXIT);
    EXPECT_EQ(type_of(body), TYPE_unset);
}

TEST_F(Exits, ReturnOutsideFunctions) {
    EXPECT_EQ(message([] { exits::throw_exit(true, false); }, err::return_),
              "*** Throw Error: return or exit not in function");
    mark(frame::FUNC_BODY, "f");
    mark(frame::TRY_ALL, "attempt");
    mark(frame::NATIVE, "return");
    EXPECT_EQ(raised([] { exits::throw_exit(true, false); }), err::return_);
    // With include_innermost the innermost frame is a candidate itself.
    stack::set_exit_target(1);
    exits::throw_exit(false, true);
    EXPECT_EQ(exits::pending, exits::THROW_EXIT);
}

TEST_F(Exits, NamedThrowFindsItsCatch) {
    cell_t* base = mark(frame::CATCH, "catch");
    mark(frame::LOOP, "loop");
    mark(frame::NATIVE, "throw");
    cell_t value = integer(42);
    cell_t name = word("done");
    stack::push(&value);
    stack::push(&name);
    exits::throw_throw(exits::THROW_THROW);
    EXPECT_EQ(exits::pending, exits::THROW_THROW);
    EXPECT_TRUE(exits::accepts(exits::LEVEL_CATCH));
    EXPECT_EQ(stack::arguments, base);
    EXPECT_EQ(stack::top_slot, base + 2);
    EXPECT_EQ(integer::get(base), 42);
    EXPECT_EQ(word_text(base + 1), "done");
    stack::throw_origin = nullptr;
}

TEST_F(Exits, UncaughtThrowNamesTheValue) {
    mark(frame::NATIVE, "throw");
    cell_t five = integer(5);
    stack::push(&five);
    EXPECT_EQ(message([] { exits::throw_throw(exits::THROW_THROW); }, err::throw_),
              "*** Throw Error: no catch for throw: 5");
    stack::throw_origin = nullptr;
}

TEST_F(Exits, ErrorUnwindsToTryAndRecordsWhere) {
    mark(frame::NATIVE, "try");
    mark(frame::TRY, "try");
    call_frame_t* try_top = stack::ctop;
    mark(frame::FUNC, "outer");
    mark(frame::NATIVE, "<body>");
    cell_t value;
    EXPECT_EQ(raised([] { fire(err::zero_divide); }, &value), err::zero_divide);
    EXPECT_EQ(stack::ctop, try_top - 1);  // the try frame is taken as well
    EXPECT_EQ(word_text(error::field(&value, error::FIELD_WHERE)), "outer");
    EXPECT_EQ(integer::get(error::field(&value, error::FIELD_STACK)), 4);
    EXPECT_NE(formed(&value).find("*** Where: outer\n"), std::string::npos);
}

TEST_F(Exits, GetCallSkipsInternalFrames) {
    cell_t c = exits::get_call();
    EXPECT_EQ(word_text(&c), "<not-found>");
    mark(frame::NATIVE, "<anon>");
    c = exits::get_call();
    EXPECT_EQ(word_text(&c), "<not-found>");
    mark(frame::NATIVE, "append");
    mark(frame::NATIVE, "<body>");
    mark(frame::NATIVE, "<anon>");
    c = exits::get_call();
    EXPECT_EQ(word_text(&c), "append");
}

TEST_F(Exits, CollectCallsLeavesOutTheBottomFrame) {
    mark(frame::NATIVE, "bottom");
    mark(frame::NATIVE, "first");
    mark(frame::NATIVE, "<body>");
    mark(frame::NATIVE, "second");
    cell_t b;
    cell::begin(&b);
    block::make_at(&b, 8);
    exits::collect_calls(&b);
    ASSERT_EQ(block::abs_length(&b), 4);
    EXPECT_EQ(word_text(block::first_cell(&b)), "second");
    EXPECT_EQ(word_text(block::first_cell(&b) + 2), "first");
}

}  // namespace
}  // namespace zuv::test
