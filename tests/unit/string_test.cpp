// String storage: widening, the raw character operations, joining texts of
// different units, hexadecimal text, and form and mold.
#include "text_fixture.h"

using namespace zuv;
using zuv::test::TextTest;

namespace {

class StringStorage : public TextTest {};

TEST_F(StringStorage, AppendWidensOnlyWhenAWiderCharacterArrives) {
    struct {
        const char* what;
        int32_t unit;
        uint32_t c;
        uint32_t expect_unit;
    } cases[] = {
        {"ASCII stays in bytes", 1, 'a', 1},
        {"233 appended widens bytes to 2", 1, 233, 2},
        {"65535 appended widens bytes to 2", 1, 0xFFFF, 2},
        {"65536 appended widens bytes straight to 4", 1, 0x10000, 4},
        {"2-byte units take 233", 2, 233, 2},
        {"2-byte units widen to 4 for 65536", 2, 0x10000, 4},
        {"4-byte units take anything", 4, 0x10FFFF, 4},
    };
    for (auto& c : cases) {
        cell_t s = text(U"xy", c.unit);
        string::append_char(&s, c.c);
        EXPECT_EQ(unit_of(&s), c.expect_unit) << c.what;
        EXPECT_EQ(chars(&s), (std::u32string{U'x', U'y', static_cast<char32_t>(c.c)})) << c.what;
    }
}

TEST_F(StringStorage, PositionalStoresKeepLatin1InBytes) {
    cell_t s = text("abc");
    string::set_char(string::buffer_of(&s), string::rs_head(&s), 233);
    EXPECT_EQ(unit_of(&s), 1u) << "storing 233 at a position keeps unit 1";
    string::set_char(string::buffer_of(&s), string::rs_head(&s) + 1, 0x20AC);
    EXPECT_EQ(unit_of(&s), 2u);
    EXPECT_EQ(chars(&s), U"\u00E9\u20ACc");

    cell_t t = text("ac");
    string::poke_char(string::buffer_of(&t), 1, 'b');
    string::poke_char(string::buffer_of(&t), 3, 0x1F600);
    EXPECT_EQ(chars(&t), U"abc\U0001F600");
    string::overwrite_char(string::buffer_of(&t), 4, 'z');
    EXPECT_EQ(chars(&t), U"abc\U0001F600z") << "a store at the tail moves the tail";
    string::overwrite_char(string::buffer_of(&t), 0, 'A');
    EXPECT_EQ(chars(&t), U"Abc\U0001F600z");
    string::remove_part(&t, 1, 2);
    EXPECT_EQ(chars(&t), U"A\U0001F600z");
    string::remove_part(&t, 9, 1);
    EXPECT_EQ(chars(&t), U"A\U0001F600z") << "an index past the tail removes nothing";
}

TEST_F(StringStorage, ConcatenateWidensTargetOrSource) {
    cell_t target = text("ab");
    cell_t wide = text(U"\u20AC", 2);
    string::concatenate(&target, &wide, -1, 0, false, string::MODE_APPEND);
    EXPECT_EQ(unit_of(&target), 2u) << "a 2-unit source widens a 1-unit target";
    EXPECT_EQ(chars(&target), U"ab\u20AC");

    cell_t source = text("cd");
    string::concatenate(&target, &source, -1, 0, true, string::MODE_APPEND);
    EXPECT_EQ(unit_of(&source), 1u) << "keep-unit leaves the source alone";
    string::concatenate(&target, &source, -1, 0, false, string::MODE_APPEND);
    EXPECT_EQ(unit_of(&source), 2u) << "without keep-unit the source is widened";
    EXPECT_EQ(narrow(&source), "cd");
    EXPECT_EQ(chars(&target), U"ab\u20ACcdcd");
}

TEST_F(StringStorage, ConcatenateModes) {
    struct {
        const char* target;
        const char* source;
        int32_t part, offset, mode;
        const char* expect;
    } cases[] = {
        {"abc", "XY", -1, 0, string::MODE_APPEND, "abcXY"},
        {"abc", "XYZ", 2, 0, string::MODE_APPEND, "abcXY"},
        {"abc", "XY", -1, 1, string::MODE_INSERT, "aXYbc"},
        {"abc", "XY", -1, 1, string::MODE_OVERWRITE, "aXY"},
        {"abc", "XYZW", -1, 2, string::MODE_OVERWRITE, "abXYZW"},
        {"abc", "", -1, 0, string::MODE_APPEND, "abc"},
    };
    for (auto& c : cases) {
        cell_t t = text(c.target);
        cell_t s = text(c.source);
        string::concatenate(&t, &s, c.part, c.offset, false, c.mode);
        EXPECT_EQ(narrow(&t), c.expect) << c.target << " + " << c.source << " mode " << c.mode;
    }
    // A string joined onto itself, at the tail and in the middle.
    cell_t self = text("ab");
    string::concatenate(&self, &self, -1, 0, false, string::MODE_APPEND);
    EXPECT_EQ(narrow(&self), "abab");
    cell_t middle = text("ab");
    string::concatenate(&middle, &middle, -1, 1, false, string::MODE_INSERT);
    EXPECT_EQ(narrow(&middle), "aabb");
}

TEST_F(StringStorage, GrowingKeepsEveryCharacter) {
    cell_t s;
    string::make_at(&s, 0);
    std::u32string expect;
    for (uint32_t i = 0; i < 5000; i++) {
        uint32_t c = i == 3000 ? 0x10400 : 'a' + i % 26;
        string::append_char(&s, c);
        expect.push_back(static_cast<char32_t>(c));
    }
    EXPECT_EQ(unit_of(&s), 4u);
    EXPECT_TRUE(chars(&s) == expect);
}

TEST_F(StringStorage, LiteralsAndBytes) {
    cell_t s;
    string::make_at(&s, 0);
    string::concatenate_literal(&s, "abc");
    string::append_bytes(&s, "\xE9xyz", 2);
    EXPECT_EQ(chars(&s), U"abc\u00E9x");
    string::append_utf8(&s, "\xE2\x82\xAC", 3);
    EXPECT_EQ(chars(&s), U"abc\u00E9x\u20AC");
}

TEST_F(StringStorage, HeadBeyondTheTailIsPulledBack) {
    cell_t s = text("abc");
    s.data1 = 7;
    EXPECT_EQ(string::rs_length_q(&s), 0);
    string::rs_head(&s);
    EXPECT_EQ(s.data1, 3u);
    EXPECT_TRUE(string::rs_tail_q(&s));
    EXPECT_FALSE(string::rs_skip(&s, -1));
    EXPECT_EQ(s.data1, 2u);
    EXPECT_EQ(string::rs_find_char(&s, 'c'), 0);
    EXPECT_EQ(string::rs_find_char(&s, 'a'), -1);
}

TEST_F(StringStorage, StartsWith) {
    cell_t s = text("https://x");
    EXPECT_TRUE(string::starts_with_q(&s, "http"));
    EXPECT_TRUE(string::starts_with_q(&s, "https://x"));
    EXPECT_FALSE(string::starts_with_q(&s, "https://xy"));
    EXPECT_FALSE(string::starts_with_q(&s, "ftp"));
    cell_t wide = text(U"\u0168ttp", 2);
    EXPECT_FALSE(string::starts_with_q(&wide, "http")) << "a character above 255 never matches";
}

TEST_F(StringStorage, HexText) {
    struct {
        int32_t value;
        bool trim;
        const char* expect;
    } cases[] = {{255, true, "FF"},       {255, false, "000000FF"},
                 {-2, false, "FFFFFFFE"}, {0, true, "00"},
                 {-1, true, ""},          {0, false, "00000000"},
                 {30, true, "1E"},        {0x20AC, true, "20AC"},
                 {-16, true, "0"},        {INT32_MIN, false, "80000000"}};
    for (auto& c : cases)
        EXPECT_STREQ(string::to_hex(c.value, c.trim).c_str(), c.expect) << c.value;
    EXPECT_STREQ(string::byte_to_hex(10).c_str(), "0A");
    EXPECT_STREQ(string::byte_to_hex(255).c_str(), "FF");
}

TEST_F(StringStorage, SwapRangesExchangesAroundAGap) {
    char text_[] = "AAAgBBBBB";
    string::swap_ranges(reinterpret_cast<uint8_t*>(text_), 3, reinterpret_cast<uint8_t*>(text_ + 4),
                        5, 1);
    EXPECT_STREQ(text_, "BBBBBgAAA");
}

TEST_F(StringStorage, LoadAtMakesAString) {
    const uint8_t in[] = {'h', 0xC3, 0xA9};
    cell_t* c = string::load(in, 3, string::ENCODING_UTF8);
    EXPECT_EQ(type_of(c), TYPE_string);
    EXPECT_EQ(chars(c), U"h\u00E9");
    const uint8_t in16[] = {'h', 0, 0xAC, 0x20};
    cell_t* d = string::load(in16, 4, string::ENCODING_UTF16LE);
    EXPECT_EQ(chars(d), U"h\u20AC");
}

// --- form and mold ---------------------------------------------------------

class StringMold : public TextTest {
protected:
    // The molded text and the remaining limit.
    std::u32string molded(const std::u32string& in, bool all = false, int32_t limit = -1,
                          int32_t* left = nullptr) {
        cell_t v = text(in, in.find_first_of(U"\u20AC") != std::u32string::npos ? 2 : 1);
        cell_t out;
        string::make_at(&out, 0);
        int32_t r = string::mold(&v, &out, {.all = all, .part = limit >= 0, .limit = limit});
        if (left) *left = r;
        return chars(&out);
    }
};

TEST_F(StringMold, ChoosesQuotesOrBraces) {
    std::u32string n49(49, U'x'), n50(50, U'x');
    struct {
        const char* what;
        std::u32string in;
        std::u32string expect;
    } cases[] = {
        {"plain", U"abc", U"\"abc\""},
        {"empty", U"", U"\"\""},
        {"49 characters", n49, U"\"" + n49 + U"\""},
        {"50 characters", n50, U"{" + n50 + U"}"},
        {"a quote takes braces, unescaped", U"a\"b", U"{a\"b}"},
        {"two line feeds", U"a\nb\nc", U"\"a^/b^/c\""},
        {"three line feeds", U"a\nb\nc\nd", U"{a^/b^/c^/d}"},
        {"tab and caret", U"\t^", U"\"^-^^\""},
        {"caret inside braces", U"\"^", U"{\"^^}"},
        {"balanced braces", U"\"{a}", U"{\"{a}}"},
        {"unmatched open brace", U"\"{a", U"{\"^{a}"},
        {"after one unmatched, every open brace", U"\"{ {}", U"{\"^{ ^{^}}"},
        {"unmatched close brace in braces", U"\"}a", U"{\"^}a}"},
        {"unmatched close brace in quotes", U"}a", U"\"}a\""},
        {"an open outer brace escapes the closed inner ones", U"\"{{a}", U"{\"^{^{a^}}"},
        {"closed braces before the open one stay", U"\"{a}}{b", U"{\"{a}^}^{b}"},
    };
    for (auto& c : cases) EXPECT_TRUE(molded(c.in) == c.expect) << c.what;
}

TEST_F(StringMold, DeeplyNestedBraces) {
    // Deep enough that asking brace by brace whether each one closes would
    // take minutes.
    std::u32string in = U"\"" + std::u32string(200000, U'{') + std::u32string(200000, U'}');
    EXPECT_TRUE(molded(in) == U"{" + in + U"}");
    // One brace left open at the end: only it is escaped.
    EXPECT_TRUE(molded(in + U"{") == U"{" + in + U"^{}");
    // One left open at the start: every brace after it is escaped too.
    std::u32string escaped = U"\"^{";
    for (int i = 0; i < 200000; i++) escaped += U"^{";
    for (int i = 0; i < 200000; i++) escaped += U"^}";
    EXPECT_TRUE(molded(U"\"{" + in.substr(1)) == U"{" + escaped + U"}");
}

TEST_F(StringMold, EscapesCharacters) {
    struct {
        char32_t c;
        bool all;
        std::u32string expect;  // between the quotes
    } cases[] = {
        {0, false, U"^@"},          {7, false, U"^G"},      {27, false, U"^["},
        {127, false, U"^~"},        {30, false, U"^(1E)"},  {31, false, U"^_"},
        {28, false, U"^\\"},        {133, false, U"^(85)"}, {159, false, U"^(9F)"},
        {233, false, U"\u00E9"},    {233, true, U"^(E9)"},  {0x20AC, false, U"\u20AC"},
        {0x20AC, true, U"^(20AC)"}, {'a', true, U"a"},      {10, false, U"^/"},
        {9, false, U"^-"},
    };
    for (auto& c : cases) {
        std::u32string in(1, c.c);
        EXPECT_TRUE(molded(in, c.all) == U"\"" + c.expect + U"\"")
            << "code point " << static_cast<uint32_t>(c.c);
    }
}

TEST_F(StringMold, PartLimit) {
    int32_t left = 0;
    EXPECT_TRUE(molded(U"abcdef", false, 2, &left) == U"\"ab\"");
    EXPECT_EQ(left, -2) << "the caller cuts the output back to the limit";
    molded(U"abc", false, -1, &left);
    EXPECT_EQ(left, -1 - 3 - 2);
}

TEST_F(StringMold, FormAppendsWithoutWideningTheValue) {
    cell_t v = text(U"\u00E9t\u00E9");
    cell_t out = text(U"\u20AC", 2);
    int32_t r = string::form(&v, &out, false, 10);
    EXPECT_EQ(chars(&out), U"\u20AC\u00E9t\u00E9");
    EXPECT_EQ(r, 7);
    EXPECT_EQ(unit_of(&v), 1u);
    cell_t part;
    string::make_at(&part, 0);
    EXPECT_EQ(string::form(&v, &part, true, 2), -1);
    EXPECT_EQ(chars(&part), U"\u00E9t");
}

}  // namespace
