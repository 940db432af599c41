// The set natives on bitsets and hash!, and the natives' own argument checks
// when called from C++ with check = 1 (what scripts cannot reach).
#include <gtest/gtest.h>

#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "gc_anchor.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "natives/natives.h"
#include "natives/values.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"

namespace zuv {
namespace {

class NativesValues : public testing::Runtime {
protected:
    // make type! spec, spec loaded from src (one value).
    static cell_t make(uint8_t type, const char* src) {
        stack::mark_native(nullptr);
        stack::push_slot()->header = TYPE_unset;
        cell_t* spec = stack::push_slot();
        spec->header = TYPE_unset;
        lexer::scan(spec, reinterpret_cast<const uint8_t*>(src),
                    static_cast<int32_t>(std::strlen(src)), {.one_value = true}, nullptr, nullptr,
                    nullptr, nullptr);
        cell_t proto{TYPE_datatype, type, 0, 0};
        cell_t made = test::anchor(*actions::make(&proto, spec));
        stack::arguments = stack::top_slot = stack::bottom;
        stack::ctop = stack::cbottom;
        return made;
    }
    // Calls a native entry with check = 1 on the given arguments; returns the
    // raised error id, or err{} with the result in *out.
    static err call(native_entry_t entry, std::initializer_list<cell_t> args, const int32_t* refs,
                    cell_t* out) {
        try {
            stack::mark_native(nullptr);
            for (const cell_t& a : args) stack::push(&a);
            entry(1, refs);
            *out = test::anchor(*stack::arguments);
            stack::unwind();
            stack::arguments = stack::top_slot = stack::bottom;
            stack::ctop = stack::cbottom;
            return err{};
        } catch (const raised_error& e) {
            stack::arguments = stack::top_slot = stack::bottom;
            stack::ctop = stack::cbottom;
            return e.id;
        }
    }
    static constexpr int32_t none_refs[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                              -1, -1, -1, -1, -1, -1, -1, -1};
};

TEST_F(NativesValues, BitsetSetsAndComplement) {
    cell_t a = make(TYPE_bitset, "\"ab\"");
    cell_t b = make(TYPE_bitset, "\"bc\"");
    ASSERT_EQ(type_of(&a), TYPE_bitset);
    cell_t r;
    ASSERT_EQ(call(natives::union_, {a, b}, none_refs, &r), err{});
    ASSERT_EQ(type_of(&r), TYPE_bitset);
    EXPECT_TRUE(bitset::member_q(&r, 'a') && bitset::member_q(&r, 'b') &&
                bitset::member_q(&r, 'c'));
    ASSERT_EQ(call(natives::intersect, {a, b}, none_refs, &r), err{});
    EXPECT_TRUE(bitset::member_q(&r, 'b'));
    EXPECT_FALSE(bitset::member_q(&r, 'a') || bitset::member_q(&r, 'c'));
    // the arguments are not modified
    EXPECT_FALSE(bitset::member_q(&a, 'c'));

    ASSERT_EQ(call(natives::complement_q, {a}, none_refs, &r), err{});
    EXPECT_FALSE(logic::get(&r));
    cell_t c = make(TYPE_bitset, "[not \"ab\"]");
    ASSERT_EQ(call(natives::complement_q, {c}, none_refs, &r), err{});
    EXPECT_TRUE(logic::get(&r));
}

TEST_F(NativesValues, CheckedCallsTestTheirArguments) {
    cell_t one{TYPE_integer, 0, 1, 0};
    cell_t block;
    block::make_at(&block, 1);
    test::anchor(block);
    cell_t r;
    // from C++ with check = 1 a bad argument raises expect-arg before anything runs
    EXPECT_EQ(call(natives::union_, {one, one}, none_refs, &r), err::expect_arg);
    EXPECT_EQ(call(natives::complement_q, {one}, none_refs, &r), err::expect_arg);
    EXPECT_EQ(call(natives::compose, {one}, none_refs, &r), err::expect_arg);
    EXPECT_EQ(call(natives::new_line_q, {one}, none_refs, &r), err::expect_arg);
    // compose's own test of its value, reached when the caller skips the types
    try {
        stack::mark_native(nullptr);
        stack::push(&one);
        natives::compose(0, none_refs);
        ADD_FAILURE() << "no error";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::expect_val);
    }
    stack::arguments = stack::top_slot = stack::bottom;
    stack::ctop = stack::cbottom;
}

TEST_F(NativesValues, SetAcceptsHashWithBlock) {
    cell_t h = make(TYPE_hash, "[1 2 3]");
    ASSERT_EQ(type_of(&h), TYPE_hash);
    cell_t b = make(TYPE_block, "[3 4]");
    cell_t s = make(TYPE_string, "\"34\"");
    cell_t r;
    ASSERT_EQ(call(natives::union_, {b, h}, none_refs, &r), err{});
    EXPECT_EQ(block::rs_length_q(&r), 4);
    EXPECT_EQ(call(natives::union_, {b, s}, none_refs, &r), err::expect_val);
    ASSERT_EQ(call(natives::exclude, {h, b}, none_refs, &r), err{});
    EXPECT_EQ(type_of(&r), TYPE_hash);
    EXPECT_EQ(block::rs_length_q(&r), 2);
}

}  // namespace
}  // namespace zuv
