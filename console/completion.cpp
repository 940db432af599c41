// The line editor's completion hook (see completion.h).
#include "console/completion.h"

#include <string>

#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::console {
namespace {

void make_line(cell_t* cell, const std::u32string& line, int32_t cursor) {
    string::make_at(cell, static_cast<int64_t>(line.size()));
    for (char32_t c : line) string::append_char(cell, static_cast<uint32_t>(c));
    cell->data1 = static_cast<uint32_t>(cursor);
}

// One answer string: its characters from the buffer's start, and its head
// index as the cursor.
std::pair<std::u32string, int32_t> read_line(const cell_t* value) {
    std::u32string text;
    int32_t n = string::rs_abs_length_q(value);
    for (int32_t i = 0; i < n; ++i)
        text.push_back(static_cast<char32_t>(string::rs_abs_at(value, i)));
    return {text, static_cast<int32_t>(value->data1)};
}

// Asks `zuv-complete-input` in console mode. Whatever goes wrong in it (an
// error, an exit, an answer of another shape) completes nothing, and the Tab
// then goes in as a character.
terminal::completion_t complete(const std::u32string& line, int32_t cursor) {
    terminal::completion_t answer;
    cell_t* saved_arguments = stack::arguments;
    cell_t* saved_top = stack::top_slot;
    call_frame_t* saved_ctop = stack::ctop;
    cell_t* base = stack::mark_try_all(nullptr);
    try {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        block::make_at(code, 3);
        cell_t word = word::load("zuv-complete-input");
        block::rs_append(code, &word);
        // The line grows on the stack, where the collector sees it.
        cell_t* text = stack::push_slot();
        text->header = TYPE_unset;
        make_line(text, line, cursor);
        block::rs_append(code, text);
        cell_t yes;
        logic::make_at(&yes, true);
        block::rs_append(code, &yes);
        interpreter::eval(code, true);
        if (!exits::pending && type_of(base) == TYPE_block) {
            int32_t n = block::abs_length(base);
            for (int32_t i = block::head_index(base); i < n; ++i) {
                const cell_t* item = block::rs_abs_at(base, i);
                if (type_of(item) != TYPE_string) {
                    answer.clear();
                    break;
                }
                answer.push_back(read_line(item));
            }
        }
    } catch (const raised_error&) {
        answer.clear();
    }
    exits::pending = 0;
    stack::ctop = saved_ctop;
    stack::arguments = saved_arguments;
    stack::top_slot = saved_top;
    return answer;
}

}  // namespace

void install_completion() { terminal::set_complete_hook(complete); }

}  // namespace zuv::console
