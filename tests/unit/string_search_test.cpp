// String find, select, sort, trim and set operations.
#include "datatypes/block_search.h"
#include "datatypes/string_search.h"
#include "interpreter_fixture.h"

namespace zuv::test {
namespace {

class StringSearch : public InterpreterTest {
public:
    // A string! of the code points in a buffer of the given unit.
    static cell_t text(const std::u32string& chars, int32_t unit = 1) {
        cell_t c;
        string::make_at_unit(&c, static_cast<int64_t>(chars.size()), unit);
        anchor(c);
        for (char32_t ch : chars) {
            series_buffer_t* s = string::buffer_of(&c);
            string::put_char(alloc::alloc_tail_unit(s, unit), static_cast<uint32_t>(unit), ch);
        }
        return c;
    }
    static cell_t text(const char* ascii, int32_t unit = 1) {
        std::u32string u;
        for (const char* p = ascii; *p; p++) u.push_back(static_cast<unsigned char>(*p));
        return text(u, unit);
    }
    static cell_t integer_cell(int32_t n) {
        return cell_t{TYPE_integer, 0, static_cast<uint32_t>(n), 0};
    }
    static cell_t char_cell(uint32_t c) { return cell_t{TYPE_char_, 0, c, 0}; }
    static int32_t index_of(const cell_t* r) {
        return type_of(r) == TYPE_none ? 0 : static_cast<int32_t>(r->data1) + 1;
    }
};

TEST_F(StringSearch, FindRefinements) {
    struct {
        const char* series;
        int32_t head;
        const char* pattern;  // one character: searched as a char!
        find_options_t how;  // the refinements without arguments
        int32_t skip, part;
        int32_t expected;
    } cases[] = {
        {"abcabc", 0, "bc", {}, 0, 0, 2},
        {"abcabc", 0, "bc", {.last = true}, 0, 0, 5},
        {"abcabc", 0, "bc", {.tail = true}, 0, 0, 4},
        {"abcabc", 0, "bc", {.match = true}, 0, 0, 0},
        {"abcabc", 0, "ab", {.match = true}, 0, 0, 1},
        {"abcabc", 0, "BC", {}, 0, 0, 2},
        {"abcabc", 0, "BC", {.case_ = true}, 0, 0, 0},
        {"abcabc", 0, "a", {}, 3, 0, 1},
        {"abcabc", 1, "a", {}, 3, 0, 0},
        {"xbcabc", 0, "a", {}, 3, 0, 4},
        {"abcabc", 0, "c", {}, 0, 2, 0},
        {"abcabc", 0, "bc", {}, 0, 3, 2},
        {"abcabc", 0, "bc", {}, 0, 2, 0},
        {"abcabc", 4, "a", {.reverse = true}, 0, 0, 4},
        {"abcabc", 4, "bc", {.reverse = true}, 0, 0, 2},
        {"abcabc", 4, "a", {.reverse = true, .match = true}, 0, 0, 0},
        {"abcabc", 4, "c", {.reverse = true, .tail = true}, 0, 0, 4},
        {"abcabc", 6, "c", {}, 0, 0, 0},
        {"abcabc", 0, "", {}, 0, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.series) + " / " + c.pattern);
        cell_t s = text(c.series);
        s.data1 = static_cast<uint32_t>(c.head);
        cell_t v = std::strlen(c.pattern) == 1 ? char_cell(static_cast<unsigned char>(c.pattern[0]))
                                               : text(c.pattern);
        cell_t skip = integer_cell(c.skip), part = integer_cell(c.part);
        cell_t r = in_frame([&] {
            find_options_t how = c.how;
            how.part = c.part ? &part : nullptr;
            how.skip = c.skip ? &skip : nullptr;
            return string::find(&s, &v, how);
        });
        EXPECT_EQ(index_of(&r), c.expected);
    }
}

TEST_F(StringSearch, FindPatternsOfOtherUnitsAndKinds) {
    // A wide series, a narrow pattern and the other way round.
    cell_t wide = text(U"x\u00e9\u4e2dab", 4);
    cell_t narrow = text("AB");
    cell_t r = in_frame([&] { return string::find(&wide, &narrow, {}); });
    EXPECT_EQ(index_of(&r), 4);
    cell_t plain = text("xxABx");
    cell_t pattern = text("ab", 2);
    r = in_frame([&] { return string::find(&plain, &pattern, {}); });
    EXPECT_EQ(index_of(&r), 3);
    // A word searches for its name; an integer for its form.
    cell_t s = text("say hello 42");
    cell_t w = global_word("hello");
    r = in_frame([&] { return string::find(&s, &w, {}); });
    EXPECT_EQ(index_of(&r), 5);
    cell_t n = integer_cell(42);
    r = in_frame([&] { return string::find(&s, &n, {}); });
    EXPECT_EQ(index_of(&r), 11);
    // Folding is for texts only: a binary compares exactly.
    cell_t bin = text("abAB");
    cell::set_type(&bin, TYPE_binary);
    cell_t upper = text("AB");
    cell::set_type(&upper, TYPE_binary);
    r = in_frame([&] { return string::find(&bin, &upper, {}); });
    EXPECT_EQ(index_of(&r), 3);
}

TEST_F(StringSearch, FindErrors) {
    cell_t s = text("abc");
    cell_t v = char_cell('a'), zero = integer_cell(0), other = text("abc");
    cell_t bin = text("a");
    cell::set_type(&bin, TYPE_binary);
    EXPECT_EQ(raised_clearing_stacks([&] { string::find(&s, &v, {.any = true}); }), err::not_done);
    EXPECT_EQ(raised_clearing_stacks([&] { string::find(&s, &v, {.skip = &zero}); }),
              err::out_of_range);
    EXPECT_EQ(raised_clearing_stacks([&] { string::find(&s, &v, {.part = &other}); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised_clearing_stacks([&] { string::find(&s, &bin, {}); }), err::invalid_arg);
}

TEST_F(StringSearch, Select) {
    cell_t s = text("abc");
    cell_t a = char_cell('a'), c = char_cell('c'), ab = text("ab");
    cell_t r = in_frame([&] { return string::select(&s, &a, {}); });
    EXPECT_EQ(type_of(&r), TYPE_char_);
    EXPECT_EQ(r.data2, 'b');
    r = in_frame([&] { return string::select(&s, &c, {}); });
    EXPECT_EQ(type_of(&r), TYPE_none);
    r = in_frame([&] { return string::select(&s, &ab, {}); });
    EXPECT_EQ(r.data2, 'c');
}

TEST_F(StringSearch, SortForms) {
    struct {
        std::u32string series;
        int32_t unit;
        bool case_;
        int32_t skip, compare, part;
        bool all, reverse, stable;
        std::u32string expected;
    } cases[] = {
        {U"dcba", 1, false, 0, 0, 0, false, false, false, U"abcd"},
        {U"dcba", 1, false, 0, 0, 0, false, true, false, U"dcba"},
        {U"bBaA", 1, false, 0, 0, 0, false, false, true, U"aAbB"},
        {U"bBaA", 1, true, 0, 0, 0, false, false, false, U"ABab"},
        {U"b1a2c0", 1, false, 2, 0, 0, false, false, false, U"a2b1c0"},
        {U"b1a2c0", 1, false, 2, 2, 0, false, false, false, U"c0b1a2"},
        {U"a2a1", 1, false, 2, 0, 0, true, false, false, U"a1a2"},
        {U"dcba", 1, false, 0, 0, 2, false, false, false, U"cdba"},
        // "_" lies between the upper and the lower case letters: folding to
        // lower case puts it before the letters at every width.
        {U"b_A", 1, false, 0, 0, 0, false, false, false, U"_Ab"},
        {U"b_A", 2, false, 0, 0, 0, false, false, false, U"_Ab"},
        {U"b_A\u4e2d", 4, false, 0, 0, 0, false, false, false, U"_Ab\u4e2d"},
        {U"\u00c9\u00e0\u00e9", 1, false, 0, 0, 0, false, false, true, U"\u00e0\u00c9\u00e9"},
        {U"\u00c9\u00e0\u00e9", 2, false, 0, 0, 0, false, false, true, U"\u00e0\u00c9\u00e9"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.series.begin(), c.series.end())));
        cell_t s = text(c.series, c.unit);
        cell_t skip = integer_cell(c.skip), cmp = integer_cell(c.compare),
               part = integer_cell(c.part);
        in_frame([&] {
            return string::sort(&s, c.case_, c.skip ? &skip : nullptr, c.compare ? &cmp : nullptr,
                                c.part ? &part : nullptr, c.all, c.reverse, c.stable);
        });
        std::u32string got;
        for (int32_t i = 0; i < string::rs_abs_length_q(&s); i++)
            got.push_back(string::rs_abs_at(&s, i));
        EXPECT_TRUE(got == c.expected);
    }
}

TEST_F(StringSearch, SortErrorsComeBeforeAnyChange) {
    cell_t s = text("bbaa");
    cell_t three = integer_cell(3), two = integer_cell(2), word = global_word("x");
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::sort(&s, false, &three, nullptr, nullptr, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::sort(&s, false, nullptr, nullptr, nullptr, true, false, false); }),
              err::bad_refines);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::sort(&s, false, nullptr, &two, nullptr, false, false, false); }),
              err::bad_refines);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::sort(&s, false, &two, &three, nullptr, false, false, false); }),
              err::out_of_range);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::sort(&s, false, nullptr, &word, nullptr, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::sort(&s, false, nullptr, nullptr, &word, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(text_of(&s), "bbaa");
}

TEST_F(StringSearch, SortNegativePartMovesTheHeadBack) {
    cell_t s = text("dcbaz");
    s.data1 = 4;
    cell_t part = integer_cell(-3);
    cell_t r = in_frame(
        [&] { return string::sort(&s, false, nullptr, nullptr, &part, false, false, false); });
    EXPECT_EQ(r.data1, 1u);
    s.data1 = 0;
    EXPECT_EQ(text_of(&s), "dabcz");
    part = integer_cell(-9);
    s.data1 = 2;
    r = in_frame(
        [&] { return string::sort(&s, false, nullptr, nullptr, &part, false, false, false); });
    EXPECT_EQ(r.data1, 0u);
    s.data1 = 0;
    EXPECT_EQ(text_of(&s), "dabcz");
}

TEST_F(StringSearch, Trim) {
    struct {
        std::u32string in;
        bool head, tail, lines, all;
        const char* with;  // nullptr: none
        std::u32string expected;
    } cases[] = {
        {U"  a  b  \n", false, false, false, false, nullptr, U"a  b\n"},
        {U"  a  b  ", false, false, false, false, nullptr, U"a  b"},
        {U" \t x \n  y\t \n\n", false, false, false, false, nullptr, U"x\ny\n"},
        {U"  a  b  ", true, false, false, false, nullptr, U"a  b  "},
        {U"  a  b  ", false, true, false, false, nullptr, U"  a  b"},
        {U"  a  b  ", true, true, false, false, nullptr, U"a  b"},
        {U" a \n  b  ", false, false, true, false, nullptr, U"a b"},
        {U"\u3000a\u00a0", false, false, false, false, nullptr, U"a"},
        {U" a\tb\nc ", false, false, false, true, nullptr, U"abc"},
        {U"abcabc", false, false, false, false, "ca", U"bb"},
        {U"abcabc", false, false, false, false, "", U"abcabc"},
    };
    for (auto& c : cases) {
        cell_t s = text(c.in, 4);
        cell_t w = c.with ? text(c.with) : cell_t{};
        in_frame([&] {
            return string::trim(&s, c.head, c.tail, false, c.lines, c.all, c.with ? &w : nullptr);
        });
        std::u32string got;
        for (int32_t i = 0; i < string::rs_abs_length_q(&s); i++)
            got.push_back(string::rs_abs_at(&s, i));
        EXPECT_TRUE(got == c.expected)
            << ::testing::PrintToString(std::string(got.begin(), got.end()));
    }
    cell_t s = text("a-b-c");
    cell_t dash = char_cell('-');
    in_frame([&] { return string::trim(&s, false, false, false, false, false, &dash); });
    EXPECT_EQ(text_of(&s), "abc");
    EXPECT_EQ(raised_clearing_stacks(
                  [&] { string::trim(&s, false, false, true, false, false, nullptr); }),
              err::not_done);
}

TEST_F(StringSearch, SetOperations) {
    struct {
        const char* a;
        const char* b;
        int32_t code;
        bool case_;
        int32_t skip;
        const char* expected;
    } cases[] = {
        {"abc", "b", block::SET_EXCLUDE, false, 0, "ac"},
        {"abc", "bcd", block::SET_DIFFERENCE, false, 0, "ad"},
        {"aabbc", "", block::SET_UNIQUE, false, 0, "abc"},
        {"aAb", "", block::SET_UNIQUE, false, 0, "ab"},
        {"aAb", "", block::SET_UNIQUE, true, 0, "aAb"},
        {"abc", "cde", block::SET_UNION, false, 0, "abcde"},
        {"abcd", "dbx", block::SET_INTERSECT, false, 0, "bd"},
        {"a1b2a3", "", block::SET_UNIQUE, false, 2, "a1b2"},
        {"a1b2c3", "b9", block::SET_EXCLUDE, false, 2, "a1c3"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " | " + c.b);
        cell_t x = text(c.a), y = text(c.b), skip = integer_cell(c.skip);
        cell_t r = in_frame([&] {
            *stack::arguments = x;
            stack::push(&y);
            return string::do_set_op(c.case_, c.skip ? &skip : nullptr, c.code);
        });
        EXPECT_EQ(text_of(&r), c.expected);
    }
}

}  // namespace
}  // namespace zuv::test
