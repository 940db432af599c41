#include "view/backends/terminal/rich_text.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/widget.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {

namespace {

int32_t sym(const char* text) { return symbol::resolve(symbol::make(text)); }

uint32_t tuple_colour(const cell_t* t) {
    return rgb_to_256(tuple_rgb(tuple::bytes_of(t), static_cast<size_t>(tuple::length_of(t))));
}

}  // namespace

void apply_text_styles(std::vector<tui_cell_t>& runs, const cell_t* styles) {
    if (type_of(styles) != TYPE_block) return;
    cell_t b = *styles;
    int32_t n = block::rs_length_q(&b);
    const cell_t* at = block::rs_head(&b);
    int64_t count = static_cast<int64_t>(runs.size());
    int64_t from = 0, to = 0;  // the current range, [from, to)
    auto each = [&](auto&& change) {
        for (int64_t i = from; i < to; ++i) change(runs[static_cast<size_t>(i)]);
    };
    const int32_t bold = sym("bold"), italic = sym("italic"), underline = sym("underline"),
                  strike = sym("strike"), backdrop = sym("backdrop");
    for (int32_t i = 0; i < n; ++i) {
        const cell_t* v = at + i;
        switch (type_of(v)) {
        case TYPE_pair: {
            int64_t start = static_cast<int64_t>(pair::get_x(v)) - 1;
            int64_t length = pair::get_y(v);
            from = std::clamp<int64_t>(start, 0, count);
            to = std::clamp<int64_t>(start + std::max<int64_t>(length, 0), from, count);
            break;
        }
        case TYPE_tuple: {
            uint32_t fg = tuple_colour(v);
            each([&](tui_cell_t& c) { c.fg = fg; });
            break;
        }
        case TYPE_word: {
            int32_t w = symbol_of_word(v);
            uint32_t bit = w == bold        ? attr::BOLD
                           : w == italic    ? attr::ITALIC
                           : w == underline ? attr::UNDERLINE
                           : w == strike    ? attr::STRIKE
                                            : 0;
            if (bit != 0) {
                each([&](tui_cell_t& c) { c.attrs |= bit; });
                if (bit == attr::UNDERLINE || bit == attr::STRIKE) {
                    if (i + 1 < n && type_of(at + i + 1) == TYPE_tuple) ++i;
                    if (i + 1 < n && type_of(at + i + 1) == TYPE_lit_word) ++i;
                }
            } else if (w == backdrop && i + 1 < n && type_of(at + i + 1) == TYPE_tuple) {
                uint32_t bg = tuple_colour(at + ++i);
                each([&](tui_cell_t& c) { c.bg = bg; });
            }
            break;
        }
        default: break;  // border, font names and sizes: nothing to show
        }
    }
}

void layout_styled_text(std::vector<tui_cell_t>& runs, const cell_t* face) {
    runs.clear();
    const cell_t* text = face_facet(face, facet::TEXT);
    const cell_t* data = face_facet(face, facet::DATA);
    if (text == nullptr || type_of(text) != TYPE_string || string::rs_length_q(text) == 0) return;
    if (data == nullptr || type_of(data) != TYPE_block) return;
    uint32_t bg = 0;
    const cell_t* color = face_facet(face, facet::COLOR);
    if (type_of(color) == TYPE_tuple &&
        (tuple::length_of(color) == 3 || tuple::bytes_of(color)[3] != 0xFF))
        bg = tuple_colour(color);
    for (char32_t c : text_of(text)) runs.push_back(tui_cell_t{static_cast<int32_t>(c), bg, 0, 0});
    apply_text_styles(runs, data);
}

}  // namespace zuv::tui
