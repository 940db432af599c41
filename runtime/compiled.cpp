#include "runtime/compiled.h"

#include <cmath>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv {
namespace compiled {

void report_error(err id, const cell_t* arg1, const cell_t* arg2, const cell_t* arg3) {
    cell_t body = words::word(words::id::tag_body);
    stack::mark_native(&body);
    cell_t* e = error::create(id, arg1, arg2, arg3);
    stack::set_last(e);
    error::print(stack::arguments);
    cell::begin(stack::arguments);
    stack::unwind();
}

void fire_2_args(const cell_t* value1, const cell_t* value2) {
    fire(err::bad_make_arg, value1, value2);
}

void fire_expect_arg(int32_t arg_num, uint32_t type) {
    cell_t who = exits::get_call();
    cell_t what;
    datatype::make_at(&what, static_cast<int32_t>(type));
    cell_t which = error::get_call_argument(arg_num);
    fire(err::expect_arg, &who, &what, &which);
}

void check_arg_at(int32_t index, const cell_t* typeset, int32_t arg_num) {
    if (index < 0) return;
    check_arg_type(typeset, arg_num, stack::arguments + index);
}

const cell_t* check_opt_arg(const cell_t* refinement, const cell_t* typeset, int32_t arg_num,
                            const cell_t* value) {
    if (truthy(refinement)) check_arg_type(typeset, arg_num, value);
    return value;
}

void set_word_checked(const cell_t* word) {
    cell_t* value = stack::top();
    if (type_of(value) == TYPE_unset) fire(err::need_value, word);
    cell_t w = *word;
    _context::set(&w, value);
}

cell_t* get_word_checked(const cell_t* word) {
    cell_t* value = _context::get(word);
    if (type_of(value) == TYPE_unset) fire(err::no_value, word);
    return value;
}

cell_t* eval_path(bool set, cell_t* path, cell_t* head, cell_t* const* elements, int32_t count) {
    // Working copies live on the argument stack: each step may allocate.
    cell_t* current = stack::push(type_of(head) == TYPE_word ? _context::get(head) : head);
    cell_t* parent = stack::push_slot();
    parent->header = TYPE_none;
    if (type_of(head) == TYPE_word && head->data1 != 0 && head->data1 != _context::global_node) {
        const cell_t* self = _context::get_self_value(head->data1);
        if (type_of(self) != TYPE_object) *parent = *self;
    }
    cell_t* previous = stack::push(head);
    cell_t* to_store = set ? stack::push(stack::arguments) : nullptr;
    for (int32_t i = 0; i < count; i++) {
        bool last = i == count - 1;
        bool owner = false;
        if (set && last && count >= 2) {
            uint8_t pt = type_of(parent);
            if (pt == TYPE_object && parent->data3 != 0) {
                if (type_of(previous) == TYPE_word) {
                    owner = true;
                } else if (cell_t* w = object::word_of_value(parent, current)) {
                    *previous = *w;
                    owner = true;
                } else {
                    previous->header = TYPE_none;
                }
            } else if (pt == TYPE_block || pt == TYPE_paren || pt == TYPE_hash ||
                       (pt >= TYPE_path && pt <= TYPE_get_path)) {
                owner = true;
            }
        }
        cell_t* result = actions::eval_path(current, elements[i], set && last ? to_store : nullptr,
                                            path, parent, previous, i, false, false, last, owner);
        *parent = *current;
        *current = *result;
        *previous = *elements[i];
    }
    cell_t final_value = *current;
    stack::top_slot = current;
    stack::set_last(&final_value);
    return stack::arguments;
}

cell_t* select(bool push, bool next_block) {
    cell_t* value = stack::arguments;
    cell_t* block = stack::arguments + 1;
    cell_t* found = nullptr;
    if (type_of(value) != TYPE_block) {
        node_t node = block->data2;
        int32_t step = push ? 1 : 2;
        uint8_t t = type_of(value);
        int32_t head = static_cast<int32_t>(block->data1);
        for (int32_t i = head;; i += step) {
            series_buffer_t* s = alloc::buffer(node);
            int32_t n = s->used() / 16;
            if (i >= n) break;
            cell_t* c = s->head_cell() + i;
            if (type_of(c) != t || !actions::compare(c, value, 0)) continue;
            s = alloc::buffer(node);  // compare may have run user code
            c = s->head_cell() + i;
            cell_t* tail = s->tail_cell();
            if (next_block) {
                // No block after the match: nothing found, never past the tail.
                for (cell_t* p = c + 1; p < tail; p++)
                    if (type_of(p) == TYPE_block) {
                        found = p;
                        break;
                    }
            } else {
                found = c + 1 < tail ? c + 1 : c;
            }
            break;
        }
    }
    cell_t result = found ? *found : cell_t{TYPE_none, 0, 0, 0};
    if (push) {
        stack::push(&result);
        return found ? stack::top() : nullptr;
    }
    stack::set_last(&result);
    return found ? stack::arguments : nullptr;
}

int32_t float_to_int(const cell_t* value) {
    if (type_of(value) == TYPE_integer) return static_cast<int32_t>(value->data2);
    double d = cell::get_float(value);
    // NaN fails both comparisons.
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(err::out_of_range, value);
    return static_cast<int32_t>(d);
}

}  // namespace compiled

namespace mold {

int32_t indent(cell_t* buffer, int32_t level, int32_t limit) {
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return level > 0 ? limit - 4 * level : limit;
}

}  // namespace mold

namespace alloc {

uint8_t* fill_pattern(uint8_t* buffer, int32_t unit_size, int32_t count) {
    int64_t total = int64_t{unit_size} * count;
    int64_t filled = unit_size;
    if (total <= 0) return buffer;
    while (filled <= total - filled) {
        std::memcpy(buffer + filled, buffer, static_cast<size_t>(filled));
        filled *= 2;
    }
    if (filled < total) std::memcpy(buffer + filled, buffer, static_cast<size_t>(total - filled));
    return buffer + total;
}

}  // namespace alloc
}  // namespace zuv
