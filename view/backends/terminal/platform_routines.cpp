#include "view/backends/terminal/platform_routines.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/fire.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/draw.h"
#include "view/backends/terminal/event_loop.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/text_cells.h"
#include "view/backends/terminal/text_metrics.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui::routines {

namespace {

// The widget a window handle names, nullptr for any other value.
widget_t* widget_of(const cell_t* value) {
    if (type_of(value) != TYPE_handle || handle::kind_of(value) != handle::kind::WINDOW)
        return nullptr;
    return widget_of_handle(handle::value_of(value));
}

bool face_is(const cell_t* face, const char* type) {
    return symbol_of_word(face_facet(face, facet::TYPE)) == symbol::resolve(symbol::make(type));
}

[[noreturn]] void refuse_type(const cell_t* value) {
    cell_t t;
    datatype::make_at(&t, type_of(value));
    fire(err::invalid_type, &t);
}

int32_t symbol_of_word_text(const char* text) { return symbol::resolve(symbol::make(text)); }

bool state_is_block(const cell_t* face) {
    const cell_t* state = face_facet(face, facet::STATE);
    return state != nullptr && type_of(state) == TYPE_block;
}

}  // namespace

void make_view() {
    cell_t* a = stack::arguments;
    widget_t* w = tui::make_view(a, widget_of(a + 1));
    if (w != nullptr) handle::make_at(a, w->handle, handle::kind::WINDOW);
    else handle::make_at(a, 0, handle::kind::NONE);
}

void update_view() {
    cell_t* a = stack::arguments;
    if (type_of(a) == TYPE_object) {
        if (!face_is(a, "screen")) tui::update_view(a);
    } else if (type_of(a) == TYPE_block) {
        // An update may allocate: the block is read again for each face.
        for (int32_t i = 0; i < block::rs_length_q(a); ++i) {
            cell_t* face = stack::push(block::rs_head(a) + i);
            if (type_of(face) != TYPE_object) refuse_type(face);
            if (state_is_block(face)) tui::update_view(face);
            stack::pop(1);
        }
    } else {
        refuse_type(a);
    }
    stack::set_last(&none_value);
}

void destroy_view() {
    cell_t* a = stack::arguments;
    bool empty = type_of(a + 1) == TYPE_logic && logic::get(a + 1);
    if (widget_t* w = face_handle_q(a)) tui::draw_last_state(w);
    destroy_widget(a);
    if (empty) tui::exit_event_loop();
    if (!ui().windows.empty()) ui().redraw = true;
    tui::release_if_idle();
    stack::set_last(&none_value);
}

void redraw() {
    cell_t* a = stack::arguments;
    if (widget_t* w = face_handle_q(a)) mark_redraw(w);
    stack::set_last(&none_value);
}

void refresh_window() {
    cell_t* a = stack::arguments;
    if (widget_t* w = widget_of(a)) mark_redraw(w);
    stack::set_last(&none_value);
}

void show_window() {
    cell_t* a = stack::arguments;
    widget_t* w = widget_of(a);
    window_t* win = w != nullptr ? window_of(w) : nullptr;
    ui_state_t& s = ui();
    auto at = std::find(s.windows.begin(), s.windows.end(), win);
    if (win != nullptr && at != s.windows.end()) {
        auto active = std::find(s.windows.begin(), s.windows.end(), s.active_window);
        if (win != s.active_window && (active == s.windows.end() || active < at) &&
            !(w->flags & widget_flag::HIDDEN)) {
            s.windows.erase(at);
            s.windows.push_back(win);
            pick_active_window();
        }
        s.redraw = true;
    }
    stack::set_last(&none_value);
}

void get_screen_size() {
    screen_size();
    pair::make_at(stack::arguments, screen().term_width, screen().term_height);
}

void size_text() {
    cell_t* a = stack::arguments;
    const cell_t* text = a + 1;
    if (type_of(text) == TYPE_none) text = face_facet(a, facet::TEXT);
    else if (type_of(text) != TYPE_string) refuse_type(text);
    if (text == nullptr || type_of(text) != TYPE_string) {
        stack::set_last(&none_value);
        return;
    }
    text_measure_t m = wrap_columns(text_of(text), 0);
    point2d::make_at(a, static_cast<float>(m.widest), static_cast<float>(m.lines));
}

void text_box_metrics() {
    cell_t* a = stack::arguments;
    if (!face_is(a, "rich-text")) {
        cell_t type = none_value;
        if (const cell_t* t = face_facet(a, facet::TYPE)) type = *t;
        fire(err::face_type, &type);
    }
    cell_t* out = push_text_box_metrics(a, a + 1, integer::get(a + 2));
    stack::set_last(out);
    stack::pop(1);
}

void set_colour_mode() {
    screen().colour_mode = integer::get(stack::arguments);
    stack::set_last(&none_value);
}

void init() {
    ui_state_t& s = ui();
    s.windows.reserve(4);
    s.pressed.reserve(16);
    init_event_loop();
    set_colour_mode();
}

void do_event_loop() {
    cell_t* a = stack::arguments;
    bool one_pass = type_of(a) == TYPE_logic && logic::get(a);
    bool got = do_events(one_pass);
    logic::make_at(stack::arguments, got);
    // A run that Ctrl-C ended hands the halt on to `do-events`, which closes
    // the run's windows.
    if (!one_pass && ui().last_run_halted) {
        ui().last_run_halted = false;
        throw_halt();
    }
}

void exit_event_loop() {
    tui::exit_event_loop();
    stack::set_last(&none_value);
}

// Which changes of a text list's data move its first shown line: the
// removals, after they happened.
void on_change_facet() {
    cell_t* a = stack::arguments;
    cell_t* owner = a;
    int32_t word = symbol_of_word(a + 1);
    int32_t action = symbol_of_word(a + 3);
    int32_t index = type_of(a + 5) == TYPE_integer ? integer::get(a + 5) : 0;
    int32_t part = type_of(a + 6) == TYPE_integer ? integer::get(a + 6) : 0;
    widget_t* w = face_handle_q(owner);
    if (w != nullptr && word == symbol_of_word_text("data")) {
        cell_t* data = face_facet(owner, facet::DATA);
        if (w->kind == symbol_of_word_text("text-list") && type_of(data) == TYPE_block &&
            (action == symbol_of_word_text("removed") || action == symbol_of_word_text("cleared") ||
             action == symbol_of_word_text("taken"))) {
            int32_t count = block::rs_length_q(data);
            int32_t from = std::max(index - static_cast<int32_t>(data->data1), 0);
            if (from < w->kind_data) w->kind_data = from;
            if (from == 0 && count == 0) w->kind_data = 0;
            if (w->kind_data > 0 && w->kind_data >= count) w->kind_data = std::max(count - 1, 0);
            cell_t* selected = face_facet(owner, facet::SELECTED);
            if (selected != nullptr && type_of(selected) == TYPE_integer &&
                integer::get(selected) > count) {
                if (count > 0) integer::make_at(selected, count);
                else *selected = none_value;
            }
        } else if ((w->kind == symbol_of_word_text("drop-list") ||
                    w->kind == symbol_of_word_text("drop-down")) &&
                   part == 0) {
            stack::set_last(&none_value);
            return;
        }
    }
    if (type_of(owner) == TYPE_object && state_is_block(owner)) tui::update_view(owner);
    stack::set_last(&none_value);
}

void update_font() {
    cell_t* a = stack::arguments;
    int32_t flags = type_of(a + 1) == TYPE_integer ? integer::get(a + 1) : -1;
    if (flags == 0 || flags == 1 || flags == 2 || flags == 4 || flags == 6) {
        if (cell_t* state = object_field(a, "state")) *state = none_value;
    }
    stack::set_last(&none_value);
}

void update_para() {
    cell_t* a = stack::arguments;
    cell_t* state = face_facet(a, facet::STATE);
    if (state != nullptr && type_of(state) == TYPE_block && block::rs_length_q(state) >= 2) {
        cell_t b = *state;
        cell_t* changes = block::rs_head(&b) + 1;
        if (type_of(changes) == TYPE_integer)
            integer::make_at(changes, integer::get(changes) | (1 << facet::PARA));
    }
    stack::set_last(&none_value);
}

void draw_image() {
    cell_t* a = stack::arguments;
    if (type_of(a) == TYPE_image && image::width_of(a) > 0 && image::height_of(a) > 0) {
        draw::draw_image(a, a + 1);
        ownership::check(a, words::id::poke, &none_value, -1, 0);
    }
    stack::set_last(&none_value);
}

void detach_image() {
    cell_t* a = stack::arguments;
    if (type_of(a) == TYPE_image && a->data2 != 0) ownership::unset_owner(a);
    stack::set_last(&none_value);
}

}  // namespace zuv::tui::routines
