// map! and hash!.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/hash_type.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "gc_anchor.h"
#include "molded.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"
#include "runtime/random.h"
#include "runtime/words.h"
#include "runtime_fixture.h"

using namespace zuv;
using zuv::testing::raised;

namespace {

cell_t I(int32_t v) { return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0}; }

class MapHash : public zuv::testing::Runtime {
protected:
    static cell_t new_string() {
        cell_t s;
        string::make_at(&s, 16);
        return zuv::test::anchor(s);
    }
    static cell_t S(const char* ascii) {
        cell_t s = new_string();
        string::concatenate_literal(&s, ascii);
        return s;
    }
    static cell_t W(const char* name) { return word::load(name); }
    static std::string text_of(const cell_t* value) {
        cell_t s = *value;
        std::string out;
        series_buffer_t* b = string::buffer_of(&s);
        for (const uint8_t* p = string::rs_head(&s); p < b->tail_ptr(); p += b->unit())
            out.push_back(static_cast<char>(string::get_char(p, b->unit())));
        return out;
    }
    static std::string molded(cell_t v, bool flat = false, int32_t indent = 0) {
        return zuv::test::molded(&v, {.flat = flat, .indent = indent});
    }
    static std::string formed(cell_t v) {
        cell_t s = new_string();
        collector::root_cell keep(&v);
        actions::form(&v, &s, false, -1);
        return text_of(&s);
    }
    static cell_t block_of(std::initializer_list<cell_t> items) {
        cell_t b;
        block::make_at(&b, 4);
        zuv::test::anchor(b);
        for (const cell_t& c : items) block::rs_append(&b, &c);
        return b;
    }
    static cell_t make(int32_t type, cell_t spec, bool conversion = false) {
        cell_t proto;
        datatype::make_at(&proto, type);
        stack::arguments[0] = proto;
        stack::arguments[1] = spec;
        stack::top_slot = stack::arguments + 2;
        return zuv::test::anchor(conversion
                                     ? *actions::to(stack::arguments, stack::arguments + 1)
                                     : *actions::make(stack::arguments, stack::arguments + 1));
    }
    static cell_t select(cell_t m, cell_t key, bool case_ = false) {
        return zuv::test::anchor(*actions::select(&m, &key, {.case_ = case_}));
    }
    static cell_t find(cell_t m, cell_t key, bool case_ = false) {
        return zuv::test::anchor(*actions::find(&m, &key, {.case_ = case_}));
    }
    static void put(cell_t m, cell_t key, cell_t value, bool case_ = false) {
        actions::put(&m, &key, &value, case_);
    }
    static void remove_key(cell_t m, cell_t key) { actions::remove(&m, nullptr, &key); }
    static int32_t length(cell_t m) { return actions::length_q(&m); }
};

// --- map! --------------------------------------------------------------------------------

TEST_F(MapHash, MapFromBlockWithDuplicateKeys) {
    cell_t m = make(TYPE_map, block_of({W("a"), I(1), W("b"), I(2), W("a"), I(3)}));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(molded(m), "#[\n    a: 3\n    b: 2\n]");
    // Case variants of a key stay two entries when made from a block.
    cell_t c = make(TYPE_map, block_of({S("k"), I(1), S("K"), I(2)}));
    EXPECT_EQ(length(c), 2);
    EXPECT_EQ(molded(make(TYPE_map, block_of({}))), "#[]");
    EXPECT_EQ(formed(m), "a: 3\nb: 2");
    EXPECT_EQ(molded(m, true), "#[a: 3 b: 2]");
    EXPECT_EQ(molded(m, false, 1), "#[\n        a: 3\n        b: 2\n    ]");

    EXPECT_EQ(raised([&] { make(TYPE_map, block_of({W("a")})); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { make(TYPE_map, I(-1)); }), err::out_of_range);
    EXPECT_EQ(raised([&] { make(TYPE_map, I(4), true); }), err::bad_to_arg);
    EXPECT_EQ(raised([&] { make(TYPE_map, S("x")); }), err::bad_to_arg);
    EXPECT_EQ(length(make(TYPE_map, I(10))), 0);
}

TEST_F(MapHash, MapLookupsWithAndWithoutCase) {
    cell_t m = make(TYPE_map, block_of({S("Key"), I(1), W("Name"), I(2), I(7), S("seven")}));
    struct Case {
        cell_t key;
        bool case_;
        int32_t expected;  // -1: none
    };
    const Case cases[] = {
        {S("key"), false, 1}, {S("KEY"), false, 1},   {S("key"), true, -1},
        {S("Key"), true, 1},  {W("name"), false, 2},  {W("name"), true, -1},
        {W("Name"), true, 2}, {S("Name"), false, -1},  // a string is not a word
        {I(8), false, -1},
    };
    for (const Case& c : cases) {
        cell_t r = select(m, c.key, c.case_);
        if (c.expected < 0) EXPECT_EQ(type_of(&r), TYPE_none) << molded(c.key);
        else EXPECT_EQ(static_cast<int32_t>(r.data2), c.expected) << molded(c.key);
    }
    cell_t f = find(m, W("NAME"));
    EXPECT_EQ(type_of(&f), TYPE_word);
    // Put finds the key without case: the stored key stays as it was.
    put(m, S("KEY"), I(10));
    EXPECT_EQ(length(m), 3);
    EXPECT_EQ(static_cast<int32_t>(select(m, S("key")).data2), 10u);
    put(m, S("KEY"), I(11), true);
    EXPECT_EQ(length(m), 4);
}

TEST_F(MapHash, MapRemoveRevivesAndReflect) {
    cell_t m = make(TYPE_map, block_of({}));
    put(m, W("w"), I(1));
    cell_t k = find(m, W("w"));
    EXPECT_EQ(type_of(&k), TYPE_word);
    put(m, S("abc"), I(2));
    EXPECT_EQ(length(m), 2);
    // Removal finds keys the way put does: without case.
    remove_key(m, S("ABC"));
    EXPECT_EQ(length(m), 1);
    EXPECT_EQ(type_of(&(stack::arguments[4] = select(m, S("abc")))), TYPE_none);
    EXPECT_EQ(molded(m), "#[\n    w: 1\n]");
    put(m, S("abc"), I(3));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(
        block::abs_length(&(stack::arguments[4] = cell_t{TYPE_block, 0, map::block_of(&m), 0})), 4);

    cell_t mm = m;
    cell_t words_of = zuv::test::anchor(
        *actions::reflect(&mm, static_cast<int32_t>(words::symbol_of(words::id::words))));
    EXPECT_EQ(molded(words_of), "[w \"abc\"]");
    cell_t values = zuv::test::anchor(
        *actions::reflect(&mm, static_cast<int32_t>(words::symbol_of(words::id::values))));
    EXPECT_EQ(molded(values), "[1 3]");
    cell_t body = zuv::test::anchor(
        *actions::reflect(&mm, static_cast<int32_t>(words::symbol_of(words::id::body))));
    EXPECT_EQ(molded(body), "[\n    w 1\n    \"abc\" 3\n]");
    EXPECT_EQ(raised([&] {
                  actions::reflect(&mm, static_cast<int32_t>(words::symbol_of(words::id::x)));
              }),
              err::not_done);
    EXPECT_EQ(raised([&] { actions::remove(&mm, nullptr, nullptr); }), err::missing_arg);
    EXPECT_EQ(raised([&] { put(m, block_of({}), I(1)); }), err::invalid_path);
}

TEST_F(MapHash, MapKeysAreCopies) {
    cell_t key = S("abc");
    cell_t m = make(TYPE_map, block_of({key, I(1)}));
    put(m, key, I(2));
    cell_t other = S("xyz");
    put(m, other, I(3));
    string::concatenate_literal(&key, "def");
    string::concatenate_literal(&other, "!");
    EXPECT_EQ(static_cast<int32_t>(select(m, S("abc")).data2), 2);
    EXPECT_EQ(static_cast<int32_t>(select(m, S("xyz")).data2), 3);
    EXPECT_EQ(length(m), 2);
}

TEST_F(MapHash, MapComparison) {
    cell_t a = make(TYPE_map, block_of({W("a"), I(1), W("b"), I(2)}));
    cell_t b = make(TYPE_map, block_of({W("b"), I(2), W("a"), I(1)}));
    cell_t c = make(TYPE_map, block_of({W("b"), I(2), W("A"), I(1)}));
    cell_t d = make(TYPE_map, block_of({W("b"), I(3), W("a"), I(1)}));
    cell_t e = make(TYPE_map, block_of({W("a"), I(1)}));
    using namespace actions::cmp;
    EXPECT_EQ(actions::compare_value(&a, &b, EQUAL), 0);
    EXPECT_EQ(actions::compare_value(&a, &c, EQUAL), 0);
    EXPECT_NE(actions::compare_value(&a, &c, STRICT_EQUAL), 0);
    EXPECT_EQ(actions::compare_value(&a, &b, STRICT_EQUAL), 0);
    EXPECT_NE(actions::compare_value(&a, &d, EQUAL), 0);
    EXPECT_NE(actions::compare_value(&a, &e, EQUAL), 0);
    EXPECT_NE(actions::compare_value(&a, &b, SAME), 0);
    EXPECT_EQ(actions::compare_value(&a, &a, SAME), 0);
    cell_t i = I(1);
    EXPECT_EQ(actions::compare_value(&a, &i, EQUAL), -2);
    // A stable order for sorting that no buffer move can change.
    int32_t ab = actions::compare_value(&a, &b, SORT);
    EXPECT_NE(ab, 0);
    EXPECT_EQ(actions::compare_value(&b, &a, SORT), -ab);
    put(a, W("c"), S("grow the entry block so that it moves"));
    EXPECT_EQ(actions::compare_value(&a, &b, SORT), ab);
}

TEST_F(MapHash, MapCopyClearAndExtend) {
    cell_t a = make(TYPE_map, block_of({W("a"), I(1)}));
    cell_t copy = make(TYPE_map, a);
    put(copy, W("b"), I(2));
    EXPECT_EQ(length(a), 1);
    EXPECT_EQ(length(copy), 2);
    cell_t b = block_of({W("a"), I(5), S("s"), I(6)});
    map::extend(&a, &b, false);
    EXPECT_EQ(molded(a), "#[\n    a: 5\n    \"s\" 6\n]");
    cell_t odd = block_of({W("a")});
    EXPECT_EQ(raised([&] { map::extend(&a, &odd, false); }), err::invalid_arg);
    actions::clear(&a);
    EXPECT_EQ(length(a), 0);
    EXPECT_EQ(molded(a), "#[]");
    put(a, W("z"), I(1));
    EXPECT_EQ(length(a), 1);
}

TEST_F(MapHash, MapForeachStep) {
    cell_t m = make(TYPE_map, block_of({W("a"), I(1), W("b"), I(2), W("c"), I(3)}));
    remove_key(m, W("b"));
    cell_t k = words::word(words::id::user), v = words::word(words::id::skip);
    cell_t loop_words = block_of({k, v});
    int32_t position = 0;
    std::string seen;
    while (map::foreach_next(&m, &loop_words, 2, &position)) {
        cell_t* key = _context::get(&k);
        cell_t* value = _context::get(&v);
        seen += molded(*key) + "=" + molded(*value) + " ";
    }
    EXPECT_EQ(seen, "a=1 c=3 ");
    cell_t bad = block_of({I(1)});
    position = 0;
    EXPECT_EQ(raised([&] { map::foreach_next(&m, &bad, 1, &position); }), err::invalid_arg);
}

// A loop of puts and removes of new keys keeps the entry block bounded.
TEST_F(MapHash, MapPutRemoveLoopRunsInBoundedMemory) {
    cell_t m = make(TYPE_map, block_of({}));
    for (int32_t i = 0; i < 50; i++) put(m, I(-1 - i), I(i));
    int32_t most = 0;
    for (int32_t i = 0; i < 20000; i++) {
        put(m, I(i), I(i));
        remove_key(m, I(i));
        most = std::max(most, block::abs_length(&(stack::arguments[4] = cell_t{
                                                      TYPE_block, 0, map::block_of(&m), 0})));
    }
    EXPECT_EQ(length(m), 50);
    EXPECT_LT(most, 1000);
    for (int32_t i = 0; i < 50; i++) EXPECT_EQ(static_cast<int32_t>(select(m, I(-1 - i)).data2), i);
}

TEST_F(MapHash, MapIntegerKeysThroughGrowthAndRemovals) {
    cell_t m = make(TYPE_map, block_of({}));
    auto value_at = [&](cell_t key) {
        cell_t r = select(m, key);
        return type_of(&r) == TYPE_none ? -1 : static_cast<int32_t>(r.data2);
    };
    for (int32_t i = 0; i < 4000; i++) put(m, I(i * 7), I(i));
    for (int32_t i = 0; i < 4000; i += 3) remove_key(m, I(i * 7));
    // A char with an integer's code is another key.
    cell_t question = cell_t{TYPE_char_, 0, 63, 0};
    put(m, question, I(-5));
    for (int32_t i = 4000; i < 9000; i++) put(m, I(i * 7), I(i));
    for (int32_t i = 0; i < 9000; i++)
        ASSERT_EQ(value_at(I(i * 7)), i < 4000 && i % 3 == 0 ? -1 : i) << i;
    EXPECT_EQ(value_at(question), -5);
    EXPECT_EQ(value_at(I(63)), -1);
    EXPECT_EQ(value_at(I(1)), -1);
}

// --- hash! -------------------------------------------------------------------------------

TEST_F(MapHash, HashMakeMoldCopy) {
    cell_t h = make(TYPE_hash, I(0));
    EXPECT_EQ(type_of(&h), TYPE_hash);
    EXPECT_EQ(block::abs_length(&h), 0);
    cell_t h2 = make(TYPE_hash, block_of({I(1), I(2)}));
    EXPECT_EQ(molded(h2), "make hash! [1 2]");
    cell_t at = h2;
    block::set_head_index(&at, 1);
    cell_t copied;
    actions::copy(&at, &copied, nullptr, false, nullptr);
    zuv::test::anchor(copied);
    EXPECT_EQ(type_of(&copied), TYPE_hash);
    EXPECT_EQ(molded(copied), "make hash! [2]");
    cell_t two = I(2);
    cell_t f = zuv::test::anchor(*actions::find(&copied, &two, {}));
    EXPECT_EQ(type_of(&f), TYPE_hash);
    EXPECT_EQ(block::head_index(&f), 0);
    // The plain copy shares nothing with its source's index.
    cell_t whole;
    actions::copy(&h2, &whole, nullptr, false, nullptr);
    zuv::test::anchor(whole);
    EXPECT_NE(whole.data3, h2.data3);
    cell_t three = I(3);
    actions::append(&whole, &three, -1, false, 1);
    cell_t g = zuv::test::anchor(*actions::find(&h2, &three, {}));
    EXPECT_EQ(type_of(&g), TYPE_none);
}

TEST_F(MapHash, HashSortKeepsIndex) {
    cell_t h = make(TYPE_hash, block_of({I(5), S("b"), I(3), S("a"), I(4)}));
    cell_t sorted = zuv::test::anchor(
        *actions::sort(&h, false, nullptr, nullptr, nullptr, false, false, false));
    (void)sorted;
    EXPECT_EQ(molded(h), "make hash! [\"a\" \"b\" 3 4 5]");
    // Each value is found at its new place.
    struct Case {
        cell_t key;
        const char* after;
    };
    const Case cases[] = {
        {S("a"), "\"b\""}, {S("B"), "3"}, {I(3), "4"}, {I(4), "5"}, {I(5), "none"}};
    for (const Case& c : cases) {
        cell_t key = c.key;
        cell_t s = zuv::test::anchor(*actions::select(&h, &key, {}));
        EXPECT_EQ(molded(s), c.after) << molded(c.key);
    }
}

// Random changes through the block actions; every lookup through the index
// must agree with a scan of the block.
TEST_F(MapHash, HashFindAgreesWithLinearScan) {
    cell_t h = make(TYPE_hash, I(16));
    cell_t* hold = stack::push(&h);  // keeps the hash! reachable
    random::srand(1234);
    const char* texts[] = {"ab", "AB", "x", "Ab"};
    // The value lives in a stack slot: anchoring 10^5 of them would make
    // every collection of a stress run walk them all.
    cell_t* value_slot = stack::push(&h);
    auto random_value = [&](uint32_t r) {
        if (r % 5 == 0) {
            string::make_at(value_slot, 16);
            string::concatenate_literal(value_slot, texts[(r / 5) % 4]);
        } else {
            *value_slot = I(static_cast<int32_t>(r % 97));
        }
        return *value_slot;
    };
    auto next = [] { return static_cast<uint32_t>(random::rand()) & 0x7FFFFFFF; };
    for (int32_t op = 0; op < 100000; op++) {
        cell_t self = *hold;
        int32_t n = block::abs_length(&self);
        uint32_t r = next();
        cell_t v = random_value(next());
        block::set_head_index(&self,
                              n ? static_cast<int32_t>(next() % static_cast<uint32_t>(n + 1)) : 0);
        switch (r % 8) {
        case 0:
        case 1: actions::append(&self, &v, -1, false, 1); break;
        case 2: actions::insert(&self, &v, -1, false, 1); break;
        case 3:
            if (n > 120) {
                cell_t part = I(static_cast<int32_t>(next() % 4) + 1);
                actions::remove(&self, &part, nullptr);
            } else {
                actions::remove(&self, nullptr, nullptr);
            }
            break;
        case 4:
            if (n > 0) {
                cell_t index = I(1);
                if (block::head_index(&self) == n) block::set_head_index(&self, n - 1);
                actions::poke(&self, &index, &v);
            }
            break;
        case 5: actions::change(&self, &v, static_cast<int32_t>(next() % 3), false, 1); break;
        case 6:
            if (n > 150) actions::take(&self, nullptr, false, true);
            break;
        default: {
            // A lookup from the start, through the index and by a scan.
            block::set_head_index(&self, 0);
            cell_t* cells = block::first_cell(&self);
            int32_t expected = -1;
            for (int32_t i = 0; i < n && expected < 0; i++)
                if (actions::compare(cells + i, &v, actions::cmp::EQUAL)) expected = i;
            cell_t* hit = hashtable::get(hash_type::table_of(&self), &v, 0, 1, actions::cmp::EQUAL,
                                         false, false);
            int32_t got = hit ? static_cast<int32_t>(hit - block::first_cell(&self)) : -1;
            ASSERT_EQ(got, expected) << "operation " << op << " value " << molded(v);
            cell_t found = *actions::find(&self, &v, {});
            ASSERT_EQ(type_of(&found) == TYPE_none ? -1 : block::head_index(&found), expected)
                << "operation " << op;
            if (expected >= 0 && expected + 1 < n) {
                cell_t sel = *actions::select(&self, &v, {});
                cell_t* c = block::first_cell(&self) + expected + 1;
                ASSERT_TRUE(actions::compare(&sel, c, actions::cmp::STRICT_EQUAL))
                    << "operation " << op;
            }
        }
        }
        block::set_head_index(hold, 0);
    }
}

}  // namespace
