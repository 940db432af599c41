// Widgets made from library faces, drawn into the cell screen.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "tests/unit/library_fixture.h"
#include "tests/unit/tui_pty.h"
#include "tests/unit/tui_rows.h"
#include "tests/unit/tui_screen_fixture.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/console_mode.h"
#include "view/backends/terminal/event_types.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/text_metrics.h"
#include "view/backends/terminal/ui_state.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {
namespace {

using test::row_text;

class TuiWidgets : public test::ScreenLibrary {
protected:
    static void SetUpTestSuite() {
        Library::SetUpTestSuite();
        // No backend: showing a face does nothing.
        eval("show: func [face /with parent /nested] [true]");
    }

    // Makes the window face that text evaluates to (kept in the word `win`)
    // and the widgets of its panes, parents first.
    widget_t* show_window(const char* text) {
        std::string code = std::string("win: ") + text;
        window = eval(code.c_str());
        widget_t* w = make_view(&window, nullptr);
        make_pane(&window, w);
        return w;
    }

    // Making a widget allocates: the pane is looked up again each time.
    void make_pane(cell_t* face, widget_t* parent) {
        for (int32_t i = 0;; ++i) {
            cell_t pane = *face_facet(face, facet::PANE);
            if (type_of(&pane) != TYPE_block || i >= block::rs_length_q(&pane)) return;
            cell_t child = *(block::rs_head(&pane) + i);
            widget_t* w = make_view(&child, parent);
            make_pane(&child, w);
        }
    }

    // The widget of the face a word holds.
    static widget_t* widget(const char* word) {
        cell_t face = eval(word);
        return face_handle_q(&face);
    }

    static uint8_t type_of_value(const char* code) {
        cell_t v = eval(code);
        return type_of(&v);
    }
    static int32_t integer_of(const char* code) {
        cell_t v = eval(code);
        return type_of(&v) == TYPE_integer ? integer::get(&v) : -999;
    }
    static std::u32string text_of_value(const char* code) {
        cell_t v = eval(code);
        return text_of(&v);
    }

    static std::u32string row(int32_t y) { return row_text(screen(), y); }
    // Every row of the screen.
    using rows_t = std::vector<std::u32string>;
    static rows_t rows() {
        rows_t all;
        for (int32_t y = 0; y < screen().height(); ++y) all.push_back(row(y));
        return all;
    }

    static std::string text_facet(const char* word) {
        std::string code = std::string("mold ") + word + "/text";
        cell_t s = eval(code.c_str());
        std::u32string t = text_of(&s);
        return std::string(t.begin(), t.end());
    }
};

TEST_F(TuiWidgets, LabelsExistOnceMade) {
    show_window(R"(make face! [type: 'window size: 14x5 pane: reduce [
        make face! [type: 'progress offset: 0x0 size: 12x1 data: 0.5]
        make face! [type: 'progress offset: 0x1 size: 12x1 data: 0]
        make face! [type: 'progress offset: 0x2 size: 12x1 data: -1]
        make face! [type: 'check offset: 0x3 size: 8x1 text: "Yes"]
        make face! [type: 'radio offset: 0x4 size: 8x1 text: "A" data: true]
    ]])");
    draw_active_window();
    EXPECT_EQ(rows(), (rows_t{U"[#####     ]  ", U"[          ]  ", U"[          ]  ",
                              U"☐ Yes         ", U"◉ A           "}));
}

// Two pixels a cell: the upper one the background, the lower one the
// foreground of a lower half block; transparent pixels leave their half.
TEST_F(TuiWidgets, ImagesInCells) {
    // Four opaque columns: four lower half blocks.
    eval("img: make image! [4x2 #{FF0000FF0000FF0000FF00000000FF0000FF0000FF0000FF}]");
    screen().colour_mode = 1;
    show_window(R"(make face! [type: 'window size: 4x1 pane: reduce [
        make face! [type: 'base offset: 0x0 size: 4x1 image: img]
    ]])");
    draw_active_window();
    EXPECT_EQ(row(0), U"▄▄▄▄");
    EXPECT_EQ(screen().at(3, 0)->bg, colour_word(colour_kind::INDEXED, 196));
    EXPECT_EQ(screen().at(3, 0)->fg, colour_word(colour_kind::INDEXED, 21));
    destroy_widget(&window);

    eval(R"(img: make image! 4x2
        img/1: 255.0.0  img/5: 0.0.255
        img/2: 0.0.0.255  img/6: 0.0.0.255
        img/3: 0.255.0  img/7: 0.0.0.255
        img/4: 0.0.0.255  img/8: 0.255.0)");
    show_window(R"(make face! [type: 'window size: 4x1 pane: reduce [
        pic: make face! [type: 'base offset: 0x0 size: 4x1 image: img]
    ]])");
    draw_active_window();
    EXPECT_EQ(row(0), U"▄ ▀▄");
    const uint32_t red = colour_word(colour_kind::INDEXED, 196),
                   blue = colour_word(colour_kind::INDEXED, 21),
                   green = colour_word(colour_kind::INDEXED, 46);
    EXPECT_EQ(screen().at(0, 0)->bg, red);
    EXPECT_EQ(screen().at(0, 0)->fg, blue);
    EXPECT_EQ(screen().at(1, 0)->code, ' ');
    EXPECT_EQ(screen().at(2, 0)->fg, green);
    EXPECT_EQ(screen().at(3, 0)->fg, green);
    EXPECT_EQ(screen().at(3, 0)->bg, 0u);

    // A new image is shown anew; in true colour the pixels keep their colours.
    screen().colour_mode = 4;
    eval("pic/image: make image! [2x2 #{FF000000FF00FF000000FF00}]");
    cell_t face = eval("pic");
    update_view(&face);
    draw_active_window();
    EXPECT_EQ(row(0), U"▄▄▄▄");
    EXPECT_EQ(screen().at(0, 0)->bg, colour_word(colour_kind::TRUE_COLOUR, 0xFF0000));
    EXPECT_EQ(screen().at(0, 0)->fg, colour_word(colour_kind::TRUE_COLOUR, 0xFF0000));
    EXPECT_EQ(screen().at(3, 0)->bg, colour_word(colour_kind::TRUE_COLOUR, 0x00FF00));

    eval("pic/image: none");
    update_view(&face);
    draw_active_window();
    EXPECT_EQ(row(0), U"    ");
}

TEST_F(TuiWidgets, CheckAndRadioReactToSpace) {
    show_window(R"(make face! [type: 'window size: 10x2 pane: reduce [
        c: make face! [type: 'check offset: 0x0 size: 8x1 text: "Yes"]
        r: make face! [type: 'radio offset: 0x1 size: 8x1 text: "A"]
    ]])");
    const widget_event_t space{0, 0, ' ', 0};
    send_widget_event(widget("c"), event_type::key, space);
    send_widget_event(widget("r"), event_type::key, space);
    draw_active_window();
    EXPECT_EQ(row(0), U"🞕 Yes     ");
    EXPECT_EQ(row(1), U"◉ A       ");
    EXPECT_EQ(type_of_value("c/data"), TYPE_logic);
    send_widget_event(widget("c"), event_type::click);
    draw_active_window();
    EXPECT_EQ(row(0), U"☐ Yes     ");
}

// Moving the focus repaints: the widget that had it is no longer drawn in
// reverse video, whatever the widget that takes it does with `focus`.
TEST_F(TuiWidgets, FocusMovesRepaint) {
    show_window(R"(make face! [type: 'window size: 10x3 pane: reduce [
        c: make face! [type: 'check offset: 0x0 size: 8x1 text: "Yes" flags: 'focusable]
        r: make face! [type: 'radio offset: 0x1 size: 8x1 text: "A" flags: 'focusable]
        b: make face! [type: 'button offset: 0x2 size: 4x1 text: "ok" flags: 'focusable]
    ]])");
    for (const char* from : {"c", "r", "b"})
        for (const char* to : {"c", "r", "b"}) {
            if (std::string(from) == to) continue;
            set_focus(widget(from));
            draw_active_window();
            ui().redraw = false;
            screen().redraw = false;
            set_focus(widget(to));
            EXPECT_TRUE(ui().redraw || screen().redraw) << from << " to " << to;
        }
}

TEST_F(TuiWidgets, FocusedTextListInReverseVideo) {
    show_window(R"(make face! [type: 'window size: 6x5 pane: reduce [
        l: make face! [type: 'text-list offset: 0x0 size: 6x4 flags: 'focusable
            data: ["a" "b" "c"] selected: 5]
        b: make face! [type: 'button offset: 0x4 size: 4x1 flags: 'focusable text: "ok"]
    ]])");
    EXPECT_TRUE(ui().focused == widget("l"));
    EXPECT_EQ(integer_of("l/selected"), 3);
    draw_active_window();
    EXPECT_EQ(row(0), U"a     ");
    EXPECT_EQ(row(2), U"c     ");
    EXPECT_EQ(screen().at(0, 2)->attrs & attr::INVERSE, attr::INVERSE);
    EXPECT_EQ(screen().at(0, 1)->attrs & attr::INVERSE, 0u);

    // Up moves the selection; a click below the last item does nothing.
    send_widget_event(widget("l"), event_type::key, {0, 0, -20, 0});
    EXPECT_EQ(integer_of("l/selected"), 2);
    send_widget_event(widget("l"), event_type::click, {0, 3, 0, 0});
    EXPECT_EQ(integer_of("l/selected"), 2);
    send_widget_event(widget("l"), event_type::click, {0, 0, 0, 0});
    EXPECT_EQ(integer_of("l/selected"), 1);

    // The highlight leaves with the focus and comes back with it.
    set_focus(widget("b"));
    draw_active_window();
    EXPECT_EQ(screen().at(0, 0)->attrs & attr::INVERSE, 0u);
    set_focus(widget("l"));
    draw_active_window();
    EXPECT_EQ(screen().at(0, 0)->attrs & attr::INVERSE, attr::INVERSE);
}

// Rows are items to a click: an item wider than the list is cut at its
// edge and one with line feeds shows their picture, each in one row.
TEST_F(TuiWidgets, TextListItemsKeepOneRowEach) {
    show_window(R"(make face! [type: 'window size: 6x4 pane: reduce [
        l: make face! [type: 'text-list offset: 0x0 size: 6x4 flags: 'focusable selected: 1
            data: ["abcdefghijkl" "sec^/ond" "abcde中" "中文中文" "third" "fourth"]]
    ]])");
    draw_active_window();
    EXPECT_EQ(rows(), (rows_t{U"abcdef", U"sec\u240Aon", U"abcde ", U"中~文~中~"}));
    // The highlight of a cut item ends with its row.
    EXPECT_EQ(screen().at(5, 0)->attrs & attr::INVERSE, attr::INVERSE);
    EXPECT_EQ(screen().at(0, 1)->attrs & attr::INVERSE, 0u);
    send_widget_event(widget("l"), event_type::click, {2, 1, 0, 0});
    EXPECT_EQ(integer_of("l/selected"), 2);
    send_widget_event(widget("l"), event_type::click, {2, 3, 0, 0});
    EXPECT_EQ(integer_of("l/selected"), 4);
    // The selection moved down out of the box scrolls it by one item.
    send_widget_event(widget("l"), event_type::key, {0, 0, -21, 0});
    EXPECT_EQ(integer_of("l/selected"), 5);
    draw_active_window();
    EXPECT_EQ(row(0), U"sec\u240Aon");
    EXPECT_EQ(row(3), U"third ");
    EXPECT_EQ(screen().at(0, 3)->attrs & attr::INVERSE, attr::INVERSE);
}

TEST_F(TuiWidgets, FieldEditing) {
    show_window(R"(make face! [type: 'window size: 10x2 pane: reduce [
        full: make face! [type: 'field offset: 0x0 size: 10x1 text: "0123456789"]
        f: make face! [type: 'field offset: 0x1 size: 10x1 text: "ab"]
        wide: make face! [type: 'field offset: 0x2 size: 4x1 text: "中"]
    ]])");
    // Widths count in columns, past the field's own width.
    widget_t* wide = widget("wide");
    send_widget_event(wide, event_type::key, {0, 0, 0x4E2D, 0});
    send_widget_event(wide, event_type::key, {0, 0, 'x', 0});
    EXPECT_EQ(text_of_value("wide/text"), U"中中x");
    EXPECT_EQ(wide->cursor_col, 5);
    // A full field takes more: it scrolls rather than refusing the key.
    send_widget_event(widget("full"), event_type::key, {0, 0, 'x', 0});
    EXPECT_EQ(text_facet("full"), "\"0123456789x\"");

    widget_t* f = widget("f");
    EXPECT_EQ(f->cursor_index, 2);
    send_widget_event(f, event_type::key, {0, 0, 'c', 0});
    send_widget_event(f, event_type::key, {0, 0, -23, 0});  // left
    send_widget_event(f, event_type::key, {0, 0, 127, 0});  // backspace
    send_widget_event(f, event_type::key, {0, 0, 27, 0});  // a control key: ignored
    EXPECT_EQ(text_facet("f"), "\"ac\"");
    EXPECT_EQ(f->cursor_index, 1);
    EXPECT_EQ(text_of_value("f/data"), U"");  // the data follows as the text is no scalar

    // A click places the cursor by columns; typing goes in there.
    send_widget_event(f, event_type::click, {1, 0, 0, 0});
    EXPECT_EQ(f->cursor_index, 1);
    send_widget_event(f, event_type::key, {0, 0, 'b', 0});
    EXPECT_EQ(text_facet("f"), "\"abc\"");
    send_widget_event(f, event_type::click, {40, 0, 0, 0});
    EXPECT_EQ(f->cursor_index, 3);

    // Text set from outside puts the cursor at its end.
    eval("f/text: \"hello\"");
    cell_t face = eval("f");
    update_view(&face);
    EXPECT_EQ(f->cursor_index, 5);
    EXPECT_EQ(f->cursor_col, 5);
}

// Text wider than its field scrolls so that the caret stays in view; the
// text itself is kept whole.
TEST_F(TuiWidgets, FieldScrollsToTheCaret) {
    show_window(R"(make face! [type: 'window size: 6x3 pane: reduce [
        f: make face! [type: 'field offset: 0x0 size: 6x1 text: "abcdefghij" flags: 'focusable]
        w: make face! [type: 'field offset: 0x1 size: 5x1 text: "中文字" flags: 'focusable]
        e: make face! [type: 'field offset: 0x2 size: 6x1 flags: 'focusable]
    ]])");
    widget_t* f = widget("f");
    struct step_t {
        int32_t key;  // 0: none, before the first draw
        const char32_t* shown;
        int32_t caret;
    };
    // The caret at the end of the text shows the last 5 characters and the
    // caret's cell; moving left past the edge scrolls back.
    const step_t steps[] = {
        {0, U"fghij ", 5},   {'k', U"ghijk ", 5}, {-23, U"ghijk ", 4}, {-23, U"ghijk ", 3},
        {-23, U"ghijk ", 2}, {-23, U"ghijk ", 1}, {-23, U"ghijk ", 0}, {-23, U"fghijk", 0},
        {127, U"fghijk", 0}, {-22, U"fghijk", 1},
    };
    set_focus(f);
    for (const step_t& s : steps) {
        if (s.key != 0) send_widget_event(f, event_type::key, {0, 0, s.key, 0});
        draw_active_window();
        EXPECT_EQ(row(0), s.shown) << "after key " << s.key;
        EXPECT_EQ(screen().caret_col, s.caret) << "after key " << s.key;
    }
    EXPECT_EQ(text_facet("f"), "\"abcdfghijk\"");
    // A click counts from the text's first column, not the field's.
    send_widget_event(f, event_type::click, {0, 0, 0, 0});
    EXPECT_EQ(f->cursor_index, 4);

    // A wide character is shown whole or not at all.
    widget_t* w = widget("w");
    set_focus(w);
    draw_active_window();
    EXPECT_EQ(row(1).substr(0, 5), U"文~字~ ");
    EXPECT_EQ(screen().caret_col, 4);
    send_widget_event(w, event_type::key, {0, 0, -23, 0});
    send_widget_event(w, event_type::key, {0, 0, -23, 0});
    send_widget_event(w, event_type::key, {0, 0, -23, 0});
    draw_active_window();
    EXPECT_EQ(row(1).substr(0, 4), U"中~文~");
    EXPECT_EQ(screen().caret_col, 0);

    // Typing into an empty field past its width keeps every character.
    widget_t* e = widget("e");
    for (char32_t c : std::u32string(U"0123456789"))
        send_widget_event(e, event_type::key, {0, 0, static_cast<int32_t>(c), 0});
    EXPECT_EQ(text_facet("e"), "\"0123456789\"");
}

TEST_F(TuiWidgets, RateTimersAndFocus) {
    show_window(R"(make face! [type: 'window size: 10x3 pane: reduce [
        t: make face! [type: 'base offset: 0x0 size: 4x1 rate: 4]
        b1: make face! [type: 'button offset: 0x1 size: 4x1 flags: [focusable] text: "one"]
        b2: make face! [type: 'button offset: 0x2 size: 4x1 flags: [focusable] text: "two"]
    ]])");
    EXPECT_EQ(timer_interval(widget("t")), 250);
    EXPECT_TRUE(ui().focused == widget("b1"));
    draw_active_window();
    EXPECT_EQ(screen().at(0, 1)->attrs & attr::INVERSE, attr::INVERSE);
    EXPECT_EQ(screen().at(0, 2)->attrs & attr::INVERSE, 0u);

    eval("t/rate: 0:0:0.5");
    cell_t face = eval("t");
    update_view(&face);
    EXPECT_EQ(timer_interval(widget("t")), 500);

    eval("z: make face! [type: 'base size: 1x1 rate: 0]");
    cell_t zero = eval("z");
    EXPECT_EQ(zuv::testing::raised_clearing_stacks([&] { make_view(&zero, widget("t")); }),
              err::invalid_facet_type);
}

// A face of a kind the terminal does not draw never takes the focus, even
// flagged focusable: not first in its window, not by a click, not by Tab.
TEST_F(TuiWidgets, UndrawnFacesTakeNoFocus) {
    for (const char* kind :
         {"slider", "scroller", "drop-list", "drop-down", "tab-panel", "calendar", "camera"}) {
        std::string text = std::string(R"(make face! [type: 'window size: 10x2 pane: reduce [
            u: make face! [type: ')") +
                           kind + R"( offset: 0x0 size: 10x1 flags: [focusable]]
            b: make face! [type: 'button offset: 0x1 size: 4x1 flags: [focusable] text: "ok"]
        ]])";
        show_window(text.c_str());
        EXPECT_TRUE(ui().focused == widget("b")) << kind;
        EXPECT_EQ(widget("u")->flags & widget_flag::FOCUSABLE, 0u) << kind;
        // Tab from the window's start and Shift-Tab from its end.
        EXPECT_EQ(type_of_value("next-one: get-focusable win/pane"), TYPE_object) << kind;
        EXPECT_EQ(text_facet("next-one"), "\"ok\"") << kind;
        EXPECT_EQ(type_of_value("next-one: get-focusable/back tail win/pane"), TYPE_object);
        EXPECT_EQ(text_facet("next-one"), "\"ok\"") << kind;
        destroy_widget(&window);
    }
}

TEST_F(TuiWidgets, FramesPasswordsAndHints) {
    show_window(R"(make face! [type: 'window size: 8x6 pane: reduce [
        make face! [type: 'group-box offset: 0x0 size: 8x3 text: "Go"
            options: [border-corners round border-color 255.0.0]]
        make face! [type: 'field offset: 0x3 size: 8x1 text: "secret" flags: 'password]
        make face! [type: 'field offset: 0x4 size: 8x1 options: [hint "name"]]
        make face! [type: 'panel offset: 0x5 size: 8x1 pane: reduce [
            make face! [type: 'text offset: 6x0 size: 4x1 text: "clipped"]
        ]]
    ]])");
    draw_active_window();
    // The window covers its widgets: 10 wide for the text in the panel.
    EXPECT_EQ(row(0), U"╭Go────╮  ");
    EXPECT_EQ(row(1), U"│      │  ");
    EXPECT_EQ(row(2), U"╰──────╯  ");
    EXPECT_EQ(screen().at(0, 0)->fg, rgb_to_256(0x0000FF));
    EXPECT_EQ(row(3).substr(0, 6), U"secret");
    EXPECT_EQ(screen().at(0, 3)->attrs & attr::MASKED, attr::MASKED);
    EXPECT_EQ(row(4), U"name      ");
    EXPECT_EQ(screen().at(0, 4)->attrs & attr::DIM, attr::DIM);
    EXPECT_EQ(row(5), U"      cl  ");  // cut by the panel's edge
}

// A password shows one "*" per character, wide ones and marks too, and
// its caret counts the same columns.
TEST_F(TuiWidgets, PasswordCaretCountsShownColumns) {
    show_window(R"~(make face! [type: 'window size: 6x1 pane: reduce [
        p: make face! [type: 'field offset: 0x0 size: 6x1 text: "中e^(0301)" flags: 'password]
    ]])~");
    widget_t* p = widget("p");
    set_focus(p);
    constexpr int32_t KEY_LEFT = -23;
    struct step {
        int32_t key;  // 0: none
        std::u32string text;
        int32_t caret;
    };
    const step steps[] = {
        {0, U"中e\u0301", 3},  // three characters, three "*"
        {KEY_LEFT, U"中e\u0301", 2}, {KEY_LEFT, U"中e\u0301", 1},
        {0x6587, U"中文e\u0301", 2}, {'x', U"中文xe\u0301", 3},
        {'y', U"中文xye\u0301", 4},  {'z', U"中文xyze\u0301", 5},  // 7 characters, 6 shown
        {8, U"中文xye\u0301", 4},
    };
    for (const auto& st : steps) {
        if (st.key != 0) send_widget_event(p, event_type::key, {0, 0, st.key, 0});
        EXPECT_EQ(text_of_value("p/text"), st.text);
        draw_active_window();
        EXPECT_EQ(screen().caret_col, st.caret) << st.caret;
        int32_t stars = 0;
        for (int32_t x = 0; x < 6; ++x) {
            const tui_cell_t* c = screen().at(x, 0);
            EXPECT_FALSE(c->attrs & attr::WIDE_TAIL) << x;
            if (c->code != 0) {
                EXPECT_TRUE(c->attrs & attr::MASKED) << x;
                ++stars;
            }
        }
        EXPECT_EQ(stars, std::min<int32_t>(static_cast<int32_t>(st.text.size()), 6)) << st.caret;
    }
    // A click counts characters too.
    send_widget_event(p, event_type::click, {1, 0, 0, 0});
    draw_active_window();
    EXPECT_EQ(screen().caret_col, 1);
}

TEST_F(TuiWidgets, HiddenWindowsGiveWayAndDestroyedOnesGo) {
    show_window(R"(make face! [type: 'window size: 4x1 pane: reduce [
        make face! [type: 'text offset: 0x0 size: 4x1 text: "one"]
    ]])");
    cell_t first = window;
    widget_t* one = face_handle_q(&first);
    show_window(R"(make face! [type: 'window size: 4x1 pane: reduce [
        make face! [type: 'text offset: 0x0 size: 4x1 text: "two"]
    ]])");
    pick_active_window();
    draw_active_window();
    EXPECT_EQ(row(0), U"two ");

    eval("win/visible?: false");
    update_view(&window);
    EXPECT_TRUE(ui().active_window == window_of(one));
    draw_active_window();
    EXPECT_EQ(row(0), U"one ");

    uint32_t handle = one->handle;
    destroy_widget(&first);
    EXPECT_EQ(face_handle_q(&first), nullptr);
    EXPECT_EQ(widget_of_handle(handle), nullptr);
    EXPECT_EQ(ui().windows.size(), 1u);
}

TEST_F(TuiWidgets, RichTextRunsAreClampedToTheText) {
    show_window(R"(make face! [type: 'window size: 11x1 pane: reduce [
        make face! [type: 'rich-text offset: 0x0 size: 11x1 text: "hello world" data: [
            1x5 bold 255.0.0
            7x99 backdrop 0.0.255
            0x3 italic
            -5x2 strike
            10x1 underline 0.0.0 'wavy "Mono" 12 border
        ]]
    ]])");
    draw_active_window();
    EXPECT_EQ(row(0), U"hello world");
    uint32_t red = rgb_to_256(0x0000FF), blue = rgb_to_256(0xFF0000);
    struct cell_case {
        int32_t x;
        uint32_t fg, bg, attrs;
    };
    const cell_case cases[] = {
        {0, red, 0, attr::BOLD | attr::ITALIC},  // 0x3 starts before the text: 2 left
        {1, red, 0, attr::BOLD | attr::ITALIC},
        {2, red, 0, attr::BOLD},
        {5, 0, 0, 0},
        {6, 0, blue, 0},
        {9, 0, blue, attr::UNDERLINE},  // the tuple and lit-word after underline are skipped
        {10, 0, blue, 0},  // 7x99 ends with the text
    };
    for (const auto& c : cases) {
        const tui_cell_t* cell = screen().at(c.x, 0);
        EXPECT_EQ(cell->fg, c.fg) << c.x;
        EXPECT_EQ(cell->bg, c.bg) << c.x;
        EXPECT_EQ(cell->attrs, c.attrs) << c.x;
    }
}

TEST_F(TuiWidgets, TextBoxMetricsOfRichText) {
    cell_t face = eval(R"(rt: make face! [type: 'rich-text size: 3x2 text: "ab中^/cd"])");
    cell_t index;
    integer::make_at(&index, 3);
    struct metric_case {
        int32_t kind;
        uint8_t type;
        double x, y;  // a point's coordinates, or the number in x
    };
    const metric_case cases[] = {
        {metric::CARET_TO_OFFSET, TYPE_point2d, 0, 1},
        {metric::CARET_TO_OFFSET_LOWER, TYPE_point2d, 0, 2},
        {metric::SIZE, TYPE_point2d, 2, 3},  // 中 wraps to the second line
        {metric::LINE_COUNT, TYPE_integer, 3, 0},
        {metric::LINE_HEIGHT, TYPE_float_, 1.0, 0},
        {99, TYPE_none, 0, 0},
    };
    for (const auto& c : cases) {
        cell_t got = *push_text_box_metrics(&face, &index, c.kind);
        ASSERT_EQ(type_of(&got), c.type) << c.kind;
        if (c.type == TYPE_point2d) {
            EXPECT_EQ(point2d::get_x(&got), c.x) << c.kind;
            EXPECT_EQ(point2d::get_y(&got), c.y) << c.kind;
        } else if (c.type == TYPE_integer) {
            EXPECT_EQ(integer::get(&got), c.x) << c.kind;
        } else if (c.type == TYPE_float_) {
            EXPECT_EQ(float_::get(&got), c.x) << c.kind;
        }
    }
    cell_t point;
    point2d::make_at(&point, 1.0f, 2.0f);
    cell_t caret = *push_text_box_metrics(&face, &point, metric::OFFSET_TO_CARET);
    EXPECT_EQ(integer::get(&caret), 6);  // before "d", at column 1 of the third line
    eval("set-quiet in rt (quote text) none");
    EXPECT_EQ(type_of(push_text_box_metrics(&face, &index, metric::SIZE)), TYPE_none);
}

TEST_F(TuiWidgets, EventsReachActors) {
    show_window(R"(make face! [type: 'window size: 6x2 pane: reduce [
        b: make face! [type: 'button offset: 0x0 size: 6x1 text: "ok" rate: 4
            actors: object [
                on-click: func [face event] [append log 'click]
                on-time: func [face event] [append log 'time]
                on-key: func [face event] [append log 'key either event/key = #"d" ['done] [1 / 0]]
            ]]
    ]])");
    eval("log: copy []");
    widget_t* b = widget("b");
    // The button's own handler clicks, then the key goes on to the actors
    // (whose error ends in dispatch).
    send_widget_event(b, event_type::key, {0, 0, ' ', 0});
    timers_tick(100);
    timers_tick(150);  // 250 ms: the rate's interval
    timers_tick(100);
    EXPECT_EQ(text_of_value("mold log"), U"[click key time]");
    // An actor's answer `done` is 1; an error in an actor ends in dispatch.
    EXPECT_EQ(dispatch(event_type::key, b, 0, 0, 'd', 0.0, 0), 1);
    EXPECT_EQ(dispatch(event_type::key, b, 0, 0, 'e', 0.0, 0), 0);
    EXPECT_EQ(text_of_value("mold log"), U"[click key time key key]");
    // A disabled widget gets nothing.
    b->flags |= widget_flag::DISABLED;
    EXPECT_EQ(send_widget_event(b, event_type::click), 0);
    EXPECT_EQ(text_of_value("mold length? log"), U"5");
}

// The Draw dialect's entry runs for faces with a non-empty draw block, on
// the clipped box.
int draw_calls = 0;
clip_box_t drawn_clip{};
void record_draw(widget_t*, const clip_box_t& clip, int32_t, int32_t) {
    ++draw_calls;
    drawn_clip = clip;
}

TEST_F(TuiWidgets, DrawBlocksGoToTheDrawEntry) {
    draw_block_hook = record_draw;
    show_window(R"(make face! [type: 'window size: 4x3 pane: reduce [
        make face! [type: 'base offset: 1x1 size: 9x1 draw: [line 0x0 1x1]]
        make face! [type: 'base offset: 0x0 size: 2x1 draw: []]
        make face! [type: 'group-box offset: 0x2 size: 2x1 draw: [box 0x0 1x1]]
    ]])");
    draw_active_window();
    draw_block_hook = [](widget_t*, const clip_box_t&, int32_t, int32_t) {};
    EXPECT_EQ(draw_calls, 2);
    EXPECT_EQ(drawn_clip.y1, 2);
}

TEST_F(TuiWidgets, RenderWritesOnceAndPlacesTheCaret) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_TRUE(activate(slave, slave));
    show_window(R"(make face! [type: 'window size: 5x2 pane: reduce [
        make face! [type: 'field offset: 0x1 size: 5x1 text: "ab" flags: 'focusable]
    ]])");
    screen().cursor_row = 0;
    ui().redraw = true;
    render();
    std::string out = test::received(master, 100);
    deactivate();
    close(master);
    close(slave);
    // The area, then the cursor back on the field's row after "ab"; the
    // cursor was never hidden, so nothing shows it again.
    EXPECT_EQ(out, "\r\x1b[2K     \x1b[49m\r\r\n\x1b[2Kab   \r\x1b[2C");
    EXPECT_EQ(screen().cursor_row, 1);
    // Nothing changed: no repaint.
    render();
    EXPECT_FALSE(screen().redraw);
}

}  // namespace
}  // namespace zuv::tui
