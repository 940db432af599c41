// Running the desktop's clipboard tools (see clipboard_tools.h).
#include "io/clipboard_tools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace zuv::clipboard::tools {
namespace {

using clock_type = std::chrono::steady_clock;

// How long a tool may take, and how often a failing one is run.
constexpr auto LIMIT = std::chrono::seconds(2);
constexpr int ATTEMPTS = 3;

bool set_q(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

bool on_path_q(const char* tool) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string dirs = path;
    size_t from = 0;
    while (from <= dirs.size()) {
        size_t to = dirs.find(':', from);
        if (to == std::string::npos) to = dirs.size();
        std::string dir = dirs.substr(from, to - from);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + tool;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return true;
        from = to + 1;
    }
    return false;
}

// A descriptor closed when it goes out of scope.
struct fd_t {
    int fd = -1;
    fd_t() = default;
    explicit fd_t(int f) : fd(f) {}
    ~fd_t() { reset(); }
    fd_t(const fd_t&) = delete;
    fd_t& operator=(const fd_t&) = delete;
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

int remaining_ms(clock_type::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits for the child until the deadline; kills it past that. True when it
// exited with status 0.
bool finish(pid_t pid, clock_type::time_point deadline) {
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0 && errno != EINTR) return false;
        if (remaining_ms(deadline) == 0) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Starts argv with in_fd, out_fd and err_fd as its standard input, output
// and error (the null device in their place when -1).
pid_t start(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd = -1) {
    fd_t null_in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    fd_t null_out(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (null_in.fd < 0 || null_out.fd < 0) return -1;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // The child starts with every signal at its default and none blocked.
    sigset_t all, none;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    sigemptyset(&none);
    bool ok =
        posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
        posix_spawnattr_setsigmask(&attr, &none) == 0 &&
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, in_fd >= 0 ? in_fd : null_in.fd, 0) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, out_fd >= 0 ? out_fd : null_out.fd, 1) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, err_fd >= 0 ? err_fd : null_out.fd, 2) == 0 &&
        posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
    pid_t pid = -1;
    if (ok && posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

// One run of a writer: the bytes on its input, then its exit.
bool write_once(const std::vector<std::string>& args, const std::string& bytes) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    fd_t read_end(ends[0]), write_end(ends[1]);
    pid_t pid = start(args, read_end.fd, -1);
    read_end.reset();
    if (pid < 0) return false;
    auto deadline = clock_type::now() + LIMIT;
    bool sent = ::fcntl(write_end.fd, F_SETFL, O_NONBLOCK) == 0;
    size_t at = 0;
    while (sent && at < bytes.size()) {
        pollfd p{write_end.fd, POLLOUT, 0};
        int ready = ::poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            sent = false;
            break;
        }
        ssize_t n = ::write(write_end.fd, bytes.data() + at, bytes.size() - at);
        if (n > 0) {
            at += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            sent = false;  // the tool closed its input (EPIPE): it failed
        }
    }
    write_end.reset();
    bool ended_well = finish(pid, sent ? deadline : clock_type::now());
    return sent && ended_well;
}

// What a reader wrote on its error output, from the file that held it.
std::string errors_of(int fd) {
    std::string text;
    char chunk[512];
    ssize_t n;
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) return text;
    while (text.size() < 4096 && (n = ::read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    return text;
}

// One run of a reader: its whole output, then its exit. timed_out tells a
// run that outlived the limit; errors (when given) receives what a failed
// run wrote on its error output, kept in a memory file that never fills.
bool read_once(const std::vector<std::string>& args, std::string* out, bool* timed_out,
               std::string* errors) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    fd_t read_end(ends[0]), write_end(ends[1]);
    fd_t error_file(errors != nullptr ? ::memfd_create("clipboard-errors", MFD_CLOEXEC) : -1);
    pid_t pid = start(args, -1, write_end.fd, error_file.fd);
    write_end.reset();
    if (pid < 0) return false;
    auto deadline = clock_type::now() + LIMIT;
    out->clear();
    char chunk[1 << 14];
    for (;;) {
        pollfd p{read_end.fd, POLLIN, 0};
        int ready = ::poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            *timed_out = true;
            finish(pid, clock_type::now());
            return false;
        }
        ssize_t n = ::read(read_end.fd, chunk, sizeof chunk);
        if (n > 0) {
            out->append(chunk, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    bool ok = finish(pid, deadline);
    if (!ok && remaining_ms(deadline) == 0) *timed_out = true;
    if (!ok && errors != nullptr) *errors = errors_of(error_file.fd);
    return ok;
}

// Runs of a tool 1 ms apart while it fails; one that hung is not run again.
bool write_tool(const std::vector<std::string>& args, const std::string& bytes) {
    for (int i = 0; i < ATTEMPTS; i++) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (write_once(args, bytes)) return true;
    }
    return false;
}

// The words the tools fail with when the clipboard has no owner: nothing
// was ever copied, or its owner has gone. That is an empty clipboard, not
// a failure.
bool no_owner_q(const std::string& errors) {
    for (const char* words : {"target TARGETS not available", "Nothing is copied", "No selection"})
        if (errors.find(words) != std::string::npos) return true;
    return false;
}

// The same for a reader; errors receives the last failed run's error text.
// A clipboard without an owner is not asked again.
bool read_tool(const std::vector<std::string>& args, std::string* out,
               std::string* errors = nullptr) {
    for (int i = 0; i < ATTEMPTS; i++) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bool timed_out = false;
        if (read_once(args, out, &timed_out, errors)) return true;
        if (timed_out || (errors != nullptr && no_owner_q(*errors))) return false;
    }
    return false;
}

}  // namespace

bridge_t chosen() {
    if (set_q("WAYLAND_DISPLAY") && on_path_q("wl-copy") && on_path_q("wl-paste"))
        return bridge_t::WAYLAND;
    if (set_q("DISPLAY") && on_path_q("xclip")) return bridge_t::XCLIP;
    return bridge_t::NONE;
}

std::string type_name(bridge_t bridge, const std::string& mime) {
    if (bridge == bridge_t::XCLIP && mime == "text/plain;charset=utf-8") return "UTF8_STRING";
    return mime;
}

bool put(bridge_t bridge, const std::string& type, const std::string& bytes) {
    if (bridge == bridge_t::WAYLAND) {
        if (type.empty()) return write_tool({"wl-copy", "--clear"}, "");
        return write_tool({"wl-copy", "--type", type}, bytes);
    }
    if (bridge == bridge_t::XCLIP) {
        // xclip cannot give the selection up: it holds nothing under a type
        // of our own, which no reader takes for text, files or an image.
        std::string t = type.empty() ? std::string(EMPTY_TYPE) : type;
        return write_tool({"xclip", "-selection", "clipboard", "-t", t, "-i"},
                          type.empty() ? std::string() : bytes);
    }
    return false;
}

bool offered(bridge_t bridge, std::vector<std::string>* types) {
    std::string listing, errors;
    bool ok = false;
    if (bridge == bridge_t::WAYLAND)
        ok = read_tool({"wl-paste", "--list-types"}, &listing, &errors);
    if (bridge == bridge_t::XCLIP)
        ok = read_tool({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}, &listing,
                       &errors);
    types->clear();
    if (!ok) return no_owner_q(errors);
    size_t from = 0;
    while (from < listing.size()) {
        size_t to = listing.find('\n', from);
        if (to == std::string::npos) to = listing.size();
        std::string line = listing.substr(from, to - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) types->push_back(line);
        from = to + 1;
    }
    return true;
}

bool fetch(bridge_t bridge, const std::string& type, std::string* bytes) {
    if (bridge == bridge_t::WAYLAND)
        return read_tool({"wl-paste", "--no-newline", "--type", type}, bytes);
    if (bridge == bridge_t::XCLIP)
        return read_tool({"xclip", "-selection", "clipboard", "-o", "-t", type}, bytes);
    return false;
}

}  // namespace zuv::clipboard::tools
