// The terminal UI's state: shown windows in stacking order, the focus, the
// widgets under the pointer, the redraw request and the timers; and the one
// way events reach a face's actors (dispatch, through `awake`).
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "view/backends/terminal/widget.h"

namespace zuv::tui {

// One shown window: the box its widgets cover, the widget it focuses (kept
// while another window is active) and how many of its widgets show a caret.
struct window_t {
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    widget_t* widget = nullptr;
    widget_t* focused = nullptr;
    int32_t caret_count = 0;
};

struct ui_state_t {
    std::vector<window_t*> windows;  // the last is the topmost
    window_t* active_window = nullptr;
    widget_t* focused = nullptr;
    widget_t* hover = nullptr;
    widget_t* captured = nullptr;
    widget_t* last_made = nullptr;
    std::vector<widget_t*> pressed;
    bool redraw = false;
    // Nesting of running event loops; exit_event_loop lowers it.
    int32_t loop_depth = 0;
    // The pointer's last place, relative to the hover widget.
    float hover_x = 0, hover_y = 0;
    // 0 idle, 2 a click happened (a second may make a double click), 10 a
    // double click was just sent; click_timer counts the ms since the click.
    int32_t click_state = 0;
    int32_t click_timer = 0;
    // Ctrl-C: the running loop leaves its innermost run.
    bool halt = false;
    // The depth of the run a Ctrl-C ended (0 for none): the run notes it
    // when it ends, and its windows are closed with it.
    int32_t halted_depth = 0;
    bool last_run_halted = false;
};

ui_state_t& ui();

// A field of an object (nullptr when it is no object or has no such word),
// and a field of system/view.
cell_t* object_field(const cell_t* object, const char* name);
cell_t* view_field(const char* name);

// The window record of the widget's nearest window ancestor (or its own).
window_t* window_of(widget_t* w);

// Asks for a repaint when the widget's window is the active one (nullptr:
// the focused widget's).
void mark_redraw(widget_t* w);

// Moves the focus to the widget; when its window is not active the widget
// is only remembered as that window's focus.
void set_focus(widget_t* w, window_t* window = nullptr);

// Hands an event to `awake`: 0 go on, 1 an actor answered `done`, 2 the
// target is no longer its face's widget (an actor destroyed or rebuilt it).
// Errors and exits that leave the actors end here.
int32_t dispatch(int32_t type, widget_t* target, int32_t x, int32_t y, int32_t datum,
                 double float_datum, uint32_t flags);
// The widget's own reaction first, then its face's actors; nothing for a
// disabled widget.
int32_t send_widget_event(widget_t* w, int32_t type, const widget_event_t& e = {});
// The widget's own reaction alone (an event whose face has its actors run
// elsewhere); 2 when the widget went or asked to stop.
int32_t send_own_event(widget_t* w, int32_t type, const widget_event_t& e = {});

// Repeating timers that send `time` to their widget.
void timer_add(widget_t* w, int32_t interval_ms);
void timer_remove(widget_t* w);
void timers_tick(int32_t elapsed_ms);
// The interval of the widget's timer, -1 without one.
int32_t timer_interval(const widget_t* w);
size_t timer_count();

}  // namespace zuv::tui
