#include "runtime/array.h"

#include <cstring>

namespace zuv::array {

node_t make(int32_t capacity, int32_t element_size) {
    node_t node = alloc::alloc_bytes(static_cast<int64_t>(capacity) * element_size);
    series_buffer_t* s = alloc::buffer(node);
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | static_cast<uint32_t>(element_size);
    return node;
}

int32_t length_q(node_t array) {
    series_buffer_t* s = alloc::buffer(array);
    return s->used() / static_cast<int32_t>(s->unit());
}

void clear(node_t array) {
    series_buffer_t* s = alloc::buffer(array);
    s->tail = s->head;
}

void truncate_at(node_t array, int32_t n) {
    series_buffer_t* s = alloc::buffer(array);
    s->tail = s->head + (n - 1) * static_cast<int32_t>(s->unit());
}

node_t copy(node_t array) { return alloc::copy_series(alloc::buffer(array)); }

uint32_t get_flags(node_t array) { return alloc::buffer(array)->flags; }

void append_byte(node_t array, uint8_t byte) {
    *alloc::alloc_tail_unit(alloc::buffer(array), 1) = byte;
}

void append_bytes(node_t array, const uint8_t* source, int32_t n) {
    uint8_t* p = alloc::alloc_tail_unit(alloc::buffer(array), n);
    std::memcpy(p, source, static_cast<size_t>(n));
}

uint8_t pick_byte(node_t array, int32_t index) {
    return alloc::buffer(array)->head_ptr()[index - 1];
}

void append_int(node_t array, int32_t value) {
    uint8_t* p = alloc::alloc_tail_unit(alloc::buffer(array), 4);
    std::memcpy(p, &value, 4);
}

int32_t pick_int(node_t array, int32_t index) {
    int32_t v;
    std::memcpy(&v, alloc::buffer(array)->head_ptr() + (index - 1) * 4, 4);
    return v;
}

int32_t find_int(node_t array, int32_t value) {
    series_buffer_t* s = alloc::buffer(array);
    for (int32_t offset = 0; offset + 4 <= s->used(); offset += 4) {
        int32_t v;
        std::memcpy(&v, s->head_ptr() + offset, 4);
        if (v == value) return offset;
    }
    return -1;
}

void insert_int(node_t array, int32_t value, int32_t index) {
    series_buffer_t* s = alloc::buffer(array);
    if (s->size - s->tail < 4) s = alloc::expand_series_copy(s, 0);
    uint8_t* at = s->head_ptr() + index * 4;
    std::memmove(at + 4, at, static_cast<size_t>(s->tail_ptr() - at));
    std::memcpy(at, &value, 4);
    s->tail += 4;
}

void remove_pointer(node_t array, uint32_t value) {
    int32_t offset = find_pointer(array, value);
    if (offset >= 0) remove_at(array, offset, 4);
}

void remove_at(node_t array, int32_t offset, int32_t count) {
    series_buffer_t* s = alloc::buffer(array);
    uint8_t* at = s->head_ptr() + offset;
    std::memmove(at, at + count, static_cast<size_t>(s->tail_ptr() - (at + count)));
    s->tail -= count;
}

}  // namespace zuv::array
