#include "datatypes/map.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::map {

namespace {

using actions::cmp::EQUAL;
using actions::cmp::SAME;
using actions::cmp::STRICT_EQUAL;

inline cell_t* entries(node_t block) { return alloc::buffer(block)->head_cell(); }
inline int32_t cell_count(node_t block) { return alloc::buffer(block)->used() >> 4; }
inline bool removed_q(const cell_t* value_cell) { return value_cell->header == 0; }
inline cell_t block_cell(node_t block) { return cell_t{TYPE_block, 0, block, 0}; }

cell_t* write_map(cell_t* cell, node_t block, node_t table) {
    cell::begin(cell);
    cell->data1 = 0;
    cell->data2 = block;
    cell->data3 = table;
    cell->header = TYPE_map;
    return cell;
}

// The key a lookup compares stored keys with: word kinds are stored as
// set-words.
cell_t lookup_key(const cell_t* key) {
    cell_t k = *key;
    uint8_t t = type_of(&k);
    if (t == TYPE_word || t == TYPE_lit_word || t == TYPE_get_word)
        cell::set_type(&k, TYPE_set_word);
    return k;
}

// The key cell of an entry for key under the comparison code, a live entry
// preferred to a removed one (case variants can be both); nullptr when the
// key was never stored.
cell_t* find_entry(const cell_t* map, const cell_t* key, int32_t code) {
    node_t table = table_of(map);
    uint8_t kt = type_of(key);
    cell_t* found;
    if ((kt == TYPE_word || kt == TYPE_set_word || kt == TYPE_lit_word || kt == TYPE_get_word) &&
        (code == EQUAL || code == STRICT_EQUAL)) [[likely]]
        found = hashtable::find_map_word(table, word::symbol_of(key), code == STRICT_EQUAL);
    else found = hashtable::get(table, key, 0, 1, code, false, false);
    if (!found || !removed_q(found + 1) || code == SAME) return found;
    int32_t offset = static_cast<int32_t>(found - entries(block_of(map)));
    cell_t k = lookup_key(key);
    int32_t bucket = -1, start = 0, step = 0;
    while (cell_t* c = hashtable::get_next(table, &k, &bucket, &start, &step)) {
        if (!removed_q(c + 1) && actions::compare(c, &k, code)) return c;
    }
    return entries(block_of(map)) + offset;
}

// Drops removed entries from the block and re-enters the live keys, when
// enough have piled up that the table would otherwise grow for them.
void compact_if_due(const cell_t* map) {
    node_t table = table_of(map);
    hashtable_t* t = hashtable::record(table);
    node_t block = block_of(map);
    int32_t count = cell_count(block) / 2;
    int32_t removed = count - t->alive;
    if (t->occupied < t->bound || removed == 0 || removed < t->alive / 2) return;
    cell_t* cells = entries(block);
    int32_t w = 0;
    for (int32_t r = 0; r < count; r++) {
        if (removed_q(cells + 2 * r + 1)) continue;
        if (w != r) std::memcpy(cells + 2 * w, cells + 2 * r, 2 * sizeof(cell_t));
        w++;
    }
    series_buffer_t* s = alloc::buffer(block);
    s->tail = s->head + w * 32;
    hashtable::clear(table);
    for (int32_t e = 0; e < w; e++) hashtable::put(table, entries(block) + 2 * e);
}

// Appends a new entry (key prepared already) and indexes it; answers the
// value cell's index.
int32_t append_entry(cell_t* map, const cell_t* key) {
    compact_if_due(map);
    node_t block = block_of(map);
    cell_t bc = block_cell(block);
    cell_t* k = alloc::alloc_tail_value(&bc);
    *k = *key;
    cell::clear_new_line(k);
    cell_t* v = alloc::alloc_tail_value(&bc);
    *v = cell_t{TYPE_unset, 0, 0, 0};
    int32_t position = cell_count(block) - 2;
    hashtable::put(table_of(map), entries(block) + position);
    return position + 1;
}

[[noreturn]] void fire_bad_key(const cell_t* key, const cell_t* accessed) {
    cell_t t{};
    datatype::make_at(&t, type_of(key));
    fire(err::invalid_path, &t, accessed);
}

int32_t write_indent(cell_t* buffer, int32_t level, int32_t limit) {
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return limit - 4 * level;
}

int32_t size_of(const cell_t* spec) {
    if (type_of(spec) == TYPE_integer) return integer::get(spec);
    double d = float_::get(spec);
    if (!std::isfinite(d) || d >= 2147483648.0 || d <= -2147483649.0) fire(err::out_of_range, spec);
    return static_cast<int32_t>(d);
}

}  // namespace

// --- making --------------------------------------------------------------------------

cell_t* make_at(cell_t* cell, const cell_t* block, int32_t capacity) {
    node_t node;
    if (block) {
        node = block->data2;
        if (block->data1 != 0) {
            // The entries start at the buffer's first cell: copy from the head.
            cell_t b = *block;
            int32_t n = block::rs_length_q(&b);
            node = alloc::alloc_cells(std::max(n, 1));
            std::memcpy(entries(node), block::rs_head(&b), static_cast<size_t>(n) * sizeof(cell_t));
            alloc::buffer(node)->tail = alloc::buffer(node)->head + n * 16;
        }
    } else {
        node = alloc::alloc_cells(std::max<int64_t>(2, int64_t{capacity} * 2));
    }
    collector::root_node keep(node);
    int32_t entries_expected = std::max(block ? cell_count(node) / 2 : capacity, 1);
    // The table is made empty (entering starts at the tail) and rooted before
    // the keys go in: preparing them allocates.
    cell_t bc{TYPE_block, static_cast<uint32_t>(cell_count(node)), node, 0};
    node_t table = hashtable::init(entries_expected, &bc, hashtable::KIND_MAP, 0);
    collector::root_node keep_table(table, true);
    hashtable::add_block(table, 0, 2);
    return write_map(cell, node, table);
}

cell_t* push(const cell_t* map) { return stack::push(map); }

int32_t table_word(const cell_t* map) { return hashtable::record(table_of(map))->alive; }

bool valid_key_q(int32_t type) {
    switch (type) {
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_char_:
    case TYPE_integer:
    case TYPE_float_:
    case TYPE_word:
    case TYPE_set_word:
    case TYPE_lit_word:
    case TYPE_get_word:
    case TYPE_refinement:
    case TYPE_issue:
    case TYPE_pair:
    case TYPE_percent:
    case TYPE_tuple:
    case TYPE_binary:
    case TYPE_time:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_date:
    case TYPE_money:
    case TYPE_ref:
    case TYPE_point2d:
    case TYPE_point3d: return true;
    default: return false;
    }
}

namespace {

inline bool series_key_q(uint8_t t) {
    return t == TYPE_string || t == TYPE_file || t == TYPE_url || t == TYPE_binary ||
           t == TYPE_tag || t == TYPE_email || t == TYPE_ref;
}

// key (a series kind) becomes a copy of its text from its head.
void copy_key_series(cell_t* key) {
    series_buffer_t* s = alloc::buffer(key->data2);
    int32_t unit = static_cast<int32_t>(s->unit());
    int32_t length = std::max(0, s->used() / unit - static_cast<int32_t>(key->data1));
    node_t copy = alloc::copy_string_part(key->data2, static_cast<int32_t>(key->data1), length);
    key->data1 = 0;
    key->data2 = copy;
    key->data3 = 0;
}

}  // namespace

void preprocess_key(cell_t* key, const cell_t* accessed) {
    uint8_t t = type_of(key);
    // A copy, so that changing the caller's string later leaves the key as it was.
    if (series_key_q(t)) return copy_key_series(key);
    switch (t) {
    case TYPE_word:
    case TYPE_lit_word:
    case TYPE_get_word: cell::set_type(key, TYPE_set_word); return;
    default:
        if (!valid_key_q(t)) fire_bad_key(key, accessed);
    }
}

void hand_out_key(cell_t* key) {
    cell::clear_new_line(key);
    uint8_t t = type_of(key);
    if (t == TYPE_set_word) cell::set_type(key, TYPE_word);
    else if (series_key_q(t)) copy_key_series(key);
}

void preprocess_key_at(node_t block, int32_t position) {
    cell_t key = entries(block)[position];
    collector::root_cell keep(&key);
    preprocess_key(&key, &key);
    uint32_t flags = entries(block)[position].header & FLAG_NEW_LINE;
    entries(block)[position] = key;
    entries(block)[position].header = (key.header & ~FLAG_NEW_LINE) | flags;
}

// --- lookups and stores ---------------------------------------------------------------

cell_t* find_value(cell_t* map, const cell_t* key, int32_t code) {
    cell_t* k = find_entry(map, key, code);
    if (!k || removed_q(k + 1)) return nullptr;
    return k + 1;
}

void put_value(cell_t* map, cell_t* key, cell_t* value, bool case_) {
    cell_t v = *value;
    collector::root_cell keep_value(&v);
    cell_t* found = find_entry(map, key, case_ ? STRICT_EQUAL : EQUAL);
    if (found) {
        if (removed_q(found + 1)) hashtable::record(table_of(map))->alive++;
        found[1] = v;
        cell::clear_new_line(found + 1);
        return;
    }
    cell_t k = *key;
    collector::root_cell keep_key(&k);
    preprocess_key(&k, key);
    int32_t at = append_entry(map, &k);
    entries(block_of(map))[at] = v;
    cell::clear_new_line(entries(block_of(map)) + at);
}

void put_integer(cell_t* map, const cell_t* key, const cell_t* value) {
    node_t table = table_of(map);
    hashtable::free_bucket_t room;
    if (cell_t* found = hashtable::find_map_integer(table, integer::get(key), &room)) {
        if (removed_q(found + 1)) hashtable::record(table)->alive++;
        found[1] = *value;
        cell::clear_new_line(found + 1);
        return;
    }
    hashtable_t* t = hashtable::record(table);
    if (room.bucket < 0 || t->occupied >= t->bound) [[unlikely]] {
        // The table grows (and may drop removed entries first): the general way.
        cell_t k = *key, v = *value;
        collector::root_cell keep(&v);
        put_value(map, &k, &v, false);
        return;
    }
    cell_t pair[2] = {*key, *value};  // the caller keeps value's series alive
    cell::clear_new_line(&pair[0]);
    cell::clear_new_line(&pair[1]);
    node_t block = block_of(map);
    series_buffer_t* s = alloc::buffer(block);
    uint8_t* at;
    if (s->tail + static_cast<int32_t>(sizeof pair) <= s->size) [[likely]] {
        at = s->tail_ptr();
        s->tail += static_cast<int32_t>(sizeof pair);
    } else {
        at = alloc::alloc_tail_unit(s, static_cast<int32_t>(sizeof pair));
        s = alloc::buffer(block);
    }
    std::memcpy(at, pair, sizeof pair);
    hashtable::enter_map_integer(table, room, s->used() / static_cast<int32_t>(sizeof(cell_t)) - 2);
}

cell_t* extend(cell_t* map, cell_t* block, bool case_) {
    cell_t b = *block;
    collector::root_cell keep(&b);
    int32_t n = block::rs_length_q(&b);
    if (n % 2 != 0) fire(err::invalid_arg, block);
    int32_t head = block::head_index(&b);
    for (int32_t i = 0; i < n; i += 2) {
        cell_t k = *block::rs_abs_at(&b, head + i);
        cell_t v = *block::rs_abs_at(&b, head + i + 1);
        collector::root_cell kk(&k);
        collector::root_cell kv(&v);
        put_value(map, &k, &v, case_);
    }
    return map;
}

bool foreach_next(cell_t* map, cell_t* words, int32_t count, int32_t* position) {
    cell_t w = *words;
    cell_t* first = block::rs_head(&w);
    for (int32_t i = 0; i < count; i++) {
        uint8_t t = type_of(first + i);
        if (t != TYPE_word && t != TYPE_set_word && t != TYPE_lit_word && t != TYPE_get_word)
            fire(err::invalid_arg, first + i);
    }
    node_t block = block_of(map);
    int32_t total = cell_count(block);
    int32_t p = *position;
    bool set = false;
    for (int32_t i = 0; i < count; i++) {
        while (p < total && removed_q(entries(block) + p + 1 - (p & 1))) p += 2 - (p & 1);
        cell_t value = p < total ? entries(block)[p] : cell_t{TYPE_none, 0, 0, 0};
        collector::root_cell keep(&value);
        if (p < total) {
            if ((p & 1) == 0) hand_out_key(&value);
            cell::clear_new_line(&value);
            p++;
            set = true;
        }
        cell_t word = block::rs_head(&w)[i];
        _context::set(&word, &value);
        total = cell_count(block);
    }
    *position = p;
    return set;
}

// --- text --------------------------------------------------------------------------------

int32_t mold_pairs(cell_t* map, cell_t* buffer, mold_options_t how, bool mold) {
    node_t block = block_of(map);
    bool first = true;
    for (int32_t p = 0; p + 1 < cell_count(block); p += 2) {
        if (removed_q(entries(block) + p + 1)) continue;
        if (!first) {
            if (!mold || how.only || how.flat) {
                string::append_char(buffer, (mold && how.flat) ? ' ' : '\n');
                how.limit--;
            }
        }
        if (mold && !how.only && !how.flat)
            how.limit = write_indent(buffer, how.indent + 1, how.limit);
        cell_t key = entries(block)[p];
        cell::clear_new_line(&key);
        // A key stored as a set-word reads back from a lit-word as well: the
        // one to write when its set-word text does not load (=: does not).
        if (mold && type_of(&key) == TYPE_set_word &&
            !word::molds_loadably_q(word::symbol_of(&key), TYPE_set_word) &&
            word::molds_loadably_q(word::symbol_of(&key), TYPE_lit_word))
            cell::set_type(&key, TYPE_lit_word);
        how.limit = actions::mold(&key, buffer, how.inner().deeper());
        string::append_char(buffer, ' ');
        how.limit--;
        cell_t value = entries(block)[p + 1];
        cell::clear_new_line(&value);
        how.limit = actions::mold(&value, buffer, how.inner().deeper());
        if (mold && !how.only && !how.flat) {
            string::append_char(buffer, '\n');
            how.limit--;
        }
        first = false;
        if (how.part && how.limit <= 0) break;
    }
    return how.limit;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    if (cycles::detect_q(value, buffer, &limit, false)) return limit;
    cycles::guard g(block_of(value));
    return mold_pairs(value, buffer, {.part = part, .limit = limit}, false);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (cycles::detect_q(value, buffer, &how.limit, true)) return how.limit;
    cycles::guard g(block_of(value));
    if (!how.only) {
        string::concatenate_literal(buffer, "#[");
        how.limit -= 2;
        if (!how.flat && table_word(value) > 0) {
            string::append_char(buffer, '\n');
            how.limit--;
        }
    }
    int32_t before = how.limit;
    how.limit = mold_pairs(value, buffer, how, true);
    if (!how.only) {
        if (before != how.limit && how.indent >= 1 && !how.flat)
            how.limit = write_indent(buffer, how.indent, how.limit);
        string::append_char(buffer, ']');
        how.limit--;
    }
    return how.limit;
}

// --- action entries --------------------------------------------------------------------------

namespace {

cell_t* make_from(cell_t* spec, int32_t type, bool conversion) {
    cell_t* result = stack::arguments;
    switch (type_of(spec)) {
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        cell_t b = *spec;
        int32_t n = block::rs_length_q(&b);
        if (n % 2 != 0) fire(err::invalid_arg, spec);
        node_t node = alloc::alloc_cells(std::max(n, 2));
        cell_t* from = block::rs_head(&b);
        cell_t* to = entries(node);
        std::memcpy(to, from, static_cast<size_t>(n) * sizeof(cell_t));
        for (int32_t i = 0; i < n; i++) cell::clear_new_line(to + i);
        alloc::buffer(node)->tail = alloc::buffer(node)->head + n * 16;
        cell_t bc = block_cell(node);
        cell_t m;
        make_at(&m, &bc, 0);
        *result = m;
        return result;
    }
    case TYPE_integer:
    case TYPE_float_: {
        if (conversion) integer::fire_bad_to_arg(type, spec);
        int32_t size = size_of(spec);
        if (size < 0) fire(err::out_of_range, spec);
        cell_t m;
        make_at(&m, nullptr, size);
        *result = m;
        return result;
    }
    case TYPE_map: {
        cell_t source = *spec;
        return copy(&source, result, nullptr, false, nullptr);
    }
    default: integer::fire_bad_to_arg(type, spec);
    }
}

}  // namespace

cell_t* make(cell_t*, cell_t* spec, int32_t type) { return make_from(spec, type, false); }
cell_t* to(cell_t*, cell_t* spec, int32_t type) { return make_from(spec, type, true); }

cell_t live_block(const cell_t* map, bool keys, bool values) {
    cell_t m = *map;
    collector::root_cell keep_map(&m);
    node_t block = block_of(&m);
    int32_t live = table_word(&m);
    bool body = keys && values;
    cell_t out;
    block::make_at(&out, std::max(1, body ? 2 * live : live));
    collector::root_cell keep(&out);
    for (int32_t p = 0; p + 1 < cell_count(block); p += 2) {
        if (removed_q(entries(block) + p + 1)) continue;
        if (keys) {
            cell_t k = entries(block)[p];
            collector::root_cell keep_key(&k);
            hand_out_key(&k);
            if (body) k.header |= FLAG_NEW_LINE;
            block::rs_append(&out, &k);
        }
        if (values) {
            cell_t v = entries(block)[p + 1];
            cell::clear_new_line(&v);
            block::rs_append(&out, &v);
        }
    }
    return out;
}

cell_t* reflect(cell_t* value, int32_t field) {
    int32_t f = symbol::resolve(field);
    auto is = [f](words::id w) {
        return f == symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
    };
    bool keys = is(words::id::words), values = is(words::id::values), body = is(words::id::body);
    if (!keys && !values && !body) fire(err::not_done);
    cell_t out = live_block(value, keys || body, values || body);
    cell_t* result = stack::arguments;
    *result = out;
    return result;
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t*, cell_t*, cell_t*,
                  int32_t, bool case_, bool, bool, bool) {
    if (!value) {
        cell_t* v = find_value(parent, element, case_ ? STRICT_EQUAL : EQUAL);
        if (!v) return none::push();
        return stack::push(v);
    }
    put_value(parent, element, value, case_);
    return value;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_map) return -2;
    if (op == actions::cmp::SORT || op == actions::cmp::SORT_CASE) {
        // Node handles never change, unlike buffer addresses: a stable order.
        node_t a = block_of(value1), b = block_of(value2);
        return (a > b) - (a < b);
    }
    if (op >= actions::cmp::LESSER && op <= actions::cmp::GREATER_EQUAL) return -2;
    if (block_of(value1) == block_of(value2)) return 0;
    if (op == SAME) return -1;
    if (cycles::find_q(block_of(value1))) return cycles::find_q(block_of(value2)) ? 0 : -1;
    int32_t n1 = table_word(value1), n2 = table_word(value2);
    if (n1 != n2) {
        if (op == EQUAL || op == actions::cmp::NOT_EQUAL || op == STRICT_EQUAL ||
            op == actions::cmp::FIND)
            return 1;
        return n1 < n2 ? -1 : 1;
    }
    if (n1 == 0) return 0;
    cell_t m1 = *value1, m2 = *value2;
    cycles::guard g1(block_of(&m1));
    cycles::guard g2(block_of(&m2));
    node_t block = block_of(&m1);
    for (int32_t p = 0; p + 1 < cell_count(block); p += 2) {
        if (removed_q(entries(block) + p + 1)) continue;
        cell_t key = entries(block)[p];
        cell_t val = entries(block)[p + 1];
        if (op == STRICT_EQUAL) {
            cell_t* other = find_value(&m2, &key, STRICT_EQUAL);
            if (!other) return 1;
            cell_t ov = *other;
            if (actions::compare_value(&val, &ov, STRICT_EQUAL) != 0) return 1;
            continue;
        }
        bool matched = false;
        int32_t bucket = -1, start = 0, step = 0;
        while (cell_t* k = hashtable::get_next(table_of(&m2), &key, &bucket, &start, &step)) {
            if (removed_q(k + 1)) continue;
            cell_t ov = k[1];
            if (actions::compare_value(&val, &ov, op == actions::cmp::NOT_EQUAL ? EQUAL : op) ==
                0) {
                matched = true;
                break;
            }
        }
        if (!matched) return 1;
    }
    return 0;
}

cell_t* clear(cell_t* value) {
    hashtable::clear(table_of(value));
    series_buffer_t* s = alloc::buffer(block_of(value));
    s->tail = s->head;
    return value;
}

cell_t* copy(cell_t* value, cell_t* result, cell_t*, bool deep, cell_t* types) {
    cell_t source = *value;
    node_t from = block_of(&source);
    if (deep && cycles::find_q(from)) fire(err::no_cycle);
    node_t block = alloc::copy_series(alloc::buffer(from));
    collector::root_node keep(block);
    if (deep || types) {
        cycles::guard g(from);
        cell_t bc = block_cell(block);
        block::copy_nested(&bc, 0, cell_count(block), 1, deep, types);
    }
    node_t table = hashtable::copy(table_of(&source), block);
    return write_map(result, block, table);
}

cell_t* find(cell_t* series, cell_t* value, const find_options_t& how) {
    cell_t* k = find_entry(series, value, how.same ? SAME : how.case_ ? STRICT_EQUAL : EQUAL);
    if (!k || removed_q(k + 1)) return none::push();
    cell_t* key = stack::push(k);
    hand_out_key(key);
    return key;
}

cell_t* select(cell_t* series, cell_t* value, const select_options_t& how) {
    cell_t* v = find_value(series, value, how.same ? SAME : how.case_ ? STRICT_EQUAL : EQUAL);
    if (!v) return none::push();
    return stack::push(v);
}

int32_t length_q(cell_t* value) { return table_word(value); }

cell_t* put(cell_t* series, cell_t* key, cell_t* value, bool case_) {
    put_value(series, key, value, case_);
    return value;
}

cell_t* remove(cell_t* series, cell_t*, cell_t* key) {
    if (!key) fire(err::missing_arg);
    // Found the way put and select find keys, so whatever can be put can be removed.
    cell_t* k = find_entry(series, key, EQUAL);
    if (k && !removed_q(k + 1)) hashtable::delete_(table_of(series), k);
    return series;
}

void init() {
    datatype::record_t r(TYPE_map, 0, "map!");
    r.own<ACT_make>(make);
    r.own<ACT_reflect>(reflect);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.own<ACT_clear>(clear);
    r.own<ACT_copy>(copy);
    r.own<ACT_find>(find);
    r.own<ACT_length_q>(length_q);
    r.own<ACT_put>(put);
    r.own<ACT_remove>(remove);
    r.own<ACT_select>(select);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::map
