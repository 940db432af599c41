#include "datatypes/refinement.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"

namespace zuv::refinement {

cell_t* load_in(const char* text) {
    cell_t w;
    word::make_raw(&w, TYPE_refinement, 0, symbol::make(text), -1);
    return block::rs_append(&block::root, &w);
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    string::concatenate_literal(buffer, "/");
    return word::form(value, buffer, how.part, how.limit - 1);
}

void init() {
    datatype::record_t r(TYPE_refinement, TYPE_word, "refinement!");
    r.own<ACT_mold>(mold);
    r.inherit({ACT_make, ACT_to, ACT_form, ACT_compare});
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::refinement
