#include "view/backends/terminal/console_mode.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "runtime/lowrt.h"
#include "view/backends/terminal/output.h"

namespace zuv::tui {

namespace {

struct termios saved_mode;
struct termios ui_mode;
volatile sig_atomic_t suspended = 0;
int input_fd = STDIN_FILENO;
int out_fd_ = STDOUT_FILENO;
volatile sig_atomic_t active = 0;
bool exit_hook_added = false;

// Safe in a signal handler and at exit: one system call.
void restore_on_exit() {
    if (!active) return;
    active = 0;
    tcsetattr(input_fd, TCSADRAIN, &saved_mode);
}

}  // namespace

bool activate(int in_fd, int out_fd) {
    if (active) return true;
    if (!isatty(in_fd) || !isatty(out_fd)) return false;
    if (tcgetattr(in_fd, &saved_mode) != 0) return false;
    if (!exit_hook_added) {
        exit_hook_added = true;
        lowrt::add_exit_hook(restore_on_exit);
        std::atexit(restore_on_exit);
    }
    struct termios mode = saved_mode;
    // Ctrl-C stays a signal, so that it reaches Zuv code that runs for long
    // (an actor in a loop reads no keys); Ctrl-\ and Ctrl-Z arrive as keys.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    mode.c_lflag |= ISIG;
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    mode.c_cc[VINTR] = 3;
    mode.c_cc[VQUIT] = _POSIX_VDISABLE;
    mode.c_cc[VSUSP] = _POSIX_VDISABLE;
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    ui_mode = mode;
    input_fd = in_fd;
    out_fd_ = out_fd;
    active = 1;  // before the change, so that an end in between still restores
    if (tcsetattr(in_fd, TCSADRAIN, &mode) != 0) {
        active = 0;
        out_fd_ = STDOUT_FILENO;
        return false;
    }
    screen_size();
    return true;
}

void deactivate() {
    restore_on_exit();
    out_fd_ = STDOUT_FILENO;
}

bool active_q() { return active != 0; }

void suspend() {
    if (!active) return;
    restore_on_exit();
    suspended = 1;
}

void resume() {
    if (!suspended) return;
    suspended = 0;
    active = 1;
    tcsetattr(input_fd, TCSADRAIN, &ui_mode);
}

int output_fd() { return out_fd_; }

int screen_size() {
    screen_t& s = screen();
    s.term_width = 80;
    s.term_height = 24;
    struct winsize ws {};
    bool got = (ioctl(out_fd_, TIOCGWINSZ, &ws) == 0 || ioctl(input_fd, TIOCGWINSZ, &ws) == 0) &&
               ws.ws_col > 0 && ws.ws_row > 0;
    if (!got) return -1;
    s.term_width = ws.ws_col;
    s.term_height = ws.ws_row;
    return 0;
}

}  // namespace zuv::tui
