// The plan summary of a callee's arguments cache, kept in word 3 of the cache
// cell (a block leaves it unused): what the common calls read instead of
// walking the cache. It is 0 unless the plan is simple: normal arguments only
// (no refinement, get-word or lit-word), then return: entries and at most one
// run of locals. A native or action whose refinements all follow its normal
// arguments has a simple plan too: a call with no path takes none of them,
// and their arguments are never fetched.
#pragma once

#include <cstdint>

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

constexpr uint32_t PLAN_SIMPLE = 1u << 31;
// The number of normal arguments.
constexpr uint32_t PLAN_ARGS_MASK = 0xFFu;
// The number of locals (/local counted), in bits 8-23.
constexpr uint32_t PLAN_LOCALS_SHIFT = 8;
constexpr uint32_t PLAN_LOCALS_MASK = 0xFFFFu << PLAN_LOCALS_SHIFT;
// Every normal argument's typeset takes every type outside SELDOM_TYPES: only
// an argument of those types needs its typeset read.
constexpr uint32_t PLAN_ANY_TYPES = 1u << 30;
// Every normal argument after the first takes a block!: the branches of `if`
// and `either` written as blocks need no check.
constexpr uint32_t PLAN_LATER_BLOCKS = 1u << 29;
// The first normal argument's typeset takes every type outside SELDOM_TYPES.
constexpr uint32_t PLAN_FIRST_ANY = 1u << 28;
// The types "takes every value" leaves aside: unset, and triple! and series!,
// which `any-type!` (the type of most natives' arguments) leaves out.
constexpr uint64_t SELDOM_TYPES =
    (uint64_t{1} << TYPE_unset) | (uint64_t{1} << TYPE_triple) | (uint64_t{1} << TYPE_series);
inline bool seldom_q(const cell_t* value) { return (SELDOM_TYPES >> (type_of(value) & 63)) & 1; }

}  // namespace zuv::interpreter

// --- function-body plans -----------------------------------------------------------
// A plan is an internal form of a function's body, built on its second call
// and run in place of the body while nothing is traced: the same frames,
// positions, exits, results and errors as the body's own run, with the
// dispatch on cell types, the word look-ups and the lookahead probes decided
// once. Everything a plan cannot run itself goes through the interpreter's
// own code for that expression (a generic node, or a fallback when a guard
// fails). See docs/evaluator.md.
//
// A plan is memory of its own (it never moves), registered as an external
// resource whose handle sits in a block in the function's more[MORE_PLAN]:
// it lives exactly as long as the function. Its nodes take two cells each:
// the first an integer! cell whose header carries the node's kind (bits
// 8-15) and a small operand (bits 16-27) and whose words are the node's
// position, end and aux field; the second a value (a literal, an expected
// callee, a word), of which the block holds a copy for the collector to
// mark. The nodes end with the entries of probed words (see PROBE_LOCAL),
// which no walk reaches; after the nodes come the snapshots of the planned
// blocks' cells.

namespace zuv::interpreter::plan {

// The kinds, from interpreter/plans/kinds.def.
enum kind : uint8_t {
#define ZUV_PLAN_KIND(id, name, compound) id,
#include "interpreter/plans/kinds.def"
#undef ZUV_PLAN_KIND
    K_COUNT
};

// The kinds' names (the dump, the counters) and whether a node of the kind
// holds a subtree of aux nodes.
constexpr const char* kind_names[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound) name,
#include "interpreter/plans/kinds.def"
#undef ZUV_PLAN_KIND
};
constexpr bool compound_kinds[K_COUNT] = {
#define ZUV_PLAN_KIND(id, name, compound) compound,
#include "interpreter/plans/kinds.def"
#undef ZUV_PLAN_KIND
};

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

// Header bits. PROBE: a word follows the expression that must be checked
// for an operator (the lookahead) before the plan goes on (unless the next
// statement's own read answers it: ANSWERS_PROBE). COMPOUND: the
// node's subtree takes aux nodes (else one). SIMPLE_INFIX: a K_INFIX of one
// fast step whose operands are a literal or a word each, or of one called
// step whose right operand is a paren of one leaf (INFIX_PAREN).
constexpr uint32_t COMPOUND = 1u << 31;
constexpr uint32_t PROBE = 1u << 30;
constexpr uint32_t SIMPLE_INFIX = 1u << 28;
// On a K_CALL's K_WORDREF: the callee expected is the very function the plan
// is of (a recursive call), so the callee's plan is the one running while the
// stamp its run began with holds: a plan is never replaced for its function,
// and is dropped only once the stamp moved.
constexpr uint32_t SELF_CALL = 1u << 28;
// On a K_CALL's K_WORDREF: the callee was seen with a body block, no compiled
// code and no trace flags, which the same cell keeps.
constexpr uint32_t PLAIN_CALL = 1u << 29;
// On a plain call's K_WORDREF (which no walk reaches, so COMPOUND's bit is
// free there): the callee takes at most one argument, a leaf, and no
// locals, and its body was one literal or word when the plan was built. Only
// a hint: the runner checks the callee's own plan before it takes the call's
// short way (plan_call_leaf).
constexpr uint32_t LEAF_BODY = 1u << 31;
// On a conditional's K_WORDREF: its condition is a K_INFIX the operators'
// lane reads (SIMPLE_INFIX, INFIX_LANE, no probe) and the native's first
// argument takes every type outside SELDOM_TYPES (PLAN_FIRST_ANY).
constexpr uint32_t LANE_CONDITION = 1u << 28;
// On a conditional's K_WORDREF: its condition is a leaf (a literal or a
// word) with no probe, and the native's first argument takes every type
// outside SELDOM_TYPES.
constexpr uint32_t LEAF_CONDITION = 1u << 29;
// On a conditional's K_WORDREF (which no walk reaches, so COMPOUND's bit is
// free there): the word after its last branch, which that branch probes, is
// the conditional's own word, bound alike. A conditional that checked its
// word holding its native, with nothing run since, knows the probe's answer.
constexpr uint32_t OWN_WORD_AFTER = 1u << 31;
// Probes left to the next statement. When a statement of a block is
// followed by one whose first act is to read the word the first would
// probe (a leaf, a call's or a native's guard, the left operand of an
// operators' lane), that read answers the probe, made with nothing run
// since: the first statement probes nothing (its PROBE cleared) and the
// reading node carries the flag. Found holding an operator there, the word
// makes the first statement's value that operator's left operand
// (plan_answer). ANSWERS_PROBE on a leaf: the statement itself, or the left
// operand of a K_INFIX lane; REF_ANSWERS_PROBE on a call's or native's
// K_WORDREF (where PROBE's bit is free).
constexpr uint32_t ANSWERS_PROBE = 1u << 28;
constexpr uint32_t REF_ANSWERS_PROBE = 1u << 30;
// On a called operator's K_WORDREF: the operator's arguments take every
// type outside SELDOM_TYPES (PLAN_ANY_TYPES of its arguments plan).
constexpr uint32_t OPERATOR_ANY_TYPES = 1u << 28;
// With PROBE: the word that follows is one of the function's own, its frame
// slot in the small field of the probe's holder (probe_holder): the probe
// reads the frame instead of looking the word up. With PROBE and not
// PROBE_LOCAL, a holder's small field that is not 0 is the index of an
// entry node after the plan's blocks: a K_WORD whose aux is the node of its
// context's values (a context whose values are not on the stack keeps that
// node from its making), read as a lane operand is. 0: the probe looks the
// word up in its cell.
constexpr uint32_t PROBE_LOCAL = 1u << 29;
constexpr uint32_t SMALL_SHIFT = 16;
constexpr uint32_t SMALL_LIMIT = 0xFFFu;
constexpr uint32_t SMALL_MASK = SMALL_LIMIT << SMALL_SHIFT;
// A K_BLOCK's small field: 1 when its nodes are those of one expression
// (a branch runs it without the block loop).
constexpr uint32_t ONE_EXPRESSION = 1u << SMALL_SHIFT;
// With ONE_EXPRESSION: that expression is a leaf (a literal or a word), whose
// value a paren or a branch can take without running the block.
constexpr uint32_t ONE_LEAF = 2u << SMALL_SHIFT;

struct pnode_t {
    uint32_t header;
    int32_t pos;
    int32_t end;
    int32_t aux;
    cell_t value;

    uint8_t kind() const { return static_cast<uint8_t>(header >> 8); }
    uint32_t small() const { return (header & SMALL_MASK) >> SMALL_SHIFT; }
    bool probe() const { return (header & PROBE) != 0; }
};
static_assert(sizeof(pnode_t) == 32, "a node is two cells");

// Nodes of the subtree at n (n itself included; not for K_BLOCK).
inline int32_t size_of(const pnode_t* n) { return (n->header & COMPOUND) ? n->aux : 1; }

// The node whose small field says where the probe of n reads its word: n
// itself for a leaf, a paren or a branch, its K_WORDREF for a call or a
// conditional, its first step's K_WORDREF for an operator chain.
inline const pnode_t* probe_holder(const pnode_t* n) {
    if (n->kind() == K_INFIX) return n + 1 + size_of(n + 1) + 1;
    if (n->header & COMPOUND) return n + 1;
    return n;
}

}  // namespace zuv::interpreter::plan
