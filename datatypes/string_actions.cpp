// string!'s actions: registration, make and to, path access, comparison, and
// the modifying actions append, insert, change, swap and take.
//
// The same entries serve every type that inherits them (file!, url!, tag!,
// email!, ref!), so the workers read the datatype of their arguments and the
// unit of the target rather than assume string!.
//
// Insert and change never build the new text in a temporary: they form it
// straight into the target's tail and rotate it into place. Should forming
// fail half-way (an error inside a value's form), the text already formed is
// cut off again, so a failed call leaves the target as it was.
#include <algorithm>
#include <cmath>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_search.h"
#include "datatypes/symbol.h"
#include "runtime/case_folding.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::string {
namespace {

using series::change_word;

inline int32_t int_of(const cell_t* c) { return static_cast<int32_t>(c->data2); }

inline bool block_like_q(uint8_t t) { return t == TYPE_block || t == TYPE_paren || t == TYPE_hash; }

[[noreturn]] void fire_with_type(err id, int32_t type, const cell_t* value) {
    cell_t* t = stack::push_slot();
    *t = cell_t{TYPE_datatype, static_cast<uint32_t>(type), 0, 0};
    fire(id, t, value);
}

// A new empty string! in a pushed slot (rooted while it is filled).
cell_t* push_new(int64_t capacity) {
    cell_t* c = stack::push_slot();
    make_at(c, capacity);
    return c;
}

// Moves a pushed result into the result slot and drops the pushed slot.
cell_t* finish(cell_t* pushed) {
    cell_t result = *pushed;
    stack::pop(1);
    *stack::arguments = result;
    return stack::arguments;
}

// Forms a value at target's tail: strings directly (no dispatch needed),
// anything else through its form action.
int32_t form_value(cell_t* target, cell_t* value, bool part, int32_t limit) {
    if (any_string_q(type_of(value)) && type_of(value) != TYPE_tag)
        return form(value, target, part, limit);
    return actions::form(value, target, part, limit);
}

// The unit a char! needs when added through append, insert or change.
inline uint32_t char_unit(uint32_t c) { return c > 0xFFFF ? 4 : c > 0x7F ? 2 : 1; }

// Cuts the target back to chars characters (after a failure or a limit).
inline void cut_to(cell_t* target, int32_t chars) { truncate_to(buffer_of(target), chars); }

// Appends the text of v at the target's tail: no events, no repetition.
// counting_chars: p counts characters for formed values (insert, change and
// /only); otherwise each formed block element counts one. insert_mode: the
// part rule of insert (1 <= p < count limits; anything else takes all).
void append_text(cell_t* target, cell_t* v, int32_t p, bool only, bool insert_mode) {
    uint8_t vt = type_of(v);
    if (vt == TYPE_char_) {
        uint32_t c = v->data2;
        series_buffer_t* s = buffer_of(target);
        if (char_unit(c) > s->unit()) s = widen_to(s, char_unit(c));
        append_char(s, c);
        return;
    }
    if (any_string_q(vt)) {
        int32_t count = rs_length_q(v) + (vt == TYPE_tag ? 2 : 0);
        if (insert_mode) p = (p >= 1 && p < count) ? p : count;
        else p = (p < 0 || p > count) ? count : p;
        if (vt == TYPE_tag && p > 0) {
            append_char(buffer_of(target), '<');
            p--;
        }
        int32_t n = std::min(p, rs_length_q(v));
        concatenate(target, v, n, 0, true, MODE_APPEND);
        p -= n;
        if (vt == TYPE_tag && p > 0) append_char(buffer_of(target), '>');
        return;
    }
    bool by_chars = only || insert_mode;
    if (block_like_q(vt)) {
        cell_t* item = stack::push_slot();  // the element being formed, rooted
        cell::begin(item);
        for (int32_t i = static_cast<int32_t>(v->data1);; i++) {
            series_buffer_t* b = alloc::buffer(v->data2);
            if (i >= b->used() / static_cast<int32_t>(sizeof(cell_t))) break;
            if (p >= 0 && p < 1) break;
            *item = b->head_cell()[i];
            int32_t before = rs_abs_length_q(target);
            if (by_chars && p >= 0) {
                form_value(target, item, true, p);
                int32_t added = rs_abs_length_q(target) - before;
                if (added > p) {
                    cut_to(target, before + p);
                    added = p;
                }
                p -= added;
            } else {
                form_value(target, item, false, -1);
                if (p >= 0) p--;
            }
        }
        stack::pop(1);
        return;
    }
    int32_t before = rs_abs_length_q(target);
    if (by_chars && p >= 0) {
        form_value(target, v, true, p);
        if (rs_abs_length_q(target) - before > p) cut_to(target, before + p);
    } else {
        form_value(target, v, false, -1);
    }
}

// Repeats the last added characters (from first to the tail) until they
// stand dup times, doubling the copied region each step.
void repeat_tail(cell_t* target, int32_t first, int32_t dup) {
    int32_t total = rs_abs_length_q(target);
    int64_t n = total - first;
    if (dup < 2 || n <= 0) return;
    series_buffer_t* s = buffer_of(target);
    uint32_t unit = s->unit();
    int64_t bytes = n * unit * (static_cast<int64_t>(dup) - 1);
    if (bytes > static_cast<int64_t>(alloc::SERIES_LIMIT) - s->tail) fire(err::no_memory);
    node_t node = s->node;
    alloc::alloc_tail_unit(s, static_cast<int32_t>(bytes));
    s = alloc::buffer(node);
    uint8_t* start = s->head_ptr() + static_cast<size_t>(first) * unit;
    int64_t done = n * unit;
    int64_t want = n * unit * dup;
    while (done < want) {
        int64_t k = std::min(done, want - done);
        std::memcpy(start + done, start, static_cast<size_t>(k));
        done += k;
    }
}

// Appends v (d times) at the tail and removes it again when forming fails.
// Returns the characters added.
int32_t append_guarded(cell_t* target, cell_t* v, int32_t p, bool only, int32_t dup,
                       bool insert_mode) {
    int32_t before = rs_abs_length_q(target);
    try {
        append_text(target, v, p, only, insert_mode);
        repeat_tail(target, before, dup);
    } catch (...) {
        cut_to(target, before);
        throw;
    }
    return rs_abs_length_q(target) - before;
}

// Rotates the last m characters into place at index at.
void rotate_into(cell_t* target, int32_t at, int32_t m) {
    series_buffer_t* s = buffer_of(target);
    uint32_t unit = s->unit();
    int32_t total = s->used() / static_cast<int32_t>(unit);
    uint8_t* a = s->head_ptr() + static_cast<size_t>(at) * unit;
    int32_t length_a = (total - m - at) * static_cast<int32_t>(unit);
    swap_ranges(a, length_a, a + length_a, m * static_cast<int32_t>(unit), 0);
}

int32_t clamped_head(const cell_t* v) {
    int32_t h = static_cast<int32_t>(v->data1);
    return std::clamp(h, 0, rs_abs_length_q(v));
}

// A string cell for a symbol's name, for comparison.
cell_t as_text(cell_t* v) {
    if (type_of(v) == TYPE_symbol) return cell_t{TYPE_string, 0, symbol::cache_string(v), 0};
    return *v;
}

// The characters of v a comparison reads, t being its text (as_text): from
// the head (one past the tail read as the tail) to the tail, or to a view's
// limit.
struct text_span {
    const uint8_t* head;
    int32_t length;
    uint32_t unit;
};
[[gnu::always_inline]] inline text_span span_of(const cell_t* v, const cell_t* t) {
    series_buffer_t* s = buffer_of(t);
    uint32_t unit = s->unit();
    int32_t total = s->used() / static_cast<int32_t>(unit);
    int32_t n = std::max(total - static_cast<int32_t>(t->data1), 0);
    if (type_of(v) == TYPE_STRING_VIEW && static_cast<int32_t>(v->data3) >= 0)
        n = std::min(n, static_cast<int32_t>(v->data3));
    uint32_t head = std::min(t->data1, static_cast<uint32_t>(total));
    return {s->head_ptr() + static_cast<size_t>(head) * unit, n, unit};
}

}  // namespace

// --- comparison ---------------------------------------------------------------

int32_t compare_strings(cell_t* a, cell_t* b, int32_t op, bool match) {
    if (op == actions::cmp::SAME) return (a->data2 == b->data2 && a->data1 == b->data1) ? 0 : -1;
    if (a->data2 == b->data2 && a->data1 == b->data1 &&
        (op == actions::cmp::EQUAL || op == actions::cmp::NOT_EQUAL ||
         op == actions::cmp::STRICT_EQUAL || op == actions::cmp::FIND))
        return 0;
    cell_t x = as_text(a);
    cell_t y = as_text(b);
    text_span sa = span_of(a, &x);
    text_span sb = span_of(b, &y);
    int32_t la = sa.length;
    int32_t lb = sb.length;
    bool equality = op == actions::cmp::EQUAL || op == actions::cmp::NOT_EQUAL ||
                    op == actions::cmp::STRICT_EQUAL || op == actions::cmp::FIND;
    int32_t n;
    if (match) {
        if (lb == 0) return op == actions::cmp::FIND ? 1 : 0;
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && (equality || lb == 0)) return 1;
        if (la == 0 && lb == 0) return 0;
        n = std::min(la, lb);
    }
    bool fold = op != actions::cmp::STRICT_EQUAL && op != actions::cmp::SORT_CASE;
    const uint8_t* p = sa.head;
    const uint8_t* q = sb.head;
    uint32_t ua = sa.unit, ub = sb.unit;
    if (!fold && ua == ub && ua == 1) {
        int r = std::memcmp(p, q, static_cast<size_t>(n));
        if (r != 0) return r < 0 ? -1 : 1;
    } else if (ua == 1 && ub == 1) {
        // Bytes, folded only where they differ.
        for (int32_t i = 0; i < n; i++) {
            uint32_t c = p[i], d = q[i];
            if (c == d) continue;
            c = case_folding::to_upper(c);
            d = case_folding::to_upper(d);
            if (c != d) return c < d ? -1 : 1;
        }
    } else {
        for (int32_t i = 0; i < n; i++, p += ua, q += ub) {
            uint32_t c = get_char(p, ua), d = get_char(q, ub);
            if (c == d) continue;
            if (fold) {
                c = case_folding::to_upper(c);
                d = case_folding::to_upper(d);
                if (c == d) continue;
            }
            return c < d ? -1 : 1;
        }
    }
    if (match || la == lb) return 0;
    return la < lb ? -1 : 1;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value1) != type_of(value2) &&
        !(any_string_q(type_of(value2)) &&
          (op == actions::cmp::EQUAL || op == actions::cmp::NOT_EQUAL)))
        return -2;
    return compare_strings(value1, value2, op, false);
}

// --- matching -------------------------------------------------------------------

bool find_char_skip_q(cell_t* value, uint32_t c, int32_t skip, bool case_) {
    int32_t n = rs_length_q(value);
    if (skip < 1) skip = 1;
    const uint8_t* p = rs_head(value);
    uint32_t unit = buffer_of(value)->unit();
    if (!case_) c = case_folding::to_upper(c);
    for (int32_t i = 0; i < n; i += skip) {
        uint32_t d = get_char(p + static_cast<size_t>(i) * unit, unit);
        if (!case_) d = case_folding::to_upper(d);
        if (d == c) return true;
    }
    return false;
}

bool match_bitset_q(cell_t* value, cell_t* bitset) {
    if (rs_tail_q(value)) return false;
    uint32_t c = get_char(rs_head(value), buffer_of(value)->unit());
    return bitset::member_q(bitset, c);
}

bool match_tag_q(cell_t* value, cell_t* tag) {
    int32_t n = rs_length_q(tag);
    if (rs_length_q(value) < n + 2) return false;
    const uint8_t* p = rs_head(value);
    uint32_t unit = buffer_of(value)->unit();
    return get_char(p, unit) == '<' && get_char(p + static_cast<size_t>(n + 1) * unit, unit) == '>';
}

bool match_q(cell_t* value, cell_t* other, int32_t op) {
    uint8_t t = type_of(other);
    if (t == TYPE_char_) {
        if (rs_tail_q(value)) return false;
        uint32_t c = get_char(rs_head(value), buffer_of(value)->unit());
        uint32_t d = other->data2;
        if (op != actions::cmp::STRICT_EQUAL) {
            c = case_folding::to_upper(c);
            d = case_folding::to_upper(d);
        }
        return c == d;
    }
    if (t == TYPE_tag) {
        if (!match_tag_q(value, other)) return false;
        cell_t inner = *value;
        inner.data1++;
        return compare_strings(&inner, other, op, true) == 0;
    }
    if (any_string_q(t)) return compare_strings(value, other, op, true) == 0;
    return false;
}

// --- make and to ------------------------------------------------------------------

cell_t* to(cell_t*, cell_t* spec, int32_t type) {
    uint8_t st = type_of(spec);
    if (st == TYPE_none) fire_with_type(err::bad_to_arg, TYPE_string, spec);
    cell_t* out;
    if (block_like_q(st)) {
        out = push_new(16);
        append_text(out, spec, -1, false, false);
    } else if (any_string_q(st)) {
        out = stack::push_slot();
        cell::begin(out);
        series::copy(spec, out, nullptr, false, nullptr);
    } else if (st == TYPE_refinement) {
        out = push_new(16);
        if (type != TYPE_string) append_char(out, '/');
        int32_t id = static_cast<int32_t>(spec->data2);
        append_utf8(out, symbol::get_utf8(id), symbol::utf8_length(id));
    } else if (st == TYPE_binary) {
        out = push_new(16);
        series_buffer_t* b = alloc::buffer(spec->data2);
        int32_t head = std::min<int32_t>(static_cast<int32_t>(spec->data1), b->used());
        int64_t length = b->used() - head;
        int32_t offset = b->head + head;
        int64_t remaining = 0;
        unicode::load_utf8_into(text_source::in(spec->data2, offset), length, out, &remaining);
        if (remaining > 0) {
            // The bytes that did not decode, as a binary! of their own.
            int32_t from = offset + static_cast<int32_t>(length - remaining);
            node_t node = alloc::alloc_bytes(remaining);
            series_buffer_t* r = alloc::buffer(node);
            std::memcpy(r->data(), alloc::buffer(spec->data2)->data() + from,
                        static_cast<size_t>(remaining));
            r->tail = r->head + static_cast<int32_t>(remaining);
            cell_t* arg = stack::push_slot();
            *arg = cell_t{TYPE_binary, 0, node, 0};
            fire(err::invalid_utf8, arg);
        }
    } else {
        out = push_new(16);
        form_value(out, spec, false, -1);
    }
    cell::set_type(out, static_cast<uint32_t>(type));
    return finish(out);
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    uint8_t st = type_of(spec);
    if (st == TYPE_integer || st == TYPE_float_) {
        int64_t capacity;
        if (st == TYPE_float_) {
            double d = cell::get_float(spec);
            if (!(d >= -2147483648.0 && d < 2147483648.0)) fire(err::out_of_range, spec);
            capacity = static_cast<int64_t>(d);
        } else {
            capacity = int_of(spec);
        }
        if (capacity < 0) fire(err::out_of_range, spec);
        cell_t* out = stack::push_slot();
        make_at_unit(out, capacity, 1);
        cell::set_type(out, static_cast<uint32_t>(type));
        return finish(out);
    }
    if (type == TYPE_binary) {
        if (st == TYPE_money) fire_with_type(err::bad_make_arg, TYPE_binary, spec);
        auto fn =
            reinterpret_cast<action_fn::to_t>(actions::get_action(TYPE_binary, proto, ACT_to));
        return fn(proto, spec, type);
    }
    return to(proto, spec, type);
}

// --- path access -------------------------------------------------------------------

static cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t*,
                         cell_t*, int32_t, bool case_, bool, bool, bool) {
    uint8_t et = type_of(element);
    if (et == TYPE_integer) {
        if (value == nullptr || type_of(value) == TYPE_none)
            return series::pick(parent, int_of(element), element);
        return series::poke(parent, int_of(element), element, value);
    }
    if (et == TYPE_word) fire(err::invalid_path, path, element);
    if (value == nullptr || type_of(value) == TYPE_none)
        return actions::select(parent, element, {.case_ = case_});
    cell_t* found = actions::find(parent, element, {.case_ = case_});
    if (type_of(found) == TYPE_none) fire(err::bad_path_set, path, element);
    cell_t at = *found;
    cell_t* index = stack::push_slot();
    *index = cell_t{TYPE_integer, 0, 2, 0};
    series::poke(&at, 2, index, value);
    stack::pop(1);
    *stack::arguments = *value;
    return stack::arguments;
}

// --- append, insert, change ----------------------------------------------------------

cell_t* append(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool signal) {
    cell_t self = *series;
    int32_t length = rs_abs_length_q(&self);
    if (signal) series::signal_owner(&self, change_word::append, value, length, 0);
    int32_t added = append_guarded(&self, value, part, only, dup < 1 ? 1 : dup, false);
    if (added > 0) {
        if (signal) series::signal_owner(&self, change_word::appended, value, length, added);
        self.data1 = 0;
    }
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* insert(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup, bool append_) {
    if (append_) return append(series, value, part, only, dup, true);
    cell_t self = *series;
    int32_t head = clamped_head(&self);
    series::signal_owner(&self, change_word::insert, value, head, 0);
    int32_t length = rs_abs_length_q(&self);
    head = std::min(clamped_head(&self), length);
    if (dup < 1) dup = 1;
    int32_t added;
    if (head >= length) {
        added = append_guarded(&self, value, part, only, dup, false);
    } else {
        added = append_guarded(&self, value, part, only, dup, true);
        if (added > 0) rotate_into(&self, head, added);
    }
    series::signal_owner(&self, change_word::inserted, value, head, added);
    self.data1 = static_cast<uint32_t>(std::min(head + added, rs_abs_length_q(&self)));
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* change(cell_t* series, cell_t* value, int32_t part, bool only, int32_t dup) {
    cell_t self = *series;
    int32_t head = clamped_head(&self);
    int32_t length = rs_abs_length_q(&self);
    int32_t available = length - head;
    series::signal_owner(&self, change_word::change, value, head, available);
    length = rs_abs_length_q(&self);
    head = std::min(clamped_head(&self), length);
    available = length - head;
    if (dup < 1) dup = 1;
    int32_t added;
    if (available <= 0) {
        added = append_guarded(&self, value, -1, only, dup, false);
    } else {
        added = append_guarded(&self, value, -1, only, dup, true);
        int32_t replaced = part >= 0 ? std::min(part, available) : std::min(added, available);
        if (added > 0) rotate_into(&self, head, added);
        remove_part(&self, head + added, replaced);
    }
    series::signal_owner(&self, change_word::changed, value, head, added);
    self.data1 = static_cast<uint32_t>(std::min(head + added, rs_abs_length_q(&self)));
    *stack::arguments = self;
    return stack::arguments;
}

// --- swap and take ---------------------------------------------------------------------

cell_t* swap(cell_t* series1, cell_t* series2) {
    uint8_t t2 = type_of(series2);
    if (!any_string_q(t2) && t2 != TYPE_binary) fire(err::invalid_arg, series2);
    cell_t a = *series1, b = *series2;
    if (!rs_tail_q(&a) && !rs_tail_q(&b)) {
        bool owned_a = series::owned_q(&a), owned_b = series::owned_q(&b);
        series::signal_owner(&a, change_word::swap, &b, static_cast<int32_t>(a.data1), 1);
        series::signal_owner(&b, change_word::swap, &a, static_cast<int32_t>(b.data1), 1);
        // An owner's handler may have changed either series.
        if (!rs_tail_q(&a) && !rs_tail_q(&b)) {
            uint32_t ca = get_char(rs_head(&a), buffer_of(&a)->unit());
            uint32_t cb = get_char(rs_head(&b), buffer_of(&b)->unit());
            // A binary! holds bytes: a wider character cannot go in.
            cell_t* wide = nullptr;
            cell_t chars[2] = {{TYPE_char_, 0, cb, 0}, {TYPE_char_, 0, ca, 0}};
            if (type_of(&a) == TYPE_binary && cb > 0xFF) wide = &chars[0];
            if (type_of(&b) == TYPE_binary && ca > 0xFF) wide = &chars[1];
            if (wide) fire(err::out_of_range, stack::push(wide));
            set_char(buffer_of(&a), rs_head(&a), cb);
            set_char(buffer_of(&b), rs_head(&b), ca);
        }
        if (owned_a)
            series::signal_owner(&a, change_word::swaped, &b, static_cast<int32_t>(a.data1), 1);
        if (owned_b)
            series::signal_owner(&b, change_word::swaped, &a, static_cast<int32_t>(b.data1), 1);
    }
    *stack::arguments = a;
    return stack::arguments;
}

cell_t* take(cell_t* series, cell_t* part, bool deep, bool last) {
    // Without a part the series action already gives the one character as a
    // char! (an integer! for binary!).
    return series::take(series, part, deep, last);
}

// --- registration -------------------------------------------------------------------------

void init() {
    datatype::record_t r(TYPE_string, TYPE_series, "string!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.quiet_compare = compare;
    r.own<ACT_append>(insert);
    r.own<ACT_change>(change);
    r.own<ACT_insert>(insert);
    r.own<ACT_swap>(swap);
    r.own<ACT_take>(take);
    r.own<ACT_find>(find);
    r.own<ACT_select>(select);
    r.own<ACT_sort>(sort);
    r.own<ACT_trim>(trim);
    r.inherit({2, 3, 26, 27, 29, 30, 42, 43, 46, 48, 49, 55});
    r.inherit_range(32, 34);
    r.inherit_range(36, 40);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::string
