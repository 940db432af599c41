#include "view/backends/terminal/tui.h"

namespace zuv::tui {

// No terminal UI exists yet, so there is never an area to clear or redraw.
void before_print() {}
void after_print() {}

namespace {
void no_window() {}
}  // namespace

poll_hook_t poll_hook = no_window;

void poll_events() { poll_hook(); }

}  // namespace zuv::tui
