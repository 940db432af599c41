// Text code under a running collector, and in-place case changes of strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

using namespace zuv;

namespace {

std::u32string chars_of_string(const cell_t* c) {
    std::u32string out;
    series_buffer_t* s = string::buffer_of(c);
    uint32_t unit = s->unit();
    for (int32_t i = static_cast<int32_t>(c->data1); i < s->used() / static_cast<int32_t>(unit);
         i++)
        out.push_back(static_cast<char32_t>(
            string::get_char(s->head_ptr() + static_cast<size_t>(i) * unit, unit)));
    return out;
}

// Every allocation collects and compacts, and the memory a buffer leaves is
// poisoned: a buffer address kept across an allocation reads garbage.
class CollectEveryAllocation : public zuv::testing::Runtime {
protected:
    void SetUp() override {
        zuv::testing::Runtime::SetUp();
        saved_active_ = collector::active;
        saved_period_ = collector::stress_period;
        collector::active = true;
        collector::stress_period = collector::stress_countdown = 1;
    }
    void TearDown() override {
        collector::active = saved_active_;
        collector::stress_period = collector::stress_countdown = saved_period_;
    }

private:
    bool saved_active_ = false;
    uint32_t saved_period_ = 0;
};

TEST_F(CollectEveryAllocation, LoadingUtf8WidensANewStringThatNothingElseHolds) {
    // Latin-1 first (1-byte units), then characters that need 2- and 4-byte
    // units: each widening moves the new string's buffer.
    const std::string text = "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 abc";
    const std::u32string expected = U"\u00E9t\u00E9 \u20AC \U0001F600 abc";
    for (int round = 0; round < 20; round++) {
        cell_t* slot = stack::push_slot();
        slot->header = TYPE_unset;
        string::load_at(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int64_t>(text.size()), slot, string::ENCODING_UTF8);
        ASSERT_EQ(type_of(slot), TYPE_string);
        EXPECT_EQ(chars_of_string(slot), expected);
        stack::pop(1);
    }
}

bool allocate_between_tokens(lexer::state_t&, lexer::event_t, int32_t, const cell_t*, int32_t,
                             int32_t, void*) {
    alloc::alloc_bytes(64);
    return true;
}

TEST_F(CollectEveryAllocation, LexerLoadsAndReportsWideTextWhileBuffersMove) {
    // The lexer's strings and the near text of its syntax errors are decoded
    // Latin-1 first and widened when a wider character comes. Each text is
    // loaded from fixed memory and from a binary! read through its node
    // (with a hook that allocates between tokens).
    struct {
        std::string text;
        bool fails;
        std::u32string expected;  // the first value's characters, or the near text
    } rows[] = {
        {"\"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\" 1", false,
         U"\u00E9t\u00E9 \u20AC \U0001F600"},
        {"{\xC3\xA9 {\xE2\x82\xAC} \xF0\x9F\x98\x80} x", false, U"\u00E9 {\u20AC} \U0001F600"},
        {"<\xC3\xA9\xE2\x82\xAC> x", false, U"\u00E9\u20AC"},
        {"x [\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 1", true, U"[\u00E9\u20AC\U0001F600 1"},
        {"x \"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true, U"\"\u00E9 \u20AC \U0001F600"},
    };
    for (const auto& r : rows) {
        for (bool through_node : {false, true}) {
            stack::arguments = stack::top_slot = stack::bottom;
            int32_t n = static_cast<int32_t>(r.text.size());
            cell_t* input = stack::push_slot();
            input->header = TYPE_unset;
            node_t node = alloc::alloc_bytes(n);
            series_buffer_t* b = alloc::buffer(node);
            std::memcpy(b->head_ptr(), r.text.data(), r.text.size());
            b->tail = b->head + n;
            block::init_value(input, TYPE_binary, node);
            cell_t* out = stack::push_slot();
            out->header = TYPE_unset;
            const uint8_t* text = reinterpret_cast<const uint8_t*>(r.text.data());
            std::u32string got;
            try {
                if (through_node)
                    lexer::scan_hooked(out, nullptr, n, {}, nullptr, allocate_between_tokens,
                                       nullptr, lexer::EV_ALL, input, nullptr);
                else lexer::scan(out, text, n, {}, nullptr, nullptr, nullptr, nullptr);
                ASSERT_FALSE(r.fails) << r.text;
                got = chars_of_string(block::rs_head(out));
            } catch (const raised_error&) {
                ASSERT_TRUE(r.fails) << r.text;
                got = chars_of_string(error::field(stack::top(), error::FIELD_ARG3));
            }
            EXPECT_EQ(got, r.expected) << r.text << (through_node ? " (binary!)" : "");
        }
    }
    stack::arguments = stack::top_slot = stack::bottom;
}

TEST_F(CollectEveryAllocation, NewSymbolsKeepTheirNamesWhileTheSymbolBlockGrows) {
    // Enough new symbols that the symbol block grows: the collection its
    // growth runs must not take the new symbol's name.
    std::vector<std::pair<int32_t, std::string>> made;
    for (int i = 0; i < 5000; i++) {
        std::string name = "grown-symbol-" + std::to_string(i);
        made.emplace_back(symbol::make(name.c_str()), name);
    }
    for (const auto& [id, name] : made) ASSERT_STREQ(symbol::get_utf8(id), name.c_str());
}

class CaseChange : public zuv::testing::Runtime {};

TEST_F(CaseChange, BadPartNamesThePartRefinementAndChangesNothing) {
    cell_t* s = stack::push_slot();
    s->header = TYPE_unset;
    string::load_at(reinterpret_cast<const uint8_t*>("abc"), 3, s, string::ENCODING_UTF8);
    cell_t* other = stack::push_slot();
    other->header = TYPE_unset;
    string::load_at(reinterpret_cast<const uint8_t*>("xyz"), 3, other, string::ENCODING_UTF8);
    cell_t* error = nullptr;
    try {
        case_folding::change_string(s, other, true);
    } catch (const raised_error&) {
        error = stack::top();
    }
    ASSERT_NE(error, nullptr);
    ASSERT_EQ(type_of(error), TYPE_error);
    EXPECT_EQ(error::id_of(error), err::invalid_refine_arg);
    const cell_t* word = error::field(error, error::FIELD_ARG1);
    ASSERT_EQ(type_of(word), TYPE_word);
    EXPECT_EQ(symbol::resolve(word::symbol_of(word)), symbol::resolve(symbol::make("part")));
    EXPECT_EQ(chars_of_string(s), U"abc");
}

TEST_F(CaseChange, PartCountsAndPositions) {
    struct {
        const char* text;
        int32_t head;
        int32_t part;  // -1: no part; -2: a position two characters on
        bool upper;
        const char32_t* expected;
    } cases[] = {
        {"abcdef", 0, -1, true, U"ABCDEF"},   {"abcdef", 2, 2, true, U"CDef"},
        {"abcdef", 4, 10, true, U"EF"},  // a count beyond the tail changes the rest only
        {"abcdef", 1, 0, true, U"bcdef"},     {"ABCDEF", 1, -2, false, U"bcDEF"},
        {"\xC3\xBF", 0, -1, true, U"\u0178"},  // widens a 1-byte string
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        cell_t* s = stack::push_slot();
        s->header = TYPE_unset;
        int64_t bytes = static_cast<int64_t>(std::char_traits<char>::length(c.text));
        string::load_at(reinterpret_cast<const uint8_t*>(c.text), bytes, s, string::ENCODING_UTF8);
        s->data1 = static_cast<uint32_t>(c.head);
        cell_t* part = nullptr;
        cell_t count{TYPE_unset, 0, 0, 0};
        if (c.part >= 0) {
            count = cell_t{TYPE_integer, 0, static_cast<uint32_t>(c.part), 0};
            part = &count;
        } else if (c.part == -2) {
            count = *s;
            count.data1 += 2;
            part = &count;
        }
        case_folding::change_string(s, part, c.upper);
        EXPECT_EQ(chars_of_string(s), std::u32string(c.expected));
        stack::pop(1);
    }
}

// 1-byte text changes eight ASCII bytes at a time and the rest a byte at a
// time, and hands over to the general path at the first character whose
// case needs a wider unit. Random text over all 256 code points (mostly
// letters around the ASCII range's edges), at random heads and parts, must
// come out as the character mapping says.
TEST_F(CaseChange, OneByteTextMatchesTheCharacterMapping) {
    std::mt19937 rng(7);
    const char32_t edges[] = {'@',  'A',  'Z',  '[',  '`',  'a',  'z',  '{',  0x7F,
                              0x80, 0xB5, 0xC0, 0xDE, 0xDF, 0xE0, 0xF7, 0xFE, 0xFF};
    for (int round = 0; round < 3000; round++) {
        int32_t length = static_cast<int32_t>(rng() % 41);
        std::u32string text;
        for (int32_t i = 0; i < length; i++) {
            uint32_t pick = rng() % 8;
            char32_t c =
                pick < 3
                    ? static_cast<char32_t>(rng() % 256)
                    : (pick < 5 ? edges[rng() % std::size(edges)]
                                : static_cast<char32_t>('a' + rng() % 26 - (pick == 5 ? 32 : 0)));
            text.push_back(c);
        }
        int32_t head = length ? static_cast<int32_t>(rng() % (length + 1)) : 0;
        int32_t part = rng() % 3 == 0 ? static_cast<int32_t>(rng() % 45) : -1;
        bool upper = rng() % 2 == 0;

        cell_t* s = stack::push_slot();
        s->header = TYPE_unset;
        string::make_at(s, length);
        // Latin-1 characters are stored straight into the 1-byte units, as
        // set_char stores them (append_char would widen the text at once).
        for (size_t i = 0; i < text.size(); i++) string::append_char(string::buffer_of(s), 'x');
        series_buffer_t* b = string::buffer_of(s);
        ASSERT_EQ(b->unit(), 1u);
        for (size_t i = 0; i < text.size(); i++) string::put_char(b->head_ptr() + i, 1, text[i]);
        s->data1 = static_cast<uint32_t>(head);
        cell_t count{TYPE_integer, 0, static_cast<uint32_t>(part), 0};
        case_folding::change_string(s, part >= 0 ? &count : nullptr, upper);

        std::u32string expected = text.substr(static_cast<size_t>(head));
        size_t changed =
            part >= 0 ? std::min(static_cast<size_t>(part), expected.size()) : expected.size();
        for (size_t i = 0; i < changed; i++) expected[i] = case_folding::change(expected[i], upper);
        ASSERT_EQ(chars_of_string(s), expected) << "round " << round << " head " << head << " part "
                                                << part << (upper ? " upper" : " lower");
        stack::pop(1);
    }
}

}  // namespace
