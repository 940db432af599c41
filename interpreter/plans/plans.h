// Function-body plans: building, guards, verify mode and counters (the
// layout is in interpreter/plans/nodes.h; the interpreter runs them).
#pragma once

#include <cstdint>

#include "interpreter/plans/nodes.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"
#include "runtime/stamp.h"

namespace zuv::interpreter::plan {

// Whether calls build and run plans (unless ZUV_PLANS is 0 or
// ZUV_NO_FAST_PATHS is set), whether every planned block the runner takes is
// checked against its snapshot (ZUV_PLAN_VERIFY), and whether the counters are kept and printed
// at exit (ZUV_PLAN_COUNTS).
extern bool enabled;
extern bool verify;
// ZUV_PLANS=eager: a plan is built at a function's first call.
extern bool eager;
extern bool counting;

// The modification stamp (runtime/stamp.h): a plan runs only while the
// stamp it was checked at is current.
using stamp::epoch;

// Reads the switches (interpreter::init).
void init();

// The plan a function's more[MORE_PLAN] block holds (cell 0 its externals
// handle, cell 1 its address, then copies of the nodes' values, which keep
// what the plan expects alive).
[[gnu::always_inline]] inline pnode_t* held_plan(const cell_t* more_plan) {
    const cell_t* c = alloc::buffer(more_plan->data2)->head_cell() + 1;
    return reinterpret_cast<pnode_t*>(uintptr_t{c->data1} | (uintptr_t{c->data2} << 32));
}

// The plan of the function at slot (a stable cell), nullptr when it has none
// to run now: its first call only counts, its second builds the plan; a
// plan whose blocks were changed is dropped for good (marked so: its memory
// goes with the function).
const pnode_t* of_function(const cell_t* slot);

// Verify mode: the block's cells against the plan's snapshot; a difference
// under an unchanged stamp is a write path that forgot the stamp, and a plan
// run while tracing is a write of tracing that forgot the guard byte: either
// stops the process with a message.
void verify_block(const pnode_t* head, const pnode_t* block, const cell_t* code);
// Verify mode, on a plan just built: every node carries only the flags and
// fields kinds.def gives its kind (a K_WORDREF those its owner's wordref
// flags name); a fault stops the process with a message.
void verify_kinds(const pnode_t* head);
// verify_block on every block of a plan: a run checks them as it begins,
// since it takes blocks of one expression and leaves without the loop.
void verify_plan(const pnode_t* head);

// ZUV_PLAN_DUMP: prints each plan as it is built (dump.cpp).
extern bool dumping;
void dump(const pnode_t* head);

// The plan of body (build.cpp): fn_ctx the context whose words the runner
// reads in its frame (NO_CONTEXT: none), fn the function planned (a none
// cell for a block a loop runs); nullptr when the body gives none. *keep
// takes the block holding the plan's handle and its nodes' values: the
// caller makes it reachable before anything else allocates.
constexpr node_t NO_CONTEXT = ~node_t{0};
pnode_t* build_body(const cell_t* body, node_t fn_ctx, const cell_t* fn, node_t* keep);
// Whether the plan holds at the current stamp (its blocks compared with
// their snapshots once the stamp moved); a plan whose blocks changed is
// dropped for good, marked so.
bool current(pnode_t* head);

// The plan of a block a loop runs (blocks.cpp), kept in a table by the
// block's series and head. The first run only counts (ZUV_PLANS=eager: it
// builds); the second builds. A plan keeps its block alive while runs use
// it: a collection drops the entries no run used since the one before.
struct block_plan {
    node_t series;  // 0: a free entry
    uint32_t head;  // the block cell's index word
    pnode_t* plan;  // nullptr until built
    node_t keep;  // the block that holds the plan (build_body)
    // The function context whose words the plan reads in the frame: that
    // context's values while the run starts (0: none).
    node_t ctx;
    uint32_t active;  // runs in progress: the entry stays while any walks it
    bool used;  // run since the last collection
    bool refused;  // the builder gave no plan
};
constexpr int32_t BLOCK_TABLE_BITS = 9;
extern block_plan block_table[1 << BLOCK_TABLE_BITS];
// The one entry a block's series may have.
inline block_plan* block_slot(node_t series) {
    return &block_table[(series * 2654435761u) >> (32 - BLOCK_TABLE_BITS)];
}
// The entry of the block at code with a plan to run now; nullptr otherwise.
// library: a block of library code run from library code, whose entry is
// keyed apart (LIBRARY_KEY in its head word): a run from user code never
// finds its plan, nor a run from library code a user block's.
constexpr uint32_t LIBRARY_KEY = 1u << 31;
block_plan* of_block(const cell_t* code, bool library = false);
// Drops every entry (a runtime started again).
void forget_blocks();

// Counters (only while `counting`).
enum counter : int32_t { C_BUILD, C_NOT_PLANNED, C_INVALID, C_RUN, C_COUNT };
extern uint64_t counters[C_COUNT];
extern uint64_t fallbacks[K_COUNT];
inline void count(counter c) {
    if (counting) [[unlikely]]
        counters[c]++;
}
inline void count_fallback(const pnode_t* n) {
    if (counting) [[unlikely]]
        fallbacks[n->kind()]++;
}

}  // namespace zuv::interpreter::plan
