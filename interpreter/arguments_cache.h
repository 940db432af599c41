// The arguments cache: one block per callee, made from its spec on first use,
// that tells a call what to fetch (arguments_cache.cpp lays its entries out).
//
// Most calls never walk it. Word 3 of the cache cell (a block leaves it
// unused) holds the callee's call summary: whether the call shape is simple
// (normal arguments only, no refinement, get-word or lit-word, then return:
// entries and at most one run of locals), how many arguments and locals it
// has, and what the argument checks may skip. A native or action whose
// refinements all follow its normal arguments has a simple shape too: a call
// with no path takes none of them, and their arguments are never fetched.
// The common calls, and the plans' call nodes, which copy it, read that
// word instead of the cache; call_summary_t is the one reading of it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::interpreter {

// Kind of an argument entry, in bits 20-21 of its typeset's header.
constexpr uint32_t ARG_KIND_SHIFT = 20;
constexpr uint32_t ARG_KIND_MASK = 3u << ARG_KIND_SHIFT;
constexpr uint32_t ARG_NORMAL = 0, ARG_GET = 1, ARG_LIT = 2, ARG_RETURN = 3;
// Natives and actions have at most 11 refinements; a spec with more than
// this many cannot name the extra ones.
constexpr int32_t MAX_REFINEMENTS = 16;
// The cache entry of the refinement named by symbol; -1 when there is none.
int32_t find_refinement(node_t cache, int32_t symbol);
// The cache entries of the refinements a path names after its head (count
// elements from element): a bit per entry in *on, false when the path needs
// the general walk (an element that is no plain word, a refinement the
// callee lacks or one met out of the spec's order, which decides the order
// its arguments are evaluated in).
bool refinements_named(node_t cache, const cell_t* element, int32_t count, bool native_like,
                       uint64_t* on);
// The cache block of a callee (made on first use): a cell of its more series,
// valid until the next allocation.
cell_t* arguments_cache(const cell_t* callee);
// Makes the caches of the natives, actions and routines of the global
// context, before any script runs.
void prepare_caches();
// Drops them: a runtime started again (tests do) has none until it makes
// them again.
void forget_caches();

// The types "takes every value" leaves aside: unset, and triple! and series!,
// which `any-type!` (the type of most natives' arguments) leaves out.
constexpr uint64_t SELDOM_TYPES =
    (uint64_t{1} << TYPE_unset) | (uint64_t{1} << TYPE_triple) | (uint64_t{1} << TYPE_series);
inline bool seldom_q(const cell_t* value) { return (SELDOM_TYPES >> (type_of(value) & 63)) & 1; }

// A callee's call summary, as its cache cell holds it. One 32-bit word, so
// that it passes in a register and the hot tests stay one mask and compare.
// The empty summary (0) is not simple: every call takes the general path.
// A scalar read through the functions of call_summary, not a class with
// members: a member call takes the object's address, and the sanitizer
// build then keeps a guarded copy on the stack at every use, which deep
// recursion cannot afford.
enum class call_summary_t : uint32_t {};

namespace call_summary {

constexpr uint32_t MAX_ARGS = 0xFF;
constexpr uint32_t MAX_LOCALS = 0xFFFF;

namespace bits_ {
constexpr uint32_t SIMPLE = 1u << 31;
constexpr uint32_t ANY_TYPES = 1u << 30;
constexpr uint32_t LATER_BLOCKS = 1u << 29;
constexpr uint32_t FIRST_ANY = 1u << 28;
constexpr uint32_t ARGS_MASK = MAX_ARGS;
constexpr uint32_t LOCALS_SHIFT = 8;
constexpr uint32_t LOCALS_MASK = MAX_LOCALS << LOCALS_SHIFT;
}  // namespace bits_

// The word as a cache cell or a plan node keeps it, and back.
constexpr call_summary_t from_bits(uint32_t bits) { return static_cast<call_summary_t>(bits); }
constexpr uint32_t bits(call_summary_t s) { return static_cast<uint32_t>(s); }

// A simple shape of args normal arguments (at most MAX_ARGS) and locals
// locals (/local counted, at most MAX_LOCALS).
constexpr call_summary_t simple(uint32_t args, uint32_t locals, bool any_types, bool later_blocks,
                                bool first_any) {
    using namespace bits_;
    return from_bits(SIMPLE | (any_types ? ANY_TYPES : 0) | (later_blocks ? LATER_BLOCKS : 0) |
                     (first_any ? FIRST_ANY : 0) | args | (locals << LOCALS_SHIFT));
}

constexpr bool simple_q(call_summary_t s) { return bits(s) & bits_::SIMPLE; }
// The number of normal arguments and of locals (0 unless simple).
constexpr int32_t args(call_summary_t s) {
    return static_cast<int32_t>(bits(s) & bits_::ARGS_MASK);
}
constexpr int32_t locals(call_summary_t s) {
    return static_cast<int32_t>((bits(s) & bits_::LOCALS_MASK) >> bits_::LOCALS_SHIFT);
}
// Simple, of exactly args normal arguments (any locals); and of exactly
// args arguments and locals locals.
constexpr bool simple_with(call_summary_t s, uint32_t args) {
    using namespace bits_;
    return (bits(s) & (SIMPLE | ARGS_MASK)) == (SIMPLE | args);
}
constexpr bool simple_with(call_summary_t s, uint32_t args, uint32_t locals) {
    using namespace bits_;
    return (bits(s) & (SIMPLE | ARGS_MASK | LOCALS_MASK)) ==
           (SIMPLE | args | (locals << LOCALS_SHIFT));
}
// Every normal argument's typeset takes every type outside SELDOM_TYPES:
// only an argument of those types needs its typeset read.
constexpr bool any_types_q(call_summary_t s) { return bits(s) & bits_::ANY_TYPES; }
// Every normal argument after the first takes a block!: the branches of
// `if` and `either` written as blocks need no check.
constexpr bool later_blocks_q(call_summary_t s) { return bits(s) & bits_::LATER_BLOCKS; }
// The first normal argument's typeset takes every type outside
// SELDOM_TYPES.
constexpr bool first_any_q(call_summary_t s) { return bits(s) & bits_::FIRST_ANY; }

}  // namespace call_summary

// The summary a cache cell holds, and its store.
inline call_summary_t cached_summary(const cell_t* cache) {
    return call_summary::from_bits(cache->data3);
}
inline void set_cached_summary(cell_t* cache, call_summary_t summary) {
    cache->data3 = call_summary::bits(summary);
}

}  // namespace zuv::interpreter
