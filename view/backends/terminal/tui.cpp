#include "view/backends/terminal/tui.h"

#include <cstdio>
#include <string>

#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/output.h"

namespace zuv::tui {

// The erase runs even when the cursor was left on the area's top row: a
// one-row area would otherwise keep its tail beside the printed text.
void before_print() {
    if (!active_q()) return;
    screen_t& s = screen();
    if (s.drawn) {
        std::string erase = "\r";
        if (s.cursor_row > 0) erase += "\x1b[" + std::to_string(s.cursor_row) + "A";
        erase += "\x1b[0J";
        write(erase.data(), erase.size());
        s.cursor_row = 0;
    }
    s.drawn = false;
    std::fflush(stdout);
}

// The cursor report that answers "\033[6n" places the area below the text.
void after_print() {
    if (!active_q()) return;
    screen().redraw = true;
    ++screen().reports_asked;
    write("\x1b[6n", 4);
}

namespace {
void no_window() {}
}  // namespace

poll_hook_t poll_hook = no_window;

void poll_events() { poll_hook(); }

}  // namespace zuv::tui
