// The parse engine seen from C++: the stacks are cut back on every way out
// of a call, and the literal searches agree on every character width.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "parse/match.h"
#include "parse/parser.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv {
namespace {

class ParseEngine : public testing::Runtime {
protected:
    // Evaluates source text; "true"/"false" for a logic! result, "other"
    // for any other result, "exit" when an exit is left pending, else the
    // error's id.
    static std::string run(const char* source) {
        cell_t* base = stack::top_slot;
        std::string answer;
        try {
            cell_t* code = stack::push_slot();
            none::make_at(code);
            lexer::scan(code, reinterpret_cast<const uint8_t*>(source),
                        static_cast<int32_t>(std::strlen(source)), {}, nullptr, nullptr, nullptr,
                        nullptr);
            interpreter::eval(code, false);
            if (exits::pending_q()) {
                exits::pending = 0;
                answer = "exit";
            } else {
                cell_t* r = stack::top();
                answer = type_of(r) == TYPE_logic ? (logic::get(r) ? "true" : "false") : "other";
            }
        } catch (const raised_error& e) {
            answer = errors::info(e.id).word;
        }
        stack::arguments = stack::bottom;
        stack::top_slot = base;
        stack::ctop = stack::cbottom;
        return answer;
    }
};

TEST_F(ParseEngine, StacksAreEmptyAfterEveryWayOut) {
    const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {R"(parse "abc" [some skip])", "true"},
        {R"(parse [a [b [c]]] [skip into [skip into [skip]]])", "true"},
        {R"(parse "abc" [skip (1 / 0) to end])", "zero-divide"},
        {R"(parse [[1]] [into [into [(1 / 0)]]])", "false"},
        {R"(parse [[[1]]] [into [into [integer! (1 / 0)]]])", "zero-divide"},
        {R"(r: [r "a"] parse "a" r)", "parse-infinite"},
        {R"(r: ["a" r | end] parse append/dup copy "" "a" 3000 r)", "parse-stack"},
        {R"(parse "a" [collect [keep skip into [x]]])", "parse-block"},
        {R"(loop 1 [parse "aaa" [some [skip (break)]]] true)", "true"},
        {R"(catch [parse "abc" [skip (throw 1)]])", "other"},
        {R"(f: does [parse "abc" [skip (exit)]] f true)", "true"},
        {R"(f: func [e m r i s] [false] parse/trace "abc" [some skip] :f)", "false"},
        {R"(f: func [e m r i s] [1 / 0] parse/trace "abc" [some skip] :f)", "zero-divide"},
        {R"(parse "ab" ["a" (try [parse [x] [into [(1 / 0)]]]) "b"])", "true"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
        EXPECT_EQ(parser::rule_depth(), 0) << c.source;
        EXPECT_EQ(parser::input_depth(), 0) << c.source;
    }
}

// Literal searches read units directly; the same answers are expected
// whatever width the input's characters take.
class ParseMatch : public testing::Runtime {
protected:
    static cell_t text(const char* utf8) {
        cell_t c;
        string::load_at(reinterpret_cast<const uint8_t*>(utf8),
                        static_cast<int64_t>(std::strlen(utf8)), &c, string::ENCODING_UTF8);
        return c;
    }
};

TEST_F(ParseMatch, FindAgreesOnEveryUnit) {
    const struct {
        const char* input;
        const char* rule;
        bool case_;
        int32_t at;  // expected index, -1 none
    } cases[] = {
        {"xxABCx", "abc", false, 2},
        {"xxABCx", "abc", true, -1},
        {"xxabcx", "abc", true, 2},
        {"ab", "abc", false, -1},
        {"aab", "ab", false, 1},
        {"", "a", false, -1},
        {"éxÉa", "éa", false, 2},
        {"éxÉa", "Éa", true, 2},
        {"x€€y", "€y", false, 2},
        {"a😀b😀c", "😀c", false, 3},
        {"abc", "", false, 0},
        // Many false starts before the match (or none): the search leaves
        // the first-byte scan for a linear one.
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "aab", true, 34},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "aab", true, -1},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "aAb", false, 34},
        {"xyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzxyzXYZxyq", "xyq", true, 66},
    };
    for (const auto& c : cases) {
        cell_t in = text(c.input);
        cell_t* rooted = stack::push(&in);
        cell_t rule = text(c.rule);
        int32_t len = 0;
        int32_t end = string::rs_length_q(rooted);
        EXPECT_EQ(parser::match::find(rooted, 0, end, &rule, c.case_, &len), c.at)
            << c.input << " / " << c.rule;
        stack::pop(1);
    }
}

TEST_F(ParseMatch, SearchForACaseThatNeverOccursStaysLinear) {
    // One "abc" every 24 characters and no upper case anywhere: each search
    // must stop at the next match, not scan the whole rest for "A".
    std::string s;
    for (int i = 0; i < 20000; i++) s += "the quick abc brown fox ";
    cell_t in = text(s.c_str());
    cell_t* rooted = stack::push(&in);
    cell_t rule = text("abc");
    int32_t end = string::rs_length_q(rooted), len = 0, n = 0;
    for (int32_t at = parser::match::find(rooted, 0, end, &rule, false, &len); at >= 0;
         at = parser::match::find(rooted, at + len, end, &rule, false, &len))
        n++;
    EXPECT_EQ(n, 20000);
    stack::pop(1);
}

TEST_F(ParseMatch, CountStopsAtTheMaximumAndTheLimit) {
    cell_t in = text("aaaAab");
    cell_t* rooted = stack::push(&in);
    cell_t a;
    char_::make_at(&a, 'a');
    int32_t n = 0;
    EXPECT_EQ(parser::match::count(rooted, 0, 6, &a, false, -1, &n), 5);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(parser::match::count(rooted, 0, 6, &a, true, -1, &n), 3);
    EXPECT_EQ(parser::match::count(rooted, 0, 6, &a, false, 2, &n), 2);
    EXPECT_EQ(parser::match::count(rooted, 0, 4, &a, false, -1, &n), 4);
    cell_t ab = text("aA");
    EXPECT_EQ(parser::match::count(rooted, 0, 6, &ab, false, -1, &n), 4);
    EXPECT_EQ(n, 2);
    stack::pop(1);
}

}  // namespace
}  // namespace zuv
