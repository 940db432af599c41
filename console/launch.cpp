// The console's start (see launch.h).
#include "console/launch.h"

#include <unistd.h>

#include <cstring>

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
#include "runtime/library_code.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"

namespace zuv::console {

int launch() {
    const char entry[] = "cli-console-ctx/launch";
    cell_t* ctx = _context::get_in(symbol::make_alt("cli-console-ctx", 15), _context::global_node);
    if (ctx == nullptr || type_of(ctx) != TYPE_object) {
        // The library defines the console; without it there is nothing to run.
        const char text[] = "*** Error: the library has no console (cli-console-ctx)\n";
        platform::write_all(STDOUT_FILENO, text, sizeof text - 1);
        return 1;
    }
    install_completion();
    // The code stays in the frame's result slot, rooted, while it runs.
    cell_t* base = stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    lexer::scan(base, reinterpret_cast<const uint8_t*>(entry),
                static_cast<int32_t>(std::strlen(entry)), {}, nullptr, nullptr, nullptr, nullptr);
    // The call is the runtime's own, as the console is: errors of a script
    // report the script's code as near, not this line.
    library_code::mark_library(base);
    interpreter::eval(base, true);
    exits::pending = 0;
    stack::unwind();
    stack::pop(1);
    return 0;
}

}  // namespace zuv::console
