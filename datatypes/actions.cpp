#include "datatypes/actions.h"

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::actions {

namespace {

// The word of the innermost call, for the messages that name the action.
void call_word(cell_t* out) {
    call_frame_t* f = stack::get_call();
    int32_t symbol = f ? static_cast<int32_t>(frame::symbol_of(f)) : 0;
    word::make_raw(out, TYPE_word, 0, symbol, -1);
}

// The message names the action, the type and the argument, in that order.
[[noreturn]] void expect_arg(int32_t type, int32_t argument) {
    cell_t call;
    cell_t kind;
    call_word(&call);
    datatype::make_at(&kind, type);
    cell_t name = error::get_call_argument(argument);
    fire(err::expect_arg, &call, &kind, &name);
}

}  // namespace

void fire_expect_arg(const cell_t* value, int32_t argument) {
    expect_arg(type_of(value), argument);
}

void missing_action(int32_t type, const cell_t*, int32_t) { expect_arg(type, 0); }

action_entry_t port_action(const cell_t* value, int32_t action) {
    // needs port!: an actor field holding a handle! routes actions 25-62 to
    // its native table (no-port-action when empty); until then the row.
    (void)value;
    action_entry_t entry = type_action_table[(TYPE_port << 8) + action - 1];
    if (entry == nullptr) missing_action(TYPE_port, value, action);
    return entry;
}

action_entry_t get_action_by_frame(int32_t action) {
    return get_action_ptr(stack::arguments, action);
}

bool compare(cell_t* value1, cell_t* value2, int32_t op) {
    auto fn = reinterpret_cast<action_fn::compare_t>(get_action_ptr(value1, ACT_compare));
    int32_t r = fn(value1, value2, op);
    if (r == -2) {
        switch (op) {
        case cmp::EQUAL:
        case cmp::STRICT_EQUAL:
        case cmp::SAME:
        case cmp::FIND_LIT:
        case cmp::FIND_LIT_NOCASE:
        case cmp::FIND: return false;
        case cmp::NOT_EQUAL: return true;
        default: fire(err::invalid_compare, value1, value2);
        }
    }
    return truth_of(r, op);
}

int32_t compare_value(cell_t* value1, cell_t* value2, int32_t op) {
    auto three_way = [](uint32_t a, uint32_t b) { return a < b ? -1 : (a > b ? 1 : 0); };
    switch (type_of(value1)) {
    case TYPE_logic:
        if (type_of(value2) == TYPE_logic) return three_way(value1->data1 == 1, value2->data1 == 1);
        break;
    case TYPE_native:
    case TYPE_action:
    case TYPE_op:
        if (type_of(value2) == type_of(value1)) return three_way(value1->data1, value2->data1);
        break;
    case TYPE_function:
    case TYPE_routine:
        if (type_of(value2) == type_of(value1)) return three_way(value1->data3, value2->data3);
        break;
    default: break;
    }
    auto fn = reinterpret_cast<action_fn::compare_t>(get_action_ptr(value1, ACT_compare));
    return fn(value1, value2, op);
}

void compare_args(int32_t op) {
    cell_t* a = stack::arguments;
    bool r = compare(a, a + 1, op);
    cell::begin(a);
    a->data1 = r ? 1u : 0u;
    cell::set_type(a, TYPE_logic);
}

void init() {
    // The 62 entry points belong to the evaluator; they are plugged in here
    // as they land.
}

}  // namespace zuv::actions
