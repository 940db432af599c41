#include "view/backends/terminal/text_metrics.h"

#include <algorithm>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "view/backends/terminal/text_cells.h"
#include "view/backends/terminal/widget.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {

namespace {

// The position of every character and of the end, as the wrapping of
// wrap_columns lays them out.
std::vector<cell_pos_t> layout(std::u32string_view text, int32_t wrap_width) {
    int32_t limit = wrap_width > 0 ? wrap_width : NO_LIMIT;
    std::vector<cell_pos_t> at;
    at.reserve(text.size() + 1);
    int32_t col = 0, line = 0;
    for (char32_t c : text) {
        if (c == U'\n') {
            at.push_back({col, line});
            col = 0;
            ++line;
            continue;
        }
        int32_t w = char_width(c);
        if (col + w > limit && col > 0) {
            col = 0;
            ++line;
        }
        at.push_back({col, line});
        col += w;
    }
    at.push_back({col, line});
    return at;
}

}  // namespace

cell_pos_t caret_to_offset(std::u32string_view text, int32_t wrap_width, int32_t index) {
    std::vector<cell_pos_t> at = layout(text, wrap_width);
    int32_t i = std::clamp(index, 1, static_cast<int32_t>(at.size())) - 1;
    return at[static_cast<size_t>(i)];
}

int32_t offset_to_caret(std::u32string_view text, int32_t wrap_width, int32_t col, int32_t line,
                        bool char_mode) {
    std::vector<cell_pos_t> at = layout(text, wrap_width);
    int32_t last_line = at.back().line;
    line = std::clamp(line, 0, last_line);
    int32_t found = -1;
    for (size_t i = 0; i + 1 < at.size(); ++i) {
        if (at[i].line != line) continue;
        int32_t w = text[i] == U'\n' ? 0 : char_width(text[i]);
        if (col < at[i].col + std::max(w, 1)) {
            found = static_cast<int32_t>(i);
            break;
        }
        found = static_cast<int32_t>(i) + 1;  // past this one
        if (text[i] == U'\n') {
            found = static_cast<int32_t>(i);
            break;
        }
    }
    if (found < 0) found = static_cast<int32_t>(at.size()) - 1;
    int32_t index = found + 1;
    if (char_mode && found > 0 && static_cast<size_t>(found) < at.size() &&
        at[found].line == line && col == at[found].col && index > 1 && at[found - 1].line == line)
        --index;
    return index;
}

cell_t* push_text_box_metrics(const cell_t* face, const cell_t* argument, int32_t kind) {
    const cell_t* text = face_facet(face, facet::TEXT);
    if (text == nullptr || type_of(text) != TYPE_string) return none::push();
    std::u32string s = text_of(text);
    int32_t wrap = 0;
    const cell_t* size = face_facet(face, facet::SIZE);
    if (type_of(size) == TYPE_pair) wrap = pair::get_x(size);
    if (type_of(size) == TYPE_point2d) wrap = static_cast<int32_t>(point2d::get_x(size));
    int32_t px = 0, py = 0;
    if (type_of(argument) == TYPE_pair) {
        px = pair::get_x(argument);
        py = pair::get_y(argument);
    } else if (type_of(argument) == TYPE_point2d) {
        px = static_cast<int32_t>(point2d::get_x(argument));
        py = static_cast<int32_t>(point2d::get_y(argument));
    }
    int32_t index = type_of(argument) == TYPE_integer ? integer::get(argument) : 1;
    cell_t out{};
    switch (kind) {
    case metric::CARET_TO_OFFSET:
    case metric::CARET_TO_OFFSET_LOWER: {
        cell_pos_t p = caret_to_offset(s, wrap, index);
        if (kind == metric::CARET_TO_OFFSET_LOWER) ++p.line;
        point2d::make_at(&out, static_cast<float>(p.col), static_cast<float>(p.line));
        break;
    }
    case metric::OFFSET_TO_CARET:
    case metric::OFFSET_TO_CHAR:
        integer::make_at(&out, offset_to_caret(s, wrap, px, py, kind == metric::OFFSET_TO_CHAR));
        break;
    case metric::LINE_HEIGHT: float_::make_at(&out, 1.0); break;
    case metric::SIZE: {
        text_measure_t m = wrap_columns(s, wrap);
        point2d::make_at(&out, static_cast<float>(m.widest), static_cast<float>(m.lines));
        break;
    }
    case metric::LINE_COUNT: integer::make_at(&out, wrap_columns(s, wrap).lines); break;
    default: return none::push();
    }
    return stack::push(&out);
}

}  // namespace zuv::tui
