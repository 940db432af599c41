#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/fire.h"
#include "runtime/sort.h"

using namespace zuv;

namespace {

// A record: the key in its first key_bytes bytes (1, 2 or 4, little-endian),
// then, when there is room, the record's original position and bytes derived
// from it, so that a record that is torn or duplicated shows.
struct layout_t {
    size_t size;
    size_t key_bytes;
};

struct counter_t {
    long calls = 0;
    long nonzero = 0;
    long throw_at = -1;  // the call that raises, or -1
};

uint32_t key_of(const uint8_t* record, size_t key_bytes) {
    uint32_t k = 0;
    std::memcpy(&k, record, key_bytes);
    return k;
}

int32_t compare_keys(const void* a, const void* b, uintptr_t key_bytes, uintptr_t counter) {
    auto* c = reinterpret_cast<counter_t*>(counter);
    if (c != nullptr) {
        if (c->calls == c->throw_at) throw std::runtime_error("comparator failed");
        c->calls++;
    }
    uint32_t x = key_of(static_cast<const uint8_t*>(a), key_bytes);
    uint32_t y = key_of(static_cast<const uint8_t*>(b), key_bytes);
    int32_t r = (x > y) - (x < y);
    if (c != nullptr && r != 0) c->nonzero++;
    return r;
}

// A comparator that answers at random: no order exists, but the records
// must stay a permutation of the input and nothing may be read out of range.
int32_t compare_randomly(const void*, const void*, uintptr_t state, uintptr_t) {
    auto* x = reinterpret_cast<uint32_t*>(state);
    *x = *x * 1103515245u + 12345u;
    return static_cast<int32_t>((*x >> 16) % 3) - 1;
}

struct records_t {
    layout_t layout;
    std::vector<uint8_t> bytes;

    size_t count() const { return layout.size == 0 ? 0 : bytes.size() / layout.size; }
    uint8_t* at(size_t i) { return bytes.data() + i * layout.size; }
    const uint8_t* at(size_t i) const { return bytes.data() + i * layout.size; }
    std::vector<std::string> split() const {
        std::vector<std::string> v;
        for (size_t i = 0; i < count(); i++)
            v.emplace_back(reinterpret_cast<const char*>(at(i)), layout.size);
        return v;
    }
    std::vector<uint32_t> keys() const {
        std::vector<uint32_t> v;
        for (size_t i = 0; i < count(); i++) v.push_back(key_of(at(i), layout.key_bytes));
        return v;
    }
};

records_t make_records(layout_t layout, const std::vector<uint32_t>& keys) {
    records_t r{layout, std::vector<uint8_t>(keys.size() * layout.size)};
    uint32_t mask = layout.key_bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * layout.key_bytes)) - 1;
    for (size_t i = 0; i < keys.size(); i++) {
        uint8_t* p = r.at(i);
        uint32_t k = keys[i] & mask;
        std::memcpy(p, &k, layout.key_bytes);
        if (layout.size >= layout.key_bytes + 4) {
            uint32_t index = static_cast<uint32_t>(i);
            std::memcpy(p + layout.key_bytes, &index, 4);
            for (size_t b = layout.key_bytes + 4; b < layout.size; b++)
                p[b] = static_cast<uint8_t>(i * 31 + b);
        } else {
            for (size_t b = layout.key_bytes; b < layout.size; b++)
                p[b] = static_cast<uint8_t>(i * 31 + b);
        }
    }
    return r;
}

// What std::stable_sort makes of the records, by key: the exact expected
// bytes of a stable sort.
std::vector<std::string> stable_reference(const records_t& r) {
    std::vector<std::string> v = r.split();
    size_t kb = r.layout.key_bytes;
    std::stable_sort(v.begin(), v.end(), [kb](const std::string& a, const std::string& b) {
        return key_of(reinterpret_cast<const uint8_t*>(a.data()), kb) <
               key_of(reinterpret_cast<const uint8_t*>(b.data()), kb);
    });
    return v;
}

std::vector<std::string> as_multiset(const records_t& r) {
    std::vector<std::string> v = r.split();
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<uint32_t> pattern(const std::string& name, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> k(n);
    for (size_t i = 0; i < n; i++) {
        if (name == "ascending") k[i] = static_cast<uint32_t>(i);
        else if (name == "descending") k[i] = static_cast<uint32_t>(n - i);
        else if (name == "equal") k[i] = 7;
        else if (name == "random") k[i] = rng();
        else if (name == "few-keys") k[i] = rng() % 5;
        else if (name == "descending-runs")
            k[i] = static_cast<uint32_t>((i / 50) * 100 + (50 - i % 50));
        else if (name == "descending-ties")
            k[i] = static_cast<uint32_t>((n - i) / 3);  // 3 equal per step
        else if (name == "organ-pipe") k[i] = static_cast<uint32_t>(std::min(i, n - i));
        else if (name == "sawtooth") k[i] = static_cast<uint32_t>(i % 37);
        else if (name == "ascending-some-swaps") k[i] = static_cast<uint32_t>(i);
        else if (name == "ascending-random-tail")
            k[i] = i < n * 9 / 10 ? static_cast<uint32_t>(i) : rng() % n;
        else if (name == "descending-random-tail")
            k[i] = i < n * 9 / 10 ? static_cast<uint32_t>(n - i) : rng() % n;
    }
    if (name == "ascending-some-swaps") {
        for (size_t s = 0; s < n / 100 + 1 && n > 1; s++) std::swap(k[rng() % n], k[rng() % n]);
    }
    return k;
}

const std::vector<std::string> PATTERNS = {"ascending",
                                           "descending",
                                           "equal",
                                           "random",
                                           "few-keys",
                                           "descending-runs",
                                           "descending-ties",
                                           "organ-pipe",
                                           "sawtooth",
                                           "ascending-some-swaps",
                                           "ascending-random-tail",
                                           "descending-random-tail"};
const std::vector<size_t> COUNTS = {0, 1, 2, 3, 7, 8, 9, 24, 25, 48, 100, 511, 512, 1000, 3000};
const std::vector<layout_t> LAYOUTS = {{1, 1}, {2, 2}, {4, 4}, {16, 4}, {48, 4}, {3, 2}, {8, 4}};

std::string describe(const std::string& name, size_t n, layout_t l) {
    return name + " count=" + std::to_string(n) + " size=" + std::to_string(l.size);
}

TEST(Sort, QsortOrdersLikeStdSortAndKeepsEveryRecord) {
    for (layout_t l : LAYOUTS) {
        for (const std::string& name : PATTERNS) {
            for (size_t n : COUNTS) {
                records_t r = make_records(l, pattern(name, n, static_cast<uint32_t>(n)));
                std::vector<std::string> before = as_multiset(r);
                std::vector<uint32_t> expected = r.keys();
                std::sort(expected.begin(), expected.end());
                sort::qsort(r.bytes.data(), n, l.size, l.key_bytes, 0, compare_keys);
                ASSERT_EQ(r.keys(), expected) << describe(name, n, l);
                ASSERT_EQ(as_multiset(r), before) << describe(name, n, l);
            }
        }
    }
}

TEST(Sort, MergesortMatchesStdStableSort) {
    for (layout_t l : LAYOUTS) {
        for (const std::string& name : PATTERNS) {
            for (size_t n : COUNTS) {
                records_t r = make_records(l, pattern(name, n, static_cast<uint32_t>(n) + 1));
                std::vector<std::string> expected = stable_reference(r);
                sort::mergesort(r.bytes.data(), n, l.size, l.key_bytes, 0, compare_keys);
                ASSERT_EQ(r.split(), expected) << describe(name, n, l);
            }
        }
    }
}

// Large inputs reach the sample windows that grow 16-fold.
TEST(Sort, LargeInputs) {
    struct large_case_t {
        const char* name;
        size_t n;
    };
    const large_case_t cases[] = {{"random", 300000},
                                  {"few-keys", 300000},
                                  {"ascending-random-tail", 70000},
                                  {"organ-pipe", 70000}};
    layout_t l{16, 4};
    for (const large_case_t& t : cases) {
        const char* name = t.name;
        size_t n = t.n;
        {
            records_t r = make_records(l, pattern(name, n, 99));
            records_t m = r;
            std::vector<uint32_t> keys = r.keys();
            std::sort(keys.begin(), keys.end());
            std::vector<std::string> stable = stable_reference(r);
            sort::qsort(r.bytes.data(), n, l.size, l.key_bytes, 0, compare_keys);
            ASSERT_EQ(r.keys(), keys) << describe(name, n, l);
            sort::mergesort(m.bytes.data(), n, l.size, l.key_bytes, 0, compare_keys);
            ASSERT_EQ(m.split(), stable) << describe(name, n, l);
        }
    }
}

TEST(Sort, NothingIsComparedBelowTwoRecords) {
    for (size_t n : {0u, 1u}) {
        records_t r = make_records({16, 4}, pattern("random", n, 1));
        counter_t c;
        sort::qsort(r.bytes.data(), n, 16, 4, reinterpret_cast<uintptr_t>(&c), compare_keys);
        sort::mergesort(r.bytes.data(), n, 16, 4, reinterpret_cast<uintptr_t>(&c), compare_keys);
        EXPECT_EQ(c.calls, 0) << n;
    }
}

// Ordered input costs count - 1 comparisons plus one per 97 records of
// sampling; a descending one is reversed in place, nothing partitioned.
TEST(Sort, QsortRecognisesOrderedInputInLinearTime) {
    for (const char* name : {"ascending", "descending"}) {
        for (size_t n : {2u, 100u, 10000u, 100000u}) {
            records_t r = make_records({16, 4}, pattern(name, n, 0));
            counter_t c;
            sort::qsort(r.bytes.data(), n, 16, 4, reinterpret_cast<uintptr_t>(&c), compare_keys);
            EXPECT_LE(c.calls, static_cast<long>(n - 1)) << name << " " << n;
            std::vector<uint32_t> keys = r.keys();
            EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << name << " " << n;
        }
    }
}

TEST(Sort, QsortLeavesEqualRecordsInPlace) {
    records_t r = make_records({16, 4}, pattern("equal", 1000, 0));
    records_t original = r;
    counter_t c;
    sort::qsort(r.bytes.data(), 1000, 16, 4, reinterpret_cast<uintptr_t>(&c), compare_keys);
    EXPECT_EQ(c.nonzero, 0);
    EXPECT_EQ(r.bytes, original.bytes);
}

// Mostly ordered input is gathered into runs rather than partitioned:
// far fewer comparisons than a full sort would take.
TEST(Sort, QsortGathersRunsOfMostlyOrderedInput) {
    size_t n = 100000;
    records_t r = make_records({16, 4}, pattern("ascending-some-swaps", n, 5));
    std::vector<uint32_t> keys = r.keys();
    std::sort(keys.begin(), keys.end());
    counter_t c;
    sort::qsort(r.bytes.data(), n, 16, 4, reinterpret_cast<uintptr_t>(&c), compare_keys);
    EXPECT_EQ(r.keys(), keys);
    EXPECT_LT(c.calls, static_cast<long>(4 * n));
}

TEST(Sort, QsortPartialUsesTheGivenSortedSample) {
    struct sample_case_t {
        size_t n;
        ptrdiff_t sorted;  // > 0: leading records sorted; < 0: trailing ones
    };
    const sample_case_t cases[] = {{8, 3},     {100, 10},   {100, -10},   {100, 99},    {100, -99},
                                   {5000, 19}, {5000, -19}, {70000, 300}, {70000, -300}};
    for (const sample_case_t& t : cases) {
        std::vector<uint32_t> keys = pattern("few-keys", t.n, 3);
        for (size_t i = 0; i < t.n; i++)
            keys[i] = keys[i] * 1000 + (static_cast<uint32_t>(i) * 7919u) % 1000;
        size_t h = static_cast<size_t>(t.sorted < 0 ? -t.sorted : t.sorted);
        if (t.sorted > 0) std::sort(keys.begin(), keys.begin() + static_cast<ptrdiff_t>(h));
        else std::sort(keys.end() - static_cast<ptrdiff_t>(h), keys.end());
        records_t r = make_records({8, 4}, keys);
        std::vector<std::string> before = as_multiset(r);
        std::sort(keys.begin(), keys.end());
        sort::qsort_partial(r.bytes.data(), t.sorted, t.n, 8, 4, 0, compare_keys);
        EXPECT_EQ(r.keys(), keys) << "count " << t.n << " sorted " << t.sorted;
        EXPECT_EQ(as_multiset(r), before) << "count " << t.n << " sorted " << t.sorted;
    }
}

TEST(Sort, NoOrderStillGivesAPermutation) {
    for (size_t n : {5u, 30u, 600u, 20000u}) {
        for (layout_t l : {layout_t{16, 4}, layout_t{3, 2}}) {
            records_t r = make_records(l, pattern("random", n, 11));
            std::vector<std::string> before = as_multiset(r);
            uint32_t state = 1;
            sort::qsort(r.bytes.data(), n, l.size, reinterpret_cast<uintptr_t>(&state), 0,
                        compare_randomly);
            EXPECT_EQ(as_multiset(r), before) << describe("qsort", n, l);
            sort::mergesort(r.bytes.data(), n, l.size, reinterpret_cast<uintptr_t>(&state), 0,
                            compare_randomly);
            EXPECT_EQ(as_multiset(r), before) << describe("mergesort", n, l);
        }
    }
}

// A comparator that raises part-way (user code failing) leaves every
// record in the array, whether the merge buffer was ours or the caller's.
TEST(Sort, ComparatorErrorLeavesAPermutation) {
    size_t n = 3000;
    for (long throw_at : {0L, 1L, 50L, 2500L, 9000L, 20000L}) {
        for (int which = 0; which < 3; which++) {
            records_t r = make_records({16, 4}, pattern("few-keys", n, 21));
            std::vector<std::string> before = as_multiset(r);
            std::vector<uint8_t> buffer(16 * (n / 2));
            counter_t c;
            c.throw_at = throw_at;
            uintptr_t user2 = reinterpret_cast<uintptr_t>(&c);
            try {
                if (which == 0) sort::qsort(r.bytes.data(), n, 16, 4, user2, compare_keys);
                else if (which == 1) sort::mergesort(r.bytes.data(), n, 16, 4, user2, compare_keys);
                else sort::mergesort(r.bytes.data(), n, 16, 4, user2, compare_keys, buffer.data());
            } catch (const std::runtime_error&) {
            }
            EXPECT_EQ(as_multiset(r), before)
                << "sort " << which << " raising at call " << throw_at;
        }
    }
}

// A caller's buffer of exactly size x floor(count / 2) bytes is enough (the
// sanitizer build catches any write past it) and is the one used.
TEST(Sort, MergesortUsesTheCallersBuffer) {
    for (size_t n : {2u, 25u, 1001u}) {
        records_t r = make_records({16, 4}, pattern("random", n, 4));
        std::vector<std::string> expected = stable_reference(r);
        std::vector<uint8_t> buffer(16 * (n / 2), 0xEE);
        sort::mergesort(r.bytes.data(), n, 16, 4, 0, compare_keys, buffer.data());
        EXPECT_EQ(r.split(), expected) << n;
        if (n > 24) {
            EXPECT_NE(std::count(buffer.begin(), buffer.end(), 0xEE),
                      static_cast<long>(buffer.size()))
                << n;
        }
    }
}

TEST(Sort, MergesortRefusesABufferBeyond31BitsBeforeMovingAnything) {
    uint8_t records[4] = {4, 3, 2, 1};
    counter_t c;
    size_t huge = size_t{1} << 33;  // never touched: the size check comes first
    try {
        sort::mergesort(records, huge, 1, 1, reinterpret_cast<uintptr_t>(&c), compare_keys);
        FAIL() << "no error";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::too_long);
    }
    EXPECT_EQ(c.calls, 0);
    EXPECT_EQ(records[0], 4);
}

TEST(Sort, FindRunReversesOnlyStrictlyDescendingRuns) {
    struct run_case_t {
        std::vector<uint32_t> keys;
        size_t run;  // records in the run found
        std::vector<uint32_t> after;  // keys afterwards
    };
    const run_case_t cases[] = {
        {{1}, 1, {1}},
        {{1, 2, 2, 3, 1}, 4, {1, 2, 2, 3, 1}},
        {{5, 4, 3, 3, 1}, 3, {3, 4, 5, 3, 1}},
        {{5, 4, 3, 2, 1}, 5, {1, 2, 3, 4, 5}},
        {{2, 2, 1}, 2, {2, 2, 1}},
    };
    for (const run_case_t& t : cases) {
        records_t r = make_records({8, 4}, t.keys);
        uint8_t* base = r.bytes.data();
        void* end = sort::find_run(base, base + r.bytes.size(), 8, 4, 0, compare_keys);
        EXPECT_EQ(static_cast<uint8_t*>(end) - base, static_cast<ptrdiff_t>(8 * t.run))
            << ::testing::PrintToString(t.keys);
        EXPECT_EQ(r.keys(), t.after) << ::testing::PrintToString(t.keys);
    }
}

TEST(Sort, MergeIsStableFromEitherSide) {
    // left shorter (merged from the front) and right shorter (from the back),
    // with equal keys across the boundary
    const std::vector<uint32_t> inputs[] = {
        {1, 3, 3, 0, 3, 3, 4, 5}, {0, 2, 2, 3, 5, 2, 2, 6}, {2, 2, 2, 2}};
    const size_t middles[] = {3, 5, 2};
    for (size_t t = 0; t < 3; t++) {
        records_t r = make_records({8, 4}, inputs[t]);
        std::vector<std::string> expected = stable_reference(r);
        std::vector<uint8_t> buffer(8 * inputs[t].size() / 2);
        uint8_t* base = r.bytes.data();
        sort::merge(base, base + 8 * middles[t], base + r.bytes.size(), buffer.data(),
                    {8, 4, 0, compare_keys});
        EXPECT_EQ(r.split(), expected) << ::testing::PrintToString(inputs[t]);
    }
}

TEST(Sort, SwapRecordsByWordsOrBytesGivesTheSameResult) {
    for (size_t bytes : {3u, 16u, 48u, 5u}) {
        std::vector<uint8_t> a(bytes), b(bytes);
        for (size_t i = 0; i < bytes; i++) {
            a[i] = static_cast<uint8_t>(i);
            b[i] = static_cast<uint8_t>(200 - i);
        }
        std::vector<uint8_t> a0 = a, b0 = b;
        sort::swap_records(a.data(), b.data(), bytes);
        EXPECT_EQ(a, b0) << bytes;
        EXPECT_EQ(b, a0) << bytes;
    }
}

}  // namespace
