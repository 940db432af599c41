// The terminal UI's frame loop: about 30 frames a second, each reading the
// terminal's input, ticking the timers, repainting when something changed
// and turning input into events.
//
// The outermost loop owns the terminal: it enters UI mode (raw input,
// mouse reporting, the alternate screen for a fullscreen window) and gives
// every bit of it back however it ends: a normal return, an error unwinding
// the loop, an exit of the process from an actor, a runtime error, or any
// signal that ends the process (ui_mode.h). Nested loops (a modal requester, the
// one pass that `wait` runs) leave the terminal as they found it; a pass
// with no loop running (view/no-wait, then `wait`) takes it for as long as
// a window is shown.
//
// Waiting is done in poll on the input, so that a key ends the wait at
// once; SIGWINCH wakes it through a self-pipe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::tui {

// Runs the loop until exit_event_loop brings the depth back to where this
// run began; one_pass: a single frame, none at all when no input waits.
// Answers whether the last frame read input.
bool do_events(bool one_pass);

// Ends the innermost running loop; nothing when none runs.
void exit_event_loop();

struct widget_t;
// The window is about to close: when it is the one on the screen and no
// other is left to show, what changed since the last frame is drawn first,
// so that its inline area keeps its last state once the terminal is given
// back.
void draw_last_state(widget_t* window);

// A window shown by view/no-wait keeps the terminal between the passes
// that `wait` runs; it gives it back once no window is left and no loop
// runs (or when the console reads a line, tui::before_read).
void release_if_idle();

// Throws what `halt` throws (the word halt-request, named console) from the
// current frame; it returns with the throw pending, or raises "no catch for
// throw" where a try/all stands before every catch.
void throw_halt();

// What the loop reads time and input through; tests put a fake terminal
// and a fake clock in its place.
struct loop_io_t {
    // Enters console mode; false when the input is no terminal.
    bool (*enter)();
    void (*leave)();
    int64_t (*now_ms)();
    // Waits up to ms for input or a wake-up.
    void (*wait)(int32_t ms);
    // Reads what input waits, without blocking, into buffer; 0 for none.
    size_t (*read)(char* buffer, size_t room);
};
extern loop_io_t loop_io;
// The terminal's own.
loop_io_t terminal_io();

// The frame time the current frame's timers were ticked with.
int32_t frame_time();

// The backend's start-up: the pass that `wait` runs is hooked up.
void init_event_loop();

}  // namespace zuv::tui
