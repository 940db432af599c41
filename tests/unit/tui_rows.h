// The cell screen's rows as text, for comparing what widgets drew.
#pragma once

#include <string>

#include "view/backends/terminal/screen.h"

namespace zuv::tui::test {

// A space for 0, "~" for a wide character's tail.
inline std::u32string row_text(const screen_t& s, int32_t y) {
    std::u32string out;
    for (int32_t x = 0; x < s.width(); ++x) {
        const tui_cell_t* c = s.at(x, y);
        out += (c->attrs & attr::WIDE_TAIL) ? U'~' : c->code == 0 ? U' ' : char32_t(c->code);
    }
    return out;
}

}  // namespace zuv::tui::test
