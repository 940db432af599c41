// Path evaluation: the head word's value, then each element applied to the
// value reached so far through its datatype's path-access action. A function
// met on the way (outside get and set mode) is called with the remaining
// elements as its refinements.
//
// The walk keeps the parent, the grandparent and the owner item in cells
// pushed on the argument stack, so that they stay alive and in place while
// paren elements run arbitrary code; the path itself is re-read by index
// after every call. After a paren the parent is found again where it came
// from (the head word, a cell of the grandparent series, a field of the
// grandparent object), since the paren may have changed it.
//
// Path-access actions leave computed results (a pick past the tail, a
// character of a string) in stack::arguments, as actions do in their own
// frame. The walk runs inside someone else's frame, so it points
// stack::arguments at a scratch cell of its own around each call: the
// caller's first argument (a set-word's word, a native's argument) is never
// overwritten.
//
// Fast path: a get of word/integer on a block or word/word on an object,
// and a set of word/word on an object without change handlers, the forms
// loops use most, are done in place without pushing anything. An object
// field element keeps the binding the object's path action gives it
// (written back into the path), so the next walk finds the field by index;
// objects that share one shape (one symbols table) have every field at the
// same index, so the binding serves each object of the shape: the element
// is bound to the object met, as the action would have.
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/fast_ops.h"
#include "interpreter/interpreter.h"
#include "interpreter/path_fields.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::interpreter {

namespace {

inline bool callable_q(uint8_t t) {
    return t == TYPE_native || t == TYPE_action || t == TYPE_function || t == TYPE_routine;
}

[[noreturn, gnu::cold]] void fire_bad_path_type(const cell_t* path, const cell_t* parent,
                                                int32_t element) {
    cell_t p = *path;
    cell_t type;
    datatype::make_at(&type, type_of(parent));
    cell_t* cut = block::clone(&p, false, false);
    block::truncate_at(cut, element);
    cell_t c = *cut;
    fire(err::bad_path_type, &p, &type, &c);
}

// How the current parent can be found again after a paren element.
enum class origin : uint8_t { head_word, series_cell, object_field, lost };

// Where the cell r, just reached from parent, lives: a cell of parent's
// series or a field of parent's object (index in *at), else lost.
origin locate(const cell_t* parent, const cell_t* r, int32_t* at) {
    uint8_t t = type_of(parent);
    if (series::block_kind_q(t)) {
        series_buffer_t* s = alloc::buffer(parent->data2);
        if (r >= s->head_cell() && r < s->tail_cell()) {
            *at = static_cast<int32_t>(r - s->head_cell());
            return origin::series_cell;
        }
    } else if (t == TYPE_object) {
        node_t ctx = parent->data1;
        cell_t* first = _context::value_at(ctx, 0);
        int32_t count = _context::word_count(ctx);
        if (first != nullptr && r >= first && r < first + count) {
            *at = static_cast<int32_t>(r - first);
            return origin::object_field;
        }
    }
    return origin::lost;
}

// A set of a part of a value held in its cell (a date's year, a pair's x, a
// tuple's byte) changed the parent, which is a copy: the changed value goes
// back where the parent was read from. A parent computed on the way from a
// date (its time, zone or date) has no home of its own: the walk sets it
// back into the date and stores that instead.
void store_back(const cell_t* parent, origin from, int32_t at, const cell_t* gparent,
                const cell_t* head_word) {
    cell_t* home = nullptr;
    switch (from) {
    case origin::head_word: home = _context::get(head_word); break;
    case origin::series_cell:
        if (series::block_kind_q(type_of(gparent)) && at < block::abs_length(gparent))
            home = block::rs_abs_at(gparent, at);
        break;
    case origin::object_field:
        if (type_of(gparent) == TYPE_object) home = _context::value_at(gparent->data1, at);
        break;
    default: break;
    }
    if (home == nullptr) return;
    uint32_t line = home->header & FLAG_NEW_LINE;  // where the value sits, not what it is
    *home = *parent;
    home->header = (home->header & ~FLAG_NEW_LINE) | line;
}

// The general walk (kept out of eval_path so that the fast path stays a small
// function without the walk's stack frame).
[[gnu::noinline]] int32_t walk_path(const cell_t* path, const cell_t* code, int32_t pos,
                                    int32_t end, bool set, bool get, bool push, bool case_) {
    cell_t p = *path;
    // The code may drop the path while it runs (an argument or a change
    // handler that clears the block), and the walk still reads it.
    collector::root_cell keep_path(&p);
    int32_t head = block::head_index(&p);
    int32_t n = block::abs_length(&p);
    if (head < 0) head = 0;
    if (head >= n) fire(err::empty_path);
    if (tracing) [[unlikely]]
        fire_event(event::ENTER, &p, head, nullptr, nullptr);

    cell_t first = *block::rs_abs_at(&p, head);
    if (tracing) [[unlikely]]
        fire_event(event::FETCH, &p, head, nullptr, &first);
    if (type_of(&first) != TYPE_word) fire(err::word_first, &p);
    const cell_t* v = _context::get(&first);
    uint8_t vt = type_of(v);
    if (vt == TYPE_unset) fire(err::unset_path, &p, &first);
    if (callable_q(vt)) {
        if (set) fire(err::invalid_path_set, &p);
        if (get) fire(err::invalid_path_get, &p);
        pos = eval_code(v, code, pos + 1, end, push, -1, false, &p, head + 1);
        if (exits::pending) return pos;
        if (tracing) [[unlikely]]
            fire_event(event::EXIT, &p, n, nullptr, push ? stack::top() : stack::arguments);
        return pos;
    }
    if (tracing) [[unlikely]] {
        fire_event(event::PUSH, &p, head, nullptr, v);
        // The tracer may have moved the context's values.
        v = _context::get(&first);
    }

    // In set mode the value to store is the first argument of the set-path's frame.
    cell_t* value = set ? stack::arguments : nullptr;
    cell_t* saved_top = stack::top_slot;
    cell_t* parent = stack::push(v);
    cell_t* gparent = stack::push(&none_value);
    cell_t* item = stack::push(&first);
    // In set mode, the grandparent's own container and the element that led
    // from the grandparent to the last parent (for a part of a date's time).
    cell_t* ggparent = stack::push(&none_value);
    cell_t* outer = stack::push(&none_value);
    cell_t* scratch = stack::push(&none_value);
    // A head word of an object's context makes that object the grandparent
    // (the owner told of changes made through the path).
    if (first.data1 != 0 && first.data1 != _context::global_node &&
        _context::kind_of(_context::cell_of(first.data1)) == _context::KIND_OBJECT) {
        cell_t self = *_context::get_self_value(first.data1);
        if (type_of(&self) == TYPE_object) *gparent = self;
    }
    origin from = origin::head_word;
    int32_t from_index = 0;
    origin gfrom = origin::lost;
    int32_t gfrom_index = 0;

    for (int32_t k = head + 1; k < n; k++) {
        cell_t element = *block::rs_abs_at(&p, k);
        if (tracing) [[unlikely]]
            fire_event(event::FETCH, &p, k, nullptr, &element);
        uint8_t et = type_of(&element);
        if (et == TYPE_get_word) {
            element = *_context::get(&element);
        } else if (et == TYPE_paren) {
            eval(&element, false);
            if (exits::pending) return pos;
            element = *stack::top();
            stack::pop(1);
            // The paren may have changed what the parent came from.
            switch (from) {
            case origin::head_word: {
                const cell_t* again = _context::get(&first);
                if (type_of(again) != TYPE_unset) *parent = *again;
                break;
            }
            case origin::series_cell:
                if (from_index < block::abs_length(gparent))
                    *parent = *block::rs_abs_at(gparent, from_index);
                break;
            case origin::object_field:
                if (const cell_t* f = _context::value_at(gparent->data1, from_index)) *parent = *f;
                break;
            default: break;
            }
            n = block::abs_length(&p);
        }
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, &p, k, nullptr, &element);
        if (type_of(&element) == TYPE_unset) fire(err::invalid_path, &p, &element);
        uint8_t pt = type_of(parent);
        if (type_action_table[(pt << 8) + ACT_eval_path - 1] == nullptr)
            fire_bad_path_type(&p, parent, k);
        bool last = k == n - 1;
        uint8_t gt = type_of(gparent);
        bool owned = set && last && k - head >= 2 &&
                     (series::block_kind_q(gt) || (gt == TYPE_object && gparent->data3 != 0));
        bool paren_next = k + 1 < n && type_of(block::rs_abs_at(&p, k + 1)) == TYPE_paren;

        cell_t before = *parent;
        cell_t* callers = stack::arguments;
        stack::arguments = scratch;
        cell_t* r = actions::eval_path(parent, &element, last ? value : nullptr, &p, gparent, item,
                                       k - 1 - head, case_, get, last, owned);
        stack::arguments = callers;
        if (set && last && std::memcmp(&before, parent, sizeof before) != 0) {
            if (from == origin::lost && type_of(gparent) == TYPE_date && k - head >= 2) {
                cell_t g = *gparent;
                stack::arguments = scratch;
                actions::eval_path(&g, outer, parent, &p, ggparent, item, k - 2 - head, case_,
                                   false, true, false);
                stack::arguments = callers;
                if (std::memcmp(&g, gparent, sizeof g) != 0)
                    store_back(&g, gfrom, gfrom_index, ggparent, &first);
            } else {
                store_back(parent, from, from_index, gparent, &first);
            }
        }
        cell_t reached = *r;
        if (set && k == n - 2) {
            gfrom = from;
            gfrom_index = from_index;
            *ggparent = *gparent;
            *outer = element;
        }
        // store_back needs to know where the last two elements' parents came from.
        if (paren_next || (set && k >= n - 3)) from = locate(parent, r, &from_index);

        if (pt == TYPE_object && et == TYPE_word) {
            // Keep the field's binding in the path for the next walk.
            cell_t* pc = block::rs_abs_at(&p, k);
            if (type_of(pc) == TYPE_word && pc->data2 == element.data2) {
                pc->data1 = element.data1;
                pc->data3 = element.data3;
            }
        }
        if (!get && !set && callable_q(type_of(&reached))) {
            cell_t* slot = stack::top_slot;
            pos = eval_code(&reached, code, pos + 1, end, true, -1, false, &p, k + 1);
            if (exits::pending) return pos;
            cell_t result = *slot;
            stack::top_slot = saved_top;
            if (push) stack::push(&result);
            else stack::set_last_keep(&result);
            return pos;
        }
        *gparent = *parent;
        *parent = reached;
        *item = element;
    }
    cell_t result = *parent;
    stack::top_slot = saved_top;
    if (tracing) [[unlikely]]
        fire_event(event::EXIT, &p, n, nullptr, &result);
    if (set) return pos;
    if (push) stack::push(&result);
    else stack::set_last_keep(&result);
    return pos + 1;
}

}  // namespace

cell_t* pick_through_path(const cell_t* word, const cell_t* value, int32_t index) {
    cell_t name = *word;
    cell_t v = *value;
    cell_t* slot = stack::push_slot();
    slot->header = TYPE_none;
    stack::mark_interp_native(&name);
    cell_t* parent = stack::push(&v);
    cell_t* element = stack::push_slot();
    integer::make_at(element, index);
    cell_t* gparent = stack::push(&none_value);
    cell_t* item = stack::push(element);
    cell_t* scratch = stack::push(&none_value);
    // The path the action reports in its errors: word/index.
    cell_t* path = stack::push(&none_value);
    block::make_at(path, 2);
    block::rs_append(path, &name);
    block::rs_append(path, element);
    cell::set_type(path, TYPE_path);
    if (type_action_table[(type_of(parent) << 8) + ACT_eval_path - 1] == nullptr)
        fire_bad_path_type(path, parent, 1);
    cell_t* callers = stack::arguments;
    stack::arguments = scratch;
    cell_t* r = actions::eval_path(parent, element, nullptr, path, gparent, item, 0, false, true,
                                   true, false);
    stack::arguments = callers;
    *stack::arguments = *r;
    stack::unwind();
    *slot = slot[1];
    stack::top_slot = slot + 1;
    return slot;
}

int32_t eval_path(const cell_t* path, const cell_t* code, int32_t pos, int32_t end, bool set,
                  bool get, bool push, bool case_) {
    // With case a map's keys are compared otherwise: the walk looks.
    if (short_ways && !case_) [[likely]] {
        if (set) {
            if (write_path_in_place(path, stack::arguments)) return pos;
        } else if (const cell_t* r = read_path_in_place(path)) {
            cell_t result = *r;
            if (push) stack::push(&result);
            else stack::set_last_keep(&result);
            return pos + 1;
        }
    }
    return walk_path(path, code, pos, end, set, get, push, case_);
}

}  // namespace zuv::interpreter
