// The natives that start other programs: call, through the shell, and
// browse, through the desktop's opener.
#include <string>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "io/call.h"
#include "natives/natives.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::natives {

namespace {

// A refinement's argument cell, nullptr when the refinement is not used.
cell_t* refinement_arg(const int32_t* refinements, int r) {
    return refinements[r] >= 0 ? stack::arguments + refinements[r] : nullptr;
}

}  // namespace

void call(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::call, refinements);
    enum { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR };
    const cell_t* cmd = stack::arguments;
    int32_t result = 0;
    // An empty command starts nothing, not even the shell.
    if (string::rs_length_q(cmd) > 0) {
        auto on = [&](int r) { return refinements[r] >= 0; };
        result = call::run(cmd, on(WAIT), on(SHOW), on(CONSOLE), on(SHELL),
                           refinement_arg(refinements, INPUT), refinement_arg(refinements, OUTPUT),
                           refinement_arg(refinements, ERROR));
    }
    integer::make_at(stack::arguments, result);
    stack::keep();
}

void browse(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::browse, refinements);
    const cell_t* target = stack::arguments;
    // An argument of the desktop's opener, as a name of the system.
    std::string text;
    if (!unicode::to_os_text(target, &text) || !call::open_with_desktop(text)) {
        cell_t v = *target;
        fire(err::cannot_open, &v);
    }
    stack::set_last_keep(&unset_value);
}

}  // namespace zuv::natives
