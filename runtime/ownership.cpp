#include "runtime/ownership.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "runtime/alloc.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"

namespace zuv::ownership {
namespace {

node_t table = 0;

bool block_kind(uint8_t t) {
    return t == TYPE_block || t == TYPE_paren || t == TYPE_hash ||
           (t >= TYPE_path && t <= TYPE_get_path);
}

// Types whose key is the series node (data word 2) and whose buffer carries
// the owned mark.
bool series_kind(uint8_t t) {
    return block_kind(t) || t == TYPE_string || t == TYPE_file || t == TYPE_url || t == TYPE_tag ||
           t == TYPE_email || t == TYPE_ref || t == TYPE_binary || t == TYPE_vector;
}

int32_t key_of(const cell_t* value) {
    return static_cast<int32_t>(type_of(value) == TYPE_object ? value->data1 : value->data2);
}

// Tests and sets the owned mark; answers whether it was set before. An
// image marks the series of its node record; one without a bitmap cannot
// change, so it counts as marked.
bool test_and_mark(const cell_t* value) {
    if (type_of(value) == TYPE_image && value->data2 == 0) return true;
    series_buffer_t* s = alloc::buffer(value->data2);
    bool was = (s->flags & series_flag::OWNED) != 0;
    s->flags |= series_flag::OWNED;
    return was;
}

void record(const cell_t* value, const cell_t* owner, const cell_t* word) {
    // The three cells are copied first: putting the key may move buffers.
    cell_t v = *value, o = *owner, w = *word;
    cell_t* slots = hashtable::put_int_key(table, key_of(&v));
    slots[0] = v;
    slots[1] = o;
    slots[2] = w;
}

bool owner_object_q(const cell_t* value) {
    return (_context::cell_of(value->data1)->header & FLAG_OWNER) != 0;
}

void set_owner_in(cell_t* value, const cell_t* owner, const cell_t* word) {
    uint8_t t = type_of(value);
    if (series_kind(t) || t == TYPE_image || t == TYPE_bitset) {
        if (test_and_mark(value)) return;
        record(value, owner, word);
        if (!block_kind(t)) return;
        node_t node = value->data2;
        if (cycles::find_q(node)) return;
        cycles::guard g(node);
        // Cells are read through the node each time: a nested set_owner may
        // move this buffer.
        for (int32_t i = static_cast<int32_t>(value->data1);; i++) {
            series_buffer_t* s = alloc::buffer(node);
            if (i >= s->used() / 16) break;
            cell_t item = s->head_cell()[i];
            set_owner_in(&item, owner, word);
        }
    } else if (t == TYPE_object) {
        node_t ctx = value->data1;
        if (owner_object_q(value) || cycles::find_q(ctx)) return;
        cycles::guard g(ctx);
        int32_t n = object::word_count(value);
        for (int32_t i = 0; i < n; i++) {
            cell_t item = _context::value_at(ctx, i)[0];
            if (type_of(&item) == TYPE_object && item.data1 == owner->data1) continue;
            cell_t field_word = _context::field_word(ctx, i);
            set_owner_in(&item, owner, &field_word);
        }
    }
}

void unset_owner_in(cell_t* value) {
    uint8_t t = type_of(value);
    if (series_kind(t) || t == TYPE_bitset || (t == TYPE_image && value->data2 != 0)) {
        alloc::buffer(value->data2)->flags &= ~series_flag::OWNED;
        cell_t* slots = hashtable::get_int_key(table, key_of(value));
        if (slots == nullptr) return;
        for (int32_t i = 0; i < ENTRY_VALUES; i++) slots[i] = cell_t{TYPE_unset, 0, 0, 0};
        hashtable::delete_int_key(table, key_of(value));
        if (!block_kind(t)) return;
        node_t node = value->data2;
        for (int32_t i = static_cast<int32_t>(value->data1);; i++) {
            series_buffer_t* s = alloc::buffer(node);
            if (i >= s->used() / 16) break;
            cell_t item = s->head_cell()[i];
            unset_owner_in(&item);
        }
    } else if (t == TYPE_object) {
        node_t ctx = value->data1;
        if (owner_object_q(value) || cycles::find_q(ctx)) return;
        cycles::guard g(ctx);
        int32_t n = object::word_count(value);
        for (int32_t i = 0; i < n; i++) {
            cell_t item = _context::value_at(ctx, i)[0];
            unset_owner_in(&item);
        }
    }
}

}  // namespace

void init() {
    table = hashtable::init(INITIAL_ENTRIES, nullptr, hashtable::KIND_OWNERSHIP, ENTRY_VALUES);
}

void set_owner(const cell_t* value, const cell_t* owner, const cell_t* word) {
    cell_t v = *value;
    set_owner_in(&v, owner, word);
}

void bind(const cell_t* value, const cell_t* owner, const cell_t* word) {
    // An owner skips its own fields when it is met inside another value, but
    // binding it to itself claims them: `make` from a prototype that has an
    // on-deep-change* binds the copy before the block given to make sets
    // the fields, and again after.
    if (type_of(value) == TYPE_object && value->data1 == owner->data1)
        _context::cell_of(owner->data1)->header &= ~FLAG_OWNER;
    set_owner(value, owner, word);
    _context::cell_of(owner->data1)->header |= FLAG_OWNER;
}

void unset_owner(const cell_t* value) {
    cell_t v = *value;
    unset_owner_in(&v);
}

cell_t* get_owner(node_t node) {
    if (table == 0) return nullptr;
    cell_t* slots = hashtable::get_int_key(table, static_cast<int32_t>(node));
    return slots ? slots + 1 : nullptr;
}

bool owned_q(const cell_t* value) {
    uint8_t t = type_of(value);
    if (t == TYPE_image && value->data2 == 0) return false;
    if (series_kind(t) || t == TYPE_bitset || t == TYPE_image)
        return (alloc::buffer(value->data2)->flags & series_flag::OWNED) != 0;
    return false;
}

bool check(const cell_t* target, words::id action, const cell_t* new_value, int32_t index,
           int32_t part) {
    // A series nobody owns carries no mark: one flag test and done.
    uint8_t t = type_of(target);
    if (t != TYPE_object && !owned_q(target)) return false;
    return check_slow(target, action, new_value, index, part);
}

bool check_slow(const cell_t* target, words::id action, const cell_t* new_value, int32_t index,
                int32_t part) {
    if (table == 0) return false;
    cell_t* slots = hashtable::get_int_key(table, key_of(target));
    if (slots == nullptr || slots[1].data3 == 0) return false;
    cell_t owner = slots[1], word = slots[2], subject = *target;
    cell_t action_word = words::word(action);
    object::fire_on_deep_change(&owner, &word, &subject, &action_word, new_value, index, part);
    return true;
}

int32_t count() { return table == 0 ? 0 : hashtable::record(table)->alive; }

node_t table_node() { return table; }

}  // namespace zuv::ownership
