// The user interface's steps that layers below it run: the console printer
// brackets every write with before_print and after_print, so that printed
// text and a live terminal UI never draw over each other, and `wait` runs
// poll_events, one pass of the UI's event loop, so that a window stays
// responsive while a script waits; the console runs before_read before it
// reads a line, so that a window left shown gives the terminal back.
//
// The UI sits above the runtime and the natives, so they reach it only
// through these hooks, which start-up installs (the terminal backend's
// tui::before_print, after_print, poll_events and before_read); until then each does
// nothing.
#pragma once

namespace zuv::ui_hooks {

using step_t = void (*)();

extern step_t before_print;
extern step_t after_print;
extern step_t poll_events;
extern step_t before_read;

}  // namespace zuv::ui_hooks
