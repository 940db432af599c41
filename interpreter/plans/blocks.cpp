// Plans of the blocks loops run: a loop's body (and `while`'s condition)
// gets a plan as a function body does, found by its series in a table.
//
// The table holds no root of its own: a collection keeps an entry, and the
// block and values its plan expects, only while runs use it (a run since the
// collection before, or one in progress), and drops the rest, so code made
// and run by loops once does not stay alive for its plans. An entry is
// replaced by another block of the same slot only while no run walks it.
#include <cstring>

#include "datatypes/context.h"
#include "interpreter/plans/plans.h"
#include "runtime/collector.h"
#include "runtime/library_code.h"
#include "runtime/stack.h"

namespace zuv::interpreter::plan {

block_plan block_table[1 << BLOCK_TABLE_BITS];

namespace {

void mark_block_plans() {
    for (block_plan& e : block_table) {
        if (e.series == 0) continue;
        if (e.plan != nullptr && (e.used || e.active != 0)) {
            collector::mark_cells_node(e.keep);
            e.used = false;
        } else if (e.plan != nullptr || e.refused) {
            // Its block may go now: a later series at its node is another.
            e = block_plan{};
        }
    }
}

bool word_kind_q(uint8_t t) {
    return t == TYPE_word || t == TYPE_set_word || t == TYPE_get_word || t == TYPE_lit_word;
}

// The function context, running now, of the first word in the block (or in
// the blocks and parens it holds) bound to one: the words a loop's body
// shares with the function around it, read in that function's frame. 0
// when there is none.
node_t running_context(const cell_t* code, int32_t depth, int32_t* budget) {
    series_buffer_t* b = alloc::buffer(code->data2);
    int32_t end = b->used() >> 4;
    const cell_t* cells = b->head_cell();
    for (int32_t i = 0; i < end && --*budget > 0; i++) {
        const cell_t* c = cells + i;
        uint8_t t = type_of(c);
        if (word_kind_q(t)) {
            if (c->data1 == 0 || static_cast<int32_t>(c->data3) < 0) continue;
            const cell_t* ctx = _context::cell_of(c->data1);
            if ((ctx->header & FLAG_STACK_VALUES) && ctx->data2 != 0) return c->data1;
        } else if ((t == TYPE_block || t == TYPE_paren) && depth < 8) {
            node_t found = running_context(c, depth + 1, budget);
            if (found != 0) return found;
        }
    }
    return 0;
}

}  // namespace

void forget_blocks() {
    static bool marked = false;
    if (!marked) {
        marked = true;
        collector::add_marker(mark_block_plans);
    }
    for (block_plan& e : block_table) e = block_plan{};
}

block_plan* of_block(const cell_t* code, bool library) {
    node_t series = code->data2;
    uint32_t head = code->data1 | (library ? LIBRARY_KEY : 0);
    block_plan* e = block_slot(series);
    if (e->series == series && e->head == head) [[likely]] {
        if (e->plan != nullptr) [[likely]] {
            if (!current(e->plan)) return nullptr;
            e->used = true;
            return e;
        }
        if (e->refused) return nullptr;
    } else {
        if (e->active != 0) return nullptr;
        *e = block_plan{};
        e->series = series;
        e->head = head;
        if (top_level::library_q(series) != library) {
            e->refused = true;
            return nullptr;
        }
        if (!eager) return nullptr;
    }
    int32_t budget = 4096;
    node_t ctx = running_context(code, 0, &budget);
    cell_t none{TYPE_none, 0, 0, 0};
    node_t keep = 0;
    pnode_t* p = build_body(code, ctx != 0 ? ctx : NO_CONTEXT, &none, &keep);
    // build_body may have collected: the entry was kept (not built, not
    // refused), but its slot is read again.
    e = block_slot(series);
    // A body of one function call gains nothing: the interpreter's direct
    // call runs the callee's own plan with less work around it than the
    // planned call's (its plan, unreferenced, goes at the next collection).
    if (p != nullptr && (body_of(p)->flags & ONE_EXPRESSION) &&
        statements_of(body_of(p))->kind() == K_CALL)
        p = nullptr;
    if (p == nullptr || e->series != series) {
        count(C_NOT_PLANNED);
        if (e->series == series) e->refused = true;
        return nullptr;
    }
    e->plan = p;
    e->keep = keep;
    e->ctx = ctx;
    e->used = true;
    count(C_BUILD);
    if (dumping) [[unlikely]]
        dump(p);
    return e;
}

}  // namespace zuv::interpreter::plan
