// Things outside the value graph that values refer to.
//
// External resources: operating-system objects (the bitmap behind an image!,
// handles) recorded with the kind that knows how to release them. The
// collector marks the entries that live values reach and sweeps the rest:
// an unmarked entry is released through its kind's callback exactly once and
// its index goes back to the free list. A handle! keeps an entry's index in
// its third data word. Indexes stay valid for the entry's life; the entry
// array grows before its last free entry is handed out, so add never fails.
//
// External cell slots (ext_slots): cells that hold values on behalf of code
// outside the language, addressed by small numbers from 1 (0 is no slot).
// They live in one block that the collector marks.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv {

struct external_entry_t {
    uint32_t flags;  // bits 0-7 kind index (1-based, 0 none); FREE; MARK
    int32_t next;  // next entry of the free or the live list; -1 ends both
    uintptr_t object;  // the external object; 0 in a free entry
};

namespace externals {

constexpr uint32_t KIND_MASK = 0xFFu;
constexpr uint32_t FREE = 1u << 30;
constexpr uint32_t MARK = 1u << 31;
constexpr int32_t MAX_KINDS = 20;
constexpr int32_t INITIAL_ENTRIES = 1000;

using release_fn = void (*)(uintptr_t object);

void init();
// Returns the 1-based kind index.
int32_t register_kind(uint32_t flags, release_fn release);
// Records an object of a kind; returns its entry index.
int32_t add(uintptr_t object, uint32_t kind);
// Calls the kind's release callback (when it has one) on the object.
void release(uint32_t flags, uintptr_t object);
void remove(int32_t index, bool release_first);
// Marks the entry (and refreshes its object when object is not 0); true when
// it was not marked before.
bool mark(int32_t index, uintptr_t object);
// Releases and frees every unmarked live entry, unmarks the others.
void sweep();

external_entry_t* entry(int32_t index);
int32_t capacity();
int32_t live_count();

}  // namespace externals

namespace ext_slots {

constexpr int32_t INITIAL_SLOTS = 100;

void init();
void chain(int32_t first);
// Stores a copy of the value in a free slot; returns its number (from 1).
int32_t alloc(const cell_t* value);
// The slot's cell; valid until the next allocation.
cell_t* get(int32_t slot);
void free(int32_t slot);
// The block cell that holds the slots (for the collector).
cell_t* block();

}  // namespace ext_slots
}  // namespace zuv
