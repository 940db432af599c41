#include "datatypes/lit_word.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zuv::lit_word {

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    string::concatenate_literal(buffer, "'");
    return word::form(value, buffer, how.part, how.limit - 1);
}

void init() {
    datatype::record_t r(TYPE_lit_word, TYPE_word, "lit-word!");
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_to, ACT_form, ACT_compare, ACT_index_q});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::lit_word
