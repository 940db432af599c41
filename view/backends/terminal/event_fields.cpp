#include "view/backends/terminal/event_fields.h"

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "view/backends/terminal/event_types.h"

namespace zuv::tui {

namespace {

// Special keys (flag bit 0 set): the datum is a negative code.
struct key_word_t {
    int32_t code;
    const char* text;
};
constexpr key_word_t key_words[] = {
    {-20, "up"},   {-21, "down"},   {-22, "right"},  {-23, "left"},    {-24, "end"},
    {-25, "home"}, {-26, "insert"}, {-27, "delete"}, {-28, "page-up"}, {-29, "page-down"},
    {-31, "F1"},   {-32, "F2"},     {-33, "F3"},     {-34, "F4"},      {-35, "F5"},
    {-36, "F6"},   {-37, "F7"},     {-38, "F8"},     {-39, "F9"},      {-40, "F10"},
    {-41, "F11"},  {-42, "F12"},
};

uint32_t logic_bit(int32_t index) {
    switch (index) {
    case event::field::AWAY_Q: return event::flag::AWAY;
    case event::field::DOWN_Q: return event::flag::DOWN;
    case event::field::MID_DOWN_Q: return event::flag::MID_DOWN;
    case event::field::ALT_DOWN_Q: return event::flag::ALT_DOWN;
    case event::field::AUX_DOWN_Q: return event::flag::AUX_DOWN;
    case event::field::CTRL_Q: return event::flag::CONTROL;
    case event::field::SHIFT_Q: return event::flag::SHIFT;
    default: return 0;
    }
}

cell_t* push_flags(uint32_t bits) {
    // A new block each time: a handler may keep what it read.
    cell_t* b = block::push_only_star(8);
    for (const auto& f : event::flag_words) {
        if (!(bits & f.bit)) continue;
        cell_t w = word::make_global(symbol::make(f.text));
        block::rs_append(b, &w);
    }
    return b;
}

cell_t* record_cell(const cell_t* event, int32_t at) {
    cell_t b{TYPE_block, 0, event->data2, 0};
    return block::rs_abs_at(&b, at);
}

cell_t* push_key(const cell_t* event) {
    int32_t datum = static_cast<int32_t>(record_cell(event, event::record::DATUM)->data2);
    if (!(event->data3 & event::flag::SPECIAL_KEY))
        return char_::push(static_cast<uint32_t>(datum));
    for (const auto& k : key_words)
        if (k.code == datum) return word::push_symbol(symbol::make(k.text));
    return none::push();
}

}  // namespace

cell_t* push_event_field(const cell_t* event, int32_t index) {
    cell_t e = *event;
    switch (index) {
    case event::field::TYPE: return push_event_type_word(event::type_code(&e));
    case event::field::FLAGS: return push_flags(e.data3);
    case event::field::WINDOW:
    case event::field::ORIENTATION: return none::push();
    default: break;
    }
    if (uint32_t bit = logic_bit(index)) return logic::push((e.data3 & bit) != 0);
    if (event::scripted_q(&e) || e.data2 == 0) return none::push();
    switch (index) {
    case event::field::FACE: return stack::push(record_cell(&e, event::record::FACE));
    case event::field::OFFSET: return stack::push(record_cell(&e, event::record::OFFSET));
    case event::field::KEY: return push_key(&e);
    case event::field::PICKED:
        return stack::push(record_cell(&e, event::type_code(&e) == event_type::wheel
                                               ? event::record::FLOAT_DATUM
                                               : event::record::DATUM));
    default: return none::push();
    }
}

namespace routines {
void send_event_os() { logic::make_at(stack::arguments, false); }
}  // namespace routines

}  // namespace zuv::tui
