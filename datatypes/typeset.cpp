#include "datatypes/typeset.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::typeset {

namespace {

inline cell_t fresh() { return cell_t{TYPE_typeset, 0, 0, 0}; }

// Appends a cell at the block's tail and writes the typeset there.
cell_t* append(cell_t* block, const cell_t& t) {
    cell_t* c = alloc::alloc_tail_value(block);
    c->data1 = t.data1;
    c->data2 = t.data2;
    c->data3 = t.data3;
    c->header = TYPE_typeset;
    return c;
}

void merge(cell_t* t, const cell_t* value) {
    t->data1 |= value->data1;
    t->data2 |= value->data2;
    t->data3 |= value->data3;
}

}  // namespace

int32_t count(const cell_t* t) {
    int32_t n = 0;
    for (int32_t id = 1; id <= datatype::top_id && id < 96; id++) n += has_q(t, id);
    return n;
}

cell_t* make_in(cell_t* block, uint32_t word1, uint32_t word2, uint32_t word3) {
    return append(block, cell_t{TYPE_typeset, word1, word2, word3});
}

cell_t* make_default_in(cell_t* block) {
    cell_t t{TYPE_typeset, ~0u, ~0u, ~0u};
    bytes(&t)[0] &= static_cast<uint8_t>(~(0x80 >> TYPE_unset));
    return append(block, t);
}

void add(cell_t* t, cell_t* value) {
    cell_t v = *value;
    if (type_of(&v) == TYPE_word) {
        v = *word::get(&v);
        stack::pop(1);
    }
    if (type_of(&v) == TYPE_typeset) merge(t, &v);
    else if (type_of(&v) == TYPE_datatype) set_bit(t, static_cast<int32_t>(v.data1));
    else fire(err::invalid_arg, &v);
}

cell_t* make_in_from_block(cell_t* block, cell_t* spec) {
    cell_t t = fresh();
    cell_t s = *spec;
    for (int32_t i = std::max(0, block::head_index(&s)); i < block::abs_length(&s); i++) {
        cell_t own = *block::rs_abs_at(&s, i);
        cell_t v = own;
        if (type_of(&v) == TYPE_word) {
            v = *word::get(&v);
            stack::pop(1);
        }
        switch (type_of(&v)) {
        case TYPE_datatype: set_bit(&t, static_cast<int32_t>(v.data1)); break;
        case TYPE_typeset: merge(&t, &v); break;
        case TYPE_word: set_bit(&t, TYPE_object); break;
        case TYPE_block: break;
        default: fire(err::invalid_type_spec, &own);
        }
    }
    return append(block, t);
}

cell_t* to_block(const cell_t* t, cell_t* result) {
    cell_t bits = *t;
    block::make_at(result, 4);
    for (int32_t id = 1; id <= datatype::top_id && id < 96; id++)
        if (has_q(&bits, id)) block::rs_append(result, &datatype::name_table[id].word);
    return result;
}

cell_t* make(cell_t*, cell_t* spec, int32_t) {
    if (type_of(spec) == TYPE_typeset) return spec;
    if (type_of(spec) != TYPE_block) {
        cell_t dt{TYPE_datatype, TYPE_typeset, 0, 0};
        fire(err::bad_to_arg, &dt, spec);
    }
    cell_t s = *spec;
    cell_t* t = stack::push(&s);  // keeps the spec rooted while words are read
    *t = fresh();
    // Read by index at every step: a word's lookup may run code that
    // changes the block.
    for (int32_t i = std::max(0, block::head_index(&s)); i < block::abs_length(&s); i++) {
        cell_t v = *block::rs_abs_at(&s, i);
        add(t, &v);
    }
    cell_t r = *t;
    stack::pop(1);
    *stack::arguments = r;
    return stack::arguments;
}

namespace {

int32_t write(cell_t* value, cell_t* buffer, bool only, bool part, int32_t limit) {
    cell_t t = *value;
    if (!only) {
        string::concatenate_literal(buffer, "make typeset! [");
        limit -= 15;
    }
    bool written = false;
    for (int32_t id = 1; id <= datatype::top_id && id < 96; id++) {
        if (!has_q(&t, id)) continue;
        if (part && limit < 0) return limit;
        string::concatenate_literal(buffer, datatype::name_of(id));
        string::append_char(buffer, ' ');
        limit -= datatype::name_length(id) + 2;
        written = true;
    }
    if (written) {
        string::remove_char(buffer, string::rs_abs_length_q(buffer) - 1);
        limit++;
    }
    if (!only) {
        string::append_char(buffer, ']');
        limit -= written ? 0 : 1;
    }
    return limit;
}

}  // namespace

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    return write(value, buffer, true, part, limit);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return write(value, buffer, how.only, how.part, how.limit);
}

int32_t compare(cell_t* value1, cell_t* value2, int32_t op) {
    if (type_of(value2) != TYPE_typeset) return -2;
    switch (op) {
    case 0:
    case 1:
    case 2:
    case 9:
    case 12:
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 &&
                       value1->data3 == value2->data3
                   ? 0
                   : 1;
    case 7:
    case 8: {
        int32_t a = count(value1), b = count(value2);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default: return -2;
    }
}

void do_bitwise(int32_t op) {
    cell_t* args = stack::arguments;
    if (op == 8) return;  // unique: the set itself
    cell_t v1 = args[0], v2 = args[1];
    if (type_of(&v2) != TYPE_typeset && type_of(&v2) != TYPE_datatype)
        fire(err::invalid_arg, &args[1]);
    cell_t r = fresh();
    if (type_of(&v2) == TYPE_datatype) {
        set_bit(&r, static_cast<int32_t>(v2.data1));
        v2 = r;
    }
    switch (op) {
    case 5:
    case 9:
        r = cell_t{TYPE_typeset, v1.data1 | v2.data1, v1.data2 | v2.data2, v1.data3 | v2.data3};
        break;
    case 6:
    case 10:
        r = cell_t{TYPE_typeset, v1.data1 & v2.data1, v1.data2 & v2.data2, v1.data3 & v2.data3};
        break;
    case 7:
    case 12:
        r = cell_t{TYPE_typeset, v1.data1 ^ v2.data1, v1.data2 ^ v2.data2, v1.data3 ^ v2.data3};
        break;
    case 11:
        r = cell_t{TYPE_typeset, v1.data1 & ~v2.data1, v1.data2 & ~v2.data2, v1.data3 & ~v2.data3};
        break;
    default: break;
    }
    *stack::arguments = r;
}

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

cell_t* complement(cell_t* value) {
    cell_t t{TYPE_typeset, ~value->data1, ~value->data2, ~value->data3};
    return stack::push(&t);
}

cell_t* find(cell_t* series, cell_t* value, const find_options_t&) {
    if (type_of(value) != TYPE_datatype) fire(err::invalid_arg, value);
    bool in = has_q(series, static_cast<int32_t>(value->data1));
    *stack::arguments = cell_t{TYPE_logic, in ? 1u : 0u, 0, 0};
    return stack::arguments;
}

void init() {
    datatype::record_t r(TYPE_typeset, 0, "typeset!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(make);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_compare>(compare);
    r.own<ACT_and_t>(and_t);
    r.own<ACT_complement>(complement);
    r.own<ACT_or_t>(or_t);
    r.own<ACT_xor_t>(xor_t);
    r.own<ACT_find>(find);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::typeset
