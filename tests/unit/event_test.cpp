// Backend events: the record the event loop fills stays with the event, so
// an event a handler keeps is readable after collections.

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/event.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"
#include "view/backends/terminal/event_types.h"

namespace zuv {
namespace {

class BackendEvent : public testing::Runtime {
protected:
    void SetUp() override {
        testing::Runtime::SetUp();
        datatype::register_late();
        saved_active_ = collector::active;
        collector::active = true;
    }
    void TearDown() override { collector::active = saved_active_; }

    // An event as the loop makes it, copied out of the stack: afterwards only
    // the rooted copy keeps its record.
    cell_t make(int32_t code, uint32_t flags, int32_t datum, double float_datum) {
        cell_t* face = stack::push_slot();
        face->header = TYPE_unset;
        block::make_at(face, 1);
        cell_t n;
        integer::make_at(&n, 42);
        block::rs_append(face, &n);
        cell_t offset;
        pair::make_at(&offset, 3, 4);
        cell_t e = *event::push_backend(code, flags, face, &offset, datum, float_datum);
        stack::pop(2);
        return e;
    }

    // Field index of e, read through the datatype, left in a copy.
    cell_t field(const cell_t& e, int32_t index) {
        cell_t v = *event::get_field(&e, index);
        stack::pop(1);
        return v;
    }

    static void churn() {
        for (int i = 0; i < 50; i++) alloc::alloc_unset_cells(64);
        collector::do_cycle();
        collector::do_cycle();
    }

    static std::string word_text(const cell_t& w) { return symbol::get_utf8(word::symbol_of(&w)); }

private:
    bool saved_active_ = false;
};

TEST_F(BackendEvent, KeptEventReadsItsRecordAfterCollections) {
    cell_t e = make(tui::event_type::key, event::flag::SHIFT | event::flag::DOWN, 'a', 0.0);
    collector::root_cell keep(&e);
    churn();
    EXPECT_EQ(word_text(field(e, event::field::TYPE)), "key");
    cell_t face = field(e, event::field::FACE);
    ASSERT_EQ(type_of(&face), TYPE_block);
    EXPECT_EQ(integer::get(block::rs_head(&face)), 42);
    cell_t offset = field(e, event::field::OFFSET);
    EXPECT_EQ(pair::get_x(&offset), 3);
    EXPECT_EQ(pair::get_y(&offset), 4);
    cell_t key = field(e, event::field::KEY);
    ASSERT_EQ(type_of(&key), TYPE_char_);
    EXPECT_EQ(char_::get(&key), uint32_t{'a'});
    cell_t window = field(e, event::field::WINDOW);
    EXPECT_EQ(type_of(&window), TYPE_none);
    cell_t flags = field(e, event::field::FLAGS);
    ASSERT_EQ(block::rs_length_q(&flags), 2);
    EXPECT_EQ(word_text(block::rs_head(&flags)[0]), "down");
    EXPECT_EQ(word_text(block::rs_head(&flags)[1]), "shift");
}

TEST_F(BackendEvent, SpecialKeysReadAsWordsAndWheelPicksTheFloat) {
    struct {
        int32_t datum;
        const char* word;  // nullptr: none
    } keys[] = {{-20, "up"},  {-29, "page-down"}, {-31, "F1"},
                {-42, "F12"}, {-30, nullptr},     {-1, nullptr}};
    for (const auto& k : keys) {
        cell_t e = make(tui::event_type::key, event::flag::SPECIAL_KEY, k.datum, 0.0);
        cell_t v = field(e, event::field::KEY);
        if (k.word) {
            ASSERT_EQ(type_of(&v), TYPE_word) << k.datum;
            EXPECT_EQ(word_text(v), k.word);
        } else {
            EXPECT_EQ(type_of(&v), TYPE_none) << k.datum;
        }
    }
    cell_t wheel = make(tui::event_type::wheel, 0, 7, -2.5);
    cell_t picked = field(wheel, event::field::PICKED);
    ASSERT_EQ(type_of(&picked), TYPE_float_);
    EXPECT_EQ(float_::get(&picked), -2.5);
    cell_t click = make(tui::event_type::click, 0, 7, -2.5);
    picked = field(click, event::field::PICKED);
    ASSERT_EQ(type_of(&picked), TYPE_integer);
    EXPECT_EQ(integer::get(&picked), 7);
}

TEST_F(BackendEvent, TypeWordsRoundTripThroughTheirCodes) {
    for (int32_t code = 1; code <= tui::EVENT_TYPE_COUNT; code++) {
        cell_t w = *tui::push_event_type_word(code);
        stack::pop(1);
        EXPECT_EQ(tui::event_type_code(&w), code) << tui::event_type_text(code);
    }
    EXPECT_EQ(tui::EVENT_TYPE_COUNT, 38);
    EXPECT_STREQ(tui::event_type_text(tui::event_type::close), "close");
    EXPECT_EQ(tui::event_type_text(0), nullptr);
    EXPECT_EQ(tui::event_type_text(39), nullptr);
}

}  // namespace
}  // namespace zuv
