#include "datatypes/native.h"

#include <cstring>

#include "datatypes/action.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/op.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "runtime/collector.h"
#include "runtime/compiled.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::native {
namespace {

int32_t emit(cell_t* buffer, const char* text, int32_t limit) {
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

int32_t canonical_of(words::id w) {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

}  // namespace

cell_t* make_numbered(cell_t* proto, cell_t* spec, int32_t type) {
    // A number that names no entry would make a value that crashes when
    // called: only the entries that exist are accepted.
    int32_t limit = type == TYPE_action ? action::COUNT : COUNT;
    if (type_of(spec) != TYPE_block || block::rs_length_q(spec) != 2)
        compiled::fire_2_args(proto, spec);
    cell_t* items = block::rs_head(spec);
    cell_t fn_spec = items[0], number = items[1];
    if (type_of(&fn_spec) != TYPE_block || type_of(&number) != TYPE_integer)
        compiled::fire_2_args(proto, spec);
    int32_t n = integer::get(&number);
    if (n < 1 || n > limit) compiled::fire_2_args(proto, spec);

    cell_t* out = stack::push_slot();
    cell::begin(out);
    node_t more = alloc::alloc_unset_cells(2);
    collector::root_node keep_more(more);
    alloc::buffer(more)->tail = alloc::buffer(more)->head + 2 * 16;
    node_t ctx = _context::make(&fn_spec, true, false, _context::KIND_FUNCTION);
    cell_t* m = alloc::buffer(more)->head_cell();
    m[0] = *_context::cell_of(ctx);
    m[1] = none_value;
    out->data1 = static_cast<uint32_t>(n - 1);
    out->data2 = fn_spec.data2;
    out->data3 = more;
    out->header = static_cast<uint32_t>(type);
    cell_t made = *out;
    stack::pop(1);
    stack::set_last(&made);
    return stack::arguments;
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t) {
    return make_numbered(proto, spec, TYPE_native);
}

cell_t* reflect(cell_t* value, int32_t field) {
    cell_t v = *value;
    int32_t f = symbol::resolve(field);
    uint8_t kind = type_of(&v) == TYPE_op ? op::wrapped_type(&v) : type_of(&v);
    cell_t result;
    if (f == canonical_of(words::id::spec)) {
        block::init_value(&result, TYPE_block, spec_node(&v));
    } else if (f == canonical_of(words::id::body)) {
        if (kind == TYPE_function || kind == TYPE_routine) {
            result = *function::more(&v, function::MORE_BODY);
        } else {
            cell::begin(&result);
            integer::make_at(&result, number_of(&v));
        }
    } else {
        fire(err::not_done);
    }
    stack::set_last(&result);
    return stack::arguments;
}

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) {
    return emit(buffer, "?native?", limit);
}

int32_t mold_spec(cell_t* value, cell_t* buffer, const char* open, mold_options_t how) {
    cell_t spec;
    block::init_value(&spec, TYPE_block, spec_node(value));
    how.limit = emit(buffer, open, how.limit);
    how.limit = block::mold(&spec, buffer, how.inner());
    return emit(buffer, "]", how.limit);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return mold_spec(value, buffer, "make native! [", how);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != type_of(value1)) return -2;
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 7:
    case 8:
    case 9:
    case 12: {
        int32_t a = static_cast<int32_t>(value1->data1), b = static_cast<int32_t>(value2->data1);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default: return -2;
    }
}

void init() {
    datatype::record_t r(TYPE_native, 0, "native!");
    r.own<ACT_make>(make);
    r.own<ACT_reflect>(reflect);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::native
