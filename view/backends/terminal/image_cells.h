// A face's image shown in cells: two pixels a cell, stacked, as the lower
// half block U+2584 with the upper pixel as background and the lower one as
// foreground, so a face of w x h cells shows w x 2h pixels.
#pragma once

namespace zuv::tui {

struct widget_t;

// Replaces the widget's styled cells with its face's image scaled to the
// widget's box (nearest pixel); empties them when the face has no image.
void convert_image(widget_t* w);

}  // namespace zuv::tui
