// The terminal: the interactive line editor behind `ask` and `input`.
//
// When standard input is a terminal, a read puts it into raw mode, draws the
// prompt where the cursor stands and edits the line key by key (cursor moves,
// deletion, history, Tab completion) until Enter, Esc, Ctrl-C or Ctrl-D on an
// empty line. The terminal modes saved before raw mode are given back after
// every read and on every end of the process (an exit hook, and the handlers
// of the signals that end it while a read is going on).
//
// When standard input is not a terminal the line comes from the piped reader
// (console/stdin.h), and no prompt is shown.
//
// The module keeps its state in globals and serves one caller at a time. The
// editing itself (console/terminal_edit.h) and the key decoding
// (console/terminal_keys.h) work on plain C++ buffers, so they run without a
// terminal.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/cell.h"

namespace zuv::terminal {

// --- the routines behind the console's Zuv code ------------------------------------
// `_set-buffer-history`: the line (string!) the next read fills and the
// history block (newest entry first) it browses and adds to. Both values stay
// with the module until the next call. Raw mode waits for the read itself,
// so that an error between the two calls never leaves the terminal raw.
void _set_buffer_history(const cell_t* line, const cell_t* hist);

// `_read-input`: reads one line into the line given to _set_buffer_history
// (its text is replaced), showing prompt (string!) first; hidden shows every
// character as "*" and keeps the line out of the history. After Esc the line
// ends with the Esc character (27); Ctrl-C, and Ctrl-D on an empty line, give
// the line "q". Answers where the line's head belongs: the cursor after Esc,
// else 0. When standard input is no terminal, the piped half
// (console/stdin.h) reads the line and no prompt is shown.
int32_t _read_input(const cell_t* prompt, bool hidden);

// `_input-quit?`: whether the last read ended by Ctrl-C, or Ctrl-D on an
// empty line, rather than by a "q" typed (false after a piped read).
bool input_quit_q();

// `_terminate-console`: nothing to do on this platform.
void _terminate_console();

// `system/console/init`: the console start. Sets the terminal's title (OSC 0,
// only when standard output is a terminal), notes whether standard input is
// a terminal, reads the window size into `system/console/size` and makes it
// 80x50 when either number is still 0.
void init(const cell_t* title);

// --- state that the console engine may read -----------------------------------------
// The window size last read: columns and rows (-1 before any read).
int32_t columns();
int32_t rows();
// Reads the window size again (also done at each read and on SIGWINCH);
// answers false when the terminal gives none (the size is then kept, and a
// width of 0 or less counts as 80).
bool get_window_size();

// --- the completion hook ---------------------------------------------------------------
// Tab asks the completion with the line and the cursor (in characters). The
// answer, as the completion lays it out for the console: empty when there is
// nothing to do; one entry: the new line and its cursor; several: the first
// is the new line with its cursor, the others are the candidates to list.
// Without a hook, Tab is inserted like any character.
using completion_t = std::vector<std::pair<std::u32string, int32_t>>;
using complete_hook_t = completion_t (*)(const std::u32string& line, int32_t cursor);
void set_complete_hook(complete_hook_t hook);

// Puts back the terminal modes saved before raw mode, if raw mode is on.
// Safe in a signal handler and at any time; the exit hook calls it.
void restore_mode();

}  // namespace zuv::terminal
