// Faces shown through the View engine reach the terminal backend: the
// routines bound in system/view/platform make, update and destroy widgets,
// and the backend's start-up reads the terminal's size and colour support.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "tests/unit/library_fixture.h"
#include "tests/unit/tui_rows.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {
namespace {

using test::row_text;

class TuiPlatform : public testing::Library {
protected:
    void SetUp() override {
        Library::SetUp();
        screen().term_width = 80;
        screen().term_height = 24;
    }
    void TearDown() override { eval("unview/all"); }

    static widget_t* widget(const char* word) {
        cell_t face = eval(word);
        return face_handle_q(&face);
    }
    static bool truth(const char* code) {
        cell_t v = eval(code);
        return type_of(&v) == TYPE_logic && logic::get(&v);
    }
    static std::u32string row(int32_t y) { return row_text(screen(), y); }

    // A window of a progress bar, a check box and two radios of one pane,
    // shown without running the event loop.
    static void view_sample() {
        eval(R"(
            p: make face! [type: 'progress offset: 0x0 size: 12x1 data: 0.5]
            c: make face! [type: 'check offset: 0x1 size: 8x1 text: "Yes"]
            r1: make face! [type: 'radio offset: 0x2 size: 8x1 text: "A" data: true]
            r2: make face! [type: 'radio offset: 0x3 size: 8x1 text: "B"]
            win: make face! [type: 'window size: 14x4 pane: reduce [p c r1 r2]]
            view/no-wait win)");
    }
};

TEST_F(TuiPlatform, ViewMakesTheWidgetTree) {
    view_sample();
    widget_t* win = widget("win");
    ASSERT_NE(win, nullptr);
    ASSERT_NE(ui().active_window, nullptr);
    EXPECT_EQ(ui().active_window->widget, win);
    for (const char* word : {"p", "c", "r1", "r2"}) {
        SCOPED_TRACE(word);
        widget_t* w = widget(word);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parent, win);
    }
    // The handle `show` keeps in the face's state is the widget's.
    cell_t h = eval("first win/state");
    ASSERT_EQ(type_of(&h), TYPE_handle);
    EXPECT_EQ(handle::kind_of(&h), handle::kind::WINDOW);
    EXPECT_EQ(widget_of_handle(handle::value_of(&h)), win);

    draw_active_window();
    EXPECT_EQ(row(0), U"[#####     ]  ");
    EXPECT_EQ(row(1), U"☐ Yes         ");
    EXPECT_EQ(row(2), U"◉ A           ");
    EXPECT_EQ(row(3), U"○ B           ");
}

TEST_F(TuiPlatform, FacetChangesReachTheCells) {
    view_sample();
    ui().redraw = false;
    // Auto-sync shows each change at once; without it, `show` does.
    eval("p/data: 0  c/data: true  r2/data: true");
    EXPECT_TRUE(ui().redraw);
    draw_active_window();
    EXPECT_EQ(row(0), U"[          ]  ");
    EXPECT_EQ(row(1), U"🞕 Yes         ");
    EXPECT_EQ(row(2), U"○ A           ");
    EXPECT_EQ(row(3), U"◉ B           ");

    eval("system/view/auto-sync?: false  p/data: 1.0");
    draw_active_window();
    EXPECT_EQ(row(0), U"[          ]  ");
    eval("show win  system/view/auto-sync?: true");
    draw_active_window();
    EXPECT_EQ(row(0), U"[##########]  ");
}

TEST_F(TuiPlatform, AFaceAddedToAShownPaneGetsAWidget) {
    view_sample();
    eval(R"(append win/pane extra: make face! [type: 'check offset: 9x1 size: 5x1 text: "Z"]
            show win)");
    ASSERT_NE(widget("extra"), nullptr);
    EXPECT_EQ(widget("extra")->parent, widget("win"));
    draw_active_window();
    EXPECT_EQ(row(1), U"☐ Yes    ☐ Z  ");
    // Its widget goes with the window's.
    eval("unview");
    EXPECT_EQ(widget("extra"), nullptr);
}

TEST_F(TuiPlatform, UnviewDestroysTheWidgets) {
    view_sample();
    widget_t* win = widget("win");
    ASSERT_NE(win, nullptr);
    uint32_t handle = win->handle;
    eval("unview");
    EXPECT_EQ(widget_of_handle(handle), nullptr);
    for (const char* word : {"win", "p", "c", "r1", "r2"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(widget(word), nullptr);
    }
    EXPECT_TRUE(truth("empty? system/view/screens/1/pane"));
    for (window_t* w : ui().windows) EXPECT_NE(w->widget, win);
    EXPECT_NE(ui().active_window != nullptr ? ui().active_window->widget : nullptr, win);
}

TEST_F(TuiPlatform, TheTopWindowIsActiveAndUnviewUncoversTheOneBelow) {
    eval(R"(
        w1: make face! [type: 'window size: 4x1 text: "one"]
        w2: make face! [type: 'window size: 4x1 text: "two"]
        view/no-wait w1
        view/no-wait w2)");
    ASSERT_NE(ui().active_window, nullptr);
    EXPECT_EQ(ui().active_window->widget, widget("w2"));
    eval("unview");
    ASSERT_NE(ui().active_window, nullptr);
    EXPECT_EQ(ui().active_window->widget, widget("w1"));
}

TEST_F(TuiPlatform, RoutinesRefuseWhatIsNoFace) {
    struct {
        const char* code;
        const char* id;
    } cases[] = {
        {"system/view/platform/update-view 3", "invalid-type"},
        {"system/view/platform/update-view [3]", "invalid-type"},
        {"system/view/platform/size-text make face! [] 3", "invalid-type"},
        {"system/view/platform/text-box-metrics make face! [type: 'base text: \"a\"] 0 3",
         "face-type"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        std::string code =
            std::string("e: try [") + c.code + "] all [error? e e/id = '" + c.id + "]";
        EXPECT_TRUE(truth(code.c_str()));
    }
    // A screen face or faces without a state block are passed over.
    EXPECT_TRUE(truth("none? system/view/platform/update-view system/view/screens/1"));
    EXPECT_TRUE(truth("none? system/view/platform/update-view reduce [make face! []]"));
}

TEST_F(TuiPlatform, MeasuresText) {
    EXPECT_TRUE(truth(R"((3, 2) = system/view/platform/size-text make face! [] "ab^/cde")"));
    EXPECT_TRUE(
        truth(R"((3, 2) = system/view/platform/size-text make face! [text: "ab^/cde"] none)"));
    EXPECT_TRUE(truth("none? system/view/platform/size-text make face! [] none"));
    EXPECT_TRUE(truth(
        R"(2 = system/view/platform/text-box-metrics make face! [type: 'rich-text text: "ab^/cde"] 0 4)"));
    EXPECT_TRUE(
        truth("none? system/view/platform/text-box-metrics make face! [type: 'rich-text] 0 4"));
}

// The start-up reads the colour support from the environment.
TEST_F(TuiPlatform, StartUpSetsTheColourMode) {
    const char* saved_term = std::getenv("TERM");
    const char* saved_colorterm = std::getenv("COLORTERM");
    std::string term = saved_term ? saved_term : "",
                colorterm = saved_colorterm ? saved_colorterm : "";
    struct {
        const char *term, *colorterm;
        int32_t mode;
    } cases[] = {
        {"xterm-256color", nullptr, 2},
        {nullptr, nullptr, 4},
        {"xterm-256color", "truecolor", 4},
        {"xterm", "24bit", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.term ? c.term : "-") + " " + (c.colorterm ? c.colorterm : "-"));
        if (c.term) setenv("TERM", c.term, 1);
        else unsetenv("TERM");
        if (c.colorterm) setenv("COLORTERM", c.colorterm, 1);
        else unsetenv("COLORTERM");
        screen().colour_mode = 0;
        eval("system/view/platform/init");
        EXPECT_EQ(screen().colour_mode, c.mode);
    }
    if (saved_term) setenv("TERM", term.c_str(), 1);
    else unsetenv("TERM");
    if (saved_colorterm) setenv("COLORTERM", colorterm.c_str(), 1);
    else unsetenv("COLORTERM");
}

// The screen face is as large as the terminal the backend writes to.
TEST_F(TuiPlatform, TheScreenFaceHasTheTerminalSize) {
    struct winsize ws {};
    ws.ws_col = 100;
    ws.ws_row = 30;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    ASSERT_TRUE(activate(slave, slave));
    eval("system/view/platform/init");
    deactivate();
    close(master);
    close(slave);
    cell_t size = eval("system/view/screens/1/size");
    ASSERT_EQ(type_of(&size), TYPE_pair);
    EXPECT_EQ(pair::get_x(&size), 100);
    EXPECT_EQ(pair::get_y(&size), 30);
}

TEST_F(TuiPlatform, RemovalsKeepATextListsScrollInRange) {
    // Assigned, the data is the face's own and its changes are heard.
    eval(R"(l: make face! [type: 'text-list size: 10x3 selected: 10]
        l/data: ["a" "b" "c" "d" "e" "f" "g" "h" "i" "j"]
        view/no-wait make face! [type: 'window size: 12x3 pane: reduce [l]])");
    widget_t* w = widget("l");
    ASSERT_NE(w, nullptr);
    w->kind_data = 7;  // the first shown line
    eval("remove/part at l/data 5 6");
    EXPECT_EQ(w->kind_data, 3);
    cell_t selected = eval("l/selected");
    ASSERT_EQ(type_of(&selected), TYPE_integer);
    EXPECT_EQ(integer::get(&selected), 4);
    eval("clear l/data");
    EXPECT_EQ(w->kind_data, 0);
    EXPECT_TRUE(truth("none? l/selected"));
}

TEST_F(TuiPlatform, SmallRoutines) {
    view_sample();
    // A paragraph change is pending for the face; a font drops its state.
    eval("p/state/2: 0 system/view/platform/update-para p 0");
    EXPECT_TRUE(truth("p/state/2 = shift-left 1 18"));
    EXPECT_TRUE(
        truth("f: make font! [] f/state: 1 system/view/platform/update-font f 2 none? f/state"));
    EXPECT_TRUE(truth("f/state: 1 system/view/platform/update-font f 3 f/state = 1"));
    // No requester helpers yet: none.
    EXPECT_TRUE(truth("none? system/view/platform/request-file \"t\" none none false false"));
    // With no loop running, ending one changes nothing.
    eval("system/view/platform/exit-event-loop");
    EXPECT_EQ(ui().loop_depth, 0);
}

}  // namespace
}  // namespace zuv::tui
