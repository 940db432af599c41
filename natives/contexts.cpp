// The context and series-marker natives: bind, in, construct, value?,
// unset, extend, new-line, new-line?, context? and as.
#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "natives/natives.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/stamp.h"

namespace zuv::natives {

namespace {

inline bool object_kind_q(uint8_t t) {
    return t == TYPE_object || t == TYPE_error || t == TYPE_port;
}

// What bind/copy copies: nested blocks, parens and paths.
inline bool cloned_kind_q(uint8_t t) {
    return t == TYPE_block || t == TYPE_paren || (t >= TYPE_path && t <= TYPE_get_path);
}

// Replaces, in the block held by the stable cell b (a fresh shallow copy of
// source_node's cells), every nested block kind by a copy of its own. A
// block met again inside itself becomes a reference to its own copy, so the
// copy of a block that contains itself contains itself, shares nothing with
// the original, and the walk ends. path: the (source, copy) nodes of the
// blocks being copied, outermost first; the cycle stack bounds the depth.
struct copy_link {
    node_t source;
    node_t copy;
    int32_t head;  // the source index the copy starts at
};

void clone_nested(cell_t* b, node_t source_node, int32_t source_head,
                  std::vector<copy_link>& path) {
    cycles::guard guard(source_node);
    path.push_back({source_node, b->data2, source_head});
    for (int32_t i = 0; i < block::abs_length(b); i++) {
        cell_t c = *block::rs_abs_at(b, i);
        if (!cloned_kind_q(type_of(&c))) continue;
        auto seen = std::find_if(path.begin(), path.end(),
                                 [&](const copy_link& l) { return l.source == c.data2; });
        if (seen != path.end()) {
            c.data2 = seen->copy;
            c.data1 = static_cast<uint32_t>(std::max(block::head_index(&c) - seen->head, 0));
        } else {
            cell_t* copy = block::clone(&c, false, false);
            copy->header = c.header;
            clone_nested(copy, c.data2, std::max(block::head_index(&c), 0), path);
            c = *copy;
            stack::pop(1);
        }
        *block::rs_abs_at(b, i) = c;
    }
    path.pop_back();
}

// The context a value names for bind: a word's, an object's or a function's.
node_t context_for_bind(const cell_t* v) {
    uint8_t t = type_of(v);
    if (t >= TYPE_word && t <= TYPE_issue) {
        if (v->data1 == 0) {
            cell_t w = *v;
            fire(err::not_defined, &w);
        }
        return v->data1;
    }
    return v->data1;  // object kinds and function! keep the context node in word 1
}

}  // namespace

void bind(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::bind, refinements);
    cell_t* target = stack::arguments;
    cell_t* context = stack::arguments + 1;
    node_t ctx = context_for_bind(context);
    bool self = type_of(context) == TYPE_object;
    if (type_of(target) == TYPE_block) {
        if (refinements[0] >= 0) {
            cell_t* copy = block::clone(target, false, false);
            std::vector<copy_link> path;
            clone_nested(copy, target->data2, std::max(block::head_index(target), 0), path);
            target = copy;
        }
        _context::bind(target, ctx, self);
        cell_t result = *target;
        stack::set_last_keep(&result);
        return;
    }
    cell_t w = *target;
    _context::bind_word(ctx, &w);
    stack::set_last_keep(&w);
}

void in(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::in, refinements);
    cell_t* holder = stack::arguments;
    uint8_t t = type_of(holder);
    node_t ctx = 0;
    if (object_kind_q(t) || t == TYPE_function || t == TYPE_routine) ctx = holder->data1;
    cell_t w = stack::arguments[1];
    int32_t index = ctx == 0 ? -1 : _context::find_word(ctx, word::symbol_of(&w), true);
    if (index < 0) {
        stack::set_last_keep(&none_value);
        return;
    }
    w.data1 = ctx;
    w.data3 = static_cast<uint32_t>(index);
    if (type_of(&w) == TYPE_refinement) cell::set_type(&w, TYPE_word);
    stack::set_last_keep(&w);
}

void construct(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::construct, refinements);
    cell_t* proto = refinements[0] >= 0 ? stack::arguments + refinements[0] : nullptr;
    bool only = refinements[1] >= 0;
    cell_t* made = object::construct(stack::arguments, proto, only);
    cell_t result = *made;
    stack::set_last_keep(&result);
}

void value_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::value_q, refinements);
    cell_t* v = stack::arguments;
    uint8_t t = type_of(v);
    if (t >= TYPE_word && t <= TYPE_get_word) v = _context::get(v);
    logic::box(type_of(v) != TYPE_unset);
    stack::keep();
}

void unset(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::unset, refinements);
    cell_t* arg = stack::arguments;
    if (type_of(arg) == TYPE_word) {
        _context::set(arg, &unset_value);
    } else if (type_of(arg) == TYPE_block) {
        for (int32_t i = std::max(block::head_index(arg), 0); i < block::abs_length(arg); i++) {
            cell_t w = *block::rs_abs_at(arg, i);
            if (type_of(&w) == TYPE_word) _context::set(&w, &unset_value);
        }
    }
    stack::set_last_keep(&unset_value);
}

void extend(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::extend, refinements);
    cell_t* target = stack::arguments;
    if (type_of(target) != TYPE_map) fire(err::not_done);
    map::extend(target, stack::arguments + 1, refinements[0] >= 0);
    cell_t result = *target;
    stack::set_last_keep(&result);
}

void new_line(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::new_line, refinements);
    cell_t* position = stack::arguments;
    bool mark = logic::truthy(stack::arguments + 1);
    bool all = refinements[0] >= 0, skip = refinements[1] >= 0;
    int32_t head = std::max(block::head_index(position), 0);
    int32_t n = block::abs_length(position);
    // The marks are part of the cells a plan copies.
    stamp::written(position->data2);
    if (!all && !skip) {
        if (head < n) {
            cell_t* c = block::rs_abs_at(position, head);
            if (mark) c->header |= FLAG_NEW_LINE;
            else c->header &= ~FLAG_NEW_LINE;
        }
    } else {
        int32_t step = 1;
        if (skip) {
            cell_t* size = stack::arguments + refinements[1];
            int64_t s = static_cast<int32_t>(size->data2);
            if (s <= 0) {
                cell_t bad = *size;
                fire(err::out_of_range, &bad);
            }
            if (!all) step = static_cast<int32_t>(s);
        }
        cell_t* c = block::rs_abs_at(position, 0);
        for (int32_t k = 0; head + k < n; k++) {
            bool on_step = step == 1 || k % step == 0;
            if (on_step == mark) c[head + k].header |= FLAG_NEW_LINE;
            else c[head + k].header &= ~FLAG_NEW_LINE;
        }
    }
    stack::keep();
}

void new_line_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::new_line_q, refinements);
    cell_t* position = stack::arguments;
    int32_t head = block::head_index(position);
    bool r = head >= 0 && head < block::abs_length(position) &&
             (block::rs_abs_at(position, head)->header & FLAG_NEW_LINE) != 0;
    logic::box(r);
    stack::keep();
}

void context_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::context_q, refinements);
    node_t ctx = stack::arguments->data1;
    cell_t self = none_value;
    if (ctx != 0) {
        cell_t s = *_context::get_self_value(ctx);
        if (type_of(&s) != TYPE_unset) self = s;
    }
    stack::set_last_keep(&self);
}

namespace {

inline int32_t family_of(uint8_t t) {
    if (t == TYPE_block || t == TYPE_paren || (t >= TYPE_path && t <= TYPE_get_path)) return 1;
    if (t == TYPE_string || t == TYPE_file || t == TYPE_url || t == TYPE_tag || t == TYPE_email ||
        t == TYPE_ref)
        return 2;
    return 0;
}

}  // namespace

void as(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::as, refinements);
    cell_t* type = stack::arguments;
    cell_t spec = stack::arguments[1];
    uint8_t target =
        type_of(type) == TYPE_datatype ? static_cast<uint8_t>(type->data1) : type_of(type);
    int32_t family = family_of(target);
    if (family == 0 || family != family_of(type_of(&spec))) {
        cell_t to, from;
        datatype::make_at(&to, target);
        datatype::make_at(&from, type_of(&spec));
        fire(err::not_related, &to, &from);
    }
    cell::set_type(&spec, target);
    stack::set_last_keep(&spec);
}

}  // namespace zuv::natives
