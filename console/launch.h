// The script launch: `zuv FILE` reads the file, finds its header, loads the
// text from the header on and evaluates it under a frame that catches every
// error. (The console engine proper, options and the prompt loop, builds on
// this later.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::console {

// Exit statuses of a script run from the command line.
constexpr int STATUS_OK = 0;
// The script has no header, fails to load, or ends with an error (the
// message is printed first).
constexpr int STATUS_SCRIPT_ERROR = 1;
// No script was named.
constexpr int NO_SCRIPT = -1;

// The script named by the arguments (argv[1] onwards, after options), run to
// its end; returns the exit status, or NO_SCRIPT when none is named.
int launch(int argc, char** argv);

// Reads and runs one script file.
int run_file(const char* path);

// Runs script text (header search, load, evaluation).
int run_text(const uint8_t* text, size_t length);

// Where the header ("Zuv", optionally "/System", blanks, "[") begins; -1
// when the text has none.
int64_t find_header(const uint8_t* text, size_t length);

}  // namespace zuv::console
