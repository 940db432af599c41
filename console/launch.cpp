// The console's start (see launch.h).
#include "console/launch.h"

#include <unistd.h>

#include <cstring>

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "runtime/exits.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"

namespace zuv::console {

int launch(int, char**) {
    const char entry[] = "cli-console-ctx/launch";
    cell_t* ctx = _context::get_in(symbol::make_alt("cli-console-ctx", 15), _context::global_node);
    if (ctx == nullptr || type_of(ctx) != TYPE_object) {
        const char say[] = "*** Error: the console is missing from the library\n";
        platform::write_all(STDOUT_FILENO, say, sizeof say - 1);
        return 1;
    }
    // The code stays in the frame's result slot, rooted, while it runs.
    cell_t* base = stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    lexer::scan(base, reinterpret_cast<const uint8_t*>(entry), static_cast<int32_t>(std::strlen(entry)), false,
                true, true, false, nullptr, nullptr, nullptr, nullptr);
    interpreter::eval(base, true);
    exits::pending = 0;
    stack::unwind();
    stack::pop(1);
    return 0;
}

}  // namespace zuv::console
