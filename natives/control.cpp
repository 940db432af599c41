// Conditionals, do, and the natives that start and stop non-local exits.
//
// Branches are evaluated straight into the native's result slot: the block
// argument is a cell of this native's frame on the argument stack, which
// never moves, so it is a stable code cell for the whole evaluation.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/trace.h"
#include "lexer/lexer.h"
#include "natives/natives.h"
#include "natives/switch_cases.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::natives {

namespace {

inline void result_none() {
    stack::arguments->header = TYPE_none;
    stack::keep();
}

// The block's live length (code may shorten the block it runs).
inline int32_t live_length(const cell_t* b) { return block::abs_length(b); }

// One expression of code at pos, its value pushed; the position after it.
inline int32_t next_value(const cell_t* code, int32_t pos) {
    return interpreter::eval_next(code, pos, live_length(code), true);
}

// Same frame as case's and do's: the value of a branch that is a block is the
// block's last value, left in the result slot. Like every block eval runs, it
// gives the position back once it ran to its end.
inline void eval_branch(const cell_t* branch) { interpreter::eval(branch, true); }

bool same_word_q(const cell_t* a, const cell_t* b) {
    return symbol::resolve(word::symbol_of(a)) == symbol::resolve(word::symbol_of(b));
}

// --- do of files ------------------------------------------------------------------------

// The lexer takes fewer than 2^31 bytes; a longer file (or an endless one,
// /dev/zero) stops being read there.
constexpr size_t MAX_SCRIPT_BYTES = 0x7FFFFFFF;

// A regular file longer than the lexer takes is refused before any of it is
// read: reading it whole first would only run out of memory.
bool too_long_q(const struct stat& st) {
    return S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > MAX_SCRIPT_BYTES;
}

// False when the file cannot be opened or read; too-long past the limit.
bool read_file(const std::string& path, std::string* out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && too_long_q(st)) {
        ::close(fd);
        fire(err::too_long);
    }
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        if (out->size() + static_cast<size_t>(n) > MAX_SCRIPT_BYTES) {
            ::close(fd);
            fire(err::too_long);
        }
        out->append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// Whether text from i starts a header: "Zuv", blanks, "[".
bool header_at(const std::string& text, size_t i) {
    if (text.compare(i, 3, "Zuv") != 0) return false;
    size_t p = i + 3;
    while (p < text.size() &&
           (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n'))
        p++;
    return p < text.size() && text[p] == '[';
}

// Reads a script, checks its header and evaluates what follows it: do of a
// file before the library's do-file exists (start-up, bare runtimes).
void do_file(cell_t* value) {
    std::string path;
    std::string text;
    if (!unicode::to_os_text(value, &path) || !read_file(path, &text)) {
        cell_t v = *value;
        fire(err::cannot_open, &v);
    }
    size_t at = std::string::npos;
    for (size_t i = 0; i + 3 <= text.size(); i++)
        if (header_at(text, i)) {
            at = i;
            break;
        }
    if (at == std::string::npos) {
        cell_t v = *value;
        fire(err::no_header, &v);
    }
    if (text.size() - at > 0x7FFFFFFF) fire(err::too_long);
    cell_t* code = stack::push_slot();
    code->header = TYPE_unset;
    lexer::scan(code, reinterpret_cast<const uint8_t*>(text.data() + at),
                static_cast<int32_t>(text.size() - at), {.wrap = true}, nullptr, nullptr, nullptr,
                nullptr);
    // Past the header word and its block.
    block::set_head_index(code, block::head_index(code) + 2);
    if (block::head_index(code) > block::abs_length(code))
        block::set_head_index(code, block::abs_length(code));
    eval_branch(code);
}

// do of a file! or url!: the library's do-file runs the script, which gives
// it its header, its folder as the current one, system/script, its
// directives expanded and the halt request. args: the /args value (nullptr:
// none). The result goes to the result slot.
void run_script(cell_t* value, const cell_t* args) {
    if (type_of(value) == TYPE_file) {
        std::string path;
        struct stat st;
        if (file::to_os_path(value, &path) && ::stat(path.c_str(), &st) == 0 && too_long_q(st))
            fire(err::too_long);
    }
    int32_t symbol = symbol::make_alt("do-file", 7);
    cell_t* fn = _context::get_in(symbol, _context::global_node);
    if (fn == nullptr || type_of(fn) != TYPE_function) {
        do_file(value);
        return;
    }
    cell_t word;
    word::make_raw(&word, TYPE_word, _context::global_node, symbol,
                   _context::find_word(_context::global_node, symbol, false));
    cell_t given[3] = {*value, none_value, args ? *args : none_value};
    cell_t result;
    if (!interpreter::call_back(fn, &word, given, 3, interpreter::callback::NONE, &result)) return;
    stack::set_last_keep(&result);
}

}  // namespace

// --- conditionals -----------------------------------------------------------------------

void if_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::if_, refinements);
    cell_t* a = stack::arguments;
    if (truthy(a)) eval_branch(a + 1);
    else result_none();
}

void unless(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::unless, refinements);
    cell_t* a = stack::arguments;
    if (!truthy(a)) eval_branch(a + 1);
    else result_none();
}

void either(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::either, refinements);
    cell_t* a = stack::arguments;
    eval_branch(truthy_strict(a) ? a + 1 : a + 2);
}

void any(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::any, refinements);
    cell_t* code = stack::arguments;
    stack::keep();
    int32_t pos = block::head_index(code);
    while (pos < live_length(code)) {
        pos = next_value(code, pos);
        if (exits::pending) return;
        if (truthy(stack::top())) {
            stack::set_last_keep(stack::top());
            return;
        }
        stack::pop(1);
    }
    result_none();
}

void all(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::all, refinements);
    cell_t* code = stack::arguments;
    stack::keep();
    int32_t pos = block::head_index(code);
    if (pos >= live_length(code)) {
        result_none();
        return;
    }
    while (pos < live_length(code)) {
        pos = next_value(code, pos);
        if (exits::pending) return;
        if (!truthy(stack::top())) {
            result_none();
            return;
        }
        if (pos < live_length(code)) stack::pop(1);
    }
    stack::set_last_keep(stack::top());
}

void switch_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::switch_, refinements);
    cell_t* a = stack::arguments;
    cell_t* value = a;
    cell_t* cases = a + 1;
    const cell_t* found = nullptr;
    uint8_t t = type_of(value);
    int32_t at = t == TYPE_block ? switch_cases::NO_MATCH : switch_cases::find(cases, value);
    if (at >= 0) found = block::rs_abs_at(cases, at);
    if (at == switch_cases::SCAN) {
        int32_t n = live_length(cases);
        for (int32_t i = block::head_index(cases); i < n; i++) {
            cell_t* c = block::rs_abs_at(cases, i);
            if (type_of(c) != t) continue;
            if (!actions::compare(c, value, actions::cmp::EQUAL)) continue;
            for (int32_t j = i + 1; j < live_length(cases); j++) {
                cell_t* b = block::rs_abs_at(cases, j);
                if (type_of(b) == TYPE_block) {
                    found = b;
                    break;
                }
            }
            break;
        }
    }
    if (found != nullptr) {
        // Evaluated from a stack copy (the branch may change the cases block),
        // in this frame and through its plan, as loops run their bodies,
        // unless a tracer may see its <body> frame (user code that library
        // code runs switches tracing back on).
        cell_t* branch = stack::push(found);
        if (interpreter::tracing_anywhere()) {
            interpreter::eval(branch, true);
            return;
        }
        interpreter::nested_position kept(stack::interpreted_mark != 0);  // as eval's
        interpreter::eval_here(branch);
        if (!exits::pending) kept.restore();
        return;
    }
    if (refinements[0] >= 0) {
        eval_branch(a + refinements[0]);
        return;
    }
    result_none();
}

void case_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::case_, refinements);
    bool all_ = refinements[0] != -1;
    cell_t* code = stack::arguments;
    stack::keep();
    int32_t pos = block::head_index(code);
    if (pos >= live_length(code)) {
        result_none();
        return;
    }
    // Branch values land above the cases cell: the cases stay put as code.
    cell_t* out = stack::push_slot();
    out->header = TYPE_none;
    bool matched = false;
    while (pos < live_length(code)) {
        if (all_) matched = false;
        stack::top_slot = out + 1;
        pos = next_value(code, pos);
        if (exits::pending) return;
        if (pos >= live_length(code)) {
            cell_t cond = *stack::top();
            fire(err::need_value, &cond);
        }
        bool yes = truthy_strict(stack::top());
        stack::pop(1);
        if (!yes) {
            pos++;
            continue;
        }
        cell_t* branch = block::rs_abs_at(code, pos);
        if (type_of(branch) == TYPE_block) {
            cell_t* b = stack::push(branch);
            interpreter::eval(b, false);
            if (exits::pending) return;
            *out = *stack::top();
            pos++;
        } else {
            pos = next_value(code, pos);
            if (exits::pending) return;
            *out = *stack::top();
        }
        if (!all_) {
            stack::set_last_keep(out);
            return;
        }
        matched = true;
    }
    if (matched) stack::set_last_keep(out);
    else result_none();
}

// --- do ---------------------------------------------------------------------------------

namespace {

// do without /trace: value is the first argument.
void do_value(cell_t* value, int32_t args_at, int32_t next_at) {
    switch (type_of(value)) {
    case TYPE_block:
    case TYPE_paren:
    case TYPE_hash: {
        int32_t n = block::abs_length(value);
        if (block::head_index(value) > n) block::set_head_index(value, n);
        if (next_at >= 0) {
            cell_t* position = stack::arguments + next_at;
            cell_t* code = stack::push(value);
            int32_t after = interpreter::do_next(code);
            if (exits::pending) return;
            cell_t moved = *code;
            block::set_head_index(&moved, after);
            _context::set(position, &moved);
            stack::keep();
            return;
        }
        eval_branch(value);
        return;
    }
    case TYPE_string: {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        lexer::scan_string(code, value, -1, {.wrap = true}, nullptr, nullptr, nullptr);
        if (next_at >= 0) {
            cell_t* position = stack::arguments + next_at;
            int32_t after = interpreter::do_next(code);
            if (exits::pending) return;
            cell_t moved = *code;
            block::set_head_index(&moved, after);
            _context::set(position, &moved);
            stack::keep();
            return;
        }
        eval_branch(code);
        return;
    }
    case TYPE_file:
    case TYPE_url: run_script(value, args_at >= 0 ? stack::arguments + args_at : nullptr); return;
    case TYPE_path: {
        cell_t* code = stack::push_slot();
        block::make_at(code, 1);
        block::rs_append(code, value);
        eval_branch(code);
        return;
    }
    case TYPE_error: {
        cell_t e = *value;
        exits::throw_error(&e);
    }
    case TYPE_word:
    case TYPE_get_word:
    case TYPE_native:
    case TYPE_action:
    case TYPE_function:
    case TYPE_routine:
    case TYPE_op:
    case TYPE_set_word: {
        // One expression whose input ends right after the value.
        cell_t* code = stack::push_slot();
        block::make_at(code, 1);
        block::rs_append(code, value);
        eval_branch(code);
        return;
    }
    default: stack::keep(); return;
    }
}

}  // namespace

void do_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::do_, refinements);
    int32_t args_at = refinements[1];
    int32_t next_at = refinements[2];
    int32_t trace_at = refinements[3];
    cell_t* value = stack::arguments;
    if (trace_at < 0 || !interpreter::start_trace(stack::arguments + trace_at)) [[likely]] {
        do_value(value, args_at, next_at);
        return;
    }
    // The run ends here however the evaluation leaves: exit and return stop
    // at this do, any other exit passes on after the end event.
    stack::set_exit_target(1);
    try {
        do_value(value, args_at, next_at);
    } catch (const raised_error&) {
        // The error value is the last pushed cell: the end event runs above it.
        interpreter::end_trace();
        throw;
    } catch (...) {
        interpreter::drop_trace();
        throw;
    }
    uint32_t code = exits::pending;
    bool landed = code == exits::THROW_RETURN || code == exits::THROW_EXIT;
    // An exit that landed here left its value in the result slot, above the
    // top: the end event must not overwrite it.
    if (landed) stack::keep();
    interpreter::end_trace();
    if (!landed) return;
    // The run is over: the exit goes on to the function it was meant for,
    // or ends here when there is none.
    exits::take();
    stack::set_exit_target(0);
    for (call_frame_t* f = stack::ctop - 1; f > stack::cbottom;) {
        f--;
        if (frame::kind_of(f) == frame::KIND_TRY_ALL) return;
        if (f->header & frame::EXIT_TARGET) {
            exits::throw_exit(code == exits::THROW_RETURN, false);
            return;
        }
    }
}

// --- exceptions and exits --------------------------------------------------------------

void try_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::try_, refinements);
    bool all_ = refinements[0] != -1;
    bool keep = refinements[1] != -1;
    cell_t* base = stack::arguments;
    call_frame_t* saved_ctop = stack::ctop;
    cell_t block = *base;
    cell_t* code = stack::push(&block);
    if (all_) stack::mark_try_all(word_of(id::try_));
    else stack::mark_try(word_of(id::try_));
    auto land = [&] {
        exits::pending = 0;
        if (type_of(stack::top()) != TYPE_error) throw;
        cell_t e = *stack::top();
        stack::ctop = saved_ctop;
        stack::arguments = base;
        // The cells of the frames the error left are free: the trace is made
        // above the try's own (a stack overflow's error rides in the reserve
        // past the end, where nothing more may be pushed).
        stack::top_slot = base + 1;
        // The trace needs memory that a no-memory error may not find: raised
        // here, past the try, it would go uncaught.
        if (keep && error::id_of(&e) != err::no_memory) error::capture_stack(&e);
        stack::set_last_keep(&e);
    };
    bool refused = false;
    try {
        interpreter::eval(code, true);
    } catch (const raised_error&) {
        land();
        return;
    } catch (const std::bad_alloc&) {
        refused = true;
    } catch (const std::length_error&) {
        refused = true;
    }
    if (refused) {
        // C++ code (a container of a native or codec) was refused memory.
        // The frames it ran under are still on the stack: raised from here,
        // no-memory unwinds them to this try as any error does.
        try {
            fire(err::no_memory);
        } catch (const raised_error&) {
            land();
            return;
        }
    }
    // A pending exit has passed through (a try-all frame turns every exit
    // that would cross it into an error, so none passes there).
    if (exits::pending) return;
    stack::unwind_last();
}

void break_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::break_, refinements);
    exits::throw_break(refinements[0] != -1, false);
}

void continue_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::continue_, refinements);
    exits::throw_break(false, true);
}

void exit(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::exit, refinements);
    exits::throw_exit(false, false);
}

void return_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::return_, refinements);
    exits::throw_exit(true, false);
}

void throw_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::throw_, refinements);
    interpreter::fire_throw();
    if (refinements[0] == -1) {
        stack::keep();
        stack::push_slot()->header = TYPE_unset;
    }
    exits::throw_throw(exits::THROW_THROW);
}

void catch_(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::catch_, refinements);
    int32_t name_at = refinements[0];
    cell_t* base = stack::arguments;
    cell_t names = name_at >= 0 ? base[name_at] : cell_t{TYPE_none, 0, 0, 0};
    cell_t* code = stack::push(base);
    stack::push(&names);  // rooted while the block runs
    stack::mark_catch(word_of(id::catch_));
    try {
        interpreter::eval(code, true);
    } catch (const exits::escape&) {
        // A change handler threw: the throw is pending, as after eval.
    }
    if (exits::pending == 0) {
        stack::unwind_last();
        return;
    }
    if (exits::pending != exits::THROW_THROW) return;

    // The catch frame is innermost: the value at its base, the name above.
    cell_t* landed = stack::arguments;
    bool match = true;
    if (name_at >= 0) {
        const cell_t* name = landed + 1;
        match = false;
        if (type_of(name) == TYPE_word) {
            names = *(code + 1);
            if (type_of(&names) == TYPE_block) {
                int32_t n = block::abs_length(&names);
                for (int32_t i = block::head_index(&names); i < n; i++) {
                    cell_t* w = block::rs_abs_at(&names, i);
                    if (type_of(w) != TYPE_word) {
                        cell_t catch_word = *word_of(id::catch_);
                        cell_t bad = *w;
                        fire(err::invalid_refine_arg, &catch_word, &bad);
                    }
                }
                for (int32_t i = block::head_index(&names); i < n && !match; i++)
                    match = same_word_q(block::rs_abs_at(&names, i), name);
            } else {
                match = same_word_q(&names, name);
            }
        }
    }
    if (!match) {
        // On to the next catch frame, from this one.
        exits::pending = 0;
        exits::throw_throw(exits::THROW_THROW);
        return;
    }
    exits::take();
    // The throw is over: the next error must look for its where from its own
    // frame, not from where this throw started (frames long gone by then).
    stack::throw_origin = nullptr;
    stack::keep();
    interpreter::fire_catch();
    stack::unwind_last();
}

}  // namespace zuv::natives
