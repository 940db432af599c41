// A test-only program: reads lines with the terminal line editor and echoes
// each one, until the line "q". The console tests drive it in a terminal.
//
//   line_editor_driver [--hide] [--prompt TEXT] [--fault-on-tab | --error-on-tab]
//
// Each line read is echoed as "got[N]: TEXT" (N characters; an Esc shows as
// "^["); a line ending in Esc also prints "(escape)". --fault-on-tab and
// --error-on-tab make Tab, through the completion hook, end the process
// with a processor fault or raise a language error in the middle of a read.
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "startup/runtime.h"

namespace {

using namespace zuv;

void say(const std::string& text) { platform::write_all(STDOUT_FILENO, text.data(), text.size()); }

terminal::completion_t fault_on_tab(const std::u32string&, int32_t) {
    raise(SIGSEGV);
    return {};
}

terminal::completion_t error_on_tab(const std::u32string&, int32_t) {
    fire(err::invalid_arg);
    return {};
}

void run(int argc, char** argv) {
    runtime::init();
    bool hide = false;
    std::string prompt_text = ">> ";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hide") == 0) hide = true;
        if (std::strcmp(argv[i], "--prompt") == 0 && i + 1 < argc) prompt_text = argv[++i];
        if (std::strcmp(argv[i], "--fault-on-tab") == 0) terminal::set_complete_hook(fault_on_tab);
        if (std::strcmp(argv[i], "--error-on-tab") == 0) terminal::set_complete_hook(error_on_tab);
    }
    // The history, the prompt and the line live on the argument stack.
    cell_t* history = stack::push_slot();
    block::make_at(history, 16);
    cell_t* prompt = string::load(reinterpret_cast<const uint8_t*>(prompt_text.data()),
                                  static_cast<int64_t>(prompt_text.size()), 0);
    cell_t* title = string::load(reinterpret_cast<const uint8_t*>("Line editor"), 11, 0);
    terminal::init(title);
    cell_t* line = stack::push_slot();
    for (;;) {
        string::make_at(line, 100);
        terminal::_set_buffer_history(line, history);
        try {
            terminal::_read_input(prompt, hide);
        } catch (const raised_error&) {
            say("error during the read\n");
            lowrt::quit(3);
        }
        std::u32string text;
        int32_t n = string::rs_abs_length_q(line);
        for (int32_t i = 0; i < n; ++i)
            text.push_back(static_cast<char32_t>(string::rs_abs_at(line, i)));
        if (text == U"q") {
            say("bye\n");
            lowrt::quit(0);
        }
        std::string shown;
        for (char32_t c : text) {
            if (c == 27) {
                shown += "^[";
                continue;
            }
            uint8_t bytes[4];
            int k = unicode::cp_to_utf8(static_cast<uint32_t>(c), bytes);
            shown.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(k));
        }
        say("got[" + std::to_string(n) + "]: " + shown + "\n");
        if (!text.empty() && text.back() == 27) say("(escape)\n");
    }
}

}  // namespace

int main(int argc, char** argv) { zuv::runtime::enter(argc, argv, run); }
