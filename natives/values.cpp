// The value natives: get, set, the comparisons, same?, not, type?, reduce and
// compose (print and prin live in print.cpp).
//
// Blocks are walked by index and every cell is copied out before anything
// that may allocate runs: evaluation can move or shrink any buffer, the
// block being walked included.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "natives/natives.h"
#include "natives/values.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/library_code.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::natives {

namespace {

inline bool function_kind_q(uint8_t t) {
    return t == TYPE_function || t == TYPE_native || t == TYPE_action || t == TYPE_op ||
           t == TYPE_routine;
}

inline bool settable_word_q(uint8_t t) {
    return t == TYPE_word || t == TYPE_set_word || t == TYPE_get_word || t == TYPE_lit_word;
}

// Adds one value to target: appended, or inserted at its position, which
// then moves past it. A plain block nobody owns takes the short way; hash!
// (its table) and owned series (their owner's handler) go through insert.
void add_value(cell_t* target, const cell_t* value, bool insert) {
    cell_t v = *value;
    if (!insert && type_of(target) == TYPE_block && !series::owned_q(target)) {
        block::rs_append(target, &v);
        return;
    }
    auto fn = actions::typed<ACT_insert>(target);
    if (insert) {
        fn(target, &v, -1, true, 1, false);
    } else {
        cell_t t = *target;  // append leaves its series at the head: keep out's own position
        fn(&t, &v, -1, true, 1, true);
    }
}

// The value i of a set source (from its head), nullptr past its tail.
const cell_t* pick_source(const cell_t* value, int32_t i) {
    int32_t at = std::max(block::head_index(value), 0) + i;
    return at < block::abs_length(value) ? block::rs_abs_at(value, at) : nullptr;
}

inline bool set_source_q(uint8_t t) { return series::block_kind_q(t) || t == TYPE_map; }

}  // namespace

// --- reduce and compose -------------------------------------------------------------

bool reduce_into(const cell_t* block, cell_t* target, bool insert) {
    cell_t* saved_top = stack::top_slot;
    cell_t* code = stack::push(block);
    int32_t pos = std::max(block::head_index(code), 0);
    for (;;) {
        int32_t end = block::abs_length(code);
        if (pos >= end) break;
        pos = interpreter::eval_next(code, pos, end, true);
        if (exits::pending) return false;
        cell_t r = *stack::top();
        stack::pop(1);
        r.header &= ~FLAG_NEW_LINE;
        add_value(target, &r, insert);
    }
    stack::top_slot = saved_top;
    return true;
}

bool compose_into(const cell_t* block, cell_t* target, bool deep, bool only, bool insert) {
    cell_t* saved_top = stack::top_slot;
    cell_t* src = stack::push(block);
    for (int32_t i = std::max(block::head_index(src), 0); i < block::abs_length(src); i++) {
        cell_t v = *block::rs_abs_at(src, i);
        uint8_t t = type_of(&v);
        if (t == TYPE_block) {
            if (deep) {
                cell_t* inner = stack::push(&v);
                cell_t* made = stack::push_slot();
                made->header = TYPE_unset;
                block::make_at(made, std::max(block::rs_length_q(inner), 1));
                if (!compose_into(inner, made, true, only, false)) return false;
                library_code::inherit_library(inner, made);
                v = *made;
                v.header = (v.header & ~FLAG_NEW_LINE) | (inner->header & FLAG_NEW_LINE);
                add_value(target, &v, insert);
                stack::pop(2);
            } else {
                add_value(target, &v, insert);
            }
        } else if (t == TYPE_paren) {
            if (block::rs_length_q(&v) == 0) continue;
            interpreter::eval(&v, false);
            if (exits::pending) return false;
            cell_t* r = stack::top();  // stays pushed (rooted) while it is spliced
            uint8_t rt = type_of(r);
            if (rt == TYPE_unset) {
            } else if (rt == TYPE_block && !only) {
                for (int32_t k = std::max(block::head_index(r), 0); k < block::abs_length(r); k++) {
                    cell_t item = *block::rs_abs_at(r, k);
                    add_value(target, &item, insert);
                }
            } else {
                add_value(target, r, insert);
            }
            stack::pop(1);
        } else {
            add_value(target, &v, insert);
        }
    }
    stack::top_slot = saved_top;
    return true;
}

void reduce(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::reduce, refinements);
    cell_t* value = stack::arguments;
    bool into = refinements[0] >= 0;
    cell_t* target;
    bool insert = false;
    if (into) {
        target = stack::arguments + refinements[0];
        insert = !series::rs_tail_q(target);
    } else {
        target = stack::push_slot();
        target->header = TYPE_unset;
        block::make_at(target, type_of(value) == TYPE_block ? block::rs_length_q(value) : 1);
    }
    if (type_of(value) == TYPE_block) {
        if (!reduce_into(value, target, insert)) return;
    } else if (function_kind_q(type_of(value))) {
        if (!into) {
            stack::set_last_keep(value);
            return;
        }
        add_value(target, value, insert);
    } else {
        // One expression whose input ends right after the value.
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        block::make_at(code, 1);
        block::rs_append(code, value);
        interpreter::eval_next(code, 0, 1, true);
        if (exits::pending) return;
        cell_t r = *stack::top();
        stack::pop(2);
        if (!into) {
            stack::set_last_keep(&r);
            return;
        }
        add_value(target, &r, insert);
    }
    cell_t result = *target;
    stack::set_last_keep(&result);
}

void compose(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::compose, refinements);
    cell_t* value = stack::arguments;
    if (type_of(value) != TYPE_block) {
        cell_t expected, got;
        datatype::make_at(&expected, TYPE_block);
        datatype::make_at(&got, type_of(value));
        fire(err::expect_val, &expected, &got);
    }
    bool deep = refinements[0] >= 0, only = refinements[1] >= 0, into = refinements[2] >= 0;
    cell_t* target;
    bool insert = false;
    if (into) {
        target = stack::arguments + refinements[2];
        insert = !series::rs_tail_q(target);
    } else {
        target = stack::push_slot();
        target->header = TYPE_unset;
        block::make_at(target, std::max(block::rs_length_q(value), 1));
    }
    if (!compose_into(value, target, deep, only, insert)) return;
    if (!into) library_code::inherit_library(value, target);
    cell_t result = *target;
    stack::set_last_keep(&result);
}

// --- get and set ------------------------------------------------------------------------

void get_path(const cell_t* path, bool case_) {
    cell_t p = *path;
    interpreter::eval_path(&p, &p, 0, 0, false, true, false, case_);
}

void set_path(const cell_t* path, const cell_t* value, bool case_) {
    cell_t p = *path;
    // The path walk takes the value from the first argument of the frame it runs in.
    stack::mark_native(nullptr);
    stack::push(value);
    interpreter::eval_path(&p, &p, 0, 0, true, false, false, case_);
    if (exits::pending) return;
    stack::unwind();
    stack::pop(1);
}

void set_many(const cell_t* words, const cell_t* value, bool any, bool only, bool some) {
    bool spread = !only && set_source_q(type_of(value));
    // A map gives its live keys and values: its entry block also holds
    // removed entries, and its keys must not be handed out themselves.
    cell_t pairs{TYPE_none, 0, 0, 0};
    collector::root_cell keep(&pairs);
    if (spread && type_of(value) == TYPE_map) {
        pairs = map::live_block(value, true, true);
        value = &pairs;
    }
    int32_t head = std::max(block::head_index(words), 0);
    int32_t n = block::abs_length(words);
    // Every target first, so that a bad one leaves every word as it was.
    for (int32_t i = head; i < n; i++) {
        const cell_t* w = block::rs_abs_at(words, i);
        if (!settable_word_q(type_of(w))) {
            cell_t bad = *w;
            fire(err::invalid_arg, &bad);
        }
        if (!any) {
            const cell_t* v = spread ? pick_source(value, i - head) : value;
            if (v != nullptr && type_of(v) == TYPE_unset) {
                cell_t word = *w;
                fire(err::need_value, &word);
            }
        }
    }
    for (int32_t i = head; i < n && i < block::abs_length(words); i++) {
        cell_t w = *block::rs_abs_at(words, i);
        cell_t v = none_value;
        if (spread) {
            const cell_t* p = pick_source(value, i - head);
            if (p != nullptr) v = *p;
        } else {
            v = *value;
        }
        if (some && type_of(&v) == TYPE_none) continue;
        _context::set(&w, &v);
    }
}

void get(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::get, refinements);
    bool any = refinements[0] >= 0, case_ = refinements[1] >= 0;
    cell_t* arg = stack::arguments;
    uint8_t t = type_of(arg);
    if (t >= TYPE_path && t <= TYPE_get_path) {
        get_path(arg, case_);
        return;
    }
    if (t == TYPE_object) {
        cell_t* r =
            actions::reflect(arg, static_cast<int32_t>(words::symbol_of(words::id::values)));
        cell_t values = *r;
        stack::set_last_keep(&values);
        return;
    }
    cell_t v = *_context::get(arg);
    if (type_of(&v) == TYPE_unset && !any) {
        cell_t w = *arg;
        fire(err::no_value, &w);
    }
    stack::set_last_keep(&v);
}

void set(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::set, refinements);
    bool any = refinements[0] >= 0, case_ = refinements[1] >= 0, only = refinements[2] >= 0,
         some = refinements[3] >= 0;
    cell_t* target = stack::arguments;
    cell_t* value = stack::arguments + 1;
    if (type_of(value) == TYPE_unset && !any) {
        cell_t w = *target;
        fire(err::need_value, &w);
    }
    uint8_t t = type_of(target);
    if (t == TYPE_block) {
        stack::mark_native(nullptr);
        set_many(target, value, any, only, some);
        stack::unwind();
        stack::pop(1);
    } else if (t >= TYPE_path && t <= TYPE_get_path) {
        set_path(target, value, case_);
        if (exits::pending) return;
    } else if (t == TYPE_object) {
        object::set_many(target, value, any, only, some);
    } else {
        _context::set(target, value);
    }
    cell_t v = *value;
    stack::set_last_keep(&v);
}

// --- comparisons and tests ------------------------------------------------------------

#define ZUV_COMPARISON(name, number, op)                                                           \
    void name(int32_t check, const int32_t* refinements) {                                         \
        if (check) check_args(number, refinements);                                                \
        actions::compare_args(op);                                                                 \
        stack::keep();                                                                             \
    }
ZUV_COMPARISON(equal_q, 25, actions::cmp::EQUAL)
ZUV_COMPARISON(not_equal_q, 26, actions::cmp::NOT_EQUAL)
ZUV_COMPARISON(strict_equal_q, 27, actions::cmp::STRICT_EQUAL)
ZUV_COMPARISON(lesser_q, 28, actions::cmp::LESSER)
ZUV_COMPARISON(greater_q, 29, actions::cmp::GREATER)
ZUV_COMPARISON(lesser_or_equal_q, 30, actions::cmp::LESSER_EQUAL)
ZUV_COMPARISON(greater_or_equal_q, 31, actions::cmp::GREATER_EQUAL)
#undef ZUV_COMPARISON

bool same_q(const cell_t* a, const cell_t* b) {
    uint8_t t = type_of(a);
    if (t != type_of(b)) return false;
    switch (t) {
    case TYPE_datatype:
    case TYPE_logic:
    case TYPE_object: return a->data1 == b->data1;
    case TYPE_char_:
    case TYPE_integer:
    case TYPE_bitset: return a->data2 == b->data2;
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash:
    case TYPE_string:
    case TYPE_file:
    case TYPE_url:
    case TYPE_tag:
    case TYPE_email:
    case TYPE_ref:
    case TYPE_binary:
    case TYPE_vector:
    case TYPE_image:
    case TYPE_path:
    case TYPE_lit_path:
    case TYPE_set_path:
    case TYPE_get_path: return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_float_:
    case TYPE_percent:
    case TYPE_pair:
    case TYPE_time: return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_tuple:
        return tuple::length_of(a) == tuple::length_of(b) && a->data1 == b->data1 &&
               a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_none:
    case TYPE_unset: return true;
    case TYPE_action:
    case TYPE_native:
    case TYPE_point2d: return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_op: return a->data2 == b->data2 && a->data3 == b->data3;
    default: return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

void same_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::same_q, refinements);
    bool r = same_q(stack::arguments, stack::arguments + 1);
    logic::box(r);
    stack::keep();
}

void not_(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::not_, refinements);
    logic::box(!truthy(stack::arguments));
    stack::keep();
}

void type_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::type_q, refinements);
    uint8_t t = type_of(stack::arguments);
    if (refinements[0] >= 0) {
        cell_t w = datatype::name_table[t].word;
        w.header &= ~FLAG_NEW_LINE;
        stack::set_last_keep(&w);
        return;
    }
    cell_t dt;
    datatype::make_at(&dt, t);
    stack::set_last_keep(&dt);
}

}  // namespace zuv::natives
