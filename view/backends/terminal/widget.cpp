#include "view/backends/terminal/widget.h"

#include <memory>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace zuv::tui {

namespace {

// A handle value: the slot in the low bits, the slot's generation above.
constexpr uint32_t SLOT_BITS = 20;
constexpr uint32_t SLOT_MASK = (1u << SLOT_BITS) - 1;

struct slot_t {
    std::unique_ptr<widget_t> widget;
    uint32_t generation = 1;
};

std::vector<slot_t> slots;
std::vector<uint32_t> free_slots;
bool marker_added = false;

void mark_widgets() {
    for (const slot_t& s : slots) {
        if (!s.widget) continue;
        collector::mark_values(&s.widget->label, &s.widget->label + 1);
        collector::mark_values(&s.widget->face, &s.widget->face + 1);
        collector::mark_values(&s.widget->last_data, &s.widget->last_data + 1);
    }
}

}  // namespace

widget_t* new_widget() {
    if (!marker_added) {
        marker_added = true;
        collector::add_marker(mark_widgets);
    }
    uint32_t index;
    if (!free_slots.empty()) {
        index = free_slots.back();
        free_slots.pop_back();
    } else {
        index = static_cast<uint32_t>(slots.size());
        slots.emplace_back();
    }
    slot_t& s = slots[index];
    s.widget = std::make_unique<widget_t>();
    widget_t* w = s.widget.get();
    w->label = none_value;
    w->face = none_value;
    w->last_data = none_value;
    w->handle = index | (s.generation << SLOT_BITS);
    return w;
}

void free_widget(widget_t* w) {
    if (w == nullptr) return;
    uint32_t index = w->handle & SLOT_MASK;
    if (index >= slots.size() || slots[index].widget.get() != w) return;
    slot_t& s = slots[index];
    s.widget.reset();
    // Generations wrap within the bits left above the slot; 0 is never used,
    // so no handle value is 0.
    s.generation = (s.generation + 1) & ((1u << (32 - SLOT_BITS)) - 1);
    if (s.generation == 0) s.generation = 1;
    free_slots.push_back(index);
}

widget_t* widget_of_handle(uint32_t value) {
    uint32_t index = value & SLOT_MASK;
    if (index >= slots.size()) return nullptr;
    const slot_t& s = slots[index];
    if (!s.widget || s.widget->handle != value) return nullptr;
    return s.widget.get();
}

cell_t* face_facet(const cell_t* face, int32_t index) {
    if (type_of(face) != TYPE_object || index >= object::word_count(face)) return nullptr;
    return object::get_values(face) + index;
}

widget_t* face_handle_q(const cell_t* face) {
    cell_t* state = face_facet(face, facet::STATE);
    if (state == nullptr || type_of(state) != TYPE_block || block::rs_length_q(state) < 1)
        return nullptr;
    cell_t b = *state;
    const cell_t* first = block::rs_head(&b);
    if (type_of(first) != TYPE_handle || handle::kind_of(first) != handle::kind::WINDOW)
        return nullptr;
    return widget_of_handle(handle::value_of(first));
}

namespace routines {

void focused_q() {
    cell_t* a = stack::arguments;
    widget_t* w = face_handle_q(a);
    logic::make_at(a, w != nullptr && (w->flags & widget_flag::FOCUSED) != 0);
}

void widget_data() {
    cell_t* a = stack::arguments;
    widget_t* w = face_handle_q(a);
    integer::make_at(a, w != nullptr ? static_cast<int32_t>(w->kind_data) : 0);
}

void set_face_ui() {
    cell_t* a = stack::arguments;
    if (widget_t* w = face_handle_q(a)) copy_cell(a + 1, &w->label);
    stack::set_last(&unset_value);
}

}  // namespace routines

}  // namespace zuv::tui
