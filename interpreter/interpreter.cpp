// The interpreter's state and start-up: the tracer and position cells, the
// frame words, the native stack's limit and interrupts. Evaluation is in
// eval.cpp, calls in calls.cpp; what they share is in internal.h.

#include "interpreter/interpreter.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csignal>

#include "datatypes/error.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "interpreter/internal.h"
#include "lexer/lexer.h"
#include "runtime/collector.h"
#include "runtime/platform/platform.h"
#include "runtime/words.h"

namespace zuv::interpreter {

namespace {
// The tracer cell lives in static storage rather than in the root block, as
// the position cell does (interpreter.h): error::position keeps that one's
// address for good, and a memory manager reset (tests do it) must never
// leave it pointing at a freed root buffer. The collector marks both as roots.
cell_t tracer_cell{TYPE_unset, 0, 0, 0};
}  // namespace

cell_t* tracer = &tracer_cell;
bool tracing = false;
uint32_t trace_mask = 0;
native_entry_t* native_table = nullptr;
trace_hook_t trace_hook = nullptr;
uint32_t callback_bits = 0;
interrupt_handler_t interrupt_handler = nullptr;
volatile sig_atomic_t interrupt_requested = 0;

cell_t body_word;
cell_t anon_word;
cell_t set_path_word;
int32_t local_symbol = 0;
int32_t system_symbol = 0;
int32_t system_global_symbol = 0;

std::atomic<uintptr_t> stack_limit{0};
uintptr_t normal_stack_limit = 0;

// The slow path of the native stack test: an interrupt request, or a real
// overflow.
[[gnu::noinline]] void native_stack_exceeded() {
    if (interrupt_requested) {
        run_interrupt();
        return;
    }
    // A limit raised with no request waiting: a Ctrl-C that came while the
    // last one was being taken. Only a stack past its normal limit overflows.
    if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) >= normal_stack_limit) {
        stack_limit.store(normal_stack_limit, std::memory_order_relaxed);
        if (interrupt_requested) request_interrupt();
        return;
    }
    stack::overflow();
}

// --- start-up ------------------------------------------------------------------------

bool general_path_only = false;
bool short_ways = true;

void init() {
    general_path_only = platform::get_env("ZUV_NO_FAST_PATHS") != nullptr;
    forget_caches();
    lexer::call_back_hook = [](const cell_t* callee, const cell_t* frame_word, cell_t* args,
                               int32_t count, cell_t* result) {
        return call_back(callee, frame_word, args, count, callback::LEXER, result);
    };
    none::make_at(position);
    unset::make_at(tracer);
    set_tracing(false);
    trace_mask = 0;
    body_word = words::word(words::id::tag_body);
    anon_word = words::word(words::id::tag_anon);
    set_path_word = words::word(words::id::set_path);
    local_symbol = symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::local)));
    system_symbol = symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::system)));
    system_global_symbol =
        symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::system_global)));
    error::position = position;
    // Both cells live in C++ memory: the collector reaches what they hold
    // (the code under evaluation, the tracer) through this marker.
    collector::interpreter_marker = [] {
        collector::mark_values(position, position + 1);
        collector::mark_values(tracer, tracer + 1);
        for (const held_position* h = innermost_held; h != nullptr; h = h->outer)
            collector::mark_values(&h->saved, &h->saved + 1);
    };
    error::evaluate = [](cell_t* block) {
        eval(block, false);
        if (!exits::pending) stack::pop(1);
    };
    init_stack_limit();
    plan::init();
}

void init_stack_limit() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
        size_t margin = std::min<size_t>(size / 8, size_t{1} << 20);
        normal_stack_limit = reinterpret_cast<uintptr_t>(low) + margin;
        if (!interrupt_requested) stack_limit.store(normal_stack_limit, std::memory_order_relaxed);
    }
}

void request_interrupt() {
    interrupt_requested = 1;
    stack_limit.store(UINTPTR_MAX, std::memory_order_relaxed);
    platform::wake_wait();
}

void run_interrupt() {
    if (!take_interrupt()) return;
    if (interrupt_handler != nullptr) interrupt_handler();
}

bool take_interrupt() {
    if (!interrupt_requested) return false;
    interrupt_requested = 0;
    // The request is withdrawn before the limit comes down, so that one
    // arriving in between finds its flag, not only a raised limit.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    stack_limit.store(normal_stack_limit, std::memory_order_relaxed);
    return true;
}

}  // namespace zuv::interpreter
