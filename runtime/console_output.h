// Console output.
//
// Everything the runtime prints reaches standard output through these
// writers: the default print hook (runtime/print_hooks.h), the low-level
// typed print of runtime errors and start-up messages, and memory dumps.
//
// On Linux the output is UTF-8 always and lines end with LF. Escape
// sequences in the text pass through unchanged: a terminal interprets them
// itself, and a file or pipe receives them as text. Each print is gathered
// whole and written with one system call, so concurrent writers to the same
// pipe never interleave inside a line. A closed pipe ends the process quietly
// with status 141, any other failed write with a message and status 74
// (platform::output_failed).
//
// Text is gathered in one process-wide output buffer and written before each
// writer returns. Should an error (a character above U+10FFFF) interrupt the
// gathering, what was gathered goes out with the next write or at exit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::platform {

// Sets up the output buffer and the exit hook that flushes it. Idempotent.
void init_console_output();

// Writes text of the given unit width (1, 2 or 4 bytes per character),
// ending the line when newline is set.
void write_text(const uint8_t* text, size_t bytes, uint32_t unit, bool newline);

inline void print_latin1(const uint8_t* text, size_t bytes) { write_text(text, bytes, 1, true); }

// Writes NUL-terminated bytes unchanged (no line end), then calls the raw
// output hooks with the text and its length.
void prin_cstring(const char* text);

// The number writers; each then calls the raw output hooks with its text.
void prin_int(int64_t value);  // "%i"
void prin_2hex(uint32_t value);  // "%02X"
void prin_hex(uint32_t value);  // "%08X"
void prin_float(double value);  // "%.16g"
void prin_float32(float value);  // "%.7g"

// Writes out whatever is gathered (the exit hook; also safe to call anytime).
void flush_console_output();

}  // namespace zuv::platform
