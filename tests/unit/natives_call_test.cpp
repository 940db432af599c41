// Calling native entries directly, as C++ callers do: the refinement
// positions, the argument check of callers that have not tested the types,
// and the loop step routines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "natives/natives.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::testing {
namespace {

class NativesCall : public Runtime {
protected:
    static cell_t* push_int(int32_t v) {
        cell_t* c = stack::push_slot();
        cell::begin(c);
        integer::make_at(c, v);
        return c;
    }
    static cell_t global(const char* name) {
        return word::make_global(symbol::make_alt(name, static_cast<int32_t>(std::strlen(name))));
    }
    static int32_t global_int(const char* name) {
        cell_t w = global(name);
        const cell_t* v = _context::get(&w);
        EXPECT_EQ(type_of(v), TYPE_integer);
        return integer::get(v);
    }
};

TEST_F(NativesCall, UnusedRefinementIgnoresCellsThatFollow) {
    // case with /all off: the cell after the cases block is not an argument.
    stack::mark_native(natives::word_of(natives::id::case_));
    lexer::push_loaded("true [1] true [2]");
    push_int(99);
    int32_t refs[1] = {-1};
    natives::case_(0, refs);
    ASSERT_EQ(exits::pending, 0u);
    EXPECT_EQ(type_of(stack::arguments), TYPE_integer);
    EXPECT_EQ(integer::get(stack::arguments), 1);
    stack::unwind();

    // switch without /default: the block after the cases is not evaluated.
    stack::mark_native(natives::word_of(natives::id::switch_));
    push_int(5);
    lexer::push_loaded("1 [10]");
    lexer::push_loaded("20");
    int32_t no_default[1] = {-1};
    natives::switch_(0, no_default);
    EXPECT_EQ(type_of(stack::arguments), TYPE_none);
    stack::unwind();

    // With the refinement its argument is read at the given position.
    stack::mark_native(natives::word_of(natives::id::switch_));
    push_int(5);
    lexer::push_loaded("1 [10]");
    lexer::push_loaded("20");
    int32_t with_default[1] = {2};
    natives::switch_(0, with_default);
    EXPECT_EQ(integer::get(stack::arguments), 20);
    stack::unwind();
}

TEST_F(NativesCall, UncheckedCallersGetExpectArg) {
    stack::mark_native(natives::word_of(natives::id::loop));
    lexer::push_loaded("a");  // loop wants integer! or float!
    lexer::push_loaded("1");
    int32_t refs[1] = {-1};
    try {
        natives::loop(1, refs);
        FAIL() << "no error";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::expect_arg);
    }
    stack::arguments = stack::top_slot = stack::bottom;
    stack::ctop = stack::cbottom;
}

TEST_F(NativesCall, LoopCountTruncatesFloats) {
    cell_t c{TYPE_unset, 0, 0, 0};
    cell::put_float(&c, 2.9);
    cell::set_type(&c, TYPE_float_);
    EXPECT_EQ(natives::loop_count_at(&c), 2);
    EXPECT_EQ(type_of(&c), TYPE_integer);
    cell::put_float(&c, -2.9);
    cell::set_type(&c, TYPE_float_);
    EXPECT_EQ(natives::loop_count_at(&c), -2);
    cell::put_float(&c, 1e300);
    cell::set_type(&c, TYPE_float_);
    EXPECT_EQ(natives::loop_count_at(&c), 2147483647);
}

TEST_F(NativesCall, ForeachStepsOverTheStateCells) {
    // state: the series, then the word; past the tail a word gets none.
    cell_t* state = lexer::push_loaded("1 2 3");
    cell_t w = global("step-word");
    stack::push(&w);
    EXPECT_TRUE(natives::foreach_next(state));
    EXPECT_EQ(global_int("step-word"), 1);
    EXPECT_TRUE(natives::foreach_next(state));
    EXPECT_TRUE(natives::foreach_next(state));
    EXPECT_EQ(global_int("step-word"), 3);
    EXPECT_FALSE(natives::foreach_next(state));

    cell_t* pair_state = lexer::push_loaded("1 2 3");
    cell_t* words = lexer::push_loaded("pa pb");
    EXPECT_TRUE(natives::foreach_next_block(pair_state, 2));
    EXPECT_EQ(global_int("pb"), 2);
    EXPECT_TRUE(natives::foreach_next_block(pair_state, 2));
    EXPECT_EQ(global_int("pa"), 3);
    cell_t pb = global("pb");
    EXPECT_EQ(type_of(_context::get(&pb)), TYPE_none);
    EXPECT_FALSE(natives::foreach_next_block(pair_state, 2));
    EXPECT_FALSE(natives::foreach_next_block(words, 0));
}

TEST_F(NativesCall, RemoveEachNextRemovesWhatWasVisited) {
    cell_t* state = lexer::push_loaded("1 2 3 4");
    cell_t* words = lexer::push_loaded("ra rb");
    (void)words;
    cell_t yes{TYPE_logic, 1, 0, 0}, no{TYPE_logic, 0, 0, 0};
    ASSERT_TRUE(natives::foreach_next_block(state, 2));
    natives::remove_each_next(state, &no, 2);
    EXPECT_EQ(block::head_index(state), 2);
    ASSERT_TRUE(natives::foreach_next_block(state, 2));
    natives::remove_each_next(state, &yes, 2);
    EXPECT_EQ(block::head_index(state), 2);
    EXPECT_EQ(block::abs_length(state), 2);
    EXPECT_FALSE(natives::foreach_next_block(state, 2));
}

}  // namespace
}  // namespace zuv::testing
