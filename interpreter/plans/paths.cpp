// The runs of path nodes (K_PATH, K_SETPATH, K_FIELDCALL, K_REFCALL), as
// eval_expression runs a path, a set-path and a call through a path.

#include "interpreter/plans/runner.h"

namespace zuv::interpreter {

// A get of a path of two elements (K_PATH) as eval_operand takes it: read in
// place (read_path_in_place, the path walk's own fast path) when it reaches
// a plain value, else the interpreter's path, which also calls what it
// reaches. The path's cells are read at each run: they may change without
// the stamp (only the block holding the path is planned).
[[gnu::noinline]] int32_t plan_path(const plan_run& x, const pnode_t* n, const cell_t* code,
                                    int32_t pos, int32_t end, bool infix) {
    check_native_stack();  // as eval_expression does
    const cell_t* v = read_path_in_place(&n->value);
    if (v == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, infix);
    cell_t result = *v;
    stack::push(&result);
    // The caller read the guards just before this node, and the read ran
    // nothing.
    if (!infix && n->probe() && op_probed(x, n, n, code, pos + 1)) [[unlikely]]
        return plan_infix_generic(code, pos + 1, end);
    return pos + 1;
}

// A set-path and its value (K_SETPATH), as eval_expression runs them: the
// value in the set-path's frame, then the store through eval_path, whose
// fast path and walk run every check and change handler. The path stays
// alive with the plan, which holds a copy of its cell.
[[gnu::noinline]] int32_t plan_set_path(const plan_run& x, const pnode_t* n, const cell_t* code,
                                        int32_t pos, int32_t end) {
    check_native_stack();
    const pnode_t* v = plan::set_value(n);
    cell_t* top = stack::top_slot;
    // A number computed with nothing run, stored in place: nothing could see
    // the frame the value would be made in (where it lands, top, is the
    // frame's first argument), and the store runs no code. The room that
    // frame takes the chain saw to be there.
    if ((v->flags & plan::QUIET_CHAIN) && plan_quiet_chain(x, v, code, top)) {
        if (write_path_in_place(&n->value, top)) [[likely]] {
            stack::top_slot = top + 1;
            return v->end;
        }
        stack::mark_interp_native(&set_path_word);
        stack::top_slot = top + 1;
        pos = v->end;
    } else {
        stack::mark_interp_native(&set_path_word);
        // Its value's node follows, with the guards run_node's caller read.
        pos = run_node(x, v, code, pos + 1, end, false);
        if (exits::pending) [[unlikely]]
            return pos;
    }
    cell_t path = n->value;
    eval_path(&path, code, pos, end, true, false, true, false);
    if (exits::pending) [[unlikely]]
        return pos;
    stack::unwind();
    return pos;
}

namespace {

// Whether two cells are the same 16 bytes.
[[gnu::always_inline]] inline bool same_cell(const cell_t* a, const cell_t* b) {
    uint64_t l[2], r[2];
    std::memcpy(l, a, sizeof l);
    std::memcpy(r, b, sizeof r);
    return ((l[0] ^ r[0]) | (l[1] ^ r[1])) == 0;
}

// The object the field call n reads through the path's cells, its head
// word's value, when its field holds the function the plan expects: read
// and bound as the path walk reads them; nullptr for anything else (an
// object's own word as head: the interpreter's path).
[[gnu::noinline]] const cell_t* field_object(const pnode_t* n, cell_t* cells) {
    if (type_of(cells) != TYPE_word) return nullptr;
    node_t home = cells->data1;
    const cell_t* obj = _context::get(cells);
    if (type_of(obj) != TYPE_object || !field_of(cells + 1, obj) ||
        (home != 0 && home != _context::global_node &&
         _context::kind_of(_context::cell_of(home)) == _context::KIND_OBJECT))
        return nullptr;
    const cell_t* f = _context::value_at(obj->data1, static_cast<int32_t>(cells[1].data3));
    if (f == nullptr || !same_cell(f, &plan::wordref_of(n)->value)) return nullptr;
    return obj;
}

// Whether the path's cells, the head word's value and the field's are the
// ones the builder saw (the snapshots after the field call's K_WORDREF):
// then field_object would find the same object, with no binding to make.
[[gnu::always_inline]] inline bool field_as_built(const pnode_t* n, const cell_t* cells) {
    const pnode_t* e = plan::field_elements(n);
    if (e->pos == 0 || !same_cell(cells, &e[0].value) || !same_cell(cells + 1, &e[1].value))
        [[unlikely]]
        return false;
    const cell_t* obj = alloc::buffer(static_cast<node_t>(e->pos))->head_cell() + e[0].value.data3;
    const cell_t* f = alloc::buffer(static_cast<node_t>(e->end))->head_cell() + e[1].value.data3;
    return same_cell(obj, &e[2].value) && same_cell(f, &plan::wordref_of(n)->value);
}

// A call of the function a field holds (K_FIELDCALL), as eval_expression
// runs the path: the walk's cells pushed as walk_path pushes them (its
// parent, grandparent, item and three more), the call made as eval_code
// makes it (its frame named by the path's head word) with planned
// arguments, its value in place of those cells, then the lookahead. The
// path is read again at each run; a field that no longer holds the
// function the plan expects, an object's own word as head, or any other
// form is the interpreter's path (the field's binding made by the read is
// the one that path makes too). self: the field holds the function whose
// plan runs (SELF_CALL), which runs that plan as a recursive call does.
template <bool self>
[[gnu::noinline]] int32_t plan_field_call_of(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end,
                                             bool infix) {
    check_native_stack();  // as eval_expression does
    const cell_t* path = &n->value;
    series_buffer_t* s = alloc::buffer(path->data2);
    auto h = static_cast<int32_t>(path->data1);
    if (h < 0 || (s->used() >> 4) - h != 2) [[unlikely]]
        return plan_fallback(n, code, pos, end, infix);
    cell_t* cells = s->head_cell() + h;
    const cell_t* obj = &plan::field_object_expected(n)->value;
    if (!field_as_built(n, cells)) [[unlikely]] {
        obj = field_object(n, cells);
        if (obj == nullptr) [[unlikely]]
            return plan_fallback(n, code, pos, end, infix);
    }
    cell_t* saved_top = stack::top_slot;
    cell_t* slot = saved_top + 6;
    // The walk's cells and the callee, stored in place when there is room
    // for all seven: pushed one by one otherwise, to raise where the walk's
    // pushes would.
    if (slot + 1 < stack::end) [[likely]] {
        saved_top[0] = *obj;
        saved_top[1] = none_value;
        saved_top[2] = *cells;
        saved_top[3] = none_value;
        saved_top[4] = none_value;
        saved_top[5] = none_value;
        *slot = plan::wordref_of(n)->value;
        stack::top_slot = slot + 1;
    } else {
        cell_t name = *cells;
        cell_t object = *obj;
        stack::push(&object);
        stack::push(&none_value);
        stack::push(&name);
        for (int32_t i = 0; i < 3; i++) stack::push(&none_value);
        stack::push(&plan::wordref_of(n)->value);
    }
    stack::tops_t caller{slot, stack::arguments, stack::ctop};
    stack::push_frame_made(
        stack::frame_header(saved_top + 2, frame::FUNC | stack::interpreted_mark),
        saved_top[2].data1, slot + 1);
    pos = plan_call_body<self, plan::FIELD_CALL_ARGUMENTS, false>(x, n, code, pos, end, true,
                                                                  caller, slot);
    if (exits::pending) [[unlikely]]
        return pos;
    *saved_top = *slot;
    stack::top_slot = saved_top + 1;
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

}  // namespace

[[gnu::noinline]] int32_t plan_field_call(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end, bool infix) {
    if (plan::wordref_flags_of(n) & plan::SELF_CALL)
        return plan_field_call_of<true>(x, n, code, pos, end, infix);
    return plan_field_call_of<false>(x, n, code, pos, end, infix);
}

namespace {

// Whether the path of the refined call n holds the elements the plan
// expects: read at each run, since a path's cells change without the stamp.
[[gnu::always_inline]] inline bool refined_path_holds(const pnode_t* n) {
    const pnode_t* ref = plan::wordref_of(n);
    const pnode_t* frame = plan::refined_frame(n);
    int32_t length = plan::path_length(ref);
    const cell_t* path = &frame->value;
    series_buffer_t* s = alloc::buffer(path->data2);
    auto h = static_cast<int32_t>(path->data1);
    if ((s->used() >> 4) - h != length) [[unlikely]]
        return false;
    const cell_t* cells = s->head_cell() + h;
    if (!same_cell(cells, &ref->value)) [[unlikely]]
        return false;
    for (int32_t k = 1; k < length; k++)
        if (!same_cell(cells + k, &frame[k].value)) [[unlikely]]
            return false;
    return true;
}

// A call with refinements named in its path (K_REFCALL), as call_refined
// makes it while the path and the function its head word holds are the
// ones the plan expects: the callee pushed and its frame marked, then the
// frame's slots in order (an argument's node run and checked against its
// entry, none for an argument of a refinement left off, each refinement's
// logic!), the locals, and the call run as a plain call's, its value in the
// callee's slot, then the lookahead. Anything else is the interpreter's
// path.
template <bool self>
[[gnu::always_inline]] inline int32_t plan_refined_call_of(const plan_run& x, const pnode_t* n,
                                                           const cell_t* code, int32_t pos,
                                                           int32_t end, bool infix) {
    const pnode_t* ref = plan::wordref_of(n);
    const pnode_t* frame = plan::refined_frame(n);
    const cell_t* fn = refined_path_holds(n) ? plan_expected(n) : nullptr;
    if (fn == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, infix);
    check_native_stack();  // as eval_expression does
    stack::tops_t caller = stack::tops();
    cell_t* slot = stack::push(fn);
    plan_mark(ref, slot);
    uint32_t layout = plan::refined_layout(frame);
    int32_t slots = plan::refined_slots(frame);
    const pnode_t* a = frame + plan::path_length(ref);
    pos++;
    bool first = true;
    for (int32_t i = 0; i < slots; i++, layout >>= 2) {
        uint32_t what = layout & 3;
        if (what == plan::SLOT_ARGUMENT) {
            // The first argument's node is where the walk stands, with the
            // guards its caller read: what was pushed since ran nothing.
            pos = plan_argument(x, a, slot, i, code, pos, end, false, first);
            if (exits::pending) [[unlikely]]
                return pos;
            check_argument(slot, i);
            a += plan::size_of(a);
            first = false;
        } else if (what == plan::SLOT_NONE) {
            stack::push_slot()->header = TYPE_none;
        } else {
            logic::make_at(stack::push_slot(), what == plan::SLOT_TRUE);
        }
    }
    push_locals(plan::refined_locals(frame));
    complete_frame(function::context_of(slot));
    if (tracing) [[unlikely]]
        fire_resumed_call(slot, code, pos);
    const cell_t* result;
    if (self && plan_holds(x)) [[likely]]
        result = run_self(x, code, slot);
    else if (!self) result = run_function<true>(slot, code);
    else result = run_other_function(slot);
    if (result == nullptr) [[unlikely]]
        return pos;
    if (tracing) [[unlikely]]
        finish_resumed(slot, true, result, code, pos);
    else finish_marked(caller, slot, result);
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

[[gnu::noinline]] int32_t plan_refined_call(const plan_run& x, const pnode_t* n, const cell_t* code,
                                            int32_t pos, int32_t end, bool infix) {
    if (plan::wordref_flags_of(n) & plan::SELF_CALL)
        return plan_refined_call_of<true>(x, n, code, pos, end, infix);
    return plan_refined_call_of<false>(x, n, code, pos, end, infix);
}

}  // namespace

// run_node's last resort: a call through a path, or plan_other. Apart from
// plan_other, whose cases save registers on entry: a path call is taken
// here with none saved.
[[gnu::noinline]] int32_t plan_path_call(const plan_run& x, const pnode_t* n, const cell_t* code,
                                         int32_t pos, int32_t end, bool infix) {
    if (n->kind() == plan::K_FIELDCALL) return plan_field_call(x, n, code, pos, end, infix);
    if (n->kind() == plan::K_REFCALL) return plan_refined_call(x, n, code, pos, end, infix);
    return plan_other(x, n, code, pos, end, infix);
}

}  // namespace zuv::interpreter
