#include "runtime/alloc.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>

#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"

namespace zuv::alloc {

memory_state_t memory;
uintptr_t* node_table = nullptr;

namespace {

// The node table is one reserved range; the system commits its pages as node
// frames first touch them. 2^27 handles allow 13,421 frames.
constexpr size_t TABLE_SLOTS = size_t{1} << 27;
constexpr int MAX_NODE_FRAMES = static_cast<int>((TABLE_SLOTS - 1) / NODES_PER_FRAME);
node_frame_t* frames_by_index[MAX_NODE_FRAMES];
// The frames the reserved table holds: fewer under a limit on address space.
int node_frame_limit = MAX_NODE_FRAMES;

// Blocks from the system keep their size in a prefix of 16 bytes (one word
// would do, but what follows stays 16-byte aligned this way).
constexpr size_t OS_PREFIX = 16;
constexpr size_t PAGE = 4096;

// Under a limit on address space (ulimit -v) the whole table's 1 GiB of
// reservation would leave no room, or none at all, for the series it
// indexes: it takes an eighth of the limit instead, still more handles than
// series that fit (each takes 32 bytes at the least).
void reserve_node_table() {
    if (node_table != nullptr) return;
    size_t slots = TABLE_SLOTS;
    if (uint64_t limit = platform::address_space_limit())
        slots = static_cast<size_t>(
            std::clamp<uint64_t>(limit / 8 / sizeof(uintptr_t), NODES_PER_FRAME + 1, TABLE_SLOTS));
    void* p = mmap(nullptr, slots * sizeof(uintptr_t), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) lowrt::quit(lowrt::OUT_OF_MEMORY);
    node_table = static_cast<uintptr_t*>(p);
    node_frame_limit = static_cast<int>((slots - 1) / NODES_PER_FRAME);
}

int frame_index(node_t node) { return static_cast<int>((node - 1) / NODES_PER_FRAME); }

uint32_t checked_size(int64_t units, int32_t unit) {
    if (units < 0 || unit <= 0) fire(err::no_memory);
    uint64_t bytes = static_cast<uint64_t>(units) * static_cast<uint64_t>(unit);
    if (bytes > SERIES_LIMIT) fire(err::no_memory);
    uint64_t size = round_up(bytes, 16);
    return static_cast<uint32_t>(size == 0 ? 16 : size);
}

void link_node(series_buffer_t* s, node_t node) {
    node_table[node] = reinterpret_cast<uintptr_t>(s);
    s->node = node;
}

// Moves a series into a new buffer of new_size bytes; the old buffer is
// abandoned (its node cleared) but left readable for the caller's copy.
series_buffer_t* move_series(series_buffer_t* s, int64_t new_size, series_buffer_t** old_out) {
    if (new_size == 0) new_size = 2 * static_cast<int64_t>(s->size);
    if (new_size < 1) fire(err::no_memory);
    node_t node = s->node;
    uint32_t unit = s->unit();
    series_buffer_t* n = alloc_buffer(new_size / unit, static_cast<int32_t>(unit), 0);
    series_buffer_t* old = buffer(node);  // the allocation may have moved it
    node_table[node] = reinterpret_cast<uintptr_t>(n);
    uint32_t keep = old->flags & ~(series_flag::BIG | series_flag::FIXED | series_flag::MARK);
    n->flags = keep | (n->flags & series_flag::BIG);
    n->node = node;
    n->tail = n->head + (old->tail - old->head);
    old->node = 0;
    old->flags &= ~series_flag::ACTIVE;
    *old_out = old;
    return n;
}

// The end of a buffer that a series outgrew. Under the collector's stress
// mode its data is poisoned, so that a stale address reads garbage. A fixed
// buffer is not in any frame: nothing else would ever give its memory back.
void release_if_fixed(series_buffer_t* old) {
    collector::poison(old->data(), static_cast<size_t>(old->size));
    if (old->flags & series_flag::FIXED) lowrt::release(old);
}

}  // namespace

void init() {
    reserve_node_table();
    memory = memory_state_t{};
    memory.s_start = SERIES_FRAME_START;
    memory.s_size = SERIES_FRAME_START;
    memory.s_max = SERIES_FRAME_MAX;
}

namespace {

void* claim(void* block, size_t rounded) {
    if (block == nullptr) fire(err::no_memory);
    memory.total += rounded;
    *static_cast<size_t*>(block) = rounded;
    return static_cast<uint8_t*>(block) + OS_PREFIX;
}

// A frame for a buffer, asked for where the collector may run: when the
// system refuses it, a collection frees the garbage (the partial result of
// a native that ran out, say) and gives the spare frames back, and the
// system is asked once more. Without it the refusal would stand until the
// heap next grew enough to collect, and every allocation after one that
// was refused, however small, would fail too.
void* os_allocate_collecting(size_t size) {
    size_t rounded = round_up(size + OS_PREFIX, PAGE);
    void* block = platform::virtual_alloc(rounded, false);
    if (block == nullptr && collector::active && !collector::running_q()) {
        collector::collect_if_enabled();
        release_spares(0);
        block = platform::virtual_alloc(rounded, false);
    }
    return claim(block, rounded);
}

}  // namespace

void* os_allocate(size_t size, bool executable) {
    size_t rounded = round_up(size + OS_PREFIX, PAGE);
    return claim(platform::virtual_alloc(rounded, executable), rounded);
}

void os_free(void* address) {
    uint8_t* block = static_cast<uint8_t*>(address) - OS_PREFIX;
    size_t size = *reinterpret_cast<size_t*>(block);
    memory.total -= size;
    if (!platform::virtual_free(block, size)) fire(err::wrong_mem);
}

// --- nodes ---------------------------------------------------------------

void new_node_frame(int count) {
    count = std::min(count, NODES_PER_FRAME);
    int index = 0;
    while (index < node_frame_limit && frames_by_index[index] != nullptr) index++;
    if (index == node_frame_limit) fire(err::no_memory);

    auto* frame = static_cast<node_frame_t*>(os_allocate(sizeof(node_frame_t)));
    *frame = node_frame_t{};
    frame->capacity = count;
    frame->first = 1 + static_cast<uint32_t>(index) * NODES_PER_FRAME;
    frame->cycle_at_creation = collector::cycles;
    for (int i = 0; i < count; i++) {
        node_t h = frame->first + static_cast<uint32_t>(i);
        node_table[h] = free_slot(i + 1 < count ? h + 1 : 0);
    }
    frame->free_head = frame->first;
    frames_by_index[index] = frame;

    frame->prev = memory.n_tail;
    if (memory.n_tail) memory.n_tail->next = frame;
    memory.n_tail = frame;
    if (memory.n_head == nullptr) {
        memory.n_head = frame;
        memory.n_active = frame;
    }
}

void free_node_frame(node_frame_t* frame) {
    if (frame->prev) frame->prev->next = frame->next;
    else memory.n_head = frame->next;
    if (frame->next) frame->next->prev = frame->prev;
    else memory.n_tail = frame->prev;
    if (memory.n_active == frame) memory.n_active = memory.n_tail;

    frames_by_index[frame_index(frame->first)] = nullptr;
    // Hand the slots' pages back; a later frame at this index starts afresh.
    uintptr_t* slots = node_table + frame->first;
    uintptr_t from = round_up(reinterpret_cast<uintptr_t>(slots), PAGE);
    uintptr_t to = reinterpret_cast<uintptr_t>(slots + NODES_PER_FRAME) & ~(PAGE - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    os_free(frame);
}

node_frame_t* frame_of(node_t node) { return frames_by_index[frame_index(node)]; }

node_t alloc_node() {
    node_frame_t* frame = memory.n_active;
    if (frame == nullptr || frame->free_head == 0) {
        frame = memory.n_head;
        while (frame != nullptr && (frame->free_head == 0 || frame->evacuate)) frame = frame->next;
        if (frame == nullptr) {
            new_node_frame(NODES_PER_FRAME);
            frame = memory.n_tail;
        }
        memory.n_active = frame;
    }
    node_t node = frame->free_head;
    frame->free_head = free_slot_next(node_table[node]);
    node_table[node] = 0;
    frame->used++;
    return node;
}

void free_node(node_frame_t* frame, node_t node) {
    node_table[node] = free_slot(frame->free_head);
    frame->free_head = node;
    frame->used--;
}

int64_t nodes_in_use() {
    int64_t used = 0;
    for (node_frame_t* f = memory.n_head; f; f = f->next) used += f->used;
    return used;
}

// --- series frames ---------------------------------------------------------

namespace {

// A spare frame of at least that many bytes, taken off the spare list.
series_frame_t* take_spare(size_t size) {
    for (series_frame_t** link = &memory.s_spare; *link; link = &(*link)->next) {
        series_frame_t* frame = *link;
        if (frame->size < size) continue;
        *link = frame->next;
        memory.spare_bytes -= frame->size;
        return frame;
    }
    return nullptr;
}

series_frame_t* make_series_frame() {
    size_t area = memory.s_size;
    auto* frame = take_spare(sizeof(series_frame_t) + area);
    if (frame == nullptr) {
        frame = static_cast<series_frame_t*>(os_allocate_collecting(sizeof(series_frame_t) + area));
        frame->size = sizeof(series_frame_t) + area;
    }
    area = frame->size - sizeof(series_frame_t);
    frame->heap = frame->area();
    frame->end = frame->area() + area;
    if (memory.s_size < memory.s_max) memory.s_size = std::min(memory.s_size * 2, memory.s_max);

    // The list stays sorted by address: compaction slides buffers towards
    // the low frames.
    series_frame_t* after = nullptr;
    for (series_frame_t* f = memory.s_head; f && f < frame; f = f->next) after = f;
    frame->prev = after;
    frame->next = after ? after->next : memory.s_head;
    if (after) after->next = frame;
    else memory.s_head = frame;
    if (frame->next) frame->next->prev = frame;
    else memory.s_tail = frame;
    if (memory.s_active == nullptr) memory.s_active = frame;
    return frame;
}

}  // namespace

void new_series_frame() { make_series_frame(); }

namespace {

void unlink_series_frame(series_frame_t* frame) {
    if (frame->prev) frame->prev->next = frame->next;
    else memory.s_head = frame->next;
    if (frame->next) frame->next->prev = frame->prev;
    else memory.s_tail = frame->prev;
    if (memory.s_active == frame) memory.s_active = memory.s_tail;
}

}  // namespace

void free_series_frame(series_frame_t* frame) {
    unlink_series_frame(frame);
    os_free(frame);
}

void keep_series_frame(series_frame_t* frame) {
    unlink_series_frame(frame);
    frame->next = memory.s_spare;
    frame->prev = nullptr;
    memory.s_spare = frame;
    memory.spare_bytes += frame->size;
}

void release_spares(size_t limit) {
    while (memory.s_spare && memory.total > limit) {
        series_frame_t* frame = memory.s_spare;
        memory.s_spare = frame->next;
        memory.spare_bytes -= frame->size;
        os_free(frame);
    }
    node_frame_t* frame = memory.n_head;
    while (frame && memory.total > limit) {
        node_frame_t* next = frame->next;
        if (frame->used == 0) free_node_frame(frame);
        frame = next;
    }
}

series_frame_t* find_room(size_t bytes) {
    for (series_frame_t* f = memory.s_head; f; f = f->next)
        if (f->heap + bytes < f->end) return f;
    return nullptr;
}

// --- buffers -----------------------------------------------------------------

series_buffer_t* alloc_buffer(int64_t units, int32_t unit, int32_t head_offset) {
    collector::count_allocation();
    uint32_t size = checked_size(units, unit);
    size_t total = size_t{size} + BUFFER_OVERHEAD;
    series_buffer_t* s;
    uint32_t flags = static_cast<uint32_t>(unit) | series_flag::ACTIVE | series_flag::NEW;

    if (total >= memory.s_max) {
        collector::collect_if_due();
        s = new_big_frame(total);
        flags |= series_flag::BIG;
    } else {
        series_frame_t* frame = memory.s_active;
        if (frame == nullptr || frame->heap + total >= frame->end) {
            frame = find_room(total);
            if (frame == nullptr) {
                collector::collect_if_due();
                frame = find_room(total);
                if (frame == nullptr ||
                    static_cast<size_t>(frame->end - frame->heap) < FRAME_FLOOR) {
                    if (total >= memory.s_size) memory.s_size = memory.s_max;
                    frame = make_series_frame();
                }
            }
            memory.s_active = frame;
        }
        s = reinterpret_cast<series_buffer_t*>(frame->heap);
        frame->heap += total;
    }

    s->size = static_cast<int32_t>(size);
    s->node = 0;
    if (head_offset == -1) {
        head_offset = static_cast<int32_t>(size / 2);
        flags |= series_flag::HEAD_MIDDLE;
    }
    s->flags = flags;
    s->head = head_offset;
    s->tail = head_offset;
    return s;
}

node_t alloc_series(int64_t units, int32_t unit, int32_t head_offset) {
    series_buffer_t* s = alloc_buffer(units, unit, head_offset);
    node_t node = alloc_node();  // takes no series memory: s stays where it is
    link_node(s, node);
    return node;
}

node_t alloc_fixed_series(int64_t units, int32_t unit, int32_t head_offset) {
    uint32_t size = checked_size(units, unit);
    auto* s = static_cast<series_buffer_t*>(lowrt::allocate(sizeof(series_buffer_t) + size));
    s->flags =
        static_cast<uint32_t>(unit) | series_flag::ACTIVE | series_flag::NEW | series_flag::FIXED;
    s->size = static_cast<int32_t>(size);
    s->head = head_offset;
    s->tail = head_offset;
    link_node(s, alloc_node());
    return s->node;
}

node_t alloc_cells(int64_t count) { return alloc_series(count, sizeof(cell_t), 0); }

node_t alloc_unset_cells(int64_t count) {
    node_t node = alloc_cells(count);
    series_buffer_t* s = buffer(node);
    auto* c = reinterpret_cast<cell_t*>(s->data());
    for (int32_t i = 0; i < s->size / 16; i++) c[i] = cell_t{TYPE_unset, 0, 0, 0};
    return node;
}

node_t alloc_bytes(int64_t count) { return alloc_series(count == 0 ? 16 : count, 1, 0); }

node_t alloc_units(int64_t count, int32_t unit) {
    return alloc_series(count == 0 ? 16 / unit : count, unit, 0);
}

node_t alloc_bytes_filled(int64_t count, uint8_t byte) {
    node_t node = alloc_bytes(count);
    series_buffer_t* s = buffer(node);
    std::memset(s->data(), byte, static_cast<size_t>(s->size));
    return node;
}

void set_flag(node_t node, uint32_t bits) { buffer(node)->flags |= bits; }

series_buffer_t* expand_series(series_buffer_t* s, int64_t new_size) {
    series_buffer_t* old;
    series_buffer_t* n = move_series(s, new_size, &old);
    release_if_fixed(old);
    return n;
}

series_buffer_t* expand_series_copy(series_buffer_t* s, int64_t new_size) {
    series_buffer_t* old;
    series_buffer_t* n = move_series(s, new_size, &old);
    int64_t count = std::min<int64_t>(old->size, old->size - old->head);
    count = std::min<int64_t>(count, n->size);
    if (count > 0) std::memcpy(n->head_ptr(), old->head_ptr(), static_cast<size_t>(count));
    release_if_fixed(old);
    return n;
}

series_buffer_t* expand_series_filled(series_buffer_t* s, int64_t new_size, uint8_t byte) {
    int32_t old_size = s->size;
    series_buffer_t* n = expand_series_copy(s, new_size);
    if (n->size > old_size)
        std::memset(n->head_ptr() + old_size, byte, static_cast<size_t>(n->size - old_size));
    return n;
}

node_t copy_series(series_buffer_t* s) {
    node_t source = s->node;
    node_t node = alloc_series(s->size, 1, 0);
    s = buffer(source);
    series_buffer_t* n = buffer(node);
    uint32_t keep = s->flags & ~(series_flag::BIG | series_flag::FIXED | series_flag::MARK);
    n->flags = keep | (n->flags & series_flag::BIG);
    int32_t count = std::min(s->size, s->size - s->head);
    if (count > 0) std::memcpy(n->data(), s->head_ptr(), static_cast<size_t>(count));
    n->tail = n->head + (s->tail - s->head);
    return node;
}

node_t copy_string_part(node_t source, int32_t start, int32_t count) {
    uint32_t unit = buffer(source)->unit();
    node_t node = alloc_bytes(static_cast<int64_t>(count) * unit);
    series_buffer_t* s = buffer(source);
    series_buffer_t* n = buffer(node);
    n->flags = (s->flags &
                ~(series_flag::OWNED | series_flag::BIG | series_flag::FIXED | series_flag::MARK)) |
               (n->flags & series_flag::BIG);
    size_t bytes = static_cast<size_t>(count) * unit;
    if (bytes > 0) std::memcpy(n->data(), s->head_ptr() + static_cast<size_t>(start) * unit, bytes);
    n->tail = static_cast<int32_t>(bytes);
    return node;
}

cell_t* alloc_tail(series_buffer_t* s) {
    if (s->tail + static_cast<int32_t>(sizeof(cell_t)) > s->size) s = expand_series_copy(s, 0);
    auto* c = reinterpret_cast<cell_t*>(s->tail_ptr());
    c->header = TYPE_unset;
    s->tail += sizeof(cell_t);
    return c;
}

cell_t* alloc_tail_value(cell_t* block) { return alloc_tail(buffer(block->data2)); }

uint8_t* alloc_tail_unit(series_buffer_t* s, int32_t bytes) {
    if (static_cast<int64_t>(s->tail) + bytes > s->size) {
        int64_t grown =
            s->size < bytes ? 2 * static_cast<int64_t>(bytes) : 2 * static_cast<int64_t>(s->size);
        if (grown > static_cast<int64_t>(SERIES_LIMIT)) grown = SERIES_LIMIT;
        if (static_cast<int64_t>(s->tail) + bytes > grown) fire(err::no_memory);
        s = expand_series_copy(s, grown);
    }
    uint8_t* p = s->tail_ptr();
    s->tail += bytes;
    return p;
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

// --- big frames ---------------------------------------------------------------

series_buffer_t* new_big_frame(size_t total) {
    auto* frame = static_cast<big_frame_t*>(os_allocate_collecting(sizeof(big_frame_t) + total));
    frame->next = nullptr;
    frame->zero = 0;
    frame->size = total;
    big_frame_t** link = &memory.b_head;
    while (*link) link = &(*link)->next;
    *link = frame;
    return frame->buffer();
}

void sweep_big_frames() {
    big_frame_t** link = &memory.b_head;
    while (*link) {
        big_frame_t* frame = *link;
        series_buffer_t* s = frame->buffer();
        if (s->flags & series_flag::MARK) {
            s->flags &= ~series_flag::MARK;
            link = &frame->next;
            continue;
        }
        // An abandoned buffer's node already belongs to its successor.
        if (s->node != 0) collector::add_dead_node(s->node);
        *link = frame->next;
        os_free(frame);
    }
}

void release_node_frames() {
    bool activated = false;
    node_frame_t* frame = memory.n_head;
    while (frame) {
        node_frame_t* next = frame->next;
        if (frame->evacuate) {
            free_node_frame(frame);
        } else {
            frame->history =
                (frame->history << 1) | (frame->used == frame->used_at_last_cycle ? 1u : 0u);
            frame->used_at_last_cycle = frame->used;
            if (!activated && frame->free_head != 0) {
                memory.n_active = frame;
                activated = true;
            }
        }
        frame = next;
    }
}

void free_all() {
    // Every root is gone with the memory: nothing may collect until the
    // runtime is started again.
    collector::active = false;
    collector::stress_period = 0;
    while (memory.n_head) free_node_frame(memory.n_head);
    while (memory.s_head) free_series_frame(memory.s_head);
    release_spares(0);
    while (memory.b_head) {
        big_frame_t* frame = memory.b_head;
        memory.b_head = frame->next;
        os_free(frame);
    }
    init();
}

}  // namespace zuv::alloc
