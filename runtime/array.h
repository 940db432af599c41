// Growable arrays of bytes or 32-bit values, kept in ordinary series buffers
// so that they live in the managed heap: the hash tables keep their index
// arrays here, the terminal UI its widget lists. The buffer's unit bits hold
// the element size. Positions are 1-based element indexes unless a byte
// offset is named; no operation checks its index.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"

namespace zuv::array {

node_t make(int32_t capacity, int32_t element_size);
int32_t length_q(node_t array);
void clear(node_t array);
void truncate_at(node_t array, int32_t n);  // keeps the first n - 1 elements
node_t copy(node_t array);
uint32_t get_flags(node_t array);

void append_byte(node_t array, uint8_t byte);
void append_bytes(node_t array, const uint8_t* source, int32_t n);
uint8_t pick_byte(node_t array, int32_t index);

void append_int(node_t array, int32_t value);
int32_t pick_int(node_t array, int32_t index);
int32_t find_int(node_t array, int32_t value);  // byte offset, or -1
void insert_int(node_t array, int32_t value, int32_t index);  // before the 0-based index

// "Pointers" are 32-bit handles here (nodes, table indexes), never addresses.
inline void append_pointer(node_t array, uint32_t value) {
    append_int(array, static_cast<int32_t>(value));
}
inline uint32_t pick_pointer(node_t array, int32_t index) {
    return static_cast<uint32_t>(pick_int(array, index));
}
inline int32_t find_pointer(node_t array, uint32_t value) {
    return find_int(array, static_cast<int32_t>(value));
}
void remove_pointer(node_t array, uint32_t value);

void remove_at(node_t array, int32_t offset, int32_t count);

}  // namespace zuv::array
