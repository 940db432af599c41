// The backend's readers of event fields.
//
// event! (datatypes/event.h) answers the fields a scripted event holds in
// itself (face, window, offset, key, picked, orientation) and hands every
// other field, and all fields of backend events, to push_event_field. A
// backend event's record block holds face, offset, an integer datum (the key
// code of key events, the picked value otherwise) and a float datum (the
// wheel delta).
#pragma once

#include <cstdint>

#include "datatypes/event.h"
#include "runtime/cell.h"

namespace zuv::tui {

// Pushes the value of field index (1..15) of an event.
cell_t* push_event_field(const cell_t* event, int32_t index);

namespace routines {
// send-event-os event queued?: a terminal has no window system to post
// events to, so nothing is delivered and the answer is false.
void send_event_os();
}  // namespace routines

}  // namespace zuv::tui
