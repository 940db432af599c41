// UI mode: what the outermost run of the event loop (or a view/no-wait
// window) sets on the terminal besides console mode (mouse reporting, the
// alternate screen, a hidden cursor), and its end on every way out: the
// loop's end, the runtime's exit hooks, and the signals that end or stop
// the process. Signal handlers read and change the state kept here, so it
// lives in volatile flags and is undone with system calls alone.
//
// A signal sent to the process may reach either of its threads, and the
// one that started the runtime only waits for it. One that ends the
// process is handled on the runtime's own thread, which so stops drawing
// while the terminal is given back; the process then dies by the signal.
#pragma once

#include <csignal>

namespace zuv::tui {

struct ui_mode_t {
    // The terminal's modes are the UI's.
    volatile sig_atomic_t owned = 0;
    volatile sig_atomic_t mouse_on = 0;
    volatile sig_atomic_t motion_on = 0;
    // Raised by SIGWINCH and SIGCONT; the loop takes them at its next frame.
    volatile sig_atomic_t winch = 0;
    volatile sig_atomic_t resumed = 0;
    // Runs of the loop under way (the passes `wait` runs not counted):
    // Ctrl-C typed at the terminal ends the innermost one, and with none
    // it ends the process as it would without a window.
    volatile sig_atomic_t runs_going = 0;
};
ui_mode_t& ui_mode();

// Gives the terminal its modes back, in the order UI mode set them up,
// leaving the cursor below an inline area; nothing unless owned.
void restore_terminal();

// Awaits a cursor report asked for and not yet come (up to 100 ms), lest it
// reach the shell as typed text, and drops the input waiting.
void drain_reports();

// While the UI owns the terminal: handlers for the signals that end the
// process (the terminal restored first), SIGTSTP (the shell's modes while
// stopped), SIGWINCH and Ctrl-C. A signal that is ignored or has a
// handler of the program's own is left alone.
void install_signal_handlers();
void remove_signal_handlers();

// The wake-up pipe, readable after a signal the loop must see: its wait
// watches it.
void init_wake_pipe();
int wake_fd();
void drain_wake_pipe();

}  // namespace zuv::tui
