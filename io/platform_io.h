// The process's command line, its environment and the description of the
// running system, as language values.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace zuv::platform {

// The command line as one text: the program's path (from /proc/self/exe,
// argv[0] when that cannot be read) and then each argument, separated by one
// space; an argument that is empty or holds a space or tab is put between
// double quotes, so that splitting the line on blanks outside quotes gives
// the arguments back.
std::string command_line_text();
// Pushes command_line_text as a new string!; returns the pushed cell.
cell_t* command_line();
// Pushes a block! of the program's path and then each argument, one string!
// each as the process received them; returns the pushed cell. The command
// line's text cannot give them back: an argument may hold a double quote.
cell_t* command_arguments();

// Pushes a map! of every environment variable's name to its value (both
// string!). A name ends at the first "=" that is not its first character.
// Names, values, the command line and the arguments are decoded as names of
// the system (string::ENCODING_OS): a byte that is not UTF-8 is kept.
cell_t* list_env();

// Pushes the system description: an object! with the fields name ("Linux"),
// arch (a word: x86-64, x86-32, ARM64, ARM, IA-64 or Unknown), version (a
// tuple of the kernel release's first three numbers, each clamped to 255)
// and build (an integer!: build_number of the kernel's version text).
// Returns the pushed cell.
cell_t* get_os_info();

// Returns when the value's datatype id is type; raises invalid-arg with the
// value otherwise.
void expect_type(const cell_t* value, int32_t type);

// The kernel release text parsed as up to three numbers, each clamped to
// 255 (missing parts are 0): "6.1.0-18-amd64" gives 6, 1, 0.
void parse_release(const char* release, uint8_t out[3]);
// The kernel's build count: the number after the "#" that starts a uname
// version text ("#1 SMP ..." gives 1); 0 when there is none, or it passes
// the integer! range.
int32_t build_number(const char* version);
// The arch word's text for a uname machine name.
const char* arch_name(const char* machine);

namespace routines {
void os_info();  // __get-OS-info / os-info: the description object as the result
}  // namespace routines

}  // namespace zuv::platform
