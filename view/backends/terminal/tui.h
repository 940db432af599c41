// The terminal UI: the steps the print path calls around every write, and
// the pass of its event loop that `wait` runs.
//
// When the terminal UI is drawn inline in the console, printed text must not
// land inside it: before_print clears the drawn area, after_print has it drawn
// again below the text. While no terminal UI is shown both return at once.
#pragma once

namespace zuv::tui {

void before_print();
void after_print();

// One pass of the UI's event loop, so that a script that waits while a
// window is shown keeps the window responsive. It runs poll_hook, which is
// empty while no terminal UI exists; the backend (or a test) sets it.
using poll_hook_t = void (*)();
extern poll_hook_t poll_hook;
void poll_events();

// Gives the terminal back before the console reads a line: a window shown
// by view/no-wait keeps it only while the script runs (release_hook, empty
// while no terminal UI exists). The next pass takes it again.
extern poll_hook_t release_hook;
void before_read();

}  // namespace zuv::tui
