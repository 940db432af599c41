#include "datatypes/object_shape.h"

#include "datatypes/context.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"

namespace zuv::object::shape {
namespace {

struct entry_t {
    node_t block;  // the spec's series
    int32_t head;
    node_t table;  // 0: empty
};

constexpr uint32_t ENTRIES = 64;
entry_t entries[ENTRIES];
bool marker_added = false;

entry_t& entry_of(const cell_t* spec) {
    uint32_t key = spec->data2 * 0x9E3779B1u + spec->data1;
    return entries[(key >> 16) % ENTRIES];
}

// The remembered tables stay alive; the objects using them keep nothing else.
void mark_tables() {
    for (entry_t& e : entries)
        if (e.table != 0) collector::mark_table(e.table);
}

// Whether the set-words of the spec are the words of the table, in order.
bool fits(const cell_t* spec, node_t table) {
    series_buffer_t* words = alloc::buffer(static_cast<node_t>(hashtable::record(table)->block));
    const cell_t* w = words->head_cell();
    int32_t count = words->used() / 16;
    series_buffer_t* s = alloc::buffer(spec->data2);
    const cell_t* c = s->head_cell();
    int32_t length = s->used() / 16;
    int32_t k = 0;
    for (int32_t i = static_cast<int32_t>(spec->data1); i < length; i++) {
        if (type_of(c + i) != TYPE_set_word) continue;
        if (k == count || w[k].data2 != c[i].data2) return false;
        k++;
    }
    return k == count;
}

}  // namespace

node_t context_for(const cell_t* spec) {
    entry_t& e = entry_of(spec);
    if (e.table == 0 || e.block != spec->data2 || e.head != static_cast<int32_t>(spec->data1))
        return 0;
    if (!fits(spec, e.table)) return 0;
    return _context::make_shared(e.table, 0);
}

void remember(const cell_t* spec, node_t ctx) {
    if (!marker_added) {
        collector::add_marker(mark_tables);
        marker_added = true;
    }
    _context::share(ctx);
    entry_t& e = entry_of(spec);
    e = entry_t{spec->data2, static_cast<int32_t>(spec->data1), _context::table_of(ctx)};
}

void reset() {
    for (entry_t& e : entries) e = entry_t{0, 0, 0};
}

}  // namespace zuv::object::shape
