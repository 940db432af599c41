#include "view/backends/terminal/ui_state.h"

#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/event_types.h"
#include "view/backends/terminal/output.h"

namespace zuv::tui {

namespace {

ui_state_t state;

struct timer_t {
    bool one_shot = false;
    bool fired = false;
    int32_t elapsed = 0;
    int32_t interval = 0;
    uint32_t widget = 0;  // handle value: a destroyed widget's timer finds nothing
    uint64_t id = 0;  // never reused: a tick finds a timer again only by it
};
std::vector<timer_t> timers;
uint64_t next_timer_id = 1;

timer_t* timer_by_id(uint64_t id) {
    for (timer_t& t : timers)
        if (t.id == id) return &t;
    return nullptr;
}

cell_t* field_of(node_t ctx, const char* name) {
    int32_t i = _context::find_word(ctx, symbol::make(name), true);
    return i < 0 ? nullptr : _context::value_at(ctx, i);
}

// system/view/awake, the face model's entry for events.
cell_t* awake_function() {
    cell_t* awake = view_field("awake");
    return awake != nullptr && type_of(awake) == TYPE_function ? awake : nullptr;
}

}  // namespace

ui_state_t& ui() { return state; }

cell_t* object_field(const cell_t* object, const char* name) {
    if (object == nullptr || type_of(object) != TYPE_object) return nullptr;
    return field_of(object::context_of(object), name);
}

cell_t* view_field(const char* name) {
    if (_context::global_node == 0) return nullptr;
    cell_t* system = field_of(_context::global_node, "system");
    return object_field(object_field(system, "view"), name);
}

window_t* window_of(widget_t* w) {
    const int32_t window_sym = symbol::make("window");
    for (; w != nullptr; w = w->parent)
        if (w->kind == window_sym) return reinterpret_cast<window_t*>(w->kind_data);
    return nullptr;
}

void mark_redraw(widget_t* w) {
    if (w == nullptr) w = state.focused;
    window_t* win = window_of(w);
    if (win != nullptr && win == state.active_window) {
        state.redraw = true;
        screen().redraw = true;
    }
}

void set_focus(widget_t* w, window_t* window) {
    if (w == nullptr) return;
    if (window == nullptr) window = window_of(w);
    if (window == nullptr) return;
    if (window != state.active_window) {
        window->focused = w;
        return;
    }
    if (widget_t* old = state.focused; old != nullptr && old != w) {
        uint32_t new_handle = w->handle;
        state.focused = nullptr;
        old->flags &= ~widget_flag::FOCUSED;
        // The focus shows (buttons, check boxes and lists in reverse video):
        // both widgets are drawn anew, whatever their handlers do.
        mark_redraw(old);
        send_widget_event(old, event_type::unfocus);
        if (widget_of_handle(new_handle) != w) return;  // an actor destroyed it
        if (state.focused != nullptr || window != state.active_window) {
            window->focused = w;
            return;
        }
    }
    window->focused = w;
    state.focused = w;
    w->flags |= widget_flag::FOCUSED;
    mark_redraw(w);
    send_widget_event(w, event_type::focus);
}

int32_t dispatch(int32_t type, widget_t* target, int32_t x, int32_t y, int32_t datum,
                 double float_datum, uint32_t flags) {
    cell_t* awake = awake_function();
    if (awake == nullptr || target == nullptr) return 0;
    uint32_t handle = target->handle;
    cell_t face = target->face;
    cell_t callee = *awake;
    cell_t offset{};
    pair::make_at(&offset, x, y);
    cell_t* base = stack::arguments;
    cell_t* top = stack::top_slot;
    call_frame_t* frames = stack::ctop;
    cell_t args[1] = {*event::push_backend(type, flags, &face, &offset, datum, float_datum)};
    cell_t result = none_value;
    bool returned = false;
    stack::mark_try_all(nullptr);
    try {
        returned = interpreter::call_back(&callee, nullptr, args, 1, 0, &result);
    } catch (...) {
        returned = false;
    }
    exits::pending = 0;
    stack::ctop = frames;
    stack::arguments = base;
    stack::top_slot = top;
    const int32_t done_sym = symbol::make("done");
    int32_t answer = 0;
    // `stop` ends the event as `done` does: a Tab that the tab function
    // used must not reach the old face as a key.
    const int32_t stop_sym = symbol::make("stop");
    if (returned && type_of(&result) == TYPE_word) {
        int32_t said = symbol::resolve(word::symbol_of(&result));
        if (said == symbol::resolve(done_sym) || said == symbol::resolve(stop_sym)) answer = 1;
    }
    widget_t* now = face_handle_q(&face);
    if (now == nullptr || now->handle != handle) answer = 2;
    return answer;
}

// The widget's own handler runs Zuv code too (the face's change handlers):
// what escapes it ends here, as for actors.
int32_t send_own_event(widget_t* w, int32_t type, const widget_event_t& e) {
    if (w == nullptr || (w->flags & widget_flag::DISABLED)) return 0;
    if (w->handle_event == nullptr) return 0;
    uint32_t handle = w->handle;
    cell_t* base = stack::arguments;
    cell_t* top = stack::top_slot;
    call_frame_t* frames = stack::ctop;
    int32_t r = 0;
    try {
        r = w->handle_event(type, w, e);
    } catch (...) {
        exits::pending = 0;
        stack::ctop = frames;
        stack::arguments = base;
        stack::top_slot = top;
    }
    return r == 2 || widget_of_handle(handle) != w ? 2 : 0;
}

int32_t send_widget_event(widget_t* w, int32_t type, const widget_event_t& e) {
    if (w == nullptr || (w->flags & widget_flag::DISABLED)) return 0;
    if (send_own_event(w, type, e) == 2) return 2;
    if (type_of(&w->face) != TYPE_object) return 0;
    return dispatch(type, w, e.x, e.y, e.datum, e.wheel, e.flags);
}

void timer_add(widget_t* w, int32_t interval_ms) {
    timer_t t;
    t.interval = interval_ms;
    t.widget = w->handle;
    t.id = next_timer_id++;
    timers.push_back(t);
}

void timer_remove(widget_t* w) {
    for (size_t i = timers.size(); i-- > 0;)
        if (timers[i].widget == w->handle) {
            timers.erase(timers.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

int32_t timer_interval(const widget_t* w) {
    for (size_t i = timers.size(); i-- > 0;)
        if (timers[i].widget == w->handle) return timers[i].interval;
    return -1;
}

// A timer's event runs actors, which may remove timers (their own or
// others) and add new ones: the round visits the timers listed when it
// began, each found again by its id, so a removed timer is never touched
// and one added during the round waits for the next.
void timers_tick(int32_t elapsed_ms) {
    std::vector<uint64_t> round;
    round.reserve(timers.size());
    for (const timer_t& t : timers) round.push_back(t.id);
    for (uint64_t id : round) {
        timer_t* t = timer_by_id(id);
        if (t == nullptr) continue;
        t->elapsed += elapsed_ms;
        if (t->fired || t->elapsed < t->interval) continue;
        uint32_t handle = t->widget;
        t->elapsed = 0;
        if (t->one_shot) t->fired = true;
        if (widget_t* w = widget_of_handle(handle)) send_widget_event(w, event_type::time);
    }
}

size_t timer_count() { return timers.size(); }

}  // namespace zuv::tui
