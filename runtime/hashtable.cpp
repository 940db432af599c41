#include "runtime/hashtable.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/map.h"
#include "datatypes/symbol.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/hash.h"
#include "runtime/stack.h"

namespace zuv::hashtable {

namespace {

constexpr int32_t MOVE_LIMIT = 30000;
constexpr uint32_t NO_INDEX = 0xFFFFFFFFu;

// --- the arrays beside the record ---------------------------------------------
// All are re-read through their nodes: anything that allocates may move them.

// Each bucket is two words: its key (a position, chain or entry offset) and
// the key's hash, which doubles as the bucket's state (0 empty, 1 deleted; a
// live hash is folded to 2 or more). Probes compare hashes before they touch
// a key's cell, so a non-matching bucket costs no read of the block, and
// growth rehashes without reading any key.
struct slot_t {
    int32_t key;
    uint32_t hash;
};
constexpr uint32_t SLOT_EMPTY = 0, SLOT_DELETED = 1;

// Every probe starts from a folded hash, so the stored hash also gives the
// bucket when the table grows.
inline uint32_t fold(uint32_t h) { return h < 2 ? h + 2 : h; }

inline slot_t* slots(const hashtable_t* t) {
    return reinterpret_cast<slot_t*>(alloc::buffer(t->keys)->data());
}
inline cell_t* block_cells(const hashtable_t* t) { return alloc::buffer(t->block)->head_cell(); }
inline int32_t block_length(const hashtable_t* t) { return alloc::buffer(t->block)->used() / 16; }

inline uint32_t state(const slot_t* slot, int32_t i) {
    uint32_t h = slot[i].hash;
    return h == SLOT_EMPTY ? BUCKET_EMPTY : h == SLOT_DELETED ? BUCKET_DELETED : BUCKET_LIVE;
}
inline void set_live(slot_t* slot, int32_t i, int32_t key, uint32_t h) {
    slot[i].key = key;
    slot[i].hash = h;
}
inline void set_deleted(slot_t* slot, int32_t i) { slot[i].hash = SLOT_DELETED; }

inline int32_t next_bucket(int32_t i, int32_t& step, int32_t mask) { return (i + ++step) & mask; }

// Kind 0 keeps, per block position, the bucket + 1 holding it.
inline uint32_t* index_words(const hashtable_t* t) {
    return reinterpret_cast<uint32_t*>(alloc::buffer(t->indexes)->data());
}
inline int32_t index_capacity(const hashtable_t* t) { return alloc::buffer(t->indexes)->size / 4; }

// The chains store: one node per chain (0 once released), its used bytes
// give the chain count. A chain is a series of 32-bit positions.
inline node_t* chain_nodes(const hashtable_t* t) {
    return reinterpret_cast<node_t*>(alloc::buffer(t->chains)->data());
}
inline int32_t chain_count(const hashtable_t* t) { return alloc::buffer(t->chains)->used() / 4; }
inline int32_t* chain_positions(node_t chain) {
    return reinterpret_cast<int32_t*>(alloc::buffer(chain)->data());
}
inline int32_t chain_length(node_t chain) { return alloc::buffer(chain)->used() / 4; }

node_t new_words(int32_t count, uint8_t fill) {
    node_t n = alloc::alloc_bytes_filled(static_cast<int64_t>(count) * 4, fill);
    series_buffer_t* s = alloc::buffer(n);
    s->tail = s->head + count * 4;
    return n;
}

// A bucket array: two zero words (empty) per bucket.
node_t new_slots(int32_t buckets) { return new_words(buckets * 2, 0); }

node_t new_empty_words() {
    node_t n = alloc::alloc_bytes(16);
    series_buffer_t* s = alloc::buffer(n);
    s->tail = s->head;
    return n;
}

// Appends a 32-bit word at the tail of a byte series (through its node).
void append_word(node_t node, uint32_t word) {
    uint8_t* p = alloc::alloc_tail_unit(alloc::buffer(node), 4);
    std::memcpy(p, &word, 4);
}

inline uint32_t cycle_stamp() { return collector::cycles + 1; }

// The canonical symbol of an id (each symbol is its own before the symbol
// table exists).
inline int32_t canonical(int32_t id) { return symbol::ready_q() ? symbol::resolve(id) : id; }

inline bool equal(cell_t* stored, cell_t* key, int32_t code) {
    return actions::compare(stored, key, code);
}

// The position of a kind-0 bucket's first value.
inline int32_t first_position(const hashtable_t* t, int32_t key) {
    return key >= 0 ? key : chain_positions(chain_nodes(t)[-key - 1])[0];
}

void grow_indexes(node_t table, int32_t p) {
    hashtable_t* t = record(table);
    int32_t old_count = index_capacity(t);
    if (p < old_count) return;
    int64_t bytes = std::max<int64_t>(int64_t{8} * p, int64_t{4} * (p + 1));
    series_buffer_t* s = alloc::expand_series_filled(alloc::buffer(t->indexes), bytes, 0xFF);
    s->tail = s->head + s->size;
}

// Releases one kind-0 position from its bucket. Answers whether the bucket
// itself was released (its last position went).
bool release_position(node_t table, int32_t p) {
    hashtable_t* t = record(table);
    if (p >= index_capacity(t)) return false;
    uint32_t* idx = index_words(t);
    int32_t bucket = static_cast<int32_t>(idx[p]) - 1;
    if (bucket < 0) return false;
    idx[p] = NO_INDEX;
    int32_t key = slots(t)[bucket].key;
    if (key < 0) {
        node_t chain = chain_nodes(t)[-key - 1];
        int32_t* pos = chain_positions(chain);
        int32_t n = chain_length(chain);
        int32_t w = 0;
        for (int32_t r = 0; r < n; r++)
            if (pos[r] != p) pos[w++] = pos[r];
        alloc::buffer(chain)->tail -= (n - w) * 4;
        if (w > 0) return false;
        chain_nodes(t)[-key - 1] = 0;  // the store keeps its slot: chain numbers stay valid
    } else if (key != p) {
        return false;
    }
    set_deleted(slots(t), bucket);
    return true;
}

// Maps old positions to new ones for every bucket that holds a position in
// [low, high); chains are treated once each.
template <typename Map>
void remap_positions(node_t table, int32_t low, int32_t high, Map new_position) {
    hashtable_t* t = record(table);
    int32_t cap = index_capacity(t);
    std::vector<uint8_t> done(static_cast<size_t>(t->kind == KIND_HASH ? chain_count(t) : 0), 0);
    uint32_t* idx = index_words(t);
    slot_t* slot = slots(t);
    for (int32_t q = low; q < high && q < cap; q++) {
        int32_t bucket = static_cast<int32_t>(idx[q]) - 1;
        if (bucket < 0) continue;
        int32_t key = slot[bucket].key;
        if (key >= 0) {
            if (key == q) slot[bucket].key = new_position(key);
            continue;
        }
        if (done[-key - 1]) continue;
        done[-key - 1] = 1;
        node_t chain = chain_nodes(t)[-key - 1];
        int32_t* pos = chain_positions(chain);
        for (int32_t r = 0, n = chain_length(chain); r < n; r++)
            if (pos[r] >= low && pos[r] < high) pos[r] = new_position(pos[r]);
    }
}

void reset_arrays(node_t table) {
    hashtable_t* t = record(table);
    series_buffer_t* k = alloc::buffer(t->keys);
    std::memset(k->data(), 0, static_cast<size_t>(k->size));
    if (t->kind == KIND_HASH) {
        series_buffer_t* i = alloc::buffer(t->indexes);
        std::memset(i->data(), 0xFF, static_cast<size_t>(i->size));
        alloc::buffer(t->chains)->tail = alloc::buffer(t->chains)->head;
    }
    t->alive = 0;
    t->occupied = 0;
}

// Integer-key entries: a key cell (header unset! in use, 0 deleted; key in
// word 1) and the value cells. Offsets are bytes from the entry block's data.
inline cell_t* entry_at(const hashtable_t* t, int32_t offset) {
    return reinterpret_cast<cell_t*>(alloc::buffer(t->block)->data() + offset);
}

void reindex_int_keys(node_t table);
void rehash_int_keys(node_t table, int32_t size);

// Probes for an integer key. Answers the live bucket holding it or -1; *empty
// is the bucket where an insertion goes (the last deleted one met, else the
// empty one that ended the search; -1 when none).
inline uint32_t int_key_hash(int32_t key) { return fold(hash::mix(static_cast<uint32_t>(key))); }

int32_t find_int_key(const hashtable_t* t, int32_t key, uint32_t h, int32_t* target) {
    const slot_t* slot = slots(t);
    int32_t mask = t->buckets - 1;
    int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(mask));
    int32_t step = 0, deleted = -1;
    for (int32_t n = 0; n < t->buckets; n++) {
        uint32_t s = slot[i].hash;
        if (s == SLOT_EMPTY) {
            if (target) *target = deleted >= 0 ? deleted : i;
            return -1;
        }
        if (s == SLOT_DELETED) deleted = i;
        else if (s == h && static_cast<int32_t>(entry_at(t, slot[i].key)->data1) == key) return i;
        i = next_bucket(i, step, mask);
    }
    if (target) *target = deleted;
    return -1;
}

}  // namespace

hashtable_t* record(node_t table) {
    return reinterpret_cast<hashtable_t*>(alloc::buffer(table)->data());
}

// --- making ----------------------------------------------------------------------

node_t init(int32_t size, const cell_t* block, int32_t kind, int32_t value_cells) {
    if (kind == KIND_SYMBOL && value_cells == 2 && block && type_of(block) == TYPE_context &&
        block->data1)
        return clone_into(block->data1);
    if (kind == KIND_SYMBOL && size >= 4000) size *= 2;
    if (size < 4) size = 4;

    node_t table = alloc::alloc_bytes_filled(sizeof(hashtable_t), 0);
    collector::root_node keep_table(table);
    alloc::buffer(table)->tail =
        alloc::buffer(table)->head + static_cast<int32_t>(sizeof(hashtable_t));
    int32_t buckets =
        static_cast<int32_t>(hash::round_up_pow2(static_cast<uint32_t>(size / LOAD_FACTOR)));
    node_t keys = new_slots(buckets);
    collector::root_node keep_keys(keys);
    node_t indexes = kind == KIND_HASH ? new_words(size, 0xFF) : 0;
    collector::root_node keep_indexes(indexes);
    node_t chains = kind == KIND_HASH ? new_empty_words() : 0;
    collector::root_node keep_chains(chains);
    node_t block_node;
    bool enter = false;
    if (kind >= KIND_INT || !block) {
        block_node =
            alloc::alloc_cells(kind >= KIND_INT ? int64_t{size} * (value_cells + 1) : size);
    } else {
        block_node = block->data2;
        enter = true;
    }
    hashtable_t* t = record(table);
    t->kind = kind;
    t->buckets = buckets;
    t->bound = static_cast<int32_t>(buckets * LOAD_FACTOR);
    t->memo = 0;
    t->keys = static_cast<int32_t>(keys);
    t->block = static_cast<int32_t>(block_node);
    if (kind == KIND_HASH) {
        t->indexes = static_cast<int32_t>(indexes);
        t->chains = static_cast<int32_t>(chains);
    }
    if (kind >= KIND_INT) {
        t->indexes = 16 * value_cells + 16;
        t->stamp = static_cast<int32_t>(cycle_stamp());
    }
    if (enter) {
        // A collection while the values are entered must keep both the block
        // and the table: a hash! cell on the argument stack holds them.
        bool rooted = (kind == KIND_HASH || kind == KIND_MAP) && stack::bottom;
        if (rooted) {
            cell_t holder{static_cast<uint32_t>(kind == KIND_HASH ? TYPE_hash : TYPE_map), 0,
                          block_node, table};
            stack::push(&holder);
        }
        add_block(table, static_cast<int32_t>(block->data1), kind == KIND_MAP ? 2 : 1);
        if (rooted) stack::pop(1);
    }
    return table;
}

node_t clone_into(node_t source) {
    node_t table = alloc::copy_series(alloc::buffer(source));
    // The copied record names the source's series until each is replaced, so
    // the whole table can be kept from the start.
    collector::root_node keep(table, true);
    // Each copy goes into the record at once, where the guard keeps it.
    node_t keys = alloc::copy_series(alloc::buffer(static_cast<node_t>(record(source)->keys)));
    record(table)->keys = static_cast<int32_t>(keys);
    node_t block = alloc::copy_series(alloc::buffer(static_cast<node_t>(record(source)->block)));
    record(table)->block = static_cast<int32_t>(block);
    return table;
}

node_t copy(node_t source, node_t new_block) {
    node_t table = alloc::copy_series(alloc::buffer(source));
    collector::root_node keep(table, true);
    // Each copy goes into the record at once, where the guard keeps it.
    node_t keys = alloc::copy_series(alloc::buffer(static_cast<node_t>(record(source)->keys)));
    hashtable_t* t = record(table);
    t->keys = static_cast<int32_t>(keys);
    t->block = static_cast<int32_t>(new_block);
    if (t->kind == KIND_HASH) {
        // The copy gets chains of its own: the two tables never share one.
        node_t indexes =
            alloc::copy_series(alloc::buffer(static_cast<node_t>(record(source)->indexes)));
        record(table)->indexes = static_cast<int32_t>(indexes);
        node_t chains =
            alloc::copy_series(alloc::buffer(static_cast<node_t>(record(source)->chains)));
        record(table)->chains = static_cast<int32_t>(chains);
        int32_t n = chain_count(record(table));
        for (int32_t k = 0; k < n; k++) {
            node_t chain = chain_nodes(record(table))[k];
            if (chain == 0) continue;
            node_t c = alloc::copy_series(alloc::buffer(chain));
            chain_nodes(record(table))[k] = c;
        }
    }
    return table;
}

void clear(node_t table) { reset_arrays(table); }

// --- putting -------------------------------------------------------------------

cell_t* put(node_t table, cell_t* value) {
    int status = 0;
    return put_with_status(table, value, &status);
}

cell_t* put_with_status(node_t table, cell_t* value, int* status) {
    *status = 0;
    hashtable_t* t = record(table);
    int32_t p = static_cast<int32_t>(value - block_cells(t));
    if (t->occupied >= t->bound) {
        int32_t size = 2 * t->alive < t->buckets ? t->buckets - 1 : t->buckets + 1;
        if (t->kind == KIND_HASH) {
            rebuild(table, size);
            *status = STATUS_REBUILT;
            return block_cells(record(table)) + p;
        }
        resize(table, t->buckets + 1);
        t = record(table);
        value = block_cells(t) + p;  // growing may have moved the block
    }
    if (t->kind == KIND_HASH && t->stamp == 0 && hash::identity_keyed_q(value))
        t->stamp = static_cast<int32_t>(cycle_stamp());

    uint32_t h = fold(hash::value(value, false));
    t = record(table);
    int32_t mask = t->buckets - 1;
    int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(mask));
    int32_t step = 0, deleted = -1, target = -1;
    for (int32_t n = 0; n < t->buckets; n++) {
        uint32_t s = state(slots(t), i);
        if (s == BUCKET_EMPTY) {
            target = deleted >= 0 ? deleted : i;
            break;
        }
        if (s == BUCKET_DELETED) {
            deleted = i;
        } else if (slots(t)[i].hash != h) {
            // A different hash: a different key, whatever its cell holds.
        } else if (t->kind == KIND_MAP) {
            cell_t* cells = block_cells(t);
            if (equal(cells + slots(t)[i].key, cells + p, actions::cmp::STRICT_EQUAL)) {
                target = i;
                break;
            }
        } else if (t->kind == KIND_HASH) {
            cell_t* cells = block_cells(t);
            int32_t key = slots(t)[i].key;
            cell_t* first = cells + first_position(t, key);
            if (type_of(first) == type_of(cells + p) &&
                equal(first, cells + p, actions::cmp::EQUAL)) {
                if (key >= 0) {
                    // The bucket's single position becomes a chain of two.
                    node_t chain = new_empty_words();
                    collector::root_node keep_chain(chain);
                    append_word(chain, static_cast<uint32_t>(key));
                    append_word(static_cast<node_t>(record(table)->chains), chain);
                    t = record(table);
                    key = -chain_count(t);
                    slots(t)[i].key = key;
                }
                append_word(chain_nodes(t)[-key - 1], static_cast<uint32_t>(p));
                t = record(table);
                target = i;
                break;
            }
        }
        i = next_bucket(i, step, mask);
    }
    if (target < 0)
        target = deleted;  // growth keeps an empty bucket, so this is a full probe of deleted ones
    t = record(table);
    uint32_t s = state(slots(t), target);
    if (s != BUCKET_LIVE) {
        set_live(slots(t), target, p, h);
        t->alive++;
        if (s == BUCKET_EMPTY) t->occupied++;
    }
    if (t->kind == KIND_HASH) {
        grow_indexes(table, p);
        index_words(record(table))[p] = static_cast<uint32_t>(target + 1);
    }
    return block_cells(record(table)) + p;
}

void add_block(node_t table, int32_t start, int32_t step) {
    if (step < 1) step = 1;
    int32_t p = start;
    while (p < block_length(record(table))) {
        hashtable_t* t = record(table);
        cell_t* cells = block_cells(t);
        if (t->kind != KIND_MAP) {
            int status = 0;
            put_with_status(table, cells + p, &status);
            if (status == STATUS_REBUILT) return;
            p += step;
            continue;
        }
        cell_t* found = get(table, cells + p, 0, 1, actions::cmp::STRICT_EQUAL, false, false);
        t = record(table);
        cells = block_cells(t);
        if (found && found != cells + p) {
            // A duplicate key: its value replaces the earlier one, and the
            // pair leaves the block.
            int32_t length = block_length(t);
            if (p + 1 < length) copy_cell(cells + p + 1, found + 1);
            int32_t drop = std::min(2, length - p);
            std::memmove(cells + p, cells + p + drop,
                         static_cast<size_t>(length - p - drop) * sizeof(cell_t));
            alloc::buffer(static_cast<node_t>(t->block))->tail -= drop * 16;
            continue;
        }
        put(table, cells + p);
        // String keys become copies, word keys set-words.
        map::preprocess_key_at(static_cast<node_t>(record(table)->block), p);
        p += step;
    }
}

// --- looking up ------------------------------------------------------------------

cell_t* get(node_t table, const cell_t* key_cell, int32_t position, int32_t skip, int code,
            bool last, bool reverse) {
    hashtable_t* t = record(table);
    if (t->stamp != 0) {
        refresh(table);
        t = record(table);
    }
    cell_t key = *key_cell;
    if (t->kind == KIND_MAP) {
        uint8_t kt = type_of(&key);
        if (kt == TYPE_word || kt == TYPE_lit_word || kt == TYPE_get_word)
            cell::set_type(&key, TYPE_set_word);
    }
    if (reverse) last = true;
    if (skip == 0) skip = 1;
    int32_t abs_skip = skip < 0 ? -skip : skip;

    bool fast_integer = t->kind == KIND_MAP && type_of(&key) == TYPE_integer &&
                        (code == actions::cmp::EQUAL || code == actions::cmp::STRICT_EQUAL ||
                         code == actions::cmp::SAME);
    uint32_t h = fold(hash::value(&key, false));
    t = record(table);
    int32_t mask = t->buckets - 1;
    int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(mask));
    int32_t step = 0;
    if (fast_integer) {
        // Nothing below allocates or compares through an action: the arrays
        // stay where they are.
        const slot_t* slot = slots(t);
        cell_t* cells = block_cells(t);
        for (int32_t n = 0; n < t->buckets; n++) {
            uint32_t s = slot[i].hash;
            if (s == SLOT_EMPTY) return nullptr;
            if (s == h) {
                // Equal integers are equal under every equality code.
                cell_t* stored = cells + slot[i].key;
                if (type_of(stored) == TYPE_integer && stored->data2 == key.data2) return stored;
            }
            i = next_bucket(i, step, mask);
        }
        return nullptr;
    }
    for (int32_t n = 0; n < t->buckets; n++) {
        t = record(table);
        uint32_t s = slots(t)[i].hash;
        if (s == SLOT_EMPTY) return nullptr;
        if (s == h) {
            int32_t k = slots(t)[i].key;
            cell_t* cells = block_cells(t);
            if (t->kind != KIND_HASH) {
                cell_t* stored = cells + k;
                if ((type_of(stored) == type_of(&key) || type_of(&key) == hash::TYPE_STRING_PART) &&
                    equal(stored, &key, code))
                    return block_cells(record(table)) + k;
            } else if (equal(cells + first_position(t, k), &key, actions::cmp::EQUAL)) {
                // Every position of the bucket that equals under the code
                // and falls on the record grid is a candidate.
                std::vector<int32_t> positions;
                if (k >= 0) {
                    positions.push_back(k);
                } else {
                    node_t chain = chain_nodes(t)[-k - 1];
                    positions.assign(chain_positions(chain),
                                     chain_positions(chain) + chain_length(chain));
                }
                int32_t none = last ? -1 : block_length(t);
                int32_t best = none;
                for (int32_t l : positions) {
                    if (!equal(block_cells(record(table)) + l, &key, code)) continue;
                    int32_t d = last ? position - 1 - l : l - position;
                    int32_t r = d % abs_skip;
                    if (r < 0) r += abs_skip;
                    if (r != 0) continue;
                    if (reverse) {
                        if (l < position && l > best) best = l;
                    } else if (last) {
                        if (l >= position && l > best) best = l;
                    } else if (l >= position && l < best) {
                        best = l;
                    }
                }
                if (best != none) return block_cells(record(table)) + best;
            }
        }
        i = next_bucket(i, step, mask);
    }
    return nullptr;
}

cell_t* get_next(node_t table, const cell_t* key_cell, int32_t* bucket, int32_t* start,
                 int32_t* step) {
    hashtable_t* t = record(table);
    cell_t key = *key_cell;
    int32_t mask = t->buckets - 1;
    int32_t i;
    uint32_t h = fold(hash::value(&key, false));
    if (*bucket < 0) {
        i = static_cast<int32_t>(h & static_cast<uint32_t>(mask));
        *start = i;
        *step = 0;
    } else {
        i = next_bucket(*bucket, *step, mask);
        if (i == *start) return nullptr;
    }
    for (;;) {
        t = record(table);
        uint32_t s = slots(t)[i].hash;
        if (s == SLOT_EMPTY) return nullptr;
        if (s == h) {
            cell_t* stored = block_cells(t) + slots(t)[i].key;
            if (type_of(stored) == type_of(&key) && equal(stored, &key, actions::cmp::EQUAL)) {
                *bucket = i;
                return block_cells(record(table)) + slots(record(table))[i].key;
            }
        }
        i = next_bucket(i, *step, mask);
        if (i == *start) return nullptr;
    }
}

cell_t* find_map_integer(node_t table, int32_t key, free_bucket_t* room) {
    // Map tables are never hashed by address (nothing to refresh), and
    // nothing here allocates: the arrays stay where they are.
    const hashtable_t* t = record(table);
    const slot_t* slot = slots(t);
    cell_t* cells = block_cells(t);
    uint32_t h = fold(hash::mix(static_cast<uint32_t>(key)));  // as hash::value of an integer! cell
    uint32_t mask = static_cast<uint32_t>(t->buckets) - 1;
    uint32_t i = h & mask;
    int32_t deleted = -1;
    for (uint32_t step = 0; step <= mask;) {
        uint32_t s = slot[i].hash;
        if (s == h) {
            cell_t* stored = cells + slot[i].key;
            if (type_of(stored) == TYPE_integer && stored->data2 == static_cast<uint32_t>(key))
                return stored;
        } else if (s == SLOT_EMPTY) {
            if (room) *room = {deleted >= 0 ? deleted : static_cast<int32_t>(i), h};
            return nullptr;
        } else if (s == SLOT_DELETED) {
            deleted = static_cast<int32_t>(i);
        }
        i = (i + ++step) & mask;
    }
    if (room) *room = {deleted, h};
    return nullptr;
}

cell_t* find_map_word(node_t table, int32_t symbol, bool case_) {
    // As find_map_integer: nothing here allocates or compares through an action.
    const hashtable_t* t = record(table);
    const slot_t* slot = slots(t);
    cell_t* cells = block_cells(t);
    int32_t canonical = symbol::ready_q() ? symbol::resolve(symbol) : symbol;
    uint32_t h = fold(hash::mix(static_cast<uint32_t>(canonical)));  // as hash::value of a word
    uint32_t mask = static_cast<uint32_t>(t->buckets) - 1;
    uint32_t i = h & mask;
    for (uint32_t step = 0; step <= mask;) {
        uint32_t s = slot[i].hash;
        if (s == h) {
            cell_t* stored = cells + slot[i].key;
            if (type_of(stored) == TYPE_set_word &&
                (case_ ? static_cast<int32_t>(stored->data2) == symbol
                       : (symbol::ready_q() ? symbol::resolve(static_cast<int32_t>(stored->data2))
                                            : static_cast<int32_t>(stored->data2)) == canonical))
                return stored;
        } else if (s == SLOT_EMPTY) {
            return nullptr;
        }
        i = (i + ++step) & mask;
    }
    return nullptr;
}

void enter_map_integer(node_t table, const free_bucket_t& room, int32_t p) {
    hashtable_t* t = record(table);
    slot_t* slot = slots(t);
    if (slot[room.bucket].hash == SLOT_EMPTY) t->occupied++;
    set_live(slot, room.bucket, p, room.hash);
    t->alive++;
}

// --- removing --------------------------------------------------------------------

void delete_(node_t table, cell_t* value) {
    hashtable_t* t = record(table);
    int32_t p = static_cast<int32_t>(value - block_cells(t));
    if (t->kind == KIND_HASH) {
        if (release_position(table, p)) record(table)->alive--;
        return;
    }
    // map!: the key stays indexed; an emptied value marks the pair deleted.
    if (p + 1 < block_length(t)) block_cells(t)[p + 1].header = 0;
    t->alive--;
}

int move(node_t table, int32_t shift, int32_t position, int32_t count, bool flag) {
    if (count > MOVE_LIMIT) return 1;
    hashtable_t* t = record(table);
    if (t->kind != KIND_HASH || count <= 0) return 0;
    remap_positions(table, position, position + count, [shift](int32_t q) { return q + shift; });
    if (!flag || shift == 0) return 0;
    if (shift < 0) {
        for (int32_t q = std::max(0, position + shift); q < position; q++)
            release_position(table, q);
    } else {
        grow_indexes(table, position + count + shift);
    }
    t = record(table);
    uint32_t* idx = index_words(t);
    int32_t cap = index_capacity(t);
    int32_t from = position, to = position + shift;
    int32_t n = std::min(count, cap - from);
    if (to < 0) {
        from -= to;
        n += to;
        to = 0;
    }
    if (n > 0) {
        n = std::min(n, cap - to);
        std::memmove(idx + to, idx + from, static_cast<size_t>(n) * 4);
        // Positions that no value occupies any longer name no bucket.
        for (int32_t q = from; q < from + n && q < cap; q++)
            if (q < to || q >= to + n) idx[q] = NO_INDEX;
    }
    return 0;
}

// --- growing ---------------------------------------------------------------------

void resize(node_t table, int32_t size) {
    hashtable_t* t = record(table);
    int32_t f = std::max<int32_t>(
        4, static_cast<int32_t>(hash::round_up_pow2(static_cast<uint32_t>(size))));
    int32_t g = static_cast<int32_t>(f * LOAD_FACTOR + 0.5);
    if (t->alive >= g) return;
    // The stored hashes place every key again: no key cell is read. The old
    // array stays in the record (and so alive) until the new one is filled.
    int32_t old_buckets = t->buckets;
    node_t old_keys = static_cast<node_t>(t->keys);
    node_t keys = new_slots(f);
    const slot_t* old = reinterpret_cast<const slot_t*>(alloc::buffer(old_keys)->data());
    slot_t* slot = reinterpret_cast<slot_t*>(alloc::buffer(keys)->data());
    uint32_t mask = static_cast<uint32_t>(f) - 1;
    for (int32_t b = 0; b < old_buckets; b++) {
        if (state(old, b) != BUCKET_LIVE) continue;
        uint32_t i = old[b].hash & mask, step = 0;
        while (slot[i].hash != SLOT_EMPTY) i = (i + ++step) & mask;
        slot[i] = old[b];
    }
    t = record(table);
    t->keys = static_cast<int32_t>(keys);
    t->buckets = f;
    t->bound = g;
    if (t->kind != KIND_MAP) t->occupied = t->alive;
}

void rebuild(node_t table, int32_t size) {
    // Node handles never change (node frames are not evacuated), so nothing
    // in the collector needs switching off while the table is rebuilt.
    hashtable_t* t = record(table);
    if (t->kind >= KIND_INT) {
        rehash_int_keys(table, size);
        return;
    }
    uint32_t stamp = cycle_stamp();
    int32_t f = static_cast<int32_t>(hash::round_up_pow2(static_cast<uint32_t>(size * 1.5)));
    int32_t buckets = std::max(4, f);
    node_t keys = new_slots(buckets);
    t = record(table);
    t->buckets = buckets;
    t->bound = static_cast<int32_t>(f * LOAD_FACTOR);
    t->alive = t->occupied = t->stamp = 0;
    t->keys = static_cast<int32_t>(keys);
    if (t->kind == KIND_HASH) {
        series_buffer_t* c = alloc::buffer(static_cast<node_t>(t->chains));
        c->tail = c->head;
        series_buffer_t* i = alloc::buffer(static_cast<node_t>(t->indexes));
        std::memset(i->data(), 0xFF, static_cast<size_t>(i->size));
    }
    // A map's block alternates keys and values: only the keys are entered.
    add_block(table, 0, t->kind == KIND_MAP ? 2 : 1);
    t = record(table);
    if (t->stamp != 0) t->stamp = static_cast<int32_t>(stamp);
}

void refresh(node_t table) {
    hashtable_t* t = record(table);
    if (t->stamp == 0 || static_cast<uint32_t>(t->stamp) == cycle_stamp()) return;
    // Nothing is re-indexed while a collection runs (the sweep deletes keys).
    if (collector::running_q()) return;
    if (t->kind >= KIND_INT) reindex_int_keys(table);
    else if (t->kind == KIND_HASH) rebuild(table, block_length(t));
}

// --- integer keys ------------------------------------------------------------------

namespace {

void reindex_int_keys(node_t table) {
    hashtable_t* t = record(table);
    series_buffer_t* k = alloc::buffer(static_cast<node_t>(t->keys));
    std::memset(k->data(), 0, static_cast<size_t>(k->size));
    t->alive = t->occupied = 0;
    slot_t* slot = slots(t);
    int32_t mask = t->buckets - 1;
    int32_t used = alloc::buffer(static_cast<node_t>(t->block))->used();
    for (int32_t offset = 0; offset + t->indexes <= used; offset += t->indexes) {
        cell_t* e = entry_at(t, offset);
        if (e->header != TYPE_unset) continue;
        uint32_t h = int_key_hash(static_cast<int32_t>(e->data1));
        int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(mask)), step = 0;
        while (slot[i].hash != SLOT_EMPTY) i = next_bucket(i, step, mask);
        set_live(slot, i, offset, h);
        t->alive++;
        t->occupied++;
    }
    t->stamp = static_cast<int32_t>(cycle_stamp());
}

void rehash_int_keys(node_t table, int32_t size) {
    hashtable_t* t = record(table);
    int32_t f = static_cast<int32_t>(hash::round_up_pow2(static_cast<uint32_t>(size)));
    int32_t buckets = std::max(4, f);
    int32_t entry = t->indexes;
    int32_t value_cells = entry / 16 - 1;
    node_t old_block = static_cast<node_t>(t->block);
    collector::root_node keep_old(old_block);  // read below after the table lets go of it
    node_t block = alloc::alloc_cells(std::max<int64_t>(1, int64_t{t->alive} * (value_cells + 1)));
    collector::root_node keep_block(block);
    node_t keys = new_slots(buckets);
    t = record(table);
    t->bound = static_cast<int32_t>(f * LOAD_FACTOR + 0.5);
    t->buckets = buckets;
    t->alive = t->occupied = 0;
    t->keys = static_cast<int32_t>(keys);
    t->block = static_cast<int32_t>(block);
    t->stamp = static_cast<int32_t>(cycle_stamp());
    int32_t used = alloc::buffer(old_block)->used();
    for (int32_t offset = 0; offset + entry <= used; offset += entry) {
        cell_t* e = reinterpret_cast<cell_t*>(alloc::buffer(old_block)->data() + offset);
        if (e->header != TYPE_unset) continue;
        cell_t* values = put_int_key(table, static_cast<int32_t>(e->data1));
        e = reinterpret_cast<cell_t*>(alloc::buffer(old_block)->data() + offset);
        std::memcpy(values, e + 1, static_cast<size_t>(value_cells) * sizeof(cell_t));
    }
}

}  // namespace

cell_t* put_int_key(node_t table, int32_t key) {
    refresh(table);
    hashtable_t* t = record(table);
    if (t->occupied >= t->bound) {
        rebuild(table, 2 * t->alive < t->buckets ? t->buckets - 1 : t->buckets + 1);
        t = record(table);
    }
    int32_t target = -1;
    uint32_t h = int_key_hash(key);
    int32_t found = find_int_key(t, key, h, &target);
    int32_t offset;
    if (found >= 0) {
        offset = slots(t)[found].key;
    } else {
        uint32_t s = state(slots(t), target);
        if (s == BUCKET_EMPTY) {
            series_buffer_t* b = alloc::buffer(static_cast<node_t>(t->block));
            offset = b->tail - b->head;
            alloc::alloc_tail_unit(b, t->indexes);
            t = record(table);
            t->occupied++;
        } else {
            offset = slots(t)[target].key;
        }
        set_live(slots(t), target, offset, h);
        t->alive++;
    }
    cell_t* e = entry_at(t, offset);
    for (int32_t c = 0; c < t->indexes / 16; c++) e[c] = cell_t{TYPE_unset, 0, 0, 0};
    e->data1 = static_cast<uint32_t>(key);
    return e + 1;
}

cell_t* get_int_key(node_t table, int32_t key) {
    refresh(table);
    hashtable_t* t = record(table);
    int32_t found = find_int_key(t, key, int_key_hash(key), nullptr);
    return found < 0 ? nullptr : entry_at(t, slots(t)[found].key) + 1;
}

cell_t* delete_int_key(node_t table, int32_t key) {
    refresh(table);
    hashtable_t* t = record(table);
    int32_t found = find_int_key(t, key, int_key_hash(key), nullptr);
    if (found < 0) return nullptr;
    set_deleted(slots(t), found);
    t->alive--;
    cell_t* e = entry_at(t, slots(t)[found].key);
    e->header = 0;
    return e + 1;
}

// --- the collector's interface ---------------------------------------------------

void mark(node_t table, void (*mark_node)(node_t node, bool scan_cells)) {
    hashtable_t* t = record(table);
    mark_node(table, false);
    if (t->kind == KIND_HASH && t->chains != 0) {
        mark_node(static_cast<node_t>(t->indexes), false);
        mark_node(static_cast<node_t>(t->chains), false);
        for (int32_t k = 0, n = chain_count(t); k < n; k++)
            if (node_t chain = chain_nodes(t)[k]) mark_node(chain, false);
    }
    mark_node(static_cast<node_t>(t->keys), false);
    // Integer keys are numbers, never nodes, even where they name a series:
    // the ownership table is weak (its entries are swept when their series
    // dies), so neither its keys nor its value cells keep anything alive.
    mark_node(static_cast<node_t>(t->block), t->kind != KIND_OWNERSHIP);
}

void sweep(node_t table) {
    hashtable_t* t = record(table);
    int32_t used = alloc::buffer(static_cast<node_t>(t->block))->used();
    auto unmarked = [](node_t n) {
        return n != 0 && !(alloc::buffer(n)->flags & series_flag::MARK);
    };
    for (int32_t offset = 0; offset + t->indexes <= used; offset += t->indexes) {
        cell_t* e = entry_at(t, offset);
        if (e->header != TYPE_unset) continue;
        bool dead = unmarked(e->data1);
        if (!dead && t->kind == KIND_OWNERSHIP && t->indexes >= 48) dead = unmarked(e[2].data1);
        if (!dead) continue;
        delete_int_key(table, static_cast<int32_t>(e->data1));
        t = record(table);
        *entry_at(t, offset) = cell_t{0, 0, 0, 0};
    }
}

// --- kind 2: symbols and context words ------------------------------------------

int32_t put_string_key(node_t table, const char* text, int32_t length, bool case_insensitive) {
    hashtable_t* t = record(table);
    if (t->occupied >= t->bound) {
        resize(table, 16 * (2 * t->alive < t->buckets ? t->buckets - 1 : t->buckets + 1));
        t = record(table);
    }
    uint32_t h = fold(hash::ascii_lower(text, static_cast<size_t>(length)));
    int32_t mask = t->buckets - 1;
    auto name_equal = [&](int32_t index, bool fold) {
        series_buffer_t* s = alloc::buffer(block_cells(record(table))[index].data3);
        if (s->used() != length) return false;
        const char* name = reinterpret_cast<const char*>(s->head_ptr());
        if (!fold) return std::memcmp(name, text, static_cast<size_t>(length)) == 0;
        for (int32_t c = 0; c < length; c++) {
            char a = name[c], b = text[c];
            if (a >= 'A' && a <= 'Z') a += 32;
            if (b >= 'A' && b <= 'Z') b += 32;
            if (a != b) return false;
        }
        return true;
    };
    int32_t start = static_cast<int32_t>(h & static_cast<uint32_t>(mask));
    int32_t i = start, step = 0, end = -1;
    for (int32_t n = 0; n < t->buckets; n++) {
        uint32_t s = state(slots(t), i);
        if (s == BUCKET_EMPTY) {
            end = i;
            break;
        }
        if (s == BUCKET_LIVE && slots(t)[i].hash == h &&
            name_equal(slots(t)[i].key, case_insensitive))
            return slots(t)[i].key + 1;
        i = next_bucket(i, step, mask);
    }
    int32_t alias = -1;
    if (!case_insensitive) {
        i = start;
        step = 0;
        for (int32_t n = 0; n < t->buckets; n++) {
            uint32_t s = state(slots(t), i);
            if (s == BUCKET_EMPTY) break;
            if (s == BUCKET_LIVE && slots(t)[i].hash == h && name_equal(slots(t)[i].key, true)) {
                int32_t found = slots(t)[i].key + 1;
                int32_t a = static_cast<int32_t>(block_cells(t)[found - 1].data1);
                alias = a > 0 ? a : found;
                break;
            }
            i = next_bucket(i, step, mask);
        }
    }
    // A new symbol: its name in a byte series of its own, with a NUL after
    // the tail.
    node_t name = alloc::alloc_bytes(int64_t{length} + 1);
    series_buffer_t* ns = alloc::buffer(name);
    std::memcpy(ns->data(), text, static_cast<size_t>(length));
    ns->data()[length] = 0;
    ns->tail = ns->head + length;
    // Nothing refers to the name yet: growing the symbol block may collect.
    collector::root_node keep_name(name);
    cell_t* c = alloc::alloc_tail(alloc::buffer(static_cast<node_t>(record(table)->block)));
    c->data1 = static_cast<uint32_t>(alias);
    c->data2 = 0;
    c->data3 = name;
    c->header = TYPE_symbol;
    t = record(table);
    int32_t index = block_length(t) - 1;
    set_live(slots(t), end, index, h);
    t->alive++;
    t->occupied++;
    return index + 1;
}

int32_t get_symbol(node_t table, int32_t sym, bool case_insensitive, node_t context,
                   int32_t* index) {
    hashtable_t* t = record(table);
    if (context && t->occupied >= t->bound) {
        resize(table, 16 * (2 * t->alive < t->buckets ? t->buckets - 1 : t->buckets + 1));
        t = record(table);
    }
    int32_t canon = canonical(sym);
    int32_t mask = t->buckets - 1;
    uint32_t h = fold(hash::mix(static_cast<uint32_t>(canon)));
    int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(mask));
    int32_t step = 0, empty = -1;
    for (int32_t n = 0; n < t->buckets; n++) {
        uint32_t s = state(slots(t), i);
        if (s == BUCKET_EMPTY) {
            empty = i;
            break;
        }
        if (s == BUCKET_LIVE && slots(t)[i].hash == h) {
            int32_t slot = slots(t)[i].key;
            auto word_symbol = static_cast<int32_t>(block_cells(t)[slot].data2);
            if (word_symbol == sym || (case_insensitive && canonical(word_symbol) == canon)) {
                if (index) *index = slot;
                return slot;
            }
        }
        i = next_bucket(i, step, mask);
    }
    if (!context || empty < 0) return -1;
    t = record(table);
    int32_t n = block_length(t);
    cell_t* w = alloc::alloc_tail(alloc::buffer(static_cast<node_t>(t->block)));
    w->data1 = context;
    w->data2 = static_cast<uint32_t>(sym);
    w->data3 = static_cast<uint32_t>(n);
    w->header = TYPE_word;
    t = record(table);
    t->memo = 0;
    set_live(slots(t), empty, n, h);
    t->alive++;
    t->occupied++;
    if (index) *index = n;
    return -1;
}

void dump(node_t table) {
    hashtable_t* t = record(table);
    std::printf("== Deleted keys ==\n");
    for (int32_t i = 0; i < t->buckets; i++)
        if (state(slots(t), i) == BUCKET_DELETED) std::printf("%d: %d\n", i, slots(t)[i].key);
    std::printf("== Alive keys ==\n");
    for (int32_t i = 0; i < t->buckets; i++)
        if (state(slots(t), i) == BUCKET_LIVE) std::printf("%d: %d\n", i, slots(t)[i].key);
}

}  // namespace zuv::hashtable
