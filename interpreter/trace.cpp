#include "interpreter/trace.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/words.h"

namespace zuv::interpreter {

bool tracer_installed = false;
bool tracer_running = false;
bool library_caller_tracing = false;
int8_t caller_tracing_request = -1;

namespace {

constexpr int32_t EVENT_COUNT = 16;
constexpr uint32_t ALL_EVENTS = 0x1FFFF;
// In bit order: the word of event 1 << i.
constexpr const char* event_names[EVENT_COUNT] = {
    "init",  "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
    "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};

int32_t event_symbols[EVENT_COUNT];  // canonical ids, 0 until the first run
int32_t callback_symbol = 0;
int32_t callbacks_symbol = 0;
int32_t bits_symbol = 0;

void make_symbols() {
    if (callback_symbol != 0) return;
    for (int32_t i = 0; i < EVENT_COUNT; i++) event_symbols[i] = symbol::make(event_names[i]);
    callback_symbol = symbol::make("<interp-callback>");
    callbacks_symbol = symbol::make("callbacks");
    bits_symbol = symbol::make("bits");
}

int32_t event_index(uint32_t ev) { return __builtin_ctz(ev); }

// The events that reference the call's word or the set target.
constexpr uint32_t WITH_REFERENCE =
    event::SET | event::EPILOG | event::PROLOG | event::RETURN | event::CALL;

void error_event(cell_t* error) {
    if (tracing_anywhere()) fire_event(event::ERROR, nullptr, -1, nullptr, error);
}

}  // namespace

uint32_t trace_mask_from_block(const cell_t* fn) {
    make_symbols();
    if (type_of(fn) != TYPE_function) return ALL_EVENTS;
    cell_t body = *function::more(fn, function::MORE_BODY);
    if (!series::block_kind_q(type_of(&body))) return ALL_EVENTS;
    int32_t head = block::head_index(&body);
    if (head < 0 || head >= block::abs_length(&body)) return ALL_EVENTS;
    cell_t first = *block::rs_abs_at(&body, head);
    if (type_of(&first) != TYPE_block) return ALL_EVENTS;
    uint32_t mask = 0;
    int32_t n = block::abs_length(&first);
    for (int32_t i = block::head_index(&first); i < n; i++) {
        const cell_t* w = block::rs_abs_at(&first, i);
        if (type_of(w) != TYPE_word) continue;
        int32_t s = symbol::resolve(word::symbol_of(w));
        for (int32_t k = 0; k < EVENT_COUNT; k++)
            if (symbol::resolve(event_symbols[k]) == s) mask |= 1u << k;
    }
    return mask;
}

void fire_traced(uint32_t ev, const cell_t* code, int32_t pos, const cell_t* reference,
                 const cell_t* value) {
    // The depths first: the arguments below are built over the top.
    auto base_depth = static_cast<int32_t>(stack::arguments - stack::bottom);
    auto top_depth = static_cast<int32_t>(stack::top_slot - stack::bottom);
    cell_t* saved_top = stack::top_slot;
    call_frame_t* saved_ctop = stack::ctop;
    // One cell above the top is kept, so that a value reported from the top
    // is not overwritten by the call.
    stack::push_slot()->header = TYPE_none;

    // Nothing allocates until call_back has pushed these.
    cell_t args[6];
    word::make_raw(&args[0], TYPE_word, 0, event_symbols[event_index(ev)], -1);
    int32_t offset = -1;
    if (code != nullptr) {
        args[1] = *code;
        int32_t head = block::head_index(code);
        if (pos >= 0 && pos >= head && pos <= block::abs_length(code)) offset = pos - head;
    } else {
        args[1].header = TYPE_none;
    }
    integer::make_at(&args[2], offset);
    if (value != nullptr && type_of(value) != TYPE_unset) args[3] = *value;
    else args[3].header = TYPE_none;
    if (reference != nullptr && (ev & WITH_REFERENCE)) args[4] = *reference;
    else args[4].header = TYPE_none;
    pair::make_at(&args[5], base_depth, top_depth);

    // The frame belongs to the object the tracer is a method of, else to
    // the global context.
    node_t owner = _context::global_node;
    if (type_of(tracer) == TYPE_function) {
        const cell_t* o = function::more(tracer, function::MORE_OWNER);
        if (type_of(o) == TYPE_integer && integer::get(o) != 0)
            owner = static_cast<node_t>(integer::get(o));
    }
    cell_t frame_word;
    word::make_raw(&frame_word, TYPE_word, owner, callback_symbol, -1);
    // The tracer's code moves the position that errors report as near.
    held_position saved_position(position);
    bool saved_tracing = tracing;
    bool saved_library = library_caller_tracing;
    int8_t saved_request = caller_tracing_request;
    set_tracing(false);
    library_caller_tracing = false;
    tracer_running = true;
    cell_t result;
    bool returned;
    try {
        returned = call_back(tracer, &frame_word, args, 6, callback::NONE, &result);
    } catch (...) {
        tracer_running = false;
        throw;
    }
    tracer_running = false;
    // A break, continue or throw left the tracer: its frames are unwound
    // already, and the traced code cannot go on where it was.
    if (!returned) throw exits::escape{};
    *position = saved_position.saved;
    // A `trace` the tracer itself calls is no request of the traced code.
    caller_tracing_request = saved_request;
    set_tracing(saved_tracing);
    library_caller_tracing = saved_library;
    stack::top_slot = saved_top;
    stack::ctop = saved_ctop;
}

bool start_trace(const cell_t* fn) {
    if (tracer_installed) return false;
    make_symbols();
    trace_mask = trace_mask_from_block(fn);
    *tracer = *fn;
    trace_hook = fire_traced;
    zuv::fire_event = error_event;
    tracer_installed = true;
    caller_tracing_request = -1;
    set_tracing(true);
    library_caller_tracing = true;
    fire_init();
    return true;
}

void drop_trace() {
    unset::make_at(tracer);
    tracer_running = false;
    tracer_installed = false;
    caller_tracing_request = -1;
    set_tracing(false);
    library_caller_tracing = false;
    trace_hook = nullptr;
    zuv::fire_event = nullptr;
}

void end_trace() {
    uint32_t pending = exits::take();
    try {
        fire_end();
    } catch (...) {
        drop_trace();
        throw;
    }
    exits::pending = pending;
    drop_trace();
}

bool callback_traced_q(uint32_t kind) {
    if (kind == callback::NONE) return true;
    make_symbols();
    auto field_of = [](const cell_t* object, int32_t symbol) -> const cell_t* {
        if (object == nullptr || type_of(object) != TYPE_object) return nullptr;
        return _context::get_in(symbol, object->data1);
    };
    const cell_t* system = _context::get_in(
        static_cast<int32_t>(words::symbol_of(words::id::system)), _context::global_node);
    const cell_t* bits = field_of(
        field_of(field_of(system, static_cast<int32_t>(words::symbol_of(words::id::state))),
                 callbacks_symbol),
        bits_symbol);
    callback_bits = bits != nullptr && type_of(bits) == TYPE_integer
                        ? static_cast<uint32_t>(integer::get(bits))
                        : 0;
    return (callback_bits & kind) != 0;
}

}  // namespace zuv::interpreter
