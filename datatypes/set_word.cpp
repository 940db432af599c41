#include "datatypes/set_word.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zuv::set_word {

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    int32_t rest = word::form(value, buffer, how.part, how.limit);
    string::concatenate_literal(buffer, ":");
    return rest - 1;
}

void init() {
    datatype::record_t r(TYPE_set_word, TYPE_word, "set-word!");
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_to, ACT_form, ACT_compare, ACT_index_q});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::set_word
