// Face flags: the `flags` facet of a face is none, a flag word, or a block
// of flag words (lit-words count too).
#pragma once

#include "runtime/cell.h"

namespace zuv::tui {

// Whether flags is the flag word, or a block holding it as a word or
// lit-word; false for any other value. Words compare by canonical symbol.
bool find_flag_q(const cell_t* flags, const cell_t* flag);

namespace routines {
// find-flag? flags flag: the routine over find_flag_q.
void find_flag_q();
}  // namespace routines

}  // namespace zuv::tui
