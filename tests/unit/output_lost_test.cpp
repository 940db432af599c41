// Standard output that cannot be written: the process ends with status 74
// and one line on standard error, not in silence; a closed stream gets a
// stand-in so that no file takes its number.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <string>

#include "runtime/console_output.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "tests/unit/runtime_fixture.h"
#include "gtest/gtest.h"

using namespace zuv;

namespace {

constexpr int CLOSED = -1;

// The children write before any runtime exists, as at start-up.
class OutputLost : public ::testing::Test {
protected:
    void SetUp() override { zuv::testing::start_bare_memory(); }
};

struct child_end {
    int status = -1;  // exit status, or -1 when the child did not exit
    std::string err;  // what it wrote on standard error
};

// Runs body in a child whose standard output is `out` (CLOSED: none) and
// whose standard error is a pipe read here, or /dev/full when err_full.
child_end run_child(int out, bool err_full, const std::function<void()>& body) {
    int err_pipe[2];
    if (pipe(err_pipe) != 0) return {};
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        signal(SIGPIPE, SIG_IGN);  // as start-up sets it
        if (out == CLOSED) close(1);
        else dup2(out, 1);
        if (err_full) dup2(open("/dev/full", O_WRONLY), 2);
        else dup2(err_pipe[1], 2);
        close(err_pipe[0]);
        body();
        _exit(0);
    }
    close(err_pipe[1]);
    child_end r;
    char buffer[256];
    for (ssize_t n; (n = read(err_pipe[0], buffer, sizeof buffer)) > 0;)
        r.err.append(buffer, static_cast<size_t>(n));
    close(err_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    return r;
}

void print_line() {
    const uint8_t line[] = "text";
    platform::write_text(line, 4, 1, true);
}

TEST_F(OutputLost, FailedWriteEndsWith74AndSaysWhy) {
    int full = open("/dev/full", O_WRONLY);
    int read_only = open("/dev/null", O_RDONLY);
    ASSERT_GE(full, 0);
    ASSERT_GE(read_only, 0);
    const struct {
        const char* name;
        int out;
        bool err_full;
        std::string err;
    } cases[] = {
        {"full disk", full, false, "*** Write Error: standard output: No space left on device\n"},
        {"closed", CLOSED, false, "*** Write Error: standard output: Bad file descriptor\n"},
        {"read-only", read_only, false, "*** Write Error: standard output: Bad file descriptor\n"},
        // Standard error lost too: nothing can be shown, the status still tells.
        {"both lost", full, true, ""},
    };
    for (const auto& c : cases) {
        child_end r = run_child(c.out, c.err_full, print_line);
        EXPECT_EQ(r.status, platform::OUTPUT_LOST_STATUS) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
    close(full);
    close(read_only);
}

// Text gathered but not yet written (a bad character interrupted the print)
// goes out at exit; when that fails, the end is the same.
TEST_F(OutputLost, FlushAtExitThatFailsEndsWith74) {
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    child_end r = run_child(full, false, [] {
        platform::init_console_output();
        const uint32_t text[] = {'a', 0x110000};
        try {
            platform::write_text(reinterpret_cast<const uint8_t*>(text), sizeof text, 4, true);
        } catch (const raised_error&) {
        }
        lowrt::quit(0);
    });
    close(full);
    EXPECT_EQ(r.status, platform::OUTPUT_LOST_STATUS);
    EXPECT_EQ(r.err, "*** Write Error: standard output: No space left on device\n");
}

// With standard output closed at start, a file opened later must not take
// descriptor 1 (prints would land in it); writes to 1 still fail.
TEST_F(OutputLost, ClosedStreamGetsAStandIn) {
    child_end r = run_child(CLOSED, false, [] {
        platform::init();
        int file = open("/dev/null", O_WRONLY);
        errno = 0;
        bool refused = write(1, "x", 1) < 0 && errno == EBADF;
        _exit(file > 2 && refused ? 0 : 1);
    });
    EXPECT_EQ(r.status, 0);
}

}  // namespace
