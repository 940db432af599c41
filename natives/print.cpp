// print and prin: the value's text form handed to the print hooks. A block
// is reduced first (each expression evaluated), then formed with one space
// between its values.
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "natives/natives.h"
#include "natives/values.h"
#include "runtime/exits.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"

namespace zuv::natives {

int32_t last_lf = 1;

namespace {

// Reduces the block at the arguments base into a new block above it. Each
// call has its own block, so a print nested in another print's evaluation
// cannot overwrite the outer one's values. Returns false when an exit is
// pending.
bool reduce_argument(cell_t* out) {
    cell_t* code = stack::arguments;
    block::make_at(out, block::rs_length_q(code) > 0 ? block::rs_length_q(code) : 1);
    int32_t pos = block::head_index(code);
    while (pos < block::abs_length(code)) {
        pos = interpreter::eval_next(code, pos, block::abs_length(code), true);
        if (exits::pending) return false;
        block::rs_append(out, stack::top());
        stack::pop(1);
    }
    return true;
}

void output(bool newline) {
    cell_t* value = stack::arguments;
    stack::keep();
    cell_t* text = stack::push_slot();
    text->header = TYPE_unset;
    if (type_of(value) == TYPE_block) {
        cell_t* reduced = stack::push_slot();
        reduced->header = TYPE_unset;
        if (!reduce_argument(reduced)) return;
        string::make_at(text, 64);
        actions::form(reduced, text, false, 0x7FFFFFFF);
    } else if (type_of(value) == TYPE_unset) {
        string::make_at(text, 1);
    } else {
        string::make_at(text, 64);
        actions::form(value, text, false, 0x7FFFFFFF);
    }
    print_hooks::call(text, newline);
    last_lf = newline ? 1 : 0;
    stack::arguments->header = TYPE_unset;
    stack::keep();
}

}  // namespace

void print(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::print, refinements);
    output(true);
}

void prin(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::prin, refinements);
    output(false);
}

}  // namespace zuv::natives
