#include "view/backends/terminal/image_cells.h"

#include "datatypes/image.h"
#include "datatypes/os_image.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/widget.h"

namespace zuv::tui {

namespace {

constexpr int32_t LOWER_HALF = 0x2584, UPPER_HALF = 0x2580;

bool transparent(uint32_t pixel) { return (pixel >> 24) == 0; }

// A bitmap word (opacity in bits 24-31, R 16-23, G 8-15, B 0-7) as a cell
// colour: true colour when the terminal has it, else the nearest of 256.
uint32_t colour_of_pixel(uint32_t pixel) {
    uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    if (screen().colour_mode == 4)
        return colour_word(colour_kind::TRUE_COLOUR, r << 16 | g << 8 | b);
    return rgb_to_256(r | g << 8 | b << 16);
}

}  // namespace

// A transparent pixel leaves its half of the cell to the face: both halves
// transparent give a blank cell, a transparent lower half turns the cell
// into the upper half block in the upper pixel's colour.
void convert_image(widget_t* w) {
    w->styled.clear();
    const cell_t* image = face_facet(&w->face, facet::IMAGE);
    if (image == nullptr || type_of(image) != TYPE_image || image::node_of(image) == 0) return;
    auto cols = static_cast<int32_t>(w->x2 - w->x1), rows = static_cast<int32_t>(w->y2 - w->y1);
    int32_t iw = image::width_of(image), ih = image::height_of(image);
    if (cols <= 0 || rows <= 0 || iw <= 0 || ih <= 0) return;
    const uint32_t* pixels = os_image::pixels(image::node_of(image));
    auto at = [&](int64_t x, int64_t y) {
        int64_t sx = x * iw / cols, sy = y * ih / (2 * static_cast<int64_t>(rows));
        return pixels[sy * iw + sx];
    };
    w->styled.resize(static_cast<size_t>(cols) * static_cast<size_t>(rows));
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            uint32_t upper = at(x, 2 * y), lower = at(x, 2 * y + 1);
            tui_cell_t& c = w->styled[static_cast<size_t>(y) * static_cast<size_t>(cols) +
                                      static_cast<size_t>(x)];
            c = tui_cell_t{' ', 0, 0, 0};
            if (transparent(upper) && transparent(lower)) continue;
            if (transparent(lower)) {
                c.code = UPPER_HALF;
                c.fg = colour_of_pixel(upper);
                continue;
            }
            c.code = LOWER_HALF;
            c.fg = colour_of_pixel(lower);
            if (!transparent(upper)) c.bg = colour_of_pixel(upper);
        }
}

}  // namespace zuv::tui
