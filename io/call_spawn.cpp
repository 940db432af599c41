// The worker of call: starting the shell and, when the call waits, feeding
// and draining the child's pipes in one poll loop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "io/call.h"
#include "io/call_reap.h"

extern char** environ;

namespace zuv::call {

redirect_t::~redirect_t() {
    if (buffer != nullptr) ::munmap(buffer, static_cast<size_t>(capacity));
}

void redirect_t::release_below(int64_t end) {
    static const int64_t page = ::sysconf(_SC_PAGESIZE);
    int64_t whole = end / page * page;
    if (whole <= released) return;
    ::madvise(buffer + released, static_cast<size_t>(whole - released), MADV_DONTNEED);
    released = whole;
}

namespace {

constexpr int64_t FIRST_CAPTURE = 1 << 16;
// Bytes handed to one write on the input pipe.
constexpr int64_t SEND_CHUNK = 1 << 16;

// Owns one descriptor: whatever way a call ends, what it opened is closed.
class fd_t {
public:
    fd_t() = default;
    explicit fd_t(int fd) : fd_(fd) {}
    ~fd_t() { reset(); }
    fd_t(fd_t&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    fd_t& operator=(fd_t&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    fd_t(const fd_t&) = delete;
    fd_t& operator=(const fd_t&) = delete;

    int get() const { return fd_; }
    bool open_q() const { return fd_ >= 0; }
    // Linux frees the descriptor even when close reports EINTR: no retry.
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A new descriptor at 0, 1 or 2 (our own standard stream was closed) would
// be overwritten in the child by the placing of another one: move it above.
fd_t above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd_t(fd);
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return fd_t(moved);
}

fd_t open_path(const std::string& path, int flags) {
    if (path.empty() || path.find('\0') != std::string::npos) return fd_t();
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return above_standard(fd);
}

// An input file must exist and be readable as a file: a folder is refused.
fd_t open_input(const std::string& path) {
    fd_t fd = open_path(path, O_RDONLY);
    struct stat st;
    if (fd.open_q() && (fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode))) fd.reset();
    return fd;
}

bool make_pipe(fd_t* read_end, fd_t* write_end) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    *read_end = above_standard(ends[0]);
    *write_end = above_standard(ends[1]);
    return read_end->open_q() && write_end->open_q();
}

bool set_nonblocking(const fd_t& fd) {
    int flags = fcntl(fd.get(), F_GETFL);
    return flags >= 0 && fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) == 0;
}

// The spawn records, destroyed on every way out.
struct spawn_setup_t {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool ready;

    spawn_setup_t() {
        bool actions_ok = posix_spawn_file_actions_init(&actions) == 0;
        bool attr_ok = posix_spawnattr_init(&attr) == 0;
        ready = actions_ok && attr_ok;
        if (!ready) {
            if (actions_ok) posix_spawn_file_actions_destroy(&actions);
            if (attr_ok) posix_spawnattr_destroy(&attr);
        }
    }
    ~spawn_setup_t() {
        if (ready) {
            posix_spawn_file_actions_destroy(&actions);
            posix_spawnattr_destroy(&attr);
        }
    }
    spawn_setup_t(const spawn_setup_t&) = delete;
    spawn_setup_t& operator=(const spawn_setup_t&) = delete;

    // The child starts with every signal at its default and none blocked,
    // whatever the runtime ignores or blocks.
    bool clean_signals() {
        sigset_t all, none;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        sigemptyset(&none);
        return posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
               posix_spawnattr_setsigmask(&attr, &none) == 0 &&
               posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0;
    }
    // fd -1 leaves the child our own descriptor.
    bool place(int fd, int standard) {
        return fd < 0 || posix_spawn_file_actions_adddup2(&actions, fd, standard) == 0;
    }
    // After the placing: what we opened is close-on-exec already, but a
    // descriptor we were given open is not ours to hand on.
    bool close_rest() { return posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0; }
};

// Where the next read of a capture goes, and how much fits. Past the
// largest value, or when memory runs out, reads go to a sink: the child is
// drained all the same, and the capture marked.
uint8_t* capture_room(redirect_t& r, int64_t* room) {
    static uint8_t sink[1 << 16];
    if (r.length == r.capacity && !r.overflow) {
        int64_t grown = r.capacity == 0 ? FIRST_CAPTURE : std::min(r.capacity * 2, MAX_CAPTURE);
        // Remapping moves the pages, not the bytes: no copy, and no moment
        // when the old and the new buffer are both held.
        void* p = grown <= r.capacity ? MAP_FAILED
                  : r.capacity == 0
                      ? ::mmap(nullptr, static_cast<size_t>(grown), PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                      : ::mremap(r.buffer, static_cast<size_t>(r.capacity),
                                 static_cast<size_t>(grown), MREMAP_MAYMOVE);
        if (p == MAP_FAILED) {
            r.overflow = true;
        } else {
            r.buffer = static_cast<uint8_t*>(p);
            r.capacity = grown;
        }
    }
    if (r.overflow) {
        *room = sizeof sink;
        return sink;
    }
    *room = r.capacity - r.length;
    return r.buffer + r.length;
}

// One read of a capture pipe; closes it at the end of the data or on an
// error.
void drain(fd_t& pipe, redirect_t& r) {
    int64_t room;
    uint8_t* at = capture_room(r, &room);
    ssize_t n = ::read(pipe.get(), at, static_cast<size_t>(room));
    if (n > 0) {
        if (!r.overflow) r.length += n;
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        pipe.reset();
    }
}

// One write to the input pipe; closes it once everything is sent. A child
// that has closed its end (EPIPE) or ended only stops the sending: SIGPIPE
// is ignored, so the write fails instead of ending us.
void send(fd_t& pipe, const redirect_t& in, int64_t* sent) {
    int64_t n = std::min(in.length - *sent, SEND_CHUNK);
    ssize_t w = ::write(pipe.get(), in.data + *sent, static_cast<size_t>(n));
    if (w > 0) {
        *sent += w;
        if (*sent >= in.length) pipe.reset();
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
        pipe.reset();
    }
}

// Feeds the input and drains output and error at the same time, until the
// child has closed its output and error and taken (or refused) its input.
void exchange(fd_t& input, const redirect_t& in, fd_t& output, redirect_t& out, fd_t& error,
              redirect_t& err) {
    int64_t sent = 0;
    if (input.open_q() && (in.length == 0 || !set_nonblocking(input))) input.reset();
    if (output.open_q() && !set_nonblocking(output)) output.reset();
    if (error.open_q() && !set_nonblocking(error)) error.reset();
    while (input.open_q() || output.open_q() || error.open_q()) {
        pollfd polled[3];
        int count = 0;
        if (input.open_q()) polled[count++] = {input.get(), POLLOUT, 0};
        if (output.open_q()) polled[count++] = {output.get(), POLLIN, 0};
        if (error.open_q()) polled[count++] = {error.get(), POLLIN, 0};
        if (::poll(polled, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR) continue;
            break;  // our ends close below: the child sees the end of input or a broken pipe
        }
        for (int i = 0; i < count; i++) {
            if (polled[i].revents == 0) continue;
            int fd = polled[i].fd;
            if (fd == input.get()) {
                send(input, in, &sent);
            } else if (fd == output.get()) {
                drain(output, out);
            } else if (fd == error.get()) {
                drain(error, err);
            }
        }
    }
    input.reset();
    output.reset();
    error.reset();
}

// The exit status as a shell reports it: the exit code, or 128 + the
// signal number. -1 when the child cannot be waited for.
int32_t wait_for(pid_t pid) {
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int32_t spawn(const std::string& command, const flags_t& flags, redirect_t& in, redirect_t& out,
              redirect_t& err) {
    errno = 0;
    bool waiting = flags.wait || flags.console || in.kind != redirect_t::NONE ||
                   out.kind != redirect_t::NONE || err.kind != redirect_t::NONE;
    // Our ends of the pipes, the child's ends, the files and the null device.
    fd_t input, output, error;
    fd_t child_in, child_out, child_err, null_device;

    switch (in.kind) {
    case redirect_t::FILE:
        child_in = open_input(in.path);
        if (!child_in.open_q()) return -1;
        break;
    case redirect_t::DATA:
        if (!make_pipe(&child_in, &input)) return -1;
        break;
    default: break;
    }
    // Output or error: the child's descriptor for it, SHARED to leave it ours.
    constexpr int SHARED = -1, FAILED = -2;
    auto route = [&](redirect_t& r, fd_t& ours, fd_t& childs) -> int {
        switch (r.kind) {
        case redirect_t::FILE: childs = open_path(r.path, O_WRONLY | O_CREAT | O_APPEND); break;
        case redirect_t::CAPTURE:
            if (!make_pipe(&ours, &childs)) return FAILED;
            break;
        default:
            if (flags.console) return SHARED;
            if (!null_device.open_q()) null_device = open_path("/dev/null", O_WRONLY);
            return null_device.open_q() ? null_device.get() : FAILED;
        }
        return childs.open_q() ? childs.get() : FAILED;
    };
    int out_fd = route(out, output, child_out);
    if (out_fd == FAILED) return -1;
    int err_fd = route(err, error, child_err);
    if (err_fd == FAILED) return -1;

    spawn_setup_t setup;
    if (!setup.ready || !setup.clean_signals() || !setup.place(child_in.get(), 0) ||
        !setup.place(out_fd, 1) || !setup.place(err_fd, 2) || !setup.close_rest())
        return -1;
    // "--": a command that begins with "-" is a command, not a shell option.
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("--"),
                    const_cast<char*>(command.c_str()), nullptr};
    pid_t pid;
    // E2BIG tells the caller the command is longer than a program is given.
    if (int failed = posix_spawn(&pid, "/bin/sh", &setup.actions, &setup.attr, argv, environ)) {
        errno = failed;
        return -1;
    }
    // The child holds its ends now; ours must go, or our reads would never
    // see the end of its output.
    child_in.reset();
    child_out.reset();
    child_err.reset();
    null_device.reset();

    if (!waiting) {
        adopt(pid);
        return pid;
    }
    exchange(input, in, output, out, error, err);
    return wait_for(pid);
}

bool open_with_desktop(const std::string& target) {
    if (target.find('\0') != std::string::npos) return false;
    spawn_setup_t setup;
    if (!setup.ready || !setup.clean_signals() || !setup.close_rest()) return false;
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "xdg-open", &setup.actions, &setup.attr, argv, environ) != 0)
        return false;
    adopt(pid);
    return true;
}

}  // namespace zuv::call
