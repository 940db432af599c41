#include "runtime/collector.h"

#include <algorithm>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "runtime/alloc.h"
#include "runtime/externals.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"
#include "runtime/lowrt.h"
#include "runtime/ownership.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::collector {

bool active = false;
uint32_t cycles = 0;
uint32_t evacuations = 0;
uint32_t history_depth = 5;
uint32_t stress_period = 0;
uint32_t stress_countdown = 0;
uint32_t library_period = 0;

marker_fn interpreter_marker = nullptr;
marker_fn lexer_marker = nullptr;
void (*image_marker)(node_t node) = nullptr;

namespace {

bool running = false;

marker_fn markers[MAX_MARKERS];
int marker_count = 0;

// Nodes of dead buffers, given back to their frames in one go.
constexpr int DEAD_NODES = 20000;
node_t dead_nodes[DEAD_NODES];
int dead_count = 0;

// A growable array of 32-bit entries on the process heap: the mark stack and
// the list of fixed buffers that marking reached.
struct node_list {
    uint32_t* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    void push(uint32_t v) {
        if (count == capacity) {
            capacity = capacity == 0 ? 4096 : capacity * 2;
            items = static_cast<uint32_t*>(lowrt::resize(items, capacity * sizeof(uint32_t)));
        }
        items[count++] = v;
    }
};

// Entries of the mark stack: a cell series to scan from head to tail, or
// (with the tag) a context whose context cell and self slot are scanned.
constexpr uint32_t CONTEXT_ENTRY = 1u << 31;
node_list mark_stack;
node_list fixed_marked;

uint32_t self_symbol = 0;

constexpr uint32_t NODE_LIMIT = 1u << 27;  // the node table's size in handles

#ifndef NDEBUG
[[noreturn]] void corrupt(const char* what, node_t node) {
    char text[160];
    int n = snprintf(text, sizeof text, "*** collector: %s (node %u)\n", what, node);
    platform::write_all(2, text, static_cast<size_t>(n));
    abort();
}
#endif

// The buffer of a node that a value holds, or nullptr when the node is not
// live. A value holding a freed node is a fault in the code that made it:
// debug builds stop there; release builds leave the value alone.
inline series_buffer_t* live_buffer(node_t node) {
    if (node == 0) return nullptr;
    if (node >= NODE_LIMIT) {
#ifndef NDEBUG
        corrupt("a value holds an impossible node", node);
#else
        return nullptr;
#endif
    }
    uintptr_t slot = alloc::node_table[node];
    if (!alloc::live_slot_q(slot)) {
#ifndef NDEBUG
        corrupt("a value refers to a freed series", node);
#else
        return nullptr;
#endif
    }
    return reinterpret_cast<series_buffer_t*>(slot);
}

inline bool mark_buffer(node_t node, series_buffer_t* s) {
    if (s->flags & series_flag::MARK) return false;
    s->flags |= series_flag::MARK;
    if (s->flags & series_flag::FIXED) fixed_marked.push(node);
    return true;
}

void mark_value(const cell_t* c);

void scan_cells(series_buffer_t* s) {
    // A context's own values: its two cells before them count too.
    int32_t head = (s->flags & series_flag::CONTEXT_VALUES) ? 0 : s->head, tail = s->tail;
    if (tail > s->size) tail = s->size;
    if (head < 0 || head >= tail) return;
    auto* c = reinterpret_cast<const cell_t*>(s->data() + head);
    auto* end = reinterpret_cast<const cell_t*>(s->data() + tail);
    for (; c + 1 <= end; c++) mark_value(c);
}

void scan_context(series_buffer_t* s) {
    auto* c = reinterpret_cast<const cell_t*>(s->data());
    if (type_of(c) != TYPE_context || s->size < 32 || (s->flags & series_flag::CONTEXT_VALUES)) {
        scan_cells(s);
        return;
    }
    mark_table(c->data1);
    if (!(c->header & FLAG_STACK_VALUES)) mark_cells_node(c->data2);
    if (c->header & _context::FLAG_MARKS_NODE) mark_node(c->data3);
    mark_value(c + 1);
}

void drain() {
    while (mark_stack.count > 0) {
        uint32_t entry = mark_stack.items[--mark_stack.count];
        series_buffer_t* s = alloc::buffer(entry & ~CONTEXT_ENTRY);
        if (entry & CONTEXT_ENTRY) scan_context(s);
        else scan_cells(s);
    }
}

inline void mark_word_context(node_t ctx, uint32_t symbol) {
    if (symbol == self_symbol) mark_cells_node(ctx);
    else mark_context(ctx);
}

// What a cell refers to, by datatype: the last column of datatypes/types.def.
enum class refs : uint8_t {
    none,
    cells,
    text,
    context,
    word,
    native,
    function,
    bytes,
    object,
    table,
    handle,
    image
};
// Indexed by any type byte, so that a cell of no datatype refers to nothing.
constexpr refs refs_of[256] = {
    refs::none,
#define ZUV_TYPE(id, ident, name, what) refs::what,
#include "datatypes/types.def"
#undef ZUV_TYPE
};

void mark_value(const cell_t* c) {
    switch (refs_of[type_of(c)]) {
    case refs::none: break;
    // Series of cells; an event's are a scripted event's extra fields or a
    // backend event's record (0 when a scripted event has none).
    case refs::cells: mark_cells_node(c->data2); break;
    case refs::text:
        mark_node(c->data2);
        mark_node(c->data3);
        break;
    case refs::context:
        mark_table(c->data1);
        if (!(c->header & FLAG_STACK_VALUES)) mark_cells_node(c->data2);
        if (c->header & _context::FLAG_MARKS_NODE) mark_node(c->data3);
        break;
    case refs::word:
        if (c->data1) mark_word_context(c->data1, c->data2);
        break;
    case refs::native: {
        mark_cells_node(c->data2);
        mark_cells_node(c->data3);
        uint32_t wrapped = (c->header >> 16) & 0xFF;
        if (type_of(c) == TYPE_op && (wrapped == TYPE_function || wrapped == TYPE_routine))
            mark_context(c->data1);
        break;
    }
    case refs::function:
        mark_context(c->data1);
        mark_cells_node(c->data2);
        mark_cells_node(c->data3);
        break;
    case refs::bytes: mark_node(c->data2); break;
    case refs::object:
        mark_context(c->data1);
        mark_node(c->data3);
        break;
    case refs::table:
        mark_cells_node(c->data2);
        mark_table(c->data3);
        break;
    case refs::handle: {
        auto index = static_cast<int32_t>(c->data3);
        if (index >= 0 && index < externals::capacity() &&
            !(externals::entry(index)->flags & externals::FREE))
            externals::mark(index, 0);
        break;
    }
    case refs::image:
        if (c->data2 && mark_node(c->data2) && image_marker) image_marker(c->data2);
        break;
    }
}

void mark_table_node(node_t node, bool scan) {
    if (scan) mark_cells_node(node);
    else mark_node(node);
}

// --- roots -------------------------------------------------------------------

void mark_frames() {
    if (stack::cbottom == nullptr) return;
    for (const call_frame_t* f = stack::cbottom; f < stack::ctop; f++) {
        if (f->context) mark_word_context(f->context, frame::symbol_of(f));
        if (f->func_context) {
            mark_context(f->func_context);
            series_buffer_t* s = live_buffer(f->func_context);
            if (f->saved_values && s && !(s->head_cell()->header & FLAG_STACK_VALUES))
                mark_cells_node(f->saved_values);
        }
    }
}

// The ownership table is weak: only its own buffers are kept; the entries
// whose series died are swept afterwards.
void mark_ownership_table() {
    node_t table = ownership::table_node();
    series_buffer_t* s = live_buffer(table);
    if (!s) return;
    mark_buffer(table, s);
    const hashtable_t* t = hashtable::record(table);
    mark_node(static_cast<node_t>(t->keys));
    mark_node(static_cast<node_t>(t->block));
}

// Guards nest strictly (they are scoped), so both lists are stacks.
constexpr uint32_t TABLE_GUARD = 1u << 31;
node_t guarded_nodes[4096];
const cell_t* guarded_cells[4096];
uint32_t node_guards = 0;
uint32_t cell_guards = 0;

void mark_roots() {
    self_symbol = words::symbol_of(words::id::self);
    if (type_of(&block::root) == TYPE_block) mark_block(&block::root);
    if (symbol::index_node) mark_table(symbol::index_node);
    mark_ownership_table();
    mark_node(stack::argument_node);
    mark_node(stack::frame_node);
    if (stack::bottom) mark_values(stack::bottom, stack::top_slot);
    mark_frames();
    mark_context(_context::global_node);
    if (interpreter_marker) interpreter_marker();
    if (lexer_marker) lexer_marker();
    const cell_t* slots = ext_slots::block();
    if (type_of(slots) == TYPE_block) mark_cells_node(slots->data2);
    for (int i = 0; i < marker_count; i++)
        if (markers[i]) markers[i]();
    // In place of the native-stack scan: what C++ code holds under guards.
    for (uint32_t i = 0; i < node_guards; i++) {
        node_t node = guarded_nodes[i] & ~TABLE_GUARD;
        if (guarded_nodes[i] & TABLE_GUARD) {
            mark_table(node);
            continue;
        }
        series_buffer_t* s = live_buffer(node);
        if (s && mark_buffer(node, s) && s->unit() == sizeof(cell_t)) mark_stack.push(node);
    }
    for (uint32_t i = 0; i < cell_guards; i++) mark_value(guarded_cells[i]);
    drain();
}

// --- compaction -------------------------------------------------------------

inline size_t span_of(const series_buffer_t* s) {
    return alloc::BUFFER_OVERHEAD + static_cast<size_t>(s->size);
}
inline bool marked(const uint8_t* p) {
    return (reinterpret_cast<const series_buffer_t*>(p)->flags & series_flag::MARK) != 0;
}

// Points the nodes of the buffers now in [from, to) at their new places and
// clears their marks.
void fix_nodes(uint8_t* from, uint8_t* to) {
    while (from < to) {
        auto* s = reinterpret_cast<series_buffer_t*>(from);
        s->flags &= ~series_flag::MARK;
        alloc::node_table[s->node] = reinterpret_cast<uintptr_t>(s);
        from += span_of(s);
    }
}

void bury(series_buffer_t* s) {
    // A node whose slot names another buffer has been handed on already.
    if (s->node != 0 && alloc::node_table[s->node] == reinterpret_cast<uintptr_t>(s))
        add_dead_node(s->node);
}

// The room at the end of a frame that is worth filling.
inline size_t usable_room(const series_frame_t* p) {
    size_t room = static_cast<size_t>(p->end - p->heap);
    return room < alloc::FRAME_FLOOR + 1 ? 0 : room;
}

void compact_frame(series_frame_t* f) {
    series_frame_t* p = f->prev;
    size_t room = p ? usable_room(p) : 0;
    uint8_t* old_heap = f->heap;
    uint8_t* dest = nullptr;  // the first hole, where the next run slides to
    uint8_t* at = f->area();

    while (at < old_heap) {
        if (!marked(at)) {
            auto* s = reinterpret_cast<series_buffer_t*>(at);
            bury(s);
            if (!dest) dest = at;
            at += span_of(s);
            continue;
        }
        uint8_t* run = at;
        uint8_t* run_end = at;
        while (run_end < old_heap && marked(run_end))
            run_end += span_of(reinterpret_cast<series_buffer_t*>(run_end));

        if (room > 0) {
            // As much of the run as fits goes to the previous frame; what is
            // left is visited again as a run of its own.
            uint8_t* fit = run;
            while (fit < run_end) {
                size_t next = span_of(reinterpret_cast<series_buffer_t*>(fit));
                if (static_cast<size_t>(fit + next - run) > room) break;
                fit += next;
            }
            if (fit > run) {
                size_t length = static_cast<size_t>(fit - run);
                std::memcpy(p->heap, run, length);
                fix_nodes(p->heap, p->heap + length);
                p->heap += length;
                room = usable_room(p);
                if (!dest) dest = run;
                at = fit;
                continue;
            }
            // From the first run that neither fits nor has a hole before it,
            // nothing more goes to the previous frame.
            if (!dest) room = 0;
        }
        size_t length = static_cast<size_t>(run_end - run);
        if (dest) {
            std::memmove(dest, run, length);
            fix_nodes(dest, dest + length);
            dest += length;
        } else {
            fix_nodes(run, run_end);
        }
        at = run_end;
    }
    if (dest) f->heap = dest;
    if (f->heap < old_heap) poison(f->heap, static_cast<size_t>(old_heap - f->heap));
}

void compact() {
    series_frame_t* f = alloc::memory.s_head;
    while (f) {
        series_frame_t* next = f->next;
        compact_frame(f);
        if (f->prev && next && f->heap == f->area()) alloc::keep_series_frame(f);
        f = next;
    }
}

// Under the stress mode a dead node is not handed out again at once: it
// waits in quarantine with an empty slot, so that code still using it reads
// through a null slot (and a value still holding it is reported by marking)
// instead of quietly reaching the next series that got the node.
constexpr size_t QUARANTINE = 50000;
node_t* quarantine = nullptr;
size_t quarantine_next = 0;

void free_dead_node(node_t node) {
    if (stress_period != 0) {
        if (!quarantine) {
            quarantine = static_cast<node_t*>(lowrt::allocate(QUARANTINE * sizeof(node_t)));
            std::memset(quarantine, 0, QUARANTINE * sizeof(node_t));
        }
        if (quarantine_next >= QUARANTINE) quarantine_next = 0;
        node_t old = quarantine[quarantine_next];
        quarantine[quarantine_next++] = node;
        alloc::node_table[node] = 0;
        node = old;
        if (node == 0) return;
    }
    alloc::free_node(alloc::frame_of(node), node);
}

void flush_dead_nodes() {
    for (int i = 0; i < dead_count; i++) free_dead_node(dead_nodes[i]);
    dead_count = 0;
}

// A period from the environment; 0 when unset or not a positive number.
uint32_t period_from_env(const char* name) {
    const char* text = platform::get_env(name);
    long n = text != nullptr ? strtol(text, nullptr, 10) : 0;
    return n > 0 && n <= long{UINT32_MAX} ? static_cast<uint32_t>(n) : 0;
}

}  // namespace

// --- public ------------------------------------------------------------------

void init() {
    cycles = 0;
    evacuations = 0;
    history_depth = 5;
    stress_period = 0;
    // Quarantined nodes of an earlier memory manager mean nothing now.
    if (quarantine) std::memset(quarantine, 0, QUARANTINE * sizeof(node_t));
    quarantine_next = 0;
    library_period = 0;
    if (uint32_t n = period_from_env("ZUV_GC_STRESS")) {
        // The stress mode collects from here on, without waiting for the
        // library's top level to switch the collector on.
        stress_period = stress_countdown = n;
        library_period = period_from_env("ZUV_GC_STRESS_LIBRARY");
        active = true;
    }
}

bool running_q() { return std::atomic_ref<bool>(running).load(); }

uint32_t do_cycle() {
    if (running) return cycles;
    std::atomic_ref<bool>(running).store(true);
    fixed_marked.count = 0;
    mark_stack.count = 0;

    mark_roots();

    externals::sweep();
    if (node_t table = ownership::table_node(); live_buffer(table)) hashtable::sweep(table);
    compact();
    alloc::sweep_big_frames();
    flush_dead_nodes();
    alloc::release_node_frames();
    for (size_t i = 0; i < fixed_marked.count; i++) clear_mark(fixed_marked.items[i]);
    fixed_marked.count = 0;

    cycles++;
    std::atomic_ref<bool>(running).store(false);
    return cycles;
}

namespace {

// A collection costs as much as the live data it marks, so running one each
// time a frame fills would make a growing heap quadratic. The heap may grow
// by half of what was live after the last collection (and at least 4 MB)
// before the next one runs: the work per allocated byte stays bounded, and
// the peak stays within about one and a half times the live data.
constexpr size_t MIN_GROWTH = size_t{4} << 20;
// Start-up builds the library, which is nearly all live data: a collection
// before the first MIN_GROWTH bytes would only mark it and find nothing.
size_t next_collection = MIN_GROWTH;

size_t live_bytes() {
    size_t used = 0;
    for (series_frame_t* f = alloc::memory.s_head; f; f = f->next)
        used += static_cast<size_t>(f->heap - f->area());
    for (big_frame_t* b = alloc::memory.b_head; b; b = b->next) used += b->size;
    return used;
}

}  // namespace

// Frames a collection empties are kept for reuse, not handed back to the
// system: a program that makes and drops data at a steady rate would
// otherwise unmap frames after each collection and map them again at once,
// paying for the system calls and a page fault per page. The spares go back
// only when the heap has stayed well above what is live: more than twice the
// room the next collection allows, after TRIM_AFTER collections in a row.
// Then they go until the heap is at most the live data and that room.
constexpr int TRIM_AFTER = 3;
int collections_above = 0;

void collect_if_enabled() {
    if (!active) return;
    do_cycle();
    size_t live = live_bytes();
    size_t room = std::max(live / 2, MIN_GROWTH);
    next_collection = alloc::in_use() + room;
    if (alloc::memory.total <= live + 2 * room) {
        collections_above = 0;
    } else if (++collections_above >= TRIM_AFTER) {
        alloc::release_spares(live + room);
        collections_above = 0;
    }
}

void collect_if_due() {
    if (stress_period == 0 && alloc::in_use() < next_collection) return;
    collect_if_enabled();
}

void stress_tick() {
    stress_countdown = stress_period;
    if (active && !running) do_cycle();
}

void poison(void* start, size_t bytes) {
    if (stress_period != 0) std::memset(start, POISON, bytes);
}

void add_dead_node(node_t node) {
    if (node == 0) return;
    if (dead_count == DEAD_NODES) flush_dead_nodes();
    dead_nodes[dead_count++] = node;
}

void add_marker(marker_fn marker) {
    if (marker_count < MAX_MARKERS) markers[marker_count++] = marker;
}

void remove_marker(marker_fn marker) {
    for (int i = 0; i < marker_count; i++)
        if (markers[i] == marker) markers[i] = nullptr;
}

bool mark_node(node_t node) {
    series_buffer_t* s = live_buffer(node);
    return s && mark_buffer(node, s);
}

void mark_cells_node(node_t node) {
    series_buffer_t* s = live_buffer(node);
    if (s && mark_buffer(node, s) && s->unit() == sizeof(cell_t)) mark_stack.push(node);
}

void mark_block(const cell_t* block) { mark_cells_node(block->data2); }

void mark_context(node_t ctx) {
    series_buffer_t* s = live_buffer(ctx);
    if (s && mark_buffer(ctx, s)) mark_stack.push(ctx | CONTEXT_ENTRY);
}

void mark_values(const cell_t* first, const cell_t* end) {
    for (; first < end; first++) mark_value(first);
}

void mark_table(node_t table) {
    series_buffer_t* s = live_buffer(table);
    if (s && !(s->flags & series_flag::MARK)) hashtable::mark(table, mark_table_node);
}

void clear_mark(node_t node) { alloc::buffer(node)->flags &= ~series_flag::MARK; }

// --- scoped roots --------------------------------------------------------------

root_node::root_node(node_t node, bool table) : slot_(node_guards) {
    if (node_guards == sizeof guarded_nodes / sizeof guarded_nodes[0]) fire(err::stack_overflow);
    guarded_nodes[node_guards++] = table ? node | TABLE_GUARD : node;
}
root_node::~root_node() { node_guards = slot_; }

root_cell::root_cell(const cell_t* cell) : slot_(cell_guards) {
    if (cell_guards == sizeof guarded_cells / sizeof guarded_cells[0]) fire(err::stack_overflow);
    guarded_cells[cell_guards++] = cell;
}
root_cell::~root_cell() { cell_guards = slot_; }

}  // namespace zuv::collector
