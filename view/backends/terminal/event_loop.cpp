#include "view/backends/terminal/event_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/frame_clock.h"
#include "view/backends/terminal/input.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/routing.h"
#include "view/backends/terminal/tui.h"
#include "view/backends/terminal/ui_mode.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {

namespace {

constexpr int32_t FRAME_MS = 33;
// Input is read in chunks of this size, at most READ_LIMIT bytes a frame,
// so that a flood of input cannot stall the frame.
constexpr size_t READ_CHUNK = 4096;
constexpr size_t READ_LIMIT = 64 * 1024;

// The mouse modes: clicks, drags, the extended and the SGR encodings.
constexpr int MOUSE_MODES[] = {1000, 1002, 1015, 1006};
constexpr int MOTION_MODE = 1003;  // any motion, only while mouse-event? is true

int32_t current_frame = 0;
// The outermost loop runs and its input is a terminal (or a test's).
bool input_live = false;
// A window shown by view/no-wait owns the terminal outside any loop, so
// that the passes `wait` runs can draw it and read its input.
bool standing = false;

// --- the terminal's input and time ---------------------------------------------------------

bool terminal_enter() { return activate(STDIN_FILENO, STDOUT_FILENO); }

void terminal_leave() { deactivate(); }

// Without a terminal only the wake-up pipe is watched: a redirected input
// at its end would end every wait at once.
void terminal_wait(int32_t ms) {
    struct pollfd fds[2];
    nfds_t n = 0;
    if (wake_fd() >= 0) fds[n++] = {wake_fd(), POLLIN, 0};
    if (active_q()) fds[n++] = {STDIN_FILENO, POLLIN, 0};
    if (n == 0) {
        if (ms > 0) usleep(static_cast<useconds_t>(ms) * 1000);
        return;
    }
    poll(fds, n, ms);
    drain_wake_pipe();
}

size_t terminal_read(char* buffer, size_t room) {
    if (!active_q()) return 0;
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buffer, room);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
}

// --- one frame -----------------------------------------------------------------------------

class loop_sink final : public input_sink {
public:
    void key(int32_t key, uint32_t flags) override { send_key(nullptr, key, flags); }
    void button(int32_t type, int32_t x, int32_t y, uint32_t flags) override {
        if (window_t* win = ui().active_window)
            mouse_button(type, win->widget, static_cast<float>(x), static_cast<float>(y), flags);
    }
    void motion(int32_t x, int32_t y, uint32_t flags) override {
        if (window_t* win = ui().active_window)
            mouse_over(win->widget, static_cast<float>(x), static_cast<float>(y), flags, true);
    }
    void wheel(int32_t delta, int32_t x, int32_t y, uint32_t flags) override {
        if (window_t* win = ui().active_window)
            mouse_wheel(delta, win->widget, static_cast<float>(x), static_cast<float>(y), flags);
    }
    void halt() override { ui().halt = true; }
    void report(int32_t row, int32_t) override {
        screen().origin_row = row;
        ++screen().reports_seen;
        // Mouse reports after it in the same input count from the placed area.
        place_area();
        input().origin_row = screen().fullscreen ? 0 : screen().origin_row;
    }
};

void ask_cursor_report() {
    ++screen().reports_asked;
    write("\x1b[6n", 4);
}

// A terminal that changes size moves what it shows, the inline area with
// it: a taller one brings rows back from its history above the area, a
// shorter one pushes rows into it. The area's top row is asked for again,
// with the cursor on that row, lest clicks count from where it was.
void find_area_again() {
    screen_t& sc = screen();
    std::string up = "\r";
    if (sc.cursor_row > 0) up += "\x1b[" + std::to_string(sc.cursor_row) + "A";
    write(up.data(), up.size());
    sc.cursor_row = 0;
    ask_cursor_report();
}

// Reads what waits, in bounded chunks; the number of bytes read.
size_t read_input() {
    ui_mode_t& m = ui_mode();
    if (m.winch) {
        m.winch = 0;
        if (m.owned && !screen().fullscreen) find_area_again();
        terminal_resized();
    }
    if (m.resumed) {
        m.resumed = 0;
        ui().redraw = true;
        screen().redraw = true;
        screen().drawn = false;
        if (m.owned && !screen().fullscreen) ask_cursor_report();
    }
    if (!input_live) return 0;
    char chunk[READ_CHUNK];
    size_t total = 0;
    while (total < READ_LIMIT) {
        size_t n = loop_io.read(chunk, sizeof chunk);
        if (n == 0) break;
        input().append(chunk, n);
        total += n;
    }
    return total;
}

bool mouse_event_q() {
    cell_t* flag = object_field(view_field("platform"), "mouse-event?");
    return flag != nullptr && type_of(flag) == TYPE_logic && logic::get(flag);
}

// Any motion is reported only while a script asks for it.
void follow_mouse_event_flag() {
    ui_mode_t& m = ui_mode();
    if (!m.owned || !m.mouse_on) return;
    bool want = mouse_event_q();
    if (want == (m.motion_on != 0)) return;
    m.motion_on = want ? 1 : 0;
    if (want) set_mode(MOTION_MODE);
    else reset_mode(MOTION_MODE);
}

void enter_ui_mode() {
    input_live = loop_io.enter();
    if (!active_q()) return;
    ui_mode().owned = 1;
    install_signal_handlers();
    screen_t& sc = screen();
    if (sc.fullscreen) enter_fullscreen();
    else ask_cursor_report();
    for (int mode : MOUSE_MODES) set_mode(mode);
    ui_mode().mouse_on = 1;
    follow_mouse_event_flag();
}

void shutdown() {
    ui_state_t& s = ui();
    s.hover = s.captured = s.focused = nullptr;
    s.last_made = nullptr;
    s.active_window = nullptr;
    s.pressed.clear();
    s.click_state = s.click_timer = 0;
    s.halt = false;
    s.halted_depth = 0;
    screen_t& sc = screen();
    sc.fullscreen = false;
    sc.size_to(0, 0);
    sc.cursor_row = 0;
    sc.origin_row = 0;
}

void leave_ui_mode() {
    if (ui_mode().owned) {
        // A Ctrl-C that came as the UI ended was meant for the UI.
        interpreter::take_interrupt();
        drain_reports();
        restore_terminal();
        remove_signal_handlers();
    } else if (input_live) {
        loop_io.leave();
    }
    input_live = false;
    input().clear();
    screen().drawn = false;
    if (ui().windows.empty()) shutdown();
}

// The outermost run gives the terminal back however it ends; every run
// leaves the depth no deeper than it found it.
struct run_guard {
    int32_t entry;
    bool outermost;
    bool counted;
    ~run_guard() {
        if (counted) ui_mode().runs_going = ui_mode().runs_going - 1;
        if (ui().loop_depth > entry) ui().loop_depth = entry;
        if (outermost) leave_ui_mode();
    }
};

// A window shown by view/no-wait may still hold the terminal as the
// process ends, with a cursor report due after the last print: it is
// awaited, lest it reach the shell as typed text.
void restore_at_exit() {
    standing = false;
    if (ui_mode().owned) drain_reports();
    restore_terminal();
}

void poll_pass() {
    if (input_live || (ui().active_window != nullptr && ui().loop_depth == 0)) do_events(true);
}

// A pass with no loop running and a window to show takes the terminal and
// keeps it after it returns, when the input is a terminal.
void stand() {
    if (ui().active_window == nullptr) return;
    enter_ui_mode();
    if (!ui_mode().owned) {
        if (input_live) loop_io.leave();
        input_live = false;
        return;
    }
    standing = true;
    mark_redraw(nullptr);
    ui().redraw = true;
}

// What changed since the last pass is drawn first: the window stays on
// the screen as the UI leaves it, above what comes next.
void release_standing() {
    if (!standing) return;
    standing = false;
    if (ui_mode().owned && active_q() && ui().active_window != nullptr) render();
    leave_ui_mode();
}

// Ctrl-C ends the innermost run. With no run (the pass `wait` runs for a
// view/no-wait window) there is none to end: the signal itself ended the
// process then (on_interrupt), and a byte 3 in the input does nothing.
void halt_innermost_run() {
    ui_state_t& s = ui();
    if (s.loop_depth <= 0) return;
    if (s.halted_depth == 0 || s.halted_depth > s.loop_depth) s.halted_depth = s.loop_depth;
    --s.loop_depth;
}

// Ctrl-C reached running Zuv code: it stops as `halt` stops it, and
// `do-safe` ends the run its actor was called from. The halt is noted
// first, so that a run whose code swallowed the throw ends all the same.
void halt_running_code() {
    ui_state_t& s = ui();
    if (s.loop_depth > 0 && (s.halted_depth == 0 || s.halted_depth > s.loop_depth))
        s.halted_depth = s.loop_depth;
    throw_halt();
    throw exits::escape{};
}

}  // namespace

loop_io_t loop_io = terminal_io();

loop_io_t terminal_io() {
    return loop_io_t{terminal_enter, terminal_leave, now_ms, terminal_wait, terminal_read};
}

int32_t frame_time() { return current_frame; }

bool do_events(bool one_pass) {
    ui_state_t& s = ui();
    if (one_pass && !input_live && s.loop_depth == 0) stand();
    const bool nested = one_pass || input_live || s.loop_depth > 0;
    const int32_t entry = s.loop_depth;
    if (!one_pass) {
        ++s.loop_depth;
        ui_mode().runs_going = ui_mode().runs_going + 1;
    }
    run_guard guard{entry, !nested, !one_pass};
    if (!nested) {
        enter_ui_mode();
        mark_redraw(nullptr);
        s.redraw = true;
    } else if (!one_pass) {
        input().clear();
    }
    loop_sink sink;
    bool got = false;
    int32_t frame = 0;
    for (;;) {
        // Without a terminal only timers can ever end a run: one with no
        // timer would wait for ever.
        if (!one_pass && !input_live && timer_count() == 0) fire(err::no_terminal);
        got = read_input() > 0;
        if (one_pass && !got) {
            // What changed since the last pass shows all the same.
            if (ui_mode().owned && active_q()) render();
            break;
        }
        int32_t t = frame;
        if (frame <= FRAME_MS) {
            loop_io.wait(FRAME_MS - frame);
            t = FRAME_MS;
        }
        int64_t start = loop_io.now_ms();
        current_frame = t;
        timers_tick(t);
        follow_mouse_event_flag();
        if (ui_mode().owned && active_q()) render();
        else place_area();
        screen_t& sc = screen();
        input().origin_row = sc.fullscreen ? 0 : sc.origin_row;
        input().decode(sink);
        if (s.click_state == 2 && s.click_timer < 800) s.click_timer += FRAME_MS;
        frame = static_cast<int32_t>(loop_io.now_ms() - start);
        // A pass that `wait` runs leaves an interrupt to the code that
        // called it, which stops where it is.
        if (s.halt || (!one_pass && s.loop_depth > 0 && interpreter::take_interrupt())) {
            s.halt = false;
            halt_innermost_run();
        }
        if (s.halted_depth > 0 && s.loop_depth >= s.halted_depth) s.loop_depth = s.halted_depth - 1;
        if (one_pass || s.loop_depth <= entry) break;
    }
    if (!one_pass) {
        s.last_run_halted = s.halted_depth == entry + 1;
        if (s.last_run_halted) s.halted_depth = 0;
    }
    if (nested && !one_pass) {
        char scratch[READ_CHUNK];
        if (input_live)
            while (loop_io.read(scratch, sizeof scratch) > 0) {
            }
        input().clear();
    }
    release_if_idle();
    return got;
}

void release_if_idle() {
    if (standing && ui().loop_depth == 0 && ui().windows.empty()) release_standing();
}

void draw_last_state(widget_t* window) {
    const ui_state_t& s = ui();
    // A window erased for a print and not drawn since is no longer on the
    // screen: nothing there to bring up to date.
    if (!ui_mode().owned || !active_q() || screen().fullscreen || !screen().drawn) return;
    if (s.active_window == nullptr || s.active_window->widget != window) return;
    for (const window_t* other : s.windows)
        if (other != s.active_window && !(other->widget->flags & widget_flag::HIDDEN)) return;
    render();
}

void exit_event_loop() {
    if (ui().loop_depth > 0) --ui().loop_depth;
}

void throw_halt() {
    cell_t value = word::make_global(symbol::make("halt-request"));
    cell_t name = word::make_global(symbol::make("console"));
    cell_t halt = word::make_global(symbol::make("halt"));
    stack::mark_native(&halt);
    stack::push(&value);
    stack::push(&name);
    exits::throw_throw(exits::THROW_THROW);
}

void init_event_loop() {
    static bool done = false;
    if (done) return;
    done = true;
    init_wake_pipe();
    lowrt::add_exit_hook(restore_at_exit);
    poll_hook = poll_pass;
    release_hook = release_standing;
    interpreter::interrupt_handler = halt_running_code;
}

}  // namespace zuv::tui
