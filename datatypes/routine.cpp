#include "datatypes/routine.h"

#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace zuv::routine {
namespace {

// The table of C++ entry points; index 0 stays empty so that 0 means none.
constexpr int32_t MAX_ENTRIES = 4096;
entry_t entries[MAX_ENTRIES] = {};
int32_t entry_count = 0;

int32_t emit(cell_t* buffer, const char* text, int32_t limit) {
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

}  // namespace

int32_t add_entry(entry_t entry) {
    for (int32_t i = 1; i <= entry_count; i++)
        if (entries[i] == entry) return i;
    if (entry_count + 1 >= MAX_ENTRIES) fire(err::no_memory);
    entries[++entry_count] = entry;
    return entry_count;
}

entry_t entry_at(int32_t index) {
    return index > 0 && index <= entry_count ? entries[index] : nullptr;
}

int32_t code_of(const cell_t* r) { return function::code_of(r); }

cell_t* push(const cell_t* spec, const cell_t* body, int32_t code, int32_t return_type, bool flag) {
    cell_t* out = stack::push_slot();
    cell::begin(out);
    cell_t* sp = stack::push(spec);
    cell_t* bp = stack::push(body ? body : &none_value);
    node_t ctx = _context::make(sp, true, true, _context::KIND_FUNCTION);
    collector::root_node keep_ctx(ctx);
    node_t more_series = alloc::alloc_unset_cells(function::MORE_COUNT);
    series_buffer_t* m = alloc::buffer(more_series);
    m->tail = m->head + function::MORE_COUNT * 16;
    cell_t* c = m->head_cell();
    c[function::MORE_BODY] = *bp;
    integer::make_at(&c[function::MORE_CODE], code);
    integer::make_at(&c[function::MORE_OWNER], return_type);

    // The arity counts every word! of the spec series from its first cell.
    int32_t arity = 0;
    series_buffer_t* s = alloc::buffer(sp->data2);
    for (int32_t i = 0; i < s->used() / 16; i++)
        if (type_of(s->head_cell() + i) == TYPE_word) arity++;

    out->data1 = ctx;
    out->data2 = sp->data2;
    out->data3 = more_series;
    out->header = TYPE_routine | (flag ? FLAG_EXTRA : 0) |
                  (static_cast<uint32_t>(arity & 0x1F) << ARITY_SHIFT);
    stack::pop(2);
    return out;
}

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) {
    return emit(buffer, "?routine?", limit);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    cell_t r = *value;
    how.limit = emit(buffer, "routine ", how.limit);
    cell_t spec;
    block::init_value(&spec, TYPE_block, r.data2);
    how.limit = block::mold(&spec, buffer, how.inner());
    cell_t body = *function::more(&r, function::MORE_BODY);
    if (type_of(&body) == TYPE_block) return block::mold(&body, buffer, how.inner());
    how.limit = emit(buffer, " ", how.limit);
    return actions::mold(&body, buffer, how.inner());
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    return function::compare(value1, value2, op);
}

void init() {
    datatype::record_t r(TYPE_routine, TYPE_function, "routine!");
    r.inherit({ACT_reflect});
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::routine
