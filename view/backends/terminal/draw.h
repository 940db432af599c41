// The Draw dialect: a block of drawing commands, read and checked here and
// plotted by the rasteriser (draw_raster.h) on a surface: the cell grid of
// a face's box, or the pixels of an image.
//
// Every command is parsed and its arguments checked whether or not it
// plots anything, so a block that would fail on a pixel surface fails in
// cells too. Commands that need transformations, clipping paths, curves or
// bitmaps are accepted and draw nothing. A bad block raises `draw-invalid`
// at the offending value; a block that holds itself raises `draw-infinite`.
//
// Nothing here allocates on the collector's heap, so the block's cells may
// be read through their addresses while a run lasts; word lookups push on
// the argument stack and pop again.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backends/terminal/draw_raster.h"
#include "view/backends/terminal/text_cells.h"

namespace zuv::tui {
struct widget_t;
}

namespace zuv::tui::draw {

// The one Draw entry: runs commands on a surface. within is the widget
// whose face is drawn (its para aligns `text`), nullptr for an image.
void run_block(const draw_surface_t& surface, const cell_t* commands, widget_t* within);

// The face renderer's call: the face's `draw` block of w on the cells of its
// box at absolute (x, y), cut to clip. An error in the block is raised to
// the caller.
void draw_block(widget_t* w, const clip_box_t& clip, int32_t x, int32_t y);

// Commands on an image's pixels, one pixel for a cell; nothing for an
// image with a side of 0. Telling the image's owner is the caller's part.
void draw_image(cell_t* image, cell_t* commands);

}  // namespace zuv::tui::draw
