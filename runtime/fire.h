// Raising language errors.
//
// Runtime code never returns an error code to its caller: it names the error
// by its catalog id and calls fire, which does not return. The error travels
// to the nearest frame that catches it as a C++ exception; the error value
// itself stays rooted on the argument stack while it travels.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv {

// Categories in catalog order; the position is the category index.
enum class err_cat : uint8_t { throw_, note, syntax, script, math, access, reserved1, reserved2, user, internal };

enum class err : uint16_t {
#define ZUV_ERROR(cat, ident, word) ident,
#include "runtime/errors.def"
#undef ZUV_ERROR
};

struct err_info {
    err_cat category;
    uint8_t index;  // position among the category's ids
    const char* word;
};

namespace errors {

const err_info& info(err id);

// category index x 100 + id index
inline int code(err id) {
    const err_info& i = info(id);
    return static_cast<int>(i.category) * 100 + i.index;
}

}  // namespace errors

// What unwinds the C++ stack when an error is raised. It carries only the
// id; the error value, once errors are values, is on the argument stack.
struct raised_error {
    err id;
};

[[noreturn]] void fire(err id, const cell_t* arg1 = nullptr, const cell_t* arg2 = nullptr,
                       const cell_t* arg3 = nullptr);

}  // namespace zuv
