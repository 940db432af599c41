// Text in cells: measuring by column widths, alignment in a box, and
// drawing into the cell screen, optionally reading SGR escape sequences in
// the text (colours and attributes) as it goes.
#pragma once

#include <cstdint>
#include <string_view>

#include "view/backends/terminal/screen.h"

namespace zuv::tui {

// Draw flags of a text style. Dim, inverse and masked are cell attributes
// of the same bits.
namespace draw_flag {
constexpr uint32_t DIM = 0x4;
constexpr uint32_t INVERSE = 0x8;
constexpr uint32_t MASKED = 0x800;
constexpr uint32_t SGR = 0x1000;  // escape sequences in the text apply
constexpr uint32_t NO_TEXT = 0x2000;  // nothing is drawn
// Text laid over what is drawn already (Draw's `text`): a cell keeps its
// background where the text gives none.
constexpr uint32_t OVER = 0x4000;
// Each line keeps its one row, cut at the box's right edge: a text list's
// rows are its items, which clicks pick by row.
constexpr uint32_t CUT = 0x8000;
}  // namespace draw_flag

// Para bits: horizontal and vertical alignment, wrapping.
namespace para_bit {
constexpr uint32_t RIGHT = 1;
constexpr uint32_t CENTER = 2;
constexpr uint32_t MIDDLE = 4;
constexpr uint32_t BOTTOM = 8;
constexpr uint32_t WRAP = 32;
}  // namespace para_bit

struct text_style_t {
    uint32_t flags = 0;
    uint32_t para = 0;
    uint32_t fg = 0;
    uint32_t bg = 0;
};

// x2 and y2 exclusive.
struct clip_box_t {
    int32_t x1, y1, x2, y2;
};

struct text_measure_t {
    int32_t widest;  // columns of the widest line
    int32_t count;  // characters walked
    int32_t lines;
};

constexpr int32_t NO_LIMIT = INT32_MAX;

int32_t char_width(uint32_t cp);

// Walks text until its end or until the current line reaches max_width;
// a line wider than max_width gives back its last character.
text_measure_t text_columns(std::u32string_view text, int32_t max_width);

// Measures text broken into lines of at most wrap_width columns (0: no
// limit). A character wider than wrap_width ends the walk.
text_measure_t wrap_columns(std::u32string_view text, int32_t wrap_width);

struct offset_t {
    int32_t x, y;
};

// Where text starts in a box of w x h cells under the para bits.
offset_t align_text(std::u32string_view text, int32_t w, int32_t h, uint32_t para);

// A widget's box at absolute (x, y), w x h, limited to its parent's box
// (when it has one that is not its window) and to the grid.
clip_box_t clip_box(int32_t x, int32_t y, int32_t w, int32_t h, const clip_box_t* parent,
                    const screen_t& grid);

// Every cell of the box becomes a space on bg (the part inside the grid).
void fill_box(screen_t& grid, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t bg);

// Draws text from cell (x, y) within the clip box.
void draw_text(screen_t& grid, std::u32string_view text, int32_t x, int32_t y,
               const clip_box_t& clip, const text_style_t& style);

// Draws styled runs (one cell each: code point, colours, attributes); a run
// colour of 0 takes the style's.
void draw_runs(screen_t& grid, const tui_cell_t* runs, int32_t count, int32_t x, int32_t y,
               const clip_box_t& clip, const text_style_t& style);

// The colours and attributes escape sequences change.
struct sgr_state_t {
    uint32_t fg, bg, attrs;
};

// Reads the escape sequence whose ESC is at text[at]; when it is one that
// drawn text understands, applies it to state and answers the index after
// it, else answers at (the ESC is then an ordinary character).
size_t parse_sgr(std::u32string_view text, size_t at, sgr_state_t& state, const sgr_state_t& base);

// One SGR parameter; 0 returns to base.
void sgr_apply(int32_t code, sgr_state_t& state, const sgr_state_t& base);

}  // namespace zuv::tui
