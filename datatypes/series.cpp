#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/action_types.h"
#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/hash_type.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/hash.h"
#include "runtime/ownership.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/stamp.h"
#include "runtime/words.h"

namespace zuv {
namespace series {

namespace {

const char* const change_texts[] = {
#define ZUV_CHANGE_TEXT(ident, text) text,
    ZUV_CHANGE_WORDS(ZUV_CHANGE_TEXT)
#undef ZUV_CHANGE_TEXT
};

const words::id change_ids[] = {
#define ZUV_CHANGE_ID(ident, text) words::id::ident,
    ZUV_CHANGE_WORDS(ZUV_CHANGE_ID)
#undef ZUV_CHANGE_ID
};

void default_signal(cell_t* v, change_word w, cell_t* value, int32_t index, int32_t count) {
    series_buffer_t* b = buffer_of(v);
    stamp::written(b);
    if (b->flags & series_flag::OWNED)
        ownership::check(v, change_ids[static_cast<int>(w)], value, index, count);
}

inline void set_none(cell_t* c) { *c = cell_t{TYPE_none, 0, 0, 0}; }
inline void set_unset(cell_t* c) { *c = cell_t{TYPE_unset, 0, 0, 0}; }
inline void set_logic(cell_t* c, bool b) { *c = cell_t{TYPE_logic, b ? 1u : 0u, 0, 0}; }
inline void set_integer(cell_t* c, int32_t v) {
    *c = cell_t{TYPE_integer, 0, static_cast<uint32_t>(v), 0};
}
inline int32_t integer_of(const cell_t* c) { return static_cast<int32_t>(c->data2); }
inline cell_t datatype_cell(uint8_t type) { return cell_t{TYPE_datatype, type, 0, 0}; }

enum class refine : uint8_t { part, skip };
[[noreturn]] void refine_error(refine which, const cell_t* value) {
    cell_t word = words::word(which == refine::part ? words::id::part : words::id::skip);
    fire(err::invalid_refine_arg, &word, value);
}

inline bool same_series_q(const cell_t* v, const cell_t* other) {
    return type_of(other) == type_of(v) && other->data2 == v->data2;
}

// The head clamped into 0..total.
inline cell_t* rs_head_cell(const cell_t* block) {
    return reinterpret_cast<cell_t*>(unit_at(buffer_of(block), head_index(block)));
}

inline int32_t clamped_head(const cell_t* v, int32_t total) {
    return std::clamp(head_index(v), 0, total);
}

// Drops k units at absolute index start; the units after move down.
void remove_units(const cell_t* v, int32_t start, int32_t k) {
    series_buffer_t* s = buffer_of(v);
    int32_t shift = shift_of(s->unit());
    int32_t from = (start + k) << shift;
    if (from < s->used())
        std::memmove(s->head_ptr() + (start << shift), s->head_ptr() + from, s->used() - from);
    s->tail -= k << shift;
}

}  // namespace

owner_signal_t owner_signal = default_signal;

const char* change_text(change_word w) { return change_texts[static_cast<int>(w)]; }

// --- raw operations -----------------------------------------------------------

bool rs_skip(cell_t* v, int32_t n) {
    series_buffer_t* s = buffer_of(v);
    int32_t shift = shift_of(s->unit());
    int64_t h = static_cast<int64_t>(head_index(v)) + n;
    if ((h << shift) <= s->used()) set_head_index(v, static_cast<int32_t>(h));
    return (static_cast<int64_t>(head_index(v)) << shift) >= s->used();
}

int32_t get_length(cell_t* v, bool from_start) {
    int32_t total = rs_abs_length_q(v);
    int32_t h = head_index(v);
    if (h > total) {
        set_head_index(v, total);
        return 0;
    }
    if (from_start || h < 0) h = 0;
    return total - h;
}

int32_t part_count(const cell_t* v, const cell_t* part) {
    if (type_of(part) == TYPE_integer) return integer_of(part);
    if (same_series_q(v, part)) return head_index(part) - head_index(v);
    refine_error(refine::part, part);
}

int32_t index_rule(cell_t* v, int32_t n, bool skip_mode) {
    int64_t h = head_index(v);
    int64_t p = skip_mode ? h + n : (n >= 1 ? h + n - 1 : h + n);
    return static_cast<int32_t>(std::clamp<int64_t>(p, 0, rs_abs_length_q(v)));
}

cell_t* element_at(cell_t* v, int32_t i, cell_t* out) {
    series_buffer_t* s = buffer_of(v);
    uint8_t t = type_of(v);
    if (s->unit() == 16) return copy_cell(reinterpret_cast<cell_t*>(unit_at(s, i)), out);
    if (t == TYPE_binary) {
        set_integer(out, *unit_at(s, i));
        return out;
    }
    if (t == TYPE_vector)
        return vector::get_value(unit_at(s, i), vector::element_type(v), s->unit(), out);
    *out = cell_t{TYPE_char_, 0, string::get_char(unit_at(s, i), s->unit()), 0};
    return out;
}

// --- frame actions --------------------------------------------------------------

void at() {
    cell_t* v = stack::arguments;
    cell_t* n = v + 1;
    if (type_of(n) != TYPE_integer) fire(err::invalid_arg, n);
    set_head_index(v, index_rule(v, integer_of(n), false));
}

void skip() {
    cell_t* v = stack::arguments;
    cell_t* n = v + 1;
    if (type_of(n) != TYPE_integer) fire(err::invalid_arg, n);
    set_head_index(v, index_rule(v, integer_of(n), true));
}

void head() { set_head_index(stack::arguments, 0); }

void tail() { set_head_index(stack::arguments, rs_abs_length_q(stack::arguments)); }

void head_q() { set_logic(stack::arguments, head_index(stack::arguments) == 0); }

void tail_q() { set_logic(stack::arguments, rs_tail_q(stack::arguments)); }

void index_q() { set_integer(stack::arguments, head_index(stack::arguments) + 1); }

void next() { rs_skip(stack::arguments, 1); }

void back() {
    cell_t* v = stack::arguments;
    if (head_index(v) > 0) set_head_index(v, head_index(v) - 1);
}

// --- typed actions ----------------------------------------------------------------

int32_t length_q(cell_t* v) { return get_length(v, false); }

cell_t* pick(cell_t* v, int32_t n, cell_t*) {
    int64_t p = static_cast<int64_t>(head_index(v)) + n + (n < 0 ? 0 : -1);
    if (n == 0 || p < 0 || p >= rs_abs_length_q(v)) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    if (buffer_of(v)->unit() == 16)
        return reinterpret_cast<cell_t*>(unit_at(buffer_of(v), static_cast<int32_t>(p)));
    cell_t out;
    element_at(v, static_cast<int32_t>(p), &out);
    *stack::arguments = out;
    return stack::arguments;
}

cell_t* poke(cell_t* v, int32_t n, cell_t* index_cell, cell_t* value) {
    cell_t self = *v;
    int64_t p = static_cast<int64_t>(head_index(&self)) + n + (n < 0 ? 0 : -1);
    if (n == 0 || p < 0 || p >= rs_abs_length_q(&self)) fire(err::out_of_range, index_cell);
    int32_t at = static_cast<int32_t>(p);
    bool owned = owned_q(&self);
    if (owned) owner_signal(&self, change_word::poke, value, at, 1);
    if (p >= rs_abs_length_q(&self)) fire(err::out_of_range, index_cell);

    uint8_t t = type_of(&self);
    series_buffer_t* s = buffer_of(&self);
    if (s->unit() == 16) {
        copy_cell(value, reinterpret_cast<cell_t*>(unit_at(s, at)));
        if (hash_type::hashed_q(&self)) hash_type::cells_replaced(&self, at, 1);
    } else if (t == TYPE_binary) {
        binary::set_value(unit_at(s, at), value);
    } else if (t == TYPE_vector) {
        if (type_of(value) != vector::element_type(&self)) fire(err::invalid_arg, value);
        vector::set_value(unit_at(s, at), s->unit(), value);
    } else {
        if (type_of(value) != TYPE_char_) fire(err::invalid_arg, value);
        string::overwrite_char(s, at, value->data2);
    }
    if (owned) owner_signal(&self, change_word::poked, value, at, 1);
    return value;
}

cell_t* clear(cell_t* v) {
    int32_t total = rs_abs_length_q(v);
    int32_t h = head_index(v);
    if (h < 0) h = 0;
    if (h < total) {
        int32_t count = total - h;
        bool owned = owned_q(v);
        if (owned) owner_signal(v, change_word::clear, nullptr, h, count);
        series_buffer_t* s = buffer_of(v);
        s->tail = s->head + (h << shift_of(s->unit()));
        if (hash_type::hashed_q(v)) hash_type::reindex(v);
        if (owned) owner_signal(v, change_word::cleared, nullptr, h, count);
    }
    return v;
}

cell_t* remove(cell_t* v, cell_t* part, cell_t* key) {
    cell_t self = *v;
    int32_t k = part ? part_count(&self, part) : 1;
    if (k < 1) return v;
    int32_t start = head_index(&self);
    if (key) {
        cell_t* found = actions::find(&self, key, {.case_ = true});
        if (type_of(found) == TYPE_none) {
            set_none(stack::arguments);
            return stack::arguments;
        }
        start = head_index(found);
        if (k < INT32_MAX) k++;  // the key too; a larger count is cut to the tail below anyway
    }
    int32_t total = rs_abs_length_q(&self);
    if (start < 0) start = 0;
    if (start < total) {
        k = std::min(k, total - start);
        bool owned = owned_q(&self);
        if (owned) owner_signal(&self, change_word::remove, nullptr, start, k);
        // The handler may have changed the series: take the length again.
        total = rs_abs_length_q(&self);
        k = std::min(k, total - start);
        if (k > 0) remove_units(&self, start, k);
        if (hash_type::hashed_q(&self)) hash_type::reindex(&self);
        if (owned) owner_signal(&self, change_word::removed, nullptr, start, k);
    }
    set_head_index(&self, start);
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* take(cell_t* v, cell_t* part, bool, bool last) {
    cell_t self = *v;
    // v is often the result slot, which is overwritten below.
    collector::root_cell keep_self(&self);
    int32_t length = get_length(&self, false);
    if (length < 1) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    int32_t h = head_index(&self);
    if (h < 0) h = 0;
    int32_t k = 1;
    if (part) {
        if (type_of(part) == TYPE_integer) k = integer_of(part);
        else if (same_series_q(&self, part)) {
            int32_t other = head_index(part);
            k = other < h ? 0 : last ? h + length - other : other - h;
        } else refine_error(refine::part, part);
    }
    int32_t start;
    if (k < 0) {
        if (last) {
            k = 1;
            start = h + length - 1;
        } else {
            k = std::min(-static_cast<int64_t>(k), static_cast<int64_t>(h));
            start = h - k;
            if (k == 0) {
                k = 1;
                start = h;
            }
        }
    } else {
        k = std::min(k, length);
        if (k == 0) k = 1;
        start = last ? h + length - k : h;
    }

    bool owned = owned_q(&self);
    if (owned) owner_signal(&self, change_word::take, nullptr, start, k);
    int32_t total = rs_abs_length_q(&self);
    if (start >= total) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    k = std::min(k, total - start);

    // The taken element is no longer in the series once it is removed, and
    // reindexing allocates.
    cell_t result;
    cell::begin(&result);
    collector::root_cell keep_result(&result);
    if (part) {
        // A new series of the same type holding the taken units.
        series_buffer_t* s = buffer_of(&self);
        uint32_t unit = s->unit();
        cell::begin(stack::arguments);
        node_t node = alloc::alloc_series(k, static_cast<int32_t>(unit), 0);
        s = buffer_of(&self);
        series_buffer_t* n = alloc::buffer(node);
        n->flags = (s->flags & ~(series_flag::OWNED | series_flag::BIG | series_flag::FIXED |
                                 series_flag::MARK)) |
                   (n->flags & series_flag::BIG);
        std::memcpy(n->data(), unit_at(s, start), static_cast<size_t>(k) * unit);
        n->tail = n->head + static_cast<int32_t>(k * unit);
        result = cell_t{type_of(&self), 0, node, type_of(&self) == TYPE_vector ? self.data3 : 0};
        if (type_of(&result) == TYPE_hash) hash_type::index_block(&result, static_cast<int32_t>(k));
    } else {
        // The element itself: nothing shared that a change handler could
        // overwrite before the caller reads it.
        element_at(&self, start, &result);
    }
    remove_units(&self, start, k);
    if (hash_type::hashed_q(&self)) hash_type::reindex(&self);
    *stack::arguments = result;
    if (owned) owner_signal(&self, change_word::taken, nullptr, start, k);
    return stack::arguments;
}

cell_t* copy(cell_t* v, cell_t* result, cell_t* part, bool, cell_t*) {
    cell_t self = *v;
    int32_t total = rs_abs_length_q(&self);
    int32_t h = head_index(&self);
    int64_t start = h;
    int64_t k = std::max(0, total - h);
    if (part) {
        if (type_of(part) == TYPE_integer) k = integer_of(part);
        else if (type_of(part) == TYPE_pair) {
            int64_t x = static_cast<int32_t>(part->data2), y = static_cast<int32_t>(part->data3);
            start = std::max<int64_t>(0, x < 0 ? h + x : h + x - 1);
            k = y < x ? 0 : y - x;
        } else if (same_series_q(&self, part)) k = static_cast<int64_t>(head_index(part)) - h;
        else refine_error(refine::part, part);
    }
    if (k < 0) {
        k = -k;
        if (start - k < 0) {
            k = start;
            start = 0;
        } else start -= k;
    }
    if (start < 0) start = 0;
    if (start > total) start = total;
    k = std::min<int64_t>(k, total - start);

    series_buffer_t* s = buffer_of(&self);
    uint32_t unit = s->unit();
    if (result != v) cell::begin(result);
    node_t node = alloc::alloc_series(k, static_cast<int32_t>(unit), 0);
    s = buffer_of(&self);
    series_buffer_t* n = alloc::buffer(node);
    n->flags = (s->flags &
                ~(series_flag::OWNED | series_flag::BIG | series_flag::FIXED | series_flag::MARK)) |
               (n->flags & series_flag::BIG);
    if (k > 0)
        std::memcpy(n->data(), unit_at(s, static_cast<int32_t>(start)),
                    static_cast<size_t>(k) * unit);
    n->tail = n->head + static_cast<int32_t>(k * unit);
    result->data1 = 0;
    result->data2 = node;
    result->data3 = type_of(&self) == TYPE_vector ? self.data3 : 0;
    result->header = self.header & (HEADER_TYPE_MASK | FLAG_NEW_LINE);
    return result;
}

cell_t* reverse(cell_t* v, cell_t* part, cell_t* skip_arg) {
    if (rs_tail_q(v)) return v;
    int32_t length = get_length(v, false);
    int32_t count = part ? part_count(v, part) : length;
    if (count < 1) return v;
    int32_t size = 1;
    if (skip_arg) {
        if (type_of(skip_arg) != TYPE_integer) refine_error(refine::skip, skip_arg);
        size = integer_of(skip_arg);
        if (size < 1) fire(err::out_of_range, skip_arg);
        if (size == count) return v;
        if (count < size || count % size != 0) refine_error(refine::skip, skip_arg);
    }
    count = std::min(count, length);
    int32_t h = head_index(v);
    bool owned = owned_q(v);
    if (owned) owner_signal(v, change_word::reverse, nullptr, h, count);
    series_buffer_t* s = buffer_of(v);
    // The handler may have shortened the series.
    count = std::min(count, std::max(0, (s->used() >> shift_of(s->unit())) - h));
    size_t record = static_cast<size_t>(size) * s->unit();
    std::vector<uint8_t> temp(record);
    uint8_t* lo = unit_at(s, h);
    uint8_t* hi = unit_at(s, h + (count / size - 1) * size);
    while (lo < hi) {
        std::memcpy(temp.data(), lo, record);
        std::memcpy(lo, hi, record);
        std::memcpy(hi, temp.data(), record);
        lo += record;
        hi -= record;
    }
    if (hash_type::hashed_q(v)) hash_type::reindex(v);
    if (owned) owner_signal(v, change_word::reversed, nullptr, h, count);
    return v;
}

cell_t* move(cell_t* origin, cell_t* target, cell_t* part) {
    uint8_t tt = type_of(target);
    if (!series_q(tt)) {
        // The argument's name comes from the error support, which reads it
        // from the call's spec.
        cell_t word = words::word(words::id::move), type = datatype_cell(tt);
        fire(err::expect_arg, &word, &type);
    }
    cell_t src = *origin, dst = *target;
    if (rs_tail_q(&src)) return target;
    int32_t count = 1;
    if (part) {
        if (type_of(part) != TYPE_integer) refine_error(refine::part, part);
        count = integer_of(part);
        if (count < 1) return target;
    }
    int32_t total = rs_abs_length_q(&src);
    int32_t h = clamped_head(&src, total);
    count = std::min(count, total - h);
    uint8_t st = type_of(&src);

    if (src.data2 == dst.data2) {
        // Which of the three cases applies; 0 moves, 1 answers the target,
        // 2 the source.
        auto decide = [&](int32_t t) {
            if (t >= h && t < h + count) return 1;
            if (t >= h + count && t < total && total - t < count) return 2;
            return 0;
        };
        int32_t t = head_index(&dst);
        int d = decide(t);
        if (d == 0) {
            bool owned = owned_q(&src);
            if (owned) owner_signal(&src, change_word::move, nullptr, h, count);
            total = rs_abs_length_q(&src);
            h = clamped_head(&src, total);
            count = std::min(count, total - h);
            t = head_index(&dst);
            d = count < 1 ? 1 : decide(t);
            if (d == 0) {
                t = std::clamp(t, 0, total);
                series_buffer_t* s = buffer_of(&src);
                int32_t shift = shift_of(s->unit());
                size_t run = static_cast<size_t>(count) << shift;
                std::vector<uint8_t> temp(unit_at(s, h), unit_at(s, h) + run);
                int32_t placed;
                if (t > h) {
                    // Forward: the units after the run, up to and including
                    // the one at t (or all of them, to the tail), move down.
                    int32_t last = t == total ? total : t + 1;
                    std::memmove(unit_at(s, h), unit_at(s, h + count),
                                 static_cast<size_t>(last - h - count) << shift);
                    placed = last - count;
                } else {
                    std::memmove(unit_at(s, t + count), unit_at(s, t),
                                 static_cast<size_t>(h - t) << shift);
                    placed = t;
                }
                std::memcpy(unit_at(s, placed), temp.data(), run);
                if (hash_type::hashed_q(&dst)) hash_type::reindex(&dst);
                if (owned_q(&dst)) owner_signal(&dst, change_word::moved, nullptr, placed, count);
            }
        }
        if (d == 2) {
            *stack::arguments = src;
            return stack::arguments;
        }
        *stack::arguments = dst;
        return stack::arguments;
    }

    bool src_block = block_kind_q(st), dst_block = block_kind_q(tt);
    auto move_bad = [&] {
        cell_t a = datatype_cell(st), b = datatype_cell(tt);
        fire(err::move_bad, &a, &b);
    };
    if (src_block != dst_block) move_bad();
    if (owned_q(&src)) owner_signal(&src, change_word::move, nullptr, h, count);
    total = rs_abs_length_q(&src);
    h = clamped_head(&src, total);
    count = std::min(count, total - h);
    int32_t at = clamped_head(&dst, rs_abs_length_q(&dst));
    if (count > 0) {
        uint32_t su = buffer_of(&src)->unit(), du = buffer_of(&dst)->unit();
        if (su != du) {
            if (st == TYPE_binary || st == TYPE_vector || tt == TYPE_binary || tt == TYPE_vector)
                move_bad();
            // Texts of different widths: the string module converts. It reads
            // and inserts at the cells' own heads, which may lie past a tail.
            cell_t into = dst, from = src;
            into.data1 = static_cast<uint32_t>(at);
            from.data1 = static_cast<uint32_t>(h);
            string::concatenate(&into, &from, count, 0, false, string::MODE_INSERT);
        } else {
            series_buffer_t* s = buffer_of(&src);
            int32_t shift = shift_of(su);
            size_t run = static_cast<size_t>(count) << shift;
            std::vector<uint8_t> temp(unit_at(s, h), unit_at(s, h) + run);
            series_buffer_t* d = buffer_of(&dst);
            if (static_cast<int64_t>(d->tail) + static_cast<int64_t>(run) > d->size)
                d = alloc::expand_series_copy(
                    d, 2 * (static_cast<int64_t>(d->used()) + static_cast<int64_t>(run)));
            std::memmove(unit_at(d, at + count), unit_at(d, at),
                         static_cast<size_t>(d->used() - (at << shift)));
            std::memcpy(unit_at(d, at), temp.data(), run);
            d->tail += static_cast<int32_t>(run);
        }
        remove_units(&src, h, count);
        if (hash_type::hashed_q(&src)) hash_type::reindex(&src);
        if (hash_type::hashed_q(&dst)) hash_type::reindex(&dst);
    }
    if (owned_q(&dst)) owner_signal(&dst, change_word::moved, nullptr, at, count);
    *stack::arguments = dst;
    return stack::arguments;
}

cell_t* random(cell_t* v, bool seed, bool secure, bool only) {
    cell_t self = *v;
    if (seed) {
        series_buffer_t* s = buffer_of(&self);
        int32_t length = get_length(&self, false);
        uint32_t h = hash::murmur3(unit_at(s, head_index(&self)), static_cast<size_t>(length)
                                                                      << shift_of(s->unit()));
        random::srand(static_cast<int32_t>(h));
        set_unset(stack::arguments);
        return stack::arguments;
    }
    int32_t length = get_length(&self, false);
    int32_t h = head_index(&self);
    if (h < 0) h = 0;
    if (only) {
        if (length < 1) {
            set_none(stack::arguments);
            return stack::arguments;
        }
        int32_t p = h + random::int_uniform(secure, length) - 1;
        cell_t out;
        element_at(&self, p, &out);
        *stack::arguments = out;
        return stack::arguments;
    }
    bool owned = owned_q(&self);
    if (owned) owner_signal(&self, change_word::random, nullptr, h, length);
    series_buffer_t* s = buffer_of(&self);
    int32_t total = s->used() >> shift_of(s->unit());
    uint32_t unit = s->unit();
    uint8_t temp[16];
    for (int32_t i = h; i < total; i++) {
        int32_t j = i + random::int_uniform(secure, total - i) - 1;
        if (j == i) continue;
        std::memcpy(temp, unit_at(s, i), unit);
        std::memcpy(unit_at(s, i), unit_at(s, j), unit);
        std::memcpy(unit_at(s, j), temp, unit);
    }
    if (hash_type::hashed_q(&self)) hash_type::reindex(&self);
    if (owned) owner_signal(&self, change_word::randomized, nullptr, h, length);
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* reflect(cell_t* v, int32_t field) {
    if (symbol::resolve(field) !=
        symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::owned))))
        fire(err::not_done);
    cell_t* owner = ownership::get_owner(v->data2);
    if (owner) *stack::arguments = *owner;
    else set_none(stack::arguments);
    return stack::arguments;
}

cell_t* modify(cell_t* v, cell_t* field, cell_t* value, bool) {
    uint8_t ft = type_of(field);
    bool owned_field =
        ft >= TYPE_word && ft <= TYPE_refinement &&
        symbol::resolve(static_cast<int32_t>(field->data2)) ==
            symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::owned)));
    if (!owned_field) return value;
    if (type_of(value) == TYPE_none) ownership::unset_owner(v);
    else if (type_of(value) == TYPE_block && get_length(value, false) >= 2) {
        cell_t owner = *rs_head_cell(value), word = *(rs_head_cell(value) + 1);
        // Only an object can own: its context is marked as an owner.
        if (type_of(&owner) != TYPE_object) fire(err::invalid_arg, value);
        ownership::bind(v, &owner, &word);
    }
    return value;
}

// --- registration -------------------------------------------------------------

void init() {
    datatype::record_t r(TYPE_series, 0, "series!");
    r.own<ACT_random>(random);
    r.own<ACT_reflect>(reflect);
    r.own<ACT_at>(at);
    r.own<ACT_back>(back);
    r.own<ACT_clear>(clear);
    r.own<ACT_copy>(copy);
    r.own<ACT_head>(head);
    r.own<ACT_head_q>(head_q);
    r.own<ACT_index_q>(index_q);
    r.own<ACT_length_q>(length_q);
    r.own<ACT_move>(move);
    r.own<ACT_next>(next);
    r.own<ACT_pick>(pick);
    r.own<ACT_poke>(poke);
    r.own<ACT_remove>(remove);
    r.own<ACT_reverse>(reverse);
    r.own<ACT_skip>(skip);
    r.own<ACT_tail>(tail);
    r.own<ACT_tail_q>(tail_q);
    r.own<ACT_take>(take);
    r.own<ACT_modify>(modify);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace series
}  // namespace zuv
