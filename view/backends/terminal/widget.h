// Widgets: the backend's node for each face it shows. A face finds its
// widget through the handle! first in its `state` block: the handle's value
// is a slot index with the slot's generation, so a handle kept after its
// widget was destroyed finds nothing rather than a later widget in the same
// slot. The widgets' faces, labels and last data are kept alive by a marker.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "view/backends/terminal/screen.h"

namespace zuv::tui {

namespace widget_flag {
constexpr uint32_t INT_SIZE = 0x10000;
constexpr uint32_t HIDDEN = 0x20000;
constexpr uint32_t DISABLED = 0x40000;
constexpr uint32_t ALL_OVER = 0x100000;
constexpr uint32_t SHOWS_CARET = 0x200000;
constexpr uint32_t FOCUSABLE = 0x400000;
constexpr uint32_t AWAY = 0x1000000;
constexpr uint32_t FOCUSED = 0x2000000;
constexpr uint32_t PASSWORD = 0x10000000;
constexpr uint32_t FULLSCREEN = 0x40000000;
constexpr uint32_t CARET_HOLDER = 0x80000000;
}  // namespace widget_flag

// Positions of a face's facets in the face object.
namespace facet {
constexpr int32_t TYPE = 0, OFFSET = 1, SIZE = 2, TEXT = 3, IMAGE = 4, COLOR = 5, DATA = 7,
                  ENABLED = 8, VISIBLE = 9, SELECTED = 10, FLAGS = 11, OPTIONS = 12, PARENT = 13,
                  PANE = 14, STATE = 15, RATE = 16, PARA = 18, FONT = 19, EXTRA = 21, DRAW = 22;
}

struct widget_t;
struct clip_box_t;

// What a widget's own handler learns of an event.
struct widget_event_t {
    int32_t x = 0, y = 0;  // cells, relative to the widget
    int32_t datum = 0;  // the key (a code point or a negative key code)
    uint32_t flags = 0;
    double wheel = 0;  // the wheel's turn, +1 or -1
};

using widget_update_fn = void (*)(widget_t* w);
// Draws at absolute cell (x, y) within the parent's clip box.
using widget_render_fn = void (*)(int32_t x, int32_t y, widget_t* w, const clip_box_t& parent);
// Answers 0, or 2 when the event must go no further.
using widget_event_fn = int32_t (*)(int32_t type, widget_t* w, const widget_event_t& e);

struct widget_t {
    int32_t kind = 0;  // symbol of the face's type word
    uint32_t flags = 0;
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // relative to the parent
    widget_t* parent = nullptr;
    std::vector<tui_cell_t> styled;  // styled runs or image cells
    cell_t label;  // string! or none
    int64_t kind_data = 0;
    widget_update_fn update = nullptr;
    widget_render_fn render = nullptr;
    widget_event_fn handle_event = nullptr;
    cell_t face;
    cell_t last_data;
    uint32_t handle = 0;  // the value of its handle!
    // Fields: the cursor as a character index and a column, the text's
    // width in columns; editing is set while the field changes its own text.
    // scroll_col is the column of the text at the field's left edge.
    int32_t cursor_index = 0, cursor_col = 0, text_width = 0, scroll_col = 0;
    int32_t editing = 0;
    // The `draw` block (node, index) that failed: skipped until it changes.
    uint32_t bad_draw_node = 0, bad_draw_index = 0;
};

// A new widget in a free slot (none in its cells).
widget_t* new_widget();
// Frees the widget's slot; its handles find nothing afterwards.
void free_widget(widget_t* w);
// The live widget of a handle value, nullptr when it is gone.
widget_t* widget_of_handle(uint32_t value);

// The face's widget: nullptr when `state` is not a block starting with a
// window handle of a live widget.
widget_t* face_handle_q(const cell_t* face);

// The facet at index of a face object (nullptr when it has no such facet).
cell_t* face_facet(const cell_t* face, int32_t index);

namespace routines {
// The TUI-helpers routines over a face's widget.
void focused_q();  // face -> logic!
void drawn_q();  // face -> logic!: whether the terminal draws its type
void widget_data();  // face -> integer!
void set_face_ui();  // face string
}  // namespace routines

}  // namespace zuv::tui
