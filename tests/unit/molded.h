// The one way the unit tests mold a value to text: through the mold action,
// into a fresh string, read back as UTF-8. The value is copied and both
// cells are rooted first, so a collection while molding moves neither.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/string.h"
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/unicode.h"

namespace zuv::test {

struct molded_options_t {
    bool only = false;
    bool all = false;
    bool flat = false;
    int32_t limit = -1;  // -1: the whole value (no /part)
    int32_t indent = 0;
    int32_t* left = nullptr;  // when given: what the action returned
};

inline std::string molded(const cell_t* v, const molded_options_t& how = {}) {
    cell_t copy = *v, out;
    collector::root_cell keep_copy(&copy);
    string::make_at(&out, 64);
    collector::root_cell keep_out(&out);
    int32_t left = actions::mold(&copy, &out,
                                 {.only = how.only,
                                  .all = how.all,
                                  .flat = how.flat,
                                  .part = how.limit >= 0,
                                  .limit = how.limit,
                                  .indent = how.indent});
    if (how.left) *how.left = left;
    return unicode::to_utf8(&out);
}

}  // namespace zuv::test
