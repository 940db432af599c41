// What each kind of widget prepares, draws and does with events.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "interpreter/interpreter.h"
#include "runtime/stack.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/event_types.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/rich_text.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {

namespace {

int32_t sym(const char* text) { return symbol::resolve(symbol::make(text)); }

constexpr int32_t KEY_LEFT = -23, KEY_RIGHT = -22, KEY_UP = -20, KEY_DOWN = -21;

bool focused(const widget_t* w) { return (w->flags & widget_flag::FOCUSED) != 0; }

// Calls TUI-helpers/name with the face; the answer lands in result.
void call_helper(const char* name, widget_t* w, cell_t* result) {
    *result = none_value;
    if (_context::global_node == 0) return;
    int32_t i = _context::find_word(_context::global_node, symbol::make("TUI-helpers"), true);
    if (i < 0) return;
    cell_t helpers = *_context::value_at(_context::global_node, i);
    if (type_of(&helpers) != TYPE_object) return;
    int32_t f = object::find_symbol(&helpers, symbol::make(name));
    if (f < 0) return;
    cell_t fn = object::get_values(&helpers)[f];
    cell_t args[1] = {w->face};
    interpreter::call_back(&fn, nullptr, args, 1, 0, result);
}

void set_facet(widget_t* w, int32_t index, const cell_t* value) {
    cell_t face = w->face;
    tui::set_facet(&face, index, value);
}

// --- common renderers ---------------------------------------------------------------------

void render_text(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, draw_flag::SGR, parent);
}

void render_plain(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, 0, parent);
}

// --- base ---------------------------------------------------------------------------------

void render_base(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    if (!(w->flags & widget_flag::CARET_HOLDER)) {
        draw_face(x, y, w, draw_flag::SGR, parent);
        return;
    }
    // The caret goes where the base is when the face it names is focused.
    cell_t* options = face_facet(&w->face, facet::OPTIONS);
    if (options == nullptr || type_of(options) != TYPE_block) return;
    cell_t b = *options;
    int32_t n = block::rs_length_q(&b);
    const cell_t* at = block::rs_head(&b);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        if (symbol_of_word(at + i) != sym("caret")) continue;
        widget_t* target = face_handle_q(at + i + 1);
        if (target != nullptr && focused(target)) {
            screen().caret_col = x;
            screen().caret_row = y;
        }
    }
}

void init_base(widget_t* w) {
    w->render = render_base;
    cell_t* options = face_facet(&w->face, facet::OPTIONS);
    if (options == nullptr || type_of(options) != TYPE_block) return;
    cell_t b = *options;
    int32_t n = block::rs_length_q(&b);
    if (n % 2 != 0) return;
    const cell_t* at = block::rs_head(&b);
    for (int32_t i = 0; i < n; i += 2) {
        if (symbol_of_word(at + i) != sym("caret")) continue;
        w->flags |= widget_flag::CARET_HOLDER;
        if (widget_t* target = face_handle_q(at + i + 1)) target->flags |= widget_flag::SHOWS_CARET;
    }
}

// --- field --------------------------------------------------------------------------------

int32_t field_width(const widget_t* w) { return static_cast<int32_t>(w->x2 - w->x1); }

// Text wider than the field scrolls: the caret stays in view and the
// field shows as much of the text as fits. The left edge falls on a
// character's first column, so a wide character is never shown in half.
void scroll_field(widget_t* w) {
    int32_t width = field_width(w);
    int32_t want = w->scroll_col;
    if (width <= 0) {
        want = 0;
    } else {
        want = std::min(want, w->cursor_col);
        want = std::max(want, w->cursor_col - width + 1);
        want = std::min(want, std::max(w->text_width - width + 1, 0));
        want = std::max(want, 0);
    }
    int32_t col = 0;
    if (want > 0) {
        std::u32string text = text_of(face_facet(&w->face, facet::TEXT));
        for (size_t i = 0; i < text.size() && col < want; ++i) col += shown_width(w, text[i]);
    }
    w->scroll_col = col;
}

void render_field(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    w->y2 = w->y1 + 1;
    scroll_field(w);
    uint32_t flags = draw_flag::SGR | ((w->flags & widget_flag::PASSWORD) ? draw_flag::MASKED : 0);
    draw_face(x, y, w, flags, parent);
    if (focused(w)) {
        screen().caret_col = x + w->cursor_col - w->scroll_col;
        screen().caret_row = y;
    }
}

// The face's text as a string of its own, made one when it is not.
cell_t* field_text(widget_t* w) {
    cell_t* text = face_facet(&w->face, facet::TEXT);
    if (text != nullptr && type_of(text) == TYPE_string) return text;
    cell_t made{};
    string::make_at(&made, 16);
    cell_t* kept = stack::push(&made);
    ++w->editing;
    set_facet(w, facet::TEXT, kept);
    --w->editing;
    stack::pop(1);
    return face_facet(&w->face, facet::TEXT);
}

int32_t field_event(int32_t type, widget_t* w, const widget_event_t& e) {
    if (type == event_type::click) {
        std::u32string text = text_of(field_text(w));
        text_measure_t m = shown_columns(w, text, std::max(e.x + w->scroll_col, 0));
        w->cursor_index = m.count;
        w->cursor_col = m.widest;
        mark_redraw(w);
        return 0;
    }
    if (type != event_type::key) return 0;
    int32_t key = e.datum;
    if (key == 0 || key == 9 || key == 13) return 0;
    cell_t* text = field_text(w);
    std::u32string now = text_of(text);
    int32_t length = static_cast<int32_t>(now.size());
    if (key == KEY_LEFT || key == 2) {
        if (w->cursor_index > 0) {
            --w->cursor_index;
            w->cursor_col -= shown_width(w, now[w->cursor_index]);
        }
    } else if (key == KEY_RIGHT || key == 6) {
        if (w->cursor_index < length) {
            w->cursor_col += shown_width(w, now[w->cursor_index]);
            ++w->cursor_index;
        }
    } else if (key == 8 || key == 127) {
        if (w->cursor_index > 0) {
            int32_t cw = shown_width(w, now[w->cursor_index - 1]);
            cell_t at = *text;
            at.data1 += static_cast<uint32_t>(w->cursor_index - 1);
            ++w->editing;
            actions::remove(&at, nullptr, nullptr);
            --w->editing;
            --w->cursor_index;
            w->cursor_col -= cw;
            w->text_width -= cw;
        }
    } else if (key == 10 || (key > 0 && key < 32) || key < 0) {
        return 0;
    } else {
        int32_t cw = shown_width(w, static_cast<char32_t>(key));
        cell_t at = *text;
        at.data1 += static_cast<uint32_t>(w->cursor_index);
        cell_t c;
        char_::make_at(&c, static_cast<uint32_t>(key));
        ++w->editing;
        actions::insert(&at, &c, -1, false, 1);
        --w->editing;
        ++w->cursor_index;
        w->cursor_col += cw;
        w->text_width += cw;
    }
    mark_redraw(w);
    return 0;
}

// --- button -------------------------------------------------------------------------------

void render_button(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, draw_flag::SGR | (focused(w) ? draw_flag::INVERSE : 0), parent);
}

int32_t button_event(int32_t type, widget_t* w, const widget_event_t& e) {
    if (type != event_type::key || e.datum != ' ') return 0;
    uint32_t handle = w->handle;
    int32_t r = dispatch(event_type::click, w, 0, 0, 0, 0.0, 0);
    // A click that destroyed the button leaves nothing to redraw.
    if (widget_of_handle(handle) == w) mark_redraw(w);
    return r == 2 ? 2 : 0;
}

// --- progress, check, radio ---------------------------------------------------------------

void update_progress(widget_t* w) {
    cell_t result{};
    call_helper("make-progress-ui", w, &result);
}

void update_check(widget_t* w) {
    cell_t result{};
    call_helper("make-checkbox-ui", w, &result);
    if (string::any_string_q(type_of(&result))) w->label = result;
}

void update_radio(widget_t* w) {
    cell_t result{};
    call_helper("make-radio-ui", w, &result);
    if (string::any_string_q(type_of(&result))) w->label = result;
}

void render_mark(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, draw_flag::SGR | draw_flag::NO_TEXT | (focused(w) ? draw_flag::INVERSE : 0),
              parent);
}

// A check box toggles, a radio is set. A click on a radio sends no
// `change` of its own: the library's radio handler sends one.
int32_t mark_event(int32_t type, widget_t* w, const widget_event_t& e) {
    bool space = type == event_type::key && e.datum == ' ';
    if (!space && type != event_type::click) return 0;
    bool radio = w->kind == sym("radio");
    cell_t* data = face_facet(&w->face, facet::DATA);
    cell_t now{};
    if (radio) logic::make_at(&now, true);
    else if (type_of(data) == TYPE_none) logic::make_at(&now, true);
    else if (type_of(data) == TYPE_logic) logic::make_at(&now, !logic::get(data));
    else logic::make_at(&now, false);
    uint32_t handle = w->handle;
    set_facet(w, facet::DATA, &now);
    if (widget_of_handle(handle) != w) return 2;
    if (w->update != nullptr) w->update(w);
    mark_redraw(w);
    if (radio && !space) return 0;
    return dispatch(event_type::change, w, 0, 0, 0, 0.0, 0) == 2 ? 2 : 0;
}

// --- text list ----------------------------------------------------------------------------

int32_t list_count(const cell_t* data) {
    switch (type_of(data)) {
    case TYPE_block:
    case TYPE_hash: return block::rs_length_q(data);
    case TYPE_map: return actions::length_q(const_cast<cell_t*>(data));
    default: return 0;
    }
}

void prepare_list(widget_t* w) {
    cell_t* data = face_facet(&w->face, facet::DATA);
    bool same = type_of(data) == type_of(&w->last_data) && data->data1 == w->last_data.data1 &&
                data->data2 == w->last_data.data2;
    if (!same) {
        w->last_data = *data;
        w->kind_data = 0;
    }
    if (w->kind_data >= list_count(data)) w->kind_data = 0;
    cell_t result{};
    call_helper("make-text-list-ui", w, &result);
}

// The highlight is an escape sequence in the label.
void render_list(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, draw_flag::SGR | draw_flag::CUT, parent);
}

int32_t selected_of(widget_t* w) {
    cell_t* s = face_facet(&w->face, facet::SELECTED);
    return type_of(s) == TYPE_integer ? integer::get(s) : 0;
}

int32_t list_event(int32_t type, widget_t* w, const widget_event_t& e) {
    // The highlight shows where the focus is: it comes and goes with it.
    if (type == event_type::focus || type == event_type::unfocus) {
        prepare_list(w);
        mark_redraw(w);
        return 0;
    }
    int32_t count = list_count(face_facet(&w->face, facet::DATA));
    int32_t old = selected_of(w);
    int32_t now = old;
    int32_t height = static_cast<int32_t>(w->y2 - w->y1);
    if (type == event_type::key && e.datum == KEY_UP) {
        now = std::max(old - 1, 1);
        if (now - 1 < w->kind_data) w->kind_data = now - 1;
    } else if (type == event_type::key && e.datum == KEY_DOWN) {
        now = std::min(old + 1, count);
        if (now - 1 >= w->kind_data + height) w->kind_data = now - height;
    } else if (type == event_type::click) {
        now = static_cast<int32_t>(w->kind_data) + e.y + 1;
        if (now > count) return 0;  // below the last item
    } else {
        return 0;
    }
    if (now == old || now < 1) return 0;
    uint32_t handle = w->handle;
    int32_t r = dispatch(event_type::select, w, e.x, e.y, now, 0.0, 0);
    if (r == 2 || widget_of_handle(handle) != w) return 2;
    if (selected_of(w) != old) return 0;
    cell_t value{};
    integer::make_at(&value, now);
    set_facet(w, facet::SELECTED, &value);
    if (widget_of_handle(handle) != w) return 2;
    prepare_list(w);
    mark_redraw(w);
    if (r == 0) return dispatch(event_type::change, w, e.x, e.y, now, 0.0, 0) == 2 ? 2 : 0;
    return 0;
}

// --- group box ----------------------------------------------------------------------------

void render_group_box(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, draw_flag::NO_TEXT, parent);
    int32_t wd = static_cast<int32_t>(w->x2 - w->x1), ht = static_cast<int32_t>(w->y2 - w->y1);
    if (wd < 1 || ht < 1) return;
    clip_box_t clip = clip_box(x, y, wd, ht, &parent, screen());
    uint32_t fg = 0;
    bool round = false;
    cell_t* options = face_facet(&w->face, facet::OPTIONS);
    if (options != nullptr && type_of(options) == TYPE_block) {
        cell_t b = *options;
        int32_t n = block::rs_length_q(&b);
        const cell_t* at = block::rs_head(&b);
        for (int32_t i = 0; i + 1 < n; ++i) {
            int32_t key = symbol_of_word(at + i);
            if (key == sym("border-color") && type_of(at + i + 1) == TYPE_tuple)
                fg = rgb_to_256(tuple_rgb(tuple::bytes_of(at + i + 1),
                                          static_cast<size_t>(tuple::length_of(at + i + 1))));
            if (key == sym("border-corners") && symbol_of_word(at + i + 1) == sym("round"))
                round = true;
        }
    }
    auto put = [&](int32_t cx, int32_t cy, char32_t c) {
        if (cx < clip.x1 || cx >= clip.x2 || cy < clip.y1 || cy >= clip.y2) return;
        tui_cell_t* cell = screen().at(cx, cy);
        if (cell == nullptr) return;
        cell->code = static_cast<int32_t>(c);
        cell->fg = fg;
        cell->attrs = 0;
    };
    for (int32_t i = 1; i < wd - 1; ++i) {
        put(x + i, y, U'\u2500');
        put(x + i, y + ht - 1, U'\u2500');
    }
    for (int32_t j = 1; j < ht - 1; ++j) {
        put(x, y + j, U'\u2502');
        put(x + wd - 1, y + j, U'\u2502');
    }
    put(x, y, round ? U'\u256D' : U'\u250C');
    put(x + wd - 1, y, round ? U'\u256E' : U'\u2510');
    put(x, y + ht - 1, round ? U'\u2570' : U'\u2514');
    put(x + wd - 1, y + ht - 1, round ? U'\u256F' : U'\u2518');
    // The title sits on the top edge.
    std::u32string title = text_of(face_facet(&w->face, facet::TEXT));
    if (!title.empty() && wd > 2) {
        text_style_t style;
        style.fg = fg;
        draw_text(screen(), title, x + 1, y,
                  clip_box_t{x + 1, y, std::min(x + wd - 1, clip.x2), y + 1}, style);
    }
}

// --- rich text ----------------------------------------------------------------------------

void update_rich_text(widget_t* w) { layout_styled_text(w->styled, &w->face); }

// The runs hold the text: drawn plain, the text would cover their styles.
void render_rich_text(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent) {
    draw_face(x, y, w, w->styled.empty() ? 0 : draw_flag::NO_TEXT, parent);
}

// The kinds the terminal has no drawing of: the focus would vanish on them.
bool drawn_kind(int32_t kind) {
    static const char* const undrawn[] = {"slider",    "scroller", "drop-list", "drop-down",
                                          "tab-panel", "calendar", "camera"};
    for (const char* name : undrawn)
        if (kind == sym(name)) return false;
    return true;
}

}  // namespace

void reset_edit_state(widget_t* w) {
    cell_t* text = face_facet(&w->face, facet::TEXT);
    w->cursor_index = w->cursor_col = w->text_width = w->scroll_col = 0;
    if (text == nullptr || !string::any_string_q(type_of(text))) return;
    text_measure_t m = shown_columns(w, text_of(text), NO_LIMIT);
    w->cursor_index = m.count;
    w->cursor_col = w->text_width = m.widest;
}

void init_kind(widget_t* w) {
    w->render = render_text;
    if (!drawn_kind(w->kind)) w->flags &= ~widget_flag::FOCUSABLE;
    if (w->kind == sym("window")) {
        w->render = nullptr;
    } else if (w->kind == sym("base")) {
        init_base(w);
    } else if (w->kind == sym("field")) {
        w->flags |= widget_flag::SHOWS_CARET;
        reset_edit_state(w);
        w->render = render_field;
        w->handle_event = field_event;
    } else if (w->kind == sym("button")) {
        w->render = render_button;
        w->handle_event = button_event;
    } else if (w->kind == sym("progress")) {
        w->update = update_progress;
        w->render = render_plain;
    } else if (w->kind == sym("check")) {
        w->update = update_check;
        w->render = render_mark;
        w->handle_event = mark_event;
    } else if (w->kind == sym("radio")) {
        w->update = update_radio;
        w->render = render_mark;
        w->handle_event = mark_event;
    } else if (w->kind == sym("text-list")) {
        w->update = prepare_list;
        w->render = render_list;
        w->handle_event = list_event;
    } else if (w->kind == sym("group-box")) {
        w->render = render_group_box;
    } else if (w->kind == sym("rich-text")) {
        w->update = update_rich_text;
        w->render = render_rich_text;
    }
}

namespace routines {

void drawn_q() {
    cell_t* a = stack::arguments;
    const cell_t* type = face_facet(a, facet::TYPE);
    logic::make_at(a, type == nullptr || drawn_kind(symbol_of_word(type)));
}

}  // namespace routines

}  // namespace zuv::tui
