#include "view/backends/terminal/widget_tree.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/draw.h"
#include "view/backends/terminal/flags.h"
#include "view/backends/terminal/image_cells.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/ui_state.h"

namespace zuv::tui {

namespace {

// Pending change bits of state/2: bit (facet index).
constexpr int32_t bit(int32_t facet_index) { return 1 << facet_index; }

int32_t sym(const char* text) { return symbol::resolve(symbol::make(text)); }

bool is_true(const cell_t* v) { return type_of(v) == TYPE_logic && logic::get(v); }

// The state block's cells, nullptr when state is no block of at least n.
cell_t* state_cells(const cell_t* face, int32_t n) {
    cell_t* state = face_facet(face, facet::STATE);
    if (state == nullptr || type_of(state) != TYPE_block || block::rs_length_q(state) < n)
        return nullptr;
    cell_t b = *state;
    return block::rs_head(&b);
}

uint32_t widget_bits(const cell_t* flags_facet) {
    uint32_t f = face_flag_bits(flags_facet);
    uint32_t bits = 0;
    if (f & face_flag::FOCUSABLE) bits |= widget_flag::FOCUSABLE;
    if (f & face_flag::ALL_OVER) bits |= widget_flag::ALL_OVER;
    if (f & face_flag::PASSWORD) bits |= widget_flag::PASSWORD;
    if (f & face_flag::FULLSCREEN) bits |= widget_flag::FULLSCREEN;
    return bits;
}

void read_box(widget_t* w, const cell_t* face) {
    float x = 0, y = 0, wd = 0, ht = 0;
    const cell_t* offset = face_facet(face, facet::OFFSET);
    if (type_of(offset) == TYPE_point2d) {
        x = point2d::get_x(offset);
        y = point2d::get_y(offset);
    } else if (type_of(offset) == TYPE_pair) {
        x = static_cast<float>(pair::get_x(offset));
        y = static_cast<float>(pair::get_y(offset));
    }
    const cell_t* size = face_facet(face, facet::SIZE);
    w->flags &= ~widget_flag::INT_SIZE;
    if (type_of(size) == TYPE_pair) {
        wd = static_cast<float>(pair::get_x(size));
        ht = static_cast<float>(pair::get_y(size));
        w->flags |= widget_flag::INT_SIZE;
    } else if (type_of(size) == TYPE_point2d) {
        wd = point2d::get_x(size);
        ht = point2d::get_y(size);
    }
    w->x1 = x;
    w->y1 = y;
    w->x2 = x + wd;
    w->y2 = y + ht;
}

void grow_window_box(window_t* win, widget_t* w) {
    if (win == nullptr) return;
    float ax = 0, ay = 0;
    for (widget_t* p = w->parent; p != nullptr && p != win->widget; p = p->parent) {
        ax += p->x1;
        ay += p->y1;
    }
    win->x2 = std::max(win->x2, ax + w->x2);
    win->y2 = std::max(win->y2, ay + w->y2);
}

// rate: none nothing; an integer n > 0 every 1000 / n ms; a time > 0 its
// length; anything else is refused.
void set_rate(widget_t* w, cell_t* face) {
    timer_remove(w);
    cell_t* rate = face_facet(face, facet::RATE);
    switch (type_of(rate)) {
    case TYPE_none: return;
    case TYPE_integer:
        if (integer::get(rate) > 0) {
            timer_add(w, 1000 / integer::get(rate));
            return;
        }
        break;
    case TYPE_time:
        if (cell::get_float(rate) > 0) {
            timer_add(w, static_cast<int32_t>(cell::get_float(rate) * 1000.0));
            return;
        }
        break;
    default: break;
    }
    fire(err::invalid_facet_type, rate);
}

// A `state` block for a face the caller made none for: handle, change bits.
void install_handle(cell_t* face, widget_t* w) {
    if (cell_t* cells = state_cells(face, 1)) {
        handle::make_at(cells, w->handle, handle::kind::WINDOW);
        return;
    }
    cell_t made{};
    block::make_at(&made, 4);
    cell_t* kept = stack::push(&made);
    handle::make_in(kept, w->handle, handle::kind::WINDOW);
    cell_t zero{};
    integer::make_at(&zero, 0);
    block::rs_append(kept, &zero);
    block::rs_append(kept, &none_value);
    block::rs_append(kept, &false_value);
    if (cell_t* state = face_facet(face, facet::STATE)) *state = *kept;
    stack::pop(1);
}

void draw_tree(widget_t* w, int32_t x, int32_t y, const clip_box_t* parent_clip) {
    const int32_t window_sym = sym("window");
    clip_box_t clip{0, 0, screen().width(), screen().height()};
    if (w->kind != window_sym) {
        clip = clip_box(x, y, static_cast<int32_t>(w->x2 - w->x1),
                        static_cast<int32_t>(w->y2 - w->y1), parent_clip, screen());
        if (w->render != nullptr)
            w->render(x, y, w,
                      parent_clip != nullptr
                          ? *parent_clip
                          : clip_box_t{0, 0, screen().width(), screen().height()});
    }
    cell_t* pane = face_facet(&w->face, facet::PANE);
    if (pane == nullptr || type_of(pane) != TYPE_block) return;
    int32_t n = block::rs_length_q(pane);
    for (int32_t i = 0; i < n; ++i) {
        cell_t b = *face_facet(&w->face, facet::PANE);
        if (type_of(&b) != TYPE_block || i >= block::rs_length_q(&b)) return;
        widget_t* child = face_handle_q(block::rs_head(&b) + i);
        if (child == nullptr || (child->flags & widget_flag::HIDDEN)) continue;
        draw_tree(child, x + static_cast<int32_t>(child->x1), y + static_cast<int32_t>(child->y1),
                  w->kind == window_sym ? nullptr : &clip);
    }
}

}  // namespace

uint32_t para_bits(const cell_t* para) {
    if (type_of(para) != TYPE_object) return 0;
    uint32_t bits = 0;
    auto field = [&](const char* name) -> cell_t* {
        int32_t i = object::find_symbol(para, symbol::make(name));
        return i < 0 ? nullptr : object::get_values(para) + i;
    };
    if (cell_t* a = field("align")) {
        int32_t s = symbol_of_word(a);
        if (s == sym("right")) bits |= para_bit::RIGHT;
        if (s == sym("center")) bits |= para_bit::CENTER;
    }
    if (cell_t* v = field("v-align")) {
        int32_t s = symbol_of_word(v);
        if (s == sym("middle")) bits |= para_bit::MIDDLE;
        if (s == sym("bottom")) bits |= para_bit::BOTTOM;
    }
    if (cell_t* wr = field("wrap?"); wr != nullptr && is_true(wr)) bits |= para_bit::WRAP;
    return bits;
}

namespace {

uint32_t colour_of(const cell_t* c) {
    if (type_of(c) != TYPE_tuple) return 0;
    return rgb_to_256(tuple_rgb(tuple::bytes_of(c), static_cast<size_t>(tuple::length_of(c))));
}

// The string under key in an options block, none when there is none.
cell_t* option(const cell_t* face, const char* key) {
    cell_t* options = face_facet(face, facet::OPTIONS);
    if (options == nullptr || type_of(options) != TYPE_block) return nullptr;
    cell_t b = *options;
    int32_t n = block::rs_length_q(&b);
    cell_t* at = block::rs_head(&b);
    int32_t k = sym(key);
    for (int32_t i = 0; i + 1 < n; ++i)
        if (symbol_of_word(at + i) == k) return at + i + 1;
    return nullptr;
}

// A bad Draw block would fail at every frame: its error is printed once and
// the block skipped until `draw` holds another block (or the same at
// another position).
void run_draw_block(widget_t* w, const clip_box_t& clip, int32_t x, int32_t y) {
    cell_t* draw = face_facet(&w->face, facet::DRAW);
    if (draw == nullptr || type_of(draw) != TYPE_block || block::rs_length_q(draw) <= 0) return;
    if (w->bad_draw_node != 0 && w->bad_draw_node == draw->data2 &&
        w->bad_draw_index == draw->data1)
        return;
    w->bad_draw_node = 0;
    cell_t* base = stack::arguments;
    cell_t* top = stack::top_slot;
    call_frame_t* frames = stack::ctop;
    uint32_t handle = w->handle;
    try {
        draw_block_hook(w, clip, x, y);
    } catch (...) {
        cell_t error = none_value;
        if (stack::top_slot > stack::bottom && stack::top_type() == TYPE_error)
            error = *stack::top();
        exits::pending = 0;
        stack::ctop = frames;
        stack::arguments = base;
        stack::top_slot = top;
        if (widget_of_handle(handle) != w) return;
        draw = face_facet(&w->face, facet::DRAW);
        bool block = draw != nullptr && type_of(draw) == TYPE_block;
        if (block) {
            w->bad_draw_node = draw->data2;
            w->bad_draw_index = draw->data1;
        }
        if (type_of(&error) == TYPE_error) {
            // No code of the user's runs as a face is drawn: the error
            // points at the face's `draw` block, the input it came from.
            cell_t near = block ? *draw : none_value;
            cell_t* kept = stack::push(&error);
            cell_t where = word::make_global(symbol::make("draw"));
            if (block) *error::field(kept, error::FIELD_NEAR) = near;
            *error::field(kept, error::FIELD_WHERE) = where;
            error::print(kept);
            stack::top_slot = top;
        }
    }
}

}  // namespace

draw_block_fn draw_block_hook = draw::draw_block;

void set_facet(const cell_t* face_value, int32_t index, const cell_t* value) {
    cell_t face = *face_value;
    cell_t* slot = face_facet(&face, index);
    if (slot == nullptr) return;
    cell_t old = *slot;
    cell_t now = *value;
    *slot = now;
    cell_t word = _context::field_word(object::context_of(&face), index);
    object::fire_on_set(&face, &word, &old, &now);
}

int32_t symbol_of_word(const cell_t* value) {
    if (!word::any_word_q(type_of(value))) return 0;
    return symbol::resolve(word::symbol_of(value));
}

std::u32string text_of(const cell_t* value) {
    std::u32string out;
    if (!string::any_string_q(type_of(value))) return out;
    int32_t end = string::rs_abs_length_q(value);
    for (int32_t i = static_cast<int32_t>(value->data1); i < end; ++i)
        out += static_cast<char32_t>(string::rs_abs_at(value, i));
    return out;
}

widget_t* make_view(cell_t* face, widget_t* parent) {
    const int32_t window_sym = sym("window");
    cell_t* offset = face_facet(face, facet::OFFSET);
    if (offset != nullptr && type_of(offset) == TYPE_pair)
        point2d::make_at(offset, static_cast<float>(pair::get_x(offset)),
                         static_cast<float>(pair::get_y(offset)));
    int32_t kind = symbol_of_word(face_facet(face, facet::TYPE));
    if (kind == window_sym && offset != nullptr) pair::make_at(offset, 0, 0);

    widget_t* w = new_widget();
    w->kind = kind;
    w->face = *face;
    w->parent = kind == window_sym ? nullptr : parent;
    w->flags = widget_bits(face_facet(face, facet::FLAGS));
    read_box(w, face);
    if (!is_true(face_facet(face, facet::VISIBLE))) w->flags |= widget_flag::HIDDEN;
    if (!is_true(face_facet(face, facet::ENABLED))) w->flags |= widget_flag::DISABLED;
    install_handle(face, w);
    ui().last_made = w;

    if (kind == window_sym) {
        auto* win = new window_t;
        win->widget = w;
        win->x2 = w->x2 - w->x1;
        win->y2 = w->y2 - w->y1;
        w->kind_data = reinterpret_cast<int64_t>(win);
        ui().windows.push_back(win);
        if (w->flags & widget_flag::FULLSCREEN) screen().fullscreen = true;
        if (ui().active_window == nullptr) ui().active_window = win;
        if (ui().focused == nullptr) set_focus(w, win);
    }
    init_kind(w);
    if (w->parent != nullptr) {
        window_t* win = window_of(w);
        grow_window_box(win, w);
        if (win != nullptr) {
            if (w->flags & widget_flag::SHOWS_CARET) ++win->caret_count;
            // A face the layout named for the focus (the window's `selected`)
            // takes it when its widget is made; otherwise the first focusable
            // widget does.
            const cell_t* selected = face_facet(&win->widget->face, facet::SELECTED);
            if (selected != nullptr && face_handle_q(selected) == w) set_focus(w, win);
            else if ((w->flags & widget_flag::FOCUSABLE) &&
                     (win->focused == nullptr || win->focused == win->widget))
                set_focus(w, win);
        }
        if (type_of(face_facet(face, facet::IMAGE)) == TYPE_image) convert_image(w);
    }
    uint32_t handle = w->handle;
    if (type_of(face_facet(face, facet::RATE)) != TYPE_none) set_rate(w, face);
    if (w->update != nullptr && widget_of_handle(handle) == w) w->update(w);
    return widget_of_handle(handle);
}

void update_view(cell_t* face) {
    const int32_t window_sym = sym("window");
    widget_t* w = face_handle_q(face);
    cell_t* cells = state_cells(face, 2);
    if (w == nullptr || cells == nullptr || type_of(cells + 1) != TYPE_integer) return;
    int32_t bits = integer::get(cells + 1);
    integer::make_at(cells + 1, 0);
    uint32_t handle = w->handle;
    bool hid_window = false;
    if (bits & bit(facet::RATE)) set_rate(w, face);
    if (bits & (bit(facet::OFFSET) | bit(facet::SIZE))) {
        read_box(w, face);
        if (w->kind == window_sym) {
            auto* win = reinterpret_cast<window_t*>(w->kind_data);
            win->x2 = std::max(win->x2, w->x2 - w->x1);
            win->y2 = std::max(win->y2, w->y2 - w->y1);
        }
    }
    if ((bits & bit(facet::SELECTED)) && w->kind == window_sym) {
        cell_t* selected = face_facet(face, facet::SELECTED);
        if (widget_t* target = face_handle_q(selected)) set_focus(target);
    }
    if (face_handle_q(face) != w || widget_of_handle(handle) != w) return;
    if (bits & bit(facet::ENABLED)) {
        if (is_true(face_facet(face, facet::ENABLED))) w->flags &= ~widget_flag::DISABLED;
        else w->flags |= widget_flag::DISABLED;
    }
    if (bits & bit(facet::VISIBLE)) {
        bool visible = is_true(face_facet(face, facet::VISIBLE));
        if (visible) w->flags &= ~widget_flag::HIDDEN;
        else w->flags |= widget_flag::HIDDEN;
        if (w->kind == window_sym) {
            auto* win = reinterpret_cast<window_t*>(w->kind_data);
            auto& list = ui().windows;
            if (visible) {
                list.erase(std::remove(list.begin(), list.end(), win), list.end());
                list.push_back(win);
            } else {
                hid_window = true;
            }
        }
    }
    if (bits & bit(facet::FLAGS)) {
        uint32_t now = widget_bits(face_facet(face, facet::FLAGS));
        w->flags = (w->flags & ~(widget_flag::ALL_OVER | widget_flag::PASSWORD)) |
                   (now & (widget_flag::ALL_OVER | widget_flag::PASSWORD));
    }
    // A new size scales the image anew: its cells fill the box row by row.
    if ((bits & bit(facet::IMAGE)) ||
        ((bits & bit(facet::SIZE)) && type_of(face_facet(face, facet::IMAGE)) == TYPE_image))
        convert_image(w);
    if (bits & bit(facet::TEXT)) {
        // Text set other than by editing: the edit state starts again.
        const int32_t field_sym = sym("field");
        if (w->kind == field_sym && w->editing == 0) reset_edit_state(w);
    }
    if (w->update != nullptr) w->update(w);
    if (widget_of_handle(handle) == w) mark_redraw(w);
    if (hid_window) {
        pick_active_window();
        ui().redraw = true;
    }
}

void destroy_widget(cell_t* face) {
    const int32_t window_sym = sym("window");
    widget_t* w = face_handle_q(face);
    if (w == nullptr) return;
    cell_t* pane = face_facet(face, facet::PANE);
    if (pane != nullptr && type_of(pane) == TYPE_block) {
        int32_t n = block::rs_length_q(pane);
        for (int32_t i = 0; i < n; ++i) {
            cell_t b = *face_facet(face, facet::PANE);
            if (type_of(&b) != TYPE_block || i >= block::rs_length_q(&b)) break;
            cell_t child = *(block::rs_head(&b) + i);
            destroy_widget(&child);
        }
    }
    w = face_handle_q(face);
    if (w == nullptr) return;
    timer_remove(w);
    ui_state_t& s = ui();
    if (s.hover == w) s.hover = nullptr;
    if (s.captured == w) s.captured = nullptr;
    if (s.last_made == w) s.last_made = nullptr;
    s.pressed.erase(std::remove(s.pressed.begin(), s.pressed.end(), w), s.pressed.end());
    window_t* win = window_of(w);
    if (win != nullptr && win->focused == w)
        win->focused = w->kind == window_sym ? nullptr : win->widget;
    if (s.focused == w) {
        s.focused = nullptr;
        if (win != nullptr && w->kind != window_sym) {
            s.focused = win->widget;
            win->widget->flags |= widget_flag::FOCUSED;
        }
    }
    if (win != nullptr && (w->flags & widget_flag::SHOWS_CARET) && win->caret_count > 0)
        --win->caret_count;
    if (w->kind == window_sym && win != nullptr) {
        s.windows.erase(std::remove(s.windows.begin(), s.windows.end(), win), s.windows.end());
        if (s.active_window == win) s.active_window = nullptr;
        delete win;
        pick_active_window();
    }
    if (cell_t* state = face_facet(face, facet::STATE)) *state = none_value;
    free_widget(w);
}

void pick_active_window() {
    ui_state_t& s = ui();
    window_t* pick = nullptr;
    for (auto it = s.windows.rbegin(); it != s.windows.rend(); ++it)
        if (!((*it)->widget->flags & widget_flag::HIDDEN)) {
            pick = *it;
            break;
        }
    if (pick == nullptr) {
        if (std::find(s.windows.begin(), s.windows.end(), s.active_window) == s.windows.end()) {
            s.active_window = nullptr;
            s.redraw = false;
        }
        return;
    }
    s.windows.erase(std::remove(s.windows.begin(), s.windows.end(), pick), s.windows.end());
    s.windows.push_back(pick);
    s.active_window = pick;
    s.hover = s.captured = nullptr;
    s.pressed.clear();
    widget_t* focus = pick->focused != nullptr ? pick->focused : pick->widget;
    if (s.focused != nullptr && s.focused != focus) s.focused->flags &= ~widget_flag::FOCUSED;
    s.focused = focus;
    focus->flags |= widget_flag::FOCUSED;
}

void draw_active_window() {
    window_t* win = ui().active_window;
    screen_t& sc = screen();
    if (win == nullptr) return;
    sc.size_to(static_cast<int32_t>(win->x2 - win->x1), static_cast<int32_t>(win->y2 - win->y1));
    sc.caret_col = sc.caret_row = -1;
    sc.caret_shown = ui().focused != nullptr && (ui().focused->flags & widget_flag::SHOWS_CARET);
    draw_tree(win->widget, 0, 0, nullptr);
}

void place_area() {
    screen_t& sc = screen();
    window_t* win = ui().active_window;
    int32_t height = win == nullptr ? 0 : static_cast<int32_t>(win->y2 - win->y1);
    sc.place_inline(std::clamp(height, 0, std::max(sc.term_height, 0)));
}

void render() {
    screen_t& sc = screen();
    place_area();
    if (!ui().redraw && !sc.redraw) return;
    draw_active_window();
    bool caret = sc.caret_shown && (sc.caret_col >= 0 || sc.caret_row >= 0);
    if (!caret && active_q()) show_cursor(false);
    std::fflush(stdout);
    flush_screen();
    if (caret) show_cursor(true);
    ui().redraw = false;
}

int32_t shown_width(const widget_t* w, char32_t c) {
    return (w->flags & widget_flag::PASSWORD) ? 1 : char_width(c);
}

text_measure_t shown_columns(const widget_t* w, std::u32string_view text, int32_t max_width) {
    if (!(w->flags & widget_flag::PASSWORD)) return text_columns(text, max_width);
    int32_t n = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    n = std::clamp(max_width, 0, n);
    return text_measure_t{n, n, 1};
}

void draw_face(int32_t x, int32_t y, widget_t* w, uint32_t draw_flags, const clip_box_t& parent) {
    const cell_t* face = &w->face;
    text_style_t style;
    style.bg = colour_of(face_facet(face, facet::COLOR));
    cell_t* font = face_facet(face, facet::FONT);
    if (font != nullptr && type_of(font) == TYPE_object) {
        int32_t i = object::find_symbol(font, symbol::make("color"));
        if (i >= 0) style.fg = colour_of(object::get_values(font) + i);
    }
    style.para = para_bits(face_facet(face, facet::PARA));
    if (!(draw_flags & draw_flag::CUT)) style.para |= para_bit::WRAP;
    style.flags = draw_flags;
    int32_t wd = static_cast<int32_t>(w->x2 - w->x1), ht = static_cast<int32_t>(w->y2 - w->y1);
    clip_box_t clip = clip_box(x, y, wd, ht, &parent, screen());
    if (clip.x1 >= clip.x2 || clip.y1 >= clip.y2) return;
    fill_box(screen(), clip.x1, clip.y1, clip.x2 - clip.x1, clip.y2 - clip.y1, style.bg);
    if (!w->styled.empty()) {
        // Always wrapped: an image's cells fill the box row by row.
        text_style_t runs = style;
        runs.flags = 0;
        runs.para |= para_bit::WRAP;
        draw_runs(screen(), w->styled.data(), static_cast<int32_t>(w->styled.size()), x, y, clip,
                  runs);
    }
    if (string::any_string_q(type_of(&w->label))) {
        std::u32string label = text_of(&w->label);
        offset_t off = align_text(label, wd, ht, style.para);
        text_style_t label_style = style;
        label_style.flags &= ~draw_flag::NO_TEXT;  // that flag is about `text`
        draw_text(screen(), label, x + off.x, y + off.y, clip, label_style);
    }
    if (draw_flags & draw_flag::NO_TEXT) {
        run_draw_block(w, clip, x, y);
        return;
    }
    cell_t* text = face_facet(face, facet::TEXT);
    text_style_t text_style = style;
    text_style.flags &= ~draw_flag::NO_TEXT;
    std::u32string shown;
    if (text != nullptr && string::any_string_q(type_of(text)) && string::rs_length_q(text) > 0) {
        shown = text_of(text);
        // A scrolled field starts at the character on its left edge.
        size_t skip = 0;
        for (int32_t col = 0; col < w->scroll_col && skip < shown.size(); ++skip)
            col += shown_width(w, shown[skip]);
        // The marks of the last character left out go with it.
        while (skip > 0 && skip < shown.size() && shown_width(w, shown[skip]) == 0) ++skip;
        shown.erase(0, skip);
    } else if (cell_t* hint = option(face, "hint");
               hint != nullptr && string::any_string_q(type_of(hint))) {
        shown = text_of(hint);
        text_style.flags |= draw_flag::DIM;
    }
    if (!shown.empty()) {
        offset_t off = align_text(shown, wd, ht, text_style.para);
        draw_text(screen(), shown, x + off.x, y + off.y, clip, text_style);
    }
    run_draw_block(w, clip, x, y);
}

}  // namespace zuv::tui
