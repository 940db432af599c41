// The interpreter's own routines, shared by its units (interpreter.cpp: state
// and start-up; eval.cpp: blocks and expressions; calls.cpp: calls and their
// arguments) and the plan runner (plans/runner.h and its units), which calls
// them as the interpreter's own code does: code access, the native stack's
// limit, argument checks and fetches, the operand path, the infix lookahead,
// the runs of calls and conditionals, and what a function's run needs (the
// run itself, which takes the function's plan, is run_function in
// plans/runner.h). The hot ones are inline here, so that every unit that runs
// code keeps them in its own lines (the figures of bench/fib_forms.py depend
// on it); the others are declared here and defined with their comments.
// Other folders go through interpreter.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "datatypes/action_entries.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/op.h"
#include "datatypes/routine.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/fast_ops.h"
#include "interpreter/interpreter.h"
#include "interpreter/plans/nodes.h"
#include "interpreter/plans/plans.h"
#include "interpreter/trace.h"
#include "natives/ids.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/library_code.h"
#include "runtime/stack.h"

namespace zuv::interpreter {

// --- state ------------------------------------------------------------------------

// Frame words of the calls that have no word of their own.
extern cell_t body_word;
extern cell_t anon_word;
extern cell_t set_path_word;
extern int32_t local_symbol;  // canonical ids
extern int32_t system_symbol;
extern int32_t system_global_symbol;

// Below this native stack address an evaluation raises stack-overflow instead
// of running into the guard page. An interrupt request raises it to the top,
// so that the next test takes the slow path at no cost to the others.
extern std::atomic<uintptr_t> stack_limit;
extern uintptr_t normal_stack_limit;

// The positions of a call that uses no refinement.
constexpr int32_t no_refinements[MAX_REFINEMENTS] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                     -1, -1, -1, -1, -1, -1, -1, -1};

// The table slot of the `return` native.
constexpr uint32_t RETURN_SLOT = natives::slot_of(natives::id::return_);
// The table indexes of `if` and `either`, whose branches the interpreter runs
// itself (see run_conditional).
constexpr uint32_t IF_INDEX = natives::slot_of(natives::id::if_);
constexpr uint32_t EITHER_INDEX = natives::slot_of(natives::id::either);

// --- out of line ------------------------------------------------------------------
// The routines the inline ones below call, defined with their comments.

// interpreter.cpp
[[gnu::noinline]] void native_stack_exceeded();

// eval.cpp
[[gnu::cold, gnu::noinline]] const cell_t* traced_operator(const cell_t* code, int32_t pos,
                                                           int32_t* end, const cell_t** cells);
[[gnu::noinline, gnu::cold]] bool fast_routine(fast_op f, const cell_t* op, const cell_t* w,
                                               const cell_t* right);
// With check_origin (a function's body, a block a native runs: code that may
// come from elsewhere), the calls mark follows the block's origin first.
// Parens and branches written in the code need no check: they come from the
// same source as the code around them.
template <bool check_origin = false> cell_t* run_in_place(const cell_t* code);
[[gnu::noinline]] int32_t eval_paren(const cell_t* c, const cell_t* code, int32_t pos, int32_t end,
                                     bool infix);
[[gnu::noinline]] int32_t eval_set_word(const cell_t* c, int32_t live, const cell_t* code,
                                        int32_t pos, int32_t end);

// calls.cpp
[[noreturn, gnu::cold]] void fire_no_arg(const cell_t* callee, int32_t entry);
[[noreturn, gnu::cold]] void fire_expect_arg(const cell_t* callee, int32_t entry,
                                             const cell_t* value);
int32_t eval_return(const cell_t* callee, const cell_t* word, const cell_t* code, int32_t pos,
                    int32_t end);
[[gnu::noinline]] int32_t call_simple(const cell_t* fn, const cell_t* word, call_summary_t summary,
                                      const cell_t* code, int32_t pos, int32_t end, bool push);
[[gnu::noinline]] int32_t call_native(const cell_t* fn, const cell_t* word, call_summary_t summary,
                                      const cell_t* code, int32_t pos, int32_t end, bool push);
[[gnu::noinline]] int32_t call_conditional(const cell_t* fn, const cell_t* word,
                                           call_summary_t summary, const cell_t* code, int32_t pos,
                                           int32_t end, bool push);
[[gnu::noinline]] int32_t call_infix(cell_t* slot, const cell_t* word, call_summary_t summary,
                                     const cell_t* code, int32_t pos, int32_t end, bool push);
[[gnu::noinline]] int32_t call_refined(const cell_t* path, const cell_t* code, int32_t pos,
                                       int32_t end, bool push);
[[gnu::noinline]] const cell_t* run_compiled(const cell_t* fn, int32_t code);

// --- types ------------------------------------------------------------------------

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

// A short way's call (or a plan's) that began untraced, when its arguments
// switched tracing on: the call event the general path fires there.
[[gnu::cold, gnu::noinline]] void fire_resumed_call(const cell_t* callee, const cell_t* code,
                                                    int32_t pos);
// finish_call for such a call when its arguments or its run switched
// tracing on (`catch [trace true]`), with the return event.
[[gnu::cold, gnu::noinline]] void finish_resumed(cell_t* slot, bool push, const cell_t* result,
                                                 const cell_t* code, int32_t pos);

// --- inline -----------------------------------------------------------------------
// The inline routines have internal linkage, as they had when one unit held
// them all: each unit keeps its own copies, and GCC weighs inlining them as
// it did then (made external, the general path of bench/fib_forms.py's loops
// took two percent more instructions).

namespace {

// --- code access ------------------------------------------------------------------

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

// --- the native stack -------------------------------------------------------------

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

// --- arguments --------------------------------------------------------------------

inline void check_arg(const cell_t* callee, int32_t entry, const cell_t* types,
                      const cell_t* value) {
    if (!typeset::has_q(types, type_of(value))) [[unlikely]]
        fire_expect_arg(callee, entry, value);
}

// Whether an argument of a simple call summary must have its typeset read: always
// for a value of a seldom type, else only when some argument does not take
// every type.
inline bool check_needed(call_summary_t summary, const cell_t* value) {
    return !call_summary::any_types_q(summary) || seldom_q(value);
}

// check_arg for the argument just pushed as entry i of the callee at slot,
// its cache read through the nodes: fetching the argument may have allocated.
inline void check_argument(const cell_t* slot, int32_t i) {
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
}

// --- the infix lookahead ----------------------------------------------------------

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
        if (short_ways && pos + 1 < end) {
            fast_op f = fast_op_of(v);
            if (f != FAST_NONE) {
                // A cell of code that is not inert is no value yet: the
                // call evaluates it.
                const cell_t* right = w + 1;
                if (type_of(right) == TYPE_word) right = peek_value(right);
                else if (!inert_q(type_of(right))) right = nullptr;
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
        if (short_ways && (ct == TYPE_native || ct == TYPE_action) &&
            type_of(cache) == TYPE_block && call_summary::simple_with(cached_summary(cache), 2))
            [[likely]]
            pos = call_infix(left, w, cached_summary(cache), code, pos + 1, end, push);
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

// --- blocks -----------------------------------------------------------------------

// Whether the calls mark already says code of this origin runs (code_origin).
inline bool origin_fits(bool library) { return (stack::interpreted_mark == 0) == library; }

// --- expressions ------------------------------------------------------------------

// The direct call of a function, native or action of type vt, named by a
// word, whose call summary is simple, while nothing is traced.
[[gnu::always_inline]] inline int32_t call_direct(uint8_t vt, const cell_t* fn, const cell_t* word,
                                                  call_summary_t summary, const cell_t* code,
                                                  int32_t pos, int32_t end, bool push) {
    if (vt == TYPE_function) return call_simple(fn, word, summary, code, pos, end, push);
    if (vt == TYPE_native && (fn->data1 == IF_INDEX || fn->data1 == EITHER_INDEX) &&
        call_summary::args(summary) != 0)
        return call_conditional(fn, word, summary, code, pos, end, push);
    return call_native(fn, word, summary, code, pos, end, push);
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
    if (type_of(value) != TYPE_unset && short_ways) [[likely]] {
        if (cell_t* slot = set_word_slot(w)) [[likely]] {
            *slot = *value;
            *w = *value;
            return;
        }
    }
    word::set_star();
}

// return's argument is in place: checked, then straight to the exit.
inline void return_fetched(const cell_t* slot, call_summary_t summary) {
    if (check_needed(summary, stack::top_slot - 1)) {
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

// --- calls ------------------------------------------------------------------------

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
    return branch_taken(either,
                        either ? logic::truthy_strict(condition) : logic::truthy(condition));
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

// Whether the cell after c (at pos + 1, live the end) would start the infix
// lookahead of the value at c: a word holding an operator.
inline bool operator_follows(const cell_t* c, int32_t pos, int32_t live) {
    if (pos + 1 >= live || type_of(c + 1) != TYPE_word) return false;
    const cell_t* v = peek_value(c + 1);
    return v != nullptr && type_of(v) == TYPE_op;
}

// Pushes the value of the expression at pos (c, with live the end clamped to
// the block's tail) and returns the position after it; infix: the right
// operand of an operator, which takes no lookahead of its own. While nothing
// is traced the common forms skip eval_expression: a value that stands for
// itself, a word holding one, and a word naming a function, native or action
// whose call summary is simple. Nothing between reading a cell and pushing its value
// (or marking the call's frame) can allocate.
[[gnu::always_inline]] inline int32_t eval_operand(const cell_t* c, int32_t live,
                                                   const cell_t* code, int32_t pos, int32_t end,
                                                   bool infix) {
    if (short_ways) [[likely]] {
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
                    if (type_of(cache) == TYPE_block &&
                        call_summary::simple_q(cached_summary(cache))) [[likely]] {
                        pos =
                            call_direct(vt, v, c, cached_summary(cache), code, pos + 1, end, true);
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

// A frame shorter than the function's context would have the words past it
// read stack cells above the top: a spec changed after the function was made
// (spec-of gives the function's own block), or a caller that pushes a fixed
// number of values for a callback that takes more. The missing slots are
// filled as for a call from C++. call_simple needs none of this: a plan is
// simple only when its frame fills the context (build_cache).
inline void complete_frame(node_t ctx) {
    function::fill_frame(ctx, static_cast<int32_t>(stack::top_slot - stack::arguments));
}

// A return or exit that ended the function lands here: its value is the
// call's result.
inline void absorb_return() {
    if (exits::pending == exits::THROW_RETURN || exits::pending == exits::THROW_EXIT) {
        exits::take();
        stack::set_exit_target(0);
        stack::keep();
    }
}

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

// The arguments of a conditional from the one at index i on: a branch
// written as a block is pushed as it stands, anything else takes the operand
// path and its type check. Stops at a pending exit.
[[gnu::always_inline]] inline int32_t fetch_branches(cell_t* slot, int32_t i, int32_t count,
                                                     call_summary_t summary, const cell_t* code,
                                                     int32_t pos, int32_t end) {
    for (; i < count; i++) {
        int32_t live = end;
        const cell_t* c = live_cells(code, &live) + pos;
        if (call_summary::later_blocks_q(summary) && pos < live && type_of(c) == TYPE_block &&
            !operator_follows(c, pos, live)) [[likely]] {
            stack::push(c);
            pos++;
            continue;
        }
        pos = fetch_normal(slot, i, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(summary, stack::top_slot - 1)) check_argument(slot, i);
    }
    return pos;
}

}  // namespace

}  // namespace zuv::interpreter
