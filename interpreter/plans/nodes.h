// The plan engine's node layout, and the cell-type masks the runner and
// the interpreter's fast paths test values with.
#pragma once

#include <cassert>
#include <cstdint>

#include "interpreter/arguments_cache.h"
#include "runtime/cell.h"

namespace zuv::interpreter {

inline bool callable_q(uint8_t t) {
    return t == TYPE_native || t == TYPE_action || t == TYPE_function || t == TYPE_routine;
}

// The types eval_expression passes through unchanged (its default case).
constexpr uint64_t NOT_INERT =
    (uint64_t{1} << TYPE_word) | (uint64_t{1} << TYPE_set_word) | (uint64_t{1} << TYPE_paren) |
    (uint64_t{1} << TYPE_lit_word) | (uint64_t{1} << TYPE_get_word) | (uint64_t{1} << TYPE_issue) |
    (uint64_t{1} << TYPE_native) | (uint64_t{1} << TYPE_action) | (uint64_t{1} << TYPE_function) |
    (uint64_t{1} << TYPE_routine) | (uint64_t{1} << TYPE_op) | (uint64_t{1} << TYPE_path) |
    (uint64_t{1} << TYPE_lit_path) | (uint64_t{1} << TYPE_set_path) |
    (uint64_t{1} << TYPE_get_path);
static_assert(TYPE_COUNT <= 64, "the inert mask has one bit per type");
inline bool inert_q(uint8_t t) { return t < 64 && !((NOT_INERT >> t) & 1); }

// The types a word's value may not have to be pushed as it stands: callables
// (a call), op! (an operator) and unset! (an error). One test of a mask.
constexpr uint64_t NOT_PLAIN = (uint64_t{1} << TYPE_native) | (uint64_t{1} << TYPE_action) |
                               (uint64_t{1} << TYPE_function) | (uint64_t{1} << TYPE_routine) |
                               (uint64_t{1} << TYPE_unset) | (uint64_t{1} << TYPE_op);
inline bool plain_value_q(uint8_t t) { return !((NOT_PLAIN >> (t & 63)) & 1); }

}  // namespace zuv::interpreter

// --- function-body plans -----------------------------------------------------------
// A plan is an internal form of a function's body, built on its second call
// and run in place of the body while nothing is traced: the same frames,
// positions, exits, results and errors as the body's own run, with the
// dispatch on cell types, the word look-ups and the lookahead probes decided
// once. Everything a plan cannot run itself goes through the interpreter's
// own code for that expression (a generic node, or a fallback when a guard
// fails). See docs/plans.md.
//
// A plan is memory of its own (it never moves), registered as an external
// resource whose handle sits in a block in the function's more[MORE_PLAN]:
// it lives exactly as long as the function. Its nodes (pnode_t) carry a
// kind, flags, a small operand, a position, an end, an aux field and a
// value (a literal, an expected callee, a word), of which the block holds a
// copy for the collector to mark. The nodes end with the entries of probed
// words (see PROBE_LOCAL), which no walk reaches; after the nodes come the
// snapshots of the planned blocks' cells.

namespace zuv::interpreter::plan {

// The kinds, from interpreter/plans/kinds.def.
enum kind : uint8_t {
#define ZUV_PLAN_KIND(id, name, compound, small, flags, ref_flags) id,
#include "interpreter/plans/kinds.def"
    K_COUNT
};

// The flags, each a bit of its own, from kinds.def.
enum flag_bit : uint32_t {
#define ZUV_PLAN_FLAG(id) id##_BIT,
#include "interpreter/plans/kinds.def"
    FLAG_COUNT
};
static_assert(FLAG_COUNT <= 32, "a node's flags are one 32-bit field");
#define ZUV_PLAN_FLAG(id) constexpr uint32_t id = 1u << id##_BIT;
#include "interpreter/plans/kinds.def"
constexpr const char* flag_names[FLAG_COUNT] = {
#define ZUV_PLAN_FLAG(id) #id,
#include "interpreter/plans/kinds.def"
};

// What a node's small field holds, by its kind (kinds.def); read through
// the accessor of that meaning below.
enum small_use : uint8_t {
    SMALL_NONE,  // nothing: it stays 0
    SMALL_PROBE,  // a probe's reading (probe_slot)
    SMALL_ARGUMENTS,  // the number of arguments (argument_count)
    SMALL_NATIVE,  // the native's slot (native_slot)
    SMALL_STEPS,  // the number of operator steps (step_count)
    SMALL_OPERATION,  // the fast operation, 0 for none (fast_operation)
};

// The kinds' names (the dump, the counters), whether a node of the kind
// holds a subtree of aux nodes, what its small field holds, and the flags
// it and the K_WORDREF after it may carry (verify mode checks them).
constexpr const char* kind_names[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound, small, flags, ref_flags) name,
#include "interpreter/plans/kinds.def"
};
constexpr bool compound_kinds[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound, small, flags, ref_flags) compound,
#include "interpreter/plans/kinds.def"
};
constexpr small_use small_uses[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound, small, flags, ref_flags) small,
#include "interpreter/plans/kinds.def"
};
constexpr uint32_t kind_flags[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound, small, flags, ref_flags) flags,
#include "interpreter/plans/kinds.def"
};
constexpr uint32_t wordref_flags[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound, small, flags, ref_flags) ref_flags,
#include "interpreter/plans/kinds.def"
};

// The list's own rules: COMPOUND is the compound kinds' flag, and only a
// kind with a subtree has a K_WORDREF after it.
constexpr bool kinds_consistent() {
    for (int k = 0; k < K_COUNT; k++) {
        if (((kind_flags[k] & COMPOUND) != 0) != compound_kinds[k]) return false;
        if (wordref_flags[k] != 0 && !compound_kinds[k]) return false;
    }
    return (kind_flags[K_WORDREF] | wordref_flags[K_WORDREF]) == 0;
}
static_assert(kinds_consistent(), "kinds.def: COMPOUND or a wordref flag on the wrong kind");

// A K_INFIX marked SIMPLE_INFIX has an integer! value: data1 where the
// runner's lane reads its operands (0: the lane does not take them), data2
// its fast operation, data3 with PROBE_LOCAL the byte offset of the probed
// word's frame slot. An operand is a word of the function's own context
// (read in the frame), a word read where its context's values live (that
// node in the leaf's aux: INFIX_LEFT_GLOBAL, INFIX_RIGHT_GLOBAL) or a
// literal (INFIX_LEFT_LITERAL, INFIX_RIGHT_LITERAL). data1 INFIX_PAREN (and
// not INFIX_LANE): the step is a called operator whose right operand is a
// paren of one leaf (ONE_LEAF), data2 the operation it stands for on the
// fast paths; the lane takes two integers with neither the operator's frame
// nor the paren's run.
constexpr uint32_t INFIX_LANE = 1;
constexpr uint32_t INFIX_RIGHT_GLOBAL = 2;
constexpr uint32_t INFIX_RIGHT_LITERAL = 4;
constexpr uint32_t INFIX_LEFT_GLOBAL = INFIX_RIGHT_GLOBAL << 2;
constexpr uint32_t INFIX_LEFT_LITERAL = INFIX_RIGHT_LITERAL << 2;
constexpr uint32_t INFIX_PAREN = INFIX_LEFT_LITERAL << 1;

// The flags (kinds.def lists which kind carries which).
//
// COMPOUND: the node's subtree takes aux nodes (else one); set on every
// node of a compound kind.
//
// PROBE: a word follows the expression that must be checked for an
// operator (the lookahead) before the plan goes on, unless the next
// statement's own read answers it (ANSWERS_PROBE). With PROBE, PROBE_LOCAL:
// the word that follows is one of the function's own, its frame slot in
// the probe_slot of the probe's holder (probe_holder): the probe reads the
// frame instead of looking the word up. With PROBE and not PROBE_LOCAL, a
// holder's probe_slot that is not 0 is the index of an entry node after
// the plan's blocks: a K_WORD whose aux is the node of its context's values
// (a context whose values are not on the stack keeps that node from its
// making), read as a lane operand is. 0: the probe looks the word up in its
// cell.
//
// Probes left to the next statement. When a statement of a block is
// followed by one whose first act is to read the word the first would
// probe (a leaf, a call's or a native's guard, the left operand of an
// operators' lane), that read answers the probe, made with nothing run
// since: the first statement probes nothing (its PROBE cleared) and the
// reading node carries the flag. Found holding an operator there, the word
// makes the first statement's value that operator's left operand
// (plan_answer). ANSWERS_PROBE on a leaf: the statement itself, or the left
// operand of a K_INFIX lane; REF_ANSWERS_PROBE on a call's or native's
// K_WORDREF.
//
// SIMPLE_INFIX: a K_INFIX of one fast step whose operands are a literal or
// a word each, or of one called step whose right operand is a paren of one
// leaf (INFIX_PAREN).
//
// ONE_EXPRESSION: a K_BLOCK whose nodes are those of one expression (a
// branch runs it without the block loop). ONE_LEAF, with it: that
// expression is a leaf (a literal or a word), whose value a paren or a
// branch can take without running the block.
// LITERAL_LEAD: a K_BLOCK of two expressions or more, each but the last a
// set-word of a literal into the frame (SET_LITERAL): a function's body
// that gives its locals their first values, run without the block loop
// (plan_lead_body).
//
// PAREN_CALL: a K_PAREN whose block is one call (ONE_EXPRESSION, a K_CALL):
// the call runs straight from the paren's node (plan_paren_call).
// PAREN_PATH_CALL: the same for a call through a path (a K_FIELDCALL or a
// K_REFCALL), taken so only where a paren is an operator chain's left
// operand.
//
// SET_LOCAL: a K_SET whose word is one of the function's own (bound to the
// context whose words the plan reads in the frame): stored into the frame,
// where its K_LOCAL reads read it, at the word's index (plan_set_slot).
// SET_LITERAL, with it: its value is a literal (K_LIT), stored with no
// walk through the value's kinds (plan_set_literal).
//
// FAST_NATIVE, on a K_NATIVE's K_WORDREF: the native or action takes two
// arguments and stands for a fast operation (add, subtract, lesser? ...),
// which computes two integers in place as its entry would (plan_native).
//
// On a K_CALL's K_WORDREF (SELF_CALL and PLAIN_CALL also on a field
// call's and a refined call's). SELF_CALL: the callee expected is the very
// function the plan is of (a recursive call), so the callee's plan is the
// one running while the stamp its run began with holds: a plan is never
// replaced for its function, and is dropped only once the stamp moved.
// PLAIN_CALL: the callee was seen with a body block, no compiled code and
// no trace flags, which the same cell keeps. LEAF_BODY, on a plain call's:
// the callee takes at most one argument, a leaf, and no locals, and its
// body was one literal or word when the plan was built. Only a hint: the
// runner checks the callee's own plan before it takes the call's short way
// (plan_call_leaf). LIBRARY_CALL: the callee was seen as PLAIN_CALL says,
// its body library code; the call runs the callee's plan as library code
// (run_library_function). LEAF_PICK, on such a call's: the callee takes one
// argument, a leaf, and no locals, and its body was a pick of that argument
// (interpreter/plans/pick_helpers.h) when the plan was built. Only a hint:
// the runner reads the body again before it takes the short way
// (plan_call_pick).
//
// On a K_COND's K_WORDREF. LANE_CONDITION: its condition is a K_INFIX the
// operators' lane reads (SIMPLE_INFIX, INFIX_LANE, no probe) and the
// native's first argument takes every type outside SELDOM_TYPES
// (first_any_q of its call summary). LEAF_CONDITION: its condition is a leaf (a literal or a
// word) with no probe, and the native's first argument takes every type
// outside SELDOM_TYPES. OWN_WORD_AFTER: the word after its last branch,
// which that branch probes, is the conditional's own word, bound alike. A
// conditional that checked its word holding its native, with nothing run
// since, knows the probe's answer.
// BODY_RETURN: the conditional is a statement of a function's body (not of
// a block a loop runs) and one of its branches is `return leaf`, a block of
// that one expression whose argument has no probe: taken, that branch ends
// the body with the leaf's value, as the return's exit would, with no exit
// made (plan_body_return).
//
// On a called operator's K_WORDREF. OPERATOR_ANY_TYPES: the operator's
// arguments take every type outside SELDOM_TYPES (any_types_q of its
// call summary).
//
// On the K_HEAD. LIBRARY_PLAN: the plan of a library function's body. Its
// run leaves the user code's position alone (it keeps its own in a cell no
// error reads), the frames it marks carry no interpreted mark, and its calls
// take none of the short ways of SELF_CALL, PLAIN_CALL and LEAF_BODY, which
// count on caller and callee being user code.

// The largest value the small field holds.
constexpr uint32_t SMALL_LIMIT = 0xFFFFu;

struct pnode_t {
    uint32_t flags;  // those of kinds.def's for the kind
    uint8_t kind_id;
    uint8_t unused = 0;
    uint16_t small_field;  // its meaning by kind: small_uses, the accessors below
    int32_t pos;
    int32_t end;
    int32_t aux;
    int32_t unused_too = 0;  // keeps value 8-aligned
    cell_t value;

    uint8_t kind() const { return kind_id; }
    // The small field as it stands, whatever it means (the builder, the
    // dump, verify mode): the runner reads it through its meaning's
    // accessor.
    uint32_t small() const { return small_field; }
    bool probe() const { return (flags & PROBE) != 0; }
};
static_assert(sizeof(pnode_t) == 40, "a node's size is measured: see docs/plans.md");

// The small field by its meaning. Each serves the kinds kinds.def gives that
// meaning.
inline uint32_t small_of(const pnode_t* n, [[maybe_unused]] small_use use) {
    assert(small_uses[n->kind()] == use);
    return n->small_field;
}
// A probe's holder (probe_holder): the frame slot with PROBE_LOCAL, else
// the probe's entry node (0: none).
inline uint32_t probe_slot(const pnode_t* holder) { return small_of(holder, SMALL_PROBE); }
// K_CALL, K_NATIVE, K_RETURN.
inline int32_t argument_count(const pnode_t* call) {
    return static_cast<int32_t>(small_of(call, SMALL_ARGUMENTS));
}
// K_COND: `if`'s or `either`'s slot in the natives' table.
inline uint32_t native_slot(const pnode_t* cond) { return small_of(cond, SMALL_NATIVE); }
// K_INFIX.
inline uint32_t step_count(const pnode_t* infix) { return small_of(infix, SMALL_STEPS); }
// K_OP: its fast_op, FAST_NONE for a called operator.
inline uint32_t fast_operation(const pnode_t* op) { return small_of(op, SMALL_OPERATION); }

// aux by kind, where the runner reads it as other than a subtree's size.
// A K_LOCAL's: its word's frame slot.
inline int32_t frame_slot(const pnode_t* local) {
    assert(local->kind() == K_LOCAL);
    return local->aux;
}
// A K_PAREN's or K_BRANCH's: the K_BLOCK of its block's nodes.
inline const pnode_t* block_of(const pnode_t* head, const pnode_t* n) {
    assert(n->kind() == K_PAREN || n->kind() == K_BRANCH);
    return head + n->aux;
}
// A K_WORD's (a leaf or a probe's entry): the node of its context's values,
// 0 for none (the word is read through its context).
inline uint32_t word_values(const pnode_t* word) {
    assert(word->kind() == K_WORD);
    return static_cast<uint32_t>(word->aux);
}

// A K_WORDREF's fields, read through what they mean there. The header of
// the frame the call (or conditional, return, called operator) marks:
inline uint32_t frame_header(const pnode_t* ref) {
    assert(ref->kind() == K_WORDREF);
    return static_cast<uint32_t>(ref->pos);
}
// The node of the values of the word's context, where the word is read:
inline uint32_t values_node(const pnode_t* ref) {
    assert(ref->kind() == K_WORDREF);
    return static_cast<uint32_t>(ref->end);
}
// A call's, a native's, a conditional's or return's: the callee's call
// summary (arguments_cache.h).
inline call_summary_t callee_summary(const pnode_t* ref) {
    assert(ref->kind() == K_WORDREF && ref[-1].kind() != K_OP);
    return call_summary::from_bits(static_cast<uint32_t>(ref->aux));
}
// An operator step's: the fast operation the operator stands for (its
// fast_op, FAST_NONE for none), for a called one too.
inline uint32_t operator_operation(const pnode_t* ref) {
    assert(ref->kind() == K_WORDREF && ref[-1].kind() == K_OP);
    return static_cast<uint32_t>(ref->aux);
}

// A refined call's K_WORDREF: the length of its path.
inline int32_t path_length(const pnode_t* ref) {
    assert(ref->kind() == K_WORDREF && ref[-1].kind() == K_REFCALL);
    return ref->aux;
}
// What a refined call's frame slot holds, in the order call_refined pushes
// them: an argument (the next argument node), none (an argument of a
// refinement left off), or a refinement's logic!. The locals follow.
enum refined_slot : uint32_t { SLOT_NONE, SLOT_FALSE, SLOT_TRUE, SLOT_ARGUMENT };
constexpr int32_t REFINED_SLOTS_MAX = 16;
// The frame of a refined call, its first K_ELEMENT: the slots' codes, their
// count, and the locals pushed after them.
inline uint32_t refined_layout(const pnode_t* frame) {
    assert(frame->kind() == K_ELEMENT && frame[-1].kind() == K_WORDREF);
    return static_cast<uint32_t>(frame->pos);
}
inline int32_t refined_slots(const pnode_t* frame) {
    assert(frame->kind() == K_ELEMENT);
    return frame->aux;
}
inline int32_t refined_locals(const pnode_t* frame) {
    assert(frame->kind() == K_ELEMENT);
    return frame->end;
}

// --- compound layouts -------------------------------------------------------
// Where the nodes of each compound kind keep their parts (kinds.def says
// what each part holds), read through these and not at offsets by hand: the
// debug build checks the kind of each.

// A call's, native's, conditional's, return's, operator step's, field or
// refined call's K_WORDREF, right after it, and that K_WORDREF's flags (its
// owner's wordref flags).
inline const pnode_t* wordref_of(const pnode_t* n) {
    assert(n->kind() == K_CALL || n->kind() == K_NATIVE || n->kind() == K_COND ||
           n->kind() == K_RETURN || n->kind() == K_OP || n->kind() == K_FIELDCALL ||
           n->kind() == K_REFCALL);
    assert(n[1].kind() == K_WORDREF);
    return n + 1;
}
inline uint32_t wordref_flags_of(const pnode_t* n) { return wordref_of(n)->flags; }

// Where the first argument's subtree starts, counted from the call's node:
// after the K_WORDREF, and for a field call after its three K_ELEMENTs.
constexpr int32_t CALL_ARGUMENTS = 2;
constexpr int32_t FIELD_CALL_ARGUMENTS = 5;
// A K_CALL's, K_NATIVE's or K_RETURN's first argument.
inline const pnode_t* arguments_of(const pnode_t* call) {
    assert(call->kind() == K_CALL || call->kind() == K_NATIVE || call->kind() == K_RETURN);
    return call + CALL_ARGUMENTS;
}

// A K_COND's condition, and its first K_BRANCH (the other follows it) for
// a condition of one node: a leaf, or the lane's (lane_end).
inline const pnode_t* condition_of(const pnode_t* cond) {
    assert(cond->kind() == K_COND);
    return cond + 2;
}
inline const pnode_t* leaf_condition_branches(const pnode_t* cond) {
    assert(cond->kind() == K_COND && !(condition_of(cond)->flags & COMPOUND));
    return cond + 3;
}

// A K_SET's or K_SETPATH's value.
inline const pnode_t* set_value(const pnode_t* set) {
    assert(set->kind() == K_SET || set->kind() == K_SETPATH);
    return set + 1;
}

// A K_INFIX's left operand; a K_OP's right operand (after its K_WORDREF).
inline const pnode_t* infix_left(const pnode_t* infix) {
    assert(infix->kind() == K_INFIX);
    return infix + 1;
}
inline const pnode_t* op_right(const pnode_t* op) {
    assert(op->kind() == K_OP);
    return op + 2;
}
// The operators' lane, a SIMPLE_INFIX K_INFIX of one step: five nodes, the
// left leaf, the K_OP and its K_WORDREF, the right leaf. lane_end is the
// node after them.
inline const pnode_t* lane_left(const pnode_t* infix) {
    assert(infix->kind() == K_INFIX && (infix->flags & SIMPLE_INFIX));
    return infix + 1;
}
inline const pnode_t* lane_op(const pnode_t* infix) {
    assert(infix->kind() == K_INFIX && (infix->flags & SIMPLE_INFIX) && infix[2].kind() == K_OP);
    return infix + 2;
}
inline const pnode_t* lane_right(const pnode_t* infix) {
    assert(infix->kind() == K_INFIX && (infix->flags & SIMPLE_INFIX));
    return infix + 4;
}
inline const pnode_t* lane_end(const pnode_t* infix) {
    assert(infix->kind() == K_INFIX && (infix->flags & SIMPLE_INFIX));
    return infix + 5;
}

// A K_FIELDCALL's three K_ELEMENTs: the path's two cells, then the object
// expected (field_snapshot).
inline const pnode_t* field_elements(const pnode_t* call) {
    assert(call->kind() == K_FIELDCALL && call[2].kind() == K_ELEMENT);
    return call + 2;
}
inline const pnode_t* field_object_expected(const pnode_t* call) {
    return field_elements(call) + 2;
}
// A K_REFCALL's frame, its first K_ELEMENT (the refinements' follow it).
inline const pnode_t* refined_frame(const pnode_t* call) {
    assert(call->kind() == K_REFCALL && call[2].kind() == K_ELEMENT);
    return call + 2;
}

// The K_HEAD's body: the K_BLOCK of the function's body (or of the block a
// loop runs). A K_BLOCK's first statement, after its K_SNAP.
inline const pnode_t* body_of(const pnode_t* head) {
    assert(head->kind() == K_HEAD && head[1].kind() == K_BLOCK);
    return head + 1;
}
inline const pnode_t* statements_of(const pnode_t* block) {
    assert(block->kind() == K_BLOCK && block[1].kind() == K_SNAP);
    return block + 2;
}

// Nodes of the subtree at n (n itself included; not for K_BLOCK).
[[gnu::always_inline]] inline int32_t size_of(const pnode_t* n) {
    return (n->flags & COMPOUND) ? n->aux : 1;
}

// The node whose probe_slot says where the probe of n reads its word: n
// itself for a leaf, a paren or a branch, its K_WORDREF for a call or a
// conditional, its first step's K_WORDREF for an operator chain.
inline const pnode_t* probe_holder(const pnode_t* n) {
    if (n->kind() == K_INFIX) return n + 1 + size_of(n + 1) + 1;
    if (n->flags & COMPOUND) return n + 1;
    return n;
}

// The snapshots of a plan's blocks, after its nodes (a K_SNAP's pos counts
// from here).
inline const cell_t* snapshots_of(const pnode_t* head) {
    return reinterpret_cast<const cell_t*>(head + head->aux);
}

}  // namespace zuv::interpreter::plan
