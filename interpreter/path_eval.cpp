// Path evaluation: the head word's value, then each element applied to the
// value reached so far through its datatype's path-access action. A function
// met on the way (outside get and set mode) is called with the remaining
// elements as its refinements.
//
// The walk keeps the parent and grandparent in two cells pushed on the
// argument stack, so that they stay alive and in place while paren elements
// run arbitrary code; the path itself is re-read by index after every call.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::interpreter {

namespace {

inline bool callable_q(uint8_t t) {
    return t == TYPE_native || t == TYPE_action || t == TYPE_function || t == TYPE_routine;
}

[[noreturn, gnu::cold]] void fire_bad_path_type(const cell_t* path, const cell_t* parent, int32_t element) {
    cell_t p = *path;
    cell_t type;
    datatype::make_at(&type, type_of(parent));
    cell_t* cut = block::clone(&p, false, false);
    block::truncate_at(cut, element);
    cell_t c = *cut;
    fire(err::bad_path_type, &p, &type, &c);
}

}  // namespace

int32_t eval_path(const cell_t* path, const cell_t* code, int32_t pos, int32_t end, bool set, bool get, bool push,
                  bool case_) {
    cell_t p = *path;
    int32_t head = block::head_index(&p);
    int32_t n = block::abs_length(&p);
    if (head < 0) head = 0;
    if (head >= n) fire(err::empty_path);
    if (tracing) [[unlikely]]
        fire_event(event::ENTER, &p, head, nullptr, nullptr);

    cell_t first = *block::rs_abs_at(&p, head);
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

    // In set mode the value to store is the first argument of the set-path's frame.
    cell_t* value = set ? stack::arguments : nullptr;
    cell_t* saved_top = stack::top_slot;
    cell_t* parent = stack::push(v);
    cell_t* gparent = stack::push(&none_value);
    cell_t* item = stack::push(&first);
    for (int32_t k = head + 1; k < n; k++) {
        cell_t element = *block::rs_abs_at(&p, k);
        if (type_of(&element) == TYPE_get_word) {
            element = *_context::get(&element);
        } else if (type_of(&element) == TYPE_paren) {
            eval(&element, false);
            if (exits::pending) return pos;
            element = *stack::top();
            stack::pop(1);
        }
        if (type_of(&element) == TYPE_unset) fire(err::invalid_path, &p, &element);
        uint8_t pt = type_of(parent);
        if (type_action_table[(pt << 8) + ACT_eval_path - 1] == nullptr) fire_bad_path_type(&p, parent, k);
        bool last = k == n - 1;
        bool owned = set && last && k - head >= 2 && series::block_kind_q(type_of(gparent));
        cell_t* r = actions::eval_path(parent, &element, last ? value : nullptr, &p, gparent, item, k - 1 - head,
                                       case_, get, last, owned);
        cell_t reached = *r;
        if (!get && !set && callable_q(type_of(&reached))) {
            cell_t* slot = stack::top_slot;
            pos = eval_code(&reached, code, pos + 1, end, true, -1, false, &p, k + 1);
            if (exits::pending) return pos;
            cell_t result = *slot;
            stack::top_slot = saved_top;
            if (push)
                stack::push(&result);
            else
                stack::set_last_keep(&result);
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
    if (push)
        stack::push(&result);
    else
        stack::set_last_keep(&result);
    return pos + 1;
}

}  // namespace zuv::interpreter
