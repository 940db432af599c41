// Loading literals into values: each row's text is loaded and its value (or
// the syntax error it raises) is shown in a small canonical form, independent
// of how the datatypes mold themselves.
//
// Rows of types whose module registers later expect the `invalid` error of
// their type until the type has landed; they switch by themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "runtime/fire.h"
#include "runtime_fixture.h"

namespace {

using namespace zuv;

std::string type_name(int32_t id) {
    switch (id) {
#define ZUV_TYPE(n, ident, name, refs)                                                             \
    case n:                                                                                        \
        return name;
#include "datatypes/types.def"
#undef ZUV_TYPE
    default: return "?";
    }
}

std::string number(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    char b[40];
    std::snprintf(b, sizeof b, "%.15g", d);
    return b;
}

std::string text_of(const cell_t* c) {
    std::string out;
    series_buffer_t* b = alloc::buffer(c->data2);
    int32_t n = b->used() / static_cast<int32_t>(b->unit());
    for (int32_t i = static_cast<int32_t>(c->data1); i < n; ++i) {
        uint32_t ch = string::rs_abs_at(c, i);
        if (ch < 0x80) out += static_cast<char>(ch);
        else out += "<" + std::to_string(ch) + ">";
    }
    return out;
}

std::string describe(const cell_t* c) {
    uint8_t t = type_of(c);
    std::string name = type_name(t) + " ";
    switch (t) {
    case TYPE_integer: return name + std::to_string(static_cast<int32_t>(c->data2));
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_time: return name + number(cell::get_float(c));
    case TYPE_char_: return name + std::to_string(c->data2);
    case TYPE_logic: return name + (c->data1 ? "true" : "false");
    case TYPE_none: return "none!";
    case TYPE_unset: return "unset!";
    case TYPE_datatype: return name + type_name(static_cast<int32_t>(c->data1));
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref:
        return name + "u" + std::to_string(alloc::buffer(c->data2)->unit()) + " " + text_of(c);
    case TYPE_word:
    case TYPE_set_word:
    case TYPE_get_word:
    case TYPE_lit_word:
    case TYPE_refinement:
    case TYPE_issue: return name + symbol::get_utf8(word::symbol_of(c));
    case TYPE_binary: {
        series_buffer_t* b = alloc::buffer(c->data2);
        std::string hex;
        char two[3];
        for (int32_t i = static_cast<int32_t>(c->data1); i < b->used(); ++i) {
            std::snprintf(two, sizeof two, "%02X", b->head_ptr()[i]);
            hex += two;
        }
        return name + hex;
    }
    case TYPE_tuple: {
        int32_t n = static_cast<int32_t>(c->header >> 19 & 15);
        uint8_t bytes[12];
        std::memcpy(bytes, &c->data1, 12);
        std::string out;
        for (int32_t i = 0; i < n; ++i) out += (i ? "." : "") + std::to_string(bytes[i]);
        return name + out;
    }
    case TYPE_pair:
        return name + std::to_string(static_cast<int32_t>(c->data2)) + "x" +
               std::to_string(static_cast<int32_t>(c->data3));
    case TYPE_point2d:
    case TYPE_point3d: {
        float v[3];
        std::memcpy(v, &c->data1, 12);
        std::string out = number(v[0]) + "," + number(v[1]);
        if (t == TYPE_point3d) out += "," + number(v[2]);
        return name + out;
    }
    case TYPE_date: {
        uint32_t p = c->data1;
        std::string out = std::to_string(static_cast<int32_t>(p) >> 17) + "-" +
                          std::to_string(p >> 12 & 15) + "-" + std::to_string(p >> 7 & 31);
        if (p & (1u << 16)) {
            out += "/" + number(cell::get_float(c));
            int32_t zone = static_cast<int32_t>((p >> 2 & 15) * 60 + (p & 3) * 15);
            if (zone) out += (p & 64 ? "-" : "+") + std::to_string(zone);
        }
        return name + out;
    }
    case TYPE_money: {
        // Currency index, sign and the count of hundred-thousandths.
        int32_t currency = money::currency_of(c);
        std::string digits;
        money::amount_t v = money::get_amount(c);
        do {
            digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
            v /= 10;
        } while (v != 0);
        return name + (currency ? std::to_string(currency) + ":" : "") +
               (money::sign_q(c) ? "-" : "") + digits;
    }
    case TYPE_block:
    case TYPE_paren:
    case TYPE_path:
    case TYPE_set_path:
    case TYPE_get_path:
    case TYPE_lit_path: {
        std::string out = name + "[";
        for (int32_t i = block::head_index(c); i < block::abs_length(c); ++i) {
            if (i > block::head_index(c)) out += " | ";
            out += describe(block::rs_abs_at(c, i));
        }
        return out + "]";
    }
    default: return name;
    }
}

// The error's id word and the datatype (or expected char) argument.
std::string describe_error(const raised_error& e) {
    std::string out = std::string("!") + errors::info(e.id).word;
    cell_t* error = stack::top();
    if (type_of(error) != TYPE_error) return out;
    cell_t* arg2 = error::field(error, error::FIELD_ARG2);
    if (type_of(arg2) == TYPE_datatype) out += " " + type_name(static_cast<int32_t>(arg2->data1));
    if (type_of(arg2) == TYPE_char_) out += " " + std::string(1, static_cast<char>(arg2->data2));
    return out;
}

// One value alone is shown by itself; several as the block.
std::string load(const std::string& text) {
    cell_t* out = stack::push_slot();
    out->header = TYPE_unset;
    try {
        lexer::scan(out, reinterpret_cast<const uint8_t*>(text.data()),
                    static_cast<int32_t>(text.size()), {}, nullptr, nullptr, nullptr, nullptr);
    } catch (const raised_error& e) {
        return describe_error(e);
    }
    if (type_of(out) == TYPE_block && block::rs_length_q(out) == 1)
        return describe(block::rs_head(out));
    return describe(out);
}

struct row_t {
    const char* text;
    const char* expected;
};

class LexerLoad : public zuv::testing::Runtime {};

void check_rows(const row_t* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const row_t& r = rows[i];
        std::string want = r.expected;
        EXPECT_EQ(load(r.text), want) << "text: " << r.text;
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
    }
}

TEST_F(LexerLoad, Numbers) {
    const row_t rows[] = {
        {"2147483647", "integer! 2147483647"},
        {"2147483648", "float! 2147483648"},
        {"12345678901", "float! 12345678901"},
        {"-2147483648", "integer! -2147483648"},
        {"-2147483649", "float! -2147483649"},
        {"1'000'000", "integer! 1000000"},
        {"1''0", "!invalid integer!"},
        {"+5", "integer! 5"},
        {"007", "integer! 7"},
        {"FFh", "integer! 255"},
        {"0FFh", "integer! 255"},
        {"12h", "integer! 18"},
        {"FFFFFFFFh", "integer! -1"},
        {"0FFFFFFFFh", "!invalid integer!"},
        {"1h", "!invalid integer!"},
        {"Ah", "!invalid word!"},
        {"FF", "word! FF"},
        {"1.5", "float! 1.5"},
        {"1.", "float! 1"},
        {".5", "float! 0.5"},
        {"-.5", "float! -0.5"},
        {"1e3", "float! 1000"},
        {"1.5E-3", "float! 0.0015"},
        {"1'000.5", "float! 1000.5"},
        {"1.#INF", "float! inf"},
        {"-1.#INF", "float! -inf"},
        {"1.#NaN", "float! nan"},
        {"+1.#inf", "float! inf"},
        {"1.#FOO", "!invalid float!"},
        {"50%", "percent! 0.5"},
        {"1.5%", "percent! 0.015"},
        // Exponents and the specials, as percent! molds them.
        {"1e22%", "percent! 1e+20"},
        {"1.5e-3%", "percent! 1.5e-05"},
        {"-2E+2%", "percent! -2"},
        {"1.#INF%", "percent! inf"},
        {"-1.#INF%", "percent! -inf"},
        {"1.#NaN%", "percent! nan"},
        {"1.#FOO%", "!invalid float!"},
        {"1e%", "!invalid float!"},
        {"1:30", "time! 5400"},
        {"1:30:15.5", "time! 5415.5"},
        {"-1:30", "time! -5400"},
        {"1:30.5", "time! 90.5"},
        {"1:2:3:4", "!invalid time!"},
        {"$1.50", "money! 150000"},
        {"-$1'000.5", "money! -100050000"},
        {"$00000000000000000012345678901234567.1", "money! 1234567890123456710000"},
        {"$123456789012345678", "!invalid money!"},
        // The unit runtime has no system object, hence no currency list.
        {"USD$1'000.50", "!invalid money!"},
        {"$1.123456", "!invalid money!"},
        {"$1''0", "!invalid money!"},
    };
    check_rows(rows, std::size(rows));
}

TEST_F(LexerLoad, CompoundScalars) {
    const row_t rows[] = {
        {"1.2.3", "tuple! 1.2.3"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "tuple! 1.2.3.4.5.6.7.8.9.10.11.12"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "!invalid tuple!"},
        {"256.1.1", "!invalid tuple!"},
        {"1x2", "pair! 1x2"},
        {"-1X-20", "pair! -1x-20"},
        {"1x2.5", "!invalid pair!"},
        {"(1.5, 2)", "point2D! 1.5,2"},
        {"(1, 2, 3)", "point3D! 1,2,3"},
        {"(1, 2, 3, 4)", "!invalid point3D!"},
        {"(1.#INF, 0)", "point2D! inf,0"},
        {"1-Jan-2000", "date! 2000-1-1"},
        {"2000-01-01", "date! 2000-1-1"},
        {"1/1/2000", "date! 2000-1-1"},
        {"20000101T120000Z", "date! 2000-1-1/43200"},
        {"2000-W01-1", "date! 2000-1-3"},
        {"2000-W01", "date! 2000-1-3"},
        {"2000-032", "date! 2000-2-1"},
        {"2000-000", "!invalid date!"},
        {"29-Feb-2001", "!invalid date!"},
        {"29-Feb-2000", "date! 2000-2-29"},
        {"1-Jan-99", "date! 1999-1-1"},
        {"1-Jan-49", "date! 2049-1-1"},
        {"1-January-2000", "date! 2000-1-1"},
        {"1-Foo-2000", "!invalid date!"},
        {"32-Jan-2000", "!invalid date!"},
        {"1-13-2000", "!invalid date!"},
        {"1-Jan-2000/10:30", "date! 2000-1-1/37800"},
        {"1-Jan-2000/10:30+2:00", "date! 2000-1-1/30600+120"},
        {"1-Jan-2000/24:00", "!invalid date!"},
    };
    check_rows(rows, std::size(rows));
}

TEST_F(LexerLoad, Text) {
    const row_t rows[] = {
        {"\"abc\"", "string! u1 abc"},
        {"\"a^/b\"", "string! u1 a\nb"},
        {"\"^(tab)x\"", "string! u1 \tx"},
        {"\"^(41)\"", "string! u1 A"},
        {"\"^(0041)\"", "string! u2 A"},
        {"\"^(1F600)\"", "string! u4 <128512>"},
        {"\"\xC3\xA9\"", "string! u2 <233>"},
        {"\"\xF0\x9F\x98\x80\"", "string! u4 <128512>"},
        {"\"^\"q^\"\"", "string! u1 \"q\""},
        {"\"abc", "!invalid string!"},
        {"\"a\nb\"", "!invalid string!"},
        {"\"^(12345678)\"", "!invalid string!"},
        {"{a{b}c}", "string! u1 a{b}c"},
        {"{a^}b}", "string! u1 a}b"},
        {"{a\nb}", "string! u1 a\nb"},
        {"{abc", "!invalid string!"},
        {"%{a}%", "string! u1 a"},
        {"%%{a}% b}%%", "string! u1 a}% b"},
        {"%{a}%b", "!invalid string!"},
        {"#\"a\"", "char! 97"},
        {"#\"^(41)\"", "char! 65"},
        {"#\"^(tab)\"", "char! 9"},
        {"#\"\xC3\xA9\"", "char! 233"},
        {"#\"ab\"", "!invalid char!"},
        {"%a.txt", "file! u1 a.txt"},
        {"%a%20b", "file! u1 a b"},
        {"%\"a b\"", "file! u1 a b"},
        {"%a%zz", "!invalid file!"},
        {"<a b>", "tag! u1 a b"},
        {"a@b.c", "email! u1 a@b.c"},
        {"@name", "ref! u1 name"},
        {"http://x.y/z", "url! u1 http://x.y/z"},
        {"a:b", "url! u1 a:b"},
        {"#{0A0B}", "binary! 0A0B"},
        {"#{0A 0B ; note\n 0C}", "binary! 0A0B0C"},
        {"#{}", "binary! "},
        {"#{0A1}", "!invalid binary!"},
        {"3#{00}", "!invalid binary!"},
        {"2#{00000001}", "binary! 01"},
        {"64#{AQID}", "binary! 010203"},
        {"64#{AQI=}", "binary! 0102"},
        {"#{0G}", "!invalid binary!"},
    };
    check_rows(rows, std::size(rows));
}

TEST_F(LexerLoad, WordsAndConstructions) {
    const row_t rows[] = {
        {"abc", "word! abc"},
        {"Abc", "word! Abc"},
        {"abc:", "set-word! abc"},
        {":abc", "get-word! abc"},
        {"'abc", "lit-word! abc"},
        {"/ref", "refinement! ref"},
        {"/1st", "refinement! 1st"},
        {"#iss", "issue! iss"},
        {"+", "word! +"},
        {"<", "word! <"},
        {"=", "word! ="},
        {"'a:", "!invalid lit-word!"},
        {"\xC2\xA0"
         "abc",
         "word! abc"},
        {"\xE3\x80\x80", "block! []"},
        {"#(true)", "logic! true"},
        {"#(FALSE)", "logic! false"},
        {"#(none)", "none!"},
        {"#(integer!)", "datatype! integer!"},
        {"#(foo)", "!malconstruct"},
    };
    check_rows(rows, std::size(rows));
}

TEST_F(LexerLoad, Containers) {
    const row_t rows[] = {
        {"[1 2]", "block! [integer! 1 | integer! 2]"},
        {"[]", "block! []"},
        {"[[a] (b)]", "block! [block! [word! a] | paren! [word! b]]"},
        {"a/b", "path! [word! a | word! b]"},
        {"a/b:", "set-path! [word! a | word! b]"},
        {":a/b", "get-path! [word! a | word! b]"},
        {"'a/b", "lit-path! [word! a | word! b]"},
        {"a/1/(b)", "path! [word! a | integer! 1 | paren! [word! b]]"},
        {"a/b c", "block! [path! [word! a | word! b] | word! c]"},
        {"[1 2", "!missing ]"},
        {"1 2]", "!missing ["},
        {"(1 2", "!missing )"},
        {"[1 2)", "!missing ]"},
        {"#[a 1 b", "!missing ]"},
        {"#[a 1]", "map! "},
        {"(a, b)", "!invalid point2D!"},
        {"1 , 2", "!invalid point2D!"},
        {"a,", "!invalid word!"},
        {"a/", "!invalid path!"},
        {"}", "!bad-char"},
    };
    check_rows(rows, std::size(rows));
    // A NUL byte is a bad character, not the end of the text.
    EXPECT_EQ(load(std::string("a\0b", 3)), "!bad-char");
}

// Error values carry the line and the text near the fault.
TEST_F(LexerLoad, ErrorArguments) {
    struct {
        const char* text;
        err id;
        const char* line;
        const char* near;
    } rows[] = {
        {"[1 2", err::missing, "(line 1)", "[1 2"},
        {"a\n\n  [1 2\nb", err::missing, "(line 4)", "[1 2"},
        {"x 29-Feb-2001 y", err::invalid, "(line 1)", "29-Feb-2001 y"},
        {"x \"abc\ny", err::invalid, "(line 1)", "\"abc"},
    };
    for (const auto& r : rows) {
        cell_t* out = stack::push_slot();
        cell::begin(out);
        try {
            lexer::scan(out, reinterpret_cast<const uint8_t*>(r.text),
                        static_cast<int32_t>(std::strlen(r.text)), {}, nullptr, nullptr, nullptr,
                        nullptr);
            ADD_FAILURE() << "no error for " << r.text;
        } catch (const raised_error& e) {
            EXPECT_EQ(e.id, r.id) << r.text;
            cell_t* error = stack::top();
            ASSERT_EQ(type_of(error), TYPE_error);
            EXPECT_EQ(text_of(error::field(error, error::FIELD_ARG1)), r.line) << r.text;
            cell_t* near =
                error::field(error, e.id == err::missing ? error::FIELD_ARG3 : error::FIELD_ARG3);
            EXPECT_EQ(text_of(near), r.near) << r.text;
        }
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
    }
}

// A failing scan leaves nothing of its values behind, and the next scan
// works from a clean buffer.
TEST_F(LexerLoad, ErrorUnwindsTheScan) {
    EXPECT_EQ(load("[a [b [c"), "!missing ]");
    EXPECT_EQ(lexer::last_state(), nullptr);
    EXPECT_EQ(load("[x]"), "block! [word! x]");
}

TEST_F(LexerLoad, NewLineMarkers) {
    cell_t* out = stack::push_slot();
    cell::begin(out);
    const char* text = "a\nb c";
    lexer::scan(out, reinterpret_cast<const uint8_t*>(text), 5, {}, nullptr, nullptr, nullptr,
                nullptr);
    ASSERT_EQ(block::rs_length_q(out), 3);
    cell_t* first = block::rs_head(out);
    EXPECT_FALSE(first[0].header & FLAG_NEW_LINE);
    EXPECT_TRUE(first[1].header & FLAG_NEW_LINE);
    EXPECT_FALSE(first[2].header & FLAG_NEW_LINE);
}

TEST_F(LexerLoad, OneValueAndScanOnly) {
    cell_t* out = stack::push_slot();
    cell::begin(out);
    int32_t consumed = 0;
    const char* text = "[1 2] 3";
    int32_t kind = lexer::scan(out, reinterpret_cast<const uint8_t*>(text), 7, {.one_value = true},
                               &consumed, nullptr, nullptr, nullptr);
    EXPECT_EQ(kind, TYPE_block);
    EXPECT_EQ(describe(out), "block! [integer! 1 | integer! 2]");
    EXPECT_EQ(consumed, 5);
    // Scan-only: a syntax error is reported by kind, nothing is raised.
    kind = lexer::scan(out, reinterpret_cast<const uint8_t*>("[1 2"), 4, {.load = false}, nullptr,
                       nullptr, nullptr, nullptr);
    EXPECT_EQ(kind, TYPE_error);
    EXPECT_EQ(type_of(out), TYPE_none);
    // Scan-only still reads each literal whole: a point's ")" and a char's
    // closing quote are not taken for tokens of their own (the point used
    // to be read again forever).
    const char* nested = "[(1, 2) #\"]\"]";
    kind = lexer::scan(out, reinterpret_cast<const uint8_t*>(nested),
                       static_cast<int32_t>(std::strlen(nested)), {.load = false}, nullptr, nullptr,
                       nullptr, nullptr);
    EXPECT_EQ(kind, TYPE_block);
}

TEST_F(LexerLoad, StringInputCountsCharacters) {
    cell_t* s = stack::push_slot();
    cell::begin(s);
    const char* text = "\xC3\xA9t\xC3\xA9 abc";
    string::load_at(reinterpret_cast<const uint8_t*>(text), static_cast<int64_t>(std::strlen(text)),
                    s, string::ENCODING_UTF8);
    cell_t* out = stack::push_slot();
    cell::begin(out);
    int32_t consumed = 0;
    lexer::scan_string(out, s, -1, {.one_value = true}, &consumed, nullptr, nullptr);
    EXPECT_EQ(describe(out), "word! \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(consumed, 3);
    EXPECT_TRUE(lexer::scan_one_value_last(out, s) == false);
}

// A binary input is read through its node, so a hook that allocates (and,
// under a collector, moves buffers) never leaves the scan reading freed
// memory.
TEST_F(LexerLoad, BinaryInputSurvivesAllocationInCallbacks) {
    cell_t* bin = stack::push_slot();
    cell::begin(bin);
    const char* text = "abc [1 2] \"xyz\"";
    node_t node = alloc::alloc_bytes(static_cast<int64_t>(std::strlen(text)));
    series_buffer_t* b = alloc::buffer(node);
    std::memcpy(b->head_ptr(), text, std::strlen(text));
    b->tail = b->head + static_cast<int32_t>(std::strlen(text));
    block::init_value(bin, TYPE_binary, node);
    auto churn = [](lexer::state_t&, lexer::event_t, int32_t, const cell_t*, int32_t, int32_t,
                    void*) {
        for (int i = 0; i < 50; ++i) alloc::alloc_bytes(256);
        return true;
    };
    cell_t* out = stack::push_slot();
    cell::begin(out);
    lexer::scan_hooked(out, nullptr, static_cast<int32_t>(std::strlen(text)), {}, nullptr, churn,
                       nullptr, lexer::EV_ALL, bin, nullptr);
    EXPECT_EQ(describe(out),
              "block! [word! abc | block! [integer! 1 | integer! 2] | string! u1 xyz]");
}

// The events a console follows to tell incomplete input from errors.
struct seen_t {
    std::string log;
};

bool record(lexer::state_t&, lexer::event_t event, int32_t kind, const cell_t*, int32_t, int32_t,
            void* data) {
    auto* seen = static_cast<seen_t*>(data);
    const char* name = event == lexer::EV_OPEN    ? "open"
                       : event == lexer::EV_CLOSE ? "close"
                                                  : "error";
    seen->log +=
        std::string(seen->log.empty() ? "" : " ") + name + ":" + (kind > 0 ? type_name(kind) : "-");
    return event != lexer::EV_ERROR;  // errors are dropped, the scan stops
}

TEST_F(LexerLoad, IncompleteInputEvents) {
    struct {
        const char* text;
        const char* log;
    } rows[] = {
        {"[1 (2)", "open:block! open:paren! close:paren! error:block!"},
        {"print {a}", "open:string! close:string!"},
        {"{a {b}", "open:string! error:string!"},
        {"\"abc", "error:string!"},
        {"#[a", "open:map! error:map!"},
    };
    for (const auto& r : rows) {
        seen_t seen;
        cell_t* out = stack::push_slot();
        cell::begin(out);
        lexer::scan_hooked(out, reinterpret_cast<const uint8_t*>(r.text),
                           static_cast<int32_t>(std::strlen(r.text)), {}, nullptr, record, &seen,
                           lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_ERROR, nullptr, nullptr);
        EXPECT_EQ(seen.log, r.log) << r.text;
    }
}

// A hook that drops an error and moves the position past the bad byte lets
// the scan go on.
TEST_F(LexerLoad, DroppedErrorResumes) {
    auto skip = [](lexer::state_t& s, lexer::event_t event, int32_t, const cell_t*, int32_t start,
                   int32_t, void*) {
        if (event != lexer::EV_ERROR) return true;
        s.position = start + 1;
        return false;
    };
    cell_t* out = stack::push_slot();
    cell::begin(out);
    const char* text = "a } b";
    lexer::scan_hooked(out, reinterpret_cast<const uint8_t*>(text), 5, {}, nullptr, skip, nullptr,
                       lexer::EV_ERROR, nullptr, nullptr);
    EXPECT_EQ(describe(out), "block! [word! a | word! b]");
    // An error inside a get-path closes the path as the kind it opened with
    // (closing it as path! was a mismatch that raised again, endlessly).
    const char* path = ":ba/b//3";
    lexer::scan_hooked(out, reinterpret_cast<const uint8_t*>(path), 8, {}, nullptr, skip, nullptr,
                       lexer::EV_ERROR, nullptr, nullptr);
    EXPECT_EQ(type_of(out), TYPE_block);
}

// A callback function sees only the events its body names first; its
// answer false drops each loaded value.
TEST_F(LexerLoad, CallbackFunctionFiltersAndDrops) {
    cell_t* spec = stack::push_slot();
    cell::begin(spec);
    cell_t* body = stack::push_slot();
    cell::begin(body);
    auto load_into = [](cell_t* out, const char* text) {
        lexer::scan(out, reinterpret_cast<const uint8_t*>(text),
                    static_cast<int32_t>(std::strlen(text)), {}, nullptr, nullptr, nullptr,
                    nullptr);
    };
    load_into(spec, "event input type line token");
    load_into(body, "[load] #(false)");
    function::push(spec, body, 0, 0, 0, 0);
    cell_t* fn = stack::top();
    cell_t* out = stack::push_slot();
    cell::begin(out);
    const char* text = "a [b {c}] 1";
    lexer::scan(out, reinterpret_cast<const uint8_t*>(text),
                static_cast<int32_t>(std::strlen(text)), {}, nullptr, fn, nullptr, nullptr);
    EXPECT_EQ(describe(out), "block! [block! []]");
}

}  // namespace
