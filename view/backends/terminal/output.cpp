#include "view/backends/terminal/output.h"

#include <csignal>
#include <cstdio>

#include "runtime/platform/platform.h"
#include "view/backends/terminal/console_mode.h"

namespace zuv::tui {

namespace {

screen_t the_screen;
std::string out_buffer;
volatile sig_atomic_t cursor_hidden = 0;
volatile sig_atomic_t alternate_entered = 0;

}  // namespace

screen_t& screen() { return the_screen; }

void write(const char* bytes, size_t count) { platform::write_all(output_fd(), bytes, count); }

void set_mode(int n) {
    std::string seq = "\x1b[?" + std::to_string(n) + "h";
    write(seq.data(), seq.size());
}

void reset_mode(int n) {
    std::string seq = "\x1b[?" + std::to_string(n) + "l";
    write(seq.data(), seq.size());
}

void show_cursor(bool shown) {
    if (shown == !cursor_hidden) return;
    cursor_hidden = shown ? 0 : 1;
    if (shown) set_mode(25);
    else reset_mode(25);
}

void enter_fullscreen() {
    if (alternate_entered) return;
    alternate_entered = 1;
    set_mode(1049);
    write("\x1b[2J", 4);
}

void leave_fullscreen() {
    if (!alternate_entered) return;
    alternate_entered = 0;
    reset_mode(1049);
}

bool cursor_hidden_q() { return cursor_hidden != 0; }
bool fullscreen_entered_q() { return alternate_entered != 0; }

void forget_terminal_modes() {
    cursor_hidden = 0;
    alternate_entered = 0;
}

void flush_screen() {
    if (out_buffer.capacity() < 2000) out_buffer.reserve(2000);
    the_screen.write_into(out_buffer);
    if (!out_buffer.empty()) write(out_buffer.data(), out_buffer.size());
    out_buffer.clear();
    the_screen.drawn = true;
    the_screen.redraw = false;
}

}  // namespace zuv::tui
