// string!'s actions: make and to, comparison, append, insert, change, swap.
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "runtime/case_folding.h"
#include "text_fixture.h"

using namespace zuv;
using zuv::test::TextTest;
using zuv::testing::raised;

namespace {

// A form for char! and a failing form for money!, installed in the action
// table for the tests' lifetime: the first lets blocks of characters be
// formed before the numbers module registers, the second is a value whose
// form writes part of its text and then fails.
int32_t form_char(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    string::append_char(buffer, value->data2);
    return limit - 1;
}
int32_t form_failing(cell_t*, cell_t* buffer, bool, int32_t) {
    string::concatenate_literal(buffer, "half-formed");
    fire(err::invalid_arg);
}

class StringActions : public TextTest {
protected:
    void SetUp() override {
        TextTest::SetUp();
        if (case_folding::upper_table == nullptr) case_folding::init();
        saved_char = entry(TYPE_char_);
        saved_money = entry(TYPE_money);
        entry(TYPE_char_) = own<ACT_form>(form_char);
        entry(TYPE_money) = own<ACT_form>(form_failing);
        stack::push(&none);  // the result slot
    }
    void TearDown() override {
        entry(TYPE_char_) = saved_char;
        entry(TYPE_money) = saved_money;
        TextTest::TearDown();
    }
    static action_entry_t& entry(int type) { return type_action_table[(type << 8) + ACT_form - 1]; }

    static cell_t ch(uint32_t c) { return cell_t{TYPE_char_, 0, c, 0}; }
    static cell_t block(std::vector<cell_t> items) {
        node_t node = alloc::alloc_cells(static_cast<int64_t>(items.size()));
        series_buffer_t* s = alloc::buffer(node);
        for (cell_t& c : items) *alloc::alloc_tail(s) = c;
        return cell_t{TYPE_block, 0, node, 0};
    }
    static cell_t binary(std::vector<uint8_t> bytes) {
        node_t node = alloc::alloc_bytes(static_cast<int64_t>(bytes.size()));
        series_buffer_t* s = alloc::buffer(node);
        if (!bytes.empty()) std::memcpy(s->data(), bytes.data(), bytes.size());
        s->tail = s->head + static_cast<int32_t>(bytes.size());
        return cell_t{TYPE_binary, 0, node, 0};
    }
    // The whole text of a series and its head index.
    static std::string whole(cell_t v) {
        v.data1 = 0;
        return narrow(&v);
    }

    cell_t none{TYPE_none, 0, 0, 0};
    action_entry_t saved_char = nullptr, saved_money = nullptr;
};

TEST_F(StringActions, CompareWithAndWithoutCase) {
    struct {
        const char* a;
        const char* b;
        int32_t op;
        int32_t expect;
    } cases[] = {
        {"abc", "ABC", actions::cmp::EQUAL, 0},
        {"abc", "ABC", actions::cmp::STRICT_EQUAL, 1},
        {"abc", "abc", actions::cmp::STRICT_EQUAL, 0},
        {"ab", "abc", actions::cmp::LESSER, -1},
        {"abc", "ab", actions::cmp::GREATER, 1},
        {"ab", "abc", actions::cmp::EQUAL, 1},
        {"", "", actions::cmp::EQUAL, 0},
        {"b", "A", actions::cmp::LESSER, 1},
        {"b", "A", actions::cmp::SORT_CASE, 1},
        {"a", "B", actions::cmp::SORT_CASE, 1},
        {"B", "a", actions::cmp::SORT_CASE, -1},
    };
    for (auto& c : cases) {
        cell_t a = text(c.a), b = text(c.b);
        EXPECT_EQ(string::compare(&a, &b, c.op), c.expect)
            << c.a << " vs " << c.b << " code " << c.op;
    }
    cell_t wide = text(U"\u00C9t\u00E9", 2), narrow_ = text(U"\u00E9T\u00C9");
    EXPECT_EQ(string::compare(&wide, &narrow_, actions::cmp::EQUAL), 0)
        << "folding beyond ASCII, mixed units";
    cell_t s = text("a");
    cell_t url = s;
    url.header = TYPE_url;
    EXPECT_EQ(string::compare(&s, &url, actions::cmp::EQUAL), 0);
    EXPECT_EQ(string::compare(&s, &url, actions::cmp::LESSER), -2);
    // Match mode looks only at the other's length.
    cell_t abc = text("abcdef"), ab = text("AB");
    EXPECT_EQ(string::compare_strings(&abc, &ab, actions::cmp::EQUAL, true), 0);
    EXPECT_EQ(string::compare_strings(&ab, &abc, actions::cmp::EQUAL, true), 1);
}

// An empty pattern matches without reading a character, even at the tail.
TEST_F(StringActions, EmptyPatternReadsNothing) {
    cell_t s = text("ab");
    s.data1 = 2;
    cell_t empty = text("");
    EXPECT_TRUE(string::match_q(&s, &empty, actions::cmp::EQUAL));
    EXPECT_FALSE(string::match_q(&s, &empty, actions::cmp::FIND));
    cell_t tag = empty;
    tag.header = TYPE_tag;
    EXPECT_FALSE(string::match_tag_q(&s, &tag));
    EXPECT_FALSE(string::find_char_skip_q(&s, 'a', 1, false));
}

TEST_F(StringActions, ToAndMake) {
    cell_t spec = block({text("a"), ch('b'), text("c")});
    cell_t proto = cell_t{TYPE_datatype, TYPE_string, 0, 0};
    cell_t* r = string::to(&proto, &spec, TYPE_string);
    EXPECT_EQ(narrow(r), "abc");

    cell_t file_spec = text("x.txt");
    r = string::to(&proto, &file_spec, TYPE_file);
    EXPECT_EQ(type_of(r), TYPE_file);
    EXPECT_NE(r->data2, file_spec.data2) << "a copy";

    EXPECT_EQ(raised([&] { string::to(&proto, &none, TYPE_string); }), err::bad_to_arg);

    cell_t bin = binary({'h', 0xC3, 0xA9});
    r = string::to(&proto, &bin, TYPE_string);
    EXPECT_EQ(chars(r), U"h\u00E9");
    cell_t bad = binary({'h', 0xC3});
    EXPECT_EQ(raised([&] { string::to(&proto, &bad, TYPE_string); }), err::invalid_utf8);
    cell_t overlong = binary({'h', 0xC0, 0x80});
    EXPECT_EQ(raised([&] { string::to(&proto, &overlong, TYPE_string); }), err::invalid_utf8);

    cell_t capacity{TYPE_integer, 0, 100, 0};
    r = string::make(&proto, &capacity, TYPE_string);
    EXPECT_EQ(string::rs_length_q(r), 0);
    EXPECT_GE(string::buffer_of(r)->size, 100);
    cell_t negative{TYPE_integer, 0, static_cast<uint32_t>(-1), 0};
    EXPECT_EQ(raised([&] { string::make(&proto, &negative, TYPE_string); }), err::out_of_range);
}

TEST_F(StringActions, Append) {
    cell_t s = text("x");
    cell_t e = ch(233);
    string::insert(&s, &e, -1, false, 1, true);
    EXPECT_EQ(unit_of(&s), 2u) << "233 appended widens";

    struct {
        const char* what;
        cell_t value;
        int32_t part;
        bool only;
        int32_t dup;
        const char* expect;
    } cases[] = {
        {"dup", text("ab"), -1, false, 3, "xababab"},
        {"part of a string", text("abc"), 2, false, 1, "xab"},
        {"part 0 adds nothing", text("abc"), 0, false, 1, "x"},
        {"block, part counts values", block({text("aaa"), text("bbb")}), 1, false, 1, "xaaa"},
        {"block, /only part counts characters", block({text("aaa"), text("bbb")}), 4, true, 1,
         "xaaab"},
        {"block, whole", block({text("aaa"), ch('-'), text("bbb")}), -1, false, 1, "xaaa-bbb"},
        {"tag keeps its brackets",
         [] {
             cell_t t = text("b");
             t.header = TYPE_tag;
             return t;
         }(),
         -1, false, 1, "x<b>"},
        {"char dup", ch('z'), -1, false, 2, "xzz"},
    };
    for (auto& c : cases) {
        cell_t t = text("x");
        t.data1 = 1;
        cell_t* r = string::insert(&t, &c.value, c.part, c.only, c.dup, true);
        EXPECT_EQ(whole(*r), c.expect) << c.what;
        if (std::string(c.expect) != "x") {
            EXPECT_EQ(r->data1, 0u) << c.what << ": returned at its head";
        }
    }
}

TEST_F(StringActions, InsertAndChange) {
    cell_t s = text("abc");
    s.data1 = 3;
    cell_t v = text("de");
    cell_t* r = string::insert(&s, &v, -1, false, 1, false);
    EXPECT_EQ(whole(*r), "abcde");
    EXPECT_EQ(r->data1, 5u) << "insert at the tail returns the new tail";

    cell_t t = text("abc");
    t.data1 = 1;
    cell_t xy = text("XY");
    r = string::insert(&t, &xy, -1, false, 2, false);
    EXPECT_EQ(whole(*r), "aXYXYbc");
    EXPECT_EQ(r->data1, 5u);

    cell_t u = text(U"ab", 1);
    u.data1 = 1;
    cell_t euro = ch(0x20AC);
    r = string::insert(&u, &euro, -1, false, 1, false);
    EXPECT_EQ(chars(r), U"b");
    EXPECT_EQ(unit_of(r), 2u);

    cell_t w = text("abcdef");
    r = string::change(&w, &xy, -1, false, 1);
    EXPECT_EQ(whole(*r), "XYcdef");
    EXPECT_EQ(narrow(r), "cdef");

    cell_t p = text("abcdef");
    r = string::change(&p, &xy, 4, false, 1);
    EXPECT_EQ(whole(*r), "XYef") << "a part replaces that many";
    cell_t q = text("ab");
    cell_t longer = text("WXYZ");
    r = string::change(&q, &longer, -1, false, 1);
    EXPECT_EQ(whole(*r), "WXYZ");
    cell_t at_tail = text("ab");
    at_tail.data1 = 2;
    r = string::change(&at_tail, &xy, -1, false, 1);
    EXPECT_EQ(whole(*r), "abXY");
}

// A value whose form fails half-way leaves no trace in the target.
TEST_F(StringActions, FailedFormingLeavesTheTargetAsItWas) {
    cell_t money{TYPE_money, 0, 0, 0};
    cell_t mixed = block({text("ok"), money});
    for (int mode = 0; mode < 3; mode++) {
        cell_t t = text("abc");
        t.data1 = 1;
        err id = raised([&] {
            if (mode == 0) string::insert(&t, &mixed, -1, false, 1, true);
            if (mode == 1) string::insert(&t, &mixed, -1, false, 1, false);
            if (mode == 2) string::change(&t, &mixed, -1, false, 1);
        });
        EXPECT_EQ(id, err::invalid_arg);
        EXPECT_EQ(whole(t), "abc") << "mode " << mode;
    }
}

TEST_F(StringActions, Swap) {
    cell_t a = text("abc"), b = text(U"\u20ACz", 2);
    string::swap(&a, &b);
    EXPECT_EQ(chars(&a), U"\u20ACbc");
    EXPECT_EQ(chars(&b), U"az");

    cell_t bin = binary({1, 2});
    cell_t wide = text(U"\u0100", 2);
    EXPECT_EQ(raised([&] { string::swap(&wide, &bin); }), err::out_of_range);
    EXPECT_EQ(alloc::buffer(bin.data2)->unit(), 1u) << "the binary is not widened";
    EXPECT_EQ(alloc::buffer(bin.data2)->data()[0], 1);
    EXPECT_EQ(chars(&wide), U"\u0100");

    cell_t latin = text("q");
    string::swap(&latin, &bin);
    EXPECT_EQ(alloc::buffer(bin.data2)->data()[0], 'q');
    EXPECT_EQ(chars(&latin), U"\u0001");

    cell_t number{TYPE_integer, 0, 1, 0};
    EXPECT_EQ(raised([&] { string::swap(&a, &number); }), err::invalid_arg);
    cell_t empty = text("");
    string::swap(&a, &empty);
    EXPECT_EQ(chars(&a), U"\u20ACbc") << "nothing changes when one is at its tail";
}

}  // namespace
