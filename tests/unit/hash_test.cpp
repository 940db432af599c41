// Hash functions: MurmurHash3 against its published vectors, and the hashes
// of cells by datatype.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include <string>

#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/hash.h"

using namespace zuv;

namespace {

class Hash : public ::testing::Test {
protected:
    void SetUp() override {
        zuv::testing::start_bare_memory();
        case_folding::init();
    }
    void TearDown() override { alloc::free_all(); }

    // A string! of the code points in a buffer of the given unit.
    static cell_t text(const std::u32string& chars, uint8_t type = TYPE_string, int32_t unit = 1) {
        node_t n = alloc::alloc_units(static_cast<int64_t>(chars.size()), unit);
        series_buffer_t* s = alloc::buffer(n);
        for (size_t i = 0; i < chars.size(); i++) {
            uint32_t c = chars[i];
            std::memcpy(s->data() + i * unit, &c, static_cast<size_t>(unit));
        }
        s->tail = s->head + static_cast<int32_t>(chars.size()) * unit;
        return cell_t{type, 0, n, 0};
    }
};

TEST_F(Hash, Murmur3ReferenceVectors) {
    struct {
        const char* text;
        uint32_t seed, expected;
    } cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7u},
        {"", 0xFFFFFFFFu, 0x81F16F39u},
        {"test", 0, 0xBA6BD213u},
        {"abc", 0, 0xB3DD93FAu},
        {"a", 0x9747B28Cu, 0x7FA09EA6u},
        {"aaaa", 0x9747B28Cu, 0x5A97808Au},
        {"Hello, world!", 1234, 0xFAF6CDB3u},
        {"The quick brown fox jumps over the lazy dog", 0, 0x2E4FF723u},
    };
    for (auto& c : cases)
        EXPECT_EQ(hash::murmur3_seeded(c.text, std::strlen(c.text), c.seed), c.expected)
            << '"' << c.text << "\" seed " << c.seed;
}

TEST_F(Hash, MixIsTheFinaliser) {
    EXPECT_EQ(hash::mix(0), 0u);
    uint32_t h = 1;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    EXPECT_EQ(hash::mix(1), h);
}

TEST_F(Hash, StringIsMurmurOfFoldedUtf32) {
    cell_t s = text(U"Zuv\u00e9");
    std::u32string folded = U"ZUV\u00c9";
    EXPECT_EQ(hash::string(&s, false), hash::murmur3(folded.data(), folded.size() * 4));
    std::u32string exact = U"Zuv\u00e9";
    EXPECT_EQ(hash::string(&s, true), hash::murmur3(exact.data(), exact.size() * 4));
}

TEST_F(Hash, CaseVariantsAndUnitsHashAlike) {
    cell_t lower = text(U"hello world"), upper = text(U"HELLO WORLD"),
           wide = text(U"Hello World", TYPE_string, 4);
    EXPECT_EQ(hash::value(&lower, false), hash::value(&upper, false));
    EXPECT_EQ(hash::value(&lower, false), hash::value(&wide, false));
    EXPECT_NE(hash::string(&lower, true), hash::string(&upper, true));
    cell_t file = text(U"HELLO WORLD", TYPE_file, 2);
    EXPECT_EQ(hash::value(&file, false), hash::value(&lower, false));
}

TEST_F(Hash, PartOfAStringHashesOnlyItsCount) {
    cell_t whole = text(U"abc"), part = text(U"abcdef");
    part.header = hash::TYPE_STRING_PART;
    part.data3 = 3;
    EXPECT_EQ(hash::value(&part, false), hash::value(&whole, false));
}

TEST_F(Hash, ValuesByType) {
    cell_t unset{TYPE_unset, 1, 2, 3}, none{TYPE_none, 0, 0, 0}, other{TYPE_bitset, 1, 2, 3};
    EXPECT_EQ(hash::value(&unset, false), static_cast<uint32_t>(-2));
    EXPECT_EQ(hash::value(&none, false), static_cast<uint32_t>(-1));
    EXPECT_EQ(hash::value(&other, false), 0u);

    cell_t i1{TYPE_integer, 0, 42, 0}, i2{TYPE_integer | FLAG_NEW_LINE, 9, 42, 7};
    EXPECT_EQ(hash::value(&i1, false), hash::value(&i2, false));
    EXPECT_EQ(hash::value(&i1, false), hash::mix(42));

    cell_t p1{TYPE_point3d, 1, 2, 3}, p2{TYPE_point3d | FLAG_NEW_LINE, 1, 2, 3};
    EXPECT_EQ(hash::value(&p1, false), hash::value(&p2, false));

    // A tuple by its bytes: 1.2.3 and 1.2.3.0 compare equal, so they hash
    // alike; header flags do not count.
    cell_t t1{TYPE_tuple | (3u << 19), 0x00030201, 0, 0},
        t2{TYPE_tuple | (3u << 19) | FLAG_NEW_LINE, 0x00030201, 0, 0};
    cell_t t3{TYPE_tuple | (4u << 19), 0x00030201, 0, 0},
        t4{TYPE_tuple | (4u << 19), 0x04030201, 0, 0};
    EXPECT_EQ(hash::value(&t1, false), hash::value(&t2, false));
    EXPECT_EQ(hash::value(&t1, false), hash::value(&t3, false));
    EXPECT_NE(hash::value(&t1, false), hash::value(&t4, false));

    // Money: the sign counts, other flags do not.
    constexpr uint32_t sign = 1u << 14;
    cell_t m1{TYPE_money, 1, 2, 3}, m2{TYPE_money | FLAG_NEW_LINE, 1, 2, 3},
        m3{TYPE_money | sign, 1, 2, 3};
    EXPECT_EQ(hash::value(&m1, false), hash::value(&m2, false));
    EXPECT_NE(hash::value(&m1, false), hash::value(&m3, false));
}

TEST_F(Hash, IdentityKeyed) {
    for (uint8_t t : {TYPE_block, TYPE_paren, TYPE_native, TYPE_get_path, TYPE_object, TYPE_error,
                      TYPE_hash, TYPE_map, TYPE_port, TYPE_image, TYPE_event}) {
        cell_t c{t, 0, 0, 0};
        EXPECT_TRUE(hash::identity_keyed_q(&c)) << int(t);
    }
    for (uint8_t t : {TYPE_string, TYPE_integer, TYPE_word, TYPE_routine, TYPE_float_}) {
        cell_t c{t, 0, 0, 0};
        EXPECT_FALSE(hash::identity_keyed_q(&c)) << int(t);
    }
}

TEST_F(Hash, AsciiLowerFoldsOnlyAsciiLetters) {
    EXPECT_EQ(hash::ascii_lower("PrInT", 5), hash::murmur3("print", 5));
    EXPECT_EQ(hash::ascii_lower("\xC3\x89t\xC3\xA9", 5), hash::murmur3("\xC3\x89t\xC3\xA9", 5));
}

TEST_F(Hash, RoundUpPow2) {
    struct {
        uint32_t n, expected;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {8, 8}, {10389, 16384}, {16384, 16384}};
    for (auto& c : cases) EXPECT_EQ(hash::round_up_pow2(c.n), c.expected) << c.n;
}

}  // namespace
