// Blocks, parens, paths and typesets: building, modifying, copying,
// comparing, and the exact text of form and mold.
#include <gtest/gtest.h>

#include "block_fixture.h"
#include "datatypes/path.h"
#include "datatypes/typeset.h"
#include "runtime/cycles.h"
#include "runtime/lowrt.h"

namespace zuv::test {
namespace {

using Block = BlockTest;

// A block of the cells given, each optionally flagged as starting a line.
struct item {
    cell_t value;
    bool new_line = false;
};
cell_t block_of(std::initializer_list<item> items, uint32_t type = TYPE_block) {
    cell_t b;
    block::make_at(&b, 4);
    for (const item& i : items) {
        cell_t* c = block::rs_append(&b, &i.value);
        if (i.new_line) c->header |= FLAG_NEW_LINE;
    }
    b.header = type;
    return b;
}
item nl(cell_t v) { return {v, true}; }
item it(cell_t v) { return {v, false}; }
cell_t n(int32_t v) { return BlockTest::integer(v); }

TEST_F(Block, MoldWritesNewLineMarkersAndIndentation) {
    cell_t inner = block_of({nl(n(3)), it(n(4))});
    cell_t later = block_of({it(n(5)), nl(n(6))});
    struct {
        const char* what;
        cell_t value;
        bool only, flat;
        const char* expected;
    } cases[] = {
        {"plain", block_of({it(n(1)), it(n(2))}), false, false, "[1 2]"},
        {"empty", block_of({}), false, false, "[]"},
        {"first on a new line", block_of({nl(n(1)), it(n(2))}), false, false, "[\n    1 2\n]"},
        {"later line break", block_of({it(n(1)), nl(n(2))}), false, false, "[1\n2]"},
        {"nested", block_of({nl(n(1)), nl(inner), it(later)}), false, false,
         "[\n    1\n    [\n        3 4\n    ] [5\n    6]\n]"},
        {"flat", block_of({nl(n(1)), nl(n(2))}), false, true, "[1 2]"},
        {"only", block_of({nl(n(1)), nl(n(2))}), true, false, "1\n2"},
        {"paren", block_of({it(n(1)), it(n(2))}, TYPE_paren), false, false, "(1 2)"},
        {"paren only", block_of({it(n(1)), it(n(2))}, TYPE_paren), true, false, "1 2"},
    };
    for (auto& c : cases) EXPECT_EQ(molded(&c.value, c.only, c.flat), c.expected) << c.what;
}

TEST_F(Block, MoldWithPartStopsAndClosesTheBracket) {
    cell_t b = block_of({nl(n(1)), it(n(22)), it(n(333))});
    EXPECT_EQ(molded(&b, false, false, 6), "[\n    1]");
    cell_t flat = ints({1, 22, 333});
    EXPECT_EQ(molded(&flat, false, false, 5), "[1 22]");
}

TEST_F(Block, SelfContainingBlocksMoldFormAndCopyWithCycleMarks) {
    cell_t b = ints({1});
    block::rs_append(&b, &b);
    EXPECT_EQ(molded(&b), "[1 [...]]");
    EXPECT_EQ(formed(&b), "1 ...");
    cell_t p = ints({1});
    p.header = TYPE_paren;
    block::rs_append(&p, &p);
    EXPECT_EQ(molded(&p), "(1 (...))");
    EXPECT_EQ(cycles::depth(), 0);

    cell_t* result = stack::push(&b);
    EXPECT_EQ(raised([&] { block::copy(result, result, nullptr, true, nullptr); }), err::no_cycle);
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Block, FormSeparatesBySpacesExceptAfterALineEnd) {
    cell_t s;
    string::make_at(&s, 4);
    string::concatenate_literal(&s, "a\n");
    cell_t b = block_of({it(n(1)), it(s), it(n(2)), it(block_of({it(n(3)), it(n(4))}))});
    EXPECT_EQ(formed(&b), "1 a\n2 3 4");
}

TEST_F(Block, AppendInsertAndChangeResults) {
    cell_t b = ints({1, 2, 3}, 1);
    cell_t v = n(9);
    block::insert(&b, &v, -1, false, 1, true);
    EXPECT_EQ(block::head_index(&b), 0) << "append answers the head";
    EXPECT_EQ(cells(&b), "1 2 3 9");

    block::set_head_index(&b, 1);
    cell_t two = ints({7, 8});
    block::insert(&b, &two, -1, false, 3, false);
    EXPECT_EQ(block::head_index(&b), 7) << "insert answers just past the new cells";
    block::set_head_index(&b, 0);
    EXPECT_EQ(cells(&b), "1 7 8 7 8 7 8 2 3 9");

    cell_t c = ints({1, 2, 3, 4}, 1);
    block::insert(&c, &two, 1, false, 1, false);
    block::set_head_index(&c, 0);
    EXPECT_EQ(cells(&c), "1 7 2 3 4") << "part limits the values";
    block::insert(&c, &two, -1, true, 1, true);
    EXPECT_EQ(molded(&c), "[1 7 2 3 4 [7 8]]") << "only adds the block as one value";

    struct {
        int32_t part, dup;
        const char* expected;
        int32_t head;
    } changes[] = {
        {-1, 1, "1 7 8 4", 3}, {1, 1, "1 7 8 3 4", 3}, {3, 1, "1 7 8", 3}, {-1, 2, "1 7 8 7 8", 5}};
    for (auto& ch : changes) {
        cell_t d = ints({1, 2, 3, 4}, 1);
        block::change(&d, &two, ch.part, false, ch.dup);
        EXPECT_EQ(block::head_index(&d), ch.head);
        block::set_head_index(&d, 0);
        EXPECT_EQ(cells(&d), ch.expected) << "change part " << ch.part << " dup " << ch.dup;
    }
}

TEST_F(Block, AddingABlockToItselfReadsItsCellsAfterGrowing) {
    // Full buffers: each change must grow the block it reads from.
    cell_t a = ints({1, 2, 3, 4});
    ASSERT_EQ(block::buffer_of(&a)->size, 64);
    block::insert(&a, &a, -1, false, 1, true);
    EXPECT_EQ(cells(&a), "1 2 3 4 1 2 3 4");

    cell_t b = ints({1, 2, 3, 4});
    cell_t tail = b;
    block::set_head_index(&tail, 2);
    block::insert(&b, &tail, -1, false, 2, false);
    block::set_head_index(&b, 0);
    EXPECT_EQ(cells(&b), "3 4 3 4 1 2 3 4");

    cell_t c = ints({1, 2, 3, 4}, 1);
    cell_t whole = c;
    block::set_head_index(&whole, 0);
    block::change(&c, &whole, 1, false, 1);
    block::set_head_index(&c, 0);
    EXPECT_EQ(cells(&c), "1 1 2 3 4 3 4");
}

TEST_F(Block, GrowthLimitsRaiseNoMemory) {
    cell_t b = ints({1, 2});
    cell_t v = n(1);
    EXPECT_EQ(raised([&] { block::insert(&b, &v, -1, false, 134217728, true); }), err::no_memory);
    cell_t two = ints({1, 2});
    EXPECT_EQ(raised([&] { block::insert(&b, &two, -1, false, 67108864, true); }), err::no_memory);
    EXPECT_EQ(cells(&b), "1 2");
}

TEST_F(Block, CopyDeepCopiesNestedSeries) {
    cell_t inner = ints({1, 2});
    cell_t outer = block_of({it(inner), it(n(3))});
    cell_t* source = stack::push(&outer);
    cell_t* copy = stack::push(&outer);
    block::copy(source, copy, nullptr, true, nullptr);
    EXPECT_NE(copy->data2, outer.data2);
    EXPECT_NE(block::rs_abs_at(copy, 0)->data2, inner.data2);
    EXPECT_EQ(molded(copy), "[[1 2] 3]");
    block::rs_clear(&inner);
    EXPECT_EQ(molded(copy), "[[1 2] 3]");
}

TEST_F(Block, CompareOrdersByCellsThenLength) {
    struct {
        cell_t a, b;
        int32_t op, expected;
    } cases[] = {
        {ints({}), ints({1}), actions::cmp::LESSER, -1},
        {ints({1, 2}), ints({1, 3}), actions::cmp::LESSER, -1},
        {ints({1, 2}), ints({1, 2}), actions::cmp::EQUAL, 0},
        {ints({1, 2}), ints({1}), actions::cmp::EQUAL, 1},
        {ints({1, 2}), ints({1}), actions::cmp::SORT, 1},
        {ints({1}), ints({1}), actions::cmp::SAME, -1},
        {block_of({it(n(1))}), block_of({it(cell_t{TYPE_none, 0, 0, 0})}), actions::cmp::SORT, 1},
    };
    for (auto& c : cases)
        EXPECT_EQ(block::compare(&c.a, &c.b, c.op), c.expected)
            << molded(&c.a) << " " << molded(&c.b);
    cell_t p = ints({1});
    p.header = TYPE_paren;
    cell_t b = ints({1});
    EXPECT_EQ(block::compare(&b, &p, actions::cmp::EQUAL), -2);
}

TEST_F(Block, TakeReturnsTheValueItself) {
    cell_t b = block_of({it(ints({1, 2})), it(n(3))});
    cell_t r = *block::take(slot(b), nullptr, false, false);
    EXPECT_EQ(type_of(&r), TYPE_block);
    EXPECT_EQ(molded(&r), "[1 2]");
    EXPECT_EQ(cells(&b), "3");
}

TEST_F(Block, TrimDropsNones) {
    cell_t none{TYPE_none, 0, 0, 0};
    cell_t b = block_of({it(none), it(n(1)), it(none), it(n(2)), it(none)});
    block::set_head_index(&b, 1);
    block::trim(&b, false, false, false, false, false, nullptr);
    block::set_head_index(&b, 0);
    EXPECT_EQ(block::rs_length_q(&b), 3);
}

TEST_F(Block, MakeAndToResults) {
    cell_t proto{TYPE_datatype, TYPE_block, 0, 0};
    cell_t five = n(5);
    cell_t r = *block::make(slot(proto), &five, TYPE_block);
    EXPECT_EQ(type_of(&r), TYPE_block);
    EXPECT_EQ(block::rs_length_q(&r), 0);
    EXPECT_EQ(block::buffer_of(&r)->size, 80);
    cell_t src = ints({1, 2});
    r = *block::make(slot(proto), &src, TYPE_paren);
    EXPECT_EQ(molded(&r), "(1 2)");
    EXPECT_NE(r.data2, src.data2);
    cell_t none{TYPE_none, 0, 0, 0};
    EXPECT_EQ(raised([&] { block::make(slot(proto), &none, TYPE_block); }), err::bad_make_arg);
    r = *block::to(slot(proto), &five, TYPE_block);
    EXPECT_EQ(molded(&r), "[5]");
}

TEST_F(Block, PathsMoldWithTheirMarks) {
    cell_t p = ints({1, 2});
    struct {
        uint32_t type;
        const char* expected;
    } cases[] = {{TYPE_path, "1/2"},
                 {TYPE_lit_path, "'1/2"},
                 {TYPE_set_path, "1/2:"},
                 {TYPE_get_path, ":1/2"}};
    for (auto& c : cases) {
        p.header = c.type;
        EXPECT_EQ(molded(&p), c.expected);
    }
    p.header = TYPE_path;
    EXPECT_EQ(formed(&p), "1/2");
    block::rs_append(&p, &p);
    EXPECT_EQ(formed(&p), "1/2/...");

    cell_t proto{TYPE_datatype, TYPE_path, 0, 0};
    cell_t zero = n(0), f{TYPE_float_, 0, 0, 0};
    cell::put_float(&f, 2.7);
    cell_t r = *path::make(slot(proto), &zero, TYPE_path);
    EXPECT_EQ(type_of(&r), TYPE_path);
    EXPECT_EQ(block::buffer_of(&r)->size, 16);
    r = *path::make(slot(proto), &f, TYPE_set_path);
    EXPECT_EQ(type_of(&r), TYPE_set_path);
    EXPECT_EQ(block::buffer_of(&r)->size, 32);
}

TEST_F(Block, TypesetsHoldBitsInIdOrder) {
    cell_t t{TYPE_typeset, 0, 0, 0};
    typeset::set_bit(&t, TYPE_float_);
    typeset::set_bit(&t, TYPE_integer);
    EXPECT_EQ(molded(&t), "make typeset! [integer! float!]");
    EXPECT_EQ(formed(&t), "integer! float!");
    cell_t empty{TYPE_typeset, 0, 0, 0};
    EXPECT_EQ(molded(&empty), "make typeset! []");
    EXPECT_EQ(formed(&empty), "");

    cell_t holder;
    block::make_at(&holder, 2);
    cell_t* d = typeset::make_default_in(&holder);
    EXPECT_FALSE(typeset::has_q(d, TYPE_unset));
    EXPECT_TRUE(typeset::has_q(d, TYPE_none));
    EXPECT_TRUE(typeset::has_q(d, 0));

    cell_t again = *typeset::complement(typeset::complement(&t));
    EXPECT_EQ(typeset::compare(&again, &t, 0), 0);
    cell_t one{TYPE_typeset, 0, 0, 0};
    typeset::set_bit(&one, TYPE_block);
    EXPECT_EQ(typeset::compare(&one, &t, 7), -1);
    EXPECT_EQ(typeset::compare(&one, &t, 0), 1);

    // union with a datatype adds just that type; unique answers the set.
    stack::clear_args();
    stack::push(&t);
    cell_t dt{TYPE_datatype, TYPE_block, 0, 0};
    stack::push(&dt);
    typeset::do_bitwise(9);
    EXPECT_EQ(typeset::count(stack::arguments), 3);
    typeset::do_bitwise(8);
    EXPECT_EQ(typeset::count(stack::arguments), 3);
}

TEST_F(Block, RootBlockHoldsTheFixedStacksAndTheSymbolBlock) {
    // The runtime made the root block at start-up; its first three cells
    // are the two stacks and the symbol block.
    EXPECT_GE(block::abs_length(&block::root), 3);
    EXPECT_TRUE(block::buffer_of(&block::root)->flags & series_flag::FIXED);
    cell_t* args = block::rs_abs_at(&block::root, block::ROOT_ARGUMENTS);
    EXPECT_TRUE(block::buffer_of(args)->flags & series_flag::FIXED);
    EXPECT_EQ(block::buffer_of(args)->size, stack::ARGUMENT_BUFFER_CELLS * 16);
    EXPECT_EQ(block::buffer_of(block::rs_abs_at(&block::root, block::ROOT_FRAMES))->size,
              stack::FRAME_CELLS * 16);
    cell_t* symbols = block::rs_abs_at(&block::root, block::ROOT_SYMBOLS);
    EXPECT_FALSE(block::buffer_of(symbols)->flags & series_flag::FIXED);
    EXPECT_EQ(block::buffer_of(symbols)->size, block::SYMBOL_CELLS * 16);
    EXPECT_EQ(stack::argument_node, args->data2);
}

}  // namespace
}  // namespace zuv::test
