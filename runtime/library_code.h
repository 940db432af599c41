// Library code: the series loaded from the boot library and the bodies of
// the functions defined there.
//
// Library code behaves as the runtime's own code does for the tracing tools:
// it carries series_flag::LIBRARY, which the tracer, debugger, profiler and
// the interpreter's position tracking test to see the calls of library
// functions but nothing inside. The flag is core knowledge (the evaluator and
// datatypes test it); the library's top level (startup/top_level.h) sets it.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::library_code {

inline bool library_q(node_t node) {
    return node != 0 && (alloc::buffer(node)->flags & series_flag::LIBRARY) != 0;
}

// Code a library function builds from its own (a template composed or
// copied deep) is library code too: its series gets the flag of the source.
// Only the new series itself: the values spliced into it stay as they are.
inline void inherit_library(const cell_t* from, const cell_t* made) {
    if (library_q(from->data2) && made->data2 != 0)
        alloc::buffer(made->data2)->flags |= series_flag::LIBRARY;
}

// Sets the flag on a block's series and on every block, paren and path
// inside it.
void mark_library(const cell_t* block);

}  // namespace zuv::library_code

// The names the plan engine (interpreter/plans/) reads the flag by.
namespace zuv::top_level {
constexpr uint32_t LIBRARY_SERIES = series_flag::LIBRARY;
using library_code::library_q;
}  // namespace zuv::top_level
