#include "datatypes/context.h"

#include <algorithm>
#include <cstring>

#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/stamp.h"
#include "runtime/words.h"

namespace zuv {

namespace _context {

node_t global_node = 0;

namespace {

int32_t self_symbol() {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::self)));
}

bool is_self_q(const cell_t* word, int32_t self) {
    return type_of(word) == TYPE_word && symbol::resolve(word::symbol_of(word)) == self;
}

// Appends one unset! value for a word just added to a heap context: the
// values series always holds exactly one cell per word.
void append_value(node_t ctx) {
    cell_t* c = cell_of(ctx);
    if (c->header & FLAG_ON_STACK) return;
    if (c->data2 == ctx) {
        unfold(ctx);
        c = cell_of(ctx);
    }
    alloc::alloc_tail(alloc::buffer(c->data2));
}

bool descend_q(uint8_t type) {
    switch (type) {
    case TYPE_block:
    case TYPE_paren:
    case TYPE_path:
    case TYPE_lit_path:
    case TYPE_set_path:
    case TYPE_get_path:
    case TYPE_hash: return true;
    default: return false;
    }
}

void bind_series(node_t series, int32_t head, node_t ctx, bool self, int32_t self_sym) {
    if (cycles::find_q(series)) return;
    cycles::guard guard(series);
    stamp::written(series);
    // Binding allocates nothing, but re-reading the buffer per cell costs
    // little and keeps this safe should that change.
    for (int32_t i = head;; i++) {
        series_buffer_t* s = alloc::buffer(series);
        if (i >= s->used() / 16) break;
        cell_t* c = s->head_cell() + i;
        uint8_t t = type_of(c);
        if (t >= TYPE_word && t <= TYPE_refinement) {
            if (self && is_self_q(c, self_sym)) {
                c->data1 = ctx;
                c->data3 = static_cast<uint32_t>(-1);
            } else {
                bind_word(ctx, c);
            }
        } else if (descend_q(t)) {
            bind_series(c->data2, static_cast<int32_t>(c->data1), ctx, self, self_sym);
        }
    }
}

}  // namespace

node_t create(int32_t capacity, bool on_stack, bool self, const cell_t* source, int32_t kind) {
    if (capacity < 1) capacity = 1;
    node_t ctx = alloc::alloc_cells(2);
    collector::root_node keep_ctx(ctx);
    {
        series_buffer_t* s = alloc::buffer(ctx);
        cell_t* c = s->head_cell();
        c[0] = cell_t{TYPE_unset, 0, 0, 0};
        c[1] = cell_t{TYPE_unset, 0, 0, 0};
        s->tail = s->head + 2 * 16;
    }
    node_t table;
    if (source) {
        cell_t copy = *source;
        table = hashtable::init(capacity, &copy, hashtable::KIND_SYMBOL, 2);
    } else {
        table = hashtable::init(capacity, nullptr, hashtable::KIND_SYMBOL, 2);
    }
    collector::root_node keep_table(table, true);
    uint32_t values = 0;
    if (!on_stack) values = alloc::alloc_cells(capacity);
    cell_t* c = cell_of(ctx);
    cell::begin(c);
    c->data1 = table;
    c->data2 = values;
    c->data3 = 0;
    c->header = TYPE_context | (static_cast<uint32_t>(kind) << KIND_SHIFT) |
                (on_stack ? FLAG_ON_STACK : 0) | (self ? FLAG_SELF : 0);
    return ctx;
}

node_t make(const cell_t* spec, bool on_stack, bool self, int32_t kind) {
    int32_t length = alloc::buffer(spec->data2)->used() / 16 - static_cast<int32_t>(spec->data1);
    node_t block = spec->data2;
    int32_t head = static_cast<int32_t>(spec->data1);
    node_t ctx = create(length, on_stack, self, nullptr, kind);
    // Nothing else holds the context yet, and a word added may grow its table.
    collector::root_node keep_ctx(ctx);
    for (int32_t i = 0; i < length; i++) {
        cell_t item = alloc::buffer(block)->head_cell()[head + i];
        uint8_t t = type_of(&item);
        if (t == TYPE_word || t == TYPE_get_word || t == TYPE_lit_word || t == TYPE_refinement)
            add(ctx, &item);
    }
    return ctx;
}

node_t make_shared(node_t table, node_t sharer) {
    int32_t count =
        alloc::buffer(static_cast<node_t>(hashtable::record(table)->block))->used() / 16;
    // One series: the two cells, then the values.
    node_t ctx = alloc::alloc_cells(2 + count);
    series_buffer_t* s = alloc::buffer(ctx);
    auto* c = reinterpret_cast<cell_t*>(s->data());
    c[0] = cell_t{TYPE_context | (static_cast<uint32_t>(KIND_OBJECT) << KIND_SHIFT) | FLAG_SELF |
                      FLAG_SHARED,
                  table, ctx, 0};
    for (int32_t i = 1; i < 2 + count; i++) c[i] = cell_t{TYPE_unset, 0, 0, 0};
    s->head = 2 * 16;
    s->tail = s->head + count * 16;
    s->flags |= series_flag::CONTEXT_VALUES;
    if (sharer != 0) share(sharer);
    return ctx;
}

void unfold(node_t ctx) {
    if (cell_of(ctx)->data2 != ctx) return;
    collector::root_node keep_ctx(ctx);
    int32_t count = alloc::buffer(ctx)->used() / 16;
    node_t values = alloc::alloc_cells(count < 1 ? 1 : count);
    series_buffer_t* s = alloc::buffer(ctx);
    series_buffer_t* vs = alloc::buffer(values);
    cell_t* from = s->head_cell();
    cell_t* to = vs->head_cell();
    for (int32_t i = 0; i < count; i++) to[i] = from[i];
    vs->tail = vs->head + count * 16;
    s->flags &= ~series_flag::CONTEXT_VALUES;
    s->head = 0;
    s->tail = 2 * 16;
    cell_of(ctx)->data2 = values;
}

void share(node_t ctx) {
    cell_t* c = cell_of(ctx);
    if (c->header & FLAG_SHARED) return;
    c->header |= FLAG_SHARED;
    series_buffer_t* words = get_symbols(ctx);
    cell_t* w = words->head_cell();
    for (int32_t i = 0, n = words->used() / 16; i < n; i++) w[i].data1 = 0;
}

node_t clone(cell_t* holder, int32_t kind) {
    node_t source = holder->data1;
    cell_t source_cell = *cell_of(source);
    if (kind == KIND_OBJECT && kind_of(&source_cell) == KIND_OBJECT && !on_stack_q(&source_cell) &&
        (source_cell.header & FLAG_SELF)) {
        // The copy has the same words as its source: it shares the table.
        node_t ctx = make_shared(source_cell.data1, source);
        holder->data1 = ctx;
        return ctx;
    }
    int32_t count = word_count(source);
    node_t ctx = create(count, on_stack_q(&source_cell), (source_cell.header & FLAG_SELF) != 0,
                        &source_cell, kind);
    series_buffer_t* values = nullptr;
    if (!on_stack_q(&source_cell)) {
        values = alloc::buffer(cell_of(ctx)->data2);
        cell_t* v = values->head_cell();
        for (int32_t i = 0; i < count; i++) v[i] = cell_t{TYPE_unset, 0, 0, 0};
        values->tail = values->head + count * 16;
    }
    series_buffer_t* words = get_symbols(ctx);
    cell_t* w = words->head_cell();
    for (int32_t i = 0; i < count; i++) w[i].data1 = ctx;
    holder->data1 = ctx;
    return ctx;
}

node_t get_symbols_node(node_t ctx) {
    return static_cast<node_t>(hashtable::record(table_of(ctx))->block);
}
series_buffer_t* get_symbols(node_t ctx) { return alloc::buffer(get_symbols_node(ctx)); }

int32_t find_word(node_t ctx, int32_t symbol, bool case_insensitive) {
    int32_t index = -1;
    return hashtable::get_symbol(table_of(ctx), symbol, case_insensitive, 0, &index);
}

namespace {

// Gives a context that shares its table a copy of its own, its words bound
// to it, before it adds a word.
void own_table(node_t ctx) {
    unfold(ctx);
    node_t table = hashtable::clone_into(table_of(ctx));
    cell_t* c = cell_of(ctx);
    c->data1 = table;
    c->header &= ~FLAG_SHARED;
    series_buffer_t* words = get_symbols(ctx);
    cell_t* w = words->head_cell();
    for (int32_t i = 0, n = words->used() / 16; i < n; i++) w[i].data1 = ctx;
}

}  // namespace

int32_t find_word_star(node_t ctx, int32_t symbol, bool case_insensitive, int32_t* index) {
    if (cell_of(ctx)->header & FLAG_SHARED) {
        int32_t found = hashtable::get_symbol(table_of(ctx), symbol, case_insensitive, 0, index);
        if (found >= 0) return found;
        own_table(ctx);
    }
    return hashtable::get_symbol(table_of(ctx), symbol, case_insensitive, ctx, index);
}

cell_t field_word(node_t ctx, int32_t index) {
    cell_t w = *get_symbol_word(ctx, index);
    w.data1 = ctx;
    return w;
}

// --- set marks -------------------------------------------------------------------

namespace {

// The marks node of ctx with room for index's bit.
uint8_t* marks_for(node_t ctx, int32_t index) {
    cell_t* c = cell_of(ctx);
    int32_t need = index / 8 + 1;
    if (c->header & FLAG_MARKS_NODE) {
        series_buffer_t* m = alloc::buffer(c->data3);
        if (m->size >= need) return m->data();
    }
    int32_t words = word_count(ctx);
    int32_t size = std::max(need, words / 8 + 1);
    node_t node = alloc::alloc_bytes_filled(size < 8 ? 8 : size, 0);
    c = cell_of(ctx);
    uint8_t* bits = alloc::buffer(node)->data();
    if (c->header & FLAG_MARKS_NODE) {
        series_buffer_t* old = alloc::buffer(c->data3);
        std::memcpy(bits, old->data(), static_cast<size_t>(old->size));
    } else {
        uint32_t low = c->data3;
        std::memcpy(bits, &low, sizeof low);
    }
    c->data3 = node;
    c->header |= FLAG_MARKS_NODE;
    return bits;
}

}  // namespace

void mark_set_in_node(node_t ctx, int32_t index) {
    marks_for(ctx, index)[index / 8] |= static_cast<uint8_t>(1u << (index % 8));
}

bool set_q(node_t ctx, int32_t index) {
    const cell_t* c = cell_of(ctx);
    if (!(c->header & FLAG_MARKS_NODE)) return index < 32 && (c->data3 >> index & 1u) != 0;
    series_buffer_t* m = alloc::buffer(c->data3);
    return index / 8 < m->size && (m->data()[index / 8] >> (index % 8) & 1u) != 0;
}

void clear_marks(node_t ctx) {
    cell_t* c = cell_of(ctx);
    c->data3 = 0;
    c->header &= ~FLAG_MARKS_NODE;
}

void copy_marks(node_t ctx, node_t from) {
    const cell_t* f = cell_of(from);
    if (!(f->header & FLAG_MARKS_NODE)) {
        cell_t* c = cell_of(ctx);
        c->data3 = f->data3;
        c->header &= ~FLAG_MARKS_NODE;
        return;
    }
    node_t node = alloc::copy_series(alloc::buffer(f->data3));
    cell_t* c = cell_of(ctx);
    c->data3 = node;
    c->header |= FLAG_MARKS_NODE;
}

int32_t add(node_t ctx, const cell_t* word) {
    int32_t index = -1;
    if (find_word_star(ctx, word::symbol_of(word), true, &index) == -1) append_value(ctx);
    return index;
}

cell_t* add_value(node_t ctx, const cell_t* word, const cell_t* value) {
    cell_t copy = *value;  // value may live in a buffer that adding moves
    int32_t index = add(ctx, word);
    cell_t* slot = value_at(ctx, index);
    if (slot == nullptr) fire(err::not_defined, word);
    *slot = copy;
    return slot;
}

bool collect_set_words(node_t ctx, cell_t* block) {
    series_buffer_t* s = alloc::buffer(block->data2);
    int32_t length = s->used() / 16;
    if (static_cast<int32_t>(block->data1) > length) block->data1 = static_cast<uint32_t>(length);
    node_t series = block->data2;
    int32_t head = static_cast<int32_t>(block->data1);
    int32_t before = word_count(ctx);
    for (int32_t i = head; i < length; i++) {
        cell_t item = alloc::buffer(series)->head_cell()[i];
        if (type_of(&item) == TYPE_set_word) add(ctx, &item);
    }
    return word_count(ctx) > before;
}

cell_t* add_global(int32_t symbol, bool case_insensitive, bool keep_spelling, cell_t* out) {
    (void)keep_spelling;  // the word returned always keeps the asked spelling
    // A case variant shares the canonical word's slot: search without case
    // first, whatever the flags, so that every spelling reads one value.
    int32_t index = find_word(global_node, symbol, true);
    if (index < 0 && find_word_star(global_node, symbol, case_insensitive, &index) == -1)
        append_value(global_node);
    return word::make_raw(out, TYPE_word, global_node, symbol, index);
}

cell_t* get_slow(const cell_t* word) {
    node_t ctx = word->data1;
    if (ctx != 0 && static_cast<int32_t>(word->data3) < 0) {
        if (symbol::resolve(word::symbol_of(word)) == self_symbol()) return get_self_value(ctx);
        fire(err::no_value, word);
    }
    if (ctx == 0) fire(err::no_value, word);
    fire(err::not_in_context, word);
}

cell_t* set_in(cell_t* word, const cell_t* value, node_t ctx, bool fire_events) {
    if (ctx == 0) fire(err::not_defined, word);
    cell_t copy = *value;
    int32_t index = static_cast<int32_t>(word->data3);
    if (index < 0) {
        index = find_word(ctx, word::symbol_of(word), false);
        if (index < 0) index = add(ctx, word);
        word->data3 = static_cast<uint32_t>(index);
    }
    if (value_at(ctx, index) == nullptr) fire(err::not_defined, word);
    if (kind_of(cell_of(ctx)) != KIND_OBJECT) {
        cell_t* slot = value_at(ctx, index);
        *slot = copy;
        return slot;
    }
    // Marking may allocate and move the series holding word: only its copy
    // is read past it.
    cell_t name = *word;
    mark_set(ctx, index);
    cell_t* slot = value_at(ctx, index);
    // An object with a change record hears of the store (set, set-word),
    // as it does of a path store: the old value rides on the stack meanwhile.
    cell_t obj = *get_self_value(ctx);
    if (!fire_events || type_of(&obj) != TYPE_object || obj.data3 == 0) {
        *slot = copy;
        return slot;
    }
    cell_t* top = stack::top_slot;
    cell_t* old = stack::push(slot);
    cell_t* now = stack::push(&copy);
    cell_t* w = stack::push(&name);
    *slot = copy;
    object::fire_on_set(&obj, w, old, now);
    stack::top_slot = top;
    return value_at(ctx, index);
}

cell_t* set(cell_t* word, const cell_t* value) { return set_in(word, value, word->data1, true); }

cell_t* get_in(int32_t symbol, node_t ctx) {
    if (on_stack_q(cell_of(ctx))) ctx = global_node;
    int32_t index = find_word(ctx, symbol, true);
    return index < 0 ? nullptr : value_at(ctx, index);
}

int32_t bind_word(node_t ctx, cell_t* word) {
    int32_t index = find_word(ctx, word::symbol_of(word), true);
    if (index >= 0) {
        word->data1 = ctx;
        word->data3 = static_cast<uint32_t>(index);
    }
    return index;
}

cell_t* bind(cell_t* block, node_t ctx, bool self) {
    int32_t self_sym = self ? self_symbol() : 0;
    bind_series(block->data2, static_cast<int32_t>(block->data1), ctx, self, self_sym);
    return block;
}

void init_global() { global_node = create(GLOBAL_SIZE, false, false, nullptr, KIND_GLOBAL); }

}  // namespace _context

namespace context {

void init() {
    datatype::record_t r(TYPE_context, 0, "context!");
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace context
}  // namespace zuv
