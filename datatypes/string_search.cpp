// Text find, select, sort, trim and the set operations.
//
// Searching and the built-in sort comparators read characters by address
// and unit and allocate nothing while they hold an address: every value that
// needs allocating (a formed pattern, a copy for a function comparator) is
// made before the scan starts.
#include "datatypes/string_search.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/block_search.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "runtime/case_folding.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::string {
namespace {

using series::change_word;

inline void set_none(cell_t* c) { *c = cell_t{TYPE_none, 0, 0, 0}; }
inline int32_t int_of(const cell_t* c) { return static_cast<int32_t>(c->data2); }

[[noreturn]] void refine_error(words::id which, const cell_t* value) {
    cell_t word = words::word(which);
    fire(err::invalid_refine_arg, &word, value);
}

inline bool same_series_q(const cell_t* v, const cell_t* other) {
    return type_of(other) == type_of(v) && other->data2 == v->data2;
}

inline int32_t clamp_head(const cell_t* v) {
    return std::clamp(static_cast<int32_t>(v->data1), 0, rs_abs_length_q(v));
}

inline uint32_t char_at(series_buffer_t* s, int32_t i) {
    return get_char(s->head_ptr() + static_cast<size_t>(i) * s->unit(), s->unit());
}

inline uint32_t fold(uint32_t c, bool folding) { return folding ? case_folding::to_upper(c) : c; }

// --- find and select ---------------------------------------------------------------

enum class what : uint8_t { one_char, charset, pattern };

struct needle_t {
    what kind;
    bool raw;  // a vector's: elements compared by their stored bytes
    uint8_t bytes[8];  // raw one_char: the element as stored
    uint32_t c;  // one_char: the (folded) code point or byte
    cell_t value;  // charset: the bitset; pattern: the text
    int32_t length;  // pattern: characters from its head
};

// Makes what v stands for; a formed pattern is pushed on the stack (the
// caller drops it).
needle_t make_needle(const cell_t* series, cell_t* v, bool folding, int32_t* pushed) {
    needle_t n{};
    uint8_t st = type_of(series), vt = type_of(v);
    bool bytes = st == TYPE_binary;
    if (st == TYPE_vector) {
        // Elements match exactly: a value of the element type, or a run of
        // elements of a vector of the same type and size.
        n.raw = true;
        if (vt == vector::element_type(series)) {
            n.kind = what::one_char;
            vector::set_value(n.bytes, vector::element_size(series), v);
            return n;
        }
        if (vt != TYPE_vector || vector::element_type(v) != vector::element_type(series) ||
            vector::element_size(v) != vector::element_size(series))
            fire(err::invalid_arg, v);
        n.kind = what::pattern;
        n.value = *v;
        n.length = vector::rs_length_q(v);
        return n;
    }
    if (vt == TYPE_char_) {
        n.kind = what::one_char;
        n.c = fold(v->data2, folding);
        return n;
    }
    if (vt == TYPE_bitset) {
        n.kind = what::charset;
        n.value = *v;
        return n;
    }
    if (bytes && vt == TYPE_integer) {
        n.kind = what::one_char;
        n.c = static_cast<uint32_t>(int_of(v));
        return n;
    }
    if (vt == TYPE_binary && !bytes) fire(err::invalid_arg, v);
    n.kind = what::pattern;
    if ((any_string_q(vt) && vt != TYPE_tag) || vt == TYPE_binary) {
        n.value = *v;
    } else if (vt == TYPE_word) {
        int32_t id = static_cast<int32_t>(v->data2);
        cell_t* text = load(reinterpret_cast<const uint8_t*>(symbol::get_utf8(id)),
                            symbol::utf8_length(id), ENCODING_UTF8);
        n.value = *text;
        (*pushed)++;
    } else {
        cell_t* text = stack::push_slot();
        make_at(text, 16);
        cell_t copy = *v;
        actions::form(&copy, text, false, -1);
        n.value = *text;
        (*pushed)++;
    }
    n.length = rs_length_q(&n.value);
    return n;
}

bool matches_at(series_buffer_t* s, int32_t pos, const needle_t& n, bool folding) {
    if (n.raw) {
        uint32_t unit = s->unit();
        const uint8_t* at = s->head_ptr() + static_cast<size_t>(pos) * unit;
        if (n.kind == what::one_char) return std::memcmp(at, n.bytes, unit) == 0;
        return std::memcmp(at, vector::rs_at(&n.value, 0), static_cast<size_t>(n.length) * unit) ==
               0;
    }
    uint32_t c = char_at(s, pos);
    switch (n.kind) {
    case what::one_char: return fold(c, folding) == n.c;
    case what::charset: return bitset::member_q(&n.value, c);
    default: {
        series_buffer_t* p = buffer_of(&n.value);
        int32_t ph = static_cast<int32_t>(n.value.data1);
        for (int32_t i = 0; i < n.length; i++)
            if (fold(char_at(s, pos + i), folding) != fold(char_at(p, ph + i), folding))
                return false;
        return true;
    }
    }
}

// The first match of a pattern at or after from that ends by end, or -1.
// Positions whose first character differs are passed over in a loop made
// for the unit, which is most of the time a search spends.
template <uint32_t UNIT>
int32_t scan_pattern(series_buffer_t* s, int32_t from, int32_t end, const needle_t& n,
                     bool folding) {
    uint32_t first =
        fold(char_at(buffer_of(&n.value), static_cast<int32_t>(n.value.data1)), folding);
    const uint8_t* base = s->head_ptr();
    for (int32_t pos = from, last = end - n.length; pos <= last; pos++) {
        uint32_t c = get_char(base + static_cast<size_t>(pos) * UNIT, UNIT);
        if ((c == first || (folding && fold(c, true) == first)) && matches_at(s, pos, n, folding))
            return pos;
    }
    return -1;
}

int32_t scan_pattern(series_buffer_t* s, int32_t from, int32_t end, const needle_t& n,
                     bool folding) {
    switch (s->unit()) {
    case 1: return scan_pattern<1>(s, from, end, n, folding);
    case 2: return scan_pattern<2>(s, from, end, n, folding);
    default: return scan_pattern<4>(s, from, end, n, folding);
    }
}

struct found_t {
    int32_t pos;  // -1: none
    int32_t span;  // characters matched
    int32_t step;
    bool backward;
    bool pattern;
};

found_t search(cell_t* series, cell_t* value, cell_t* part, bool case_, bool same, bool any,
               cell_t* with, cell_t* skip, bool last, bool reverse, bool match) {
    found_t none{-1, 0, 1, false, false};
    cell_t self = *series;
    int32_t total = rs_abs_length_q(&self);
    int32_t head = static_cast<int32_t>(self.data1);
    if (total == 0 || (head >= total && !reverse)) return none;
    if (any || with) fire(err::not_done);
    int32_t step = 1;
    if (skip) {
        if (type_of(skip) != TYPE_integer) refine_error(words::id::skip, skip);
        step = int_of(skip);
        if (step < 1) fire(err::out_of_range, skip);
    }
    head = std::clamp(head, 0, total);
    int32_t count = -1;
    if (part) {
        if (type_of(part) == TYPE_integer) count = int_of(part);
        else if (same_series_q(&self, part)) count = static_cast<int32_t>(part->data1) - head;
        else refine_error(words::id::part, part);
        if (count < 1) return none;
    }
    bool folding = any_string_q(type_of(&self)) && !case_ && !same;
    int32_t pushed = 0;
    needle_t n = make_needle(&self, value, folding, &pushed);
    found_t result = none;
    result.step = step;
    int32_t span = n.kind == what::pattern ? n.length : 1;
    result.span = span;
    result.pattern = n.kind == what::pattern;
    // Nothing allocates from here on.
    series_buffer_t* s = buffer_of(&self);
    if (n.kind == what::pattern && span == 0) {
        // An empty pattern finds nothing, as an empty block does.
    } else if (!last && !reverse) {
        int32_t end = count < 0
                          ? total
                          : static_cast<int32_t>(std::min<int64_t>(int64_t{head} + count, total));
        if (n.kind == what::pattern && step == 1 && !match) {
            result.pos = scan_pattern(s, head, end, n, folding);
        } else {
            for (int64_t at = head; at + span <= end; at += step) {
                auto pos = static_cast<int32_t>(at);
                if (matches_at(s, pos, n, folding)) {
                    result.pos = pos;
                    break;
                }
                if (match) break;
            }
        }
    } else if (!(reverse && match)) {
        result.backward = true;
        int32_t bound, from;
        if (reverse) {
            bound = count < 0 ? 0 : std::max(0, head - count);
            from = head - 1;
        } else {
            bound = head;
            from = (count < 0
                        ? total
                        : static_cast<int32_t>(std::min<int64_t>(int64_t{head} + count, total))) -
                   1;
        }
        // Backward, the pattern ends at the position.
        for (int32_t pos = from - (span - 1); pos >= bound; pos -= step) {
            if (matches_at(s, pos, n, folding)) {
                result.pos = pos;
                break;
            }
            if (match) break;
        }
    }
    stack::pop(pushed);
    return result;
}

}  // namespace

cell_t* find(cell_t* series, cell_t* value, const find_options_t& how) {
    cell_t self = *series;
    found_t f = search(series, value, how.part, how.case_, how.same, how.any, how.with, how.skip,
                       how.last, how.reverse, how.match);
    if (f.pos < 0) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    int32_t pos = f.pos;
    if (how.tail)
        pos = static_cast<int32_t>(std::min<int64_t>(int64_t{pos} + (f.pattern    ? f.span
                                                                     : f.backward ? 1
                                                                                  : f.step),
                                                     rs_abs_length_q(&self)));
    self.data1 = static_cast<uint32_t>(pos);
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* select(cell_t* series, cell_t* value, const select_options_t& how) {
    cell_t self = *series;
    found_t f = search(series, value, how.part, how.case_, how.same, how.any, how.with, how.skip,
                       how.last, how.reverse, false);
    // The element after the match: past the text matched.
    int32_t after = f.pos + f.span;
    if (f.pos < 0 || after >= rs_abs_length_q(&self)) {
        set_none(stack::arguments);
        return stack::arguments;
    }
    return series::element_at(&self, after, stack::arguments);
}

// --- sort ---------------------------------------------------------------------------------

namespace {

constexpr uint32_t SORT_REVERSE = 1, SORT_ALL = 2;

struct char_order_t {
    uint32_t unit;
    uint8_t element;  // a vector's element type: its elements compare as numbers
    bool folding;
    uint32_t flags;  // reverse, all
    int32_t offset;  // the character compared (without all)
    int32_t length;  // the record's characters (with all)
};

// Case folds to lower case at every unit width, so that the order of
// characters that lie between the two cases (such as "_") never depends on
// how wide the text happens to be stored.
inline uint32_t sort_fold(uint32_t c, bool folding) {
    return folding ? case_folding::to_lower(c) : c;
}

int32_t chars_compare(const void* a, const void* b, uintptr_t user, uintptr_t) {
    const auto* o = reinterpret_cast<const char_order_t*>(user);
    const auto* p = static_cast<const uint8_t*>(a);
    const auto* q = static_cast<const uint8_t*>(b);
    int32_t first = (o->flags & SORT_ALL) ? 0 : o->offset;
    int32_t last = (o->flags & SORT_ALL) ? o->length : o->offset + 1;
    for (int32_t i = first; i < last; i++) {
        if (o->element) {
            int32_t r =
                vector::compare_elements(p + static_cast<size_t>(i) * o->unit,
                                         q + static_cast<size_t>(i) * o->unit, o->element, o->unit);
            if (r != 0) return (o->flags & SORT_REVERSE) ? -r : r;
            continue;
        }
        uint32_t c = sort_fold(get_char(p + static_cast<size_t>(i) * o->unit, o->unit), o->folding);
        uint32_t d = sort_fold(get_char(q + static_cast<size_t>(i) * o->unit, o->unit), o->folding);
        if (c != d) {
            int32_t r = c < d ? -1 : 1;
            return (o->flags & SORT_REVERSE) ? -r : r;
        }
    }
    return 0;
}

struct text_call_t {
    cell_t* fn;
    const std::vector<uint8_t>* units;  // the records' units as stored
    uint8_t type;  // the series' type: what the function receives
    uint8_t element;  // a vector's element type, else 0
    uint32_t unit;
    int32_t skip;
    bool all;
    bool reverse;
};

// One unit as a value: a character, an integer for a binary, an element of
// a vector.
cell_t unit_value(const text_call_t& o, size_t at) {
    const uint8_t* p = o.units->data() + at * o.unit;
    cell_t v;
    if (o.element) return *vector::get_value(p, o.element, o.unit, &v);
    uint32_t c = get_char(p, o.unit);
    return o.type == TYPE_binary ? cell_t{TYPE_integer, 0, c, 0} : cell_t{TYPE_char_, 0, c, 0};
}

// One record as a value: its unit, or with /all a new series of the
// series' kind holding the record.
cell_t record_value(const text_call_t& o, uint32_t index) {
    size_t at = static_cast<size_t>(index) * o.skip;
    if (!o.all) return unit_value(o, at);
    cell_t* record = stack::push_slot();
    if (o.element) {
        vector::make_at(record, o.skip, o.element, o.unit);
        for (int32_t i = 0; i < o.skip; i++) {
            cell_t v = unit_value(o, at + static_cast<size_t>(i));
            vector::rs_append(record, &v);
        }
        return *record;
    }
    make_at(record, o.skip);
    for (int32_t i = 0; i < o.skip; i++)
        append_char(record, unit_value(o, at + static_cast<size_t>(i)).data2);
    cell::set_type(record, o.type);
    cell_t v = *record;
    return v;
}

int32_t text_function_compare(const void* a, const void* b, uintptr_t user, uintptr_t) {
    const auto* o = reinterpret_cast<const text_call_t*>(user);
    cell_t* mark = stack::top_slot;
    cell_t x = record_value(*o, *static_cast<const uint32_t*>(a));
    cell_t y = record_value(*o, *static_cast<const uint32_t*>(b));
    int32_t r = o->reverse ? search::call_comparator(o->fn, &x, &y)
                           : search::call_comparator(o->fn, &y, &x);
    stack::top_slot = mark;
    return r;
}

// The function comparator sorts indexes of a C++ copy of the units and
// writes the records back in that order: the function may allocate and
// move the buffer.
void sort_by_function(cell_t* self, cell_t* fn, int32_t start, int32_t records, int32_t skip,
                      bool all, bool reverse, bool stable) {
    cell_t* fn_slot = stack::push(fn);
    uint32_t unit = buffer_of(self)->unit();
    size_t record_bytes = static_cast<size_t>(skip) * unit;
    std::vector<uint8_t> units(static_cast<size_t>(records) * record_bytes);
    std::memcpy(units.data(), buffer_of(self)->head_ptr() + static_cast<size_t>(start) * unit,
                units.size());
    std::vector<uint32_t> index(static_cast<size_t>(records));
    for (int32_t i = 0; i < records; i++) index[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
    uint8_t element = type_of(self) == TYPE_vector ? vector::element_type(self) : 0;
    text_call_t order{fn_slot, &units, type_of(self), element, unit, skip, all, reverse};
    auto user = reinterpret_cast<uintptr_t>(&order);
    if (stable)
        sort::mergesort(index.data(), index.size(), sizeof(uint32_t), user, 0,
                        text_function_compare);
    else sort::qsort(index.data(), index.size(), sizeof(uint32_t), user, 0, text_function_compare);
    // The function may have changed the series meanwhile: write back only
    // records that still fit, in units of the width the series has now.
    series_buffer_t* s = buffer_of(self);
    int32_t room = std::max(0, rs_abs_length_q(self) - start) / skip;
    for (int32_t i = 0; i < std::min(records, room); i++) {
        const uint8_t* from = units.data() + index[static_cast<size_t>(i)] * record_bytes;
        for (int32_t j = 0; j < skip; j++) {
            uint8_t* to = s->head_ptr() + static_cast<size_t>(start + i * skip + j) * s->unit();
            if (s->unit() == unit) std::memcpy(to, from + static_cast<size_t>(j) * unit, unit);
            else put_char(to, s->unit(), get_char(from + static_cast<size_t>(j) * unit, unit));
        }
    }
    stack::top_slot = fn_slot;
}

}  // namespace

cell_t* sort(cell_t* series, bool case_, cell_t* skip_cell, cell_t* comparator, cell_t* part,
             bool all, bool reverse, bool stable) {
    cell_t* self = stack::push(series);
    int32_t total = rs_abs_length_q(self);
    int32_t head = clamp_head(self);
    self->data1 = static_cast<uint32_t>(head);
    int32_t count = total - head;
    if (part) {
        int32_t n;
        if (type_of(part) == TYPE_integer) n = int_of(part);
        else if (same_series_q(self, part)) n = static_cast<int32_t>(part->data1) - head;
        else refine_error(words::id::part, part);
        if (n < 0) {
            if (head + n < 0) {
                self->data1 = 0;
                count = 0;
            } else {
                head += n;
                self->data1 = static_cast<uint32_t>(head);
                count = -n;
            }
        } else {
            count = std::min(n, count);
        }
    }
    *stack::arguments = *self;
    if (count == 0) {
        stack::top_slot = self;
        return stack::arguments;
    }
    int32_t skip = 1;
    if (skip_cell) {
        if (type_of(skip_cell) != TYPE_integer) refine_error(words::id::skip, skip_cell);
        skip = int_of(skip_cell);
        if (skip < 1 || count < skip || count % skip != 0) refine_error(words::id::skip, skip_cell);
    } else if (all) {
        fire(err::bad_refines);
    }
    int32_t offset = 0;
    bool by_function = false;
    if (comparator) {
        if (type_of(comparator) == TYPE_function) {
            by_function = true;
        } else if (type_of(comparator) == TYPE_integer) {
            if (all || !skip_cell) fire(err::bad_refines);
            int32_t i = int_of(comparator);
            if (i < 1 || i > skip) fire(err::out_of_range, comparator);
            offset = i - 1;
        } else {
            cell_t word = words::word(words::id::compare);
            fire(err::invalid_refine_arg, &word, comparator);
        }
    }
    int32_t records = count / skip;
    series::signal_owner(self, change_word::sort, nullptr, head, count);
    if (by_function) {
        try {
            sort_by_function(self, comparator, head, records, skip, all, reverse, stable);
        } catch (const search::exit_pending&) {
            return stack::arguments;  // the exit passes on; both stacks are its
        }
    } else {
        // Read after the event: its handler may have widened the text.
        series_buffer_t* s = buffer_of(self);
        uint8_t element = type_of(self) == TYPE_vector ? vector::element_type(self) : 0;
        char_order_t order{s->unit(),
                           element,
                           any_string_q(type_of(self)) && !case_,
                           (reverse ? SORT_REVERSE : 0u) | (all ? SORT_ALL : 0u),
                           offset,
                           skip};
        // Only identical records compare equal under these: any order of
        // them is stable.
        if (stable && !order.folding && !(skip >= 2 && !all)) stable = false;
        uint8_t* base = s->head_ptr() + static_cast<size_t>(head) * s->unit();
        size_t size = static_cast<size_t>(skip) * s->unit();
        auto user = reinterpret_cast<uintptr_t>(&order);
        if (stable)
            sort::mergesort(base, static_cast<size_t>(records), size, user, 0, chars_compare);
        else sort::qsort(base, static_cast<size_t>(records), size, user, 0, chars_compare);
    }
    series::signal_owner(self, change_word::sorted, nullptr, head, count);
    *stack::arguments = *self;
    stack::top_slot = self;
    return stack::arguments;
}

// --- trim ---------------------------------------------------------------------------------

bool trim_blank_q(uint32_t c) {
    return c == ' ' || c == '\t' || c == 133 || c == 160 || c == 5760 || c == 6158 ||
           (c >= 8192 && c <= 8202) || c == 8232 || c == 8233 || c == 8239 || c == 8287 ||
           c == 12288;
}

bool trim_space_q(uint32_t c) { return (c >= 1 && c <= 32) || trim_blank_q(c); }

namespace {

std::vector<uint32_t> trim_set(const cell_t* with) {
    if (with == nullptr) return {'\t', '\n', '\r', ' '};
    uint8_t t = type_of(with);
    if (t == TYPE_char_ || t == TYPE_integer) return {with->data2};
    if (any_string_q(t) || t == TYPE_binary) {
        std::vector<uint32_t> set;
        series_buffer_t* s = buffer_of(with);
        int32_t n = rs_length_q(with);
        for (int32_t i = 0; i < n; i++)
            set.push_back(char_at(s, static_cast<int32_t>(with->data1) + i));
        return set;
    }
    fire(err::invalid_arg, with);
}

std::vector<uint32_t> trim_chars(const std::vector<uint32_t>& in, bool head, bool tail,
                                 bool lines) {
    size_t b = 0, e = in.size();
    if (lines) {
        std::vector<uint32_t> out;
        bool pending_space = false;
        for (uint32_t c : in) {
            if (trim_space_q(c)) {
                pending_space = !out.empty();
                continue;
            }
            if (pending_space) out.push_back(' ');
            pending_space = false;
            out.push_back(c);
        }
        return out;
    }
    bool only_tail = tail && !head, only_head = head && !tail;
    if (!only_tail)
        while (b < e && trim_space_q(in[b])) b++;
    bool dropped_line_feed = false;
    if (!only_head)
        while (e > b && trim_space_q(in[e - 1])) {
            if (in[e - 1] == '\n') dropped_line_feed = true;
            e--;
        }
    if (head || tail)
        return std::vector<uint32_t>(in.begin() + static_cast<ptrdiff_t>(b),
                                     in.begin() + static_cast<ptrdiff_t>(e));
    // Neither: every line loses its leading and trailing blanks.
    std::vector<uint32_t> out;
    size_t i = b;
    while (i < e) {
        size_t line_end = i;
        while (line_end < e && in[line_end] != '\n') line_end++;
        size_t lb = i, le = line_end;
        while (lb < le && trim_blank_q(in[lb])) lb++;
        while (le > lb && trim_blank_q(in[le - 1])) le--;
        out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(lb),
                   in.begin() + static_cast<ptrdiff_t>(le));
        if (line_end < e) out.push_back('\n');
        i = line_end + 1;
    }
    if (dropped_line_feed) out.push_back('\n');
    return out;
}

}  // namespace

cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with) {
    if (auto_) fire(err::not_done);
    cell_t* self = stack::push(series);
    int32_t h = clamp_head(self);
    self->data1 = static_cast<uint32_t>(h);
    int32_t n = rs_abs_length_q(self) - h;
    std::vector<uint32_t> removed;
    if (all || with) removed = trim_set(with);
    series::signal_owner(self, change_word::trim, nullptr, h, n);
    // Nothing allocates from here on: the kept characters go back into the
    // same buffer, from the head.
    series_buffer_t* s = buffer_of(self);
    std::vector<uint32_t> in(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) in[static_cast<size_t>(i)] = char_at(s, h + i);
    std::vector<uint32_t> out;
    if (all || with) {
        for (uint32_t c : in)
            if (std::find(removed.begin(), removed.end(), c) == removed.end()) out.push_back(c);
    } else {
        out = trim_chars(in, head, tail, lines);
    }
    uint32_t unit = s->unit();
    for (size_t i = 0; i < out.size(); i++)
        put_char(s->head_ptr() + (static_cast<size_t>(h) + i) * unit, unit, out[i]);
    s->tail = s->head + static_cast<int32_t>((static_cast<size_t>(h) + out.size()) * unit);
    series::signal_owner(self, change_word::trimmed, nullptr, h, static_cast<int32_t>(out.size()));
    *stack::arguments = *self;
    stack::top_slot = self;
    return stack::arguments;
}

// --- set operations --------------------------------------------------------------------

namespace {

// Whether c occurs in v at its head or every skip-th character after it.
bool occurs_q(const cell_t* v, uint32_t c, int32_t skip, bool folding) {
    series_buffer_t* s = buffer_of(v);
    int32_t h = static_cast<int32_t>(v->data1);
    int32_t n = rs_abs_length_q(v);
    c = fold(c, folding);
    for (int64_t i = h; i < n; i += skip)
        if (fold(char_at(s, static_cast<int32_t>(i)), folding) == c) return true;
    return false;
}

}  // namespace

cell_t* do_set_op(bool case_, const cell_t* skip_cell, int32_t code) {
    int32_t skip = 1;
    if (skip_cell) {
        if (type_of(skip_cell) != TYPE_integer || int_of(skip_cell) < 1)
            refine_error(words::id::skip, skip_cell);
        skip = int_of(skip_cell);
    }
    cell_t* set1 = &stack::arguments[0];
    cell_t* set2 = &stack::arguments[1];
    bool two = code != block::SET_UNIQUE;
    set1->data1 = static_cast<uint32_t>(clamp_head(set1));
    if (two) set2->data1 = static_cast<uint32_t>(clamp_head(set2));
    bool folding = any_string_q(type_of(set1)) && !case_;
    int32_t capacity = rs_length_q(set1) + (code == block::SET_UNION ? rs_length_q(set2) : 0);
    uint32_t unit = std::max(buffer_of(set1)->unit(), two ? buffer_of(set2)->unit() : 1u);
    cell_t* result = stack::push_slot();
    make_at_unit(result, std::max(1, capacity), static_cast<int32_t>(unit));
    int32_t passes = (code == block::SET_UNION || code == block::SET_DIFFERENCE) ? 2 : 1;
    bool test =
        code == block::SET_INTERSECT || code == block::SET_EXCLUDE || code == block::SET_DIFFERENCE;
    for (int32_t pass = 0; pass < passes; pass++) {
        cell_t* from = pass == 0 ? set1 : set2;
        cell_t* other = pass == 0 ? set2 : set1;
        // 64 bits: a huge /skip steps past the end, not around to a negative index.
        for (int64_t step = from->data1; step < rs_abs_length_q(from); step += skip) {
            auto i = static_cast<int32_t>(step);
            uint32_t c = rs_abs_at(from, i);
            if (test) {
                bool in = occurs_q(other, c, skip, folding);
                if (code == block::SET_INTERSECT ? !in : in) continue;
            }
            if (occurs_q(result, c, skip, folding)) continue;
            int32_t n = std::min(skip, rs_abs_length_q(from) - i);
            for (int32_t j = 0; j < n; j++) append_char(result, rs_abs_at(from, i + j));
        }
    }
    cell::set_type(result, type_of(set1));
    *set1 = *result;
    stack::top_slot = result;
    return set1;
}

}  // namespace zuv::string
