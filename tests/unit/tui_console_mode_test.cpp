// Console mode on a pseudo-terminal: the modes while active, their return
// at deactivation, and the bytes that reach the terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/unit/tui_pty.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/tui.h"

namespace zuv::tui {
namespace {

struct TuiConsoleMode : ::testing::Test {
    int master = -1, slave = -1;

    void SetUp() override {
        struct winsize ws {};
        ws.ws_col = 100;
        ws.ws_row = 30;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    }
    void TearDown() override {
        deactivate();
        close(master);
        close(slave);
    }

    // `stty -g` of the pty, as a shell sees it.
    std::string stty() {
        std::string cmd = std::string("stty -g < ") + ttyname(slave);
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
        return out;
    }

    // Everything the terminal received so far.
    std::string received() { return test::received(master, 100); }
};

TEST_F(TuiConsoleMode, ModesComeBackAfterDeactivation) {
    std::string before = stty();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(activate(slave, slave));
    EXPECT_TRUE(active_q());
    struct termios mode {};
    ASSERT_EQ(tcgetattr(slave, &mode), 0);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | IEXTEN), 0u);
    // Ctrl-C stays a signal (it must reach running code); Ctrl-\ and Ctrl-Z
    // are keys.
    EXPECT_NE(mode.c_lflag & ISIG, 0u);
    EXPECT_EQ(mode.c_cc[VINTR], 3);
    EXPECT_EQ(mode.c_cc[VQUIT], _POSIX_VDISABLE);
    EXPECT_EQ(mode.c_cc[VSUSP], _POSIX_VDISABLE);
    EXPECT_EQ(mode.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_NE(mode.c_oflag & OPOST, 0u);
    EXPECT_EQ(mode.c_cc[VMIN], 0);
    EXPECT_EQ(mode.c_cc[VTIME], 0);
    EXPECT_NE(stty(), before);
    EXPECT_EQ(screen().term_width, 100);
    EXPECT_EQ(screen().term_height, 30);
    // A second activation keeps the first saved modes.
    EXPECT_TRUE(activate(slave, slave));
    deactivate();
    EXPECT_FALSE(active_q());
    EXPECT_EQ(stty(), before);
    deactivate();  // twice is harmless
    EXPECT_EQ(stty(), before);
}

TEST_F(TuiConsoleMode, NoTerminalNoActivation) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_FALSE(activate(fds[0], slave));
    EXPECT_FALSE(activate(slave, fds[1]));
    EXPECT_FALSE(active_q());
    close(fds[0]);
    close(fds[1]);
}

TEST_F(TuiConsoleMode, RepaintIsOneWriteAndPrintingMovesAround) {
    ASSERT_TRUE(activate(slave, slave));
    received();
    screen_t& s = screen();
    s.fullscreen = false;
    s.cursor_row = 0;
    s.size_to(2, 2);
    s.at(0, 0)->code = 'a';
    s.at(1, 1)->code = 'b';
    flush_screen();
    // Output processing is kept, so the line feed arrives as CR LF.
    EXPECT_EQ(received(), "\r\x1b[2Ka \x1b[49m\r\r\n\x1b[2K b");
    EXPECT_TRUE(s.drawn);
    EXPECT_FALSE(s.redraw);

    before_print();
    // Row by row, back to the top.
    EXPECT_EQ(received(), "\r\x1b[1A\x1b[2K\x1b[1B\x1b[2K\x1b[1A");
    EXPECT_FALSE(s.drawn);
    EXPECT_EQ(s.cursor_row, 0);
    after_print();
    EXPECT_EQ(received(), "\x1b[6n");
    EXPECT_TRUE(s.redraw);

    // Nothing was drawn since: nothing to erase.
    before_print();
    EXPECT_EQ(received(), "");

    deactivate();
    before_print();
    after_print();
    EXPECT_EQ(received(), "");
}

// Fullscreen, printed text goes to the normal screen, where it stays to be
// read; the window comes back on the alternate screen, repainted.
TEST_F(TuiConsoleMode, PrintingLeavesTheAlternateScreen) {
    ASSERT_TRUE(activate(slave, slave));
    screen_t& s = screen();
    s.fullscreen = true;
    enter_fullscreen();
    s.size_to(2, 1);
    s.at(0, 0)->code = 'a';
    flush_screen();
    received();
    before_print();
    EXPECT_EQ(received(), "\x1b[?1049l");
    EXPECT_FALSE(fullscreen_entered_q());
    after_print();
    EXPECT_EQ(received(), "\x1b[?1049h\x1b[2J");
    EXPECT_TRUE(fullscreen_entered_q());
    EXPECT_TRUE(s.redraw);
    leave_fullscreen();
    received();
    s.fullscreen = false;
}

}  // namespace
}  // namespace zuv::tui
