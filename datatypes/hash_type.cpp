#include "datatypes/hash_type.h"

#include <algorithm>
#include <cmath>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace zuv::hash_type {

namespace {

inline int32_t abs_length(const cell_t* value) { return alloc::buffer(value->data2)->used() >> 4; }

// The block row's entry of an action, for the entries hash! runs the block's
// version of before fixing its index.
template <int N> typename action_signature<N>::fn block_entry(const cell_t* value) {
    return reinterpret_cast<typename action_signature<N>::fn>(
        actions::get_action(TYPE_block, value, N));
}

}  // namespace

cell_t* index_block(cell_t* cell, int32_t size) {
    collector::root_node keep(cell->data2);
    // Every value from the buffer's start is indexed, whatever the head.
    cell_t whole{TYPE_block, 0, cell->data2, 0};
    node_t table = hashtable::init(std::max(size, 1), &whole, hashtable::KIND_HASH, 0);
    cell->data3 = table;
    cell::set_type(cell, TYPE_hash);
    return cell;
}

void cells_added(const cell_t* value, int32_t at, int32_t count) {
    node_t table = table_of(value);
    int32_t total = abs_length(value);
    if (at + count != total) {
        reindex(value);
        return;
    }
    node_t block = value->data2;
    for (int32_t p = at; p < total; p++) {
        int status = 0;
        hashtable::put_with_status(table, alloc::buffer(block)->head_cell() + p, &status);
        if (status == hashtable::STATUS_REBUILT) return;  // the rebuild entered every cell
    }
}

void cells_replaced(const cell_t* value, int32_t at, int32_t count) {
    node_t table = table_of(value);
    node_t block = value->data2;
    int32_t total = abs_length(value);
    for (int32_t p = at; p < at + count && p < total; p++) {
        hashtable::delete_(table, alloc::buffer(block)->head_cell() + p);
        int status = 0;
        hashtable::put_with_status(table, alloc::buffer(block)->head_cell() + p, &status);
        if (status == hashtable::STATUS_REBUILT) return;
    }
}

void reindex(const cell_t* value) {
    hashtable::rebuild(table_of(value), std::max(abs_length(value), 1));
}

// --- make and to ---------------------------------------------------------------------------

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    cell_t* result = stack::arguments;
    switch (type_of(spec)) {
    case TYPE_integer:
    case TYPE_float_: {
        int32_t size;
        if (type_of(spec) == TYPE_integer) {
            size = integer::get(spec);
        } else {
            double d = float_::get(spec);
            if (!std::isfinite(d) || d >= 2147483648.0 || d <= -2147483649.0)
                fire(err::out_of_range, spec);
            size = static_cast<int32_t>(d);
        }
        size = std::max(size, 1);
        cell_t b;
        block::make_at(&b, size);
        index_block(&b, size);
        *result = b;
        return result;
    }
    case TYPE_block: {
        cell_t source = *spec;
        cell_t b;
        block::copy(&source, &b, nullptr, false, nullptr);
        cell::set_type(&b, TYPE_block);
        index_block(&b, abs_length(&b));
        *result = b;
        return result;
    }
    case TYPE_hash: {
        cell_t source = *spec;
        return copy(&source, result, nullptr, false, nullptr);
    }
    default: return to(proto, spec, type);
    }
}

cell_t* to(cell_t* proto, cell_t* spec, int32_t) {
    if (type_of(spec) == TYPE_hash) {
        cell_t source = *spec;
        return copy(&source, stack::arguments, nullptr, false, nullptr);
    }
    cell_t* b = block::to(proto, spec, TYPE_block);
    cell_t v = *b;
    cell::set_type(&v, TYPE_block);
    v.data3 = 0;
    index_block(&v, abs_length(&v));
    *stack::arguments = v;
    return stack::arguments;
}

// --- mold and copy ------------------------------------------------------------------------------

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    if (!how.only) {
        string::concatenate_literal(buffer, "make hash! ");
        how.limit -= 11;
    }
    return block::mold_delimited(value, buffer, "[", "]", how);
}

cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types) {
    cell_t source = *value;
    cell_t b = source;
    cell::set_type(&b, TYPE_block);
    b.data3 = 0;
    cell_t copied;
    block::copy(&b, &copied, part, deep, types);
    cell_t c = copied;
    c.data3 = 0;
    cell::set_type(&c, TYPE_block);
    if (block::head_index(&source) == 0 && !part && !deep && !types && source.data3 != 0) {
        collector::root_node keep(c.data2);
        c.data3 = hashtable::copy(source.data3, c.data2);
        cell::set_type(&c, TYPE_hash);
    } else {
        index_block(&c, abs_length(&c));
    }
    *result = c;
    return result;
}

// --- sort and trim -----------------------------------------------------------------------------

cell_t* sort(cell_t* series, bool case_, cell_t* skip, cell_t* comparator, cell_t* part, bool all,
             bool reverse, bool stable) {
    cell_t self = *series;
    block_entry<ACT_sort> (&self)(&self, case_, skip, comparator, part, all, reverse, stable);
    reindex(&self);
    *stack::arguments = self;
    return stack::arguments;
}

cell_t* trim(cell_t* series, bool head, bool tail, bool auto_, bool lines, bool all, cell_t* with) {
    cell_t self = *series;
    block_entry<ACT_trim> (&self)(&self, head, tail, auto_, lines, all, with);
    reindex(&self);
    *stack::arguments = self;
    return stack::arguments;
}

void init() {
    datatype::record_t r(TYPE_hash, TYPE_block, "hash!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(to);
    r.own<ACT_mold>(mold);
    r.own<ACT_copy>(copy);
    r.own<ACT_sort>(sort);
    r.own<ACT_trim>(trim);
    r.inherit({ACT_reflect, ACT_form, ACT_eval_path, ACT_compare, ACT_modify});
    r.inherit_range(ACT_append, ACT_clear);
    r.inherit_range(ACT_find, ACT_select);
    r.inherit_range(ACT_skip, ACT_take);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::hash_type
