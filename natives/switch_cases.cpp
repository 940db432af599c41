// The table of a `switch`'s cases (see switch_cases.h).
//
// Only values whose equality is their identity are in the table: integers
// and chars by their number, the word kinds by their canonical symbol (the
// equality of words ignores case and binding). A value of any other type
// scans the cases, as before. A case matches only a value of its own type,
// so the key is the type with that number, and the first case of a key
// keeps its place: several cases matching one value give the first.
//
// The table keeps the cells it was built from and the series is flagged
// planned, so that a write moves the stamp; a table met at an older stamp
// compares the cells again and is built anew when they changed. The table
// holds no root: a collection drops every table (a node it frees may go to
// another series), as it drops the plans of blocks nothing ran.
#include "natives/switch_cases.h"

#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/stamp.h"

namespace zuv::natives::switch_cases {

namespace {

constexpr int32_t TABLE_BITS = 7;

struct slot {
    uint64_t key = 0;  // 0: empty
    int32_t found = NO_MATCH;
};

struct entry {
    node_t series = 0;
    int32_t head = 0;
    uint32_t epoch = 0;
    bool built = false;
    std::vector<cell_t> cells;  // the block's cells from its head, as built
    std::vector<slot> slots;  // open addressing, a power of two
};

entry table[1 << TABLE_BITS];

bool word_kind_q(uint8_t t) {
    return t == TYPE_word || t == TYPE_set_word || t == TYPE_get_word || t == TYPE_lit_word ||
           t == TYPE_refinement;
}

// The key of a value the table holds, 0 for one it does not: the type in
// the high bits, never zero.
uint64_t key_of(const cell_t* v) {
    uint8_t t = type_of(v);
    uint32_t n;
    if (t == TYPE_integer) n = static_cast<uint32_t>(integer::get(v));
    else if (t == TYPE_char_) n = char_::get(v);
    else if (word_kind_q(t)) n = static_cast<uint32_t>(symbol::resolve(word::symbol_of(v)));
    else return 0;
    return (uint64_t{t} + 1) << 32 | n;
}

size_t hash_of(uint64_t key) { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 40); }

// A collection may free a block and give its node to another: the tables
// go (a series freed in between and its node reused is caught by the flag,
// which a new series does not have).
void drop_tables() {
    for (entry& e : table) {
        e.series = 0;
        e.built = false;
    }
}

// The first block after index i of cells (n of them, from the head), as an
// index in the series; NO_MATCH when there is none.
int32_t block_after(const cell_t* cells, int32_t i, int32_t n, int32_t head) {
    for (int32_t j = i + 1; j < n; j++)
        if (type_of(cells + j) == TYPE_block) return head + j;
    return NO_MATCH;
}

void build(entry* e, const cell_t* cells, int32_t n) {
    e->cells.assign(cells, cells + n);
    size_t size = 8;
    while (size < static_cast<size_t>(n) * 2) size *= 2;
    e->slots.assign(size, slot{});
    for (int32_t i = 0; i < n; i++) {
        uint64_t key = key_of(cells + i);
        if (key == 0) continue;
        size_t k = hash_of(key) & (size - 1);
        while (e->slots[k].key != 0 && e->slots[k].key != key) k = (k + 1) & (size - 1);
        if (e->slots[k].key == key) continue;  // the first case of a value wins
        e->slots[k].key = key;
        e->slots[k].found = block_after(cells, i, n, e->head);
    }
    e->built = true;
}

}  // namespace

int32_t find(const cell_t* cases, const cell_t* value) {
    if (interpreter::general_path_only) return SCAN;
    uint64_t key = key_of(value);
    if (key == 0) return SCAN;
    static bool marking = false;
    if (!marking) {
        marking = true;
        collector::add_marker(drop_tables);
    }
    node_t series = cases->data2;
    int32_t head = block::head_index(cases);
    int32_t n = block::abs_length(cases) - head;
    if (head < 0 || n < 0) return SCAN;
    entry* e = &table[(static_cast<uint32_t>(series) * 0x9E3779B1u) >> (32 - TABLE_BITS)];
    series_buffer_t* b = alloc::buffer(series);
    const cell_t* cells = b->head_cell() + head;
    if (e->series != series || e->head != head) {
        // A block met once is scanned: most are never met again.
        e->series = series;
        e->head = head;
        e->built = false;
        return SCAN;
    }
    if (!e->built || !(b->flags & series_flag::PLANNED) ||
        (e->epoch != stamp::epoch &&
         (e->cells.size() != static_cast<size_t>(n) ||
          (n != 0 && std::memcmp(e->cells.data(), cells, sizeof(cell_t) * n) != 0)))) {
        b->flags |= series_flag::PLANNED;
        build(e, cells, n);
    }
    e->epoch = stamp::epoch;
    size_t mask = e->slots.size() - 1;
    for (size_t k = hash_of(key) & mask;; k = (k + 1) & mask) {
        if (e->slots[k].key == key) return e->slots[k].found;
        if (e->slots[k].key == 0) return NO_MATCH;
    }
}

}  // namespace zuv::natives::switch_cases
