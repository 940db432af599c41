// Where characters of a rich-text face sit in cells: caret indices to cell
// positions and back, and the size of the wrapped text. Positions are
// (column, line) from 0; caret indices count characters from 1, the caret
// at index i standing before the i-th character.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zuv::tui {

struct cell_pos_t {
    int32_t col, line;
};

// The start of the character at caret index (clamped to 1 .. length + 1,
// the last being the end of the text). wrap_width 0: no wrapping.
cell_pos_t caret_to_offset(std::u32string_view text, int32_t wrap_width, int32_t index);

// The caret index of the character covering (col, line); past a line's
// end, the index after its last character. char_mode answers one less
// when the position is exactly the end of the character found.
int32_t offset_to_caret(std::u32string_view text, int32_t wrap_width, int32_t col, int32_t line,
                        bool char_mode);

// Metric kinds the face model asks for.
namespace metric {
constexpr int32_t CARET_TO_OFFSET = 0, OFFSET_TO_CARET = 1, LINE_HEIGHT = 2, SIZE = 3,
                  LINE_COUNT = 4, OFFSET_TO_CHAR = 5, CARET_TO_OFFSET_LOWER = 6;
}

// Pushes the metric of kind for a rich-text face (argument: an index or a
// point); none when the face's text is no string or the kind is unknown.
cell_t* push_text_box_metrics(const cell_t* face, const cell_t* argument, int32_t kind);

}  // namespace zuv::tui
