// Process start-up and runtime initialisation.
//
// runtime::init runs every module's initialiser once, in one fixed order:
// later steps use what earlier ones made (the stacks need the root block,
// the natives need the predefined words, the boot load needs all of it).
// The order is the table in runtime.cpp; a module plugs its initialiser into
// its step there.
#pragma once

#include <cstdint>

namespace zuv::runtime {

struct init_step_t {
    const char* name;
    void (*run)();
};

void init();
void shutdown();

// The process entry's work on the runtime thread: start-up, the library's
// top level, then the end of the process. Never returns.
[[noreturn]] void start(int argc, char** argv);

// Runs entry on the runtime thread, whose 512 MB stack makes the depth
// budgets of recursive work (evaluation, molding, parsing) the limit long
// before the stack is. Installs the fault handlers first. Never returns.
[[noreturn]] void enter(int argc, char** argv, void (*entry)(int, char**));

}  // namespace zuv::runtime
