// The runs of the plans of blocks loops run (interpreter/plans/blocks.cpp),
// entered from eval_here through run_loop_block (runner.h).

#include "interpreter/plans/runner.h"

namespace zuv::interpreter {

namespace {

// A run in progress of a block's plan: its entry stays in the table, and its
// plan alive, however the run is left.
struct block_plan_use {
    plan::block_plan* entry;
    explicit block_plan_use(plan::block_plan* e) : entry(e) { e->active++; }
    ~block_plan_use() { entry->active--; }
    block_plan_use(const block_plan_use&) = delete;
    block_plan_use& operator=(const block_plan_use&) = delete;
};

}  // namespace

// The run of the plan of entry e for the block at code: as run_in_place<true>
// runs it, with the function whose words the plan reads in the frame
// running (the frame is that function's values while the run lasts: a call
// that moves them puts them back as it ends).
// library: a library block's plan, whose run keeps its position apart.
template <bool library>
[[gnu::noinline]] cell_t* run_block_plan(plan::block_plan* e, const cell_t* code) {
    cell_t* frame = stack::arguments;
    if (e->ctx != 0) {
        const cell_t* c = _context::cell_of(e->ctx);
        if (c->data2 == 0) [[unlikely]]
            return run_in_place<true>(code);
        frame = stack::cell_at(c->data2);
    }
    const pnode_t* head = e->plan;
    plan::count(plan::C_RUN);
    if (plan::verify) [[unlikely]]
        plan::verify_plan(head);
    block_plan_use use(e);
    cell_t* where = library ? &library_position : position;
    plan_start x(head, frame, where);
    return run_planned(x, plan::body_of(head), code, true, where);
}

template cell_t* run_block_plan<false>(plan::block_plan* e, const cell_t* code);
template cell_t* run_block_plan<true>(plan::block_plan* e, const cell_t* code);

// run_loop_block's way for library code: a library block run from library
// code through its plan (keyed apart), anything else on the interpreter's
// path.
template <uint8_t kind> [[gnu::noinline]] cell_t* run_library_loop_block(const cell_t* code) {
    if (type_of(code) != kind || !origin_fits(true) || !library_code::library_q(code->data2))
        return run_in_place<true>(code);
    plan::block_plan* e = plan::block_slot(code->data2);
    bool mine = e->series == code->data2 && e->head == (code->data1 | plan::LIBRARY_KEY);
    if (mine && e->plan != nullptr && static_cast<uint32_t>(e->plan->end) == plan::epoch &&
        e->plan->pos >= 0) [[likely]] {
        e->used = true;
        return run_block_plan<true>(e, code);
    }
    if ((mine && e->refused) || (e = plan::of_block(code, true)) == nullptr)
        return run_in_place<true>(code);
    return run_block_plan<true>(e, code);
}

template cell_t* run_library_loop_block<TYPE_block>(const cell_t* code);
template cell_t* run_library_loop_block<TYPE_paren>(const cell_t* code);

}  // namespace zuv::interpreter
