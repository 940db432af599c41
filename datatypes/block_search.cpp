// Block find, select, sort and the set operations.
//
// Every cell is addressed by index and copied before it is compared: a
// comparison may allocate (texts, nested blocks), and any allocation may
// move the block's buffer.
#include "datatypes/block_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "interpreter/interpreter.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv {

// --- calling a comparator function ------------------------------------------------

namespace search {

int32_t call_comparator(const cell_t* fn, const cell_t* first, const cell_t* second) {
    cell_t args[2] = {*first, *second};
    cell_t result;
    // An exit in flight has unwound the frames already: let it pass.
    if (!interpreter::call_back(fn, nullptr, args, 2, interpreter::callback::SORT, &result))
        throw exit_pending{};
    switch (type_of(&result)) {
    case TYPE_logic: return result.data1 ? 1 : -1;
    case TYPE_integer: {
        int32_t n = static_cast<int32_t>(result.data2);
        return n > 0 ? -1 : n < 0 ? 1 : 0;
    }
    case TYPE_float_: {
        double d = cell::get_float(&result);
        return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
    }
    case TYPE_none: return -1;
    default: return 1;
    }
}

}  // namespace search

namespace block {
namespace {

inline void set_none(cell_t* c) { *c = cell_t{TYPE_none, 0, 0, 0}; }
inline int32_t integer_of(const cell_t* c) { return static_cast<int32_t>(c->data2); }

[[noreturn]] void refine_error(words::id which, const cell_t* value) {
    cell_t word = words::word(which);
    fire(err::invalid_refine_arg, &word, value);
}

inline bool same_series_q(const cell_t* v, const cell_t* other) {
    return type_of(other) == type_of(v) && other->data2 == v->data2;
}

// A copy of the cell at absolute index i.
inline cell_t cell_at(const cell_t* b, int32_t i) { return *rs_abs_at(b, i); }

// --- find and select ------------------------------------------------------------------

struct search_t {
    cell_t series;  // the searched value (a copy)
    cell_t value;
    int32_t code;
    bool only;
    bool kind_match;  // datatype!/typeset! matched by type
    bool sequence;  // a block kind matched cell by cell
    int32_t length;  // cells matched at each position
};

// Whether the cells at pos match. The range [pos, end) must hold them.
bool match_at(search_t& s, int32_t pos, int32_t end) {
    if (s.kind_match) {
        cell_t c = cell_at(&s.series, pos);
        if (type_of(&s.value) == TYPE_datatype)
            return type_of(&c) == static_cast<uint8_t>(s.value.data1);
        return typeset::has_q(&s.value, type_of(&c));
    }
    if (!s.sequence) {
        cell_t c = cell_at(&s.series, pos);
        return actions::compare(&c, &s.value, s.code);
    }
    if (pos + s.length > end) return false;
    int32_t vh = head_index(&s.value);
    for (int32_t i = 0; i < s.length; i++) {
        cell_t c = cell_at(&s.series, pos + i);
        cell_t v = cell_at(&s.value, vh + i);
        if (!actions::compare(&c, &v, s.code)) return false;
    }
    return true;
}

// The position of the match, -1 for none; *length the cells it spans.
int32_t search(cell_t* series, cell_t* value, cell_t* part, bool only, bool case_, bool same,
               cell_t* skip_cell, bool last, bool reverse, bool match, int32_t* length,
               int32_t* step_out) {
    search_t s{};
    s.series = *series;
    s.value = *value;
    s.only = only;
    s.code = same ? actions::cmp::SAME : case_ ? actions::cmp::STRICT_EQUAL : actions::cmp::FIND;
    int32_t total = abs_length(&s.series);
    int32_t head = head_index(&s.series);
    if (total == 0) return -1;
    if (head >= total && !reverse) return -1;
    if (head < 0) head = 0;
    int32_t step = 1;
    if (skip_cell) {
        if (type_of(skip_cell) != TYPE_integer) refine_error(words::id::skip, skip_cell);
        step = integer_of(skip_cell);
        if (step < 1) fire(err::out_of_range, skip_cell);
    }
    *step_out = step;
    // The last cell a search may look at.
    int32_t limit = total - 1;
    bool limited = false;
    if (part) {
        if (type_of(part) == TYPE_integer) {
            int32_t n = integer_of(part);
            if (n < 1) return -1;
            limit = static_cast<int32_t>(std::min<int64_t>(int64_t{head} + n - 1, total - 1));
        } else if (same_series_q(&s.series, part)) {
            if (head_index(part) <= head) return -1;
            limit = std::min(head_index(part) - 1, total - 1);
        } else {
            refine_error(words::id::part, part);
        }
        limited = true;
    }
    uint8_t vt = type_of(&s.value);
    if (!only && (vt == TYPE_datatype || vt == TYPE_typeset)) {
        s.kind_match = true;
    } else if (!only && series::block_kind_q(vt)) {
        s.sequence = true;
        s.length = std::max(0, abs_length(&s.value) - std::max(0, head_index(&s.value)));
        if (s.length == 0) return -1;
    }
    int32_t n = s.sequence ? s.length : 1;
    *length = n;
    int32_t end = limit + 1;  // the range's end, exclusive
    if (head > total) head = total;

    // A hash! answers plain lookups from its index.
    node_t table = s.series.data3;
    if (type_of(&s.series) == TYPE_hash && table != 0 && !s.kind_match && !s.sequence && !match &&
        !(vt == TYPE_object && !same)) {
        cell_t* hit = hashtable::get(table, &s.value, head, step, s.code, last, reverse);
        if (hit == nullptr) return -1;
        int32_t pos = static_cast<int32_t>(hit - first_cell(&s.series));
        if (pos > limit) return -1;
        *step_out = 1;
        return pos;
    }

    if (!last && !reverse) {
        for (int64_t at = head; at <= limit; at += step) {  // 64 bits: a huge step must not wrap
            auto pos = static_cast<int32_t>(at);
            if (match_at(s, pos, end)) return pos;
            if (match) break;
        }
        return -1;
    }
    if (reverse && match) return -1;
    int32_t start;
    if (limited) start = limit;
    else if (last) start = total - n;
    else start = head - n;
    if (start < 0) return -1;
    for (int32_t pos = start; pos >= 0; pos -= step) {
        if (match_at(s, pos, end)) return pos;
        if (match) break;
    }
    return -1;
}

}  // namespace

cell_t* find(cell_t* series, cell_t* value, const find_options_t& how) {
    cell_t result = *series;
    int32_t length = 1, step = 1;
    int32_t pos = search(series, value, how.part, how.only, how.case_, how.same, how.skip, how.last,
                         how.reverse, how.match, &length, &step);
    if (pos < 0) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    if (how.tail) {
        bool backward = how.last || how.reverse;
        int64_t past = int64_t{pos} + (length > 1 ? length : backward ? 1 : step);
        pos = static_cast<int32_t>(std::min<int64_t>(past, abs_length(&result)));
    }
    set_head_index(&result, pos);
    *stack::arguments = result;
    return stack::arguments;
}

cell_t* select(cell_t* series, cell_t* value, const select_options_t& how) {
    cell_t self = *series;
    int32_t length = 1, step = 1;
    int32_t pos = search(series, value, how.part, how.only, how.case_, how.same, how.skip, how.last,
                         how.reverse, false, &length, &step);
    if (pos < 0 || pos + length >= abs_length(&self)) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    *stack::arguments = cell_at(&self, pos + length);
    return stack::arguments;
}

// --- comparing records -----------------------------------------------------------------

int32_t compare_records(const cell_t* a, const cell_t* b, int32_t op, uint32_t flags) {
    if (flags & SORT_REVERSE) std::swap(a, b);
    int32_t first = 0, count = 1;
    if (flags & SORT_ALL) count = static_cast<int32_t>(flags >> SORT_SHIFT);
    else first = static_cast<int32_t>(flags >> SORT_SHIFT);
    for (int32_t i = first; i < first + count; i++) {
        cell_t x = a[i], y = b[i];
        int32_t r = actions::compare_value(&x, &y, op);
        if (r == -2) r = static_cast<int32_t>(type_of(&x)) - static_cast<int32_t>(type_of(&y));
        if (r != 0) return r;
    }
    return 0;
}

namespace {

// The sort's records live in C++ memory for the whole sort (see the header):
// the comparators below get their addresses there, never in a managed
// buffer.
int32_t records_compare(const void* a, const void* b, uintptr_t op, uintptr_t flags) {
    return compare_records(static_cast<const cell_t*>(a), static_cast<const cell_t*>(b),
                           static_cast<int32_t>(op), static_cast<uint32_t>(flags));
}

// Records whose key cells are all integers compare without dispatch.
int32_t integers_compare(const void* a, const void* b, uintptr_t offset, uintptr_t reverse) {
    const cell_t* x = static_cast<const cell_t*>(a) + offset;
    const cell_t* y = static_cast<const cell_t*>(b) + offset;
    int32_t p = static_cast<int32_t>(x->data2), q = static_cast<int32_t>(y->data2);
    int32_t r = p < q ? -1 : p > q ? 1 : 0;
    return reverse ? -r : r;
}

// What the function comparator needs: the function, the records' copy (a
// block on the argument stack) and, with /all, the two blocks that carry
// whole records to the function.
struct call_order_t {
    cell_t* fn;
    cell_t* records;
    cell_t* pass_a;
    cell_t* pass_b;
    int32_t skip;
    uint32_t flags;
};

void fill_record(cell_t* target, const cell_t* records, uint32_t index, int32_t skip) {
    rs_clear(target);
    set_head_index(target, 0);
    for (int32_t i = 0; i < skip; i++) {
        cell_t c = cell_at(records, static_cast<int32_t>(index) * skip + i);
        rs_append(target, &c);
    }
}

int32_t function_compare(const void* a, const void* b, uintptr_t user, uintptr_t) {
    const auto* order = reinterpret_cast<const call_order_t*>(user);
    uint32_t ia = *static_cast<const uint32_t*>(a), ib = *static_cast<const uint32_t*>(b);
    cell_t x, y;
    if (order->flags & SORT_ALL) {
        fill_record(order->pass_a, order->records, ia, order->skip);
        fill_record(order->pass_b, order->records, ib, order->skip);
        x = *order->pass_a;
        y = *order->pass_b;
    } else {
        x = cell_at(order->records, static_cast<int32_t>(ia) * order->skip);
        y = cell_at(order->records, static_cast<int32_t>(ib) * order->skip);
    }
    // Without /reverse the second record goes first (see call_comparator).
    if (order->flags & SORT_REVERSE) return search::call_comparator(order->fn, &x, &y);
    return search::call_comparator(order->fn, &y, &x);
}

// Sorts count records of skip cells from absolute index start with the
// function comparator. The records are copied into a block that only this
// sort sees, their indexes are sorted, and the order is written back at the
// end: user code may allocate, collect and even change the block meanwhile.
void sort_by_function(cell_t* self, cell_t* fn, int32_t start, int32_t records, int32_t skip,
                      uint32_t flags, bool stable) {
    cell_t* fn_slot = stack::push(fn);
    cell_t* copy_slot = stack::push_slot();
    make_at(copy_slot, records * skip);
    {
        series_buffer_t* from = buffer_of(self);
        series_buffer_t* to = buffer_of(copy_slot);
        std::memcpy(to->head_cell(), from->head_cell() + start,
                    static_cast<size_t>(records) * skip * 16);
        to->tail = to->head + records * skip * 16;
    }
    cell_t* pass_a = nullptr;
    cell_t* pass_b = nullptr;
    if (flags & SORT_ALL) {
        pass_a = stack::push_slot();
        make_at(pass_a, skip);
        pass_b = stack::push_slot();
        make_at(pass_b, skip);
    }
    call_order_t order{fn_slot, copy_slot, pass_a, pass_b, skip, flags};
    std::vector<uint32_t> index(static_cast<size_t>(records));
    for (int32_t i = 0; i < records; i++) index[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
    auto user = reinterpret_cast<uintptr_t>(&order);
    if (stable)
        sort::mergesort(index.data(), index.size(), sizeof(uint32_t), user, 0, function_compare);
    else sort::qsort(index.data(), index.size(), sizeof(uint32_t), user, 0, function_compare);
    // Written back by index: a function that shrank the block gets only
    // what still fits.
    int32_t room = std::max(0, abs_length(self) - start) / skip;
    series_buffer_t* to = buffer_of(self);
    const cell_t* from = buffer_of(copy_slot)->head_cell();
    for (int32_t i = 0; i < std::min(records, room); i++)
        std::memcpy(to->head_cell() + start + i * skip, from + index[static_cast<size_t>(i)] * skip,
                    static_cast<size_t>(skip) * 16);
    stack::top_slot = fn_slot;
}

// Records whose key cells are all strings sort as (prefix, index) pairs: the
// first four characters, folded as the comparison folds them, packed 16 bits
// each so that the integer order of two prefixes is the order of the texts
// whenever they differ. Most comparisons then never reach the strings'
// buffers; equal prefixes fall back to the full comparison.
struct text_key_t {
    uint64_t prefix;
    uint32_t index;
    uint32_t unused;
};
static_assert(sizeof(text_key_t) == 16);

struct text_order_t {
    const cell_t* records;
    int32_t skip;
    int32_t op;
    uint32_t flags;
};

// False when a character of the prefix does not fit in 16 bits.
bool text_prefix(const cell_t* text, bool fold, uint64_t* prefix) {
    int32_t n = std::min(string::rs_length_q(text), 4);
    series_buffer_t* s = string::buffer_of(text);
    uint32_t unit = s->unit();
    const uint8_t* p = s->head_ptr() + static_cast<size_t>(text->data1) * unit;
    uint64_t key = 0;
    for (int32_t i = 0; i < 4; i++) {
        uint32_t c = 0;
        if (i < n) {
            c = string::get_char(p + static_cast<size_t>(i) * unit, unit);
            if (fold) c = case_folding::to_upper(c);
            if (c > 0xFFFF) return false;
        }
        key = key << 16 | c;
    }
    *prefix = key;
    return true;
}

int32_t text_keys_compare(const void* a, const void* b, uintptr_t user, uintptr_t) {
    const auto* x = static_cast<const text_key_t*>(a);
    const auto* y = static_cast<const text_key_t*>(b);
    const auto* order = reinterpret_cast<const text_order_t*>(user);
    if (x->prefix != y->prefix) {
        int32_t r = x->prefix < y->prefix ? -1 : 1;
        return (order->flags & SORT_REVERSE) ? -r : r;
    }
    return compare_records(order->records + static_cast<size_t>(x->index) * order->skip,
                           order->records + static_cast<size_t>(y->index) * order->skip, order->op,
                           order->flags);
}

// Sorts the records in copy by their string keys at offset; false (nothing
// done) when some key has a character beyond 16 bits in its prefix.
bool sort_texts(std::vector<cell_t>& copy, int32_t records, int32_t skip, int32_t offset,
                int32_t op, uint32_t flags, bool stable) {
    std::vector<text_key_t> keys(static_cast<size_t>(records));
    bool fold = op != actions::cmp::SORT_CASE;
    for (int32_t r = 0; r < records; r++) {
        text_key_t& k = keys[static_cast<size_t>(r)];
        k.index = static_cast<uint32_t>(r);
        k.unused = 0;
        if (!text_prefix(&copy[static_cast<size_t>(r) * skip + offset], fold, &k.prefix))
            return false;
    }
    text_order_t order{copy.data(), skip, op, flags};
    auto user = reinterpret_cast<uintptr_t>(&order);
    if (stable)
        sort::mergesort(keys.data(), keys.size(), sizeof(text_key_t), user, 0, text_keys_compare);
    else sort::qsort(keys.data(), keys.size(), sizeof(text_key_t), user, 0, text_keys_compare);
    std::vector<cell_t> sorted(copy.size());
    for (int32_t r = 0; r < records; r++)
        std::memcpy(&sorted[static_cast<size_t>(r) * skip],
                    &copy[static_cast<size_t>(keys[static_cast<size_t>(r)].index) * skip],
                    static_cast<size_t>(skip) * sizeof(cell_t));
    copy.swap(sorted);
    return true;
}

// Sorts with the compare dispatch. The records are sorted in a C++ copy:
// comparing texts or nested blocks may allocate and move the block's buffer
// (the cells' own nodes stay valid: the block still holds them all).
void sort_by_value(cell_t* self, int32_t start, int32_t records, int32_t skip, int32_t op,
                   uint32_t flags, bool stable) {
    size_t cells = static_cast<size_t>(records) * skip;
    std::vector<cell_t> copy(cells);
    std::memcpy(copy.data(), buffer_of(self)->head_cell() + start, cells * 16);
    size_t size = static_cast<size_t>(skip) * 16;
    bool all_cells = (flags & SORT_ALL) != 0;
    int32_t offset = all_cells ? 0 : static_cast<int32_t>(flags >> SORT_SHIFT);
    bool integers = !all_cells || skip == 1;
    bool texts = integers;
    for (size_t r = 0; integers && r < static_cast<size_t>(records); r++)
        integers = type_of(&copy[r * skip + offset]) == TYPE_integer;
    for (size_t r = 0; !integers && texts && r < static_cast<size_t>(records); r++)
        texts = type_of(&copy[r * skip + offset]) == TYPE_string;
    if (texts && !integers && records > 1 &&
        sort_texts(copy, records, skip, offset, op, flags, stable)) {
        // sorted by their keys
    } else if (integers) {
        uintptr_t reverse = flags & SORT_REVERSE;
        if (stable) sort::mergesort(copy.data(), records, size, offset, reverse, integers_compare);
        else sort::qsort(copy.data(), records, size, offset, reverse, integers_compare);
    } else if (stable) {
        sort::mergesort(copy.data(), records, size, op, flags, records_compare);
    } else {
        sort::qsort(copy.data(), records, size, op, flags, records_compare);
    }
    series_buffer_t* s = buffer_of(self);
    size_t room = static_cast<size_t>(std::max(0, s->used() / 16 - start));
    std::memcpy(s->head_cell() + start, copy.data(), std::min(cells, room) * 16);
}

}  // namespace

cell_t* sort(cell_t* series, bool case_, cell_t* skip_cell, cell_t* comparator, cell_t* part,
             bool all, bool reverse, bool stable) {
    cell_t* self = stack::push(series);
    *stack::arguments = *self;
    int32_t head = head_index(self);
    int32_t length = rs_length_q(self);
    if (length <= 0 && !(part && type_of(part) == TYPE_integer && integer_of(part) < 0)) {
        stack::top_slot = self;
        return stack::arguments;
    }
    int32_t start = std::max(0, head);
    int32_t count = length;
    if (part) {
        int32_t n = series::part_count(self, part);
        if (n < 0) {
            start = std::max(0, head + n);
            count = head - start;
        } else {
            count = std::min(n, length);
        }
    }
    if (count <= 0) {
        stack::top_slot = self;
        return stack::arguments;
    }
    int32_t skip = 1;
    if (skip_cell) {
        if (type_of(skip_cell) != TYPE_integer) refine_error(words::id::skip, skip_cell);
        skip = integer_of(skip_cell);
        if (skip < 1 || skip > count || count % skip != 0) refine_error(words::id::skip, skip_cell);
    } else if (all) {
        fire(err::bad_refines);
    }
    int32_t op = case_ ? actions::cmp::SORT_CASE : actions::cmp::SORT;
    uint32_t flags = reverse ? SORT_REVERSE : 0;
    bool by_function = false;
    if (comparator) {
        if (type_of(comparator) == TYPE_function) {
            by_function = true;
            if (all) flags |= SORT_ALL;
        } else if (type_of(comparator) == TYPE_integer) {
            if (all || !skip_cell) fire(err::bad_refines);
            int32_t k = integer_of(comparator);
            if (k < 1 || k > skip) fire(err::out_of_range, comparator);
            flags |= static_cast<uint32_t>(k - 1) << SORT_SHIFT;
        } else {
            cell_t word = words::word(words::id::compare);
            fire(err::invalid_refine_arg, &word, comparator);
        }
    } else if (all) {
        flags |= SORT_ALL | static_cast<uint32_t>(skip) << SORT_SHIFT;
    }
    int32_t records = count / skip;
    series::signal_owner(self, series::change_word::sort, nullptr, start, count);
    try {
        if (by_function) sort_by_function(self, comparator, start, records, skip, flags, stable);
        else sort_by_value(self, start, records, skip, op, flags, stable);
    } catch (const search::exit_pending&) {
        return stack::arguments;  // the exit passes on; both stacks are its
    } catch (const std::bad_alloc&) {
        // The copies are the size of the data: a refusal is the script's
        // no-memory, and the block is as it was.
        fire(err::no_memory);
    }
    series::signal_owner(self, series::change_word::sorted, nullptr, start, count);
    *stack::arguments = *self;
    stack::top_slot = self;
    return stack::arguments;
}

// --- set operations ------------------------------------------------------------------------

namespace {

// Whether the records of other (from its head, every skip cells) hold one
// whose first cell equals key: through a hashtable for plain values, find for
// block kinds (one cell, find/only, code 12).
bool member_q(cell_t* other, node_t table, const cell_t* key, int32_t skip, int32_t code) {
    cell_t k = *key;
    if (series::block_kind_q(type_of(&k))) {
        cell_t step = cell_t{TYPE_integer, 0, static_cast<uint32_t>(skip), 0};
        cell_t o = *other;
        int32_t length = 1, s = 1;
        return search(&o, &k, nullptr, true, false, false, &step, false, false, false, &length,
                      &s) >= 0;
    }
    return hashtable::get(table, &k, std::max(0, head_index(other)), skip, code, false, false) !=
           nullptr;
}

}  // namespace

cell_t* do_set_op(bool case_, const cell_t* skip_cell, int32_t code) {
    int32_t skip = 1;
    if (skip_cell) {
        if (type_of(skip_cell) != TYPE_integer || integer_of(skip_cell) < 1)
            refine_error(words::id::skip, skip_cell);
        skip = integer_of(skip_cell);
    }
    cell_t* set1 = &stack::arguments[0];
    cell_t* set2 = &stack::arguments[1];
    bool two = code != SET_UNIQUE;
    if (head_index(set1) > abs_length(set1)) set_head_index(set1, abs_length(set1));
    if (two && head_index(set2) > abs_length(set2)) set_head_index(set2, abs_length(set2));
    bool hashed = type_of(set1) == TYPE_hash || (two && type_of(set2) == TYPE_hash);
    int32_t code_cmp = case_ ? actions::cmp::STRICT_EQUAL : actions::cmp::EQUAL;

    int32_t capacity = rs_length_q(set1) + (code == SET_UNION ? rs_length_q(set2) : 0);
    cell_t* result = stack::push_slot();
    make_at(result, std::max(1, capacity));
    node_t result_table = hashtable::init(std::max(1, capacity), result, hashtable::KIND_HASH, 1);
    collector::root_node keep_result_table(result_table, true);

    int32_t passes = (code == SET_UNION || code == SET_DIFFERENCE) ? 2 : 1;
    for (int32_t pass = 0; pass < passes; pass++) {
        cell_t* from = pass == 0 ? set1 : set2;
        cell_t* other = pass == 0 ? set2 : set1;
        bool test = code == SET_INTERSECT || code == SET_EXCLUDE || code == SET_DIFFERENCE;
        node_t other_table = 0;
        if (test) {
            other_table = type_of(other) == TYPE_hash && other->data3 != 0
                              ? other->data3
                              : hashtable::init(std::max(1, rs_length_q(other)), other,
                                                hashtable::KIND_HASH, 1);
        }
        collector::root_node keep_other_table(other_table, true);
        // 64 bits: a huge /skip steps past the end, not around to a negative index.
        for (int64_t step = std::max(0, head_index(from)); step < abs_length(from); step += skip) {
            auto i = static_cast<int32_t>(step);
            cell_t key = cell_at(from, i);
            if (test) {
                bool in = member_q(other, other_table, &key, skip, code_cmp);
                if (code == SET_INTERSECT ? !in : in) continue;
            }
            if (member_q(result, result_table, &key, skip, code_cmp)) continue;
            int32_t at = abs_length(result);
            int32_t n = std::min(skip, abs_length(from) - i);
            for (int32_t j = 0; j < n; j++) {
                cell_t c = cell_at(from, i + j);
                rs_append(result, &c);
            }
            if (!series::block_kind_q(type_of(&key)))
                hashtable::put(result_table, rs_abs_at(result, at));
        }
    }
    cell_t out = *result;
    if (hashed) {
        out.header = TYPE_hash;
        out.data3 = result_table;
    } else {
        out.data3 = 0;
    }
    *set1 = out;
    stack::top_slot = result;
    return set1;
}

}  // namespace block
}  // namespace zuv
