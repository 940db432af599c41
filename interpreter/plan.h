// The plan summary of a callee's arguments cache, kept in word 3 of the cache
// cell (a block leaves it unused): what the common calls read instead of
// walking the cache. It is 0 unless the plan is simple: normal arguments only
// (no refinement, get-word or lit-word), then return: entries and at most one
// run of locals. A native or action whose refinements all follow its normal
// arguments has a simple plan too: a call with no path takes none of them,
// and their arguments are never fetched.
#pragma once

#include <cstdint>

namespace zuv::interpreter {

constexpr uint32_t PLAN_SIMPLE = 1u << 31;
// The number of normal arguments.
constexpr uint32_t PLAN_ARGS_MASK = 0xFFu;
// The number of locals (/local counted), in bits 8-23.
constexpr uint32_t PLAN_LOCALS_SHIFT = 8;
constexpr uint32_t PLAN_LOCALS_MASK = 0xFFFFu << PLAN_LOCALS_SHIFT;
// Every normal argument's typeset takes every value but unset: only an unset
// argument needs its typeset read.
constexpr uint32_t PLAN_ANY_TYPES = 1u << 30;
// Every normal argument after the first takes a block!: the branches of `if`
// and `either` written as blocks need no check.
constexpr uint32_t PLAN_LATER_BLOCKS = 1u << 29;
// The first normal argument's typeset takes every value but unset.
constexpr uint32_t PLAN_FIRST_ANY = 1u << 28;

}  // namespace zuv::interpreter
