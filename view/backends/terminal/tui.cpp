#include "view/backends/terminal/tui.h"

#include <cstdio>
#include <string>

#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/output.h"

namespace zuv::tui {

namespace {
// A print that left the alternate screen, to come back after it.
bool print_left_alternate = false;
}  // namespace

// The erase runs even when the cursor was left on the area's top row: a
// one-row area would otherwise keep its tail beside the printed text.
// Fullscreen, the text goes to the normal screen, where the user reads it
// (and finds it after the UI ends); the window comes back over it.
void before_print() {
    if (!active_q()) return;
    screen_t& s = screen();
    if (fullscreen_entered_q()) {
        std::fflush(stdout);
        leave_fullscreen();
        print_left_alternate = true;
    } else if (s.drawn) {
        std::string erase;
        s.erase_into(erase);
        write(erase.data(), erase.size());
    }
    s.drawn = false;
    std::fflush(stdout);
}

// The cursor report that answers "\033[6n" places the area below the text.
void after_print() {
    if (!active_q()) return;
    screen().redraw = true;
    if (print_left_alternate) {
        print_left_alternate = false;
        enter_fullscreen();
        return;
    }
    ++screen().reports_asked;
    write("\x1b[6n", 4);
}

namespace {
void no_window() {}
}  // namespace

poll_hook_t poll_hook = no_window;
poll_hook_t release_hook = no_window;

void poll_events() { poll_hook(); }

void before_read() { release_hook(); }

}  // namespace zuv::tui
