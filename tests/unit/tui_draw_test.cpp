// The Draw dialect on the cell grid: what each shape plots, the clip box,
// and which blocks the parser takes and refuses.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "tests/unit/library_fixture.h"
#include "tests/unit/molded.h"
#include "tests/unit/tui_rows.h"
#include "tests/unit/tui_screen_fixture.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/draw.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {
namespace {

using test::row_text;

constexpr uint32_t RED = colour_word(colour_kind::INDEXED, 196);
constexpr uint32_t BLUE = colour_word(colour_kind::INDEXED, 21);

class TuiDraw : public test::ScreenLibrary {
protected:
    // Runs the block that text evaluates to on a clear w x h grid, with the
    // given origin and clip box (the whole grid when none is given).
    static void draw(const char* text, int32_t w, int32_t h, int32_t ox = 0, int32_t oy = 0,
                     clip_box_t clip = {0, 0, 0, 0}) {
        screen().size_to(w, h);
        std::string code = std::string("cmds: ") + text;
        cell_t cmds = eval(code.c_str());
        draw_surface_t s;
        s.grid = &screen();
        s.ox = ox;
        s.oy = oy;
        s.clip = clip.x2 == 0 ? clip_box_t{0, 0, w, h} : clip;
        draw::run_block(s, &cmds, nullptr);
    }

    // The error a block raises, or "none"; refused_at is where it stands
    // (its argument, molded).
    static inline std::string refused_at;
    static std::string refusal(const char* text) {
        refused_at.clear();
        try {
            draw(text, 10, 5);
        } catch (const raised_error& e) {
            if (stack::top_slot > stack::bottom && stack::top_type() == TYPE_error)
                refused_at = zuv::test::molded(error::field(stack::top(), error::FIELD_ARG1));
            native_frame();
            if (e.id == err::draw_invalid) return "draw-invalid";
            if (e.id == err::draw_infinite) return "draw-infinite";
            if (e.id == err::stack_overflow) return "stack-overflow";
            return "other";
        }
        return "none";
    }

    static std::u32string row(int32_t y) { return row_text(screen(), y); }

    // Makes the widgets of `window` and of the first face of its pane, and
    // draws them.
    void draw_window_and_child() {
        widget_t* w = make_view(&window, nullptr);
        cell_t pane = *face_facet(&window, facet::PANE);
        cell_t child = *block::rs_head(&pane);
        make_view(&child, w);
        draw_active_window();
    }

    static bool blank() {
        for (int32_t y = 0; y < screen().height(); ++y)
            if (row(y) != std::u32string(static_cast<size_t>(screen().width()), U' ')) return false;
        return true;
    }
};

TEST_F(TuiDraw, LineAndBox) {
    draw("[line 0x0 3x0]", 6, 2);
    EXPECT_EQ(row(0), U"████  ");
    EXPECT_EQ(row(1), U"      ");
    EXPECT_EQ(screen().at(0, 0)->fg, 0u);  // the default pen

    draw("[box 1x1 4x3]", 6, 5);
    EXPECT_EQ(row(0), U"      ");
    EXPECT_EQ(row(1), U" ┌──┐ ");
    EXPECT_EQ(row(2), U" │  │ ");
    EXPECT_EQ(row(3), U" └──┘ ");

    // Corners given in any order; a polyline; the pen colour.
    draw("[pen 255.0.0 box 3x2 0x0 line 4x0 4x2 5x2]", 6, 3);
    EXPECT_EQ(row(0), U"┌──┐█ ");
    EXPECT_EQ(row(1), U"│  │█ ");
    EXPECT_EQ(row(2), U"└──┘██");
    EXPECT_EQ(screen().at(5, 2)->fg, RED);
    EXPECT_EQ(screen().at(0, 0)->fg, RED);

    // A steep line takes one cell per row.
    draw("[line 0x0 1x3]", 2, 4);
    EXPECT_EQ(row(0), U"█ ");
    EXPECT_EQ(row(1), U"█ ");
    EXPECT_EQ(row(2), U" █");
    EXPECT_EQ(row(3), U" █");
}

TEST_F(TuiDraw, CirclesAndEllipses) {
    draw("[circle 10x5 0]", 20, 10);
    EXPECT_TRUE(blank());
    draw("[circle 3x1 -2 ellipse 0x0 0x3]", 20, 10);
    EXPECT_TRUE(blank());

    // Radius 1 is two columns wide each side: cells are twice as high.
    draw("[circle 2x1 1]", 5, 3);
    EXPECT_EQ(row(0), U" ███ ");
    EXPECT_EQ(row(1), U"█   █");
    EXPECT_EQ(row(2), U" ███ ");

    // An ellipse inside its box: 5 wide, 3 high.
    draw("[ellipse 0x0 5x3]", 5, 3);
    EXPECT_EQ(row(0), U" ███ ");
    EXPECT_EQ(row(1), U"█   █");
    EXPECT_EQ(row(2), U" ███ ");
}

TEST_F(TuiDraw, FillPen) {
    draw("[fill-pen 0.0.255 pen off box 0x0 2x1]", 4, 3);
    for (int32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(screen().at(x, 0)->bg, BLUE) << x;
        EXPECT_EQ(screen().at(x, 1)->bg, BLUE) << x;
    }
    EXPECT_EQ(screen().at(3, 0)->bg, 0u);
    EXPECT_EQ(screen().at(0, 2)->bg, 0u);
    EXPECT_TRUE(blank());  // no border: the pen is off

    // With the pen on, the border lies over the fill.
    draw("[fill-pen 0.0.255 box 0x0 2x2]", 3, 3);
    EXPECT_EQ(row(1), U"│ │");
    EXPECT_EQ(screen().at(1, 1)->bg, BLUE);
    EXPECT_EQ(screen().at(0, 1)->bg, BLUE);

    // A filled triangle, scanline by scanline, edges off.
    draw("[fill-pen 0.0.255 pen off triangle 0x0 4x0 0x4]", 6, 5);
    const int32_t widths[] = {5, 4, 3, 2, 1};
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(screen().at(x, y)->bg, x < widths[y] ? BLUE : 0u) << x << "," << y;

    // fill-pen off stops filling; the edges still come.
    draw("[fill-pen 0.0.255 fill-pen off triangle 0x0 2x0 0x2]", 3, 3);
    EXPECT_EQ(screen().at(1, 0)->bg, 0u);
    EXPECT_EQ(row(0), U"███");
    EXPECT_EQ(row(1), U"██ ");
    EXPECT_EQ(row(2), U"█  ");
}

TEST_F(TuiDraw, OriginAndClipBox) {
    // The clip box is columns 2-5, rows 1-2; the origin at its corner.
    const clip_box_t clip{2, 1, 6, 3};
    draw("[line -5x0 20x0 line 0x1 0x40]", 8, 4, 2, 1, clip);
    EXPECT_EQ(row(0), U"        ");
    EXPECT_EQ(row(1), U"  ████  ");
    EXPECT_EQ(row(2), U"  █     ");
    EXPECT_EQ(row(3), U"        ");

    draw("[circle 2x1 3]", 8, 4, 2, 1, clip);
    EXPECT_EQ(row(0), U"        ");
    EXPECT_EQ(row(3), U"        ");
    EXPECT_EQ(row(1).substr(0, 2), U"  ");
    EXPECT_EQ(row(1).substr(6), U"  ");

    draw("[fill-pen 0.0.255 triangle -3x-3 30x0 0x30]", 8, 4, 2, 1, clip);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            if (x >= 2 && x < 6 && y >= 1 && y < 3) continue;
            EXPECT_EQ(screen().at(x, y)->bg, 0u) << x << "," << y;
            EXPECT_EQ(screen().at(x, y)->code, 0) << x << "," << y;
        }
    EXPECT_EQ(screen().at(3, 2)->bg, BLUE);

    // A border cut by the clip box keeps the edges that are inside.
    draw("[box -1x0 3x1]", 8, 4, 2, 1, clip);
    EXPECT_EQ(row(1), U"  ───┐  ");
    EXPECT_EQ(row(2), U"  ───┘  ");

    // Far coordinates cost only the clip box.
    draw("[line 0x0 2000000000x1 circle 0x0 1000000000 line -2147483648x0 2147483647x0]", 8, 4);
    EXPECT_EQ(row(0), U"████████");
}

TEST_F(TuiDraw, FaceDrawStopsAtItsBox) {
    window = eval(R"(win: make face! [type: 'window size: 12x6 pane: reduce [
        make face! [type: 'base offset: 2x1 size: 5x3
            draw: [line 0x0 20x0 circle 2x1 4 fill-pen 0.0.255 triangle 0x0 10x2 0x9]]
    ]])");
    draw_window_and_child();
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 12; ++x) {
            if (x >= 2 && x < 7 && y >= 1 && y < 4) continue;
            const tui_cell_t* c = screen().at(x, y);
            EXPECT_TRUE(c->code == 0 || c->code == ' ') << x << "," << y;
        }
    EXPECT_EQ(row(1).substr(2, 5), U"█████");
    EXPECT_EQ(screen().at(2, 3)->bg, BLUE);
}

TEST_F(TuiDraw, SetWordsWordsAndNesting) {
    // A set-word names the rest of the block; words stand for their values.
    draw("[here: line 0x0 1x0]", 3, 1);
    cell_t here = eval("index? here");
    EXPECT_EQ(integer::get(&here), 2);
    eval("a: 0x0 b: 2x0 c: 255.0.0");
    draw("[[pen c] line a b]", 3, 1);
    EXPECT_EQ(row(0), U"███");
    EXPECT_EQ(screen().at(0, 0)->fg, RED);
    // A nested block (not the block itself) twice over is fine.
    eval("inner: [line 0x0 0x0]");
    draw("reduce [inner inner]", 1, 1);
    EXPECT_EQ(row(0), U"█");
}

// A refusal stands at the offending value, or at the command whose
// argument is missing: never at the block's end or at the next command.
TEST_F(TuiDraw, RefusedBlocks) {
    struct {
        const char* block;
        const char* error;
        const char* at;  // nullptr: not looked at
    } cases[] = {
        {"[pen 255.0.0 line 0x0]", "draw-invalid", "[line 0x0]"},
        {"[line 0x0 box 1x1 2x2]", "draw-invalid", "[line 0x0 box 1x1 2x2]"},
        {"[line 0x0 1x1 foo]", "draw-invalid", "[foo]"},
        {"[12]", "draw-invalid", "[12]"},
        {"[box 0x0]", "draw-invalid", "[box 0x0]"},
        {"[box 0x0 \"bad\" 3x3]", "draw-invalid", "[\"bad\" 3x3]"},
        {"[triangle 0x0 1x1]", "draw-invalid", "[triangle 0x0 1x1]"},
        {"[circle 0x0]", "draw-invalid", "[circle 0x0]"},
        {"[pen]", "draw-invalid", "[pen]"},
        {"[pen \"red\"]", "draw-invalid", "[\"red\"]"},
        {"[pen redd]", "draw-invalid", "[pen redd]"},
        {"[pen line 0x0 1x1]", "draw-invalid", "[pen line 0x0 1x1]"},
        {"[text 0x0 12]", "draw-invalid", "[12]"},
        {"[font 12]", "draw-invalid", "[12]"},
        {"[push [line 1x1]]", "draw-invalid", "[line 1x1]"},
        {"[shape [move 0x0 line]]", "draw-invalid", "[line]"},
        {"[matrix [1 0 0 1 0 x]]", "draw-invalid", "[x]"},
        {"b: [line 0x0 1x1] append/only b b", "draw-infinite", nullptr},
        {"b: [[line 0x0 1x1]] append/only first b b", "draw-infinite", nullptr},
        {"b: [push []] append/only second b b", "draw-infinite", nullptr},
        {"b: copy [] loop 2000 [b: reduce [b]]", "stack-overflow", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refusal(c.block), c.error) << c.block;
        if (c.at != nullptr) {
            EXPECT_EQ(refused_at, c.at) << c.block;
        }
    }
}

// The commands that draw nothing in cells, with the argument forms the
// parser takes, and forms it refuses.
TEST_F(TuiDraw, CommandsWithoutEffect) {
    eval("img: make image! 2x2 fnt: make font! [color: 255.0.0]");
    const char* taken[] = {
        "[line-width 2 line-width 1.5 line-join miter line-join round line-cap square]",
        "[line-pattern 2 3 line-pattern 255.0.0 4 line-pattern off anti-alias on anti-alias off]",
        "[polygon 0x0 1x1 2x0 3x3]",
        "[arc 5x5 3x3 0 90 arc 5x5 3x3 0 90 closed]",
        "[curve 0x0 1x1 2x0 curve 0x0 1x1 2x0 3x3 spline 0x0 1x1 spline 0x0 1x1 2x2 closed]",
        "[image img image img 0x0 image img 0x0 2x2 image img 0x0 1x0 1x1 0x1]",
        "[image img 0x0 255.255.255 border crop 0x0 1x1]",
        "[matrix [1 0 0 1 0 0] matrix pen [1 0 0 1 0.5 0] invert-matrix reset-matrix fill-pen]",
        "[push [] rotate 30 rotate 30 5x5 [] rotate pen 10 scale 2 2 scale fill-pen 1 1.5 []]",
        "[translate 2x2 translate 2x2 [] skew 10 skew 10 20 [] transform 30 1 1 0x0]",
        "[transform 5x5 30 1 1 0x0 [] transform pen 0 1 1 0x0]",
        "[clip 0x0 5x5 clip 0x0 5x5 intersect clip 0x0 5x5 xor [] clip [move 0x0 line 2x2] union]",
        "[shadow off shadow 2x2 shadow 2x2 3 shadow 2x2 3 4 255.0.0 inset]",
        "[shape [move 0x0 line 1x1 2x2 'line 1x0 hline 3 vline 2 arc 4x4 2 2 0 sweep large]]",
        "[shape [curve 1x1 2x2 3x3 curv 1x1 2x2 qcurve 1x1 2x2 qcurv 1x1 close]]",
        "[pen linear 255.0.0 0.0.255 pen radial 0x0 0 10 255.0.0 0.0.255 repeat]",
        "[fill-pen diamond 255.0.0 0.5 0.0.255 reflect fill-pen linear 255.0.0 pad]",
        "[fill-pen pattern 4x4 [line 0x0 3x3] fill-pen pattern 4x4 0x0 4x4 [] tile]",
        "[pen bitmap img pen bitmap img 0x0 2x2 flip-xy]",
        "[font fnt font fnt]",
        "[text 0x0 \"\"]",
    };
    for (const char* block : taken) {
        EXPECT_EQ(refusal(block), "none") << block;
        EXPECT_TRUE(blank()) << block;
    }
    const char* refused[] = {
        "[line-width]",
        "[line-width red]",
        "[line-join square]",
        "[line-cap miter]",
        "[line-pattern]",
        "[polygon 0x0 1x1]",
        "[arc 5x5 3x3 0]",
        "[curve 0x0 1x1]",
        "[curve 0x0 1x1 2x2 3x3 4x4]",
        "[spline 0x0]",
        "[anti-alias 3]",
        "[image 0x0]",
        "[image img 0x0 1x0 1x1]",
        "[image img crop 0x0]",
        "[matrix [1 0 0 1 0]]",
        "[matrix [1 0 0 1 0 x]]",
        "[push 3]",
        "[rotate]",
        "[rotate 30 [12]]",
        "[scale 2]",
        "[translate 2]",
        "[skew]",
        "[transform 30 1 1]",
        "[clip 0x0]",
        "[clip [jump 0x0]]",
        "[shadow]",
        "[shadow 2x2 3 4 5]",
        "[shape [move]]",
        "[shape [arc 4x4 2 2]]",
        "[shape [hline 2x2]]",
        "[shape 0x0]",
        "[pen linear]",
        "[pen linear 0x0 1x1]",
        "[pen pattern [line 0x0 1x1]]",
        "[pen pattern 4x4 [bogus]]",
        "[pen bitmap 4x4]",
    };
    for (const char* block : refused) EXPECT_EQ(refusal(block), "draw-invalid") << block;
}

TEST_F(TuiDraw, PatternBlocksPaintNothing) {
    draw("[fill-pen pattern 4x4 [pen 255.0.0 line 0x0 3x0] line 0x0 1x0]", 3, 1);
    EXPECT_EQ(row(0), U"██ ");
    EXPECT_EQ(screen().at(0, 0)->fg, 0u);  // the pattern's pen stayed in the pattern
}

TEST_F(TuiDraw, Text) {
    eval("fnt: make font! [color: 255.0.0]");
    draw("[pen 0.0.255 text 1x0 \"ab\" font fnt text 1x1 \"cd\"]", 4, 2);
    EXPECT_EQ(row(0), U" ab ");
    EXPECT_EQ(row(1), U" cd ");
    EXPECT_EQ(screen().at(1, 0)->fg, BLUE);
    EXPECT_EQ(screen().at(1, 1)->fg, RED);
    // Cut to the clip box.
    draw("[text 2x0 \"abcdef\"]", 6, 1, 0, 0, {0, 0, 4, 1});
    EXPECT_EQ(row(0), U"  ab  ");
}

TEST_F(TuiDraw, TextKeepsTheBackground) {
    // On the face's colour, and on a filled box drawn before it.
    window = eval(R"(win: make face! [type: 'window size: 12x4 pane: reduce [
        make face! [type: 'base offset: 1x1 size: 10x2 color: 0.0.255
            draw: [pen 255.0.0 text 1x0 "hi" fill-pen 255.0.0 box 5x1 8x1 text 5x1 "wide"]]
    ]])");
    draw_window_and_child();
    EXPECT_EQ(row(1).substr(2, 2), U"hi");
    EXPECT_EQ(row(2).substr(6, 4), U"wide");
    for (int32_t x : {2, 3}) {
        EXPECT_EQ(screen().at(x, 1)->bg, BLUE) << x;
        EXPECT_EQ(screen().at(x, 1)->fg, RED) << x;
    }
    for (int32_t x : {6, 7, 8, 9}) EXPECT_EQ(screen().at(x, 2)->bg, RED) << x;
}

}  // namespace
}  // namespace zuv::tui
