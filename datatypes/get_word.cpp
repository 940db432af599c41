#include "datatypes/get_word.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zuv::get_word {

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    string::concatenate_literal(buffer, ":");
    return word::form(value, buffer, how.part, how.limit - 1);
}

void init() {
    datatype::record_t r(TYPE_get_word, TYPE_word, "get-word!");
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_to, ACT_form, ACT_compare, ACT_index_q});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::get_word
