// Taking up a traced scan where the last one left off: which texts leave a
// place to take up from, and what a scan from there does with the text
// appended since.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "lexer/lexer.h"
#include "runtime/fire.h"
#include "runtime_fixture.h"

namespace {

using namespace zuv;

class LexerResume : public zuv::testing::Runtime {
protected:
    cell_t* buffer = nullptr;

    void SetUp() override {
        Runtime::SetUp();
        buffer = string::load(reinterpret_cast<const uint8_t*>(""), 0, 0);
    }

    // Appends the text to the buffer and traces it (no callback: an error
    // is raised, after the place is noted); answers the error's id, or -1
    // (-2 when the scan stopped to be run again from the head).
    int add(const char* text, lexer::resume_t& r) {
        string::append_utf8(buffer, text, static_cast<int64_t>(std::strlen(text)));
        cell_t* out = stack::push_slot();
        out->header = TYPE_none;
        int id = -1;
        try {
            if (!lexer::trace_resumable(out, buffer, nullptr, r)) id = -2;
        } catch (const raised_error& e) {
            id = static_cast<int>(e.id);
        }
        return id;
    }
};

// A text that ends in a line feed and in a syntax error (a container, a
// brace string, a tag left open...) leaves a place at the turn that met the
// error (for a brace string, the one that opened it), when only blocks and
// parens are open: every container that checks its values when it closes
// (map, point, path) does not, nor a text that could go on with its last
// token.
TEST_F(LexerResume, WhereAPlaceIsLeft) {
    struct row_t {
        const char* text;
        int32_t from;  // -1: no place
        int32_t line;
        std::vector<int32_t> kinds;
    };
    const row_t rows[] = {
        {"[1 2\n", 4, 1, {TYPE_block}},
        {"x: [(1\n", 6, 1, {TYPE_block, TYPE_paren}},
        {"[\n\n1 \t \n", 4, 3, {TYPE_block}},  // from the blanks after the last value
        {"[1 ; ] (\n", 8, 1, {TYPE_block}},  // the comment ends at the line feed
        {"[{a\nb} [c]\n", 10, 2, {TYPE_block}},  // a brace string closed before
        {"[é\n", 2, 1, {TYPE_block}},  // counted in characters
        {"[1 2", -1, 0, {}},  // more text could go on with "2"
        {"[1 2 ", -1, 0, {}},
        {"[1]\n", -1, 0, {}},  // complete
        {"#[a 1\n", -1, 0, {}},  // a map checks its keys
        {"[(1,\n", -1, 0, {}},  // a paren that became a point
        {"[a/(\n", -1, 0, {}},  // a path
        {"[1 {x\ny\n", 2, 1, {TYPE_block}},  // where the brace string began
        {"[1 {x {y}\n", 2, 1, {TYPE_block}},
        {"[<a\n", 1, 1, {TYPE_block}},  // a tag
        {"(#{00\n", 1, 1, {TYPE_paren}},  // a binary
        {"[1 2)\n", 4, 1, {TYPE_block}},  // where the error is met
        {"[a/(1 {b\n", -1, 0, {}},  // a brace string in a path's paren
    };
    for (const row_t& row : rows) {
        SetUp();
        lexer::resume_t r;
        add(row.text, r);
        EXPECT_EQ(r.from, row.from) << row.text;
        if (row.from < 0) continue;
        EXPECT_EQ(r.line, row.line) << row.text;
        EXPECT_EQ(r.kinds, row.kinds) << row.text;
    }
}

// A scan that takes up has the containers of the place open: the text after
// may close them, and goes on leaving places of its own.
TEST_F(LexerResume, TakingUp) {
    lexer::resume_t r;
    EXPECT_EQ(add("x: [1 (2\n", r), static_cast<int>(err::missing));
    ASSERT_EQ(r.from, 8);
    EXPECT_EQ(add("3) [4\n", r), static_cast<int>(err::missing));
    EXPECT_EQ(r.from, 14);
    EXPECT_EQ(r.line, 2);
    EXPECT_EQ(r.kinds, (std::vector<int32_t>{TYPE_block, TYPE_block}));
    EXPECT_EQ(add("]]\n", r), -1);
    EXPECT_EQ(r.from, -1);
}

// A wrong close of a container opened before the place is still an error,
// and a scan without a place starts at the head.
TEST_F(LexerResume, ErrorsAfterThePlace) {
    lexer::resume_t r;
    add("[1\n", r);
    ASSERT_EQ(r.from, 2);
    EXPECT_EQ(add("2)\n", r), static_cast<int>(err::missing));
    EXPECT_EQ(r.from, 4);
    EXPECT_EQ(add("", r), static_cast<int>(err::missing));  // from ")" again
    r = lexer::resume_t{};
    EXPECT_EQ(add("", r), static_cast<int>(err::missing));  // from the head
    SetUp();
    add("[1\n", r);
    r = lexer::resume_t{};
    EXPECT_EQ(add("2]\n", r), -1);
}

// A brace string open over lines is scanned again from its opening, and
// what follows it from the end of the line that closes it.
TEST_F(LexerResume, BraceStringOverLines) {
    lexer::resume_t r;
    add("[1 {a\n", r);
    ASSERT_EQ(r.from, 2);
    add("b {c\n", r);
    EXPECT_EQ(r.from, 2);
    EXPECT_EQ(add("d}}\n", r), static_cast<int>(err::missing));
    EXPECT_EQ(r.from, 14);
    EXPECT_EQ(r.line, 3);
    EXPECT_EQ(r.kinds, std::vector<int32_t>{TYPE_block});
    EXPECT_EQ(add("]\n", r), -1);
}

// A comma after the place makes a paren opened before it a point, which
// checks values the scan does not have: it stops, to be run from the head.
TEST_F(LexerResume, APointBegunBeforeThePlace) {
    lexer::resume_t r;
    add("[(1\n", r);
    ASSERT_EQ(r.from, 3);
    EXPECT_EQ(add(", 2)\n", r), -2);
    EXPECT_EQ(r.from, -1);
    EXPECT_EQ(add("", r), static_cast<int>(err::missing));  // (1, 2) is a point: "]" is missing
    EXPECT_EQ(r.from, 8);
    // A comma in a block opened before the place is an error either way.
    SetUp();
    add("[1\n", r);
    EXPECT_EQ(add(", 2\n", r), static_cast<int>(err::invalid));
}

// Lines of fragments appended one at a time: each scan taking up where the
// last left off meets the error a scan of the whole text meets, and leaves
// the same place.
TEST_F(LexerResume, TakingUpAnswersAsTheWholeText) {
    const char* fragments[] = {"[",  "]",   "(",   ")",  "1",  "2,",    ", 3", "{a",
                               "b}", "^}",  "<t",  "u>", "#{", "00}",   "%{",  "}%",
                               ";c", "x/(", "y/z", "#[", "é",  "\"s\"", "1x2", "#\"]\"",
                               "'w", ":g",  "{}",  "a:", "(1", "3)"};
    const size_t count = sizeof fragments / sizeof fragments[0];
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int text = 0; text < 600; ++text) {
        lexer::resume_t taking_up;
        std::string whole;
        SetUp();
        cell_t* gathered = buffer;
        int lines = 1 + static_cast<int>(next(8));
        for (int l = 0; l < lines; ++l) {
            std::string line;
            for (uint32_t k = next(4); k > 0; --k) {
                line += fragments[next(static_cast<uint32_t>(count))];
                line += ' ';
            }
            line += '\n';
            whole += line;
            buffer = gathered;
            int got = add(line.c_str(), taking_up);
            if (got == -2) got = add("", taking_up);  // run again from the head
            // The whole text, from the head, in a buffer of its own.
            buffer = string::load(reinterpret_cast<const uint8_t*>(""), 0, 0);
            lexer::resume_t fresh;
            int want = add(whole.c_str(), fresh);
            SCOPED_TRACE(whole);
            EXPECT_EQ(got, want);
            EXPECT_EQ(taking_up.from, fresh.from);
            EXPECT_EQ(taking_up.line, fresh.line);
            EXPECT_EQ(taking_up.kinds, fresh.kinds);
        }
    }
}

}  // namespace
