#include "interpreter/interpreter.h"

#include "lexer/lexer.h"
#include "natives/ids.h"

#include <pthread.h>

#include <algorithm>
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
#include "interpreter/fast_ops.h"
#include "interpreter/plan.h"
#include "interpreter/plans.h"
#include "interpreter/trace.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/words.h"
#include "startup/top_level.h"

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

namespace {

// Frame words of the calls that have no word of their own.
cell_t body_word;
cell_t anon_word;
cell_t set_path_word;
int32_t local_symbol = 0;  // canonical ids
int32_t system_symbol = 0;
int32_t system_global_symbol = 0;

// Below this native stack address an evaluation raises stack-overflow instead
// of running into the guard page.
uintptr_t stack_limit = 0;

// Natives and actions have at most 11 refinements; a spec with more than
// this many cannot name the extra ones.
constexpr int32_t MAX_REFINEMENTS = 16;
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

inline void check_native_stack() {
    // The stack pointer itself: asking for the frame address would make every
    // caller set up a frame pointer.
#if defined(__x86_64__)
    uintptr_t sp;
    asm("mov %%rsp, %0" : "=r"(sp));
#else
    auto sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
    if (sp < stack_limit) [[unlikely]]
        stack::overflow();
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

// The cache entry of the refinement named by symbol; -1 when there is none.
int32_t find_refinement(node_t cache, int32_t symbol) {
    series_buffer_t* b = alloc::buffer(cache);
    int32_t n = b->used() >> 4;
    cell_t* e = b->head_cell();
    for (int32_t i = 0; i < n; i++)
        if (type_of(e + i) == TYPE_refinement && symbol::resolve(word::symbol_of(e + i)) == symbol)
            return i;
    return -1;
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
    if (start_up_value(op::wrapped_type(op), op->data1) == nullptr) return false;
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
        stack_limit = reinterpret_cast<uintptr_t>(low) + margin;
    }
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
        set_tracing(saved_tracing);
        library_caller_tracing = saved_caller;
    }
    code_origin(const code_origin&) = delete;
    code_origin& operator=(const code_origin&) = delete;
};

inline bool origin_fits(bool library) { return (stack::interpreted_mark == 0) == library; }

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
    bool library = top_level::library_q(code->data2);
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
    cell_t* r = run_in_place<true>(block);
    if (r == nullptr) [[unlikely]]
        return;
    *stack::arguments = *r;
    stack::top_slot = stack::arguments + 1;
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
inline void store_set_word() {
    cell_t* w = stack::arguments;
    cell_t* value = w + 1;
    int32_t index = static_cast<int32_t>(w->data3);
    node_t ctx = w->data1;
    if (index >= 0 && ctx != 0 && type_of(value) != TYPE_unset) [[likely]] {
        cell_t* cc = _context::cell_of(ctx);
        if (_context::kind_of(cc) != _context::KIND_OBJECT) [[likely]] {
            cell_t* slot = nullptr;
            if (!(cc->header & FLAG_STACK_VALUES))
                slot = alloc::buffer(cc->data2)->head_cell() + index;
            else if (cc->data2 != 0) slot = stack::cell_at(cc->data2) + index;
            if (slot != nullptr) [[likely]] {
                *slot = *value;
                *w = *value;
                return;
            }
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
    // exit target: land there without the general walk.
    call_frame_t* own = stack::ctop - 1;
    call_frame_t* target = own - 1;
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
        pos = eval_path(&path, code, pos, end, false, false, push, false);
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
        stack::push_slot()->header = TYPE_unset;
        return base;
    }
    bool track = !(b->flags & top_level::LIBRARY_SERIES);
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

// `if` and `either` with their arguments in place and checked: the natives'
// work without their entries.
[[gnu::always_inline]] inline void run_conditional(uint32_t index) {
    cell_t* a = stack::arguments;
    uint8_t ct = type_of(a);
    bool truthy = logic::truthy(a);
    if (index == EITHER_INDEX) {
        if (ct == TYPE_unset) [[unlikely]]
            fire(err::no_return);
        run_branch(truthy ? a + 1 : a + 2);
        return;
    }
    if (!truthy) {
        a->header = TYPE_none;
        stack::top_slot = a + 1;
        return;
    }
    run_branch(a + 1);
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
    if (n == 2) {
        cell_t* a = stack::arguments;
        fast_op f = fast_op_of(t, callee->data1);
        if (f != FAST_NONE && fast_compute(f, a, a + 1)) {
            stack::top_slot = a + 1;
            return;
        }
    }
    run_entry(t, callee, no_refinements);
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
    ~function_run() {
        if (!general || ctx_ != 0) *stack::values_word(ctx_) = saved_values_;
        bool restored = general ? saved_tracing_ : false;
        // A library call from user code hands back the state `trace` asked for.
        if (caller_tracing_request >= 0 && from_user_) [[unlikely]] {
            restored = caller_tracing_request != 0;
            caller_tracing_request = -1;
        }
        // Mostly unchanged: the guard byte is written only on a change.
        if (tracing != restored) [[unlikely]]
            set_tracing(restored);
        if constexpr (general) library_caller_tracing = saved_caller_;
    }
    function_run(const function_run&) = delete;
    function_run& operator=(const function_run&) = delete;

private:
    node_t ctx_;
    bool from_user_;
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

// Runs the function at fn, its frame marked and filled; returns the cell
// holding its result, nullptr when an exit is pending.
// plain: a planned body calls it (so plans are on, and the caller is user
// code), and the callee's cell was seen with a body block, no compiled code
// and no trace flags (the plan's builder saw it): the same cell keeps them,
// as a function's more series is written only while it is made. Its body
// may then be a leaf taken with nothing run; quiet is cleared otherwise.
template <bool plain = false>
[[gnu::always_inline]] inline const cell_t* run_function(const cell_t* fn, bool* quiet = nullptr) {
    cell_t* more = alloc::buffer(fn->data3)->head_cell();
    const cell_t* compiled = more + function::MORE_CODE;
    if (tracing || (!plain && ((fn->header & (function::FLAG_NO_TRACE | function::FLAG_TRACE)) ||
                               !series::block_kind_q(type_of(more + function::MORE_BODY)) ||
                               (type_of(compiled) == TYPE_integer && integer::get(compiled) != 0))))
        [[unlikely]] {
        if (quiet != nullptr) *quiet = false;
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
        else p = plan::of_function(fn);
        if constexpr (plain) {
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
        result = p != nullptr ? run_planned_body<plain>(p, &body) : run_in_place<true>(&body);
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

// Whether the cell after c (at pos + 1, live the end) would start the infix
// lookahead of the value at c: a word holding an operator.
inline bool operator_follows(const cell_t* c, int32_t pos, int32_t live) {
    if (pos + 1 >= live || type_of(c + 1) != TYPE_word) return false;
    const cell_t* v = peek_value(c + 1);
    return v != nullptr && type_of(v) == TYPE_op;
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

// eval_code for a native or action named by a word, its plan simple, nothing
// traced: no path, no infix shuffle, no events.
[[gnu::noinline]] int32_t call_native(const cell_t* fn, const cell_t* word, uint32_t plan,
                                      const cell_t* code, int32_t pos, int32_t end, bool push) {
    check_native_stack();
    cell_t* slot = stack::push(fn);
    stack::mark_interp_native(word);
    // A handle stays the same when its buffer moves: read once, it serves
    // every argument's check.
    node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
    int32_t n = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    for (int32_t i = 0; i < n; i++) {
        pos = fetch_normal(slot, i, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(plan, stack::top_slot - 1))
            check_arg(slot, i, alloc::buffer(cache)->head_cell() + i, stack::top_slot - 1);
    }
    run_simple_entry(type_of(slot), slot, n);
    if (exits::pending) return pos;
    finish_call(slot, push);
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

// --- plans ---------------------------------------------------------------------------
// The runner of function-body plans (interpreter/plan.h). Each node does what
// the code above does for its expression, in the same order: the same
// frames, pushes, checks, position stores and depth checks. A node runs only
// where the walk stands at its position with the stamp unchanged and nothing
// traced; anywhere else, and when a word no longer holds what the plan
// expects, the expression goes through eval_operand or fetch_normal, and a
// block whose walk left the plan finishes on the interpreter's own path.

using plan::pnode_t;

// A run of a function's plan, from its body's start to its end, which holds
// while the guard byte is zero.
struct plan_run {
    const pnode_t* head;
    cell_t* frame;  // the function's arguments: its words' values
};

// The start of a run. It starts untraced (run_function tested tracing just
// before: verify mode checks it), so it clears the byte, and hands back the
// stamp's bit it found however it is left: each run sees the stamp's moves
// since its own start. (A recursive call, which its caller's run found the
// byte clear for, needs neither: run_self.)
struct plan_start : plan_run {
    uint8_t outer = stamp::guard;

    plan_start(const pnode_t* h, cell_t* f) : plan_run{h, f} { stamp::guard = 0; }
    ~plan_start() { stamp::guard |= outer; }
    plan_start(const plan_start&) = delete;
    plan_start& operator=(const plan_start&) = delete;
};

// The stamp unchanged and nothing traced: one compare.
inline bool plan_holds(const plan_run&) { return stamp::guard == 0; }

[[gnu::always_inline]] inline int32_t run_node(const plan_run& x, const pnode_t* n,
                                               const cell_t* code, int32_t pos, int32_t end,
                                               bool infix, bool* quiet = nullptr);
[[gnu::always_inline]] inline cell_t* run_planned(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code, bool guards_read);
[[gnu::always_inline]] inline const cell_t* plan_leaf(const plan_run& x, const pnode_t* n);
inline const cell_t* plan_lane_operand(const plan_run& x, const pnode_t* n, uint32_t source);
[[gnu::always_inline]] inline int32_t plan_simple_infix(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool* computed = nullptr);

// The value of a planned block of one leaf (ONE_LEAF), a paren's or a
// branch's, when that is a plain value: what running the block would leave,
// taken with nothing run. nullptr otherwise.
[[gnu::always_inline]] inline const cell_t* plan_leaf_value(const plan_run& x,
                                                            const pnode_t* block) {
    if (!(block->header & plan::ONE_LEAF)) return nullptr;
    const cell_t* value = plan_leaf(x, block + 2);
    if (value == nullptr || !plain_value_q(type_of(value))) [[unlikely]]
        return nullptr;
    return value;
}

// The position a block of one expression leaves once that ran: its head.
[[gnu::always_inline]] inline void plan_block_position(const pnode_t* block, const cell_t* code) {
    *position = *code;
    position->data1 = static_cast<uint32_t>(block->pos);
}

// The interpreter's own path for the expression at pos.
[[gnu::noinline]] int32_t plan_fallback(const pnode_t* n, const cell_t* code, int32_t pos,
                                        int32_t end, bool infix) {
    plan::count_fallback(n);
    int32_t live = end;
    const cell_t* c = live_cells(code, &live) + pos;
    return eval_operand(c, live, code, pos, end, infix);
}

// The interpreter's lookahead and operator loop, out of the planned code.
[[gnu::noinline, gnu::cold]] int32_t plan_lookahead_generic(const cell_t* code, int32_t pos,
                                                            int32_t end) {
    return lookahead(code, pos, end);
}
[[gnu::noinline, gnu::cold]] int32_t plan_infix_generic(const cell_t* code, int32_t pos,
                                                        int32_t end) {
    return infix_loop(code, pos, end, true);
}
// The rest of a block that left its plan: run_in_place's loop from pos, the
// value of the expression just run on top.
[[gnu::noinline]] cell_t* plan_block_generic(const cell_t* code, int32_t pos, int32_t end,
                                             cell_t* base) {
    for (;;) {
        int32_t live = alloc::buffer(code->data2)->used() >> 4;
        if (live < end) end = live;
        if (pos >= end) return base;
        stack::top_slot = base;
        *position = *code;
        position->data1 = static_cast<uint32_t>(pos);
        pos = eval_operand(cell_at(code, pos), end, code, pos, end, false);
        if (exits::pending) [[unlikely]]
            return nullptr;
    }
}

// Whether the cell at pos is a word holding an operator now: the probe of a
// word the builder left no entry for (its context's values on the stack),
// out of line to keep the probe sites small.
[[gnu::noinline]] bool op_at(const cell_t* code, int32_t pos) {
    const cell_t* v = peek_value(cell_at(code, pos));
    return v != nullptr && type_of(v) == TYPE_op;
}

// The statement before statement n in its planned block; nullptr for the
// first.
const pnode_t* statement_before(const pnode_t* head, const pnode_t* n) {
    for (int32_t i = 1; i < head->aux; i++) {
        const pnode_t* b = head + i;
        if (b->kind() != plan::K_BLOCK) continue;
        const pnode_t* before = nullptr;
        for (const pnode_t* s = b + 2; s->kind() != plan::K_END; s += plan::size_of(s)) {
            if (s == n) return before;
            before = s;
        }
    }
    return nullptr;
}

// Statement n, at pos, whose first read answers the probe the statement
// before it left out (ANSWERS_PROBE), found the word there holding an
// operator: that statement's value is the operator's left operand, and the
// operator loop goes on as after the probe. Nothing ran since that
// statement's value was made: it is still at the top (the base), or, for a
// word of the function's own context, which the block's loop takes without
// a push, read again as it was. Position: the statement's, as the probe
// would have left it.
[[gnu::noinline, gnu::cold]] int32_t plan_answer(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* before = statement_before(x.head, n);
    if (before == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    if (before->kind() == plan::K_LOCAL) stack::push(x.frame + before->aux);
    else stack::top_slot++;
    position->data1 = static_cast<uint32_t>(before->pos);
    return infix_loop(code, pos, end, true);
}

// A call's or a native's statement n whose guard failed: plan_answer's
// case when its read answers a probe (REF_ANSWERS_PROBE), else the
// interpreter's path.
[[gnu::noinline, gnu::cold]] int32_t plan_call_missed(const plan_run& x, const pnode_t* n,
                                                      const cell_t* code, int32_t pos, int32_t end,
                                                      bool infix) {
    if (!infix && (n[1].header & plan::REF_ANSWERS_PROBE) && op_at(code, pos))
        return plan_answer(x, n, code, pos, end);
    return plan_fallback(n, code, pos, end, infix);
}

// The cell a word holds, read where its context's values live (a node the
// builder noted in the node's aux: a leaf, a probe's entry).
[[gnu::always_inline]] inline const cell_t* plan_global(const pnode_t* n) {
    return alloc::buffer(static_cast<node_t>(n->aux))->head_cell() + n->value.data3;
}

// The cell a K_WORD leaf's word holds: where its context's values live when
// the builder noted that node (its aux), else through the word's context;
// nullptr when it has none to read.
[[gnu::always_inline]] inline const cell_t* plan_word(const pnode_t* n) {
    if (n->aux != 0) [[likely]]
        return plan_global(n);
    return peek_value(&n->value);
}

// The probe of node n, its holder's small field read (plan::probe_holder):
// whether the word at pos, after it, holds an operator now. A word of the
// function's own context is read from the frame, where its context reads it
// while the body runs; another where its context's values live, through the
// entry node the builder made for it, if any. The stamp the caller read says
// the word's cell, and so its binding, are the ones the builder saw. The
// readings end on one test: a test each cost a flag set and tested.
[[gnu::always_inline]] inline bool op_probed(const plan_run& x, const pnode_t* n,
                                             const pnode_t* holder, const cell_t* code,
                                             int32_t pos) {
    uint32_t small = holder->small();
    const cell_t* v;
    if (n->header & plan::PROBE_LOCAL) v = x.frame + small;
    else if (small != 0) [[likely]] v = plan_global(x.head + small);
    else return op_at(code, pos);
    return type_of(v) == TYPE_op;
}

// The probe of node n, of any kind.
[[gnu::always_inline]] inline bool op_after(const plan_run& x, const pnode_t* n, const cell_t* code,
                                            int32_t pos) {
    return op_probed(x, n, plan::probe_holder(n), code, pos);
}

// The lookahead after the value of node n, which ended at pos.
[[gnu::always_inline]] inline int32_t plan_lookahead(const plan_run& x, const pnode_t* n,
                                                     const cell_t* code, int32_t pos, int32_t end) {
    if (pos != n->end || !plan_holds(x)) [[unlikely]]
        return plan_lookahead_generic(code, pos, end);
    if (!n->probe()) return pos;
    if (op_after(x, n, code, pos)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    return pos;
}

// The value a node expects its word (the K_WORDREF after it) to hold: a
// call's callee, a conditional's or return's native, an operator step's op!;
// nullptr when the word holds something else now. The word is read where its
// context's values live, a node the builder noted in the K_WORDREF (a
// context keeps it from its making, and the plan keeps the word's context
// alive). A callee's arguments plan goes with the cell: its cache, once made
// (the builder saw it made), is never made again.
[[gnu::always_inline]] inline const cell_t* plan_expected(const pnode_t* n) {
    const pnode_t* ref = n + 1;
    const cell_t* v = alloc::buffer(static_cast<node_t>(ref->end))->head_cell() + ref->value.data3;
    // As two words: a memcmp the compiler judges cold becomes a call.
    uint64_t now[2], expected[2];
    std::memcpy(now, v, sizeof now);
    std::memcpy(expected, &n->value, sizeof expected);
    if (((now[0] ^ expected[0]) | (now[1] ^ expected[1])) != 0) [[unlikely]]
        return nullptr;
    return v;
}

int32_t plan_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
                  bool infix);
int32_t plan_native(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                    int32_t end, bool infix);
[[gnu::always_inline]] inline int32_t plan_conditional(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t pos, int32_t end,
                                                       bool infix);
int32_t conditional_body(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                         int32_t end);
int32_t conditional_called(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                           int32_t end, bool infix);
int32_t conditional_lane(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                         int32_t end, bool infix);
int32_t plan_infix(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                   int32_t end);
int32_t plan_other(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                   int32_t end, bool infix);
int32_t plan_paren(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                   int32_t end, bool infix);
[[gnu::always_inline]] inline int32_t plan_paren_inline(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool infix);

// Argument i of the call at slot: its node when the walk is on it, else the
// interpreter's fetch. first: the argument right after the call's word,
// whose node the walk is on with the guards its caller read (pushing the
// callee and its frame ran nothing).
[[gnu::always_inline]] inline int32_t plan_argument(const plan_run& x, const pnode_t* a,
                                                    const cell_t* slot, int32_t i,
                                                    const cell_t* code, int32_t pos, int32_t end,
                                                    bool infix, bool first) {
    if (first || (a->pos == pos && plan_holds(x))) [[likely]]
        return run_node(x, a, code, pos, end, infix);
    return fetch_normal(slot, i, code, pos, end, infix);
}

// finish_call(slot, true) for a frame the plan pushed itself, its result at
// result.
[[gnu::always_inline]] inline void finish_planned(cell_t* slot,
                                                  const cell_t* result = stack::arguments) {
    finish_pushed(slot, true, result);
}

// finish_planned for a call whose frame was marked over the tops given: a
// call that ended with no exit pending popped every frame it marked, so its
// own is the innermost, and that frame's base is the caller's.
[[gnu::always_inline]] inline void finish_marked(const stack::tops_t& caller, cell_t* slot,
                                                 const cell_t* result) {
    stack::ctop = caller.ctop;
    stack::arguments = caller.arguments;
    *slot = *result;
    stack::top_slot = slot + 1;
}

// run_node for a node run where its value is not taken as an infix operand,
// computed set when the operators' lane computed it (see plan_simple_infix):
// the tests for a pending exit and for a seldom type need not follow. quiet
// as run_node sets it.
[[gnu::always_inline]] inline int32_t plan_computing(const plan_run& x, const pnode_t* n,
                                                     const cell_t* code, int32_t pos, int32_t end,
                                                     bool* computed, bool* quiet = nullptr) {
    if (n->header & plan::SIMPLE_INFIX) return plan_simple_infix(x, n, code, pos, end, computed);
    return run_node(x, n, code, pos, end, false, quiet);
}

// The arguments after the first, whose node is a.
[[gnu::noinline]] int32_t plan_later_arguments(const plan_run& x, const pnode_t* a, cell_t* slot,
                                               int32_t count, uint32_t plan, const cell_t* code,
                                               int32_t pos, int32_t end) {
    for (int32_t i = 1; i < count; i++) {
        a += plan::size_of(a);
        pos = plan_argument(x, a, slot, i, code, pos, end, false, false);
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(plan, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, i);
    }
    return pos;
}

// The arguments of the call at slot from its first argument's node a on,
// each checked as the interpreter's fetch does. Stops at a pending exit.
// quiet, when given, is set where the call's one argument was a leaf whose
// probe just found no operator after it (run_node's quiet).
[[gnu::always_inline]] inline int32_t plan_arguments(const plan_run& x, const pnode_t* a,
                                                     cell_t* slot, int32_t count, uint32_t plan,
                                                     const cell_t* code, int32_t pos, int32_t end,
                                                     bool* quiet = nullptr) {
    if (count == 0) return pos;
    // The first apart: most calls take one argument, and the loop's values
    // need not live across it.
    bool computed = false;
    bool leaf = false;
    pos = plan_computing(x, a, code, pos, end, &computed, quiet != nullptr ? &leaf : nullptr);
    if (!computed) {
        if (exits::pending) [[unlikely]]
            return pos;
        if (check_needed(plan, stack::top_slot - 1)) [[unlikely]]
            check_argument(slot, 0);
    } else if (!(plan & PLAN_ANY_TYPES)) [[unlikely]] {
        check_argument(slot, 0);
    }
    if (count == 1) [[likely]] {
        if (quiet != nullptr) *quiet = leaf;
        return pos;
    }
    return plan_later_arguments(x, a, slot, count, plan, code, pos, end);
}

// The rest of a branch block after its one node ended before the block's
// end (a stamp moved while it ran): as run_planned goes on from there.
[[gnu::noinline]] cell_t* plan_branch_rest(const pnode_t* block, const cell_t* code, int32_t pos,
                                           int32_t end, cell_t* base) {
    end = live_end(code, end);
    if (pos >= end) return base;
    plan::count_fallback(block);
    return plan_block_generic(code, pos, end, base);
}

// run_planned for a planned conditional's branch, a paren or a recursive
// call's body (the guards read): a block of one expression, the common case,
// runs without the block loop. After its node the block is over wherever the
// stamp stands, so the guards need no reading there. body: a recursive
// function's body, most often one conditional, which is tried before
// run_node's walk through the kinds.
template <bool body = false>
[[gnu::always_inline]] inline cell_t* plan_block_run(const plan_run& x, const pnode_t* block,
                                                     const cell_t* code) {
    const pnode_t* n = block + 2;
    if (!(block->header & plan::ONE_EXPRESSION)) [[unlikely]]
        return run_planned(x, block, code, true);
    int32_t pos = block->pos;
    int32_t end = block->end;
    cell_t* base = stack::top_slot;
    *position = *code;
    position->data1 = static_cast<uint32_t>(pos);
    if (body && n->kind() == plan::K_COND)
        pos = (n[1].header & plan::LANE_CONDITION) ? conditional_lane(x, n, code, pos, end, false)
                                                   : conditional_body(x, n, code, pos, end);
    else pos = run_node(x, n, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return nullptr;
    if (pos >= end) [[likely]]
        return base;
    return plan_branch_rest(block, code, pos, end, base);
}
template <bool body = false>
[[gnu::always_inline]] inline cell_t* plan_branch(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code) {
    if constexpr (body) {
        return plan_block_run<true>(x, block, code);
    } else {
        // A nested block: the position back as the interpreter gives it.
        nested_position kept;
        cell_t* r = plan_block_run(x, block, code);
        if (r != nullptr) [[likely]]
            kept.restore();
        return r;
    }
}

// run_function for a recursive call, its frame filled: the callee is the
// function whose plan runs, so that plan serves it while the stamp holds
// (its body and compiled code never change, and its trace flags passed
// when the running call began). Returns the cell that holds the result,
// nullptr when an exit is pending.
[[gnu::always_inline]] inline const cell_t* run_self(const plan_run& x, cell_t* slot) {
    cell_t* result;
    {
        function_run<false, true> run(function::context_of(slot), slot + 1);
        stack::ctop[-1].header |= frame::EXIT_TARGET;
        plan::count(plan::C_RUN);
        const pnode_t* block = x.head + 1;
        // The caller found the guard byte clear just before, and nothing ran
        // since: this run starts with it clear and has no bit to hand back.
        const plan_run y{x.head, slot + 1};
        result = body_done(plan_branch<true>(y, block, &block->value), &block->value, slot);
    }
    return call_result(result);
}

// A planned body of one leaf holding a plain value gives that value with
// nothing run: its run would only store the body's head as the position and
// push the value, which the caller copies to the callee's slot (so the stack
// must have the room). Nothing reads the context's values word, the guard
// byte or the tracing state that run sets and gives back, unless a `trace`
// request waits for the call's end. nullptr: the body runs.
[[gnu::always_inline]] inline const cell_t* plan_body_leaf(const pnode_t* head,
                                                           const cell_t* body) {
    const pnode_t* block = head + 1;
    if (!(block->header & plan::ONE_LEAF)) [[likely]]
        return nullptr;
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        caller_tracing_request >= 0 || stack::top_slot + 1 >= stack::end) [[unlikely]]
        return nullptr;
    const cell_t* value = plan_leaf_value(plan_run{head, stack::arguments}, block);
    if (value == nullptr) [[unlikely]]
        return nullptr;
    plan::count(plan::C_RUN);
    plan_block_position(block, body);
    return value;
}

// The frame of the call whose word's node is ref, its callee just pushed at
// slot: the record as mark_interp_func or mark_interp_native writes it, its
// header made by the builder.
[[gnu::always_inline]] inline void plan_mark(const pnode_t* ref, cell_t* slot) {
    stack::push_frame_made(static_cast<uint32_t>(ref->pos), ref->value.data1, slot + 1);
}

// The callee of call node n (a call, a native's or a conditional) pushed and
// its frame marked; nullptr when its word no longer holds it.
[[gnu::always_inline]] inline cell_t* plan_push_callee(const pnode_t* n) {
    const cell_t* v = plan_expected(n);
    if (v == nullptr) [[unlikely]]
        return nullptr;
    check_native_stack();
    cell_t* slot = stack::push(v);
    plan_mark(n + 1, slot);
    return slot;
}

// A call of a function that is not the plan's own or not plain: the
// general run, out of plan_call's lines.
[[gnu::noinline]] const cell_t* run_other_function(const cell_t* slot) {
    return run_function(slot);
}

// plan_call past its callee's push, self for a recursive call (SELF_CALL).
template <bool self>
[[gnu::always_inline]] inline int32_t
plan_call_body(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
               bool infix, const stack::tops_t& caller, cell_t* slot) {
    const pnode_t* ref = n + 1;
    auto plan = static_cast<uint32_t>(ref->aux);
    bool quiet = false;
    pos = plan_arguments(x, n + 2, slot, static_cast<int32_t>(n->small()), plan, code, pos + 1, end,
                         self ? nullptr : &quiet);
    if (exits::pending) [[unlikely]]
        return pos;
    push_locals(static_cast<int32_t>((plan >> PLAN_LOCALS_SHIFT) & 0xFFFF));
    // A plan runs for user code called from user code, and only code_origin
    // changes the interpreted mark, putting it back however it is left: the
    // caller is user code here.
    const cell_t* result;
    if (self && plan_holds(x)) [[likely]]
        result = run_self(x, slot);
    else if (!self && (ref->header & plan::PLAIN_CALL)) [[likely]]
        result = run_function<true>(slot, &quiet);
    else result = run_other_function(slot);
    if (result == nullptr) [[unlikely]]
        return pos;
    finish_marked(caller, slot, result);
    // A body of one leaf ran nothing since the argument's probe read the
    // word after the call: the lookahead would find what that probe did.
    if (infix || quiet) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

// plan_call, apart for a recursive call (self) and any other: neither
// keeps the other's values in its registers.
template <bool self>
[[gnu::noinline]] int32_t plan_call_of(const plan_run& x, const pnode_t* n, const cell_t* code,
                                       int32_t pos, int32_t end, bool infix) {
    stack::tops_t caller = stack::tops();
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_call_missed(x, n, code, pos, end, infix);
    return plan_call_body<self>(x, n, code, pos, end, infix, caller, slot);
}

// The value of the leaf that is the body of a callee taking its arguments
// at args (as its frame would hold them, count of them): nullptr unless it
// holds a plain value.
[[gnu::always_inline]] inline const cell_t* leaf_body_value(const pnode_t* leaf, const cell_t* args,
                                                            int32_t count) {
    const cell_t* v = &leaf->value;
    if (leaf->kind() == plan::K_LOCAL) {
        if (leaf->aux >= count) [[unlikely]]
            return nullptr;
        v = args;
    } else if (leaf->kind() == plan::K_WORD) {
        v = peek_value(v);
        if (v == nullptr) [[unlikely]]
            return nullptr;
    }
    return plain_value_q(type_of(v)) ? v : nullptr;
}

// Whether the probe of node n (its holder given) finds no operator in the
// word after it, read in the frame or through the entry node: false too when
// the word has to be looked up (which is a call).
[[gnu::always_inline]] inline bool no_op_probed(const plan_run& x, const pnode_t* n,
                                                const pnode_t* holder) {
    uint32_t small = holder->small();
    const cell_t* v;
    if (n->header & plan::PROBE_LOCAL) v = x.frame + small;
    else if (small != 0) [[likely]] v = plan_global(x.head + small);
    else return false;
    return type_of(v) != TYPE_op;
}

// A plain call (LEAF_BODY) of a function whose planned body is one leaf
// holding a plain value, its one argument, if any, a leaf holding a plain
// value that needs no check, with no operator after the call: nothing would
// run between marking the call's frame and popping it, so no frame is
// marked and the callee's value goes straight to the slot the callee would
// have been pushed to. The position is stored as the body's run leaves it.
// False, nothing done, for anything else, and where the call would fail a
// check (room on both stacks) or look a word up: the call's way then raises
// what it raises there. With no argument, the lookahead after the call is
// made before it (nothing runs in between); with one, the argument's probe
// reads the same word. Nothing here is a call, so the routine it is inline
// in needs no registers saved for its fast way. The body's position is left
// only where it stays (placed): a statement of a block that is not its last
// is followed by the block's own position.
[[gnu::always_inline]] inline bool plan_call_leaf(const plan_run& x, const pnode_t* n,
                                                  bool placed = true) {
    const cell_t* fn = plan_expected(n);
    if (fn == nullptr) [[unlikely]]
        return false;
    check_native_stack();
    const cell_t* more = alloc::buffer(fn->data3)->head_cell();
    const cell_t* m = more + function::MORE_PLAN;
    if (type_of(m) != TYPE_block || stack::top_slot + 3 >= stack::end ||
        stack::ctop >= stack::cend || caller_tracing_request >= 0) [[unlikely]]
        return false;
    const pnode_t* head = plan::held_plan(m);
    const pnode_t* block = head + 1;
    const cell_t* body = more + function::MORE_BODY;
    if (static_cast<uint32_t>(head->end) != plan::epoch || head->pos < 0 ||
        !(block->header & plan::ONE_LEAF) || body->data2 != block->value.data2 ||
        body->data1 != block->value.data1) [[unlikely]]
        return false;
    const cell_t* arg = nullptr;
    const pnode_t* probed = n;  // the node whose probe reads the word after the call
    const pnode_t* holder = n + 1;
    auto count = static_cast<int32_t>(n->small());
    if (count != 0) {
        const pnode_t* a = n + 2;
        uint8_t kind = a->kind();
        if (kind == plan::K_LOCAL) arg = x.frame + a->aux;
        else if (kind == plan::K_LIT) arg = &a->value;
        else if (kind == plan::K_WORD) arg = peek_value(&a->value);
        if (arg == nullptr || !plain_value_q(type_of(arg)) ||
            check_needed(static_cast<uint32_t>(n[1].aux), arg)) [[unlikely]]
            return false;
        probed = a;
        holder = a;
    }
    if (probed->probe() && !no_op_probed(x, probed, holder)) [[unlikely]]
        return false;
    const cell_t* value = leaf_body_value(block + 2, arg, count);
    if (value == nullptr) [[unlikely]]
        return false;
    plan::count(plan::C_RUN);
    if (placed) plan_block_position(block, body);
    *stack::top_slot++ = *value;
    return true;
}

// A call marked LEAF_BODY: plan_call_leaf's short way, else the call's.
[[gnu::noinline]] int32_t plan_call_leaf_body(const plan_run& x, const pnode_t* n,
                                              const cell_t* code, int32_t pos, int32_t end,
                                              bool infix) {
    if (plan_call_leaf(x, n)) [[likely]]
        return pos + 1 + static_cast<int32_t>(n->small());
    return plan_call_of<false>(x, n, code, pos, end, infix);
}

// plan_call for a call that is not recursive: a test and a jump, out of the
// lines of the callers plan_call is inline in (there the test made the
// recursive call's path spill more).
[[gnu::noinline]] int32_t plan_call_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end, bool infix) {
    if (n[1].header & plan::LEAF_BODY) return plan_call_leaf_body(x, n, code, pos, end, infix);
    return plan_call_of<false>(x, n, code, pos, end, infix);
}

// call_simple with planned arguments.
int32_t plan_call(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos, int32_t end,
                  bool infix) {
    if (n[1].header & plan::SELF_CALL) return plan_call_of<true>(x, n, code, pos, end, infix);
    return plan_call_other(x, n, code, pos, end, infix);
}

// call_native with planned arguments.
[[gnu::noinline]] int32_t plan_native(const plan_run& x, const pnode_t* n, const cell_t* code,
                                      int32_t pos, int32_t end, bool infix) {
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_call_missed(x, n, code, pos, end, infix);
    auto count = static_cast<int32_t>(n->small());
    pos =
        plan_arguments(x, n + 2, slot, count, static_cast<uint32_t>(n[1].aux), code, pos + 1, end);
    if (exits::pending) [[unlikely]]
        return pos;
    run_simple_entry(type_of(slot), slot, count);
    if (exits::pending) return pos;
    finish_planned(slot);
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

// The branches of a planned conditional past its condition, when they do
// not all take the planned way (the walk is off them, a guard moved, the
// stack is full, an operator follows the last): pushed as the plan has them
// while it can, the rest fetched as call_conditional does.
[[gnu::noinline]] int32_t conditional_rest(const plan_run& x, const pnode_t* n, cell_t* slot,
                                           const cell_t* code, int32_t pos, int32_t end,
                                           bool infix) {
    auto plan = static_cast<uint32_t>(n[1].aux);
    auto count = static_cast<int32_t>(plan & PLAN_ARGS_MASK);
    const pnode_t* branches = n + 2 + plan::size_of(n + 2);
    int32_t i = 1;
    if (branches->pos == pos && plan_holds(x)) {
        for (; i < count; i++) {
            const pnode_t* b = branches + i - 1;
            if (b->probe() && op_probed(x, b, b, code, pos + 1)) break;
            stack::push(&b->value);
            pos++;
        }
    }
    bool planned = i == count;
    pos = fetch_branches(slot, i, count, plan, code, pos, end);
    if (exits::pending) [[unlikely]]
        return pos;
    if (planned) {
        cell_t* args = stack::arguments;
        bool truthy = logic::truthy(args);
        int32_t k = 0;
        if (n->small() == EITHER_INDEX) {
            if (type_of(args) == TYPE_unset) fire(err::no_return);
            k = truthy ? 0 : 1;
        } else if (!truthy) {
            k = -1;
        }
        if (k < 0) {
            args->header = TYPE_none;
            stack::top_slot = args + 1;
        } else {
            nested_position kept;
            cell_t* r = run_planned(x, x.head + branches[k].aux, args + 1 + k, true);
            if (r == nullptr) return pos;
            kept.restore();
            *stack::arguments = *r;
            stack::top_slot = stack::arguments + 1;
        }
    } else {
        run_simple_entry(TYPE_native, slot, count);
    }
    if (exits::pending) return pos;
    finish_planned(slot);
    if (infix) return pos;
    return plan_lookahead(x, n, code, pos, end);
}

// Where the walk goes on after a planned conditional, its value on top.
// probed: the last branch when nothing ran since its probe, which read the
// same word as the lookahead's (and found no operator there).
[[gnu::always_inline]] inline int32_t conditional_next(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t end, bool infix,
                                                       const pnode_t* probed) {
    if (infix || (probed != nullptr && (!n->probe() || probed->probe()))) return n->end;
    return plan_lookahead(x, n, code, n->end, end);
}

// The value of a planned conditional into the callee's slot (the cell under
// the frame's arguments), as finish_planned leaves it, then the lookahead.
// probed: the last branch when nothing ran since its probe, which read the
// same word as the lookahead's (and found no operator there).
[[gnu::always_inline]] inline int32_t conditional_value(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t end, bool infix,
                                                        cell_t* slot, const cell_t* value,
                                                        const pnode_t* probed) {
    *slot = *value;
    call_frame_t* f = --stack::ctop;
    stack::arguments = stack::cell_at(f->prev);
    stack::top_slot = slot + 1;
    return conditional_next(x, n, code, end, infix, probed);
}

// plan_conditional when its condition is two integers the operators' lane
// computes: it runs nothing and can raise nothing. The condition is then
// taken before the conditional's frame is marked, into the cell that frame
// takes as its first argument, and a branch of one plain value is taken
// with no frame at all: nothing could see that frame between its marking
// and its end. The room the frame and its arguments take is checked first,
// so a full stack still raises where the conditional's own path would.
// False, having changed nothing anybody reads, when the condition is not of
// that kind now. (A leaf condition: conditional_leaf.)
[[gnu::always_inline]] inline bool conditional_quiet(const plan_run& x, const pnode_t* n,
                                                     const cell_t* code, int32_t end, bool infix,
                                                     int32_t* next) {
    const pnode_t* c = n + 2;
    cell_t* slot = stack::top_slot;
    if (slot + 5 >= stack::end || stack::ctop >= stack::cend) [[unlikely]]
        return false;
    const cell_t* v = plan_expected(n);
    if (v == nullptr) [[unlikely]]
        return false;
    check_native_stack();
    cell_t* args = slot + 1;
    bool truthy;
    // A local compared with a literal, the common condition, read with no
    // test of the sources.
    uint32_t sources = c->value.data1;
    const cell_t* left = x.frame + c[1].aux;
    const cell_t* right = &c[4].value;
    if (sources != (plan::INFIX_LANE | plan::INFIX_RIGHT_LITERAL)) {
        left = plan_lane_operand(x, c + 1, sources >> 2);
        right = plan_lane_operand(x, c + 4, sources);
    }
    if (type_of(left) != TYPE_integer || type_of(right) != TYPE_integer ||
        plan_expected(c + 2) == nullptr) [[unlikely]]
        return false;
    *args = *left;
    if (!fast_integers(static_cast<fast_op>(c->value.data2), args, integer::get(left),
                       integer::get(right), &truthy)) [[unlikely]]
        return false;
    const pnode_t* first = c + 5;  // the lane's five nodes
    bool either = n->small() == EITHER_INDEX;
    const pnode_t* last = first + (either ? 1 : 0);
    if (last->probe() && !(n[1].header & plan::OWN_WORD_AFTER) &&
        op_probed(x, last, last, code, last->end)) [[unlikely]]
        return false;
    int32_t k = truthy ? 0 : 1;
    if (!either && !truthy) {
        *slot = *args;
        slot->header = TYPE_none;
        stack::top_slot = slot + 1;
        *next = conditional_next(x, n, code, end, infix, last);
        return true;
    }
    const pnode_t* block = x.head + first[k].aux;
    if (const cell_t* value = plan_leaf_value(x, block)) [[likely]] {
        *slot = *value;
        stack::top_slot = slot + 1;
        *next = conditional_next(x, n, code, end, infix, last);
        return true;
    }
    *slot = *v;
    plan_mark(n + 1, slot);
    args[1] = first->value;
    args[2] = last->value;
    stack::top_slot = args + (either ? 3 : 2);
    cell_t* r = plan_branch(x, block, args + 1 + k);
    *next = r == nullptr
                ? n->end
                : conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
    return true;
}

// call_conditional with a planned condition and branches. The builder made
// `if` two arguments and `either` three, the branches blocks that only the
// last may have a word after (the others have a block after them).
[[gnu::noinline]] int32_t conditional_called(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end,
                                             bool infix) {
    cell_t* slot = plan_push_callee(n);
    if (slot == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, infix);
    auto plan = static_cast<uint32_t>(n[1].aux);
    // The condition's node, the walk on it with the guards read.
    bool computed = false;
    pos = plan_computing(x, n + 2, code, pos + 1, end, &computed);
    if (!computed) {
        if (exits::pending) [[unlikely]]
            return pos;
        if (!(plan & PLAN_FIRST_ANY) || seldom_q(stack::top_slot - 1)) check_argument(slot, 0);
    } else if (!(plan & PLAN_FIRST_ANY)) {
        check_argument(slot, 0);
    }
    // The branches as the plan has them, while the walk is on the first:
    // pushing them runs nothing, so the guards read once serve them all.
    // The last branch ends the conditional's nodes.
    bool either = n->small() == EITHER_INDEX;
    const pnode_t* last = n + n->aux - 1;
    const pnode_t* first = last - (either ? 1 : 0);
    cell_t* top = stack::top_slot;
    // A condition the lane computed ran nothing: the walk is where the
    // builder put the first branch, under the guards read before it.
    if ((!computed && (first->pos != pos || !plan_holds(x))) || top + 3 >= stack::end ||
        (last->probe() && op_probed(x, last, last, code, last->end))) [[unlikely]]
        return conditional_rest(x, n, slot, code, pos, end, infix);
    // With one branch the second write lands above the top, unused.
    top[0] = first->value;
    top[1] = last->value;
    stack::top_slot = top + (either ? 2 : 1);
    cell_t* args = slot + 1;
    uint8_t t = type_of(args);
    bool truthy = !(t == TYPE_none || (t == TYPE_logic && args->data1 != 1));
    int32_t k = 0;  // the branch taken
    if (either) {
        if (t == TYPE_unset) [[unlikely]]
            fire(err::no_return);
        k = truthy ? 0 : 1;
    } else if (!truthy) {
        args->header = TYPE_none;
        return conditional_value(x, n, code, end, infix, slot, args, last);
    }
    const pnode_t* block = x.head + first[k].aux;
    const cell_t* branch_code = args + 1 + k;
    // A branch of one value: run_node's leaf, its push and the result's
    // copy made one, nothing run (the stack's room checked above).
    if (const cell_t* value = plan_leaf_value(x, block)) [[likely]] {
        return conditional_value(x, n, code, end, infix, slot, value, last);
    }
    cell_t* r = plan_branch(x, block, branch_code);
    if (r == nullptr) [[unlikely]]
        return n->end;
    return conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
}

// Whether the native stack is past its limit (check_native_stack would
// raise): a test with no call, for a routine that makes none.
[[gnu::always_inline]] inline bool native_stack_low() {
#if defined(__x86_64__)
    uintptr_t sp;
    asm("mov %%rsp, %0" : "=r"(sp));
#else
    auto sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
    return sp < stack_limit;
}

// What conditional_leaf leaves to its caller.
enum quiet_t : int32_t {
    QUIET_END,  // the value in the callee's slot and no operator after it: the walk
                // goes on at the conditional's end
    QUIET_LOOKAHEAD,  // the value in the callee's slot, the lookahead still to make
    QUIET_NOT,  // nothing anybody reads changed: the conditional's own path
    QUIET_BRANCH,  // the condition in the cell above the callee's slot: branch 0
                   // (QUIET_BRANCH + 1: branch 1) to run in the conditional's frame
};

// A planned conditional whose condition is a leaf (a literal or a word)
// holding a plain value, taken as conditional_quiet takes a lane's, by a
// routine that calls none and takes two values, so that it saves almost no
// registers: what needs a call is left to its caller (quiet_t), and so is a
// native stack past its limit or a probe of a word with no entry (the
// conditional's own path raises or reads there). It does not know whether
// the conditional is an operand, which needs no lookahead after it.
[[gnu::noinline]] int32_t conditional_leaf(const plan_run& x, const pnode_t* n) {
    const pnode_t* c = n + 2;
    if (stack::top_slot + 5 >= stack::end || stack::ctop >= stack::cend ||
        plan_expected(n) == nullptr || native_stack_low()) [[unlikely]]
        return QUIET_NOT;
    const pnode_t* first = c + 1;
    // The last branch ends the conditional's nodes; `if` has one.
    const pnode_t* last = n + n->aux - 1;
    bool either = last != first;
    // The last branch's probe reads the word the lookahead reads.
    int32_t done = QUIET_END;
    if (n[1].header & plan::OWN_WORD_AFTER) {
        // The check of the conditional's own word read the probe's.
    } else if (!last->probe()) {
        if (n->probe()) done = QUIET_LOOKAHEAD;
    } else {
        // op_probed, but for the look-up of a word with no entry.
        uint32_t small = last->small();
        const cell_t* v;
        if (last->header & plan::PROBE_LOCAL) v = x.frame + small;
        else if (small != 0) [[likely]] v = plan_global(x.head + small);
        else return QUIET_NOT;
        if (type_of(v) == TYPE_op) [[unlikely]]
            return QUIET_NOT;
    }
    // A seldom type has its typeset read (and an unset is an error); a
    // logic!, the common condition, needs no test of the masks.
    const cell_t* condition = plan_leaf(x, c);
    if (condition == nullptr) [[unlikely]]
        return QUIET_NOT;
    uint8_t t = type_of(condition);
    bool truthy;
    if (t == TYPE_logic) [[likely]] {
        truthy = condition->data1 == 1;
    } else {
        if (((NOT_PLAIN | SELDOM_TYPES) >> (t & 63)) & 1) [[unlikely]]
            return QUIET_NOT;
        truthy = t != TYPE_none;
    }
    int32_t k = truthy ? 0 : 1;
    cell_t* slot = stack::top_slot;
    if (!either && !truthy) {
        *slot = *condition;
        slot->header = TYPE_none;
        stack::top_slot = slot + 1;
        return done;
    }
    const pnode_t* block = x.head + first[k].aux;
    if (const cell_t* value = plan_leaf_value(x, block)) [[likely]] {
        *slot = *value;
        stack::top_slot = slot + 1;
        return done;
    }
    slot[1] = *condition;
    return QUIET_BRANCH + k;
}

// What conditional_leaf left to do (quiet_t), but for QUIET_END. The walk
// stands at the conditional's position (a node runs only there).
[[gnu::noinline]] int32_t conditional_after(const plan_run& x, const pnode_t* n, const cell_t* code,
                                            int32_t end, bool infix, int32_t quiet) {
    if (quiet == QUIET_LOOKAHEAD) return plan_lookahead(x, n, code, n->end, end);
    if (quiet == QUIET_NOT) [[unlikely]]
        return conditional_called(x, n, code, n->pos, end, infix);
    // A branch that is not one plain value: the frame marked over the
    // condition and the branches as the conditional's own path leaves it,
    // then the branch run.
    int32_t k = quiet - QUIET_BRANCH;
    cell_t* slot = stack::top_slot;
    cell_t* args = slot + 1;
    bool either = n->small() == EITHER_INDEX;
    const pnode_t* first = n + 3;
    const pnode_t* last = first + (either ? 1 : 0);
    // The callee: the 16 bytes its word was found holding.
    *slot = n->value;
    plan_mark(n + 1, slot);
    args[1] = first->value;
    args[2] = last->value;
    stack::top_slot = args + (either ? 3 : 2);
    cell_t* r = plan_branch(x, x.head + first[k].aux, args + 1 + k);
    if (r == nullptr) [[unlikely]]
        return n->end;
    return conditional_value(x, n, code, end, infix, stack::arguments - 1, r, nullptr);
}

// A planned conditional of a leaf condition: the quiet way, out of line.
[[gnu::always_inline]] inline int32_t conditional_leaf_node(const plan_run& x, const pnode_t* n,
                                                            const cell_t* code, int32_t end,
                                                            bool infix) {
    int32_t quiet = conditional_leaf(x, n);
    if (quiet == QUIET_END || (infix && quiet == QUIET_LOOKAHEAD)) [[likely]]
        return n->end;
    return conditional_after(x, n, code, end, infix, quiet);
}

// A conditional of a lane's condition, the quiet way first.
[[gnu::noinline]] int32_t conditional_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end, bool infix) {
    int32_t next;
    if (conditional_quiet(x, n, code, end, infix, &next)) [[likely]]
        return next;
    return conditional_called(x, n, code, pos, end, infix);
}

// A planned conditional: the quiet way when the builder found a condition
// that runs nothing, each kind in a routine of its own (the conditional's
// own path saves six registers and spills across its calls).
[[gnu::always_inline]] inline int32_t plan_conditional(const plan_run& x, const pnode_t* n,
                                                       const cell_t* code, int32_t pos, int32_t end,
                                                       bool infix) {
    uint32_t ref = n[1].header;
    if (ref & plan::LEAF_CONDITION) return conditional_leaf_node(x, n, code, end, infix);
    if (ref & plan::LANE_CONDITION) return conditional_lane(x, n, code, pos, end, infix);
    return conditional_called(x, n, code, pos, end, infix);
}

// plan_conditional out of line, for a function's body, which a recursive
// call runs inline: there the lane's conditional, the common body, is
// called straight and the other kinds through this.
[[gnu::noinline]] int32_t conditional_body(const plan_run& x, const pnode_t* n, const cell_t* code,
                                           int32_t pos, int32_t end) {
    return plan_conditional(x, n, code, pos, end, false);
}

int32_t plan_paren_operand(const plan_run& x, const pnode_t* n, const cell_t* code, int32_t pos,
                           int32_t end);

// call_infix with a planned right operand, its callee and left operand
// pushed at slot (the top above them). f: the operation the operator
// stands for on the fast paths. Every such operation's arguments take
// integer!, so an integer operand needs no typeset read, and two integers
// are computed in place as run_simple_entry computes them.
[[gnu::always_inline]] inline int32_t plan_call_infix(const plan_run& x, const pnode_t* r,
                                                      cell_t* slot, const pnode_t* ref, fast_op f,
                                                      const cell_t* code, int32_t pos,
                                                      int32_t end) {
    // The header made by the builder (a plan runs for user code: the
    // interpreted mark is set).
    plan_mark(ref, slot);
    // The arguments plan's one bit the checks read, read where it is needed:
    // computed ahead, it lives across the right operand.
    auto arg_plan = [ref] {
        return (ref->header & plan::OPERATOR_ANY_TYPES) ? uint32_t{PLAN_ANY_TYPES} : 0u;
    };
    cell_t* left = slot + 1;
    bool integers = f != FAST_NONE && type_of(left) == TYPE_integer;
    if (!integers && check_needed(arg_plan(), left)) {
        node_t cache = alloc::buffer(slot->data3)->head_cell()[1].data2;
        check_arg(slot, 0, alloc::buffer(cache)->head_cell(), left);
    }
    // The right operand's node starts right after the operator's, whose
    // position and guards its caller read: pushing the callee, its left
    // operand and the frame ran nothing.
    // A call or a paren, the right operands of most called operators, is
    // dispatched straight: run_node's kind chain tests the leaves first.
    if (r->kind() == plan::K_CALL) pos = plan_call(x, r, code, pos, end, true);
    else if (r->kind() == plan::K_PAREN) pos = plan_paren_operand(x, r, code, pos, end);
    else pos = plan_argument(x, r, slot, 1, code, pos, end, true, true);
    if (exits::pending) [[unlikely]]
        return pos;
    const cell_t* right = stack::top_slot - 1;
    // An addition, the commonest, is tested before the operations' table.
    if (!integers || type_of(right) != TYPE_integer ||
        !((f == FAST_ADD ? fast_integers(FAST_ADD, left, integer::get(left), integer::get(right))
                         : fast_integers(f, left, integer::get(left), integer::get(right))) ||
          fast_compute(f, left, right))) {
        if (check_needed(arg_plan(), right)) check_argument(slot, 1);
        run_simple_entry(type_of(slot), slot, 2);
        if (exits::pending) return pos;
    }
    finish_planned(slot);
    return pos;
}

// A paren as an operator's right operand: no lookahead after it.
[[gnu::noinline]] int32_t plan_paren_operand(const plan_run& x, const pnode_t* n,
                                             const cell_t* code, int32_t pos, int32_t end) {
    return plan_paren_inline(x, n, code, pos, end, true);
}

// A called operator's step (its K_OP at s) whose right operand is a paren
// of one leaf (r), when both operands are integers its fast operation
// computes: the result in the left operand's cell, the position as the
// paren's run gives it back. Nothing could see the operator's frame or the
// paren's cell: the room they take is checked instead, so a full stack
// raises where the operator's own path would. False, having changed
// nothing, otherwise.
[[gnu::always_inline]] inline bool plan_quiet_operator(const plan_run& x, const pnode_t* s,
                                                       const pnode_t* r) {
    auto f = static_cast<fast_op>(s[1].aux);
    cell_t* l = stack::top_slot - 1;
    const pnode_t* block = x.head + r->aux;
    if (f == FAST_NONE || type_of(l) != TYPE_integer || !(block->header & plan::ONE_LEAF))
        return false;
    const cell_t* right = plan_leaf(x, block + 2);
    // The callee's cell, the paren's and its value above the left operand.
    if (right == nullptr || type_of(right) != TYPE_integer || l + 4 >= stack::end ||
        stack::ctop >= stack::cend)
        return false;
    check_native_stack();
    if (!fast_integers(f, l, integer::get(l), integer::get(right))) return false;
    return true;
}

// An operator chain: the left operand, then each step as the lookahead
// takes it (infix_loop); a step off the plan hands the rest of the chain to
// infix_loop.
[[gnu::noinline]] int32_t plan_infix(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end) {
    const pnode_t* left = n + 1;
    if (left->kind() == plan::K_LIT) check_native_stack();  // as eval_expression does
    // A paren on the left, as in (f a) + ..., runs here: one C++ frame less.
    if (left->kind() == plan::K_PAREN) pos = plan_paren_inline(x, left, code, pos, end, true);
    else pos = run_node(x, left, code, pos, end, true);
    if (exits::pending) [[unlikely]]
        return pos;
    const pnode_t* s = left + plan::size_of(left);
    // A chain has one step at least; the next step's node is found only when
    // there is one.
    for (uint32_t k = n->small();;) {
        if (s->pos != pos || !plan_holds(x)) [[unlikely]]
            return plan_infix_generic(code, pos, end);
        const cell_t* v = plan_expected(s);
        if (v == nullptr) [[unlikely]] {
            plan::count_fallback(s);
            return plan_infix_generic(code, pos, end);
        }
        const pnode_t* r = s + 2;
        if (s->small() != 0) {
            const cell_t* right = &r->value;
            if (r->kind() == plan::K_LOCAL) right = x.frame + r->aux;
            else if (r->kind() == plan::K_WORD) right = peek_value(&r->value);
            cell_t* l = stack::top_slot - 1;
            auto f = static_cast<fast_op>(s->small());
            bool integers = right != nullptr && type_of(l) == TYPE_integer &&
                            type_of(right) == TYPE_integer &&
                            fast_integers(f, l, integer::get(l), integer::get(right));
            if (!integers && (right == nullptr || !fast_compute(f, l, right))) [[unlikely]] {
                plan::count_fallback(s);
                return plan_infix_generic(code, pos, end);
            }
            pos = s->end;
        } else if (r->kind() == plan::K_PAREN && plan_quiet_operator(x, s, r)) {
            pos = r->pos + 1;
        } else {
            // The callee under its left operand: the operator's native or
            // action, its header made by the builder. The builder saw its
            // arguments plan simple, of two arguments, which the same cell
            // keeps.
            cell_t* l = stack::push_slot() - 1;
            l[1] = l[0];
            l[0] = *v;
            l[0].header = static_cast<uint32_t>(s->end);
            pos =
                plan_call_infix(x, r, l, s + 1, static_cast<fast_op>(s[1].aux), code, pos + 1, end);
            if (exits::pending) return pos;
        }
        if (--k == 0) break;
        s = r + plan::size_of(r);
    }
    if (pos != n->end || !plan_holds(x)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    if (n->probe() && op_after(x, n, code, pos)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    return pos;
}

// eval_paren with a planned paren.
[[gnu::always_inline]] inline int32_t plan_paren_inline(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool infix) {
    check_native_stack();
    const pnode_t* block = x.head + n->aux;
    cell_t* held = stack::top_slot;
    // A paren of one plain leaf: its value where the paren's cell would ride,
    // nothing run, once the room that run takes (the cell and the value) is
    // seen to be there.
    const cell_t* value = plan_leaf_value(x, block);
    if (value != nullptr && held + 2 < stack::end) {
        *held = *value;
    } else {
        held = stack::push(&n->value);
        cell_t* r = plan_branch(x, block, held);
        if (r == nullptr) [[unlikely]]
            return pos;
        *held = *r;
    }
    stack::top_slot = held + 1;
    return infix ? pos + 1 : plan_lookahead(x, n, code, pos + 1, end);
}

[[gnu::noinline]] int32_t plan_paren(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix) {
    return plan_paren_inline(x, n, code, pos, end, infix);
}

// A set-word and return: the code of eval_set_word and eval_return with
// planned contents.
[[gnu::noinline]] int32_t plan_other(const plan_run& x, const pnode_t* n, const cell_t* code,
                                     int32_t pos, int32_t end, bool infix) {
    switch (n->kind()) {
    case plan::K_SET: {
        check_native_stack();
        stack::mark_interp_native(&n->value);
        stack::push(&n->value);
        // Its value's node follows, with the guards run_node's caller read.
        pos = run_node(x, n + 1, code, pos + 1, end, false);
        if (exits::pending) return pos;
        store_set_word();
        stack::unwind();
        return pos;
    }
    case plan::K_RETURN: {
        // eval_return with a planned argument.
        const cell_t* v = plan_expected(n);
        if (v == nullptr) [[unlikely]]
            return plan_fallback(n, code, pos, end, infix);
        cell_t* slot = stack::push(v);
        plan_mark(n + 1, slot);
        pos = plan_argument(x, n + 2, slot, 0, code, pos + 1, end, false, true);
        if (exits::pending) [[unlikely]]
            return pos;
        return_fetched(slot, static_cast<uint32_t>(n[1].aux));
        return pos;
    }
    default: return plan_fallback(n, code, pos, end, infix);
    }
}

// The value of a leaf node (a literal or a word); nullptr when a word has
// none to read.
[[gnu::always_inline]] inline const cell_t* plan_leaf(const plan_run& x, const pnode_t* n) {
    if (n->kind() == plan::K_LOCAL) return x.frame + n->aux;
    if (n->kind() == plan::K_WORD) return plan_word(n);
    return &n->value;
}

// The end of left op right off the lane, its operands read and plain and
// its operator the one expected: computed in place or by the operator loop.
int32_t plan_simple_infix_compute(const plan_run& x, const pnode_t* n, const cell_t* left,
                                  const cell_t* right, const cell_t* code, int32_t end) {
    const pnode_t* s = n + 2;
    stack::push(left);
    if (!fast_compute(static_cast<fast_op>(s->small()), stack::top_slot - 1, right)) [[unlikely]] {
        plan::count_fallback(s);
        return plan_infix_generic(code, s->pos, end);
    }
    int32_t pos = n->end;
    if (n->probe() && op_after(x, n, code, pos)) [[unlikely]]
        return plan_infix_generic(code, pos, end);
    return pos;
}

// left op right with two leaves and an operator computed in place, as
// eval_operand and infix_loop take it. Nothing runs between reading the
// operands and computing, so the guards are read before the push.
[[gnu::noinline]] int32_t plan_simple_infix_rest(const plan_run& x, const pnode_t* n,
                                                 const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* s = n + 2;
    if (n[1].kind() == plan::K_LIT) check_native_stack();  // as eval_expression does
    const cell_t* left = plan_leaf(x, n + 1);
    const cell_t* op = plan_expected(s);
    const cell_t* right = plan_leaf(x, n + 4);
    if (left == nullptr || !plain_value_q(type_of(left)) || right == nullptr || op == nullptr)
        [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    return plan_simple_infix_compute(x, n, left, right, code, end);
}

// An operand of the lane, read from its source's INFIX_RIGHT_ bits.
inline const cell_t* plan_lane_operand(const plan_run& x, const pnode_t* n, uint32_t source) {
    if (source & plan::INFIX_RIGHT_GLOBAL) return plan_global(n);
    if (source & plan::INFIX_RIGHT_LITERAL) return &n->value;
    return x.frame + n->aux;
}

// The lane's operands when they are not integers both (or their sum,
// difference or product does not fit): as plan_simple_infix_rest goes on
// from reading them.
[[gnu::noinline]] int32_t plan_simple_infix_other(const plan_run& x, const pnode_t* n,
                                                  const cell_t* code, int32_t pos, int32_t end) {
    const pnode_t* s = n + 2;
    const cell_t* left = plan_lane_operand(x, n + 1, n->value.data1 >> 2);
    const cell_t* right = plan_lane_operand(x, n + 4, n->value.data1);
    if ((n[1].header & plan::ANSWERS_PROBE) && type_of(left) == TYPE_op) [[unlikely]]
        return plan_answer(x, n, code, pos, end);
    if (!plain_value_q(type_of(left)) || plan_expected(s) == nullptr) [[unlikely]]
        return plan_fallback(n, code, pos, end, false);
    return plan_simple_infix_compute(x, n, left, right, code, end);
}

// left op (leaf), the step a called operator (INFIX_PAREN): plan_infix's
// run of it when both operands are integers its fast operation computes, as
// plan_quiet_operator takes it, with no walk through the chain: the result
// pushed, the position as the paren's run gives it back. The room the
// operator's frame, its callee's cell and the paren's run take is checked
// first, so a full stack raises on plan_infix's path as it would there.
// Anything else goes to plan_infix, nothing having changed. (It does not
// say it computed, as plan_simple_infix does: a flag whose address leaves
// the inlined lanes would live in memory in each of them.)
[[gnu::noinline]] int32_t plan_paren_lane(const plan_run& x, const pnode_t* n, const cell_t* code,
                                          int32_t pos, int32_t end) {
    const pnode_t* block = x.head + n[4].aux;
    const cell_t* left = plan_leaf(x, n + 1);
    const cell_t* right = plan_leaf(x, block + 2);
    cell_t* top = stack::top_slot;
    if (left == nullptr || right == nullptr || type_of(left) != TYPE_integer ||
        type_of(right) != TYPE_integer || top + 4 >= stack::end || stack::ctop >= stack::cend ||
        plan_expected(n + 2) == nullptr) [[unlikely]]
        return plan_infix(x, n, code, pos, end);
    // The paren's own check, which also stands for a literal left operand's.
    check_native_stack();
    *top = *left;
    if (!fast_integers(static_cast<fast_op>(n->value.data2), top, integer::get(left),
                       integer::get(right))) [[unlikely]]
        return plan_infix(x, n, code, pos, end);
    stack::top_slot = top + 1;
    pos = n->end;
    if (n->probe()) {
        bool op = (n->header & plan::PROBE_LOCAL)
                      ? type_of(reinterpret_cast<const cell_t*>(
                            reinterpret_cast<const char*>(x.frame) + n->value.data3)) == TYPE_op
                      : op_probed(x, n, n + 3, code, pos);
        if (op) [[unlikely]]
            return plan_infix_generic(code, pos, end);
    }
    return pos;
}

// plan_simple_infix_rest for the operands the builder gave a lane: they are
// read where the builder found them, with no walk through their kinds, and
// two integers (or two floats) are computed into the new top cell. Anything
// else, and a sum, difference or product that does not fit, goes out of line.
// computed, when given, is set where the value was computed in place: a
// number or a logic! on top, nothing run, no exit pending.
[[gnu::always_inline]] inline int32_t plan_simple_infix(const plan_run& x, const pnode_t* n,
                                                        const cell_t* code, int32_t pos,
                                                        int32_t end, bool* computed) {
    uint32_t lane = n->value.data1;
    if (!(lane & plan::INFIX_LANE)) [[unlikely]] {
        if (lane & plan::INFIX_PAREN) return plan_paren_lane(x, n, code, pos, end);
        return plan_simple_infix_rest(x, n, code, pos, end);
    }
    const cell_t* left = x.frame + n[1].aux;
    if (lane & (plan::INFIX_LEFT_GLOBAL | plan::INFIX_LEFT_LITERAL)) [[unlikely]] {
        if (lane & plan::INFIX_LEFT_GLOBAL) {
            left = plan_global(n + 1);
        } else {
            check_native_stack();  // as eval_expression does
            left = &n[1].value;
        }
    }
    const cell_t* right = &n[4].value;
    if (!(lane & plan::INFIX_RIGHT_LITERAL))
        right = (lane & plan::INFIX_RIGHT_GLOBAL) ? plan_global(n + 4) : x.frame + n[4].aux;
    cell_t* top = stack::top_slot;
    bool done = false;
    if (type_of(left) == TYPE_integer && type_of(right) == TYPE_integer && top + 1 < stack::end &&
        plan_expected(n + 2) != nullptr) [[likely]] {
        *top = *left;
        done = fast_integers(static_cast<fast_op>(n->value.data2), top, integer::get(left),
                             integer::get(right));
    } else if (type_of(left) == TYPE_float_ && type_of(right) == TYPE_float_ &&
               top + 1 < stack::end && plan_expected(n + 2) != nullptr) {
        *top = *left;
        done = fast_floats(static_cast<fast_op>(n->value.data2), top, right);
    }
    if (done) [[likely]] {
        stack::top_slot = top + 1;
        pos = n->end;
        if (!n->probe()) {
            if (computed != nullptr) *computed = true;
            return pos;
        }
        bool op = (n->header & plan::PROBE_LOCAL)
                      ? type_of(reinterpret_cast<const cell_t*>(
                            reinterpret_cast<const char*>(x.frame) + n->value.data3)) == TYPE_op
                      : op_probed(x, n, n + 3, code, pos);
        if (op) [[unlikely]]
            return plan_infix_generic(code, pos, end);
        if (computed != nullptr) *computed = true;
        return pos;
    }
    return plan_simple_infix_other(x, n, code, pos, end);
}

// One node: values inline, everything else in its own routine. quiet, when
// given, is set where the node was a leaf pushed with nothing run whose probe
// (if a word follows) found no operator.
[[gnu::always_inline]] inline int32_t run_node(const plan_run& x, const pnode_t* n,
                                               const cell_t* code, int32_t pos, int32_t end,
                                               bool infix, bool* quiet) {
    uint8_t kind = n->kind();
    if (kind == plan::K_LOCAL || kind == plan::K_WORD || kind == plan::K_LIT) {
        const cell_t* v = &n->value;
        if (kind == plan::K_LOCAL) v = x.frame + n->aux;
        else if (kind == plan::K_WORD) v = peek_value(&n->value);
        if (kind != plan::K_LIT) {
            if (v == nullptr || !plain_value_q(type_of(v))) [[unlikely]] {
                if (!infix && (n->header & plan::ANSWERS_PROBE) && v != nullptr &&
                    type_of(v) == TYPE_op)
                    return plan_answer(x, n, code, pos, end);
                return plan_fallback(n, code, pos, end, infix);
            }
        } else if (!infix && n->probe()) {
            // eval_operand hands a literal with a word after it to
            // eval_expression, which checks the depth.
            check_native_stack();
        }
        stack::push(v);
        // The caller read the guards just before this node: a leaf ends
        // where its node does, and pushing it ran nothing.
        if (!infix && n->probe() && op_probed(x, n, n, code, pos + 1)) [[unlikely]]
            return plan_infix_generic(code, pos + 1, end);
        if (quiet != nullptr) *quiet = true;
        return pos + 1;
    }
    if (n->header & plan::SIMPLE_INFIX) return plan_simple_infix(x, n, code, pos, end);
    if (kind == plan::K_INFIX) return plan_infix(x, n, code, pos, end);
    // One test for both kinds: a test per kind here made the chain a jump
    // table, dearer for every node after it.
    if (kind == plan::K_CALL || kind == plan::K_NATIVE) {
        if (kind == plan::K_CALL) return plan_call(x, n, code, pos, end, infix);
        return plan_native(x, n, code, pos, end, infix);
    }
    if (kind == plan::K_COND) return plan_conditional(x, n, code, pos, end, infix);
    if (kind == plan::K_PAREN) return plan_paren(x, n, code, pos, end, infix);
    return plan_other(x, n, code, pos, end, infix);
}

// A literal, a word of the function's own context or a paren of one plain
// leaf as a statement of a block, taken when it is all the statement is: a
// plain value with no operator after it (the word probed after it reads as
// run_node's probe does). Pushed only when kept, as the block's last
// statement: no later statement reads the others' values. False, having
// pushed nothing, for anything else.
[[gnu::always_inline]] inline bool plan_quiet_leaf(const plan_run& x, const pnode_t* n,
                                                   const cell_t* code, int32_t pos, bool keep) {
    uint8_t kind = n->kind();
    const cell_t* v;
    if (kind == plan::K_LOCAL) {
        v = x.frame + n->aux;
        if (!plain_value_q(type_of(v))) return false;
    } else if (kind == plan::K_LIT) {
        v = &n->value;
    } else if (kind == plan::K_PAREN) {
        // As plan_paren_inline takes it, the room the paren's run takes seen
        // to be there.
        const pnode_t* block = x.head + n->aux;
        v = plan_leaf_value(x, block);
        if (v == nullptr || stack::top_slot + 2 >= stack::end) return false;
        if (n->probe() && op_probed(x, n, n, code, pos + 1)) return false;
        check_native_stack();
        if (keep) *stack::top_slot++ = *v;
        return true;
    } else {
        return false;
    }
    if (n->probe()) {
        if (op_probed(x, n, n, code, pos + 1)) return false;
        // eval_operand hands a literal with a word after it to
        // eval_expression, which checks the depth.
        if (kind == plan::K_LIT) check_native_stack();
    }
    if (keep) stack::push(v);
    return true;
}

// Statements that are leaves taken with nothing run (plan_quiet_leaf), from
// n on, each followed by the next statement's node at the next position:
// the node of the first that is not, or nullptr once the block's last
// statement was one, its value pushed. Out of line, where its loop keeps
// its few values in registers.
[[gnu::noinline]] const pnode_t* plan_quiet_run(const plan_run& x, const pnode_t* n,
                                                const cell_t* code, int32_t end) {
    for (int32_t pos = n->pos;; pos++, n++) {
        bool last = pos + 1 >= end;
        if (!plan_quiet_leaf(x, n, code, pos, last)) return n;
        if (last) return nullptr;
        position->data1 = static_cast<uint32_t>(pos + 1);
    }
}

// run_in_place on a planned block. guards_read: the caller read the guards
// and nothing ran since (a paren's node, a branch of a planned conditional).
[[gnu::always_inline]] inline cell_t* run_planned(const plan_run& x, const pnode_t* block,
                                                  const cell_t* code, bool guards_read) {
    if (!guards_read && !plan_holds(x)) [[unlikely]]
        return run_in_place(code);
    if (plan::verify) [[unlikely]]
        plan::verify_block(x.head, block, code);
    // Under the stamp the plan holds at, the block has the length it had
    // when it was planned; only a stamp moved while a node ran may have
    // shortened it.
    int32_t end = block->end;
    int32_t pos = block->pos;
    cell_t* base = stack::top_slot;
    if (pos >= end) [[unlikely]] {
        stack::push_slot()->header = TYPE_unset;
        return base;
    }
    // Only the last statement's value is kept (see plan_quiet_leaf), so
    // that a leaf before it pushes nothing: with no room for a cell above
    // the base, the interpreter's run raises stack-overflow where it would.
    if (base + 1 >= stack::end) [[unlikely]]
        return run_in_place(code);
    const pnode_t* n = block + 2;
    // The guards are read on entry and after each node (nothing runs
    // between that and the next node). Each statement starts with the
    // position holding the block at its own, and n its first node.
    *position = *code;
    position->data1 = static_cast<uint32_t>(pos);
    if (n->pos == pos) [[likely]] {
        for (;;) {
            uint8_t kind = n->kind();
            if (kind == plan::K_LOCAL || kind == plan::K_LIT || kind == plan::K_PAREN) {
                const pnode_t* after = plan_quiet_run(x, n, code, end);
                if (after == nullptr) return base;
                pos += static_cast<int32_t>(after - n);
                n = after;
                kind = n->kind();
            }
            const pnode_t* next = nullptr;
            if (kind == plan::K_INFIX) {
                if (n->header & plan::SIMPLE_INFIX) {
                    bool computed = false;
                    pos = plan_simple_infix(x, n, code, pos, end, &computed);
                    // A value computed in the lane: five nodes, the position
                    // untouched.
                    if (computed) next = n + 5;
                } else {
                    pos = plan_infix(x, n, code, pos, end);
                }
            } else if (kind == plan::K_CALL) {
                // A call of a leaf body inline here, where it has no
                // registers of its own to save.
                if ((n[1].header & plan::LEAF_BODY) && plan_call_leaf(x, n, n->end >= end)) {
                    // Nothing ran.
                    pos = n->end;
                    next = n + n->aux;
                } else {
                    pos = plan_call(x, n, code, pos, end, false);
                }
            } else if (kind == plan::K_COND) {
                pos = plan_conditional(x, n, code, pos, end, false);
            } else if (kind == plan::K_SET || kind == plan::K_RETURN) {
                pos = plan_other(x, n, code, pos, end, false);
            } else {
                pos = run_node(x, n, code, pos, end, false);
            }
            if (next != nullptr) {
                if (pos >= end) return base;
                stack::top_slot = base;
                n = next;
                position->data1 = static_cast<uint32_t>(pos);
                continue;
            }
            if (exits::pending) [[unlikely]]
                return nullptr;
            // The next node is found only when there is one to run: most
            // planned blocks hold one expression.
            if (!plan_holds(x)) [[unlikely]] {
                end = live_end(code, end);
                if (pos >= end) return base;
                stack::top_slot = base;
                *position = *code;
                position->data1 = static_cast<uint32_t>(pos);
                n += plan::size_of(n);
                break;
            }
            if (pos >= end) return base;
            stack::top_slot = base;
            n += plan::size_of(n);
            *position = *code;
            position->data1 = static_cast<uint32_t>(pos);
            if (n->pos != pos) [[unlikely]]  // K_END after the last node matches no position
                break;
        }
    }
    pos = plan_fallback(n->kind() != plan::K_END ? n : block, code, pos, end, false);
    if (exits::pending) [[unlikely]]
        return nullptr;
    return plan_block_generic(code, pos, end, base);
}

// Inline in each call site: one C++ frame less per planned call.
// from_plan: a planned body calls, so the caller is user code.
template <bool from_plan>
[[gnu::always_inline]] inline cell_t* run_planned_body(const pnode_t* head, const cell_t* body) {
    const pnode_t* block = head + 1;
    // The plan is of this body, as the function holds it now, and of user
    // code run from user code.
    if (body->data2 != block->value.data2 || body->data1 != block->value.data1 ||
        !(from_plan || origin_fits(false))) [[unlikely]]
        return run_in_place<true>(body);
    plan::count(plan::C_RUN);
    plan_start x(head, stack::arguments);
    // run_function found nothing traced and nothing ran since.
    return run_planned(x, block, body, true);
}

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
                !top_level::library_q(series::block_kind_q(type_of(&body)) ? body.data2 : 0);
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
