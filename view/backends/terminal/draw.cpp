#include "view/backends/terminal/draw.h"

namespace zuv::tui::draw {

void draw_block(widget_t*, const clip_box_t&, int32_t, int32_t) {}

void draw_image(cell_t*, cell_t*) {}

}  // namespace zuv::tui::draw
