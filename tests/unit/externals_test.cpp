// External resources, external cell slots, ownership and the compiled-code
// support routines.

#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "errors_fixture.h"
#include "runtime/compiled.h"
#include "runtime/externals.h"
#include "runtime/ownership.h"

namespace zuv::test {
namespace {

using Externals = ErrorsTest;
using Compiled = ErrorsTest;

std::vector<uintptr_t> released;
void record_release(uintptr_t object) { released.push_back(object); }

TEST_F(Externals, UnmarkedEntryIsReleasedOnce) {
    released.clear();
    int32_t kind = externals::register_kind(0, record_release);
    int32_t kept = externals::add(0x1000, static_cast<uint32_t>(kind));
    int32_t dropped = externals::add(0x2000, static_cast<uint32_t>(kind));
    EXPECT_TRUE(externals::mark(kept, 0x1001));  // a marker may refresh the object
    EXPECT_FALSE(externals::mark(kept, 0));
    externals::sweep();
    EXPECT_EQ(released, std::vector<uintptr_t>{0x2000});
    EXPECT_EQ(externals::entry(dropped)->flags, externals::FREE);
    EXPECT_EQ(externals::entry(kept)->object, 0x1001u);
    EXPECT_EQ(externals::entry(kept)->flags & externals::MARK, 0u);
    // Unmarked in the next collection: released then, and only then.
    externals::sweep();
    externals::sweep();
    EXPECT_EQ(released, (std::vector<uintptr_t>{0x2000, 0x1001}));
    EXPECT_EQ(externals::live_count(), 0);
}

TEST_F(Externals, ArrayDoublesBeforeTheLastFreeEntry) {
    std::vector<int32_t> handed;
    for (int32_t i = 0; i < externals::INITIAL_ENTRIES - 1; i++)
        handed.push_back(externals::add(100 + i, 0));
    EXPECT_EQ(externals::capacity(), externals::INITIAL_ENTRIES);
    handed.push_back(externals::add(5000, 0));  // the 1000th
    EXPECT_EQ(externals::capacity(), 2 * externals::INITIAL_ENTRIES);
    for (int32_t i = 0; i < externals::INITIAL_ENTRIES - 1; i++)
        EXPECT_EQ(externals::entry(handed[i])->object, static_cast<uintptr_t>(100 + i));
    int32_t next = externals::add(6000, 0);
    EXPECT_EQ(externals::entry(next)->object, 6000u);
    externals::remove(next, false);
    EXPECT_EQ(externals::entry(next)->flags, externals::FREE);
    EXPECT_EQ(externals::live_count(), externals::INITIAL_ENTRIES);
}

TEST_F(Externals, CellSlots) {
    std::vector<int32_t> slots;
    for (int32_t i = 0; i < 150; i++) {
        cell_t v = integer(i);
        slots.push_back(ext_slots::alloc(&v));
    }
    EXPECT_EQ(slots.front(), 1);
    for (int32_t i = 0; i < 150; i++) EXPECT_EQ(integer::get(ext_slots::get(slots[i])), i);
    ext_slots::free(slots[7]);
    cell_t v = integer(-3);
    EXPECT_EQ(ext_slots::alloc(&v), slots[7]);  // the freed slot is reused first
    ext_slots::free(0);  // no slot: nothing happens
}

class OwnershipTest : public ErrorsTest {
protected:
    cell_t owner;
    cell_t field_word;
    void SetUp() override {
        ErrorsTest::SetUp();
        cell::begin(&owner);
        object::make_at(&owner, 4);
        anchor(owner);
        field_word = word("items");
    }
    cell_t new_block() {
        cell_t b;
        cell::begin(&b);
        block::make_at(&b, 4);
        return anchor(b);
    }
};

TEST_F(OwnershipTest, SelfContainingBlockIsMarkedOnce) {
    cell_t b = new_block();
    block::rs_append(&b, &b);
    cell_t inner = new_block();
    block::rs_append(&b, &inner);
    ownership::set_owner(&b, &owner, &field_word);
    EXPECT_TRUE(ownership::owned_q(&b));
    EXPECT_TRUE(ownership::owned_q(&inner));
    EXPECT_EQ(ownership::count(), 2);
    ASSERT_NE(ownership::get_owner(b.data2), nullptr);
    EXPECT_EQ(ownership::get_owner(b.data2)->data1, owner.data1);
    ownership::unset_owner(&b);
    EXPECT_FALSE(ownership::owned_q(&b));
    EXPECT_FALSE(ownership::owned_q(&inner));
    EXPECT_EQ(ownership::count(), 0);
}

TEST_F(OwnershipTest, CheckTellsOnlyOwnersWithAChangeRecord) {
    cell_t b = new_block();
    struct pair_t {
        words::id before, after;
    } pairs[] = {{words::id::append, words::id::appended},
                 {words::id::swap, words::id::swaped},
                 {words::id::put, words::id::put_ed},
                 {words::id::trim, words::id::trimmed}};
    for (const pair_t& p : pairs)
        EXPECT_FALSE(ownership::check(&b, p.before, nullptr, 0, 1));  // not owned
    ownership::set_owner(&b, &owner, &field_word);
    for (const pair_t& p : pairs)
        EXPECT_FALSE(ownership::check(&b, p.before, nullptr, 0, 1));  // no record
    // An owner with a change record is told before and after.
    ownership::unset_owner(&b);
    owner.data3 = 1;
    ownership::set_owner(&b, &owner, &field_word);
    for (const pair_t& p : pairs) {
        EXPECT_TRUE(ownership::check(&b, p.before, nullptr, 0, 1)) << words::text_of(p.before);
        EXPECT_TRUE(ownership::check(&b, p.after, nullptr, 0, 1)) << words::text_of(p.after);
    }
    EXPECT_STREQ(words::text_of(words::id::swaped), "swaped");
    EXPECT_STREQ(words::text_of(words::id::put_ed), "put-ed");
}

TEST_F(Compiled, FloatToInt) {
    struct case_t {
        double in;
        int32_t out;
    } ok[] = {{2147483647.0, 2147483647}, {-1.9, -1}, {-2147483648.0, -2147483647 - 1}, {0.5, 0}};
    for (const case_t& c : ok) {
        cell_t f{TYPE_float_, 0, 0, 0};
        cell::put_float(&f, c.in);
        EXPECT_EQ(compiled::float_to_int(&f), c.out) << c.in;
    }
    for (double bad :
         {2147483648.0, -2147483649.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        cell_t f{TYPE_float_, 0, 0, 0};
        cell::put_float(&f, bad);
        EXPECT_EQ(raised([&] { compiled::float_to_int(&f); }), err::out_of_range) << bad;
    }
    cell_t i = integer(-7);
    EXPECT_EQ(compiled::float_to_int(&i), -7);
}

TEST_F(Compiled, FillPattern) {
    uint8_t buffer[12] = {1, 2, 3, 4};
    EXPECT_EQ(alloc::fill_pattern(buffer, 4, 3), buffer + 12);
    for (int i = 0; i < 12; i++) EXPECT_EQ(buffer[i], i % 4 + 1);
}

TEST_F(Compiled, ArgumentChecks) {
    cell_t ts{TYPE_typeset, 0, 0, 0};
    reinterpret_cast<uint8_t*>(&ts.data1)[TYPE_integer >> 3] |=
        static_cast<uint8_t>(0x80u >> (TYPE_integer & 7));
    cell_t n = integer(1);
    EXPECT_EQ(compiled::check_arg_type(&ts, 1, &n), &n);
    cell_t t = text("x");
    EXPECT_EQ(raised([&] { compiled::check_arg_type(&ts, 1, &t); }), err::expect_arg);
    compiled::check_arg_at(-1, &ts, 1);  // a negative index skips the check
    cell_t off{TYPE_logic, 0, 0, 0};
    EXPECT_EQ(compiled::check_opt_arg(&off, &ts, 1, &t), &t);
    cell_t unset{TYPE_unset, 0, 0, 0};
    EXPECT_EQ(raised([&] { compiled::check_unset(1, &unset); }), err::expect_arg);
}

TEST_F(Compiled, SetWordRefusesUnset) {
    cell_t w;
    _context::add_global(symbol::make("answer"), false, false, &w);
    stack::push_slot()->header = TYPE_unset;
    cell_t value;
    EXPECT_EQ(raised([&] { compiled::set_word_checked(&w); }, &value), err::need_value);
    std::string f = formed(&value);
    EXPECT_EQ(f.substr(0, f.find('\n')), "*** Script Error: answer needs a value");
    cell_t n = integer(42);
    stack::push(&n);
    compiled::set_word_checked(&w);
    EXPECT_EQ(integer::get(compiled::get_word_checked(&w)), 42);
}

}  // namespace
}  // namespace zuv::test
