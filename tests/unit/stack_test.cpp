// The argument stack and call frames: what each push, mark and unwind leaves
// on the two stacks.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include "runtime/alloc.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

using namespace zuv;

namespace {

class Stack : public ::testing::Test {
protected:
    void SetUp() override {
        zuv::testing::start_bare_memory();
        stack::init();
        cycles::reset();
        // As while the interpreter runs user code: its calls are marked.
        stack::interpreted_mark = frame::INTERPRETED;
    }
    void TearDown() override {
        stack::interpreted_mark = 0;
        alloc::free_all();
    }

    static cell_t integer(int32_t v) {
        return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0};
    }
    static int32_t depth() { return static_cast<int32_t>(stack::top_slot - stack::bottom); }
    static int32_t base() { return static_cast<int32_t>(stack::arguments - stack::bottom); }
    // A word cell of the given symbol, unbound.
    static cell_t word(uint32_t symbol) { return cell_t{TYPE_word, 0, symbol, 0}; }
    // A function context: a two-cell series whose first cell is the
    // context! with its values on the stack.
    static node_t function_context() {
        node_t n = alloc::alloc_cells(2);
        cell_t* c = alloc::buffer(n)->head_cell();
        c[0] = cell_t{TYPE_context | FLAG_STACK_VALUES, 0, 0, 0};
        c[1] = cell_t{TYPE_unset, 0, 0, 0};
        return n;
    }
};

TEST_F(Stack, InitEmptiesBothStacks) {
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top_slot, stack::bottom);
    EXPECT_EQ(stack::end - stack::bottom, stack::ARGUMENT_CELLS);
    EXPECT_EQ(stack::cend - stack::cbottom, 12000);
    EXPECT_EQ(stack::get_call(), nullptr);
    EXPECT_EQ(stack::top(), stack::bottom);
}

TEST_F(Stack, TheLastCellIsNeverGranted) {
    cell_t v = integer(1);
    for (int32_t i = 0; i < stack::ARGUMENT_CELLS - 1; i++) stack::push(&v);
    EXPECT_EQ(depth(), stack::ARGUMENT_CELLS - 1);
    cycles::push(42);
    try {
        stack::push_slot();
        FAIL() << "the last cell was granted";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::stack_overflow);
    }
    // The top stays (the cells below it belong to live frames), the reserve
    // is taken back, and no stale cycle entry is left.
    EXPECT_EQ(depth(), stack::ARGUMENT_CELLS - 1);
    EXPECT_EQ(stack::end - stack::bottom, stack::ARGUMENT_CELLS);
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Stack, FullFrameStackOverflows) {
    cell_t w = word(7);
    for (int32_t i = 0; i < stack::FRAME_COUNT; i++) stack::mark_native(&w);
    EXPECT_THROW(stack::mark_native(&w), raised_error);
    EXPECT_EQ(stack::frame_depth(), stack::FRAME_COUNT);
}

TEST_F(Stack, PopStopsAtTheBottom) {
    struct {
        int pushed, popped, left;
    } cases[] = {{3, 1, 2}, {3, 3, 0}, {3, 10, 0}, {0, 1, 0}};
    for (auto& c : cases) {
        stack::top_slot = stack::bottom;
        cell_t v = integer(5);
        for (int i = 0; i < c.pushed; i++) stack::push(&v);
        stack::pop(c.popped);
        EXPECT_EQ(depth(), c.left) << c.pushed << " pushed, " << c.popped << " popped";
    }
}

TEST_F(Stack, ResultSlotOperations) {
    cell_t a = integer(1), b = integer(2), c = integer(3);
    stack::push(&a);
    stack::push(&b);
    stack::push(&c);
    stack::set_last(&c);
    EXPECT_EQ(stack::arguments->data2, 3u);
    EXPECT_EQ(depth(), 3);
    stack::set_last_keep(&b);
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(stack::top()->data2, 2u);
    stack::clear_args();
    EXPECT_EQ(depth(), 0);

    // reset keeps an error pushed last as the result.
    cell_t error{TYPE_error, 9, 0, 0};
    stack::push(&a);
    stack::push(&b);
    stack::push(&error);
    stack::reset();
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(type_of(stack::arguments), TYPE_error);
}

TEST_F(Stack, MarkRecordsTheCaller) {
    cell_t a = integer(1);
    stack::push(&a);
    cell_t w{TYPE_word, 77, 12, 0};
    cell_t* base_cell = stack::mark_interp_native(&w);
    call_frame_t* f = stack::get_call();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->header, 12u | frame::INTERP_NATIVE);
    EXPECT_EQ(f->prev, 0u);
    EXPECT_EQ(f->context, 77u);
    EXPECT_EQ(base_cell, stack::bottom + 1);
    EXPECT_EQ(stack::arguments, stack::bottom + 1);
}

TEST_F(Stack, UnwindLeavesOneResultRevertNone) {
    cell_t mine = integer(10), arg = integer(20), w = word(3);
    struct {
        void (*finish)();
        int32_t cells_left;
        const char* name;
    } cases[] = {
        {stack::unwind, 2, "unwind"},       {stack::unwind_func, 2, "unwind-func"},
        {stack::revert, 1, "revert"},       {stack::revert_func, 1, "revert-func"},
        {stack::pop_frame, 1, "pop-frame"},
    };
    for (auto& c : cases) {
        stack::top_slot = stack::arguments = stack::bottom;
        stack::ctop = stack::cbottom;
        stack::mark_native(&w);  // an outer call, so that the inner one is not the bottom frame
        stack::push(&mine);
        cell_t* outer = stack::arguments;
        stack::mark_native(&w);
        stack::push(&arg);
        stack::push(&arg);
        stack::arguments->data2 = 99;
        c.finish();
        EXPECT_EQ(stack::arguments, outer) << c.name;
        EXPECT_EQ(stack::top_slot - outer, c.cells_left) << c.name;
        EXPECT_EQ(outer->data2, 10u) << c.name << ": the caller's own cell";
        if (c.cells_left == 2) {
            EXPECT_EQ(stack::top()->data2, 99u) << c.name;
        }
    }
}

TEST_F(Stack, UnwindLastCopiesTheResultIntoTheCallersSlot) {
    cell_t mine = integer(10), w = word(3);
    stack::mark_native(&w);
    stack::push(&mine);
    cell_t* outer = stack::arguments;
    stack::mark_native(&w);
    cell_t result = integer(55);
    stack::push(&result);
    stack::unwind_last();
    EXPECT_EQ(stack::arguments, outer);
    EXPECT_EQ(outer->data2, 55u);
}

TEST_F(Stack, RecursiveFunctionRestoresItsValuesWord) {
    node_t ctx = function_context();
    cell_t w = word(5);
    auto call = [&](int32_t argument) {
        stack::mark_func(&w, ctx);
        cell_t a = integer(argument);
        stack::push(&a);
        stack::mark_func_body(&w, ctx);
        return stack::cell_at(*stack::values_word(ctx));
    };
    cell_t* outer_args = call(1);
    EXPECT_EQ(outer_args->data2, 1u);
    cell_t* inner_args = call(2);
    EXPECT_EQ(inner_args->data2, 2u);
    // The inner call returns: body frame, then the function frame.
    stack::unwind();
    stack::unwind_func();
    EXPECT_EQ(stack::cell_at(*stack::values_word(ctx))->data2, 1u);
    stack::unwind();
    stack::unwind_func();
    EXPECT_EQ(*stack::values_word(ctx), 0u);
    EXPECT_EQ(stack::frame_depth(), 0);
}

TEST_F(Stack, UnrollStopsAtKindTryAllOrBottom) {
    cell_t w = word(1), v = integer(4);
    // bottom: native, then the given frames, each with one pushed cell.
    auto build = [&](std::initializer_list<uint32_t> kinds) {
        stack::top_slot = stack::arguments = stack::bottom;
        stack::ctop = stack::cbottom;
        for (uint32_t k : kinds) {
            stack::mark(&w, k);
            stack::push(&v);
        }
    };
    // A kind that no frame has: unrolls to the bottom.
    build({frame::NATIVE, frame::NATIVE, frame::TRY});
    stack::unroll(frame::LOOP, false);
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top_slot, stack::bottom);
    EXPECT_EQ(stack::frame_depth(), 1);

    // A try-all frame stops it first.
    build({frame::NATIVE, frame::TRY_ALL, frame::NATIVE, frame::NATIVE});
    call_frame_t* try_all = stack::cbottom + 1;
    stack::unroll(frame::LOOP, false);
    EXPECT_EQ(stack::get_call(), try_all);
    EXPECT_EQ(stack::arguments, stack::cell_at(try_all->prev));

    // With keep the target stays and the arguments are its own.
    build({frame::NATIVE, frame::LOOP, frame::NATIVE, frame::EVAL});
    cell_t* loop_base = stack::bottom + 1;
    cell_t* innermost = stack::arguments;
    stack::unroll_loop(true);
    EXPECT_EQ(stack::frame_depth(), 2);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::top_slot, innermost + 1);  // the innermost result is carried out
}

TEST_F(Stack, UnrollLastCarriesTheResultToTheFunctionBase) {
    node_t ctx = function_context();
    cell_t w = word(2), v = integer(1);
    stack::mark_native(&w);
    stack::push(&v);
    stack::mark_func(&w, ctx);
    cell_t* func_base = stack::arguments;
    stack::push(&v);
    stack::mark_func_body(&w, ctx);
    stack::mark_loop(&w);
    stack::mark_native(&w);
    cell_t result = integer(123);
    stack::push(&result);
    stack::unroll_last(frame::FUNC);
    EXPECT_EQ(stack::arguments, func_base);
    EXPECT_EQ(func_base->data2, 123u);
    EXPECT_EQ(frame::kind_of(stack::get_call()), frame::KIND_FUNC);
}

TEST_F(Stack, ExitTargetAndInterpretedFlags) {
    cell_t w = word(1);
    stack::mark_native(&w);
    stack::mark_native(&w);
    EXPECT_FALSE(stack::marked_frame_q(nullptr, false));
    call_frame_t* caller = stack::mark_caller_exit_target();
    ASSERT_EQ(caller, stack::cbottom);
    EXPECT_EQ(stack::mark_caller_exit_target(), nullptr);  // already set
    stack::clear_exit_target(caller);
    EXPECT_EQ(caller->header & frame::EXIT_TARGET, 0u);

    stack::set_exit_target(1);
    EXPECT_NE(stack::get_call()->header & frame::EXIT_TARGET, 0u);
    stack::set_exit_target(0);
    EXPECT_EQ(stack::get_call()->header & frame::EXIT_TARGET, 0u);

    stack::mark_interp_func(&w);
    stack::mark_native(&w);
    EXPECT_TRUE(stack::marked_frame_q(nullptr, false));
    EXPECT_FALSE(stack::marked_frame_q(nullptr, true));  // only the frame just below
    stack::set_interpreted();
    EXPECT_TRUE(stack::marked_frame_q(nullptr, true));
}

TEST_F(Stack, UnwindOnAnEmptyFrameStackKeepsTheBounds) {
    stack::unwind();
    stack::revert();
    stack::pop_frame();
    stack::unroll(frame::FUNC, false);
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top_slot, stack::bottom);
    EXPECT_EQ(stack::frame_depth(), 0);
}

}  // namespace
