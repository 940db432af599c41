// The top level of the library: the start-up after runtime::init.
//
// run() makes the values that come from C++ tables (startup/library.h),
// then evaluates the library's Zuv sources (boot/*.zuv, embedded in the load
// order of boot/load-order.txt) with event! registered where that list says,
// and switches the collector on. Any error while it runs is an error nothing
// catches: the caller prints it and ends the process with status 254, so a
// broken library never yields a half-started runtime. Everything it loads
// carries the flag of library code (runtime/library_code.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::top_level {

// Runs the library's start-up once; see above. With a boot image
// (boot/image.h) the sources come decoded from it, else they are lexed.
void run();

// Lexes the library source text into out (a rooted cell) exactly as the
// source boot does; the boot image tool makes its image from these blocks.
void lex_source(const char* text, unsigned long size, cell_t* out);

}  // namespace zuv::top_level
