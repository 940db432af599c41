// The scan driver: sets up a state record for one input, runs the token loop
// under a catch, checks for containers left open, stores the result, and
// unwinds this scan's cells on every way out. Also the UTF-8 scratch for
// string input, the callback calls, and the collector hook.
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/loaders.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::lexer {

call_back_fn call_back_hook = nullptr;
namespace {

constexpr int32_t SCRATCH_SIZE = 100000;
uint8_t* scratch = nullptr;
int32_t scratch_used = 0;

// The words of the events, in bit order, and the callback frame's name.
cell_t event_words[6];
cell_t callback_word;
bool words_made = false;

int32_t event_index(event_t e) {
    int32_t i = 0;
    for (uint32_t bit = e; bit > 1; bit >>= 1) ++i;
    return i;
}

void make_words() {
    static const char* const names[6] = {"prescan", "scan", "load", "open", "close", "error"};
    for (int i = 0; i < 6; ++i) event_words[i] = word::make_global(symbol::make(names[i]));
    callback_word = word::make_global(symbol::make("<lexer-callback>"));
    words_made = true;
}

// Characters (UTF-8 lead bytes) before byte offset `at` of the input.
// Counting from the start at every event made a traced scan quadratic in
// the length of its input (and the console's check of a long pasted block
// cubic); the count goes on from the offset counted last.
int32_t char_offset(state_t& s, int32_t at) {
    const uint8_t* t = s.bytes();
    if (at > s.input_end) at = s.input_end;
    int32_t i = 0, n = 0;
    if (at >= s.counted_bytes && s.counted_bytes <= s.input_end) {
        i = s.counted_bytes;
        n = s.counted_chars;
    }
    for (; i < at; ++i) n += (t[i] & 0xC0) != 0x80;
    if (at >= 0) {
        s.counted_bytes = at;
        s.counted_chars = n;
    }
    return n;
}

// The events a callback takes (its leading block of event words).
uint32_t callback_mask(const cell_t* fn) {
    int32_t symbols[6];
    for (int e = 0; e < 6; ++e) symbols[e] = symbol::resolve(word::symbol_of(&event_words[e]));
    return function::event_mask(fn, symbols, 6, EV_ALL);
}

void set_up(state_t& s, int32_t length, bool load, bool store, const cell_t* input_value) {
    s.input_end = length;
    s.position = 0;
    s.line = 1;
    s.kind = 0;
    s.start_state = S_START;
    s.error_kind = -1;
    s.load = load && store ? 1 : 0;
    if (input_value) s.input_value = *input_value;
    else s.input_value = cell_t{TYPE_none, 0, 0, 0};
    if (type_of(&s.input_value) == TYPE_binary) {
        s.fixed = nullptr;
        s.node = s.input_value.data2;
        s.node_offset = alloc::buffer(s.node)->head + static_cast<int32_t>(s.input_value.data1);
    }
}

void set_callback(state_t& s, const cell_t* callback) {
    if (callback && (type_of(callback) == TYPE_function || type_of(callback) == TYPE_routine)) {
        s.callback = *callback;
        s.event_mask = callback_mask(callback);
    }
}

// Writes the values of this scan into out/into as asked.
void store_result(state_t& s, cell_t* out, bool one_value, bool wrap, cell_t* into) {
    int32_t count = s.tail - s.buffer_head;
    if (one_value && !wrap) {
        if (into) {
            if (count > 0) block::rs_append(into, value_at(s.buffer_head));
        } else if (count > 0) {
            *out = *value_at(s.buffer_head);
            cell::clear_new_line(out);
        } else {
            none::make_at(out);
        }
        return;
    }
    if (into) {
        for (int32_t i = 0; i < count; ++i) block::rs_append(into, value_at(s.buffer_head + i));
        return;
    }
    node_t node = alloc::alloc_cells(count > 0 ? count : 1);
    series_buffer_t* b = alloc::buffer(node);
    if (count > 0)
        std::memcpy(b->head_ptr(), value_at(s.buffer_head),
                    static_cast<size_t>(count) * sizeof(cell_t));
    b->tail = b->head + count * static_cast<int32_t>(sizeof(cell_t));
    block::init_value(out, TYPE_block, node);
}

int32_t run_scan(state_t& s, cell_t* out, bool one_value, bool store, bool wrap, int32_t* consumed,
                 cell_t* into) {
    link_state(s);
    try {
        s.kind = 0;
        if (s.seed) {
            // Taking up where an earlier scan stopped: its containers are
            // open, and their openings lie before this input.
            for (int32_t kind : *s.seed) push_marker(s, kind, 0);
            s.seeded = static_cast<int32_t>(s.seed->size());
        }
        scan_tokens(s, one_value, s.load == 0 && !store ? true : s.load == 0);
        if (!exits::pending_q() && s.kind != TYPE_error && s.tail > s.buffer_head) {
            close_all(s);
            int32_t m = innermost_marker(s);
            if (!s.load && s.start_state == S_PATH_ELEMENT && m >= 0) {
                s.kind = marker_kind(value_at(m));
            } else if (m >= 0) {
                s.nesting_kind = marker_kind(value_at(m));
                // The console's check of gathered text ends here at every
                // line: a C++ throw out of the callback would cost more than
                // the rest of the line's scan.
                s.exits_return = true;
                report_error(s, static_cast<int32_t>(value_at(m)->data3), s.input_end,
                             ERR_MISSING_AT_END);
            }
        }
    } catch (const lexer_stop&) {
        // a scan-only syntax error, or a stop asked by the callback
    } catch (...) {
        s.tail = s.buffer_head;
        unlink_state(s);
        throw;
    }
    if (exits::pending_q()) {
        // An exit from the callback (also one from the error event at the
        // end) passes through: nothing is stored, and out is left alone, as
        // it now lies above the exit's target, where its value may be.
        s.tail = s.buffer_head;
        unlink_state(s);
        if (consumed) *consumed = offset_in_input(s, s.position);
        return s.kind;
    }
    if (store && s.load && s.kind != TYPE_error) {
        try {
            store_result(s, out, one_value, wrap, into);
        } catch (...) {
            s.tail = s.buffer_head;
            unlink_state(s);
            throw;
        }
    } else if (out && !into) {
        none::make_at(out);
    }
    s.tail = s.buffer_head;
    unlink_state(s);
    if (consumed) *consumed = offset_in_input(s, s.position);
    return s.kind;
}

// Encodes count characters of the string from its head into UTF-8; returns
// the byte count. The text lives in the scratch (as a stack) or, when it
// does not fit, in a buffer of its own that *owned receives.
int32_t encode_string(const cell_t* string, int32_t count, uint8_t** text, uint8_t** owned) {
    series_buffer_t* b = alloc::buffer(string->data2);
    uint32_t unit = b->unit();
    int32_t length = b->used() / static_cast<int32_t>(unit) - static_cast<int32_t>(string->data1);
    if (length < 0) length = 0;
    if (count < 0 || count > length) count = length;
    int64_t room = int64_t{count} * (unit == 1 ? 2 : unit == 2 ? 3 : 4) + 1;
    *owned = nullptr;
    if (room <= SCRATCH_SIZE - scratch_used) {
        *text = scratch + scratch_used;
    } else {
        *owned = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(room)));
        if (!*owned) fire(err::no_memory);
        *text = *owned;
    }
    b = alloc::buffer(string->data2);
    const uint8_t* p = b->head_ptr() + static_cast<size_t>(string->data1) * unit;
    uint8_t* o = *text;
    for (int32_t i = 0; i < count; ++i, p += unit) {
        uint32_t c = string::get_char(p, unit);
        if (c < 0x80) *o++ = static_cast<uint8_t>(c);
        else o += unicode::cp_to_utf8(c, o);
    }
    *o = 0;
    int32_t bytes = static_cast<int32_t>(o - *text);
    if (!*owned) scratch_used += bytes + 1;
    return bytes;
}

// Gives the scratch space (or the own buffer) of one scan back on every way
// out.
struct scratch_guard {
    int32_t mark;
    uint8_t* owned;
    ~scratch_guard() {
        scratch_used = mark;
        std::free(owned);
    }
};

}  // namespace

int32_t offset_in_input(state_t& s, int32_t at) {
    return type_of(&s.input_value) == TYPE_binary ? at : char_offset(s, at);
}

int32_t scan(cell_t* out, const uint8_t* text, int32_t length, scan_mode_t mode, int32_t* consumed,
             const cell_t* callback, const cell_t* input_value, cell_t* into) {
    state_t s;
    s.fixed = text;
    set_up(s, length, mode.load, mode.store, input_value);
    set_callback(s, callback);
    return run_scan(s, out, mode.one_value, mode.store, mode.wrap, consumed, into);
}

int32_t scan_hooked(cell_t* out, const uint8_t* text, int32_t length, scan_mode_t mode,
                    int32_t* consumed, event_fn hook, void* hook_data, uint32_t event_mask,
                    const cell_t* input_value, cell_t* into) {
    state_t s;
    s.fixed = text;
    set_up(s, length, mode.load, mode.store, input_value);
    s.hook = hook;
    s.hook_data = hook_data;
    s.event_mask = hook ? event_mask : 0;
    return run_scan(s, out, mode.one_value, mode.store, mode.wrap, consumed, into);
}

int32_t scan_string(cell_t* out, const cell_t* string, int32_t count, scan_mode_t mode,
                    int32_t* consumed, const cell_t* callback, cell_t* into) {
    if (!scratch) init();
    uint8_t* text = nullptr;
    scratch_guard guard{scratch_used, nullptr};
    int32_t bytes = encode_string(string, count, &text, &guard.owned);
    return scan(out, text, bytes, mode, consumed, callback, string, into);
}

bool trace_resumable(cell_t* out, const cell_t* string, const cell_t* callback, resume_t& resume) {
    if (!scratch) init();
    resume_t seed = std::move(resume);
    resume = resume_t{};
    int32_t from = seed.from > 0 ? seed.from : 0;
    cell_t input = *string;
    input.data1 += static_cast<uint32_t>(from);
    uint8_t* text = nullptr;
    scratch_guard guard{scratch_used, nullptr};
    int32_t bytes = encode_string(&input, -1, &text, &guard.owned);
    state_t s;
    s.fixed = text;
    set_up(s, bytes, true, true, &input);
    set_callback(s, callback);
    s.resume = &resume;
    if (seed.from >= 0) {
        s.char_base = from;
        s.line = seed.line;
        s.seed = &seed.kinds;
    }
    try {
        run_scan(s, out, false, true, true, nullptr, nullptr);
    } catch (const lexer_restart&) {
        resume = resume_t{};
        return false;
    }
    return true;
}

cell_t* push_loaded(const char* text) {
    cell_t* out = stack::push_slot();
    out->header = TYPE_unset;
    scan(out, reinterpret_cast<const uint8_t*>(text), static_cast<int32_t>(std::strlen(text)), {},
         nullptr, nullptr, nullptr, nullptr);
    return out;
}

bool scan_one_value_last(cell_t* out, const cell_t* string) {
    // The whole text is loaded; it must hold exactly one value.
    cell_t all{TYPE_unset, 0, 0, 0};
    collector::root_cell keep(&all);
    scan_string(&all, string, -1, {}, nullptr, nullptr, nullptr);
    if (type_of(&all) != TYPE_block || block::rs_length_q(&all) != 1) {
        none::make_at(out);
        return false;
    }
    *out = *block::rs_head(&all);
    cell::clear_new_line(out);
    return true;
}

bool call_callback(state_t& s, event_t event, int32_t kind, const cell_t* value, int32_t start,
                   int32_t end) {
    if (!words_made) make_words();
    // event, input, type, line, token; nothing here allocates before the
    // call takes them onto the stack.
    cell_t args[5];
    args[0] = event_words[event_index(event)];
    args[1] = s.input_value;
    int32_t head_at = (event == EV_OPEN || (event == EV_PRESCAN && kind <= 0)) ? start : end;
    bool has_input = type_of(&s.input_value) != TYPE_none;
    int32_t base_head = has_input ? static_cast<int32_t>(s.input_value.data1) : 0;
    int32_t given = base_head + offset_in_input(s, head_at);
    if (has_input) args[1].data1 = static_cast<uint32_t>(given);
    if (kind > 0 && kind < TYPE_SLOTS) datatype::make_at(&args[2], kind);
    else none::make_at(&args[2]);  // the exit-state names come with the library
    integer::make_at(&args[3], s.line);
    cell_t* token = &args[4];
    if (event == EV_LOAD && value) {
        *token = *value;
        cell::clear_new_line(token);
    } else {
        cell::begin(token);
        token->data1 = 0;
        token->data2 = static_cast<uint32_t>(s.char_base + offset_in_input(s, start) + 1);
        token->data3 = static_cast<uint32_t>(s.char_base + offset_in_input(s, end) + 1);
        token->header = TYPE_pair;
    }
    cell_t result;
    if (!call_back_hook(&s.callback, &callback_word, args, 5, &result)) {
        if (s.exits_return) return false;
        throw lexer_stop{false};
    }
    // A moved head of the input argument moves the scan.
    const cell_t* moved = &args[1];
    if (has_input && type_of(moved) == type_of(&s.input_value) &&
        moved->data2 == s.input_value.data2 && static_cast<int32_t>(moved->data1) != given) {
        int32_t target = static_cast<int32_t>(moved->data1) - base_head;
        if (type_of(&s.input_value) != TYPE_binary) {
            // characters back to bytes
            const uint8_t* t = s.bytes();
            int32_t at = 0;
            for (int32_t chars = 0; at < s.input_end && chars < target; ++chars) {
                ++at;
                while (at < s.input_end && (t[at] & 0xC0) == 0x80) ++at;
            }
            target = at;
        }
        s.position = target < 0 ? 0 : target > s.input_end ? s.input_end : target;
    }
    return logic::truthy(&result);
}

void init() {
    if (!scratch) {
        scratch = static_cast<uint8_t*>(std::malloc(SCRATCH_SIZE));
        if (!scratch) fire(err::no_memory);
    }
    scratch_used = 0;
    make_words();
    collector::lexer_marker = mark_states;
}

void walk_states(void (*cells)(cell_t* first, int32_t count), void (*node)(node_t n)) {
    for (state_t* s = last_state(); s; s = s->parent) {
        if (s->tail > s->buffer_head) cells(value_at(s->buffer_head), s->tail - s->buffer_head);
        cells(&s->callback, 1);
        cells(&s->input_value, 1);
        if (s->node) node(s->node);
    }
}

void mark_states() {
    walk_states([](cell_t* first, int32_t count) { collector::mark_values(first, first + count); },
                [](node_t n) { collector::mark_node(n); });
}

}  // namespace zuv::lexer
