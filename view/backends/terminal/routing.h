// Routing of decoded input to widgets and their faces: keys to the focus,
// pointer motion to the widget under the pointer (hover) and to the widget
// a button went down on (capture), buttons down the widget tree with click
// and double-click detection, the wheel to the deepest enabled face.
//
// An event reaches `awake` once: `awake` bubbles it to the parent faces
// itself. Widgets further up the path get only their own reaction (a
// panel's on-down must not run twice for a click on its button). Actors may
// destroy widgets at any dispatch, so widgets are held across dispatches by
// handle and looked up again after each.
#pragma once

#include <cstdint>

#include "view/backends/terminal/widget.h"

namespace zuv::tui {

// key-down, then key, then the widget's own key handler, each only when the
// one before did not end the event. w nullptr: the focused widget.
void send_key(widget_t* w, int32_t key, uint32_t flags);

// Pointer motion at (x, y) relative to w. capture: also offered to the
// widget that holds the pointer.
int32_t mouse_over(widget_t* w, float x, float y, uint32_t flags, bool capture);

// type 1 down, 2 up, 3/4 middle, 5/6 right, at (x, y) relative to w.
void mouse_button(int32_t type, widget_t* w, float x, float y, uint32_t flags);

void mouse_wheel(int32_t delta, widget_t* w, float x, float y, uint32_t flags);

// The topmost visible child of w whose box holds (x, y), relative to w.
widget_t* hit_test(widget_t* w, float x, float y);

// The terminal's size changed: the screen face learns it and every window
// gets `resize`.
void terminal_resized();

}  // namespace zuv::tui
