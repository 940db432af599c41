#include "view/backends/terminal/ui_mode.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "interpreter/interpreter.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/frame_clock.h"
#include "view/backends/terminal/output.h"

namespace zuv::tui {

namespace {

// How long a cursor report still due may take once the UI ends.
constexpr int32_t REPORT_DRAIN_MS = 100;

ui_mode_t mode;
int wake_pipe[2] = {-1, -1};

// --- writing without the library ----------------------------------------------------------

void raw_write(const char* text, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(output_fd(), text, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        text += w;
        n -= static_cast<size_t>(w);
    }
}

void raw_write(const char* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    raw_write(text, n);
}

// "ESC [ n B" without the library's formatting, for signal handlers.
void raw_cursor_down(int32_t n) {
    if (n < 1) return;
    char text[16] = "\x1b[";
    char digits[12];
    int k = 0;
    for (; n > 0 && k < 11; n /= 10) digits[k++] = static_cast<char>('0' + n % 10);
    int at = 2;
    while (k > 0) text[at++] = digits[--k];
    text[at++] = 'B';
    raw_write(text, static_cast<size_t>(at));
}

void wake() {
    if (wake_pipe[1] >= 0) {
        char b = 1;
        ssize_t r = ::write(wake_pipe[1], &b, 1);
        (void)r;
    }
}

// --- signals -------------------------------------------------------------------------------

// Every signal that ends the process by default and can be caught, and
// the real-time ones after them, but for the faults (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL), which the runtime turns into its errors, whose end runs
// the exit hooks and so this restore, and SIGPIPE, which it ignores.
constexpr int ENDING_SIGNALS[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTRAP,   SIGABRT, SIGUSR1,
                                  SIGUSR2,   SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ,
                                  SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,    SIGSYS};

template <typename F> void for_each_ending(F f) {
    for (int sig : ENDING_SIGNALS) f(sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) f(sig);
}

// By signal number: the action found before the UI's, and whether the
// UI's took its place.
struct sigaction old_action[NSIG];
volatile sig_atomic_t replaced[NSIG];
struct sigaction old_winch, old_tstp;
bool handlers_installed = false;
// The runtime's thread, which draws.
pthread_t ui_thread;

// A signal that reached the thread that only waits goes on to the one
// that draws, whose writes it then interrupts rather than runs beside.
bool passed_on(int sig) {
    if (pthread_equal(pthread_self(), ui_thread)) return false;
    pthread_kill(ui_thread, sig);
    return true;
}

void on_ending_signal(int sig) {
    if (passed_on(sig)) return;
    if (mode.owned) drain_reports();
    restore_terminal();
    if (sig > 0 && sig < NSIG && replaced[sig]) {
        replaced[sig] = 0;
        sigaction(sig, &old_action[sig], nullptr);
    }
    // Delivered once this handler returns: the process ends by the signal.
    raise(sig);
}

// Ctrl-C typed at the terminal halts the innermost run of the loop (the
// evaluator stops at its next expression, the loop at its next frame). A
// SIGINT sent from outside, or one that finds no run (a view/no-wait window
// shown while the script goes on), ends the process as it would without a
// window.
void on_interrupt(int sig, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code == SI_KERNEL && mode.owned && mode.runs_going > 0) {
        interpreter::request_interrupt();
        wake();
        return;
    }
    on_ending_signal(sig);
}

void on_winch(int) {
    mode.winch = 1;
    wake();
}

// Stops with the shell's modes back; continues in UI mode, repainted.
void on_tstp(int sig) {
    if (passed_on(sig)) return;
    int saved_errno = errno;
    bool had_mouse = mode.mouse_on, had_motion = mode.motion_on;
    bool had_alternate = fullscreen_entered_q(), had_hidden = cursor_hidden_q();
    if (had_motion) raw_write("\x1b[?1003l");
    if (had_mouse) raw_write("\x1b[?1006l\x1b[?1015l\x1b[?1002l\x1b[?1000l");
    if (had_alternate) raw_write("\x1b[?1049l");
    if (had_hidden) raw_write("\x1b[?25h");
    // The shell writes below the inline area, and the area comes back below
    // what it wrote.
    screen_t& sc = screen();
    if (!had_alternate && sc.drawn) {
        raw_cursor_down(sc.height() - 1 - sc.cursor_row);
        raw_write("\r\n");
    }
    sc.cursor_row = 0;
    sc.drawn = false;
    suspend();
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    struct sigaction mine {};
    sigaction(SIGTSTP, &dfl, &mine);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGTSTP);
    // Continued.
    sigaction(SIGTSTP, &mine, nullptr);
    resume();
    if (had_alternate) raw_write("\x1b[?1049h\x1b[2J");
    if (had_mouse) raw_write("\x1b[?1000h\x1b[?1002h\x1b[?1015h\x1b[?1006h");
    if (had_motion) raw_write("\x1b[?1003h");
    if (had_hidden) raw_write("\x1b[?25l");
    mode.resumed = 1;
    wake();
    errno = saved_errno;
}

}  // namespace

ui_mode_t& ui_mode() { return mode; }

void restore_terminal() {
    if (!mode.owned) return;
    mode.owned = 0;
    screen_t& sc = screen();
    if (!sc.fullscreen && sc.drawn) {
        raw_cursor_down(sc.height() - 1 - sc.cursor_row);
        raw_write("\r\n");
    }
    // The cursor is below the area now: the next area starts there, not
    // rows above it over what was printed since.
    sc.cursor_row = 0;
    sc.drawn = false;
    if (mode.motion_on) raw_write("\x1b[?1003l");
    if (mode.mouse_on) raw_write("\x1b[?1006l\x1b[?1015l\x1b[?1002l\x1b[?1000l");
    mode.mouse_on = 0;
    mode.motion_on = 0;
    if (fullscreen_entered_q()) raw_write("\x1b[?1049l");
    if (cursor_hidden_q()) raw_write("\x1b[?25h");
    forget_terminal_modes();
    deactivate();
}

void drain_reports() {
    screen_t& sc = screen();
    int64_t start = now_ms();
    char chunk[256];
    while (sc.reports_seen < sc.reports_asked) {
        int64_t left = REPORT_DRAIN_MS - (now_ms() - start);
        if (left <= 0) break;
        struct pollfd p {
            STDIN_FILENO, POLLIN, 0
        };
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i)
            if (chunk[i] == 'R') ++sc.reports_seen;
    }
    while (::read(STDIN_FILENO, chunk, sizeof chunk) > 0) {
    }
    sc.reports_seen = sc.reports_asked = 0;
}

void install_signal_handlers() {
    if (handlers_installed) return;
    handlers_installed = true;
    ui_thread = pthread_self();
    struct sigaction sa {};
    sa.sa_handler = on_ending_signal;
    // An abort with the stack nearly spent still restores.
    sa.sa_flags = SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    struct sigaction ia {};
    ia.sa_sigaction = on_interrupt;
    ia.sa_flags = SA_SIGINFO;
    sigemptyset(&ia.sa_mask);
    for_each_ending([&](int sig) {
        sigaction(sig, nullptr, &old_action[sig]);
        if ((old_action[sig].sa_flags & SA_SIGINFO) || old_action[sig].sa_handler != SIG_DFL)
            return;
        replaced[sig] = 1;
        sigaction(sig, sig == SIGINT ? &ia : &sa, nullptr);
    });
    struct sigaction wa {};
    wa.sa_handler = on_winch;
    wa.sa_flags = SA_RESTART;
    sigemptyset(&wa.sa_mask);
    sigaction(SIGWINCH, &wa, &old_winch);
    struct sigaction ta {};
    ta.sa_handler = on_tstp;
    ta.sa_flags = SA_RESTART;
    sigemptyset(&ta.sa_mask);
    sigaction(SIGTSTP, nullptr, &old_tstp);
    if (!(old_tstp.sa_flags & SA_SIGINFO) && old_tstp.sa_handler == SIG_DFL)
        sigaction(SIGTSTP, &ta, nullptr);
}

void remove_signal_handlers() {
    if (!handlers_installed) return;
    handlers_installed = false;
    for_each_ending([](int sig) {
        if (!replaced[sig]) return;
        replaced[sig] = 0;
        sigaction(sig, &old_action[sig], nullptr);
    });
    sigaction(SIGWINCH, &old_winch, nullptr);
    sigaction(SIGTSTP, &old_tstp, nullptr);
}

void init_wake_pipe() {
    if (wake_pipe[0] >= 0) return;
    if (pipe(wake_pipe) != 0) {
        wake_pipe[0] = wake_pipe[1] = -1;
        return;
    }
    for (int fd : wake_pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

int wake_fd() { return wake_pipe[0]; }

void drain_wake_pipe() {
    char scratch[64];
    while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], scratch, sizeof scratch) > 0) {
    }
}

}  // namespace zuv::tui
