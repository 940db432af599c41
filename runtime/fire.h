// Raising language errors.
//
// Runtime code never returns an error code to its caller: it names the error
// by its catalog id and calls fire, which does not return. fire builds the
// error value (datatypes/error.h) and throws it (runtime/exits.h): the frames
// are unwound to the nearest try frame, the error value is pushed on the
// argument stack, and raised_error, which carries only the id, unwinds the
// C++ stack to the code that owns that frame.
//
// Before the error catalog exists (early start-up, bare unit tests) fire
// throws raised_error alone.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv {

// Categories in catalog order; the position is the category index.
enum class err_cat : uint8_t {
    throw_,
    note,
    syntax,
    script,
    math,
    access,
    reserved1,
    reserved2,
    user,
    internal
};

enum class err : uint16_t {
#define ZUV_ERROR(cat, ident, word, text) ident,
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
// id; the error value is the last pushed cell of the argument stack.
struct raised_error {
    err id;
};

// The interpreter's trace hook: while tracing it points here, and fire calls
// it with the error value before throwing (with no exit pending meanwhile).
using fire_event_t = void (*)(cell_t* error);
extern fire_event_t fire_event;

[[noreturn]] void fire(err id, const cell_t* arg1 = nullptr, const cell_t* arg2 = nullptr,
                       const cell_t* arg3 = nullptr);
// The same for a fault found in source text rather than in code under
// evaluation: the error's near is the given value (the text at the fault),
// not the interpreter's position.
[[noreturn]] void fire_near(const cell_t* near, err id, const cell_t* arg1 = nullptr,
                            const cell_t* arg2 = nullptr, const cell_t* arg3 = nullptr);

}  // namespace zuv
