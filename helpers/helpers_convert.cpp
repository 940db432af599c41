// The to-TYPE names most programs use: each calls the to action on its
// datatype and value, as its body does, on a native frame of its own.
#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "helpers/helpers.h"
#include "helpers/helpers_frame.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

template <uint8_t type> void convert() {
    static const cell_t word = action_word("to");
    cell_t given = *stack::arguments;
    cell_t made;
    {
        scratch s(word);
        cell_t* target = stack::push_slot();
        datatype::make_at(target, type);
        cell_t* value = s.push(&given);
        made = *actions::to(target, value);
    }
    *stack::arguments = made;
    stack::keep();
}

}  // namespace

void to_integer() { convert<TYPE_integer>(); }
void to_float() { convert<TYPE_float_>(); }
void to_string() { convert<TYPE_string>(); }

}  // namespace zuv::helpers
