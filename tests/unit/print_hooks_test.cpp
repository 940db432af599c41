// Console output and print hooks: the bytes that reach a redirected standard
// output, the hook lists, and the quiet end on a closed pipe.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "runtime/console_output.h"
#include "runtime/print_hooks.h"
#include "text_fixture.h"

using namespace zuv;
using zuv::test::TextTest;
using zuv::testing::raised;

namespace {

// Sends standard output to a temporary file for the fixture's lifetime and
// hands back what was written.
class ConsoleOutput : public TextTest {
protected:
    void SetUp() override {
        TextTest::SetUp();
        std::fflush(stdout);
        saved = dup(1);
        char name[] = "/tmp/zuv-console-XXXXXX";
        file = mkstemp(name);
        unlink(name);
        dup2(file, 1);
        platform::init_console_output();
    }
    void TearDown() override {
        platform::flush_console_output();
        dup2(saved, 1);
        close(saved);
        close(file);
        TextTest::TearDown();
    }
    std::string written() {
        platform::flush_console_output();
        std::string out;
        char chunk[4096];
        off_t at = 0;
        ssize_t n;
        while ((n = pread(file, chunk, sizeof chunk, at)) > 0) {
            out.append(chunk, static_cast<size_t>(n));
            at += n;
        }
        return out;
    }
    int saved = -1;
    int file = -1;
};

TEST_F(ConsoleOutput, PrintsUtf8WithLfLineEnds) {
    cell_t latin = text(U"caf\u00E9\n");
    cell_t ucs2 = text(U"\u20AC", 2);
    cell_t ucs4 = text(U"\U0001F600", 4);
    cell_t escape = text("\x1B[31mred\x1B[0m");
    print_hooks::console_printer(&latin, true);
    print_hooks::console_printer(&ucs2, false);
    print_hooks::console_printer(&ucs4, true);
    print_hooks::console_printer(&escape, false);
    EXPECT_EQ(written(), "caf\xC3\xA9\n\n\xE2\x82\xAC\xF0\x9F\x98\x80\n\x1B[31mred\x1B[0m");
}

TEST_F(ConsoleOutput, LowLevelWriters) {
    platform::prin_cstring("n=");
    platform::prin_int(-42);
    platform::prin_cstring(" ");
    platform::prin_hex(255);
    platform::prin_cstring(" ");
    platform::prin_2hex(10);
    platform::prin_cstring(" ");
    platform::prin_float(0.1);
    platform::prin_cstring(" ");
    platform::prin_float32(0.1f);
    EXPECT_EQ(written(), "n=-42 000000FF 0A 0.1 0.1");
}

TEST_F(ConsoleOutput, CharacterAboveTheLastCodePointIsAnError) {
    cell_t bad = text(U"a", 4);
    string::put_char(string::rs_head(&bad), 4, 0x110000);
    EXPECT_EQ(raised([&] { print_hooks::console_printer(&bad, true); }), err::invalid_char);
}

// Writing into a pipe whose reader has gone ends the process with 141 and
// nothing on standard error.
TEST(ConsoleOutputPipe, ClosedPipeEndsTheProcessWith141) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGPIPE, SIG_IGN);  // as start-up sets it
        dup2(fds[1], 1);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        const uint8_t line[] = "text";
        for (int i = 0; i < 1000; i++) platform::write_text(line, 4, 1, true);
        _exit(0);
    }
    close(fds[1]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 141);
}

// --- hook lists ----------------------------------------------------------------

std::string heard;
void hook_a(cell_t*, bool newline) { heard += newline ? "A\n" : "A"; }
void hook_b(cell_t*, bool) { heard += "B"; }
void hook_c(cell_t*, bool) { heard += "C"; }
void hook_d(cell_t*, bool) { heard += "D"; }
void hook_e(cell_t*, bool) { heard += "E"; }
void hook_f(cell_t*, bool) { heard += "F"; }
void raw_hook(const char* text, int32_t length, int32_t) {
    heard += "[" + std::string(text, length) + "]";
}

class PrintHooks : public ConsoleOutput {
protected:
    void SetUp() override {
        ConsoleOutput::SetUp();
        print_hooks::init();
        print_hooks::remove(print_hooks::console_printer, nullptr);
        saved_print = print_hooks::print_list.count;
        saved_raw = print_hooks::raw_list.count;
        heard.clear();
    }
    void TearDown() override {
        for (auto h : {hook_a, hook_b, hook_c, hook_d, hook_e, hook_f}) {
            print_hooks::remove(h, nullptr);
            print_hooks::remove(h, nullptr);
        }
        print_hooks::remove(nullptr, raw_hook);
        print_hooks::add(print_hooks::console_printer, nullptr);
        ConsoleOutput::TearDown();
    }
    int32_t saved_print = 0, saved_raw = 0;
};

TEST_F(PrintHooks, CallsInOrderAndGrowsByFive) {
    cell_t s = text("x");
    print_hooks::call(&s, true);
    EXPECT_EQ(heard, "");
    EXPECT_EQ(written(), "") << "with no hook, print writes nothing";

    for (auto h : {hook_a, hook_b, hook_c, hook_d, hook_e, hook_f}) print_hooks::add(h, nullptr);
    EXPECT_EQ(print_hooks::print_list.count, 6);
    EXPECT_EQ(print_hooks::print_list.capacity, 10);
    print_hooks::call(&s, false);
    EXPECT_EQ(heard, "ABCDEF");
}

TEST_F(PrintHooks, RemoveTakesTheFirstCopyOnly) {
    print_hooks::add(hook_a, nullptr);
    print_hooks::add(hook_b, nullptr);
    print_hooks::add(hook_a, nullptr);
    print_hooks::remove(hook_c, nullptr);
    EXPECT_EQ(print_hooks::print_list.count, 3) << "removing an absent hook changes nothing";
    print_hooks::remove(hook_a, nullptr);
    cell_t s = text("x");
    print_hooks::call(&s, false);
    EXPECT_EQ(heard, "BA");
}

TEST_F(PrintHooks, RawHooksHearTheLowLevelWriters) {
    print_hooks::add(nullptr, raw_hook);
    platform::prin_cstring("hi");
    platform::prin_int(7);
    EXPECT_EQ(heard, "[hi][7]");
    EXPECT_EQ(written(), "hi7");
}

}  // namespace
