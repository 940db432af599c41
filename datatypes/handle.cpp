#include "datatypes/handle.h"

#include <cstring>

#include "datatypes/action_types.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/externals.h"
#include "runtime/stack.h"

namespace zuv::handle {

namespace {

inline void put(cell_t* c, uint32_t value, uint32_t kind, int32_t external) {
    c->data1 = kind;
    c->data2 = value;
    c->data3 = static_cast<uint32_t>(external);
    c->header = TYPE_handle;
}

}  // namespace

const char* kind_name(uint32_t k) {
    static const char* const names[] = {nullptr, "fd", "monitor", "window", "font", "rich-text"};
    return k < sizeof names / sizeof names[0] ? names[k] : nullptr;
}

cell_t* make_in(cell_t* block, uint32_t value, uint32_t kind) {
    cell_t* c = alloc::alloc_tail_value(block);
    cell::begin(c);
    put(c, value, kind, NO_EXTERNAL);
    return c;
}

cell_t* box(uint32_t value, uint32_t kind) {
    cell_t* c = stack::arguments;
    put(c, value, kind, NO_EXTERNAL);
    return c;
}

cell_t* push(uint32_t value, uint32_t kind) {
    cell_t* c = stack::push_slot();
    put(c, value, kind, NO_EXTERNAL);
    return c;
}

void mark(const cell_t* cell) {
    int32_t index = external_of(cell);
    if (index >= 0 && index < externals::capacity()) externals::mark(index, 0);
}

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    string::hex_text hex = string::to_hex(static_cast<int32_t>(value_of(value)), false);
    string::concatenate_literal(buffer, hex.text);
    string::append_char(buffer, 'h');
    return limit - 9;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (!how.all) {
        string::concatenate_literal(buffer, "handle!");
        return how.limit - 7;
    }
    string::concatenate_literal(buffer, "#[handle! ");
    how.limit = form(value, buffer, how.part, how.limit - 10);
    if (const char* name = kind_name(kind_of(value))) {
        string::append_char(buffer, ' ');
        string::concatenate_literal(buffer, name);
        how.limit -= 1 + static_cast<int32_t>(std::strlen(name));
    }
    string::append_char(buffer, ']');
    return how.limit - 1;
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t) {
    if (type_of(value2) != TYPE_handle) return 1;
    int32_t a = static_cast<int32_t>(value_of(value1)), b = static_cast<int32_t>(value_of(value2));
    return (a > b) - (a < b);
}

void init() {
    datatype::record_t r(TYPE_handle, TYPE_integer, "handle!");
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::handle
