// Token boundaries, kinds and structure found by the token loop and the
// scanners, shown as "kind:text" per token.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lexer/lexer.h"

namespace {

using namespace zuv;
using namespace zuv::lexer;

const char* final_name(int32_t final_state) {
    static const char* const names[FINAL_COUNT] = {
        "eof",        "error",       "block-open", "block-close", "paren-open", "paren-close",
        "brace-open", "brace-close", "map-open",   "path-open",   "construct",  "comment",
        "comma",      "string",      "word",       "issue",       "integer",    "refinement",
        "char",       "file",        "binary",     "percent",     "float",      "float-special",
        "tuple",      "date",        "pair",       "point",       "time",       "money",
        "tag",        "url",         "email",      "hex",         "raw-string", "ref"};
    return names[final_state - FIRST_FINAL];
}

std::string type_name(int32_t kind) {
    switch (kind) {
#define ZUV_TYPE(id, ident, name, refs)                                                            \
    case id:                                                                                       \
        return name;
#include "datatypes/types.def"
#undef ZUV_TYPE
    default: return "?";
    }
}

// Tokens without a kind show their final state; others their datatype.
std::string render(const std::string& text) {
    token_list_t list =
        tokens(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
    std::string out;
    for (const token_t& t : list.tokens) {
        if (!out.empty()) out += ' ';
        out += t.kind ? type_name(t.kind) : final_name(t.final_state);
        out += ':';
        out += text.substr(static_cast<size_t>(t.start), static_cast<size_t>(t.end - t.start));
    }
    if (list.kind == TYPE_error) {
        out += " => error ";
        out += list.error.kind > 0 ? type_name(list.error.kind) : std::to_string(list.error.kind);
        out += " at " + std::to_string(list.error.start);
    }
    return out;
}

struct case_t {
    std::string text;
    const char* expected;
};

TEST(LexerTokens, TokensOfTexts) {
    const case_t cases[] = {
        // blanks and the end
        {"", "eof:"},
        {" \t\r\n ", "eof:"},
        {"a b", "word!:a word!:b"},
        {"  a", "word!:a"},
        // numbers and their relatives
        {"1.2.3 1.5 1x2 1:30 1-Jan-2000",
         "tuple!:1.2.3 float!:1.5 pair!:1x2 time!:1:30 date!:1-Jan-2000"},
        {"12h 0FFh FFh FF", "integer!:12h integer!:0FFh integer!:FFh word!:FF"},
        {"1'000 -5 +5 .5 1e10 1E5 50%",
         "integer!:1'000 integer!:-5 integer!:+5 float!:.5 float!:1e10 float!:1E5 "
         "percent!:50%"},
        {"1.#INF -1.#INF 1.#NaN", "float!:1.#INF float!:-1.#INF float!:1.#NaN"},
        {"$1.50 USD$1'000.50 -$2", "money!:$1.50 money!:USD$1'000.50 money!:-$2"},
        {"1/1/2000 2000-01-01 20000101T120000Z",
         "date!:1/1/2000 date!:2000-01-01 date!:20000101T120000Z"},
        // words and their kinds
        {"a: :a 'a + - = . /ref //",
         "set-word!:a: get-word!::a lit-word!:'a word!:+ word!:- word!:= word!:. "
         "refinement!:/ref word!://"},
        {"x\xC2\xA0y \xC2\xA0\xC2\xA0 z \xE3\x80\x80", "word!:x word!:y word!:z"},
        // any-strings and text-like literals
        {"a:b http://x.com/a?b a@b @a <a> <a \"b>\">",
         "url!:a:b url!:http://x.com/a?b email!:a@b ref!:@a tag!:<a> "
         "tag!:<a \"b>\">"},
        {"\"a^\"b\" \"\"", "string!:\"a^\"b\" string!:\"\""},
        {"{a\n{b}c} {}", "string!:{a\n{b}c} string!:{}"},
        {"%a%20b %\"a b\" %%{a}% b}%% %{x}%",
         "file!:%a%20b file!:%\"a b\" string!:%%{a}% b}%% string!:%{x}%"},
        {"#a #{0A 1b} #\"x\" #\"^(41)\" #\"^/\"",
         "issue!:#a binary!:#{0A 1b} char!:#\"x\" char!:#\"^(41)\" "
         "char!:#\"^/\""},
        {"#(true) #(none) #(integer!)", "logic!:#(true) none!:#(none) integer!:#(integer!)"},
        // comments
        {"; c\nb ;d", "comment:; c word!:b comment:;d"},
        // containers
        {"[a (b) #[c 1]]",
         "block-open:[ word!:a paren-open:( word!:b paren!:) map-open:#[ word!:c integer!:1 "
         "map!:] block!:]"},
        {"a/b: a/b c", "path!:a word!:b set-path!:a/b: path!:a word!:b path!:a/b word!:c"},
        {"'a/1/(b) :c/d",
         "lit-path!:'a integer!:1 paren-open:( word!:b paren!:) lit-path!:'a/1/(b) get-path!::c "
         "word!:d get-path!::c/d"},
        {"(1, 2) (1 ,2, 3)", "point2D!:(1, 2) point2D!:(1 ,2, 3)"},
        {"(1 , 2)", "point2D!:(1 , 2)"},
        {"(x , 1)", "paren-open:( word!:x comma:, integer!:1 point2D!:)"},
        {"f (a b)", "word!:f paren-open:( word!:a word!:b paren!:)"},
    };
    for (const case_t& c : cases) EXPECT_EQ(render(c.text), c.expected) << "text: " << c.text;
}

TEST(LexerTokens, SyntaxErrors) {
    const case_t cases[] = {
        {"[1 2", "block-open:[ integer!:1 integer!:2 => error -4 at 0"},
        {"x (1 2", "word!:x paren-open:( integer!:1 integer!:2 => error -4 at 2"},
        {"#[a 1 b", "map-open:#[ word!:a integer!:1 word!:b => error -4 at 0"},
        {"1 2]", "integer!:1 integer!:2 error!:] => error -3 at 3"},
        {"[1)", "block-open:[ integer!:1 error!:) => error -3 at 0"},
        {"\"ab\ncd\"", "error!:\"ab => error string! at 0"},
        {"x {a{b}", "word!:x error!:b} => error string! at 2"},
        {"{a", "error!:a => error string! at 0"},
        {"}", "error!: => error -1 at 0"},
        {"a\\", "word!:a error!: => error -1 at 1"},
        {"%{a}%b", "error!:%{a}% => error string! at 0"},
        {"%%{a}%%% ", "error!:%%{a}%%% => error string! at 0"},
        {"#(foo)", "error!:#(foo => error -2 at 0"},
        {"#", "error!:# => error issue! at 0"},
        {"'a: :a:", "error!:'a: => error lit-word! at 0"},
        {":a:", "error!::a: => error word! at 0"},
        {"1h Ah", "error!:1h => error integer! at 0"},
        {"Ah", "error!:Ah => error word! at 0"},
        {"0FFFFFFFFh", "error!:0FFFFFFFFh => error integer! at 0"},
        {"#\"ab\"", "error!:#\"ab => error char! at 0"},
        {"\"a^(110000)\"", "error!:\"a^(110000) => error string! at 0"},
        {"\"a\xC0\x80\"", "error!:\"a => error string! at 0"},
        {"x \xFF", "word!:x error!: => error -1 at 2"},
        {"a, b", "error!:a => error word! at 0"},
        {"1 , 2", "integer!:1 error!: => error point2D! at 2"},
        {"a/b:/c", "path!:a word!:b error!:b => error path! at 3"},
        {"a/b/", "path!:a word!:b error!:b => error path! at 3"},
        // A NUL byte ends nothing silently: it is a bad character.
        {std::string("a\0b", 3), "word!:a error!: => error -1 at 1"},
    };
    for (const case_t& c : cases) EXPECT_EQ(render(c.text), c.expected) << "text: " << c.text;
}

TEST(LexerTokens, LinesAndFlags) {
    std::string text = "a\r\n\"b\" 1.5\n\n{x\ny} c";
    token_list_t list =
        tokens(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
    ASSERT_EQ(list.tokens.size(), 5u);
    // The line of a token is the line of its last byte; CR LF counts once.
    EXPECT_EQ(list.tokens[0].line, 1);
    EXPECT_EQ(list.tokens[1].line, 2);
    EXPECT_EQ(list.tokens[2].line, 2);
    EXPECT_EQ(list.tokens[3].line, 5);
    EXPECT_EQ(list.tokens[4].line, 5);
    EXPECT_TRUE(list.tokens[2].flags & FLAG_DOT);
    EXPECT_FALSE(list.tokens[1].flags & FLAG_CARET);
    text = "\"a^-\xC3\xA9\" \"\xF0\x9F\x98\x80\"";
    list = tokens(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
    ASSERT_EQ(list.tokens.size(), 2u);
    EXPECT_TRUE(list.tokens[0].flags & FLAG_CARET);
    EXPECT_EQ(unit_of(list.tokens[0].flags), 2u);
    EXPECT_EQ(unit_of(list.tokens[1].flags), 4u);
}

TEST(LexerTokens, NearTextStopsAtLineEndAndThirtyCharacters) {
    const std::string text = "[\xC3\xA9 23456789012345678901234567890123\nnext";
    const auto* t = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(near_text(t, static_cast<int32_t>(text.size()), 0),
              "[\xC3\xA9 234567890123456789012345678");
    EXPECT_EQ(near_text(t, 10, 0), std::string(text, 0, 10));
    EXPECT_EQ(
        near_text(t, static_cast<int32_t>(text.size()), static_cast<int32_t>(text.find("123\n"))),
        "123");
    EXPECT_EQ(line_text(12), "(line 12)");
}

TEST(LexerTokens, EscapedNearTextWritesControlCharactersAsMoldDoes) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {std::string("a\0b", 3), "a^@b"},
        {"\t|\x1B[31m", "^-|^[[31m"},
        {"\x7F \x1E", "^~ ^(1E)"},
        {"\xC2\x80\xC2\x9F\xC2\xA0", "^(80)^(9F)\xC2\xA0"},  // C1 controls; U+00A0 is not one
        {"\"^{}\xC3\xA9", "\"^{}\xC3\xA9"},  // only controls are escaped
        {"\xFF\x01", "\xFF^A"},  // a malformed byte stays itself
    };
    for (const auto& c : cases) EXPECT_EQ(escape_controls(c.text), c.shown) << c.shown;
}

TEST(LexerTokens, EscapesDecode) {
    struct {
        const char* text;
        int32_t cp;
    } cases[] = {{"^(41)", 0x41},
                 {"^(tab)", 9},
                 {"^(LINE)", 10},
                 {"^(del)", 127},
                 {"^(1F600)", 0x1F600},
                 {"^\"", '"'},
                 {"^-", 9},
                 {"^/", 10},
                 {"^^", '^'},
                 {"^~", 127},
                 {"^@", 0},
                 {"^a", 1},
                 {"^z", 26},
                 {"^[", 27},
                 {"^_", 31},
                 {"^1", '1'},
                 {"^\xC3\xA9", 0xE9}};
    for (const auto& c : cases) {
        const auto* t = reinterpret_cast<const uint8_t*>(c.text);
        const uint8_t* end = t + std::strlen(c.text);
        int32_t cp = -1;
        EXPECT_EQ(decode_escape(t, end, &cp), end) << c.text;
        EXPECT_EQ(cp, c.cp) << c.text;
    }
    for (const char* bad : {"^", "^(", "^()", "^(41", "^(1234567)", "^(xyz)", "^(110000)"}) {
        const auto* t = reinterpret_cast<const uint8_t*>(bad);
        int32_t cp;
        EXPECT_EQ(decode_escape(t, t + std::strlen(bad), &cp), nullptr) << bad;
    }
}

}  // namespace
