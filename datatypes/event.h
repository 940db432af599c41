// event!: one user-interface event (a key press, a click, a window closing)
// as the View engine hands it to actors and event functions.
//
// The cell: word 1 the event type code (view/backends/terminal/event_types.h;
// 0 for a scripted event made without a type), word 2 a node or 0, word 3
// the flag bits. Two kinds share it:
// - scripted events, made by `make event! spec`, carry the header flag
//   SCRIPTED; word 2 is a block of the extra fields (face, window, offset,
//   picked) or 0 when the spec gave none of them; word 3 holds the key's
//   code point in bits 0-20 besides the flags.
// - backend events, made by the event loop, point word 2 at a record block
//   (face, offset, integer datum, float datum) filled at dispatch. The record
//   is a collected block, not memory the loop owns, so an event a handler
//   keeps (`last: event`) stays readable after the handler returns and its
//   widget is gone.
// Word 2 is always a node and the collector marks it for every event.
//
// Fields, in index order (paths and pick): type face window offset key
// picked flags away? down? mid-down? alt-down? aux-down? ctrl? shift?
// orientation.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::event {

// Header flag of a scripted event.
constexpr uint32_t SCRIPTED = 0x1000;

// Flag bits of word 3.
namespace flag {
constexpr uint32_t SPECIAL_KEY = 0x1;  // backend: the datum is a special key code
constexpr uint32_t AUX_DOWN = 0x400000, ALT_DOWN = 0x800000, MID_DOWN = 0x1000000, DOWN = 0x2000000,
                   AWAY = 0x4000000, CONTROL = 0x10000000, SHIFT = 0x20000000, ALT = 0x40000000,
                   COMMAND = 0x80000000;
}  // namespace flag

// The key's code point in word 3 of a scripted event (flags start at bit 22).
constexpr uint32_t KEY_MASK = 0x1FFFFF;

// Cells of a scripted event's extra-field block.
namespace extra {
constexpr int32_t FACE = 0, WINDOW = 1, OFFSET = 2, PICKED = 3, COUNT = 4;
}
// Cells of a backend event's record block.
namespace record {
constexpr int32_t FACE = 0, OFFSET = 1, DATUM = 2, FLOAT_DATUM = 3, COUNT = 4;
}

// Field numbers (paths and pick).
namespace field {
constexpr int32_t TYPE = 1, FACE = 2, WINDOW = 3, OFFSET = 4, KEY = 5, PICKED = 6, FLAGS = 7,
                  AWAY_Q = 8, DOWN_Q = 9, MID_DOWN_Q = 10, ALT_DOWN_Q = 11, AUX_DOWN_Q = 12,
                  CTRL_Q = 13, SHIFT_Q = 14, ORIENTATION = 15, COUNT = 15;
}

struct flag_word_t {
    const char* text;
    uint32_t bit;
};

// The flag words of an event's `flags` field, in the order that field lists
// them; `make event!` accepts the same words (and `command`).
constexpr flag_word_t flag_words[] = {
    {"away", flag::AWAY},         {"down", flag::DOWN},         {"mid-down", flag::MID_DOWN},
    {"alt-down", flag::ALT_DOWN}, {"aux-down", flag::AUX_DOWN}, {"control", flag::CONTROL},
    {"shift", flag::SHIFT},       {"alt", flag::ALT},
};

// The backend's readers of what a backend event holds: every field but the
// ones a scripted event holds in itself, and the code of a type word. The
// UI (view/backends/terminal/event_fields.h and event_types.h), which sits
// above the datatypes, installs them at start-up.
struct backend_t {
    cell_t* (*push_field)(const cell_t* event, int32_t index);
    int32_t (*type_code_of)(const cell_t* word);
};
extern backend_t backend;

inline bool scripted_q(const cell_t* c) { return (c->header & SCRIPTED) != 0; }
inline int32_t type_code(const cell_t* c) { return static_cast<int32_t>(c->data1); }

// The field number of a word (canonical symbol); an unknown word raises
// cannot-use with the word and value when value is an event!, else gives -1.
int32_t field_index(const cell_t* word, const cell_t* value);
// Pushes the value of a field (1..15) on the argument stack.
cell_t* get_field(const cell_t* event, int32_t index);
// The bit of a flag word of `make` (away down ... command), 0 for others.
uint32_t flag_bit(const cell_t* word);
// Pushes a copy of an event.
cell_t* push(const cell_t* event);
// Pushes a backend event whose record holds face, offset and the two data.
// face and offset are copied before anything is allocated.
cell_t* push_backend(int32_t type_code, uint32_t flags, const cell_t* face, const cell_t* offset,
                     int32_t datum, double float_datum);

// --- action entries ---
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
int32_t compare(cell_t* value1, cell_t* value2, int32_t op);
cell_t* pick(cell_t* value, int32_t index, cell_t* index_cell);

// Registers event! (after every other datatype, from the library's top level).
void init();

}  // namespace zuv::event
