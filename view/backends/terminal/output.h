// What the terminal UI sends to the terminal: the repainted screen in one
// write, cursor and mode sequences, and the hand-over around ordinary
// printing while an inline window is shown.
#pragma once

#include <cstddef>
#include <string>

#include "view/backends/terminal/screen.h"

namespace zuv::tui {

// The one screen of the UI.
screen_t& screen();

// Writes all of the bytes to the UI's output. A failure on standard output
// ends the process as any lost output does.
void write(const char* bytes, size_t count);

void set_mode(int n);  // "\033[?nh"
void reset_mode(int n);  // "\033[?nl"

// Shows or hides the terminal cursor, sending only a change.
void show_cursor(bool shown);

// The alternate screen: entered once (and cleared), left at the end.
void enter_fullscreen();
void leave_fullscreen();
// What a restore must undo (read from signal handlers too).
bool cursor_hidden_q();
bool fullscreen_entered_q();
// After a restore that wrote its own sequences: the cursor is shown and the
// alternate screen left.
void forget_terminal_modes();

// Writes the screen's grid in one write; the screen is then drawn and no
// redraw is pending.
void flush_screen();

}  // namespace zuv::tui
