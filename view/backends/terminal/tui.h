// The terminal UI: the steps the print path calls around every write.
//
// When the terminal UI is drawn inline in the console, printed text must not
// land inside it: before_print clears the drawn area, after_print has it drawn
// again below the text. While no terminal UI is shown both return at once.
#pragma once

namespace zuv::tui {

void before_print();
void after_print();

}  // namespace zuv::tui
