// binary!: conversion, insert/append/change/trim, comparison, bitwise
// actions, form and mold layout, poke, the raw byte routines, and enbase /
// debase against Python's base64 and binascii modules.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/issue.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "molded.h"
#include "needs_tool.h"
#include "runtime/fire.h"
#include "runtime_fixture.h"

using namespace zuv;

namespace {

using bytes_t = std::vector<uint8_t>;

bytes_t from_hex(const std::string& hex) {
    bytes_t out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string to_hex(const bytes_t& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

class Binary : public zuv::testing::Runtime {
protected:
    void SetUp() override {
        Runtime::SetUp();
        *stack::push_slot() = cell_t{TYPE_none, 0, 0, 0};  // the result slot
    }

    // Values live on the argument stack, where the collector sees them.
    static cell_t* bin(const std::string& hex) {
        bytes_t b = from_hex(hex);
        return binary::load(b.data(), static_cast<int64_t>(b.size()));
    }
    static cell_t* text(const std::string& utf8) {
        return string::load(reinterpret_cast<const uint8_t*>(utf8.data()),
                            static_cast<int64_t>(utf8.size()), string::ENCODING_UTF8);
    }
    static cell_t* push(cell_t c) { return stack::push(&c); }
    static cell_t* integer(int32_t i) {
        return push(cell_t{TYPE_integer, 0, static_cast<uint32_t>(i), 0});
    }
    static cell_t* ch(uint32_t c) { return push(cell_t{TYPE_char_, 0, c, 0}); }
    static cell_t* block(std::vector<cell_t*> items) {
        node_t node = alloc::alloc_cells(static_cast<int64_t>(items.size()) + 1);
        series_buffer_t* s = alloc::buffer(node);
        for (cell_t* c : items) *alloc::alloc_tail(s) = *c;
        return push(cell_t{TYPE_block, 0, node, 0});
    }

    // The bytes from the head, as upper-case hexadecimal.
    static std::string hex(const cell_t* v) {
        EXPECT_EQ(type_of(v), TYPE_binary);
        const uint8_t* p = binary::rs_head(v);
        return to_hex(bytes_t(p, p + binary::rs_length_q(v)));
    }
    // The whole buffer, whatever the head.
    static std::string whole(cell_t v) {
        v.data1 = 0;
        return hex(&v);
    }
    static std::string narrow(cell_t* s) {
        std::string out;
        series_buffer_t* b = string::buffer_of(s);
        for (const uint8_t* p = string::rs_head(s); p < b->tail_ptr(); p += b->unit())
            out.push_back(static_cast<char>(string::get_char(p, b->unit())));
        return out;
    }

    template <typename F> static std::optional<err> raised(F body) {
        try {
            body();
        } catch (const raised_error& e) {
            return e.id;
        }
        return std::nullopt;
    }

    static cell_t* to_binary(cell_t* spec) {
        cell_t proto{TYPE_datatype, TYPE_binary, 0, 0};
        return binary::to(&proto, spec, TYPE_binary);
    }
    static std::string mold(cell_t* v, bool only = false, bool flat = false, int32_t indent = 0,
                            bool part = false, int32_t limit = -1, int32_t* left = nullptr) {
        return zuv::test::molded(v, {.only = only,
                                     .flat = flat,
                                     .limit = part ? limit : -1,
                                     .indent = indent,
                                     .left = left});
    }
};

// --- to binary! -----------------------------------------------------------------------

TEST_F(Binary, ToFromScalarsAndTexts) {
    cell_t pct{TYPE_percent, 0, 0, 0};
    cell::put_float(&pct, 0.5);
    cell_t one{TYPE_float_, 0, 0, 0};
    cell::put_float(&one, 1.0);
    struct {
        cell_t* spec;
        const char* expect;
    } cases[] = {
        {integer(1), "00000001"},
        {integer(-1), "FFFFFFFF"},
        {integer(INT32_MIN), "80000000"},
        {push(one), "3FF0000000000000"},
        {push(pct), "3FE0000000000000"},
        {ch('A'), "41"},
        {ch(0xE9), "C3A9"},
        {ch(0x1F600), "F09F9880"},
        {text("a\xC3\xA9"), "61C3A9"},
        {text(""), ""},
        {issue::load("0aFF"), "0AFF"},
        {push(cell_t{TYPE_tuple | (4u << 19), 0x04030201, 0, 0}), "01020304"},
        {bin("00112233"), "00112233"},
    };
    for (auto& c : cases) EXPECT_EQ(hex(to_binary(c.spec)), c.expect) << c.expect;

    // A copy from the head, in a buffer of its own.
    cell_t* src = bin("AABBCC");
    src->data1 = 1;
    cell_t copy = *to_binary(src);
    EXPECT_EQ(whole(copy), "BBCC");
    EXPECT_NE(copy.data2, src->data2);

    // A bitset gives its bytes unchanged.
    cell_t bits = *bin("0040FF");
    cell::set_type(&bits, TYPE_bitset);
    EXPECT_EQ(hex(to_binary(push(bits))), "0040FF");

    // A tuple shorter than 3 cannot exist; a 12-byte one gives all 12.
    EXPECT_EQ(
        hex(to_binary(push(cell_t{TYPE_tuple | (12u << 19), 0x04030201, 0x08070605, 0x0C0B0A09}))),
        "0102030405060708090A0B0C");
}

TEST_F(Binary, ToFromBlocksAndFailures) {
    cell_t* b = block({integer(1), ch('a'), text("bc"), bin("FF"), integer(-2)});
    EXPECT_EQ(hex(to_binary(b)), "01616263FFFE");
    EXPECT_EQ(hex(to_binary(block({}))), "");
    // Nested blocks are walked too.
    EXPECT_EQ(hex(to_binary(block({integer(1), block({integer(2), block({integer(3)})})}))),
              "010203");

    EXPECT_EQ(raised([&] { to_binary(push(cell_t{TYPE_none, 0, 0, 0})); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] {
                  to_binary(block({integer(1), push(cell_t{TYPE_none, 0, 0, 0})}));
              }),
              err::bad_to_arg);
    EXPECT_EQ(raised([&] { to_binary(block({integer(256)})); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { to_binary(issue::load("0G")); }), err::invalid_data);

    // A block holding itself ends in an error, not in endless recursion.
    cell_t* self = block({integer(1)});
    *alloc::alloc_tail(alloc::buffer(self->data2)) = *self;
    EXPECT_TRUE(raised([&] { to_binary(self); }).has_value());
}

// --- insert, append, change --------------------------------------------------------------

TEST_F(Binary, InsertAndAppend) {
    struct {
        const char* target;
        int32_t head;
        cell_t* value;
        int32_t part, dup;
        bool append;
        const char* whole;
        int32_t index;  // head index of the result
    } cases[] = {
        {"0102", 1, integer(-1), -1, 1, false, "01FF02", 2},
        {"0102", 1, integer(-128), -1, 1, false, "018002", 2},
        {"0102", 1, integer(255), -1, 1, true, "0102FF",
         0},  // append: index 0 though not at the head
        {"0102", 0, text("ab"), -1, 1, false, "61620102", 2},
        {"0102", 0, ch(0xE9), -1, 1, true, "0102C3A9", 0},
        {"0102", 0, bin("AABBCC"), 2, 1, false, "AABB0102", 2},  // part cuts the value's bytes
        {"0102", 0, bin("AABB"), -1, 3, false, "AABBAABBAABB0102", 6},
        {"", 0, bin("AB"), -1, 5, true, "ABABABABAB", 0},
        {"0102", 5, integer(3), -1, 1, false, "010203", 3},  // a head past the tail is the tail
        {"0102", 0, block({integer(7), text("x")}), -1, 2, false, "0778077801 02", 4},
    };
    for (auto& c : cases) {
        cell_t* t = bin(c.target);
        t->data1 = static_cast<uint32_t>(c.head);
        cell_t r = *binary::insert(t, c.value, c.part, false, c.dup, c.append);
        std::string expect = c.whole;
        expect.erase(std::remove(expect.begin(), expect.end(), ' '), expect.end());
        EXPECT_EQ(whole(r), expect) << c.whole;
        EXPECT_EQ(static_cast<int32_t>(r.data1), c.index) << c.whole;
    }
}

TEST_F(Binary, InsertFailuresLeaveTheTargetAlone) {
    cell_t* t = bin("0102");
    EXPECT_EQ(raised([&] { binary::insert(t, integer(256), -1, false, 1, false); }),
              err::invalid_arg);
    EXPECT_EQ(raised([&] { binary::insert(t, integer(-129), -1, false, 1, true); }),
              err::invalid_arg);
    EXPECT_EQ(raised([&] {
                  binary::insert(t, push(cell_t{TYPE_none, 0, 0, 0}), -1, false, 1, true);
              }),
              err::bad_to_arg);
    EXPECT_EQ(raised([&] {
                  binary::insert(t, block({integer(1), integer(300)}), -1, false, 1, false);
              }),
              err::invalid_arg);
    EXPECT_EQ(whole(*t), "0102");
}

TEST_F(Binary, InsertOfItselfAndGrowth) {
    cell_t* t = bin("010203");
    cell_t* tail_view = push(*t);
    tail_view->data1 = 1;
    t->data1 = 3;
    binary::insert(t, tail_view, -1, false, 1, false);  // the source shares the target's buffer
    EXPECT_EQ(whole(*t), "0102030203");

    // Many appends across buffer growth keep every byte.
    cell_t* g = bin("");
    std::string expect;
    for (int i = 0; i < 3000; i++) {
        binary::insert(g, integer(i % 256), -1, false, 1, true);
        expect += to_hex({static_cast<uint8_t>(i % 256)});
    }
    EXPECT_EQ(whole(*g), expect);
}

TEST_F(Binary, Change) {
    cell_t tru{TYPE_logic, 1, 0, 0};
    struct {
        const char* target;
        int32_t head;
        cell_t* value;
        int32_t part, dup;
        const char* whole;
        int32_t index;
    } cases[] = {
        {"01020304", 1, bin("AABB"), -1, 1, "01AABB04", 3},
        {"01020304", 1, bin("AABB"), 1, 1, "01AABB0304", 3},  // replaces one byte, writes two
        {"01020304", 1, bin("AA"), 3, 1, "01AA", 2},
        {"01020304", 3, bin("AABBCC"), -1, 1, "010203AABBCC", 6},  // runs past the tail
        {"0102", 0, bin("AB"), -1, 3, "ABABAB", 3},
        {"0102", 2, integer(-1), -1, 1, "0102FF", 3},
        {"0102", 0, push(tru), -1, 1, "74727565", 4},  // other values change by their formed text
        {"0102", 0, bin(""), 2, 1, "", 0},
    };
    for (auto& c : cases) {
        cell_t* t = bin(c.target);
        t->data1 = static_cast<uint32_t>(c.head);
        cell_t r = *binary::change(t, c.value, c.part, false, c.dup);
        EXPECT_EQ(whole(r), c.whole) << c.whole;
        EXPECT_EQ(static_cast<int32_t>(r.data1), c.index) << c.whole;
    }
    // A change by a value on the target's own buffer reads it before writing.
    cell_t* t = bin("01020304");
    cell_t* view = push(*t);
    view->data1 = 2;
    binary::change(t, view, -1, false, 1);
    EXPECT_EQ(whole(*t), "03040304");
    EXPECT_EQ(raised([&] { binary::change(t, integer(999), -1, false, 1); }), err::invalid_arg);
}

TEST_F(Binary, Trim) {
    struct {
        const char* target;
        bool head, tail, all;
        cell_t* with;
        const char* whole;
    } cases[] = {
        {"0000010002000000", false, false, false, nullptr, "010002"},
        {"0000010002000000", true, false, false, nullptr, "010002000000"},
        {"0000010002000000", false, true, false, nullptr, "0000010002"},
        {"0000010002000000", false, false, true, nullptr, "0102"},
        {"00000000", false, false, false, nullptr, ""},
        {"61626361", false, false, false, ch('a'), "6263"},
        {"61626361", false, false, false, integer(0x62), "616361"},
        {"61626361", false, false, false, text("ac"), "62"},
        {"61626361", false, false, false, bin("6263"), "6161"},
    };
    for (auto& c : cases) {
        cell_t* t = bin(c.target);
        binary::trim(t, c.head, c.tail, false, false, c.all, c.with);
        EXPECT_EQ(whole(*t), c.whole) << c.target << " -> " << c.whole;
    }
    // Only the bytes from the head are trimmed.
    cell_t* t = bin("00000100");
    t->data1 = 1;
    binary::trim(t, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(*t), "0001");
    EXPECT_EQ(raised([&] { binary::trim(t, false, false, true, false, false, nullptr); }),
              err::not_done);
    EXPECT_EQ(raised([&] { binary::trim(t, false, false, false, true, false, nullptr); }),
              err::not_done);
}

// --- comparison, bitwise ------------------------------------------------------------------

TEST_F(Binary, Compare) {
    using namespace actions;
    struct {
        const char* a;
        const char* b;
        int32_t op, expect;
    } cases[] = {
        {"0102", "0102", cmp::EQUAL, 0},
        {"0102", "010203", cmp::EQUAL, 1},
        {"0102", "010203", cmp::LESSER, -1},
        {"0103", "010203", cmp::LESSER, 1},
        {"FF", "01", cmp::GREATER, 1},
        {"", "", cmp::STRICT_EQUAL, 0},
        {"", "00", cmp::SORT, -1},
        {"0102", "0102", cmp::SAME, -1},  // equal bytes, not the same
    };
    for (auto& c : cases)
        EXPECT_EQ(binary::compare_action(bin(c.a), bin(c.b), c.op), c.expect)
            << c.a << " vs " << c.b;
    cell_t* a = bin("0102");
    cell_t* same = push(*a);
    EXPECT_EQ(binary::compare_action(a, same, cmp::SAME), 0);
    EXPECT_EQ(binary::compare_action(a, text("ab"), cmp::EQUAL), -2);
    EXPECT_EQ(binary::compare_action(a, integer(1), cmp::LESSER), -2);
    // Match mode: the first value starting with the second matches.
    EXPECT_EQ(binary::compare_bytes(bin("010203"), bin("0102"), cmp::EQUAL, true), 0);
    EXPECT_EQ(binary::compare_bytes(bin("01"), bin("0102"), cmp::EQUAL, true), 1);
}

TEST_F(Binary, BitwiseAndComplement) {
    struct {
        void (*op)();
        const char* a;
        const char* b;
        const char* expect;
    } cases[] = {
        {binary::or_t, "0F0F", "F0F0AABB", "FFFFAABB"},
        {binary::and_t, "0F0F", "F0FFAABB", "000F0000"},
        {binary::xor_t, "FFFF0102", "0F0F", "F0F00102"},
        {binary::or_t, "", "", ""},
    };
    for (auto& c : cases) {
        // The frame: the two operands in the first two argument slots.
        stack::top_slot = stack::arguments + 1;
        bin(c.a);
        bin(c.b);
        stack::arguments[0] = stack::arguments[1];
        stack::arguments[1] = stack::arguments[2];
        c.op();
        EXPECT_EQ(hex(stack::arguments), c.expect) << c.a << " with " << c.b;
    }
    stack::arguments[1] = cell_t{TYPE_integer, 0, 1, 0};
    stack::arguments[0] = *bin("01");
    EXPECT_EQ(raised([] { binary::and_t(); }), err::invalid_arg);

    cell_t* v = bin("00FF5A");
    v->data1 = 1;
    binary::complement(v);
    EXPECT_EQ(whole(*v), "0000A5");
}

// --- form and mold --------------------------------------------------------------------------

TEST_F(Binary, MoldLayout) {
    auto bytes = [](int n) {
        std::string h;
        for (int i = 0; i < n; i++) h += to_hex({static_cast<uint8_t>(i)});
        return h;
    };
    std::string h30 = bytes(30), h31 = bytes(31), h64 = bytes(64), h70 = bytes(70);
    EXPECT_EQ(mold(bin("")), "#{}");
    EXPECT_EQ(mold(bin(h30)), "#{" + h30 + "}");
    EXPECT_EQ(mold(bin(h31)), "#{\n    " + h31 + "\n}");
    EXPECT_EQ(mold(bin(h64)),
              "#{\n    " + h64.substr(0, 64) + "\n    " + h64.substr(64) + "\n    }");
    EXPECT_EQ(mold(bin(h70), false, false, 1), "#{\n        " + h70.substr(0, 64) + "\n        " +
                                                   h70.substr(64, 64) + "\n        " +
                                                   h70.substr(128) + "\n    }");
    EXPECT_EQ(mold(bin(h70), false, true), "#{" + h70 + "}");  // flat
    EXPECT_EQ(mold(bin("0A0B"), true), "0A0B");  // only
    cell_t* v = bin(h31);
    v->data1 = 1;  // 30 bytes from the head: one line
    EXPECT_EQ(mold(v), "#{" + h31.substr(2) + "}");

    // form ignores the options and lays out as mold does.
    cell_t* out = stack::push_slot();
    string::make_at(out, 16);
    binary::form(bin(h31), out, false, 0);
    EXPECT_EQ(narrow(out), "#{\n    " + h31 + "\n}");

    // A /part budget stops the output early, without the closing brace.
    int32_t left = 0;
    EXPECT_EQ(mold(bin("01020304"), false, false, 0, true, 5, &left), "#{0102");
    EXPECT_LE(left, 0);
    EXPECT_EQ(mold(bin("01"), false, false, 0, true, 100, &left), "#{01}");
    EXPECT_EQ(left, 95);
}

// --- poke and the raw routines --------------------------------------------------------------

TEST_F(Binary, PokeStoresOnlyBytes) {
    struct {
        cell_t* value;
        std::optional<err> error;
        const char* whole;
    } cases[] = {
        {integer(255), std::nullopt, "00FF"},      {integer(-1), std::nullopt, "00FF"},
        {integer(-128), std::nullopt, "0080"},     {ch(0xE9), std::nullopt, "00E9"},
        {integer(256), err::invalid_arg, "0000"},  // once stored as 00
        {integer(-129), err::invalid_arg, "0000"}, {integer(0x141), err::invalid_arg, "0000"},
        {ch(0x141), err::invalid_arg, "0000"},  // once stored as 41
        {text("a"), err::invalid_arg, "0000"},
    };
    for (auto& c : cases) {
        cell_t* t = bin("0000");
        cell_t* index = integer(2);
        EXPECT_EQ(raised([&] { series::poke(t, 2, index, c.value); }), c.error) << c.whole;
        EXPECT_EQ(whole(*t), c.whole);
    }
}

TEST_F(Binary, RawRoutines) {
    cell_t* v = bin("0102");
    const uint8_t more[] = {0xAA, 0xBB};
    binary::rs_append(v, more, 2);
    EXPECT_EQ(whole(*v), "0102AABB");
    v->data1 = 1;
    binary::rs_insert(v, 1, more, 1);
    EXPECT_EQ(whole(*v), "0102AAAABB");
    binary::rs_overwrite(v, 3, more, 2);  // ends past the tail: the tail moves out
    EXPECT_EQ(whole(*v), "0102AAAAAABB");
    binary::append_int32_be(v, -2);
    EXPECT_EQ(whole(*v), "0102AAAAAABBFFFFFFFE");
    EXPECT_EQ(binary::head_byte(v), 0x02);
    EXPECT_FALSE(binary::rs_skip(v, 2));
    EXPECT_EQ(v->data1, 3u);
    binary::rs_skip(v, 100);  // would leave the buffer: stays
    EXPECT_EQ(v->data1, 3u);
    binary::rs_set_tail(v);
    EXPECT_EQ(whole(*v), "0102AA");
    EXPECT_TRUE(binary::rs_tail_q(v));
    EXPECT_EQ(binary::head_byte(v), -1);

    cell_t* bits = bin("004000000000000040");  // byte 0x41 ("A", bit 65) and 0x09
    cell::set_type(bits, TYPE_bitset);
    EXPECT_TRUE(binary::match_bitset_q(bin("41"), bits));
    EXPECT_TRUE(binary::match_bitset_q(bin("09"), bits));
    EXPECT_FALSE(binary::match_bitset_q(bin("42"), bits));
    EXPECT_FALSE(binary::match_bitset_q(bin("FF"), bits));  // beyond the bits, not inverted

    cell_t* s = bin("C3A96162");
    EXPECT_TRUE(binary::match_value_q(s,
                                      text("\xC3\xA9"
                                           "a"),
                                      actions::cmp::EQUAL));
    EXPECT_FALSE(binary::match_value_q(s, text("a"), actions::cmp::EQUAL));
    EXPECT_TRUE(binary::match_value_q(s, bin("C3"), actions::cmp::EQUAL));
    EXPECT_TRUE(binary::match_value_q(s, ch(0xC3), actions::cmp::EQUAL));
    EXPECT_FALSE(binary::match_value_q(s, ch(0xE9), actions::cmp::EQUAL));

    cell_t* b = block({});
    cell_t* loaded = binary::load_in(more, 2, b);
    EXPECT_EQ(hex(loaded), "AABB");
    EXPECT_EQ(alloc::buffer(b->data2)->used(), 16);
}

// --- enbase and debase ------------------------------------------------------------------------

TEST_F(Binary, EnbaseDebaseTable) {
    struct {
        int32_t base;
        const char* text;
        std::optional<std::string> hex;  // nullopt: not valid
    } cases[] = {
        {64, "QQ==", "41"},
        {64, "QQ", ""},  // pending values without padding are dropped
        {64, "QUI", ""},
        {64, "QUJD", "414243"},
        {64, "Q=", std::nullopt},
        {64, "Q'Q'==", "41"},  // the apostrophe is skipped
        {64, "QQ==\n; comment\n", "41"},
        {58, "11", "0000"},
        {58, "1'1", "0000"},
        {58, "112", "000001"},
        {58, "0", std::nullopt},
        {2, "010000010100", std::nullopt},  // 12 digits
        {2, "01000001 01000010", "4142"},
        {16, "414", "41"},  // a final unpaired digit is dropped
        {16, "", ""},
        {16, "4G", std::nullopt},
        {16,
         "\xC5\x81"
         "1",
         std::nullopt},  // U+0141 never reads as the hex digit A
    };
    for (auto& c : cases) {
        cell_t* out = stack::push_slot();
        cell::begin(out);  // the slot may hold a stale value from earlier calls
        binary::debase(text(c.text), c.base, out);
        if (!c.hex) {
            EXPECT_EQ(type_of(out), TYPE_none) << c.base << " " << c.text;
        } else {
            EXPECT_EQ(hex(out), *c.hex) << c.base << " " << c.text;
        }
    }
    struct {
        int32_t base;
        const char* hex;
        const char* text;
    } encodes[] = {
        {64, "41", "QQ=="}, {64, "4142", "QUI="}, {64, "414243", "QUJD"},
        {64, "", ""},       {58, "0000", "11"},   {58, "00", "1"},
        {58, "", ""},       {16, "0AFF", "0AFF"}, {2, "81", "10000001"},
    };
    for (auto& c : encodes) {
        cell_t* out = stack::push_slot();
        cell::begin(out);  // the slot may hold a stale value from earlier calls
        binary::enbase(bin(c.hex), c.base, out);
        EXPECT_EQ(type_of(out), TYPE_string);
        EXPECT_EQ(narrow(out), c.text) << c.base << " " << c.hex;
    }
    // A string is encoded as UTF-8 first; the output may be the input's cell.
    cell_t* s = text("\xC3\xA9");
    binary::enbase(s, 16, s);
    EXPECT_EQ(narrow(s), "C3A9");
    EXPECT_EQ(raised([&] {
                  cell_t* out = stack::push_slot();
                  cell::begin(out);
                  binary::enbase(bin("01"), 32, out);
              }),
              err::invalid_arg);
    EXPECT_EQ(raised([&] {
                  cell_t* out = stack::push_slot();
                  cell::begin(out);
                  binary::debase(text("AA"), 10, out);
              }),
              err::invalid_arg);
}

// A base-58 encoder written apart from the codec: the number's digits in
// base 58 built by multiply-and-add over the bytes.
std::string reference_base58(const bytes_t& b) {
    static const char* alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    std::vector<int> digits;  // least significant first
    for (uint8_t byte : b) {
        int carry = byte;
        for (int& d : digits) {
            carry += d * 256;
            d = carry % 58;
            carry /= 58;
        }
        for (; carry; carry /= 58) digits.push_back(carry % 58);
    }
    std::string out;
    for (size_t i = 0; i < b.size() && b[i] == 0; i++) out += '1';
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) out += alphabet[*it];
    return out;
}

// Random byte strings from Python, with what base64 and binascii make of
// them: hex (binascii.hexlify), base 64 padded (binascii.b2a_base64), wrapped
// in lines (base64.encodebytes), and unpadded, which decodes to the whole
// groups only.
const char* ORACLE = R"PY(
import base64, binascii, random
random.seed(71)
for i in range(10000):
    size = random.choice([0, 1, 2, 3, 4, random.randrange(64), random.randrange(200)])
    b = bytes(random.randrange(256) if random.random() < 0.85 else 0 for _ in range(size))
    if i % 5 == 0: b = bytes(random.randrange(4)) + b
    print('\t'.join('x' + f for f in [
        binascii.hexlify(b).decode().upper(),
        binascii.b2a_base64(b, newline=False).decode(),
        base64.encodebytes(b).decode().replace('\n', '~'),
        base64.b64encode(b).decode().rstrip('='),
        binascii.hexlify(b[:len(b) // 3 * 3]).decode().upper(),
        ''.join(format(c, '08b') for c in b)]))
)PY";

TEST_F(Binary, EnbaseDebaseAgreeWithPython) {
    ZUV_NEEDS_TOOL(access("/usr/bin/python3", X_OK) == 0, "no /usr/bin/python3");
    ASSERT_EQ(setenv("ZUV_BINARY_ORACLE", ORACLE, 1), 0);
    FILE* in = popen("/usr/bin/python3 -c \"$ZUV_BINARY_ORACLE\" 2>/dev/null", "r");
    ASSERT_NE(in, nullptr);
    std::string all;
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, in)) > 0;) all.append(chunk, n);
    int status = pclose(in);
    ZUV_NEEDS_TOOL(status == 0 || !all.empty(), "python3 did not run");
    ASSERT_EQ(status, 0);

    auto encoded = [&](cell_t* value, int32_t base) {
        cell_t* out = stack::push_slot();
        cell::begin(out);  // the slot may hold a stale value from earlier calls
        binary::enbase(value, base, out);
        return narrow(out);
    };
    auto decoded = [&](const std::string& t, int32_t base) {
        cell_t* out = stack::push_slot();
        cell::begin(out);  // the slot may hold a stale value from earlier calls
        binary::debase(text(t), base, out);
        return type_of(out) == TYPE_none ? std::string("none") : hex(out);
    };

    std::istringstream lines(all);
    std::string line;
    int checked = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, '\t');)
            f.push_back(s.substr(1));  // drop the 'x' guard
        ASSERT_EQ(f.size(), 6u) << line;
        std::string wrapped = f[2];
        for (char& c : wrapped) c = c == '~' ? '\n' : c;

        stack::top_slot = stack::arguments + 1;  // keep the stack small
        cell_t* value = bin(f[0]);
        ASSERT_EQ(encoded(value, 16), f[0]);
        ASSERT_EQ(encoded(value, 64), f[1]) << f[0];
        ASSERT_EQ(encoded(value, 2), f[5]) << f[0];
        std::string b58 = reference_base58(from_hex(f[0]));
        ASSERT_EQ(encoded(value, 58), b58) << f[0];

        ASSERT_EQ(decoded(f[0], 16), f[0]);
        ASSERT_EQ(decoded(f[1], 64), f[0]) << f[1];
        ASSERT_EQ(decoded(wrapped, 64), f[0]) << f[2];
        ASSERT_EQ(decoded(f[3], 64), f[4]) << f[3];
        ASSERT_EQ(decoded(f[5], 2), f[0]) << f[5];
        ASSERT_EQ(decoded(b58, 58), f[0]) << b58;
        checked++;
    }
    EXPECT_EQ(checked, 10000);
}

}  // namespace
