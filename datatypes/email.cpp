#include "datatypes/email.h"
#include "datatypes/symbol.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::email {

cell_t* load_at(const uint8_t* utf8, int64_t count, cell_t* cell) {
    cell_t* c = string::load_at(utf8, count, cell, string::ENCODING_UTF8);
    cell::set_type(c, TYPE_email);
    return c;
}

cell_t* load_in(const uint8_t* utf8, int64_t count, cell_t* block) {
    cell_t* c = string::load_in(utf8, count, block, string::ENCODING_UTF8);
    cell::set_type(c, TYPE_email);
    return c;
}

cell_t* push(const cell_t* value) {
    cell_t* c = stack::push(value);
    cell::set_type(c, TYPE_email);
    return c;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return string::form(value, buffer, how.part, how.limit);
}

namespace {

// Characters from the head to the first "@", or the whole length.
int32_t at_sign_offset(cell_t* value, bool* found) {
    int32_t head = static_cast<int32_t>(value->data1);
    int32_t length = string::rs_length_q(value);
    for (int32_t i = 0; i < length; i++) {
        if (string::rs_abs_at(value, head + i) == '@') {
            *found = true;
            return i;
        }
    }
    *found = false;
    return length;
}

}  // namespace

cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt) {
    uint8_t et = type_of(element);
    if (et == TYPE_integer) {
        auto fn = reinterpret_cast<action_fn::eval_path_t>(
            type_action_table[(TYPE_string << 8) + ACT_eval_path - 1]);
        return fn(parent, element, value, path, gparent, p_item, index, case_, get, tail, evt);
    }
    if (et != TYPE_word) fire(err::invalid_path, path, element);
    int32_t sym = symbol::resolve(word::symbol_of(element));
    bool user = sym == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::user)));
    bool host = sym == symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::host)));
    if (!user && !host) fire(err::invalid_path, path, element);

    cell_t self = *parent;
    bool found = false;
    int32_t p = at_sign_offset(&self, &found);
    int32_t length = string::rs_length_q(&self);
    int32_t head = static_cast<int32_t>(self.data1);
    if (!value) {
        int32_t start = user ? head : head + p + 1;
        int32_t count = user ? p : (found ? length - p - 1 : 0);
        cell_t* result = stack::arguments;
        cell::begin(result);
        result->data1 = 0;
        result->data2 = alloc::copy_string_part(self.data2, start, count);
        result->data3 = 0;
        result->header = TYPE_string;
        return result;
    }
    cell_t new_value = *value;
    cell_t at = self;
    int32_t part = p;
    if (host) {
        // Without "@" the host would run into the user: one is added first.
        if (!found) {
            string::append_char(&self, '@');
            length++;
        }
        at.data1 = static_cast<uint32_t>(head + p + 1);
        part = length - p - 1;
    }
    string::change(&at, &new_value, part, false, 1);
    *stack::arguments = new_value;
    return stack::arguments;
}

void init() {
    datatype::record_t r(TYPE_email, TYPE_string, "email!");
    r.own<ACT_mold>(mold);
    r.own<ACT_eval_path>(eval_path);
    r.inherit({ACT_make, ACT_reflect, ACT_to, ACT_form, ACT_compare, ACT_modify});
    r.inherit_range(ACT_append, ACT_select);
    r.inherit_range(ACT_skip, ACT_take);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::email
