#include "datatypes/block.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block_search.h"
#include "datatypes/hash_type.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "lexer/lexer.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/library_code.h"
#include "runtime/stack.h"
#include "runtime/stamp.h"
#include "runtime/words.h"

namespace zuv {
namespace block {

cell_t root{TYPE_unset, 0, 0, 0};
int booting_q = 0;
int32_t mold_depth = 0;

// --- raw operations ---------------------------------------------------------

int32_t rs_length_q(const cell_t* b) {
    int32_t n = abs_length(b) - head_index(b);
    return n < 0 ? 0 : n;
}

cell_t* rs_head(cell_t* b) {
    int32_t total = abs_length(b);
    if (head_index(b) > total) set_head_index(b, total);
    return first_cell(b) + head_index(b);
}

void rs_clear(cell_t* b) {
    series_buffer_t* s = buffer_of(b);
    stamp::written(s);
    int32_t h = head_index(b);
    if (h < 0) h = 0;
    if (static_cast<int64_t>(h) * 16 < s->used()) s->tail = s->head + h * 16;
}

void truncate_at(cell_t* b, int32_t i) {
    series_buffer_t* s = buffer_of(b);
    stamp::written(s);
    if (i < 0) i = 0;
    if (static_cast<int64_t>(i) * 16 < s->used()) s->tail = s->head + i * 16;
}

cell_t* rs_append(cell_t* b, const cell_t* value) {
    cell_t v = *value;  // value may live in b's own buffer, which may move
    cell_t* slot = alloc::alloc_tail_value(b);
    stamp::written(buffer_of(b));
    slot->data1 = v.data1;
    slot->data2 = v.data2;
    slot->data3 = v.data3;
    slot->header = v.header;
    return slot;
}

// Makes room for count cells at the tail (growing to twice the need when
// the buffer is full) and returns the buffer that holds them.
static series_buffer_t* reserve(cell_t* b, int64_t count) {
    series_buffer_t* s = buffer_of(b);
    int64_t need = s->tail + count * 16;
    if (need > s->size) {
        if (static_cast<int64_t>(s->used()) / 16 + count >= MAX_CELLS) fire(err::no_memory);
        s = alloc::expand_series_copy(s, 2 * (static_cast<int64_t>(s->used()) + count * 16));
    }
    return s;
}

cell_t* append_block(cell_t* b, const cell_t* source) {
    cell_t src = *source;
    int32_t count = rs_length_q(&src);
    if (count == 0) return b;
    series_buffer_t* s = reserve(b, count);
    stamp::written(s);
    // The source is read after the growth: it may be b's own buffer.
    const cell_t* from = first_cell(&src) + head_index(&src);
    std::memmove(s->tail_cell(), from, static_cast<size_t>(count) * 16);
    s->tail += count * 16;
    return b;
}

void insert_value(cell_t* b, const cell_t* value, bool at_start, bool advance) {
    cell_t v = *value;
    series_buffer_t* s = buffer_of(b);
    if (s->tail + 16 > s->size) {
        if (s->used() / 16 + 1 >= MAX_CELLS) fire(err::no_memory);
        s = alloc::expand_series_copy(s, 2 * (static_cast<int64_t>(s->used()) + 16));
    }
    stamp::written(s);
    int32_t at = at_start ? 0 : std::clamp(head_index(b), 0, s->used() >> 4);
    cell_t* p = s->head_cell() + at;
    std::memmove(p + 1, p, static_cast<size_t>(s->used() - at * 16));
    *p = v;
    s->tail += 16;
    if (hash_type::hashed_q(b)) hash_type::cells_added(b, at, 1);
    if (advance) set_head_index(b, at + 1);
}

// --- constructors -----------------------------------------------------------

cell_t* make_at(cell_t* c, int32_t capacity) {
    cell::begin(c);
    node_t node = alloc::alloc_cells(capacity < 1 ? 1 : capacity);
    return init_value(c, TYPE_block, node);
}

cell_t* preallocate(cell_t* c, int32_t n, bool fixed) {
    if (n < 1) n = 1;
    cell::begin(c);
    node_t node = fixed ? alloc::alloc_fixed_series(n, sizeof(cell_t), 0) : alloc::alloc_cells(n);
    return init_value(c, TYPE_block, node);
}

// The parent's tail cell is reserved first (reading unset!), then the new
// buffer is made, then the cell is found again by index: the buffer
// allocation may have moved the parent.
static cell_t* make_child(cell_t* parent, int32_t capacity, bool fixed) {
    if (parent == nullptr) parent = &root;
    alloc::alloc_tail_value(parent);
    int32_t at = abs_length(parent) - 1;
    node_t node = fixed ? alloc::alloc_fixed_series(capacity < 1 ? 1 : capacity, sizeof(cell_t), 0)
                        : alloc::alloc_cells(capacity < 1 ? 1 : capacity);
    return init_value(rs_abs_at(parent, at), TYPE_block, node);
}

cell_t* make_fixed(cell_t* parent, int32_t capacity, cell_t* at) {
    if (parent == nullptr) return preallocate(at ? at : &root, capacity, true);
    return make_child(parent, capacity, true);
}

cell_t* make_in(cell_t* parent, int32_t capacity) { return make_child(parent, capacity, false); }

void init_root() {
    make_fixed(nullptr, ROOT_CELLS, &root);
    make_fixed(&root, stack::ARGUMENT_BUFFER_CELLS);
    make_fixed(&root, stack::FRAME_CELLS);
    make_in(&root, SYMBOL_CELLS);
    // The stacks take these two buffers as theirs (stack::init makes its own
    // only when none was given).
    stack::argument_node = node_of(rs_abs_at(&root, ROOT_ARGUMENTS));
    stack::frame_node = node_of(rs_abs_at(&root, ROOT_FRAMES));
}

cell_t* push(const cell_t* b) { return stack::push(b); }

cell_t* push_only_star(int32_t capacity) {
    cell_t* slot = stack::push_slot();
    cell::begin(slot);
    return make_at(slot, capacity < 1 ? 1 : capacity);
}

void insert_star() {
    cell_t* value = stack::top();
    insert(value - 1, value, -1, false, 1, false);
    stack::pop(1);
}

void append_star() {
    cell_t* value = stack::top();
    insert(value - 1, value, -1, false, 1, true);
    stack::pop(1);
}

namespace {

using series::change_word;

inline bool word_kind_q(uint8_t t) { return t >= TYPE_word && t <= TYPE_refinement; }
inline bool number_q(uint8_t t) {
    return t == TYPE_integer || t == TYPE_float_ || t == TYPE_percent;
}
inline cell_t datatype_cell(int32_t type) {
    return cell_t{TYPE_datatype, static_cast<uint32_t>(type), 0, 0};
}
inline bool path_kind_q(uint8_t t) { return t >= TYPE_path && t <= TYPE_get_path; }

int32_t emit(cell_t* buffer, const char* text, int32_t limit) {
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

int32_t emit_line(cell_t* buffer, int32_t indent, int32_t limit) {
    string::append_char(buffer, '\n');
    for (int32_t i = 0; i < indent; i++) string::concatenate_literal(buffer, "    ");
    return limit - 1 - 4 * indent;
}

// One molding level, counted back down however the level is left.
struct depth_count {
    depth_count() { mold_depth++; }
    ~depth_count() { mold_depth--; }
};

uint32_t last_char(const cell_t* buffer) {
    int32_t n = string::rs_abs_length_q(buffer);
    return n > 0 ? string::rs_abs_at(buffer, n - 1) : 0;
}

// The values that append, insert and change add: the cells of a block
// value from its head, or the value itself. The cells are found again
// through the node after every allocation; a block added to itself is
// copied aside first, because making room moves its own cells.
struct source_t {
    cell_t value;
    bool cells;
    int32_t count;
    std::vector<cell_t> aside;

    source_t(const cell_t* v, bool only) : value(*v) {
        cells = series::block_kind_q(type_of(v)) && !only;
        count = cells ? rs_length_q(&value) : 1;
    }
    void set_aside_if(const cell_t* target) {
        if (!cells || value.data2 != target->data2) return;
        count = std::min(count, rs_length_q(&value));
        const cell_t* from = rs_abs_at(&value, head_index(&value));
        aside.assign(from, from + count);
    }
    const cell_t* cells_now() const {
        if (!aside.empty()) return aside.data();
        return cells ? rs_abs_at(&value, head_index(&value)) : &value;
    }
};

// Room for a new length of cells, growing to `grow` cells; the current buffer.
series_buffer_t* room_for(cell_t* b, int64_t new_length, int64_t grow) {
    series_buffer_t* s = buffer_of(b);
    if (s->head + new_length * 16 > s->size) s = alloc::expand_series_copy(s, grow * 16);
    return s;
}

void fill(series_buffer_t* s, int32_t at, const source_t& src, int32_t dup) {
    const cell_t* from = src.cells_now();
    cell_t* to = s->head_cell() + at;
    for (int32_t d = 0; d < dup; d++) {
        std::memmove(to, from, static_cast<size_t>(src.count) * 16);
        to += src.count;
    }
}

// Replaces every series among the cells [first, end) of b (a rooted cell)
// that passes the filter by its deep copy.
void deep_copy_cells(cell_t* b, int32_t first, int32_t end, int32_t step, bool deep,
                     const cell_t* types) {
    for (int32_t i = first; i < end && i < abs_length(b); i += step) {
        cell_t c = *rs_abs_at(b, i);
        uint8_t t = type_of(&c);
        if (types) {
            bool in =
                type_of(types) == TYPE_datatype ? types->data1 == t : typeset::has_q(types, t);
            if (!in) continue;
            if (!series::series_q(t) && t != TYPE_object && t != TYPE_map && t != TYPE_bitset)
                continue;
        } else if (!series::series_q(t)) continue;
        cell_t* slot = stack::push(&c);
        actions::copy(slot, slot, nullptr, deep, const_cast<cell_t*>(types));
        *rs_abs_at(b, i) = *slot;
        stack::pop(1);
    }
}

}  // namespace

void copy_nested(cell_t* b, int32_t first, int32_t end, int32_t step, bool deep,
                 const cell_t* types) {
    deep_copy_cells(b, first, end, step < 1 ? 1 : step, deep, types);
}

cell_t* clone(const cell_t* b, bool deep, bool copy_parens) {
    cell_t src = *b;
    int32_t n = rs_length_q(&src);
    cell_t* slot = push_only_star(n);
    if (n > 0)
        std::memcpy(first_cell(slot), rs_abs_at(&src, head_index(&src)),
                    static_cast<size_t>(n) * 16);
    buffer_of(slot)->tail += n * 16;
    slot->header = type_of(&src);
    if (!deep) return slot;
    for (int32_t i = 0; i < n; i++) {
        cell_t c = *rs_abs_at(slot, i);
        uint8_t t = type_of(&c);
        if (t != TYPE_block && !(copy_parens && (t == TYPE_paren || path_kind_q(t)))) continue;
        clone(&c, true, copy_parens);
        cell_t r = *stack::top();
        stack::pop(1);
        r.header = c.header;
        *rs_abs_at(slot, i) = r;
    }
    return slot;
}

int32_t remove_value(cell_t* b, cell_t* value) {
    int32_t total = abs_length(b);
    auto cmp = reinterpret_cast<action_fn::compare_t>(actions::get_action_ptr(value, ACT_compare));
    for (int32_t i = std::max(0, head_index(b)); i < total; i++) {
        if (cmp(value, rs_abs_at(b, i), actions::cmp::FIND) != 0) continue;
        series_buffer_t* s = buffer_of(b);
        stamp::written(s);
        cell_t* p = s->head_cell() + i;
        std::memmove(p, p + 1, static_cast<size_t>(total - i - 1) * 16);
        s->tail -= 16;
        return 1;
    }
    return 0;
}

cell_t* select_word(cell_t* b, const cell_t* word, bool strict) {
    int32_t total = abs_length(b);
    int32_t want = static_cast<int32_t>(word->data2);
    if (!strict) want = symbol::resolve(want);
    for (int32_t i = std::max(0, head_index(b)); i < total; i++) {
        cell_t* c = rs_abs_at(b, i);
        uint8_t t = type_of(c);
        if (t < TYPE_word || t > TYPE_get_word) continue;
        int32_t sym = static_cast<int32_t>(c->data2);
        if ((strict ? sym : symbol::resolve(sym)) == want)
            return i + 1 < total ? c + 1 : &none_value;
    }
    return &none_value;
}

// --- actions ------------------------------------------------------------------

cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_) {
    cell_t self = *series;
    source_t src(value, only);
    if (part >= 0 && part < src.count) src.count = part;
    if (src.count == 0 || dup < 1) return series;
    int32_t total = abs_length(&self);
    int32_t h = std::clamp(head_index(&self), 0, total);
    set_head_index(&self, h);
    int64_t count = static_cast<int64_t>(src.count) * dup;
    if (count >= MAX_CELLS || (static_cast<int64_t>(total) + count) * 16 > INT32_MAX)
        fire(err::no_memory);
    int32_t at = append_ ? total : h;
    change_word before = append_ ? change_word::append : change_word::insert;
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self, before, value, at, static_cast<int32_t>(count));
        // The handler may have changed either series.
        total = abs_length(&self);
        at = append_ ? total : std::min(at, total);
        if (src.cells) src.count = std::min(src.count, rs_length_q(&src.value));
        count = static_cast<int64_t>(src.count) * dup;
    }
    src.set_aside_if(&self);
    int64_t need = total + count;
    series_buffer_t* s = room_for(&self, need, dup < 5 ? 2 * need : need);
    cell_t* base = s->head_cell();
    std::memmove(base + at + count, base + at, static_cast<size_t>(total - at) * 16);
    fill(s, at, src, dup);
    s->tail += static_cast<int32_t>(count * 16);
    if (hash_type::hashed_q(&self)) hash_type::cells_added(&self, at, static_cast<int32_t>(count));
    if (owned)
        series::owner_signal(&self, append_ ? change_word::appended : change_word::inserted, value,
                             at, static_cast<int32_t>(count));
    set_head_index(
        &self,
        append_ ? 0 : static_cast<int32_t>(std::min<int64_t>(at + count, abs_length(&self))));
    *series = self;
    return series;
}

cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup) {
    cell_t self = *series;
    source_t src(value, only);
    if (dup < 1) dup = 0;
    int32_t total = abs_length(&self);
    int32_t h = std::clamp(head_index(&self), 0, total);
    int64_t added = static_cast<int64_t>(src.count) * dup;
    if (added >= MAX_CELLS) fire(err::no_memory);
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : added, total - h);
    bool owned = series::owned_q(&self);
    if (owned) {
        series::owner_signal(&self, change_word::change, value, h, static_cast<int32_t>(added));
        total = abs_length(&self);
        h = std::min(h, total);
        if (src.cells) src.count = std::min(src.count, rs_length_q(&src.value));
        added = static_cast<int64_t>(src.count) * dup;
        replaced = std::min<int64_t>(part >= 0 ? part : added, total - h);
    }
    int64_t length = total + added - replaced;
    if (length >= MAX_CELLS) fire(err::no_memory);
    src.set_aside_if(&self);
    series_buffer_t* s = room_for(&self, std::max<int64_t>(length, total), 2 * length);
    cell_t* base = s->head_cell();
    std::memmove(base + h + added, base + h + replaced,
                 static_cast<size_t>(total - h - replaced) * 16);
    if (added > 0) fill(s, h, src, dup);
    s->tail = s->head + static_cast<int32_t>(length * 16);
    if (hash_type::hashed_q(&self)) hash_type::reindex(&self);
    if (owned)
        series::owner_signal(&self, change_word::changed, value, h, static_cast<int32_t>(added));
    set_head_index(&self, static_cast<int32_t>(std::min(h + added, length)));
    *series = self;
    return series;
}

cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool case_) {
    cell_t self = *series, k = *key, v = *value;
    // find leaves its answer in the argument that held the series.
    collector::root_cell keep(&self);
    cell_t found = *actions::find(&self, &k, {.case_ = case_});
    bool owned = series::owned_q(&self);
    if (type_of(&found) == TYPE_none) {
        int32_t at = abs_length(&self);
        if (owned) series::owner_signal(&self, change_word::put, &v, at, 2);
        rs_append(&self, &k);
        rs_append(&self, &v);
        if (hash_type::hashed_q(&self)) hash_type::cells_added(&self, at, 2);
        if (owned) series::owner_signal(&self, change_word::put_ed, &v, at, 2);
    } else {
        int32_t at = head_index(&found) + 1;
        if (at < abs_length(&self)) {
            if (!actions::compare(rs_abs_at(&self, at), &v, actions::cmp::FIND)) {
                if (owned) series::owner_signal(&self, change_word::put, &v, at, 1);
                if (at < abs_length(&self)) *rs_abs_at(&self, at) = v;
                if (owned) series::owner_signal(&self, change_word::put_ed, &v, at, 1);
            }
        } else {
            if (owned) series::owner_signal(&self, change_word::put, &v, at, 1);
            rs_append(&self, &v);
            if (owned) series::owner_signal(&self, change_word::put_ed, &v, at, 1);
        }
    }
    *stack::arguments = v;
    return stack::arguments;
}

cell_t* swap(cell_t* series1, cell_t* series2) {
    if (!series::block_kind_q(type_of(series2))) fire(err::invalid_arg, series2);
    cell_t a = *series1, b = *series2;
    if (rs_tail_q(&a) || rs_tail_q(&b)) return series1;
    series::signal_owner(&a, change_word::swap, &b, head_index(&a), 1);
    series::signal_owner(&b, change_word::swap, &a, head_index(&b), 1);
    if (!rs_tail_q(&a) && !rs_tail_q(&b)) {
        cell_t* x = rs_head(&a);
        cell_t t = *x;
        cell_t* y = rs_head(&b);
        *x = *y;
        *y = t;
        if (hash_type::hashed_q(&a)) hash_type::cells_replaced(&a, head_index(&a), 1);
        if (hash_type::hashed_q(&b)) hash_type::cells_replaced(&b, head_index(&b), 1);
    }
    series::signal_owner(&a, change_word::swaped, &b, head_index(&a), 1);
    series::signal_owner(&b, change_word::swaped, &a, head_index(&b), 1);
    return series1;
}

cell_t* take(cell_t* series, cell_t* part, bool deep, bool last) {
    cell_t* r = series::take(series, part, deep, last);
    if (!deep) return r;
    uint8_t t = type_of(r);
    if (part && series::block_kind_q(t)) deep_copy_cells(r, 0, abs_length(r), 1, true, nullptr);
    else if (!part && series::series_q(t)) actions::copy(r, r, nullptr, true, nullptr);
    return r;
}

cell_t* trim(cell_t* series, bool, bool, bool, bool, bool, cell_t*) {
    cell_t self = *series;
    int32_t total = abs_length(&self);
    int32_t h = std::clamp(head_index(&self), 0, total);
    bool owned = series::owned_q(&self);
    if (owned) series::owner_signal(&self, change_word::trim, nullptr, h, total - h);
    series_buffer_t* s = buffer_of(&self);
    total = s->used() >> 4;
    cell_t* base = s->head_cell();
    int32_t j = h;
    for (int32_t i = h; i < total; i++)
        if (type_of(base + i) != TYPE_none) base[j++] = base[i];
    s->tail = s->head + j * 16;
    if (owned) series::owner_signal(&self, change_word::trimmed, nullptr, h, total - h);
    return series;
}

cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types) {
    if (!deep && !types) return series::copy(value, result, part, false, nullptr);
    cell_t self = *value;
    // The result cell may be the argument that held the original.
    collector::root_cell keep(&self);
    node_t node = self.data2;
    if (deep && cycles::find_q(node)) fire(err::no_cycle);
    series::copy(&self, result, part, false, nullptr);
    collector::root_cell keep_result(result);  // callers may pass a C++ local
    if (type_of(&self) == TYPE_hash) cell::set_type(result, TYPE_block);
    if (!deep) {
        deep_copy_cells(result, 0, abs_length(result), 1, false, types);
        return result;
    }
    cycles::guard inside(node);
    deep_copy_cells(result, 0, abs_length(result), 1, true, types);
    library_code::inherit_library(&self, result);
    return result;
}

cell_t* make(cell_t*, cell_t* spec, int32_t type) {
    cell_t sp = *spec;
    uint8_t t = type_of(&sp);
    cell_t r;
    if (series::block_kind_q(t)) {
        r = *clone(&sp, false, false);
        stack::pop(1);
    } else if (t == TYPE_integer || t == TYPE_float_) {
        double n = t == TYPE_integer ? static_cast<int32_t>(sp.data2) : cell::get_float(&sp);
        int32_t capacity = !(n >= 1)       ? 1
                           : n > MAX_CELLS ? static_cast<int32_t>(MAX_CELLS)
                                           : static_cast<int32_t>(n);
        r = *push_only_star(capacity);
        stack::pop(1);
    } else if (t == TYPE_object || t == TYPE_map) {
        r = *actions::reflect(&sp, static_cast<int32_t>(words::symbol_of(words::id::body)));
    } else if (t == TYPE_vector) {
        vector::to_block(&sp, stack::arguments);
        r = *stack::arguments;
    } else {
        cell_t dt = datatype_cell(type);
        fire(err::bad_make_arg, &dt, spec);
    }
    r.header = static_cast<uint32_t>(type);
    *stack::arguments = r;
    return stack::arguments;
}

cell_t* to(cell_t* proto, cell_t* spec, int32_t type) {
    cell_t sp = *spec;
    uint8_t t = type_of(&sp);
    cell_t r;
    if (t == TYPE_object || t == TYPE_map || series::block_kind_q(t) || t == TYPE_integer ||
        t == TYPE_float_) {
        if (t == TYPE_integer || t == TYPE_float_) {
            r = *push_only_star(1);
            stack::pop(1);
            rs_append(&r, &sp);
        } else return make(proto, spec, type);
    } else if (t == TYPE_typeset) {
        typeset::to_block(&sp, stack::arguments);
        r = *stack::arguments;
    } else if (t == TYPE_vector) {
        vector::to_block(&sp, stack::arguments);
        r = *stack::arguments;
    } else if (t == TYPE_string) {
        r.header = TYPE_unset;
        collector::root_cell keep(&r);
        lexer::scan_string(&r, &sp, -1, {}, nullptr, nullptr, nullptr);
    } else {
        r = *push_only_star(1);
        rs_append(&r, &sp);
        stack::pop(1);
    }
    r.header = static_cast<uint32_t>(type);
    *stack::arguments = r;
    return stack::arguments;
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*, cell_t*,
                  int32_t, bool case_, bool, bool, bool) {
    bool integer = type_of(element) == TYPE_integer;
    int32_t n = static_cast<int32_t>(element->data2);
    if (value == nullptr) {
        if (integer) return actions::typed<ACT_pick>(parent)(parent, n, element);
        if (type_of(element) == TYPE_word && type_of(parent) != TYPE_hash)
            return select_word(parent, element, false);
        return actions::select(parent, element, {.case_ = case_});
    }
    if (integer) return actions::typed<ACT_poke>(parent)(parent, n, element, value);
    cell_t found = *actions::find(parent, element, {.case_ = case_});
    if (type_of(&found) == TYPE_none) fire(err::bad_path_set, path, element);
    cell_t two{TYPE_integer, 0, 2, 0};
    return actions::typed<ACT_poke>(&found)(&found, 2, &two, value);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    uint8_t t1 = type_of(value1), t2 = type_of(value2);
    if (t1 != t2) {
        bool paths =
            (t1 == TYPE_path && t2 == TYPE_lit_path) || (t1 == TYPE_lit_path && t2 == TYPE_path);
        if (!(paths && (op == actions::cmp::FIND_LIT || op == actions::cmp::FIND_LIT_NOCASE)))
            return -2;
    }
    if (value1->data2 == value2->data2 && head_index(value1) == head_index(value2)) return 0;
    if (op == actions::cmp::SAME) return -1;
    if (cycles::find_q(value1->data2)) return cycles::find_q(value2->data2) ? 0 : -1;
    cell_t a = *value1, b = *value2;
    int32_t la = rs_length_q(&a), lb = rs_length_q(&b);
    if (la != lb && (op <= 2 || op == 10 || op == 11 || op == 12)) return 1;
    cycles::guard ga(a.data2);
    cycles::guard gb(b.data2);
    int32_t n = std::min(la, lb);
    for (int32_t i = 0; i < n; i++) {
        // Copies: comparing may allocate (a nested compare of texts), which
        // may move both buffers.
        cell_t x = *rs_abs_at(&a, head_index(&a) + i), y = *rs_abs_at(&b, head_index(&b) + i);
        uint8_t tx = type_of(&x), ty = type_of(&y);
        if (tx != ty && !(word_kind_q(tx) && word_kind_q(ty)) && !(number_q(tx) && number_q(ty)))
            return tx < ty ? -1 : 1;
        int32_t r = actions::typed<ACT_compare>(&x)(&x, &y, op);
        if (r != 0) return r;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    if (cycles::detect_q(value, buffer, &limit, false)) return limit;
    cell_t self = *value;
    cycles::guard inside(self.data2);
    int32_t h = std::max(0, head_index(&self));
    for (int32_t i = h; i < abs_length(&self); i++) {
        cell_t c = *rs_abs_at(&self, i);
        limit = actions::form(&c, buffer, part, limit);
        if (part && limit < 1) break;
        if (i + 1 < abs_length(&self)) {
            uint32_t last = last_char(buffer);
            if (last != '\t' && last != '\n' && last != '\r') limit = emit(buffer, " ", limit);
        }
    }
    return limit;
}

int32_t mold_delimited(cell_t* value, cell_t* buffer, const char* open, const char* close,
                       mold_options_t how) {
    if (cycles::detect_q(value, buffer, &how.limit, true)) return how.limit;
    if (!how.only) how.limit = emit(buffer, open, how.limit);
    cell_t self = *value;
    bool on_new_line = false, stopped = false;
    {
        cycles::guard inside(self.data2);
        int32_t h = std::max(0, head_index(&self));
        for (int32_t i = h; i < abs_length(&self); i++) {
            if (how.part && how.limit < 1) {
                stopped = true;
                break;
            }
            cell_t c = *rs_abs_at(&self, i);
            bool first = i == h;
            depth_count level;
            if (!how.flat && (c.header & FLAG_NEW_LINE)) {
                if (first && !how.only) {
                    how.indent++;
                    on_new_line = true;
                }
                if (!(first && how.only)) how.limit = emit_line(buffer, how.indent, how.limit);
            } else if (!first) {
                how.limit = emit(buffer, " ", how.limit);
            }
            how.limit = actions::mold(&c, buffer, how.inner());
        }
    }
    if (on_new_line && !stopped) how.limit = emit_line(buffer, how.indent - 1, how.limit);
    if (!how.only) how.limit = emit(buffer, close, how.limit);
    return how.limit;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return mold_delimited(value, buffer, "[", "]", how);
}

void init() {
    datatype::record_t r(TYPE_block, TYPE_series, "block!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.own<ACT_append>(insert);
    r.own<ACT_change>(change);
    r.own<ACT_copy>(copy);
    r.own<ACT_insert>(insert);
    r.own<ACT_put>(put);
    r.own<ACT_swap>(swap);
    r.own<ACT_take>(take);
    r.own<ACT_trim>(trim);
    r.own<ACT_find>(find);
    r.own<ACT_select>(select);
    r.own<ACT_sort>(sort);
    r.inherit_range(2, 3);
    r.inherit_range(26, 27);
    r.inherit({29});
    r.inherit_range(32, 34);
    r.inherit_range(36, 40);
    r.inherit_range(42, 43);
    r.inherit({46, 48, 49, 55});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace block

namespace paren {

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return block::mold_delimited(value, buffer, "(", ")", how);
}

void init() {
    datatype::record_t r(TYPE_paren, TYPE_block, "paren!");
    r.own<ACT_mold>(mold);
    r.inherit_range(1, 5);
    r.inherit({7, 9, 55});
    r.inherit_range(25, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

cell_t* push(const cell_t* value) {
    cell_t* c = stack::push(value);
    c->header = TYPE_paren;
    return c;
}

}  // namespace paren
}  // namespace zuv
