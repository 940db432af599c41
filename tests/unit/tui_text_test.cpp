// Text in cells: measuring, alignment, escape sequences and drawing.
#include <gtest/gtest.h>

#include <string>

#include "tests/unit/tui_rows.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/text_cells.h"
#include "view/backends/terminal/text_metrics.h"

namespace zuv::tui {
namespace {

screen_t grid(int32_t w, int32_t h) {
    screen_t s;
    s.size_to(w, h);
    return s;
}

using test::row_text;

TEST(TuiText, Measures) {
    struct measure_case {
        std::u32string text;
        int32_t limit;
        bool wrap;
        text_measure_t m;
    };
    const measure_case cases[] = {
        {U"ab\ncde", NO_LIMIT, false, {3, 6, 2}},
        {U"", NO_LIMIT, false, {0, 0, 1}},
        {U"\n", NO_LIMIT, false, {0, 1, 2}},
        {U"中文x", NO_LIMIT, false, {5, 3, 1}},
        {U"abcdef", 4, false, {4, 4, 1}},  // stops once the line is full
        {U"ab中", 3, false, {2, 2, 1}},  // the wide character goes back
        {U"abcdef", 4, true, {4, 6, 2}},
        {U"abcdef", 0, true, {6, 6, 1}},  // 0: no wrap limit
        {U"a中b", 2, true, {2, 3, 3}},
        {U"a中b", 1, true, {1, 1, 1}},  // wider than the wrap width: the walk ends
        {U"a\u200Db\u200Dcd", NO_LIMIT, false, {4, 6, 1}},  // joiners take no column
        {U"\U0001F468\u200D\U0001F469", 3, false, {2, 2, 1}},
    };
    for (const auto& c : cases) {
        text_measure_t m = c.wrap ? wrap_columns(c.text, c.limit) : text_columns(c.text, c.limit);
        std::string what(c.text.begin(), c.text.end());
        EXPECT_EQ(m.widest, c.m.widest) << what << " " << c.limit;
        EXPECT_EQ(m.count, c.m.count) << what << " " << c.limit;
        EXPECT_EQ(m.lines, c.m.lines) << what << " " << c.limit;
    }
}

TEST(TuiText, Alignment) {
    struct align_case {
        std::u32string text;
        int32_t w, h;
        uint32_t para;
        offset_t off;
    };
    const align_case cases[] = {
        {U"abc", 10, 1, para_bit::CENTER, {3, 0}},
        {U"abc", 10, 1, para_bit::RIGHT, {7, 0}},
        {U"abc", 10, 5, 0, {0, 0}},
        {U"abc", 10, 5, para_bit::MIDDLE, {0, 2}},
        {U"abc", 10, 5, para_bit::BOTTOM | para_bit::CENTER, {3, 4}},
        {U"abcdefghijkl", 10, 1, para_bit::CENTER, {0, 0}},  // wider than the box
        {U"abcdefghijkl", 10, 3, para_bit::WRAP | para_bit::MIDDLE, {0, 0}},
        {U"abcdefghijkl", 10, 4, para_bit::WRAP | para_bit::MIDDLE, {0, 1}},
    };
    for (const auto& c : cases) {
        offset_t off = align_text(c.text, c.w, c.h, c.para);
        EXPECT_EQ(off.x, c.off.x) << c.para;
        EXPECT_EQ(off.y, c.off.y) << c.para;
    }
}

TEST(TuiText, DrawsWithinTheClipBox) {
    struct draw_case {
        const char* what;
        std::u32string text;
        int32_t x, y;
        clip_box_t clip;
        uint32_t para;
        std::u32string rows[3];
    };
    const draw_case cases[] = {
        {"lines", U"ab\ncd", 1, 0, {0, 0, 6, 3}, 0, {U" ab   ", U" cd   ", U"      "}},
        {"cut on the right",
         U"abcdefgh\nxy",
         0,
         0,
         {0, 0, 4, 3},
         0,
         {U"abcd  ", U"xy    ", U"      "}},
        {"wrapped",
         U"abcdefgh",
         0,
         0,
         {0, 0, 3, 3},
         para_bit::WRAP,
         {U"abc   ", U"def   ", U"gh    "}},
        {"cut on the left", U"abcd", -2, 1, {0, 0, 6, 3}, 0, {U"      ", U"cd    ", U"      "}},
        {"rows above the top",
         U"a\nb\nc",
         0,
         0,
         {0, 1, 6, 2},
         0,
         {U"      ", U"b     ", U"      "}},
        {"wrapped rows above the top",
         U"abcdef",
         0,
         0,
         {0, 1, 2, 3},
         para_bit::WRAP,
         {U"      ", U"cd    ", U"ef    "}},
        {"wide", U"中x", 0, 0, {0, 0, 6, 1}, 0, {U"中~x   ", U"      ", U"      "}},
        {"wide at the last column",
         U"ab中",
         0,
         0,
         {0, 0, 3, 1},
         0,
         {U"ab    ", U"      ", U"      "}},
        {"wide cut by the left edge",
         U"中ab",
         0,
         0,
         {1, 0, 6, 1},
         0,
         {U"  ab  ", U"      ", U"      "}},
        {"zero width is skipped",
         U"a\u0301b",
         0,
         0,
         {0, 0, 6, 1},
         0,
         {U"ab    ", U"      ", U"      "}},
    };
    for (const auto& c : cases) {
        screen_t s = grid(6, 3);
        text_style_t style;
        style.para = c.para;
        draw_text(s, c.text, c.x, c.y, c.clip, style);
        for (int32_t y = 0; y < 3; ++y)
            EXPECT_EQ(row_text(s, y), c.rows[y]) << c.what << " row " << y;
    }
}

TEST(TuiText, EscapeSequencesInText) {
    std::u32string text = U"\x1b[1mX\x1b[0mY";
    screen_t s = grid(12, 1);
    text_style_t style;
    style.flags = draw_flag::SGR;
    draw_text(s, text, 0, 0, {0, 0, 12, 1}, style);
    EXPECT_EQ(row_text(s, 0).substr(0, 3), U"XY ");
    EXPECT_EQ(s.at(0, 0)->attrs, attr::BOLD);
    EXPECT_EQ(s.at(1, 0)->attrs, 0u);

    // Without the flag every character is drawn, ESC included.
    s.clear();
    style.flags = 0;
    draw_text(s, text, 0, 0, {0, 0, 12, 1}, style);
    EXPECT_EQ(row_text(s, 0), U"\x1b[1mX\x1b[0mY  ");
    EXPECT_EQ(s.at(4, 0)->attrs, 0u);
}

TEST(TuiText, SgrParameters) {
    uint32_t base_bg = colour_word(colour_kind::INDEXED, 21);
    const sgr_state_t base{0, base_bg, attr::DIM};
    struct sgr_case {
        std::u32string seq;
        size_t consumed;  // 0: not a sequence
        sgr_state_t state;
    };
    uint32_t red = colour_word(colour_kind::BASIC, 1);
    const sgr_case cases[] = {
        {U"\x1b[38;5;200m", 11, base},  // extended colours are ignored whole
        {U"\x1b[48;2;1m", 9, base},
        {U"\x1b[31m", 5, {red, base_bg, attr::DIM}},
        {U"\x1b[1;31;42m", 10, {red, colour_word(colour_kind::BASIC, 2), attr::DIM | attr::BOLD}},
        {U"\x1b[91;102m",
         9,
         {colour_word(colour_kind::BASIC, 11), colour_word(colour_kind::BASIC, 12), attr::DIM}},
        {U"\x1b[39;49m",
         8,
         {colour_word(colour_kind::BASIC, 9), colour_word(colour_kind::BASIC, 9), attr::DIM}},
        {U"\x1b[22m", 5, {0, base_bg, 0}},
        {U"\x1b[7;9m", 6, {0, base_bg, attr::DIM | attr::INVERSE | attr::STRIKE}},
        {U"\x1b[m", 3, base},
        {U"\x1b[99999999999999999999m", 23, base},  // capped, not overflowed
        {U"\x1b[2J", 4, base},
        {U"\x1b[5;5H", 6, base},
        {U"\x1b[1;2;3;4m", 0, base},  // more than three parameters
        {U"\x1b[1x", 0, base},
        {U"\x1b[1", 0, base},
        {U"\x1bX", 0, base},
        {U"\x1b", 0, base},
    };
    for (const auto& c : cases) {
        sgr_state_t state = base;
        size_t after = parse_sgr(c.seq, 0, state, base);
        std::string what(c.seq.begin() + 1, c.seq.end());
        EXPECT_EQ(after, c.consumed) << what;
        EXPECT_EQ(state.fg, c.state.fg) << what;
        EXPECT_EQ(state.bg, c.state.bg) << what;
        EXPECT_EQ(state.attrs, c.state.attrs) << what;
    }
    // A reset returns to the base after changes.
    sgr_state_t state = base;
    parse_sgr(U"\x1b[1;33m", 0, state, base);
    parse_sgr(U"\x1b[0m", 0, state, base);
    EXPECT_EQ(state.attrs, base.attrs);
    EXPECT_EQ(state.fg, base.fg);
}

TEST(TuiText, OverwritingWideCharactersLeavesNoHalf) {
    screen_t s = grid(4, 1);
    const clip_box_t all{0, 0, 4, 1};
    text_style_t style;
    draw_text(s, U"中中", 0, 0, all, style);
    draw_text(s, U"a", 0, 0, all, style);  // over the left half
    EXPECT_EQ(row_text(s, 0), U"a 中~");
    draw_text(s, U"b", 3, 0, all, style);  // over the right half
    EXPECT_EQ(row_text(s, 0), U"a  b");
    draw_text(s, U"中", 1, 0, all, style);
    draw_text(s, U"中", 0, 0, all, style);  // a wide one over the left of another
    EXPECT_EQ(row_text(s, 0), U"中~ b");
}

// A zero-width character (a combining mark) is drawn with the character
// before it on its row; without one drawn there it is dropped.
TEST(TuiText, CombiningMarksGoWithTheirBase) {
    struct mark_case {
        std::u32string text;
        clip_box_t clip;
        std::u32string row;
        int32_t col;  // the cell that carries the marks, -1 for none
        std::u32string marks;
    };
    const mark_case cases[] = {
        {U"cafe\u0301", {0, 0, 6, 2}, U"cafe  ", 3, U"\u0301"},
        {U"e\u0301\u0323x", {0, 0, 6, 2}, U"ex    ", 0, U"\u0301\u0323"},
        {U"中\u0301", {0, 0, 6, 2}, U"中~    ", 0, U"\u0301"},
        {U"\u0301a", {0, 0, 6, 2}, U"a     ", -1, U""},  // nothing before it
        {U"a\n\u0301", {0, 0, 6, 2}, U"a     ", -1, U""},  // the row above is not its row
        {U"ab\u0301", {0, 0, 1, 2}, U"a     ", -1, U""},  // its base is clipped
        {U"e\u0301", {1, 0, 6, 2}, U"      ", -1, U""},
        {U"x\u200By", {0, 0, 6, 2}, U"xy    ", 0, U"\u200B"},
        {U"\U0001F3F4\U000E0067\U000E007F!",
         {0, 0, 6, 2},
         U"\U0001F3F4~!   ",
         0,
         U"\U000E0067\U000E007F"},
    };
    for (const auto& c : cases) {
        screen_t s = grid(6, 2);
        text_style_t style;
        style.para = 0;
        draw_text(s, c.text, 0, 0, c.clip, style);
        EXPECT_EQ(row_text(s, 0), c.row);
        for (int32_t x = 0; x < 6; ++x)
            for (int32_t y = 0; y < 2; ++y)
                EXPECT_EQ(s.marks_of(x, y), x == c.col && y == 0 ? c.marks : U"") << x << "," << y;
    }
    // Drawn over, a cell loses its marks; a cleared screen has none.
    screen_t s = grid(6, 1);
    draw_text(s, U"e\u0301", 0, 0, {0, 0, 6, 1}, text_style_t{});
    draw_text(s, U"o", 0, 0, {0, 0, 6, 1}, text_style_t{});
    EXPECT_EQ(s.marks_of(0, 0), U"");
    draw_text(s, U"e\u0301", 0, 0, {0, 0, 6, 1}, text_style_t{});
    s.clear();
    EXPECT_EQ(s.marks_of(0, 0), U"");
    // A long run of marks is bounded.
    draw_text(s, U"e" + std::u32string(1000, U'\u0301'), 0, 0, {0, 0, 6, 1}, text_style_t{});
    EXPECT_EQ(s.marks_of(0, 0).size(), screen_t::MAX_MARKS);
}

// Characters a terminal draws with the one before them take no column:
// format characters but the soft hyphen, conjoining Hangul vowels and
// finals, marks and variation selectors. Their neighbours keep theirs.
TEST(TuiText, ZeroWidthCharacters) {
    const uint32_t none[] = {0x0301,  0x061C,  0x1160,  0x11FF,  0x180E, 0x200B, 0x200C,  0x200D,
                             0x200E,  0x200F,  0x202A,  0x202E,  0x2060, 0x2064, 0x2066,  0x206F,
                             0xD7B0,  0xD7FB,  0xFE0F,  0xFEFF,  0xFFF9, 0xFFFB, 0x13430, 0x1BCA0,
                             0x1D173, 0xE0001, 0xE0020, 0xE007F, 0xE0100};
    for (uint32_t cp : none) EXPECT_EQ(char_width(cp), 0) << std::hex << "U+" << cp;
    const struct {
        uint32_t cp;
        int32_t width;
    } some[] = {{0x00AD, 1},  {0x115F, 2},  {0x200A, 1}, {0x2010, 1}, {0x2065, 1},
                {0x2070, 1},  {0xD7C7, 1},  {0xFEFE, 1}, {0xFFFC, 1}, {0xE0002, 1},
                {0xE0080, 1}, {0x1F468, 2}, {0x4E00, 2}, {'a', 1}};
    for (const auto& c : some) EXPECT_EQ(char_width(c.cp), c.width) << std::hex << "U+" << c.cp;
}

TEST(TuiText, StyledRunsAndStyleAttributes) {
    screen_t s = grid(4, 1);
    uint32_t green = colour_word(colour_kind::INDEXED, 46);
    uint32_t grey = colour_word(colour_kind::INDEXED, 244);
    const tui_cell_t runs[] = {{'a', 0, green, attr::BOLD}, {'b', grey, 0, 0}};
    text_style_t style;
    style.flags = draw_flag::INVERSE;
    style.fg = colour_word(colour_kind::INDEXED, 1);
    draw_runs(s, runs, 2, 1, 0, {0, 0, 4, 1}, style);
    EXPECT_EQ(row_text(s, 0), U" ab ");
    EXPECT_EQ(s.at(1, 0)->fg, green);
    EXPECT_EQ(s.at(1, 0)->attrs, attr::BOLD | attr::INVERSE);
    EXPECT_EQ(s.at(2, 0)->fg, style.fg);
    EXPECT_EQ(s.at(2, 0)->bg, grey);

    // No-text draws nothing; masked cells keep their characters.
    s.clear();
    style.flags = draw_flag::NO_TEXT;
    draw_text(s, U"x", 0, 0, {0, 0, 4, 1}, style);
    EXPECT_EQ(s.at(0, 0)->code, 0);
    style.flags = draw_flag::MASKED;
    draw_text(s, U"x", 0, 0, {0, 0, 4, 1}, style);
    EXPECT_EQ(s.at(0, 0)->attrs, attr::MASKED);
}

TEST(TuiText, ClipBoxAndFill) {
    screen_t s = grid(10, 5);
    clip_box_t own = clip_box(-2, 3, 5, 4, nullptr, s);
    EXPECT_EQ(own.x1, 0);
    EXPECT_EQ(own.y1, 3);
    EXPECT_EQ(own.x2, 3);
    EXPECT_EQ(own.y2, 5);
    const clip_box_t parent{2, 1, 6, 4};
    clip_box_t inner = clip_box(4, 0, 5, 5, &parent, s);
    EXPECT_EQ(inner.x1, 4);
    EXPECT_EQ(inner.y1, 1);
    EXPECT_EQ(inner.x2, 6);
    EXPECT_EQ(inner.y2, 4);

    uint32_t blue = colour_word(colour_kind::INDEXED, 21);
    s.at(9, 4)->code = 'q';
    fill_box(s, 8, 3, 5, 5, blue);
    EXPECT_EQ(s.at(9, 4)->code, 0);
    EXPECT_EQ(s.at(9, 4)->bg, blue);
    EXPECT_EQ(s.at(7, 4)->bg, 0u);
}

TEST(TuiText, CaretsAndCellPositions) {
    // "ab中" then a line feed and "cd"; wrapped at 3 the wide character moves
    // to the second line.
    const std::u32string text = U"ab中\ncd";
    struct caret_case {
        int32_t wrap, index;
        cell_pos_t pos;
    };
    const caret_case carets[] = {
        {0, 1, {0, 0}},  {0, 3, {2, 0}},  {0, 4, {4, 0}}, {0, 5, {0, 1}}, {0, 7, {2, 1}},
        {0, 99, {2, 1}}, {0, -4, {0, 0}}, {3, 3, {0, 1}}, {3, 5, {0, 2}},
    };
    for (const auto& c : carets) {
        cell_pos_t p = caret_to_offset(text, c.wrap, c.index);
        EXPECT_EQ(p.col, c.pos.col) << c.wrap << " " << c.index;
        EXPECT_EQ(p.line, c.pos.line) << c.wrap << " " << c.index;
    }
    struct offset_case {
        int32_t col, line;
        bool char_mode;
        int32_t index;
    };
    const offset_case offsets[] = {
        {0, 0, false, 1}, {1, 0, false, 2}, {3, 0, false, 3},  // the right half of 中
        {9, 0, false, 4},  // past the end: before the line feed
        {1, 1, false, 6}, {5, 1, false, 7}, {0, 7, false, 5},  // lines past the last: the last
        {1, 0, true, 1},  {0, 0, true, 1},
    };
    for (const auto& c : offsets)
        EXPECT_EQ(offset_to_caret(text, 0, c.col, c.line, c.char_mode), c.index)
            << c.col << "x" << c.line << (c.char_mode ? " char" : "");
}

}  // namespace
}  // namespace zuv::tui
