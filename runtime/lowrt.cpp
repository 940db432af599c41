#include "runtime/lowrt.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ucontext.h>
#include <unistd.h>

#include "runtime/platform/platform.h"

extern "C" char __executable_start;  // the executable's load base

namespace zuv::lowrt {
namespace {

exit_hook_t exit_hooks[8];
int exit_hook_count = 0;

const char* stack_guard_low = nullptr;
const char* stack_guard_high = nullptr;

// An offset from the executable's load base is the same in every run, unlike
// the address itself under address-space randomisation.
uint32_t code_offset(uintptr_t address) {
    return static_cast<uint32_t>(address - reinterpret_cast<uintptr_t>(&__executable_start));
}

void on_fault(int sig, siginfo_t* info, void* context) {
    const char* fault = static_cast<const char*>(info->si_addr);
    bool in_guard = sig == SIGSEGV && fault >= stack_guard_low && fault < stack_guard_high;
    uintptr_t pc = reinterpret_cast<uintptr_t>(info->si_addr);
#if defined(__x86_64__)
    pc = static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#else
    (void)context;
#endif
    quit(signal_error(sig, info->si_code, in_guard), code_offset(pc));
}

}  // namespace

const char* message(int code) {
    static const char* const messages[] = {
        nullptr,
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (code >= 1 && code <= 34) return messages[code];
    switch (code) {
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
    }
}

int signal_error(int sig, int code, bool in_guard) {
    switch (sig) {
    case SIGSEGV: return in_guard ? 19 : 32;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
        }
    case SIGILL:
        switch (code) {
        case ILL_ILLOPC: return 17;
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_PRVOPC: return 15;
        case ILL_PRVREG: return 31;
        case ILL_COPROC: return 26;
        case ILL_BADSTK: return 19;
        default: return 17;
        }
    case SIGBUS:
        switch (code) {
        case BUS_ADRALN: return 2;
        case BUS_ADRERR: return 27;
        case BUS_OBJERR: return 28;
        case BUS_MCEERR_AR: return 29;
        case BUS_MCEERR_AO: return 30;
        default: return 34;
        }
    default: return 99;
    }
}

void format_error(int code, uint32_t address, char* out, size_t size) {
    snprintf(out, size, "\n*** Runtime Error %d: %s\n*** at: %08Xh\n", code, message(code),
             address);
}

void init(const void* stack_low, size_t guard_size) {
    // Whether the reported stack bounds include the guard zone differs
    // between thread libraries; a fault within one guard size on either side
    // of the low end is an overflow either way.
    stack_guard_low = static_cast<const char*>(stack_low) - guard_size;
    stack_guard_high = static_cast<const char*>(stack_low) + guard_size;

    static char alternate[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alternate;
    ss.ss_size = sizeof alternate;
    sigaltstack(&ss, nullptr);

    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);
}

void add_exit_hook(exit_hook_t hook) {
    if (exit_hook_count < 8) exit_hooks[exit_hook_count++] = hook;
}

void run_exit_hooks() {
    // Taken off the list first, so that a fault inside a hook cannot run it again.
    while (exit_hook_count > 0) {
        exit_hook_t hook = exit_hooks[0];
        for (int i = 1; i < exit_hook_count; i++) exit_hooks[i - 1] = exit_hooks[i];
        exit_hook_count--;
        hook();
    }
}

void quit(int code, uint32_t address) {
    run_exit_hooks();
    if (code != 0) {
        char text[160];
        format_error(code, address, text, sizeof text);
        platform::write_all(STDOUT_FILENO, text, strlen(text));
    }
    // The system takes back every block at exit; releasing them one by one
    // first would only slow the end down.
    _exit(code & 0xFF);
}

void* allocate(size_t size) {
    void* p = malloc(size == 0 ? 1 : size);
    if (p == nullptr) quit(OUT_OF_MEMORY);
    return p;
}

void* resize(void* block, size_t size) {
    void* p = realloc(block, size == 0 ? 1 : size);
    if (p == nullptr) quit(OUT_OF_MEMORY);
    return p;
}

void release(void* block) { free(block); }

}  // namespace zuv::lowrt
