// Piped standard input: the half of the `terminal` module that reads lines
// when standard input is not a terminal (a pipe or a file).
//
// Lines come from one buffered reader over file descriptor 0, so the line
// reader and `read-stdin` never lose bytes to each other. A line is decoded as
// UTF-8; its line feed is not stored and a carriage return right before it is
// dropped (CR LF input reads as LF input). Once the input has ended every
// further read returns an empty line at once and stdin_ended stays true.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::terminal {

// Set by the first read that finds the input ended with nothing read: the
// console ends there as Ctrl-D on an empty line would.
extern bool stdin_ended;

// One byte of standard input; -1 at the end or on a read failure.
int32_t read_byte();

// One UTF-8 character: its code point; -1 at the end or on a read failure. A
// malformed sequence raises invalid-utf8 (the bytes read so far are used up).
int32_t read_utf8_char();

// Appends one line to the string (without its line feed); false when the
// input had ended before any character came.
bool stdin_readline(cell_t* line);

// Moves up to count buffered-but-unread bytes to out; the number moved.
int64_t take_buffered(uint8_t* out, int64_t count);

// Whether standard input is a terminal (decided once).
bool stdin_console_q();

// Forgets buffered input and the end flag (tests feed a new descriptor 0).
void reset_stdin();

}  // namespace zuv::terminal
