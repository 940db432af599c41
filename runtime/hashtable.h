// Hash tables.
//
// One design serves every keyed lookup: the index of a hash! block, the keys
// of a map!, the symbol index and the symbols of every context, scratch
// tables of the set operations, and tables keyed by 32-bit integers. A table
// is a hashtable_t record in a 44-byte series of its own and is referred to by
// that series' node, so the collector moves and frees it like any series.
//
// Buckets hold only 32-bit positions (cell indexes from the block's start) or
// byte offsets; the values stay in their block, so a hash! is an ordinary
// block with an index beside it. Each bucket pairs its position with the
// key's 32-bit hash, which also tells its state (empty, deleted, live), so a
// probe passes non-matching buckets without reading their keys. Probing
// visits h, h+1, h+3, h+6, ... (triangular offsets), which reaches every
// bucket of a power-of-two table once. A table grows when its occupied
// buckets (live + deleted) reach 0.77 of the buckets.
//
// Every function takes the table's node and re-reads the record through it
// after anything that allocates: tables move like all series.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv {

struct hashtable_t {
    int32_t alive;  // live entries
    int32_t indexes;  // kind 0: node of bucket+1 per block position; kinds 3+: entry size in bytes
    int32_t chains;  // kind 0: node of the chains store (a node per chain list, 0 when released)
    // Kind 2: what a context's user remembers about the words (0: nothing
    // yet), cleared whenever a word is added.
    int32_t memo;
    int32_t keys;  // node: per bucket a 32-bit position / chain (-k) / entry offset, then its hash
    int32_t block;  // node of the cell series holding the values (or the entries)
    int32_t occupied;  // live + deleted buckets
    int32_t buckets;  // a power of two, at least 4
    int32_t bound;  // occupied count at which the table grows
    int32_t kind;
    int32_t stamp;  // 0, or collector cycles + 1 when last indexed with address hashes
};
static_assert(sizeof(hashtable_t) == 44, "the record is eleven 32-bit fields");

namespace hashtable {

enum kind_t : int32_t {
    KIND_HASH = 0,
    KIND_MAP = 1,
    KIND_SYMBOL = 2,
    KIND_INT = 3,
    KIND_OWNERSHIP = 4
};

constexpr double LOAD_FACTOR = 0.77;

// Bucket states, told by the hash a bucket stores (0 empty, 1 deleted, any
// other live: stored hashes are folded past both).
constexpr uint32_t BUCKET_LIVE = 0, BUCKET_DELETED = 1, BUCKET_EMPTY = 2;

// put_with_status reports this when it rebuilt a whole hash! index.
constexpr int STATUS_REBUILT = 2;

hashtable_t* record(node_t table);

// size: expected entries; block: the hash!/map!/block value whose values are
// entered, or nullptr (a new block of `size` cells); value_cells: kind 2
// with 2 and a context! block clones that context's table; kinds 3+: value
// cells per entry.
node_t init(int32_t size, const cell_t* block, int32_t kind, int32_t value_cells);

// Kinds 0 and 1: enters a cell that already sits in the block.
cell_t* put(node_t table, cell_t* value);
cell_t* put_with_status(node_t table, cell_t* value, int* status);

// The matching cell of the block or nullptr. position and skip (records)
// restrict hash! searches; comparison codes as actions::compare.
cell_t* get(node_t table, const cell_t* key, int32_t position, int32_t skip, int code, bool last,
            bool reverse);
// Further equal keys of a map!: *bucket -1 starts a new search.
cell_t* get_next(node_t table, const cell_t* key, int32_t* bucket, int32_t* start, int32_t* step);

// map! tables with an integer key, the common case kept short: equal integers
// are equal under every comparison code and a map holds each integer once.
// find_map_integer answers the key cell of its entry (removed or not), or
// nullptr and in *room (when given) where a new entry of the key goes.
// enter_map_integer indexes the new key cell at block position p there; the
// caller checked that the table need not grow (occupied below bound) and that
// a bucket was found. Nothing that allocates moves a map's key to another
// bucket, so a free bucket stays valid until the table grows.
struct free_bucket_t {
    int32_t bucket;  // -1 when the probe met no free bucket
    uint32_t hash;
};
cell_t* find_map_integer(node_t table, int32_t key, free_bucket_t* room);
void enter_map_integer(node_t table, const free_bucket_t& room, int32_t p);

// map! tables with a word-kind key (stored as a set-word), the key of paths
// and of most selects: the key's hash is that of its canonical symbol, so a
// stored set-word matches without case when its canonical symbol is the
// key's, with case when its symbol is. Answers the key cell of the first
// such entry on the probe (removed or not), or nullptr.
cell_t* find_map_word(node_t table, int32_t symbol, bool case_);

void delete_(node_t table, cell_t* value);
// Keep a hash! index in step with values moved inside its block. move answers
// 1 when it declined (too many positions) and the caller must rebuild.
int move(node_t table, int32_t shift, int32_t position, int32_t count, bool flag);

void clear(node_t table);
node_t copy(node_t source, node_t new_block);
inline void destroy(node_t) {}

// Integer keys (kinds 3+): put answers the entry's value cells, all unset!.
cell_t* put_int_key(node_t table, int32_t key);
cell_t* get_int_key(node_t table, int32_t key);
cell_t* delete_int_key(node_t table, int32_t key);

void add_block(node_t table, int32_t start, int32_t step);
void rebuild(node_t table, int32_t size);
void resize(node_t table, int32_t size);
// Rebuilds a table hashed by address after a collection moved things.
void refresh(node_t table);

// The collector's interface. mark hands every series the table holds to
// mark_node, last its block; scan_cells asks the collector to mark the cells'
// values too. sweep (the ownership table, after marking) deletes the entries
// whose key node, or in kind 4 owner node, was not marked.
void mark(node_t table, void (*mark_node)(node_t node, bool scan_cells));
void sweep(node_t table);

// Kind 2. The symbol index: finds or adds a name and answers its symbol id
// (1-based). Context tables: the word's slot index, or -1; with a context
// node an absent symbol is added (its new index in *index).
int32_t put_string_key(node_t table, const char* text, int32_t length, bool case_insensitive);
int32_t get_symbol(node_t table, int32_t symbol, bool case_insensitive, node_t context,
                   int32_t* index);
// A kind-2 table that shares nothing with its source (new record, keys and
// word block).
node_t clone_into(node_t source);

// Debug listing to standard output.
void dump(node_t table);

}  // namespace hashtable
}  // namespace zuv
