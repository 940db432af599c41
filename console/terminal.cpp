// The terminal: raw mode, the terminal's input and size, and the routines
// behind `ask` (see terminal.h).
#include "console/terminal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "console/stdin.h"
#include "console/terminal_edit.h"
#include "console/terminal_keys.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/ui_hooks.h"
#include "runtime/unicode.h"

namespace zuv::terminal {
namespace {

// How long the byte after Esc may take to still belong to a sequence.
constexpr int ESCAPE_WAIT_MS = 100;
// How long the terminal may take to report the cursor position.
constexpr int REPORT_WAIT_MS = 500;

int32_t columns_ = -1;
int32_t rows_ = -1;

// The line and history of the next read (copies of the caller's cells; the
// marker keeps their series alive in between).
cell_t held_line{};
cell_t held_history{};
bool marker_added = false;

void mark_held() {
    collector::mark_values(&held_line, &held_line + 1);
    collector::mark_values(&held_history, &held_history + 1);
}

line_editor editor;
complete_hook_t complete_hook = nullptr;

// --- raw mode -----------------------------------------------------------------------------

struct termios saved_mode;
volatile sig_atomic_t raw_on = 0;
bool exit_hook_added = false;

// The signals that end the process while a read waits for a key: the
// terminal gets its modes back before the signal takes its course.
constexpr int ENDING_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr size_t ENDING_COUNT = sizeof ENDING_SIGNALS / sizeof ENDING_SIGNALS[0];
struct sigaction old_actions[ENDING_COUNT];
bool installed[ENDING_COUNT];
struct sigaction old_winch;
volatile sig_atomic_t window_changed = 0;

void on_ending_signal(int sig) {
    restore_mode();
    for (size_t i = 0; i < ENDING_COUNT; ++i)
        if (ENDING_SIGNALS[i] == sig) sigaction(sig, &old_actions[i], nullptr);
    // Delivered again once this handler returns, to the handler it had before.
    raise(sig);
}

void on_winch(int) { window_changed = 1; }

bool enter_raw() {
    if (raw_on) return true;
    if (tcgetattr(STDIN_FILENO, &saved_mode) != 0) return false;
    if (!exit_hook_added) {
        exit_hook_added = true;
        lowrt::add_exit_hook(restore_mode);
        std::atexit(restore_mode);
    }
    struct termios raw = saved_mode;
    // Ctrl-C, Ctrl-D, Ctrl-S, Ctrl-Z and Enter come as bytes; nothing is echoed.
    raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
    raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw.c_cflag |= CS8;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_on = 1;  // before the change, so that a signal in between still restores
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
        raw_on = 0;
        return false;
    }
    return true;
}

// The handlers live only while a read waits, so that the rest of the
// program keeps its own. A signal that is ignored or has a handler of the
// program's own does not end the process and is left alone.
void install_read_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_ending_signal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < ENDING_COUNT; ++i) {
        sigaction(ENDING_SIGNALS[i], nullptr, &old_actions[i]);
        installed[i] =
            !(old_actions[i].sa_flags & SA_SIGINFO) && old_actions[i].sa_handler == SIG_DFL;
        if (installed[i]) sigaction(ENDING_SIGNALS[i], &sa, nullptr);
    }
    struct sigaction wa {};
    wa.sa_handler = on_winch;
    wa.sa_flags = SA_RESTART;  // poll is interrupted all the same
    sigemptyset(&wa.sa_mask);
    sigaction(SIGWINCH, &wa, &old_winch);
}

void remove_read_handlers() {
    for (size_t i = 0; i < ENDING_COUNT; ++i)
        if (installed[i]) sigaction(ENDING_SIGNALS[i], &old_actions[i], nullptr);
    sigaction(SIGWINCH, &old_winch, nullptr);
}

// Raw mode and the read's handlers end with the read, however it ends.
struct read_guard {
    read_guard() { install_read_handlers(); }
    ~read_guard() {
        restore_mode();
        remove_read_handlers();
    }
    read_guard(const read_guard&) = delete;
    read_guard& operator=(const read_guard&) = delete;
};

void write_out(std::string& out) {
    if (out.empty()) return;
    platform::write_all(STDOUT_FILENO, out.data(), out.size());
    out.clear();
}

// --- the terminal's bytes ------------------------------------------------------------------

// Bytes of standard input, read in chunks: a paste arrives as one chunk, and
// the keys in it are edited before anything is written.
class tty_source final : public byte_source {
public:
    int read_byte(bool wait) override {
        if (pos_ < buffer_.size()) return static_cast<uint8_t>(buffer_[pos_++]);
        if (!fill(wait ? ESCAPE_WAIT_MS : -1)) return wait ? BYTE_TIMEOUT : BYTE_END;
        return static_cast<uint8_t>(buffer_[pos_++]);
    }
    bool buffered_q() const { return pos_ < buffer_.size(); }
    bool ended_q() const { return ended_; }

    // The cursor's column, from the terminal's report ("ESC [ row ; col R");
    // keys typed ahead of the report stay for the editor. -1 when no report
    // comes in time.
    int32_t cursor_column() {
        static const char query[] = "\x1b[6n";
        platform::write_all(STDOUT_FILENO, query, sizeof query - 1);
        for (int waited = 0; waited < REPORT_WAIT_MS; waited += 50) {
            int32_t column = take_report();
            if (column >= 0) return column;
            fill(50);
            if (ended_) return -1;
        }
        return take_report();
    }

private:
    // Reads what is there (waiting up to timeout_ms, -1 for ever); false when
    // nothing came.
    bool fill(int timeout_ms) {
        if (ended_) return false;
        if (pos_ >= buffer_.size()) {
            buffer_.clear();
            pos_ = 0;
        }
        for (;;) {
            if (window_changed) {
                window_changed = 0;
                get_window_size();
                editor.set_columns(columns_);
            }
            struct pollfd p {
                STDIN_FILENO, POLLIN, 0
            };
            int r = poll(&p, 1, timeout_ms);
            if (r < 0) {
                if (errno == EINTR) continue;
                ended_ = true;
                return false;
            }
            if (r == 0) return false;
            char chunk[4096];
            ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                ended_ = true;
                return false;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
            return true;
        }
    }

    int32_t take_report() {
        for (size_t i = pos_; i < buffer_.size(); ++i) {
            if (buffer_[i] != '\x1b' || i + 1 >= buffer_.size() || buffer_[i + 1] != '[') continue;
            size_t j = i + 2;
            int32_t row = 0, column = 0;
            bool digits = false;
            while (j < buffer_.size() && buffer_[j] >= '0' && buffer_[j] <= '9') {
                row = row * 10 + (buffer_[j++] - '0');
                digits = true;
                if (row > 100000) break;
            }
            if (!digits || j >= buffer_.size() || buffer_[j] != ';') continue;
            ++j;
            digits = false;
            while (j < buffer_.size() && buffer_[j] >= '0' && buffer_[j] <= '9') {
                column = column * 10 + (buffer_[j++] - '0');
                digits = true;
                if (column > 100000) break;
            }
            if (!digits || j >= buffer_.size() || buffer_[j] != 'R') continue;
            buffer_.erase(i, j + 1 - i);
            return column > 0 ? column - 1 : 0;
        }
        return -1;
    }

    std::string buffer_;
    size_t pos_ = 0;
    bool ended_ = false;
};

// Kept from read to read: the lines of a paste after the first wait here
// for the reads that follow.
tty_source source;
key_reader keys(source);
bool report_works = true;  // the terminal answered the cursor query before

// --- Zuv values ----------------------------------------------------------------------------

std::u32string text_of(const cell_t* s, int32_t from) {
    std::u32string text;
    if (!string::any_string_q(type_of(s))) return text;
    int32_t n = string::rs_abs_length_q(s);
    if (from < 0) from = 0;
    text.reserve(static_cast<size_t>(n > from ? n - from : 0));
    for (int32_t i = from; i < n; ++i)
        text.push_back(static_cast<char32_t>(string::rs_abs_at(s, i)));
    return text;
}

void set_text(cell_t* s, const std::u32string& text) {
    string::truncate_to(string::buffer_of(s), 0);
    for (char32_t c : text) string::append_char(s, static_cast<uint32_t>(c));
}

// The history block as the editor sees it: entries from index 0, newest first.
class block_history final : public history_t {
public:
    int32_t count() override {
        return type_of(&held_history) == TYPE_block ? block::abs_length(&held_history) : 0;
    }
    std::u32string entry(int32_t index) override {
        if (index < 0 || index >= count()) return {};
        return text_of(block::rs_abs_at(&held_history, index), 0);
    }
    void add(const std::u32string&) override { add_ = true; }
    bool add_ = false;
};

// A field of `system/console`; nullptr when any step is missing.
cell_t* console_field(const char* field) {
    if (_context::global_node == 0) return nullptr;
    auto lookup = [](node_t ctx, const char* name) -> cell_t* {
        int32_t sym = symbol::make(name);
        int32_t i = _context::find_word(ctx, sym, true);
        return i < 0 ? nullptr : _context::value_at(ctx, i);
    };
    cell_t* sys = lookup(_context::global_node, "system");
    if (sys == nullptr || type_of(sys) != TYPE_object) return nullptr;
    cell_t* console = lookup(object::context_of(sys), "console");
    if (console == nullptr || type_of(console) != TYPE_object) return nullptr;
    return lookup(object::context_of(console), field);
}

void write_console_size(int32_t x, int32_t y) {
    cell_t* size = console_field("size");
    if (size != nullptr) pair::make_at(size, x, y);
}

}  // namespace

// --- the public entries ------------------------------------------------------------------

int32_t columns() { return columns_; }
int32_t rows() { return rows_; }

void set_complete_hook(complete_hook_t hook) { complete_hook = hook; }

void restore_mode() {
    if (!raw_on) return;
    raw_on = 0;
    tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_mode);
}

bool get_window_size() {
    cell_t* size = console_field("size");
    if (size != nullptr && type_of(size) == TYPE_pair) {
        columns_ = pair::get_x(size);
        rows_ = pair::get_y(size);
    }
    struct winsize ws {};
    bool got =
        (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 || ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) == 0) &&
        ws.ws_col > 0;
    if (got) {
        columns_ = ws.ws_col;
        rows_ = ws.ws_row;
        write_console_size(columns_, rows_);
        return true;
    }
    if (columns_ <= 0) {
        columns_ = 80;
        if (size != nullptr && type_of(size) == TYPE_pair)
            write_console_size(80, pair::get_y(size));
    }
    return false;
}

void init(const cell_t* title) {
    if (isatty(STDOUT_FILENO) && title != nullptr && string::any_string_q(type_of(title))) {
        // Control characters would end the title early and reach the
        // terminal as commands of their own.
        std::string osc = "\x1b]0;";
        std::u32string text = text_of(title, static_cast<int32_t>(title->data1));
        for (char32_t c : text) {
            if (c < 0x20 || (c >= 0x7F && c < 0xA0)) continue;
            uint8_t bytes[4];
            int n = unicode::cp_to_utf8(static_cast<uint32_t>(c), bytes);
            osc.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
        }
        osc += '\x07';
        platform::write_all(STDOUT_FILENO, osc.data(), osc.size());
    }
    if (stdin_console_q()) get_window_size();
    cell_t* size = console_field("size");
    if (size != nullptr &&
        (type_of(size) != TYPE_pair || pair::get_x(size) == 0 || pair::get_y(size) == 0))
        pair::make_at(size, 80, 50);
}

void _set_buffer_history(const cell_t* line, const cell_t* hist) {
    if (!marker_added) {
        marker_added = true;
        collector::add_marker(mark_held);
    }
    copy_cell(line, &held_line);
    copy_cell(hist, &held_history);
}

void _terminate_console() {}

bool input_quit_q() { return editor.quit_key; }

int32_t _read_input(const cell_t* prompt, bool hidden) {
    platform::flush_console_output();
    if (!string::any_string_q(type_of(&held_line))) return 0;
    editor.quit_key = false;
    if (!stdin_console_q()) {
        stdin_readline(&held_line);
        return 0;
    }
    ui_hooks::before_read();
    std::u32string prompt_text = text_of(prompt, static_cast<int32_t>(prompt->data1));
    block_history history;
    int32_t head;
    {
        read_guard guard;
        enter_raw();
        get_window_size();
        int32_t start = -1;
        if (report_works && isatty(STDOUT_FILENO)) {
            start = source.cursor_column();
            if (start < 0) report_works = false;
        }
        editor.line = text_of(&held_line, 0);
        editor.cursor = static_cast<int32_t>(held_line.data1);
        editor.complete = complete_hook;
        editor.out.clear();  // what a read that ended in an error left unsent
        editor.begin(prompt_text, hidden, columns_, start < 0 ? 0 : start, &history);
        write_out(editor.out);
        for (;;) {
            int32_t key = keys.read();
            // A terminal that hung up ends the console as Ctrl-C would.
            if (key == KEY_FAILED) key = 3;
            // Keys already waiting (a paste) are edited before the line is
            // drawn, once.
            editor.defer = source.buffered_q();
            bool more = editor.key(key);
            if (!more || !source.buffered_q()) {
                editor.settle();
                write_out(editor.out);
            }
            if (!more) break;
        }
        head = editor.result_head();
    }
    // The line takes its text once the terminal has its modes back: the
    // allocations may end the process, and then nothing is left raw.
    cell_t line;
    copy_cell(&held_line, &line);
    collector::root_cell keep(&line);
    set_text(&line, editor.line);
    if (history.add_ && type_of(&held_history) == TYPE_block) {
        cell_t entry;
        copy_cell(&line, &entry);
        entry.data1 = 0;
        cell_t h;
        copy_cell(&held_history, &h);
        block::insert_value(&h, &entry, true, false);
    }
    editor.line.clear();
    editor.cursor = 0;
    return head;
}

}  // namespace zuv::terminal
