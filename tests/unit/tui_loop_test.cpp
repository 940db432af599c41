// The frame loop on a fake clock and a fake terminal: frame pacing and
// timer ticks, clicks and double clicks, the paths events take to actors,
// nested loops and timers that go while they tick.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime/fire.h"
#include "tests/unit/library_fixture.h"
#include "tests/unit/tui_pty.h"
#include "view/backends/terminal/event_loop.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {
namespace {

// The fake terminal: time moves only when the loop waits or a test says
// so; input arrives at the frames a test names (frames count the waits).
struct fake_t {
    int64_t now = 1000;
    int32_t frame = 0;
    std::vector<int32_t> waits;
    std::map<int32_t, std::string> input;  // by frame
    int32_t stop_at = -1;  // the frame that ends the loop
};
fake_t fake;

bool fake_enter() { return true; }
void fake_leave() {}
int64_t fake_now() { return fake.now; }
void fake_wait(int32_t ms) {
    fake.waits.push_back(ms);
    fake.now += ms;
}
size_t fake_read(char* buffer, size_t room) {
    if (fake.stop_at >= 0 && fake.frame >= fake.stop_at) exit_event_loop();
    auto it = fake.input.find(fake.frame++);
    if (it == fake.input.end()) return 0;
    size_t n = std::min(room, it->second.size());
    std::copy(it->second.begin(), it->second.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    fake.input.erase(it);
    --fake.frame;  // the loop reads until nothing comes: one frame, one delivery
    return n;
}

class TuiLoop : public testing::Library {
protected:
    void SetUp() override {
        Library::SetUp();
        fake = fake_t{};
        saved = loop_io;
        loop_io = loop_io_t{fake_enter, fake_leave, fake_now, fake_wait, fake_read};
        screen().term_width = 80;
        screen().term_height = 24;
        screen().origin_row = 0;
        // The UI's state outlives a loop while windows remain: each case
        // starts with no click behind it.
        ui().click_state = ui().click_timer = 0;
    }
    void TearDown() override {
        eval("unview/all");
        loop_io = saved;
        ui().loop_depth = 0;
    }

    static widget_t* widget(const char* word) {
        cell_t face = eval(word);
        return face_handle_q(&face);
    }

    // The words a script collected in the block `log`.
    static std::string log() {
        cell_t text = eval("form log");
        std::u32string t = text_of(&text);
        return std::string(t.begin(), t.end());
    }

    // A mouse report at cell (x, y), 0-based.
    static std::string mouse(int32_t cb, int32_t x, int32_t y, bool release) {
        return "\x1b[<" + std::to_string(cb) + ";" + std::to_string(x + 1) + ";" +
               std::to_string(y + 1) + (release ? "m" : "M");
    }

    loop_io_t saved{};
};

// A timer's own handler (no actor needed): it sees the frame time its tick
// came with, and moves the clock as a frame's work would.
std::vector<int32_t> ticks;
std::vector<int64_t> work;
int32_t on_tick(int32_t type, widget_t*, const widget_event_t&) {
    if (type != 33) return 0;
    ticks.push_back(frame_time());
    if (ticks.size() <= work.size()) fake.now += work[ticks.size() - 1];
    else exit_event_loop();
    return 0;
}

TEST_F(TuiLoop, FramesArePacedAndTimersTickWithTheFrameTime) {
    eval(R"(t: make face! [type: 'base size: 2x1 rate: 1000]
        view/no-wait make face! [type: 'window size: 4x2 pane: reduce [t]])");
    widget_t* t = widget("t");
    ASSERT_NE(t, nullptr);
    t->handle_event = on_tick;
    ticks.clear();
    // A frame whose work took 40 ms waits 0 and ticks by 40; one of 5 ms
    // waits 28 and ticks by 33.
    work = {40, 5, 33, 34};
    eval("do-events");
    EXPECT_EQ(ticks, (std::vector<int32_t>{33, 40, 33, 33, 34}));
    EXPECT_EQ(fake.waits, (std::vector<int32_t>{33, 28, 0}));
    EXPECT_EQ(ui().loop_depth, 0);
}

TEST_F(TuiLoop, ClicksAndDoubleClicks) {
    eval(R"(log: copy []
        note: func [f e] [append log e/type]
        b: make face! [type: 'base offset: 1x1 size: 4x1
            actors: object [on-down: :note on-up: :note on-click: :note on-dbl-click: :note]]
        view/no-wait make face! [type: 'window size: 10x3 pane: reduce [b]])");
    // Two clicks 400 ms apart (twelve frames), then a third at once.
    fake.input = {{1, mouse(0, 2, 1, false)},  {2, mouse(0, 2, 1, true)},
                  {14, mouse(0, 2, 1, false)}, {15, mouse(0, 2, 1, true)},
                  {16, mouse(0, 2, 1, false)}, {17, mouse(0, 2, 1, true)}};
    fake.stop_at = 19;
    eval("do-events");
    EXPECT_EQ(log(), "down up click down up click dbl-click down up click");
}

// The cursor report names the terminal's last row: the three-row area is
// pulled up to fit, and mouse rows count from where it was placed, whether
// the click comes frames later (nothing repainted between) or in the same
// read as the report.
TEST_F(TuiLoop, ClicksCountFromTheAreaPlacedToFit) {
    const std::string report = "\x1b[24;1R";
    const std::string click = mouse(0, 2, 22, false) + mouse(0, 2, 22, true);
    const std::map<int32_t, std::string> cases[] = {
        {{1, report}, {3, click}},
        {{1, report + click}},
    };
    for (const auto& input : cases) {
        eval(R"(log: copy []
            note: func [f e] [append log reduce [e/type e/offset]]
            b: make face! [type: 'base offset: 1x1 size: 4x1 actors: object [on-click: :note]]
            view/no-wait make face! [type: 'window size: 10x3 pane: reduce [b]])");
        screen().origin_row = 0;
        fake = fake_t{};
        fake.input = input;
        fake.stop_at = 5;
        eval("do-events");
        EXPECT_EQ(log(), "click 1x0");
        eval("unview/all");
    }
}

TEST_F(TuiLoop, ClicksFarApartAreSingle) {
    eval(R"(log: copy []
        note: func [f e] [append log e/type]
        b: make face! [type: 'base offset: 1x1 size: 4x1 actors: object [on-click: :note on-dbl-click: :note]]
        view/no-wait make face! [type: 'window size: 10x3 pane: reduce [b]])");
    fake.input = {{1, mouse(0, 2, 1, false) + mouse(0, 2, 1, true)},
                  {18, mouse(0, 2, 1, false) + mouse(0, 2, 1, true)}};
    fake.stop_at = 20;
    eval("do-events");
    EXPECT_EQ(log(), "click click");
}

TEST_F(TuiLoop, AReleaseOutsideIsNoClick) {
    struct {
        std::string release;
        const char* log;
    } cases[] = {
        // Dragged away first: the button, away, gets the release alone.
        {mouse(32, 7, 2, false) + mouse(0, 7, 2, true), "b-down b-up 6x1"},
        // Released elsewhere with no motion between: the same gesture, so
        // the same events (the button is never left pressed).
        {mouse(0, 7, 2, true), "b-down b-up 6x1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log);
        eval(R"(log: copy []
            b: make face! [type: 'base offset: 1x1 size: 4x1 actors: object [
                on-down: func [f e] [append log 'b-down]
                on-up: func [f e] [append log reduce ['b-up e/offset]]
                on-click: func [f e] [append log 'b-click]]]
            view/no-wait make face! [type: 'window size: 10x3 pane: reduce [b] actors: object [
                on-click: func [f e] [append log 'w-click]]])");
        fake.frame = 0;
        fake.input = {{1, mouse(0, 2, 1, false)}, {2, c.release}};
        fake.stop_at = 4;
        eval("do-events");
        EXPECT_EQ(log(), c.log);
        eval("unview/all");
    }
}

TEST_F(TuiLoop, APanelHearsEachClickOnItsButtonOnce) {
    eval(R"(log: copy []
        b: make face! [type: 'button offset: 1x0 size: 4x1 text: "ok"]
        p: make face! [type: 'panel offset: 1x1 size: 8x2 pane: reduce [b] actors: object [
            on-down: func [f e] [append log 'p-down]
            on-click: func [f e] [append log 'p-click]]]
        view/no-wait make face! [type: 'window size: 12x4 pane: reduce [p]])");
    fake.input = {{1, mouse(0, 3, 1, false)}, {2, mouse(0, 3, 1, true)}};
    fake.stop_at = 4;
    eval("do-events");
    EXPECT_EQ(log(), "p-down p-click");
}

TEST_F(TuiLoop, DoneFromKeyDownStopsTheKey) {
    eval(R"(log: copy []
        f: make face! [type: 'field size: 8x1 text: copy "" actors: object [
            on-key-down: func [f e] [append log 'down if e/key = #"x" ['done]]
            on-key: func [f e] [append log 'key]]]
        view/no-wait make face! [type: 'window size: 10x2 pane: reduce [f]])");
    set_focus(widget("f"));
    fake.input = {{1, "x"}, {2, "y"}};
    fake.stop_at = 3;
    eval("do-events");
    EXPECT_EQ(log(), "down down key");
    cell_t text = eval("f/text");
    EXPECT_EQ(text_of(&text), U"y");  // the field's own handler saw only y
}

TEST_F(TuiLoop, NestedLoopsAndCtrlC) {
    // A key opens a nested loop; Ctrl-C leaves it (the outer runs on) and
    // exit-event-loop then ends the outer one.
    eval(R"(log: copy []
        f: make face! [type: 'base size: 8x1 actors: object [
            on-key: func [f e] [
                append log e/key
                if e/key = #"n" [append log 'in do-events append log 'out]
                if e/key = #"e" [stop-events]
            ]]]
        view/no-wait make face! [type: 'window size: 10x2 pane: reduce [f]])");
    set_focus(widget("f"));
    fake.input = {{1, "n"}, {3, "a"}, {4, "\x03"}, {6, "b"}, {7, "e"}, {9, "c"}};
    eval("do-events");
    EXPECT_EQ(log(), "n in a out b e");
    EXPECT_EQ(ui().loop_depth, 0);
    // With no loop running, exit-event-loop does nothing.
    eval("stop-events");
    EXPECT_EQ(ui().loop_depth, 0);
}

TEST_F(TuiLoop, HoverAndCaptureFollowThePointer) {
    eval(R"(log: copy []
        a: make face! [type: 'base offset: 0x1 size: 4x1 actors: object [
            on-over: func [f e] [append log reduce ['a e/away?]]]]
        b: make face! [type: 'base offset: 6x1 size: 4x1 actors: object [
            on-over: func [f e] [append log reduce ['b e/away?]]]]
        view/no-wait make face! [type: 'window size: 12x3 pane: reduce [a b]])");
    // Over a, then over b; a press on b dragged back over a and released.
    fake.input = {{1, mouse(35, 1, 1, false)},
                  {2, mouse(35, 7, 1, false)},
                  {3, mouse(0, 7, 1, false)},
                  {4, mouse(32, 1, 1, false)},
                  {5, mouse(0, 1, 1, true)}};
    fake.stop_at = 7;
    eval("do-events");
    EXPECT_EQ(log(), "a false a true b false b true a false a false");
    EXPECT_EQ(ui().captured, nullptr);
}

TEST_F(TuiLoop, TheWheelGoesToTheDeepestEnabledFace) {
    eval(R"(log: copy []
        a: make face! [type: 'base offset: 0x0 size: 4x1 enabled?: false
            actors: object [on-wheel: func [f e] [append log reduce ['a e/picked]]]]
        b: make face! [type: 'base offset: 0x1 size: 4x1
            actors: object [on-wheel: func [f e] [append log reduce ['b e/picked]]]]
        view/no-wait make face! [type: 'window size: 6x2 pane: reduce [a b] actors: object [
            on-wheel: func [f e] [append log reduce ['w e/picked]]]])");
    fake.input = {{1, mouse(64, 1, 0, false)}, {2, mouse(65, 1, 1, false)}};
    fake.stop_at = 4;
    eval("do-events");
    // b answers nothing that stops bubbling: its window hears it as well.
    EXPECT_EQ(log(), "w 1.0 b -1.0 w -1.0");
}

// A Draw block that fails: printed once, then skipped until `draw` changes.
int32_t draw_calls = 0;
void failing_draw(widget_t*, const clip_box_t&, int32_t, int32_t) {
    ++draw_calls;
    fire(err::not_here, &none_value);
}

TEST_F(TuiLoop, ABadDrawBlockIsSkippedUntilItChanges) {
    draw_block_fn saved_hook = draw_block_hook;
    draw_block_hook = failing_draw;
    draw_calls = 0;
    eval(R"(d: make face! [type: 'base size: 4x1 draw: [box 0x0 1x1]]
        view/no-wait make face! [type: 'window size: 6x2 pane: reduce [d]])");
    draw_active_window();
    draw_active_window();
    EXPECT_EQ(draw_calls, 1);
    eval("d/draw: [box 0x0 2x1]");
    draw_active_window();
    draw_active_window();
    EXPECT_EQ(draw_calls, 2);
    draw_block_hook = saved_hook;
}

// Timers that go during a tick: a removed one never fires again.
std::vector<std::string> fired;
uint32_t timer_b = 0, timer_c = 0;
int32_t on_a(int32_t type, widget_t* w, const widget_event_t&) {
    if (type != 33) return 0;
    fired.push_back("a");
    timer_remove(w);
    if (widget_t* b = widget_of_handle(timer_b)) timer_remove(b);
    return 0;
}
int32_t on_other(int32_t type, widget_t* w, const widget_event_t&) {
    if (type != 33) return 0;
    fired.push_back(w->handle == timer_b ? "b" : "c");
    if (fired.size() >= 4) exit_event_loop();
    return 0;
}

TEST_F(TuiLoop, ARemovedTimerIsNeverTouchedAgain) {
    eval(R"(a: make face! [type: 'base size: 1x1 rate: 1000]
        b: make face! [type: 'base size: 1x1 rate: 1000]
        c: make face! [type: 'base size: 1x1 rate: 1000]
        view/no-wait make face! [type: 'window size: 4x2 pane: reduce [a b c]])");
    widget("a")->handle_event = on_a;
    widget("b")->handle_event = on_other;
    widget("c")->handle_event = on_other;
    timer_b = widget("b")->handle;
    timer_c = widget("c")->handle;
    fired.clear();
    eval("do-events");
    EXPECT_EQ(fired, (std::vector<std::string>{"a", "c", "c", "c"}));
}

// An abort on the runtime's own thread (a failed assertion) gives the
// terminal back, then ends the process by itself. The process is a child
// with a pseudo-terminal for its input and output and a view/no-wait window
// holding the terminal.
TEST_F(TuiLoop, AnAbortGivesTheTerminalBack) {
    int master = -1, slave = -1;
    struct winsize ws {};
    ws.ws_col = 80;
    ws.ws_row = 24;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    struct termios before {};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        loop_io = terminal_io();
        eval(R"(view/no-wait [text "x"])");
        std::abort();
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << "status " << status;
    struct termios after {};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    std::string out = test::received(master, 0);
    // Mouse reporting was on and the cursor hidden; both came back.
    size_t on = out.find("\x1b[?1000h"), off = out.find("\x1b[?1000l");
    EXPECT_TRUE(on != std::string::npos && off != std::string::npos && off > on) << out;
    size_t hidden = out.find("\x1b[?25l"), shown = out.rfind("\x1b[?25h");
    EXPECT_TRUE(hidden != std::string::npos && shown != std::string::npos && shown > hidden) << out;
    close(master);
    close(slave);
}

}  // namespace
}  // namespace zuv::tui
