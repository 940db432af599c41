#include "datatypes/triple.h"

#include <cstdio>

#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace zuv::triple {

int32_t form(cell_t* value, cell_t* buffer, bool, int32_t limit) {
    char text[64];
    int n =
        snprintf(text, sizeof text, "make triple! [%d %d %d]", static_cast<int32_t>(value->data1),
                 static_cast<int32_t>(value->data2), static_cast<int32_t>(value->data3));
    string::append_bytes(buffer, text, n);
    return limit - n;
}

int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how) {
    return form(value, buffer, how.part, how.limit);
}

void init() {
    datatype::record_t r(TYPE_triple, 0, "triple!");
    r.own<ACT_form>(form);
    r.own<ACT_mold>(mold);
    datatype::register_type(datatype::RECORD_COUNT, r);
}

}  // namespace zuv::triple
