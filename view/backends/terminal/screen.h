// The cell screen: everything the terminal UI shows is drawn into a grid of
// cells the size of the active window, then written to the terminal in one
// write as UTF-8 text with escape sequences.
//
// The writer sends attribute and colour sequences only where they change
// along a row, so a row in the default colours costs its characters and one
// line end. Inline (below the prompt) the area is redrawn from its top row,
// each row erased as a line of its own: an erase to the end of the screen
// from the home position counts as clearing it in some terminals (tmux),
// which would copy the screen into the user's scrollback at every repaint.
// Fullscreen it starts at the home position of the alternate screen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zuv::tui {

// Attribute bits of a cell. Blink and conceal come from escape sequences in
// drawn text and are not sent to the terminal.
namespace attr {
constexpr uint32_t BLINK = 0x1;
constexpr uint32_t BOLD = 0x2;
constexpr uint32_t DIM = 0x4;
constexpr uint32_t INVERSE = 0x8;
constexpr uint32_t UNDERLINE = 0x10;
constexpr uint32_t STRIKE = 0x40;
constexpr uint32_t ITALIC = 0x100;
constexpr uint32_t CONCEAL = 0x200;
constexpr uint32_t WIDE_TAIL = 0x400;  // right half of a double-width character
constexpr uint32_t MASKED = 0x800;  // written as "*"
// Zero-width characters (combining marks) go with the cell's character:
// the screen keeps them beside the grid (screen_t::marks_of). A cell
// written anew loses the bit, and so its marks.
constexpr uint32_t MARKS = 0x10000;
}  // namespace attr

struct tui_cell_t {
    int32_t code;  // 0 shows as a space
    uint32_t bg;
    uint32_t fg;
    uint32_t attrs;
};
static_assert(sizeof(tui_cell_t) == 16);

class screen_t {
public:
    // The terminal's size in cells.
    int32_t term_width = 80;
    int32_t term_height = 24;
    // 4: image pixels in true colour; anything else: in 256 colours.
    int32_t colour_mode = 4;

    // Set by the focused widget's renderer; -1 when it shows none.
    int32_t caret_col = -1;
    int32_t caret_row = -1;
    bool caret_shown = false;

    // The row of the drawn area on which the terminal cursor was left.
    int32_t cursor_row = 0;
    // Top row of the inline area on the terminal (from the cursor report).
    int32_t origin_row = 0;
    // Cursor position reports asked for and received: a report still due
    // when the UI ends is awaited, lest it reach the shell as typed text.
    int32_t reports_asked = 0;
    int32_t reports_seen = 0;

    bool fullscreen = false;
    // Something was written since the last erase: written_rows rows from
    // the area's top.
    bool drawn = false;
    int32_t written_rows = 0;
    bool redraw = true;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // Sizes the grid to a window of w x h cells, clipped to the terminal,
    // and clears every cell. Memory is only taken anew when the grid grows.
    void size_to(int32_t w, int32_t h);
    void clear();

    // The cell at (x, y), nullptr outside the grid.
    tui_cell_t* at(int32_t x, int32_t y);
    const tui_cell_t* at(int32_t x, int32_t y) const;

    // Adds a zero-width character to those drawn with the cell's character
    // (up to MAX_MARKS of them); nothing outside the grid.
    void add_mark(int32_t x, int32_t y, uint32_t cp);
    // The cell's zero-width characters, empty when it has none.
    std::u32string_view marks_of(int32_t x, int32_t y) const;
    static constexpr size_t MAX_MARKS = 16;

    // Keeps an inline area of the given height on the terminal: when it
    // would run past the bottom, it moves up. Fullscreen it stays at the top.
    void place_inline(int32_t height);

    // The bytes that bring the terminal up to date with the grid (nothing
    // for an empty grid); sets cursor_row to where the cursor is left.
    void write_into(std::string& out);

    // The bytes that erase the inline area drawn last, leaving the cursor
    // at the start of its top row (cursor_row 0).
    void erase_into(std::string& out);

private:
    std::vector<tui_cell_t> cells_;
    // By cell index; an entry counts only while its cell has attr::MARKS.
    std::unordered_map<size_t, std::u32string> marks_;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// Appends code point cp as UTF-8 (an invalid one as U+FFFD).
void append_utf8(std::string& out, uint32_t cp);

}  // namespace zuv::tui
