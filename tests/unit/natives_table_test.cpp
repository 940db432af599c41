// The natives table: every native's word names a native! value whose spec
// block (what spec-of shows) has the listed title, arguments, refinements and
// result types, and whose number selects its slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "molded.h"
#include "natives/natives.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::testing {
namespace {

std::string molded(const cell_t* v) { return zuv::test::molded(v, {.flat = true}); }

// The spec block laid out as the table's columns.
class NativesTable : public Runtime {};

// Every native of the list is the value of its word, with its number, and
// spec-of shows the list's spec: a block of a title string, then argument
// words each followed by a type block, then refinements, as loaded from the
// list's text.
TEST_F(NativesTable, EveryNativeHasItsListedSpec) {
    for (int32_t n = 1; n <= natives::COUNT; n++) {
        const natives::info_t& info = natives::info(n);
        SCOPED_TRACE(info.word);
        EXPECT_EQ(info.number, n);
        cell_t w = word::make_global(
            symbol::make_alt(info.word, static_cast<int32_t>(std::strlen(info.word))));
        const cell_t* v = _context::get(&w);
        ASSERT_EQ(type_of(v), TYPE_native);
        EXPECT_EQ(native::number_of(v), n);
        EXPECT_EQ(natives::number_of(info.word), n);

        cell_t spec;
        block::init_value(&spec, TYPE_block, native::spec_node(v));
        cell_t* listed = stack::push_slot();
        listed->header = TYPE_unset;
        lexer::scan(listed, reinterpret_cast<const uint8_t*>(info.spec),
                    static_cast<int32_t>(std::strlen(info.spec)), {}, nullptr, nullptr, nullptr,
                    nullptr);
        EXPECT_EQ(molded(&spec), molded(listed));

        int32_t length = block::abs_length(&spec);
        ASSERT_GT(length, 0);
        EXPECT_EQ(type_of(block::rs_abs_at(&spec, 0)), TYPE_string) << "the title comes first";
        for (int32_t i = 1; i < length; i++) {
            uint8_t t = type_of(block::rs_abs_at(&spec, i));
            EXPECT_TRUE(t == TYPE_word || t == TYPE_lit_word || t == TYPE_get_word ||
                        t == TYPE_block || t == TYPE_refinement || t == TYPE_set_word ||
                        t == TYPE_string)
                << "item " << i;
        }
        stack::pop(1);
    }
}

TEST_F(NativesTable, SlotsByNumber) {
    EXPECT_EQ(natives::next_number, natives::COUNT + 1);
    EXPECT_EQ(natives::table[natives::slot_of(natives::id::if_)], &natives::if_);
    EXPECT_EQ(natives::table[natives::slot_of(natives::id::while_)], &natives::while_);
    EXPECT_EQ(natives::table[natives::slot_of(natives::id::transcode)], &natives::transcode);
    for (int32_t i = natives::COUNT; i < natives::TABLE_SLOTS; i++)
        EXPECT_EQ(natives::table[i], nullptr);
    EXPECT_EQ(interpreter::native_table, natives::table);
    // The list is indexed by number, not by the order the words are read in.
    EXPECT_STREQ(natives::info(natives::id::debase).word, "debase");
    EXPECT_STREQ(natives::info(natives::id::enbase).word, "enbase");
    EXPECT_EQ(natives::number_of("remove-each"), natives::id::remove_each);
    EXPECT_EQ(natives::number_of("no-such-native"), 0);
}

}  // namespace
}  // namespace zuv::testing
