// The widget tree: widgets made from faces (parents first), face changes
// applied to them, their destruction, and the repaint of the active window
// into the cell screen.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "view/backends/terminal/text_cells.h"
#include "view/backends/terminal/widget.h"

namespace zuv::tui {

// Makes the face's widget under parent (nullptr for a window) and puts its
// handle first in the face's `state`. Its update runs once, so that labels
// and edit states exist before the first repaint.
widget_t* make_view(cell_t* face, widget_t* parent);

// Applies the face's pending change bits (state/2) and clears them.
void update_view(cell_t* face);

// Removes the face's widget and those of its pane's faces.
void destroy_widget(cell_t* face);

// Makes the topmost visible window the active one.
void pick_active_window();

// Draws the active window into the screen's grid (sized to it).
void draw_active_window();

// Places the inline area for the active window's height (screen_t::
// place_inline); render does it every frame, before its redraw test, and a
// cursor report at once: mouse rows count from the placed area.
void place_area();

// The frame's repaint, when one was asked for: the active window drawn and
// written in one write, the cursor hidden unless the focused widget shows
// a caret.
void render();

// The common renderer: background, styled runs, label, then the text
// (or the hint) aligned in the box, within clip.
void draw_face(int32_t x, int32_t y, widget_t* w, uint32_t draw_flags, const clip_box_t& clip);

// The columns a character of the widget's text takes: one for each in a
// password, which shows a "*" per character.
int32_t shown_width(const widget_t* w, char32_t c);
// text_columns for the widget's text, counted as shown_width counts.
text_measure_t shown_columns(const widget_t* w, std::u32string_view text, int32_t max_width);

// Runs a face's `draw` block on the cells of its widget's box (the Draw
// dialect's draw::draw_block).
using draw_block_fn = void (*)(widget_t* w, const clip_box_t& clip, int32_t x, int32_t y);
extern draw_block_fn draw_block_hook;

// Sets a facet through the face's change handler, as an assignment would.
void set_facet(const cell_t* face, int32_t index, const cell_t* value);

// Text of a string cell (its characters from its position), empty for
// anything else.
std::u32string text_of(const cell_t* value);

// The para bits (text_cells.h) of a face's para object; 0 for anything else.
uint32_t para_bits(const cell_t* para);

// The canonical symbol of a word cell, 0 for anything else.
int32_t symbol_of_word(const cell_t* value);

// Per-kind set-up (widget_kinds.cpp): behaviours and kind data.
void init_kind(widget_t* w);
// A field's edit state from its text, the cursor after the text.
void reset_edit_state(widget_t* w);

}  // namespace zuv::tui
