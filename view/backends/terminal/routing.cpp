#include "view/backends/terminal/routing.h"

#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/event_types.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {

namespace {

// Whether a is a strict ancestor of b.
bool ancestor_of(const widget_t* a, const widget_t* b) {
    if (a == nullptr || b == nullptr) return false;
    for (const widget_t* p = b->parent; p != nullptr; p = p->parent)
        if (p == a) return true;
    return false;
}

widget_event_t at(float x, float y, uint32_t flags) {
    widget_event_t e;
    e.x = static_cast<int32_t>(x);
    e.y = static_cast<int32_t>(y);
    e.flags = flags;
    return e;
}

// One motion report on its way down the tree: which widgets got `over`.
struct motion_t {
    uint32_t flags = 0;
    bool sent = false;
    std::vector<uint32_t> reached;

    int32_t send(widget_t* w, float x, float y, uint32_t extra = 0) {
        sent = true;
        reached.push_back(w->handle);
        return send_widget_event(w, event_type::over, at(x, y, flags | extra));
    }
    bool reached_q(const widget_t* w) const {
        return std::find(reached.begin(), reached.end(), w->handle) != reached.end();
    }
};

int32_t over(widget_t* w, float x, float y, motion_t& m, bool top) {
    ui_state_t& s = ui();
    const uint32_t handle = w->handle;
    // Entering the window: it hears the pointer arrive.
    if (top && s.hover == nullptr) {
        if (m.send(w, x, y) == 2) return 2;
        if ((w = widget_of_handle(handle)) == nullptr) return 2;
    }
    int32_t result = 0;
    if (widget_t* child = hit_test(w, x, y)) {
        result = over(child, x - child->x1, y - child->y1, m, false);
        if (result == 2 || (w = widget_of_handle(handle)) == nullptr) return 2;
    } else {
        if (w != s.hover) {
            widget_t* old = s.hover;
            uint32_t old_handle = old != nullptr ? old->handle : 0;
            if (old != nullptr && !ancestor_of(old, w)) {
                if (old == s.captured) old->flags |= widget_flag::AWAY;
                if (m.send(old, s.hover_x, s.hover_y, event::flag::AWAY) == 2) return 2;
                if ((w = widget_of_handle(handle)) == nullptr) return 2;
            }
            old = widget_of_handle(old_handle);
            if (!ancestor_of(w, old)) {
                w->flags &= ~widget_flag::AWAY;
                if (!m.reached_q(w)) {
                    result = m.send(w, x, y);
                    if (result == 2 || (w = widget_of_handle(handle)) == nullptr) return 2;
                }
            }
            s.hover = w;
        }
        s.hover_x = x;
        s.hover_y = y;
    }
    // All-over widgets see every move; the innermost one gets it, and
    // `awake` bubbles it to the faces above.
    if (result == 0 && !m.sent && (w->flags & widget_flag::ALL_OVER)) result = m.send(w, x, y);
    return result;
}

// The absolute origin of a widget: its box origin and its ancestors' below
// the window.
void origin_of(const widget_t* w, float& x, float& y) {
    x = y = 0;
    for (; w != nullptr && w->parent != nullptr; w = w->parent) {
        x += w->x1;
        y += w->y1;
    }
}

// Motion while a button is held, offered to the widget it went down on.
void capture_move(float x, float y, motion_t& m) {
    ui_state_t& s = ui();
    widget_t* c = s.captured;
    if (c == nullptr) return;
    if (s.hover == c || ancestor_of(c, s.hover)) {
        c->flags &= ~widget_flag::AWAY;
        return;
    }
    float ox, oy;
    origin_of(c, ox, oy);
    if (!(c->flags & widget_flag::AWAY)) {
        c->flags |= widget_flag::AWAY;
        if (!m.reached_q(c)) m.send(c, x - ox, y - oy, event::flag::AWAY);
        return;
    }
    if ((c->flags & widget_flag::ALL_OVER) && !m.reached_q(c))
        m.send(c, x - ox, y - oy, event::flag::AWAY);
}

// A widget on the way down, with the point relative to it.
struct step_t {
    uint32_t handle;
    float x, y;
};

// From the deepest widget under the point up to w.
std::vector<step_t> path_down(widget_t* w, float x, float y) {
    std::vector<step_t> path;
    path.push_back({w->handle, x, y});
    while (widget_t* child = hit_test(w, x, y)) {
        x -= child->x1;
        y -= child->y1;
        path.push_back({child->handle, x, y});
        w = child;
    }
    std::reverse(path.begin(), path.end());
    return path;
}

widget_t* live(const step_t& step) { return widget_of_handle(step.handle); }

// The deepest widget gets the event whole (own reaction and `awake`);
// those above only their own reaction, as `awake` bubbles to their faces.
int32_t send_on_path(widget_t* w, bool deepest, int32_t type, const widget_event_t& e) {
    return deepest ? send_widget_event(w, type, e) : send_own_event(w, type, e);
}

// at_x and at_y: where the release happened, in screen cells, when no motion
// report told the captured widget it was left (else the last hover place).
void release_capture(bool at_release, float at_x, float at_y) {
    ui_state_t& s = ui();
    if (widget_t* c = s.captured; c != nullptr && (c->flags & widget_flag::AWAY)) {
        float ox, oy;
        origin_of(c, ox, oy);
        // The pointer's place is known relative to the hover widget only.
        float hx = s.hover_x, hy = s.hover_y;
        if (at_release) {
            hx = at_x;
            hy = at_y;
        } else if (s.hover != nullptr) {
            float px, py;
            origin_of(s.hover, px, py);
            hx += px;
            hy += py;
        }
        send_widget_event(c, event_type::up, at(hx - ox, hy - oy, 0));
    }
    widget_t* c = s.captured;
    widget_t* h = s.hover;
    if (c != nullptr && h != nullptr && c != h && !ancestor_of(h, c))
        send_widget_event(h, event_type::over, at(s.hover_x, s.hover_y, 0));
    s.captured = nullptr;
    s.pressed.clear();
    s.click_state = s.click_state == 10 ? 0 : 2;
    s.click_timer = 0;
}

void send_clicks(const std::vector<step_t>& path, uint32_t flags) {
    ui_state_t& s = ui();
    bool deeper_double = false;
    bool first = true;
    for (const step_t& step : path) {
        widget_t* v = live(step);
        if (v == nullptr || std::find(s.pressed.begin(), s.pressed.end(), v) == s.pressed.end())
            continue;
        bool twice = (s.click_state == 2 && s.click_timer < 500) || deeper_double;
        widget_event_t e = at(step.x, step.y, flags);
        int32_t r = send_on_path(v, first, event_type::click, e);
        if (twice && r != 2 && (v = live(step)) != nullptr) {
            int32_t r2 = send_on_path(v, first, event_type::dbl_click, e);
            if (r == 0) r = r2;
            deeper_double = true;
            s.click_state = 10;
        }
        first = false;
        if (r != 0) break;
    }
    if (path.empty()) return;
    widget_t* d = live(path.front());
    if (d != nullptr && (d->flags & widget_flag::FOCUSABLE) && !(d->flags & widget_flag::FOCUSED))
        set_focus(d);
}

}  // namespace

widget_t* hit_test(widget_t* w, float x, float y) {
    cell_t* pane = face_facet(&w->face, facet::PANE);
    if (pane == nullptr || type_of(pane) != TYPE_block) return nullptr;
    cell_t b = *pane;
    const cell_t* faces = block::rs_head(&b);
    for (int32_t i = block::rs_length_q(&b); i-- > 0;) {
        widget_t* child = face_handle_q(faces + i);
        if (child == nullptr || (child->flags & widget_flag::HIDDEN)) continue;
        if (child->x1 <= x && x < child->x2 && child->y1 <= y && y < child->y2) return child;
    }
    return nullptr;
}

void send_key(widget_t* w, int32_t key, uint32_t flags) {
    if (w == nullptr) w = ui().focused;
    if (w == nullptr || (w->flags & widget_flag::DISABLED) || key == 0) return;
    const uint32_t handle = w->handle;
    widget_event_t e;
    e.datum = key;
    e.flags = flags;
    if (dispatch(event_type::key_down, w, 0, 0, key, 0.0, flags) != 0) return;
    if ((w = widget_of_handle(handle)) == nullptr) return;
    if (dispatch(event_type::key, w, 0, 0, key, 0.0, flags) != 0) return;
    if ((w = widget_of_handle(handle)) == nullptr) return;
    send_own_event(w, event_type::key, e);
}

int32_t mouse_over(widget_t* w, float x, float y, uint32_t flags, bool capture) {
    motion_t m;
    m.flags = flags;
    int32_t r = over(w, x, y, m, true);
    if (capture && r != 2) capture_move(x, y, m);
    return r;
}

void mouse_button(int32_t type, widget_t* w, float x, float y, uint32_t flags) {
    ui_state_t& s = ui();
    const bool up = type == event_type::up;
    std::vector<step_t> path;
    if (!(up && s.captured != nullptr && (s.captured->flags & widget_flag::AWAY)))
        path = path_down(w, x, y);
    // A release off the captured widget with no motion report between (a
    // terminal that reports no drags, input that jumps): it was left all the
    // same, and is released as one left by motion, so it never keeps a press
    // without its release.
    bool left_unseen = false;
    if (up && s.captured != nullptr && !path.empty() &&
        std::none_of(path.begin(), path.end(),
                     [&](const step_t& st) { return st.handle == s.captured->handle; })) {
        s.captured->flags |= widget_flag::AWAY;
        path.clear();
        left_unseen = true;
    }
    bool stopped = false;
    if (!path.empty() && type == event_type::down) {
        if (widget_t* d = live(path.front())) {
            d->flags &= ~widget_flag::AWAY;
            s.captured = d;
            if (d != s.hover) {
                const step_t& f = path.front();
                stopped = send_widget_event(d, event_type::over, at(f.x, f.y, flags)) == 2;
            }
        }
    }
    for (size_t i = 0; i < path.size() && !stopped; ++i) {
        widget_t* v = live(path[i]);
        if (v == nullptr) continue;
        if (send_on_path(v, i == 0, type, at(path[i].x, path[i].y, flags)) != 0) break;
    }
    if (type == event_type::down) {
        for (const step_t& step : path)
            if (widget_t* v = live(step)) s.pressed.push_back(v);
        return;
    }
    if (!up) return;  // middle and right buttons: no capture, no clicks
    send_clicks(path, flags);
    float wx = 0, wy = 0;
    if (left_unseen) origin_of(w, wx, wy);
    release_capture(left_unseen, wx + x, wy + y);
}

void mouse_wheel(int32_t delta, widget_t* w, float x, float y, uint32_t flags) {
    for (const step_t& step : path_down(w, x, y)) {
        widget_t* v = live(step);
        if (v == nullptr || type_of(&v->face) != TYPE_object || (v->flags & widget_flag::DISABLED))
            continue;
        widget_event_t e = at(step.x, step.y, flags);
        e.wheel = delta;
        send_widget_event(v, event_type::wheel, e);
        return;
    }
}

void terminal_resized() {
    screen_size();
    screen_t& sc = screen();
    cell_t* screens = view_field("screens");
    if (screens != nullptr && type_of(screens) == TYPE_block && block::rs_length_q(screens) > 0) {
        cell_t face = *block::rs_head(screens);
        cell_t size{};
        pair::make_at(&size, sc.term_width, sc.term_height);
        cell_t* base = stack::arguments;
        cell_t* top = stack::top_slot;
        call_frame_t* frames = stack::ctop;
        try {
            set_facet(&face, facet::SIZE, &size);
        } catch (...) {
            exits::pending = 0;
            stack::ctop = frames;
            stack::arguments = base;
            stack::top_slot = top;
        }
    }
    if (!active_q()) return;
    std::vector<uint32_t> windows;
    for (window_t* win : ui().windows) windows.push_back(win->widget->handle);
    for (uint32_t handle : windows)
        if (widget_t* w = widget_of_handle(handle)) send_widget_event(w, event_type::resize);
    ui().redraw = true;
    sc.redraw = true;
    if (sc.fullscreen) render();
}

}  // namespace zuv::tui
