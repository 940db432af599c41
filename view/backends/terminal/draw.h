// The Draw dialect's entries for the terminal backend: a face's `draw`
// block run on the cells of its widget's box, and Draw commands run on an
// image. Both do nothing until the dialect's rasteriser is built; the
// renderer and the `draw-image` routine already call them.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backends/terminal/text_cells.h"
#include "view/backends/terminal/widget.h"

namespace zuv::tui::draw {

// Runs the face's `draw` block of w at absolute cell (x, y) within clip.
// An error in the block is raised to the caller.
void draw_block(widget_t* w, const clip_box_t& clip, int32_t x, int32_t y);

// Runs commands (a block!) on image.
void draw_image(cell_t* image, cell_t* commands);

}  // namespace zuv::tui::draw
