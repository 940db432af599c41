// bitset!: the bit buffer, the spec dialect and the action entries.
//
// Membership is one rule everywhere: a stored 1 is a member, and every bit
// beyond the tail is a member exactly when the set is inverted. Every
// operation below keeps to it, including clear, remove, the bitwise
// operations and ranges that reach beyond the tail, so that an inverted set
// behaves as the complement it stands for.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::bitset {
namespace {

// The largest bit number a bitset may hold: its bytes stay below the series
// limit.
constexpr int64_t MAX_BIT = static_cast<int64_t>(alloc::SERIES_LIMIT) * 8 - 1;

inline cell_t datatype_cell(uint8_t type) { return cell_t{TYPE_datatype, type, 0, 0}; }
inline void set_logic(cell_t* c, bool b) { *c = cell_t{TYPE_logic, b ? 1u : 0u, 0, 0}; }
inline void set_none(cell_t* c) { *c = cell_t{TYPE_none, 0, 0, 0}; }
inline int32_t integer_of(const cell_t* c) { return static_cast<int32_t>(c->data2); }

// The cells of a block value, by absolute index (read afresh at each use).
inline int32_t block_length(const cell_t* v) { return alloc::buffer(v->data2)->used() / 16; }
inline const cell_t* block_at(const cell_t* v, int32_t i) {
    return alloc::buffer(v->data2)->head_cell() + i;
}

inline uint8_t fill_of(const series_buffer_t* s) {
    return (s->flags & FLAG_INVERTED) ? 0xFF : 0x00;
}

[[noreturn]] void spec_error(const cell_t* spec, int mode) {
    cell_t type = datatype_cell(TYPE_bitset);
    if (mode == MODE_MAKE) fire(err::bad_make_arg, &type, spec);
    if (mode == MODE_TO) fire(err::bad_to_arg, &type, spec);
    fire(err::invalid_arg, spec);
}

// A bit number from an integer! or float! value; negative ones raise
// out-of-range unless only testing (then -1).
int64_t bit_number(const cell_t* v, int op) {
    int64_t n;
    if (type_of(v) == TYPE_integer) {
        n = integer_of(v);
    } else {
        double d = cell::get_float(v);
        if (std::isnan(d)) fire(err::out_of_range, v);
        d = std::trunc(d);
        n = d < -1.0                           ? -1
            : d > static_cast<double>(MAX_BIT) ? MAX_BIT + 1
                                               : static_cast<int64_t>(d);
    }
    if (n < 0 && op != OP_TEST) fire(err::out_of_range, v);
    if (n > MAX_BIT) fire(err::out_of_range, v);
    return n;
}

inline bool range_word_q(const cell_t* c) {
    return type_of(c) == TYPE_word &&
           symbol::resolve(static_cast<int32_t>(c->data2)) ==
               symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::minus)));
}

inline int64_t endpoint(const cell_t* v, int op) {
    return type_of(v) == TYPE_char_ ? static_cast<int64_t>(v->data2) : bit_number(v, op);
}

// Setting a bit of an inverted set beyond its tail, or clearing one of a
// plain set beyond its tail, changes nothing: such bits already are what the
// operation would make them. Only the other cases need the buffer to reach
// the highest bit.
inline bool needs_growth(const cell_t* b, int op) {
    bool inverted = inverted_q(b);
    return (op == OP_SET && !inverted) || (op == OP_CLEAR && inverted);
}

// The bits of [low, high] on a buffer that has already grown as far as the
// operation needs; bits beyond the tail are left alone (or answered by the
// flag when testing).
bool apply_range(cell_t* b, int64_t low, int64_t high, int op) {
    series_buffer_t* s = buffer_of(b);
    int64_t stored_bits = static_cast<int64_t>(s->used()) * 8;
    bool beyond_member = (s->flags & FLAG_INVERTED) != 0;
    uint8_t* bytes = s->head_ptr();
    int64_t inside_high = std::min(high, stored_bits - 1);
    if (op == OP_TEST) {
        for (int64_t n = low; n <= inside_high; n++)
            if (!(bytes[n >> 3] & (0x80u >> (n & 7)))) return false;
        return high <= inside_high || beyond_member;
    }
    for (int64_t n = low; n <= inside_high; n++) {
        uint8_t mask = static_cast<uint8_t>(0x80u >> (n & 7));
        if (op == OP_SET) bytes[n >> 3] |= mask;
        else bytes[n >> 3] &= static_cast<uint8_t>(~mask);
    }
    return true;
}

}  // namespace

// --- the bit buffer -------------------------------------------------------------

uint8_t* ensure_bit(cell_t* b, int64_t n) {
    if (n > MAX_BIT) fire(err::no_memory);
    int64_t needed = n / 8 + 1;
    series_buffer_t* s = buffer_of(b);
    if (needed <= s->used()) return s->head_ptr();
    uint8_t fill = fill_of(s);
    if (needed > s->size - s->head) {
        int64_t grown = std::max<int64_t>(needed, 2 * static_cast<int64_t>(s->size));
        grown = std::min<int64_t>(alloc::round_up(grown, 16), alloc::SERIES_LIMIT);
        s = alloc::expand_series_copy(s, grown);
    }
    alloc::fill(s->tail_ptr(), s->head_ptr() + needed, fill);
    s->tail = s->head + static_cast<int32_t>(needed);
    return s->head_ptr();
}

void invert_bytes(series_buffer_t* s) {
    uint8_t* p = s->head_ptr();
    for (int32_t i = 0, n = s->used(); i < n; i++) p[i] = static_cast<uint8_t>(~p[i]);
}

cell_t* make_at(cell_t* c, int32_t bytes) {
    cell::begin(c);
    node_t node = alloc::alloc_bytes(bytes);
    series_buffer_t* s = alloc::buffer(node);
    std::memset(s->head_ptr(), 0, static_cast<size_t>(bytes));
    s->tail = s->head + bytes;
    c->data1 = 0;
    c->data2 = node;
    c->data3 = 0;
    c->header = TYPE_bitset;
    return c;
}

int32_t form_hex(const cell_t* b, cell_t* buffer, bool limited, int32_t budget, bool inverted) {
    node_t node = b->data2;
    int32_t n = alloc::buffer(node)->used();
    for (int32_t i = 0; i < n; i++) {
        if (limited && budget <= 0) break;
        // Appending may move the bitset's buffer too: read the byte afresh.
        uint8_t byte = alloc::buffer(node)->head_ptr()[i];
        if (inverted) byte = static_cast<uint8_t>(~byte);
        string::concatenate_literal(buffer, string::byte_to_hex(byte).c_str());
        budget -= 2;
    }
    return budget;
}

// --- the spec dialect -------------------------------------------------------------

bool process_range(cell_t* b, int64_t low, int64_t high, int op) {
    if (op == OP_SIZE) return true;
    if (low < 0) {
        if (op == OP_TEST) return false;
        low = 0;
    }
    if (high < low) return true;
    if (needs_growth(b, op)) ensure_bit(b, high);
    return apply_range(b, low, high, op);
}

bool process_string(const cell_t* string, cell_t* b, int op) {
    cell_t text = *string;
    int32_t n = string::rs_length_q(&text);
    int32_t head = series::head_index(&text);
    if (n == 0 || op == OP_SIZE) return true;
    if (needs_growth(b, op)) {
        uint32_t highest = 0;
        for (int32_t i = 0; i < n; i++)
            highest = std::max(highest, string::rs_abs_at(&text, head + i));
        ensure_bit(b, highest);
    }
    // Nothing allocates from here on: both buffers stay where they are.
    for (int32_t i = 0; i < n; i++) {
        int64_t c = string::rs_abs_at(&text, head + i);
        bool ok = apply_range(b, c, c, op);
        if (op == OP_TEST && !ok) return false;
    }
    return true;
}

int64_t process(const cell_t* spec, cell_t* b, int op, int mode) {
    cell_t v = *spec;
    switch (type_of(&v)) {
    case TYPE_char_: {
        int64_t n = v.data2;
        if (op == OP_SIZE) return n;
        return process_range(b, n, n, op);
    }
    case TYPE_integer:
    case TYPE_float_: {
        int64_t n = bit_number(&v, op);
        if (op == OP_SIZE) return n;
        return process_range(b, n, n, op);
    }
    case TYPE_string: {
        if (op != OP_SIZE) return process_string(&v, b, op);
        int64_t highest = -1;
        int32_t head = series::head_index(&v);
        for (int32_t i = 0, n = string::rs_length_q(&v); i < n; i++)
            highest = std::max<int64_t>(highest, string::rs_abs_at(&v, head + i));
        return highest;
    }
    case TYPE_binary: {
        if (mode == MODE_ACTION) fire(err::not_done);
        spec_error(&v, mode);
    }
    case TYPE_block: {
        cycles::guard walk(v.data2);  // a block holding itself ends in too-deep
        int64_t highest = -1;
        int32_t head = std::max(0, series::head_index(&v));
        // Read by index at every step: growing the bitset may move the block.
        for (int32_t i = head; i < block_length(&v); i++) {
            cell_t item = *block_at(&v, i);
            uint8_t t = type_of(&item);
            bool ranged = (t == TYPE_char_ || t == TYPE_integer) && i + 1 < block_length(&v) &&
                          range_word_q(block_at(&v, i + 1));
            if (!ranged) {
                int64_t r = process(&item, b, op, mode);
                if (op == OP_SIZE) highest = std::max(highest, r);
                else if (op == OP_TEST && !r) return 0;
                continue;
            }
            if (i + 2 >= block_length(&v)) fire(err::past_end);
            cell_t end = *block_at(&v, i + 2);
            if (type_of(&end) != t) fire(err::invalid_arg, &end);
            int64_t low = endpoint(&item, op), high = endpoint(&end, op);
            if (high < low) fire(err::past_end);
            i += 2;
            if (op == OP_SIZE) {
                highest = std::max(highest, high);
            } else if (!process_range(b, low, high, op) && op == OP_TEST) {
                return 0;
            }
        }
        return op == OP_SIZE ? highest : 1;
    }
    default: spec_error(&v, mode);
    }
}

// --- make ------------------------------------------------------------------------------

namespace {

cell_t* make_bitset(cell_t* spec_in, bool to_flag) {
    cell_t spec = *spec_in;
    bool inverted = false;
    if (type_of(&spec) == TYPE_block) {
        int32_t head = std::max(0, series::head_index(&spec));
        if (head < block_length(&spec)) {
            const cell_t* first = block_at(&spec, head);
            if (type_of(first) == TYPE_word &&
                symbol::resolve(static_cast<int32_t>(first->data2)) ==
                    symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::not_)))) {
                inverted = true;
                series::set_head_index(&spec, head + 1);
                if (head + 1 < block_length(&spec) &&
                    type_of(block_at(&spec, head + 1)) == TYPE_binary)
                    spec = *block_at(&spec, head + 1);
            }
        }
    }
    cell_t* out = stack::push_slot();
    cell::begin(out);
    cell_t* keep_spec = stack::push(&spec);  // rooted while the bitset is made
    switch (type_of(&spec)) {
    case TYPE_integer:
    case TYPE_float_: {
        if (to_flag) spec_error(&spec, MODE_TO);
        int64_t bits;
        if (type_of(&spec) == TYPE_integer) {
            bits = integer_of(&spec);
        } else {
            double d = std::trunc(cell::get_float(&spec));
            bits = !(d >= 0)                          ? -1
                   : d > static_cast<double>(MAX_BIT) ? MAX_BIT + 1
                                                      : static_cast<int64_t>(d);
        }
        if (bits < 0 || bits > MAX_BIT) fire(err::out_of_range, &spec);
        make_at(out, static_cast<int32_t>((bits + 7) / 8));
        break;
    }
    case TYPE_bitset: {
        node_t node = alloc::copy_series(buffer_of(&spec));
        alloc::buffer(node)->flags &= ~series_flag::OWNED;
        *out = cell_t{TYPE_bitset, 0, node, 0};
        break;
    }
    case TYPE_binary: {
        series_buffer_t* s = alloc::buffer(spec.data2);
        int32_t head = std::clamp<int32_t>(series::head_index(&spec), 0, s->used());
        node_t node = alloc::copy_string_part(spec.data2, head, s->used() - head);
        series_buffer_t* n = alloc::buffer(node);
        n->flags = (n->flags & ~(series_flag::UNIT_MASK | FLAG_INVERTED)) | 1u;
        *out = cell_t{TYPE_bitset, 0, node, 0};
        if (inverted) {
            invert_bytes(n);
            n->flags |= FLAG_INVERTED;
        }
        break;
    }
    default: {
        int mode = to_flag ? MODE_TO : MODE_MAKE;
        int64_t highest = process(keep_spec, nullptr, OP_SIZE, mode);
        make_at(out, static_cast<int32_t>(highest < 0 ? 0 : highest / 8 + 1));
        if (inverted) {
            series_buffer_t* s = buffer_of(out);
            std::memset(s->head_ptr(), 0xFF, static_cast<size_t>(s->used()));
            s->flags |= FLAG_INVERTED;
            process(keep_spec, out, OP_CLEAR, mode);
        } else {
            process(keep_spec, out, OP_SET, mode);
        }
        break;
    }
    }
    stack::pop(1);
    return out;
}

// The bits an action's value names, through the dialect in action mode.
bool act_on(cell_t* b, cell_t* value, int op) { return process(value, b, op, MODE_ACTION) != 0; }

}  // namespace

cell_t* make(cell_t*, cell_t* spec, int32_t) { return make_bitset(spec, false); }
cell_t* to(cell_t*, cell_t* spec, int32_t) { return make_bitset(spec, true); }

// --- reflection and ownership ----------------------------------------------------------

namespace {
inline bool owned_word_q(const cell_t* field) {
    uint8_t t = type_of(field);
    return t >= TYPE_word && t <= TYPE_refinement &&
           symbol::resolve(static_cast<int32_t>(field->data2)) ==
               symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::owned)));
}
}  // namespace

cell_t* reflect(cell_t* value, int32_t field) { return series::reflect(value, field); }

// A bad field or value is the caller's mistake: it raises, never ends the
// process.
cell_t* modify(cell_t* target, cell_t* field, cell_t* value, bool) {
    if (!owned_word_q(field)) fire(err::invalid_arg, field);
    if (type_of(value) == TYPE_none) {
        ownership::unset_owner(target);
        return value;
    }
    if (type_of(value) != TYPE_block || series::get_length(value, false) < 2)
        fire(err::invalid_arg, value);
    int32_t head = series::head_index(value);
    cell_t owner = *block_at(value, head), word = *block_at(value, head + 1);
    if (type_of(&owner) != TYPE_object ||
        !(type_of(&word) >= TYPE_word && type_of(&word) <= TYPE_refinement))
        fire(err::invalid_arg, value);
    ownership::bind(target, &owner, &word);
    return value;
}

// --- form and mold ------------------------------------------------------------------

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    cell_t self = *value;
    bool inverted = inverted_q(&self);
    string::concatenate_literal(buffer, "make bitset! ");
    limit -= 13;
    if (inverted) {
        string::concatenate_literal(buffer, "[not ");
        limit -= 5;
    }
    string::concatenate_literal(buffer, "#{");
    limit -= 2;
    limit = form_hex(&self, buffer, part, limit, inverted);
    // A budget used up inside the bytes ends the text there.
    if (part && limit <= 0) return limit;
    string::concatenate_literal(buffer, "}");
    limit -= 1;
    if (inverted) {
        string::concatenate_literal(buffer, "]");
        limit -= 1;
    }
    return limit;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

// --- comparison ----------------------------------------------------------------------

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_bitset) return -2;
    if (op == 9) return value1->data2 == value2->data2 ? 0 : 1;
    series_buffer_t* a = buffer_of(value1);
    series_buffer_t* b = buffer_of(value2);
    if (a->used() != b->used()) return a->used() < b->used() ? -1 : 1;
    // The flag decides before emptiness: an empty inverted set holds
    // everything, an empty plain one nothing.
    bool ia = (a->flags & FLAG_INVERTED) != 0, ib = (b->flags & FLAG_INVERTED) != 0;
    if (ia != ib) return ia ? 1 : -1;
    const uint8_t* p = a->head_ptr();
    const uint8_t* q = b->head_ptr();
    for (int32_t i = a->used() - 1; i >= 0; i--)
        if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
    return 0;
}

// --- complement and the bitwise operations ---------------------------------------------

namespace {

cell_t* complement_into(cell_t* value, cell_t* out) {
    node_t node = alloc::copy_series(buffer_of(value));
    series_buffer_t* s = alloc::buffer(node);
    s->flags = (s->flags & ~series_flag::OWNED) ^ FLAG_INVERTED;
    invert_bytes(s);
    *out = cell_t{TYPE_bitset, 0, node, 0};
    return out;
}

inline uint8_t combine(int32_t code, uint8_t a, uint8_t b) {
    switch (code) {
    case 5:
    case 9: return a | b;
    case 6:
    case 10: return a & b;
    case 11: return a & static_cast<uint8_t>(~b);
    default: return a ^ b;  // 7, 12
    }
}

}  // namespace

cell_t* complement(cell_t* value) {
    cell_t self = *value;
    return complement_into(&self, stack::arguments);
}

cell_t* negate(cell_t* value) { return complement(value); }

// Every byte of the result is the operation on the two sets' memberships,
// the bytes beyond an operand's tail standing in as its fill; the result's
// flag is the same operation on the two flags. So the members beyond every
// tail come out right for inverted operands too.
void do_bitwise(int32_t code) {
    cell_t* args = stack::arguments;
    if (type_of(&args[1]) != TYPE_bitset) {
        cell_t type = datatype_cell(type_of(&args[1]));
        fire(err::invalid_type, &type);
    }
    if (code == 8) return;
    int32_t la = byte_count(&args[0]), lb = byte_count(&args[1]);
    int32_t n = std::max(la, lb);
    cell_t result;
    make_at(&result, n);
    // Allocation is over: read every buffer once.
    series_buffer_t* a = buffer_of(&args[0]);
    series_buffer_t* b = buffer_of(&args[1]);
    series_buffer_t* r = buffer_of(&result);
    uint8_t fa = fill_of(a), fb = fill_of(b);
    const uint8_t* pa = a->head_ptr();
    const uint8_t* pb = b->head_ptr();
    uint8_t* pr = r->head_ptr();
    for (int32_t i = 0; i < n; i++) pr[i] = combine(code, i < la ? pa[i] : fa, i < lb ? pb[i] : fb);
    if (combine(code, fa, fb)) r->flags |= FLAG_INVERTED;
    args[0] = result;
}

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

// --- series-like actions ----------------------------------------------------------------

cell_t* insert(cell_t* series, cell_t* value, int32_t, bool, int32_t, bool append_) {
    cell_t* self = stack::push(series);
    cell_t* v = stack::push(value);
    series::change_word before =
        append_ ? series::change_word::append : series::change_word::insert;
    series::change_word after =
        append_ ? series::change_word::appended : series::change_word::inserted;
    series::signal_owner(self, before, v, 0, 0);
    act_on(self, v, OP_SET);
    series::signal_owner(self, after, v, 0, 0);
    *stack::arguments = *self;
    stack::pop(2);
    return stack::arguments;
}

// The empty set: every stored bit off and no members beyond the tail.
cell_t* clear(cell_t* value) {
    series::signal_owner(value, series::change_word::clear, nullptr, 0, 0);
    series_buffer_t* s = buffer_of(value);
    std::memset(s->head_ptr(), 0, static_cast<size_t>(s->used()));
    s->flags &= ~FLAG_INVERTED;
    series::signal_owner(value, series::change_word::cleared, nullptr, 0, 0);
    return value;
}

cell_t* copy(cell_t* value, cell_t* result, cell_t*, bool, cell_t*) {
    node_t node = alloc::copy_series(buffer_of(value));
    alloc::buffer(node)->flags &= ~series_flag::OWNED;
    *result = cell_t{TYPE_bitset, 0, node, 0};
    return result;
}

cell_t* find(cell_t* series, cell_t* value, const find_options_t&) {
    cell_t self = *series;
    bool found = act_on(&self, value, OP_TEST);
    if (found) set_logic(stack::arguments, true);
    else set_none(stack::arguments);
    return stack::arguments;
}

int32_t length_q(cell_t* value) {
    // Bit 2147483647 can be set, but a count of 2^31 bits is no integer!.
    int64_t bits = int64_t{byte_count(value)} * 8;
    if (bits > INT32_MAX) fire(err::overflow);
    return static_cast<int32_t>(bits);
}

cell_t* pick(cell_t* series, int32_t, cell_t* index_cell) {
    cell_t self = *series;
    set_logic(stack::arguments, act_on(&self, index_cell, OP_TEST));
    return stack::arguments;
}

cell_t* poke(cell_t* series, int32_t, cell_t* index_cell, cell_t* value) {
    cell_t* self = stack::push(series);
    cell_t* index = stack::push(index_cell);
    cell_t* v = stack::push(value);
    uint8_t t = type_of(v);
    bool clears = t == TYPE_none || (t == TYPE_logic && v->data1 == 0) ||
                  (t == TYPE_integer && integer_of(v) == 0) ||
                  (t == TYPE_float_ && cell::get_float(v) == 0.0);
    series::signal_owner(self, series::change_word::poke, v, 0, 0);
    act_on(self, index, clears ? OP_CLEAR : OP_SET);
    series::signal_owner(self, series::change_word::poked, v, 0, 0);
    *stack::arguments = *v;
    stack::pop(3);
    return stack::arguments;
}

// Takes the named members out, whether the set is plain or inverted.
cell_t* remove(cell_t* series, cell_t*, cell_t* key) {
    if (key == nullptr) fire(err::missing_arg);
    cell_t* self = stack::push(series);
    cell_t* k = stack::push(key);
    series::signal_owner(self, series::change_word::remove, k, 0, 0);
    act_on(self, k, OP_CLEAR);
    series::signal_owner(self, series::change_word::removed, k, 0, 0);
    *stack::arguments = *self;
    stack::pop(2);
    return stack::arguments;
}

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t*, cell_t*, cell_t*,
                  int32_t, bool, bool, bool, bool) {
    uint8_t t = type_of(element);
    if (t != TYPE_integer && t != TYPE_char_) {
        cell_t type = datatype_cell(t);
        fire(err::invalid_type, &type);
    }
    if (value == nullptr) return pick(parent, 0, element);
    return poke(parent, 0, element, value);
}

// --- registration -----------------------------------------------------------------

void init() {
    datatype::record_t r(TYPE_bitset, 0, "bitset!");
    r.own<ACT_make>(make);
    r.own<ACT_reflect>(reflect);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.own<ACT_compare>(compare);
    r.own<ACT_negate>(negate);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_complement>(complement);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    r.own<ACT_append>(insert);
    r.own<ACT_clear>(clear);
    r.own<ACT_copy>(copy);
    r.own<ACT_find>(find);
    r.own<ACT_insert>(insert);
    r.own<ACT_length_q>(length_q);
    r.own<ACT_pick>(pick);
    r.own<ACT_poke>(poke);
    r.own<ACT_remove>(remove);
    r.own<ACT_modify>(modify);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::bitset
