// Functions whose body is a pick of their one argument: the library's
// `first` to `fifth` (`pick s 2`) and `last` (`pick s length? s`). A call of
// one from a plan, on a block, takes the cell the pick reaches with no frame
// (plan_call_pick); the builder marks such calls LEAF_PICK when it sees the
// body, and the run reads the body's cells again, so a function whose body
// was changed since runs as any other.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::interpreter {

// Whether the word c of fn's body holds the action numbered act now.
inline bool holds_action_q(const cell_t* c, int32_t act) {
    if (type_of(c) != TYPE_word || c->data1 == 0) return false;
    const cell_t* v = _context::get(c);
    return type_of(v) == TYPE_action && static_cast<int32_t>(v->data1) + 1 == act;
}

// Whether the word c is fn's first argument.
inline bool first_argument_q(const cell_t* c, const cell_t* fn) {
    return type_of(c) == TYPE_word && c->data1 == function::context_of(fn) && c->data3 == 0;
}

// The index fn's body picks from its argument s (the block the call is
// given): the integer of `pick s N`, the length of s for
// `pick s length? s`; 0 when the body is neither.
inline int32_t picked_index(const cell_t* fn, const cell_t* s) {
    const cell_t* body = function::more(fn, function::MORE_BODY);
    if (type_of(body) != TYPE_block) return 0;
    series_buffer_t* b = alloc::buffer(body->data2);
    auto head = static_cast<int32_t>(body->data1);
    int32_t count = (b->used() >> 4) - head;
    if (head < 0 || (count != 3 && count != 4)) return 0;
    const cell_t* c = b->head_cell() + head;
    if (!holds_action_q(c, ACT_pick) || !first_argument_q(c + 1, fn)) return 0;
    if (count == 3) return type_of(c + 2) == TYPE_integer ? integer::get(c + 2) : 0;
    if (!holds_action_q(c + 2, ACT_length_q) || !first_argument_q(c + 3, fn)) return 0;
    if (s == nullptr) return 1;  // the builder's look: the shape is right
    auto length =
        static_cast<int32_t>(alloc::buffer(s->data2)->used() >> 4) - static_cast<int32_t>(s->data1);
    return length > 0 ? length : 0;
}

}  // namespace zuv::interpreter
