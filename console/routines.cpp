// The console's routines: the input routines that the console's Zuv code
// calls (ask, input, the console start), made into routine! values.
//
// The line editor is console/terminal.h; piped input is console/stdin.h.
#include <unistd.h>

#include <cstring>

#include "console/launch.h"
#include "console/stdin.h"
#include "console/terminal.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/routine.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "io/simple_io.h"
#include "lexer/lexer.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::console {
namespace {

inline cell_t* arg(int32_t i) { return stack::arguments + i; }

int32_t symbol_of_text(const char* name) {
    return symbol::make_alt(name, static_cast<int32_t>(std::strlen(name)));
}

// --- the routines ------------------------------------------------------------------------

void input_stdin() {
    cell_t* line = arg(0);
    string::make_at(line, 256);
    stack::keep();
    terminal::stdin_readline(line);
}

void read_stdin() {
    cell_t* buffer = arg(0);
    if (type_of(buffer) != TYPE_binary) fire(err::invalid_arg, buffer);
    if (type_of(arg(1)) != TYPE_integer) fire(err::invalid_arg, arg(1));
    int64_t buflen = integer::get(arg(1));
    // Bytes the line reader holds already come first.
    series_buffer_t* s = binary::buffer_of(buffer);
    int64_t at = static_cast<int64_t>(s->head) + buffer->data1;
    int64_t room = static_cast<int64_t>(s->size) - std::max<int64_t>(at, s->tail);
    int64_t n = std::min(buflen, room);
    int64_t got = n > 0 ? terminal::take_buffered(s->data() + at, n) : 0;
    if (got > 0) {
        s->tail = static_cast<int32_t>(std::max<int64_t>(s->tail, at + got));
    } else {
        simple_io::read_stdin(buffer, buflen);
    }
    stack::set_last(&unset_value);
}

void set_buffer_history() {
    terminal::_set_buffer_history(arg(0), arg(1));
    stack::set_last(&unset_value);
}

void read_input() {
    terminal::_read_input(arg(0), type_of(arg(1)) == TYPE_logic && logic::get(arg(1)));
    stack::set_last(&unset_value);
}

void terminate_console() {
    terminal::_terminate_console();
    stack::set_last(&unset_value);
}

void input_ended_q() { logic::make_at(arg(0), terminal::stdin_ended); }

void input_quit_q() { logic::make_at(arg(0), terminal::input_quit_q()); }

// The console start: the title (only on a terminal) and the window size.
void console_init() {
    terminal::init(arg(0));
    stack::set_last(&unset_value);
}

// The console's check of the text it gathers: where its last trace may be
// taken up, and the text (node, head, length in characters) it was made for.
lexer::resume_t resume;
node_t resume_node = 0;
int32_t resume_head = 0;
int32_t resume_length = 0;

// Whether the open delimiters begin with those of the containers open at
// the place, and hold at most one more (the tag, binary or brace string left
// open at the end): the trace takes up with the ones of the place.
bool open_as_at_place(cell_t* open, const std::vector<int32_t>& kinds) {
    int32_t n = static_cast<int32_t>(kinds.size());
    int32_t have = block::rs_length_q(open);
    if (have < n || have > n + 1) return false;
    const cell_t* entry = block::rs_head(open);
    for (int32_t i = 0; i < n; ++i, ++entry) {
        uint32_t c = kinds[static_cast<size_t>(i)] == TYPE_block ? '[' : '(';
        if (type_of(entry) != TYPE_char_ || char_::get(entry) != c) return false;
    }
    return true;
}

// `_trace-delimiters buffer open callback more?`: traces the buffer with the
// callback as transcode/trace does. With more? (the buffer is the one traced
// last, with text appended since), the trace takes up where the last one
// left a place to, the open delimiters as they were there; otherwise, or
// when there is no such place, open is emptied and the trace starts at the
// head.
void trace_delimiters() {
    cell_t* buffer = arg(0);
    cell_t* open = arg(1);
    int32_t head = static_cast<int32_t>(buffer->data1);
    int32_t length = string::rs_abs_length_q(buffer) - head;
    bool more = type_of(arg(3)) == TYPE_logic && logic::get(arg(3));
    bool take_up = more && resume.from >= 0 && resume_node == buffer->data2 &&
                   resume_head == head && resume_length <= length &&
                   open_as_at_place(open, resume.kinds);
    if (take_up) {
        block::truncate_at(open,
                           block::head_index(open) + static_cast<int32_t>(resume.kinds.size()));
    } else {
        resume = lexer::resume_t{};
        block::rs_clear(open);
    }
    resume_node = buffer->data2;
    resume_head = head;
    resume_length = length;
    cell_t* out = stack::push_slot();
    out->header = TYPE_none;
    if (!lexer::trace_resumable(out, buffer, arg(2), resume)) {
        block::rs_clear(open);
        lexer::trace_resumable(out, buffer, arg(2), resume);
    }
    // A throw from the callback has put its value where it goes.
    if (exits::pending_q()) return;
    stack::set_last(&unset_value);
}

// --- the table ---------------------------------------------------------------------------

struct routine_def_t {
    const char* word;
    const char* spec;
    const char* body;  // kept for reflection only
    routine::entry_t entry;
    int32_t return_type;
};

// clang-format off
const routine_def_t routine_defs[] = {
    {"_set-buffer-history", R"~("Internal Use Only" line [string!] hist [block!])~", "[terminal/setup line hist]", set_buffer_history, -1},
    {"_read-input", R"~("Internal Use Only" prompt [string!] hidden? [logic!])~", "[terminal/edit prompt hidden?]", read_input, -1},
    {"_terminate-console", R"~("Internal Use Only")~", "[]", terminate_console, -1},
    {"input-stdin", R"~("Temporary function, internal use only" return: [string!])~", "[terminal/stdin-readline stack/arguments]", input_stdin, TYPE_string},
    {"read-stdin", R"~("Temporary function, internal use only" buffer [binary!] buflen [integer!])~", "[simple-io/read-data stdin buffer buflen]", read_stdin, -1},
    {"_input-ended?", R"~("Internal Use Only" return: [logic!])~", "[terminal/stdin-ended?]", input_ended_q, TYPE_logic},
    {"_input-quit?", R"~("Internal Use Only" return: [logic!])~", "[terminal/input-quit?]", input_quit_q, TYPE_logic},
    {"_trace-delimiters", R"~("Internal Use Only" buffer [string!] open [block!] callback [function!] more? [logic!])~", "[console/trace-delimiters buffer open callback more?]", trace_delimiters, -1},
    {"__console-init", R"~("Internal Use Only" str [string!])~", "[terminal/init str]", console_init, -1},
};
// clang-format on

void define_routine(const routine_def_t& r) {
    cell_t* spec = lexer::push_loaded(r.spec);
    cell_t* body = lexer::push_loaded(r.body);
    if (type_of(body) == TYPE_block && block::rs_length_q(body) == 1) {
        cell_t inner = *block::rs_abs_at(body, block::head_index(body));
        if (type_of(&inner) == TYPE_block) *body = inner;
    }
    cell_t made = *routine::push(spec, body, routine::add_entry(r.entry), r.return_type, false);
    cell_t w = _context::add_global(symbol_of_text(r.word), false, false);
    _context::set(&w, &made);
    stack::pop(3);
}

// Once per runtime: a runtime started again (as unit tests do) has none.
bool defined_q() {
    int32_t i =
        _context::find_word(_context::global_node, symbol_of_text(routine_defs[0].word), false);
    return i >= 0 && type_of(_context::value_at(_context::global_node, i)) == TYPE_routine;
}

}  // namespace

void define_routines() {
    if (defined_q()) return;
    for (const routine_def_t& r : routine_defs) define_routine(r);
}

}  // namespace zuv::console
