// The rasteriser of the Draw dialect: lines, boxes, triangles and ellipses
// plotted on a surface that is either the cell grid or an image's pixels.
//
// Every plot is offset by the surface's origin and dropped outside its clip
// box, and every shape walks only the rows or columns that can reach the
// clip box: a Draw block may hold any coordinates, and a line from 0x0 to
// 2000000000x0 costs no more than the clip box is wide.
#pragma once

#include <cstdint>

#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/text_cells.h"

namespace zuv::tui {

struct draw_surface_t {
    screen_t* grid = nullptr;  // cells, when set
    uint32_t* pixels = nullptr;  // else an image's bitmap words, row-major
    int32_t width = 0;  // the bitmap's row length
    int32_t ox = 0, oy = 0;  // origin of the commands' coordinates
    clip_box_t clip{0, 0, 0, 0};  // absolute, inside the grid or bitmap

    bool cells() const { return grid != nullptr; }
};

// What strokes and fills paint with: colour words on cells, bitmap words
// on pixels. A disabled pen or fill paints nothing.
struct draw_paint_t {
    bool pen_on = true;
    uint32_t pen = 0;
    bool fill_on = false;
    uint32_t fill = 0;
};

namespace raster {

// Coordinates are relative to the origin; ends are inclusive.
void line(const draw_surface_t& s, const draw_paint_t& p, int64_t x0, int64_t y0, int64_t x1,
          int64_t y1);
void box(const draw_surface_t& s, const draw_paint_t& p, int64_t x0, int64_t y0, int64_t x1,
         int64_t y1);
void triangle(const draw_surface_t& s, const draw_paint_t& p, const int64_t xs[3],
              const int64_t ys[3]);
// Radii in plotted units: the caller doubles a circle's horizontal radius
// on cells.
void ellipse(const draw_surface_t& s, const draw_paint_t& p, int64_t cx, int64_t cy, int64_t rx,
             int64_t ry);

}  // namespace raster

}  // namespace zuv::tui
