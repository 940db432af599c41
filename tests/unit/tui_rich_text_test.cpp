// Rich text laid out by VID from the dialect, drawn into the cell screen.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "tests/unit/library_fixture.h"
#include "tests/unit/tui_rows.h"
#include "tests/unit/tui_screen_fixture.h"
#include "view/backends/terminal/colour.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui {
namespace {

using test::row_text;

class TuiRichText : public test::ScreenLibrary {
protected:
    // The window a layout block gives, with the widgets of its pane.
    void show_layout(const char* vid) {
        window = eval((std::string("win: layout ") + vid).c_str());
        widget_t* w = make_view(&window, nullptr);
        for (int32_t i = 0;; ++i) {
            cell_t pane = *face_facet(&window, facet::PANE);
            if (type_of(&pane) != TYPE_block || i >= block::rs_length_q(&pane)) break;
            cell_t child = *(block::rs_head(&pane) + i);
            make_view(&child, w);
        }
    }
};

TEST_F(TuiRichText, RunsFromTheDialect) {
    show_layout(R"([r: rich-text 10x1 data [b ["bold"] 255.0.0 ["warm"]]])");
    draw_active_window();
    // The layout puts the face one cell in from the window's corner.
    EXPECT_EQ(row_text(screen(), 1).substr(1, 8), U"boldwarm");
    const uint32_t red = colour_word(colour_kind::INDEXED, 196);
    for (int32_t x = 1; x < 5; ++x) {
        EXPECT_EQ(screen().at(x, 1)->attrs & attr::BOLD, attr::BOLD) << x;
        EXPECT_NE(screen().at(x, 1)->fg, red) << x;
    }
    for (int32_t x = 5; x < 9; ++x) {
        EXPECT_EQ(screen().at(x, 1)->attrs & attr::BOLD, 0u) << x;
        EXPECT_EQ(screen().at(x, 1)->fg, red) << x;
    }
}

}  // namespace
}  // namespace zuv::tui
