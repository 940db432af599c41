#include "datatypes/path.h"

#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/cycles.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::path {

cell_t* make_at(cell_t* cell, int32_t capacity) {
    block::make_at(cell, capacity);
    cell->header = TYPE_path;
    return cell;
}

cell_t* push(cell_t* cell) {
    cell->header = TYPE_path;
    return stack::push(cell);
}

cell_t* make(cell_t* proto, cell_t* spec, int32_t type) {
    uint8_t t = type_of(spec);
    if (t == TYPE_integer || t == TYPE_float_ || t == TYPE_percent) {
        double n = t == TYPE_integer ? static_cast<int32_t>(spec->data2) : cell::get_float(spec);
        int32_t capacity = !(n >= 1)               ? 1
                           : n >= block::MAX_CELLS ? static_cast<int32_t>(block::MAX_CELLS)
                                                   : static_cast<int32_t>(n);
        cell_t r = *block::push_only_star(capacity);
        stack::pop(1);
        r.header = static_cast<uint32_t>(type);
        *stack::arguments = r;
        return stack::arguments;
    }
    if (series::block_kind_q(t)) return block::make(proto, spec, type);
    cell_t dt{TYPE_datatype, static_cast<uint32_t>(type), 0, 0};
    fire(err::bad_make_arg, &dt, spec);
}

cell_t* to(cell_t* proto, cell_t* spec, int32_t type) {
    uint8_t t = type_of(spec);
    if (t == TYPE_map || t == TYPE_object || t == TYPE_typeset) {
        cell_t v = *spec;
        cell_t r = *block::push_only_star(1);
        block::rs_append(&r, &v);
        stack::pop(1);
        r.header = static_cast<uint32_t>(type);
        *stack::arguments = r;
        return stack::arguments;
    }
    return block::to(proto, spec, type);
}

int32_t write(cell_t* value, cell_t* buffer, bool mold, const char* prefix, const char* suffix,
              mold_options_t how) {
    if (cycles::detect_q(value, buffer, &how.limit, mold)) return how.limit;
    if (*prefix) {
        string::concatenate_literal(buffer, prefix);
        how.limit -= static_cast<int32_t>(std::strlen(prefix));
    }
    cell_t self = *value;
    {
        cycles::guard inside(self.data2);
        for (int32_t i = std::max(0, block::head_index(&self)); i < block::abs_length(&self); i++) {
            cell_t c = *block::rs_abs_at(&self, i);
            how.limit =
                mold ? actions::mold(
                           &c, buffer,
                           {.all = how.all, .flat = how.flat, .part = how.part, .limit = how.limit})
                     : actions::form(&c, buffer, how.part, how.limit);
            if (how.part && how.limit < 1) return how.limit;
            if (i + 1 < block::abs_length(&self)) {
                string::append_char(buffer, '/');
                how.limit--;
            }
        }
    }
    if (*suffix) {
        string::concatenate_literal(buffer, suffix);
        how.limit -= static_cast<int32_t>(std::strlen(suffix));
    }
    return how.limit;
}

int32_t form(cell_t* value, cell_t* buffer, bool part, int32_t limit) {
    return write(value, buffer, false, "", "", {.part = part, .limit = limit});
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return write(value, buffer, true, "", "", how);
}

cell_t* copy(cell_t* value, cell_t* result, cell_t* part, bool deep, cell_t* types) {
    return block::copy(value, result, part, deep, types);
}

void init() {
    datatype::record_t r(TYPE_path, TYPE_block, "path!");
    r.own<ACT_make>(make);
    r.own<ACT_to>(to);
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    r.own<ACT_copy>(copy);
    r.inherit({3, 7, 9, 55});
    r.inherit_range(25, 29);
    r.inherit_range(31, 44);
    r.inherit_range(46, 50);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::path
