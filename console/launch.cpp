// The console's start (see launch.h).
#include "console/launch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "console/completion.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "startup/top_level.h"

namespace zuv::console {
namespace {

// A build whose library has no console yet still runs `zuv FILE`: the
// script is read, its header found, and the rest evaluated under a frame
// that catches every error.
void say(const std::string& text) { platform::write_all(STDOUT_FILENO, text.data(), text.size()); }

bool blank(uint8_t c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Reads the whole file; false when it cannot be read.
bool read_file(const char* path, std::string* out) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out->append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// Prints the error at the top of the argument stack.
void print_error(cell_t* error) {
    if (type_of(error) == TYPE_error) error::print(error);
}

// Runs f under a try-all frame; an error is printed and gives false. An
// error that escapes (before the frames exist) is printed by its id.
template <typename F> bool guarded(F f) {
    cell_t* base = stack::mark_try_all(nullptr);
    try {
        f(base);
    } catch (const raised_error& e) {
        cell_t* top = stack::top();
        if (type_of(top) == TYPE_error) {
            print_error(top);
        } else {
            const err_info& info = errors::info(e.id);
            say(std::string("*** Error: ") + info.word + "\n");
        }
        return false;
    }
    exits::pending = 0;  // an exit with no target ends the script quietly
    stack::unwind();
    stack::pop(1);
    return true;
}

bool holds_header_word(const cell_t* code) {
    if (block::rs_length_q(code) < 2) return false;
    const cell_t* first = block::rs_abs_at(code, block::head_index(code));
    if (type_of(first) != TYPE_word || type_of(first + 1) != TYPE_block) return false;
    const char* name = symbol::get_utf8(word::symbol_of(first));
    return std::strcmp(name, "Zuv") == 0;
}

int64_t find_header(const uint8_t* text, size_t length) {
    for (size_t i = 0; i + 3 < length; ++i) {
        if (std::memcmp(text + i, "Zuv", 3) != 0) continue;
        size_t p = i + 3;
        if (p + 7 <= length && std::memcmp(text + p, "/System", 7) == 0) p += 7;
        while (p < length && blank(text[p])) ++p;
        if (p < length && text[p] == '[') return static_cast<int64_t>(i);
    }
    return -1;
}

int run_text(const uint8_t* text, size_t length) {
    int64_t header = find_header(text, length);
    if (header < 0) {
        say("*** Error: Zuv header not found!\n");
        return 1;
    }
    const uint8_t* from = text + header;
    size_t size = length - static_cast<size_t>(header);
    if (size > 0x7FFFFFFF) {
        say("*** Error: script too large\n");
        return 1;
    }
    // The loaded block lives in the try-all frame's result slot, rooted by
    // the argument stack while it is evaluated.
    bool header_ok = true;
    bool ran = guarded([&](cell_t* base) {
        stack::push_slot()->header = TYPE_unset;
        lexer::scan(base, from, static_cast<int32_t>(size), false, true, true, false, nullptr, nullptr,
                    nullptr, nullptr);
        if (!holds_header_word(base)) {
            header_ok = false;
            return;
        }
        base->data1 += 2;  // after the header word and block
        interpreter::eval(base, true);
    });
    if (!ran) return 1;
    if (!header_ok) {
        std::string marker(reinterpret_cast<const char*>(text), length);
        say(marker.find("Zuv/System") != std::string::npos
                ? "*** Error: contains Zuv/System code which requires compilation!\n"
                : "*** Error: not a Zuv program!\n");
        return 1;
    }
    return 0;
}

int run_file(const char* path) {
    std::string text;
    if (!read_file(path, &text)) {
        say(std::string("*** Error: cannot open: ") + path + "\n");
        return 1;
    }
    return run_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

int run_without_console(int argc, char** argv) {
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) != 0) break;
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
    }
    if (i >= argc) return 0;
    return run_file(argv[i]);
}

}  // namespace

int launch(int argc, char** argv) {
    const char entry[] = "cli-console-ctx/launch";
    cell_t* ctx = _context::get_in(symbol::make_alt("cli-console-ctx", 15), _context::global_node);
    if (ctx == nullptr || type_of(ctx) != TYPE_object) return run_without_console(argc, argv);
    install_completion();
    // The code stays in the frame's result slot, rooted, while it runs.
    cell_t* base = stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    lexer::scan(base, reinterpret_cast<const uint8_t*>(entry), static_cast<int32_t>(std::strlen(entry)), false,
                true, true, false, nullptr, nullptr, nullptr, nullptr);
    // The call is the runtime's own, as the console is: errors of a script
    // report the script's code as near, not this line.
    top_level::mark_library(base);
    interpreter::eval(base, true);
    exits::pending = 0;
    stack::unwind();
    stack::pop(1);
    return 0;
}

}  // namespace zuv::console
