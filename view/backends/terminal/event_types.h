// Event types: the one table between event type codes (1-38, what an
// event! cell and the backend's event records hold) and their words (what
// scripts see in event/type and what actors are named after).
//
// Words are compared by their canonical symbol, so a type word in any case
// finds its code. Code 0 (a scripted event made without a type) has no word.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::tui {

namespace event_type {
#define ZUV_EVENT_TYPE(code, ident, text) constexpr int32_t ident = code;
#include "view/backends/terminal/event_types.def"
#undef ZUV_EVENT_TYPE
}  // namespace event_type

constexpr int32_t EVENT_TYPE_COUNT = 0
#define ZUV_EVENT_TYPE(code, ident, text) +1
#include "view/backends/terminal/event_types.def"
#undef ZUV_EVENT_TYPE
    ;

// The word's text for a code, nullptr outside 1..EVENT_TYPE_COUNT.
const char* event_type_text(int32_t code);

// Pushes the type word of a code, none for a code without a word.
cell_t* push_event_type_word(int32_t code);

// The code of a type word (any word kind); a word that names no type raises
// not-event-type with the word.
int32_t event_type_code(const cell_t* word);

}  // namespace zuv::tui
