// A library runtime drawing into an 80x24 cell screen, with the window a
// test made taken down after it.
#pragma once

#include "datatypes/none.h"
#include "tests/unit/library_fixture.h"
#include "view/backends/terminal/output.h"
#include "view/backends/terminal/widget_tree.h"

namespace zuv::tui::test {

class ScreenLibrary : public testing::Library {
protected:
    void SetUp() override {
        Library::SetUp();
        screen().term_width = 80;
        screen().term_height = 24;
    }
    void TearDown() override {
        if (type_of(&window) == TYPE_object) destroy_widget(&window);
        window = none_value;
    }

    cell_t window = none_value;
};

}  // namespace zuv::tui::test
