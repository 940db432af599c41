// The console's start: the last act of start-up hands over to the console
// engine, which is library code (`cli-console-ctx/launch`): it runs a script
// named on the command line or the read-eval-print loop.
#pragma once

namespace zuv::console {

// Makes the console's routines (input, piped input, the console start) and
// binds them to their global words. Runs once, before the library's Zuv
// sources, which call them; later calls in the same runtime do nothing.
void define_routines();

// Calls `cli-console-ctx/launch`. Returns the exit status when it returns (a
// script run without --catch: 0); a script that fails, `quit` and the end of
// piped input end the process from inside. An error that escapes is left to
// the caller (status 254).
int launch(int argc, char** argv);

}  // namespace zuv::console
