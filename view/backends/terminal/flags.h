// Face flags: the `flags` facet of a face is none, a flag word, or a block
// of flag words (lit-words count too).
#pragma once

#include "runtime/cell.h"

namespace zuv::tui {

// Whether flags is the flag word, or a block holding it as a word or
// lit-word; false for any other value. Words compare by canonical symbol.
bool find_flag_q(const cell_t* flags, const cell_t* flag);

// Bits of the face flag words (`gui/get-flags`): a word or a block of
// words; unknown words and other values add nothing.
namespace face_flag {
constexpr uint32_t ALL_OVER = 0x1, FOCUSABLE = 0x2, TRI_STATE = 0x20000, SCROLLABLE = 0x40000,
                   PASSWORD = 0x80000, NO_SYNC = 0x100000, FULLSCREEN = 0x200000, POPUP = 0x1000000,
                   MODAL = 0x2000000, RESIZE = 0x4000000, NO_BUTTONS = 0x8000000,
                   NO_MAX = 0x10000000, NO_MIN = 0x20000000, NO_TITLE = 0x40000000,
                   NO_BORDER = 0x80000000;
}
uint32_t face_flag_bits(const cell_t* flags);

namespace routines {
// find-flag? flags flag: the routine over find_flag_q.
void find_flag_q();
}  // namespace routines

}  // namespace zuv::tui
