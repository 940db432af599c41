// The low-level runtime: how the process ends, and the process heap.
//
// Every end of the process goes through lowrt::quit. A non-zero code prints
// the runtime error block ("*** Runtime Error N: message" and "*** at: ...h")
// and exits with the code as status. Processor faults reach it through the
// signal handlers installed by lowrt::init, which run on their own stack so
// that a stack overflow can still be reported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::lowrt {

constexpr int OUT_OF_MEMORY = 94;
constexpr int NO_CATCH = 95;

// Installs the fault handlers on an alternate signal stack. The stack bounds
// let a segmentation fault in the guard zone below the runtime's stack be
// told apart (stack overflow, 19) from any other (32).
void init(const void* stack_low, size_t guard_size);

[[noreturn]] void quit(int code, uint32_t address = 0);

// Work that must happen on every end of the process, fault or not: flushing
// buffered output, giving the terminal its modes back. Hooks run in the order
// added; at most 8.
using exit_hook_t = void (*)();
void add_exit_hook(exit_hook_t hook);
void run_exit_hooks();

const char* message(int code);

// The runtime error for a signal, from its si_code; in_guard says whether a
// SIGSEGV address lies in the stack's guard zone.
int signal_error(int signal, int code, bool in_guard);

// The text that quit prints for a non-zero code.
void format_error(int code, uint32_t address, char* out, size_t size);

// The process heap for the runtime's own tables. A refusal ends the process
// with runtime error 94; callers never see nullptr.
void* allocate(size_t size);
void* resize(void* block, size_t size);
void release(void* block);

}  // namespace zuv::lowrt
