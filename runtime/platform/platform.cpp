#include "runtime/platform/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/lowrt.h"

namespace zuv::platform {
namespace {

// Set once standard output is lost: what is still written to it on the way
// out (the exit hooks' flush) is dropped.
bool output_lost = false;

// Readable once wake_wait ran: a signal reaches whichever thread the system
// picks, and only this brings the runtime's thread out of a wait.
int wake_fd = -1;

int64_t monotonic_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace

void init() {
    // A write to a closed pipe must come back as EPIPE so that write_all can
    // end the process with its own status instead of dying by the signal.
    signal(SIGPIPE, SIG_IGN);
    // A standard stream that was closed gets a stand-in facing the wrong way
    // (/dev/null opened for reading on output, for writing on input): a file
    // opened later would otherwise take its number and receive the prints,
    // while the stand-in fails every transfer as the closed stream did.
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int stand_in = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (stand_in >= 0 && stand_in != fd) {
            dup2(stand_in, fd);
            close(stand_in);
        }
    }
    // After the stand-ins: it must not take the number of a closed stream.
    if (wake_fd < 0) wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void output_failed(int error) {
    if (error == EPIPE) _exit(141);
    output_lost = true;
    // Standard error may be lost as well: then nothing more can be shown and
    // the status alone tells.
    std::string line =
        std::string("*** Write Error: standard output: ") + std::strerror(error) + "\n";
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    lowrt::run_exit_hooks();
    _exit(OUTPUT_LOST_STATUS);
}

void* virtual_alloc(size_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool virtual_free(void* address, size_t size) { return munmap(address, size) == 0; }

uint64_t address_space_limit() {
    rlimit r{};
    if (getrlimit(RLIMIT_AS, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<uint64_t>(r.rlim_cur);
}

std::string get_current_dir() {
    std::unique_ptr<char, decltype(&free)> p(getcwd(nullptr, 0), &free);
    return p ? std::string(p.get()) : std::string();
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

int64_t wait_ms(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) ms = 1.0;  // also catches NaN
    if (ms > static_cast<double>(INT64_MAX / 2)) ms = static_cast<double>(INT64_MAX / 2);
    return static_cast<int64_t>(ms);
}

void wait(double seconds, const volatile sig_atomic_t* stop) {
    int64_t ms = wait_ms(seconds);
    if (stop == nullptr || wake_fd < 0) {
        timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        while (nanosleep(&t, &t) == -1 && errno == EINTR) {
        }
        return;
    }
    // The flag is tested before each sleep, and a wake-up that came after
    // the test ends the sleep at once.
    int64_t end = monotonic_ms() + ms;
    for (;;) {
        if (*stop) return;
        int64_t left = end - monotonic_ms();
        if (left <= 0) return;
        pollfd p{wake_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX))) > 0) {
            uint64_t count = 0;
            ssize_t r = ::read(wake_fd, &count, sizeof count);
            (void)r;
        }
    }
}

void wake_wait() {
    if (wake_fd < 0) return;
    uint64_t one = 1;
    ssize_t r = ::write(wake_fd, &one, sizeof one);
    (void)r;
}

namespace {
// localtime_r reads TZ only once: a zone set or removed later must be read
// again, or now would keep the zone the process started with.
bool changed(const char* name, bool ok) {
    if (ok && std::strcmp(name, "TZ") == 0) tzset();
    return ok;
}
}  // namespace

bool set_env(const char* name, const char* value) {
    return changed(name, setenv(name, value, 1) == 0);
}

bool unset_env(const char* name) { return changed(name, unsetenv(name) == 0); }

const char* get_env(const char* name) { return getenv(name); }

double get_time(bool precise) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    double t = static_cast<double>(now.tv_sec % 86400);
    if (precise) t += static_cast<double>(now.tv_nsec) / 1e9;
    return t;
}

uint32_t pack_zone(int offset_minutes) {
    // The sign goes with the offset, not with its whole hours, so that a zone
    // less than an hour west of UTC still packs as west; the quarters are
    // those of the offset's magnitude (-3:30 is 3 hours and 2 quarters west).
    bool west = offset_minutes < 0;
    int magnitude = west ? -offset_minutes : offset_minutes;
    uint32_t hours = static_cast<uint32_t>(magnitude / 60) & 0x0F;
    uint32_t quarters = static_cast<uint32_t>(magnitude % 60) / 15;
    return ((hours | (west ? 0x10u : 0u)) << 2) | quarters;
}

uint32_t get_date(bool utc) {
    time_t now = time(nullptr);
    tm t{};
    uint32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &t);
    } else {
        localtime_r(&now, &t);
        zone = pack_zone(static_cast<int>(t.tm_gmtoff / 60));
    }
    return (static_cast<uint32_t>(t.tm_year + 1900) << 17) |
           (static_cast<uint32_t>(t.tm_mon + 1) << 12) | (static_cast<uint32_t>(t.tm_mday) << 7) |
           zone;
}

void write_all(int fd, const char* bytes, size_t count) {
    if (fd == STDOUT_FILENO && output_lost) return;
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (fd == STDOUT_FILENO) output_failed(errno);
            if (errno == EPIPE) _exit(141);
            return;  // standard error: nothing is left to report its failure to
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

bool read_random_device(const char* path, void* buffer, size_t length) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < length) {
        ssize_t n = read(fd, p + got, length - got);
        if (n > 0) got += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
    close(fd);
    return got == length;
}

bool random_bytes(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < length) {
        ssize_t n = getrandom(p + got, length - got, 0);
        if (n > 0) got += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;  // no such call (an old kernel or a sandbox), or refused
    }
    return got == length || read_random_device("/dev/urandom", p + got, length - got);
}

}  // namespace zuv::platform
