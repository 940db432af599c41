// The cycle stack.
//
// Blocks and objects can contain themselves. Every recursive walk over nested
// values (mold, form, compare, ownership, UI walks) records the series it is
// inside on one shared stack of nodes, and stops when it meets a node that is
// already there. For an object! the node is its context (data word 1); for
// every other value it is the series node (data word 2).
//
// The stack holds MAX_DEPTH entries; the push that would fill the last one
// empties the stack and raises too-deep, so a walk is at most 999 deep.
//
// A walk pushes through cycles::guard: when an error leaves the walk, the
// guard pops what the walk pushed, so no stale entry survives to make a later
// walk see a cycle that is not there.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::cycles {

constexpr int32_t MAX_DEPTH = 1000;

extern node_t* base;
extern node_t* cursor;  // one past the last entry
extern node_t* end;

void init();

// The node a walk records for a value.
inline node_t node_of(const cell_t* value) {
    return type_of(value) == TYPE_object ? value->data1 : value->data2;
}

void push(node_t node);  // raises too-deep (after emptying) when full
inline void pop() {
    if (cursor > base) cursor--;
}
inline void pop_n(int32_t n) { cursor = (cursor - base > n) ? cursor - n : base; }
inline void reset() { cursor = base; }
inline int32_t depth() { return static_cast<int32_t>(cursor - base); }
bool find_q(node_t node);

// When the value's node is on the stack: appends the marker ("[...]",
// "(...)", "#[...]", "make object! [...]", or "..." when forming) to the
// string cell `out`, subtracts its length from *remaining and answers true.
// Otherwise answers false and writes nothing.
bool detect_q(const cell_t* value, cell_t* out, int32_t* remaining, bool mold);

// The marker detect_q writes (exposed for walkers that build text themselves).
const char* marker(uint8_t type, bool mold);

// Scope of one walk level: pushes on entry, pops on every exit (error or not)
// unless the stack was emptied meanwhile.
class guard {
public:
    explicit guard(node_t node) : saved_(cursor) { push(node); }
    ~guard() {
        if (cursor > saved_) cursor = saved_;
    }
    guard(const guard&) = delete;
    guard& operator=(const guard&) = delete;

private:
    node_t* saved_;
};

}  // namespace zuv::cycles
