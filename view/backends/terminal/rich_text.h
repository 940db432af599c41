// Styled runs of rich-text faces: one cell per character of the text, with
// the colours and attributes the face's style list gives its ranges.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.h"
#include "view/backends/terminal/screen.h"

namespace zuv::tui {

// Applies a style list to runs: a pair! picks the range (1-based start,
// length), a tuple! colours it, bold / italic / underline / strike set
// their attribute (underline and strike may be followed by a tuple and a
// lit-word, which are skipped), backdrop and a tuple set the background.
// Borders, font names and sizes are accepted and change nothing. Ranges are
// cut to the text at both ends.
void apply_text_styles(std::vector<tui_cell_t>& runs, const cell_t* styles);

// Lays out the face's text as runs when its text is a non-empty string and
// its data a style block; otherwise leaves runs empty.
void layout_styled_text(std::vector<tui_cell_t>& runs, const cell_t* face);

}  // namespace zuv::tui
