// The console while the terminal UI runs: keys arrive byte by byte without
// echo (Ctrl-C as SIGINT, Ctrl-S, Ctrl-Z and Enter as themselves), reads never
// wait, and output keeps its newline translation. The modes found at
// activation come back at deactivation and on every end of the process.
#pragma once

#include <cstdint>

namespace zuv::tui {

// Enters console mode on in_fd and remembers out_fd as the UI's output,
// when both are terminals; then reads the terminal size. Answers whether
// the UI is active. Activating twice keeps the first saved modes.
bool activate(int in_fd, int out_fd);
// Puts the saved modes back; nothing when not active.
void deactivate();
bool active_q();
// The shell's modes while the process is stopped, the UI's again after;
// both safe in a signal handler.
void suspend();
void resume();

// The fd the UI writes to (standard output until activated elsewhere).
int output_fd();

// Reads the terminal size into the screen: 0, or -1 with 80x24 kept when
// the terminal gives none.
int screen_size();

}  // namespace zuv::tui
