// The cell screen and the bytes its writer sends to the terminal.
#include <gtest/gtest.h>

#include <string>

#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/screen.h"

namespace zuv::tui {
namespace {

const std::string ESC = "\x1b";

// A fullscreen grid of w x h whose rows are the given texts (ASCII).
screen_t grid_of(int32_t w, int32_t h, std::initializer_list<const char*> rows) {
    screen_t s;
    s.fullscreen = true;
    s.size_to(w, h);
    int32_t y = 0;
    for (const char* row : rows) {
        for (int32_t x = 0; row[x] != 0; ++x) s.at(x, y)->code = row[x];
        ++y;
    }
    return s;
}

std::string written(screen_t& s) {
    std::string out;
    s.write_into(out);
    return out;
}

TEST(TuiScreen, PlainRowsGetOnlyTheirCharactersAndLineEnds) {
    screen_t s = grid_of(2, 2, {"ab", "cd"});
    EXPECT_EQ(written(s), ESC + "[Hab" + ESC + "[49m\r\ncd");
    EXPECT_EQ(s.cursor_row, 1);
}

TEST(TuiScreen, ColourAndAttributeChanges) {
    struct change_case {
        const char* what;
        tui_cell_t first;
        tui_cell_t second;
        std::string bytes;  // after "\033[H"
    };
    uint32_t red = rgb_to_256(0x0000FF);
    const change_case cases[] = {
        {"bold red X, back to plain",
         {'X', 0, red, attr::BOLD},
         {'y', 0, 0, 0},
         ESC + "[1m" + ESC + "[38;5;196mX" + ESC + "[22m" + ESC + "[39my"},
        {"bold and dim to bold sends bold again",
         {'a', 0, 0, attr::BOLD | attr::DIM},
         {'b', 0, 0, attr::BOLD},
         ESC + "[2m" + ESC + "[1ma" + ESC + "[22m" + ESC + "[1mb" + ESC + "[22m"},
        {"bold and dim to dim sends dim again",
         {'a', 0, 0, attr::BOLD | attr::DIM},
         {'b', 0, 0, attr::DIM},
         ESC + "[2m" + ESC + "[1ma" + ESC + "[22m" + ESC + "[2mb" + ESC + "[22m"},
        {"unchanged attributes are not sent again",
         {'a', 0, 0, attr::UNDERLINE | attr::ITALIC},
         {'b', 0, 0, attr::UNDERLINE | attr::ITALIC},
         ESC + "[3m" + ESC + "[4mab" + ESC + "[23m" + ESC + "[24m"},
        {"inverse and strike, then background only",
         {'a', 0, 0, attr::INVERSE | attr::STRIKE},
         {'b', colour_word(colour_kind::BASIC, 4), 0, 0},
         ESC + "[7m" + ESC + "[9ma" + ESC + "[27m" + ESC + "[29m" + ESC + "[44mb" + ESC + "[49m"},
        {"masked cells show a star", {'p', 0, 0, attr::MASKED}, {0, 0, 0, 0}, "* "},
        {"control characters show their pictures",
         {0x1B, 0, 0, 0},
         {0x9B, 0, 0, 0},
         "\xE2\x90\x9B\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        screen_t s = grid_of(2, 1, {});
        *s.at(0, 0) = c.first;
        *s.at(1, 0) = c.second;
        EXPECT_EQ(written(s), ESC + "[H" + c.bytes) << c.what;
    }
}

TEST(TuiScreen, WideCharacterTailIsNotWritten) {
    screen_t s = grid_of(3, 1, {});
    *s.at(0, 0) = {0x4E2D, 0, 0, 0};
    *s.at(1, 0) = {0, 0, 0, attr::WIDE_TAIL};
    s.at(2, 0)->code = 'x';
    EXPECT_EQ(written(s), ESC + "[H\xE4\xB8\xAD" + "x");
}

// The cell after a character with marks is placed by its column (a
// terminal may give the cluster other columns), and so is the one after
// that when a joiner may have taken it into the cluster.
TEST(TuiScreen, MarksFollowTheirCharacter) {
    screen_t s = grid_of(3, 1, {"ab"});
    s.add_mark(0, 0, 0x301);
    s.add_mark(0, 0, 0x323);
    s.at(1, 0)->attrs |= attr::MASKED;
    s.add_mark(1, 0, 0x301);  // a masked cell shows "*" alone
    EXPECT_EQ(written(s), ESC + "[Ha\u0301\u0323" + ESC + "[2G* ");
    s = grid_of(6, 1, {""});
    s.at(0, 0)->code = 0x1F468;
    s.at(1, 0)->attrs = attr::WIDE_TAIL;
    s.add_mark(0, 0, 0x200D);
    s.at(2, 0)->code = 0x1F469;
    s.at(3, 0)->attrs = attr::WIDE_TAIL;
    s.at(4, 0)->code = 'x';
    s.at(5, 0)->code = 'y';
    EXPECT_EQ(written(s), ESC + "[H\U0001F468\u200D" + ESC + "[3G\U0001F469" + ESC + "[5Gxy");
}

TEST(TuiScreen, BackgroundRestartsOnEveryRow) {
    uint32_t blue = colour_word(colour_kind::INDEXED, 21);
    screen_t s = grid_of(1, 2, {});
    *s.at(0, 0) = {'a', blue, 0, 0};
    *s.at(0, 1) = {'b', blue, 0, 0};
    EXPECT_EQ(written(s), ESC + "[H" + ESC + "[48;5;21ma" + ESC + "[49m\r\n" + ESC + "[48;5;21mb" +
                              ESC + "[49m");
}

TEST(TuiScreen, InlineStartsFromTheCursorRow) {
    screen_t s = grid_of(1, 3, {"a", "b", "c"});
    s.fullscreen = false;
    // Each row is erased as a line: an erase to the end of the screen from
    // the home position would copy the screen into tmux's scrollback.
    EXPECT_EQ(written(s), "\r" + ESC + "[2Ka" + ESC + "[49m\r\n" + ESC + "[2Kb" + ESC + "[49m\r\n" +
                              ESC + "[2Kc");
    EXPECT_EQ(s.cursor_row, 2);
    // The next repaint goes back up over the area first.
    s.drawn = true;
    EXPECT_EQ(written(s).substr(0, 9), "\r" + ESC + "[2A" + ESC + "[2K");
}

TEST(TuiScreen, InlineAreaErasesWhatItLeaves) {
    screen_t s = grid_of(1, 3, {"a", "b", "c"});
    s.fullscreen = false;
    s.term_height = 10;
    s.origin_row = 0;
    written(s);
    s.drawn = true;
    // Shorter: the rows below it are erased and the cursor comes back.
    s.size_to(1, 1);
    *s.at(0, 0) = {'x', 0, 0, 0};
    EXPECT_EQ(written(s), "\r" + ESC + "[2A" + ESC + "[2Kx" + ESC + "[1B" + ESC + "[2K" + ESC +
                              "[1B" + ESC + "[2K" + ESC + "[2A");
    EXPECT_EQ(s.cursor_row, 0);
    // A printer erases the area row by row and starts on its top row.
    s.size_to(1, 3);
    written(s);
    std::string out;
    s.erase_into(out);
    EXPECT_EQ(out, "\r" + ESC + "[2A" + ESC + "[2K" + ESC + "[1B" + ESC + "[2K" + ESC + "[1B" +
                       ESC + "[2K" + ESC + "[2A");
    EXPECT_EQ(s.cursor_row, 0);
    // At the bottom of the terminal only the rows it has are visited.
    s.origin_row = 8;
    s.cursor_row = 1;
    out.clear();
    s.erase_into(out);
    EXPECT_EQ(out, "\r" + ESC + "[1A" + ESC + "[2K" + ESC + "[1B" + ESC + "[2K" + ESC + "[1A");
    for (const char* erase : {"[J", "[0J", "[2J"})
        EXPECT_EQ(out.find(ESC + erase), std::string::npos) << erase;
}

TEST(TuiScreen, CaretPlacesTheCursor) {
    screen_t s = grid_of(5, 3, {});
    s.fullscreen = false;
    s.caret_shown = true;
    s.caret_col = 4;
    s.caret_row = 1;
    std::string out = written(s);
    EXPECT_EQ(out.substr(out.size() - 9), "\r" + ESC + "[1A" + ESC + "[4C");
    EXPECT_EQ(s.cursor_row, 1);
    // Column 0 on the last row needs no moves.
    s.caret_col = 0;
    s.caret_row = 2;
    out = written(s);
    EXPECT_EQ(out.substr(out.size() - 2), " \r");
}

TEST(TuiScreen, SizeIsClippedToTheTerminal) {
    screen_t s;
    s.term_width = 10;
    s.term_height = 4;
    s.size_to(200, 60);
    EXPECT_EQ(s.width(), 10);
    EXPECT_EQ(s.height(), 4);
    EXPECT_EQ(s.at(10, 0), nullptr);
    EXPECT_EQ(s.at(0, -1), nullptr);
    s.at(9, 3)->code = 'z';
    // Shrinking and growing again clears every cell.
    s.size_to(2, 2);
    s.size_to(10, 4);
    EXPECT_EQ(s.at(9, 3)->code, 0);
    s.size_to(0, 3);
    EXPECT_EQ(written(s), "");
}

TEST(TuiScreen, InlineAreaMovesUpToFit) {
    screen_t s;
    s.term_height = 24;
    s.size_to(10, 5);
    s.origin_row = 22;
    s.place_inline(5);
    EXPECT_EQ(s.origin_row, 19);
    s.fullscreen = true;
    s.place_inline(5);
    EXPECT_EQ(s.origin_row, 0);
}

}  // namespace
}  // namespace zuv::tui
