// pad, rejoin and split: their bodies' steps, each action called as the
// body would call it, on a native frame of its own (an action leaves its
// result in its frame's first cell).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "helpers/helpers.h"
#include "helpers/helpers_frame.h"
#include "interpreter/interpreter.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

inline cell_t* arg(int32_t i) { return stack::arguments + i; }

// `form value`: a new string.
cell_t form_of(const cell_t* value) {
    static const cell_t word = action_word("form");
    scratch s(word);
    cell_t* v = s.push(value);
    cell_t* text = stack::push_slot();
    text->header = TYPE_unset;
    string::make_at(text, 16);
    actions::form(v, text, false, std::numeric_limits<int32_t>::max());
    return *text;
}

// `copy value`, value a series.
cell_t copy_of(const cell_t* value, const cell_t* part) {
    static const cell_t word = action_word("copy");
    scratch s(word);
    cell_t* v = s.push(value);
    cell_t* p = part != nullptr ? s.push(part) : nullptr;
    return *actions::copy(v, stack::arguments, p, false, nullptr);
}

// `find series pattern`; none or the series at the match.
cell_t find_in(const cell_t* series, const cell_t* pattern) {
    static const cell_t word = action_word("find");
    scratch s(word);
    cell_t* v = s.push(series);
    cell_t* p = s.push(pattern);
    return *actions::find(v, p, {});
}

// `append series value` (with /dup count when count is above 1).
void append_to(const cell_t* series, const cell_t* value) {
    static const cell_t word = action_word("append");
    scratch s(word);
    cell_t* v = s.push(series);
    cell_t* x = s.push(value);
    series::set_head_index(v, 0);
    if (type_of(v) == TYPE_string && type_of(x) == TYPE_string && string::append_plain(v, x))
        return;
    actions::append(v, x, -1, false, 1);
}

// `insert/dup series value count`, count above 0.
void insert_dup(const cell_t* series, const cell_t* value, int32_t count) {
    static const cell_t word = action_word("insert");
    scratch s(word);
    cell_t* v = s.push(series);
    cell_t* x = s.push(value);
    actions::insert(v, x, -1, false, count);
}

// What insert/dup of the character c count times does at the string's
// position, done in place for one-byte text and a one-byte character, short
// of what could run out of memory: false, having done nothing, otherwise (a
// string watched by its owner among them).
bool fill_in(const cell_t* at, uint32_t c, int32_t count) {
    constexpr int32_t IN_PLACE_MOST = 1 << 20;
    node_t node = at->data2;
    series_buffer_t* b = alloc::buffer(node);
    if (c >= 0x80 || count > IN_PLACE_MOST || b->unit() != 1 || (b->flags & series_flag::OWNED))
        return false;
    int32_t length = b->used();
    int32_t from = std::clamp(static_cast<int32_t>(at->data1), 0, length);
    alloc::alloc_tail_unit(b, count);
    uint8_t* text = alloc::buffer(node)->head_ptr();
    std::memmove(text + from + count, text + from, static_cast<size_t>(length - from));
    std::memset(text + from, static_cast<int>(c), static_cast<size_t>(count));
    return true;
}

// The text of value added at the tail of the string base, as appending a
// block holding value adds it: a string's characters, anything else formed.
void append_formed(cell_t* base, const cell_t* value) {
    if (type_of(value) == TYPE_string && string::append_plain(base, value)) return;
    static const cell_t word = action_word("append");
    scratch s(word);
    cell_t* b = s.push(base);
    cell_t* v = s.push(value);
    if (string::any_string_q(type_of(v)) && type_of(v) != TYPE_tag) string::form(v, b, false, -1);
    else actions::form(v, b, false, -1);
}

// rejoin's result from the values of its block, reduced in the cells from
// values to the top: what the body's append makes, built straight into one
// string sized for them when the first value is a string or no series. A
// first value of another series type takes the body's own steps.
void join_values(cell_t* values) {
    int32_t count = static_cast<int32_t>(stack::top_slot - values);
    uint8_t ft = type_of(values);
    if (ft != TYPE_string && series::series_q(ft)) {
        cell_t* block = stack::push_slot();
        block->header = TYPE_unset;
        block::make_at(block, count);
        for (int32_t i = 0; i < count; i++) block::rs_append(block, values + i);
        cell_t* base = stack::push(values);
        *base = copy_of(values, nullptr);
        series::set_head_index(block, 1);
        append_to(base, block);
        series::set_head_index(base, 0);
        *arg(0) = *base;
        return;
    }
    int64_t size = 16;
    for (int32_t i = 0; i < count; i++)
        size += type_of(values + i) == TYPE_string ? actions::length_q(values + i) : 8;
    cell_t* base = stack::push_slot();
    base->header = TYPE_unset;
    string::make_at(base, size);
    if (ft == TYPE_string) {
        if (!string::append_plain(base, values)) *base = copy_of(values, nullptr);
    } else {
        static const cell_t word = action_word("form");
        scratch s(word);
        cell_t* v = s.push(values);
        cell_t* text = s.push(base);
        actions::form(v, text, false, std::numeric_limits<int32_t>::max());
    }
    for (int32_t i = 1; i < count; i++) append_formed(base, values + i);
    series::set_head_index(base, 0);
    *arg(0) = *base;
}

}  // namespace

// str n /left /with c
void pad() {
    cell_t* str = arg(0);
    if (type_of(str) != TYPE_string) *str = form_of(str);
    int64_t count = int64_t{integer::get(arg(1))} - actions::length_q(str);
    // The body's subtraction overflows: its error is the body's to raise.
    if (count < std::numeric_limits<int32_t>::min() || count > std::numeric_limits<int32_t>::max())
        return run_body();
    if (count > 0) {
        cell_t at = *str;
        bool left = logic::truthy(arg(2));
        if (!left) series::set_head_index(&at, series::rs_abs_length_q(&at));
        cell_t c;
        if (type_of(arg(4)) == TYPE_char_) c = *arg(4);
        else char_::make_at(&c, ' ');
        if (!fill_in(&at, c.data2, static_cast<int32_t>(count)))
            insert_dup(&at, &c, static_cast<int32_t>(count));
    }
    stack::keep();
}

// block
void rejoin() {
    // The values stay on the stack, where they are rooted, instead of in the
    // block reduce would make. A return or exit in the block ends rejoin, as
    // it ends the body that reduces it.
    cell_t* code = stack::push(arg(0));
    cell_t* values = stack::top_slot;
    stack::set_exit_target(1);
    for (int32_t pos = std::max(block::head_index(code), 0);;) {
        int32_t end = block::abs_length(code);
        if (pos >= end) break;
        pos = interpreter::eval_next(code, pos, end, true);
        if (exits::pending) return;
    }
    stack::set_exit_target(0);
    if (values == stack::top_slot) block::make_at(arg(0), 0);
    else join_values(values);
    stack::keep();
}

// series dlm /local size out pos
void split() {
    cell_t* series = arg(0);
    cell_t* dlm = arg(1);
    int32_t size = type_of(dlm) == TYPE_string ? actions::length_q(dlm) : 1;
    // An empty delimiter matches without moving on: the body's own loop.
    if (size == 0) return run_body();
    cell_t* out = arg(4);
    block::make_at(out, 8);
    cell_t* pos = arg(5);
    for (;;) {
        *pos = find_in(series, dlm);
        if (type_of(pos) == TYPE_none) break;
        cell_t piece = copy_of(series, pos);
        append_to(out, &piece);
        int32_t next = series::head_index(pos) + size;
        int32_t tail = series::rs_abs_length_q(pos);
        *series = *pos;
        series::set_head_index(series, next < tail ? next : tail);
    }
    cell_t last = copy_of(series, nullptr);
    append_to(out, &last);
    series::set_head_index(out, 0);
    *arg(0) = *out;
    stack::keep();
}

}  // namespace zuv::helpers
