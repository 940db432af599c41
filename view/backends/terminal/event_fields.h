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

struct flag_word_t {
    const char* text;
    uint32_t bit;
};

// The flag words of an event's `flags` field, in the order that field lists
// them; `make event!` accepts the same words (and `command`).
constexpr flag_word_t flag_words[] = {
    {"away", event::flag::AWAY},         {"down", event::flag::DOWN},
    {"mid-down", event::flag::MID_DOWN}, {"alt-down", event::flag::ALT_DOWN},
    {"aux-down", event::flag::AUX_DOWN}, {"control", event::flag::CONTROL},
    {"shift", event::flag::SHIFT},       {"alt", event::flag::ALT},
};

// Pushes the value of field index (1..15) of an event.
cell_t* push_event_field(const cell_t* event, int32_t index);

namespace routines {
// send-event-os event queued?: a terminal has no window system to post
// events to, so nothing is delivered and the answer is false.
void send_event_os();
}  // namespace routines

}  // namespace zuv::tui
