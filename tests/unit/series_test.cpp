// The series actions shared by every series, on blocks of integers and on
// strings: index rules, part forms, negative counts, move and reverse.
#include <gtest/gtest.h>

#include "block_fixture.h"

namespace zuv::test {
namespace {

using Series = BlockTest;

TEST_F(Series, AtAndSkipFollowTheIndexRuleAndClamp) {
    struct {
        int32_t head, n;
        bool skip;
        int32_t expected;
    } cases[] = {
        {0, 1, false, 0}, {0, 0, false, 0}, {2, 0, false, 2},  {2, 1, false, 2}, {2, -1, false, 1},
        {2, 3, false, 4}, {0, 9, false, 5}, {1, -5, false, 0}, {2, 0, true, 2},  {2, 1, true, 3},
        {2, -1, true, 1}, {2, 10, true, 5}, {2, -10, true, 0},
    };
    for (auto& c : cases) {
        cell_t b = ints({1, 2, 3, 4, 5}, c.head);
        cell_t n = integer(c.n);
        cell_t r = call_frame(b, &n, c.skip ? series::skip : series::at);
        EXPECT_EQ(block::head_index(&r), c.expected)
            << (c.skip ? "skip" : "at") << " head " << c.head << " n " << c.n;
    }
    cell_t b = ints({1});
    cell_t word{TYPE_none, 0, 0, 0};
    EXPECT_EQ(raised([&] { call_frame(b, &word, series::at); }), err::invalid_arg);
}

TEST_F(Series, NextBackAndLengthClampAtTheEnds) {
    cell_t b = ints({1, 2}, 2);
    EXPECT_EQ(block::head_index(&(b = call_frame(b, nullptr, series::next))), 2);
    b = ints({1, 2}, 0);
    EXPECT_EQ(block::head_index(&(b = call_frame(b, nullptr, series::back))), 0);

    // A value whose head lies beyond the tail after a clear through another.
    cell_t a = ints({1, 2, 3, 4}, 3);
    cell_t other = a;
    block::set_head_index(&other, 1);
    series::clear(&other);
    EXPECT_EQ(series::length_q(&a), 0);
    EXPECT_EQ(block::head_index(&a), 1);
}

TEST_F(Series, PickAndPokePositions) {
    struct {
        int32_t head, n;
        int32_t expected;  // 0: none
    } cases[] = {{1, 1, 20}, {1, 0, 0}, {1, -1, 10}, {0, -1, 0}, {1, 3, 40}, {1, 4, 0}, {0, 4, 40}};
    for (auto& c : cases) {
        cell_t b = ints({10, 20, 30, 40}, c.head);
        cell_t n = integer(c.n);
        cell_t r = *series::pick(slot(b), c.n, &n);
        if (c.expected == 0)
            EXPECT_EQ(type_of(&r), TYPE_none) << "pick " << c.n << " at " << c.head;
        else
            EXPECT_EQ(static_cast<int32_t>(r.data2), c.expected)
                << "pick " << c.n << " at " << c.head;
    }
    cell_t b = ints({10, 20, 30}, 1);
    cell_t v = integer(99), zero = integer(0), five = integer(5), back = integer(-1);
    EXPECT_EQ(raised([&] { series::poke(slot(b), 0, &zero, &v); }), err::out_of_range);
    EXPECT_EQ(raised([&] { series::poke(slot(b), 5, &five, &v); }), err::out_of_range);
    series::poke(slot(b), -1, &back, &v);
    block::set_head_index(&b, 0);
    EXPECT_EQ(cells(&b), "99 20 30");
}

TEST_F(Series, PickAndPokeOnStringsUseCharacters) {
    cell_t s;
    string::make_at(&s, 4);
    string::concatenate_literal(&s, "abc");
    cell_t two = integer(2);
    cell_t r = *series::pick(slot(s), 2, &two);
    EXPECT_EQ(type_of(&r), TYPE_char_);
    EXPECT_EQ(r.data2, 'b');
    cell_t wide{TYPE_char_, 0, 0x263A, 0};
    series::poke(slot(s), 2, &two, &wide);
    EXPECT_EQ(string::rs_abs_at(&s, 1), 0x263Au);
    EXPECT_EQ(string::rs_abs_at(&s, 2), static_cast<uint32_t>('c'));
    cell_t number = integer(1);
    EXPECT_EQ(raised([&] { series::poke(slot(s), 2, &two, &number); }), err::invalid_arg);
}

TEST_F(Series, CopyPartForms) {
    struct {
        const char* what;
        int32_t head;
        cell_t part;
        const char* expected;
    } cases[] = {
        {"whole", 1, cell_t{TYPE_unset, 0, 0, 0}, "2 3 4 5"},
        {"integer", 1, integer(2), "2 3"},
        {"too long", 3, integer(9), "4 5"},
        {"negative", 3, integer(-2), "2 3"},
        {"negative past the start", 1, integer(-5), "1"},
        {"pair", 1, cell_t{TYPE_pair, 0, 2, 4}, "3 4"},
        {"pair reversed", 1, cell_t{TYPE_pair, 0, 4, 2}, ""},
        {"same series", 1, cell_t{TYPE_block, 4, 0, 0}, "2 3 4"},
    };
    for (auto& c : cases) {
        cell_t b = ints({1, 2, 3, 4, 5}, c.head);
        if (type_of(&c.part) == TYPE_block) c.part.data2 = b.data2;
        cell_t* part = type_of(&c.part) == TYPE_unset ? nullptr : &c.part;
        cell_t r;
        series::copy(&b, &r, part, false, nullptr);
        EXPECT_EQ(block::head_index(&r), 0);
        EXPECT_EQ(cells(&r), c.expected) << c.what;
    }
    cell_t b = ints({1});
    cell_t bad{TYPE_none, 0, 0, 0};
    cell_t r;
    EXPECT_EQ(raised([&] { series::copy(&b, &r, &bad, false, nullptr); }), err::invalid_refine_arg);
}

TEST_F(Series, TakeCountsAndEnds) {
    struct {
        const char* what;
        int32_t head;
        int32_t part;  // INT32_MIN: no part
        bool last;
        const char* taken;
        const char* left;
    } cases[] = {
        {"one", 1, INT32_MIN, false, "2", "1 3 4 5"},
        {"last", 0, INT32_MIN, true, "5", "1 2 3 4"},
        {"part", 1, 2, false, "[2 3]", "1 4 5"},
        {"part last", 1, 2, true, "[4 5]", "1 2 3"},
        {"negative takes before the head", 3, -2, false, "[2 3]", "1 4 5"},
        {"negative beyond the start", 1, -5, false, "[1]", "2 3 4 5"},
        {"negative last takes one", 0, -3, true, "[5]", "1 2 3 4"},
        {"zero takes one", 0, 0, false, "[1]", "2 3 4 5"},
    };
    for (auto& c : cases) {
        cell_t b = ints({1, 2, 3, 4, 5}, c.head);
        cell_t part = integer(c.part);
        cell_t r = *block::take(slot(b), c.part == INT32_MIN ? nullptr : &part, false, c.last);
        EXPECT_EQ(molded(&r), c.taken) << c.what;
        block::set_head_index(&b, 0);
        EXPECT_EQ(cells(&b), c.left) << c.what;
    }
    cell_t empty = ints({});
    EXPECT_EQ(type_of(block::take(slot(empty), nullptr, false, false)), TYPE_none);
}

TEST_F(Series, RemoveCounts) {
    cell_t b = ints({1, 2, 3, 4}, 1);
    cell_t zero = integer(0), two = integer(2);
    series::remove(slot(b), &zero, nullptr);
    EXPECT_EQ(block::rs_length_q(&b), 3);
    cell_t r = *series::remove(slot(b), &two, nullptr);
    EXPECT_EQ(block::head_index(&r), 1);
    block::set_head_index(&b, 0);
    EXPECT_EQ(cells(&b), "1 4");
    series::remove(slot(b), nullptr, nullptr);
    EXPECT_EQ(cells(&b), "4");
}

TEST_F(Series, ReverseWithSkipSwapsRecords) {
    struct {
        int32_t part, skip;  // 0: absent
        const char* expected;
    } cases[] = {
        {0, 0, "6 5 4 3 2 1"}, {0, 2, "5 6 3 4 1 2"}, {0, 3, "4 5 6 1 2 3"},
        {4, 0, "4 3 2 1 5 6"}, {0, 6, "1 2 3 4 5 6"}, {-1, 0, "1 2 3 4 5 6"},
    };
    for (auto& c : cases) {
        cell_t b = ints({1, 2, 3, 4, 5, 6});
        cell_t part = integer(c.part), skip = integer(c.skip);
        series::reverse(&b, c.part ? &part : nullptr, c.skip ? &skip : nullptr);
        EXPECT_EQ(cells(&b), c.expected) << "part " << c.part << " skip " << c.skip;
    }
    cell_t b = ints({1, 2, 3, 4, 5, 6});
    cell_t four = integer(4), zero = integer(0), none{TYPE_none, 0, 0, 0};
    EXPECT_EQ(raised([&] { series::reverse(&b, nullptr, &four); }), err::invalid_refine_arg);
    EXPECT_EQ(raised([&] { series::reverse(&b, nullptr, &zero); }), err::out_of_range);
    EXPECT_EQ(raised([&] { series::reverse(&b, nullptr, &none); }), err::invalid_refine_arg);

    cell_t s;
    string::make_at(&s, 6);
    string::concatenate_literal(&s, "abcdef");
    cell_t two = integer(2);
    series::reverse(&s, nullptr, &two);
    EXPECT_EQ(string::rs_abs_at(&s, 0), static_cast<uint32_t>('e'));
    EXPECT_EQ(string::rs_abs_at(&s, 5), static_cast<uint32_t>('b'));
}

TEST_F(Series, MoveWithinOneBuffer) {
    struct {
        const char* what;
        int32_t from, count, to;
        const char* expected;
        bool answers_source;
    } cases[] = {
        {"first unit forward", 0, 1, 2, "2 3 1 4 5", false},
        {"first unit to the tail", 0, 1, 5, "2 3 4 5 1", false},
        {"a run forward", 0, 2, 3, "3 4 1 2 5", false},
        {"a run backward", 3, 2, 1, "1 4 5 2 3", false},
        {"target inside the run", 1, 3, 2, "1 2 3 4 5", false},
        {"too few units after the target", 0, 2, 4, "1 2 3 4 5", true},
    };
    for (auto& c : cases) {
        cell_t b = ints({1, 2, 3, 4, 5}, c.from);
        cell_t target = b;
        block::set_head_index(&target, c.to);
        cell_t part = integer(c.count);
        cell_t r = *series::move(slot(b), &target, &part);
        EXPECT_EQ(block::head_index(&r), c.answers_source ? c.from : c.to) << c.what;
        block::set_head_index(&b, 0);
        EXPECT_EQ(cells(&b), c.expected) << c.what;
    }
}

TEST_F(Series, MoveBetweenSeries) {
    cell_t a = ints({1, 2, 3}), b = ints({7, 8}, 1);
    cell_t two = integer(2);
    series::move(slot(a), &b, &two);
    EXPECT_EQ(cells(&a), "3");
    block::set_head_index(&b, 0);
    EXPECT_EQ(cells(&b), "7 1 2 8");

    cell_t s;
    string::make_at(&s, 4);
    string::concatenate_literal(&s, "xy");
    EXPECT_EQ(raised([&] { series::move(slot(a), &s, nullptr); }), err::move_bad);
    cell_t n = integer(1);
    EXPECT_EQ(raised([&] { series::move(slot(a), &n, nullptr); }), err::expect_arg);
}

TEST_F(Series, RandomOnlyAndShuffle) {
    cell_t empty = ints({});
    EXPECT_EQ(type_of(series::random(slot(empty), false, false, true)), TYPE_none);
    cell_t b = ints({1, 2, 3, 4, 5, 6, 7, 8});
    cell_t one = *series::random(slot(b), false, false, true);
    EXPECT_EQ(type_of(&one), TYPE_integer);
    series::random(slot(b), false, false, false);
    int32_t sum = 0;
    for (int32_t i = 0; i < 8; i++) sum += static_cast<int32_t>(block::rs_abs_at(&b, i)->data2);
    EXPECT_EQ(sum, 36);
}

// Every in-place change tells a recording owner its word pair, index and count.
struct recorded_t {
    std::string word;
    int32_t index, count;
};
std::vector<recorded_t> recorded;
void record(cell_t*, series::change_word w, cell_t*, int32_t index, int32_t count) {
    recorded.push_back({series::change_text(w), index, count});
}

TEST_F(Series, OwnerHearsEveryChange) {
    series::owner_signal = record;
    auto owned = [](std::initializer_list<int32_t> values, int32_t head) {
        cell_t b = ints(values, head);
        alloc::set_flag(b.data2, series_flag::OWNED);
        return b;
    };
    cell_t v = integer(9), two = integer(2), twob = integer(2);
    struct {
        const char* what;
        void (*run)(cell_t* b, cell_t* v, cell_t* two);
        const char* before;
        const char* after;
        int32_t index, count;
    } cases[] = {
        {"append", [](cell_t* b, cell_t* v, cell_t*) { block::insert(b, v, -1, false, 1, true); },
         "append", "appended", 4, 1},
        {"insert dup",
         [](cell_t* b, cell_t* v, cell_t*) { block::insert(b, v, -1, false, 3, false); }, "insert",
         "inserted", 1, 3},
        {"change", [](cell_t* b, cell_t* v, cell_t*) { block::change(b, v, -1, false, 1); },
         "change", "changed", 1, 1},
        {"clear", [](cell_t* b, cell_t*, cell_t*) { series::clear(b); }, "clear", "cleared", 1, 3},
        {"poke", [](cell_t* b, cell_t* v, cell_t* two) { series::poke(b, 2, two, v); }, "poke",
         "poked", 2, 1},
        {"remove", [](cell_t* b, cell_t*, cell_t* two) { series::remove(b, two, nullptr); },
         "remove", "removed", 1, 2},
        {"take", [](cell_t* b, cell_t*, cell_t* two) { block::take(b, two, false, true); }, "take",
         "taken", 2, 2},
        {"reverse", [](cell_t* b, cell_t*, cell_t*) { series::reverse(b, nullptr, nullptr); },
         "reverse", "reversed", 1, 3},
        {"random", [](cell_t* b, cell_t*, cell_t*) { series::random(b, false, false, false); },
         "random", "randomized", 1, 3},
        {"trim",
         [](cell_t* b, cell_t*, cell_t*) {
             block::trim(b, false, false, false, false, false, nullptr);
         },
         "trim", "trimmed", 1, 3},
    };
    for (auto& c : cases) {
        recorded.clear();
        cell_t b = owned({1, 2, 3, 4}, 1);
        c.run(slot(b), &v, &two);
        ASSERT_EQ(recorded.size(), 2u) << c.what;
        EXPECT_EQ(recorded[0].word, c.before) << c.what;
        EXPECT_EQ(recorded[1].word, c.after) << c.what;
        EXPECT_EQ(recorded[0].index, c.index) << c.what;
        EXPECT_EQ(recorded[0].count, c.count) << c.what;
    }

    recorded.clear();
    cell_t b = owned({1, 2, 3, 4, 5}, 0);
    cell_t target = b;
    block::set_head_index(&target, 3);
    series::move(slot(b), &target, &twob);
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].word, "move");
    EXPECT_EQ(recorded[0].index, 0);
    EXPECT_EQ(recorded[1].word, "moved");
    EXPECT_EQ(recorded[1].index, 2);
    EXPECT_EQ(recorded[1].count, 2);

    recorded.clear();
    cell_t x = owned({1, 2}, 1), y = owned({3}, 0);
    block::swap(&x, &y);
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded[0].word, "swap");
    EXPECT_EQ(recorded[3].word, "swaped");

    // Nobody hears a series nobody owns.
    recorded.clear();
    cell_t free_block = ints({1, 2}, 0);
    block::insert(&free_block, &v, -1, false, 1, true);
    EXPECT_TRUE(recorded.empty());
}

}  // namespace
}  // namespace zuv::test
