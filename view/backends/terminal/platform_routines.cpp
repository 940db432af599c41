#include "view/backends/terminal/platform_routines.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
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
    destroy_widget(a);
    if (!ui().windows.empty()) ui().redraw = true;
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

void draw_image() {
    cell_t* a = stack::arguments;
    if (type_of(a) == TYPE_image && image::width_of(a) > 0 && image::height_of(a) > 0) {
        draw::draw_image(a, a + 1);
        ownership::check(a, words::id::poke, &none_value, -1, 0);
    }
    stack::set_last(&none_value);
}

}  // namespace zuv::tui::routines
