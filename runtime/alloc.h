// The memory manager.
//
// All series storage (the cells of blocks and contexts, the units of strings
// and binaries, hash-table records) lives in series buffers carved out of
// large frames taken from the system. A value never holds a buffer address:
// it holds a node, a 32-bit handle whose slot holds the address, and every
// buffer records its node. The compacting collector moves buffers and
// rewrites only the slots.
//
// Therefore: ANY allocation may run the collector and move ANY buffer. Code
// that holds a buffer address across a call that allocates must read it
// again through the node afterwards (alloc::buffer). Values that must
// survive an allocation live in rooted places (the argument stack, a
// reachable block or context, a root guard), never only in C++ variables.
//
// Layout. A buffer is a 20-byte header (flags, node, size, head, tail) and
// its data; head and tail are byte offsets from the data start, so moving a
// buffer never touches them. Buffers in series frames and big frames are
// followed by 4 spare bytes, so one takes 20 + size + 4 bytes. Node handles
// index one reserved table of slots, carved into frames of 10,000; handles
// never change, node frames are never evacuated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "runtime/cell.h"

namespace zuv {

namespace series_flag {
constexpr uint32_t UNIT_MASK = 0x1F;
constexpr uint32_t OWNED = 1u << 17;
// A bitset! whose set is complemented (datatypes/bitset.h).
constexpr uint32_t BITSET_INVERTED = 1u << 19;
constexpr uint32_t FIXED = 1u << 20;
// Library code (runtime/library_code.h).
constexpr uint32_t LIBRARY = 1u << 21;
// A block that an interpreter plan was built from (runtime/stamp.h).
constexpr uint32_t PLANNED = 1u << 26;
// A context series whose values follow its two cells (its head is past them).
constexpr uint32_t CONTEXT_VALUES = 1u << 23;
constexpr uint32_t BIG = 1u << 24;
constexpr uint32_t MARK = 1u << 27;
constexpr uint32_t HEAD_MIDDLE = 1u << 28;
constexpr uint32_t NEW = 1u << 29;
constexpr uint32_t ACTIVE = 1u << 31;

// Each flag has bits of its own: two sharing a bit would read each other's state.
constexpr bool disjoint(std::initializer_list<uint32_t> flags) {
    uint32_t seen = 0;
    for (uint32_t f : flags) {
        if (seen & f) return false;
        seen |= f;
    }
    return true;
}
static_assert(disjoint({UNIT_MASK, OWNED, BITSET_INVERTED, FIXED, LIBRARY, CONTEXT_VALUES, BIG,
                        PLANNED, MARK, HEAD_MIDDLE, NEW, ACTIVE}),
              "two series flags share a bit");
}  // namespace series_flag

struct series_buffer_t {
    uint32_t flags;
    node_t node;  // 0 once the buffer has been abandoned
    int32_t size;  // bytes of data, a multiple of 16
    int32_t head;  // byte offsets from the data start
    int32_t tail;

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + sizeof(series_buffer_t); }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    cell_t* head_cell() { return reinterpret_cast<cell_t*>(head_ptr()); }
    cell_t* tail_cell() { return reinterpret_cast<cell_t*>(tail_ptr()); }
    uint32_t unit() const { return flags & series_flag::UNIT_MASK; }
    int32_t used() const { return tail - head; }
};
static_assert(sizeof(series_buffer_t) == 20, "the buffer header is five 32-bit words");

struct node_frame_t {
    node_frame_t* next;
    node_frame_t* prev;
    int32_t capacity;
    node_t free_head;  // first free handle, 0 when the frame is full
    int32_t used;
    uint32_t cycle_at_creation;
    int32_t used_at_last_cycle;
    uint32_t history;  // one bit per collection: 1 when the used count stayed
    bool evacuate;
    uint32_t first;  // the frame's first handle
};

struct series_frame_t {
    series_frame_t* next;
    series_frame_t* prev;
    size_t size;  // the whole block, header included
    uint8_t* heap;  // next free byte
    uint8_t* end;  // one past the last byte
    uint8_t* area() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct big_frame_t {
    big_frame_t* next;
    uint32_t zero;
    size_t size;  // the request in bytes
    series_buffer_t* buffer() { return reinterpret_cast<series_buffer_t*>(this + 1); }
};

struct memory_state_t {
    size_t total;  // bytes currently taken from the system
    node_frame_t* n_head;
    node_frame_t* n_tail;
    node_frame_t* n_active;
    series_frame_t* s_head;
    series_frame_t* s_active;
    series_frame_t* s_tail;
    size_t s_start;  // first series frame size (1 MB)
    size_t s_size;  // size of the next series frame
    size_t s_max;  // largest series frame (2 MB); buffers from here on get big frames
    big_frame_t* b_head;
    // Empty series frames kept for reuse (linked by next), and their bytes
    // (part of total).
    series_frame_t* s_spare;
    size_t spare_bytes;
};

namespace alloc {

constexpr int NODES_PER_FRAME = 10000;
constexpr size_t SERIES_FRAME_START = 1024 * 1024;
constexpr size_t SERIES_FRAME_MAX = 2 * 1024 * 1024;
// After a collection a frame with less room than this is not worth filling.
constexpr size_t FRAME_FLOOR = 52428;
// Series stay below 2^31 bytes so that every offset fits a signed word.
constexpr uint64_t SERIES_LIMIT = 0x7FFFFFF0u;
constexpr uint32_t BUFFER_OVERHEAD = sizeof(series_buffer_t) + 4;

extern memory_state_t memory;
extern uintptr_t* node_table;  // slot per handle: a buffer, or the next free handle

inline series_buffer_t* buffer(node_t node) {
    return reinterpret_cast<series_buffer_t*>(node_table[node]);
}

// A free slot holds the next free handle shifted left, with bit 0 set; buffer
// addresses are aligned, so bit 0 tells the two apart whatever addresses the
// system hands out. A slot just taken and not yet linked holds 0.
inline uintptr_t free_slot(node_t next) { return (uintptr_t{next} << 1) | 1; }
inline node_t free_slot_next(uintptr_t slot) { return static_cast<node_t>(slot >> 1); }
inline bool live_slot_q(uintptr_t slot) { return slot != 0 && (slot & 1) == 0; }

void init();
void free_all();

void* os_allocate(size_t size, bool executable = false);
void os_free(void* block);

void new_node_frame(int count);
void free_node_frame(node_frame_t* frame);
node_frame_t* frame_of(node_t node);
node_t alloc_node();
void free_node(node_frame_t* frame, node_t node);

void new_series_frame();
void free_series_frame(series_frame_t* frame);
// Takes an empty frame out of use and keeps it for the next frame needed.
void keep_series_frame(series_frame_t* frame);
// Bytes taken from the system that hold series or nodes (total less the
// spare frames).
inline size_t in_use() { return memory.total - memory.spare_bytes; }
// Gives spare series frames and empty node frames back to the system until
// total is at most limit (or none is left).
void release_spares(size_t limit);
series_frame_t* find_room(size_t bytes);

series_buffer_t* alloc_buffer(int64_t units, int32_t unit, int32_t head_offset);
node_t alloc_series(int64_t units, int32_t unit, int32_t head_offset);
node_t alloc_fixed_series(int64_t units, int32_t unit, int32_t head_offset);
node_t alloc_cells(int64_t count);
node_t alloc_unset_cells(int64_t count);
node_t alloc_bytes(int64_t count);
node_t alloc_units(int64_t count, int32_t unit);
node_t alloc_bytes_filled(int64_t count, uint8_t byte);
void set_flag(node_t node, uint32_t bits);

series_buffer_t* expand_series(series_buffer_t* s, int64_t new_size);
series_buffer_t* expand_series_copy(series_buffer_t* s, int64_t new_size);
series_buffer_t* expand_series_filled(series_buffer_t* s, int64_t new_size, uint8_t byte);
node_t copy_series(series_buffer_t* s);
node_t copy_string_part(node_t node, int32_t start, int32_t count);

// Reserving room at the tail. Both return addresses inside the (possibly
// new) buffer, valid until the next allocation.
cell_t* alloc_tail(series_buffer_t* s);
cell_t* alloc_tail_value(cell_t* block);
uint8_t* alloc_tail_unit(series_buffer_t* s, int32_t bytes);

void fill(uint8_t* start, uint8_t* end, uint8_t byte);
inline uint64_t round_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

series_buffer_t* new_big_frame(size_t total);

// Epilogues of a collection.
void sweep_big_frames();
// Frames whose nodes are all free stay for reuse (release_spares frees them).
void release_node_frames();

// How many nodes are in use in all node frames.
int64_t nodes_in_use();

}  // namespace alloc
}  // namespace zuv
