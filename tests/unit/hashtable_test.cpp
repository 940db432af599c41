// Hash tables: sizes, probing, chains of equal values, deletion and growth,
// checked against std::unordered_map through long random runs.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include <random>
#include <unordered_map>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/hash.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

using namespace zuv;

namespace {

// Integer equality for the tests, when integer! has not registered its own.
int32_t compare_integers(cell_t* a, cell_t* b, int32_t) {
    if (type_of(b) != TYPE_integer) return -2;
    auto x = static_cast<int32_t>(a->data2), y = static_cast<int32_t>(b->data2);
    return x < y ? -1 : x > y ? 1 : 0;
}

class Hashtable : public ::testing::Test {
protected:
    void SetUp() override {
        zuv::testing::start_bare_memory();
        case_folding::init();
        stack::init();
        datatype::init_tables();
        datatype::register_all();
        if (type_action_table[(TYPE_integer << 8) + ACT_compare - 1] == nullptr) {
            datatype::record_t r(TYPE_integer, 0, "integer!");
            r.own<ACT_compare>(compare_integers);
            datatype::register_type(datatype::RECORD_COUNT, r);
        }
    }
    void TearDown() override { alloc::free_all(); }

    static cell_t integer(int32_t v) {
        return cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0};
    }
    static cell_t text(const char* ascii) {
        size_t n = std::strlen(ascii);
        node_t node = alloc::alloc_bytes(static_cast<int64_t>(n));
        series_buffer_t* s = alloc::buffer(node);
        std::memcpy(s->data(), ascii, n);
        s->tail = s->head + static_cast<int32_t>(n);
        return cell_t{TYPE_string, 0, node, 0};
    }
    // An empty block of the given type.
    static cell_t block(uint8_t type, int32_t capacity = 4) {
        return cell_t{type, 0, alloc::alloc_cells(capacity), 0};
    }
    static cell_t* append(cell_t* b, const cell_t& value) {
        cell_t* c = alloc::alloc_tail_value(b);
        *c = value;
        return c;
    }
    static cell_t* at(const cell_t* b, int32_t i) {
        return alloc::buffer(b->data2)->head_cell() + i;
    }
    static hashtable_t* rec(node_t t) { return hashtable::record(t); }
};

TEST_F(Hashtable, SizesOfNewTables) {
    struct {
        int32_t size, kind, buckets, bound;
    } cases[] = {
        {0, hashtable::KIND_MAP, 8, 6},
        {1, hashtable::KIND_MAP, 8, 6},
        {4, hashtable::KIND_INT, 8, 6},
        {100, hashtable::KIND_INT, 256, 197},
        {4000, hashtable::KIND_SYMBOL, 16384, 12615},
    };
    for (auto& c : cases) {
        cell_t b = block(TYPE_block);
        node_t t =
            hashtable::init(c.size, c.kind == hashtable::KIND_SYMBOL ? &b : nullptr, c.kind, 1);
        EXPECT_EQ(rec(t)->buckets, c.buckets) << "size " << c.size;
        EXPECT_EQ(rec(t)->bound, c.bound) << "size " << c.size;
        EXPECT_EQ(rec(t)->kind, c.kind);
    }
}

TEST_F(Hashtable, RebuiltSmallHashGrowsOnItsNextPut) {
    cell_t b = block(TYPE_hash);
    node_t t = hashtable::init(0, &b, hashtable::KIND_HASH, 0);
    hashtable::rebuild(t, 1);
    EXPECT_EQ(rec(t)->buckets, 4);
    EXPECT_EQ(rec(t)->bound, 0);
    cell_t* v = append(&b, integer(7));
    int status = 0;
    hashtable::put_with_status(t, v, &status);
    EXPECT_EQ(status, hashtable::STATUS_REBUILT);
    EXPECT_EQ(rec(t)->buckets, 4);
    EXPECT_EQ(rec(t)->bound, 3);
    cell_t key = integer(7);
    EXPECT_EQ(hashtable::get(t, &key, 0, 1, actions::cmp::EQUAL, false, false), at(&b, 0));
}

TEST_F(Hashtable, EqualValuesShareOneBucketThroughAChain) {
    cell_t b = block(TYPE_hash);
    node_t t = hashtable::init(0, &b, hashtable::KIND_HASH, 0);
    hashtable::put(t, append(&b, integer(5)));
    hashtable::put(t, append(&b, integer(6)));
    hashtable::put(t, append(&b, integer(5)));
    EXPECT_EQ(rec(t)->alive, 2);
    cell_t key = integer(5);
    struct {
        int32_t position, skip;
        bool last, reverse;
        int32_t expected;  // -1: not found
    } cases[] = {
        {0, 1, false, false, 0}, {1, 1, false, false, 2},  {3, 1, false, false, -1},
        {0, 1, true, false, 2},  {3, 1, true, true, 2},    {2, 1, true, true, 0},
        {0, 2, false, false, 0}, {1, 2, false, false, -1},
    };
    for (auto& c : cases) {
        cell_t* found =
            hashtable::get(t, &key, c.position, c.skip, actions::cmp::EQUAL, c.last, c.reverse);
        EXPECT_EQ(found, c.expected < 0 ? nullptr : at(&b, c.expected))
            << "at " << c.position << " skip " << c.skip << (c.last ? " last" : "")
            << (c.reverse ? " reverse" : "");
    }
    // Deleting one of the two keeps the bucket live for the other.
    hashtable::delete_(t, at(&b, 0));
    EXPECT_EQ(rec(t)->alive, 2);
    EXPECT_EQ(hashtable::get(t, &key, 0, 1, actions::cmp::EQUAL, false, false), at(&b, 2));
    hashtable::delete_(t, at(&b, 2));
    EXPECT_EQ(rec(t)->alive, 1);
    EXPECT_EQ(hashtable::get(t, &key, 0, 1, actions::cmp::EQUAL, false, false), nullptr);
}

TEST_F(Hashtable, CaseVariantsShareABucketAndTheCodeTellsThemApart) {
    cell_t b = block(TYPE_hash);
    node_t t = hashtable::init(0, &b, hashtable::KIND_HASH, 0);
    hashtable::put(t, append(&b, text("abc")));
    hashtable::put(t, append(&b, text("ABC")));
    EXPECT_EQ(rec(t)->alive, 1);  // one bucket, chained
    cell_t upper = text("ABC");
    EXPECT_EQ(hashtable::get(t, &upper, 0, 1, actions::cmp::EQUAL, false, false), at(&b, 0));
    EXPECT_EQ(hashtable::get(t, &upper, 0, 1, actions::cmp::STRICT_EQUAL, false, false), at(&b, 1));
}

TEST_F(Hashtable, MapKeepsOneEntryPerKey) {
    cell_t b = block(TYPE_map);
    append(&b, text("k"));
    append(&b, integer(1));
    append(&b, text("other"));
    append(&b, integer(2));
    append(&b, text("k"));
    append(&b, integer(3));
    node_t t = hashtable::init(0, &b, hashtable::KIND_MAP, 0);
    EXPECT_EQ(alloc::buffer(b.data2)->used() / 16, 4);  // the duplicate pair left the block
    cell_t key = text("k");
    cell_t* found = hashtable::get(t, &key, 0, 1, actions::cmp::STRICT_EQUAL, false, false);
    ASSERT_EQ(found, at(&b, 0));
    EXPECT_EQ(found[1].data2, 3u);  // the later value won
    hashtable::delete_(t, found);
    EXPECT_EQ(found[1].header, 0u);
    EXPECT_EQ(rec(t)->alive, 1);
}

TEST_F(Hashtable, PutIntKeyOnAnExistingKeyResetsItsValues) {
    node_t t = hashtable::init(4, nullptr, hashtable::KIND_INT, 2);
    cell_t* v = hashtable::put_int_key(t, 17);
    v[0] = integer(1);
    v[1] = integer(2);
    v = hashtable::put_int_key(t, 17);
    EXPECT_EQ(type_of(&v[0]), TYPE_unset);
    EXPECT_EQ(type_of(&v[1]), TYPE_unset);
    EXPECT_EQ(rec(t)->alive, 1);
    EXPECT_EQ(hashtable::delete_int_key(t, 17), v);
    EXPECT_EQ(hashtable::get_int_key(t, 17), nullptr);
    EXPECT_EQ(hashtable::delete_int_key(t, 17), nullptr);
}

// Every key stays findable through puts, deletes and the rebuilds they cause.
TEST_F(Hashtable, IntKeysMatchUnorderedMapThroughAMillionOperations) {
    node_t t = hashtable::init(0, nullptr, hashtable::KIND_INT, 1);
    std::unordered_map<int32_t, int32_t> model;
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int32_t> key_of(-50000, 50000), op_of(0, 9);
    for (int32_t n = 0; n < 1000000; n++) {
        int32_t key = key_of(rng), op = op_of(rng);
        if (op < 5) {
            hashtable::put_int_key(t, key)->data2 = static_cast<uint32_t>(n);
            model[key] = n;
        } else if (op < 8) {
            cell_t* v = hashtable::get_int_key(t, key);
            auto it = model.find(key);
            ASSERT_EQ(v != nullptr, it != model.end()) << "key " << key << " at op " << n;
            if (v) {
                ASSERT_EQ(static_cast<int32_t>(v->data2), it->second);
            }
        } else {
            ASSERT_EQ(hashtable::delete_int_key(t, key) != nullptr, model.erase(key) == 1)
                << "key " << key;
        }
    }
    EXPECT_EQ(rec(t)->alive, static_cast<int32_t>(model.size()));
    for (auto& [key, value] : model) {
        cell_t* v = hashtable::get_int_key(t, key);
        ASSERT_NE(v, nullptr) << key;
        EXPECT_EQ(static_cast<int32_t>(v->data2), value);
    }
}

TEST_F(Hashtable, HashIndexMatchesUnorderedMapThroughRandomOperations) {
    cell_t b = block(TYPE_hash);
    node_t t = hashtable::init(0, &b, hashtable::KIND_HASH, 0);
    std::unordered_map<int32_t, std::vector<int32_t>> model;  // value -> live positions
    std::mt19937 rng(99);
    std::uniform_int_distribution<int32_t> value_of(0, 3000), op_of(0, 9);
    cell_t none{TYPE_none, 0, 0, 0};
    for (int32_t n = 0; n < 200000; n++) {
        int32_t value = value_of(rng), op = op_of(rng);
        if (op < 5) {
            int32_t p = alloc::buffer(b.data2)->used() / 16;
            hashtable::put(t, append(&b, integer(value)));
            model[value].push_back(p);
        } else if (op < 8) {
            cell_t key = integer(value);
            cell_t* found = hashtable::get(t, &key, 0, 1, actions::cmp::EQUAL, false, false);
            auto it = model.find(value);
            bool present = it != model.end() && !it->second.empty();
            ASSERT_EQ(found != nullptr, present) << value << " at op " << n;
            if (found) {
                ASSERT_EQ(found - at(&b, 0), it->second.front()) << value;
            }
        } else if (auto it = model.find(value); it != model.end() && !it->second.empty()) {
            int32_t p = it->second.front();
            hashtable::delete_(t, at(&b, p));
            *at(&b, p) = none;  // the value leaves the index; its cell stays in place
            it->second.erase(it->second.begin());
        }
    }
}

TEST_F(Hashtable, CopyOwnsItsChains) {
    cell_t b = block(TYPE_hash);
    node_t t = hashtable::init(0, &b, hashtable::KIND_HASH, 0);
    hashtable::put(t, append(&b, integer(1)));
    hashtable::put(t, append(&b, integer(1)));
    node_t copy_block = alloc::copy_series(alloc::buffer(b.data2));
    node_t c = hashtable::copy(t, copy_block);
    cell_t cb{TYPE_hash, 0, copy_block, 0};
    hashtable::delete_(c, at(&cb, 0));
    cell_t key = integer(1);
    EXPECT_EQ(hashtable::get(t, &key, 0, 1, actions::cmp::EQUAL, false, false), at(&b, 0));
    EXPECT_EQ(hashtable::get(c, &key, 0, 1, actions::cmp::EQUAL, false, false), at(&cb, 1));
}

TEST_F(Hashtable, MoveKeepsPositionsInStep) {
    cell_t b = block(TYPE_hash);
    node_t t = hashtable::init(0, &b, hashtable::KIND_HASH, 0);
    for (int32_t v : {10, 11, 12, 13}) hashtable::put(t, append(&b, integer(v)));
    // Insert one cell at position 1: positions 1.. shift up by one.
    EXPECT_EQ(hashtable::move(t, 1, 1, 3, true), 0);
    cell_t* cells = at(&b, 0);
    std::memmove(cells + 2, cells + 1, 3 * sizeof(cell_t));
    cells[1] = integer(99);
    alloc::buffer(b.data2)->tail += 16;
    hashtable::put(t, at(&b, 1));
    for (int32_t v : {10, 99, 11, 12, 13}) {
        cell_t key = integer(v);
        cell_t* found = hashtable::get(t, &key, 0, 1, actions::cmp::EQUAL, false, false);
        ASSERT_NE(found, nullptr) << v;
        EXPECT_EQ(static_cast<int32_t>(found->data2), v);
    }
    EXPECT_EQ(hashtable::move(t, 1, 0, 30001, false), 1);  // too many: the caller rebuilds
}

TEST_F(Hashtable, SymbolIndexFindsCaseVariants) {
    cell_t b = block(TYPE_block, 16);
    node_t t = hashtable::init(4000, &b, hashtable::KIND_SYMBOL, 1);
    int32_t print = hashtable::put_string_key(t, "print", 5, false);
    int32_t Print = hashtable::put_string_key(t, "Print", 5, false);
    int32_t PRINT = hashtable::put_string_key(t, "PRINT", 5, false);
    EXPECT_EQ(print, 1);
    EXPECT_EQ(Print, 2);
    EXPECT_EQ(PRINT, 3);
    EXPECT_EQ(static_cast<int32_t>(at(&b, 0)->data1), -1);
    EXPECT_EQ(static_cast<int32_t>(at(&b, 1)->data1), print);
    EXPECT_EQ(static_cast<int32_t>(at(&b, 2)->data1), print);
    EXPECT_EQ(hashtable::put_string_key(t, "Print", 5, false), Print);
    EXPECT_EQ(hashtable::put_string_key(t, "pRINT", 5, true), print);
    EXPECT_EQ(hashtable::put_string_key(t, "", 0, false), 4);
}

TEST_F(Hashtable, ContextSymbolsAddOnDemandAndGrow) {
    node_t t = hashtable::init(1, nullptr, hashtable::KIND_SYMBOL, 2);
    node_t context = 77;
    for (int32_t sym = 1; sym <= 200; sym++) {
        int32_t index = -5;
        EXPECT_EQ(hashtable::get_symbol(t, sym, false, context, &index), -1);
        EXPECT_EQ(index, sym - 1);
    }
    for (int32_t sym = 1; sym <= 200; sym++) {
        int32_t index = -5;
        ASSERT_EQ(hashtable::get_symbol(t, sym, false, 0, &index), sym - 1) << sym;
    }
    EXPECT_EQ(hashtable::get_symbol(t, 999, false, 0, nullptr), -1);
}

}  // namespace
