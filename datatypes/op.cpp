#include "datatypes/op.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::op {
namespace {

int32_t emit(cell_t* buffer, const char* text, int32_t limit) {
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

int32_t canonical_of(words::id w) {
    return symbol::resolve(static_cast<int32_t>(words::symbol_of(w)));
}

}  // namespace

bool check_spec(node_t spec) {
    int32_t count = 0;
    bool plain_seen = false;
    int32_t local = canonical_of(words::id::local), extern_ = canonical_of(words::id::extern_);
    series_buffer_t* s = alloc::buffer(spec);
    const cell_t* c = s->head_cell();
    for (int32_t i = 0; i < s->used() / 16; i++) {
        uint8_t t = type_of(&c[i]);
        if (t == TYPE_word) {
            plain_seen = true;
            count++;
        } else if (t == TYPE_lit_word || t == TYPE_get_word) {
            // The left argument is always evaluated: it must be a plain word.
            if (!plain_seen) return false;
            count++;
        } else if (t == TYPE_refinement) {
            int32_t r = symbol::resolve(word::symbol_of(&c[i]));
            if (r != local && r != extern_) return false;
            break;
        } else if (t == TYPE_set_word) {
            break;
        }
    }
    return count == 2;
}

cell_t* make(cell_t*, cell_t* spec, int32_t) {
    uint8_t t = type_of(spec);
    if (t != TYPE_action && t != TYPE_native && t != TYPE_function && t != TYPE_routine) {
        cell_t type;
        datatype::make_at(&type, t);
        fire(err::invalid_type, &type);
    }
    if (!check_spec(spec->data2)) fire(err::bad_op_spec);
    cell_t made = *spec;
    if (t == TYPE_function || t == TYPE_routine) *function::more(&made, function::MORE_OP) = made;
    made.header = (static_cast<uint32_t>(t) << WRAPPED_SHIFT) | TYPE_op;
    stack::set_last(&made);
    return stack::arguments;
}

int32_t form(cell_t*, cell_t* buffer, bool, int32_t limit) { return emit(buffer, "?op?", limit); }

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    cell_t v = *value;
    bool is_function = wrapped_type(&v) == TYPE_function;
    how.limit = emit(buffer, "make op! ", how.limit);
    how.limit = emit(buffer, is_function ? "func " : "[", how.limit);
    cell_t spec;
    block::init_value(&spec, TYPE_block, v.data2);
    cell_t anon = words::word(words::id::tag_anon);
    stack::mark_native(&anon);
    how.limit = block::mold(&spec, buffer, how.inner());
    stack::revert();
    if (!is_function) return emit(buffer, "]", how.limit);
    cell_t body = *function::more(&v, function::MORE_BODY);
    if (type_of(&body) != TYPE_block) return emit(buffer, " none", how.limit);
    return block::mold(&body, buffer, how.inner());
}

void init() {
    datatype::record_t r(TYPE_op, TYPE_native, "op!");
    r.own<ACT_make>(make);
    r.inherit({ACT_reflect});
    r.own<ACT_compare>(native::compare);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::op
