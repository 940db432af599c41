#include "runtime/externals.h"

#include "runtime/alloc.h"
#include "runtime/lowrt.h"

namespace zuv {
namespace externals {
namespace {

struct kind_t {
    uint32_t flags;
    release_fn release;
};

kind_t kinds[MAX_KINDS];
int32_t kind_count = 0;

external_entry_t* entries = nullptr;
int32_t entry_capacity = 0;
int32_t free_head = -1;
int32_t live_head = -1;
int32_t live = 0;

// Links entries [first, last) as free, each to the next; the last one to
// tail_next.
void chain_free(int32_t first, int32_t last, int32_t tail_next) {
    for (int32_t i = first; i < last; i++) entries[i] = external_entry_t{FREE, i + 1, 0};
    entries[last - 1].next = tail_next;
}

void make_free(int32_t index) {
    entries[index] = external_entry_t{FREE, free_head, 0};
    free_head = index;
}

// Unlinks index from the live list; prev is its predecessor or -1.
void unlink(int32_t index, int32_t prev) {
    if (prev < 0) live_head = entries[index].next;
    else entries[prev].next = entries[index].next;
    live--;
}

int32_t find_prev(int32_t index) {
    int32_t prev = -1;
    for (int32_t i = live_head; i >= 0 && i != index; i = entries[i].next) prev = i;
    return prev;
}

}  // namespace

void init() {
    // Objects a runtime started before left behind go back to their kinds,
    // which are still registered, before the table is made anew.
    for (int32_t i = live_head; entries != nullptr && i >= 0; i = entries[i].next)
        release(entries[i].flags, entries[i].object);
    lowrt::release(entries);
    kind_count = 0;
    entry_capacity = INITIAL_ENTRIES;
    entries =
        static_cast<external_entry_t*>(lowrt::allocate(sizeof(external_entry_t) * entry_capacity));
    chain_free(0, entry_capacity, -1);
    free_head = 0;
    live_head = -1;
    live = 0;
}

int32_t register_kind(uint32_t flags, release_fn release) {
    if (kind_count >= MAX_KINDS) lowrt::quit(lowrt::OUT_OF_MEMORY);
    kinds[kind_count] = kind_t{flags, release};
    return ++kind_count;
}

int32_t add(uintptr_t object, uint32_t kind) {
    int32_t index = free_head;
    if (entries[index].next < 0) {
        // The last free entry is about to go: double the array first, so the
        // free list never runs dry. Indexes handed out stay valid.
        int32_t old = entry_capacity;
        entry_capacity = old * 2;
        entries = static_cast<external_entry_t*>(
            lowrt::resize(entries, sizeof(external_entry_t) * entry_capacity));
        chain_free(old, entry_capacity, -1);
        entries[index].next = old;
    }
    free_head = entries[index].next;
    entries[index] = external_entry_t{kind, live_head, object};
    live_head = index;
    live++;
    return index;
}

void release(uint32_t flags, uintptr_t object) {
    int32_t k = static_cast<int32_t>(flags & KIND_MASK);
    if (k >= 1 && k <= kind_count && kinds[k - 1].release != nullptr) kinds[k - 1].release(object);
}

void remove(int32_t index, bool release_first) {
    if (index < 0 || index >= entry_capacity || (entries[index].flags & FREE)) return;
    if (release_first) release(entries[index].flags, entries[index].object);
    unlink(index, find_prev(index));
    make_free(index);
}

bool mark(int32_t index, uintptr_t object) {
    external_entry_t& e = entries[index];
    bool fresh = (e.flags & MARK) == 0;
    e.flags |= MARK;
    if (object != 0) e.object = object;
    return fresh;
}

void sweep() {
    int32_t prev = -1;
    int32_t i = live_head;
    while (i >= 0) {
        int32_t next = entries[i].next;
        if (entries[i].flags & MARK) {
            entries[i].flags &= ~MARK;
            prev = i;
        } else {
            release(entries[i].flags, entries[i].object);
            unlink(i, prev);
            make_free(i);
        }
        i = next;
    }
}

external_entry_t* entry(int32_t index) { return &entries[index]; }
int32_t capacity() { return entry_capacity; }
int32_t live_count() { return live; }

}  // namespace externals

namespace ext_slots {
namespace {

cell_t slots{TYPE_unset, 0, 0, 0};  // the block! holding the slots
int32_t free_head = -1;

cell_t* first() { return alloc::buffer(slots.data2)->head_cell(); }
int32_t slot_capacity() { return alloc::buffer(slots.data2)->size / 16; }

}  // namespace

void init() {
    node_t node = alloc::alloc_cells(INITIAL_SLOTS);
    cell::begin(&slots);
    slots.data1 = 0;
    slots.data2 = node;
    slots.data3 = 0;
    cell::set_type(&slots, TYPE_block);
    chain(0);
}

void chain(int32_t first_index) {
    series_buffer_t* s = alloc::buffer(slots.data2);
    int32_t n = s->size / 16;
    cell_t* c = s->head_cell();
    for (int32_t i = first_index; i < n; i++)
        c[i] = cell_t{TYPE_integer, 0, static_cast<uint32_t>(i + 1 < n ? i + 1 : -1), 0};
    free_head = first_index < n ? first_index : -1;
    s->tail = s->head + n * 16;
}

int32_t alloc(const cell_t* value) {
    cell_t copy = *value;  // value may live in the block that moves
    if (free_head < 0) {
        int32_t old = slot_capacity();
        alloc::expand_series_copy(alloc::buffer(slots.data2), int64_t{old} * 2 * 16);
        chain(old);
    }
    int32_t index = free_head;
    cell_t* c = first() + index;
    free_head = static_cast<int32_t>(c->data2);
    *c = copy;
    return index + 1;
}

cell_t* get(int32_t slot) { return first() + (slot - 1); }

void free(int32_t slot) {
    if (slot <= 0 || slot > slot_capacity()) return;
    first()[slot - 1] = cell_t{TYPE_integer, 0, static_cast<uint32_t>(free_head), 0};
    free_head = slot - 1;
}

cell_t* block() { return &slots; }

}  // namespace ext_slots
}  // namespace zuv
