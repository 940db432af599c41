#include "interpreter/interpreter.h"

#include "lexer/lexer.h"
#include "natives/ids.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>

#include "datatypes/action_entries.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/op.h"
#include "datatypes/routine.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/entry_arguments.h"
#include "interpreter/fast_ops.h"
#include "interpreter/path_fields.h"
#include "interpreter/plans/nodes.h"
#include "interpreter/plans/plans.h"
#include "interpreter/trace.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/library_code.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
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

namespace {

// Frame words of the calls that have no word of their own.
cell_t body_word;
cell_t anon_word;
cell_t set_path_word;
int32_t local_symbol = 0;  // canonical ids
int32_t system_symbol = 0;
int32_t system_global_symbol = 0;

// Below this native stack address an evaluation raises stack-overflow instead
// of running into the guard page. An interrupt request raises it to the top,
// so that the next test takes the slow path at no cost to the others.
std::atomic<uintptr_t> stack_limit{0};
uintptr_t normal_stack_limit = 0;

// The positions of a call that uses no refinement.
constexpr int32_t no_refinements[MAX_REFINEMENTS] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                     -1, -1, -1, -1, -1, -1, -1, -1};

// The table slot of the `return` native.
constexpr uint32_t RETURN_SLOT = natives::slot_of(natives::id::return_);
// The table indexes of `if` and `either`, whose branches the interpreter runs
// itself (see run_conditional).
constexpr uint32_t IF_INDEX = natives::slot_of(natives::id::if_);
constexpr uint32_t EITHER_INDEX = natives::slot_of(natives::id::either);

// --- code access ----------------------------------------------------------------

inline cell_t* cells_of(const cell_t* code) { return alloc::buffer(code->data2)->head_cell(); }
inline cell_t* cell_at(const cell_t* code, int32_t pos) { return cells_of(code) + pos; }
// The end clamped to the block's live tail.
inline int32_t live_end(const cell_t* code, int32_t end) {
    int32_t n = alloc::buffer(code->data2)->used() >> 4;
    return end < n ? end : n;
}
// Both at once, from one look-up of the buffer: the first cell, with end
// clamped to the live tail.
inline cell_t* live_cells(const cell_t* code, int32_t* end) {
    series_buffer_t* b = alloc::buffer(code->data2);
    int32_t n = b->used() >> 4;
    if (n < *end) *end = n;
    return b->head_cell();
}

inline void emit(const cell_t* value, bool push) {
    if (push) stack::push(value);
    else stack::set_last_keep(value);
}

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

// Whether the native stack is past its limit: a test with no call, for a
// routine that makes none.
[[gnu::always_inline]] inline bool native_stack_low() {
    // The stack pointer itself: asking for the frame address would make every
    // caller set up a frame pointer.
#if defined(__x86_64__)
    uintptr_t sp;
    asm("mov %%rsp, %0" : "=r"(sp));
#else
    auto sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
    return sp < stack_limit.load(std::memory_order_relaxed);
}

inline void check_native_stack() {
    if (native_stack_low()) [[unlikely]]
        native_stack_exceeded();
}

// The value of a word for the infix lookahead: nullptr when the word is
// unbound or its context has no values now (a function's words outside its
// call), where a plain read would raise.
[[gnu::always_inline]] inline const cell_t* peek_value(const cell_t* word) {
    int32_t index = static_cast<int32_t>(word->data3);
    node_t ctx = word->data1;
    if (index < 0 || ctx == 0) return nullptr;
    cell_t* c = _context::cell_of(ctx);
    if (!(c->header & FLAG_STACK_VALUES)) return alloc::buffer(c->data2)->head_cell() + index;
    if (c->data2 == 0) return nullptr;
    return stack::cell_at(c->data2) + index;
}

// --- error reports (cold) ----------------------------------------------------------

// The word of the innermost call frame.
[[gnu::cold]] cell_t call_word() {
    cell_t w;
    call_frame_t* f = stack::get_call();
    // A frame marked without a word (a callback's) is <anon>.
    if (f == nullptr || frame::symbol_of(f) == 0) return anon_word;
    word::make_raw(&w, TYPE_word, f->context, static_cast<int32_t>(frame::symbol_of(f)), -1);
    return w;
}

// The spec word of the callee's arguments-cache entry `entry`, as a word!.
[[gnu::cold]] cell_t argument_word(const cell_t* callee, int32_t entry) {
    cell_t w;
    word::make_raw(&w, TYPE_word, 0, static_cast<int32_t>(words::symbol_of(words::id::tag_anon)),
                   -1);
    cell_t spec;
    block::init_value(&spec, TYPE_block, callee->data2);
    int32_t n = block::abs_length(&spec);
    int32_t k = 0;
    bool locals = false;
    for (int32_t i = 0; i < n; i++) {
        cell_t* c = block::rs_abs_at(&spec, i);
        uint8_t t = type_of(c);
        if (t < TYPE_word || t > TYPE_refinement || t == TYPE_issue) continue;
        if (locals && t != TYPE_set_word) continue;
        locals = false;
        if (t == TYPE_refinement && symbol::resolve(word::symbol_of(c)) == local_symbol)
            locals = true;
        if (k++ == entry) {
            w = *c;
            cell::set_type(&w, TYPE_word);
            w.header &= HEADER_TYPE_MASK;
            return w;
        }
    }
    return w;
}

[[noreturn, gnu::cold]] void fire_no_arg(const cell_t* callee, int32_t entry) {
    cell_t fn = call_word();
    cell_t arg = argument_word(callee, entry);
    fire(err::no_arg, &fn, &arg);
}

[[noreturn, gnu::cold]] void fire_expect_arg(const cell_t* callee, int32_t entry,
                                             const cell_t* value) {
    cell_t fn = call_word();
    cell_t type;
    datatype::make_at(&type, type_of(value));
    cell_t arg = argument_word(callee, entry);
    fire(err::expect_arg, &fn, &type, &arg);
}

// --- fetching one argument ---------------------------------------------------------

// Pushes one argument of the given kind; returns the position after it.
int32_t fetch_one(uint32_t kind, const cell_t* code, int32_t pos, int32_t end, bool infix) {
    cell_t* c = cell_at(code, pos);
    switch (kind) {
    case ARG_GET:
        if (tracing) [[unlikely]] {
            fire_event(event::FETCH, code, pos, nullptr, c);
            c = cell_at(code, pos);  // the tracer may have moved the code
        }
        stack::push(c);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        return pos + 1;
    case ARG_LIT:
        switch (type_of(c)) {
        case TYPE_paren: {
            nested_position kept(c);
            eval(c, false);
            if (!exits::pending) kept.restore();
            return pos + 1;
        }
        case TYPE_get_word: stack::push(_context::get(c)); return pos + 1;
        case TYPE_get_path: {
            cell_t path = *c;
            return eval_path(&path, code, pos, end, false, true, true, false);
        }
        default: stack::push(c); return pos + 1;
        }
    default: return eval_expression(code, pos, end, infix, true, false);
    }
}

inline void check_arg(const cell_t* callee, int32_t entry, const cell_t* types,
                      const cell_t* value) {
    if (!typeset::has_q(types, type_of(value))) [[unlikely]]
        fire_expect_arg(callee, entry, value);
}

// Whether an argument of a simple plan must have its typeset read: always
// for a value of a seldom type, else only when some argument does not take
// every type.
inline bool check_needed(uint32_t plan, const cell_t* value) {
    return !(plan & PLAN_ANY_TYPES) || seldom_q(value);
}

// check_arg for the argument just pushed as entry i of the callee at slot,
// its cache read through the nodes: fetching the argument may have allocated.
inline void check_argument(const cell_t* slot, int32_t i) {
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
}

// The operator at pos once its fetch has been traced: the hook runs code
// that may move the block and the operator's context, so both are read
// again. nullptr when the word there no longer holds an operator.
[[gnu::cold, gnu::noinline]] const cell_t* traced_operator(const cell_t* code, int32_t pos,
                                                           int32_t* end, const cell_t** cells) {
    fire_event(event::FETCH, code, pos, nullptr, cell_at(code, pos));
    *cells = live_cells(code, end);
    if (pos >= *end || type_of(*cells + pos) != TYPE_word) return nullptr;
    const cell_t* v = peek_value(*cells + pos);
    return v != nullptr && type_of(v) == TYPE_op ? v : nullptr;
}

int32_t call_infix(cell_t* slot, const cell_t* word, uint32_t plan, const cell_t* code, int32_t pos,
                   int32_t end, bool push);

// The operator w (its fast-path code f) on the last pushed cell and the
// operand after w, through its routine, when that operand needs no
// evaluation: right is the cell itself, or the value of the word there.
// False when the operand must be evaluated: the call then takes the usual
// way.
[[gnu::noinline, gnu::cold]] bool fast_routine(fast_op f, const cell_t* op, const cell_t* w,
                                               const cell_t* right) {
    // The routines call what start-up defined (a runtime made without the
    // library has none of it).
    if (f >= FAST_REMAINDER || start_up_value(op::wrapped_type(op), op->data1) == nullptr)
        return false;
    if (type_of(w + 1) == TYPE_word) {
        uint8_t rt = type_of(right);
        if (callable_q(rt) || rt == TYPE_unset || rt == TYPE_op) return false;
    } else if (!inert_q(type_of(right))) {
        return false;
    }
    if (fast_math_q(f)) actions::math_op_top(actions::routine_code(f), w, right);
    else actions::compare_op_top(actions::routine_code(f), w, right);
    return true;
}

// The infix lookahead after an expression whose value is the last pushed
// cell. Returns the position after the last operator's right operand.
[[gnu::always_inline]] inline int32_t infix_loop(const cell_t* code, int32_t pos, int32_t end,
                                                 bool push) {
    // An integer computed in place moves nothing: the cells are read again
    // only after an operator call.
    const cell_t* cells = live_cells(code, &end);
    for (;;) {
        if (pos >= end) return pos;
        const cell_t* w = cells + pos;
        if (type_of(w) != TYPE_word) return pos;
        const cell_t* v = peek_value(w);
        if (v == nullptr || type_of(v) != TYPE_op) return pos;
        if (tracing) [[unlikely]] {
            v = traced_operator(code, pos, &end, &cells);
            if (v == nullptr) return pos;
            w = cells + pos;
        }

        cell_t* left = stack::top_slot - 1;
        // An arithmetic or comparison operator whose right operand needs no
        // evaluation (a value standing for itself, or a word holding a
        // plain value): the fast-path routine, inline here for integers and
        // floats; the routine makes the call itself for the other cases.
        if (!tracing && pos + 1 < end) {
            fast_op f = fast_op_of(v);
            if (f != FAST_NONE) {
                const cell_t* right = w + 1;
                if (type_of(right) == TYPE_word) right = peek_value(right);
                if (right != nullptr) [[likely]] {
                    if (fast_compute(f, left, right)) [[likely]] {
                        pos += 2;
                        continue;
                    }
                    if (!callable_q(type_of(right)) && fast_routine(f, v, w, right)) {
                        // The routine's call may have moved the code.
                        cells = live_cells(code, &end);
                        pos += 2;
                        continue;
                    }
                }
            }
        }

        // The callee goes under the left operand, which becomes the frame's
        // first argument: the same layout as a prefix call.
        cell_t callee = *v;
        cell::set_type(&callee, op::wrapped_type(v));
        callee.header &= ~(0xFFu << op::WRAPPED_SHIFT);
        stack::push_slot();
        left[1] = left[0];
        left[0] = callee;
        uint8_t ct = type_of(&callee);
        const cell_t* cache = alloc::buffer(callee.data3)->head_cell() + 1;
        if (!tracing && (ct == TYPE_native || ct == TYPE_action) && type_of(cache) == TYPE_block &&
            (cache->data3 & (PLAN_SIMPLE | PLAN_ARGS_MASK)) == (PLAN_SIMPLE | 2u)) [[likely]]
            pos = call_infix(left, w, cache->data3, code, pos + 1, end, push);
        else pos = eval_code(left, code, pos + 1, end, push, pos, true);
        if (exits::pending) return pos;
        cells = live_cells(code, &end);
    }
}

// Pops a call's frame and leaves its result (in the frame's result slot
// unless given) in the callee's slot (push) or in the caller's result slot;
// returns where it went.
inline cell_t* finish_call(cell_t* slot, bool push, const cell_t* result = stack::arguments) {
    stack::unwind();
    cell_t* target = push ? slot : stack::arguments;
    *target = *result;
    stack::top_slot = target + 1;
    return target;
}

// finish_call for a frame the caller pushed itself (so there is one to pop).
[[gnu::always_inline]] inline void finish_pushed(cell_t* slot, bool push, const cell_t* result) {
    call_frame_t* f = --stack::ctop;
    stack::arguments = stack::cell_at(f->prev);
    cell_t* target = push ? slot : stack::arguments;
    *target = *result;
    stack::top_slot = target + 1;
}

// The infix lookahead after a pushed value, when a word follows it: only a
// word can be an operator.
[[gnu::always_inline]] inline int32_t lookahead(const cell_t* code, int32_t pos, int32_t end) {
    int32_t after = end;
    const cell_t* next = live_cells(code, &after) + pos;
    if (pos < after && type_of(next) == TYPE_word) return infix_loop(code, pos, end, true);
    return pos;
}

// Pushes false then n - 1 nones: /local and the locals.
inline void push_locals(int32_t n) {
    if (n < 1) return;
    cell_t* c = stack::push_slot();
    c->header = TYPE_logic;
    c->data1 = 0;
    for (int32_t i = 1; i < n; i++) stack::push_slot()->header = TYPE_none;
}

}  // namespace

// --- start-up ------------------------------------------------------------------------

bool general_path_only = false;

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

// --- blocks ----------------------------------------------------------------------------

namespace {

// With check_origin (a function's body, a block a native runs: code that may
// come from elsewhere), the calls mark follows the block's origin first.
// Parens and branches written in the code need no check: they come from the
// same source as the code around them.
template <bool check_origin = false> cell_t* run_in_place(const cell_t* code);
[[gnu::always_inline]] inline int32_t eval_operand(const cell_t* c, int32_t live,
                                                   const cell_t* code, int32_t pos, int32_t end,
                                                   bool infix);

// While a block runs, the calls it makes are marked as the interpreter's or,
// for library code, as compiled calls. The mark changes only where user code
// and library code meet, so a block whose origin matches the current mark
// runs with no change; otherwise a cold wrapper sets the mark and puts the
// caller's back however the block is left.
// Library code is silent for a tracer: it runs with tracing off, and the
// user blocks it evaluates run with the state of the user code that called
// it.
struct code_origin {
    uint32_t saved = stack::interpreted_mark;
    bool saved_tracing = tracing;
    bool saved_caller = library_caller_tracing;
    explicit code_origin(bool library) {
        stack::interpreted_mark = library ? 0 : frame::INTERPRETED;
        if (library) {
            library_caller_tracing = tracing;
            set_tracing(false);
        } else {
            set_tracing(tracing || library_caller_tracing);
        }
    }
    ~code_origin() {
        stack::interpreted_mark = saved;
        // A `trace` request made inside goes on in the user code the block
        // returns to, or in the user blocks the library evaluates next.
        bool requested = caller_tracing_request >= 0;
        set_tracing(requested && saved != 0 ? caller_tracing_request != 0 : saved_tracing);
        library_caller_tracing =
            requested && saved == 0 ? caller_tracing_request != 0 : saved_caller;
    }
    code_origin(const code_origin&) = delete;
    code_origin& operator=(const code_origin&) = delete;
};

inline bool origin_fits(bool library) { return (stack::interpreted_mark == 0) == library; }
// A block a loop runs, through its plan when it has one (plans/loops.h).
template <uint8_t kind = TYPE_block>
[[gnu::always_inline]] inline cell_t* run_loop_block(const cell_t* code);

inline bool run_frame(const cell_t* code);
[[gnu::noinline, gnu::cold]] bool run_frame_from_other_origin(const cell_t* code, bool library) {
    code_origin origin(library);
    return run_frame(code);
}
[[gnu::noinline, gnu::cold]] cell_t* run_in_place_from_other_origin(const cell_t* code,
                                                                    bool library) {
    code_origin origin(library);
    return run_in_place(code);
}

// Runs the expressions of code (a cell that stays put and keeps its block
// alive) in the <body> frame just marked. Returns false when an exit is
// pending: its frames are unwound already. Otherwise the value is in the
// frame's result slot, the frame still marked.
inline bool run_frame(const cell_t* code) {
    bool library = library_code::library_q(code->data2);
    if (!origin_fits(library)) [[unlikely]]
        return run_frame_from_other_origin(code, library);
    int32_t head = block::head_index(code);
    int32_t end = block::abs_length(code);
    if (head < 0) head = 0;
    if (tracing) [[unlikely]]
        fire_event(event::ENTER, code, head, nullptr, nullptr);
    if (head >= end) [[unlikely]] {
        stack::set_last_keep(&unset_value);
    } else {
        // Library code runs as compiled code does: it leaves the position of
        // the user's code that called it, which an error then reports as near.
        // The whole position is set before each expression, since a call
        // evaluated in between left its own there; after an exit or error the
        // position stays where it happened, for a catcher's error to report.
        bool track = !library;
        int32_t pos = head;
        for (;;) {
            if (track) {
                *position = *code;
                position->data1 = static_cast<uint32_t>(pos);
            }
            pos = eval_expression(code, pos, end, false, false, false);
            if (exits::pending) [[unlikely]]
                return false;
            end = live_end(code, end);
            if (pos >= end) break;
            stack::clear_args();
        }
    }
    if (tracing) [[unlikely]]
        fire_event(event::EXIT, code, end, nullptr, stack::arguments);
    return true;
}

}  // namespace

void eval(const cell_t* block, bool keep) {
    // The code cell rides on the stack under the frame: it keeps the block
    // alive and gives every position a cell that does not move.
    cell_t* code = stack::push(block);
    stack::mark_eval(&body_word);
    if (!run_frame(code)) return;
    // Pop the frame and the code cell under it.
    finish_call(code, !keep);
}

void eval_here(const cell_t* block) {
    if (tracing) [[unlikely]] {
        // Traces show the <body> frame's enter and exit events.
        eval(block, true);
        return;
    }
    cell_t* r = plan::enabled ? run_loop_block(block) : run_in_place<true>(block);
    if (r == nullptr) [[unlikely]]
        return;
    *stack::arguments = *r;
    stack::top_slot = stack::arguments + 1;
}

void eval_paren_pushed(const cell_t* paren) {
    if (tracing || !plan::enabled) [[unlikely]] {
        // Traces show the <body> frame's enter and exit events.
        eval(paren, false);
        return;
    }
    // eval's frame and code cell, so that errors count the same frames; only
    // the run of the expressions differs.
    cell_t* code = stack::push(paren);
    stack::mark_eval(&body_word);
    cell_t* r = run_loop_block<TYPE_paren>(code);
    if (r == nullptr) [[unlikely]]
        return;
    finish_call(code, true, r);
}

int32_t eval_next(const cell_t* code, int32_t pos, int32_t end, bool push) {
    stack::mark_interp_native(&body_word);
    pos = eval_expression(code, pos, end, false, true, false);
    if (exits::pending) return pos;
    if (push) stack::unwind();
    else stack::unwind_last();
    return pos;
}

int32_t do_next(const cell_t* block) {
    cell_t code = *block;
    int32_t head = block::head_index(&code);
    int32_t end = block::abs_length(&code);
    if (head >= end) {
        stack::set_last(&unset_value);
        return head < 0 ? 0 : head;
    }
    cell_t* stable = stack::push(&code);
    int32_t pos = eval_next(stable, head, end, true);
    if (exits::pending) return pos;
    cell_t r = *stack::top();
    stack::pop(2);
    stack::set_last(&r);
    return pos;
}

// --- expressions --------------------------------------------------------------------

namespace {

inline uint32_t plan_of_callee(const cell_t* callee);
inline int32_t fetch_normal(const cell_t* callee, int32_t i, const cell_t* code, int32_t pos,
                            int32_t end, bool infix);
int32_t call_simple(const cell_t* fn, const cell_t* word, uint32_t plan, const cell_t* code,
                    int32_t pos, int32_t end, bool push);
int32_t call_native(const cell_t* fn, const cell_t* word, uint32_t plan, const cell_t* code,
                    int32_t pos, int32_t end, bool push);
int32_t call_conditional(const cell_t* fn, const cell_t* word, uint32_t plan, const cell_t* code,
                         int32_t pos, int32_t end, bool push);
int32_t call_refined(const cell_t* path, const cell_t* code, int32_t pos, int32_t end, bool push);

// The direct call of a function, native or action of type vt, named by a
// word, whose plan is simple, while nothing is traced.
[[gnu::always_inline]] inline int32_t call_direct(uint8_t vt, const cell_t* fn, const cell_t* word,
                                                  uint32_t plan, const cell_t* code, int32_t pos,
                                                  int32_t end, bool push) {
    if (vt == TYPE_function) return call_simple(fn, word, plan, code, pos, end, push);
    if (vt == TYPE_native && (fn->data1 == IF_INDEX || fn->data1 == EITHER_INDEX) &&
        (plan & PLAN_ARGS_MASK) != 0)
        return call_conditional(fn, word, plan, code, pos, end, push);
    return call_native(fn, word, plan, code, pos, end, push);
}

// word::set_star for the set-word frame (the word, then its value): a word
// bound to a global or function context with its values in place stores
// straight into its slot; objects (their words' set flags), unbound words
// and the rest take the general path.
// The slot a set-word stores into straight: a word bound to a global or
// function context with its values in place. nullptr for objects (their
// words' set flags), unbound words and the rest.
[[gnu::always_inline]] inline cell_t* set_word_slot(const cell_t* w) {
    int32_t index = static_cast<int32_t>(w->data3);
    node_t ctx = w->data1;
    if (index < 0 || ctx == 0) [[unlikely]]
        return nullptr;
    cell_t* cc = _context::cell_of(ctx);
    if (_context::kind_of(cc) == _context::KIND_OBJECT) [[unlikely]]
        return nullptr;
    if (!(cc->header & FLAG_STACK_VALUES)) return alloc::buffer(cc->data2)->head_cell() + index;
    if (cc->data2 != 0) [[likely]]
        return stack::cell_at(cc->data2) + index;
    return nullptr;
}

inline void store_set_word() {
    cell_t* w = stack::arguments;
    cell_t* value = w + 1;
    if (type_of(value) != TYPE_unset) [[likely]] {
        if (cell_t* slot = set_word_slot(w)) [[likely]] {
            *slot = *value;
            *w = *value;
            return;
        }
    }
    word::set_star();
}

inline void return_fetched(const cell_t* slot, uint32_t plan);

// `return value`, the common case of a function's last expression: its frame
// and its argument as any call has them, then straight to the exit, with
// nothing built for a result that never comes back.
int32_t eval_return(const cell_t* callee, const cell_t* word, const cell_t* code, int32_t pos,
                    int32_t end) {
    uint32_t plan = plan_of_callee(callee);
    // One argument and no locals; the bits about types do not matter.
    if ((plan & (PLAN_SIMPLE | PLAN_ARGS_MASK | PLAN_LOCALS_MASK)) != (PLAN_SIMPLE | 1u))
        [[unlikely]]
        return eval_code(callee, code, pos, end, false, pos - 1, false);
    // callee points into a context's values, which the argument may move:
    // from here on only its copy in the slot is read.
    cell_t* slot = stack::push(callee);
    stack::mark_interp_native(word);
    pos = fetch_normal(slot, 0, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    return_fetched(slot, plan);
    return pos;
}

// return's argument is in place: checked, then straight to the exit.
inline void return_fetched(const cell_t* slot, uint32_t plan) {
    if (check_needed(plan, stack::top_slot - 1)) {
        node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
        check_arg(slot, 0, alloc::buffer(cache)->head_cell(), stack::top_slot - 1);
    }
    // Straight in the function's body, the frame under return's own is the
    // exit target; in a branch of `if` or `either` there, the one under the
    // conditional's (a native's frame, which restores nothing): land there
    // without the general walk.
    call_frame_t* own = stack::ctop - 1;
    call_frame_t* target = own - 1;
    if (target > stack::cbottom + 1 && !(target->header & frame::EXIT_TARGET) &&
        frame::kind_of(target) == frame::KIND_NATIVE &&
        ((target - 1)->header & frame::EXIT_TARGET)) {
        own = target;
        target--;
    }
    if (target > stack::cbottom && (target->header & frame::EXIT_TARGET)) [[likely]] {
        cell_t* base = stack::cell_at(own->prev);
        *base = stack::top_slot[-1];
        stack::ctop = own;
        stack::arguments = base;
        stack::top_slot = base;
        exits::pending = exits::THROW_RETURN;
        return;
    }
    exits::throw_exit(true, false);
}

}  // namespace

int32_t eval_expression(const cell_t* code, int32_t pos, int32_t end, bool no_infix, bool push,
                        bool as_value) {
    check_native_stack();
    cell_t* c = cell_at(code, pos);
    if (tracing) [[unlikely]] {
        fire_event(event::FETCH, code, pos, nullptr, c);
        // The tracer may have moved the code, or cut it short: then the
        // expression is gone and gives unset.
        if (pos >= live_end(code, end)) [[unlikely]] {
            emit(&unset_value, push);
            return pos + 1;
        }
        c = cell_at(code, pos);
    }
    switch (type_of(c)) {
    case TYPE_word: {
        const cell_t* v = _context::get(c);
        uint8_t vt = type_of(v);
        if (callable_q(vt)) {
            if (!tracing) [[likely]] {
                if (vt == TYPE_native && v->data1 == RETURN_SLOT) [[unlikely]]
                    return eval_return(v, c, code, pos + 1, end);
                // Its plan read without building it: nothing here may allocate
                // while v and c still point into buffers.
                const cell_t* cache = alloc::buffer(v->data3)->head_cell() + 1;
                if (type_of(cache) == TYPE_block && (cache->data3 & PLAN_SIMPLE) &&
                    vt != TYPE_routine) [[likely]] {
                    pos = call_direct(vt, v, c, cache->data3, code, pos + 1, end, push);
                    if (exits::pending) return pos;
                    break;
                }
            }
            pos = eval_code(v, code, pos + 1, end, push, pos, false);
            if (exits::pending) return pos;
            break;
        }
        if (vt == TYPE_unset) [[unlikely]] {
            cell_t w = *c;
            fire(err::no_value, &w);
        }
        if (vt == TYPE_op) [[unlikely]] {
            cell_t w = *c;
            fire(err::no_op_arg, &w);
        }
        emit(v, push);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        pos++;
        break;
    }
    case TYPE_set_word: {
        stack::mark_interp_native(c);
        stack::push(c);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::arguments);
        if (pos + 1 >= live_end(code, end)) {
            cell_t w = *stack::arguments;
            fire(err::need_value, &w);
        }
        pos = eval_expression(code, pos + 1, end, false, true, false);
        if (exits::pending) return pos;
        if (tracing) [[unlikely]]
            fire_event(event::SET, code, pos, stack::arguments, stack::arguments + 1);
        store_set_word();
        if (push) stack::unwind();
        else stack::unwind_last();
        // The value has had its lookahead already.
        if (tracing && !push) [[unlikely]]
            fire_event(event::EXPR, code, pos, nullptr, stack::arguments);
        return pos;
    }
    case TYPE_paren: {
        if (tracing) [[unlikely]] {
            // eval's own frame is the paren's: keep stores into the result
            // slot, else the value is pushed in place of the code cell.
            nested_position kept(c);
            eval(c, !push);
            if (exits::pending) return pos;
            kept.restore();
            pos++;
            break;
        }
        // The paren's cell rides on the stack while it runs (it keeps the
        // block alive); its value then takes that cell's place, or the
        // result slot's.
        cell_t* held = stack::push(c);
        nested_position kept(c);
        cell_t* r = run_in_place(held);
        if (r == nullptr) [[unlikely]]
            return pos;
        kept.restore();
        cell_t* target = push ? held : stack::arguments;
        *target = *r;
        stack::top_slot = target + 1;
        pos++;
        break;
    }
    case TYPE_lit_word: {
        emit(c, push);
        cell_t* r = push ? stack::top() : stack::arguments;
        cell::set_type(r, TYPE_word);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, r);
        pos++;
        break;
    }
    case TYPE_get_word:
        emit(_context::get(c), push);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        pos++;
        break;
    case TYPE_issue: {
        if (pos + 1 < live_end(code, end) && type_of(c + 1) == TYPE_block) {
            int32_t s = symbol::resolve(word::symbol_of(c));
            if (s == system_symbol || s == system_global_symbol) fire(err::zuv_system);
        }
        emit(c, push);
        pos++;
        break;
    }
    case TYPE_native:
    case TYPE_action:
    case TYPE_function:
    case TYPE_routine:
        if (as_value) {
            emit(c, push);
            pos++;
            break;
        }
        pos = eval_code(c, code, pos + 1, end, push, -1, false);
        if (exits::pending) return pos;
        break;
    case TYPE_op: fire(err::not_done);
    case TYPE_path: {
        cell_t path = *c;
        int32_t after = tracing ? -1 : call_refined(&path, code, pos, end, push);
        pos = after >= 0 ? after : eval_path(&path, code, pos, end, false, false, push, false);
        if (exits::pending) return pos;
        break;
    }
    case TYPE_lit_path: {
        emit(c, push);
        cell_t* r = push ? stack::top() : stack::arguments;
        cell::set_type(r, TYPE_path);
        r->data3 = 0;
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, r);
        pos++;
        break;
    }
    case TYPE_set_path: {
        cell_t path = *c;
        // Evaluating the value may drop the path from the code.
        collector::root_cell keep_path(&path);
        if (pos + 1 >= live_end(code, end)) fire(err::need_value, &path);
        stack::mark_interp_native(&set_path_word);
        pos = eval_expression(code, pos + 1, end, false, true, false);
        if (exits::pending) return pos;
        if (tracing) [[unlikely]]
            fire_event(event::SET, code, pos, &path, stack::arguments);
        eval_path(&path, code, pos, end, true, false, true, false);
        if (exits::pending) return pos;
        if (push) stack::unwind();
        else stack::unwind_last();
        // The value has had its lookahead already.
        if (tracing && !push) [[unlikely]]
            fire_event(event::EXPR, code, pos, nullptr, stack::arguments);
        return pos;
    }
    case TYPE_get_path: {
        cell_t path = *c;
        pos = eval_path(&path, code, pos, end, false, true, push, false);
        if (exits::pending) return pos;
        break;
    }
    default:
        emit(c, push);
        if (tracing) [[unlikely]]
            fire_event(event::PUSH, code, pos, nullptr, stack::top());
        pos++;
        break;
    }
    if (!no_infix) {
        // Only a word can be an operator: most expressions stop here.
        const cell_t* next = live_cells(code, &end) + pos;
        if (pos < end && type_of(next) == TYPE_word) {
            pos = infix_loop(code, pos, end, push);
            if (exits::pending) return pos;
        }
    }
    if (tracing && !push) [[unlikely]]
        fire_event(event::EXPR, code, pos, nullptr, stack::arguments);
    return pos;
}

// --- calls ---------------------------------------------------------------------------

namespace {

// Runs a native's or action's entry on the arguments in place.
inline void run_entry(uint8_t t, const cell_t* callee, const int32_t* refs) {
    uint32_t index = callee->data1;
    if (t == TYPE_action) {
        if (index >= static_cast<uint32_t>(ACTION_COUNT)) [[unlikely]]
            fire(err::not_done);
        actions::table[index](refs);
    } else if (t == TYPE_native) {
        if (native_table == nullptr || index >= static_cast<uint32_t>(native::TABLE_SLOTS) ||
            native_table[index] == nullptr) [[unlikely]]
            fire(err::not_done);
        native_table[index](0, refs);
    }
}

// Runs code (a cell that stays put and keeps its block alive, below the top)
// in the current frame, with no <body> frame of its own: reports leave <body>
// out anyway. The values are pushed above the current top, one at a time;
// returns the last one's cell (the top's), or nullptr when an exit is
// pending. The same positions, errors and exits as run_frame's.
template <bool check_origin> cell_t* run_in_place(const cell_t* code) {
    series_buffer_t* b = alloc::buffer(code->data2);
    int32_t end = b->used() >> 4;
    int32_t pos = block::head_index(code);
    if (pos < 0) pos = 0;
    cell_t* base = stack::top_slot;
    if (pos >= end) [[unlikely]] {
        // A loop over an empty body evaluates nothing else: an interrupt
        // must reach it here.
        check_native_stack();
        stack::push_slot()->header = TYPE_unset;
        return base;
    }
    bool track = !(b->flags & series_flag::LIBRARY);
    if constexpr (check_origin) {
        if (!origin_fits(!track)) [[unlikely]]
            return run_in_place_from_other_origin(code, !track);
    }
    for (;;) {
        if (track) {
            *position = *code;
            position->data1 = static_cast<uint32_t>(pos);
        }
        pos = eval_operand(b->head_cell() + pos, end, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return nullptr;
        b = alloc::buffer(code->data2);
        int32_t live = b->used() >> 4;
        if (live < end) end = live;
        if (pos >= end) break;
        stack::top_slot = base;
    }
    return base;
}

// A branch of `if` or `either` (one of the current frame's arguments): its
// value becomes the frame's result.
[[gnu::always_inline]] inline void run_branch(const cell_t* branch) {
    nested_position kept(branch);
    cell_t* r = run_in_place(branch);
    if (r == nullptr) [[unlikely]]
        return;
    kept.restore();
    *stack::arguments = *r;
    stack::top_slot = stack::arguments + 1;
}

// The branch `if` or `either` takes (either: whether it is `either`) on a
// condition of the given truth: 0 the first, 1 either's second, -1 none
// (`if`'s value is then none). The rule of both, written once: the
// interpreter's run and the plans' call it.
[[gnu::always_inline]] inline int32_t branch_taken(bool either, bool truthy) {
    if (truthy) return 0;
    return either ? 1 : -1;
}

// branch_taken on the condition's value: `either` of an unset raises.
[[gnu::always_inline]] inline int32_t conditional_branch(bool either, const cell_t* condition) {
    int32_t k = branch_taken(either, logic::truthy(condition));
    if (either && type_of(condition) == TYPE_unset) [[unlikely]]
        fire(err::no_return);
    return k;
}

// `if` and `either` with their arguments in place and checked: the natives'
// work without their entries.
[[gnu::always_inline]] inline void run_conditional(uint32_t index) {
    cell_t* a = stack::arguments;
    // Each native with the rule's test of which one folded away; either's
    // branch picked as a choice of two cells (a select, measured: an offset
    // added costs the general path nine instructions an either).
    if (index == EITHER_INDEX) {
        run_branch(conditional_branch(true, a) == 0 ? a + 1 : a + 2);
        return;
    }
    if (conditional_branch(false, a) < 0) {
        a->header = TYPE_none;
        stack::top_slot = a + 1;
        return;
    }
    run_branch(a + 1);
}

// run_simple_entry for a callee that is neither `if` nor `either`.
[[gnu::always_inline]] inline void run_plain_entry(uint8_t t, const cell_t* callee, int32_t n) {
    if (n == 2) {
        cell_t* a = stack::arguments;
        fast_op f = fast_op_of(t, callee->data1);
        if (f != FAST_NONE && fast_compute(f, a, a + 1)) {
            stack::top_slot = a + 1;
            return;
        }
        // pick of a block by an integer inside it: the cell the action
        // reaches, as a path's pick takes it (outside: the action's none).
        if (t == TYPE_action && callee->data1 + 1 == ACT_pick && type_of(a) == TYPE_block &&
            type_of(a + 1) == TYPE_integer) {
            const cell_t* r = actions::pick_inline(a, integer::get(a + 1));
            if (r != &none_value) {
                *a = *r;
                stack::top_slot = a + 1;
                return;
            }
        }
    }
    run_entry(t, callee, no_refinements);
}

// Runs a native or action whose n normal arguments are in place, while
// nothing is traced: if and either run their branch here, integer arithmetic
// and comparison need no entry.
[[gnu::always_inline]] inline void run_simple_entry(uint8_t t, const cell_t* callee, int32_t n) {
    if (t == TYPE_native && (callee->data1 == EITHER_INDEX || callee->data1 == IF_INDEX) &&
        native_table != nullptr && native_table[callee->data1] != nullptr) {
        run_conditional(callee->data1);
        return;
    }
    run_plain_entry(t, callee, n);
}

// A paren as eval_expression runs it while nothing is traced: its cell rides
// on the stack while it runs (it keeps the block alive), then its value takes
// that cell's place.
[[gnu::noinline]] int32_t eval_paren(const cell_t* c, const cell_t* code, int32_t pos, int32_t end,
                                     bool infix) {
    check_native_stack();
    cell_t* held = stack::push(c);
    nested_position kept(c);
    cell_t* r = run_in_place(held);
    if (r == nullptr) [[unlikely]]
        return pos;
    kept.restore();
    *held = *r;
    stack::top_slot = held + 1;
    pos++;
    return infix ? pos : lookahead(code, pos, end);
}

// A set-word with a value after it, as eval_expression runs it while nothing
// is traced: the word's frame, its value through the operand path, the store.
[[gnu::noinline]] int32_t eval_set_word(const cell_t* c, int32_t live, const cell_t* code,
                                        int32_t pos, int32_t end) {
    check_native_stack();
    stack::mark_interp_native(c);
    stack::push(c);
    pos = eval_operand(c + 1, live, code, pos + 1, end, false);
    if (exits::pending) return pos;
    store_set_word();
    stack::unwind();
    return pos;
}

// Whether the cell after c (at pos + 1, live the end) would start the infix
// lookahead of the value at c: a word holding an operator.
inline bool operator_follows(const cell_t* c, int32_t pos, int32_t live) {
    if (pos + 1 >= live || type_of(c + 1) != TYPE_word) return false;
    const cell_t* v = peek_value(c + 1);
    return v != nullptr && type_of(v) == TYPE_op;
}

// The value an argument at c (pos, live the end) pushes when taking it runs
// nothing: a value that stands for itself or a word holding a plain value,
// with no operator after it. nullptr when it must be evaluated.
[[gnu::always_inline]] inline const cell_t* quiet_operand(const cell_t* c, int32_t pos,
                                                          int32_t live) {
    uint8_t t = type_of(c);
    const cell_t* v = c;
    if (!inert_q(t)) {
        if (t != TYPE_word) return nullptr;
        v = peek_value(c);
        if (v == nullptr || !plain_value_q(type_of(v))) return nullptr;
    }
    return operator_follows(c, pos, live) ? nullptr : v;
}

// Pushes the value of the expression at pos (c, with live the end clamped to
// the block's tail) and returns the position after it; infix: the right
// operand of an operator, which takes no lookahead of its own. While nothing
// is traced the common forms skip eval_expression: a value that stands for
// itself, a word holding one, and a word naming a function, native or action
// whose plan is simple. Nothing between reading a cell and pushing its value
// (or marking the call's frame) can allocate.
[[gnu::always_inline]] inline int32_t eval_operand(const cell_t* c, int32_t live,
                                                   const cell_t* code, int32_t pos, int32_t end,
                                                   bool infix) {
    if (!tracing) [[likely]] {
        uint8_t ct = type_of(c);
        bool word_next = pos + 1 < live && type_of(c + 1) == TYPE_word;
        // Most arguments are literals or blocks.
        if (inert_q(ct) && (infix || !word_next)) {
            stack::push(c);
            return pos + 1;
        }
        if (ct == TYPE_word) {
            const cell_t* v = peek_value(c);
            if (v != nullptr) {
                uint8_t vt = type_of(v);
                if (!callable_q(vt)) {
                    if (vt != TYPE_unset && vt != TYPE_op) {
                        stack::push(v);
                        if (infix || !word_next) return pos + 1;
                        return infix_loop(code, pos + 1, end, true);
                    }
                } else if (vt == TYPE_native && v->data1 == RETURN_SLOT) {
                    return eval_return(v, c, code, pos + 1, end);
                } else if (vt != TYPE_routine) {
                    const cell_t* cache = alloc::buffer(v->data3)->head_cell() + 1;
                    if (type_of(cache) == TYPE_block && (cache->data3 & PLAN_SIMPLE)) [[likely]] {
                        pos = call_direct(vt, v, c, cache->data3, code, pos + 1, end, true);
                        if (exits::pending || infix) return pos;
                        return lookahead(code, pos, end);
                    }
                }
            }
        } else if (ct == TYPE_paren) {
            return eval_paren(c, code, pos, end, infix);
        } else if (ct == TYPE_set_word && pos + 1 < live) {
            return eval_set_word(c, live, code, pos, end);
        }
    }
    return eval_expression(code, pos, end, infix, true, false);
}

// Pushes the normal argument at pos (entry i of callee, for the report when
// it is missing); returns the position after it.
[[gnu::always_inline]] inline int32_t fetch_normal(const cell_t* callee, int32_t i,
                                                   const cell_t* code, int32_t pos, int32_t end,
                                                   bool infix) {
    int32_t live = end;
    const cell_t* c = live_cells(code, &live) + pos;
    if (pos >= live) [[unlikely]]
        fire_no_arg(callee, i);
    return eval_operand(c, live, code, pos, end, infix);
}

// The common call: no path, ordinary evaluation, a plan of normal arguments
// only. Returns the position after the arguments.
inline int32_t fetch_simple(uint32_t plan, uint8_t t, const cell_t* callee, const cell_t* code,
                            int32_t pos, int32_t end, bool infix) {
    int32_t n = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    node_t cache = alloc::buffer(callee->data3)->head_cell()[1].data2;
    int32_t i = 0;
    if (infix && n > 0) {
        check_arg(callee, 0, alloc::buffer(cache)->head_cell(), stack::top_slot - 1);
        i = 1;
    }
    for (; i < n; i++) {
        pos = fetch_normal(callee, i, code, pos, end, infix);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(plan, stack::top_slot - 1)) [[unlikely]]
            check_arg(callee, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
    }
    if (t == TYPE_function || t == TYPE_routine) {
        push_locals(static_cast<int32_t>((plan >> PLAN_LOCALS_SHIFT) & 0xFFFF));
        if (tracing) [[unlikely]] {
            cell_t name = call_word();
            fire_event(event::CALL, code, pos, &name, callee);
        }
        return pos;
    }
    if (tracing) [[unlikely]] {
        cell_t name = call_word();
        fire_event(event::CALL, code, pos, &name, callee);
        run_entry(t, callee, no_refinements);
        return pos;
    }
    run_simple_entry(t, callee, n);
    return pos;
}

// The plan summary of a callee, its cache made on first use.
inline uint32_t plan_of_callee(const cell_t* callee) {
    cell_t* c = alloc::buffer(callee->data3)->head_cell() + 1;
    if (type_of(c) != TYPE_block) [[unlikely]]
        c = arguments_cache(callee);
    return c->data3;
}

// A frame shorter than the function's context would have the words past it
// read stack cells above the top: a spec changed after the function was made
// (spec-of gives the function's own block), or a caller that pushes a fixed
// number of values for a callback that takes more. The missing slots are
// filled as for a call from C++. call_simple needs none of this: a plan is
// simple only when its frame fills the context (build_cache).
inline void complete_frame(node_t ctx) {
    function::fill_frame(ctx, static_cast<int32_t>(stack::top_slot - stack::arguments));
}

// call_function for the interpreter's own calls of a function with an
// interpreted body while nothing is traced: the same protocol with nothing
// for callbacks or compiled bodies, and the body run from a copy of its cell
// (fn, on the stack in its slot, keeps the body alive).
// While a function runs, its context reads its values from the current
// frame; the values it read before, and the tracing state, come back however
// the call ends (the context is found again through its node, which may
// have a new buffer by then). The interpreter's own calls (general false)
// always have a context and start untraced; call_function's may be routines
// (no context) and traced.
// user: the caller is known to run user code (the interpreted mark is set).
template <bool general, bool user = false> class function_run {
public:
    // base: the function's arguments (its frame's base).
    explicit function_run(node_t ctx, const cell_t* base = stack::arguments)
        : ctx_(ctx), from_user_(user || stack::interpreted_mark != 0) {
        if constexpr (general) {
            saved_tracing_ = tracing;
            saved_caller_ = library_caller_tracing;
            if (ctx_ == 0) return;
        }
        uint32_t* values = stack::values_word(ctx_);
        saved_values_ = *values;
        *values = stack::index_of(base);
    }
    [[gnu::always_inline]] ~function_run() {
        if (!general || ctx_ != 0) *stack::values_word(ctx_) = saved_values_;
        bool restored = general ? saved_tracing_ : false;
        // A call from user code hands back the state `trace` asked for, and
        // it stays asked for until the trace ends: a plain function does not
        // undo its body's `trace false`. A body that set its own tracing
        // puts the caller's state and request back.
        if (scoped_) [[unlikely]]
            caller_tracing_request = saved_request_;
        else if (caller_tracing_request >= 0 && from_user_) [[unlikely]]
            restored = caller_tracing_request != 0;
        // Mostly unchanged: the guard byte is written only on a change.
        if (tracing != restored) [[unlikely]]
            set_tracing(restored);
        if constexpr (general) library_caller_tracing = saved_caller_;
    }
    function_run(const function_run&) = delete;
    function_run& operator=(const function_run&) = delete;

    // The body runs with tracing of its own (a trace or no-trace function, a
    // callback whose kind is not traced): requests of the caller do not
    // reach in, nor those made inside out.
    void scope_tracing() {
        if (scoped_) return;
        scoped_ = true;
        saved_request_ = caller_tracing_request;
        caller_tracing_request = -1;
    }

private:
    node_t ctx_;
    bool from_user_;
    bool scoped_ = false;
    int8_t saved_request_ = -1;
    uint32_t saved_values_ = 0;
    bool saved_tracing_ = false;
    bool saved_caller_ = false;
};

// A return or exit that ended the function lands here: its value is the
// call's result.
inline void absorb_return() {
    if (exits::pending == exits::THROW_RETURN || exits::pending == exits::THROW_EXIT) {
        exits::take();
        stack::set_exit_target(0);
        stack::keep();
    }
}

template <bool from_plan = false>
[[gnu::always_inline]] inline cell_t* run_planned_body(const plan::pnode_t* head,
                                                       const cell_t* body);
cell_t* run_planned_elsewhere(const plan::pnode_t* head, const cell_t* body);
[[gnu::always_inline]] inline const cell_t* plan_body_leaf(const plan::pnode_t* head,
                                                           const cell_t* body);

// The result of a function's body run (nullptr: an exit is pending), in
// the function's run: the caller pops the frame next, its exit-target mark
// with it, and takes the result from where it is, unless the tracer is to
// see it first in the frame's result slot.
[[gnu::always_inline]] inline cell_t* body_done(cell_t* result, const cell_t* body,
                                                const cell_t* fn) {
    if (result != nullptr && tracing) [[unlikely]] {
        *stack::arguments = *result;
        stack::top_slot = stack::arguments + 1;
        fire_event(event::EPILOG, body, -1, nullptr, fn);
        stack::ctop[-1].header &= ~frame::EXIT_TARGET;
        return nullptr;
    }
    return result;
}

// The cell holding a call's result once its function's run ended (result
// as body_done gave it): a return or exit that ended it is taken; nullptr
// when an exit is still pending.
[[gnu::always_inline]] inline const cell_t* call_result(const cell_t* result) {
    if (result != nullptr) [[likely]]
        return result;
    absorb_return();
    return exits::pending ? nullptr : stack::arguments;
}

// call_function for a function with a compiled body (a library helper)
// while nothing is traced: the entry runs in the function's own run, with
// no callback or tracing work around it.
[[gnu::noinline]] const cell_t* run_compiled(const cell_t* fn, int32_t code) {
    routine::entry_t entry = routine::entry_at(code);
    if (entry == nullptr) [[unlikely]]
        fire(err::not_done);
    {
        function_run<false> run(function::context_of(fn));
        entry();
    }
    absorb_return();
    return exits::pending ? nullptr : stack::arguments;
}

// Runs the function at fn, its frame marked and filled; returns the cell
// holding its result, nullptr when an exit is pending.
// plain: a planned body calls it (so plans are on, and the caller is user
// code), and the callee's cell was seen with a body block, no compiled code
// and no trace flags (the plan's builder saw it): the same cell keeps them,
// as a function's more series is written only while it is made. Its body
// may then be a leaf taken with nothing run; quiet is cleared otherwise.
// library: such a callee whose body is library code (its plan is run as
// library code, and a leaf body is run too).
template <bool plain = false, bool library = false>
[[gnu::always_inline]] inline const cell_t* run_function(const cell_t* fn, bool* quiet = nullptr) {
    cell_t* more = alloc::buffer(fn->data3)->head_cell();
    const cell_t* compiled = more + function::MORE_CODE;
    if (tracing || (!plain && ((fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) ||
                               !series::block_kind_q(type_of(more + function::MORE_BODY)) ||
                               (type_of(compiled) == TYPE_integer && integer::get(compiled) != 0))))
        [[unlikely]] {
        if (quiet != nullptr) *quiet = false;
        if (!tracing && type_of(compiled) == TYPE_integer && integer::get(compiled) != 0 &&
            !(fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)))
            return run_compiled(fn, integer::get(compiled));
        call_function(fn, nullptr, callback::NONE);
        return exits::pending ? nullptr : stack::arguments;
    }
    cell_t body = more[function::MORE_BODY];
    // Its plan, built on the second call (which may allocate).
    const plan::pnode_t* p = nullptr;
    if (plain || plan::enabled) {
        const cell_t* m = more + function::MORE_PLAN;
        const plan::pnode_t* head;
        if (type_of(m) == TYPE_block &&
            (head = plan::held_plan(m),
             static_cast<uint32_t>(head->end) == plan::epoch && head->pos >= 0)) [[likely]]
            p = head;
        else if (type_of(m) != TYPE_none) p = plan::of_function(fn);
        if constexpr (plain && !library) {
            if (p != nullptr) [[likely]]
                if (const cell_t* leaf = plan_body_leaf(p, &body)) return leaf;
        }
    }
    if (quiet != nullptr) *quiet = false;
    cell_t* result;
    {
        function_run<false> run(function::context_of(fn));
        // Every caller marked the function's frame: it is the innermost.
        stack::ctop[-1].header |= frame::EXIT_TARGET;
        // The body runs in the function's own frame, its values above the
        // locals: that frame is the exit target return lands on anyway.
        if constexpr (library)
            result = p != nullptr ? run_planned_elsewhere(p, &body) : run_in_place<true>(&body);
        else result = p != nullptr ? run_planned_body<plain>(p, &body) : run_in_place<true>(&body);
        result = body_done(result, &body, fn);
    }
    return call_result(result);
}

// eval_code for a function! named by a word, its plan of normal arguments
// only, nothing traced: the same frame, arguments and result with none of
// the other cases' tests. (Natives through here cost every other expression
// more than they save: eval_expression grows.)
[[gnu::noinline]] int32_t call_simple(const cell_t* fn, const cell_t* word, uint32_t plan,
                                      const cell_t* code, int32_t pos, int32_t end, bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    stack::mark_interp_func(word);
    int32_t n = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    // fetch_normal, with the cells read again only after an argument that
    // may have run something: a literal with no word after it is pushed as
    // eval_operand pushes it, and that runs nothing.
    int32_t live = end;
    const cell_t* cells = live_cells(code, &live);
    for (int32_t i = 0; i < n; i++) {
        if (pos >= live) [[unlikely]]
            fire_no_arg(slot, i);
        const cell_t* c = cells + pos;
        if (!tracing && inert_q(type_of(c)) && !(pos + 1 < live && type_of(c + 1) == TYPE_word))
            [[likely]] {
            stack::push(c);
            pos++;
        } else {
            pos = eval_operand(c, live, code, pos, end, false);
            if (exits::pending) [[unlikely]]
                return pos;
            live = end;
            cells = live_cells(code, &live);
        }
        if (check_needed(plan, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, i);
    }
    push_locals(static_cast<int32_t>((plan >> PLAN_LOCALS_SHIFT) & 0xFFFF));
    const cell_t* result = run_function(slot);
    if (result == nullptr) [[unlikely]]
        return pos;
    finish_pushed(slot, push, result);
    return pos;
}

// The arguments of a conditional from the one at index i on: a branch
// written as a block is pushed as it stands, anything else takes the operand
// path and its type check. Stops at a pending exit.
[[gnu::always_inline]] inline int32_t fetch_branches(cell_t* slot, int32_t i, int32_t count,
                                                     uint32_t plan, const cell_t* code, int32_t pos,
                                                     int32_t end) {
    for (; i < count; i++) {
        int32_t live = end;
        const cell_t* c = live_cells(code, &live) + pos;
        if ((plan & PLAN_LATER_BLOCKS) && pos < live && type_of(c) == TYPE_block &&
            !operator_follows(c, pos, live)) [[likely]] {
            stack::push(c);
            pos++;
            continue;
        }
        pos = fetch_normal(slot, i, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(plan, stack::top_slot - 1)) check_argument(slot, i);
    }
    return pos;
}

// call_native for `if` and `either`: a branch written as a block is pushed
// as it stands, with neither the operand path nor a type check when the
// spec takes blocks there. Anything else there takes the usual way.
[[gnu::noinline]] int32_t call_conditional(const cell_t* fn, const cell_t* word, uint32_t plan,
                                           const cell_t* code, int32_t pos, int32_t end,
                                           bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    stack::mark_interp_native(word);
    int32_t n = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    pos = fetch_normal(slot, 0, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return pos;
    if (!(plan & PLAN_FIRST_ANY) || seldom_q(stack::top_slot - 1)) check_argument(slot, 0);
    pos = fetch_branches(slot, 1, n, plan, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
    run_simple_entry(TYPE_native, slot, n);
    if (exits::pending) return pos;
    finish_call(slot, push);
    return pos;
}

// The n arguments of the native or action at slot (its cache, its plan) for
// call_native, pushed and checked. The cells are read again only after an
// argument that ran something. With a descriptor d, a type is one test of
// its mask; without one (none made, or every argument takes every type but
// the seldom ones) the cache is read as check_needed asks. Stops at a
// pending exit.
template <bool with_descriptor>
[[gnu::always_inline]] inline int32_t fetch_native(const entry_arguments* d, const cell_t* slot,
                                                   node_t cache, uint32_t plan, const cell_t* code,
                                                   int32_t pos, int32_t end) {
    auto n = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    int32_t live = end;
    const cell_t* cells = live_cells(code, &live);
    for (int32_t i = 0; i < n; i++) {
        if (pos >= live) [[unlikely]]
            fire_no_arg(slot, i);
        const cell_t* c = cells + pos;
        // An earlier argument may have switched the tracer on.
        const cell_t* v = tracing ? nullptr : quiet_operand(c, pos, live);
        if (v != nullptr) [[likely]] {
            stack::push(v);
            pos++;
        } else {
            pos = eval_operand(c, live, code, pos, end, false);
            if (exits::pending) [[unlikely]]
                return pos;
            live = end;
            cells = live_cells(code, &live);
        }
        const cell_t* arg = stack::top_slot - 1;
        if (with_descriptor ? !takes_q(d, i, arg) : check_needed(plan, arg)) [[unlikely]]
            check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, arg);
    }
    return pos;
}

// eval_code for a native or action named by a word, its plan simple, nothing
// traced: no path, no infix shuffle, no events.
[[gnu::noinline]] int32_t call_native(const cell_t* fn, const cell_t* word, uint32_t plan,
                                      const cell_t* code, int32_t pos, int32_t end, bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    // mark_interp_native's record, made whole at once: a call named by a
    // word always has one.
    stack::push_frame_made((word->data2 & frame::SYMBOL_MASK) | frame::NATIVE |
                               stack::interpreted_mark,
                           word->data1, slot + 1);
    // A handle stays the same when its buffer moves: read once, it serves
    // every argument's check.
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    const entry_arguments* d =
        plan & PLAN_ANY_TYPES ? nullptr : described(type_of(slot), slot->data1, cache);
    pos = d != nullptr ? fetch_native<true>(d, slot, cache, plan, code, pos, end)
                       : fetch_native<false>(d, slot, cache, plan, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
    // call_direct takes `if` and `either` elsewhere.
    run_plain_entry(type_of(slot), slot, static_cast<int32_t>(plan & PLAN_ARGS_MASK));
    if (exits::pending) return pos;
    finish_pushed(slot, push, stack::arguments);
    return pos;
}

// fetch_args for a call of a described native or action (t, at callee,
// its descriptor d, its cache) with no path, in ordinary evaluation: its
// arguments as their kinds say, up to the first refinement, then its entry.
// The descriptor has no optional argument: a missing one is an error.
[[gnu::noinline]] int32_t fetch_described(const entry_arguments* d, uint8_t t, const cell_t* callee,
                                          node_t cache, const cell_t* code, int32_t pos,
                                          int32_t end) {
    for (int32_t k = 0; k < d->count; k++) {
        int32_t i = d->entry[k];
        uint32_t kind = d->kind[k];
        if (pos >= live_end(code, end)) fire_no_arg(callee, i);
        pos = kind == ARG_NORMAL ? fetch_normal(callee, i, code, pos, end, false)
                                 : fetch_one(kind, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return pos;
        const cell_t* arg = stack::top_slot - 1;
        if (!takes_q(d, k, arg)) [[unlikely]]
            check_arg(callee, i, alloc::buffer(cache)->head_cell() + i, arg);
    }
    if (tracing) [[unlikely]] {
        cell_t name = call_word();
        fire_event(event::CALL, code, pos, &name, callee);
    }
    run_entry(t, callee, no_refinements);
    return pos;
}

// The operator call of the infix lookahead, its callee at slot with the left
// operand above it, for a native or action with a simple plan of two
// arguments while nothing is traced.
[[gnu::noinline]] int32_t call_infix(cell_t* slot, const cell_t* word, uint32_t plan,
                                     const cell_t* code, int32_t pos, int32_t end, bool push) {
    stack::top_slot = slot + 1;
    stack::mark_interp_native(word);
    stack::top_slot = slot + 2;
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    if (check_needed(plan, slot + 1))
        check_arg(slot, 0, alloc::buffer(cache)->head_cell(), slot + 1);
    pos = fetch_normal(slot, 1, code, pos, end, true);
    if (exits::pending) [[unlikely]]
        return pos;
    if (check_needed(plan, stack::top_slot - 1)) check_argument(slot, 1);
    run_simple_entry(type_of(slot), slot, 2);
    if (exits::pending) return pos;
    finish_call(slot, push);
    return pos;
}

// A path call (word/refinement...) of a native, action or function, its
// refinements named in the spec's order, while nothing is traced: the frame
// fetch_args builds, in one pass over the callee's cache and with no walk.
// Answers -1, having done nothing, for every other path.
[[gnu::noinline]] int32_t call_refined(const cell_t* path, const cell_t* code, int32_t pos,
                                       int32_t end, bool push) {
    series_buffer_t* s = alloc::buffer(path->data2);
    int32_t head = static_cast<int32_t>(path->data1);
    int32_t n = (s->used() >> 4) - head;
    if (head < 0 || n < 2) return -1;
    const cell_t* cells = s->head_cell() + head;
    if (type_of(cells) != TYPE_word) return -1;
    const cell_t* v = peek_value(cells);
    if (v == nullptr) return -1;
    uint8_t t = type_of(v);
    if (t != TYPE_native && t != TYPE_action && t != TYPE_function) return -1;
    const cell_t* cache_cell = alloc::buffer(v->data3)->head_cell() + 1;
    if (type_of(cache_cell) != TYPE_block) return -1;
    node_t cache = cache_cell->data2;
    bool native_like = t != TYPE_function;
    uint64_t on = 0;
    if (!refinements_named(cache, cells + 1, n - 1, native_like, &on)) return -1;

    check_native_stack();
    cell_t name = *cells;
    cell_t* slot = stack::push(v);
    if (native_like) stack::mark_interp_native(&name);
    else stack::mark_interp_func(&name);
    int32_t refs[MAX_REFINEMENTS];
    std::memcpy(refs, no_refinements, sizeof refs);
    int32_t count = alloc::buffer(cache)->used() >> 4;
    bool active = true;
    pos++;
    for (int32_t i = 0; i < count; i++) {
        const cell_t* e = alloc::buffer(cache)->head_cell() + i;
        switch (type_of(e)) {
        case TYPE_typeset: {
            uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
            if (kind == ARG_RETURN) break;
            if (!active) {
                if (!native_like) stack::push_slot()->header = TYPE_none;
                break;
            }
            if (pos >= live_end(code, end)) {
                if (kind != ARG_LIT || !typeset::has_q(e, TYPE_unset)) fire_no_arg(slot, i);
                stack::push_slot()->header = TYPE_unset;
                break;
            }
            pos = kind == ARG_NORMAL ? fetch_normal(slot, i, code, pos, end, false)
                                     : fetch_one(kind, code, pos, end, false);
            if (exits::pending) [[unlikely]]
                return pos;
            check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
            break;
        }
        case TYPE_refinement:
            active = (on >> i) & 1;
            if (!native_like) logic::make_at(stack::push_slot(), active);
            else if (active)
                refs[e->data3 - 1] = static_cast<int32_t>(stack::top_slot - stack::arguments);
            break;
        case TYPE_integer:
            if (!native_like) push_locals(integer::get(e));
            break;
        default: break;
        }
    }
    const cell_t* result = stack::arguments;
    if (native_like) {
        run_entry(t, slot, refs);
        if (exits::pending) return pos;
    } else {
        complete_frame(function::context_of(slot));
        result = run_function(slot);
        if (result == nullptr) return pos;
    }
    finish_call(slot, push, result);
    return pos;
}

#include "interpreter/plans/runner.h"
// The runs of loops' blocks, which use the runner.
#include "interpreter/plans/loops.h"
// The runs of path nodes, which use the runner.
#include "interpreter/plans/paths.h"
// Chains of numbers computed with nothing run.
#include "interpreter/plans/quiet.h"

}  // namespace

int32_t eval_code(const cell_t* callee, const cell_t* code, int32_t pos, int32_t end, bool push,
                  int32_t word_pos, bool infix, const cell_t* path, int32_t ref_pos) {
    // The callee's slot receives the result; on the stack it also keeps the
    // callee alive while its arguments are evaluated.
    cell_t* slot = infix ? stack::top_slot - 2 : stack::push(callee);
    const cell_t* w = &anon_word;
    if (path != nullptr) {
        cell_t* head = block::rs_abs_at(path, block::head_index(path));
        if (type_of(head) == TYPE_word) w = head;
    } else if (word_pos >= 0) {
        cell_t* wc = cell_at(code, word_pos);
        if (type_of(wc) == TYPE_word) w = wc;
    }
    // The call's word, kept for its return event: w points into code that
    // may move.
    cell_t name = *w;
    if (tracing) [[unlikely]] {
        if (infix) stack::top_slot++;
        fire_event(event::OPEN, code, pos, nullptr, &name);
        if (infix) stack::top_slot--;
    }
    uint8_t t = type_of(slot);
    if (infix) stack::top_slot--;
    // name, not w: the tracer's open event may have moved the code.
    if (t == TYPE_function) stack::mark_interp_func(&name);
    else stack::mark_interp_native(&name);
    if (infix) stack::top_slot++;

    uint32_t plan = plan_of_callee(slot);
    if ((plan & PLAN_SIMPLE) && path == nullptr) [[likely]]
        pos = fetch_simple(plan, t, slot, code, pos, end, infix);
    else pos = fetch_args(slot, code, pos, end, path, ref_pos, mode::EVAL, infix);
    if (exits::pending) return pos;
    const cell_t* result = stack::arguments;
    if (t == TYPE_function) {
        complete_frame(function::context_of(slot));
        result = run_function(slot);
        if (result == nullptr) return pos;
    } else if (t == TYPE_routine) {
        call_routine(slot);
        if (exits::pending) return pos;
    }

    cell_t* target = finish_call(slot, push, result);
    if (tracing) [[unlikely]]
        fire_event(event::RETURN, code, pos, &name, target);
    return pos;
}

int32_t fetch_args(const cell_t* callee, const cell_t* code, int32_t pos, int32_t end,
                   const cell_t* path, int32_t ref_pos, int32_t mode, bool infix) {
    uint8_t t = type_of(callee);
    uint32_t plan = plan_of_callee(callee);
    if ((plan & PLAN_SIMPLE) && path == nullptr && mode == mode::EVAL) [[likely]]
        return fetch_simple(plan, t, callee, code, pos, end, infix);
    bool native_like = t == TYPE_native || t == TYPE_action;
    bool applying = (mode & 3) != 0;
    bool safer = (mode & mode::SAFER) != 0;
    node_t cache = arguments_cache(callee)->data2;
    if (native_like && path == nullptr && mode == mode::EVAL && !infix)
        if (const entry_arguments* d = described(t, callee->data1, cache))
            return fetch_described(d, t, callee, cache, code, pos, end);
    int32_t count = alloc::buffer(cache)->used() >> 4;

    // Every position starts unused, also past the spec's count: an entry
    // made with a shorter spec than its own reads -1, never garbage.
    int32_t refs[MAX_REFINEMENTS];
    int32_t ref_count = 0;
    if (native_like) {
        for (int32_t& r : refs) r = -1;
        if (count > 0) {
            cell_t* last = alloc::buffer(cache)->head_cell() + count - 1;
            if (type_of(last) == TYPE_integer)
                ref_count = std::min(integer::get(last), MAX_REFINEMENTS);
        }
    }

    // Fetches the argument of cache entry i and checks its type (check
    // false: an argument that is only consumed, its value dropped).
    auto argument = [&](int32_t i, bool first_infix, bool check = true) {
        cell_t* e = alloc::buffer(cache)->head_cell() + i;
        uint32_t kind = (e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT;
        if (first_infix) {
            check_arg(callee, i, e, stack::top_slot - 1);
            return;
        }
        int32_t limit = safer ? std::min(end, pos + 1) : end;
        if (pos >= live_end(code, limit)) {
            if (applying) {
                stack::push_slot()->header = TYPE_none;
                // Entry points trust their argument types: a none they do
                // not take (apply :if [1]) must stop here, not reach them.
                if (t != TYPE_function && check) {
                    e = alloc::buffer(cache)->head_cell() + i;
                    check_arg(callee, i, e, stack::top_slot - 1);
                }
                return;
            }
            if (kind == ARG_LIT && typeset::has_q(e, TYPE_unset)) {
                stack::push_slot()->header = TYPE_unset;
                return;
            }
            fire_no_arg(callee, i);
        }
        pos = fetch_one(kind, code, pos, limit, infix);
        if (exits::pending || !check) return;
        e = alloc::buffer(cache)->head_cell() + i;
        check_arg(callee, i, e, stack::top_slot - 1);
    };

    bool active = true;
    bool first = infix;
    int32_t ordinal = 0;
    for (int32_t i = 0; i < count; i++) {
        cell_t* e = alloc::buffer(cache)->head_cell() + i;
        switch (type_of(e)) {
        case TYPE_typeset:
            if (((e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) break;
            if (active) {
                argument(i, first);
                first = false;
                if (exits::pending) return pos;
            } else if (!native_like) {
                stack::push_slot()->header = TYPE_none;
            }
            break;
        case TYPE_refinement:
            ordinal++;
            if ((mode & 3) == mode::APPLY_ALL) {
                // The block gives each refinement's value; its arguments follow.
                bool on = false;
                if (pos < live_end(code, end)) {
                    int32_t limit = safer ? std::min(end, pos + 1) : end;
                    pos = eval_expression(code, pos, limit, false, true, false);
                    if (exits::pending) return pos;
                    on = logic::truthy(stack::top());
                    stack::pop(1);
                }
                if (native_like) {
                    if (on && ordinal <= ref_count)
                        refs[ordinal - 1] =
                            static_cast<int32_t>(stack::top_slot - stack::arguments);
                } else {
                    logic::make_at(stack::push_slot(), on);
                }
                // The arguments of a refinement that stays off are consumed
                // and dropped (none for functions), whatever their type: the
                // block must still give them, but nothing reads them. With
                // /safer they are skipped unevaluated, as a path's are.
                int32_t j = i + 1;
                for (; j < count; j++) {
                    cell_t* a = alloc::buffer(cache)->head_cell() + j;
                    if (type_of(a) != TYPE_typeset) break;
                    if (((a->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) continue;
                    if (!on && safer) {
                        if (pos < live_end(code, end)) pos++;
                        if (!native_like) stack::push_slot()->header = TYPE_none;
                        continue;
                    }
                    argument(j, false, on);
                    if (exits::pending) return pos;
                    if (!on) {
                        if (native_like) stack::pop(1);
                        else stack::top()->header = TYPE_none;
                    }
                }
                i = j - 1;
                break;
            }
            active = false;
            if (!native_like) logic::make_at(stack::push_slot(), false);
            break;
        case TYPE_integer:
            if (!native_like) push_locals(integer::get(e));
            break;
        default: break;
        }
    }

    // Refinements named by the path, in the path's order.
    if (path != nullptr && (mode & 3) != mode::APPLY_ALL) {
        uint64_t seen[4] = {0, 0, 0, 0};
        int32_t n = block::abs_length(path);
        for (int32_t k = ref_pos; k < n; k++) {
            cell_t element = *block::rs_abs_at(path, k);
            bool on = true;
            if (type_of(&element) == TYPE_get_word) {
                on = logic::truthy(_context::get(&element));
            } else if (type_of(&element) != TYPE_word) {
                fire(err::bad_refine, &element);
            }
            int32_t r = find_refinement(cache, symbol::resolve(word::symbol_of(&element)));
            if (r < 0) {
                cell_t fn = call_word();
                fire(err::no_refine, &fn, &element);
            }
            cell_t* e = alloc::buffer(cache)->head_cell() + r;
            int32_t mark = static_cast<int32_t>(e->data3);  // ordinal (natives) or slot
            if (r < 256) {
                uint64_t bit = uint64_t{1} << (r & 63);
                if (seen[r >> 6] & bit) {
                    cell_t p = *path;
                    fire(err::dup_refine, &p);
                }
                seen[r >> 6] |= bit;
            }
            if (native_like) {
                if (mark > ref_count) {
                    cell_t fn = call_word();
                    fire(err::no_refine, &fn, &element);
                }
                if (on) refs[mark - 1] = static_cast<int32_t>(stack::top_slot - stack::arguments);
            } else {
                logic::make_at(stack::arguments + mark, on);
            }
            int32_t slot = mark + 1;
            for (int32_t j = r + 1; j < count; j++) {
                cell_t* a = alloc::buffer(cache)->head_cell() + j;
                if (type_of(a) != TYPE_typeset) break;
                if (((a->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) continue;
                if (!on && safer) {
                    if (pos < live_end(code, end)) pos++;
                    continue;
                }
                argument(j, false);
                if (exits::pending) return pos;
                if (!native_like) {
                    if (on) stack::arguments[slot] = *stack::top();
                    stack::pop(1);
                    slot++;
                } else if (!on) {
                    stack::pop(1);
                }
            }
        }
    }

    if (tracing) [[unlikely]] {
        cell_t name = call_word();
        fire_event(event::CALL, code, pos, &name, callee);
    }
    run_entry(t, callee, refs);
    return pos;
}

void call_function(const cell_t* fn, const cell_t* word, uint32_t callback_kind) {
    // fn may be a stack cell that an exit passing through overwrites: take
    // what the way out needs now.
    node_t ctx = 0;
    if (type_of(fn) == TYPE_function) {
        ctx = function::context_of(fn);
        complete_frame(ctx);
    }
    const cell_t* code_cell = function::more(fn, function::MORE_CODE);
    // A callback is traced only when its kind is switched on, and then shows
    // its call and return.
    bool traced_callback = false;
    cell_t name;
    {
        function_run<true> run(ctx);
        if (callback_kind != callback::NONE && tracing_anywhere()) [[unlikely]] {
            if (callback_traced_q(callback_kind)) {
                traced_callback = tracing;
            } else {
                run.scope_tracing();
                set_tracing(false);
                library_caller_tracing = false;
            }
        }
        if (tracing) [[unlikely]] {
            name = word != nullptr ? *word : call_word();
            word = &name;
            if (traced_callback) fire_call(word, fn);
        }
        if (type_of(code_cell) == TYPE_integer && integer::get(code_cell) != 0) [[unlikely]] {
            routine::entry_t entry = routine::entry_at(integer::get(code_cell));
            if (entry == nullptr) fire(err::not_done);
            entry();
        } else {
            stack::set_exit_target(1);
            if (fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) [[unlikely]] {
                run.scope_tracing();
                if (fn->header & function::FLAG_NO_TRACE) set_tracing(false);
                if ((fn->header & function::FLAG_TRACE) && tracer_installed && !tracer_running) {
                    set_tracing(true);
                    if (word == nullptr) {
                        name = call_word();
                        word = &name;
                    }
                }
            }
            cell_t body = *function::more(fn, function::MORE_BODY);
            // A library function's body is compiled code: no prolog or
            // epilog, and nothing from inside it.
            bool body_traced =
                tracing &&
                !library_code::library_q(series::block_kind_q(type_of(&body)) ? body.data2 : 0);
            if (body_traced) [[unlikely]]
                fire_event(event::PROLOG, &body, -1, word, fn);
            if (series::block_kind_q(type_of(&body))) [[likely]] {
                eval(&body, true);
            } else {
                stack::set_last_keep(&unset_value);
            }
            if (!exits::pending) [[likely]] {
                if (body_traced && tracing) [[unlikely]]
                    fire_event(event::EPILOG, &body, -1, word, fn);
                stack::set_exit_target(0);
            }
        }
    }
    absorb_return();
    if (traced_callback && !exits::pending && tracing) [[unlikely]]
        fire_return(word, stack::arguments);
}

bool call_back(const cell_t* callee, const cell_t* frame_word, cell_t* args, int32_t count,
               uint32_t kind, cell_t* result) {
    cell_t* saved_top = stack::top_slot;
    cell_t* slot = stack::push(callee);  // keeps the callee alive for the call
    node_t ctx = type_of(slot) == TYPE_function ? function::context_of(slot) : 0;
    cell_t* first = stack::mark_func(frame_word, ctx);
    // The values go on the stack first: making the cache may collect, and a
    // value may be held nowhere else.
    for (int32_t i = 0; i < count; i++) stack::push(&args[i]);
    int32_t kept = count;
    if (ctx != 0) {
        // The frame as the spec lays it out: the leading arguments keep the
        // values (none past them), every refinement is off, locals none.
        cell_t cache = *arguments_cache(slot);
        stack::top_slot = first;
        kept = 0;
        bool active = true;
        for (int32_t i = 0; i < block::abs_length(&cache); i++) {
            const cell_t* e = block::rs_abs_at(&cache, i);
            switch (type_of(e)) {
            case TYPE_refinement:
                stack::push(&false_value);
                active = false;
                break;
            case TYPE_typeset:
                if (((e->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT) == ARG_RETURN) break;
                if (active && kept < count) stack::top_slot = first + ++kept;
                else stack::push(&none_value);
                break;
            case TYPE_integer: push_locals(integer::get(e)); break;
            default: break;
            }
        }
    }
    call_function(slot, frame_word, kind);
    if (exits::pending_q()) return false;
    *result = *stack::arguments;
    for (int32_t i = 0; i < kept; i++) args[i] = first[i];
    stack::unwind_func();
    stack::top_slot = saved_top;
    return true;
}

void run_checked(const cell_t* slot, int32_t n) {
    node_t cache = arguments_cache(slot)->data2;
    for (int32_t i = 0; i < n; i++)
        check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::arguments + i);
    run_entry(type_of(slot), slot, no_refinements);
}

void call_routine(const cell_t* r) {
    routine::entry_t entry = routine::entry_at(routine::code_of(r));
    if (entry == nullptr) fire(err::not_done);
    entry();
}

}  // namespace zuv::interpreter
