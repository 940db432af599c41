// The top level of the library: the start-up after runtime::init.
//
// run() makes the values that come from C++ tables (startup/library.h),
// then evaluates the library's Zuv sources (boot/*.zuv, embedded in file
// name order, which is the load order), registers event! and switches the
// collector on. Any error while it runs is an error nothing catches: the
// caller prints it and ends the process with status 254, so a broken library
// never yields a half-started runtime.
//
// Library code behaves as the runtime's own code does for the tracing tools:
// every series loaded from boot/ and the bodies of the functions defined
// there carry the series flag LIBRARY_SERIES, which the tracer, debugger and
// profiler test to see the calls of library functions but nothing inside.
#pragma once

#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace zuv::top_level {

// Series flag bit of library code (a bit the memory manager leaves free).
constexpr uint32_t LIBRARY_SERIES = 1u << 21;

inline bool library_q(node_t node) {
    return node != 0 && (alloc::buffer(node)->flags & LIBRARY_SERIES) != 0;
}

// Code a library function builds from its own (a template composed or
// copied deep) is library code too: its series gets the flag of the source.
// Only the new series itself: the values spliced into it stay as they are.
inline void inherit_library(const cell_t* from, const cell_t* made) {
    if (library_q(from->data2) && made->data2 != 0)
        alloc::buffer(made->data2)->flags |= LIBRARY_SERIES;
}

// Library sources whose name sorts at or after this prefix run after event!
// is registered; the ones before it build the base library and `system`.
constexpr const char* EVENT_BOUNDARY = "60";

// Runs the library's start-up once; see above. With a boot image
// (boot/image.h) the sources come decoded from it, else they are lexed.
void run();

// Lexes the library source text into out (a rooted cell) exactly as the
// source boot does; the boot image tool makes its image from these blocks.
void lex_source(const char* text, unsigned long size, cell_t* out);

// Sets LIBRARY_SERIES on a block's series and on every block, paren and
// path inside it.
void mark_library(const cell_t* block);

}  // namespace zuv::top_level
